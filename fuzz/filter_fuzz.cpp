// Fuzzes the filter object as an indexing host drives it, with the host's choices taken from the
// input (fuzz/filter_script.h): Init flags and attributes, buffer sizes, starting over, leaving a
// chunk early, GetValue and BindRegion in between, Load of a missing file. Each answer is held
// against what the interfaces allow and against the document's stories as the reader gives them:
// chunk ids from 1 after each Init, text in pieces of exactly the buffer size, nothing written
// past the count, the end staying the end. Any crash, leak, wrong answer, object left alive or
// document left open after the last Release is a finding.
#include "errors/file_helpers.h"
#include "filter/class_id.h"
#include "filter/module.h"
#include "fuzz/filter_script.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_file.h"
#include "platform/fault.h"
#include "reader/document_scan.h"
#include "tests/support/file_probe.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace filter_script;

namespace {

const GUID StorageSet = PSGUID_STORAGE;
const GUID SummarySet = {0xf29f85e0, 0x4ff9, 0x1068, {0xab, 0x91, 0x08, 0x00, 0x2b, 0x27, 0xb3, 0xd9}};
const GUID ZeroSet = {};

// Property sets that are not the storage set, some of them one bit away from it.
GUID OtherPropertySet(unsigned choice)
{
    GUID set = StorageSet;
    switch (choice % 4) {
    case 0: return SummarySet;
    case 1: set.Data4[7] ^= 1; return set;
    case 2: return ZeroSet;
    default: set.Data1 ^= 0x80000000u; return set;
    }
}

WCHAR NameStorage[5][301];
LPOLESTR PropertyName(unsigned choice)
{
    static const char* const Names[] = {"contents", "CONTENTS", "", "DocTitle", nullptr};
    WCHAR* name = NameStorage[choice % 5];
    const char* text = Names[choice % 5];
    if (text == nullptr) {
        std::fill(name, name + 300, WCHAR('c'));
        name[300] = 0;
    } else {
        size_t length = std::strlen(text);
        std::copy(text, text + length, name);
        name[length] = 0;
    }
    return name;
}

// What a chunk request gives at one point of the document: S_OK with a story's text,
// E_OUTOFMEMORY for a story passed over, or the end (FILTER_E_END_OF_CHUNKS, or
// FILTER_E_ACCESS when the scan cannot read on), which stays the end.
struct Outcome {
    SCODE Answer;
    WideString Text;
};

// The document's chunk answers as the reader gives them, read on its own handle.
std::vector<Outcome> ReferenceChunks(LPCWSTR path, size_t size)
{
    std::vector<Outcome> outcomes;
    HANDLE handle = INVALID_HANDLE_VALUE;
    FUZZ_CHECK(!OpenDocument(&handle, path));
    for (size_t calls = 0;; ++calls) {
        FUZZ_CHECK(calls <= size / 36 + 2);
        bool atEnd = false;
        WCHAR* text = nullptr;
        DWORD length = 0;
        const bool failed = ReadNextStoryText(handle, &atEnd, &text, &length);
        if (atEnd) {
            outcomes.push_back({failed ? FILTER_E_ACCESS : FILTER_E_END_OF_CHUNKS, {}});
            break;
        }
        if (failed)
            outcomes.push_back({E_OUTOFMEMORY, {}});
        else
            outcomes.push_back({S_OK, WideString(text, length)});
        FreeAndClear(&text);
    }
    CloseDocument(handle);
    return outcomes;
}

class Script {
public:
    Script(const BYTE* bytes, size_t size) : Bytes(bytes), Size(size) {}
    bool Done() const { return Position >= Size; }
    BYTE Next() { return Position < Size ? Bytes[Position++] : 0; }

private:
    const BYTE* Bytes;
    size_t Size;
    size_t Position = 0;
};

struct InitChoice {
    ULONG Flags = 0;
    AttributeMode Mode = NoAttributes;
    std::vector<FULLPROPSPEC> Attributes;
    ULONG NullCount = 0;
};

FULLPROPSPEC Attribute(const GUID& set, PROPID id)
{
    FULLPROPSPEC attribute{};
    attribute.guidPropSet = set;
    attribute.psProperty.ulKind = PRSPEC_PROPID;
    attribute.psProperty.propid = id;
    return attribute;
}

FULLPROPSPEC NamedAttribute(const GUID& set, LPOLESTR name)
{
    FULLPROPSPEC attribute{};
    attribute.guidPropSet = set;
    attribute.psProperty.ulKind = PRSPEC_LPWSTR;
    attribute.psProperty.lpwstr = name;
    return attribute;
}

FULLPROPSPEC AttributeOfKind(BYTE choice)
{
    const unsigned detail = choice >> 2;
    switch (choice % AttributeKindCount) {
    case KindContents: return Attribute(StorageSet, PID_STG_CONTENTS);
    case KindStorageOther: {
        PROPID id = 2 + detail;
        return Attribute(StorageSet, id == PID_STG_CONTENTS ? id + 1 : id);
    }
    case KindOtherContents: return Attribute(OtherPropertySet(detail), PID_STG_CONTENTS);
    default: return NamedAttribute(StorageSet, PropertyName(detail));
    }
}

InitChoice ReadInitChoice(Script& script)
{
    InitChoice init;
    const unsigned low = script.Next(), high = script.Next();
    init.Flags = (low | high << 8) & 0x3FFu;
    if (high & 0x80)
        init.Flags |= 0x10000u;  // a flag no version defines
    init.Mode = static_cast<AttributeMode>(script.Next() % AttributeModeCount);
    switch (init.Mode) {
    case Contents: init.Attributes.push_back(Attribute(StorageSet, PID_STG_CONTENTS)); break;
    case OtherSet: {
        const BYTE choice = script.Next();
        init.Attributes.push_back(Attribute(OtherPropertySet(choice >> 6), choice & 0x3Fu));
        break;
    }
    case ByName:
        init.Attributes.push_back(NamedAttribute(StorageSet, PropertyName(script.Next())));
        break;
    case NullArray: init.NullCount = 1u + script.Next(); break;
    case Several: {
        const unsigned count = 2 + script.Next() % 7;
        for (unsigned index = 0; index < count; ++index)
            init.Attributes.push_back(AttributeOfKind(script.Next()));
        break;
    }
    case CountZeroArray:
        init.Attributes.push_back(Attribute(StorageSet, PID_STG_CONTENTS));
        break;
    default: break;
    }
    return init;
}

// Whether an Init that succeeds asks for the contents, the one property the filter emits: named
// among the attributes, or, with none, the default of no flags or the index attributes' flag.
bool AsksForContents(const InitChoice& init)
{
    if (init.Mode == NoAttributes || init.Mode == CountZeroArray)
        return init.Flags == 0 || (init.Flags & IFILTER_INIT_APPLY_INDEX_ATTRIBUTES) != 0;
    for (const FULLPROPSPEC& attribute : init.Attributes)
        if (IsEqualGUID(attribute.guidPropSet, StorageSet) &&
            attribute.psProperty.ulKind == PRSPEC_PROPID &&
            attribute.psProperty.propid == PID_STG_CONTENTS)
            return true;
    return false;
}

// The host and what it expects of the filter.
class Host {
public:
    Host(IFilter* filter, IPersistFile* file, const std::vector<Outcome>& reference,
         const WideString& document, const WideString& missing)
        : Filter(filter), File(file), Reference(reference), Document(document), Missing(missing)
    {
    }

