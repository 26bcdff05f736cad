#include "app/OrvaneView.h"

#include "app/GainIndicatorCtrl.h"
#include "app/HistoryWnd.h"
#include "app/OrvaneOutputWnd.h"
#include "controls/DesktopAlertMgr.h"
#include "controls/LedCtrl.h"
#include "controls/SegmentDisplayCtrl.h"
#include "device/OrvaneInterface.h"
#include "device/SerialPortEnumerator.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/ui/NotificationDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace app {

using controls::LedCtrl;
using controls::SegmentDisplayCtrl;

namespace {

std::vector<device::SerialPortEntry> presentPorts() {
    std::vector<device::SerialPortEntry> ports;
    device::SerialPortEnumerator().enumeratePorts(ports);
    std::stable_sort(ports.begin(), ports.end(),
                     [](const auto& a, const auto& b) { return a.portNumber < b.portNumber; });
    // A kernel device may be listed under its link's number too; one item each.
    ports.erase(std::unique(ports.begin(), ports.end(),
                            [](const auto& a, const auto& b) { return a.portNumber == b.portNumber; }),
                ports.end());
    return ports;
}

SegmentDisplayCtrl::Look lookOf(device::VoltageSupervisor::Look look) {
    switch (look) {
    case device::VoltageSupervisor::Look::InRange:
        return SegmentDisplayCtrl::Look::InRange;
    case device::VoltageSupervisor::Look::Alarm:
        return SegmentDisplayCtrl::Look::Alarm;
    case device::VoltageSupervisor::Look::Idle:
        break;
    }
    return SegmentDisplayCtrl::Look::Idle;
}

QLabel* label(const QString& text, QWidget* parent) {
    auto* item = new QLabel(text, parent);
    item->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

} // namespace

OrvaneView::OrvaneView(device::OrvaneInterface& device, QWidget* parent)
    : QWidget(parent), _device(device), _supervisor(std::make_unique<device::DeviceSupervisor>(
                                            device, wyr::windows::config::ConfigMgr::instance(), *this)) {
    setObjectName(QStringLiteral("OrvaneView"));
    build();
}

OrvaneView::~OrvaneView() {
    // No notification may reach a half-destroyed view.
    _supervisor.reset();
    delete _notification;
}

void OrvaneView::build() {
    _output = new OrvaneOutputWnd(this);
    _output->setObjectName(QStringLiteral("outputWnd"));
    _history = new HistoryWnd(this);
    _history->attach(_device);
    _history->setObjectName(QStringLiteral("historyWnd"));
    _gainIndicator = new GainIndicatorCtrl(this);
    _gainIndicator->setObjectName(QStringLiteral("gainIndicator"));
    _gainIndicator->setFixedSize(96, 96);

    _autoConnect = new QToolButton(this);
    _autoConnect->setObjectName(QStringLiteral("autoConnect"));
    _autoConnect->setText(QStringLiteral("Auto Connect"));
    _autoConnect->setPopupMode(QToolButton::MenuButtonPopup);
    _autoConnect->setToolButtonStyle(Qt::ToolButtonTextOnly);
    _autoConnect->setMinimumWidth(120);
    _portMenu = new QMenu(_autoConnect);
    _portMenu->setObjectName(QStringLiteral("portMenu"));
    _autoConnect->setMenu(_portMenu);
    connect(_autoConnect, &QToolButton::clicked, this, &OrvaneView::autoConnect);

    _disconnect = new QPushButton(QStringLiteral("Disconnect"), this);
    _disconnect->setObjectName(QStringLiteral("disconnect"));
    _disconnect->setEnabled(false);
    connect(_disconnect, &QPushButton::clicked, this, &OrvaneView::disconnectDevice);

    _gainDown = new QPushButton(QStringLiteral("˅"), this);
    _gainDown->setObjectName(QStringLiteral("gainDown"));
    _gainDown->setAccessibleName(QStringLiteral("Gain down"));
    _gainDown->setEnabled(false);
    _gainDown->setFixedWidth(32);
    connect(_gainDown, &QPushButton::clicked, this, &OrvaneView::gainDown);
    _gainUp = new QPushButton(QStringLiteral("˄"), this);
    _gainUp->setObjectName(QStringLiteral("gainUp"));
    _gainUp->setAccessibleName(QStringLiteral("Gain up"));
    _gainUp->setEnabled(false);
    _gainUp->setFixedWidth(32);
    connect(_gainUp, &QPushButton::clicked, this, &OrvaneView::gainUp);
    // The arrowheads are small in most fonts.
    for (QPushButton* button : {_gainDown, _gainUp}) {
        QFont font = button->font();
        font.setPointSizeF(font.pointSizeF() * 1.6);
        font.setBold(true);
        button->setFont(font);
    }
    _decibels = new QLabel(QString::fromWCharArray(device::DeviceSupervisor::IdleText), this);
    _decibels->setObjectName(QStringLiteral("decibels"));
    _decibels->setAccessibleName(QStringLiteral("Gain in dB"));
    _decibels->setAlignment(Qt::AlignCenter);
    _decibels->setMinimumWidth(_decibels->fontMetrics().horizontalAdvance(QStringLiteral("000.0 dB")));

    _deviceLed = new LedCtrl(LedCtrl::Kind::Device, this);
    _deviceLed->setObjectName(QStringLiteral("deviceLed"));
    _deviceLed->setAccessibleName(QStringLiteral("ORVANE State"));
    _antennaLed = new LedCtrl(LedCtrl::Kind::Antenna, this);
    _antennaLed->setObjectName(QStringLiteral("antennaLed"));
    _antennaLed->setAccessibleName(QStringLiteral("Antenna State"));
    _voltage = new SegmentDisplayCtrl(this);
    _voltage->setObjectName(QStringLiteral("voltage"));
    _voltage->setAccessibleName(QStringLiteral("Input Voltage"));
    _voltage->setText(QString::fromWCharArray(device::VoltageSupervisor::IdleText));

    auto* connection = new QVBoxLayout;
    connection->addWidget(_autoConnect);
    connection->addWidget(_disconnect);
    connection->addStretch();

    auto* state = new QGridLayout;
    state->addWidget(label(QStringLiteral("ORVANE State:"), this), 0, 0);
    state->addWidget(_deviceLed, 0, 1, Qt::AlignLeft);
    state->addWidget(label(QStringLiteral("Antenna State:"), this), 1, 0);
    state->addWidget(_antennaLed, 1, 1, Qt::AlignLeft);
    state->addWidget(label(QStringLiteral("Input Voltage:"), this), 2, 0);
    state->addWidget(_voltage, 2, 1, Qt::AlignLeft);

    auto* steps = new QHBoxLayout;
    steps->addWidget(_gainDown);
    steps->addWidget(_decibels);
    steps->addWidget(_gainUp);
    auto* gain = new QVBoxLayout;
    gain->addWidget(_gainIndicator, 0, Qt::AlignHCenter);
    gain->addLayout(steps);

    auto* controlsRow = new QHBoxLayout;
    controlsRow->addLayout(connection);
    controlsRow->addSpacing(24);
    controlsRow->addLayout(state);
    controlsRow->addStretch();
    controlsRow->addLayout(gain);

    // The live output grows with the view; the history pane may be resized.
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(_output);
    auto* lower = new QWidget(split);
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->addLayout(controlsRow);
    lowerLayout->addWidget(_history, 1);
    split->addWidget(lower);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    split->setChildrenCollapsible(false);
    _output->setMinimumHeight(120);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(split);
}

void OrvaneView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!_shownOnce) {
        _shownOnce = true;
        rebuildPortMenu();
    }
}

