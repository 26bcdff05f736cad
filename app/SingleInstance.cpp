#include "app/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

namespace {

constexpr int kActivationWaitMs = 1000;

// A folder of ours that nobody else may write to, made when missing.
bool privateFolder(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat info {};
    return ::lstat(native.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
           (info.st_mode & 0077) == 0;
}

} // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() {
    if (_server != nullptr) {
        _server->close();
    }
    if (_lockFd >= 0) {
        ::close(_lockFd); // releases the lock
    }
}

QString SingleInstance::runtimeDirectory() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        return runtime;
    }
    QString temporary = qEnvironmentVariable("TMPDIR");
    if (temporary.isEmpty()) {
        temporary = QStringLiteral("/tmp");
    }
    return temporary + QStringLiteral("/orvane-") + QString::number(::getuid());
}

QString SingleInstance::lockPath() {
    return runtimeDirectory() + QStringLiteral("/orvane-") + QLatin1String(kMutexName) +
           QStringLiteral(".lock");
}

QString SingleInstance::socketPath() {
    return runtimeDirectory() + QStringLiteral("/orvane-") + QLatin1String(kMutexName) +
           QStringLiteral(".socket");
}

bool SingleInstance::acquire() {
    if (_lockFd >= 0) {
        return true;
    }
    const QString directory = runtimeDirectory();
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && !privateFolder(directory)) {
        _error = QStringLiteral("%1 is not a private folder").arg(directory);
        return false;
    }
    const QByteArray path = QFile::encodeName(lockPath());
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        _error = QStringLiteral("%1: %2").arg(lockPath(), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error != EWOULDBLOCK) {
            _error = QStringLiteral("%1: %2").arg(lockPath(), QString::fromLocal8Bit(std::strerror(error)));
        }
        return false;
    }
    _lockFd = fd;

    // Holding the lock, a socket file there is a dead instance's.
    QLocalServer::removeServer(socketPath());
    _server = new QLocalServer(this);
    _server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(_server, &QLocalServer::newConnection, this, &SingleInstance::onConnection);
    if (!_server->listen(socketPath())) {
        // Still the only instance; a later start just cannot bring it forward.
        _error = _server->errorString();
    }
    return true;
}

bool SingleInstance::activatePrevious() const {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(kActivationWaitMs)) {
        return false;
    }
    socket.write(QByteArray(kActivateMessage) + '\n');
    const bool sent = socket.waitForBytesWritten(kActivationWaitMs);
    socket.disconnectFromServer();
    return sent;
}

void SingleInstance::onConnection() {
    while (QLocalSocket* socket = _server->nextPendingConnection()) {
        // Only the activation request is understood; anything else is ignored.
        const auto readRequests = [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine().trimmed() == kActivateMessage) {
                    Q_EMIT activationRequested();
                }
            }
            if (socket->bytesAvailable() > 1024) {
                socket->abort();
            }
        };
        connect(socket, &QLocalSocket::readyRead, this, readRequests);
        connect(socket, &QLocalSocket::disconnected, this, [socket, readRequests] {
            readRequests();
            socket->deleteLater();
        });
        readRequests();
    }
}

} // namespace app
