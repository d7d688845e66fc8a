// The filter object as a host drives it through IFilter and IPersistFile: chunks and their
// descriptions, text in pieces of every buffer size, what Init asks for, starting over, the
// fixed answers, identity and reference counts, and failures. Runs against the filter linked
// into the test program and, on Windows, against the real CVXFilter.dll.
#include "filter/class_id.h"
#include "platform/fault.h"
#include "tests/support/file_probe.h"
#include "tests/support/filter_host.h"
#include "tests/support/samples.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

namespace {

const GUID StorageSet = PSGUID_STORAGE;
const GUID OtherSet = {0xf29f85e0, 0x4ff9, 0x1068, {0xab, 0x91, 0x08, 0x00, 0x2b, 0x27, 0xb3, 0xd9}};

FULLPROPSPEC Attribute(const GUID& set, PROPID id, ULONG kind = PRSPEC_PROPID)
{
    FULLPROPSPEC attribute{};
    attribute.guidPropSet = set;
    attribute.psProperty.ulKind = kind;
    attribute.psProperty.propid = id;
    return attribute;
}

std::vector<WideString> TextsOf(const std::vector<TakenChunk>& chunks)
{
    std::vector<WideString> texts;
    for (const TakenChunk& chunk : chunks)
        texts.push_back(chunk.Text);
    return texts;
}

std::vector<ULONG> IdsOf(const std::vector<TakenChunk>& chunks)
{
    std::vector<ULONG> ids;
    for (const TakenChunk& chunk : chunks)
        ids.push_back(chunk.Stat.idChunk);
    return ids;
}

// GTEST_SKIP returns from the function it is in, so this has to be a macro.
#define SKIP_UNLESS_LINKED()  \
    if (!Module().Linked)     \
    GTEST_SKIP() << "faults reach only the filter linked into the test program"

const Bytes TwoStories = DocumentOfStories({Chars("Alpha beta"), Chars("Gamma")});

class FilterTest : public ::testing::TestWithParam<FilterModule> {
protected:
    void SetUp() override
    {
        ASSERT_NE(Module().GetClassObject, nullptr) << "the module did not load";
        ASSERT_EQ(Module().CanUnloadNow(), S_OK) << "an earlier test left objects alive";
        object_ = CreateFilter(Module());
        ASSERT_NE(object_.File, nullptr);
        filter_ = object_.Filter;
        file_ = object_.File;
    }
    void TearDown() override
    {
        object_ = FilterObject();
        if (Module().CanUnloadNow != nullptr) {
            EXPECT_EQ(Module().CanUnloadNow(), S_OK) << "objects outlived their last Release";
        }
    }
    const FilterModule& Module() const { return GetParam(); }
    HRESULT Open(LPCWSTR path, ULONG flags = IFILTER_INIT_APPLY_INDEX_ATTRIBUTES)
    {
        EXPECT_EQ(file_->Load(path, STGM_READ), S_OK);
        ULONG answer = 0;
        return filter_->Init(flags, 0, nullptr, &answer);
    }
    HRESULT Chunk()
    {
        STAT_CHUNK stat{};
        return filter_->GetChunk(&stat);
    }
    // GetText with a buffer of `size` units: the answer and the units handed out.
    std::pair<HRESULT, WideString> Text(ULONG size)
    {
        std::vector<WCHAR> buffer(size + 1, 0xFDFD);
        ULONG count = size;
        HRESULT result = filter_->GetText(&count, buffer.data());
        EXPECT_LE(count, size);
        return {result, WideString(buffer.data(), std::min(count, size))};
    }

