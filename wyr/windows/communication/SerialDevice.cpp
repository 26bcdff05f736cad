#include "wyr/windows/communication/SerialDevice.h"

#include "wyr/windows/communication/TtyLineSettings.h"
#include "wyr/windows/system/Event.h"
#include "wyr/windows/system/Wait.h"

// termios2 (any baud rate) comes from the kernel's headers, which cannot share a
// translation unit with <termios.h>; nothing here needs the libc interface.
#include <asm/termbits.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace wyr::windows::communication {

using system::ErrorCode;

namespace {

// While output waits behind a busy line, how often to look whether it drained.
constexpr std::uint32_t kDrainPollMs = 10;
// While line errors or modem lines are watched, how often to sample them.
constexpr std::uint32_t kLinePollMs = 20;
// close() lets queued output go for as long as the line needs, but no longer.
constexpr std::uint32_t kMaximumCloseDrainMs = 2000;

ErrorCode fail(ErrorCode code) noexcept {
    system::setLastError(code);
    return code;
}

ErrorCode failFromErrno() noexcept {
    return fail(system::errorFromErrno(errno));
}

int ioctlRetrying(int fd, unsigned long request, void* argument) {
    int result = 0;
    do {
        result = ::ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result;
}

// Modem-line and counter requests that the device does not offer (ptys).
bool unsupported(int error) {
    return error == ENOTTY || error == EINVAL;
}

TtyLineSettings::Terminal terminalOf(const termios2& settings) {
    TtyLineSettings::Terminal terminal;
    terminal.iflag = settings.c_iflag;
    terminal.cflag = settings.c_cflag;
    terminal.speed = settings.c_ospeed;
    terminal.startChar = static_cast<char>(settings.c_cc[VSTART]);
    terminal.stopChar = static_cast<char>(settings.c_cc[VSTOP]);
    return terminal;
}

// Raises or lowers one modem line; a device without modem lines is left alone.
ErrorCode setModemLine(int fd, int line, bool raised) {
    int bits = line;
    if (ioctlRetrying(fd, raised ? TIOCMBIS : TIOCMBIC, &bits) < 0 && !unsupported(errno)) {
        return failFromErrno();
    }
    return system::ERROR_SUCCESS;
}

} // namespace

ErrorCode SerialDevice::open(const std::string& path, PortHandle& port) {
    port.reset();
    system::Descriptor fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        // EBUSY: another program holds the tty exclusively.
        if (errno == EBUSY) {
            return fail(system::ERROR_SHARING_VIOLATION);
        }
        return failFromErrno();
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) < 0) {
        return errno == EWOULDBLOCK ? fail(system::ERROR_SHARING_VIOLATION) : failFromErrno();
    }
    // Fails with ENOTTY for anything that is not a terminal device.
    if (ioctlRetrying(fd.get(), TIOCEXCL, nullptr) < 0) {
        return failFromErrno();
    }

    // A failure from here on must not leave the tty claimed (a pty keeps the
    // flag while its master is open).
    const auto unclaim = [&fd] {
        const int error = errno;
        ioctlRetrying(fd.get(), TIOCNXCL, nullptr);
        errno = error;
    };
    termios2 settings{};
    if (ioctlRetrying(fd.get(), TCGETS2, &settings) < 0) {
        unclaim();
        return failFromErrno();
    }
    // Raw bytes both ways. VMIN 1 (with O_NONBLOCK) makes an empty queue read as
    // EAGAIN, so that a read of 0 bytes always means the line hung up.
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                               IXON | IXOFF | IXANY | IUCLC | IMAXBEL);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (ioctlRetrying(fd.get(), TCSETS2, &settings) < 0) {
        unclaim();
        return failFromErrno();
    }

    PortHandle device(new SerialDevice(std::move(fd), path));
    // The handshake modes start as the lines stand, so that re-applying the
    // settings read back changes nothing on the wire.
    const int raw = device->_fd.get();
    device->_outxCtsFlow = (settings.c_cflag & CRTSCTS) != 0;
    int lines = 0;
    if (ioctlRetrying(raw, TIOCMGET, &lines) == 0) {
        device->_haveModemLines = true;
        device->_modemLines = lines;
        device->_dtrControl = (lines & TIOCM_DTR) != 0 ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        device->_rtsControl = (lines & TIOCM_RTS) != 0 ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    }
    if ((settings.c_cflag & CRTSCTS) != 0) {
        device->_rtsControl = RTS_CONTROL_HANDSHAKE;
    }
    serial_icounter_struct counters{};
    if (ioctlRetrying(raw, TIOCGICOUNT, &counters) == 0) {
        device->_haveCounters = true;
        device->_counters = {counters.frame, counters.overrun, counters.parity, counters.brk,
                             counters.buf_overrun};
    }
    port = std::move(device);
    return system::ERROR_SUCCESS;
}

