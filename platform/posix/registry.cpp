// Registry and version calls of the stand-in: HKEY_CLASSES_ROOT as an in-memory tree.
//
// The tree follows what Wine's registry shows callers: names compare by lower-cased UTF-16 code
// units (so '_' and '[' sort before letters), subkeys and values are kept in that order, each
// handle keeps the access it was opened with, and a deleted key lives on for the handles still
// open on it, which then get ERROR_KEY_DELETED. One mutex guards the tree and the handle table.
#include "platform/fault.h"
#include "platform/platform.h"

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cwctype>
#include <locale.h>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

// Longest key-name component, value name and whole path (longer paths are cut to this, as the
// platform's counted strings are).
constexpr std::size_t MaxKeyComponent = 256;
constexpr std::size_t MaxValueName = 16383;
constexpr std::size_t MaxPath = 32766;

constexpr REGSAM AllAccess = KEY_ALL_ACCESS;

struct Value {
    WideString Name;
    DWORD Type;
    std::vector<BYTE> Data;
};

struct Key {
    WideString Name;
    WideString Class;
    Key* Parent = nullptr;  // null for the root and for a deleted key
    bool Deleted = false;
    FILETIME Written{};
    std::vector<std::shared_ptr<Key>> Subkeys;  // in name order
    std::vector<Value> Values;                  // in name order
};

struct Handle {
    std::shared_ptr<Key> Target;
    REGSAM Access;
};

std::mutex TreeLock;
std::shared_ptr<Key> Root;
std::vector<Handle> Handles;

// Handles live in a range of their own, so that a file handle is never taken for a key.
constexpr ULONG_PTR HandleBase = 0x10000;

// Lower-casing as the platform does it: the C library's Unicode mapping, less the characters
// whose lower case the platform leaves alone (dotted capital I, title-case digraphs, and a few
// letters whose lower case is another script's letter or a Latin one).
WCHAR FoldCase(WCHAR unit)
{
    static const locale_t Unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    static const WCHAR Unchanged[] = {0x0130, 0x01C5, 0x01C8, 0x01CB, 0x01F2,
                                      0x03F4, 0x1E9E, 0x2126, 0x212A, 0x212B};
    if (unit < 0x80 || Unicode == static_cast<locale_t>(0))
        return unit >= 'A' && unit <= 'Z' ? static_cast<WCHAR>(unit + 32) : unit;
    if (std::find(std::begin(Unchanged), std::end(Unchanged), unit) != std::end(Unchanged))
        return unit;
    wint_t lower = towlower_l(static_cast<wint_t>(unit), Unicode);
    return lower <= 0xFFFF ? static_cast<WCHAR>(lower) : unit;
}

