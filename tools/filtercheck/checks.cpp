#include "tools/filtercheck/checks.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <system_error>
#include <thread>

namespace {

// A filter that never ends is cut off here: more chunks than any document holds, more text in
// one chunk than any story gives.
const std::size_t MostChunks = std::size_t(1) << 20;
const std::size_t MostUnitsPerChunk = std::size_t(1) << 26;
const std::size_t MostNameUnits = 4096;
const std::size_t MostProblems = 16;

// Written into GetText's buffer beyond what the filter may write.
const WCHAR Guard = 0xFDFD;

const GUID StorageSet = PSGUID_STORAGE;
// The summary information set, whose title (2) this filter does not give.
const GUID SummarySet = {0xf29f85e0, 0x4ff9, 0x1068, {0xab, 0x91, 0x08, 0x00, 0x2b, 0x27, 0xb3, 0xd9}};
const PROPID SummaryTitle = 2;

const ULONG TextFlags = IFILTER_INIT_CANON_PARAGRAPHS | IFILTER_INIT_HARD_LINE_BREAKS |
                        IFILTER_INIT_CANON_HYPHENS | IFILTER_INIT_CANON_SPACES;

// A STAT_CHUNK enumeration field as the number the filter stored, legal or not.
template <typename Field>
DWORD Number(const Field& field)
{
    static_assert(sizeof(Field) == sizeof(DWORD), "the enumerations are 32 bits");
    DWORD value = 0;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

std::string Hex(DWORD value, int digits = 8)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*lX", digits, static_cast<unsigned long>(value));
    return text;
}

std::string Unit(WCHAR unit)
{
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(unit));
    return text;
}