    FilterObject object_;
    IFilter* filter_ = nullptr;
    IPersistFile* file_ = nullptr;
};

TEST_P(FilterTest, EveryStoryIsOneChunkWhateverTheBufferSize)
{
    TempFile twoStories(TwoStories);
    for (ULONG size : {1u, 2u, 3u, 7u, 64u, 4096u}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(FilterTexts(Module(), twoStories.Name(), size),
                  (std::vector<WideString>{W("Alpha beta"), W("Gamma")}));
        for (const SampleDocument& sample : SampleDocuments()) {
            SCOPED_TRACE(sample.Name);
            const WideString path = WidePath(SamplesFolder() / sample.Name);
            EXPECT_EQ(FilterTexts(Module(), path.c_str(), size), sample.StoryTexts);
        }
    }
}

TEST_P(FilterTest, DocumentsAreClosedByInitAndByTheLastRelease)
{
    TempFile first(TwoStories);
    TempFile second(TwoStories);
    EXPECT_FALSE(HeldOpen(first.Name()));
    ASSERT_EQ(Open(first.Name()), S_OK);
    EXPECT_TRUE(HeldOpen(first.Name()));
    ASSERT_EQ(Open(second.Name()), S_OK);
    EXPECT_FALSE(HeldOpen(first.Name())) << "Init closes the document opened before";
    EXPECT_TRUE(HeldOpen(second.Name()));
    ASSERT_EQ(Chunk(), S_OK);
    object_ = FilterObject();
    EXPECT_FALSE(HeldOpen(second.Name())) << "the last Release closes the document";
}

TEST_P(FilterTest, ChunksAreDescribedAsContentsInTheSystemLocale)
{
    TempFile document(TwoStories);
    ASSERT_EQ(Open(document.Name()), S_OK);
    HRESULT last = S_OK;
    const std::vector<TakenChunk> chunks = TakeChunks(filter_, 4096, &last);
    EXPECT_EQ(last, FILTER_E_END_OF_CHUNKS);
    ASSERT_EQ(IdsOf(chunks), (std::vector<ULONG>{1, 2}));
    for (const TakenChunk& chunk : chunks) {
        const STAT_CHUNK& stat = chunk.Stat;
        EXPECT_EQ(stat.breakType, CHUNK_NO_BREAK);
        EXPECT_EQ(stat.flags, CHUNK_TEXT);
        EXPECT_EQ(stat.locale, GetSystemDefaultLCID());
        EXPECT_TRUE(IsEqualGUID(stat.attribute.guidPropSet, StorageSet));
        EXPECT_EQ(stat.attribute.psProperty.ulKind, PRSPEC_PROPID);
        EXPECT_EQ(stat.attribute.psProperty.propid, PID_STG_CONTENTS);
        EXPECT_EQ(stat.idChunkSource, stat.idChunk);
        EXPECT_EQ(stat.cwcStartSource, 0u);
        EXPECT_EQ(stat.cwcLenSource, 0u);
    }
    // The end stays the end, and leaves the description untouched.
    for (int call = 0; call < 3; ++call) {
        STAT_CHUNK stat{};
        stat.idChunk = 77;
        EXPECT_EQ(filter_->GetChunk(&stat), FILTER_E_END_OF_CHUNKS);
        EXPECT_EQ(stat.idChunk, 77u);
    }
}

TEST_P(FilterTest, AnEndFoundInsideTheFileStaysTheEnd)
{
    Record broken = OtherRecord(1, 40);
    broken.Length = 0;
    TempFile document(BuildDocument(DocumentLayout{
        std::nullopt, {StoryRecord(StoryLayout{Chars("one")}), broken, StoryRecord(StoryLayout{Chars("two")})}}));
    ASSERT_EQ(Open(document.Name()), S_OK);
    HRESULT last = S_OK;
    EXPECT_EQ(TextsOf(TakeChunks(filter_, 4096, &last)), (std::vector<WideString>{W("one")}));
    EXPECT_EQ(last, FILTER_E_END_OF_CHUNKS);
    EXPECT_EQ(Chunk(), FILTER_E_END_OF_CHUNKS);
    EXPECT_EQ(Chunk(), FILTER_E_END_OF_CHUNKS);
}

TEST_P(FilterTest, TextComesInPiecesOfTheRequestedSize)
{
    TempFile document(DocumentOfStories({Chars("0123456789")}));
    struct Case {
        std::vector<ULONG> Requests;
        std::vector<std::pair<HRESULT, std::string>> Answers;
    };
    const Case cases[] = {
        {{4, 4, 4, 4},
         {{S_OK, "0123"}, {S_OK, "4567"}, {FILTER_S_LAST_TEXT, "89"}, {FILTER_E_NO_MORE_TEXT, ""}}},
        {{10, 10}, {{FILTER_S_LAST_TEXT, "0123456789"}, {FILTER_E_NO_MORE_TEXT, ""}}},
        {{0, 9, 0, 1}, {{S_OK, ""}, {S_OK, "012345678"}, {S_OK, ""}, {FILTER_S_LAST_TEXT, "9"}}},
        {{4096}, {{FILTER_S_LAST_TEXT, "0123456789"}}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Open(document.Name()), S_OK);
        ASSERT_EQ(Chunk(), S_OK);
        for (size_t call = 0; call < c.Requests.size(); ++call) {
            SCOPED_TRACE(call);
            auto [result, text] = Text(c.Requests[call]);
            EXPECT_EQ(result, c.Answers[call].first);
            EXPECT_EQ(text, W(c.Answers[call].second));
        }
    }
}

TEST_P(FilterTest, GetTextWritesOnlyTheUnitsItHandsOut)
{
    TempFile document(DocumentOfStories({Chars("abc")}));
    ASSERT_EQ(Open(document.Name()), S_OK);
    ASSERT_EQ(Chunk(), S_OK);
    WCHAR buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), WCHAR(0xFDFD));
    ULONG count = 8;
    EXPECT_EQ(filter_->GetText(&count, buffer), FILTER_S_LAST_TEXT);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(WideString(buffer, 8), W("abc") + WideString(5, WCHAR(0xFDFD)));
}