// ---- Commands ------------------------------------------------------------

void OrvaneView::autoConnect() {
    if (!_autoConnect->isEnabled()) {
        return;
    }
    _supervisor->startScan(presentPorts());
}

void OrvaneView::scanPort(int port) {
    _supervisor->scanPort(port);
}

void OrvaneView::disconnectDevice() {
    _supervisor->disconnect();
}

void OrvaneView::resetDevice() {
    _supervisor->resetDevice();
}

void OrvaneView::gainDown() {
    _supervisor->gainDown();
}

void OrvaneView::gainUp() {
    _supervisor->gainUp();
}

void OrvaneView::resetView() {
    // Handing the port to the bootloader dropped every device subscriber.
    _history->attach(_device);
    _supervisor->resetView();
    enableAutoConnect(!_device.isOpen());
    enableDisconnect(_device.isOpen());
    enableGainButtons(false, false);
}

bool OrvaneView::autoConnectEnabled() const {
    return _autoConnect->isEnabled();
}

void OrvaneView::rebuildPortMenu() {
    _portMenu->clear();
    int id = kFirstPortCommand;
    for (const auto& port : presentPorts()) {
        if (id >= kFirstPortCommand + kMaxPortItems) {
            break;
        }
        QAction* item = _portMenu->addAction(QStringLiteral("COM%1").arg(port.portNumber));
        item->setData(id++);
        if (!port.description.empty()) {
            item->setToolTip(QString::fromStdWString(port.description));
        }
        connect(item, &QAction::triggered, this, [this, item] {
            // The port is the number after "COM" in the item's text.
            bool ok = false;
            const int number = item->text().mid(3).toInt(&ok);
            if (ok) {
                scanPort(number);
            }
        });
    }
    QAction* rescan = _portMenu->addAction(QStringLiteral("Rescan"));
    rescan->setObjectName(QStringLiteral("rescan"));
    rescan->setData(kRescanCommand);
    connect(rescan, &QAction::triggered, this, &OrvaneView::rebuildPortMenu);
}

