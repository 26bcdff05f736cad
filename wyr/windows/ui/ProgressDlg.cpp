#include "wyr/windows/ui/ProgressDlg.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <algorithm>

namespace wyr::windows::ui {

ProgressDlg::ProgressDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("ProgressDlg"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    _text = new QLabel(this);
    _text->setObjectName(QStringLiteral("text"));
    _text->setTextFormat(Qt::PlainText);
    _text->setMinimumWidth(320);
    _bar = new QProgressBar(this);
    _bar->setObjectName(QStringLiteral("progress"));
    _bar->setRange(0, 100);
    _bar->setValue(0);
    _bar->setTextVisible(false);
    layout->addWidget(_text);
    layout->addWidget(_bar);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

ProgressDlg::~ProgressDlg() = default;

void ProgressDlg::setText(const QString& text) {
    _text->setText(text);
}

QString ProgressDlg::text() const {
    return _text->text();
}

void ProgressDlg::setRange(int minimum, int maximum) {
    _bar->setRange(minimum, std::max(minimum, maximum));
}

void ProgressDlg::setPos(int position) {
    _bar->setValue(std::clamp(position, _bar->minimum(), _bar->maximum()));
}

int ProgressDlg::pos() const {
    return _bar->value();
}

} // namespace wyr::windows::ui
