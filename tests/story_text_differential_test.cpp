// The decoder against a reference walk written here from the tables and the element rules, on
// random stories of every code, gap and count; and the plain-run primitives against a byte loop.
#include "reader/element_tables.h"
#include "reader/element_walk.h"
#include "reader/plain_runs.h"
#include "reader/story_text.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <random>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

LONG LongAt(const BYTE* bytes)
{
    return static_cast<LONG>(static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
                             static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24);
}

// The element rules, one element at a time. A position below the gap lies at the same storage
// offset and the others capacity - length further on; an offset outside the loaded bytes reads
// as a zero element, and a run of such positions is stepped over whole.
WideString ReferenceDecode(const BYTE* body, size_t loaded)
{
    WideString text;
    if (loaded < 16)
        return text;
    const long long length = LongAt(body);
    const long long shift = static_cast<long long>(LongAt(body + 4)) - length;
    const long long gap = LongAt(body + 8);
    const long long present = static_cast<long long>(loaded) - 16;
    auto byteAt = [&](long long offset) -> BYTE {
        return offset >= 0 && offset < present ? body[16 + offset] : 0;
    };
    for (long long position = 0; position < length;) {
        const long long offset = position < gap ? position : position + shift;
        if (offset < 0) {  // past the gap, before the storage's start
            position = -shift;
            continue;
        }
        if (offset >= present) {
            if (position < gap) {
                position = gap;
                continue;
            }
            break;
        }
        const BYTE code = byteAt(offset);
        if (code == 2 || code == 3 || code == 10 || code == 13)
            text += U16("\r\n");
        else if (code == 7 && (byteAt(offset + 1) & 4))
            text += WCHAR(' ');
        else if (code == 8)
            text += static_cast<WCHAR>(byteAt(offset + 1) | byteAt(offset + 2) << 8);
        else if (code == 18)
            text += WCHAR('\t');
        else if (code == 32 || code == 160)
            text += WCHAR(' ');
        else if (code == 173)
            text += WCHAR('-');
        else if (code > 32)
            text += CharacterMap[code];
        position += ElementLengthTable[code];
    }
    return text;
}

BYTE RandomPlainCode(std::mt19937& random)
{
    for (;;) {
        const BYTE code = static_cast<BYTE>(random());
        if (IsPlainCode(code))
            return code;
    }
}

void AppendLong(Bytes& bytes, long long value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<BYTE>(static_cast<unsigned long long>(value) >> (8 * i)));
}

// A story body of random elements: runs of plain codes of up to 70 bytes (long enough for every
// block size of the fast path), and elements of any code with random payload bytes. The gap lies
// between elements or inside one, its bytes are plain codes (a run read into it would show), and
// the counts are often off: slightly, wildly, negative or huge. Some bodies have plain bytes
// after the storage, and `loaded` often cuts the body short.
Bytes RandomStory(std::mt19937& random, size_t* loaded)
{
    Bytes elements;
    std::vector<size_t> starts{0};
    const int count = static_cast<int>(random() % 24);
    for (int i = 0; i < count; ++i) {
        if (random() % 5 < 2) {
            for (unsigned n = 1 + random() % 70; n > 0; --n)
                elements.push_back(RandomPlainCode(random));
        } else {
            const BYTE code = static_cast<BYTE>(random());
            elements.push_back(code);
            for (int k = 1; k < ElementLengthTable[code]; ++k)
                elements.push_back(static_cast<BYTE>(random()));
        }
        starts.push_back(elements.size());
    }

    const long long size = static_cast<long long>(elements.size());
    size_t gapAt;
    switch (random() % 4) {
    case 0: gapAt = 0; break;
    case 1: gapAt = elements.size(); break;
    case 2: gapAt = starts[random() % starts.size()]; break;
    default: gapAt = random() % (elements.size() + 1); break;  // often inside an element
    }
    const unsigned gapSize = random() % 3 == 0 ? 0 : random() % 40;

    long long length = size;
    long long capacity = size + gapSize;
    long long gapPosition = static_cast<long long>(gapAt);
    auto offBy = [&](long long value) { return value + static_cast<long long>(random() % 11) - 5; };
    switch (random() % 8) {
    case 0: length = offBy(length); break;
    case 1: length = random() % (2 * size + 2); break;
    case 2: length = INT_MAX; break;
    case 3: length = random() % 2 ? -1 : INT_MIN; break;
    default: break;
    }
    switch (random() % 8) {
    case 0: capacity = offBy(capacity); break;
    case 1: capacity = random() % 2 ? INT_MAX : INT_MIN; break;
    case 2: capacity = -static_cast<long long>(random() % 50); break;
    default: break;
    }
    switch (random() % 8) {
    case 0: gapPosition = offBy(gapPosition); break;
    case 1: gapPosition = static_cast<long long>(random() % (size + 100)) - 50; break;
    case 2: gapPosition = random() % 2 ? INT_MAX : INT_MIN; break;
    default: break;
    }

    Bytes body;
    AppendLong(body, length);
    AppendLong(body, capacity);
    AppendLong(body, gapPosition);
    AppendLong(body, static_cast<long long>(random()));
    body.insert(body.end(), elements.begin(), elements.begin() + gapAt);
    for (unsigned i = 0; i < gapSize; ++i)
        body.push_back(RandomPlainCode(random));
    body.insert(body.end(), elements.begin() + gapAt, elements.end());
    if (random() % 4 == 0) {
        for (unsigned n = random() % 40; n > 0; --n)
            body.push_back(RandomPlainCode(random));
    }
    *loaded = random() % 3 == 0 ? random() % (body.size() + 1) : body.size();
    return body;
}