// ---- What the supervisor shows -------------------------------------------

void OrvaneView::clearDisplays() {
    _output->clear();
    _history->clear();
}

void OrvaneView::showNotification(const std::wstring& text) {
    if (_notification == nullptr) {
        _notification = new wyr::windows::ui::NotificationDlg(this);
        _notification->setWindowTitle(QStringLiteral("Orvane"));
    }
    _notification->setText(QString::fromStdWString(text));
    _notification->show();
}

void OrvaneView::closeNotification() {
    delete _notification;
    _notification = nullptr;
}

void OrvaneView::showError(const std::wstring& text) {
    QMessageBox::critical(this, QStringLiteral("Orvane"), QString::fromStdWString(text));
}

void OrvaneView::showAlert(AlertIcon icon, const std::wstring& text) {
    controls::DesktopAlertMgr::instance().show(QString::fromStdWString(text),
                                               icon == AlertIcon::Information
                                                   ? controls::DesktopAlert::Icon::Information
                                                   : controls::DesktopAlert::Icon::Warning);
}

void OrvaneView::enableAutoConnect(bool enabled) {
    _autoConnect->setEnabled(enabled);
    // Connect follows the button.
    Q_EMIT refreshed();
}

void OrvaneView::enableDisconnect(bool enabled) {
    _disconnect->setEnabled(enabled);
}

void OrvaneView::enableGainButtons(bool down, bool up) {
    _gainDown->setEnabled(down);
    _gainUp->setEnabled(up);
}

void OrvaneView::connected(std::int32_t /*port*/) {
    _output->subscribe(_device);
    enableDisconnect(_device.isOpen());
    Q_EMIT refreshed();
}

void OrvaneView::showDeviceLed(int state) {
    _deviceLed->setState(state);
}

void OrvaneView::showAntennaLed(int state) {
    _antennaLed->setState(state);
}

void OrvaneView::showVoltage(const std::wstring& text) {
    _voltage->setText(QString::fromStdWString(text));
}

void OrvaneView::showVoltageLook(device::VoltageSupervisor::Look look) {
    _voltage->setLook(lookOf(look));
}

void OrvaneView::showGain(std::int32_t gain) {
    _gainIndicator->update(gain);
}

void OrvaneView::refresh() {
    Q_EMIT refreshed();
}

void OrvaneView::showDecibels(const std::wstring& text) {
    _decibels->setText(QString::fromStdWString(text));
}

} // namespace app
