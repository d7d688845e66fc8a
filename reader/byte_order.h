// Document integers are little-endian, whatever the machine.
#pragma once

#include "platform/platform.h"

inline LONG ReadLittleEndianLong(const BYTE* bytes)
{
    return static_cast<LONG>(static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
                             static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24);
}
