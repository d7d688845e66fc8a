// The IFilter test procedure: named checks run on filter objects for one document, each check
// in several threads at once and many times over, against what the filter gave first.
#pragma once

#include "platform/platform.h"

#include <functional>
#include <string>
#include <vector>

// A new filter object for the document at `path`, loaded through its IPersistFile: the IFilter
// with one reference for the caller. On failure *filter is null and the answer says why.
using OpenFilter = std::function<HRESULT(LPCWSTR path, IFilter** filter)>;
// Called on each checking thread before it starts: that thread's way to filter objects, kept
// and dropped on that thread (so that per-thread set-up, such as a COM apartment, is done
// there).
using StartThread = std::function<OpenFilter()>;

// One chunk as taken: its description (a name attribute's pointer cleared, the name copied)
// and all of its text.
struct TakenChunk {
    STAT_CHUNK Stat;
    WideString AttributeName;
    WideString Text;
};

// All the chunks one Init gave, how GetChunk ended, and what broke the interface on the way.
struct Pass {
    std::vector<TakenChunk> Chunks;
    HRESULT End = FILTER_E_END_OF_CHUNKS;
    std::vector<std::string> Problems;
};

struct TakeOptions {
    ULONG BufferUnits = 4096;
    // After FILTER_S_LAST_TEXT ask once more, which must answer FILTER_E_NO_MORE_TEXT.
    bool AskAfterLastText = false;
};

// GetChunk and GetText until the chunks end, checking every answer against the interface:
// chunk ids unique and increasing, legal flags and break types, idChunkSource equal to idChunk,
// GetText answering only S_OK, FILTER_S_LAST_TEXT or FILTER_E_NO_MORE_TEXT with a count no
// larger than the buffer (0 with FILTER_E_NO_MORE_TEXT) and nothing written past it. Chunks
// the filter cannot reach (an embedding or link unavailable) are passed over, as a host does.
// Always ends, whatever the filter answers.
Pass TakeChunks(IFilter* filter, const TakeOptions& options);

// Where two passes differ, in words; empty when every description and every text is the same.
std::string Difference(const Pass& taken, const Pass& expected);

// "FILTER_E_NO_MORE_TEXT (0x80041701)".
std::string ResultText(HRESULT result);

// Names of the checks, in the order they run.
std::vector<std::string> CheckNames();

struct CheckSettings {
    unsigned Threads = 1;  // each runs every check with objects of its own, all at once
    unsigned Loops = 1;    // times each thread runs every check
    ULONG LargeBuffer = 1u << 18;      // units of the "large" buffer
    std::vector<std::string> Skipped;  // check names not to run
};

struct CheckOutcome {
    std::string Name;
    unsigned Runs = 0;
    unsigned Failures = 0;
    std::string Detail;  // of the first failure
};

// The checks run on one document; a check that never failed has Failures 0. When not even a
// first pass could be had, only that ("validation") is there.
std::vector<CheckOutcome> CheckDocument(LPCWSTR path, const OpenFilter& open,
                                        const StartThread& start, const CheckSettings& settings);
