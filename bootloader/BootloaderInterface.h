#pragma once

#include "bootloader/BootloaderBroadcastWnd.h"
#include "bootloader/BootloaderEntry.h"
#include "bootloader/BootloaderNotifyType.h"
#include "bootloader/InfoBlock.h"
#include "bootloader/InfoBlockType.h"
#include "wyr/windows/communication/SerialDevice.h"
#include "wyr/windows/system/Message.h"
#include "wyr/windows/system/SystemError.h"

#include <boost/signals2/connection.hpp>
#include <cstdint>
#include <string>

namespace bootloader {

// The firmware update as the user interface sees it. The requests only post work
// to the bootloader thread and return at once; each outcome, and the progress of
// the long steps, arrives as a tagBLNHDR notification on the user-interface
// thread. Requests run one after the other, in the order they were made.
//
// The operations keep this order. The single instance is destroyed through its
// own class at program exit, never through this interface.
class BootloaderInterface {
public:
    using ErrorCode = wyr::windows::system::ErrorCode;
    using Callback = BootloaderBroadcastWnd::Signal::slot_type;

    // The update dialog tells the main frame it ended; wParam 0 (closed) or 1223
    // (cancelled), lParam 0.
    static const wyr::windows::system::MessageId WM_BL_EXIT_BOOTLOADER;
    // The update dialog's start message to itself.
    static const wyr::windows::system::MessageId BL_INITIAL_UPDATE;

    // Forgets the previous update (step, info blocks, image, subscribers), takes
    // the open port over and starts the bootloader thread. 0; 6 for a missing or
    // closed port (which is then not taken); 1247 while the thread of an earlier
    // update still runs (nothing changes); or the error of taking the port or of
    // starting the thread. `entry` says how the device reached its bootloader; a
    // cancel signs the application again only after this run's own hand-over.
    virtual ErrorCode initialize(wyr::windows::communication::PortHandle port, BootloaderEntry entry) = 0;
    // Stops the bootloader thread (2000 ms at most) and closes the port.
    virtual void finalize() = 0;

    // The caller keeps the connection and disconnects it when it goes away.
    virtual boost::signals2::connection connect(const Callback& callback) = 0;

    // Requests; each posts to the bootloader thread and returns at once. The
    // outcome arrives as notifications; nothing arrives when the post failed
    // (logged).
    // "Entered Bootload Mode".
    virtual void enterBootloadMode() = 0;
    // "Reset Target"; before it "Write Target" Completed when the application's
    // signature is restored.
    virtual void cancelBootloadMode() = 0;
    // "Received Target Info".
    virtual void getTargetInfo() = 0;
    // "Load Source": Initiated, Running per line, Completed.
    virtual void loadFile(const std::wstring& path) = 0;
    // "Erase Target": Initiated, Running per page, Completed.
    virtual void eraseTarget() = 0;
    // "Write Target": Initiated, Running per block, Completed for the flash, then
    // Completed for the signature.
    virtual void writeTarget() = 0;
    // "Reset Target".
    virtual void resetTarget() = 0;

    // Writes a serial number into the loaded image, on the calling thread; only
    // while no request is pending. 0, or 487 without a loaded image.
    virtual ErrorCode setSerialNumber(std::uint16_t serial) = 0;
    // The bootloader's or the application's block as the bootloader reported them
    // last, or the loaded image's own block (false while no image is loaded).
    // False for any other type.
    virtual bool getInfoBlock(const InfoBlockType& type, InfoBlock& out) const = 0;
    // The last step that succeeded.
    virtual BootloaderNotifyType getState() const = 0;

protected:
    BootloaderInterface() = default;
    BootloaderInterface(const BootloaderInterface&) = default;
    BootloaderInterface& operator=(const BootloaderInterface&) = default;
    virtual ~BootloaderInterface() = default;
};

} // namespace bootloader
