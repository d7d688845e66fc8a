// cvxtext's output: UTF-8 with U+FFFD for unpaired surrogates, JSON strings that give back
// every code unit, JSON Lines records and the chunk dump; the fast conversions against walks of
// one code unit at a time, and documents streamed piece by piece against the whole.
#include "filter/class_id.h"
#include "filter/module.h"
#include "tests/support/test_files.h"
#include "tools/cvxtext/files.h"
#include "tools/cvxtext/output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

namespace {

WideString Units(std::initializer_list<unsigned> units)
{
    WideString text;
    for (unsigned unit : units)
        text.push_back(static_cast<WCHAR>(unit));
    return text;
}

struct Conversion {
    const char* Name;
    WideString Text;
    std::string Utf8;
};

TEST(CvxtextOutput, Utf8OfUtf16)
{
    const Conversion cases[] = {
        {"ascii and line breaks", Units({'a', '\r', '\n', '\t', 0}), std::string("a\r\n\t\0", 5)},
        {"two-byte", Units({0xE9}), "\xC3\xA9"},
        {"three-byte", Units({0x20AC, 0xFFFF}), "\xE2\x82\xAC\xEF\xBF\xBF"},
        {"pair", Units({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80"},
        {"highest pair", Units({0xDBFF, 0xDFFF}), "\xF4\x8F\xBF\xBF"},
        {"high at the end", Units({'x', 0xD800}), "x\xEF\xBF\xBD"},
        {"high before a non-surrogate", Units({0xD800, 'y'}), "\xEF\xBF\xBDy"},
        {"low alone", Units({0xDC00}), "\xEF\xBF\xBD"},
        {"low then high", Units({0xDC00, 0xD800}), "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"high, high, low", Units({0xD800, 0xD83D, 0xDE00}), "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
    };
    for (const Conversion& test : cases) {
        SCOPED_TRACE(test.Name);
        EXPECT_EQ(Utf8Of(test.Text), test.Utf8);
    }
}

// ---- The block-wise conversions against walks of one code unit at a time. ----

void PutCode(std::string* out, char32_t code)
{
    if (code < 0x80) {
        out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (code >> 6)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (code >> 12)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (code >> 18)));
        out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

bool High(unsigned unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool Low(unsigned unit) { return unit >= 0xDC00 && unit < 0xE000; }

// Each unit on its own: a high surrogate followed by a low one is a pair, any other surrogate
// is unpaired. `unpaired` and `plain` say what becomes of those and of the other units.
template <typename Unpaired, typename Plain>
std::string ReferenceWalk(const WideString& text, Unpaired unpaired, Plain plain)
{
    std::string out;
    for (std::size_t index = 0; index < text.size(); ++index) {
        const unsigned unit = text[index];
        if (High(unit) && index + 1 < text.size() && Low(text[index + 1])) {
            PutCode(&out, 0x10000 + ((unit - 0xD800) << 10) + (text[index + 1] - 0xDC00));
            ++index;
        } else if (High(unit) || Low(unit)) {
            unpaired(&out, unit);
        } else {
            plain(&out, unit);
        }
    }
    return out;
}

std::string ReferenceUtf8(const WideString& text)
{
    return ReferenceWalk(
        text, [](std::string* out, unsigned) { PutCode(out, 0xFFFD); },
        [](std::string* out, unsigned unit) { PutCode(out, unit); });
}

void PutEscape(std::string* out, unsigned unit)
{
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", unit);
    *out += escape;
}

std::string ReferenceJson(const WideString& text)
{
    auto plain = [](std::string* out, unsigned unit) {
        const char* shortEscape = unit == '"'    ? "\\\""
                                  : unit == '\\' ? "\\\\"
                                  : unit == '\b' ? "\\b"
                                  : unit == '\f' ? "\\f"
                                  : unit == '\n' ? "\\n"
                                  : unit == '\r' ? "\\r"
                                  : unit == '\t' ? "\\t"
                                                 : nullptr;
        if (shortEscape != nullptr)
            *out += shortEscape;
        else if (unit < 0x20 || unit == 0x7F || unit == 0x2028 || unit == 0x2029)
            PutEscape(out, unit);
        else
            PutCode(out, unit);
    };
    return "\"" + ReferenceWalk(text, PutEscape, plain) + "\"";
}

// Converts `text` placed `offset` units into a buffer (to vary its alignment), after a prefix
// that must stay, and checks both conversions against the walks above.
void ExpectAsReference(const WideString& text, std::size_t offset = 0)
{
    WideString placed(offset, 'p');
    placed += text;
    const WCHAR* start = placed.data() + offset;
    std::string utf8 = "<";
    AppendUtf8(&utf8, start, text.size());
    std::string json = "<";
    AppendJsonString(&json, start, text.size());
    std::string simple = "<";
    AppendUtf8Simple(&simple, start, text.size());
    const std::string expected = "<" + ReferenceUtf8(text);
    // One failure tells enough; the text can be long.
    ASSERT_EQ(utf8, expected) << "offset " << offset << ": " << Printable(text);
    ASSERT_EQ(simple, expected) << "offset " << offset << ": " << Printable(text);
    ASSERT_EQ(json, "<" + ReferenceJson(text)) << "offset " << offset << ": " << Printable(text);
}

// Units where the conversions change course: the ends of each UTF-8 length, the surrogate
// ranges, what JSON escapes.
const unsigned EdgeUnits[] = {0x00,   0x01,   0x08,   0x09,   0x0A,   0x0D,   0x1F,   0x20,
                              0x22,   0x2F,   0x5C,   0x7E,   0x7F,   0x80,   0x81,   0xFF,
                              0x100,  0x7FF,  0x800,  0x801,  0x2028, 0x2029, 0x7FFF, 0x8000,
                              0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFF80, 0xFFFD,
                              0xFFFE, 0xFFFF};

TEST(CvxtextOutput, ConversionsMatchTheWalkOnEveryUnit)
{
    // Every unit from 0 to 0xFFFF, each after an ASCII run of a different length, so that each
    // meets the run's end at many alignments; then the same with the units in pairs' order.
    WideString text;
    for (unsigned unit = 0; unit <= 0xFFFF; ++unit) {
        text.append(unit % 37, static_cast<WCHAR>('a' + unit % 26));
        text.push_back(static_cast<WCHAR>(unit));
    }
    ExpectAsReference(text);
    WideString pairs;
    for (unsigned low = 0xDC00; low < 0xE000; ++low) {
        pairs.push_back(static_cast<WCHAR>(0xD800 + (low & 0x3FF)));
        pairs.push_back(static_cast<WCHAR>(low));
        pairs.append(low % 19, 'z');
    }
    ExpectAsReference(pairs);
}

TEST(CvxtextOutput, ConversionsMatchTheWalkAroundAsciiRuns)
{
    // An ASCII run of every length up to past two vector widths, at every alignment, between
    // any two edge units: unpaired surrogates and halves of pairs meet the run at both ends.
    // Runs of U+0000 too, which hide no bits of the unit after them.
    const std::vector<WideString> ends = {
        WideString(),   Units({0xD83D, 0xDE00}), Units({0xDBFF}), Units({0xDC00}),
        Units({0x00}),  Units({'"'}),            Units({0x7F}),   Units({0x80}),
        Units({0x7FF}), Units({0x800}),          Units({0xFFFF})};
    for (WCHAR filler : {WCHAR('r'), WCHAR(0)}) {
        for (std::size_t length = 0; length <= 40; ++length) {
            const WideString run(length, filler);
            for (std::size_t offset = 0; offset < 8; ++offset) {
                for (const WideString& before : ends) {
                    for (const WideString& after : ends)
                        ExpectAsReference(before + run + after, offset);
                }
            }
        }
    }
}

TEST(CvxtextOutput, ConversionsMatchTheWalkOnRandomText)
{
    // Mostly ASCII runs of random length, with edge units, pairs and their halves between them.
    std::mt19937 random(2026);
    auto below = [&random](unsigned bound) { return static_cast<unsigned>(random() % bound); };
    for (int round = 0; round < 300; ++round) {
        WideString text;
        const unsigned pieces = below(60);
        for (unsigned piece = 0; piece < pieces; ++piece) {
            text.append(below(50), static_cast<WCHAR>(0x20 + below(0x60)));
            const unsigned kind = below(5);
            if (kind == 0)
                text += Units({EdgeUnits[below(std::size(EdgeUnits))]});
            else if (kind == 1)
                text += Units({0xD800 + below(0x400), 0xDC00 + below(0x400)});
            else if (kind == 2)
                text += Units({0xD800 + below(0x800)});
            else if (kind == 3)
                text += Units({0x80 + below(0xFF80)});
        }
        ExpectAsReference(text, below(16));
    }
}

TEST(CvxtextOutput, ConversionsKeepPairsWholeAcrossBlocks)
{
    // The text goes a block at a time: a pair, or an unpaired high surrogate, at every position
    // around the ends of the first two blocks.
    const std::size_t block = ConversionBlockUnits;
    const struct {
        const char* Name;
        WideString Units;
    } cases[] = {
        {"pair", Units({0xDBFF, 0xDFFF})},
        {"high alone", Units({0xD800, 'x'})},
        {"high at the end", Units({0xD800})},
        {"low alone", Units({0xDC00})},
        {"high, high, low", Units({0xD800, 0xD83D, 0xDE00})},
        {"two-byte", Units({0xE9})},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Name);
        for (std::size_t end : {block, 2 * block}) {
            for (std::size_t at = end - 3; at <= end + 1; ++at) {
                WideString text(at, 'a');
                text += test.Units;
                ExpectAsReference(text);
                ExpectAsReference(text + WideString(5, 'b'));
            }
        }
    }
}

TEST(CvxtextOutput, Utf16OfUtf8)
{
    const Conversion cases[] = {
        {"well-formed", Units({'a', 0xE9, 0x20AC, 0xD83D, 0xDE00}),
         "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"encoded surrogate comes back as the unit", Units({0xD800, 'x', 0xDFFF}),
         "\xED\xA0\x80x\xED\xBF\xBF"},
        {"stray continuation", Units({0xFFFD, 'a'}), "\x80" "a"},
        {"cut short", Units({'a', 0xFFFD, 0xFFFD}), "a\xE2\x82"},
        {"overlong", Units({0xFFFD, 0xFFFD}), "\xC0\xAF"},
        {"overlong three-byte", Units({0xFFFD, 0xFFFD, 0xFFFD}), "\xE0\x80\xAF"},
        {"beyond U+10FFFF", Units({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}), "\xF4\x90\x80\x80"},
        {"invalid lead", Units({0xFFFD, 'z'}), "\xFFz"},
    };
    for (const Conversion& test : cases) {
        SCOPED_TRACE(test.Name);
        EXPECT_EQ(Utf16Of(test.Utf8), test.Text);
    }
}

#ifdef _WIN32
TEST(CvxtextOutput, Wtf8CarriesEveryWindowsName)
{
    for (const WideString& name : {Units({'a', 0xD800, 'b'}), Units({0xDC00}),
                                   Units({0xDBFF, 0xD83D, 0xDE00, 0xDFFF}), Units({0xE9})}) {
        SCOPED_TRACE(Printable(name));
        EXPECT_EQ(Utf16Of(Wtf8Of(name.data(), name.size())), name);
    }
}
#endif

TEST(CvxtextOutput, JsonStringEscapes)
{
    const Conversion cases[] = {
        {"quote and backslash", Units({'"', '\\', '/'}), R"("\"\\/")"},
        {"short escapes", Units({'\b', '\f', '\n', '\r', '\t'}), R"("\b\f\n\r\t")"},
        {"other control characters", Units({0, 1, 0x1F}), R"("\u0000\u0001\u001f")"},
        {"DEL and line separators", Units({0x7F, 0x2028, 0x2029}), R"("\u007f\u2028\u2029")"},
        {"unpaired surrogates", Units({0xD800, 'x', 0xDFFF}), R"("\ud800x\udfff")"},
        {"low then high", Units({0xDC00, 0xDBFF}), R"("\udc00\udbff")"},
        {"pair as UTF-8", Units({0xD83D, 0xDE00}), "\"\xF0\x9F\x98\x80\""},
        {"BMP as UTF-8", Units({0xE9, 0x20AC}), "\"\xC3\xA9\xE2\x82\xAC\""},
    };
    for (const Conversion& test : cases) {
        SCOPED_TRACE(test.Name);
        std::string out = "prefix";
        AppendJsonString(&out, test.Text.data(), test.Text.size());
        EXPECT_EQ(out, "prefix" + test.Utf8);
    }
}

ExtractedChunk TextChunk(ULONG id, const WideString& text)
{
    ExtractedChunk chunk{};
    chunk.Stat.idChunk = id;
    chunk.Stat.breakType = CHUNK_NO_BREAK;
    chunk.Stat.flags = CHUNK_TEXT;
    chunk.Stat.locale = 0x040C;
    chunk.Stat.attribute.guidPropSet = PSGUID_STORAGE;
    chunk.Stat.attribute.psProperty.ulKind = PRSPEC_PROPID;
    chunk.Stat.attribute.psProperty.propid = PID_STG_CONTENTS;
    chunk.Stat.idChunkSource = id;
    chunk.Text = text;
    return chunk;
}

DocumentText Failed(std::vector<ExtractedChunk> chunks, HRESULT result, const char* reason)
{
    DocumentText document;
    document.Chunks = std::move(chunks);
    document.Result = result;
    document.Reason = reason;
    return document;
}

TEST(CvxtextOutput, JsonLines)
{
    DocumentText read;
    read.Chunks = {TextChunk(1, U16("a\r\n")), TextChunk(2, Units({0xD800}))};
    const struct {
        const char* Name;
        std::string Shown;
        DocumentText Document;
        std::string Line;
    } cases[] = {
        {"read whole", "dir/a \"b\".zcv", read,
         R"({"file": "dir/a \"b\".zcv", "chunks": [{"id": 1, "locale": 1036, "text": "a\r\n"}, )"
         R"({"id": 2, "locale": 1036, "text": "\ud800"}]})"},
        {"no text", "-", DocumentText{}, R"({"file": "-", "chunks": []})"},
        {"failed at once", "x", Failed({}, FILTER_E_ACCESS, "no such file"),
         R"({"file": "x", "error": {"hresult": "0x80041703", "message": "no such file"}})"},
        {"failed partway keeps what was read", "x",
         Failed({TextChunk(1, U16("t"))}, E_OUTOFMEMORY, "out of memory"),
         R"({"file": "x", "chunks": [{"id": 1, "locale": 1036, "text": "t"}], )"
         R"("error": {"hresult": "0x8007000E", "message": "out of memory"}})"},
        {"name not UTF-8", "caf\xE9", DocumentText{},
         "{\"file\": \"caf\xEF\xBF\xBD\", \"chunks\": []}"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Name);
        std::string out;
        AppendJsonLine(&out, test.Shown, test.Document);
        EXPECT_EQ(out, test.Line + "\n");
    }
}

TEST(CvxtextOutput, ChunkDump)
{
    ExtractedChunk odd = TextChunk(7, U16(""));
    // Numbers outside the enumerations, as a filter may give them.
    const DWORD breakType = 9, flags = CHUNK_TEXT | CHUNK_VALUE | 0x10;
    std::memcpy(&odd.Stat.breakType, &breakType, sizeof breakType);
    std::memcpy(&odd.Stat.flags, &flags, sizeof flags);
    odd.Stat.attribute.psProperty.ulKind = PRSPEC_LPWSTR;
    odd.AttributeName = U16("Title");
    odd.Stat.cwcStartSource = 3;
    odd.Stat.cwcLenSource = 4;
    DocumentText document = Failed({TextChunk(1, U16("Caf\u00E9\r\nx")), odd}, FILTER_E_ACCESS,
                                   "read error partway through the document");

    std::string out;
    AppendChunkDump(&out, "d.zcv", document);
    EXPECT_EQ(out,
              "File: d.zcv\n\n"
              "Chunk 1\n"
              "  idChunk         1\n"
              "  breakType       CHUNK_NO_BREAK\n"
              "  flags           CHUNK_TEXT\n"
              "  locale          0x0000040C\n"
              "  attribute       {B725F130-47EF-101A-A5F1-02608C9EEBAC} propid 19\n"
              "  idChunkSource   1\n"
              "  cwcStartSource  0\n"
              "  cwcLenSource    0\n"
              "  text            7 units\n"
              "Caf\xC3\xA9\r\nx\n\n"
              "Chunk 7\n"
              "  idChunk         7\n"
              "  breakType       9 (unknown)\n"
              "  flags           CHUNK_TEXT | CHUNK_VALUE | 0x10\n"
              "  locale          0x0000040C\n"
              "  attribute       {B725F130-47EF-101A-A5F1-02608C9EEBAC} name \"Title\"\n"
              "  idChunkSource   7\n"
              "  cwcStartSource  3\n"
              "  cwcLenSource    4\n"
              "  text            0 units\n"
              "\n\n"
              "Error: 0x80041703 read error partway through the document\n\n");

    out.clear();
    AppendChunkDump(&out, "e.zcv", DocumentText{});
    EXPECT_EQ(out, "File: e.zcv\n\nEnd: 0 chunks\n\n");
}

// ---- Streaming: text given piece by piece comes out as the whole document would. ----

// Feeds `document` to a formatter as ExtractDocument does while streaming, each chunk's text in
// pieces of `piece` units (0: the whole text at once), then Finish with the chunks' text gone.
std::string Streamed(OutputFormat format, const DocumentText& document, std::size_t piece)
{
    std::string out = "before|";
    DocumentFormatter formatter(format, &out, "dir/d.zcv");
    DocumentText emptied = document;
    for (ExtractedChunk& chunk : emptied.Chunks) {
        const WideString text = chunk.Text;
        chunk.Text.clear();
        formatter.BeginChunk(chunk);
        const std::size_t step = piece == 0 ? text.size() : piece;
        for (std::size_t at = 0; at < text.size(); at += step)
            formatter.ChunkText(text.data() + at, std::min(step, text.size() - at));
        formatter.EndChunk(chunk);
    }
    formatter.Finish(emptied);
    return out;
}

TEST(CvxtextOutput, StreamedPiecesGiveTheWholeDocument)
{
    // Pairs, unpaired halves and escapes where the pieces end: at every unit for short pieces.
    DocumentText read;
    read.Chunks = {TextChunk(1, Units({'a', 0xD83D, 0xDE00, 'b', 0xD800, 0xD83D, 0xDE00, 0xDC00})),
                   TextChunk(2, Units({})),
                   TextChunk(3, Units({0xDBFF})),
                   TextChunk(4, Units({0xDFFF, '"', '\n', 0x7F, 0xE9, 0x2028, 0xDBFF, 0xDFFF})),
                   TextChunk(5, Units({0xD800, 0xD800, 0xDC00, 0xD800}))};
    const DocumentText cases[] = {
        read,
        Failed(read.Chunks, E_OUTOFMEMORY, "out of memory"),
        Failed({}, FILTER_E_ACCESS, "no such file"),
        DocumentText{},
    };
    for (const OutputFormat format :
         {OutputFormat::Plain, OutputFormat::Json, OutputFormat::Chunks}) {
        for (const DocumentText& document : cases) {
            std::string whole = "before|";
            AppendDocument(&whole, format, "dir/d.zcv", document);
            for (std::size_t piece : {0, 1, 2, 3, 5}) {
                SCOPED_TRACE("format " + std::to_string(static_cast<int>(format)) + ", " +
                             std::to_string(document.Chunks.size()) + " chunks, pieces of " +
                             std::to_string(piece));
                EXPECT_EQ(Streamed(format, document, piece), whole);
            }
        }
    }
}

TEST(CvxtextOutput, FinishWritesOnlyTheChunksNotStreamed)
{
    DocumentText document;
    document.Chunks = {TextChunk(1, U16("one")), TextChunk(2, U16("two"))};
    for (const OutputFormat format :
         {OutputFormat::Plain, OutputFormat::Json, OutputFormat::Chunks}) {
        SCOPED_TRACE(static_cast<int>(format));
        std::string whole;
        AppendDocument(&whole, format, "d.zcv", document);
        std::string out;
        DocumentFormatter formatter(format, &out, "d.zcv");
        DocumentText rest = document;
        rest.Chunks[0].Text.clear();  // as streaming leaves it
        formatter.BeginChunk(rest.Chunks[0]);
        formatter.ChunkText(document.Chunks[0].Text.data(), document.Chunks[0].Text.size());
        formatter.EndChunk(rest.Chunks[0]);
        formatter.Finish(rest);
        EXPECT_EQ(out, whole);
    }
}

TEST(CvxtextOutput, StreamingThroughTheFilterGivesWhatReadingWholeGives)
{
    // A story of more than one GetText buffer, with a pair across the first buffer's end and an
    // unpaired high surrogate at the second's; then a short story.
    std::vector<Element> first = Chars(std::string(TextBufferUnits - 1, 'x'));
    first.push_back(Wide(0xD83D));
    first.push_back(Wide(0xDE00));
    const std::vector<Element> filler = Chars(std::string(TextBufferUnits - 2, 'y'));
    first.insert(first.end(), filler.begin(), filler.end());
    first.push_back(Wide(0xDBFF));
    first.push_back(Wide('"'));
    TempFile file(DocumentOfStories({first, Chars("short")}));
    DocumentItem item;
    item.Shown = "doc.zcv";
    item.Path = file.Path();
    IClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(FilterClassId, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory)),
              S_OK);
    const DocumentText whole = ReadDocument(factory, item);
    ASSERT_EQ(whole.Chunks.size(), 2u);
    ASSERT_EQ(whole.Chunks[0].Text.size(), 2 * TextBufferUnits + 1);
    for (const OutputFormat format :
         {OutputFormat::Plain, OutputFormat::Json, OutputFormat::Chunks}) {
        SCOPED_TRACE(static_cast<int>(format));
        std::string expected;
        AppendDocument(&expected, format, item.Shown, whole);
        std::string out;
        DocumentFormatter formatter(format, &out, item.Shown);
        DocumentText streamed;
        {
            const StreamChunkText streaming(&formatter);
            streamed = ReadDocument(factory, item);
        }
        formatter.Finish(streamed);
        EXPECT_EQ(out, expected);
        ASSERT_EQ(streamed.Chunks.size(), 2u);
        EXPECT_TRUE(streamed.Chunks[0].Text.empty());  // the text went to the formatter only
    }
    factory->Release();
}

// The plainer conversion paths (processors without SSSE3; builds without SSE2, as the 32-bit
// Windows one) on the texts the tests above give the fastest. Uses ExpectAsReference.
TEST(CvxtextOutput, EveryConversionPathMatchesTheWalk)
{
    struct OnPath {
        explicit OnPath(ConversionPath path) { UseConversionPath(path); }
        ~OnPath() { UseConversionPath(ConversionPath::Fastest); }
    };
    WideString every;
    for (unsigned unit = 0; unit <= 0xFFFF; ++unit) {
        every.append(unit % 37, static_cast<WCHAR>('a' + unit % 26));
        every.push_back(static_cast<WCHAR>(unit));
    }
    // Latin text with pairs: the two-byte groups and what ends them.
    WideString latin;
    for (unsigned index = 0; index < 20000; ++index) {
        latin.push_back(static_cast<WCHAR>(index % 7 == 0 ? 0xE0 + index % 32 : 'a' + index % 26));
        if (index % 97 == 0)
            latin += Units({0xD83D, 0xDE00});
        if (index % 89 == 0)
            latin += Units({0x20AC});
        if (index % 211 == 0)
            latin += Units({0xDC00});
        if (index % 101 == 0)
            latin.append(70, 'q');  // long enough for the ASCII runs again
    }
    for (ConversionPath path :
         {ConversionPath::Fastest, ConversionPath::Sse2, ConversionPath::Scalar}) {
        SCOPED_TRACE(static_cast<int>(path));
        const OnPath on(path);
        ExpectAsReference(every);
        for (std::size_t offset = 0; offset < 8; ++offset)
            ExpectAsReference(latin, offset);
    }
}

}  // namespace