std::string Count(std::size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// ---- Taking chunks ----

using ChunkHook = std::function<void(IFilter* filter, std::size_t index, const TakenChunk& chunk)>;

struct Hooks {
    ChunkHook BeforeText;  // after GetChunk gave a text chunk
    ChunkHook AfterText;   // after its text was taken
};

class Taker {
public:
    Taker(IFilter* filter, const TakeOptions& options, const Hooks& hooks)
        : Filter(filter), Options(options), Hooks_(hooks), Buffer(options.BufferUnits + 1, Guard)
    {
    }

    Pass Take()
    {
        bool anyId = false;
        ULONG lastId = 0;
        for (std::size_t call = 0;; ++call) {
            if (call == MostChunks) {
                Problem("GetChunk did not come to an end after " + std::to_string(MostChunks) +
                        " calls");
                Result.End = S_OK;
                return std::move(Result);
            }
            STAT_CHUNK stat{};
            const HRESULT answer = Filter->GetChunk(&stat);
            // The chunk is out of the filter's reach; the next one may not be.
            if (answer == FILTER_E_EMBEDDING_UNAVAILABLE || answer == FILTER_E_LINK_UNAVAILABLE)
                continue;
            if (answer != S_OK) {
                Result.End = answer;
                return std::move(Result);
            }
            const std::size_t index = Result.Chunks.size();
            Where = "chunk " + std::to_string(index + 1) + " (id " + std::to_string(stat.idChunk) + ")";
            if (anyId && stat.idChunk <= lastId)
                Problem(Where + (stat.idChunk == lastId ? " repeats the id before it"
                                                        : " comes after id " + std::to_string(lastId)));
            anyId = true;
            lastId = stat.idChunk;
            TakenChunk chunk = Describe(stat);
            const DWORD flags = Number(stat.flags);
            if (flags == CHUNK_TEXT) {
                if (Hooks_.BeforeText)
                    Hooks_.BeforeText(Filter, index, chunk);
                TakeText(&chunk.Text);
                if (Hooks_.AfterText)
                    Hooks_.AfterText(Filter, index, chunk);
            } else if (flags == CHUNK_VALUE) {
                ULONG count = Options.BufferUnits;
                const HRESULT text = Filter->GetText(&count, Buffer.data());
                if (text != FILTER_E_NO_TEXT)
                    Problem(Where + " is a value, and GetText answered " + ResultText(text) +
                            ", not FILTER_E_NO_TEXT");
            }
            Result.Chunks.push_back(std::move(chunk));
        }
    }

private:
    void Problem(std::string text)
    {
        if (Result.Problems.size() < MostProblems)
            Result.Problems.push_back(std::move(text));
    }

    TakenChunk Describe(const STAT_CHUNK& stat)
    {
        TakenChunk chunk{stat, WideString(), WideString()};
        const DWORD flags = Number(stat.flags);
        if (flags != CHUNK_TEXT && flags != CHUNK_VALUE)
            Problem(Where + " has flags " + Hex(flags) + ", neither CHUNK_TEXT nor CHUNK_VALUE");
        const DWORD breakType = Number(stat.breakType);
        if (breakType > CHUNK_EOC)
            Problem(Where + " has breakType " + std::to_string(breakType) +
                    ", not one of CHUNK_NO_BREAK to CHUNK_EOC");
        if (stat.idChunkSource != stat.idChunk)
            Problem(Where + " has idChunkSource " + std::to_string(stat.idChunkSource) +
                    ", not its own id");
        PROPSPEC& property = chunk.Stat.attribute.psProperty;
        if (property.ulKind == PRSPEC_LPWSTR) {
            // The name belongs to the filter and may not outlive the next call.
            const WCHAR* name = property.lpwstr;
            if (name == nullptr)
                Problem(Where + " names its property with a null string");
            for (std::size_t at = 0; name != nullptr && name[at] != 0; ++at) {
                if (at == MostNameUnits) {
                    Problem(Where + " names its property with more than " +
                            std::to_string(MostNameUnits) + " units");
                    break;
                }
                chunk.AttributeName.push_back(name[at]);
            }
            property.lpwstr = nullptr;
        } else if (property.ulKind != PRSPEC_PROPID) {
            Problem(Where + " has a property of kind " + std::to_string(property.ulKind) +
                    ", neither PRSPEC_LPWSTR nor PRSPEC_PROPID");
        }
        return chunk;
    }

    void TakeText(WideString* text)
    {
        const ULONG size = Options.BufferUnits;
        for (;;) {
            ULONG count = size;
            const HRESULT answer = Filter->GetText(&count, Buffer.data());
            if (answer == FILTER_E_NO_MORE_TEXT) {
                if (count != 0)
                    Problem(Where + ": GetText answered FILTER_E_NO_MORE_TEXT with a count of " +
                            std::to_string(count));
                return;
            }
            if (answer != S_OK && answer != FILTER_S_LAST_TEXT) {
                Problem(Where + ": GetText answered " + ResultText(answer));
                return;
            }
            if (count > size) {
                Problem(Where + ": GetText gave a count of " + std::to_string(count) +
                        " for a buffer of " + std::to_string(size));
                return;
            }
            // Units past the count were not the filter's to write; the one past the end least.
            if (Buffer[size] != Guard || (count < size && Buffer[count] != Guard)) {
                Problem(Where + ": GetText wrote past the " + std::to_string(count) +
                        " units it gave, in a buffer of " + std::to_string(size));
                return;
            }
            text->append(Buffer.data(), count);
            std::fill(Buffer.begin(), Buffer.begin() + count, Guard);
            if (answer == FILTER_S_LAST_TEXT) {
                if (Options.AskAfterLastText)
                    AskAfterLastText();
                return;
            }
            if (count == 0 && size > 0) {
                Problem(Where + ": GetText answered S_OK with no text, so a host would ask forever");
                return;
            }
            if (text->size() > MostUnitsPerChunk) {
                Problem(Where + ": GetText did not come to an end after " +
                        std::to_string(MostUnitsPerChunk) + " units");
                return;
            }
        }
    }

    void AskAfterLastText()
    {
        ULONG count = Options.BufferUnits;
        const HRESULT answer = Filter->GetText(&count, Buffer.data());
        std::fill(Buffer.begin(), Buffer.end(), Guard);
        if (answer != FILTER_E_NO_MORE_TEXT || count != 0)
            Problem(Where + ": after FILTER_S_LAST_TEXT GetText answered " + ResultText(answer) +
                    " with a count of " + std::to_string(count) +
                    ", not FILTER_E_NO_MORE_TEXT with 0");
    }

    IFilter* Filter;
    const TakeOptions& Options;
    const Hooks& Hooks_;
    std::vector<WCHAR> Buffer;  // the buffer and one unit past it, Guard where no text is
    std::string Where;
    Pass Result;
};

Pass TakeWith(IFilter* filter, const TakeOptions& options, const Hooks& hooks)
{
    return Taker(filter, options, hooks).Take();
}

std::string AttributeText(const TakenChunk& chunk)
{
    const FULLPROPSPEC& attribute = chunk.Stat.attribute;
    const GUID& set = attribute.guidPropSet;
    char text[64];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(set.Data1), set.Data2, set.Data3, set.Data4[0],
                  set.Data4[1], set.Data4[2], set.Data4[3], set.Data4[4], set.Data4[5],
                  set.Data4[6], set.Data4[7]);
    if (attribute.psProperty.ulKind == PRSPEC_PROPID)
        return std::string(text) + " " + std::to_string(attribute.psProperty.propid);
    std::string name;
    for (WCHAR unit : chunk.AttributeName)
        name += unit >= 0x20 && unit < 0x7F ? std::string(1, static_cast<char>(unit)) : Unit(unit);
    return std::string(text) + " \"" + name + "\"";
}