SerialDevice::SerialDevice(system::Descriptor fd, std::string path)
    : _fd(std::move(fd)), _path(std::move(path)) {}

SerialDevice::~SerialDevice() {
    close();
}

void SerialDevice::close() noexcept {
    std::unique_lock guard(_lock);
    if (!_fd) {
        return;
    }
    const int fd = _fd.get();
    // The kernel would otherwise hold close() for up to 30 s while flow control
    // keeps output back; give the line the time it needs to send, then discard.
    int queued = 0;
    termios2 settings{};
    if (ioctlRetrying(fd, TIOCOUTQ, &queued) == 0 && queued > 0 &&
        ioctlRetrying(fd, TCGETS2, &settings) == 0) {
        const std::uint32_t baud = settings.c_ospeed > 0 ? settings.c_ospeed : 9600;
        const std::uint64_t needed = static_cast<std::uint64_t>(queued) * 10U * 1000U / baud + 100U;
        const auto bound = std::chrono::milliseconds(std::min<std::uint64_t>(needed, kMaximumCloseDrainMs));
        const auto deadline = std::chrono::steady_clock::now() + bound;
        guard.unlock();
        while (queued > 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kDrainPollMs));
            if (ioctlRetrying(fd, TIOCOUTQ, &queued) < 0) {
                break;
            }
        }
        guard.lock();
        if (queued > 0) {
            ioctlRetrying(fd, TCFLSH, reinterpret_cast<void*>(static_cast<long>(TCOFLUSH)));
        }
    }
    // The exclusive flag outlives the descriptor on a pty whose master stays open.
    ioctlRetrying(fd, TIOCNXCL, nullptr);
    _fd.reset();
    _received.clear();
    notifyWaiterLocked();
}

bool SerialDevice::isOpen() const noexcept {
    std::lock_guard guard(_lock);
    return _fd.valid();
}

int SerialDevice::descriptor() const noexcept {
    std::lock_guard guard(_lock);
    return _fd.get();
}

ErrorCode SerialDevice::checkOpenLocked() const {
    return _fd ? system::ERROR_SUCCESS : fail(system::ERROR_INVALID_HANDLE);
}

ErrorCode SerialDevice::setupComm(std::uint32_t inQueue, std::uint32_t outQueue) {
    std::lock_guard guard(_lock);
    if (const ErrorCode error = checkOpenLocked()) {
        return error;
    }
    if (inQueue == 0 || outQueue == 0) {
        return fail(system::ERROR_INVALID_PARAMETER);
    }
    termios2 settings{};
    if (ioctlRetrying(_fd.get(), TCGETS2, &settings) < 0) {
        return failFromErrno();
    }
    // The kernel sizes its own queues; the input size bounds the receive buffer.
    _inQueueSize = inQueue;
    return system::ERROR_SUCCESS;
}