    void Load(bool missing)
    {
        FUZZ_CHECK(File->Load((missing ? Missing : Document).c_str(), STGM_READ) == S_OK);
        Loaded = missing ? LoadedMissing : LoadedDocument;
    }

    void Init(const InitChoice& init)
    {
        const ULONG count = init.Mode == NullArray ? init.NullCount
                            : init.Mode == CountZeroArray
                                ? 0
                                : static_cast<ULONG>(init.Attributes.size());
        const FULLPROPSPEC* array =
            init.Mode == NullArray || init.Attributes.empty() ? nullptr : init.Attributes.data();
        const ULONG untouched = 0xA5A5A5A5u;
        ULONG flags = untouched;
        const SCODE result = Filter->Init(init.Flags, count, array, &flags);
        if (init.Mode == NullArray) {
            // Refused, and the document and chunk in hand stay as they were.
            FUZZ_CHECK(result == E_INVALIDARG && flags == untouched);
            return;
        }
        Wanted = AsksForContents(init);
        switch (Loaded) {
        case LoadedNothing: FUZZ_CHECK(result == E_FAIL); return;
        case LoadedMissing:
            FUZZ_CHECK(result == FILTER_E_ACCESS);
            Opened = false;
            InHand = false;
            FUZZ_CHECK(!HeldOpen(Document.c_str()));  // the document before is closed
            return;
        case LoadedDocument:
            FUZZ_CHECK(result == S_OK);
            FUZZ_CHECK((flags & ~static_cast<ULONG>(IFILTER_FLAGS_OLE_PROPERTIES)) == 0);
            Opened = true;
            InHand = false;
            Cursor = 0;
            NextId = 1;
            return;
        }
    }

