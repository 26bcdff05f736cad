#pragma once

#include "wyr/windows/logging/output/LogFileListener.h"
#include "wyr/windows/system/SystemError.h"

#include <QObject>
#include <QStringList>
#include <memory>

namespace device {
class OrvaneInterface;
}
namespace wyr::windows::ui {
class MessageQueuePump;
}

namespace app {

class MainFrame;
class SingleInstance;

// The application object: decides whether this process may run (one instance
// per user session), brings up logging and the settings in a fixed order, lets
// the user repair a broken configuration or a missing log directory, starts the
// device link with a retry loop, creates the main window, and on exit takes
// everything down in the reverse order so that the last log lines and the
// settings reach the disk. Everything runs on the user-interface thread, after
// the QApplication exists.
//
//     OrvaneApp orvane(application.arguments());
//     const int code = orvane.initInstance() ? application.exec() : 0;
//     return orvane.exitInstance(code);
class OrvaneApp : public QObject {
    Q_OBJECT
public:
    using ErrorCode = wyr::windows::system::ErrorCode;

    // `device` null: the program's own device interface.
    explicit OrvaneApp(QStringList arguments, device::OrvaneInterface* device = nullptr,
                       QObject* parent = nullptr);
    ~OrvaneApp() override;

    // True to run the event loop, false to end at once.
    bool initInstance();
    // Takes down what initInstance brought up; returns `code`.
    int exitInstance(int code = 0);

    // 0, or 1223 when the user chose to quit.
    ErrorCode loadConfiguration();
    // 0, 3 when the log directory does not exist, 5 when it (or an existing log
    // file of the same name) is not writable.
    ErrorCode openLog();

    // The switches, each compared exactly with every argument.
    bool isDebug() const noexcept { return _debug; }
    bool isAdmin() const noexcept { return _admin; }

    // The application's commands of the Help menu.
    void showSystemInfo();
    void showHelp();
    void showAbout();

    MainFrame* mainFrame() const noexcept { return _frame.get(); }
    device::OrvaneInterface* device() const noexcept { return _device; }
    wyr::windows::logging::LogFileListener& logFile() noexcept { return _logFile; }

    static bool hasSwitch(const QStringList& arguments, const char* name);

private:
    // Device settings registered and validated until they pass, or 1223.
    ErrorCode validateDeviceSettings();
    void writeBanner();

    QStringList _arguments;
    bool _debug = false;
    bool _admin = false;
    device::OrvaneInterface* _device = nullptr;
    std::unique_ptr<wyr::windows::ui::MessageQueuePump> _pump;
    std::unique_ptr<SingleInstance> _instance;
    wyr::windows::logging::LogFileListener _logFile;
    std::unique_ptr<MainFrame> _frame;
    bool _configurationLoaded = false;
    bool _deviceInitialized = false;
};

} // namespace app
