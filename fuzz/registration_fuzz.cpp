// Fuzzes self-registration on the registry stand-in: the input builds the registry's contents
// (fuzz/registry_input.h) — odd value types, names and values at and past every length limit,
// unterminated strings, ProgIDs and class ids naming anything, keys nested deep, our own keys
// filled with junk — chooses the reported version and at most one injected registry fault, then
// runs DllRegisterServer and DllUnregisterServer in the order it chooses.
//
// Each call is held against what it may do: registration answers S_OK or SELFREG_E_CLASS,
// removes nothing, rewrites only our own entries (and in open-only mode creates no document
// class or ProgID), and S_OK means the host's chain from .zcv to the module is there;
// unregistration answers S_OK or S_FALSE, adds and changes nothing, removes only the kinds of
// keys and values it owns, and S_OK means none of our handler's keys is left. Registering twice
// changes nothing; registering then unregistering on a registry with none of our names leaves it
// as it was, with an empty .zcv key (and CLSID) added; unregistering again changes nothing.
// Calls into which the injected failure fired are held only to what the module may do. Any
// crash, leak, registry handle left open or wrong answer is a finding.
#include "fuzz/fuzz_check.h"
#include "fuzz/registry_input.h"
#include "platform/fault.h"
#include "registration/registration.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

using namespace registry_input;