bool SameAttribute(const TakenChunk& a, const TakenChunk& b)
{
    const PROPSPEC& one = a.Stat.attribute.psProperty;
    const PROPSPEC& other = b.Stat.attribute.psProperty;
    if (!IsEqualGUID(a.Stat.attribute.guidPropSet, b.Stat.attribute.guidPropSet) ||
        one.ulKind != other.ulKind)
        return false;
    return one.ulKind == PRSPEC_PROPID ? one.propid == other.propid
                                       : a.AttributeName == b.AttributeName;
}

std::string ChunkDifference(const TakenChunk& taken, const TakenChunk& expected)
{
    const STAT_CHUNK& a = taken.Stat;
    const STAT_CHUNK& b = expected.Stat;
    struct Field {
        const char* Name;
        DWORD Taken, Expected;
    };
    const Field fields[] = {
        {"idChunk", a.idChunk, b.idChunk},
        {"breakType", Number(a.breakType), Number(b.breakType)},
        {"flags", Number(a.flags), Number(b.flags)},
        {"locale", a.locale, b.locale},
        {"idChunkSource", a.idChunkSource, b.idChunkSource},
        {"cwcStartSource", a.cwcStartSource, b.cwcStartSource},
        {"cwcLenSource", a.cwcLenSource, b.cwcLenSource},
    };
    for (const Field& field : fields)
        if (field.Taken != field.Expected)
            return std::string(field.Name) + " is " + std::to_string(field.Taken) + ", expected " +
                   std::to_string(field.Expected);
    if (!SameAttribute(taken, expected))
        return "attribute is " + AttributeText(taken) + ", expected " + AttributeText(expected);
    const WideString& text = taken.Text;
    const WideString& want = expected.Text;
    const std::size_t common = std::min(text.size(), want.size());
    const std::size_t at =
        static_cast<std::size_t>(std::mismatch(text.begin(), text.begin() + common, want.begin()).first -
                                 text.begin());
    if (at < common)
        return "text differs at unit " + std::to_string(at) + ": " + Unit(text[at]) + ", expected " +
               Unit(want[at]);
    if (text.size() != want.size())
        return "text has " + Count(text.size(), "unit", "units") + ", expected " +
               std::to_string(want.size());
    return std::string();
}

// ---- Checks ----

// What Init is asked: flags and attributes.
struct InitCall {
    const char* Shown;
    ULONG Flags;
    std::vector<FULLPROPSPEC> Attributes;
};

FULLPROPSPEC Numbered(const GUID& set, PROPID id)
{
    FULLPROPSPEC attribute{};
    attribute.guidPropSet = set;
    attribute.psProperty.ulKind = PRSPEC_PROPID;
    attribute.psProperty.propid = id;
    return attribute;
}

FULLPROPSPEC Named(const GUID& set, const WCHAR* name)
{
    FULLPROPSPEC attribute{};
    attribute.guidPropSet = set;
    attribute.psProperty.ulKind = PRSPEC_LPWSTR;
    attribute.psProperty.lpwstr = const_cast<WCHAR*>(name);
    return attribute;
}

// How an indexing host asks: the first pass and most checks.
const InitCall& IndexCall()
{
    static const InitCall call{"IFILTER_INIT_APPLY_INDEX_ATTRIBUTES",
                               IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, {}};
    return call;
}

// A filter object released when this goes.
class Held {
public:
    explicit Held(IFilter* filter = nullptr) : Pointer(filter) {}
    ~Held()
    {
        if (Pointer != nullptr)
            Pointer->Release();
    }
    Held(Held&& other) noexcept : Pointer(other.Pointer) { other.Pointer = nullptr; }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    IFilter* operator->() const { return Pointer; }
    IFilter* get() const { return Pointer; }
    explicit operator bool() const { return Pointer != nullptr; }

private:
    IFilter* Pointer;
};

// What the first pass gave: the chunks and Init's flags.
struct FirstPass {
    Pass Taken;
    ULONG Flags = 0;
};

// One run of one check: the way to filter objects, what the first pass gave, and the first
// failure seen. What already broke the interface in the first pass is the validation check's
// to report; the other checks report only what their own calls add.
class CheckRun {
public:
    CheckRun(LPCWSTR path, const OpenFilter& open, const FirstPass& first,
             const CheckSettings& settings)
        : Path(path), Open(open), First(first), Settings(settings)
    {
    }

