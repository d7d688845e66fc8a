#include "errors/file_helpers.h"

#include "errors/checked_calls.h"
#include "platform/fault.h"


ErrorBlock* OpenFileChecked(LPCWSTR path, HANDLE* handle)
{
    HANDLE opened = INVALID_HANDLE_VALUE;
    ErrorBlock* error = CheckedCreateFile(&opened, path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    *handle = error == nullptr && opened != INVALID_HANDLE_VALUE ? opened : nullptr;
    return error;
}

ErrorBlock* ReadExact(HANDLE file, LPVOID buffer, DWORD count)
{
    BYTE* next = static_cast<BYTE*>(buffer);
    while (count > 0) {
        DWORD got = 0;
        if (ErrorBlock* error = CheckedReadFile(file, next, count, &got))
            return error;
        if (got == 0)
            return RaiseProgramError(ProgramErrorShortRead);
        next += got;
        count -= got;
    }
    return nullptr;
}

ErrorBlock* GetFilePosition(HANDLE file, LONG* position)
{
    DWORD result = 0;
    if (ErrorBlock* error = CheckedSetFilePointer(&result, file, 0, FILE_CURRENT))
        return error;
    *position = static_cast<LONG>(result);
    return nullptr;
}

bool SeekTo(HANDLE file, LONG position)
{
    DWORD result = 0;
    return CheckedSetFilePointer(&result, file, position, FILE_BEGIN) != nullptr ||
           result != static_cast<DWORD>(position);
}

ErrorBlock* AtEndOfFile(HANDLE file, bool* atEnd)
{
    DWORD size = 0;
    if (ErrorBlock* error = CheckedGetFileSize(&size, file))
        return error;
    if (size == INVALID_FILE_SIZE)
        return nullptr;
    LONG position = 0;
    if (ErrorBlock* error = GetFilePosition(file, &position))
        return error;
    *atEnd = position >= static_cast<LONG>(size);
    return nullptr;
}

bool CloseDocument(HANDLE file)
{
    return CheckedCloseHandle(file) != nullptr;
}

ErrorBlock* AllocZeroed(void** output, SIZE_T size)
{
    *output = ZeroedAllocate(size == 0 ? 1 : size);
    if (*output == nullptr)
        return RaiseProgramError(ProgramErrorNoMemory);
    return nullptr;
}

void FreeAndClear(void** pointer)
{
    if (*pointer != nullptr)
        ZeroedFree(*pointer);
    *pointer = nullptr;
}
