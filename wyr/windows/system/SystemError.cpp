#include "wyr/windows/system/SystemError.h"

#include <cerrno>
#include <unordered_map>

namespace wyr::windows::system {

namespace {

thread_local ErrorCode t_lastError = ERROR_SUCCESS;

const std::unordered_map<ErrorCode, std::wstring>& messageTable() {
    static const std::unordered_map<ErrorCode, std::wstring> table{
        {ERROR_SUCCESS, L"The operation completed successfully."},
        {ERROR_INVALID_FUNCTION, L"Incorrect function."},
        {ERROR_FILE_NOT_FOUND, L"The system cannot find the file specified."},
        {ERROR_PATH_NOT_FOUND, L"The system cannot find the path specified."},
        {ERROR_TOO_MANY_OPEN_FILES, L"The system cannot open the file."},
        {ERROR_ACCESS_DENIED, L"Access is denied."},
        {ERROR_INVALID_HANDLE, L"The handle is invalid."},
        {ERROR_NOT_ENOUGH_MEMORY, L"Not enough memory resources are available to process this command."},
        {ERROR_INVALID_DATA, L"The data is invalid."},
        {ERROR_OUTOFMEMORY, L"Not enough memory resources are available to complete this operation."},
        {ERROR_NOT_READY, L"The device is not ready."},
        {ERROR_CRC, L"Data error (cyclic redundancy check)."},
        {ERROR_WRITE_FAULT, L"The system cannot write to the specified device."},
        {ERROR_READ_FAULT, L"The system cannot read from the specified device."},
        {ERROR_GEN_FAILURE, L"A device attached to the system is not functioning."},
        {ERROR_SHARING_VIOLATION,
         L"The process cannot access the file because it is being used by another process."},
        {ERROR_HANDLE_EOF, L"Reached the end of the file."},
        {ERROR_NOT_SUPPORTED, L"The request is not supported."},
        {ERROR_BAD_NETPATH, L"The network path was not found."},
        {ERROR_FILE_EXISTS, L"The file exists."},
        {ERROR_INVALID_PARAMETER, L"The parameter is incorrect."},
        {ERROR_OPEN_FAILED, L"The system cannot open the device or file specified."},
        {ERROR_BUFFER_OVERFLOW, L"The file name is too long."},
        {ERROR_DISK_FULL, L"There is not enough space on the disk."},
        {ERROR_CALL_NOT_IMPLEMENTED, L"This function is not supported on this system."},
        {ERROR_INSUFFICIENT_BUFFER, L"The data area passed to a system call is too small."},
        {ERROR_INVALID_NAME, L"The filename, directory name, or volume label syntax is incorrect."},
        {ERROR_BAD_ARGUMENTS, L"One or more arguments are not correct."},
        {ERROR_MAX_THRDS_REACHED, L"No more threads can be created in the system."},
        {ERROR_BUSY, L"The requested resource is in use."},
        {ERROR_ALREADY_EXISTS, L"Cannot create a file when that file already exists."},
        {ERROR_NO_DATA, L"The pipe is being closed."},
        {ERROR_MORE_DATA, L"More data is available."},
        {WAIT_TIMEOUT, L"The wait operation timed out."},
        {ERROR_DIRECTORY, L"The directory name is invalid."},
        {ERROR_NOT_OWNER, L"Attempt to release mutex not owned by caller."},
        {ERROR_INVALID_TOKEN, L"The token representing the data is invalid."},
        {ERROR_DATA_CHECKSUM_ERROR,
         L"A data integrity checksum error occurred. Data in the file stream is corrupt."},
        {ERROR_OPERATION_IN_PROGRESS, L"An operation is currently in progress with the device."},
        {ERROR_INVALID_ADDRESS, L"Attempt to access invalid address."},
        {ERROR_NOINTERFACE, L"No such interface supported."},
        {ERROR_OPERATION_ABORTED,
         L"The I/O operation has been aborted because of either a thread exit or an application request."},
        {ERROR_IO_PENDING, L"Overlapped I/O operation is in progress."},
        {ERROR_INVALID_FLAGS, L"Invalid flags."},
        {ERROR_BADDB, L"The configuration registry database is corrupt."},
        {ERROR_CANTREAD, L"The configuration registry key could not be read."},
        {ERROR_CANTWRITE, L"The configuration registry key could not be written."},
        {ERROR_REGISTRY_RECOVERED,
         L"One of the files in the registry database had to be recovered by use of a "
         L"log or alternate copy. The recovery was successful."},
        {ERROR_KEY_DELETED,
         L"Illegal operation attempted on a registry key that has been marked for deletion."},
        {ERROR_IO_DEVICE, L"The request could not be performed because of an I/O device error."},
        {ERROR_DEVICE_NOT_CONNECTED, L"The device is not connected."},
        {ERROR_BAD_DEVICE, L"The specified device name is invalid."},
        {ERROR_EXTENDED_ERROR, L"An extended error has occurred."},
        {ERROR_CANCELLED, L"The operation was canceled by the user."},
        {ERROR_CONNECTION_REFUSED, L"The remote computer refused the network connection."},
        {ERROR_ALREADY_INITIALIZED,
         L"An attempt was made to perform an initialization operation when initialization has already been "
         L"completed."},
        {ERROR_INVALID_WINDOW_HANDLE, L"Invalid window handle."},
        {ERROR_INVALID_THREAD_ID, L"Invalid thread identifier."},
        {ERROR_NO_SYSTEM_RESOURCES,
         L"Insufficient system resources exist to complete the requested service."},
        {ERROR_TIMEOUT, L"This operation returned because the timeout period expired."},
        {ERROR_NOT_CONNECTED, L"This network connection does not exist."},
        {ERROR_IPSEC_IKE_TIMED_OUT, L"Negotiation timed out"},
    };
    return table;
}

} // namespace

ErrorCode getLastError() noexcept {
    return t_lastError;
}

void setLastError(ErrorCode code) noexcept {
    t_lastError = code;
}

ErrorCode errorFromErrno(int errnoValue) noexcept {
    switch (errnoValue) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EBUSY:
        return ERROR_BUSY;
    case EWOULDBLOCK:
        return ERROR_SHARING_VIOLATION;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENAMETOOLONG:
        return ERROR_BUFFER_OVERFLOW;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case ENOSYS:
    case ENOTSUP:
        return ERROR_NOT_SUPPORTED;
    case EIO:
        return ERROR_IO_DEVICE;
    case ENODEV:
    case ENXIO:
        return ERROR_DEVICE_NOT_CONNECTED;
    case ETIMEDOUT:
        return ERROR_TIMEOUT;
    case ECANCELED:
        return ERROR_OPERATION_ABORTED;
    case EPIPE:
        return ERROR_NO_DATA;
    case EISDIR:
        return ERROR_DIRECTORY;
    case ENOTTY:
        return ERROR_INVALID_FUNCTION;
    case ECONNREFUSED:
        return ERROR_CONNECTION_REFUSED;
    default:
        return ERROR_GEN_FAILURE;
    }
}

ErrorCode setLastErrorFromErrno() noexcept {
    const ErrorCode code = errorFromErrno(errno);
    setLastError(code);
    return code;
}

const std::wstring& systemMessage(ErrorCode code) {
    static const std::wstring none;
    const auto& table = messageTable();
    const auto it = table.find(code);
    return it == table.end() ? none : it->second;
}

} // namespace wyr::windows::system
