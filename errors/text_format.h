// printf-style formatting of UTF-16 text, the same on every platform.
#pragma once

#include "platform/platform.h"

#include <cstdarg>

// Formats into `output` (capacity in code units, terminator included), truncating without
// splitting a surrogate pair. Directives: %s (UTF-16 text), %d, %u, %%. Returns the length.
DWORD FormatText(WCHAR* output, DWORD capacity, LPCWSTR format, ...);
DWORD FormatTextV(WCHAR* output, DWORD capacity, LPCWSTR format, va_list arguments);

// Length of a zero-terminated UTF-16 text.
DWORD WideLength(LPCWSTR text);
