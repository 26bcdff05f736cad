#pragma once

#include <QObject>

class QSocketNotifier;

namespace wyr::windows::ui {

// Pumps the calling thread's message queue from Qt's event loop: whenever the
// queue's wake descriptor is readable, whichever Qt loop runs (the application's,
// a modal dialog's exec(), a QMessageBox), the posted messages and the due thread
// timers are dispatched in posting order. So notifications, log records and
// configuration changes reach their subscribers on this thread, one at a time.
//
// Create one on the user-interface thread after the QApplication and keep it for
// the life of the loop. A subscriber that opens a modal dialog keeps the queue
// flowing: the dialog's loop pumps the messages posted after the one it handles.
class MessageQueuePump : public QObject {
    Q_OBJECT

public:
    explicit MessageQueuePump(QObject* parent = nullptr);
    ~MessageQueuePump() override;

    // False when the thread's queue could not be made (the kernel refused its
    // descriptors; the last error tells why): nothing is pumped then.
    bool isValid() const noexcept { return _notifier != nullptr; }

private:
    void onActivated();

    QSocketNotifier* _notifier = nullptr;
};

} // namespace wyr::windows::ui
