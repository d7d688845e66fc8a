#include "fuzz/seeds.h"

#include "fuzz/filter_script.h"
#include "fuzz/registry_input.h"
#include "reader/story_text.h"
#include "tests/support/samples.h"

#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

// --- reader: story bodies and whole documents -------------------------------------------------

void AddStory(std::vector<Seed>& seeds, const std::string& name, const StoryLayout& story)
{
    seeds.push_back({"story-" + name, StoryBody(story)});
}

void AddDocument(std::vector<Seed>& seeds, const std::string& name, const Bytes& document)
{
    seeds.push_back({"document-" + name, document});
}

std::vector<Element> Repeat(const std::string& text, unsigned times)
{
    std::string all;
    for (unsigned index = 0; index < times; ++index)
        all += text;
    return Chars(all);
}

void AddStories(std::vector<Seed>& seeds)
{
    AddStory(seeds, "plain", {Chars("Plain text long enough for the fast path: 0123456789 abc")});
    AddStory(seeds, "breaks",
             {Join({Chars("a"), {Break(2)}, Chars("b"), {Break(3)}, Chars("c"), {Break(10)},
                    Chars("d"), {Break(13)}})});
    AddStory(seeds, "tab-wide-flags",
             {Join({Chars("x"), {Tab()}, {Wide(0x20AC)}, {Wide(0)}, {Wide(0xD800)}, {Flags(4)},
                    {Flags(0)}, {Flags(0xFFFFFF)}, Chars("y")})});
    std::vector<Element> controls;
    for (BYTE code : {6, 7, 8, 17, 18, 19, 20, 22}) {
        controls.push_back(Control(code, 0xEE));
        controls.push_back(Control(code, 0x00));
        controls.push_back(Char('.'));
    }
    AddStory(seeds, "controls", {controls});
    std::vector<Element> everyCode;
    for (int code = 0; code < 256; ++code)
        everyCode.push_back(Control(static_cast<BYTE>(code), 0x41));
    AddStory(seeds, "every-code", {everyCode});
    std::vector<Element> typographic;
    for (int code = 127; code <= 173; ++code)
        typographic.push_back(Char(static_cast<BYTE>(code)));
    AddStory(seeds, "typographic", {Join({typographic, Chars("\xA1\xFF\xAD\xA0")})});

    const std::vector<Element> ten = Chars("0123456789");
    for (size_t gapAfter : {0, 4, 10})
        for (DWORD gapSize : {0, 8, 40}) {
            StoryLayout story{ten, gapSize, gapAfter};
            AddStory(seeds, "gap-" + std::to_string(gapAfter) + "-" + std::to_string(gapSize), story);
        }
    StoryLayout story{ten, 8, 4};
    story.GapPosition = -5;
    AddStory(seeds, "gap-negative", story);
    story.GapPosition = 1000;
    AddStory(seeds, "gap-beyond-text", story);
    story = StoryLayout{ten, 8, 4};
    story.Capacity = 2;
    AddStory(seeds, "capacity-below-length", story);
    story = StoryLayout{ten, 8, 4};
    story.TextLength = 100000;
    AddStory(seeds, "length-beyond-body", story);
    story.TextLength = -1;
    AddStory(seeds, "length-negative", story);
    story.TextLength = 0x7FFFFFFF;
    story.Capacity = static_cast<LONG>(0x80000000u);
    story.GapPosition = 0x40000000;
    AddStory(seeds, "counts-extreme", story);
    story = StoryLayout{Join({Chars("ab"), {Flags(4)}, Chars("cd")})};
    story.BodySize = StoryHeaderSize + 2 + 5;
    AddStory(seeds, "cut-inside-element", story);
    story = StoryLayout{ten};
    story.BodySize = StoryHeaderSize;
    AddStory(seeds, "header-only", story);
    story.BodySize = 10;
    AddStory(seeds, "header-cut", story);
    AddStory(seeds, "plain-across-gap", {Repeat("abcdefgh", 10), 8, 40});
    AddStory(seeds, "plain-long", {Join({Repeat("The quick brown fox. ", 20), {Char(151)},
                                         Repeat("\xE9t\xE9 ", 30)}),
                                   33, 150});
}

Record Broken(LONG length)
{
    Record record = OtherRecord(1, 40);
    record.Length = length;
    return record;
}

