// cvxtext's output conversion: UTF-16 to UTF-8 and to JSON strings, on each of its paths
// (fastest: with SSSE3; sse2; scalar) beside the per-unit walk it replaced (simple), and whole
// documents formatted as cvxtext writes them. Rates are of UTF-16 input (bytes_per_second,
// binary prefixes).
#include "tests/support/fixed_random.h"
#include "tools/cvxtext/output.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace {

enum class Kind {
    Prose,  // ASCII words, punctuation and line breaks
    Mixed,  // the same with 5% of its letters Latin-1 and some typographic quotes and dashes
    Cjk,    // ideographs with an ideographic full stop now and then, and a line break
};

const std::size_t TextUnits = std::size_t(1) << 20;

void AppendWord(WideString* text, FixedRandom& random, Kind kind)
{
    static const char16_t latin1[] = {0xE9, 0xE8, 0xE0, 0xFC, 0xF6, 0xE4, 0xE7, 0xF1, 0xDF, 0xC9};
    const unsigned letters = 1 + random.Below(9);
    for (unsigned index = 0; index < letters; ++index) {
        if (kind == Kind::Mixed && random.Below(20) == 0)
            text->push_back(static_cast<WCHAR>(latin1[random.Below(10)]));
        else
            text->push_back(static_cast<WCHAR>('a' + random.Below(26)));
    }
    if (kind == Kind::Mixed && random.Below(40) == 0) {
        static const char16_t typographic[] = {0x201C, 0x201D, 0x2013, 0x2014, 0x2026, 0x20AC};
        text->push_back(static_cast<WCHAR>(typographic[random.Below(6)]));
    }
    const unsigned after = random.Below(100);
    if (after < 8)
        text->push_back(',');
    else if (after < 14)
        text->push_back('.');
    text->push_back(after == 99 ? '\n' : ' ');
}

WideString MakeText(Kind kind)
{
    FixedRandom random(0x2545F4914F6CDD1Dull);
    WideString text;
    text.reserve(TextUnits + 16);
    while (text.size() < TextUnits) {
        if (kind != Kind::Cjk) {
            AppendWord(&text, random, kind);
            continue;
        }
        const unsigned roll = random.Below(64);
        text.push_back(static_cast<WCHAR>(roll == 0 ? 0x3002 : roll == 1 ? '\n'
                                                              : 0x4E00 + random.Below(0x5200)));
    }
    text.resize(TextUnits);
    return text;
}

const WideString& TextOf(Kind kind)
{
    static const WideString prose = MakeText(Kind::Prose);
    static const WideString mixed = MakeText(Kind::Mixed);
    static const WideString cjk = MakeText(Kind::Cjk);
    return kind == Kind::Prose ? prose : kind == Kind::Mixed ? mixed : cjk;
}

const char* Name(Kind kind)
{
    return kind == Kind::Prose ? "prose" : kind == Kind::Mixed ? "mixed" : "cjk";
}

using Conversion = void (*)(std::string*, const WCHAR*, std::size_t);

void Convert(benchmark::State& state, Kind kind, Conversion convert, ConversionPath path)
{
    const WideString& text = TextOf(kind);
    std::string out;
    UseConversionPath(path);
    for (auto _ : state) {
        out.clear();
        convert(&out, text.data(), text.size());
        benchmark::DoNotOptimize(out.data());
    }
    UseConversionPath(ConversionPath::Fastest);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size() * sizeof(WCHAR)));
}

// A document of 16 chunks of the text, formatted into a string that keeps its room from one
// document to the next, as cvxtext's workers keep theirs.
template <typename Format>
void FormatDocument(benchmark::State& state, Kind kind, Format format)
{
    const WideString& text = TextOf(kind);
    DocumentText document;
    const std::size_t chunks = 16;
    for (std::size_t index = 0; index < chunks; ++index) {
        ExtractedChunk chunk{};
        chunk.Stat.idChunk = static_cast<ULONG>(index + 1);
        chunk.Text.assign(text, index * (text.size() / chunks), text.size() / chunks);
        document.Chunks.push_back(std::move(chunk));
    }
    std::string out;
    for (auto _ : state) {
        out.clear();
        format(&out, document);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size() * sizeof(WCHAR)));
}

void PlainText(std::string* out, const DocumentText& document)
{
    AppendPlainText(out, document);
}

void JsonLine(std::string* out, const DocumentText& document)
{
    AppendJsonLine(out, "corpus/doc.zcv", document);
}

void JsonString(std::string* out, const WCHAR* text, std::size_t count)
{
    AppendJsonString(out, text, count);
}

const int Registered = [] {
    for (Kind kind : {Kind::Prose, Kind::Mixed, Kind::Cjk}) {
        const std::string name = Name(kind);
        const struct {
            const char* Name;
            ConversionPath Path;
        } paths[] = {{"fastest", ConversionPath::Fastest},
                     {"sse2", ConversionPath::Sse2},
                     {"scalar", ConversionPath::Scalar}};
        for (const auto& path : paths)
            benchmark::RegisterBenchmark(("Utf8/" + name + "/" + path.Name).c_str(), Convert,
                                         kind, AppendUtf8, path.Path);
        benchmark::RegisterBenchmark(("Utf8/" + name + "/simple").c_str(), Convert, kind,
                                     AppendUtf8Simple, ConversionPath::Fastest);
        for (const auto& path : paths)
            benchmark::RegisterBenchmark(("JsonString/" + name + "/" + path.Name).c_str(),
                                         Convert, kind, JsonString, path.Path);
        benchmark::RegisterBenchmark(("PlainTextDocument/" + name).c_str(),
                                     FormatDocument<decltype(&PlainText)>, kind, PlainText);
        benchmark::RegisterBenchmark(("JsonLineDocument/" + name).c_str(),
                                     FormatDocument<decltype(&JsonLine)>, kind, JsonLine);
    }
    return 0;
}();

}  // namespace

BENCHMARK_MAIN();
