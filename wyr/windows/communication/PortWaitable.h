#pragma once

#include "wyr/windows/system/WaitableObject.h"

namespace wyr::windows::communication {

// Lets a wait include an open port's descriptor: signalled while the descriptor is
// ready for the events asked for, and always once the line has hung up or failed,
// so that a wait never sleeps through the loss of the port. Nothing is consumed;
// the waiter finds out what happened from the port itself.
class PortWaitable : public system::WaitableObject {
public:
    PortWaitable(int descriptor, short events) noexcept : _descriptor(descriptor), _events(events) {}

    int waitDescriptor() const noexcept override { return _descriptor; }
    short waitEvents() const noexcept override { return _events; }
    Take tryTake() noexcept override;

private:
    int _descriptor;
    short _events;
};

} // namespace wyr::windows::communication
