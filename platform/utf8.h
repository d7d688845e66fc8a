// UTF-8 from the UTF-16 the system works in, for file names handed to POSIX, for .reg text and
// for cvxtext's output. Each caller decides what an unpaired surrogate becomes.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <string>

inline bool IsHighSurrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool IsLowSurrogate(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The code point of a surrogate pair.
inline char32_t CombineSurrogates(unsigned high, unsigned low)
{
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

inline void AppendUtf8CodePoint(std::string* out, char32_t code)
{
    if (code < 0x80) {
        out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (code >> 6)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (code >> 12)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (code >> 18)));
        out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// Appends `length` code units as UTF-8; false, at the first unpaired surrogate, when the text is
// not valid UTF-16 (what was appended before it stays).
inline bool AppendStrictUtf8(const WCHAR* text, std::size_t length, std::string* out)
{
    for (std::size_t index = 0; index < length; ++index) {
        const unsigned unit = text[index];
        if (IsHighSurrogate(unit) && index + 1 < length && IsLowSurrogate(text[index + 1]))
            AppendUtf8CodePoint(out, CombineSurrogates(unit, text[++index]));
        else if (IsHighSurrogate(unit) || IsLowSurrogate(unit))
            return false;
        else
            AppendUtf8CodePoint(out, unit);
    }
    return true;
}
