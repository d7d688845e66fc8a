// Every call the filter and registration make, failed in turn: the k-th call at a point for every
// k, with each error the platform gives there, once or from then on. Whatever fails, the module
// answers only what its interfaces allow, ends, and releases every object, handle and block
// (the sanitize preset checks the blocks); registration stops at its first failure, and
// unregistration carries on past any. The filter's walks run wherever its faults can be armed
// (allocations everywhere, system calls on the stand-in); the registry's on the stand-in.
#include "filter/class_id.h"
#include "filter/module.h"
#include "platform/fault.h"
#include "registration/registration.h"
#include "tests/support/filter_host.h"
#include "tests/support/registry_state.h"
#include "tests/support/samples.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <set>
#include <sstream>

#ifndef ERROR_READ_FAULT
#define ERROR_READ_FAULT 30L  // not among the stand-in's own codes; the platform's value
#endif

namespace {

struct PointErrors {
    FaultPoint Point;
    const char* Name;
    std::vector<DWORD> Errors;  // 0: a failure that sets no error
};

// What the platform gives at each call the filter makes.
const PointErrors FilterCalls[] = {
    {FaultCreateFile, "CreateFile",
     {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION,
      ERROR_TOO_MANY_OPEN_FILES, ERROR_NOT_ENOUGH_MEMORY, 0}},
    // ERROR_HANDLE_EOF comes only from overlapped reads; it is here to show it is not special.
    {FaultReadFile, "ReadFile",
     {ERROR_READ_FAULT, ERROR_HANDLE_EOF, ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY,
      ERROR_IO_DEVICE, ERROR_CRC, ERROR_LOCK_VIOLATION, ERROR_OPERATION_ABORTED, 0}},
    {FaultSetFilePointer, "SetFilePointer",
     {ERROR_INVALID_HANDLE, ERROR_NEGATIVE_SEEK, ERROR_INVALID_PARAMETER, ERROR_IO_DEVICE, 0}},
    {FaultGetFileSize, "GetFileSize", {ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED, ERROR_IO_DEVICE, 0}},
    {FaultCloseHandle, "CloseHandle", {ERROR_INVALID_HANDLE, 0}},
    {FaultFormatMessage, "FormatMessage",
     {ERROR_MR_MID_NOT_FOUND, ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER,
      ERROR_NOT_ENOUGH_MEMORY, 0}},
    {FaultAllocate, "zeroed allocation", {ERROR_NOT_ENOUGH_MEMORY}},
    {FaultObjectAllocate, "object allocation", {ERROR_NOT_ENOUGH_MEMORY}},
    {FaultTaskAllocate, "CoTaskMemAlloc", {ERROR_NOT_ENOUGH_MEMORY}},
};

// Registry calls answer with their error; none can fail without one.
const PointErrors RegistryCalls[] = {
    {FaultRegCreateKey, "RegCreateKeyEx",
     {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_OUTOFMEMORY, ERROR_NOT_ENOUGH_MEMORY,
      ERROR_KEY_DELETED, ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER}},
    {FaultRegOpenKey, "RegOpenKeyEx",
     {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_OUTOFMEMORY, ERROR_KEY_DELETED,
      ERROR_INVALID_HANDLE}},
    {FaultRegSetValue, "RegSetValueEx",
     {ERROR_ACCESS_DENIED, ERROR_OUTOFMEMORY, ERROR_NOT_ENOUGH_MEMORY, ERROR_KEY_DELETED,
      ERROR_INVALID_HANDLE, ERROR_NOACCESS}},
    {FaultRegQueryValue, "RegQueryValueEx",
     {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA, ERROR_OUTOFMEMORY,
      ERROR_KEY_DELETED, ERROR_INVALID_HANDLE}},
    {FaultRegEnumKey, "RegEnumKeyEx",
     {ERROR_ACCESS_DENIED, ERROR_NO_MORE_ITEMS, ERROR_MORE_DATA, ERROR_OUTOFMEMORY,
      ERROR_KEY_DELETED, ERROR_INVALID_HANDLE}},
    {FaultRegEnumValue, "RegEnumValue",
     {ERROR_ACCESS_DENIED, ERROR_NO_MORE_ITEMS, ERROR_MORE_DATA, ERROR_KEY_DELETED}},
    {FaultRegDeleteKey, "RegDeleteKey",
     {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_OUTOFMEMORY, ERROR_KEY_DELETED,
      ERROR_INVALID_HANDLE}},
    {FaultRegDeleteValue, "RegDeleteValue",
     {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_KEY_DELETED, ERROR_INVALID_HANDLE}},
    {FaultRegCloseKey, "RegCloseKey", {ERROR_INVALID_HANDLE, ERROR_KEY_DELETED}},
    {FaultGetVersion, "GetVersionEx", {ERROR_INVALID_PARAMETER, 0}},
};

const char* const ModeNames[] = {"once", "from then on"};
const ULONG ModeCounts[] = {1, 0xFFFFFFFFu};

std::string Hex(HRESULT result)
{
    std::ostringstream out;
    out << "0x" << std::hex << static_cast<DWORD>(result);
    return out.str();
}

bool Among(HRESULT result, std::initializer_list<HRESULT> allowed)
{
    for (HRESULT one : allowed)
        if (result == one)
            return true;
    return false;
}

// Failures of one walk, reported a few at a time so that one fault does not flood the log.
class Findings {
public:
    explicit Findings(const char* what) : what_(what) {}
    ~Findings()
    {
        if (count_ > Shown)
            ADD_FAILURE() << what_ << ": " << count_ - Shown << " more not shown";
    }
    void Add(const std::string& where, const std::string& problem)
    {
        if (++count_ <= Shown)
            ADD_FAILURE() << what_ << " [" << where << "]: " << problem;
    }

private:
    static const int Shown = 12;
    const char* what_;
    int count_ = 0;
};

// What the walks did, for the log: runs made and faults that fired.
struct Tally {
    const char* Area;
    unsigned long Runs = 0, Fired = 0;
    std::set<std::string> Points;
    ~Tally()
    {
        std::cout << "[fault walk] " << Area << ": " << Runs << " runs, " << Fired
                  << " faults injected, " << Points.size() << " call points walked\n";
        ::testing::Test::RecordProperty("runs", std::to_string(Runs));
        ::testing::Test::RecordProperty("faults_injected", std::to_string(Fired));
    }
};

// ---- The filter, driven as an indexing host drives it ----

// One host session: factory, filter object, Load, GetCurFile, Init, every chunk and its text,
// release. Results outside what each method may answer go to `problems`.
struct Session {
    std::vector<std::string> Problems;
    bool Loaded = false;
    HRESULT InitResult = E_UNEXPECTED;
    // In chunk order: the text of each chunk, or nullopt where GetChunk answered E_OUTOFMEMORY.
    std::vector<std::optional<WideString>> Chunks;
    HRESULT End = S_OK;            // the GetChunk answer that ended the chunks
    std::vector<HRESULT> Repeats;  // GetChunk asked again after that
};

const ULONG TextBufferSize = 7;  // small, so that texts come in several pieces
const int ChunkLimit = 200;

void TakeText(IFilter* filter, WideString* text, std::vector<std::string>* problems)
{
    const WCHAR Guard = 0xFDFD;
    for (int piece = 0; piece < 100000; ++piece) {
        WCHAR buffer[TextBufferSize + 1];
        std::fill(std::begin(buffer), std::end(buffer), Guard);
        ULONG count = TextBufferSize;
        const SCODE result = filter->GetText(&count, buffer);
        // GetText: S_OK, FILTER_S_LAST_TEXT, FILTER_E_NO_MORE_TEXT.
        if (!Among(result, {S_OK, FILTER_S_LAST_TEXT, FILTER_E_NO_MORE_TEXT})) {
            problems->push_back("GetText answered " + Hex(result));
            return;
        }
        if (count > TextBufferSize || buffer[TextBufferSize] != Guard ||
            (count < TextBufferSize && buffer[count] != Guard)) {
            problems->push_back("GetText wrote past the count it returned");
            return;
        }
        if (result == FILTER_E_NO_MORE_TEXT) {
            if (count != 0)
                problems->push_back("FILTER_E_NO_MORE_TEXT with a count");
            return;
        }
        text->append(buffer, count);
        if (result == FILTER_S_LAST_TEXT)
            return;
        if (count == 0) {
            problems->push_back("GetText answered S_OK with nothing");
            return;
        }
    }
    problems->push_back("GetText did not come to an end");
}

Session RunSession(const FilterModule& module, LPCWSTR path)
{
    Session session;
    std::vector<std::string>& problems = session.Problems;
    void* const Untouched = reinterpret_cast<void*>(0x1234);

    // DllGetClassObject: S_OK or E_OUTOFMEMORY here (CLASS_E_CLASSNOTAVAILABLE, E_UNEXPECTED
    // for other classes and interfaces).
    IClassFactory* factory = static_cast<IClassFactory*>(Untouched);
    HRESULT result =
        module.GetClassObject(FilterClassId, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (!Among(result, {S_OK, E_OUTOFMEMORY}))
        problems.push_back("DllGetClassObject answered " + Hex(result));
    if (result != S_OK) {
        if (factory != Untouched && factory != nullptr)
            problems.push_back("DllGetClassObject failed but handed out a factory");
        return session;
    }

    // IClassFactory::CreateInstance: S_OK or E_OUTOFMEMORY (CLASS_E_NOAGGREGATION, E_UNEXPECTED
    // for aggregation and missing interfaces).
    IFilter* filter = static_cast<IFilter*>(Untouched);
    result = factory->CreateInstance(nullptr, IID_IFilter, reinterpret_cast<void**>(&filter));
    factory->Release();
    if (!Among(result, {S_OK, E_OUTOFMEMORY}))
        problems.push_back("CreateInstance answered " + Hex(result));
    if (result != S_OK) {
        if (filter != Untouched && filter != nullptr)
            problems.push_back("CreateInstance failed but handed out an object");
        return session;
    }
    // QueryInterface allocates nothing: S_OK.
    IPersistFile* file = nullptr;
    result = filter->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (result != S_OK || file == nullptr) {
        problems.push_back("QueryInterface(IID_IPersistFile) answered " + Hex(result));
        filter->Release();
        return session;
    }

    // IPersistFile::Load: S_OK or E_OUTOFMEMORY.
    result = file->Load(path, STGM_READ);
    if (!Among(result, {S_OK, E_OUTOFMEMORY}))
        problems.push_back("Load answered " + Hex(result));
    session.Loaded = result == S_OK;

    // IPersistFile::GetCurFile: S_OK with the name, E_OUTOFMEMORY, or E_FAIL without a name.
    LPOLESTR name = static_cast<LPOLESTR>(Untouched);
    result = file->GetCurFile(&name);
    if (!Among(result, {S_OK, E_OUTOFMEMORY, E_FAIL}) || (result == E_FAIL) == session.Loaded)
        problems.push_back("GetCurFile answered " + Hex(result));
    if (result == S_OK) {
        if (WideString(name) != WideString(path))
            problems.push_back("GetCurFile handed out another name");
        CoTaskMemFree(name);
    } else if (result == E_OUTOFMEMORY && name != nullptr) {
        problems.push_back("GetCurFile failed but handed out a name");
    }

    // IFilter::Init: S_OK, FILTER_E_ACCESS when the document cannot be opened, E_FAIL without
    // a name (E_INVALIDARG for attributes without an array).
    ULONG flags = 0xAB;
    session.InitResult = filter->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags);
    if (!Among(session.InitResult, {S_OK, FILTER_E_ACCESS, E_FAIL}) ||
        (session.InitResult == E_FAIL) == session.Loaded)
        problems.push_back("Init answered " + Hex(session.InitResult));
    if (session.InitResult == S_OK && flags != IFILTER_FLAGS_OLE_PROPERTIES)
        problems.push_back("Init set flags " + std::to_string(flags));

    // IFilter::GetChunk: S_OK, FILTER_E_END_OF_CHUNKS, FILTER_E_ACCESS, E_OUTOFMEMORY for a
    // story passed over; only FILTER_E_ACCESS without an open document.
    ULONG expectedId = 1;
    for (int call = 0;; ++call) {
        if (call == ChunkLimit) {
            problems.push_back("GetChunk did not come to an end");
            break;
        }
        STAT_CHUNK stat{};
        result = filter->GetChunk(&stat);
        if (!Among(result, {S_OK, FILTER_E_END_OF_CHUNKS, FILTER_E_ACCESS, E_OUTOFMEMORY}) ||
            (session.InitResult != S_OK && result != FILTER_E_ACCESS)) {
            problems.push_back("GetChunk answered " + Hex(result));
            break;
        }
        if (result == E_OUTOFMEMORY) {
            session.Chunks.push_back(std::nullopt);
            WideString none;
            TakeText(filter, &none, &problems);
            if (!none.empty())
                problems.push_back("text after a chunk that failed");
            continue;
        }
        if (result != S_OK) {
            session.End = result;
            for (int again = 0; again < 2; ++again) {
                STAT_CHUNK more{};
                session.Repeats.push_back(filter->GetChunk(&more));
            }
            break;
        }
        if (stat.idChunk != expectedId || stat.idChunkSource != expectedId ||
            stat.flags != CHUNK_TEXT || stat.attribute.psProperty.propid != PID_STG_CONTENTS)
            problems.push_back("chunk " + std::to_string(expectedId) + " described wrongly");
        ++expectedId;
        WideString text;
        TakeText(filter, &text, &problems);
        session.Chunks.push_back(text);
    }

    file->Release();
    if (filter->Release() != 0)
        problems.push_back("the last Release left references");
    if (module.CanUnloadNow() != S_OK)
        problems.push_back("DllCanUnloadNow does not answer S_OK after the last Release");
    if (module.Linked && ModuleObjectCount != 0)
        problems.push_back("ModuleObjectCount is " + std::to_string(ModuleObjectCount));
    return session;
}

struct FilterScenario {
    std::string Name;
    WideString Path;
    std::vector<WideString> Texts;  // what a session without faults takes
    DWORD ReadLimit = 0;            // bytes one ReadFile brings at most (0: no cap)
};

class FilterWalk : public ::testing::TestWithParam<FilterModule> {
protected:
    void SetUp() override
    {
        ASSERT_NE(Module().GetClassObject, nullptr) << "the module did not load";
        if (!Module().Linked)
            GTEST_SKIP() << "faults reach only the filter linked into the test program";
        for (const SampleDocument& sample : SampleDocuments())
            scenarios_.push_back(
                {sample.Name, WidePath(SamplesFolder() / sample.Name), sample.StoryTexts});
        scenarios_.push_back({"brochure, 7 bytes a read", scenarios_[0].Path,
                              scenarios_[0].Texts, 7});

        // Stories around other records, an empty one, a gap, and a record shorter than its own
        // header that ends the document before its last story.
        StoryLayout gapped{Join({Chars("Gap"), {Break(13)}, Chars("ped"), {Tab()}, Chars("story")})};
        gapped.GapSize = 11;
        gapped.GapAfter = 2;
        Record broken = OtherRecord(7, 20);
        broken.Length = 0;
        built_ = std::make_unique<TempFile>(BuildDocument(DocumentLayout{
            std::nullopt,
            {OtherRecord(1, 30), StoryRecord(StoryLayout{Chars("Alpha beta")}),
             StoryRecord(StoryLayout{}), OtherRecord(4109, 5), StoryRecord(gapped), broken,
             StoryRecord(StoryLayout{Chars("never reached")})}}));
        scenarios_.push_back({"built", built_->Name(),
                              {W("Alpha beta"), W(""), W("Gap\r\nped\tstory")}});
        // A document that is not there: its failure is the one that asks for a message text.
        scenarios_.push_back({"missing", WidePath(TestFolder() / "missing.zcv"), {}});
    }
    const FilterModule& Module() const { return GetParam(); }