void AddDocuments(std::vector<Seed>& seeds)
{
    for (const SampleDocument& sample : SampleDocuments())
        AddDocument(seeds, sample.Name, sample.Contents);
    const Record one = StoryRecord(StoryLayout{Chars("one")});
    const Record two = StoryRecord(StoryLayout{Chars("two")});
    AddDocument(seeds, "two-stories", DocumentOfStories({Chars("Alpha beta"), Chars("Gamma")}));
    AddDocument(seeds, "empty-story", DocumentOfStories({{}, Chars("after"), {}}));
    AddDocument(seeds, "skipped-records",
                BuildDocument({std::nullopt,
                               {OtherRecord(1, 64), OtherRecord(4096, 0), one,
                                OtherRecord(4111, 120), OtherRecord(4110 + 1, 3), two}}));
    for (LONG length : {0, 35, -1, static_cast<LONG>(0x80000000u)})
        AddDocument(seeds, "record-length-" + std::to_string(length),
                    BuildDocument({std::nullopt, {one, Broken(length), two}}));
    Record far = OtherRecord(2, 10);
    far.Length = 0x7FFFFFF0;
    AddDocument(seeds, "record-length-past-any-file", BuildDocument({std::nullopt, {one, far, two}}));
    Record hugeStory = StoryRecord(StoryLayout{Chars("small")});
    hugeStory.Length = 0x7FFFFFF0;
    AddDocument(seeds, "story-length-past-file", BuildDocument({std::nullopt, {one, hugeStory}}));
    Record shortStory = StoryRecord(StoryLayout{Chars("lost in the next record")});
    shortStory.Length = 36 + 20;
    AddDocument(seeds, "story-length-below-body", BuildDocument({std::nullopt, {shortStory, two}}));
    AddDocument(seeds, "header-cut-short",
                BuildDocument({std::nullopt, {one}, Bytes(20, 0x11)}));
    Bytes cut = BuildDocument({std::nullopt, {one, StoryRecord(StoryLayout{Chars("cut off here")})}});
    cut.resize(cut.size() - 5);
    AddDocument(seeds, "story-cut-short", cut);
    AddDocument(seeds, "preamble-only", BuildDocument({Bytes(256, 0), {}}));
    AddDocument(seeds, "preamble-short", Bytes(100, 0x42));
    AddDocument(seeds, "empty", {});
    StoryLayout gapped{Join({Chars("before the gap "), {Break(13)}, Chars("after it")}), 16, 3};
    AddDocument(seeds, "story-with-gap", BuildDocument({std::nullopt, {StoryRecord(gapped)}}));
}

std::vector<Seed> ReaderSeeds()
{
    std::vector<Seed> seeds;
    AddStories(seeds);
    AddDocuments(seeds);
    return seeds;
}

// --- filter: host scripts over documents -------------------------------------------------------

using namespace filter_script;

class Script {
public:
    explicit Script(BYTE setup = 0) { Bytes_.push_back(setup); }
    // An Init choice: flags, attribute mode and the bytes that mode reads.
    Script& Init(unsigned flags, AttributeMode mode, std::initializer_list<BYTE> extra = {})
    {
        Bytes_.push_back(static_cast<BYTE>(flags));
        Bytes_.push_back(static_cast<BYTE>(flags >> 8));
        Bytes_.push_back(mode);
        Bytes_.insert(Bytes_.end(), extra);
        return *this;
    }
    Script& Do(Op op, unsigned parameter = 0, std::initializer_list<BYTE> extra = {})
    {
        Bytes_.push_back(static_cast<BYTE>(parameter << 4 | op));
        Bytes_.insert(Bytes_.end(), extra);
        return *this;
    }
    Script& Reinit(unsigned flags, AttributeMode mode, std::initializer_list<BYTE> extra = {})
    {
        Do(filter_script::Reinit);
        return Init(flags, mode, extra);
    }
    Script& Large(unsigned size)
    {
        const unsigned value = size - 1;
        return Do(TextLarge, 0, {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8)});
    }
    Bytes Input(const Bytes& document) const
    {
        Bytes input{static_cast<BYTE>(Bytes_.size())};
        input.insert(input.end(), Bytes_.begin(), Bytes_.end());
        input.insert(input.end(), document.begin(), document.end());
        return input;
    }

private:
    Bytes Bytes_;
};

const unsigned Index = IFILTER_INIT_APPLY_INDEX_ATTRIBUTES;