ErrorCode SerialDevice::getCommState(DCB& dcb) {
    std::lock_guard guard(_lock);
    if (const ErrorCode error = checkOpenLocked()) {
        return error;
    }
    termios2 settings{};
    if (ioctlRetrying(_fd.get(), TCGETS2, &settings) < 0) {
        return failFromErrno();
    }
    const TtyLineSettings::Terminal terminal = terminalOf(settings);
    dcb = DCB{};
    TtyLineSettings::describe(terminal, dcb);
    const bool hardware = TtyLineSettings::hardwareHandshake(terminal);
    dcb.fOutxCtsFlow = hardware && _outxCtsFlow;
    dcb.fRtsControl = hardware ? RTS_CONTROL_HANDSHAKE
                               : (_rtsControl == RTS_CONTROL_HANDSHAKE ? RTS_CONTROL_ENABLE : _rtsControl);
    dcb.fOutxDsrFlow = _outxDsrFlow;
    dcb.fDtrControl = _dtrControl;
    dcb.EvtChar = _eventChar;
    return system::ERROR_SUCCESS;
}

ErrorCode SerialDevice::setCommState(const DCB& dcb) {
    std::lock_guard guard(_lock);
    if (const ErrorCode error = checkOpenLocked()) {
        return error;
    }
    termios2 settings{};
    if (ioctlRetrying(_fd.get(), TCGETS2, &settings) < 0) {
        return failFromErrno();
    }
    TtyLineSettings::Terminal terminal = terminalOf(settings);
    if (const ErrorCode error = TtyLineSettings::apply(dcb, terminal)) {
        return fail(error);
    }
    settings.c_iflag = terminal.iflag;
    settings.c_cflag = terminal.cflag;
    settings.c_ispeed = terminal.speed;
    settings.c_ospeed = terminal.speed;
    settings.c_cc[VSTART] = static_cast<cc_t>(terminal.startChar);
    settings.c_cc[VSTOP] = static_cast<cc_t>(terminal.stopChar);
    if (ioctlRetrying(_fd.get(), TCSETS2, &settings) < 0) {
        return failFromErrno();
    }

    // The kernel has no DTR/DSR handshake: DTR stays raised for it, and output is
    // not held by DSR.
    if (const ErrorCode error = setModemLine(_fd.get(), TIOCM_DTR, dcb.fDtrControl != DTR_CONTROL_DISABLE)) {
        return error;
    }
    if (!TtyLineSettings::hardwareHandshake(terminal)) {
        if (const ErrorCode error =
                setModemLine(_fd.get(), TIOCM_RTS, dcb.fRtsControl != RTS_CONTROL_DISABLE)) {
            return error;
        }
    }
    _outxCtsFlow = dcb.fOutxCtsFlow;
    _outxDsrFlow = dcb.fOutxDsrFlow;
    _dtrControl = dcb.fDtrControl;
    _rtsControl = dcb.fRtsControl;
    _eventChar = dcb.EvtChar;
    return system::ERROR_SUCCESS;
}

ErrorCode SerialDevice::getCommMask(std::uint32_t& mask) {
    std::lock_guard guard(_lock);
    if (const ErrorCode error = checkOpenLocked()) {
        return error;
    }
    mask = _mask;
    return system::ERROR_SUCCESS;
}

ErrorCode SerialDevice::setCommMask(std::uint32_t mask) {
    std::lock_guard guard(_lock);
    if (const ErrorCode error = checkOpenLocked()) {
        return error;
    }
    // Line changes up to now belong to the old mask.
    sampleLinesLocked();
    _mask = mask;
    _pendingEvents = 0;
    ++_maskGeneration;
    // A drain that happened before EV_TXEMPTY was asked for is not reported.
    std::uint32_t in = 0;
    std::uint32_t out = 0;
    if (_writesInProgress == 0 && queueLengthsLocked(in, out) == system::ERROR_SUCCESS && out == 0) {
        _txPending = false;
    }
    notifyWaiterLocked();
    return system::ERROR_SUCCESS;
}