    // Runs every scenario with each fault of FilterCalls, calling `check` on each faulted run.
    void Walk(Tally& tally,
              const std::function<void(const FilterScenario&, const std::string&, DWORD,
                                       ULONG mode, const Session&)>& check)
    {
        for (const FilterScenario& scenario : scenarios_) {
            ResetFaults();
            LimitReadSize(scenario.ReadLimit);
            const Session clean = RunSession(Module(), scenario.Path.c_str());
            ASSERT_EQ(clean.Problems, std::vector<std::string>{}) << scenario.Name;
            ULONG calls[FaultPointCount];
            for (int point = 0; point < FaultPointCount; ++point)
                calls[point] = FaultCallCount(static_cast<FaultPoint>(point));
            for (const PointErrors& point : FilterCalls) {
                if (!FaultInjectable(point.Point))
                    continue;
                for (DWORD error : point.Errors) {
                    for (ULONG mode = 0; mode < 2; ++mode) {
                        for (ULONG skip = 0; skip < calls[point.Point]; ++skip) {
                            ResetFaults();
                            LimitReadSize(scenario.ReadLimit);
                            const ULONG handles = OpenFileHandles();
                            ArmFault(point.Point, error, skip, ModeCounts[mode]);
                            const Session session = RunSession(Module(), scenario.Path.c_str());
                            const ULONG fired = FaultsFired();
                            const bool closeFailed = point.Point == FaultCloseHandle && fired > 0;
                            std::ostringstream where;
                            where << scenario.Name << ", " << point.Name << " call " << skip + 1
                                  << " of " << calls[point.Point] << ", error " << error << ", "
                                  << ModeNames[mode];
                            Session checked = session;
                            // A handle whose close failed stays open in the stand-in (on the
                            // platform such a close fails only for a handle that is not open).
                            if (!closeFailed && OpenFileHandles() != handles)
                                checked.Problems.push_back("a file handle was left open");
                            check(scenario, where.str(), error, mode, checked);
                            ++tally.Runs;
                            tally.Fired += fired;
                            tally.Points.insert(point.Name);
                            ResetFaults();
                        }
                    }
                }
            }
            // Nothing of the faults outlives them: a clean session takes every text again.
            ResetFaults();
            LimitReadSize(scenario.ReadLimit);
            const Session after = RunSession(Module(), scenario.Path.c_str());
            EXPECT_EQ(after.Problems, std::vector<std::string>{}) << scenario.Name;
            EXPECT_EQ(after.Chunks, clean.Chunks) << scenario.Name;
            LimitReadSize(0);
        }
    }

