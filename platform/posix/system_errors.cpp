#include "platform/posix/system_errors.h"

#include <cerrno>

namespace {

thread_local DWORD LastError = ERROR_SUCCESS;

}  // namespace

DWORD WINAPI GetLastError()
{
    return LastError;
}

void WINAPI SetLastError(DWORD code)
{
    LastError = code;
}

DWORD SystemErrorFromErrno(int error)
{
    switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS: return ERROR_WRITE_PROTECT;
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EAGAIN: return ERROR_LOCK_VIOLATION;
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EBUSY: return ERROR_BUSY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EINTR: return ERROR_OPERATION_ABORTED;
    case EIO: return ERROR_IO_DEVICE;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    default: return ERROR_GEN_FAILURE;
    }
}

bool Utf16ToUtf8(LPCWSTR text, std::string* utf8)
{
    utf8->clear();
    for (; *text != 0; ++text) {
        char32_t code = *text;
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (text[1] < 0xDC00 || text[1] > 0xDFFF)
                return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (text[1] - 0xDC00);
            ++text;
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;
        }
        if (code < 0x80) {
            utf8->push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            utf8->push_back(static_cast<char>(0xC0 | (code >> 6)));
            utf8->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            utf8->push_back(static_cast<char>(0xE0 | (code >> 12)));
            utf8->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            utf8->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            utf8->push_back(static_cast<char>(0xF0 | (code >> 18)));
            utf8->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            utf8->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            utf8->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return true;
}
