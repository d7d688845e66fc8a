// Drives the filter for one document the way an indexing host does, and keeps what it gave.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <string>
#include <vector>

// Units asked of each GetText call.
const ULONG TextBufferUnits = 4096;

// The call that failed.
enum class FilterStep { None, Module, CreateInstance, Load, Init, GetChunk, GetText };

struct ExtractedChunk {
    STAT_CHUNK Stat;           // as the filter gave it, less a name pointer (see AttributeName)
    WideString AttributeName;  // the property name of a PRSPEC_LPWSTR attribute
    WideString Text;           // all of the chunk's text, code units as given
};

// One document's outcome: the chunks read, and, when it was not read whole, why.
struct DocumentText {
    std::vector<ExtractedChunk> Chunks;  // also those read before a failure
    HRESULT Result = S_OK;               // S_OK when every story was read
    FilterStep FailedStep = FilterStep::None;
    ULONG StoriesPassedOver = 0;  // stories the filter could not hold in memory
    std::string Reason;           // the failure in words, filled in by the caller
};

// Load, Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES), then every chunk and its text, through a
// new filter object from `factory`, released before returning. A story the filter passes over
// for want of memory sets Result to E_OUTOFMEMORY and reading goes on; any other failure ends
// the document. With a sink streaming on this thread (StreamChunkText), the text goes there
// instead, and every chunk's Text stays empty.
DocumentText ExtractDocument(IClassFactory* factory, LPCWSTR path);

// Takes the chunks' text piece by piece as the filter hands it out, so that it is written out
// without first being gathered: BeginChunk for each chunk read (its Text still empty), ChunkText
// for each piece, in order (a piece may end between the two units of a surrogate pair), then
// EndChunk, also when the text failed partway.
class ChunkTextSink {
public:
    virtual void BeginChunk(const ExtractedChunk& chunk) = 0;
    virtual void ChunkText(const WCHAR* text, std::size_t count) = 0;
    virtual void EndChunk(const ExtractedChunk& chunk) = 0;

protected:
    ~ChunkTextSink() = default;
};

// While it lives, ExtractDocument on this thread gives the text to `sink` (for callers that
// reach ExtractDocument through others, such as ReadDocument). Nested, the innermost has it.
class StreamChunkText {
public:
    explicit StreamChunkText(ChunkTextSink* sink);
    ~StreamChunkText();
    StreamChunkText(const StreamChunkText&) = delete;
    StreamChunkText& operator=(const StreamChunkText&) = delete;

private:
    ChunkTextSink* Previous;
};