    // GetChunk; returns its answer.
    SCODE Chunk()
    {
        STAT_CHUNK stat;
        std::memset(&stat, 0xA7, sizeof stat);
        STAT_CHUNK before;
        std::memcpy(&before, &stat, sizeof stat);
        const SCODE result = Filter->GetChunk(&stat);
        SCODE expected = FILTER_E_ACCESS;
        if (Opened && !Wanted) {
            expected = FILTER_E_END_OF_CHUNKS;
        } else if (Opened) {
            const Outcome& outcome = Reference[std::min(Cursor, Reference.size() - 1)];
            expected = outcome.Answer;
            InHand = false;
            if (expected == S_OK || expected == E_OUTOFMEMORY)
                ++Cursor;
            if (expected == FILTER_E_ACCESS)
                Opened = false;
            if (expected == S_OK) {
                InHand = !outcome.Text.empty();
                Text = outcome.Text;
                Read = 0;
            }
        }
        FUZZ_CHECK(result == expected);
        if (result != S_OK) {
            FUZZ_CHECK(std::memcmp(&stat, &before, sizeof stat) == 0);
            return result;
        }
        FUZZ_CHECK(stat.idChunk == NextId);
        ++NextId;
        FUZZ_CHECK(stat.idChunkSource == stat.idChunk);
        FUZZ_CHECK(stat.cwcStartSource == 0 && stat.cwcLenSource == 0);
        FUZZ_CHECK(stat.flags == CHUNK_TEXT);
        FUZZ_CHECK(stat.breakType >= CHUNK_NO_BREAK && stat.breakType <= CHUNK_EOC);
        FUZZ_CHECK(stat.locale == GetSystemDefaultLCID());
        FUZZ_CHECK(IsEqualGUID(stat.attribute.guidPropSet, StorageSet));
        FUZZ_CHECK(stat.attribute.psProperty.ulKind == PRSPEC_PROPID);
        FUZZ_CHECK(stat.attribute.psProperty.propid == PID_STG_CONTENTS);
        return result;
    }