    void ReportEverything() { Everything = true; }

    void Fail(const std::string& detail)
    {
        if (Detail_.empty())
            Detail_ = detail;
    }
    bool Failed() const { return !Detail_.empty(); }
    const std::string& Detail() const { return Detail_; }
    const Pass& Reference() const { return First.Taken; }
    ULONG LargeBuffer() const { return Settings.LargeBuffer; }

    // A new object for the document; empty, with the failure noted, when none could be had.
    Held New()
    {
        IFilter* filter = nullptr;
        HRESULT result = Open(Path, &filter);
        if (SUCCEEDED(result) && filter == nullptr)
            result = E_UNEXPECTED;
        if (FAILED(result)) {
            if (filter != nullptr)
                filter->Release();
            Fail("cannot make a filter object for the document: " + ResultText(result));
            return Held();
        }
        return Held(filter);
    }

    // Init as `call` says; false, with the failure noted, unless it answers S_OK. Flags other
    // than IFILTER_FLAGS_OLE_PROPERTIES in its answer are noted too.
    bool Init(const Held& filter, const InitCall& call)
    {
        ULONG flags = 0xA5A5A5A5;
        const ULONG count = static_cast<ULONG>(call.Attributes.size());
        const HRESULT result =
            filter->Init(call.Flags, count, count > 0 ? call.Attributes.data() : nullptr, &flags);
        if (result != S_OK) {
            Fail(std::string("Init(") + call.Shown + ") answered " + ResultText(result));
            return false;
        }
        if ((flags & ~static_cast<ULONG>(IFILTER_FLAGS_OLE_PROPERTIES)) != 0 &&
            (Everything || flags != First.Flags))
            Fail(std::string("Init(") + call.Shown + ") gave flags " + Hex(flags) +
                 ", not 0 or IFILTER_FLAGS_OLE_PROPERTIES");
        return true;
    }

    // All chunks, with what broke the interface on the way noted.
    Pass Take(const Held& filter, const std::string& context, const TakeOptions& options = {},
              const Hooks& hooks = {})
    {
        Pass pass = TakeWith(filter.get(), options, hooks);
        std::vector<std::string> problems;
        for (const std::string& problem : pass.Problems) {
            const std::vector<std::string>& known = First.Taken.Problems;
            if (Everything || std::find(known.begin(), known.end(), problem) == known.end())
                problems.push_back(problem);
        }
        if (!problems.empty()) {
            const std::size_t more = problems.size() - 1;
            Fail(context + problems.front() +
                 (more > 0 ? " (and " + Count(more, "more problem", "more problems") + ")" : ""));
        } else if (pass.End != FILTER_E_END_OF_CHUNKS) {
            Fail(context + "GetChunk answered " + ResultText(pass.End) + " after " +
                 Count(pass.Chunks.size(), "chunk", "chunks"));
        }
        return pass;
    }

    void ExpectSame(const Pass& taken, const Pass& expected, const std::string& context)
    {
        const std::string difference = Difference(taken, expected);
        if (!difference.empty())
            Fail(context + difference);
    }

private:
    LPCWSTR Path;
    const OpenFilter& Open;
    const FirstPass& First;
    const CheckSettings& Settings;
    bool Everything = false;
    std::string Detail_;
};

// -- validation and consistency --

void Validation(CheckRun& run)
{
    run.ReportEverything();
    Held filter = run.New();
    if (filter && run.Init(filter, IndexCall()))
        run.Take(filter, "", TakeOptions{4096, true});
}

// Two objects on the document at once, taken in the other order than they were started: each
// gives what the first pass gave.
void FreshObjects(CheckRun& run)
{
    Held first = run.New();
    Held second = run.New();
    if (!first || !second || !run.Init(first, IndexCall()) || !run.Init(second, IndexCall()))
        return;
    const Pass later = run.Take(second, "second object: ");
    const Pass earlier = run.Take(first, "first object: ");
    run.ExpectSame(later, run.Reference(), "second object: ");
    run.ExpectSame(earlier, run.Reference(), "first object: ");
}

void SecondInit(CheckRun& run)
{
    Held filter = run.New();
    if (!filter || !run.Init(filter, IndexCall()))
        return;
    run.ExpectSame(run.Take(filter, "first Init: "), run.Reference(), "first Init: ");
    if (run.Init(filter, IndexCall()))
        run.ExpectSame(run.Take(filter, "second Init: "), run.Reference(), "second Init: ");
}

