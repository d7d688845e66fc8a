// File and memory helpers over the checked calls. Each returns null on success or an error
// block, unless said otherwise.
#pragma once

#include "errors/error_block.h"

// Opens an existing file for reading, letting others read but not write. *handle is the open
// handle, or 0 on failure.
ErrorBlock* OpenFileChecked(LPCWSTR path, HANDLE* handle);

// Reads exactly `count` bytes; a read that brings no bytes first gives program error 3. Bytes
// read before a failure stay in the buffer.
ErrorBlock* ReadExact(HANDLE file, LPVOID buffer, DWORD count);

// The current file position, as a signed 32-bit value.
ErrorBlock* GetFilePosition(HANDLE file, LONG* position);

// Moves to `position` from the start of the file. True when the file is not there afterwards:
// the call failed, with or without an error (the error block is made and dropped).
bool SeekTo(HANDLE file, LONG position);

// Sets *atEnd to (position >= size), both signed. Leaves *atEnd untouched when the size or the
// position cannot be had (the error is returned), or when the size reads as 0xFFFFFFFF.
ErrorBlock* AtEndOfFile(HANDLE file, bool* atEnd);

// Closes a document handle; true when closing failed.
bool CloseDocument(HANDLE file);

// Allocates `size` zero-filled bytes (1 when size is 0) into *output; on failure stores null
// and returns program error 2.
ErrorBlock* AllocZeroed(void** output, SIZE_T size);

// Releases a block from AllocZeroed, if any, and sets the pointer to null.
void FreeAndClear(void** pointer);

template <typename T>
ErrorBlock* AllocZeroed(T** output, SIZE_T size)
{
    void* block = nullptr;
    ErrorBlock* error = AllocZeroed(&block, size);
    *output = static_cast<T*>(block);
    return error;
}

template <typename T>
void FreeAndClear(T** pointer)
{
    void* block = *pointer;
    FreeAndClear(&block);
    *pointer = nullptr;
}