    // GetText with a buffer of `size` units; returns its answer.
    SCODE GetText(ULONG size)
    {
        const WCHAR fill = 0xFDFD;
        // Exactly `size` units on the heap (one for a zero size), so that a write past the
        // buffer is an overflow.
        std::vector<WCHAR> buffer(std::max<ULONG>(size, 1), fill);
        ULONG count = size;
        const SCODE result = Filter->GetText(&count, buffer.data());
        FUZZ_CHECK(count <= size);
        for (size_t index = count; index < buffer.size(); ++index)
            FUZZ_CHECK(buffer[index] == fill);
        if (!InHand) {
            FUZZ_CHECK(result == FILTER_E_NO_MORE_TEXT && count == 0);
            return result;
        }
        if (size == 0) {
            FUZZ_CHECK(result == S_OK && count == 0);
            return result;
        }
        FUZZ_CHECK(result == S_OK || result == FILTER_S_LAST_TEXT);
        const size_t remaining = Text.size() - Read;
        FUZZ_CHECK(count == std::min<size_t>(size, remaining));
        FUZZ_CHECK(std::equal(buffer.begin(), buffer.begin() + count, Text.begin() + Read));
        Read += count;
        if (result == FILTER_S_LAST_TEXT)
            FUZZ_CHECK(Read == Text.size());
        // After the last piece, given with either answer, there is no more text.
        if (Read == Text.size())
            InHand = false;
        return result;
    }

    // The rest of the chunk's text.
    void Drain(ULONG size)
    {
        const size_t limit = (Text.size() - Read) / size + 2;
        for (size_t calls = 0; GetText(size) == S_OK; ++calls)
            FUZZ_CHECK(calls < limit);
    }

    // Chunk after chunk to the end, each drained.
    void TakeAll(ULONG size)
    {
        for (size_t chunks = 0;; ++chunks) {
            FUZZ_CHECK(chunks <= Reference.size() + 1);
            const SCODE result = Chunk();
            if (result == S_OK)
                Drain(size);
            else if (result != E_OUTOFMEMORY)
                return;
        }
    }

    void GetValue()
    {
        PROPVARIANT* const untouched = reinterpret_cast<PROPVARIANT*>(0x1234);
        PROPVARIANT* value = untouched;
        const SCODE result = Filter->GetValue(&value);
        FUZZ_CHECK(result == FILTER_E_NO_VALUES || result == FILTER_E_NO_MORE_VALUES);
        FUZZ_CHECK(value == untouched || value == nullptr);
    }

    void BindRegion(BYTE choice)
    {
        void* const untouched = reinterpret_cast<void*>(0x1234);
        void* region = untouched;
        const FILTERREGION where{NextId - (choice & 1u), static_cast<ULONG>(choice >> 1), choice};
        FUZZ_CHECK(Filter->BindRegion(where, IID_IUnknown, &region) == E_NOTIMPL);
        FUZZ_CHECK(region == untouched || region == nullptr);
    }

    // The end of a run: what is left is taken, and the end stays the end.
    void Finish(ULONG size)
    {
        TakeAll(size);
        const SCODE end = Chunk();
        FUZZ_CHECK(end == FILTER_E_END_OF_CHUNKS || end == FILTER_E_ACCESS);
        FUZZ_CHECK(Chunk() == end);
        FUZZ_CHECK(GetText(size) == FILTER_E_NO_MORE_TEXT);
    }

private:
    enum LoadState { LoadedNothing, LoadedDocument, LoadedMissing };

    IFilter* Filter;
    IPersistFile* File;
    const std::vector<Outcome>& Reference;
    const WideString& Document;
    const WideString& Missing;