namespace {

enum Step { StepRegister, StepUnregister };

#define CVX_HANDLER "{2B5F8E10-7C34-4A9D-B1E6-93D0F4A7C258}"
#define CVX_FILTER "{6E1C2D47-A93B-4F20-9D84-5B7A0C3E61F9}"
#define CVX_DOCUMENT_CLASS "{A8D3C61E-5F02-4B7C-8E39-1C6B2F9D04E7}"
#define CVX_IFILTER "{89BCB740-6119-101A-BCB7-00DD010655AF}"
#define CVX_PROGID "CorvanPro.Document"

// ---- registry contents as data ----

struct ValueState {
    DWORD Type;
    std::vector<BYTE> Data;
    bool operator==(const ValueState& other) const
    {
        return Type == other.Type && Data == other.Data;
    }
};

// A key and everything below it, names as spelled; the value named "" is the default value.
struct Node {
    std::map<WideString, ValueState> Values;
    std::map<WideString, Node> Subkeys;
    bool operator==(const Node& other) const
    {
        return Values == other.Values && Subkeys == other.Subkeys;
    }
};

// A key's path from the root, one name per level.
using Names = std::vector<const WideString*>;

WideString Widen(const char* text)
{
    WideString wide;
    for (; *text != 0; ++text)
        wide.push_back(static_cast<BYTE>(*text));
    return wide;
}

WCHAR Upper(WCHAR unit)
{
    return unit >= 'a' && unit <= 'z' ? static_cast<WCHAR>(unit - 'a' + 'A') : unit;
}

// Equal but for the case of A-Z, as the module compares names. The registry folds more than
// that, but no character outside ASCII folds to one inside, so for our ASCII names it agrees.
bool Same(const WideString& a, const char* b)
{
    std::size_t index = 0;
    for (; index < a.size(); ++index)
        if (b[index] == 0 || Upper(a[index]) != Upper(static_cast<BYTE>(b[index])))
            return false;
    return b[index] == 0;
}

// Whether `part` (ASCII) appears in the `length` units of `text`, but for case.
bool Contains(const WCHAR* text, std::size_t length, const char* part)
{
    const std::size_t partLength = std::strlen(part);
    for (std::size_t at = 0; at + partLength <= length; ++at) {
        std::size_t index = 0;
        while (index < partLength && Upper(text[at + index]) == Upper(static_cast<BYTE>(part[index])))
            ++index;
        if (index == partLength)
            return true;
    }
    return false;
}

// The subkey of that name but for case (the registry holds at most one), or null.
const Node* SubkeyNamed(const Node* key, const char* name)
{
    if (key == nullptr)
        return nullptr;
    for (const auto& [spelled, subkey] : key->Subkeys)
        if (Same(spelled, name))
            return &subkey;
    return nullptr;
}

const Node* Find(const Node& root, std::initializer_list<const char*> path)
{
    const Node* key = &root;
    for (const char* name : path)
        key = SubkeyNamed(key, name);
    return key;
}

const ValueState* FindValue(const Node* key, const char* name)
{
    if (key == nullptr)
        return nullptr;
    for (const auto& [spelled, value] : key->Values)
        if (Same(spelled, name))
            return &value;
    return nullptr;
}

// A value's data as the module reads a default value: at most 260 code units, the text ending
// at the first zero; false where the module finds it unreadable (longer, or no zero in it).
bool ReadAsText(const ValueState& value, WideString* text)
{
    const std::size_t units = 260;
    if (value.Data.size() > units * sizeof(WCHAR))
        return false;
    WCHAR buffer[units] = {};
    if (!value.Data.empty())
        std::memcpy(buffer, value.Data.data(), value.Data.size());
    const WCHAR* end = std::find(buffer, buffer + units, WCHAR(0));
    if (end == buffer + units)
        return false;
    text->assign(buffer, static_cast<std::size_t>(end - buffer));
    return true;
}

// The key's default value as text; false when the key or value is missing or unreadable.
bool DefaultText(const Node* key, WideString* text)
{
    const ValueState* value = FindValue(key, "");
    return value != nullptr && ReadAsText(*value, text);
}

// Calls visit(names, before, after, beforeParent) for every key in either tree, parents first;
// before or after is null where the key is only in the other.
template <typename Visit>
void Compare(const Node* before, const Node* after, const Node* beforeParent, Names& names,
             Visit& visit)
{
    visit(names, before, after, beforeParent);
    const std::map<WideString, Node> none;
    const auto& old = before != nullptr ? before->Subkeys : none;
    const auto& now = after != nullptr ? after->Subkeys : none;
    auto at = old.begin();
    auto to = now.begin();
    while (at != old.end() || to != now.end()) {
        const bool takeOld = to == now.end() || (at != old.end() && at->first <= to->first);
        const bool takeNew = at == old.end() || (to != now.end() && to->first <= at->first);
        names.push_back(takeOld ? &at->first : &to->first);
        Compare(takeOld ? &at->second : nullptr, takeNew ? &to->second : nullptr, before, names,
                visit);
        names.pop_back();
        if (takeOld)
            ++at;
        if (takeNew)
            ++to;
    }
}

template <typename Visit>
void Compare(const Node& before, const Node& after, Visit visit)
{
    Names names;
    Compare(&before, &after, nullptr, names, visit);
}

// ---- the stand-in through its calls ----

constexpr DWORD NameRoom = 16384 + 1;  // the longest value name, and its zero

void ReadValues(HKEY key, Node* state)
{
    static std::vector<WCHAR> name(NameRoom);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = NameRoom, type = 0, size = 0;
        LONG status = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, nullptr,
                                    &size);
        if (status == ERROR_NO_MORE_ITEMS)
            return;
        FUZZ_CHECK(status == ERROR_SUCCESS);
        std::vector<BYTE> data(size + 2);
        nameLength = NameRoom;
        DWORD room = size;
        status = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(),
                               &room);
        FUZZ_CHECK(status == ERROR_SUCCESS && room == size);
        data.resize(size);
        state->Values[WideString(name.data(), nameLength)] = ValueState{type, data};
    }
}