    std::vector<FilterScenario> scenarios_;
    std::unique_ptr<TempFile> built_;
};

// What GetChunk may answer when asked again after `end`: a closed document stays closed; after
// the end no chunk comes, though a call that fails may answer FILTER_E_ACCESS. `strict` also
// holds a failure that sets no error to this (see AnEndIsRemembered... below).
std::vector<std::string> RepeatProblems(const Session& session, DWORD error, bool strict)
{
    std::vector<std::string> problems;
    for (HRESULT repeated : session.Repeats) {
        const bool fine = session.End == FILTER_E_ACCESS
                              ? repeated == FILTER_E_ACCESS
                              : repeated == FILTER_E_END_OF_CHUNKS || repeated == FILTER_E_ACCESS ||
                                    (repeated == S_OK && error == 0 && !strict);
        if (!fine)
            problems.push_back("after " + Hex(session.End) + " GetChunk answered " + Hex(repeated));
    }
    return problems;
}

// Every faulted session keeps to the interfaces, ends, and releases all it took.
TEST_P(FilterWalk, EveryFailingCallLeavesTheHostSound)
{
    Tally tally{"filter"};
    Findings findings("faulted filter session");
    Walk(tally, [&](const FilterScenario&, const std::string& where, DWORD error, ULONG,
                    const Session& session) {
        for (const std::string& problem : session.Problems)
            findings.Add(where, problem);
        for (const std::string& problem : RepeatProblems(session, error, false))
            findings.Add(where, problem);
    });
    EXPECT_GT(tally.Runs, 0u);
}

// A ReadFile or GetFileSize that fails without an error makes the scan see an end in the middle
// of the document (a header cut short, a size of 0xFFFFFFFF). The end must stay one: asked
// again, GetChunk must not read on from there and hand out further chunks after
// FILTER_E_END_OF_CHUNKS.
TEST_P(FilterWalk, AnEndIsRememberedWhateverEndedTheScan)
{
    Tally tally{"filter, end kept"};
    Findings findings("faulted filter session");
    Walk(tally, [&](const FilterScenario&, const std::string& where, DWORD error, ULONG,
                    const Session& session) {
        for (const std::string& problem : RepeatProblems(session, error, true))
            findings.Add(where, problem);
    });
}

// Beyond soundness: a failure with an error is never taken for the end of the document, and
// never changes a text. Each chunk is the next story's text, or E_OUTOFMEMORY for a story
// passed over; the chunks end with FILTER_E_END_OF_CHUNKS only when every story came, else with
// FILTER_E_ACCESS. Failures without an error (0) count as success where the error layer reads
// the last error, so they are left out.
TEST_P(FilterWalk, AFailureIsNeverTakenForTheEndOfTheDocument)
{
    Tally tally{"filter, texts"};
    Findings findings("faulted filter session");
    Walk(tally, [&](const FilterScenario& scenario, const std::string& where, DWORD error, ULONG,
                    const Session& session) {
        if (error == 0 || session.InitResult != S_OK)
            return;
        const std::size_t taken = session.Chunks.size();
        if (taken > scenario.Texts.size()) {
            findings.Add(where, "more chunks than stories");
            return;
        }
        for (std::size_t index = 0; index < taken; ++index) {
            if (session.Chunks[index] && *session.Chunks[index] != scenario.Texts[index])
                findings.Add(where, "chunk " + std::to_string(index + 1) + " reads \"" +
                                        Printable(*session.Chunks[index]) + "\"");
        }
        if (session.End == FILTER_E_END_OF_CHUNKS && taken < scenario.Texts.size())
            findings.Add(where, "FILTER_E_END_OF_CHUNKS after " + std::to_string(taken) + " of " +
                                    std::to_string(scenario.Texts.size()) + " stories");
    });
}

INSTANTIATE_TEST_SUITE_P(Modules, FilterWalk, ::testing::ValuesIn(FilterModules()),
                         [](const auto& info) { return info.param.Name; });

// Failures the walk above covers, one by one: a call of the scan fails with an error. The filter
// must not go on as if the document had ended there, nor hand out a chunk the document does not
// hold: Init or GetChunk answers FILTER_E_ACCESS where the failure is met.
TEST(FilterFailures, ScanFailuresAreReportedNotTakenForTheEnd)
{
    if (!FaultInjectable(FaultReadFile))
        GTEST_SKIP() << "needs the stand-in's system calls";
    TempFile document(BuildDocument(DocumentLayout{
        std::nullopt,
        {StoryRecord(StoryLayout{Chars("first")}), OtherRecord(1, 40),
         StoryRecord(StoryLayout{Chars("second")})}}));
    const struct {
        const char* Case;
        FaultPoint Point;
        ULONG Skip;  // calls let through at that point since the object was made
        std::vector<std::string> Texts;  // the chunks before FILTER_E_ACCESS
    } cases[] = {
        // ReadFile: 1 the preamble, 2 the first header, 3 the first story's body.
        {"the preamble's read fails", FaultReadFile, 0, {}},
        {"a story body's read fails", FaultReadFile, 2, {}},
        // SetFilePointer: Init's read of the preamble makes none; each step asks the position
        // (AtEndOfFile, then MeasureRest for a story or GetFilePosition for another record);
        // the 5th call is the seek over the second record.
        {"the seek past another record fails", FaultSetFilePointer, 4, {"first"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Case);
        ResetFaults();
        FilterObject object = CreateFilter(FilterModules()[0]);
        ASSERT_NE(object.File, nullptr);
        ASSERT_EQ(object.File->Load(document.Name(), STGM_READ), S_OK);
        ArmFault(c.Point, ERROR_READ_FAULT, c.Skip);
        ULONG flags = 0;
        const SCODE init = object.Filter->Init(0, 0, nullptr, &flags);
        HRESULT last = init;
        std::vector<std::string> texts;
        if (init == S_OK) {
            for (const TakenChunk& chunk : TakeChunks(object.Filter, 100, &last))
                texts.push_back(Printable(chunk.Text));
        }
        EXPECT_EQ(FaultsFired(), 1u);
        EXPECT_EQ(texts, c.Texts);
        EXPECT_EQ(last, FILTER_E_ACCESS) << Hex(last);
    }
}

// ---- Registration ----

// The registry as entries: each key, and each value as "key|line".
std::set<std::string> Entries(const std::string& text)
{
    std::set<std::string> entries;
    std::istringstream lines(text);
    std::string key;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty())
            continue;
        if (line[0] == '[') {
            key = line;
            entries.insert(key);
        } else {
            entries.insert(key + "|" + line);
        }
    }
    return entries;
}

