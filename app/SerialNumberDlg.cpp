#include "app/SerialNumberDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

namespace app {

SerialNumberDlg::SerialNumberDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Set Serial No"));
    setObjectName(QStringLiteral("SerialNumberDlg"));
    setModal(true);

    _entry = new QLineEdit(this);
    _entry->setObjectName(QStringLiteral("serialNumber"));
    _entry->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), _entry));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ok"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &SerialNumberDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(new QLabel(QStringLiteral("Serial Number:"), this), _entry);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    _entry->setFocus();
}

SerialNumberDlg::~SerialNumberDlg() = default;

void SerialNumberDlg::setText(const QString& text) {
    _entry->setText(text);
}

void SerialNumberDlg::accept() {
    const QString text = _entry->text();
    const bool digits = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    bool converted = false;
    // Digits too many for 64 bits do not convert: out of range as well.
    const qulonglong value = digits ? text.toULongLong(&converted) : 0;
    if (!digits || !converted || value > std::numeric_limits<std::uint16_t>::max()) {
        QMessageBox::warning(this, QStringLiteral("Orvane"),
                             QString::fromLatin1(digits ? kRangeMessage : kEmptyMessage));
        _entry->setFocus();
        _entry->selectAll();
        return;
    }
    _value = static_cast<std::uint16_t>(value);
    QDialog::accept();
}

} // namespace app