using Decoder = void (*)(const TextStoryBody*, WCHAR*, DWORD*);

// Both passes of `decode` over the loaded bytes, copied to a block of exactly their size (the
// sanitized build sees any read past it): the text, or what went wrong.
testing::AssertionResult DecodesTo(Decoder decode, const Bytes& body, size_t loaded,
                                   const WideString& expected)
{
    std::unique_ptr<BYTE[]> bytes(new BYTE[loaded == 0 ? 1 : loaded]);
    std::copy(body.begin(), body.begin() + loaded, bytes.get());
    const TextStoryBody story{bytes.get(), static_cast<DWORD>(loaded)};
    DWORD measured = 0;
    decode(&story, nullptr, &measured);
    std::vector<WCHAR> output(measured + 8, 0xBEEF);
    DWORD filled = 0;
    decode(&story, output.data(), &filled);
    if (filled != measured)
        return testing::AssertionFailure() << "measured " << measured << ", filled " << filled;
    for (size_t i = measured; i < output.size(); ++i) {
        if (output[i] != 0xBEEF)
            return testing::AssertionFailure() << "the filling pass wrote past its count";
    }
    const WideString text(output.data(), measured);
    if (text != expected)
        return testing::AssertionFailure()
               << "gave " << Printable(text) << ", expected " << Printable(expected);
    return testing::AssertionSuccess();
}

std::string Hex(const Bytes& body, size_t loaded)
{
    std::string text;
    char digits[4];
    for (size_t i = 0; i < loaded; ++i) {
        std::snprintf(digits, sizeof digits, "%02X ", body[i]);
        text += digits;
    }
    return text;
}

TEST(StoryTextDifferential, RandomStoriesDecodeAsTheElementRulesSay)
{
    for (unsigned seed = 1; seed <= 4000; ++seed) {
        std::mt19937 random(seed);
        size_t loaded = 0;
        const Bytes body = RandomStory(random, &loaded);
        const WideString expected = ReferenceDecode(body.data(), loaded);
        const struct {
            const char* Name;
            Decoder Decode;
        } decoders[] = {{"DecodeStoryText", DecodeStoryText},
                        {"DecodeStoryTextByElement", DecodeStoryTextByElement}};
        for (const auto& decoder : decoders) {
            ASSERT_TRUE(DecodesTo(decoder.Decode, body, loaded, expected))
                << decoder.Name << ", seed " << seed << ", " << loaded
                << " bytes loaded: " << Hex(body, loaded);
        }
    }
}

struct RunImplementation {
    const char* Name;
    size_t (*Length)(const BYTE*, size_t);
    size_t (*Widen)(const BYTE*, size_t, WCHAR*);
};

const RunImplementation RunImplementations[] = {
    {"portable", PlainRunLengthPortable, WidenPlainRunPortable},
#if defined(CVX_PLAIN_RUNS_SSE2)
    {"SSE2", PlainRunLengthSse2, WidenPlainRunSse2},
#endif
    {"default", PlainRunLength, WidenPlainRun},
};

std::vector<BYTE> CodesWhere(bool plain)
{
    std::vector<BYTE> codes;
    for (int code = 0; code < 256; ++code) {
        if (IsPlainCode(static_cast<BYTE>(code)) == plain)
            codes.push_back(static_cast<BYTE>(code));
    }
    return codes;
}