// Init again with a chunk in hand and part of its text read: the object starts over.
void SecondInitMidway(CheckRun& run)
{
    Held filter = run.New();
    if (!filter || !run.Init(filter, IndexCall()))
        return;
    STAT_CHUNK stat{};
    if (filter->GetChunk(&stat) == S_OK && Number(stat.flags) == CHUNK_TEXT) {
        WCHAR buffer[2];
        ULONG count = 2;
        filter->GetText(&count, buffer);
    }
    if (run.Init(filter, IndexCall()))
        run.ExpectSame(run.Take(filter, "after Init midway: "), run.Reference(),
                       "after Init midway: ");
}

// -- invalid input --

void ValueOfText(CheckRun& run)
{
    Held filter = run.New();
    if (!filter || !run.Init(filter, IndexCall()))
        return;
    Hooks hooks;
    hooks.BeforeText = [&run](IFilter* f, std::size_t index, const TakenChunk&) {
        PROPVARIANT* value = nullptr;
        const HRESULT result = f->GetValue(&value);
        if (result != FILTER_E_NO_VALUES)
            run.Fail("GetValue on text chunk " + std::to_string(index + 1) + " answered " +
                     ResultText(result) + ", not FILTER_E_NO_VALUES");
    };
    run.ExpectSame(run.Take(filter, "", {}, hooks), run.Reference(), "after GetValue: ");
}

// FILTER_E_NO_MORE_TEXT and FILTER_E_END_OF_CHUNKS, once answered, are answered again.
void EndsStay(CheckRun& run)
{
    Held filter = run.New();
    if (!filter || !run.Init(filter, IndexCall()))
        return;
    auto textEnded = [&run](IFilter* f, const std::string& where) {
        for (int call = 0; call < 2; ++call) {
            WCHAR buffer[16];
            ULONG count = 16;
            const HRESULT result = f->GetText(&count, buffer);
            if (result != FILTER_E_NO_MORE_TEXT || count != 0) {
                run.Fail("GetText " + where + " answered " + ResultText(result) +
                         " with a count of " + std::to_string(count) +
                         ", not FILTER_E_NO_MORE_TEXT with 0");
                return;
            }
        }
    };
    Hooks hooks;
    hooks.AfterText = [&](IFilter* f, std::size_t index, const TakenChunk&) {
        textEnded(f, "again after the end of chunk " + std::to_string(index + 1) + "'s text");
    };
    const Pass pass = run.Take(filter, "", {}, hooks);
    run.ExpectSame(pass, run.Reference(), "");
    if (pass.End != FILTER_E_END_OF_CHUNKS)
        return;
    for (int call = 0; call < 3; ++call) {
        STAT_CHUNK stat{};
        const HRESULT result = filter->GetChunk(&stat);
        if (result != FILTER_E_END_OF_CHUNKS) {
            run.Fail("GetChunk after FILTER_E_END_OF_CHUNKS answered " + ResultText(result));
            return;
        }
    }
    textEnded(filter.get(), "after FILTER_E_END_OF_CHUNKS");
}

// Null out-pointers only where the interface lets the filter answer without writing through
// them: GetValue on a text chunk (no value to hand out) and BindRegion (reserved). GetChunk,
// GetText and Init's pFlags are written on success, so they are always given memory.
void NullOutPointers(CheckRun& run)
{
    Held filter = run.New();
    if (!filter || !run.Init(filter, IndexCall()))
        return;
    Hooks hooks;
    hooks.BeforeText = [&run](IFilter* f, std::size_t index, const TakenChunk& chunk) {
        const std::string where = " on text chunk " + std::to_string(index + 1);
        const HRESULT value = f->GetValue(nullptr);
        if (value != FILTER_E_NO_VALUES && value != E_POINTER && value != E_INVALIDARG)
            run.Fail("GetValue(null)" + where + " answered " + ResultText(value) +
                     ", not FILTER_E_NO_VALUES, E_POINTER or E_INVALIDARG");
        const FILTERREGION region{chunk.Stat.idChunk, 0, 1};
        const HRESULT bound = f->BindRegion(region, IID_IUnknown, nullptr);
        if (bound != E_NOTIMPL && bound != E_POINTER && bound != E_INVALIDARG)
            run.Fail("BindRegion(null)" + where + " answered " + ResultText(bound) +
                     ", not E_NOTIMPL, E_POINTER or E_INVALIDARG");
    };
    run.ExpectSame(run.Take(filter, "", {}, hooks), run.Reference(), "after null out-pointers: ");
}