ErrorCode SerialDevice::getCommTimeouts(COMMTIMEOUTS& timeouts) {
    std::lock_guard guard(_lock);
    if (const ErrorCode error = checkOpenLocked()) {
        return error;
    }
    timeouts = _timeouts;
    return system::ERROR_SUCCESS;
}

ErrorCode SerialDevice::setCommTimeouts(const COMMTIMEOUTS& timeouts) {
    std::lock_guard guard(_lock);
    if (const ErrorCode error = checkOpenLocked()) {
        return error;
    }
    _timeouts = timeouts;
    return system::ERROR_SUCCESS;
}

ErrorCode SerialDevice::purgeComm(std::uint32_t flags) {
    std::lock_guard guard(_lock);
    if (const ErrorCode error = checkOpenLocked()) {
        return error;
    }
    if ((flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) != 0) {
        return fail(system::ERROR_INVALID_PARAMETER);
    }
    const bool input = (flags & PURGE_RXCLEAR) != 0;
    const bool output = (flags & PURGE_TXCLEAR) != 0;
    if (input || output) {
        const long which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
        if (ioctlRetrying(_fd.get(), TCFLSH, reinterpret_cast<void*>(which)) < 0) {
            return failFromErrno();
        }
    }
    if (input) {
        _received.clear();
    }
    if (output) {
        notifyWaiterLocked();
    }
    return system::ERROR_SUCCESS;
}

ErrorCode SerialDevice::clearCommError(std::uint32_t* errors, COMSTAT* status) {
    std::lock_guard guard(_lock);
    if (const ErrorCode error = checkOpenLocked()) {
        return error;
    }
    if (lineLostLocked() && !bytesWaitingLocked()) {
        return fail(system::ERROR_DEVICE_NOT_CONNECTED);
    }
    sampleLinesLocked();
    std::uint32_t in = 0;
    std::uint32_t out = 0;
    if (const ErrorCode error = queueLengthsLocked(in, out)) {
        return error;
    }
    if (errors != nullptr) {
        *errors = _commErrors;
    }
    _commErrors = 0;
    if (status != nullptr) {
        status->cbInQue = in;
        status->cbOutQue = out;
    }
    return system::ERROR_SUCCESS;
}

ErrorCode SerialDevice::startCommWait(std::uint32_t& events, system::Event* notify) {
    std::lock_guard guard(_lock);
    if (const ErrorCode error = checkOpenLocked()) {
        return error;
    }
    // With nothing to wait for, the wait could never end.
    if (_mask == 0) {
        return fail(system::ERROR_INVALID_PARAMETER);
    }
    _waitGeneration = _maskGeneration;
    events = collectEventsLocked();
    if (events != 0) {
        return system::ERROR_SUCCESS;
    }
    // Events of bytes that came before a hang-up go first, then the loss.
    if (lineLostLocked()) {
        return fail(system::ERROR_DEVICE_NOT_CONNECTED);
    }
    _waitNotify = notify;
    return fail(system::ERROR_IO_PENDING);
}

ErrorCode SerialDevice::checkCommWait(std::uint32_t& events) {
    std::lock_guard guard(_lock);
    if (const ErrorCode error = checkOpenLocked()) {
        return error;
    }
    // A new mask ends the wait with no events.
    if (_waitGeneration != _maskGeneration) {
        events = 0;
        return system::ERROR_SUCCESS;
    }
    events = collectEventsLocked();
    if (events != 0) {
        return system::ERROR_SUCCESS;
    }
    return fail(lineLostLocked() ? system::ERROR_DEVICE_NOT_CONNECTED : system::ERROR_IO_PENDING);
}

void SerialDevice::endCommWait() noexcept {
    std::lock_guard guard(_lock);
    _waitNotify = nullptr;
}

short SerialDevice::commWaitEvents() const {
    std::lock_guard guard(_lock);
    // Without room in the receive buffer, readable input could not be looked at
    // and would only keep waking the wait.
    const bool scanning = (_mask & EV_RXFLAG) != 0 && _received.size() < _inQueueSize;
    return (_mask & EV_RXCHAR) != 0 || scanning ? POLLIN : 0;
}

