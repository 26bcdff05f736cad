#include "app/MainFrame.h"

#include "app/DebugDlg.h"
#include "app/OrvaneView.h"
#include "device/DisconnectType.h"
#include "device/OrvaneInterface.h"
#include "device/OrvaneNotificationType.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/logging/ui/LogConsoleWnd.h"
#include "wyr/windows/logging/ui/LogFilterOptionsDlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>

namespace app {

using wyr::windows::logging::LogConsoleWnd;
using wyr::windows::logging::LogFilterOptionsDlg;
using wyr::windows::logging::trace;

namespace {

// How often the commands' states are brought up to date, as a framework does
// when it is idle; menus also update as they open.
constexpr int kCommandUpdateMs = 250;
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

    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &MainFrame::updateCommands);
    timer->start(kCommandUpdateMs);
    updateCommands();
}

MainFrame::~MainFrame() {
    destroyTools();
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
    // The firmware update workflow.
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
