#include "tests/support/document_builder.h"

#include "reader/element_tables.h"

namespace {

void PutLong(Bytes& bytes, size_t at, LONG value)
{
    DWORD bits = static_cast<DWORD>(value);
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<BYTE>(bits >> (8 * i));
}

void AppendLong(Bytes& bytes, LONG value)
{
    bytes.resize(bytes.size() + 4);
    PutLong(bytes, bytes.size() - 4, value);
}

}  // namespace

Element Char(BYTE code)
{
    return Element{{code}};
}

Element Break(BYTE code)
{
    return Element{{code}};
}

Element Tab()
{
    return Control(18, 0);
}

Element Wide(WORD unit)
{
    return Element{{8, static_cast<BYTE>(unit), static_cast<BYTE>(unit >> 8)}};
}

Element Flags(DWORD flags)
{
    Element element = Control(7, 0);
    element.Data[1] = static_cast<BYTE>(flags);
    element.Data[2] = static_cast<BYTE>(flags >> 8);
    element.Data[3] = static_cast<BYTE>(flags >> 16);
    return element;
}

Element Control(BYTE code, BYTE fill)
{
    Element element{Bytes(ElementLengthTable[code], fill)};
    element.Data[0] = code;
    return element;
}

std::vector<Element> Chars(const std::string& codes)
{
    std::vector<Element> elements;
    for (char code : codes)
        elements.push_back(Char(static_cast<BYTE>(code)));
    return elements;
}

std::vector<Element> Join(std::initializer_list<std::vector<Element>> parts)
{
    std::vector<Element> all;
    for (const std::vector<Element>& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes StoryBody(const StoryLayout& story)
{
    Bytes before, after;
    size_t gapAfter = story.GapAfter.value_or(story.Elements.size());
    for (size_t i = 0; i < story.Elements.size(); ++i) {
        Bytes& side = i < gapAfter ? before : after;
        side.insert(side.end(), story.Elements[i].Data.begin(), story.Elements[i].Data.end());
    }
    LONG textLength = static_cast<LONG>(before.size() + after.size());

    Bytes body;
    AppendLong(body, story.TextLength.value_or(textLength));
    AppendLong(body, story.Capacity.value_or(textLength + static_cast<LONG>(story.GapSize)));
    AppendLong(body, story.GapPosition.value_or(static_cast<LONG>(before.size())));
    AppendLong(body, story.Unused);
    body.insert(body.end(), before.begin(), before.end());
    body.insert(body.end(), story.GapSize, story.GapFill);
    body.insert(body.end(), after.begin(), after.end());
    if (story.BodySize)
        body.resize(*story.BodySize, 0);
    return body;
}

Record StoryRecord(const StoryLayout& story)
{
    return Record{TextStoryType, StoryBody(story)};
}

Record OtherRecord(LONG type, size_t bodySize, BYTE fill)
{
    return Record{type, Bytes(bodySize, fill)};
}

Bytes BuildDocument(const DocumentLayout& document)
{
    Bytes bytes;
    if (document.Preamble) {
        bytes = *document.Preamble;
    } else {
        for (int i = 0; i < 256; ++i)
            bytes.push_back(static_cast<BYTE>(i * 7 + 3));
    }
    for (const Record& record : document.Records) {
        size_t start = bytes.size();
        bytes.resize(start + 36, record.HeaderFill);
        PutLong(bytes, start + 24, record.Length.value_or(static_cast<LONG>(36 + record.Body.size())));
        PutLong(bytes, start + 32, record.Type);
        bytes.insert(bytes.end(), record.Body.begin(), record.Body.end());
    }
    bytes.insert(bytes.end(), document.Tail.begin(), document.Tail.end());
    return bytes;
}

Bytes DocumentOfStories(const std::vector<std::vector<Element>>& stories)
{
    DocumentLayout document;
    for (const std::vector<Element>& elements : stories)
        document.Records.push_back(StoryRecord(StoryLayout{elements}));
    return BuildDocument(document);
}