std::vector<std::pair<std::string, Script>> Scripts()
{
    return {
        {"defaults", Script()},
        {"index-attributes", Script().Init(Index, NoAttributes)},
        {"other-flags-only", Script().Init(IFILTER_INIT_CANON_PARAGRAPHS | 0x3C0, NoAttributes)},
        {"contents", Script().Init(0, Contents)},
        {"other-set", Script().Init(Index, OtherSet, {PID_STG_CONTENTS})},
        {"storage-set-near-miss", Script().Init(0, OtherSet, {0x40 | PID_STG_CONTENTS})},
        {"by-name", Script().Init(Index, ByName, {0})},
        {"null-array", Script().Init(0, NullArray, {0}).Do(Chunk).Reinit(Index, NoAttributes)},
        {"null-array-midway",
         Script().Init(Index, NoAttributes).Do(Chunk).Do(TextSmall, 1).Reinit(0, NullArray, {200})},
        {"several", Script().Init(0, Several, {5, 1, 2, 3, 7, 9, 0, 6})},
        {"several-without-contents", Script().Init(Index, Several, {1, 1, 2, 3})},
        {"count-zero-array", Script().Init(IFILTER_INIT_HARD_LINE_BREAKS, CountZeroArray)},
        {"buffer-1", Script().Init(Index, NoAttributes).Do(TakeAll, 0, {0})},
        {"buffer-5000", Script().Init(0, NoAttributes).Do(Chunk).Large(5000).Do(Chunk).Large(4999)},
        {"buffer-sizes",
         Script().Init(0, NoAttributes).Do(Chunk).Do(TextSmall, 2).Large(7).Do(Drain, 0, {1})
             .Do(Chunk).Do(TextSmall, 15).Do(Drain, 0, {250})},
        {"reinit-midway",
         Script().Init(Index, NoAttributes).Do(Chunk).Do(TextSmall, 2).Reinit(Index, NoAttributes)
             .Do(TextSmall, 3).Do(Chunk).Do(TakeAll, 0, {0})},
        {"reinit-to-nothing",
         Script().Init(0, Contents).Do(Chunk).Do(TextSmall, 5).Reinit(0, OtherSet, {2}).Do(Chunk)
             .Do(TextSmall, 5).Reinit(0, Contents)},
        {"chunk-before-drained",
         Script().Init(0, NoAttributes).Do(Chunk).Do(TextSmall, 0).Do(Chunk).Do(TextSmall, 0)
             .Do(Chunk).Do(Chunk)},
        {"value-and-region",
         Script().Init(0, NoAttributes).Do(Value).Do(Chunk).Do(Value).Do(Region, 0, {3})
             .Do(TextSmall, 4).Do(Value).Do(Chunk).Do(Region, 0, {0}).Do(TextSmall, 4)},
        {"zero-buffer",
         Script().Init(0, NoAttributes).Do(TextZero).Do(Chunk).Do(TextZero).Do(TextSmall, 3)
             .Do(TextZero)},
        {"load-missing-first",
         Script(LoadMissingFirst).Init(0, NoAttributes).Do(Chunk).Do(TextSmall, 3).Do(Load, 0)
             .Reinit(Index, NoAttributes).Do(TakeAll, 0, {2})},
        {"load-missing-midway",
         Script().Init(0, NoAttributes).Do(Chunk).Do(TextSmall, 1).Do(Load, 1)
             .Reinit(0, NoAttributes).Do(Chunk).Do(Load, 0).Reinit(0, NoAttributes)},
        {"load-without-init",
         Script().Init(0, NoAttributes).Do(Chunk).Do(Load, 1).Do(TextSmall, 7).Do(Chunk)},
        {"init-before-load",
         Script(InitBeforeLoad).Init(0, NoAttributes).Init(Index, NoAttributes)},
        {"lock-reference-persistfile",
         Script(HoldServerLock | ExtraReference | CreateAsPersistFile).Init(0, NoAttributes)
             .Do(Chunk)},
        {"after-the-end",
         Script().Init(0, NoAttributes).Do(TakeAll, 0, {10}).Do(Chunk).Do(TextSmall, 2).Do(Value)
             .Reinit(0, NoAttributes).Do(Chunk)},
    };
}

