// Fuzzes the document reader: the input is decoded as a text story body and scanned as a whole
// document. Any crash, out-of-bounds read or write, leak, disagreement between the decoding
// passes (measuring and filling, fast path and element walk), text or allocation out of
// proportion to the input, or a scan that does not end is a finding.
#include "errors/file_helpers.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_file.h"
#include "platform/fault.h"
#include "reader/document_scan.h"
#include "reader/story_text.h"

#if __has_include("reader/element_walk.h")
#include "reader/element_walk.h"
#define CVX_FUZZ_ELEMENT_WALK 1
#endif

#include <cstring>
#include <memory>

namespace {

// Every element yields at most two code units and takes at least one position, and each present
// byte lies under at most two positions (one before the gap, one after): text is bounded by four
// code units per input byte.
unsigned long long TextBound(size_t size)
{
    return 4ull * size;
}

void DecodeAsStory(const BYTE* data, size_t size)
{
    const TextStoryBody story{data, static_cast<DWORD>(size)};
    DWORD measured = 0;
    DecodeStoryText(&story, nullptr, &measured);
    FUZZ_CHECK(measured <= TextBound(size));
    // Exactly the measured size on the heap, so that one unit too many is an overflow.
    std::unique_ptr<WCHAR[]> text(new WCHAR[measured]);
    DWORD filled = 0;
    DecodeStoryText(&story, text.get(), &filled);
    FUZZ_CHECK(filled == measured);

#ifdef CVX_FUZZ_ELEMENT_WALK
    DWORD walked = 0;
    DecodeStoryTextByElement(&story, nullptr, &walked);
    FUZZ_CHECK(walked == measured);
    std::unique_ptr<WCHAR[]> reference(new WCHAR[walked]);
    DecodeStoryTextByElement(&story, reference.get(), &walked);
    FUZZ_CHECK(walked == measured);
    FUZZ_CHECK(std::memcmp(text.get(), reference.get(), measured * sizeof(WCHAR)) == 0);
#endif
}

void ScanAsDocument(const BYTE* data, size_t size)
{
    const WideString path = WriteScratchFile(data, size);
    ResetFaults();  // the largest allocation is recorded from here on
    HANDLE handle = INVALID_HANDLE_VALUE;
    FUZZ_CHECK(!OpenDocument(&handle, path.c_str()));
    // Every record takes at least a header's 36 bytes, so a scan that ends makes at most this
    // many calls; and each story's text comes from bytes no other story loads.
    const size_t callLimit = size / 36 + 2;
    size_t calls = 0;
    unsigned long long total = 0;
    for (bool atEnd = false; !atEnd;) {
        FUZZ_CHECK(++calls <= callLimit);
        WCHAR* text = nullptr;
        DWORD length = 0;
        const bool failed = ReadNextStoryText(handle, &atEnd, &text, &length);
        if (failed || atEnd)
            FUZZ_CHECK(text == nullptr && length == 0);
        else
            FUZZ_CHECK((length == 0) == (text == nullptr));
        total += length;
        FreeAndClear(&text);
    }
    FUZZ_CHECK(total <= TextBound(size));
    // Body and text buffers follow the file's real size, whatever its counts say.
    FUZZ_CHECK(LargestAllocation() <= 2 * TextBound(size) + 1);
    FUZZ_CHECK(!CloseDocument(handle));
    FUZZ_CHECK(OpenFileHandles() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DecodeAsStory(data, size);
    ScanAsDocument(data, size);
    return 0;
}
