// filtercheck's checks on a fake filter: a sound one passes them all, and each fault makes its
// check fail. Then the command line: exit status, failure lines and the summary.
#include "tools/filtercheck/command.h"

#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>

#ifndef CVX_VERSION
#error "CVX_VERSION is the project version"
#endif

namespace {

enum class Fault {
    None,
    UnreachableEmbedding,  // no fault: GetChunk passes over an embedding it cannot reach
    RepeatedChunkId,
    BadBreakType,
    SourceIdDiffers,
    IllegalInitFlags,
    TextAfterLastText,
    WritesPastCount,
    CountPastSmallBuffers,
    SmallBuffersLoseText,
    TextChangesAfterSecondInit,
    InitKeepsChunkInHand,
    ChunkIdsSharedByObjects,
    ChunksStartOverAfterEnd,
    TextStartsOverAfterEnd,
    ValueOfTextAnswersNoMoreValues,
    ValueOfTextLosesText,
    BindRegionAnswersOk,
    AttributesIgnored,
    NullAttributesAccepted,
    TextFlagsSelectContents,
    ReadErrorAtEnd,
};

const GUID StorageSet = PSGUID_STORAGE;
std::atomic<int> LiveObjects{0};
std::atomic<ULONG> SharedChunkId{0};

// A filter of four stories (one empty) that keeps to the interface, but for one fault.
class FakeFilter final : public IFilter {
public:
    explicit FakeFilter(Fault fault) : Fault_(fault) { ++LiveObjects; }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = nullptr;
        if (!IsEqualGUID(iid, IID_IUnknown) && !IsEqualGUID(iid, IID_IFilter))
            return E_NOINTERFACE;
        *out = static_cast<IFilter*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++References; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --References;
        if (left == 0)
            delete this;
        return left;
    }

    SCODE STDMETHODCALLTYPE Init(ULONG flags, ULONG count, const FULLPROPSPEC* attributes,
                                 ULONG* answer) override
    {
        if (count > 0 && attributes == nullptr && !Is(Fault::NullAttributesAccepted))
            return E_INVALIDARG;
        if (count > 0 && attributes != nullptr) {
            Wanted = Is(Fault::AttributesIgnored);
            for (ULONG index = 0; index < count; ++index)
                Wanted = Wanted || (IsEqualGUID(attributes[index].guidPropSet, StorageSet) &&
                                    attributes[index].psProperty.ulKind == PRSPEC_PROPID &&
                                    attributes[index].psProperty.propid == PID_STG_CONTENTS);
        } else if (Is(Fault::TextFlagsSelectContents)) {
            const ULONG attributeFlags = IFILTER_INIT_APPLY_INDEX_ATTRIBUTES |
                                         IFILTER_INIT_APPLY_OTHER_ATTRIBUTES |
                                         IFILTER_INIT_APPLY_CRAWL_ATTRIBUTES;
            Wanted = (flags & attributeFlags) == 0 || (flags & IFILTER_INIT_APPLY_INDEX_ATTRIBUTES);
        } else {
            Wanted = flags == 0 || (flags & IFILTER_INIT_APPLY_INDEX_ATTRIBUTES) != 0;
        }
        ++Inits;
        if (!(Is(Fault::InitKeepsChunkInHand) && InChunk)) {
            Next = 0;
            InChunk = false;
            Ended = false;
            EmbeddingAnswered = false;
        }
        *answer = Is(Fault::IllegalInitFlags) ? 0x80 : IFILTER_FLAGS_OLE_PROPERTIES;
        return S_OK;
    }