std::vector<Seed> FilterSeeds()
{
    std::vector<std::pair<std::string, Bytes>> documents;
    for (const SampleDocument& sample : SampleDocuments())
        documents.push_back({sample.Name, sample.Contents});
    documents.push_back({"two-stories", DocumentOfStories({Chars("Alpha beta"), Chars("Gamma")})});
    documents.push_back({"empty-stories", DocumentOfStories({{}, Chars("after"), {}})});
    documents.push_back({"bad-length", BuildDocument({std::nullopt,
                                                      {StoryRecord(StoryLayout{Chars("one")}),
                                                       Broken(0),
                                                       StoryRecord(StoryLayout{Chars("two")})}})});
    documents.push_back({"empty", {}});

    std::vector<Seed> seeds;
    for (const auto& [scriptName, script] : Scripts()) {
        // Every script on the richest document; the host patterns also on the others.
        seeds.push_back({scriptName + "-brochure.zcv", script.Input(documents[0].second)});
        const bool everywhere = scriptName == "defaults" || scriptName == "buffer-1" ||
                                scriptName == "reinit-midway" || scriptName == "chunk-before-drained";
        if (!everywhere)
            continue;
        for (size_t index = 1; index < documents.size(); ++index)
            seeds.push_back({scriptName + "-" + documents[index].first,
                             script.Input(documents[index].second)});
    }
    return seeds;
}

// --- registration: registry contents, modes, calls and failures ---------------------------

using namespace registry_input;

const unsigned CreateMode = 0;  // Versions[0], NT 4.0
const unsigned OpenOnly = 1;    // Versions[1], NT 6.1

class Registry {
public:
    // `calls` spells the calls in order: R registers, U unregisters. `fault` is 0 or
    // 1 + the index in FaultChoices.
    Registry(unsigned version, const std::string& calls, unsigned fault = 0, BYTE skip = 0,
             BYTE error = 0)
    {
        BYTE order = static_cast<BYTE>(calls.size() - 1);
        for (size_t index = 0; index < calls.size(); ++index)
            if (calls[index] == 'U')
                order |= static_cast<BYTE>(1u << (2 + index));
        Bytes_ = {static_cast<BYTE>(version), order, static_cast<BYTE>(fault), skip, error};
    }

