#include "wyr/windows/logging/output/LogFileListener.h"

#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/Environment.h"
#include "wyr/windows/system/SystemTime.h"
#include "wyr/windows/system/TextConversion.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wyr::windows::logging {

using namespace wyr::windows::system;
using system::threading::ThreadState;

LogFileListener::LogFileListener() = default;

LogFileListener::~LogFileListener() {
    stopBackgroundWriter();
    close();
}

bool LogFileListener::isOpen() const noexcept {
    return _buffer != nullptr && _buffer->is_open();
}

std::string LogFileListener::formatLine(const LogVerbosity& verbosity, const SYSTEMTIME& time,
                                        const wchar_t* context, const wchar_t* message) {
    char fraction[32];
    std::snprintf(fraction, sizeof fraction, ".%03d|%d|", static_cast<int>(time.wMilliseconds),
                  verbosity.value());
    std::string line = formatTime(time, "%m/%d/%Y|%H:%M:%S");
    line += fraction;
    line += toNarrow(context != nullptr ? context : L"");
    line += '|';
    line += toNarrow(message != nullptr ? message : L"");
    line += '\n';
    return line;
}

void LogFileListener::writeHeader() {
    if (!isOpen()) {
        return;
    }
    _file << toNarrow(L"Date|Time|Verbosity|Context|Message\n");
    _file.flush();
}

void LogFileListener::onLogMessage(const LogVerbosity& verbosity, SYSTEMTIME time, const wchar_t* context,
                                   const wchar_t* message) {
    if (!isOpen() || !passes(verbosity)) {
        return;
    }
    const std::string line = formatLine(verbosity, time, context, message);
    if (_background) {
        // A queue that cannot be locked belongs to a stopping writer: the line is lost.
        _writer.object().queue(line);
        return;
    }
    _file << line;
    _file.flush();
}

ErrorCode LogFileListener::open(const std::wstring& directory, const std::wstring& name) {
    if (isOpen()) {
        return ERROR_INVALID_PARAMETER;
    }
    std::wstring folder = directory;
    if (folder.find(L'%') != std::wstring::npos) {
        folder = expandEnvironmentStrings(folder);
        if (folder.find(L'%') != std::wstring::npos) {
            return ERROR_INVALID_NAME;
        }
    }
    const std::string narrowFolder = toNarrow(folder);
    struct stat attributes {};
    if (::stat(narrowFolder.c_str(), &attributes) != 0) {
        return errorFromErrno(errno);
    }
    if (!S_ISDIR(attributes.st_mode)) {
        return ERROR_INVALID_NAME;
    }

    const std::string path = narrowFolder + "/" + toNarrow(name) + ".log";
    // Whatever has the name now (an old log, or a link somebody planted) goes; the
    // new file is created exclusively, so a link put there meanwhile makes the
    // creation fail instead of being followed.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return errorFromErrno(errno);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return setLastErrorFromErrno();
    }
    _buffer = std::make_unique<__gnu_cxx::stdio_filebuf<char>>(fd, std::ios::out);
    if (!_buffer->is_open()) {
        ::close(fd);
        _buffer.reset();
        return ERROR_OPEN_FAILED;
    }
    _file.rdbuf(_buffer.get());
    _path = path;

    writeHeader();
    onLogMessage(LogVerbosity::Information, getLocalTime(), L"wyr::windows::logging::LogFileListener::open",
                 L"Log file opened");
    return ERROR_SUCCESS;
}

void LogFileListener::close() {
    disconnect();
    // The writer must not hold the last lines, nor write to a closed stream.
    stopBackgroundWriter();
    if (!isOpen()) {
        return;
    }
    onLogMessage(LogVerbosity::Information, getLocalTime(), L"wyr::windows::logging::LogFileListener::close",
                 L"Log file closed");
    _file.flush();
    _file.rdbuf(nullptr);
    _buffer.reset();
    _path.clear();
}

ErrorCode LogFileListener::startBackgroundWriter() {
    constexpr const char* context = "wyr::windows::logging::LogFileListener::startBackgroundWriter";
    trace(context);
    const ErrorCode result = _writer.create(kWriterThreadName, stream());
    if (result != ERROR_SUCCESS) {
        log(LogVerbosity::Error, context, L"Failed to create %s.", kWriterThreadName);
        return result;
    }
    int priority = 0;
    _writer.getPriority(priority);
    log(LogVerbosity::Information, context, L"Successfully created %s [0x%X], pritority : [%d].",
        kWriterThreadName, _writer.threadId(), priority);
    _background = true;
    return ERROR_SUCCESS;
}

ErrorCode LogFileListener::stopBackgroundWriter() {
    if (!_background) {
        return ERROR_SUCCESS;
    }
    // Even a writer that ended by itself may have left lines in the queue.
    std::size_t waiting = 0;
    do {
        if (_writer.object().drain(0xFFFFFFFF) != ERROR_SUCCESS ||
            _writer.object().queueSize(waiting) != ERROR_SUCCESS) {
            break;
        }
    } while (waiting > 0);
    _background = false;
    if (_writer.state() != ThreadState::Stopped) {
        _writer.shutdown(2000);
    }
    return ERROR_SUCCESS;
}

} // namespace wyr::windows::logging