std::string Show(const std::set<std::string>& entries)
{
    std::string text;
    for (const std::string& entry : entries)
        text += "\n  " + entry;
    return text;
}

const std::string Handler = "{2B5F8E10-7C34-4A9D-B1E6-93D0F4A7C258}";
const std::string FilterClass = "{6E1C2D47-A93B-4F20-9D84-5B7A0C3E61F9}";
const std::string DocumentClass = "{A8D3C61E-5F02-4B7C-8E39-1C6B2F9D04E7}";

std::string Key(const std::string& path, const std::string& values = "")
{
    return "[HKEY_CLASSES_ROOT\\" + path + "]\n" + values + "\n";
}

// The parts unregistration removes one by one: the module's own classes and the extension's
// handler, each of which must go or be reported; the document class, ProgID and the values
// naming it, removed as far as they can be.
enum Group { HandlerGroup, FilterGroup, ExtensionGroup, DocumentGroup };
const char* const GroupNames[] = {"handler class", "filter class", ".zcv\\PersistentHandler",
                                  "document class and ProgID"};

Group GroupOf(const std::string& entry)
{
    auto under = [&](const std::string& path) {
        const std::string key = "[HKEY_CLASSES_ROOT\\" + path;
        return entry.compare(0, key.size(), key) == 0 &&
               (entry[key.size()] == ']' || entry[key.size()] == '\\');
    };
    if (under("CLSID\\" + Handler))
        return HandlerGroup;
    if (under("CLSID\\" + FilterClass))
        return FilterGroup;
    if (under(".zcv\\PersistentHandler"))
        return ExtensionGroup;
    return DocumentGroup;
}

