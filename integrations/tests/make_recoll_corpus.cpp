// Writes the documents that recoll_test.sh indexes: make_recoll_corpus FOLDER
//
// Every word the test looks for is a made-up token that no dictionary, stemmer or stock index
// knows, and it occurs in exactly the places its comment names. recoll_test.sh holds the table
// of queries and the documents each must find; keep the two in step.
#include "tests/support/document_builder.h"

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace {

Bytes Ascii(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// An element of the given code whose payload (the bytes the length table says follow the code)
// holds `text`, padded with zeros: bytes the decoder must skip, never read as text.
Element ControlHolding(BYTE code, const std::string& text)
{
    Element element = Control(code, 0);
    for (size_t i = 0; i < text.size() && i + 1 < element.Data.size(); ++i)
        element.Data[i + 1] = static_cast<BYTE>(text[i]);
    return element;
}

// Latin-1 codes (accented letters, sharp s, upper case), and a non-Latin-1 letter passed
// through as a wide element.
Bytes Latin()
{
    StoryLayout story{Join({
        Chars("La kr\xE9vanol est pr\xEAte, "),                   // krévanol
        Chars("der Gr\xFC\xDFnitzer und "),                       // Grüßnitzer
        Chars("sm\xF8rbik "),                                     // smørbik
        Chars("\xC9TOLVARDE "),                                   // ÉTOLVARDE (upper case)
        Chars("na\xEFvquest fa\xE7onnier, "),                     // naïvquest façonnier
        Chars("p"), {Wide(0x0159)}, Chars("ivenko."),             // přivenko (U+0159)
    })};
    DocumentLayout document;
    document.Records = {StoryRecord(story)};
    return BuildDocument(document);
}

// Words next to and inside the typographic codes: curly quotes, dashes, ellipsis, bullet,
// trade mark, soft hyphen, no-break space, euro sign; words running through in-text controls
// that yield nothing (a character style, a flag word without its space bit); and text that
// looks like HTML markup.
Bytes Typographic()
{
    StoryLayout story{Join({
        {Char(148)}, Chars("quorvex"), {Char(149)}, Chars(" said "),          // “quorvex”
        {Char(144)}, Chars("snerkle"), {Char(145)}, Chars("s "),              // ‘snerkle’s
        Chars("plimbo"), {Char(151)}, Chars("zantric "),                      // plimbo–zantric
        Chars("drabbit"), {Char(152)}, Chars("moxeline "),                    // drabbit—moxeline
        Chars("wumblor"), {Char(140)}, {Break(13)},                           // wumblor…
        {Char(143)}, Chars(" tarnek"), {Char(141)}, Chars(" "),               // • tarnek™
        Chars("frib"), {Char(173)}, Chars("noxel "),                          // frib-noxel
        Chars("glavin"), {Char(160)}, Chars("troskel "),                      // glavin troskel
        Chars("29"), {Char(128)}, Chars("zublon "),                           // 29€zublon
        Chars("mor"), {Control(17)}, Chars("bekin "),                         // morbekin
        Chars("trun"), {Flags(0x000000)}, Chars("dalik"),                     // trundalik
        {Flags(0x000004)}, Chars("spofflet "),                                // (space) spofflet
        Chars("<anglezift> &amp; x<y"),  // plain text, which a handler taking it for HTML loses
    })};
    DocumentLayout document;
    document.Records = {StoryRecord(story)};
    return BuildDocument(document);
}

// Gap-buffered stories: a word split by the gap, a gap at the very start, and two stories whose
// texts must not run together (cvxtext ends each story with a line feed).
Bytes Gaps()
{
    StoryLayout split{Join({Chars("before vextrandolo after halvornik")})};
    split.GapAfter = 11;  // "before vext" | gap | "randolo after halvornik"
    split.GapSize = 64;
    StoryLayout atStart{Chars("pexilomb closes")};
    atStart.GapAfter = 0;
    atStart.GapSize = 16;
    DocumentLayout document;
    document.Records = {StoryRecord(split), StoryRecord(atStart)};
    return BuildDocument(document);
}

// Bytes that are no text: the preamble, records of other types (one shaped like a text story),
// an element's payload, and a story's gap. The one story holding text comes after them.
Bytes Skipped()
{
    Bytes preamble = Ascii("CORVAN preambzorf ");
    preamble.resize(256, 0x20);

    StoryLayout lookalike{Chars("fauxstorik")};

    StoryLayout story{Join({
        Chars("kept aftskipolo "),
        {ControlHolding(22, " ctlpaykrim ")},  // paragraph style: 31 payload bytes
        {ControlHolding(6, " inlfrazop ")},    // inline frame: 19 payload bytes
        Chars("and more"),
    })};
    story.GapAfter = 5;
    story.GapSize = 32;
    Bytes body = StoryBody(story);
    const std::string gapWord = " gapfillzut ";
    // The gap starts after the 16-byte body header and the 5 one-byte elements "kept ".
    for (size_t i = 0; i < gapWord.size(); ++i)
        body[16 + 5 + 2 + i] = static_cast<BYTE>(gapWord[i]);

    DocumentLayout document;
    document.Preamble = preamble;
    document.Records = {
        Record{1, Ascii(" skiprekwid in a layout record ")},
        OtherRecord(4096, 0),
        Record{4109, StoryBody(lookalike)},
        Record{4111, Ascii(" prevrekmo ")},
        Record{TextStoryType, body},
        Record{9, Ascii(" postrekvu ")},
    };
    return BuildDocument(document);
}

// A word in this document only: it must find this one and no other.
Bytes Plain(const std::string& text)
{
    return DocumentOfStories({Chars(text)});
}

// Damaged: cut off inside its second story. The first story is whole; of the second one what
// the bytes still hold is "cutpartwob", and "cutlostzeb" is gone.
Bytes CutShort()
{
    StoryLayout first{Chars("cutfirstok is whole")};
    StoryLayout second{Chars("cutpartwob cutlostzeb")};
    DocumentLayout document;
    document.Records = {StoryRecord(first), OtherRecord(3, 10), StoryRecord(second)};
    Bytes contents = BuildDocument(document);
    contents.resize(contents.size() - 11);  // loses " cutlostzeb"
    return contents;
}

// Damaged: a record whose length is below its header's ends the document, so the story after
// it ("badlenpost") is never read; the one before it ("badlenpre") is.
Bytes BadLength()
{
    Record broken = OtherRecord(5, 40);
    broken.Length = 12;
    DocumentLayout document;
    document.Records = {StoryRecord(StoryLayout{Chars("badlenpre first")}), broken,
                        StoryRecord(StoryLayout{Chars("badlenpost never")})};
    return BuildDocument(document);
}

// Damaged: a story whose record claims far more bytes than the file holds; its text stays.
Bytes LongLength()
{
    Record story = StoryRecord(StoryLayout{Chars("overlongmif reaches past the end")});
    story.Length = 0x7FFFFF00;
    DocumentLayout document;
    document.Records = {story};
    return BuildDocument(document);
}

// Damaged: no document at all, just bytes of a simple generator (and one ASCII word, which
// must not be found).
Bytes Garbage()
{
    Bytes bytes;
    unsigned state = 12345;
    for (int i = 0; i < 3000; ++i) {
        state = state * 1103515245u + 12345u;
        bytes.push_back(static_cast<BYTE>(state >> 16));
    }
    const std::string word = " garbwuzzle ";
    for (size_t i = 0; i < word.size(); ++i)
        bytes[600 + i] = static_cast<BYTE>(word[i]);
    return bytes;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_recoll_corpus FOLDER\n");
        return 2;
    }
    // Damaged documents sit between sound ones in name order.
    const std::vector<std::pair<std::string, Bytes>> documents = {
        {"a-latin.zcv", Latin()},
        {"b-cut-short.zcv", CutShort()},
        {"c-typographic.zcv", Typographic()},
        {"d-bad-length.zcv", BadLength()},
        {"e-gaps.zcv", Gaps()},
        {"f-garbage.zcv", Garbage()},
        {"g-skipped.zcv", Skipped()},
        {"h-long-length.zcv", LongLength()},
        {"i-alpha.zcv", Plain("alphquembo here")},
        {"j-beta.zcv", Plain("betquembo there")},
        {"k-upper-suffix.ZCV", Plain("upsufkorn")},
        {"l name with spaces & 'quotes'.zcv", Plain("spacenamvo")},
    };
    for (const auto& [name, contents] : documents) {
        std::string path = std::string(argv[1]) + "/" + name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(contents.data()),
                  static_cast<std::streamsize>(contents.size()));
        if (!out) {
            std::fprintf(stderr, "make_recoll_corpus: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