// Both primitives of `run` on bytes[0, limit) against the byte loop: the length, the widened
// units, and nothing written past them.
testing::AssertionResult RunMatches(const RunImplementation& run, const BYTE* bytes, size_t limit,
                                    WCHAR* output, size_t outputRoom)
{
    size_t expected = 0;
    while (expected < limit && IsPlainCode(bytes[expected]))
        ++expected;
    const size_t length = run.Length(bytes, limit);
    if (length != expected)
        return testing::AssertionFailure() << run.Name << " length " << length << ", expected "
                                           << expected;
    std::fill(output, output + outputRoom, WCHAR(0xBEEF));
    const size_t widened = run.Widen(bytes, limit, output);
    if (widened != expected)
        return testing::AssertionFailure() << run.Name << " widened " << widened << ", expected "
                                           << expected;
    for (size_t i = 0; i < expected; ++i) {
        if (output[i] != bytes[i])
            return testing::AssertionFailure() << run.Name << " unit " << i << " wrong";
    }
    for (size_t i = expected; i < outputRoom; ++i) {
        if (output[i] != 0xBEEF)
            return testing::AssertionFailure() << run.Name << " wrote past the run at " << i;
    }
    return testing::AssertionSuccess();
}

// Every code in every lane of the word and vector blocks, among plain neighbours of every value.
TEST(PlainRuns, EveryCodeIsTakenOrStoppedAtInEveryLane)
{
    const std::vector<BYTE> plain = CodesWhere(true);
    BYTE bytes[40];
    WCHAR output[48];
    for (const RunImplementation& run : RunImplementations) {
        for (int code = 0; code < 256; ++code) {
            for (size_t at = 0; at < sizeof bytes; ++at) {
                for (size_t i = 0; i < sizeof bytes; ++i)
                    bytes[i] = plain[(i * 7 + code + at) % plain.size()];
                bytes[at] = static_cast<BYTE>(code);
                ASSERT_TRUE(RunMatches(run, bytes, sizeof bytes, output, 48))
                    << "code " << code << " at " << at;
            }
        }
    }
}

// Every limit up to 70 at every alignment, with the run ending at each position (at a code that
// is not plain) or at the limit, before plain bytes that must not be taken.
TEST(PlainRuns, EveryLengthAlignmentAndEnd)
{
    const std::vector<BYTE> plain = CodesWhere(true);
    const std::vector<BYTE> stops = CodesWhere(false);
    alignas(16) BYTE buffer[16 + 70 + 16];
    alignas(16) WCHAR output[8 + 70 + 16];
    for (const RunImplementation& run : RunImplementations) {
        for (size_t align = 0; align < 16; ++align) {
            for (size_t limit = 0; limit <= 70; ++limit) {
                for (size_t end = 0; end <= limit; ++end) {
                    for (size_t i = 0; i < sizeof buffer; ++i)
                        buffer[i] = plain[(i * 13 + limit + end) % plain.size()];
                    BYTE* bytes = buffer + align;
                    if (end < limit)
                        bytes[end] = stops[(align + limit + end) % stops.size()];
                    ASSERT_TRUE(RunMatches(run, bytes, limit, output + align % 8, 70 + 16))
                        << "alignment " << align << ", limit " << limit << ", end " << end;
                }
            }
        }
    }
}

#if defined(__linux__)
// Runs that end at the last byte before an unreadable page: no block load reaches past the limit.
TEST(PlainRuns, NoReadPastTheLimitAtAPageEnd)
{
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* mapped =
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    BYTE* pageEnd = static_cast<BYTE*>(mapped) + page;
    ASSERT_EQ(mprotect(pageEnd, page, PROT_NONE), 0);
    std::fill(pageEnd - 100, pageEnd, BYTE('a'));
    WCHAR output[100];
    for (const RunImplementation& run : RunImplementations) {
        for (size_t limit = 0; limit <= 70; ++limit) {
            EXPECT_TRUE(RunMatches(run, pageEnd - limit, limit, output, 100)) << limit;
            if (limit > 0) {
                pageEnd[-1] = 0x0D;  // the run stops one short of the end
                EXPECT_TRUE(RunMatches(run, pageEnd - limit, limit, output, 100)) << limit;
                pageEnd[-1] = 'a';
            }
        }
    }
    munmap(mapped, 2 * page);
}
#endif

}  // namespace
