// Checked system calls: each forwards its arguments and returns null on success, or the system
// error block labelled with the call's name on failure.
#pragma once

#include "errors/error_block.h"

// Stores the handle got (valid or not) in *handle; the detail is the file name.
ErrorBlock* CheckedCreateFile(HANDLE* handle, LPCWSTR fileName, DWORD desiredAccess,
                              DWORD shareMode, LPSECURITY_ATTRIBUTES securityAttributes,
                              DWORD creationDisposition, DWORD flagsAndAttributes,
                              HANDLE templateFile);
ErrorBlock* CheckedReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead);
// Stores the raw result in *result; the detail is empty.
ErrorBlock* CheckedSetFilePointer(DWORD* result, HANDLE file, LONG distanceToMove,
                                  DWORD moveMethod);
// Stores the raw result (the low half of the size) in *result.
ErrorBlock* CheckedGetFileSize(DWORD* result, HANDLE file);
ErrorBlock* CheckedCloseHandle(HANDLE object);