    Registry& Key(const std::string& path)
    {
        std::vector<std::string> names;
        for (size_t start = 0;;) {
            const size_t end = path.find('\\', start);
            names.push_back(path.substr(start, end - start));
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        const size_t first = std::min<size_t>(names.size(), 4);
        Bytes_.push_back(KeyAtRoot);
        Bytes_.push_back(static_cast<BYTE>(first - 1));
        for (size_t index = 0; index < names.size(); ++index) {
            if (index >= first)
                Bytes_.push_back(Subkey);
            Name(names[index]);
        }
        return *this;
    }
    Registry& Default(const std::string& text)
    {
        Bytes_.push_back(SetDefault);
        return Name(text);
    }
    // A value of type ValueTypes[typeIndex] holding a text, with or without its zero.
    Registry& Text(const std::string& name, BYTE typeIndex, const std::string& text,
                   bool terminated = true)
    {
        Bytes_.push_back(SetValue);
        Name(name);
        Bytes_.push_back(typeIndex);
        Bytes_.push_back(terminated ? 0 : 1);
        return Name(text);
    }
    Registry& Raw(const std::string& name, BYTE type, const Bytes& data)
    {
        Bytes_.push_back(SetValue);
        Name(name);
        Bytes_.push_back(type);
        Bytes_.push_back(3);
        Bytes_.push_back(static_cast<BYTE>(data.size()));
        Bytes_.insert(Bytes_.end(), data.begin(), data.end());
        return *this;
    }
    Registry& Op(RegistryOp op, std::initializer_list<BYTE> extra = {})
    {
        Bytes_.push_back(op);
        Bytes_.insert(Bytes_.end(), extra);
        return *this;
    }
    Registry& Name(const std::string& text)
    {
        for (unsigned index = 0; index < DictionarySize; ++index)
            if (text == Dictionary[index]) {
                Bytes_.push_back(static_cast<BYTE>(index));
                return *this;
            }
        const bool uniform = !text.empty() && text.size() < 512 &&
                             text.find_first_not_of(text[0]) == std::string::npos;
        if (uniform) {
            Bytes_.push_back(static_cast<BYTE>(0x80 | (text.size() >= 256 ? 1 : 0)));
            Bytes_.push_back(static_cast<BYTE>(text[0]));
            Bytes_.push_back(static_cast<BYTE>(text.size() & 0xFF));
            return *this;
        }
        if (text.size() > 0x3F)
            std::abort();  // seeds name nothing longer
        Bytes_.push_back(static_cast<BYTE>(0xC0 | text.size()));
        for (char c : text) {
            Bytes_.push_back(static_cast<BYTE>(c));
            Bytes_.push_back(0);
        }
        return *this;
    }
    const Bytes& Data() const { return Bytes_; }

private:
    Bytes Bytes_;
};

const std::string Handler = "{2B5F8E10-7C34-4A9D-B1E6-93D0F4A7C258}";
const std::string FilterClass = "{6E1C2D47-A93B-4F20-9D84-5B7A0C3E61F9}";
const std::string DocumentClass = "{A8D3C61E-5F02-4B7C-8E39-1C6B2F9D04E7}";
const std::string OtherClass = "{B0C0FFEE-0000-4000-8000-000000000001}";
const std::string ProgId = "CorvanPro.Document";
const std::string Description = "Corvane Pro Document";
const BYTE RegSz = 0, RegDword = 3;  // indices into ValueTypes

// Everything, as create mode writes it.
void Registered(Registry& r)
{
    r.Key(".zcv").Default(ProgId).Key(".zcv\\PersistentHandler").Default(Handler);
    r.Key("CLSID\\" + Handler).Default("CorvanePro Persistent Handler");
    r.Key("CLSID\\" + Handler + "\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}")
        .Default("{6E1C2D47-A93b-4F20-9D84-5B7A0C3E61F9}");
    r.Key("CLSID\\" + FilterClass).Default("CorvanePro Filter");
    r.Key("CLSID\\" + FilterClass + "\\InprocServer32").Default("CVXFilter.dll")
        .Text("ThreadingModel", RegSz, "Both");
    r.Key("CLSID\\" + DocumentClass).Default(Description);
    r.Key("CLSID\\" + DocumentClass + "\\PersistentHandler").Default(Handler);
    r.Key(ProgId).Default(Description).Key(ProgId + "\\CLSID").Default(DocumentClass);
}

using State = std::function<void(Registry&)>;

// The registries of the registration and unregistration tests, and junk besides.
std::vector<std::pair<std::string, State>> States()
{
    const Bytes one{1, 0, 0, 0};
    return {
        {"empty", [](Registry&) {}},
        {"document-type-present",
         [](Registry& r) {
             r.Key(".zcv").Default(ProgId).Key("CLSID\\" + DocumentClass).Default("Kept");
             r.Key(ProgId + "\\CLSID").Default(DocumentClass);
         }},
        {"other-progid", [](Registry& r) { r.Key(".zcv").Default("Other.Document"); }},
        {"other-progid-other-class",
         [](Registry& r) {
             r.Key(".zcv").Default("Other.Document").Key("CLSID\\" + OtherClass);
             r.Key("Other.Document\\CLSID").Default(OtherClass);
         }},
        {"empty-extension-value", [](Registry& r) { r.Key(".zcv").Default(""); }},
        {"extension-value-dword", [one](Registry& r) { r.Key(".zcv").Raw("", RegDword, one); }},
        {"class-value-dword",
         [one](Registry& r) { r.Key(ProgId + "\\CLSID").Raw("", RegDword, one); }},
        {"extension-value-too-long",
         [](Registry& r) { r.Key(".zcv").Default(std::string(260, 'x')); }},
        {"existing-class-and-old-names",
         [](Registry& r) {
             r.Key("CLSID\\" + DocumentClass).Default("Kept");
             r.Key("CLSID\\" + Handler).Default("Old");
             r.Key("CLSID\\" + FilterClass + "\\InprocServer32").Default("C:\\old\\CVXFilter.dll")
                 .Text("ThreadingModel", RegSz, "Apartment");
         }},
        {"class-id-235", [](Registry& r) { r.Key(ProgId + "\\CLSID").Default(std::string(235, 'C')); }},
        {"class-id-236", [](Registry& r) { r.Key(ProgId + "\\CLSID").Default(std::string(236, 'C')); }},
        {"class-value-unterminated",
         [](Registry& r) { r.Key(ProgId + "\\CLSID").Text("", RegSz, std::string(260, 'A'), false); }},
        {"progid-254", [](Registry& r) { r.Key(".zcv").Default(std::string(254, 'P')); }},
        {"progid-path", [](Registry& r) { r.Key(".zcv").Default("A\\B"); }},
        {"progid-leading-backslash", [](Registry& r) { r.Key(".zcv").Default("\\CorvanPro.Document"); }},
        {"progid-names-a-class", [](Registry& r) { r.Key(".zcv").Default("CLSID\\" + DocumentClass); }},
        {"registered", Registered},
        {"registered-class-with-icon",
         [](Registry& r) { Registered(r); r.Key("CLSID\\" + DocumentClass + "\\DefaultIcon"); }},
        {"registered-other-handler",
         [](Registry& r) {
             Registered(r);
             r.Key("CLSID\\" + OtherClass + "\\PersistentHandler")
                 .Default("{00000000-1111-2222-3333-444444444444}");
         }},
        {"registered-handler-other-case",
         [](Registry& r) {
             Registered(r);
             r.Key("CLSID\\" + OtherClass + "\\PersistentHandler")
                 .Default("{2b5f8e10-7c34-4a9d-b1e6-93d0f4a7c258}");
         }},
        {"registered-progid-shell", [](Registry& r) { Registered(r); r.Key(ProgId + "\\shell"); }},
        {"registered-keys-naming-progid",
         [](Registry& r) {
             Registered(r);
             r.Key("Other.ext").Default("corvanpro.DOCUMENT");
             r.Key("Another.ext").Default(ProgId).Key("Another.ext\\sub");
         }},
        {"incomplete-handler-chain",
         [](Registry& r) {
             r.Key(".zcv").Default(ProgId).Key(".zcv\\PersistentHandler").Default(Handler);
             r.Key("CLSID\\" + Handler + "\\PersistentAddinsRegistered");
             r.Key("CLSID\\" + FilterClass + "\\InprocServer32").Default("CVXFilter.dll");
             r.Key("CLSID\\" + DocumentClass + "\\PersistentHandler").Default(Handler);
         }},
        {"registered-handler-without-value",
         [](Registry& r) { Registered(r); r.Key("CLSID\\" + OtherClass + "\\PersistentHandler"); }},
        {"registered-class-name-236",
         [](Registry& r) {
             Registered(r);
             r.Key("CLSID\\" + std::string(236, 'L') + "\\PersistentHandler").Default(Handler);
         }},
        {"registered-class-name-254",
         [](Registry& r) { Registered(r); r.Key("CLSID\\" + std::string(254, '~')); }},
        {"registered-top-level-254",
         [](Registry& r) {
             Registered(r);
             r.Key(std::string(254, 'P') + "\\CLSID").Default(DocumentClass);
         }},
        {"junk-in-own-keys",
         [one](Registry& r) {
             r.Op(OwnKey, {1}).Raw("", RegDword, one).Op(Subkey, {20});
             r.Op(OwnKey, {6}).Text("", 2, Handler, false);
             r.Op(OwnKey, {8}).Raw("ThreadingModel", 7, {0x41, 0, 0, 0, 0x42});
             r.Op(OwnKey, {10}).Op(Deep, {40, 21});
             r.Op(Root).Text("", RegSz, ProgId);
         }},
        {"deep-unrelated",
         [](Registry& r) {
             r.Key("Unrelated").Op(Deep, {63, 0xC1, 'k', 0}).Default("deep");
             r.Key("CLSID\\" + OtherClass).Op(Deep, {63, 7});
         }},
    };
}

std::vector<Seed> RegistrationSeeds()
{
    std::vector<Seed> seeds;
    for (const auto& [name, state] : States()) {
        for (unsigned version : {CreateMode, OpenOnly})
            for (const char* calls : {"R", "U", "RU", "RR", "UU", "RURU"}) {
                Registry registry(version, calls);
                state(registry);
                seeds.push_back({name + (version == CreateMode ? "-create-" : "-open-only-") + calls,
                                 registry.Data()});
            }
    }
    // Each reported version once.
    for (unsigned version = 2; version < VersionCount; ++version) {
        Registry registry(version, "RU");
        seeds.push_back({"empty-version-" + std::to_string(version) + "-RU", registry.Data()});
    }
    // A failure at each point, early and later, on the way in and on the way out.
    for (unsigned fault = 1; fault <= FaultChoiceCount; ++fault)
        for (BYTE skip : {0, 3, 9})
            for (bool out : {false, true}) {
                Registry registry(CreateMode, out ? "U" : "RU", fault, skip, static_cast<BYTE>(fault));
                if (out)
                    Registered(registry);
                seeds.push_back({std::string(out ? "registered-U" : "empty-RU") + "-fault-" +
                                     std::to_string(fault) + "-" + std::to_string(skip),
                                 registry.Data()});
            }
    return seeds;
}

}  // namespace

const std::vector<std::string>& SeedTargets()
{
    static const std::vector<std::string> targets{"reader", "filter", "registration"};
    return targets;
}

std::vector<Seed> SeedsFor(const std::string& target)
{
    if (target == "reader")
        return ReaderSeeds();
    if (target == "filter")
        return FilterSeeds();
    if (target == "registration")
        return RegistrationSeeds();
    return {};
}
