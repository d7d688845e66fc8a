// Writes a corpus for measuring cvxtext against other tools (bench/compare.sh), made with the
// document builder:
//   FOLDER/docs/doc-NNNN.zcv    documents of prose stories and skipped records, SIZE in all
//   FOLDER/stories.bin          every story's element bytes, one story after another (the text
//                               as Latin-1 bytes, give or take the codes, for iconv)
//   FOLDER/small/small-NNNN.zcv COUNT small documents (for -j), when asked for
// The same arguments always give the same bytes.
#include "tests/support/document_builder.h"
#include "tests/support/fixed_random.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Settings {
    fs::path Folder;
    std::size_t Size = std::size_t(256) << 20;
    std::size_t SmallCount = 0;
    std::size_t SmallSize = std::size_t(32) << 10;
};

const std::size_t DocumentSize = std::size_t(4) << 20;
const std::size_t StorySize = std::size_t(256) << 10;


// Words as element codes: mostly ASCII, some Latin-1 (codes 160-255 are themselves).
const char* const Words[] = {
    "the",      "of",        "and",       "a",        "to",        "in",         "is",
    "was",      "that",      "for",       "on",       "with",      "as",         "by",
    "page",     "layout",    "column",    "headline", "printer",   "proof",      "margin",
    "type",     "story",     "frame",     "notice",    "edition",   "reader",     "evening",
    "harbour",  "market",    "council",   "weather",  "festival",  "schedule",   "morning",
    "editor",   "spread",    "template",  "colour",   "image",     "caption",    "between",
    "although", "meanwhile", "published", "printed",  "announced", "considered", "library",
    "caf\xE9",  "na\xEFve",  "fa\xE7" "ade", "r\xE9sum\xE9", "Z\xFCrich", "\xFC" "ber",
    "se\xF1or", "d\xE9j\xE0", "cr\xE8me", "M\xFCller",
};
const std::size_t WordCount = sizeof Words / sizeof Words[0];

// Typographic codes (127-159): quotes, dashes, the ellipsis, the euro sign.
const BYTE OpenQuote = 148, CloseQuote = 149, EnDash = 151, EmDash = 152, Ellipsis = 140,
           Euro = 128;

// One sentence of one-byte elements. They are kept together as one Element: the builder only
// concatenates element bytes, and a story of a million one-byte Elements would take far
// longer to make than to read.
Element Sentence(FixedRandom& random)
{
    Element sentence;
    Bytes& codes = sentence.Data;
    const bool quoted = random.Chance(10);
    if (quoted)
        codes.push_back(OpenQuote);
    const std::size_t words = 4 + random.Below(16);
    for (std::size_t index = 0; index < words; ++index) {
        if (index > 0) {
            if (random.Chance(3)) {
                codes.push_back(' ');
                codes.push_back(random.Chance(50) ? EmDash : EnDash);
            } else if (random.Chance(6)) {
                codes.push_back(',');
            }
            codes.push_back(' ');
        }
        if (random.Chance(2)) {
            codes.push_back(Euro);
            codes.push_back(static_cast<BYTE>('1' + random.Below(9)));
            codes.push_back('0');
            continue;
        }
        const char* word = Words[random.Below(WordCount)];
        const std::size_t start = codes.size();
        codes.insert(codes.end(), word, word + std::strlen(word));
        if (index == 0 && codes[start] >= 'a' && codes[start] <= 'z')
            codes[start] = static_cast<BYTE>(codes[start] - 'a' + 'A');
    }
    if (random.Chance(2))
        codes.push_back(Ellipsis);
    else
        codes.push_back(random.Chance(90) ? '.' : '?');
    if (quoted)
        codes.push_back(CloseQuote);
    return sentence;
}

// Paragraphs of sentences until the story holds about `size` bytes of elements: breaks
// between paragraphs, now and then a tab, a flag word that asks for a space, or a control
// element that yields nothing.
std::vector<Element> Prose(FixedRandom& random, std::size_t size)
{
    std::vector<Element> elements;
    std::size_t bytes = 0;
    auto add = [&](Element element) {
        bytes += element.Data.size();
        elements.push_back(std::move(element));
    };
    while (bytes < size) {
        if (random.Chance(20))
            add(Tab());
        const std::size_t sentences = 2 + random.Below(7);
        for (std::size_t index = 0; index < sentences; ++index) {
            if (index > 0) {
                if (random.Chance(3))
                    add(Flags(0x04));
                else
                    add(Char(' '));
            }
            if (random.Chance(2))
                add(Control(6));
            add(Sentence(random));
        }
        add(Break(random.Chance(80) ? 13 : 10));
    }
    return elements;
}

