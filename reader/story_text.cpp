#include "reader/story_text.h"

#include "reader/byte_order.h"
#include "reader/element_tables.h"
#include "reader/element_walk.h"
#include "reader/plain_runs.h"

#include <algorithm>

namespace {

// Element storage as the walk sees it: the `Present` bytes loaded after the story's counts, and
// zeros at every offset outside them.
struct Storage {
    const BYTE* Bytes;
    long long Present;

    BYTE At(long long offset) const { return offset >= 0 && offset < Present ? Bytes[offset] : 0; }
};

// Each sink takes one code unit at a time, or the run of plain codes that opens bytes[0, limit),
// whose length it returns.
struct CountingSink {
    unsigned long long Count = 0;
    void Put(WCHAR) { ++Count; }
    std::size_t PutPlainRun(const BYTE* bytes, std::size_t limit)
    {
        const std::size_t run = PlainRunLength(bytes, limit);
        Count += run;
        return run;
    }
};

struct FillingSink {
    WCHAR* Output;
    unsigned long long Count = 0;
    void Put(WCHAR unit) { Output[Count++] = unit; }
    std::size_t PutPlainRun(const BYTE* bytes, std::size_t limit)
    {
        const std::size_t run = WidenPlainRun(bytes, limit, Output + Count);
        Count += run;
        return run;
    }
};

// Produces the output of the element at `offset`, whose code byte is `code`.
template <typename Sink>
void EmitElement(const Storage& storage, long long offset, BYTE code, Sink& sink)
{
    switch (code) {
    case 2:
    case 3:
    case 10:
    case 13:
        sink.Put(0x000D);
        sink.Put(0x000A);
        return;
    case 7: {
        // Bytes 1 to 3 hold a 24-bit flag word; its bit of value 4 asks for a space.
        if (storage.At(offset + 1) & 0x04)
            sink.Put(0x0020);
        return;
    }
    case 8:
        sink.Put(static_cast<WCHAR>(storage.At(offset + 1) | storage.At(offset + 2) << 8));
        return;
    case 18:
        sink.Put(0x0009);
        return;
    case 32:
    case 160:
        sink.Put(0x0020);
        return;
    case 173:
        sink.Put(0x002D);
        return;
    default:
        if (code >= 32)
            sink.Put(CharacterMap[code]);
        return;
    }
}

// With `PlainRuns`, a plain code opens a run taken whole: up to the first code that is not
// plain, the end of the run of positions it lies in (the gap position or the text length), or
// the end of the present bytes. A plain code is a one-byte element that yields its own value, so
// the output is the same as one element at a time.
template <bool PlainRuns, typename Sink>
void WalkElements(const TextStoryBody& story, Sink& sink)
{
    if (story.Bytes == nullptr || story.Size < StoryHeaderSize)
        return;
    const long long textLength = ReadLittleEndianLong(story.Bytes);
    const long long capacity = ReadLittleEndianLong(story.Bytes + 4);
    const long long gap = ReadLittleEndianLong(story.Bytes + 8);
    const long long gapSize = capacity - textLength;
    Storage storage{story.Bytes + StoryHeaderSize, story.Size - StoryHeaderSize};

    // Logical positions below the gap lie at the same storage offset; the rest lie gapSize
    // further on. Within each of the two runs the storage offset grows with the position, so a
    // run of positions outside the present bytes, all zero elements, is passed over at once.
    long long position = 0;
    while (position < textLength) {
        const bool beforeGap = position < gap;
        const long long runEnd = beforeGap ? std::min(gap, textLength) : textLength;
        const long long offset = beforeGap ? position : position + gapSize;
        if (offset < 0) {
            position = std::min(runEnd, position - offset);
            continue;
        }
        if (offset >= storage.Present) {
            position = runEnd;
            continue;
        }
        const BYTE code = storage.Bytes[offset];
        if (PlainRuns && IsPlainCode(code)) {
            // The code at hand is taken here, so that every step moves on whatever the run
            // primitive finds after it.
            sink.Put(code);
            const long long limit = std::min(runEnd - position, storage.Present - offset) - 1;
            position += 1 + static_cast<long long>(sink.PutPlainRun(
                                storage.Bytes + offset + 1, static_cast<std::size_t>(limit)));
            continue;
        }
        EmitElement(storage, offset, code, sink);
        position += ElementLengthTable[code];
    }
}

template <bool PlainRuns>
void Decode(const TextStoryBody* story, WCHAR* output, DWORD* count)
{
    unsigned long long produced;
    if (output == nullptr) {
        CountingSink sink;
        WalkElements<PlainRuns>(*story, sink);
        produced = sink.Count;
    } else {
        FillingSink sink{output};
        WalkElements<PlainRuns>(*story, sink);
        produced = sink.Count;
    }
    if (count != nullptr)
        *count = produced > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(produced);
}

}  // namespace

void DecodeStoryText(const TextStoryBody* story, WCHAR* output, DWORD* count)
{
    Decode<true>(story, output, count);
}

void DecodeStoryTextByElement(const TextStoryBody* story, WCHAR* output, DWORD* count)
{
    Decode<false>(story, output, count);
}
