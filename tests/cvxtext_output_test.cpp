// cvxtext's output: UTF-8 with U+FFFD for unpaired surrogates, JSON strings that give back
// every code unit, JSON Lines records and the chunk dump.
#include "tests/support/test_files.h"
#include "tools/cvxtext/files.h"
#include "tools/cvxtext/output.h"

#include <gtest/gtest.h>

#include <cstring>

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

}  // namespace
