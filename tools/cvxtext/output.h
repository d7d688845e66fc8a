// What cvxtext writes: UTF-8 text, JSON Lines and the chunk dump, each appended to a buffer.
#pragma once

#include "platform/platform.h"
#include "tools/cvxtext/extract.h"

#include <cstddef>
#include <string>
#include <string_view>

// UTF-16 to UTF-8, an unpaired surrogate as U+FFFD. Runs of ASCII are narrowed 16 units at a
// time (SSE2 where the compiler has it), and with SSSE3 (where the processor has it) text of
// ASCII and the two-byte range goes 8 units at a time; the output grows by what the text
// gives, no more.
void AppendUtf8(std::string* out, const WCHAR* text, std::size_t count);
// The same conversion one code unit at a time: the plain walk the fast one is measured against.
void AppendUtf8Simple(std::string* out, const WCHAR* text, std::size_t count);
// Units the conversions above and AppendJsonString take at a time: a surrogate pair across
// such a boundary must still come out as one character.
const std::size_t ConversionBlockUnits = 4096;

// The inner loops AppendUtf8 and AppendJsonString take: the fastest this processor has, or a
// plainer one, for tests and benchmarks to hold each against the others (they give the same
// bytes). Not while other threads convert.
enum class ConversionPath {
    Fastest,  // the default
    Sse2,     // ASCII runs 16 units at a time, the rest a unit at a time (as without SSSE3)
    Scalar,   // a unit at a time (as without SSE2)
};
void UseConversionPath(ConversionPath path);

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

enum class OutputFormat {
    Plain,   // each chunk's text followed by a line feed
    Json,    // one JSON Lines object: {"file": ..., "chunks": [...]} for a document read
             // whole; {"file": ..., "error": {...}} for one that failed, with "chunks" before
             // "error" when some were read before the failure
    Chunks,  // a readable dump: the file, then every chunk's STAT_CHUNK fields and its text,
             // then how the document ended
};

// One document in `format`, appended to *out as its chunks come: as a sink streaming during
// ExtractDocument, text goes from the filter's pieces straight into the output (the dump, which
// gives a chunk's length before its text, holds each chunk's text until its end). `shown` is
// the name as given, UTF-8, and must outlive the formatter.
class DocumentFormatter final : public ChunkTextSink {
public:
    DocumentFormatter(OutputFormat format, std::string* out, std::string_view shown);
    DocumentFormatter(const DocumentFormatter&) = delete;
    DocumentFormatter& operator=(const DocumentFormatter&) = delete;

    void BeginChunk(const ExtractedChunk& chunk) override;
    void ChunkText(const WCHAR* text, std::size_t count) override;
    void EndChunk(const ExtractedChunk& chunk) override;

    // The rest: the chunks of `document` past those already streamed (all of them for a
    // document read without streaming), then how it ended.
    void Finish(const DocumentText& document);

private:
    void Convert(const WCHAR* text, std::size_t count);

    OutputFormat Format;
    std::string* Out;
    std::size_t Chunks = 0;  // chunks begun
    WCHAR Pending = 0;       // a high surrogate that ended the last piece, else 0
    WideString Held;         // the dump: the chunk's text so far
};

// A whole document in `format`, as DocumentFormatter gives it.
void AppendDocument(std::string* out, OutputFormat format, std::string_view shown,
                    const DocumentText& document);
void AppendPlainText(std::string* out, const DocumentText& document);
void AppendJsonLine(std::string* out, std::string_view shown, const DocumentText& document);
void AppendChunkDump(std::string* out, std::string_view shown, const DocumentText& document);