TEST_P(FilterTest, EmptyStoryIsAChunkWithoutText)
{
    TempFile document(DocumentOfStories({{}, Chars("after")}));
    ASSERT_EQ(Open(document.Name()), S_OK);
    ASSERT_EQ(Chunk(), S_OK);
    EXPECT_EQ(Text(16), std::make_pair(FILTER_E_NO_MORE_TEXT, WideString()));
    ASSERT_EQ(Chunk(), S_OK);
    EXPECT_EQ(Text(16), std::make_pair(FILTER_S_LAST_TEXT, W("after")));
}

TEST_P(FilterTest, NextChunkDropsTheRestOfTheCurrentOne)
{
    TempFile document(TwoStories);
    ASSERT_EQ(Open(document.Name()), S_OK);
    ASSERT_EQ(Chunk(), S_OK);
    EXPECT_EQ(Text(3), std::make_pair(S_OK, W("Alp")));
    ASSERT_EQ(Chunk(), S_OK);
    EXPECT_EQ(Text(100), std::make_pair(FILTER_S_LAST_TEXT, W("Gamma")));
}

TEST_P(FilterTest, SecondInitStartsOverAtChunkOne)
{
    TempFile document(TwoStories);
    ASSERT_EQ(Open(document.Name()), S_OK);
    ASSERT_EQ(Chunk(), S_OK);
    EXPECT_EQ(Text(2).second, W("Al"));
    ULONG flags = 0;
    ASSERT_EQ(filter_->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags), S_OK);
    // The chunk in hand belonged to the document Init closed.
    EXPECT_EQ(Text(100).first, FILTER_E_NO_MORE_TEXT);
    const std::vector<TakenChunk> chunks = TakeChunks(filter_, 4096);
    EXPECT_EQ(IdsOf(chunks), (std::vector<ULONG>{1, 2}));
    EXPECT_EQ(TextsOf(chunks), (std::vector<WideString>{W("Alpha beta"), W("Gamma")}));
}