std::uint32_t SerialDevice::commWaitPollInterval() const {
    std::lock_guard guard(_lock);
    if ((_mask & EV_TXEMPTY) != 0 && _txPending && _writesInProgress == 0) {
        return kDrainPollMs;
    }
    const bool counters = _haveCounters && (_mask & (EV_ERR | EV_BREAK)) != 0;
    const bool lines = _haveModemLines && (_mask & (EV_CTS | EV_DSR | EV_RLSD | EV_RING)) != 0;
    return counters || lines ? kLinePollMs : system::INFINITE;
}

ErrorCode SerialDevice::readFile(std::uint8_t* buffer, std::size_t length, std::size_t& transferred) {
    transferred = 0;
    std::lock_guard guard(_lock);
    if (const ErrorCode error = checkOpenLocked()) {
        return error;
    }
    if (buffer == nullptr && length > 0) {
        return fail(system::ERROR_INVALID_PARAMETER);
    }
    while (transferred < length && !_received.empty()) {
        buffer[transferred++] = _received.front();
        _received.pop_front();
    }
    while (transferred < length) {
        const ssize_t n = ::read(_fd.get(), buffer + transferred, length - transferred);
        if (n > 0) {
            transferred += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            break;
        }
        // A tty reads 0 bytes only once it has hung up (see open); bytes already
        // taken are delivered first.
        if (transferred > 0) {
            break;
        }
        return n == 0 ? fail(system::ERROR_DEVICE_NOT_CONNECTED) : failFromErrno();
    }
    const bool returnsAtOnce = _timeouts.ReadIntervalTimeout == MAXDWORD &&
                               _timeouts.ReadTotalTimeoutMultiplier == 0 &&
                               _timeouts.ReadTotalTimeoutConstant == 0;
    if (transferred < length && !returnsAtOnce) {
        return fail(system::ERROR_IO_PENDING);
    }
    return system::ERROR_SUCCESS;
}

void SerialDevice::beginWrite() {
    std::lock_guard guard(_lock);
    ++_writesInProgress;
}

ErrorCode SerialDevice::writeFile(const std::uint8_t* data, std::size_t length, std::size_t& written) {
    written = 0;
    std::lock_guard guard(_lock);
    if (const ErrorCode error = checkOpenLocked()) {
        return error;
    }
    if (data == nullptr && length > 0) {
        return fail(system::ERROR_INVALID_PARAMETER);
    }
    while (written < length) {
        const ssize_t n = ::write(_fd.get(), data + written, length - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n == 0 || errno == EAGAIN) {
            return fail(system::ERROR_IO_PENDING);
        } else {
            return failFromErrno();
        }
    }
    return system::ERROR_SUCCESS;
}

void SerialDevice::endWrite(bool wroteAny) {
    std::lock_guard guard(_lock);
    if (_writesInProgress > 0) {
        --_writesInProgress;
    }
    if (wroteAny) {
        _txPending = true;
    }
    notifyWaiterLocked();
}

