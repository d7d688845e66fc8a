// Builds documents byte by byte for tests, benchmarks and fuzz seeds: any preamble, records of
// any type and length, and text stories with any counts, storage and gap.
#pragma once

#include "platform/platform.h"

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<BYTE>;

// One text element: its code byte followed by its payload.
struct Element {
    Bytes Data;
};

Element Char(BYTE code);                  // a one-byte element
Element Break(BYTE code = 13);            // 2, 3, 10 or 13: a line break
Element Tab();                            // code 18, four bytes
Element Wide(WORD unit);                  // code 8: one code unit passed through
Element Flags(DWORD flags);               // code 7: a 24-bit flag word, sixteen bytes
Element Control(BYTE code, BYTE fill = 0xEE);  // any code, as long as the length table says
std::vector<Element> Chars(const std::string& codes);  // each byte a one-byte element
std::vector<Element> Join(std::initializer_list<std::vector<Element>> parts);  // one after another

// A text story's body. Unset counts follow from the elements: the text length is the elements'
// size, the capacity that plus the gap, and the gap lies after `GapAfter` elements (default: at
// the end of the text).
struct StoryLayout {
    std::vector<Element> Elements;
    DWORD GapSize = 0;
    std::optional<size_t> GapAfter;
    BYTE GapFill = 0xCC;  // gap bytes, which the decoder must never read as text
    std::optional<LONG> TextLength;
    std::optional<LONG> Capacity;
    std::optional<LONG> GapPosition;
    LONG Unused = 0x5A5A5A5A;
    std::optional<size_t> BodySize;  // cut the body short or pad it with zeros
};

Bytes StoryBody(const StoryLayout& story);

// A record; Length unset means 36 + the body's size.
struct Record {
    LONG Type;
    Bytes Body;
    std::optional<LONG> Length;
    BYTE HeaderFill = 0xA5;  // the header's uninterpreted bytes
};

const LONG TextStoryType = 4110;

Record StoryRecord(const StoryLayout& story);
Record OtherRecord(LONG type, size_t bodySize, BYTE fill = 0x77);

struct DocumentLayout {
    std::optional<Bytes> Preamble;  // default: 256 bytes of a pattern
    std::vector<Record> Records;
    Bytes Tail;  // bytes after the last record
};

Bytes BuildDocument(const DocumentLayout& document);

// Convenience: a document holding one story per element list, with the elements' default layout.
Bytes DocumentOfStories(const std::vector<std::vector<Element>>& stories);