struct RegistryState {
    const char* Name;
    bool OpenOnly;
    std::string Keys;
};

const RegistryState RegistrationStates[] = {
    {"create mode, empty registry", false, ""},
    {"open-only, empty registry", true, ""},
    {"open-only, the document type present", true,
     Key(".zcv", "@=\"CorvanPro.Document\"\n") + Key("CLSID\\" + DocumentClass, "@=\"Kept\"\n") +
         Key("CorvanPro.Document") + Key("CorvanPro.Document\\CLSID", "@=\"" + DocumentClass + "\"\n")},
    {"create mode, .zcv names another ProgID", false, Key(".zcv", "@=\"Other.Document\"\n")},
};

// Registry calls whose failure is a state registration handles and carries on past: a key or
// value that is not there, a value too long to read (replaced in create mode), a failed close,
// and a version that cannot be had (create mode).
bool CarriesOn(FaultPoint point, DWORD error)
{
    return ((point == FaultRegOpenKey || point == FaultRegQueryValue) &&
            error == ERROR_FILE_NOT_FOUND) ||
           (point == FaultRegQueryValue && error == ERROR_MORE_DATA) ||
           point == FaultRegCloseKey || point == FaultGetVersion;
}

class RegistryWalk : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!FaultInjectable(FaultRegCreateKey))
            GTEST_SKIP() << "needs injected registry failures, which only the stand-in gives";
        ResetFaults();
    }
    void TearDown() override
    {
        ResetFaults();
        ClearTestRegistry();
    }
    // The registry after `call` from `given`, with no fault; `calls` (when given) gets the
    // calls it made at each point.
    static std::string After(const std::string& given, bool openOnly,
                             const std::function<HRESULT()>& call, HRESULT expected,
                             ULONG* calls = nullptr)
    {
        GivenRegistry(given);
        ResetFaults();
        UseRegistrationMode(openOnly);
        EXPECT_EQ(call(), expected);
        for (int point = 0; calls != nullptr && point < FaultPointCount; ++point)
            calls[point] = FaultCallCount(static_cast<FaultPoint>(point));
        return RegistryNow();
    }
};

