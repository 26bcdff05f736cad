#pragma once

#include <QObject>

class QSocketNotifier;

namespace app {

// SIGINT and SIGTERM as a Qt signal on the user-interface thread: the handler only
// writes a byte to a socket pair, whose other end a QSocketNotifier watches. One
// object per process; the handlers are restored when it goes.
class UnixSignals : public QObject {
    Q_OBJECT
public:
    explicit UnixSignals(QObject* parent = nullptr);
    ~UnixSignals() override;

Q_SIGNALS:
    void received(int signal);

private:
    void onReadable();

    QSocketNotifier* _notifier = nullptr;
};

} // namespace app
