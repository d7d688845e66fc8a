// What cvxtext writes: UTF-8 text, JSON Lines and the chunk dump, each appended to a buffer.
#pragma once

#include "platform/platform.h"
#include "tools/cvxtext/extract.h"

#include <cstddef>
#include <string>
#include <string_view>

// UTF-16 to UTF-8, an unpaired surrogate as U+FFFD.
void AppendUtf8(std::string* out, const WCHAR* text, std::size_t count);
std::string Utf8Of(const WideString& text);

// UTF-8 to UTF-16. A surrogate written as a three-byte sequence (WTF-8, which is how
// cvxtext carries Windows names that hold one) comes back as that code unit; any other byte
// that is not well-formed UTF-8 reads as U+FFFD.
WideString Utf16Of(std::string_view text);

// A JSON string literal, quotes included, from which a JSON reader gets back every code unit:
// control characters, DEL, U+2028 and U+2029 and unpaired surrogates as \u escapes (lower-case
// hex), '"' and '\' escaped, everything else as UTF-8.
void AppendJsonString(std::string* out, const WCHAR* text, std::size_t count);

// "0x80041703".
std::string HresultText(HRESULT result);

// Each chunk's text followed by a line feed.
void AppendPlainText(std::string* out, const DocumentText& document);

// One JSON Lines object: {"file": ..., "chunks": [...]} for a document read whole;
// {"file": ..., "error": {...}} for one that failed, with "chunks" before "error" when some
// were read before the failure. `shown` is the name as given, UTF-8.
void AppendJsonLine(std::string* out, std::string_view shown, const DocumentText& document);

// A readable dump: the file, then every chunk's STAT_CHUNK fields and its text, then how the
// document ended.
void AppendChunkDump(std::string* out, std::string_view shown, const DocumentText& document);
