// Reader throughput: story decoding, with its plain-run fast path beside the element walk, and
// the record scan beside the system calls it makes.
#include "errors/file_helpers.h"
#include "reader/document_scan.h"
#include "reader/element_tables.h"
#include "reader/element_walk.h"
#include "reader/plain_runs.h"
#include "reader/story_text.h"
#include "tests/support/document_builder.h"
#include "tests/support/fixed_random.h"
#include "tests/support/test_files.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

namespace {

// Every run decodes the same stories.
const std::uint64_t BenchSeed = 0x9E3779B97F4A7C15ull;

template <size_t N>
BYTE Pick(FixedRandom& random, const BYTE (&codes)[N])
{
    return codes[random.Below(N)];
}

enum class Text {
    Ascii,     // words, spaces, punctuation and a paragraph break every 60-100 words
    Accented,  // the same with 5% of its letters Latin-1 or typographic codes, half each
    Controls,  // short words among control elements: codes 6, 7, 8 and 17 to 22
};

enum class GapAt { Start, Middle, End };

const char* Name(Text text)
{
    return text == Text::Ascii ? "ascii" : text == Text::Accented ? "accented" : "controls";
}

const char* Name(GapAt gap)
{
    return gap == GapAt::Start ? "gap_start" : gap == GapAt::Middle ? "gap_middle" : "gap_end";
}

void AppendControl(Bytes& text, FixedRandom& random)
{
    const BYTE codes[] = {6, 7, 8, 17, 18, 19, 20, 21, 22};
    const BYTE code = Pick(random, codes);
    const size_t start = text.size();
    text.resize(start + ElementLengthTable[code], 0);
    text[start] = code;
    if (code == 7)
        text[start + 1] = random.Below(2) ? 0x04 : 0x01;  // a space, or not
    if (code == 8) {
        text[start + 1] = 0x14;  // U+2014
        text[start + 2] = 0x20;
    }
}

// One word and what follows it, elements whole.
void AppendWord(Bytes& text, FixedRandom& random, Text kind, unsigned* wordsLeftInParagraph)
{
    const BYTE latin1[] = {0xE9, 0xE8, 0xE0, 0xFC, 0xF6, 0xE4, 0xE7, 0xF1, 0xDF, 0xC9};
    const BYTE typographic[] = {144, 145, 148, 149, 151, 152, 140};
    const unsigned letters = kind == Text::Controls ? 1 + random.Below(6) : 1 + random.Below(10);
    for (unsigned i = 0; i < letters; ++i) {
        if (kind == Text::Accented && random.Below(20) == 0)
            text.push_back(random.Below(2) ? Pick(random, latin1) : Pick(random, typographic));
        else
            text.push_back(static_cast<BYTE>('a' + random.Below(26)));
    }
    if (kind == Text::Controls && random.Below(2) == 0)
        AppendControl(text, random);
    if (--*wordsLeftInParagraph == 0) {
        text.push_back('.');
        text.push_back(13);
        *wordsLeftInParagraph = 60 + random.Below(40);
        return;
    }
    const unsigned mark = random.Below(12);
    if (mark == 0)
        text.push_back(',');
    else if (mark == 1)
        text.push_back('.');
    text.push_back(' ');
}

struct Story {
    Bytes Body;
    int64_t ElementBytes;
};

// A story of about `size` element bytes with a 512-byte gap at the given place, between
// elements.
Story MakeStory(Text kind, GapAt gap, size_t size)
{
    FixedRandom random(BenchSeed);
    Bytes text;
    text.reserve(size + 64);
    unsigned wordsLeft = 80;
    size_t gapAt = 0;
    if (gap != GapAt::Start) {
        while (text.size() < (gap == GapAt::Middle ? size / 2 : size))
            AppendWord(text, random, kind, &wordsLeft);
        gapAt = text.size();
    }
    while (text.size() < size)
        AppendWord(text, random, kind, &wordsLeft);

    const LONG gapSize = 512;
    StoryLayout header;  // counts only; the storage is appended below
    header.TextLength = static_cast<LONG>(text.size());
    header.Capacity = static_cast<LONG>(text.size()) + gapSize;
    header.GapPosition = static_cast<LONG>(gapAt);
    Story story{StoryBody(header), static_cast<int64_t>(text.size())};
    story.Body.reserve(StoryHeaderSize + text.size() + gapSize);
    story.Body.insert(story.Body.end(), text.begin(), text.begin() + gapAt);
    story.Body.insert(story.Body.end(), gapSize, 0xCC);
    story.Body.insert(story.Body.end(), text.begin() + gapAt, text.end());
    return story;
}

// The last story made: each is decoded by both walks, one after the other.
const Story& CachedStory(Text kind, GapAt gap, size_t size)
{
    static std::string key;
    static Story story;
    const std::string wanted = std::string(Name(kind)) + Name(gap) + std::to_string(size);
    if (key != wanted) {
        story = MakeStory(kind, gap, size);
        key = wanted;
    }
    return story;
}

using Decoder = void (*)(const TextStoryBody*, WCHAR*, DWORD*);

// Both passes, as the reader runs them: count, then fill a buffer of that size. Throughput is in
// element bytes (the gap and the counts not included).
void DecodeStory(benchmark::State& state, Decoder decode, Text kind, GapAt gap, size_t size)
{
    const Story& story = CachedStory(kind, gap, size);
    const TextStoryBody body{story.Body.data(), static_cast<DWORD>(story.Body.size())};
    DWORD count = 0;
    decode(&body, nullptr, &count);
    std::vector<WCHAR> output(count);
    for (auto _ : state) {
        decode(&body, nullptr, &count);
        decode(&body, output.data(), &count);
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * story.ElementBytes);
}

// Decode/<text>/<gap>/<size>/<walk>: the fast path and the element walk side by side, on the
// same story.
const bool DecodeRegistered = [] {
    const struct {
        Text Kind;
        GapAt Gap;
    } stories[] = {{Text::Ascii, GapAt::Middle},    {Text::Accented, GapAt::Middle},
                   {Text::Controls, GapAt::Middle}, {Text::Ascii, GapAt::Start},
                   {Text::Ascii, GapAt::End}};
    const struct {
        const char* Name;
        size_t Bytes;
    } sizes[] = {{"64KiB", 64 << 10}, {"16MiB", 16 << 20}};
    for (const auto& size : sizes) {
        for (const auto& story : stories) {
            const std::string name = std::string("Decode/") + Name(story.Kind) + "/" +
                                     Name(story.Gap) + "/" + size.Name;
            benchmark::RegisterBenchmark((name + "/plain_runs").c_str(), DecodeStory,
                                         DecodeStoryText, story.Kind, story.Gap, size.Bytes);
            benchmark::RegisterBenchmark((name + "/by_element").c_str(), DecodeStory,
                                         DecodeStoryTextByElement, story.Kind, story.Gap,
                                         size.Bytes);
        }
    }
    return true;
}();

// The run primitives alone on 64 KiB of plain codes, widening: the portable code is what the
// 32-bit Windows build runs.
void WidenRun(benchmark::State& state, size_t (*widen)(const BYTE*, size_t, WCHAR*))
{
    FixedRandom random(BenchSeed);
    Bytes bytes(64 << 10);
    for (BYTE& byte : bytes)
        byte = static_cast<BYTE>(' ' + random.Below(95));
    std::vector<WCHAR> output(bytes.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(widen(bytes.data(), bytes.size(), output.data()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK_CAPTURE(WidenRun, portable, WidenPlainRunPortable);
#if defined(CVX_PLAIN_RUNS_SSE2)
BENCHMARK_CAPTURE(WidenRun, sse2, WidenPlainRunSse2);
#endif

// 100,000 records of 16 to 64 bytes, none of them text.
const TempFile& ManySmallRecords()
{
    static const std::unique_ptr<TempFile> file = [] {
        FixedRandom random(BenchSeed);
        DocumentLayout layout;
        for (int i = 0; i < 100000; ++i)
            layout.Records.push_back(OtherRecord(1 + random.Below(4000), 16 + random.Below(49)));
        return std::make_unique<TempFile>(BuildDocument(layout));
    }();
    return *file;
}

// The scan over records it steps over, per record.
void ScanSkippingRecords(benchmark::State& state)
{
    const TempFile& file = ManySmallRecords();
    for (auto _ : state) {
        HANDLE handle = INVALID_HANDLE_VALUE;
        OpenDocument(&handle, file.Name());
        bool atEnd = false;
        WCHAR* text = nullptr;
        DWORD length = 0;
        while (!atEnd)
            ReadNextStoryText(handle, &atEnd, &text, &length);
        CloseDocument(handle);
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(ScanSkippingRecords);

// The system calls the scan makes for each record it steps over, made directly: the end-of-file
// check (the size and the position), the header read, the position, and the seek past the body.
void ScanSkippingRecordsCallsOnly(benchmark::State& state)
{
    const TempFile& file = ManySmallRecords();
    for (auto _ : state) {
        HANDLE handle = INVALID_HANDLE_VALUE;
        OpenDocument(&handle, file.Name());
        for (;;) {
            const DWORD size = GetFileSize(handle, nullptr);
            if (static_cast<LONG>(SetFilePointer(handle, 0, nullptr, FILE_CURRENT)) >=
                static_cast<LONG>(size))
                break;
            BYTE header[ChunkHeaderSize];
            DWORD got = 0;
            ReadFile(handle, header, ChunkHeaderSize, &got, nullptr);
            const DWORD recordLength = header[24] | header[25] << 8 | header[26] << 16 |
                                       static_cast<DWORD>(header[27]) << 24;
            const DWORD position = SetFilePointer(handle, 0, nullptr, FILE_CURRENT);
            SetFilePointer(handle, static_cast<LONG>(position + recordLength - ChunkHeaderSize),
                           nullptr, FILE_BEGIN);
        }
        CloseDocument(handle);
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(ScanSkippingRecordsCallsOnly);

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

// A document of small records and small stories, alternating: the scan and the story loading.
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
