// Memory and work against the document's size, whatever its headers claim. Memory is counted in
// bytes asked of the allocation functions (the most held at once, and in all), work in system
// calls; neither is timed. Lengths, capacities and text lengths of 0x7FFFFFFF, negative or
// beyond the file, and a million tiny records, all stay within a small multiple of the file's
// size plus a constant, and doubling the file at most doubles the counts.
#include "platform/fault.h"
#include "tests/support/filter_host.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <iomanip>
#include <iostream>
#include <sstream>

namespace {

const SIZE_T Slack = 64 * 1024;  // the filter object, its factory, the name and the like

// What filtering one document cost.
struct Cost {
    SIZE_T Size = 0;      // the file's bytes
    SIZE_T Peak = 0;      // bytes held at most at once
    SIZE_T Total = 0;     // bytes allocated in all
    SIZE_T Largest = 0;   // the largest single zero-filled allocation
    ULONG Calls = 0;      // file calls: open, read, seek, size, close
    ULONG Allocations = 0;
    ULONG Chunks = 0;
    unsigned long long Units = 0;  // text units handed out
};

ULONG FileCalls()
{
    ULONG calls = 0;
    for (FaultPoint point : {FaultCreateFile, FaultReadFile, FaultSetFilePointer, FaultGetFileSize,
                             FaultCloseHandle})
        calls += FaultCallCount(point);
    return calls;
}

// Filters the document as a host does, with a fresh object, and counts.
Cost Filter(const Bytes& contents)
{
    Cost cost;
    cost.Size = contents.size();
    TempFile file(contents);
    ResetFaults();
    {
        FilterObject object = CreateFilter(FilterModules()[0]);
        if (object.File == nullptr)
            return cost;
        EXPECT_EQ(object.File->Load(file.Name(), STGM_READ), S_OK);
        ULONG flags = 0;
        EXPECT_EQ(object.Filter->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags), S_OK);
        std::vector<WCHAR> buffer(4096);
        for (;;) {
            STAT_CHUNK stat{};
            const SCODE result = object.Filter->GetChunk(&stat);
            if (result != S_OK) {
                EXPECT_EQ(result, FILTER_E_END_OF_CHUNKS);
                break;
            }
            ++cost.Chunks;
            for (SCODE text = S_OK; text == S_OK;) {
                ULONG count = static_cast<ULONG>(buffer.size());
                text = object.Filter->GetText(&count, buffer.data());
                cost.Units += count;
            }
        }
    }
    cost.Peak = AllocatedBytesPeak();
    cost.Total = AllocatedBytesTotal();
    cost.Largest = LargestAllocation();
    cost.Calls = FileCalls();
    cost.Allocations = FaultCallCount(FaultAllocate) + FaultCallCount(FaultObjectAllocate) +
                       FaultCallCount(FaultTaskAllocate);
    return cost;
}

bool CallsCounted()
{
    return FaultInjectable(FaultReadFile);
}

void Print(const std::string& name, const Cost& cost)
{
    std::ostringstream line;
    line << "[bounds] " << std::left << std::setw(44) << name << std::right << " S=" << std::setw(9)
         << cost.Size << " peak=" << std::setw(9) << cost.Peak << " total=" << std::setw(9)
         << cost.Total << " largest=" << std::setw(9) << cost.Largest << " calls=" << std::setw(8)
         << cost.Calls << " chunks=" << cost.Chunks << " units=" << cost.Units;
    std::cout << line.str() << "\n";
}

std::vector<Element> Elements(std::size_t count, BYTE code)
{
    return std::vector<Element>(count, Char(code));
}

Bytes OneStory(const StoryLayout& story, std::optional<LONG> length = std::nullopt)
{
    Record record = StoryRecord(story);
    record.Length = length;
    return BuildDocument(DocumentLayout{std::nullopt, {record}});
}

struct Shape {
    const char* Name;
    std::function<Bytes(std::size_t)> Make;  // a document of about n bytes
    unsigned Factor;  // the peak stays within Factor · S + Slack
};

