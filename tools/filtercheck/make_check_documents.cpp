// Writes documents for filtercheck into a folder: make_check_documents FOLDER [COUNT]
// Each is made with the document builder from its own fixed seed, so the same arguments always
// give the same bytes: stories of every element code, gaps anywhere, counts that lie, records
// of other types between them, records that end the document, and files cut short.
#include "tests/support/document_builder.h"
#include "tests/support/fixed_random.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {


// Mostly text, as documents hold it; now and then any code at all, with its full length.
Element RandomElement(FixedRandom& random)
{
    const std::size_t kind = random.Below(100);
    if (kind < 55)
        return Char(static_cast<BYTE>(' ' + random.Below(95)));
    if (kind < 65)
        return Char(static_cast<BYTE>(127 + random.Below(129)));  // typographic set, Latin-1
    if (kind < 72) {
        const BYTE breaks[] = {2, 3, 10, 13};
        return Break(breaks[random.Below(4)]);
    }
    if (kind < 76)
        return Tab();
    if (kind < 81)
        return Wide(static_cast<WORD>(random.Next()));  // surrogates, unpaired ones too
    if (kind < 85)
        return Flags(random.Next() & 0xFFFFFF);
    return Control(static_cast<BYTE>(random.Below(256)), static_cast<BYTE>(random.Next()));
}

StoryLayout RandomStory(FixedRandom& random)
{
    StoryLayout story;
    // Some long enough to span many buffers of 4096 units.
    const std::size_t count = random.Chance(8) ? 4000 + random.Below(12000)
                              : random.Chance(10) ? 0
                                                  : random.Below(400);
    for (std::size_t index = 0; index < count; ++index)
        story.Elements.push_back(RandomElement(random));
    if (random.Chance(70)) {
        story.GapSize = static_cast<DWORD>(random.Below(80));
        story.GapAfter = random.Below(count + 1);
        story.GapFill = static_cast<BYTE>(random.Next());
    }
    // Counts that do not match the body, which the reader must survive.
    if (random.Chance(6))
        story.TextLength = static_cast<LONG>(random.Next());
    if (random.Chance(6))
        story.Capacity = static_cast<LONG>(random.Next() % 4096) - 64;
    if (random.Chance(6))
        story.GapPosition = static_cast<LONG>(random.Next() % 8192) - 64;
    if (random.Chance(5))
        story.BodySize = random.Below(64 + 2 * count);
    return story;
}

Record RandomOtherRecord(FixedRandom& random)
{
    LONG type = static_cast<LONG>(random.Below(5000));
    if (type == TextStoryType)
        ++type;
    return OtherRecord(type, random.Below(300), static_cast<BYTE>(random.Next()));
}

Bytes RandomDocument(std::uint64_t seed)
{
    FixedRandom random(seed * 0x9E3779B97F4A7C15ull + 1);
    DocumentLayout document;
    if (random.Chance(5)) {
        // A preamble of another size: the records then start off where the reader looks.
        document.Preamble = Bytes(random.Below(300), static_cast<BYTE>(random.Next()));
    }
    const std::size_t records = random.Below(12);
    for (std::size_t index = 0; index < records; ++index) {
        if (random.Chance(55))
            document.Records.push_back(StoryRecord(RandomStory(random)));
        else
            document.Records.push_back(RandomOtherRecord(random));
        Record& record = document.Records.back();
        record.HeaderFill = static_cast<BYTE>(random.Next());
        if (random.Chance(4)) {
            // A length that ends the document: shorter than a header, zero or negative.
            const LONG lengths[] = {0, 35, 1, -1, -36, static_cast<LONG>(0x80000000u)};
            record.Length = lengths[random.Below(6)];
        } else if (random.Chance(3)) {
            record.Length = static_cast<LONG>(36 + record.Body.size() + random.Below(100000));
        }
    }
    if (random.Chance(10))
        document.Tail = Bytes(random.Below(40), static_cast<BYTE>(random.Next()));
    Bytes bytes = BuildDocument(document);
    if (random.Chance(15) && !bytes.empty())
        bytes.resize(random.Below(bytes.size()));  // cut short anywhere, in the preamble too
    return bytes;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_check_documents FOLDER [COUNT]\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    const unsigned long count = argc == 3 ? std::strtoul(argv[2], nullptr, 10) : 300;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    for (unsigned long index = 0; index < count; ++index) {
        char name[32];
        std::snprintf(name, sizeof name, "check-%04lu.zcv", index);
        const Bytes bytes = RandomDocument(index);
        std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "make_check_documents: cannot write %s\n",
                         (folder / name).string().c_str());
            return 1;
        }
    }
    return 0;
}