void AppendElements(Bytes* out, const std::vector<Element>& elements)
{
    for (const Element& element : elements)
        out->insert(out->end(), element.Data.begin(), element.Data.end());
}

// A document of about `size` bytes: stories of about `storySize` with a gap somewhere inside,
// and records of other types between them. Each story's element bytes go to *stories.
Bytes Document(FixedRandom& random, std::size_t size, std::size_t storySize, Bytes* stories)
{
    DocumentLayout document;
    std::size_t bytes = 256;
    while (bytes < size) {
        const std::size_t remaining = size - bytes;
        if (random.Chance(40)) {
            const std::size_t other = std::min(256 + random.Below(storySize / 8), remaining);
            document.Records.push_back(
                OtherRecord(static_cast<LONG>(4096 + random.Below(16)), other));
            bytes += 36 + other;
            continue;
        }
        StoryLayout story;
        const std::size_t length = storySize / 2 + random.Below(storySize);
        story.Elements = Prose(random, std::min(length, remaining));
        story.GapSize = static_cast<DWORD>(random.Below(4096));
        story.GapAfter = random.Below(story.Elements.size() + 1);
        AppendElements(stories, story.Elements);
        document.Records.push_back(StoryRecord(story));
        bytes += 36 + document.Records.back().Body.size();
    }
    return BuildDocument(document);
}

bool WriteFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        std::cerr << "make_corpus: cannot write " << path.string() << "\n";
        return false;
    }
    return true;
}

std::string Numbered(const char* stem, std::size_t number)
{
    char name[64];
    std::snprintf(name, sizeof name, "%s-%04zu.zcv", stem, number);
    return name;
}

int Usage()
{
    std::cerr << "usage: make_corpus FOLDER [--size MIB] [--small COUNT] [--small-kib KIB]\n"
                 "  --size MIB       the documents' size in all (default 256)\n"
                 "  --small COUNT    also write COUNT small documents (default 0)\n"
                 "  --small-kib KIB  the size of each small document (default 32)\n";
    return 2;
}

bool ParseSize(const char* text, std::size_t unit, std::size_t* value)
{
    char* end = nullptr;
    const unsigned long long number = std::strtoull(text, &end, 10);
    if (end == text || *end != 0 || number == 0 || number > (std::size_t(1) << 40) / unit)
        return false;
    *value = static_cast<std::size_t>(number) * unit;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    Settings settings;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        const bool hasValue = index + 1 < argc;
        if (argument == "--size" && hasValue) {
            if (!ParseSize(argv[++index], std::size_t(1) << 20, &settings.Size))
                return Usage();
        } else if (argument == "--small" && hasValue) {
            if (!ParseSize(argv[++index], 1, &settings.SmallCount))
                return Usage();
        } else if (argument == "--small-kib" && hasValue) {
            if (!ParseSize(argv[++index], std::size_t(1) << 10, &settings.SmallSize))
                return Usage();
        } else if (settings.Folder.empty() && !argument.empty() && argument[0] != '-') {
            settings.Folder = argument;
        } else {
            return Usage();
        }
    }
    if (settings.Folder.empty())
        return Usage();

    std::error_code error;
    fs::create_directories(settings.Folder / "docs", error);
    if (settings.SmallCount > 0)
        fs::create_directories(settings.Folder / "small", error);
    if (error) {
        std::cerr << "make_corpus: cannot make " << settings.Folder.string() << ": "
                  << error.message() << "\n";
        return 1;
    }

    FixedRandom random(0x5EED2026);
    Bytes stories;
    std::size_t written = 0;
    for (std::size_t number = 1; written < settings.Size; ++number) {
        const std::size_t size = std::min(DocumentSize, settings.Size - written);
        const Bytes document = Document(random, size, StorySize, &stories);
        if (!WriteFile(settings.Folder / "docs" / Numbered("doc", number), document))
            return 1;
        written += document.size();
    }
    if (!WriteFile(settings.Folder / "stories.bin", stories))
        return 1;

    Bytes ignored;
    for (std::size_t number = 1; number <= settings.SmallCount; ++number) {
        const Bytes document =
            Document(random, settings.SmallSize, settings.SmallSize / 2, &ignored);
        if (!WriteFile(settings.Folder / "small" / Numbered("small", number), document))
            return 1;
    }
    std::cout << "make_corpus: " << written << " bytes of documents, " << stories.size()
              << " bytes of story elements";
    if (settings.SmallCount > 0)
        std::cout << ", " << settings.SmallCount << " small documents";
    std::cout << " in " << settings.Folder.string() << "\n";
    return 0;
}
