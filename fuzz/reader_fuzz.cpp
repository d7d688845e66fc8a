// Fuzzes the document reader: the input is decoded as a text story body and scanned as a whole
// document. Any crash, out-of-bounds read, leak, disagreement between the decoding passes, or a
// scan that does not end is a finding.
#include "errors/file_helpers.h"
#include "reader/document_scan.h"
#include "reader/story_text.h"
#include "fuzz/scratch_file.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void DecodeAsStory(const BYTE* data, size_t size)
{
    TextStoryBody story{data, static_cast<DWORD>(size)};
    DWORD measured = 0;
    DecodeStoryText(&story, nullptr, &measured);
    std::vector<WCHAR> text(measured);
    DWORD filled = 0;
    DecodeStoryText(&story, text.data(), &filled);
    if (filled != measured)
        std::abort();
}

void ScanAsDocument(const BYTE* data, size_t size)
{
    const WideString path = WriteScratchFile(data, size);
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (OpenDocument(&handle, path.c_str()))
        std::abort();
    // Every record takes at least a header's 36 bytes, so a scan that ends makes at most this
    // many calls.
    const size_t callLimit = size / 36 + 2;
    size_t calls = 0;
    for (bool atEnd = false; !atEnd;) {
        if (++calls > callLimit)
            std::abort();
        WCHAR* text = nullptr;
        DWORD length = 0;
        bool failed = ReadNextStoryText(handle, &atEnd, &text, &length);
        if (!atEnd && !failed && (length == 0) != (text == nullptr))
            std::abort();
        FreeAndClear(&text);
    }
    CloseDocument(handle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DecodeAsStory(data, size);
    ScanAsDocument(data, size);
    return 0;
}