// -- configurations --

enum class Gives { Contents, Nothing };

struct Configuration {
    const char* Name;
    InitCall Call;
    Gives Expected;
};

// The filter's one property is the storage set's contents. It standardises no text by flag:
// its text is standard already (non-breaking spaces and optional hyphens come out plain), so
// every configuration that selects the contents gives the first pass's chunks, text and all.
// Without attributes the contents are selected by no flags at all or by
// IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, as the platform's sample filters do; flags that only
// standardise text select nothing. Attributes, when given, decide alone.
const std::vector<Configuration>& Configurations()
{
    static const WCHAR ContentsName[] = {'c', 'o', 'n', 't', 'e', 'n', 't', 's', 0};
    static const std::vector<Configuration> table = {
        {"config-no-flags", {"no flags", 0, {}}, Gives::Contents},
        {"config-text-flags-canon-paragraphs",
         {"IFILTER_INIT_CANON_PARAGRAPHS", IFILTER_INIT_CANON_PARAGRAPHS, {}}, Gives::Nothing},
        {"config-text-flags-hard-line-breaks",
         {"IFILTER_INIT_HARD_LINE_BREAKS", IFILTER_INIT_HARD_LINE_BREAKS, {}}, Gives::Nothing},
        {"config-text-flags-canon-hyphens",
         {"IFILTER_INIT_CANON_HYPHENS", IFILTER_INIT_CANON_HYPHENS, {}}, Gives::Nothing},
        {"config-text-flags-canon-spaces",
         {"IFILTER_INIT_CANON_SPACES", IFILTER_INIT_CANON_SPACES, {}}, Gives::Nothing},
        {"config-text-flags-all", {"every text flag", TextFlags, {}}, Gives::Nothing},
        {"config-index-attributes-text-flags",
         {"IFILTER_INIT_APPLY_INDEX_ATTRIBUTES and every text flag",
          IFILTER_INIT_APPLY_INDEX_ATTRIBUTES | TextFlags, {}},
         Gives::Contents},
        {"config-contents-attribute",
         {"PSGUID_STORAGE/PID_STG_CONTENTS", 0, {Numbered(StorageSet, PID_STG_CONTENTS)}},
         Gives::Contents},
        {"config-other-property-set",
         {"IFILTER_INIT_APPLY_INDEX_ATTRIBUTES with the summary set's title",
          IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, {Numbered(SummarySet, SummaryTitle)}},
         Gives::Nothing},
        // A property named by a string is not the one numbered PID_STG_CONTENTS.
        {"config-attribute-by-name",
         {"PSGUID_STORAGE/\"contents\"", 0, {Named(StorageSet, ContentsName)}}, Gives::Nothing},
    };
    return table;
}

void RunConfiguration(CheckRun& run, const Configuration& configuration)
{
    Held filter = run.New();
    if (!filter || !run.Init(filter, configuration.Call))
        return;
    const Pass pass = run.Take(filter, "");
    if (configuration.Expected == Gives::Contents) {
        run.ExpectSame(pass, run.Reference(), "");
        return;
    }
    run.ExpectSame(pass, Pass(), "");
    WCHAR buffer[16];
    ULONG count = 16;
    const HRESULT result = filter->GetText(&count, buffer);
    if (result != FILTER_E_NO_MORE_TEXT)
        run.Fail("GetText without a chunk answered " + ResultText(result));
}

// What Init may answer, besides S_OK.
bool InitMayFailWith(HRESULT result)
{
    const HRESULT answers[] = {E_FAIL, E_INVALIDARG, E_OUTOFMEMORY, FILTER_E_ACCESS,
                               FILTER_E_PASSWORD, FILTER_E_UNKNOWNFORMAT};
    return std::find(std::begin(answers), std::end(answers), result) != std::end(answers);
}

// One attribute counted and no array: Init refuses it with one of its answers (the filter reads
// nothing through the null), and the object still serves the next Init.
void NullAttributes(CheckRun& run)
{
    Held filter = run.New();
    if (!filter)
        return;
    ULONG flags = 0;
    const HRESULT result = filter->Init(0, 1, nullptr, &flags);
    if (result == S_OK || !InitMayFailWith(result))
        run.Fail("Init with 1 attribute and a null array answered " + ResultText(result) +
                 (result == S_OK ? ", not a refusal such as E_INVALIDARG"
                                 : ", which is not an answer of Init"));
    if (run.Init(filter, IndexCall()))
        run.ExpectSame(run.Take(filter, "Init after that: "), run.Reference(), "Init after that: ");
}