    SCODE STDMETHODCALLTYPE GetChunk(STAT_CHUNK* stat) override
    {
        InChunk = false;
        if (Ended && Is(Fault::ChunksStartOverAfterEnd)) {
            Next = 0;
            Ended = false;
        }
        if (Is(Fault::UnreachableEmbedding) && Next == 2 && !EmbeddingAnswered) {
            EmbeddingAnswered = true;
            return FILTER_E_EMBEDDING_UNAVAILABLE;
        }
        if (!Wanted || Next >= Stories().size()) {
            Ended = true;
            return Is(Fault::ReadErrorAtEnd) ? FILTER_E_ACCESS : FILTER_E_END_OF_CHUNKS;
        }
        Text = Stories()[Next];
        if (Is(Fault::TextChangesAfterSecondInit) && Inits > 1)
            Text += U16("!");
        ++Next;
        ULONG id = static_cast<ULONG>(Next);
        if (Is(Fault::RepeatedChunkId) && Next == 2)
            id = 1;
        if (Is(Fault::ChunkIdsSharedByObjects))
            id = ++SharedChunkId;
        *stat = STAT_CHUNK{};
        stat->idChunk = id;
        stat->breakType = Is(Fault::BadBreakType) ? static_cast<CHUNK_BREAKTYPE>(7) : CHUNK_NO_BREAK;
        stat->flags = CHUNK_TEXT;
        stat->locale = 0x0409;
        stat->attribute.guidPropSet = StorageSet;
        stat->attribute.psProperty.ulKind = PRSPEC_PROPID;
        stat->attribute.psProperty.propid = PID_STG_CONTENTS;
        stat->idChunkSource = Is(Fault::SourceIdDiffers) ? id + 1 : id;
        InChunk = true;
        Position = 0;
        TextEnded = false;
        LastGiven = false;
        return S_OK;
    }

    SCODE STDMETHODCALLTYPE GetText(ULONG* count, WCHAR* buffer) override
    {
        const ULONG size = *count;
        *count = 0;
        if (LastGiven && Is(Fault::TextAfterLastText)) {
            LastGiven = false;
            return S_OK;
        }
        if (TextEnded && Is(Fault::TextStartsOverAfterEnd)) {
            TextEnded = false;
            Position = 0;
        }
        if (!InChunk || TextEnded || Position == Text.size()) {
            TextEnded = true;
            return FILTER_E_NO_MORE_TEXT;
        }
        if (Is(Fault::SmallBuffersLoseText) && size < 3 && Position == 0 && Text.size() > 1)
            Position = 1;
        const std::size_t given = std::min<std::size_t>(size, Text.size() - Position);
        std::copy(Text.begin() + Position, Text.begin() + Position + given, buffer);
        if (Is(Fault::WritesPastCount) && given < size)
            buffer[given] = 'X';
        Position += given;
        *count = static_cast<ULONG>(given);
        if (Is(Fault::CountPastSmallBuffers) && size < 4)
            *count = size + 1;
        if (Position < Text.size())
            return S_OK;
        TextEnded = true;
        LastGiven = true;
        return FILTER_S_LAST_TEXT;
    }

    SCODE STDMETHODCALLTYPE GetValue(PROPVARIANT** /*value*/) override
    {
        if (Is(Fault::ValueOfTextLosesText))
            Position = Text.size();
        return Is(Fault::ValueOfTextAnswersNoMoreValues) ? FILTER_E_NO_MORE_VALUES
                                                         : FILTER_E_NO_VALUES;
    }

    SCODE STDMETHODCALLTYPE BindRegion(FILTERREGION, REFIID, void**) override
    {
        return Is(Fault::BindRegionAnswersOk) ? S_OK : E_NOTIMPL;
    }

private:
    ~FakeFilter() { --LiveObjects; }
    bool Is(Fault fault) const { return Fault_ == fault; }
    static const std::vector<WideString>& Stories()
    {
        static const std::vector<WideString> stories = {U16("Alpha beta"), U16(""),
                                                        U16("Gamma\r\ndelta"), U16("Epsilon")};
        return stories;
    }

    Fault Fault_;
    std::atomic<ULONG> References{1};
    bool Wanted = false;
    int Inits = 0;
    std::size_t Next = 0;
    bool InChunk = false;
    bool Ended = false;
    WideString Text;
    std::size_t Position = 0;
    bool TextEnded = false;
    bool LastGiven = false;
    bool EmbeddingAnswered = false;
};

OpenFilter FakeOpen(Fault fault)
{
    return [fault](LPCWSTR, IFilter** filter) {
        *filter = new FakeFilter(fault);
        return S_OK;
    };
}

