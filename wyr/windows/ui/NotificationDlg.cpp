#include "wyr/windows/ui/NotificationDlg.h"

#include <QLabel>
#include <QVBoxLayout>

namespace wyr::windows::ui {

NotificationDlg::NotificationDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("NotificationDlg"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    _text = new QLabel(this);
    _text->setObjectName(QStringLiteral("text"));
    _text->setTextFormat(Qt::PlainText);
    _text->setMinimumWidth(320);
    _text->setAlignment(Qt::AlignCenter);
    layout->addWidget(_text);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

NotificationDlg::~NotificationDlg() = default;

void NotificationDlg::setText(const QString& text) {
    _text->setText(text);
}

QString NotificationDlg::text() const {
    return _text->text();
}

} // namespace wyr::windows::ui
