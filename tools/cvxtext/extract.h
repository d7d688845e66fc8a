// Drives the filter for one document the way an indexing host does, and keeps what it gave.
#pragma once

#include "platform/platform.h"

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
// the document.
DocumentText ExtractDocument(IClassFactory* factory, LPCWSTR path);
