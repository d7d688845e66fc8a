// Whether a file is still held open by the filter, for tests and the fuzz targets.
#pragma once

#include "platform/platform.h"

// The filter opens documents sharing reading only, so an opener that shares nothing is refused
// while it holds one.
inline bool HeldOpen(LPCWSTR path)
{
    HANDLE probe = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return true;
    CloseHandle(probe);
    return false;
}