// Each storage byte yields at most two code units (a line break), and a story's positions fall
// into two runs (before and after its gap) that may both cover every byte when the counts
// overlap them: 8 bytes of text per byte loaded, held with the 1 byte loaded, so 9 · S in the
// worst case. Stories as written (one run) stay within 5 · S, plain text within 3 · S.
const Shape Shapes[] = {
    {"plain story", [](std::size_t n) { return DocumentOfStories({Elements(n, 'a')}); }, 3},
    {"line breaks", [](std::size_t n) { return DocumentOfStories({Elements(n, 13)}); }, 5},
    {"record length 0x7FFFFFFF",
     [](std::size_t n) { return OneStory(StoryLayout{Elements(n, 'a')}, 0x7FFFFFFF); }, 3},
    {"record length -1, then bytes",
     [](std::size_t n) {
         Bytes bytes = OneStory(StoryLayout{Chars("x")}, -1);
         bytes.resize(bytes.size() + n, 0x41);
         return bytes;
     },
     3},
    {"record length INT_MIN",
     [](std::size_t n) { return OneStory(StoryLayout{Elements(n, 'a')}, INT_MIN); }, 3},
    {"record length beyond the file",
     [](std::size_t n) {
         return OneStory(StoryLayout{Elements(n, 'a')}, static_cast<LONG>(2 * n + 1000));
     },
     3},
    {"text length and capacity 0x7FFFFFFF",
     [](std::size_t n) {
         StoryLayout story{Elements(n, 13)};
         story.TextLength = 0x7FFFFFFF;
         story.Capacity = 0x7FFFFFFF;
         story.GapPosition = 0;
         return OneStory(story);
     },
     9},
    {"text length 0x7FFFFFFF, capacity 0",
     [](std::size_t n) {
         StoryLayout story{Elements(n, 13)};
         story.TextLength = 0x7FFFFFFF;
         story.Capacity = 0;
         story.GapPosition = 0x40000000;
         return OneStory(story);
     },
     9},
    {"negative counts",
     [](std::size_t n) {
         StoryLayout story{Elements(n, 13)};
         story.TextLength = -1;
         story.Capacity = INT_MIN;
         story.GapPosition = -7;
         return OneStory(story);
     },
     9},
    {"both runs over every byte (the worst case)",
     [](std::size_t n) {
         StoryLayout story{Elements(n, 13)};
         story.TextLength = static_cast<LONG>(2 * n);
         story.Capacity = static_cast<LONG>(n);
         story.GapPosition = static_cast<LONG>(n);
         return OneStory(story);
     },
     9},
    {"other record of 0x7FFFFFFF, then a story",
     [](std::size_t n) {
         Record other = OtherRecord(3, 8);
         other.Length = 0x7FFFFFFF;
         return BuildDocument(
             DocumentLayout{std::nullopt, {other, StoryRecord(StoryLayout{Elements(n, 'a')})}});
     },
     3},
    {"many small stories",
     [](std::size_t n) {
         std::vector<std::vector<Element>> stories(std::max<std::size_t>(1, n / 60),
                                                   Chars("four"));
         return DocumentOfStories(stories);
     },
     3},
};

TEST(Bounds, MemoryFollowsTheFileWhateverItsHeadersClaim)
{
    for (const Shape& shape : Shapes) {
        SCOPED_TRACE(shape.Name);
        Cost previous;
        std::size_t previousN = 0;
        for (std::size_t n : {1000u, 16000u, 32000u, 256000u, 512000u}) {
            SCOPED_TRACE(n);
            const Cost cost = Filter(shape.Make(n));
            Print(std::string(shape.Name) + ", n=" + std::to_string(n), cost);
            EXPECT_LE(cost.Peak, shape.Factor * cost.Size + Slack);
            EXPECT_LE(cost.Peak, 9 * cost.Size + Slack);
            // Every byte asked for is used: all allocations together are bounded alike.
            EXPECT_LE(cost.Total, 9 * cost.Size + Slack);
            EXPECT_LE(cost.Largest, 8 * cost.Size + Slack);
            EXPECT_LE(cost.Units * sizeof(WCHAR), 8 * cost.Size);
            if (n == 2 * previousN) {  // the file twice as long
                EXPECT_LE(cost.Peak, 2 * previous.Peak + Slack);
                EXPECT_LE(cost.Total, 2 * previous.Total + Slack);
                if (CallsCounted()) {
                    EXPECT_LE(cost.Calls, 2 * previous.Calls + 32);
                }
            }
            previous = cost;
            previousN = n;
        }
    }
}

TEST(Bounds, TheWorstCaseReachesItsBound)
{
    // The bound above is not loose: counts that lay both runs over a story of line breaks make
    // 8 bytes of text out of each byte loaded.
    const Cost cost = Filter(Shapes[9].Make(100000));
    EXPECT_EQ(cost.Units, 4u * 100000u);
    EXPECT_GE(cost.Peak, 8u * 100000u);
}

// A document of `records` records of `record`'s bytes each (the record written once, then
// repeated), after the default preamble.
Bytes Repeated(const Record& record, std::size_t records)
{
    const Bytes one = BuildDocument(DocumentLayout{std::nullopt, {record}});
    const Bytes preamble(one.begin(), one.begin() + 256);
    Bytes bytes = preamble;
    bytes.reserve(256 + (one.size() - 256) * records);
    for (std::size_t index = 0; index < records; ++index)
        bytes.insert(bytes.end(), one.begin() + 256, one.end());
    return bytes;
}

TEST(Bounds, WorkGrowsLinearlyWithTheRecords)
{
    if (!CallsCounted())
        GTEST_SKIP() << "system calls are counted only on the stand-in";
    struct Case {
        const char* Name;
        Record Each;
        std::vector<std::size_t> Counts;
        ULONG CallsPerRecord;  // at most, plus a constant
    };
    const Case cases[] = {
        {"tiny records", OtherRecord(1, 0), {250000, 500000, 1000000}, 6},
        {"tiny stories", StoryRecord(StoryLayout{Chars("w")}), {50000, 100000, 200000}, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Cost previous;
        for (std::size_t records : c.Counts) {
            SCOPED_TRACE(records);
            const Cost cost = Filter(Repeated(c.Each, records));
            Print(std::string(c.Name) + ", " + std::to_string(records), cost);
            EXPECT_LE(cost.Calls, c.CallsPerRecord * records + 32);
            EXPECT_LE(cost.Peak, 3 * cost.Size + Slack);
            EXPECT_LE(cost.Allocations, 2 * records + 16);
            if (previous.Size != 0) {
                EXPECT_LE(cost.Calls, 2 * previous.Calls + 32);
                EXPECT_LE(cost.Total, 2 * previous.Total + Slack);
                EXPECT_LE(cost.Allocations, 2 * previous.Allocations + 16);
            }
            previous = cost;
        }
    }
}

}  // namespace