StartThread FakeStart(Fault fault)
{
    return [fault] { return FakeOpen(fault); };
}

std::vector<CheckOutcome> CheckFake(Fault fault, const CheckSettings& settings = {})
{
    SharedChunkId = 0;
    return CheckDocument(U16("fake.zcv"), FakeOpen(fault), FakeStart(fault), settings);
}

std::vector<std::string> FailedChecks(const std::vector<CheckOutcome>& outcomes)
{
    std::vector<std::string> names;
    for (const CheckOutcome& outcome : outcomes)
        if (outcome.Failures > 0)
            names.push_back(outcome.Name);
    return names;
}

bool Contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(FilterCheckChecks, ASoundFilterPassesEveryCheck)
{
    for (Fault sound : {Fault::None, Fault::UnreachableEmbedding}) {
        const std::vector<CheckOutcome> outcomes = CheckFake(sound);
        EXPECT_EQ(FailedChecks(outcomes), std::vector<std::string>());
        ASSERT_EQ(outcomes.size(), CheckNames().size());
        for (std::size_t index = 0; index < outcomes.size(); ++index) {
            EXPECT_EQ(outcomes[index].Name, CheckNames()[index]);
            EXPECT_EQ(outcomes[index].Runs, 1u);
        }
        EXPECT_EQ(LiveObjects, 0) << "the checks released every object they made";
    }
}

TEST(FilterCheckChecks, EachFaultFailsItsCheck)
{
    struct Case {
        Fault Fault_;
        std::string Fails;                 // the check that must catch the fault
        std::string DetailHas;             // in its first failure's words
        std::vector<std::string> Passes;   // checks the fault must not fail
        bool Alone = false;                // no other check fails
    };
    const Case cases[] = {
        {Fault::RepeatedChunkId, "validation", "repeats the id before it", {}, true},
        {Fault::BadBreakType, "validation", "breakType 7", {}, true},
        {Fault::SourceIdDiffers, "validation", "idChunkSource 2", {}, true},
        {Fault::IllegalInitFlags, "validation", "gave flags 0x00000080", {}, true},
        {Fault::TextAfterLastText, "validation", "after FILTER_S_LAST_TEXT GetText answered S_OK",
         {"buffer-1", "second-init"}},
        {Fault::WritesPastCount, "validation", "wrote past the 10 units", {}},
        {Fault::CountPastSmallBuffers, "buffer-1", "count of 2 for a buffer of 1",
         {"buffer-4096", "buffer-large"}},
        {Fault::CountPastSmallBuffers, "buffer-3", "count of 4 for a buffer of 3", {}},
        {Fault::SmallBuffersLoseText, "buffer-2", "chunk 1: text differs at unit 0",
         {"buffer-3", "buffer-4096", "validation"}},
        {Fault::TextChangesAfterSecondInit, "second-init", "second Init: chunk 1: text has 11",
         {"fresh-objects", "validation"}},
        {Fault::InitKeepsChunkInHand, "second-init-midway", "after Init midway: ", {"fresh-objects"}},
        {Fault::ChunkIdsSharedByObjects, "fresh-objects", "idChunk is", {}},
        {Fault::ChunksStartOverAfterEnd, "ends-stay", "GetChunk after FILTER_E_END_OF_CHUNKS", {}},
        {Fault::TextStartsOverAfterEnd, "ends-stay", "again after the end of chunk 1", {"buffer-1"}},
        {Fault::ValueOfTextAnswersNoMoreValues, "value-of-text-chunk",
         "answered FILTER_E_NO_MORE_VALUES", {"validation"}},
        {Fault::ValueOfTextLosesText, "value-of-text-chunk", "after GetValue: chunk 1: text has 0",
         {"validation"}},
        {Fault::BindRegionAnswersOk, "null-out-pointers", "BindRegion(null) on text chunk 1 answered S_OK",
         {}},
        {Fault::AttributesIgnored, "config-other-property-set", "gave 4 chunks, expected 0",
         {"config-contents-attribute"}},
        {Fault::AttributesIgnored, "config-attribute-by-name", "gave 4 chunks, expected 0", {}},
        {Fault::NullAttributesAccepted, "config-null-attributes",
         "null array answered S_OK (0x00000000), not a refusal", {}},
        {Fault::TextFlagsSelectContents, "config-text-flags-canon-spaces", "gave 4 chunks, expected 0",
         {"config-no-flags", "config-index-attributes-text-flags"}},
        {Fault::TextFlagsSelectContents, "config-text-flags-all", "gave 4 chunks", {}},
        {Fault::ReadErrorAtEnd, "validation", "GetChunk answered FILTER_E_ACCESS (0x80041703) after 4",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Fails + " / " + c.DetailHas);
        const std::vector<CheckOutcome> outcomes = CheckFake(c.Fault_);
        const std::vector<std::string> failed = FailedChecks(outcomes);
        ASSERT_TRUE(Contains(failed, c.Fails));
        for (const CheckOutcome& outcome : outcomes) {
            if (outcome.Name == c.Fails) {
                EXPECT_NE(outcome.Detail.find(c.DetailHas), std::string::npos) << outcome.Detail;
            }
        }
        for (const std::string& name : c.Passes)
            EXPECT_FALSE(Contains(failed, name)) << name;
        if (c.Alone) {
            EXPECT_EQ(failed, std::vector<std::string>{c.Fails});
        }
        EXPECT_EQ(LiveObjects, 0);
    }
}