// -- buffer sizes --

void RunBuffer(CheckRun& run, ULONG units)
{
    Held filter = run.New();
    if (filter && run.Init(filter, IndexCall()))
        run.ExpectSame(run.Take(filter, "", TakeOptions{units, false}), run.Reference(), "");
}

// ---- The table ----

struct CheckEntry {
    std::string Name;
    std::function<void(CheckRun&)> Run;
};

std::vector<CheckEntry> MakeTable()
{
    std::vector<CheckEntry> table = {
        {"validation", Validation},
        {"fresh-objects", FreshObjects},
        {"second-init", SecondInit},
        {"second-init-midway", SecondInitMidway},
        {"value-of-text-chunk", ValueOfText},
        {"ends-stay", EndsStay},
        {"null-out-pointers", NullOutPointers},
    };
    for (const Configuration& configuration : Configurations())
        table.push_back({configuration.Name,
                         [&configuration](CheckRun& run) { RunConfiguration(run, configuration); }});
    table.push_back({"config-null-attributes", NullAttributes});
    const std::pair<const char*, ULONG> buffers[] = {
        {"buffer-1", 1}, {"buffer-2", 2}, {"buffer-3", 3}, {"buffer-4096", 4096}};
    for (const auto& [name, units] : buffers)
        table.push_back({name, [units = units](CheckRun& run) { RunBuffer(run, units); }});
    table.push_back({"buffer-large", [](CheckRun& run) { RunBuffer(run, run.LargeBuffer()); }});
    return table;
}

const std::vector<CheckEntry>& Table()
{
    static const std::vector<CheckEntry> table = MakeTable();
    return table;
}

// Every selected check `loops` times with objects from `open`; outcomes in `selected` order.
std::vector<CheckOutcome> RunChecks(const std::vector<const CheckEntry*>& selected, LPCWSTR path,
                                    const OpenFilter& open, const FirstPass& first,
                                    const CheckSettings& settings)
{
    std::vector<CheckOutcome> outcomes(selected.size());
    for (unsigned loop = 0; loop < settings.Loops; ++loop) {
        for (std::size_t index = 0; index < selected.size(); ++index) {
            CheckOutcome& outcome = outcomes[index];
            outcome.Name = selected[index]->Name;
            CheckRun run(path, open, first, settings);
            try {
                selected[index]->Run(run);
            } catch (const std::bad_alloc&) {
                run.Fail("out of memory");
            } catch (const std::exception& error) {
                run.Fail(std::string("stopped: ") + error.what());
            }
            ++outcome.Runs;
            if (run.Failed() && outcome.Failures++ == 0)
                outcome.Detail = run.Detail();
        }
    }
    return outcomes;
}

std::vector<CheckOutcome> FirstPassFailure(const std::string& detail)
{
    return {CheckOutcome{"validation", 1, 1, detail}};
}

}  // namespace

Pass TakeChunks(IFilter* filter, const TakeOptions& options)
{
    return TakeWith(filter, options, Hooks());
}

std::string Difference(const Pass& taken, const Pass& expected)
{
    const std::size_t common = std::min(taken.Chunks.size(), expected.Chunks.size());
    for (std::size_t index = 0; index < common; ++index) {
        const std::string difference = ChunkDifference(taken.Chunks[index], expected.Chunks[index]);
        if (!difference.empty())
            return "chunk " + std::to_string(index + 1) + ": " + difference;
    }
    if (taken.Chunks.size() != expected.Chunks.size())
        return "gave " + Count(taken.Chunks.size(), "chunk", "chunks") + ", expected " +
               std::to_string(expected.Chunks.size());
    if (taken.End != expected.End)
        return "GetChunk ended with " + ResultText(taken.End) + ", expected " +
               ResultText(expected.End);
    return std::string();
}

