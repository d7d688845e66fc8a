// Whole documents through the filter's COM interfaces, as an indexing host drives them (a new
// object per document; Load, Init, then GetChunk and GetText with 4096-unit buffers until the
// end), beside read() of the same page-cached file into a buffer: the floor any reader of the
// file pays. Their ratio is the filter's cost over reading the bytes.
#include "filter/class_id.h"
#include "filter/module.h"
#include "tests/support/document_builder.h"
#include "tests/support/test_files.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

const ULONG HostBufferUnits = 4096;

// Prose as documents hold it: mostly ASCII words, about 5% Latin-1 and typographic codes, line
// breaks, tabs and an occasional style element.
std::vector<Element> Prose(size_t bytes)
{
    static const char* const words[] = {"the", "menu", "season", "caf\xE9", "open", "daily",
                                        "cr\xE8me", "with", "\x94quoted\x95", "and", "pages",
                                        "layout", "na\xEFve", "story", "text\x8C", "frame"};
    std::vector<Element> elements;
    size_t size = 0;
    for (size_t word = 0; size < bytes; ++word) {
        for (Element& element : Chars(words[(word * 7 + word / 13) % 16])) {
            size += element.Data.size();
            elements.push_back(std::move(element));
        }
        Element gap = word % 97 == 96 ? Break(13) : word % 41 == 40 ? Tab()
                      : word % 211 == 210 ? Control(17) : Char(32);
        size += gap.Data.size();
        elements.push_back(std::move(gap));
    }
    return elements;
}

// A document of `megabytes` MiB: 1 MiB prose stories, each edited in place (its gap mid-text),
// with layout records between them.
Bytes ProseDocument(size_t megabytes)
{
    const std::vector<Element> prose = Prose(1 << 20);
    StoryLayout layout{prose, 256};
    layout.GapAfter = prose.size() / 2;
    DocumentLayout unit{Bytes(), {OtherRecord(4109, 200), StoryRecord(layout)}};
    const Bytes records = BuildDocument(unit);
    Bytes document = BuildDocument(DocumentLayout{});  // the preamble
    for (size_t story = 0; story < megabytes; ++story)
        document.insert(document.end(), records.begin(), records.end());
    return document;
}

struct Released {
    void operator()(IUnknown* object) const { object->Release(); }
};

// Reads the whole document through a new filter object; returns the code units read.
size_t ExtractThroughFilter(IClassFactory* factory, LPCWSTR path, WCHAR* buffer)
{
    IFilter* created = nullptr;
    if (factory->CreateInstance(nullptr, IID_IFilter, reinterpret_cast<void**>(&created)) != S_OK)
        return 0;
    const std::unique_ptr<IFilter, Released> filter(created);
    IPersistFile* file = nullptr;
    if (filter->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)) != S_OK)
        return 0;
    const HRESULT loaded = file->Load(path, STGM_READ);
    file->Release();
    ULONG flags = 0;
    if (loaded != S_OK || filter->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags) != S_OK)
        return 0;
    size_t units = 0;
    STAT_CHUNK chunk;
    while (filter->GetChunk(&chunk) == S_OK) {
        for (;;) {
            ULONG count = HostBufferUnits;
            const SCODE result = filter->GetText(&count, buffer);
            if (FAILED(result))
                break;
            units += count;
            benchmark::DoNotOptimize(buffer[0]);
            if (result == FILTER_S_LAST_TEXT)
                break;
        }
    }
    return units;
}

class PageCachedDocument : public benchmark::Fixture {
public:
    void SetUp(const benchmark::State& state) override
    {
        if (!File)
            File = std::make_unique<TempFile>(ProseDocument(static_cast<size_t>(state.range(0))));
    }

protected:
    static std::unique_ptr<TempFile> File;
};
std::unique_ptr<TempFile> PageCachedDocument::File;

BENCHMARK_DEFINE_F(PageCachedDocument, ExtractThroughComInterface)(benchmark::State& state)
{
    IClassFactory* factory = nullptr;
    if (DllGetClassObject(FilterClassId, IID_IClassFactory, reinterpret_cast<void**>(&factory)) != S_OK) {
        state.SkipWithError("no class factory");
        return;
    }
    std::vector<WCHAR> buffer(HostBufferUnits);
    size_t units = 0;
    for (auto _ : state)
        units = ExtractThroughFilter(factory, File->Name(), buffer.data());
    factory->Release();
    if (units == 0)
        state.SkipWithError("the document gave no text");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(std::filesystem::file_size(File->Path())));
    state.counters["text_units"] = static_cast<double>(units);
}
BENCHMARK_REGISTER_F(PageCachedDocument, ExtractThroughComInterface)
    ->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_DEFINE_F(PageCachedDocument, ReadTheFile)(benchmark::State& state)
{
    const size_t size = std::filesystem::file_size(File->Path());
    std::vector<char> buffer(size);
    for (auto _ : state) {
        const int descriptor = open(File->Path().c_str(), O_RDONLY);
        size_t done = 0;
        for (ssize_t got; done < size && (got = read(descriptor, buffer.data() + done, size - done)) > 0;)
            done += static_cast<size_t>(got);
        close(descriptor);
        benchmark::DoNotOptimize(buffer.data());
        if (done != size)
            state.SkipWithError("short read");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}
BENCHMARK_REGISTER_F(PageCachedDocument, ReadTheFile)
    ->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
