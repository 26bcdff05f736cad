#include "app/MainFrame.h"
#include "app/OrvaneApp.h"
#include "app/ProgramVersion.h"
#include "app/UnixSignals.h"

#include <QApplication>
#include <clocale>

int main(int argc, char** argv) {
    // Desktop alerts place their own windows, which X11 allows and a native
    // Wayland session does not: on a Wayland desktop the window runs on XWayland.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setOrganizationName(QStringLiteral("Tolvek"));
    const app::ProgramVersion version = app::ProgramVersion::current();
    QApplication::setApplicationVersion(
        QStringLiteral("%1.%2.%3").arg(version.major).arg(version.minor).arg(version.revision));
    QApplication::setDesktopFileName(QStringLiteral("orvane"));
    // Qt takes the user's locale for its own texts; numbers in the settings, the
    // log and the program's texts keep the full stop.
    std::setlocale(LC_NUMERIC, "C");

    app::OrvaneApp orvane(QApplication::arguments());
    // Ctrl-C or a termination request closes the window the normal way.
    app::UnixSignals signals;
    QObject::connect(&signals, &app::UnixSignals::received, &application, [&orvane] {
        if (orvane.mainFrame() != nullptr) {
            orvane.mainFrame()->close();
        } else {
            QApplication::quit();
        }
    });
    const int code = orvane.initInstance() ? QApplication::exec() : 0;
    return orvane.exitInstance(code);
}
