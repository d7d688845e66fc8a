#include "tests/support/samples.h"

namespace {

// A café's spring brochure: a title, a body story edited in place (its gap sits mid-text),
// and a price list, with layout records before, between and after them.
SampleDocument Brochure()
{
    StoryLayout title{Join({Chars("Caf\xE9 Lumi\xE8re"), {Break(13)}, Chars("Spring "),
                            {Char(151)}, Chars(" Summer Menu")})};

    StoryLayout body{Join({
        {Control(17)},  // character style
        Chars("Our "), {Char(148)}, Chars("Petit D\xE9jeuner"), {Char(149)},
        Chars(" is back"), {Char(140)}, {Break(2)},
        {Char(143)}, Chars(" Croissants, pains au chocolat"), {Break(10)},
        {Char(143)}, Chars(" Cr\xE8me br\xFBl\xE9""e"), {Flags(0x000004)}, Chars("& more"),
        {Flags(0x000000)}, {Break(3)},
        {Control(22)},  // paragraph style
        Chars("Open"), {Char(160)}, Chars("daily, 7"), {Char(151)}, Chars("11 h. Well"),
        {Char(173)}, Chars("known since 1998"), {Char(141)}, {Char(145)}, Chars("s"),
    })};
    body.GapSize = 40;
    body.GapAfter = 12;

    StoryLayout prices{Join({
        Chars("Espresso"), {Tab()}, Chars("2,50 "), {Char(128)}, {Break(13)},
        Chars("Caf\xE9 cr\xE8me"), {Tab()}, Chars("3,80 "), {Wide(0x20AC)}, {Break(13)},
        {Control(6)},  // inline frame
        Chars("Tarte fine "), {Char(152)}, Chars(" pomme"), {Tab()}, Chars("4,20 "), {Char(128)},
    })};
    prices.GapSize = 8;
    prices.GapAfter = 0;

    DocumentLayout document;
    document.Records = {OtherRecord(1, 64),      OtherRecord(4096, 0), StoryRecord(title),
                        OtherRecord(4111, 120),  StoryRecord(body),    OtherRecord(2, 20),
                        OtherRecord(4109, 300),  StoryRecord(prices),  OtherRecord(9, 48)};

    return SampleDocument{
        "brochure.zcv", BuildDocument(document),
        {
            U16("Caf\u00E9 Lumi\u00E8re\r\nSpring \u2013 Summer Menu"),
            U16("Our \u201CPetit D\u00E9jeuner\u201D is back\u2026\r\n"
                "\u2022 Croissants, pains au chocolat\r\n"
                "\u2022 Cr\u00E8me br\u00FBl\u00E9e & more\r\n"
                "Open daily, 7\u201311 h. Well-known since 1998\u2122\u2019s"),
            U16("Espresso\t2,50 \u20AC\r\nCaf\u00E9 cr\u00E8me\t3,80 \u20AC\r\n"
                "Tarte fine \u2014 pomme\t4,20 \u20AC"),
        }};
}

// Layout records only: a document with no text at all.
SampleDocument NoText()
{
    DocumentLayout document;
    document.Records = {OtherRecord(1, 16), OtherRecord(4096, 0), OtherRecord(4109, 200)};
    return SampleDocument{"no-text.zcv", BuildDocument(document), {}};
}

// A file cut off in the middle of its second story: the first story whole, then what the
// second one's bytes still hold.
SampleDocument CutShort()
{
    StoryLayout first{Chars("Minutes of the meeting")};
    StoryLayout second{Join({Chars("Present: A. Lind, B. Ortega"), {Break(13)},
                             Chars("Agenda: budget, rota, summer party")})};
    DocumentLayout document;
    document.Records = {StoryRecord(first), OtherRecord(3, 10), StoryRecord(second)};
    Bytes contents = BuildDocument(document);
    contents.resize(contents.size() - 13);  // loses " summer party"
    return SampleDocument{"cut-short.zcv",
                          contents,
                          {U16("Minutes of the meeting"),
                           U16("Present: A. Lind, B. Ortega\r\nAgenda: budget, rota,")}};
}

}  // namespace

std::vector<SampleDocument> SampleDocuments()
{
    return {Brochure(), NoText(), CutShort()};
}