// Each registry call of a clean run (`calls`: how many it made at each point) made to fail in
// turn, with each error the platform gives there, once and from then on; `run` arms the fault,
// makes the call under test and checks it, `place` naming the case.
template <typename Run>
void ForEachRegistryFault(const std::string& state, const ULONG* calls, Run run)
{
    for (const PointErrors& point : RegistryCalls) {
        for (DWORD error : point.Errors) {
            for (ULONG mode = 0; mode < 2; ++mode) {
                for (ULONG skip = 0; skip < calls[point.Point]; ++skip) {
                    std::ostringstream place;
                    place << state << ", " << point.Name << " call " << skip + 1 << " of "
                          << calls[point.Point] << ", error " << error << ", " << ModeNames[mode];
                    run(point, error, mode, skip, place.str());
                }
            }
        }
    }
}

TEST_F(RegistryWalk, RegistrationStopsAtItsFirstFailure)
{
    Tally tally{"registration"};
    Findings findings("faulted registration");
    for (const RegistryState& state : RegistrationStates) {
        const std::set<std::string> given =
            Entries(After(state.Keys, state.OpenOnly, [] { return HRESULT(S_OK); }, S_OK));
        // What registration writes from this state or, where a fault makes a key or value look
        // missing, from an empty registry.
        std::set<std::string> allowed = given;
        for (const std::string& from : {state.Keys, std::string()}) {
            for (bool openOnly : {false, true}) {
                const std::set<std::string> done =
                    Entries(After(from, openOnly, DllRegisterServer, S_OK));
                allowed.insert(done.begin(), done.end());
            }
        }
        ULONG calls[FaultPointCount];
        const std::set<std::string> registered =
            Entries(After(state.Keys, state.OpenOnly, DllRegisterServer, S_OK, calls));

        ForEachRegistryFault(state.Name, calls, [&](const PointErrors& point, DWORD error,
                                                    ULONG mode, ULONG skip,
                                                    const std::string& place) {
            GivenRegistry(state.Keys);
            ResetFaults();
            UseRegistrationMode(state.OpenOnly);
            const ULONG keys = OpenKeyHandles();
            ArmFault(point.Point, error, skip, ModeCounts[mode]);
            const HRESULT result = DllRegisterServer();
            ULONG atFault[FaultPointCount];
            const bool fired = CallCountsAtLastFault(atFault);
            ULONG after[FaultPointCount];
            for (int other = 0; other < FaultPointCount; ++other)
                after[other] = FaultCallCount(static_cast<FaultPoint>(other));
            const bool closeFailed = point.Point == FaultRegCloseKey;
            ++tally.Runs;
            tally.Fired += FaultsFired();
            tally.Points.insert(point.Name);
            ResetFaults();
            const std::set<std::string> now = Entries(RegistryNow());

            if (!fired)
                findings.Add(place, "the fault did not fire");
            if (result != S_OK && result != SELFREG_E_CLASS)
                findings.Add(place, "DllRegisterServer answered " + Hex(result));
            if (result == S_OK && !CarriesOn(point.Point, error))
                findings.Add(place, "a failure answered S_OK");
            if (closeFailed && result == S_OK && now != registered)
                findings.Add(place, "a failed close changed what was written");
            if (result == SELFREG_E_CLASS && fired) {
                // After the failure that stopped it only keys are closed.
                for (int other = FaultRegCreateKey; other <= FaultRegDeleteValue; ++other)
                    if (after[other] != atFault[other])
                        findings.Add(place, "registry calls after the failure (point " +
                                                std::to_string(other) + ")");
            }
            std::set<std::string> stray;
            for (const std::string& entry : now)
                if (!allowed.count(entry))
                    stray.insert(entry);
            if (!stray.empty())
                findings.Add(place, "wrote entries registration never writes:" + Show(stray));
            if (!closeFailed && OpenKeyHandles() != keys)
                findings.Add(place, "a key handle was left open");
        });
        ClearTestRegistry();
    }
    EXPECT_GT(tally.Runs, 0u);
}

