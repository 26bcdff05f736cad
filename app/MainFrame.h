#pragma once

#include "bootloader/BootloaderEntry.h"
#include "wyr/windows/communication/SerialDevice.h"
#include "wyr/windows/ui/PersistWindowPos.h"

#include <QMainWindow>
#include <boost/signals2/connection.hpp>
#include <functional>
#include <map>
#include <memory>

class QAction;
class QLabel;
class QMenu;

namespace bootloader {
class BootloaderInterface;
}
namespace device {
class OrvaneInterface;
}
namespace wyr::windows::logging {
class LogConsoleWnd;
class LogFilterOptionsDlg;
} // namespace wyr::windows::logging

namespace app {

class DebugDlg;
class FirmwareUpdateDlg;
class OrvaneView;

// The application's top-level window: the main view and a status bar, the menus
// (with "&Admin" in administrator mode) and their state rules, the
// administrator tools, a close that waits for the device's disconnection, and
// coming forward when a later start asks.
//
// Every menu command is a QAction named "command<id>" holding its id as data,
// so tests and the keyboard reach the same commands.
class MainFrame : public QMainWindow {
    Q_OBJECT
public:
    enum Command : int {
        Exit = 57665,
        Connect = 32768,
        Disconnect = 32769,
        UpdateFirmware = 32770,
        Reset = 32772,
        ViewConsole = 32774,
        ConsoleFilter = 32775,
        ViewDebugger = 32776,
        SystemInfo = 32778,
        Help = 57670,
        About = 57664,
    };
    static constexpr int kFrameRatePaneId = 49152;
    static constexpr const char* kFrameRateTemplate = "0000.0 fps";

    struct Context {
        bool admin = false;
        bool showLog = false; // honoured in administrator mode only
        bool debug = false;
        std::function<void()> systemInfo;
        std::function<void()> help;
        std::function<void()> about;
    };

    MainFrame(device::OrvaneInterface& device, Context context, QWidget* parent = nullptr);
    ~MainFrame() override;

    OrvaneView& view() const noexcept { return *_view; }
    QAction* command(int id) const;
    QMenu* adminMenu() const noexcept { return _adminMenu; }
    QLabel& frameRatePane() const noexcept { return *_frameRatePane; }
    wyr::windows::ui::PersistWindowPos& placement() noexcept { return _placement; }
    bool isAdmin() const noexcept { return _context.admin; }

    // The administrator tools, while they exist.
    wyr::windows::logging::LogConsoleWnd* console() const noexcept { return _console.get(); }
    wyr::windows::logging::LogFilterOptionsDlg* filterDialog() const noexcept { return _filter; }
    DebugDlg* debugWindow() const noexcept { return _debug; }
    // The firmware update dialog while an update runs.
    FirmwareUpdateDlg* updateDialog() const noexcept { return _update; }
    // From the warnings of the update to the return to the application.
    bool inUpdate() const noexcept { return _inUpdate; }

    // Applies the command state rules to every command.
    void updateCommands();

    // The ids of the update's warning answers.
    static constexpr int kContinue = 101;
    static constexpr int kCancel = 102;
    static constexpr int kRetry = 103;
    // The pause between the device's jump to its bootloader and the first frame to it.
    static constexpr int kBootloaderStartMs = 2000;

public Q_SLOTS:
    // "&Update Orvane Firmware".
    void enterBootloader();
    // The update ended: 0 after "Close", 1223 after a cancel or a failure.
    void exitBootloader(int code);
    // A later start asks this one (or its update dialog) to come forward.
    void activate();
    void toggleConsole();
    void toggleFilter();
    void toggleDebugger();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* addCommand(QMenu* menu, int id, const QString& text, std::function<void()> action);
    void buildMenus();
    void destroyTools();
    // The update's warning; true for Continue.
    bool warn(const QString& text, const QString& details);
    // The administrator's path: a port chosen and opened by hand; false when cancelled.
    bool openPortByHand(wyr::windows::communication::PortHandle& port);
    void startUpdate(wyr::windows::communication::PortHandle port, bootloader::BootloaderEntry entry);

    device::OrvaneInterface& _device;
    Context _context;
    wyr::windows::ui::PersistWindowPos _placement;
    OrvaneView* _view = nullptr;
    QLabel* _frameRatePane = nullptr;
    QMenu* _adminMenu = nullptr;
    std::map<int, QAction*> _commands;

    std::unique_ptr<wyr::windows::logging::LogConsoleWnd> _console;
    wyr::windows::logging::LogFilterOptionsDlg* _filter = nullptr;
    DebugDlg* _debug = nullptr;
    bootloader::BootloaderInterface* _bootloader = nullptr;
    FirmwareUpdateDlg* _update = nullptr;
    bool _inUpdate = false;
    // The one subscriber while a close waits for the disconnection.
    boost::signals2::scoped_connection _closeConnection;
    // The disconnection did not come in time: close all the same.
    bool _closeTimedOut = false;
};

} // namespace app