Node TakeSnapshot()
{
    Node root;
    struct Open {
        HKEY Key;
        Node* State;
    };
    std::vector<Open> pending{{HKEY_CLASSES_ROOT, &root}};
    WCHAR name[300];
    while (!pending.empty()) {
        const Open open = pending.back();
        pending.pop_back();
        ReadValues(open.Key, open.State);
        for (DWORD index = 0;; ++index) {
            DWORD length = sizeof name / sizeof name[0];
            const LONG status = RegEnumKeyExW(open.Key, index, name, &length, nullptr, nullptr,
                                              nullptr, nullptr);
            if (status == ERROR_NO_MORE_ITEMS)
                break;
            FUZZ_CHECK(status == ERROR_SUCCESS);
            HKEY child = nullptr;
            FUZZ_CHECK(RegOpenKeyExW(open.Key, name, 0, KEY_READ, &child) == ERROR_SUCCESS);
            pending.push_back({child, &open.State->Subkeys[WideString(name, length)]});
        }
        if (open.Key != HKEY_CLASSES_ROOT)
            FUZZ_CHECK(RegCloseKey(open.Key) == ERROR_SUCCESS);
    }
    return root;
}

// Empties the registry: the root's values, then every key, deepest first.
void ClearRegistry()
{
    static std::vector<WCHAR> name(NameRoom);
    for (;;) {
        DWORD length = NameRoom;
        const LONG status =
            RegEnumValueW(HKEY_CLASSES_ROOT, 0, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        FUZZ_CHECK(status == ERROR_SUCCESS);
        FUZZ_CHECK(RegDeleteValueW(HKEY_CLASSES_ROOT, name.data()) == ERROR_SUCCESS);
    }
    struct Open {
        HKEY Key;
        WideString Name;
    };
    std::vector<Open> path{{HKEY_CLASSES_ROOT, WideString()}};
    while (!path.empty()) {
        DWORD length = NameRoom;
        const LONG status =
            RegEnumKeyExW(path.back().Key, 0, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS) {
            HKEY child = nullptr;
            FUZZ_CHECK(RegOpenKeyExW(path.back().Key, name.data(), 0, KEY_ALL_ACCESS, &child) ==
                       ERROR_SUCCESS);
            path.push_back({child, WideString(name.data(), length)});
            continue;
        }
        FUZZ_CHECK(status == ERROR_NO_MORE_ITEMS);
        const Open done = path.back();
        path.pop_back();
        if (path.empty())
            break;
        FUZZ_CHECK(RegCloseKey(done.Key) == ERROR_SUCCESS);
        FUZZ_CHECK(RegDeleteKeyW(path.back().Key, done.Name.c_str()) == ERROR_SUCCESS);
    }
}

// The handles the next opens get. The stand-in hands out the lowest free slots, so a handle the
// module left open shows as a change in them.
std::vector<HKEY> NextHandles()
{
    const WCHAR probe[] = U16("cvx-fuzz-probe");
    HKEY key = nullptr;
    FUZZ_CHECK(RegCreateKeyExW(HKEY_CLASSES_ROOT, probe, 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS);
    std::vector<HKEY> handles{key};
    for (int count = 0; count < 16; ++count) {
        HKEY again = nullptr;
        FUZZ_CHECK(RegOpenKeyExW(HKEY_CLASSES_ROOT, probe, 0, KEY_READ, &again) == ERROR_SUCCESS);
        handles.push_back(again);
    }
    for (HKEY handle : handles)
        FUZZ_CHECK(RegCloseKey(handle) == ERROR_SUCCESS);
    FUZZ_CHECK(RegDeleteKeyW(HKEY_CLASSES_ROOT, probe) == ERROR_SUCCESS);
    return handles;
}

// Closes the handles open at the slots the probe found free before the calls: the ones the
// module's calls left open.
void CloseHandlesLeftOpen(const std::vector<HKEY>& freeBefore)
{
    for (HKEY key : freeBefore)
        if (RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_INVALID_HANDLE)
            FUZZ_CHECK(RegCloseKey(key) == ERROR_SUCCESS);
}

// ---- the input ----

class Input {
public:
    Input(const BYTE* bytes, size_t size) : Bytes(bytes), Size(size) {}
    bool Done() const { return Position >= Size; }
    BYTE Next() { return Position < Size ? Bytes[Position++] : 0; }
    WORD NextWord()
    {
        const unsigned low = Next();
        return static_cast<WORD>(low | Next() << 8);
    }

private:
    const BYTE* Bytes;
    size_t Size;
    size_t Position = 0;
};

// Builds the registry's contents from the operations: the current key is a path of open keys
// from the root, one per name.
class Builder {
public:
    explicit Builder(Input& input) : In(input) {}

    void Run()
    {
        for (unsigned ops = 0; !In.Done() && ops < 512 && Budget > 0; ++ops) {
            switch (In.Next() % OpCount) {
            case KeyAtRoot: {
                ToRoot();
                for (unsigned count = 1 + In.Next() % 4; count > 0; --count)
                    if (!Down(Name()))
                        break;
                break;
            }
            case registry_input::Subkey: Down(Name()); break;
            case Up:
                if (Path.size() > 1) {
                    FUZZ_CHECK(RegCloseKey(Path.back()) == ERROR_SUCCESS);
                    Path.pop_back();
                }
                break;
            case SetValue: {
                const WideString name = Name();
                const BYTE typeChoice = In.Next();
                const DWORD type = typeChoice < ValueTypeCount ? ValueTypes[typeChoice] : typeChoice;
                const std::vector<BYTE> data = Data();
                RegSetValueExW(Path.back(), name.c_str(), 0, type, data.data(),
                               static_cast<DWORD>(data.size()));
                break;
            }
            case OwnKey: {
                ToRoot();
                const WideString path = Widen(OwnKeys[In.Next() % OwnKeyCount]);
                for (std::size_t start = 0; start <= path.size();) {
                    std::size_t end = path.find(WCHAR('\\'), start);
                    if (end == WideString::npos)
                        end = path.size();
                    if (!Down(path.substr(start, end - start)))
                        break;
                    start = end + 1;
                }
                break;
            }
            case Deep: {
                const unsigned count = 1 + In.Next() % 64;
                const WideString name = Name();
                for (unsigned level = 0; level < count; ++level)
                    if (!Down(name))
                        break;
                break;
            }
            case SetDefault: {
                const WideString text = Name();
                RegSetValueExW(Path.back(), nullptr, 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
                break;
            }
            case Root: ToRoot(); break;
            }
        }
        ToRoot();
    }

private:
    // One more name below the current key, created; false (the current key unchanged) when the
    // registry refuses it or the path is as deep as it may get.
    bool Down(const WideString& name)
    {
        if (Path.size() > MaxDepth)
            return false;
        HKEY key = nullptr;
        if (RegCreateKeyExW(Path.back(), name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
            return false;
        Path.push_back(key);
        return true;
    }

    void ToRoot()
    {
        for (; Path.size() > 1; Path.pop_back())
            FUZZ_CHECK(RegCloseKey(Path.back()) == ERROR_SUCCESS);
    }

    WideString Name()
    {
        const BYTE tag = In.Next();
        WideString name;
        if (tag < 0x80) {
            name = Widen(Dictionary[tag % DictionarySize]);
        } else if (tag < 0xC0) {
            const WCHAR letter = In.Next();
            const size_t count = In.Next() + 256u * (tag & 1u);
            name.assign(std::min(count, Budget), letter);
        } else {
            for (unsigned count = tag & 0x3Fu; count > 0; --count)
                name.push_back(In.NextWord());
        }
        Budget -= std::min(Budget, name.size());
        return name;
    }

    std::vector<BYTE> Data()
    {
        const BYTE tag = In.Next();
        std::vector<BYTE> data;
        if (tag % 4 == 3) {
            for (unsigned count = In.Next() * ((tag & 4) ? 4u : 1u); count > 0; --count)
                data.push_back(In.Next());
            return data;
        }
        WideString text = Name();
        if (tag % 4 != 1)
            text.push_back(0);
        const BYTE* bytes = reinterpret_cast<const BYTE*>(text.data());
        data.assign(bytes, bytes + text.size() * sizeof(WCHAR));
        if (tag % 4 == 2 && !data.empty() && data.size() % 2 == 0)
            data.pop_back();
        return data;
    }

    Input& In;
    std::vector<HKEY> Path{HKEY_CLASSES_ROOT};
    size_t Budget = 1u << 20;  // code units of names and texts
};

// ---- what each call may do ----

bool IsNamed(const Names& names, std::size_t level, const char* name)
{
    return level < names.size() && Same(*names[level], name);
}

// Under CLSID\{handler} or CLSID\{filter}: our own classes, all of whose entries are ours.
bool InOurClasses(const Names& names)
{
    return IsNamed(names, 0, "CLSID") && (IsNamed(names, 1, CVX_HANDLER) || IsNamed(names, 1, CVX_FILTER));
}

bool IsHandlerKey(const Names& names)
{
    return !names.empty() && IsNamed(names, names.size() - 1, "PersistentHandler");
}

bool IsExtension(const Names& names)
{
    return names.size() == 1 && IsNamed(names, 0, ".zcv");
}

// The first name of a ProgID path, or "".
WideString FirstName(const WideString& path)
{
    return path.substr(0, path.find(WCHAR('\\')));
}

// The injected failure, and the version call's, held back while the fuzzer itself reads the
// registry between the module's calls: the calls the module made are counted off the skip.
struct Fault {
    bool Armed = false;
    FaultPoint Point = FaultPointCount;
    DWORD Error = 0;
    ULONG Skip = 0;
    bool Fired = false;
    bool VersionFails = false;

    // Arms afresh, with the call counts from 0.
    void Arm(const registry_input::ReportedVersion& version) const
    {
        ResetFaults();
        SetReportedVersion(version.PlatformId, version.Major, version.Minor);
        if (VersionFails)
            ArmFault(FaultGetVersion, ERROR_INVALID_PARAMETER, 0, 0xFFFFFFFFu);
        if (Armed && !Fired)
            ArmFault(Point, Error, Skip);
    }

    // Disarms, counting the module's calls since Arm.
    void Hold(const registry_input::ReportedVersion& version)
    {
        if (Armed && !Fired) {
            const ULONG calls = FaultCallCount(Point);
            if (calls > Skip)
                Fired = true;
            else
                Skip -= calls;
        }
        ResetFaults();
        SetReportedVersion(version.PlatformId, version.Major, version.Minor);
    }
};

bool KeyExists(const WideString& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    FUZZ_CHECK(RegCloseKey(key) == ERROR_SUCCESS);
    return true;
}

// A key's default value read as the module reads one (260 code units, up to the first zero),
// through the registry itself, so that paths are followed as the module's are.
bool DefaultTextAt(const WideString& path, WideString* text)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    WCHAR buffer[KeyPathSize + 1] = {};
    DWORD bytes = KeyPathSize * sizeof(WCHAR);
    const LONG status =
        RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes);
    FUZZ_CHECK(RegCloseKey(key) == ERROR_SUCCESS);
    *text = buffer;
    return status == ERROR_SUCCESS && text->size() < KeyPathSize;
}

// The host's other way, from the extension through its ProgID and document class: the class's
// handler is ours wherever the class is there (create mode makes the ProgID's class key and the
// class). Read from the registry as it is after the call.
void CheckDocumentClassRoute(bool openOnly)
{
    WideString progId, classId, text;
    if (!DefaultTextAt(U16(".zcv"), &progId) || progId.empty())
        return;
    if (!openOnly)
        FUZZ_CHECK(KeyExists(progId + U16("\\CLSID")));
    if (!DefaultTextAt(progId + U16("\\CLSID"), &classId) || classId.empty())
        return;
    const WideString documentClass = U16("CLSID\\") + classId;
    if (!openOnly)
        FUZZ_CHECK(KeyExists(documentClass));
    if (KeyExists(documentClass))
        FUZZ_CHECK(DefaultTextAt(documentClass + U16("\\PersistentHandler"), &text) &&
                   Same(text, CVX_HANDLER));
}

// Where registration may write a handler's class id: a PersistentHandler key, and under CLSID
// only CLSID\<class>\PersistentHandler. (CLSID\PersistentHandler itself may be a class key,
// for a class id of that name, but it does not get our handler.)
bool IsHandlerPlace(const Names& names)
{
    return IsHandlerKey(names) && (!IsNamed(names, 0, "CLSID") || names.size() == 3);
}

// A new key under CLSID that got our handler but is not CLSID\<class>\PersistentHandler.
bool IsStrayClassHandler(const Names& names, const Node* key)
{
    WideString text;
    return IsNamed(names, 0, "CLSID") && !IsHandlerPlace(names) && DefaultText(key, &text) &&
           Same(text, CVX_HANDLER);
}

// `faulted`: the injected failure fired in this call. The registry then answered what it never
// does (a value that is there reported missing, say), so only what the module may do is held,
// not what success promises.
void CheckRegistration(const Node& before, const Node& after, bool openOnly, const Fault& fault,
                       bool faulted, HRESULT result)
{
    FUZZ_CHECK(result == S_OK || result == SELFREG_E_CLASS);
    // A default value reported missing or unreadable is written as if it were.
    const bool queryFault = faulted && fault.Point == FaultRegQueryValue;

    // The top-level keys create mode may add: the extension, CLSID, our ProgID and the ProgID
    // .zcv names.
    std::vector<WideString> tops{Widen(".zcv"), Widen("CLSID"), Widen(CVX_PROGID)};
    for (const Node* root : {&before, &after}) {
        WideString progId;
        if (DefaultText(SubkeyNamed(root, ".zcv"), &progId) && !progId.empty())
            tops.push_back(FirstName(progId));
    }
    const auto isTop = [&](const WideString& name) {
        for (const WideString& top : tops)
            if (top.size() == name.size() &&
                std::equal(name.begin(), name.end(), top.begin(),
                           [](WCHAR x, WCHAR y) { return Upper(x) == Upper(y); }))
                return true;
        return false;
    };

    Compare(before, after, [&](const Names& names, const Node* old, const Node* now,
                               const Node* oldParent) {
        FUZZ_CHECK(now != nullptr);  // nothing is removed
        if (old == nullptr) {
            // A class id read from the registry is a single name: no handler key lands
            // elsewhere under CLSID.
            FUZZ_CHECK(!IsStrayClassHandler(names, now));
            // A new key: in open-only mode no document class or ProgID is created.
            if (openOnly) {
                const bool allowed =
                    IsExtension(names) || (names.size() == 1 && IsNamed(names, 0, "CLSID")) ||
                    InOurClasses(names) ||
                    (names.size() == 2 && IsNamed(names, 0, ".zcv") && IsHandlerKey(names)) ||
                    // the handler of a class that was there
                    (names.size() == 3 && IsNamed(names, 0, "CLSID") && IsHandlerKey(names) &&
                     oldParent != nullptr);
                FUZZ_CHECK(allowed);
            } else {
                FUZZ_CHECK(!names.empty() && isTop(*names[0]));
            }
            return;
        }
        for (const auto& value : old->Values)
            FUZZ_CHECK(now->Values.count(value.first) == 1);  // nothing is removed
        for (const auto& [name, value] : now->Values) {
            const auto was = old->Values.find(name);
            if (was != old->Values.end() && was->second == value)
                continue;
            const bool isDefault = name.empty();
            bool allowed = InOurClasses(names) || (isDefault && IsHandlerPlace(names));
            if (was == old->Values.end()) {
                // Written where there was none: the ProgID's class and the extension's ProgID,
                // in create mode.
                allowed = allowed || (!openOnly && isDefault &&
                                      (IsExtension(names) ||
                                       (names.size() >= 2 && IsNamed(names, names.size() - 1, "CLSID"))));
            } else {
                // Rewritten: the extension's ProgID only when it could not be read; a ProgID's
                // class only when a failure made it look missing.
                WideString text;
                allowed = allowed || (!openOnly && isDefault && IsExtension(names) &&
                                      (queryFault || !ReadAsText(was->second, &text)));
                allowed = allowed || (queryFault && !openOnly && isDefault && names.size() >= 2 &&
                                      IsNamed(names, names.size() - 1, "CLSID"));
            }
            FUZZ_CHECK(allowed);
        }
    });

    if (result != S_OK || faulted)
        return;
    // Success means a host finds the filter from the extension.
    WideString text;
    FUZZ_CHECK(DefaultText(Find(after, {".zcv", "PersistentHandler"}), &text) && Same(text, CVX_HANDLER));
    FUZZ_CHECK(DefaultText(Find(after, {"CLSID", CVX_HANDLER, "PersistentAddinsRegistered", CVX_IFILTER}),
                           &text) &&
               Same(text, CVX_FILTER));
    const Node* server = Find(after, {"CLSID", CVX_FILTER, "InprocServer32"});
    FUZZ_CHECK(DefaultText(server, &text) && text == Widen("CVXFilter.dll"));
    const ValueState* model = FindValue(server, "ThreadingModel");
    FUZZ_CHECK(model != nullptr && model->Type == REG_SZ && ReadAsText(*model, &text) &&
               text == Widen("Both"));
    CheckDocumentClassRoute(openOnly);
}

void CheckUnregistration(const Node& before, const Node& after, bool faulted, HRESULT result)
{
    FUZZ_CHECK(result == S_OK || result == S_FALSE);
    Compare(before, after, [&](const Names& names, const Node* old, const Node* now, const Node*) {
        FUZZ_CHECK(old != nullptr);  // nothing is added
        if (now == nullptr) {
            // A removed key: one of ours, a handler key, a class that named our handler, a
            // ProgID that named a removed class, or a key that named a removed ProgID.
            const bool hadDefault = old->Values.count(WideString()) == 1;
            const bool allowed =
                InOurClasses(names) || IsHandlerKey(names) ||
                (names.size() == 2 && IsNamed(names, 0, "CLSID") &&
                 SubkeyNamed(old, "PersistentHandler") != nullptr) ||
                (names.size() == 1 && (hadDefault || SubkeyNamed(old, "CLSID") != nullptr)) ||
                (names.size() == 2 && IsNamed(names, 1, "CLSID") && hadDefault);
            FUZZ_CHECK(allowed);
            return;
        }
        for (const auto& [name, value] : now->Values) {
            const auto was = old->Values.find(name);
            FUZZ_CHECK(was != old->Values.end() && was->second == value);
        }
        // Only default values naming a removed ProgID go, all of them on top-level keys.
        for (const auto& value : old->Values)
            if (now->Values.count(value.first) == 0)
                FUZZ_CHECK(names.size() == 1 && value.first.empty());
    });

    if (result != S_OK || faulted)
        return;
    // Success means none of our handler's entries is left.
    FUZZ_CHECK(Find(after, {"CLSID", CVX_HANDLER}) == nullptr);
    FUZZ_CHECK(Find(after, {"CLSID", CVX_FILTER}) == nullptr);
    FUZZ_CHECK(Find(after, {".zcv", "PersistentHandler"}) == nullptr);
    if (const Node* classes = SubkeyNamed(&after, "CLSID"))
        for (const auto& [name, subkey] : classes->Subkeys) {
            // Class names too long for the handler's path cannot have been registered here.
            WideString text;
            if (name.size() <= 235)
                FUZZ_CHECK(!DefaultText(SubkeyNamed(&subkey, "PersistentHandler"), &text) ||
                           !Same(text, CVX_HANDLER));
        }
}

// Whether the registry holds none of the names registration and unregistration act on.
bool HoldsNoneOfOurs(const Node& key)
{
    static const char* const Ours[] = {".zcv", CVX_PROGID, CVX_HANDLER, CVX_FILTER,
                                       CVX_DOCUMENT_CLASS};
    for (const auto& [name, value] : key.Values) {
        std::vector<WCHAR> text(value.Data.size() / 2);
        if (!text.empty())
            std::memcpy(text.data(), value.Data.data(), text.size() * sizeof(WCHAR));
        for (const char* our : Ours)
            if (Contains(text.data(), text.size(), our) || Contains(name.data(), name.size(), our))
                return false;
    }
    for (const auto& [name, subkey] : key.Subkeys) {
        for (const char* our : Ours)
            if (Same(name, our))
                return false;
        if (!HoldsNoneOfOurs(subkey))
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const BYTE* data, size_t size)
{
    Input input(data, size);
    ResetFaults();
    ClearRegistry();

    // Header: version, calls, fault.
    const registry_input::ReportedVersion& version = Versions[input.Next() % VersionCount];
    std::vector<Step> steps;
    const BYTE calls = input.Next();
    for (unsigned call = 0; call < 1 + (calls & 3u); ++call)
        steps.push_back(calls >> (2 + call) & 1 ? StepUnregister : StepRegister);
    Fault fault;
    const unsigned faultChoice = input.Next() % (FaultChoiceCount + 1);
    const BYTE skip = input.Next();
    const LONG faultError = FaultErrors[input.Next() % FaultErrorCount];
    fault.VersionFails = version.Fails;
    if (faultChoice != 0) {
        fault.Armed = true;
        fault.Point = FaultChoices[faultChoice - 1];
        fault.Error = static_cast<DWORD>(faultError);
        fault.Skip = skip;
    }

    Builder(input).Run();
    SetReportedVersion(version.PlatformId, version.Major, version.Minor);
    const std::vector<HKEY> handles = NextHandles();
    const Node initial = TakeSnapshot();
    const bool noneOfOurs = HoldsNoneOfOurs(initial);

    Node before = initial;
    std::vector<HRESULT> results;
    std::vector<bool> faulted;  // per call: the injected failure fired in it
    for (Step step : steps) {
        // The mode a registration takes: the version's, or create mode when it cannot be had.
        const bool openOnly = !version.Fails && version.PlatformId == VER_PLATFORM_WIN32_NT &&
                              version.Major >= 5;
        const bool firedBefore = fault.Fired;
        fault.Arm(version);
        const HRESULT result = step == StepRegister ? DllRegisterServer() : DllUnregisterServer();
        fault.Hold(version);
        const bool faultedNow = fault.Fired && !firedBefore;
        // Every key the call opened is closed; a close made to fail leaves its handle open, and
        // the fuzzer closes it so that such handles do not pile up over a run.
        if (faultedNow && fault.Point == FaultRegCloseKey)
            CloseHandlesLeftOpen(handles);
        FUZZ_CHECK(OpenKeyHandles() == 0);
        const Node after = TakeSnapshot();
        if (step == StepRegister)
            CheckRegistration(before, after, openOnly, fault, faultedNow, result);
        else
            CheckUnregistration(before, after, faultedNow, result);
        // Doing it again after a success changes nothing: registering succeeds again, and there
        // is nothing left to unregister.
        const size_t call = results.size();
        if (call > 0 && steps[call - 1] == step && results[call - 1] == S_OK && !faulted[call - 1] &&
            !faultedNow) {
            FUZZ_CHECK(result == (step == StepRegister ? S_OK : S_FALSE));
            FUZZ_CHECK(after == before);
        }
        results.push_back(result);
        faulted.push_back(faultedNow);
        if (results.size() == 2 && !fault.Fired && noneOfOurs && steps[0] == StepRegister &&
            steps[1] == StepUnregister && results[0] == S_OK && results[1] == S_OK) {
            // Registering then unregistering leaves only an empty .zcv key (and CLSID, empty,
            // where there was none).
            Node expected = initial;
            expected.Subkeys[U16(".zcv")];
            if (SubkeyNamed(&initial, "CLSID") == nullptr)
                expected.Subkeys[U16("CLSID")];
            FUZZ_CHECK(after == expected);
        }
        before = after;
    }

    ResetFaults();
    FUZZ_CHECK(NextHandles() == handles);
    ClearRegistry();
    return 0;
}