// An existing .zcv value that cannot be read for any reason but its length (access denied, out
// of memory, a key deleted meanwhile) may be the user's own association: registration stops with
// SELFREG_E_CLASS and keeps it. Only a value too long to be a ProgID (ERROR_MORE_DATA) is
// replaced in create mode.
TEST_F(RegistryWalk, AnUnreadableExtensionValueIsKept)
{
    const std::string given = Key(".zcv", "@=\"Other.Document\"\n");
    for (DWORD error : {ERROR_ACCESS_DENIED, ERROR_OUTOFMEMORY, ERROR_KEY_DELETED}) {
        SCOPED_TRACE(error);
        GivenRegistry(given);
        ResetFaults();
        UseRegistrationMode(false);
        // Queries: the ProgID's class value, then the .zcv value.
        ArmFault(FaultRegQueryValue, error, 1);
        EXPECT_EQ(DllRegisterServer(), SELFREG_E_CLASS);
        ResetFaults();
        EXPECT_EQ(Entries(RegistryNow()).count("[HKEY_CLASSES_ROOT\\.zcv]|@=\"Other.Document\""), 1u);
    }
}

const RegistryState UnregistrationStates[] = {
    {"registered in create mode", false, ""},
    {"registered open-only over the document type", true, RegistrationStates[2].Keys},
    {"registered, another class naming the handler", false,
     Key("CLSID\\{B0C0FFEE-0000-4000-8000-000000000001}\\PersistentHandler",
         "@=\"" + Handler + "\"\n")},
};

