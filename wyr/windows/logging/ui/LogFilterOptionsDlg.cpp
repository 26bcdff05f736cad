#include "wyr/windows/logging/ui/LogFilterOptionsDlg.h"

#include "wyr/windows/logging/ILogFilter.h"
#include "wyr/windows/logging/LogVerbosity.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace wyr::windows::logging {

LogFilterOptionsDlg::LogFilterOptionsDlg(ILogFilter* filter, QWidget* parent)
    : QDialog(parent), _filter(filter) {
    setObjectName(QStringLiteral("LogFilterOptionsDlg"));
    setWindowTitle(QStringLiteral("Log Filter Options"));

    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("Log Verbosity:"), this);
    _list = new QListWidget(this);
    _list->setObjectName(QStringLiteral("verbosityList"));
    label->setBuddy(_list);
    for (const auto& [value, verbosity] : LogVerbosity::registry()) {
        auto* item = new QListWidgetItem(QString::fromStdWString(verbosity->name()), _list);
        item->setData(Qt::UserRole, value);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    _list->setMinimumHeight(_list->sizeHintForRow(0) * (_list->count() + 1));
    layout->addWidget(label);
    layout->addWidget(_list);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    _update = new QPushButton(QStringLiteral("Update Verbosity"), this);
    _update->setObjectName(QStringLiteral("updateButton"));
    _ok = new QPushButton(QStringLiteral("OK"), this);
    _ok->setObjectName(QStringLiteral("okButton"));
    // With a filter nothing waits to be cancelled: the button only closes.
    auto* cancel =
        new QPushButton(filter != nullptr ? QStringLiteral("Close") : QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    buttons->addWidget(_update);
    buttons->addWidget(_ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    _update->setVisible(filter != nullptr);
    _ok->setVisible(filter == nullptr);
    (filter != nullptr ? _update : _ok)->setDefault(true);
    connect(_update, &QPushButton::clicked, this, &LogFilterOptionsDlg::updateVerbosity);
    connect(_ok, &QPushButton::clicked, this, &LogFilterOptionsDlg::keepAndClose);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    tick(_filter != nullptr ? _filter->getFilter() : _mask);
}

LogFilterOptionsDlg::~LogFilterOptionsDlg() = default;

void LogFilterOptionsDlg::setMask(std::uint16_t mask) {
    _mask = mask;
    if (_filter == nullptr) {
        tick(mask);
    }
}

void LogFilterOptionsDlg::tick(std::uint16_t mask) {
    for (int row = 0; row < _list->count(); ++row) {
        auto* item = _list->item(row);
        const auto value = static_cast<std::uint16_t>(item->data(Qt::UserRole).toInt());
        item->setCheckState((mask & value) != 0 ? Qt::Checked : Qt::Unchecked);
    }
}

std::uint16_t LogFilterOptionsDlg::tickedMask() const {
    std::uint16_t mask = 0;
    for (int row = 0; row < _list->count(); ++row) {
        const auto* item = _list->item(row);
        if (item->checkState() == Qt::Checked) {
            mask = static_cast<std::uint16_t>(mask | item->data(Qt::UserRole).toInt());
        }
    }
    return mask;
}

void LogFilterOptionsDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        tick(_filter != nullptr ? _filter->getFilter() : _mask);
    }
    QDialog::showEvent(event);
}

void LogFilterOptionsDlg::updateVerbosity() {
    if (_filter != nullptr) {
        _filter->setFilter(tickedMask());
    }
}

void LogFilterOptionsDlg::keepAndClose() {
    _mask = tickedMask();
    accept();
}

} // namespace wyr::windows::logging
