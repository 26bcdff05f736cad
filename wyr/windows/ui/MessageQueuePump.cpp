#include "wyr/windows/ui/MessageQueuePump.h"

#include "wyr/windows/system/MessageLoop.h"

#include <QSocketNotifier>

namespace wyr::windows::ui {

MessageQueuePump::MessageQueuePump(QObject* parent) : QObject(parent) {
    const int descriptor = system::messageQueueDescriptor();
    if (descriptor < 0) {
        return;
    }
    _notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
    connect(_notifier, &QSocketNotifier::activated, this, &MessageQueuePump::onActivated);
}

MessageQueuePump::~MessageQueuePump() = default;

void MessageQueuePump::onActivated() {
    // pump() takes only what was posted before it started; whatever arrives
    // meanwhile leaves the descriptor readable, so the loop comes back for it.
    system::pump();
}

} // namespace wyr::windows::ui
