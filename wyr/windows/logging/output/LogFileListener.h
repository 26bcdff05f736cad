#pragma once

#include "wyr/windows/logging/LogListener.h"
#include "wyr/windows/logging/TLogFilter.h"
#include "wyr/windows/logging/output/LogFileWriteThread.h"
#include "wyr/windows/system/threading/ThreadImpl.h"

#include <ext/stdio_filebuf.h>
#include <memory>
#include <ostream>
#include <string>

namespace wyr::windows::logging {

// Writes log messages as a pipe-separated text file, directly or through the
// background writer thread. All of it runs on the user-interface thread.
//
// The file is created afresh (mode 0600, any old file of that name removed
// first, never through a symbolic link), since log directories are often shared
// temporary ones.
class LogFileListener : public LogListener, public TLogFilter<LogFileListener> {
public:
    using WriterThread = system::threading::ThreadImpl<LogFileWriteThread>;
    static constexpr const char* kWriterThreadName = "Background Log Writer";

    LogFileListener();
    // Stops the writer and closes the file.
    ~LogFileListener() override;

    void onLogMessage(const LogVerbosity& verbosity, system::SYSTEMTIME time, const wchar_t* context,
                      const wchar_t* message) override;
    virtual void writeHeader();
    virtual std::string formatLine(const LogVerbosity& verbosity, const system::SYSTEMTIME& time,
                                   const wchar_t* context, const wchar_t* message);

    // Creates directory/name.log. 0; 87 when a file is open; 123 when the
    // directory still holds "%" after expansion or is no directory; else the
    // platform error. Does not connect the listener.
    system::ErrorCode open(const std::wstring& directory, const std::wstring& name);
    // Disconnects, writes "Log file closed" and closes the file.
    void close();
    bool isOpen() const noexcept;
    // The full path of the open file, empty when none.
    const std::string& path() const noexcept { return _path; }

    // Starts the writer thread on this file and, on success, sends lines through
    // it; logs the outcome as every thread owner does. 0 or create's error.
    system::ErrorCode startBackgroundWriter();
    // Writes what is queued, stops the writer and writes directly again. 0.
    system::ErrorCode stopBackgroundWriter();
    bool background() const noexcept { return _background; }
    void setBackground(bool background) noexcept { _background = background; }

    WriterThread& writerThread() noexcept { return _writer; }
    // The stream the writer thread is created with.
    std::ostream* stream() noexcept { return &_file; }

private:
    bool _background = false;
    std::unique_ptr<__gnu_cxx::stdio_filebuf<char>> _buffer;
    std::ostream _file{nullptr};
    std::string _path;
    WriterThread _writer;
};

} // namespace wyr::windows::logging
