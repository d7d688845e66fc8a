#include "errors/checked_calls.h"

ErrorBlock* CheckedCreateFile(HANDLE* handle, LPCWSTR fileName, DWORD desiredAccess,
                              DWORD shareMode, LPSECURITY_ATTRIBUTES securityAttributes,
                              DWORD creationDisposition, DWORD flagsAndAttributes,
                              HANDLE templateFile)
{
    *handle = CreateFileW(fileName, desiredAccess, shareMode, securityAttributes,
                          creationDisposition, flagsAndAttributes, templateFile);
    if (*handle == INVALID_HANDLE_VALUE)
        return RaiseSystemError(U16("CreateFile"), U16("%s"), fileName);
    return nullptr;
}

ErrorBlock* CheckedReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead)
{
    if (!ReadFile(file, buffer, bytesToRead, bytesRead, nullptr))
        return RaiseSystemError(U16("ReadFile"), nullptr);
    return nullptr;
}

ErrorBlock* CheckedSetFilePointer(DWORD* result, HANDLE file, LONG distanceToMove,
                                  DWORD moveMethod)
{
    *result = SetFilePointer(file, distanceToMove, nullptr, moveMethod);
    if (*result == INVALID_SET_FILE_POINTER)
        return RaiseSystemError(U16("SetFilePointer"), U16(""));
    return nullptr;
}

ErrorBlock* CheckedGetFileSize(DWORD* result, HANDLE file)
{
    *result = GetFileSize(file, nullptr);
    if (*result == INVALID_FILE_SIZE)
        return RaiseSystemError(U16("GetFileSize"), nullptr);
    return nullptr;
}

ErrorBlock* CheckedCloseHandle(HANDLE object)
{
    if (!CloseHandle(object))
        return RaiseSystemError(U16("CloseHandle"), nullptr);
    return nullptr;
}