TEST(FilterCheckChecks, AFirstPassThatFailsEndsTheDocument)
{
    const std::vector<CheckOutcome> outcomes = CheckFake(Fault::ReadErrorAtEnd);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].Runs, 1u);
    EXPECT_EQ(outcomes[0].Failures, 1u);
}

TEST(FilterCheckChecks, ThreadsAndLoopsRunEveryCheckEachTime)
{
    CheckSettings settings;
    settings.Threads = 3;
    settings.Loops = 2;
    for (const CheckOutcome& outcome : CheckFake(Fault::None, settings)) {
        EXPECT_EQ(outcome.Runs, 6u) << outcome.Name;
        EXPECT_EQ(outcome.Failures, 0u) << outcome.Name << ": " << outcome.Detail;
    }
    for (const CheckOutcome& outcome : CheckFake(Fault::BadBreakType, settings)) {
        if (outcome.Name == "validation") {
            EXPECT_EQ(outcome.Failures, 6u);
            EXPECT_NE(outcome.Detail.find("breakType 7"), std::string::npos);
        }
    }
    EXPECT_EQ(LiveObjects, 0);
}

TEST(FilterCheckChecks, SkippedChecksDoNotRun)
{
    CheckSettings settings;
    settings.Skipped = {"validation", "buffer-1"};
    const std::vector<CheckOutcome> outcomes = CheckFake(Fault::BadBreakType, settings);
    EXPECT_EQ(outcomes.size(), CheckNames().size() - 2);
    for (const CheckOutcome& outcome : outcomes)
        EXPECT_TRUE(outcome.Name != "validation" && outcome.Name != "buffer-1");
}

// ---- The command line ----

struct Outcome {
    int Status;
    std::string Out;
    std::string Err;
};

Outcome RunCommand(std::vector<std::string> arguments, Fault fault = Fault::None, bool found = true)
{
    arguments.insert(arguments.begin(), "filtercheck");
    std::vector<const char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    Outcome outcome{-1, "", ""};
    const CommandOutput output{[&](const std::string& text) { outcome.Out += text; },
                               [&](const std::string& text) { outcome.Err += text; }};
    const FindSubject find = [&](const std::string&, StartThread* start, std::string* error) {
        if (!found) {
            *error = "no filter is registered";
            return false;
        }
        *start = FakeStart(fault);
        return true;
    };
    outcome.Status = RunFilterCheck(static_cast<int>(argv.size()), argv.data(), find, output);
    return outcome;
}

std::string FolderOf(const std::string& name, const std::vector<std::string>& files)
{
    const std::filesystem::path folder = TestFolder() / name;
    std::filesystem::create_directories(folder);
    for (const std::string& file : files)
        std::ofstream(folder / file) << "x";
    return folder.string();
}