TEST_F(RegistryWalk, UnregistrationRunsEveryStepPastAnyFailure)
{
    Tally tally{"unregistration"};
    Findings findings("faulted unregistration");
    for (const RegistryState& state : UnregistrationStates) {
        // The registered state, as .reg text, and what a clean unregistration leaves of it.
        GivenRegistry(state.Keys);
        UseRegistrationMode(state.OpenOnly);
        ASSERT_EQ(DllRegisterServer(), S_OK) << state.Name;
        const std::string registeredText = RegistryNow();
        const std::set<std::string> registered = Entries(registeredText);
        ULONG calls[FaultPointCount];
        const std::set<std::string> clean =
            Entries(After(registeredText, state.OpenOnly, DllUnregisterServer, S_OK, calls));
        ULONG cleanTotal = 0;
        for (int point = 0; point < FaultPointCount; ++point)
            cleanTotal += calls[point];

        ForEachRegistryFault(state.Name, calls, [&](const PointErrors& point, DWORD error,
                                                    ULONG mode, ULONG skip,
                                                    const std::string& place) {
            GivenRegistry(registeredText);
            ResetFaults();
            const ULONG keys = OpenKeyHandles();
            ArmFault(point.Point, error, skip, ModeCounts[mode]);
            const HRESULT result = DllUnregisterServer();
            ULONG total = 0;
            for (int other = 0; other < FaultPointCount; ++other)
                total += FaultCallCount(static_cast<FaultPoint>(other));
            ++tally.Runs;
            tally.Fired += FaultsFired();
            tally.Points.insert(point.Name);
            ResetFaults();
            const std::set<std::string> now = Entries(RegistryNow());

            if (result != S_OK && result != S_FALSE)
                findings.Add(place, "DllUnregisterServer answered " + Hex(result));
            if (total > 4 * cleanTotal + 100)
                findings.Add(place, std::to_string(total) + " calls against " +
                                        std::to_string(cleanTotal) + " without the fault");
            std::set<std::string> stray, left;
            for (const std::string& entry : now) {
                if (!registered.count(entry))
                    stray.insert(entry);
                else if (!clean.count(entry))
                    left.insert(entry);
            }
            if (!stray.empty())
                findings.Add(place, "entries that were not there:" + Show(stray));
            std::set<Group> groups;
            for (const std::string& entry : left)
                groups.insert(GroupOf(entry));
            // One failing call keeps one part; every other step still runs.
            if (mode == 0 && groups.size() > 1)
                findings.Add(place, "one failure kept several parts:" + Show(left));
            for (Group group : {HandlerGroup, FilterGroup, ExtensionGroup})
                if (groups.count(group) && result != S_FALSE)
                    findings.Add(place, std::string("kept the ") + GroupNames[group] +
                                            " and answered " + Hex(result));
            if (point.Point != FaultRegCloseKey && OpenKeyHandles() != keys)
                findings.Add(place, "a key handle was left open");
        });
        ClearTestRegistry();
    }
    EXPECT_GT(tally.Runs, 0u);
}

}  // namespace