int CompareNames(const WideString& a, const WideString& b)
{
    std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        WCHAR x = FoldCase(a[i]), y = FoldCase(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// Position of `name` in a name-ordered list, and whether it is there.
template <typename List, typename NameOf>
std::size_t Find(const List& list, const WideString& name, NameOf nameOf, bool* found)
{
    std::size_t low = 0, high = list.size();
    while (low < high) {
        std::size_t middle = (low + high) / 2;
        int order = CompareNames(nameOf(list[middle]), name);
        if (order == 0) {
            *found = true;
            return middle;
        }
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    *found = false;
    return low;
}

const WideString& SubkeyName(const std::shared_ptr<Key>& key) { return key->Name; }
const WideString& ValueName(const Value& value) { return value.Name; }

FILETIME Now()
{
    // 100-nanosecond ticks since 1601-01-01.
    constexpr ULONGLONG UnixEpoch = 116444736000000000ull;
    auto since = std::chrono::system_clock::now().time_since_epoch();
    ULONGLONG ticks =
        UnixEpoch + static_cast<ULONGLONG>(
                        std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100);
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

bool IsPredefined(HKEY key)
{
    // The predefined keys are the 32-bit values with the top bit set, sign-extended.
    LONG_PTR value = reinterpret_cast<LONG_PTR>(key);
    return value < 0 && value >= static_cast<LONG_PTR>(static_cast<LONG>(0x80000000));
}

REGSAM MapAccess(REGSAM desired)
{
    REGSAM access = desired & 0x00FFFFFFu;
    if (desired & 0x80000000u)  // GENERIC_READ
        access |= KEY_READ;
    if (desired & 0x40000000u)  // GENERIC_WRITE
        access |= KEY_WRITE;
    if (desired & 0x20000000u)  // GENERIC_EXECUTE
        access |= KEY_READ;
    if (desired & 0x12000000u)  // GENERIC_ALL, MAXIMUM_ALLOWED
        access |= AllAccess;
    return access;
}

// The handle table's slot for a handle we gave out and have not closed; null for any other
// value. Caller holds TreeLock.
Handle* OpenSlot(HKEY key)
{
    const ULONG_PTR value = reinterpret_cast<ULONG_PTR>(key);
    if (value < HandleBase || value % 4 != 0)
        return nullptr;
    const std::size_t slot = (value - HandleBase) / 4;
    if (slot >= Handles.size() || !Handles[slot].Target)
        return nullptr;
    return &Handles[slot];
}

// The key a handle names, with its access; ERROR_INVALID_HANDLE or ERROR_KEY_DELETED when it
// names none. Caller holds TreeLock.
LONG Resolve(HKEY key, Handle* handle)
{
    if (!Root) {
        Root = std::make_shared<Key>();
        Root->Written = Now();
    }
    if (key == HKEY_CLASSES_ROOT) {
        *handle = Handle{Root, AllAccess};
        return ERROR_SUCCESS;
    }
    const Handle* slot = OpenSlot(key);
    if (slot == nullptr)
        return ERROR_INVALID_HANDLE;
    *handle = *slot;
    return handle->Target->Deleted ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

// A free slot of the handle table; it stays free until a key is put in it.
std::size_t FreeSlot()
{
    std::size_t slot = 0;
    while (slot < Handles.size() && Handles[slot].Target)
        ++slot;
    if (slot == Handles.size())
        Handles.emplace_back();
    return slot;
}

HKEY PutHandle(std::size_t slot, const std::shared_ptr<Key>& key, REGSAM access)
{
    Handles[slot] = Handle{key, MapAccess(access)};
    return reinterpret_cast<HKEY>(HandleBase + slot * 4);
}

// Splits a key path into its components: empty components (doubled or trailing backslashes)
// are passed over and a leading backslash is refused. Component lengths are checked as the path
// is followed, as the platform does: a missing key is reported before a later name too long.
LONG SplitPath(LPCWSTR path, std::vector<WideString>* components)
{
    WideString text;
    if (path != nullptr)
        text = path;
    if (text.size() > MaxPath)
        text.resize(MaxPath);
    if (!text.empty() && text[0] == U16('\\'))
        return ERROR_BAD_PATHNAME;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(U16('\\'), start);
        if (end == WideString::npos)
            end = text.size();
        if (end > start)
            components->push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

// The key a handle stands for, and the names of the path below it.
LONG ResolvePath(HKEY key, LPCWSTR subKey, Handle* parent, std::vector<WideString>* components)
{
    const LONG status = Resolve(key, parent);
    return status == ERROR_SUCCESS ? SplitPath(subKey, components) : status;
}

// Follows existing subkeys as far as they go; returns how many components it followed, or
// ERROR_INVALID_PARAMETER (as a negative count) at a name too long met on the way.
long Walk(std::shared_ptr<Key>* key, const std::vector<WideString>& components)
{
    for (std::size_t index = 0; index < components.size(); ++index) {
        if (components[index].size() > MaxKeyComponent)
            return -ERROR_INVALID_PARAMETER;
        bool found = false;
        std::size_t at = Find((*key)->Subkeys, components[index], SubkeyName, &found);
        if (!found)
            return static_cast<long>(index);
        *key = (*key)->Subkeys[at];
    }
    return static_cast<long>(components.size());
}

// The key at the end of a path, for open and delete.
LONG Follow(std::shared_ptr<Key>* key, const std::vector<WideString>& components)
{
    long followed = Walk(key, components);
    if (followed < 0)
        return static_cast<LONG>(-followed);
    return static_cast<std::size_t>(followed) == components.size() ? ERROR_SUCCESS
                                                                    : ERROR_FILE_NOT_FOUND;
}

bool ValidValueName(LPCWSTR name)
{
    if (name == nullptr)
        return true;
    std::size_t length = 0;
    while (name[length] != 0 && length <= MaxValueName)
        ++length;
    return length <= MaxValueName;
}

// The value of that name (null or empty: the default value), or null.
const Value* FindValue(const Key& key, LPCWSTR name)
{
    bool found = false;
    std::size_t at = Find(key.Values, name ? WideString(name) : WideString(), ValueName, &found);
    return found ? &key.Values[at] : nullptr;
}

bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Hands a value's data out as the platform does: the size always, the bytes when they fit, and
// after a string that does not end in a zero, a terminating zero where the buffer has room.
LONG CopyData(const Value& value, LPBYTE data, LPDWORD dataSize)
{
    DWORD needed = static_cast<DWORD>(value.Data.size());
    if (data == nullptr) {
        if (dataSize != nullptr)
            *dataSize = needed;
        return ERROR_SUCCESS;
    }
    DWORD room = *dataSize;
    *dataSize = needed;
    if (room < needed)
        return ERROR_MORE_DATA;
    std::copy(value.Data.begin(), value.Data.end(), data);
    if (IsStringType(value.Type) && needed > 0 && room - needed >= sizeof(WCHAR)) {
        const std::vector<BYTE>& bytes = value.Data;
        bool endsInZero = bytes[needed - 1] == 0 && (needed < 2 || bytes[needed - 2] == 0);
        if (!endsInZero)
            data[needed] = data[needed + 1] = 0;
    }
    return ERROR_SUCCESS;
}

// Runs one call: an armed fault at `point` answers first; the body runs under the lock, and an
// exhausted allocation becomes the platform's error.
template <typename Body>
LONG Locked(FaultPoint point, Body body)
{
    DWORD fault = 0;
    if (TakeFault(point, &fault))
        return static_cast<LONG>(fault);
    std::lock_guard<std::mutex> guard(TreeLock);
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace

LONG WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD,
                            REGSAM desired, LPSECURITY_ATTRIBUTES, PHKEY result,
                            LPDWORD disposition)
{
    HKEY callers = result != nullptr ? *result : nullptr;
    if (result != nullptr)
        *result = nullptr;
    return Locked(FaultRegCreateKey, [&]() -> LONG {
        if (result == nullptr || reserved != 0)
            return ERROR_INVALID_PARAMETER;
        Handle parent;
        std::vector<WideString> components;
        if (LONG status = ResolvePath(key, subKey, &parent, &components))
            return status;
        // The handle slot comes first, so that running out of memory for it creates nothing.
        std::size_t slot = FreeSlot();
        std::shared_ptr<Key> at = parent.Target;
        long followed = Walk(&at, components);
        if (followed < 0)
            return static_cast<LONG>(-followed);
        // The missing keys are made one by one; a name too long among them stops there, keeping
        // the keys made before it, and the platform then reports them made but gives no handle.
        std::size_t missing = static_cast<std::size_t>(followed), end = missing;
        while (end < components.size() && components[end].size() <= MaxKeyComponent)
            ++end;
        for (std::size_t index = missing; index < end; ++index) {
            bool found = false;
            std::size_t position = Find(at->Subkeys, components[index], SubkeyName, &found);
            auto child = std::make_shared<Key>();
            child->Name = components[index];
            child->Parent = at.get();
            child->Written = Now();
            at->Subkeys.insert(at->Subkeys.begin() + static_cast<std::ptrdiff_t>(position), child);
            at = child;
        }
        // A null or empty path reopens the key, and the platform reports that as created too.
        bool created = missing < components.size() || components.empty();
        if (disposition != nullptr)
            *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        if (end < components.size()) {
            *result = callers;
            return ERROR_INVALID_PARAMETER;
        }
        if (missing < components.size() && keyClass != nullptr)
            at->Class = keyClass;
        *result = PutHandle(slot, at, desired);
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM desired, PHKEY result)
{
    if (result != nullptr)
        *result = nullptr;
    return Locked(FaultRegOpenKey, [&]() -> LONG {
        if (result == nullptr)
            return ERROR_INVALID_PARAMETER;
        Handle parent;
        std::vector<WideString> components;
        if (LONG status = ResolvePath(key, subKey, &parent, &components))
            return status;
        // Reopening a predefined key gives the predefined handle back.
        if (components.empty() && key == HKEY_CLASSES_ROOT) {
            *result = HKEY_CLASSES_ROOT;
            return ERROR_SUCCESS;
        }
        std::shared_ptr<Key> target = parent.Target;
        const LONG status = Follow(&target, components);
        if (status != ERROR_SUCCESS)
            return status;
        *result = PutHandle(FreeSlot(), target, desired);
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data,
                           DWORD dataSize)
{
    return Locked(FaultRegSetValue, [&]() -> LONG {
        Handle handle;
        LONG status = Resolve(key, &handle);
        if (status != ERROR_SUCCESS)
            return status;
        if (!ValidValueName(valueName))
            return ERROR_INVALID_PARAMETER;
        if (dataSize > 0 && reinterpret_cast<ULONG_PTR>(data) < 0x10000)
            return ERROR_NOACCESS;
        if (!(handle.Access & KEY_SET_VALUE))
            return ERROR_ACCESS_DENIED;
        Key& target = *handle.Target;
        WideString name = valueName ? WideString(valueName) : WideString();
        Value value{name, type, std::vector<BYTE>(data, data + dataSize)};
        bool found = false;
        std::size_t at = Find(target.Values, name, ValueName, &found);
        if (found) {
            // The name keeps the spelling it was first written with.
            target.Values[at].Type = type;
            target.Values[at].Data.swap(value.Data);
        } else {
            target.Values.insert(target.Values.begin() + static_cast<std::ptrdiff_t>(at),
                                 std::move(value));
        }
        target.Written = Now();
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD dataSize)
{
    return Locked(FaultRegQueryValue, [&]() -> LONG {
        Handle handle;
        LONG status = Resolve(key, &handle);
        if (status != ERROR_SUCCESS)
            return status;
        if (reserved != nullptr || (data != nullptr && dataSize == nullptr) ||
            !ValidValueName(valueName))
            return ERROR_INVALID_PARAMETER;
        if (!(handle.Access & KEY_QUERY_VALUE))
            return ERROR_ACCESS_DENIED;
        const Value* value = FindValue(*handle.Target, valueName);
        if (value == nullptr)
            return ERROR_FILE_NOT_FOUND;
        if (type != nullptr)
            *type = value->Type;
        return CopyData(*value, data, dataSize);
    });
}

LONG WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                          LPDWORD reserved, LPWSTR keyClass, LPDWORD classLength,
                          PFILETIME lastWriteTime)
{
    return Locked(FaultRegEnumKey, [&]() -> LONG {
        Handle handle;
        LONG status = Resolve(key, &handle);
        if (status != ERROR_SUCCESS)
            return status;
        if (reserved != nullptr || name == nullptr || nameLength == nullptr)
            return ERROR_INVALID_PARAMETER;
        if (!(handle.Access & KEY_ENUMERATE_SUB_KEYS))
            return ERROR_ACCESS_DENIED;
        if (index >= handle.Target->Subkeys.size())
            return ERROR_NO_MORE_ITEMS;
        const Key& subkey = *handle.Target->Subkeys[index];
        // Lengths count characters, the terminating zero included in the room but not in the
        // length handed back; when short, nothing is written.
        bool wantsClass = keyClass != nullptr && classLength != nullptr;
        if (*nameLength <= subkey.Name.size() ||
            (wantsClass && *classLength <= subkey.Class.size()))
            return ERROR_MORE_DATA;
        std::copy(subkey.Name.begin(), subkey.Name.end(), name);
        name[subkey.Name.size()] = 0;
        *nameLength = static_cast<DWORD>(subkey.Name.size());
        if (wantsClass) {
            std::copy(subkey.Class.begin(), subkey.Class.end(), keyClass);
            keyClass[subkey.Class.size()] = 0;
            *classLength = static_cast<DWORD>(subkey.Class.size());
        }
        if (lastWriteTime != nullptr)
            *lastWriteTime = subkey.Written;
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameLength,
                          LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    return Locked(FaultRegEnumValue, [&]() -> LONG {
        Handle handle;
        LONG status = Resolve(key, &handle);
        if (status != ERROR_SUCCESS)
            return status;
        if (reserved != nullptr || valueName == nullptr || valueNameLength == nullptr ||
            (data != nullptr && dataSize == nullptr))
            return ERROR_INVALID_PARAMETER;
        if (!(handle.Access & KEY_QUERY_VALUE))
            return ERROR_ACCESS_DENIED;
        if (index >= handle.Target->Values.size())
            return ERROR_NO_MORE_ITEMS;
        const Value& value = handle.Target->Values[index];
        if (type != nullptr)
            *type = value.Type;
        // A name that does not fit still reports the type and data size, and writes nothing.
        if (*valueNameLength <= value.Name.size()) {
            if (dataSize != nullptr)
                *dataSize = static_cast<DWORD>(value.Data.size());
            return ERROR_MORE_DATA;
        }
        std::copy(value.Name.begin(), value.Name.end(), valueName);
        valueName[value.Name.size()] = 0;
        *valueNameLength = static_cast<DWORD>(value.Name.size());
        return CopyData(value, data, dataSize);
    });
}

LONG WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey)
{
    return Locked(FaultRegDeleteKey, [&]() -> LONG {
        Handle parent;
        LONG status = Resolve(key, &parent);
        if (status != ERROR_SUCCESS)
            return status;
        if (subKey == nullptr)
            return ERROR_INVALID_PARAMETER;
        std::vector<WideString> components;
        status = SplitPath(subKey, &components);
        if (status != ERROR_SUCCESS)
            return status;
        // An empty name deletes the key the handle names.
        std::shared_ptr<Key> target = parent.Target;
        status = Follow(&target, components);
        if (status != ERROR_SUCCESS)
            return status;
        if (target == Root || !target->Subkeys.empty())
            return ERROR_ACCESS_DENIED;
        Key& above = *target->Parent;
        bool found = false;
        std::size_t at = Find(above.Subkeys, target->Name, SubkeyName, &found);
        above.Subkeys.erase(above.Subkeys.begin() + static_cast<std::ptrdiff_t>(at));
        above.Written = Now();
        target->Deleted = true;
        target->Parent = nullptr;
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegDeleteValueW(HKEY key, LPCWSTR valueName)
{
    return Locked(FaultRegDeleteValue, [&]() -> LONG {
        Handle handle;
        LONG status = Resolve(key, &handle);
        if (status != ERROR_SUCCESS)
            return status;
        if (!ValidValueName(valueName))
            return ERROR_INVALID_PARAMETER;
        if (!(handle.Access & KEY_SET_VALUE))
            return ERROR_ACCESS_DENIED;
        Key& target = *handle.Target;
        bool found = false;
        std::size_t at = Find(target.Values, valueName ? WideString(valueName) : WideString(),
                              ValueName, &found);
        if (!found)
            return ERROR_FILE_NOT_FOUND;
        target.Values.erase(target.Values.begin() + static_cast<std::ptrdiff_t>(at));
        target.Written = Now();
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegCloseKey(HKEY key)
{
    std::shared_ptr<Key> released;  // dropped after the lock, with any deleted key it kept
    return Locked(FaultRegCloseKey, [&]() -> LONG {
        if (IsPredefined(key))
            return ERROR_SUCCESS;
        Handle* slot = OpenSlot(key);
        if (slot == nullptr)
            return ERROR_INVALID_HANDLE;
        released.swap(slot->Target);
        return ERROR_SUCCESS;
    });
}

ULONG OpenKeyHandles()
{
    std::lock_guard<std::mutex> guard(TreeLock);
    ULONG open = 0;
    for (const Handle& handle : Handles)
        open += handle.Target ? 1 : 0;
    return open;
}

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW info)
{
    DWORD fault = 0;
    if (TakeFault(FaultGetVersion, &fault)) {
        SetLastError(fault);
        return FALSE;
    }
    if (info == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOW) && size != sizeof(OSVERSIONINFOEXW))
        return FALSE;
    DWORD platformId = 0, major = 0, minor = 0;
    ReportedVersion(&platformId, &major, &minor);
    bool sevenSp1 = platformId == VER_PLATFORM_WIN32_NT && major == 6 && minor == 1;
    info->dwMajorVersion = major;
    info->dwMinorVersion = minor;
    info->dwBuildNumber = sevenSp1 ? 7601 : 0;
    info->dwPlatformId = platformId;
    // Only the text and its terminator are written; the rest of the field is left as it was.
    const WideString servicePack = sevenSp1 ? U16("Service Pack 1") : U16("");
    std::copy(servicePack.c_str(), servicePack.c_str() + servicePack.size() + 1,
              info->szCSDVersion);
    if (size == sizeof(OSVERSIONINFOEXW)) {
        OSVERSIONINFOEXW* ex = reinterpret_cast<OSVERSIONINFOEXW*>(info);
        ex->wServicePackMajor = sevenSp1 ? 1 : 0;
        ex->wServicePackMinor = 0;
        ex->wSuiteMask = 0;
        ex->wProductType = VER_NT_WORKSTATION;
    }
    return TRUE;
}