// Callers ask only once nothing is left to read: bytes that arrived before a
// hang-up are delivered first, then the loss of the port.
bool SerialDevice::lineLostLocked() const {
    pollfd entry{_fd.get(), 0, 0};
    int ready = 0;
    do {
        ready = ::poll(&entry, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (entry.revents & (POLLHUP | POLLERR)) != 0;
}

bool SerialDevice::bytesWaitingLocked() {
    if (!_received.empty()) {
        return true;
    }
    int queued = 0;
    return ioctlRetrying(_fd.get(), TIOCINQ, &queued) == 0 && queued > 0;
}

void SerialDevice::pullInputLocked() {
    std::uint8_t chunk[512];
    while (_received.size() < _inQueueSize) {
        const std::size_t room = std::min(sizeof chunk, _inQueueSize - _received.size());
        const ssize_t n = ::read(_fd.get(), chunk, room);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return; // empty, or a hang-up that the next look reports
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (static_cast<char>(chunk[i]) == _eventChar && (_mask & EV_RXFLAG) != 0) {
                _pendingEvents |= EV_RXFLAG;
            }
            _received.push_back(chunk[i]);
        }
    }
}

void SerialDevice::sampleLinesLocked() {
    if (_haveCounters) {
        serial_icounter_struct now{};
        if (ioctlRetrying(_fd.get(), TIOCGICOUNT, &now) == 0) {
            std::uint32_t errors = 0;
            errors |= now.frame != _counters.frame ? CE_FRAME : 0;
            errors |= now.overrun != _counters.overrun ? CE_OVERRUN : 0;
            errors |= now.parity != _counters.parity ? CE_RXPARITY : 0;
            errors |= now.buf_overrun != _counters.bufferOverrun ? CE_RXOVER : 0;
            errors |= now.brk != _counters.brk ? CE_BREAK : 0;
            _commErrors |= errors;
            if ((errors & (CE_FRAME | CE_OVERRUN | CE_RXPARITY)) != 0) {
                _pendingEvents |= EV_ERR & _mask;
            }
            if ((errors & CE_BREAK) != 0) {
                _pendingEvents |= EV_BREAK & _mask;
            }
            _counters = {now.frame, now.overrun, now.parity, now.brk, now.buf_overrun};
        }
    }
    if (_haveModemLines) {
        int lines = 0;
        if (ioctlRetrying(_fd.get(), TIOCMGET, &lines) == 0) {
            const int changed = lines ^ _modemLines;
            std::uint32_t events = 0;
            events |= (changed & TIOCM_CTS) != 0 ? EV_CTS : 0;
            events |= (changed & TIOCM_DSR) != 0 ? EV_DSR : 0;
            events |= (changed & TIOCM_CAR) != 0 ? EV_RLSD : 0;
            events |= (changed & TIOCM_RNG) != 0 ? EV_RING : 0;
            _pendingEvents |= events & _mask;
            _modemLines = lines;
        }
    }
}

std::uint32_t SerialDevice::collectEventsLocked() {
    if ((_mask & EV_RXFLAG) != 0) {
        pullInputLocked();
    }
    sampleLinesLocked();
    std::uint32_t events = _pendingEvents & _mask;
    if ((_mask & EV_RXCHAR) != 0 && bytesWaitingLocked()) {
        events |= EV_RXCHAR;
    }
    if ((_mask & EV_TXEMPTY) != 0 && _txPending && _writesInProgress == 0) {
        std::uint32_t in = 0;
        std::uint32_t out = 0;
        if (queueLengthsLocked(in, out) == system::ERROR_SUCCESS && out == 0) {
            events |= EV_TXEMPTY;
            _txPending = false;
        }
    }
    _pendingEvents &= ~events;
    return events;
}

void SerialDevice::notifyWaiterLocked() {
    if (_waitNotify != nullptr) {
        _waitNotify->set();
    }
}

ErrorCode SerialDevice::queueLengthsLocked(std::uint32_t& in, std::uint32_t& out) {
    int kernelIn = 0;
    int kernelOut = 0;
    if (ioctlRetrying(_fd.get(), TIOCINQ, &kernelIn) < 0 ||
        ioctlRetrying(_fd.get(), TIOCOUTQ, &kernelOut) < 0) {
        // A hung-up line has no kernel queues, but what it delivered before is here.
        if (_received.empty()) {
            return failFromErrno();
        }
        kernelIn = 0;
        kernelOut = 0;
    }
    in = static_cast<std::uint32_t>(_received.size() + static_cast<std::size_t>(std::max(kernelIn, 0)));
    out = static_cast<std::uint32_t>(std::max(kernelOut, 0));
    return system::ERROR_SUCCESS;
}

} // namespace wyr::windows::communication
