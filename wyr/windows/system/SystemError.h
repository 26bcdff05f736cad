#pragma once

#include <cstdint>
#include <string>

namespace wyr::windows::system {

// Result codes keep the Windows system error numbering: the numbers appear in logs
// and notification records and steer callers.
using ErrorCode = std::uint32_t;

inline constexpr ErrorCode ERROR_SUCCESS = 0;
inline constexpr ErrorCode ERROR_INVALID_FUNCTION = 1;
inline constexpr ErrorCode ERROR_FILE_NOT_FOUND = 2;
inline constexpr ErrorCode ERROR_PATH_NOT_FOUND = 3;
inline constexpr ErrorCode ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr ErrorCode ERROR_ACCESS_DENIED = 5;
inline constexpr ErrorCode ERROR_INVALID_HANDLE = 6;
inline constexpr ErrorCode ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr ErrorCode ERROR_INVALID_DATA = 13;
inline constexpr ErrorCode ERROR_OUTOFMEMORY = 14;
inline constexpr ErrorCode ERROR_NOT_READY = 21;
inline constexpr ErrorCode ERROR_CRC = 23;
inline constexpr ErrorCode ERROR_WRITE_FAULT = 29;
inline constexpr ErrorCode ERROR_READ_FAULT = 30;
inline constexpr ErrorCode ERROR_GEN_FAILURE = 31;
inline constexpr ErrorCode ERROR_SHARING_VIOLATION = 32;
inline constexpr ErrorCode ERROR_HANDLE_EOF = 38;
inline constexpr ErrorCode ERROR_NOT_SUPPORTED = 50;
inline constexpr ErrorCode ERROR_BAD_NETPATH = 53;
inline constexpr ErrorCode ERROR_FILE_EXISTS = 80;
inline constexpr ErrorCode ERROR_INVALID_PARAMETER = 87;
inline constexpr ErrorCode ERROR_OPEN_FAILED = 110;
inline constexpr ErrorCode ERROR_BUFFER_OVERFLOW = 111;
inline constexpr ErrorCode ERROR_DISK_FULL = 112;
inline constexpr ErrorCode ERROR_CALL_NOT_IMPLEMENTED = 120;
inline constexpr ErrorCode ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr ErrorCode ERROR_INVALID_NAME = 123;
inline constexpr ErrorCode ERROR_BAD_ARGUMENTS = 160;
inline constexpr ErrorCode ERROR_MAX_THRDS_REACHED = 164;
inline constexpr ErrorCode ERROR_BUSY = 170;
inline constexpr ErrorCode ERROR_ALREADY_EXISTS = 183;
inline constexpr ErrorCode ERROR_NO_DATA = 232;
inline constexpr ErrorCode ERROR_MORE_DATA = 234;
inline constexpr ErrorCode WAIT_TIMEOUT = 258;
inline constexpr ErrorCode ERROR_DIRECTORY = 267;
inline constexpr ErrorCode ERROR_NOT_OWNER = 288;
inline constexpr ErrorCode ERROR_INVALID_TOKEN = 315;
inline constexpr ErrorCode ERROR_DATA_CHECKSUM_ERROR = 323;
inline constexpr ErrorCode ERROR_OPERATION_IN_PROGRESS = 329;
inline constexpr ErrorCode ERROR_INVALID_ADDRESS = 487;
inline constexpr ErrorCode ERROR_NOINTERFACE = 632;
inline constexpr ErrorCode ERROR_OPERATION_ABORTED = 995;
inline constexpr ErrorCode ERROR_IO_PENDING = 997;
inline constexpr ErrorCode ERROR_INVALID_FLAGS = 1004;
inline constexpr ErrorCode ERROR_BADDB = 1009;
inline constexpr ErrorCode ERROR_CANTREAD = 1012;
inline constexpr ErrorCode ERROR_CANTWRITE = 1013;
inline constexpr ErrorCode ERROR_REGISTRY_RECOVERED = 1014;
inline constexpr ErrorCode ERROR_KEY_DELETED = 1018;
inline constexpr ErrorCode ERROR_IO_DEVICE = 1117;
inline constexpr ErrorCode ERROR_DEVICE_NOT_CONNECTED = 1167;
inline constexpr ErrorCode ERROR_BAD_DEVICE = 1200;
inline constexpr ErrorCode ERROR_EXTENDED_ERROR = 1208;
inline constexpr ErrorCode ERROR_CANCELLED = 1223;
inline constexpr ErrorCode ERROR_CONNECTION_REFUSED = 1225;
inline constexpr ErrorCode ERROR_ALREADY_INITIALIZED = 1247;
inline constexpr ErrorCode ERROR_INVALID_WINDOW_HANDLE = 1400;
inline constexpr ErrorCode ERROR_INVALID_THREAD_ID = 1444;
inline constexpr ErrorCode ERROR_NO_SYSTEM_RESOURCES = 1450;
inline constexpr ErrorCode ERROR_TIMEOUT = 1460;
inline constexpr ErrorCode ERROR_NOT_CONNECTED = 2250;
inline constexpr ErrorCode ERROR_IPSEC_IKE_TIMED_OUT = 13813;

// The calling thread's last error, as the platform's GetLastError/SetLastError.
ErrorCode getLastError() noexcept;
void setLastError(ErrorCode code) noexcept;

// The nearest Windows code for an errno value (ENOENT -> 2, EACCES -> 5, EBUSY -> 170 ...).
ErrorCode errorFromErrno(int errnoValue) noexcept;

// Maps the current errno, stores it as the thread's last error and returns it.
ErrorCode setLastErrorFromErrno() noexcept;

// The Windows system message text of a code, without a trailing line break; empty
// for a code the table does not know.
const std::wstring& systemMessage(ErrorCode code);

} // namespace wyr::windows::system
