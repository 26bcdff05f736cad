#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace app {

// One running program per user session. The first start holds an exclusive
// flock on a lock file in the user's runtime directory and listens on a local
// socket beside it; a later start finds the lock taken and asks the first, over
// that socket, to come forward. The kernel drops the lock when its holder dies,
// so a lock file or socket left by a killed process never blocks a start.
//
// The runtime directory is $XDG_RUNTIME_DIR, else a private folder (0700, ours)
// in the temporary directory.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The name the first instance and the activation request share.
    static constexpr const char* kMutexName = "{A9916F87-BB98-4255-A95C-FE3288A2E361}";
    static constexpr const char* kActivateMessage =
        "DWM_ACTIVATE_PREVIOUS_INSTANCE-{A9916F87-BB98-4255-A95C-FE3288A2E361}";

    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first: it now holds the lock and listens.
    // False when another holds it (or the runtime directory is unusable, which
    // `error()` then tells; such a start runs alone rather than not at all).
    bool acquire();
    bool isFirst() const noexcept { return _lockFd >= 0; }
    const QString& error() const noexcept { return _error; }

    // From a later start: asks the first to come forward. False when it could not
    // be reached within a second.
    bool activatePrevious() const;

    // Where the lock and the socket live.
    static QString runtimeDirectory();
    static QString lockPath();
    static QString socketPath();

Q_SIGNALS:
    // A later start asked this one to come forward.
    void activationRequested();

private:
    void onConnection();

    int _lockFd = -1;
    QLocalServer* _server = nullptr;
    QString _error;
};

} // namespace app
