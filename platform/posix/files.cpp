// File calls of the stand-in, over POSIX descriptors.
//
// Handles index a table of open files, so that a closed or made-up handle is refused with
// ERROR_INVALID_HANDLE as the platform does. The table also records each open's access and share
// mode, so that conflicting opens inside the process fail with ERROR_SHARING_VIOLATION.
#include "platform/fault.h"
#include "platform/posix/system_errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct OpenFile {
    bool InUse;
    int Descriptor;
    DWORD Access;
    DWORD Share;
    dev_t Device;
    ino_t Inode;
};

std::mutex TableLock;
std::vector<OpenFile> Table;

HANDLE HandleOf(std::size_t slot)
{
    return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>((slot + 1) * 4));
}

// The slot of an open handle, or -1. Caller holds TableLock.
long SlotOf(HANDLE handle)
{
    ULONG_PTR value = reinterpret_cast<ULONG_PTR>(handle);
    if (value == 0 || value % 4 != 0)
        return -1;
    std::size_t slot = value / 4 - 1;
    if (slot >= Table.size() || !Table[slot].InUse)
        return -1;
    return static_cast<long>(slot);
}

// Looks a handle up; on failure sets ERROR_INVALID_HANDLE.
bool FindOpenFile(HANDLE handle, OpenFile* file)
{
    std::lock_guard<std::mutex> guard(TableLock);
    long slot = SlotOf(handle);
    if (slot < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    *file = Table[slot];
    return true;
}

bool SharingConflicts(const OpenFile& held, DWORD access, DWORD share)
{
    if ((access & GENERIC_READ) && !(held.Share & FILE_SHARE_READ))
        return true;
    if ((access & GENERIC_WRITE) && !(held.Share & FILE_SHARE_WRITE))
        return true;
    if ((held.Access & GENERIC_READ) && !(share & FILE_SHARE_READ))
        return true;
    if ((held.Access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE))
        return true;
    return false;
}

// Where open(2) says a name does not exist, the platform tells a missing file (its folder
// exists) from a missing path.
DWORD MissingNameError(const std::string& path)
{
    std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ERROR_FILE_NOT_FOUND;
    std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    struct stat status;
    if (stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        return ERROR_FILE_NOT_FOUND;
    return ERROR_PATH_NOT_FOUND;
}

}  // namespace

HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES, DWORD creationDisposition, DWORD, HANDLE)
{
    DWORD fault = 0;
    if (TakeFault(FaultCreateFile, &fault)) {
        SetLastError(fault);
        return INVALID_HANDLE_VALUE;
    }
    std::string path;
    if (fileName == nullptr || !Utf16ToUtf8(fileName, &path)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    int flags = O_CLOEXEC;
    if ((desiredAccess & GENERIC_READ) && (desiredAccess & GENERIC_WRITE))
        flags |= O_RDWR;
    else if (desiredAccess & GENERIC_WRITE)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    bool truncate = false;
    switch (creationDisposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT; truncate = true; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING:
        if (!(desiredAccess & GENERIC_WRITE)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        truncate = true;
        break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }

    struct stat before;
    bool existed = stat(path.c_str(), &before) == 0;
    int descriptor;
    do {
        descriptor = open(path.c_str(), flags, 0666);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
        int reason = errno;
        SetLastError(reason == ENOENT ? MissingNameError(path) : SystemErrorFromErrno(reason));
        return INVALID_HANDLE_VALUE;
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
        // A folder is not a file: the platform refuses it without backup semantics.
        close(descriptor);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }

    std::lock_guard<std::mutex> guard(TableLock);
    for (const OpenFile& held : Table) {
        if (held.InUse && held.Device == status.st_dev && held.Inode == status.st_ino &&
            SharingConflicts(held, desiredAccess, shareMode)) {
            close(descriptor);
            SetLastError(ERROR_SHARING_VIOLATION);
            return INVALID_HANDLE_VALUE;
        }
    }
    if (truncate && ftruncate(descriptor, 0) != 0) {
        int reason = errno;
        close(descriptor);
        SetLastError(SystemErrorFromErrno(reason));
        return INVALID_HANDLE_VALUE;
    }
    std::size_t slot = 0;
    while (slot < Table.size() && Table[slot].InUse)
        ++slot;
    if (slot == Table.size())
        Table.push_back(OpenFile{});
    Table[slot] = OpenFile{true, descriptor, desiredAccess, shareMode, status.st_dev, status.st_ino};
    bool reportsExisting = existed && (creationDisposition == CREATE_ALWAYS ||
                                       creationDisposition == OPEN_ALWAYS);
    SetLastError(reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return HandleOf(slot);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                     LPOVERLAPPED overlapped)
{
    if (bytesRead != nullptr)
        *bytesRead = 0;
    DWORD fault = 0;
    if (TakeFault(FaultReadFile, &fault)) {
        SetLastError(fault);
        return FALSE;
    }
    OpenFile open;
    if (!FindOpenFile(file, &open))
        return FALSE;
    if (overlapped != nullptr || bytesRead == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!(open.Access & GENERIC_READ)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    DWORD limit = ReadSizeLimit();
    if (limit != 0 && bytesToRead > limit)
        bytesToRead = limit;
    ssize_t got;
    do {
        got = read(open.Descriptor, buffer, bytesToRead);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        SetLastError(SystemErrorFromErrno(errno));
        return FALSE;
    }
    *bytesRead = static_cast<DWORD>(got);
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                      LPOVERLAPPED overlapped)
{
    if (bytesWritten != nullptr)
        *bytesWritten = 0;
    OpenFile open;
    if (!FindOpenFile(file, &open))
        return FALSE;
    if (overlapped != nullptr || bytesWritten == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!(open.Access & GENERIC_WRITE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const char* bytes = static_cast<const char*>(buffer);
    DWORD done = 0;
    while (done < bytesToWrite) {
        ssize_t put = write(open.Descriptor, bytes + done, bytesToWrite - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0) {
            *bytesWritten = done;
            SetLastError(SystemErrorFromErrno(errno));
            return FALSE;
        }
        done += static_cast<DWORD>(put);
    }
    *bytesWritten = done;
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh,
                            DWORD moveMethod)
{
    DWORD fault = 0;
    if (TakeFault(FaultSetFilePointer, &fault)) {
        SetLastError(fault);
        return INVALID_SET_FILE_POINTER;
    }
    OpenFile open;
    if (!FindOpenFile(file, &open))
        return INVALID_SET_FILE_POINTER;
    // Without a high half the distance is a signed 32-bit value; with one, the two halves make a
    // signed 64-bit distance.
    LONGLONG distance = distanceToMoveHigh == nullptr
                            ? static_cast<LONGLONG>(distanceToMove)
                            : static_cast<LONGLONG>((static_cast<ULONGLONG>(
                                                         static_cast<DWORD>(*distanceToMoveHigh))
                                                     << 32) |
                                                    static_cast<DWORD>(distanceToMove));
    LONGLONG origin;
    struct stat status;
    switch (moveMethod) {
    case FILE_BEGIN: origin = 0; break;
    case FILE_CURRENT: origin = lseek(open.Descriptor, 0, SEEK_CUR); break;
    case FILE_END:
        origin = fstat(open.Descriptor, &status) == 0 ? static_cast<LONGLONG>(status.st_size) : -1;
        break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_SET_FILE_POINTER;
    }
    if (origin < 0) {
        SetLastError(SystemErrorFromErrno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    LONGLONG target = origin + distance;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (lseek(open.Descriptor, static_cast<off_t>(target), SEEK_SET) < 0) {
        SetLastError(SystemErrorFromErrno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceToMoveHigh != nullptr)
        *distanceToMoveHigh = static_cast<LONG>(static_cast<ULONGLONG>(target) >> 32);
    DWORD low = static_cast<DWORD>(target);
    // A position whose low half looks like the failure value is told apart by a last error of 0.
    if (low == INVALID_SET_FILE_POINTER)
        SetLastError(ERROR_SUCCESS);
    return low;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD fileSizeHigh)
{
    DWORD fault = 0;
    if (TakeFault(FaultGetFileSize, &fault)) {
        SetLastError(fault);
        return INVALID_FILE_SIZE;
    }
    OpenFile open;
    if (!FindOpenFile(file, &open))
        return INVALID_FILE_SIZE;
    struct stat status;
    if (fstat(open.Descriptor, &status) != 0) {
        SetLastError(SystemErrorFromErrno(errno));
        return INVALID_FILE_SIZE;
    }
    ULONGLONG size = static_cast<ULONGLONG>(status.st_size);
    if (fileSizeHigh != nullptr)
        *fileSizeHigh = static_cast<DWORD>(size >> 32);
    DWORD low = static_cast<DWORD>(size);
    if (low == INVALID_FILE_SIZE)
        SetLastError(ERROR_SUCCESS);
    return low;
}

ULONG OpenFileHandles()
{
    std::lock_guard<std::mutex> guard(TableLock);
    ULONG open = 0;
    for (const OpenFile& file : Table)
        open += file.InUse ? 1 : 0;
    return open;
}

BOOL WINAPI CloseHandle(HANDLE object)
{
    DWORD fault = 0;
    if (TakeFault(FaultCloseHandle, &fault)) {
        SetLastError(fault);
        return FALSE;
    }
    // INVALID_HANDLE_VALUE is also the pseudo-handle of the current process, which closes
    // without complaint.
    if (object == INVALID_HANDLE_VALUE)
        return TRUE;
    int descriptor;
    {
        std::lock_guard<std::mutex> guard(TableLock);
        long slot = SlotOf(object);
        if (slot < 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        descriptor = Table[slot].Descriptor;
        Table[slot] = OpenFile{};
    }
    close(descriptor);
    return TRUE;
}