    LoadState Loaded = LoadedNothing;
    bool Opened = false;
    bool Wanted = false;
    size_t Cursor = 0;  // into Reference
    ULONG NextId = 1;
    bool InHand = false;  // text of the current chunk left to hand out
    WideString Text;
    size_t Read = 0;
};

ULONG LargeBuffer(Script& script)
{
    const unsigned low = script.Next(), high = script.Next();
    return 1 + (low | high << 8) % MaxBuffer;
}

ULONG StepBuffer(Script& script)
{
    return 1 + script.Next() * 20u;
}

void RunScript(Host& host, Script& script, BYTE setup)
{
    if (setup & InitBeforeLoad) {
        host.Init(ReadInitChoice(script));
        host.Chunk();
        host.GetText(16);
    }
    host.Load((setup & LoadMissingFirst) != 0);
    host.Init(ReadInitChoice(script));
    ULONG buffer = 4096;
    while (!script.Done()) {
        const BYTE op = script.Next();
        const unsigned parameter = op >> 4;
        switch ((op & 0x0F) % OpCount) {
        case TextLarge: host.GetText(buffer = LargeBuffer(script)); break;
        case TextSmall: host.GetText(buffer = 1 + parameter); break;
        case Drain: host.Drain(buffer = StepBuffer(script)); break;
        case Chunk: host.Chunk(); break;
        case Value: host.GetValue(); break;
        case Region: host.BindRegion(script.Next()); break;
        case Reinit: host.Init(ReadInitChoice(script)); break;
        case Load: host.Load((parameter & 1) != 0); break;
        case TextZero: host.GetText(0); break;
        case TakeAll: host.TakeAll(buffer = StepBuffer(script)); break;
        }
    }
    host.Finish(buffer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const BYTE* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t scriptSize = std::min<size_t>(data[0], size - 1);
    Script script(data + 1, scriptSize);
    const BYTE* document = data + 1 + scriptSize;
    const size_t documentSize = size - 1 - scriptSize;

    ResetFaults();
    const WideString path = WriteScratchFile(document, documentSize);
    const WideString missing = path + U16(".absent");
    const std::vector<Outcome> reference = ReferenceChunks(path.c_str(), documentSize);
    FUZZ_CHECK(ModuleObjectCount == 0);

    const BYTE setup = script.Next();
    IClassFactory* factory = nullptr;
    FUZZ_CHECK(DllGetClassObject(FilterClassId, IID_IClassFactory,
                                 reinterpret_cast<void**>(&factory)) == S_OK);
    const bool locked = (setup & HoldServerLock) != 0;
    if (locked)
        FUZZ_CHECK(factory->LockServer(TRUE) == S_OK);
    IFilter* filter = nullptr;
    IPersistFile* file = nullptr;
    if (setup & CreateAsPersistFile) {
        FUZZ_CHECK(factory->CreateInstance(nullptr, IID_IPersistFile,
                                           reinterpret_cast<void**>(&file)) == S_OK);
        FUZZ_CHECK(file->QueryInterface(IID_IFilter, reinterpret_cast<void**>(&filter)) == S_OK);
    } else {
        FUZZ_CHECK(factory->CreateInstance(nullptr, IID_IFilter,
                                           reinterpret_cast<void**>(&filter)) == S_OK);
        FUZZ_CHECK(filter->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)) == S_OK);
    }
    FUZZ_CHECK(factory->Release() == 0);
    IUnknown* unknown = nullptr;
    if (setup & ExtraReference)
        FUZZ_CHECK(filter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)) == S_OK);

    Host host(filter, file, reference, path, missing);
    RunScript(host, script, setup);

    FUZZ_CHECK(file->Release() > 0);
    if (unknown != nullptr)
        FUZZ_CHECK(unknown->Release() > 0);
    FUZZ_CHECK(filter->Release() == 0);
    FUZZ_CHECK(!HeldOpen(path.c_str()));
    FUZZ_CHECK(OpenFileHandles() == 0);
    FUZZ_CHECK(ModuleObjectCount == (locked ? 1 : 0));
    FUZZ_CHECK(DllCanUnloadNow() == (locked ? S_FALSE : S_OK));
    if (locked) {
        FUZZ_CHECK(DllGetClassObject(FilterClassId, IID_IClassFactory,
                                     reinterpret_cast<void**>(&factory)) == S_OK);
        FUZZ_CHECK(factory->LockServer(FALSE) == S_OK);
        FUZZ_CHECK(factory->Release() == 0);
    }
    FUZZ_CHECK(ModuleObjectCount == 0);
    FUZZ_CHECK(DllCanUnloadNow() == S_OK);
    // Buffers follow the document's real size (the names the object keeps are not counted).
    FUZZ_CHECK(LargestAllocation() <= 8 * documentSize + 1);
    return 0;
}