TEST_P(FilterTest, InitDecidesWhetherTheContentsAreWanted)
{
    TempFile document(TwoStories);
    ASSERT_EQ(file_->Load(document.Name(), STGM_READ), S_OK);
    const FULLPROPSPEC contents = Attribute(StorageSet, PID_STG_CONTENTS);
    struct Case {
        const char* Name;
        ULONG Flags;
        std::vector<FULLPROPSPEC> Attributes;
        bool Wanted;
    };
    const Case cases[] = {
        {"no flags", 0, {}, true},
        {"index attributes", IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, {}, true},
        {"index attributes among others",
         IFILTER_INIT_APPLY_INDEX_ATTRIBUTES | IFILTER_INIT_CANON_PARAGRAPHS, {}, true},
        {"other flags only", IFILTER_INIT_CANON_PARAGRAPHS | IFILTER_INIT_HARD_LINE_BREAKS, {}, false},
        {"contents", 0, {contents}, true},
        {"contents after others", 0,
         {Attribute(OtherSet, PID_STG_CONTENTS), Attribute(StorageSet, 2), contents}, true},
        {"contents named by a string kind", 0,
         {Attribute(StorageSet, PID_STG_CONTENTS, PRSPEC_LPWSTR)}, true},
        {"other attributes only", IFILTER_INIT_APPLY_INDEX_ATTRIBUTES,
         {Attribute(OtherSet, PID_STG_CONTENTS), Attribute(StorageSet, 10)}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ULONG flags = 0;
        ASSERT_EQ(filter_->Init(c.Flags, static_cast<ULONG>(c.Attributes.size()),
                                c.Attributes.empty() ? nullptr : c.Attributes.data(), &flags),
                  S_OK);
        EXPECT_EQ(flags, static_cast<ULONG>(IFILTER_FLAGS_OLE_PROPERTIES));
        HRESULT last = S_OK;
        EXPECT_EQ(TakeChunks(filter_, 4096, &last).size(), c.Wanted ? 2u : 0u);
        EXPECT_EQ(last, FILTER_E_END_OF_CHUNKS);
        EXPECT_EQ(Text(10).first, FILTER_E_NO_MORE_TEXT);
    }
}

TEST_P(FilterTest, AttributeCountWithoutAttributesChangesNothing)
{
    TempFile document(TwoStories);
    ASSERT_EQ(Open(document.Name()), S_OK);
    ASSERT_EQ(Chunk(), S_OK);
    ULONG flags = 0xAB;
    EXPECT_EQ(filter_->Init(0, 1, nullptr, &flags), E_INVALIDARG);
    EXPECT_EQ(flags, 0xABu);
    EXPECT_EQ(Text(100), std::make_pair(FILTER_S_LAST_TEXT, W("Alpha beta")));
    EXPECT_EQ(TextsOf(TakeChunks(filter_, 4096)), (std::vector<WideString>{W("Gamma")}));
}

TEST_P(FilterTest, FilesThatCannotBeOpened)
{
    ULONG flags = 0;
    EXPECT_EQ(filter_->Init(0, 0, nullptr, &flags), E_FAIL) << "no name yet";
    EXPECT_EQ(Chunk(), FILTER_E_ACCESS);

    TempFile document(TwoStories);
    const WideString missing = WidePath(TestFolder() / "missing.zcv");
    const WideString folder = WidePath(TestFolder());
    for (const WideString& path : {missing, folder}) {
        SCOPED_TRACE(Printable(path));
        ASSERT_EQ(Open(document.Name()), S_OK);
        ASSERT_EQ(Chunk(), S_OK);
        // The open document is closed first, so nothing of it is left.
        EXPECT_EQ(Open(path.c_str()), FILTER_E_ACCESS);
        EXPECT_EQ(Text(100).first, FILTER_E_NO_MORE_TEXT);
        EXPECT_EQ(Chunk(), FILTER_E_ACCESS);
        EXPECT_EQ(Chunk(), FILTER_E_ACCESS);
    }

    // A document another opener holds without sharing.
    HANDLE holder = CreateFileW(document.Name(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(document.Name()), FILTER_E_ACCESS);
    CloseHandle(holder);
    EXPECT_EQ(Open(document.Name()), S_OK);
}

TEST_P(FilterTest, LoadNamesTheDocumentOfTheNextInit)
{
    TempFile first(TwoStories);
    TempFile second(DocumentOfStories({Chars("Second file")}));
    LPOLESTR name = nullptr;
    EXPECT_EQ(file_->GetCurFile(&name), E_FAIL);
    EXPECT_EQ(name, nullptr);

    ASSERT_EQ(Open(first.Name()), S_OK);
    ASSERT_EQ(Chunk(), S_OK);
    ASSERT_EQ(file_->Load(second.Name(), STGM_READ), S_OK);
    ASSERT_EQ(file_->GetCurFile(&name), S_OK);
    EXPECT_EQ(WideString(name), WideString(second.Name()));
    CoTaskMemFree(name);
    // The open document stays in use until the next Init.
    EXPECT_EQ(TextsOf(TakeChunks(filter_, 4096)), (std::vector<WideString>{W("Gamma")}));
    ULONG flags = 0;
    ASSERT_EQ(filter_->Init(0, 0, nullptr, &flags), S_OK);
    EXPECT_EQ(TextsOf(TakeChunks(filter_, 4096)), (std::vector<WideString>{W("Second file")}));
}

TEST_P(FilterTest, FixedAnswers)
{
    PROPVARIANT* value = reinterpret_cast<PROPVARIANT*>(0x1234);
    EXPECT_EQ(filter_->GetValue(&value), FILTER_E_NO_VALUES);
    EXPECT_EQ(value, reinterpret_cast<PROPVARIANT*>(0x1234));
    void* region = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(filter_->BindRegion(FILTERREGION{1, 0, 1}, IID_IUnknown, &region), E_NOTIMPL);
    EXPECT_EQ(region, reinterpret_cast<void*>(0x1234));
    EXPECT_EQ(file_->IsDirty(), S_FALSE);
    EXPECT_EQ(file_->Save(U16("x.zcv"), TRUE), E_FAIL);
    EXPECT_EQ(file_->SaveCompleted(U16("x.zcv")), S_OK);
    CLSID id{};
    EXPECT_EQ(file_->GetClassID(&id), S_OK);
    EXPECT_TRUE(IsEqualGUID(id, FilterClassId));
}

TEST_P(FilterTest, BothInterfacesAreOneObject)
{
    IUnknown* fromFilter = nullptr;
    IUnknown* fromFile = nullptr;
    IUnknown* persist = nullptr;
    ASSERT_EQ(filter_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromFilter)), S_OK);
    ASSERT_EQ(file_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromFile)), S_OK);
    ASSERT_EQ(filter_->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)), S_OK);
    EXPECT_EQ(fromFilter, fromFile);
    EXPECT_EQ(fromFilter, static_cast<IUnknown*>(file_));
    EXPECT_EQ(persist, static_cast<IUnknown*>(file_));
    // Each interface holds one reference and each answer added one: five in all.
    EXPECT_EQ(filter_->AddRef(), 6u);
    EXPECT_EQ(file_->Release(), 5u);
    for (IUnknown* pointer : {fromFilter, fromFile, persist})
        pointer->Release();

    void* other = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(filter_->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
}

