// Decoding of text stories: the element tables, the output rules, the gap, and stories whose
// counts do not match their bytes.
#include "reader/element_tables.h"
#include "reader/element_walk.h"
#include "reader/plain_runs.h"
#include "reader/story_text.h"
#include "tests/support/document_builder.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Decodes a body in both passes and checks that they agree and the filling pass stays in its
// buffer.
WideString Decode(const Bytes& body, size_t loaded)
{
    TextStoryBody story{body.data(), static_cast<DWORD>(loaded)};
    DWORD measured = 12345;
    DecodeStoryText(&story, nullptr, &measured);
    std::vector<WCHAR> buffer(measured + 4, 0xBEEF);
    DWORD filled = 0;
    DecodeStoryText(&story, buffer.data(), &filled);
    EXPECT_EQ(filled, measured) << "the two passes disagree";
    for (size_t i = measured; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], 0xBEEF) << "the filling pass wrote past its count";
    return WideString(buffer.data(), measured);
}

WideString Decode(const Bytes& body)
{
    return Decode(body, body.size());
}

WideString Decode(const StoryLayout& story)
{
    return Decode(StoryBody(story));
}

TEST(ElementTables, LengthsDifferFromOneOnlyForTheMultiByteElements)
{
    BYTE expected[256];
    std::memset(expected, 1, sizeof expected);
    expected[6] = 20;
    expected[7] = 16;
    expected[8] = 3;
    expected[17] = 5;
    expected[18] = expected[19] = expected[20] = 4;
    expected[22] = 32;
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(ElementLengthTable[code], expected[code]) << "code " << code;
}

TEST(ElementTables, CharacterMapIsLatin1ButForTheTypographicRows)
{
    const WCHAR typographic[33] = {
        0xFFFD, 0x20AC, 0x0174, 0x0175, 0xFFFD, 0xFFFD, 0x0176, 0x0177, 0xFFFD, 0xFFFD, 0xFFFD,
        0xFFFD, 0xFFFD, 0x2026, 0x2122, 0x2030, 0x2022, 0x2018, 0x2019, 0x2039, 0x203A, 0x201C,
        0x201D, 0x201E, 0x2013, 0x2014, 0x2212, 0x0152, 0x0153, 0x2020, 0x2021, 0xFB01, 0xFB02};
    for (int code = 0; code < 256; ++code) {
        WCHAR expected = code >= 127 && code < 160 ? typographic[code - 127] : code;
        EXPECT_EQ(CharacterMap[code], expected) << "code " << code;
    }
}

// The decoder takes runs of plain codes many bytes at a time, as their own values. That set must
// be exactly the codes that are one byte long and yield themselves by the element rules, so that
// a change to the tables or rules cannot leave the fast path behind.
TEST(ElementTables, PlainCodesAreTheOneByteCodesThatYieldThemselves)
{
    for (int code = 0; code < 256; ++code) {
        const Bytes body = StoryBody(StoryLayout{{Char(static_cast<BYTE>(code))}});
        const TextStoryBody story{body.data(), static_cast<DWORD>(body.size())};
        DWORD count = 0;
        DecodeStoryTextByElement(&story, nullptr, &count);
        WCHAR unit = 0;
        if (count == 1)
            DecodeStoryTextByElement(&story, &unit, &count);
        const bool yieldsItself = count == 1 && unit == static_cast<WCHAR>(code);
        EXPECT_EQ(IsPlainCode(static_cast<BYTE>(code)),
                  ElementLengthTable[code] == 1 && yieldsItself)
            << "code " << code;
    }
}

struct DecodeCase {
    const char* Case;
    StoryLayout Story;
    WideString Text;
};

