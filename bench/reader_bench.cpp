// Reader throughput: decoding one large story, and scanning a document of many records.
#include "errors/file_helpers.h"
#include "reader/document_scan.h"
#include "reader/story_text.h"
#include "tests/support/document_builder.h"
#include "tests/support/test_files.h"

#include <benchmark/benchmark.h>

namespace {

// Prose-like elements: words, typographic characters, breaks, tabs and style elements.
std::vector<Element> ProseElements(size_t words)
{
    std::vector<Element> elements;
    for (size_t word = 0; word < words; ++word) {
        for (Element& e : Chars(word % 7 == 0 ? "caf\xE9" : "text"))
            elements.push_back(e);
        if (word % 50 == 49)
            elements.push_back(Break(13));
        else if (word % 23 == 0)
            elements.push_back(Tab());
        else if (word % 31 == 0)
            elements.push_back(Control(17));
        else
            elements.push_back(Char(32));
    }
    return elements;
}

void DecodeLargeStory(benchmark::State& state)
{
    StoryLayout layout{ProseElements(static_cast<size_t>(state.range(0))), 512};
    layout.GapAfter = layout.Elements.size() / 2;
    const Bytes body = StoryBody(layout);
    const TextStoryBody story{body.data(), static_cast<DWORD>(body.size())};
    std::vector<WCHAR> output;
    for (auto _ : state) {
        DWORD count = 0;
        DecodeStoryText(&story, nullptr, &count);
        output.resize(count);
        DecodeStoryText(&story, output.data(), &count);
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(DecodeLargeStory)->Arg(1000)->Arg(100000);

void ScanDocumentOfManyRecords(benchmark::State& state)
{
    DocumentLayout layout;
    for (int i = 0; i < state.range(0); ++i) {
        layout.Records.push_back(OtherRecord(1, 200));
        layout.Records.push_back(StoryRecord(StoryLayout{ProseElements(40)}));
    }
    TempFile file(BuildDocument(layout));
    for (auto _ : state) {
        HANDLE handle = INVALID_HANDLE_VALUE;
        OpenDocument(&handle, file.Name());
        for (bool atEnd = false; !atEnd;) {
            WCHAR* text = nullptr;
            DWORD length = 0;
            ReadNextStoryText(handle, &atEnd, &text, &length);
            FreeAndClear(&text);
        }
        CloseDocument(handle);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(ScanDocumentOfManyRecords)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
