#include "device/OrvaneImpl.h"

#include "device/FramingCharacter.h"
#include "device/OrvaneMessage.h"
#include "device/OrvaneScanPhase.h"
#include "wyr/windows/communication/BaudRate.h"
#include "wyr/windows/communication/CommDefinitions.h"
#include "wyr/windows/communication/DataBits.h"
#include "wyr/windows/communication/FlowControl.h"
#include "wyr/windows/communication/Parity.h"
#include "wyr/windows/communication/StopBits.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/config/ConfigTypeMismatch.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/logging/LogBeacon.h"
#include "wyr/windows/system/MessageLoop.h"
#include "wyr/windows/system/TextConversion.h"
#include "wyr/windows/system/Wait.h"
#include "wyr/windows/system/threading/ThreadState.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

namespace device {

using namespace wyr::windows::system;
using wyr::windows::config::ConfigMgr;
using wyr::windows::config::ConfigValue;
using wyr::windows::logging::hexBytes;
using wyr::windows::logging::log;
using wyr::windows::logging::logEnabled;
using wyr::windows::logging::logSystemError;
using wyr::windows::logging::LogVerbosity;
using wyr::windows::logging::trace;
namespace comm = wyr::windows::communication;
using threading::ThreadState;

namespace {

void logOutgoing(const char* context, const std::uint8_t* data, std::uint32_t count) {
    if (logEnabled(LogVerbosity::DebugLevel4)) {
        log(LogVerbosity::DebugLevel4, context, L"Outgoing message %d bytes, [%ls]", static_cast<int>(count),
            hexBytes({data, count}).c_str());
    }
}

// False when the entry is missing or holds another type.
bool readInt(const std::wstring& name, std::int32_t& out) {
    try {
        return ConfigMgr::instance().getInt(name, out);
    } catch (const boost::bad_get&) {
        return false;
    }
}

bool isType(const tagNMORVANEHDR* header, const OrvaneNotificationType& type) {
    return header != nullptr && header->type != nullptr && *header->type == type;
}

} // namespace

OrvaneImpl::OrvaneImpl(std::wstring name)
    : _name(std::move(name)), _uiThread(currentThreadId()), _lifetime(std::make_shared<OrvaneImpl*>(this)),
      _parser(*this), _controlThread(*this), _serialThread(static_cast<OrvaneInterface&>(*this)) {
    // Made before this object is complete, so at program exit they go after it.
    wyr::windows::logging::LogBeacon::instance();
    ConfigMgr& config = ConfigMgr::instance();

    // The serial thread parses on its own copy of the parser for its whole life.
    _serialThread.object().setReadHandlers(
        [parser = _parser](Event* terminate, const std::uint8_t* data, const std::uint32_t& length,
                           std::uint32_t* consumed) mutable {
            return parser.parseIOBuffer(terminate, data, length, consumed);
        },
        {});
    restoreWriteHandlers();
    _configConnection = config.connect(
        [this](const std::wstring& key, const ConfigValue& value) { onConfigChange(key, value); });
}

OrvaneImpl::~OrvaneImpl() {
    // A timer still in the thread's queue finds the object gone. It is not killed
    // here: at program exit the thread's queue may already be gone too.
    _lifetime.reset();
    finalize();
    _configConnection.disconnect();
}

// ---------------------------------------------------------------------------
// Configuration

void OrvaneImpl::registerConfiguration() {
    trace("OrvaneImpl::registerConfiguration");
    for (const auto& [id, key] : OrvaneConfigKey::registry()) {
        if (key->transient()) {
            ConfigMgr::instance().define(key->fullName(_name), key->defaultValue(), true);
        }
    }
}

int OrvaneImpl::validateConfiguration() {
    static constexpr const char* kContext = "OrvaneImpl::validateConfiguration";
    trace(kContext);
    // Every key with a valid range, in id order.
    std::vector<const OrvaneConfigKey*> validated;
    for (const auto& [id, key] : OrvaneConfigKey::registry()) {
        if (key->validated()) {
            validated.push_back(key);
        }
    }
    std::vector<std::int32_t> values(validated.size());
    for (std::size_t i = 0; i < validated.size(); ++i) {
        if (!readInt(validated[i]->fullName(_name), values[i])) {
            log(LogVerbosity::Error, kContext, L"Invalid configuration detected <%ls>-<NOT SET>.",
                validated[i]->name().c_str());
            return validated[i]->group();
        }
    }
    for (std::size_t i = 0; i < validated.size(); ++i) {
        if (!validated[i]->accepts(values[i])) {
            log(LogVerbosity::Error, kContext, L"Invalid configuration detected <%ls>-<%d>.",
                validated[i]->name().c_str(), values[i]);
            return validated[i]->group();
        }
    }
    return 0;
}

void OrvaneImpl::setDefaultConfiguration(const int& group) {
    trace("OrvaneImpl::setDefaultConfiguration");
    for (const auto& [id, key] : OrvaneConfigKey::registry()) {
        if (group == -1 || key->group() == group) {
            ConfigMgr::instance().define(key->fullName(_name), key->defaultValue(), key->transient());
        }
    }
}

std::int32_t OrvaneImpl::configInt(const OrvaneConfigKey& key) const {
    std::int32_t value = 0;
    if (readInt(key.fullName(_name), value)) {
        return value;
    }
    const std::wstring& text = key.defaultValue();
    const auto bar = text.find(L'|');
    return bar == std::wstring::npos
               ? 0
               : static_cast<std::int32_t>(std::wcstol(text.c_str() + bar + 1, nullptr, 10));
}

void OrvaneImpl::onConfigChange(const std::wstring&, const ConfigValue&) {
    trace("OrvaneImpl::onConfigChange");
}

// ---------------------------------------------------------------------------
// Life cycle

ErrorCode OrvaneImpl::initialize() {
    static constexpr const char* kContext = "OrvaneImpl::initialize";
    trace(kContext);
    const ErrorCode error = initWorkerThreads();
    if (error != ERROR_SUCCESS) {
        logSystemError(error, kContext);
        finalize();
    }
    return error;
}

ErrorCode OrvaneImpl::initWorkerThreads() {
    trace("OrvaneImpl::initWorkerThreads");
    if (const ErrorCode error = createThread(_controlThread, L".Control", nullptr)) {
        return error;
    }
    return createThread(_serialThread, L".Serial", &_serial);
}

ErrorCode OrvaneImpl::createThread(threading::IThread& thread, const std::wstring& suffix, void* parameter) {
    static constexpr const char* kContext = "OrvaneImpl::initWorkerThreads";
    const std::string name = toNarrow(_name + suffix);
    if (const ErrorCode error = thread.create(name.c_str(), parameter)) {
        log(LogVerbosity::Error, kContext, L"Failed to create %s.", name.c_str());
        return error;
    }
    int priority = 0;
    thread.getPriority(priority);
    log(LogVerbosity::Information, kContext, L"Successfully created %s [0x%X], pritority : [%d].",
        name.c_str(), thread.threadId(), priority);
    return ERROR_SUCCESS;
}

void OrvaneImpl::finalize() {
    trace("OrvaneImpl::finalize");
    if (_serialThread.state() != ThreadState::Stopped) {
        _serialThread.shutdown(kThreadShutdownMs);
    }
    if (_controlThread.state() != ThreadState::Stopped) {
        _controlThread.shutdown(kThreadShutdownMs);
    }
    // A port a probe or a connection left open goes with the threads: the next
    // start, in this process or another, must be able to take it.
    closePort();
    _portNumber.store(0);
    {
        std::lock_guard guard(_stateLock);
        _deviceState = OrvaneDeviceState{};
    }
}

// ---------------------------------------------------------------------------
// Subscription and requests to the control thread

boost::signals2::connection OrvaneImpl::subscribe(const Callback& callback) {
    trace("OrvaneImpl::subscribe");
    return _broadcast.subscribe(callback);
}

void OrvaneImpl::unsubscribeAll() {
    trace("OrvaneImpl::unsubscribeAll");
    _broadcast.unsubscribeAll();
}

ErrorCode OrvaneImpl::interrogatePort(std::int32_t port, std::int32_t scanArg) {
    trace("OrvaneImpl::interrogatePort");
    return _controlThread.object().interrogatePort(port, scanArg);
}

ErrorCode OrvaneImpl::connect(std::int32_t port) {
    trace("OrvaneImpl::connect");
    return _controlThread.object().connect(port);
}

ErrorCode OrvaneImpl::disconnect(const DisconnectType& type, const std::uint32_t& reason) {
    trace("OrvaneImpl::disconnect");
    // The control thread gets the constant itself, whatever reference came in.
    const DisconnectType* constant = DisconnectType::fromValue(type.value());
    if (constant == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return _controlThread.object().disconnect(*constant, reason);
}

// ---------------------------------------------------------------------------
// Commands

ErrorCode OrvaneImpl::start() {
    trace("OrvaneImpl::start");
    std::vector<std::uint8_t> bytes;
    return queueCommand(OrvaneMessage::START_STREAMING,
                        OrvaneMessage::compose(bytes, OrvaneMessage::START_STREAMING));
}

ErrorCode OrvaneImpl::stop() {
    trace("OrvaneImpl::stop");
    std::vector<std::uint8_t> bytes;
    return queueCommand(OrvaneMessage::STOP_STREAMING,
                        OrvaneMessage::compose(bytes, OrvaneMessage::STOP_STREAMING));
}

ErrorCode OrvaneImpl::setFrameRate(const std::uint32_t& rate) {
    trace("OrvaneImpl::setFrameRate");
    std::vector<std::uint8_t> bytes;
    return queueCommand(OrvaneMessage::SET_FRAME_RATE,
                        OrvaneMessage::compose(bytes, OrvaneMessage::SET_FRAME_RATE, rate));
}

ErrorCode OrvaneImpl::setGain(const std::uint32_t& gain) {
    trace("OrvaneImpl::setGain");
    std::vector<std::uint8_t> bytes;
    return queueCommand(OrvaneMessage::SET_GAIN,
                        OrvaneMessage::compose(bytes, OrvaneMessage::SET_GAIN, gain));
}

ErrorCode OrvaneImpl::queueCommand(const OrvaneMessage& command, const std::vector<std::uint8_t>& bytes) {
    static constexpr const char* kContext = "OrvaneImpl::queueCommand";
    trace(kContext);
    const std::int32_t seconds = configInt(OrvaneConfigKey::CommandAckTimeout);
    {
        std::lock_guard guard(_commandLock);
        if (_pending) {
            log(LogVerbosity::Error, kContext, L"Failed to queue command.");
            logSystemError(ERROR_OPERATION_IN_PROGRESS, kContext);
            return ERROR_OPERATION_IN_PROGRESS;
        }
        // The timer of a command that was settled on another thread.
        if (_ackTimer != 0) {
            killTimer(_ackTimer);
            _ackTimer = 0;
        }
        _pending = std::make_unique<PendingCommand>(PendingCommand{&command, bytes});
    }
    _controlThread.object().stopWatchDog();

    const auto periodMs = static_cast<std::uint32_t>(std::max(1, seconds)) * 1000U;
    const TimerId timer = setTimer(periodMs, [self = std::weak_ptr<OrvaneImpl*>(_lifetime)](TimerId id) {
        if (const auto alive = self.lock()) {
            (*alive)->onCommandTimeout(id);
        }
    });
    {
        std::lock_guard guard(_commandLock);
        if (timer == 0) {
            // Unsupervised, the command must not block every later one.
            const ErrorCode error = getLastError();
            log(LogVerbosity::Error, kContext, L"::SetTimer() failed [%d].", error);
            logSystemError(error, kContext);
            _pending.reset();
        } else if (_pending) {
            _ackTimer = timer;
        } else {
            killTimer(timer); // already settled
        }
    }
    _serialThread.object().queueData(bytes.data(), static_cast<std::uint32_t>(bytes.size()), INFINITE);
    return ERROR_SUCCESS;
}

void OrvaneImpl::onCommandTimeout(TimerId timerId) {
    trace("OrvaneImpl::onCommandTimeout");
    std::unique_ptr<PendingCommand> pending;
    {
        std::lock_guard guard(_commandLock);
        if (_ackTimer == 0 || timerId != _ackTimer) {
            return;
        }
        killTimer(_ackTimer);
        _ackTimer = 0;
        pending = std::move(_pending);
    }
    if (!pending) {
        return; // acknowledged on the serial thread before the timer came round
    }
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[pending->bytes.size()]);
    std::copy(pending->bytes.begin(), pending->bytes.end(), copy.get());
    notify(new OrvaneCommandFailureNotification(portNumber(), *pending->command, std::move(copy)));
}

bool OrvaneImpl::commandPending() const {
    std::lock_guard guard(_commandLock);
    return _pending != nullptr;
}

void OrvaneImpl::settleCommand() {
    std::lock_guard guard(_commandLock);
    _pending.reset();
    // A thread timer can be killed only on its own thread; elsewhere it is left
    // to expire once, finding nothing pending.
    if (_ackTimer != 0 && currentThreadId() == _uiThread) {
        killTimer(_ackTimer);
        _ackTimer = 0;
    }
}

ErrorCode OrvaneImpl::acknowledge() {
    static constexpr const char* kContext = "OrvaneImpl::acknowledge";
    trace(kContext);
    std::vector<std::uint8_t> bytes;
    OrvaneMessage::compose(bytes, OrvaneMessage::ACK);
    logOutgoing(kContext, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    // A shutdown may cut the write short.
    _serial.writePort(bytes.data(), static_cast<std::uint32_t>(bytes.size()), INFINITE,
                      _serialThread.object().terminateEvent());
    return ERROR_SUCCESS;
}

ErrorCode OrvaneImpl::acknowledgeAt(std::chrono::steady_clock::time_point due) {
    trace("OrvaneImpl::acknowledgeAt");
    _serialThread.object().acknowledgeAt(due);
    return ERROR_SUCCESS;
}

std::int32_t OrvaneImpl::preWrite(Event*, const std::uint8_t* bytes, const std::uint32_t& count) {
    trace("OrvaneImpl::preWrite");
    logOutgoing("OrvaneImpl::preWrite", bytes, count);
    return static_cast<std::int32_t>(count);
}

void OrvaneImpl::setWriteComplete(OrvaneSerialThread::WriteCompleteHandler onComplete) {
    _serialThread.object().setWriteHandlers(
        [this](Event* terminate, const std::uint8_t* bytes, const std::uint32_t& count) {
            return preWrite(terminate, bytes, count);
        },
        std::move(onComplete));
}

void OrvaneImpl::restoreWriteHandlers() {
    setWriteComplete({});
}

std::shared_ptr<Event> OrvaneImpl::newEvent(Event::Reset reset, const char* context, bool named) {
    auto event = std::make_shared<Event>(reset, false);
    if (event->valid()) {
        return event;
    }
    const ErrorCode error = getLastError();
    if (named) {
        log(LogVerbosity::Error, context, L"::CreateEvent() failed! Reason [%d].", error);
    }
    logSystemError(error, context);
    setLastError(error);
    return nullptr;
}

ErrorCode OrvaneImpl::writeAndWait(const OrvaneMessage& command, const std::shared_ptr<Event>& done,
                                   const char* context) {
    auto written = std::make_shared<std::atomic<ErrorCode>>(ERROR_SUCCESS);
    setWriteComplete([done, written](Event*, const std::uint8_t*, const std::int32_t&,
                                     const ErrorCode& result, const std::uint32_t&) {
        written->store(result);
        done->set();
    });
    _controlThread.object().stopWatchDog();
    std::vector<std::uint8_t> bytes;
    OrvaneMessage::compose(bytes, command);
    _serialThread.object().queueData(bytes.data(), static_cast<std::uint32_t>(bytes.size()), INFINITE);
    const std::uint32_t wait = waitForSingle(*done, kResetWriteWaitMs);
    restoreWriteHandlers();
    if (wait != WAIT_OBJECT_0) {
        const ErrorCode error = wait == WAIT_FAILED ? getLastError() : wait;
        log(LogVerbosity::Error, context, L"::WaitForSingleObject() failed [%d], abandoning function call.",
            wait);
        logSystemError(error, context);
        return ERROR_BAD_DEVICE;
    }
    // The bytes left the queue but the port refused them: not a success.
    return written->load();
}

ErrorCode OrvaneImpl::resetDevice() {
    static constexpr const char* kContext = "OrvaneImpl::resetDevice";
    trace(kContext);
    const auto done = newEvent(Event::Reset::Auto, kContext);
    if (!done) {
        return getLastError();
    }
    return writeAndWait(OrvaneMessage::RESET, done, kContext);
}

ErrorCode OrvaneImpl::enterBootloader(comm::PortHandle& portOut) {
    static constexpr const char* kContext = "OrvaneImpl::enterBootloader";
    trace(kContext);
    const auto done = newEvent(Event::Reset::Auto, kContext);
    if (!done) {
        return getLastError();
    }
    unsubscribeAll();
    if (isOpen()) {
        if (const ErrorCode error = writeAndWait(OrvaneMessage::BOOTLOAD, done, kContext)) {
            return error;
        }
        log(LogVerbosity::Information, kContext, L"Write completed successfully.");
        // The serial thread lets go of the port before it changes hands.
        _serialThread.object().disable(newEvent(Event::Reset::Auto, kContext), portNumber());
        std::lock_guard guard(_portLock);
        portOut = _serial.detachHandle();
    }
    halt();
    finalize();
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Notifications

ErrorCode OrvaneImpl::notify(OrvaneNotification* record) {
    static constexpr const char* kContext = "OrvaneImpl::notify";
    trace(kContext);
    if (record == nullptr || record->type == nullptr) {
        OrvaneNotification::release(record, kContext);
        return ERROR_SUCCESS;
    }
    record->id = _messageId.fetch_add(1);
    const OrvaneNotificationType& type = *record->type;
    log(LogVerbosity::DebugLevel4, kContext, L"OrvaneNotification - Message ID [%llu], type[%d][%ls]",
        static_cast<unsigned long long>(record->id), type.value(), type.name().c_str());

    const bool acknowledged = type == OrvaneNotificationType::NotifyAcknowledge;
    const bool failed = type == OrvaneNotificationType::NotifyCommandFailure;
    if (acknowledged || failed) {
        _controlThread.object().startWatchDog();
    }
    if (acknowledged || failed || type == OrvaneNotificationType::NotifyDisconnect) {
        settleCommand();
    }
    if (const auto* state = OrvaneNotification::as<OrvaneStateNotification>(record)) {
        std::lock_guard guard(_stateLock);
        _deviceState = state->state;
        if (type == OrvaneNotificationType::NotifyHeartbeat) {
            _lastHeartbeatId.store(record->id);
        }
    } else if (auto* reading = OrvaneNotification::as<OrvaneReadingNotification>(record)) {
        std::lock_guard guard(_stateLock);
        if (_deviceState.antennaDisconnected()) {
            reading->reading1 = 0.0F;
            reading->reading2 = 0.0F;
            reading->reading3 = 0.0F;
        }
    }
    if (!_broadcast.post(record)) {
        const ErrorCode error = getLastError();
        log(LogVerbosity::Error, kContext, L"::PostMessage() failed! Reason [%d].", error);
        logSystemError(error, kContext);
    }
    return ERROR_SUCCESS;
}

const std::wstring& OrvaneImpl::name() const {
    trace("OrvaneImpl::name");
    return _name;
}

std::int32_t OrvaneImpl::portNumber() const {
    trace("OrvaneImpl::portNumber");
    return _portNumber.load();
}

bool OrvaneImpl::isOpen() const {
    trace("OrvaneImpl::isOpen");
    std::lock_guard guard(_portLock);
    return _serial.isOpen();
}

OrvaneDeviceState OrvaneImpl::deviceState() const {
    trace("OrvaneImpl::deviceState");
    std::lock_guard guard(_stateLock);
    return _deviceState;
}

// ---------------------------------------------------------------------------
// Control thread

std::uint32_t OrvaneImpl::waitOrShutdown(WaitableObject& object, std::uint32_t timeoutMs) {
    const std::uint32_t result = waitForAny({&object, _controlThread.object().terminateEvent()}, timeoutMs);
    if (result == WAIT_OBJECT_0 + 1) {
        log(LogVerbosity::DebugLevel2, "OrvaneImpl::waitOrShutdown",
            L"::WaitForMultipleObjects() became signaled via [_terminate], abandoning function call.");
    }
    return result;
}

void OrvaneImpl::onInterrogatePort(std::int32_t port, std::int32_t scanArg) {
    static constexpr const char* kContext = "OrvaneImpl::onInterrogatePort";
    trace(kContext);
    _portNumber.store(port);
    if (port == 0 && scanArg == 0) {
        notify(new OrvaneInterrogateNotification(OrvaneScanPhase::NotifyScanBegin, 0, 0, ERROR_SUCCESS));
        return;
    }
    notify(new OrvaneInterrogateNotification(OrvaneScanPhase::NotifyScanPort, port, scanArg, ERROR_SUCCESS));
    ErrorCode result = ERROR_CANCELLED;
    if (waitForSingle(*_controlThread.object().terminateEvent(), kScanPortPauseMs) != WAIT_OBJECT_0) {
        result = probe(port);
    }
    if (result != ERROR_SUCCESS) {
        abandonPort(port);
    }
    notify(new OrvaneInterrogateNotification(OrvaneScanPhase::NotifyScanResult, port, scanArg, result));
}

ErrorCode OrvaneImpl::probe(std::int32_t port) {
    static constexpr const char* kContext = "OrvaneImpl::onInterrogatePort";
    const auto responseWaitMs =
        static_cast<std::uint32_t>(std::max(0, configInt(OrvaneConfigKey::CommandAckTimeout))) * 1000U;
    const auto response = newEvent(Event::Reset::Auto, kContext);
    const auto writeComplete = response ? newEvent(Event::Reset::Manual, kContext) : nullptr;
    if (!writeComplete) {
        return ERROR_GEN_FAILURE;
    }
    if (const ErrorCode error = open(port)) {
        log(LogVerbosity::Error, kContext, L"Failed to open port [COM%d].", port);
        logSystemError(error, kContext);
        return ERROR_BAD_DEVICE;
    }
    const boost::signals2::scoped_connection answer = subscribe([response](const tagNMORVANEHDR* header) {
        if (isType(header, OrvaneNotificationType::NotifyAcknowledge)) {
            response->set();
        }
    });

    if (_serialThread.object().enable(response) != WAIT_OBJECT_0) {
        log(LogVerbosity::Error, kContext, L"Failed to enable serial thread on port [COM%d].", port);
        return ERROR_GEN_FAILURE;
    }

    setWriteComplete([writeComplete](Event*, const std::uint8_t*, const std::int32_t&, const ErrorCode&,
                                     const std::uint32_t&) { writeComplete->set(); });
    struct RestoreHandlers {
        OrvaneImpl* self;
        ~RestoreHandlers() { self->restoreWriteHandlers(); }
    } restore{this};

    writeComplete->reset();
    std::vector<std::uint8_t> bytes;
    OrvaneMessage::compose(bytes, OrvaneMessage::INTERROGATE);
    _serialThread.object().queueData(bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                     kInterrogateWriteTimeoutMs);
    log(LogVerbosity::DebugLevel2, kContext,
        L"::WaitForSingleObject() waiting for the [_serial_thread._write_complete] to become signaled.");
    const std::uint32_t written = waitOrShutdown(*writeComplete, kInterrogateWriteWaitMs);
    if (written == WAIT_OBJECT_0) {
        log(LogVerbosity::DebugLevel2, kContext,
            L"::WaitForSingleObject() became signaled via [_serial_thread._write_complete].");
    } else if (written == WAIT_OBJECT_0 + 1) {
        return ERROR_CANCELLED;
    } else if (written == WAIT_TIMEOUT) {
        log(LogVerbosity::Error, kContext,
            L"::WaitForSingleObject() failed (WAIT_TIMEOUT).  Abandoning operation.");
        return ERROR_BAD_DEVICE;
    } else if (written == WAIT_FAILED) {
        const ErrorCode error = getLastError();
        log(LogVerbosity::Error, kContext,
            L"::WaitForSingleObject() failed (WAIT_FAILED) [%d].  Abandoning operation.", error);
        logSystemError(error, kContext);
        return ERROR_BAD_DEVICE;
    }

    const std::uint32_t answered = waitOrShutdown(*response, responseWaitMs);
    if (answered == WAIT_OBJECT_0 + 1) {
        return ERROR_CANCELLED;
    }
    if (answered != WAIT_OBJECT_0) {
        log(LogVerbosity::Error, kContext,
            L"::WaitForSingleObject() failed [%d] on waiting for Orvane response, abandoning function call.",
            answered);
        logSystemError(answered, kContext);
        return ERROR_BAD_DEVICE;
    }
    return ERROR_SUCCESS;
}

void OrvaneImpl::onConnect(std::int32_t port) {
    static constexpr const char* kContext = "OrvaneImpl::onConnect";
    trace(kContext);
    ErrorCode result = ERROR_SUCCESS;
    const auto proven = newEvent(Event::Reset::Auto, kContext);
    if (!proven) {
        notify(new OrvaneConnectNotification(port, getLastError()));
        return;
    }
    setWriteComplete([proven](Event*, const std::uint8_t*, const std::int32_t&, const ErrorCode&,
                              const std::uint32_t&) { proven->set(); });
    {
        const boost::signals2::scoped_connection heartbeat =
            subscribe([proven](const tagNMORVANEHDR* header) {
                if (isType(header, OrvaneNotificationType::NotifyHeartbeat)) {
                    proven->set();
                }
            });
        const std::uint32_t wait = waitOrShutdown(*proven, kFirstHeartbeatWaitMs);
        if (wait != WAIT_OBJECT_0) {
            log(LogVerbosity::Error, kContext,
                L"::WaitForSingleObject() failed [%d], abandoning function call.", wait);
            logSystemError(wait, kContext);
            result = wait == WAIT_OBJECT_0 + 1 ? ERROR_CANCELLED : ERROR_BAD_DEVICE;
        }
    }
    // Before the notification: its subscribers may install hooks of their own
    // (resetDevice, enterBootloader) as soon as they see it.
    restoreWriteHandlers();
    auto* record = new OrvaneConnectNotification(port, result);
    log(LogVerbosity::DebugLevel4, kContext, L"Calling Notify() OrvaneNotification - type [%d][%ls]",
        record->type->value(), record->type->name().c_str());
    notify(record);

    if (result != ERROR_SUCCESS) {
        abandonPort(port);
    }
}

void OrvaneImpl::onDisconnect(const DisconnectType& type, std::uint32_t reason) {
    static constexpr const char* kContext = "OrvaneImpl::onDisconnect";
    trace(kContext);
    const std::int32_t port = portNumber();
    ErrorCode result = ERROR_SUCCESS;
    if (type == DisconnectType::Normal) {
        result = resetDevice();
    } else {
        log(LogVerbosity::Error, kContext, L"Abnormal disconnection from Orvane device! Reason [%d].",
            reason);
        logSystemError(reason, kContext);
    }
    halt();
    notify(new OrvaneDisconnectNotification(port, result));
    _messageId.store(1);
}

void OrvaneImpl::halt() {
    static constexpr const char* kContext = "OrvaneImpl::halt";
    trace(kContext);
    // Without its event the disable waits its full time instead.
    _serialThread.object().disable(newEvent(Event::Reset::Auto, kContext, true), portNumber());
    closePort();
    _portNumber.store(0);
    {
        std::lock_guard guard(_stateLock);
        _deviceState = OrvaneDeviceState{};
    }
    // Ids start again at 1, so an old heartbeat id must not pass for a new one.
    _lastHeartbeatId.store(0);
    _messageId.store(1);
}

void OrvaneImpl::abandonPort(std::int32_t port) {
    _serialThread.object().disable(newEvent(Event::Reset::Auto, "OrvaneImpl::abandonPort"), port);
    closePort();
    _portNumber.store(0);
    // An acknowledgement seen during the attempt armed the watchdog; idle, there
    // is nothing for it to watch.
    _controlThread.object().stopWatchDog();
}

void OrvaneImpl::closePort() {
    std::lock_guard guard(_portLock);
    _serial.close();
}

ErrorCode OrvaneImpl::open(std::int32_t port) {
    static constexpr const char* kContext = "OrvaneImpl::open";
    trace(kContext);
    const std::wstring path = L"\\\\.\\COM" + std::to_wstring(port);
    log(LogVerbosity::Information, kContext, L"Opening port [COM%d]", port);
    ErrorCode error = ERROR_SUCCESS;
    {
        std::lock_guard guard(_portLock);
        error = _serial.open(path);
    }
    if (error != ERROR_SUCCESS) {
        log(LogVerbosity::Error, kContext, L"Failed to open port [COM%d].", port);
        logSystemError(error, kContext);
        return error;
    }
    _serial.purgeBuffers();

    const auto* baudRate = comm::BaudRate::fromValue(configInt(OrvaneConfigKey::SerialBaudRate));
    const auto* dataBits = comm::DataBits::fromValue(configInt(OrvaneConfigKey::SerialDataBits));
    const auto* parity = comm::Parity::fromValue(configInt(OrvaneConfigKey::SerialParity));
    const auto* stopBits = comm::StopBits::fromValue(configInt(OrvaneConfigKey::SerialStopBits));
    const auto* flowControl = comm::FlowControl::fromValue(configInt(OrvaneConfigKey::SerialFlowControl));
    // Read for the firmware update; the link itself does not use them.
    static_cast<void>(configInt(OrvaneConfigKey::SerialWaitTimeout));
    static_cast<void>(configInt(OrvaneConfigKey::SerialReadTimeout));

    log(LogVerbosity::Information, kContext, L"Configuring port [COM%d]", port);
    error = baudRate != nullptr && dataBits != nullptr && parity != nullptr && stopBits != nullptr
                ? _serial.configure(static_cast<std::uint32_t>(baudRate->value()), *parity,
                                    static_cast<std::uint8_t>(dataBits->value()),
                                    static_cast<std::uint8_t>(stopBits->value()))
                : ERROR_INVALID_PARAMETER;
    if (error != ERROR_SUCCESS) {
        log(LogVerbosity::Error, kContext, L"Failed to set baud rate on port [COM%d].", port);
        return error;
    }
    error = flowControl != nullptr ? _serial.setFlowControl(*flowControl) : ERROR_INVALID_PARAMETER;
    if (error != ERROR_SUCCESS) {
        log(LogVerbosity::Error, kContext, L"Failed to set handshake on port [COM%d].", port);
        return error;
    }
    if ((error = _serial.setCommMask(comm::EV_ERR | comm::EV_TXEMPTY)) != ERROR_SUCCESS) {
        log(LogVerbosity::Error, kContext, L"Failed to set event mask (EV_ERR | EV_TXEMPTY) on port [COM%d].",
            port);
        return error;
    }
    if ((error = _serial.setEventChar(FramingCharacter::EndOfTransmission.character())) != ERROR_SUCCESS) {
        log(LogVerbosity::Error, kContext, L"Failed to set event mask (EV_RXFLAG) on port [COM%d].", port);
        return error;
    }
    _portNumber.store(port);
    return ERROR_SUCCESS;
}

} // namespace device
