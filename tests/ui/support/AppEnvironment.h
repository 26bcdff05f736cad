#pragma once

#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>
#include <QtGlobal>
#include <map>
#include <string>

namespace test {

// A private home for one test of the window: settings, the runtime directory
// (single-instance lock and socket), the port directory and the temporary
// directory (log files) all live in one temporary folder, and the environment
// is restored afterwards.
class AppEnvironment {
public:
    AppEnvironment() {
        set("XDG_CONFIG_HOME", path("config"));
        set("XDG_RUNTIME_DIR", path("runtime"));
        set("ORVANE_PORT_DIR", path("ports"));
        set("TMPDIR", path("tmp"));
        set("TEMP", path("tmp"));
    }
    ~AppEnvironment() {
        for (const auto& [name, value] : _saved) {
            if (value.isNull()) {
                qunsetenv(name.c_str());
            } else {
                qputenv(name.c_str(), value);
            }
        }
    }
    AppEnvironment(const AppEnvironment&) = delete;
    AppEnvironment& operator=(const AppEnvironment&) = delete;

    QString root() const { return _root.path(); }
    QString settingsFile() const { return path("config") + QStringLiteral("/Tolvek/Orvane.reg"); }
    QString temporary() const { return path("tmp"); }

    // A folder under the root, made when missing.
    QString path(const QString& name) const {
        const QString full = _root.path() + QLatin1Char('/') + name;
        QDir().mkpath(full);
        return full;
    }

private:
    void set(const char* name, const QString& value) {
        if (_saved.find(name) == _saved.end()) {
            _saved[name] = qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray();
        }
        qputenv(name, value.toLocal8Bit());
    }

    QTemporaryDir _root;
    std::map<std::string, QByteArray> _saved;
};

} // namespace test