std::string ResultText(HRESULT result)
{
    struct Named {
        HRESULT Code;
        const char* Name;
    };
    static const Named names[] = {
        {S_OK, "S_OK"},
        {S_FALSE, "S_FALSE"},
        {E_NOTIMPL, "E_NOTIMPL"},
        {E_NOINTERFACE, "E_NOINTERFACE"},
        {E_POINTER, "E_POINTER"},
        {E_FAIL, "E_FAIL"},
        {E_UNEXPECTED, "E_UNEXPECTED"},
        {E_ACCESSDENIED, "E_ACCESSDENIED"},
        {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
        {E_INVALIDARG, "E_INVALIDARG"},
        {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION"},
        {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"},
        {FILTER_E_END_OF_CHUNKS, "FILTER_E_END_OF_CHUNKS"},
        {FILTER_E_NO_MORE_TEXT, "FILTER_E_NO_MORE_TEXT"},
        {FILTER_E_NO_MORE_VALUES, "FILTER_E_NO_MORE_VALUES"},
        {FILTER_E_ACCESS, "FILTER_E_ACCESS"},
        {FILTER_E_NO_TEXT, "FILTER_E_NO_TEXT"},
        {FILTER_E_NO_VALUES, "FILTER_E_NO_VALUES"},
        {FILTER_E_EMBEDDING_UNAVAILABLE, "FILTER_E_EMBEDDING_UNAVAILABLE"},
        {FILTER_E_LINK_UNAVAILABLE, "FILTER_E_LINK_UNAVAILABLE"},
        {FILTER_S_LAST_TEXT, "FILTER_S_LAST_TEXT"},
        {FILTER_S_LAST_VALUES, "FILTER_S_LAST_VALUES"},
        {FILTER_E_PASSWORD, "FILTER_E_PASSWORD"},
        {FILTER_E_UNKNOWNFORMAT, "FILTER_E_UNKNOWNFORMAT"},
    };
    const std::string code = Hex(static_cast<DWORD>(result));
    for (const Named& named : names)
        if (named.Code == result)
            return std::string(named.Name) + " (" + code + ")";
    return code;
}

std::vector<std::string> CheckNames()
{
    std::vector<std::string> names;
    for (const CheckEntry& entry : Table())
        names.push_back(entry.Name);
    return names;
}

std::vector<CheckOutcome> CheckDocument(LPCWSTR path, const OpenFilter& open,
                                        const StartThread& start, const CheckSettings& settings)
{
    // The first pass, as a host takes it: what every other pass must give again.
    IFilter* made = nullptr;
    HRESULT result = open(path, &made);
    Held filter(made);
    if (SUCCEEDED(result) && made == nullptr)
        result = E_UNEXPECTED;
    if (FAILED(result))
        return FirstPassFailure("cannot make a filter object for the document: " + ResultText(result));
    FirstPass first;
    result = filter->Init(IndexCall().Flags, 0, nullptr, &first.Flags);
    if (result != S_OK)
        return FirstPassFailure(std::string("Init(") + IndexCall().Shown + ") answered " +
                                ResultText(result));
    first.Taken = TakeChunks(filter.get(), TakeOptions());
    const Pass& taken = first.Taken;
    if (taken.End != FILTER_E_END_OF_CHUNKS)
        return FirstPassFailure(!taken.Problems.empty()
                                    ? taken.Problems.front()
                                    : "GetChunk answered " + ResultText(taken.End) + " after " +
                                          Count(taken.Chunks.size(), "chunk", "chunks"));

    std::vector<const CheckEntry*> selected;
    for (const CheckEntry& entry : Table())
        if (std::find(settings.Skipped.begin(), settings.Skipped.end(), entry.Name) ==
            settings.Skipped.end())
            selected.push_back(&entry);

    if (settings.Threads <= 1)
        return RunChecks(selected, path, open, first, settings);

    std::vector<std::vector<CheckOutcome>> perThread(settings.Threads);
    std::vector<std::thread> threads;
    std::exception_ptr failure;
    try {
        for (unsigned index = 0; index < settings.Threads; ++index)
            threads.emplace_back([&, index] {
                try {
                    const OpenFilter own = start();
                    perThread[index] = RunChecks(selected, path, own, first, settings);
                } catch (...) {
                    perThread[index].clear();
                }
            });
    } catch (const std::system_error&) {
        failure = std::current_exception();
    }
    for (std::thread& thread : threads)
        thread.join();
    if (failure)
        std::rethrow_exception(failure);

    std::vector<CheckOutcome> outcomes(selected.size());
    for (std::size_t check = 0; check < selected.size(); ++check) {
        CheckOutcome& outcome = outcomes[check];
        outcome.Name = selected[check]->Name;
        for (const std::vector<CheckOutcome>& thread : perThread) {
            if (thread.size() != selected.size()) {
                // The thread stopped before its checks ran: each of them counts as failed.
                outcome.Runs += settings.Loops;
                if (outcome.Failures == 0)
                    outcome.Detail = "a checking thread could not run";
                outcome.Failures += settings.Loops;
                continue;
            }
            const CheckOutcome& ran = thread[check];
            outcome.Runs += ran.Runs;
            if (ran.Failures > 0 && outcome.Failures == 0)
                outcome.Detail = ran.Detail;
            outcome.Failures += ran.Failures;
        }
    }
    return outcomes;
}
