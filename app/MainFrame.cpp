#include "app/MainFrame.h"

#include "app/DebugDlg.h"
#include "app/FailureDialogs.h"
#include "app/FirmwareUpdateDlg.h"
#include "app/OrvaneView.h"
#include "app/SerialSettingsDlg.h"
#include "bootloader/BootloaderImpl.h"
#include "bootloader/BootloaderPort.h"
#include "device/DisconnectType.h"
#include "device/OrvaneInterface.h"
#include "device/OrvaneNotificationType.h"
#include "device/SerialPortEnumerator.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/logging/ui/LogConsoleWnd.h"
#include "wyr/windows/logging/ui/LogFilterOptionsDlg.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/ui/TaskDialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>

namespace app {

using wyr::windows::logging::log;
using wyr::windows::logging::LogConsoleWnd;
using wyr::windows::logging::LogFilterOptionsDlg;
using wyr::windows::logging::LogVerbosity;
using wyr::windows::logging::trace;
using wyr::windows::ui::TaskDialog;

namespace {

// A close waits this long for the device's disconnection at most.
constexpr int kCloseWaitMs = 5000;

} // namespace

MainFrame::MainFrame(device::OrvaneInterface& device, Context context, QWidget* parent)
    : QMainWindow(parent), _device(device), _context(std::move(context)), _placement(L"Window size") {
    trace("MainFrame::LoadFrame");
    setObjectName(QStringLiteral("MainFrame"));
    // "-showlog" opens the console before the frame's own window exists.
    if (_context.admin && _context.showLog) {
        toggleConsole();
    }

    setWindowTitle(QStringLiteral("Tolvek - Orvane"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/app/icons/orvane-64.png"));
    icon.addFile(QStringLiteral(":/app/icons/orvane-128.png"));
    setWindowIcon(icon);

    _frameRatePane = new QLabel(QStringLiteral("---"), this);
    _frameRatePane->setObjectName(QStringLiteral("frameRatePane"));
    _frameRatePane->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    _frameRatePane->setMinimumWidth(
        _frameRatePane->fontMetrics().horizontalAdvance(QLatin1String(kFrameRateTemplate)) + 12);
    statusBar()->addPermanentWidget(_frameRatePane);
    statusBar()->showMessage(QStringLiteral("Ready"));

    _view = new OrvaneView(_device, this);
    setCentralWidget(_view);
    buildMenus();

    // The commands follow the device as the view shows it, and menus update as
    // they open; no polling, which would trace the link's state into every log.
    connect(_view, &OrvaneView::refreshed, this, &MainFrame::updateCommands);
    updateCommands();
}

MainFrame::~MainFrame() {
    destroyTools();
    // The program ends during an update (a termination request): the bootloader's
    // thread and port go with it.
    delete _update;
    if (_bootloader != nullptr) {
        _bootloader->finalize();
    }
}

QAction* MainFrame::addCommand(QMenu* menu, int id, const QString& text, std::function<void()> action) {
    auto* command = menu->addAction(text);
    command->setObjectName(QStringLiteral("command%1").arg(id));
    command->setData(id);
    connect(command, &QAction::triggered, this, [action = std::move(action)] {
        if (action) {
            action();
        }
    });
    _commands[id] = command;
    return command;
}

void MainFrame::buildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    addCommand(file, Exit, QStringLiteral("E&xit"), [this] { close(); });

    QMenu* orvane = menuBar()->addMenu(QStringLiteral("&Orvane"));
    addCommand(orvane, Connect, QStringLiteral("&Connect"), [this] { _view->autoConnect(); });
    addCommand(orvane, Disconnect, QStringLiteral("&Disconnect"), [this] { _view->disconnectDevice(); });
    addCommand(orvane, UpdateFirmware, QStringLiteral("&Update Orvane Firmware"),
               [this] { enterBootloader(); });
    orvane->addSeparator();
    addCommand(orvane, Reset, QStringLiteral("&Reset Orvane"), [this] {
        _view->resetDevice();
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));

    if (_context.admin) {
        _adminMenu = menuBar()->addMenu(QStringLiteral("&Admin"));
        _adminMenu->setObjectName(QStringLiteral("adminMenu"));
        addCommand(_adminMenu, ViewConsole, QStringLiteral("View &Console"), [this] {
            toggleConsole();
        })->setCheckable(true);
        addCommand(_adminMenu, ConsoleFilter, QStringLiteral("Console &Filter"), [this] {
            toggleFilter();
        })->setCheckable(true);
        addCommand(_adminMenu, ViewDebugger, QStringLiteral("View &Debugger"), [this] {
            toggleDebugger();
        })->setCheckable(true);
    }

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    addCommand(help, SystemInfo, QStringLiteral("&System Info"), _context.systemInfo);
    addCommand(help, Help, QStringLiteral("&Help"), _context.help)->setShortcut(QKeySequence::HelpContents);
    help->addSeparator();
    addCommand(help, About, QStringLiteral("&About Orvane..."), _context.about);

    for (QMenu* menu : menuBar()->findChildren<QMenu*>()) {
        connect(menu, &QMenu::aboutToShow, this, &MainFrame::updateCommands);
    }
}

QAction* MainFrame::command(int id) const {
    const auto it = _commands.find(id);
    return it == _commands.end() ? nullptr : it->second;
}

void MainFrame::updateCommands() {
    const bool open = _device.isOpen();
    // Connect follows the Auto Connect button too: a second scan must not start
    // while one runs.
    command(Connect)->setEnabled(!open && _view->autoConnectEnabled());
    command(Disconnect)->setEnabled(open);
    command(Reset)->setEnabled(open);
    command(UpdateFirmware)->setEnabled(open || _context.admin);
    if (_adminMenu != nullptr) {
        command(ViewConsole)->setChecked(_console != nullptr);
        command(ConsoleFilter)->setEnabled(_console != nullptr);
        command(ConsoleFilter)->setChecked(_filter != nullptr);
        command(ViewDebugger)->setChecked(_debug != nullptr);
    }
    _frameRatePane->setText(QString::fromStdWString(_view->frameRateText()));
}

void MainFrame::enterBootloader() {
    static constexpr const char* kContext = "MainFrame::OnEnterBootloader";
    trace(kContext);
    if (_inUpdate) {
        return;
    }
    const bool open = _device.isOpen();
    if (open && !_context.admin) {
        if (!warn(
                QStringLiteral("A firmware update should only be done at the direction of Tolvek personnel."),
                QStringLiteral(
                    "If the update process is interrupted for any reason, your Orvane device may "
                    "not function properly.  Flashing incorrect firmware may permanently damage the "
                    "Orvane unit beyond repair and is not covered by warranty."))) {
            return;
        }
    } else if (!open) {
        if (!_context.admin ||
            !warn(QStringLiteral(
                      "Only use this option if the device has not had the application firmware loaded."),
                  QStringLiteral(
                      "If the device has had an initial load of the application firmware, connect to "
                      "the device first before attempting to update the firmware."))) {
            return;
        }
    }

    // From here on the application comes back however the update ends.
    _inUpdate = true;
    _view->closeNotification();
    // The debug window follows the device, which is about to leave; it cannot
    // subscribe again on its own.
    delete _debug;
    wyr::windows::communication::PortHandle port;
    if (const auto error = _device.enterBootloader(port); error != wyr::windows::system::ERROR_SUCCESS) {
        // The device never heard BOOTLOAD: the link still holds the port. Take it
        // down, so that the way back starts it afresh, and say why nothing happens.
        log(LogVerbosity::Error, kContext, L"Failed to send the device to its bootloader [%u].", error);
        _device.finalize();
        QMessageBox::critical(this, QStringLiteral("Orvane"),
                              QStringLiteral("The device could not be switched to its bootloader.\n[%1] %2")
                                  .arg(error)
                                  .arg(QString::fromStdWString(wyr::windows::system::systemMessage(error))));
        exitBootloader(FirmwareUpdateDlg::kCancelled);
        return;
    }
    hide();
    if (port) {
        // The device needs the time to start its bootloader; the loop runs on meanwhile.
        QTimer::singleShot(kBootloaderStartMs, this,
                           [this, port] { startUpdate(port, bootloader::BootloaderEntry::FromApplication); });
        return;
    }
    if (!openPortByHand(port)) {
        exitBootloader(FirmwareUpdateDlg::kCancelled);
        return;
    }
    startUpdate(std::move(port), bootloader::BootloaderEntry::FoundInBootloader);
}

bool MainFrame::warn(const QString& text, const QString& details) {
    TaskDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Orvane"));
    dialog.setIcon(TaskDialog::Icon::Warning);
    dialog.setMainInstruction(QStringLiteral("WARNING!!!"));
    dialog.setContent(text);
    dialog.setExpandedInformation(details, QStringLiteral("More Information"),
                                  QStringLiteral("Less Information"));
    dialog.addCommandLink(kContinue, QStringLiteral("Continue\nProceed with Orvane firmware update."));
    dialog.addCommandLink(kCancel, QStringLiteral("Cancel"));
    return dialog.exec() == kContinue;
}

bool MainFrame::openPortByHand(wyr::windows::communication::PortHandle& port) {
    auto& config = wyr::windows::config::ConfigMgr::instance();
    SerialSettingsDlg settings(config, _device.name(), device::SerialPortEnumerator(), this);
    // "DISABLED" chooses no port: nothing to open, as with Cancel.
    if (settings.exec() != QDialog::Accepted || !settings.port()) {
        return false;
    }
    const int com = *settings.port();
    for (;;) {
        const wyr::windows::system::ErrorCode error = bootloader::BootloaderPort::open(
            com, settings.lineSettings(), port, "MainFrame::OnEnterBootloader");
        if (error == wyr::windows::system::ERROR_SUCCESS) {
            return true;
        }
        TaskDialog dialog(this);
        dialog.setWindowTitle(QStringLiteral("Orvane"));
        dialog.setIcon(TaskDialog::Icon::Error);
        dialog.setMainInstruction(QStringLiteral("Failed to open port [COM%1].").arg(com));
        dialog.setContent(QStringLiteral("Click cancel to return to the application."));
        dialog.setExpandedInformation(QStringLiteral("[%1] %2").arg(error).arg(QString::fromStdWString(
                                          wyr::windows::system::systemMessage(error))),
                                      QStringLiteral("Show Details"), QStringLiteral("Hide Details"));
        dialog.addCommandLink(kRetry, QStringLiteral("Retry\nAttempt to open port."));
        dialog.addCommandLink(kCancel, QStringLiteral("Cancel\nWill return to application."));
        if (dialog.exec() != kRetry) {
            return false;
        }
    }
}

void MainFrame::startUpdate(wyr::windows::communication::PortHandle port, bootloader::BootloaderEntry entry) {
    _bootloader = bootloader::BootloaderImpl::init();
    if (_bootloader->initialize(std::move(port), entry) != wyr::windows::system::ERROR_SUCCESS) {
        exitBootloader(FirmwareUpdateDlg::kCancelled);
        return;
    }
    // A top-level window of its own: its owner is hidden while it is open.
    _update = new FirmwareUpdateDlg(*_bootloader, _context.admin);
    _update->setWindowIcon(windowIcon());
    // Its close is not the program's end, though it is the only window shown.
    _update->setAttribute(Qt::WA_QuitOnClose, false);
    connect(_update, &QDialog::finished, this, [this](int code) {
        // Out of the dialog's own handler before it goes.
        QMetaObject::invokeMethod(
            this, [this, code] { exitBootloader(code); }, Qt::QueuedConnection);
    });
    _update->refreshButtons();
    _update->show();
}

void MainFrame::exitBootloader(int code) {
    trace("MainFrame::OnExitBootloader");
    if (!_inUpdate) {
        return;
    }
    log(LogVerbosity::Information, "MainFrame::OnExitBootloader", L"Firmware update ended [%d].", code);
    if (_update != nullptr) {
        _update->deleteLater();
        _update = nullptr;
    }
    bootloader::BootloaderImpl::init()->finalize();
    _bootloader = nullptr;
    show();
    for (auto result = _device.initialize(); result != wyr::windows::system::ERROR_SUCCESS;
         result = _device.initialize()) {
        if (FailureDialogs::initFailure(result, this) != FailureDialogs::kFirstLink) {
            _inUpdate = false;
            QCoreApplication::exit(0);
            return;
        }
    }
    _inUpdate = false;
    _view->resetView();
    updateCommands();
}

void MainFrame::toggleConsole() {
    if (_console) {
        delete _filter;
        _console.reset();
    } else {
        _console = std::make_unique<LogConsoleWnd>(this);
        _console->open();
    }
    if (_view != nullptr) {
        updateCommands();
    }
}

void MainFrame::toggleFilter() {
    if (_filter != nullptr) {
        delete _filter;
    } else {
        _filter = new LogFilterOptionsDlg(_console ? &_console->filter() : nullptr, this);
        _filter->setAttribute(Qt::WA_DeleteOnClose);
        connect(_filter, &QObject::destroyed, this, [this] {
            _filter = nullptr;
            updateCommands();
        });
        _filter->show();
    }
    updateCommands();
}

void MainFrame::toggleDebugger() {
    if (_debug != nullptr) {
        delete _debug;
    } else {
        _debug = new DebugDlg(_device, this);
        _debug->setAttribute(Qt::WA_DeleteOnClose);
        _debug->setAttribute(Qt::WA_ShowWithoutActivating);
        connect(_debug, &QObject::destroyed, this, [this] {
            _debug = nullptr;
            updateCommands();
        });
        _debug->show();
    }
    updateCommands();
}

void MainFrame::destroyTools() {
    delete _filter;
    _console.reset();
    delete _debug;
}

void MainFrame::activate() {
    // During an update its dialog is the program's window; before it exists, the
    // question on screen is. The hidden frame stays hidden either way.
    if (_inUpdate) {
        QWidget* shown = _update != nullptr ? _update : QApplication::activeModalWidget();
        if (shown != nullptr) {
            shown->showNormal();
            shown->raise();
            shown->activateWindow();
        }
        return;
    }
    // A minimised window comes back as it was (maximised or not).
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    if (isMaximized()) {
        showMaximized();
    } else {
        showNormal();
    }
    raise();
    activateWindow();
}

void MainFrame::closeEvent(QCloseEvent* event) {
    if (_device.isOpen() && !_closeTimedOut) {
        event->ignore();
        if (_closeConnection.connected()) {
            return; // already waiting for the disconnection
        }
        // Nothing else may act on the device now; the close follows its end.
        _device.unsubscribeAll();
        _closeConnection = _device.subscribe([this](const device::tagNMORVANEHDR* header) {
            if (header != nullptr && header->type != nullptr &&
                *header->type == device::OrvaneNotificationType::NotifyDisconnect) {
                QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
            }
        });
        QTimer::singleShot(kCloseWaitMs, this, [this] {
            _closeTimedOut = true;
            close();
        });
        if (_device.disconnect(device::DisconnectType::Normal, 0) != 0) {
            _closeTimedOut = true;
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        }
        return;
    }
    _closeConnection.disconnect();
    _placement.save(*this);
    destroyTools();
    event->accept();
}

} // namespace app