TEST_P(FilterTest, StoriesWithoutMemoryAreReportedAndPassedOver)
{
    SKIP_UNLESS_LINKED();
    TempFile document(DocumentOfStories({Chars("one"), Chars("two"), Chars("three")}));
    // The first allocation of a story holds its body, the second its text.
    for (ULONG failing : {0u, 1u}) {
        SCOPED_TRACE(failing);
        ASSERT_EQ(Open(document.Name()), S_OK);
        ResetFaults();
        ArmFault(FaultAllocate, ERROR_NOT_ENOUGH_MEMORY, failing);
        EXPECT_EQ(Chunk(), E_OUTOFMEMORY);
        EXPECT_EQ(Text(10).first, FILTER_E_NO_MORE_TEXT) << "no length without text";
        HRESULT last = S_OK;
        const std::vector<TakenChunk> rest = TakeChunks(filter_, 4096, &last);
        EXPECT_EQ(TextsOf(rest), (std::vector<WideString>{W("two"), W("three")}));
        EXPECT_EQ(IdsOf(rest), (std::vector<ULONG>{1, 2}));
        EXPECT_EQ(last, FILTER_E_END_OF_CHUNKS);
    }
}

TEST_P(FilterTest, DocumentThatCannotBeReadOnIsClosed)
{
    SKIP_UNLESS_LINKED();
    if (!FaultInjectable(FaultReadFile))
        GTEST_SKIP() << "needs the stand-in's system calls";
    TempFile document(TwoStories);
    ASSERT_EQ(Open(document.Name()), S_OK);
    ArmFault(FaultReadFile, ERROR_IO_DEVICE);
    EXPECT_EQ(Chunk(), FILTER_E_ACCESS);
    EXPECT_EQ(Chunk(), FILTER_E_ACCESS);
    EXPECT_EQ(Text(10).first, FILTER_E_NO_MORE_TEXT);
    ULONG flags = 0;
    ASSERT_EQ(filter_->Init(0, 0, nullptr, &flags), S_OK);
    EXPECT_EQ(TakeChunks(filter_, 4096).size(), 2u);
}

TEST_P(FilterTest, NamesWithoutMemory)
{
    SKIP_UNLESS_LINKED();
    TempFile document(TwoStories);
    ASSERT_EQ(Open(document.Name()), S_OK);
    ArmFault(FaultObjectAllocate, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(file_->Load(document.Name(), STGM_READ), E_OUTOFMEMORY);
    LPOLESTR name = nullptr;
    EXPECT_EQ(file_->GetCurFile(&name), E_FAIL);
    ULONG flags = 0;
    EXPECT_EQ(filter_->Init(0, 0, nullptr, &flags), E_FAIL);
    // The document opened before stays in use.
    EXPECT_EQ(TakeChunks(filter_, 4096).size(), 2u);

    if (FaultInjectable(FaultTaskAllocate)) {
        ASSERT_EQ(file_->Load(document.Name(), STGM_READ), S_OK);
        ArmFault(FaultTaskAllocate, 0);
        name = reinterpret_cast<LPOLESTR>(0x1234);
        EXPECT_EQ(file_->GetCurFile(&name), E_OUTOFMEMORY);
        EXPECT_EQ(name, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Modules, FilterTest, ::testing::ValuesIn(FilterModules()),
                         [](const auto& info) { return info.param.Name; });

}  // namespace