TEST(FilterCheckCommand, StatusLinesAndSummary)
{
    const std::string count = std::to_string(CheckNames().size());
    const std::string threeDocuments = FolderOf("three", {"a.zcv", "b.ZCV", "c.txt", "d.zcv"});
    const std::string none = FolderOf("none", {"notes.txt"});
    struct Case {
        std::vector<std::string> Arguments;
        Fault Fault_;
        int Status;
        std::string Out;  // all of standard output, or a part of it with a leading '~'
        std::string Err;  // a part of standard error
    };
    const Case cases[] = {
        {{"doc.zcv"}, Fault::None, 0,
         "filtercheck: 1 document, 1 thread, 1 loop: " + count + " checks, 0 failures\n", ""},
        {{"--quiet", "doc.zcv"}, Fault::None, 0, "", ""},
        {{"--threads", "2", "--loops", "3", threeDocuments}, Fault::None, 0,
         "~filtercheck: 3 documents, 2 threads, 3 loops: " +
             std::to_string(3 * 6 * CheckNames().size()) + " checks, 0 failures\n",
         ""},
        // A fault of the first pass is the validation check's alone.
        {{"doc.zcv"}, Fault::BadBreakType, 1,
         "doc.zcv: validation: chunk 1 (id 1) has breakType 7, not one of CHUNK_NO_BREAK to "
         "CHUNK_EOC (and 3 more problems)\n"
         "filtercheck: 1 document, 1 thread, 1 loop: " + count + " checks, 1 failure\n",
         ""},
        {{"--loops", "2", "doc.zcv"}, Fault::BindRegionAnswersOk, 1, "~(failed 2 of 2 runs)\n", ""},
        {{"--skip", "config-text-flags-*", "doc.zcv"}, Fault::TextFlagsSelectContents, 0,
         "~0 failures (5 checks skipped)\n", ""},
        {{"--skip", "validation", "--skip", "buffer-1", "doc.zcv"}, Fault::None, 0,
         "~(2 checks skipped)", ""},
        {{"--list-checks"}, Fault::None, 0, "~\nconfig-null-attributes\n", ""},
        {{"--version"}, Fault::None, 0, std::string("filtercheck ") + CVX_VERSION + "\n", ""},
        {{"--help"}, Fault::None, 0, "~--threads N", ""},
        {{none}, Fault::None, 1, "", "no documents to check"},
        {{}, Fault::None, 2, "", "no documents given"},
        {{"-"}, Fault::None, 2, "", "standard input cannot be checked"},
        {{"--threads", "0", "doc.zcv"}, Fault::None, 2, "", "--threads"},
        {{"--loops", "many", "doc.zcv"}, Fault::None, 2, "", "--loops"},
        {{"--skip", "nonesuch", "doc.zcv"}, Fault::None, 2, "", "--skip nonesuch: no such check"},
        {{"--bogus", "doc.zcv"}, Fault::None, 2, "", "--bogus"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& argument : c.Arguments)
            shown += argument + " ";
        SCOPED_TRACE(shown);
        const Outcome outcome = RunCommand(c.Arguments, c.Fault_);
        EXPECT_EQ(outcome.Status, c.Status);
        if (!c.Out.empty() && c.Out[0] == '~')
            EXPECT_NE(outcome.Out.find(c.Out.substr(1)), std::string::npos) << outcome.Out;
        else
            EXPECT_EQ(outcome.Out, c.Out);
        if (c.Err.empty())
            EXPECT_EQ(outcome.Err, "");
        else
            EXPECT_NE(outcome.Err.find(c.Err), std::string::npos) << outcome.Err;
    }
    EXPECT_EQ(LiveObjects, 0);
}

TEST(FilterCheckCommand, NoFilterIsAUsageFailure)
{
    const Outcome outcome = RunCommand({"doc.zcv"}, Fault::None, false);
    EXPECT_EQ(outcome.Status, 2);
    EXPECT_EQ(outcome.Err, "filtercheck: no filter is registered\n");
}

}  // namespace
