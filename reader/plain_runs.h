// Runs of plain codes, the decoder's fast path through ordinary text.
//
// A plain code is a one-byte element that stands for itself: a run of them decodes to the same
// byte values widened to UTF-16, so it can be measured and copied many bytes at a time.
#pragma once

#include "platform/platform.h"

#include <cstddef>

// Printable ASCII (32-126) and Latin-1 from 161 on, but for the soft hyphen (173). The others
// are multi-byte, yield nothing, or map elsewhere (127-160, 173).
inline bool IsPlainCode(BYTE code)
{
    return (code >= 32 && code <= 126) || (code >= 161 && code != 173);
}

// The number of plain codes that open bytes[0, limit). Reads nothing outside that range.
std::size_t PlainRunLength(const BYTE* bytes, std::size_t limit);

// The same, and stores those codes widened into output[0, n); writes nothing beyond.
std::size_t WidenPlainRun(const BYTE* bytes, std::size_t limit, WCHAR* output);

// The implementations behind them, each callable on its own for tests and benchmarks: eight
// bytes at a time in plain C++, and sixteen with SSE2 where the compiler targets it.
std::size_t PlainRunLengthPortable(const BYTE* bytes, std::size_t limit);
std::size_t WidenPlainRunPortable(const BYTE* bytes, std::size_t limit, WCHAR* output);
#if defined(__SSE2__)
#define CVX_PLAIN_RUNS_SSE2 1
std::size_t PlainRunLengthSse2(const BYTE* bytes, std::size_t limit);
std::size_t WidenPlainRunSse2(const BYTE* bytes, std::size_t limit, WCHAR* output);
#endif
