#pragma once

#include "wyr/memory/NonCopyable.h"
#include "wyr/windows/system/Descriptor.h"
#include "wyr/windows/system/WaitableObject.h"

#include <mutex>

namespace wyr::windows::system {

// A manual-reset event stays signalled until reset; an auto-reset event releases
// exactly one waiter and resets itself. The descriptor (an eventfd) is readable
// exactly while the event is signalled.
class Event : public WaitableObject, private memory::NonCopyable {
public:
    enum class Reset { Manual, Auto };

    // Never throws: when the kernel refuses an eventfd the event is not valid()
    // and the thread's last error says why.
    explicit Event(Reset reset, bool initiallySignalled = false);
    ~Event() override = default;

    bool valid() const noexcept { return _fd.valid(); }

    bool set() noexcept;
    bool reset() noexcept;
    bool isSignalled() const noexcept;
    bool isManualReset() const noexcept { return _reset == Reset::Manual; }

    int waitDescriptor() const noexcept override { return _fd.get(); }
    Take tryTake() noexcept override;

private:
    void clearDescriptor() noexcept;

    const Reset _reset;
    mutable std::mutex _lock;
    bool _signalled = false;
    Descriptor _fd;
};

} // namespace wyr::windows::system