std::vector<Element> Join(std::initializer_list<std::vector<Element>> parts)
{
    std::vector<Element> all;
    for (const std::vector<Element>& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(DecodeStoryText, OutputRules)
{
    const DecodeCase cases[] = {
        {"printable ASCII and Latin-1 stand for themselves",
         {Chars("Az~!09 caf\xE9 \xFF\xA1")}, U16("Az~!09 caf\u00E9 \u00FF\u00A1")},
        {"each break code gives CR LF", {Join({Chars("a"), {Break(2)}, Chars("b"), {Break(3)},
                                               {Break(10)}, {Break(13)}})},
         U16("a\r\nb\r\n\r\n\r\n")},
        {"tab element", {Join({Chars("a"), {Tab()}, Chars("b")})}, U16("a\tb")},
        {"flag word asking for a space", {Join({Chars("a"), {Flags(0x04)}, Chars("b")})},
         U16("a b")},
        {"flag word with other bits only",
         {Join({Chars("a"), {Flags(0xFFFFFB)}, Chars("b")})}, U16("ab")},
        {"wide element passes its unit through",
         {Join({{Wide(0x20AC)}, {Wide(0x0000)}, {Wide(0xD800)}, {Wide(0x000D)}})},
         WideString{0x20AC, 0x0000, 0xD800, 0x000D}},
        {"space, no-break space and soft hyphen",
         {Join({Chars("a"), {Char(32)}, {Char(160)}, Chars("b"), {Char(173)}, Chars("c")})},
         U16("a  b-c")},
        {"unmapped codes give the replacement character",
         {Join({{Char(127)}, {Char(131)}, {Char(132)}, {Char(135)}, {Char(139)}})},
         U16("\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD")},
        {"typographic characters",
         {Join({{Char(128)}, {Char(140)}, {Char(145)}, {Char(148)}, {Char(149)}, {Char(151)},
                {Char(152)}, {Char(158)}})},
         U16("\u20AC\u2026\u2019\u201C\u201D\u2013\u2014\uFB01")},
        // Control payloads are filled with 0xEE, which would read as a character if the walk
        // did not step over the whole element.
        {"control elements yield nothing and are stepped over whole",
         {Join({{Control(6)}, Chars("a"), {Control(17)}, Chars("b"), {Control(19)}, Chars("c"),
                {Control(20)}, Chars("d"), {Control(22)}, Chars("e"), {Control(0)}, {Control(1)},
                {Control(9)}, {Control(31)}, Chars("f")})},
         U16("abcdef")},
        {"empty story", {{}}, U16("")},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.Case);
        EXPECT_EQ(Printable(Decode(c.Story)), Printable(c.Text));
    }
}

TEST(DecodeStoryText, TheGapIsSkippedWhereverItLies)
{
    // The gap is filled with 0xCC, which would read as a character.
    const std::vector<Element> elements =
        Join({Chars("ab"), {Flags(0x04)}, Chars("cd"), {Wide(0x2022)}, Chars("ef")});
    const WideString expected = U16("ab cd\u2022ef");
    for (size_t gapAfter = 0; gapAfter <= elements.size(); ++gapAfter) {
        for (DWORD gapSize : {0u, 1u, 37u}) {
            SCOPED_TRACE(testing::Message() << "gap after " << gapAfter << ", size " << gapSize);
            StoryLayout story{elements, gapSize, gapAfter};
            EXPECT_EQ(Printable(Decode(story)), Printable(expected));
        }
    }
}

TEST(DecodeStoryText, NonPositiveTextLengthsYieldNothing)
{
    for (LONG length : {0, -1, -2147483647 - 1}) {
        StoryLayout story{Chars("hidden")};
        story.TextLength = length;
        EXPECT_EQ(Decode(story), WideString()) << length;
    }
}

struct HostileCase {
    const char* Case;
    StoryLayout Story;
    WideString Text;
};

// Counts that do not match the bytes: every read stays inside the loaded body (the sanitized
// build checks that), bytes that are not there read as zero elements, which yield nothing, and
// the walk ends promptly however long the text claims to be.
TEST(DecodeStoryText, CountsThatDisagreeWithTheBytes)
{
    StoryLayout longText{Chars("abc")};
    longText.TextLength = 0x7FFFFFFF;
    StoryLayout longTextWithGap{Chars("abcd"), 2, 2};
    longTextWithGap.TextLength = 0x7FFFFFFF;
    StoryLayout textAboveCapacity{Chars("abcdef")};
    textAboveCapacity.Capacity = 3;
    StoryLayout hugeCapacity{Chars("abc")};
    hugeCapacity.Capacity = 0x7FFFFFFF;
    StoryLayout negativeCapacity{Chars("abc")};
    negativeCapacity.Capacity = -5;
    StoryLayout negativeGap{Chars("abc"), 0, 0};
    negativeGap.GapPosition = -100;
    StoryLayout gapBeyondText{Chars("abc"), 4};
    gapBeyondText.GapPosition = 1000;
    StoryLayout wideCutOff{Join({Chars("ab"), {Element{{8, 0x41}}}})};
    StoryLayout flagsCutOff{Join({Chars("ab"), {Element{{7, 0x04}}}})};
    StoryLayout bodyPadded{Chars("abc")};
    bodyPadded.BodySize = 64;

    const HostileCase cases[] = {
        // Positions past the gap map back onto the storage's start once the (negative) gap
        // size has been made up.
        {"text length far beyond the storage", longText, U16("abcabc")},
        {"text length far beyond the storage, with a gap", longTextWithGap,
         U16("abab\u00CC\u00CCcd")},
        {"text length above the capacity", textAboveCapacity, U16("abcdef")},
        {"capacity far beyond the body", hugeCapacity, U16("abc")},
        {"negative capacity", negativeCapacity, U16("abc")},
        {"gap position below zero", negativeGap, U16("abc")},
        {"gap position beyond the text", gapBeyondText, U16("abc")},
        {"wide element cut off by the end of the storage", wideCutOff,
         WideString(U16("ab")) + WCHAR(0x41)},
        {"flag element cut off by the end of the storage", flagsCutOff, U16("ab ")},
        {"zero bytes after the storage", bodyPadded, U16("abc")},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.Case);
        EXPECT_EQ(Printable(Decode(c.Story)), Printable(c.Text));
    }
}

TEST(DecodeStoryText, BodiesShorterThanTheirCountsYieldNothing)
{
    Bytes body = StoryBody(StoryLayout{Chars("abc")});
    for (size_t loaded = 0; loaded < StoryHeaderSize; ++loaded)
        EXPECT_EQ(Decode(body, loaded), WideString()) << loaded << " bytes";
    TextStoryBody none{nullptr, 0};
    DWORD count = 99;
    DecodeStoryText(&none, nullptr, &count);
    EXPECT_EQ(count, 0u);
}

// A story cut short decodes as if its missing bytes were zeros: the text its bytes hold.
TEST(DecodeStoryText, AStoryCutShortKeepsTheTextItsBytesHold)
{
    StoryLayout story{Join({Chars("one "), {Wide(0x2014)}, Chars(" two"), {Break(13)},
                            Chars("three")}),
                      6, 5};
    const Bytes body = StoryBody(story);
    for (size_t loaded = StoryHeaderSize; loaded <= body.size(); ++loaded) {
        SCOPED_TRACE(loaded);
        Bytes zeroFilled = body;
        std::fill(zeroFilled.begin() + loaded, zeroFilled.end(), 0);
        EXPECT_EQ(Printable(Decode(body, loaded)), Printable(Decode(zeroFilled)));
    }
}

}  // namespace
