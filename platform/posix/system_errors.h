// Internal helpers of the stand-in.
#pragma once

#include "platform/platform.h"

#include <string>

// The platform's error code for a POSIX errno value, as the platform reports the same condition.
DWORD SystemErrorFromErrno(int error);

// Converts a zero-terminated UTF-16 name to UTF-8; false when it holds an unpaired surrogate.
bool Utf16ToUtf8(LPCWSTR text, std::string* utf8);
