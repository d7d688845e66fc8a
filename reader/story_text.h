// Decoding of a text story's gap-buffered text elements into UTF-16.
#pragma once

#include "platform/platform.h"

// Size of the counts that open a text story's body: text length, capacity, gap position and one
// unused field, each a little-endian signed 32-bit value.
const DWORD StoryHeaderSize = 16;

// A text story's body as loaded from the file. The counts are not trusted: positions map into
// the storage by the gap rule whatever they say, and a position that falls outside the loaded
// bytes (a story cut short by the end of the file, or counts that do not match the body) reads
// as a zero byte, an element that yields nothing.
struct TextStoryBody {
    const BYTE* Bytes;
    DWORD Size;
};

// Walks the story's elements in logical order. With a null output it only counts (measuring
// pass); otherwise it also stores the code units into `output`, which must hold as many as the
// measuring pass counted (filling pass). Both passes give the same count; a count that does not
// fit in 32 bits reads as 0xFFFFFFFF. Reads nothing outside the loaded bytes, and its time is
// bounded by their number, whatever the counts say.
void DecodeStoryText(const TextStoryBody* story, WCHAR* output, DWORD* count);
