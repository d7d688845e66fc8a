// Input format of registration_fuzz, shared with the seed writer: what the system reports, the
// calls to make, an optional injected registry failure, then operations that build the registry
// the calls meet.
//
//   byte 0   the reported version: Versions[value % VersionCount]
//   byte 1   the calls: 1 + (value & 3) of them; call i unregisters when bit 2 + i is set
//   byte 2   the injected failure: none when value % (FaultChoiceCount + 1) is 0, else at
//            FaultChoices[that - 1]
//   byte 3   calls let through at that point before it fails
//   byte 4   the failure's error: FaultErrors[value % FaultErrorCount]
//   then     operations, each a byte whose value % OpCount is the RegistryOp
//
// A name (key name or value name) is a byte n and what follows it:
//   n < 0x80          Dictionary[n % DictionarySize]
//   0x80 - 0xBF       a letter (next byte) repeated: length next byte + 256 * (n & 1)
//   0xC0 - 0xFF       n & 0x3F UTF-16 code units, each two bytes little-endian (any value)
// Value data is a byte d and what follows it:
//   d % 4 == 0        a name, as text with its terminating zero
//   d % 4 == 1        a name, as text without one
//   d % 4 == 2        a name, as text cut to an odd byte count
//   d % 4 == 3        raw bytes: count next byte (times 4 when d & 4), then the bytes
// A type is a byte t: ValueTypes[t] for t < ValueTypeCount, else t itself.
#pragma once

#include "platform/fault.h"

#include <cstdint>

namespace registry_input {

struct ReportedVersion {
    DWORD PlatformId, Major, Minor;
    bool Fails;  // GetVersionExW fails: create mode
};

constexpr ReportedVersion Versions[] = {
    {VER_PLATFORM_WIN32_NT, 4, 0, false},         // create mode
    {VER_PLATFORM_WIN32_NT, 6, 1, false},         // open-only
    {VER_PLATFORM_WIN32_NT, 5, 0, false},         // open-only
    {VER_PLATFORM_WIN32_WINDOWS, 4, 10, false},   // create mode
    {VER_PLATFORM_WIN32s, 3, 10, false},          // create mode
    {VER_PLATFORM_WIN32_NT, 6, 1, true},          // create mode
};
constexpr unsigned VersionCount = sizeof Versions / sizeof Versions[0];

constexpr FaultPoint FaultChoices[] = {
    FaultRegCreateKey, FaultRegOpenKey,   FaultRegSetValue,    FaultRegQueryValue,
    FaultRegEnumKey,   FaultRegEnumValue, FaultRegDeleteKey,   FaultRegDeleteValue,
    FaultRegCloseKey,
};
constexpr unsigned FaultChoiceCount = sizeof FaultChoices / sizeof FaultChoices[0];

constexpr LONG FaultErrors[] = {
    ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA,
    ERROR_NO_MORE_ITEMS, ERROR_INVALID_HANDLE,    ERROR_KEY_DELETED,    ERROR_INVALID_PARAMETER,
};
constexpr unsigned FaultErrorCount = sizeof FaultErrors / sizeof FaultErrors[0];

enum RegistryOp : std::uint8_t {
    KeyAtRoot,    // the current key becomes 1 + (next byte % 4) names from the root, created
    Subkey,       // a name below the current key, created; it becomes the current key
    Up,           // the current key becomes its parent
    SetValue,     // a value on the current key: name, type, data
    OwnKey,       // the current key becomes OwnKeys[next byte % OwnKeyCount], created
    Deep,         // 1 + (next byte % 64) copies of a name below the current key, created
    SetDefault,   // the current key's default value: REG_SZ, a name with its zero
    Root,         // the current key becomes HKEY_CLASSES_ROOT itself
    OpCount
};

// Names the registration code reads, writes or compares, a few in other case or nearly right,
// and names a registry holds besides.
constexpr const char* Dictionary[] = {
    ".zcv",
    "CorvanPro.Document",
    "CLSID",
    "{2B5F8E10-7C34-4A9D-B1E6-93D0F4A7C258}",  // the persistent handler
    "{6E1C2D47-A93B-4F20-9D84-5B7A0C3E61F9}",  // the filter
    "{A8D3C61E-5F02-4B7C-8E39-1C6B2F9D04E7}",  // the document class
    "{89BCB740-6119-101A-BCB7-00DD010655AF}",  // IID_IFilter
    "PersistentHandler",
    "PersistentAddinsRegistered",
    "InprocServer32",
    "ThreadingModel",
    "CVXFilter.dll",
    "Both",
    "Other.Document",
    "{B0C0FFEE-0000-4000-8000-000000000001}",
    "{00000000-1111-2222-3333-444444444444}",
    "{2b5f8e10-7c34-4a9d-b1e6-93d0f4a7c258}",
    "{6E1C2D47-A93b-4F20-9D84-5B7A0C3E61F9}",
    "corvanpro.DOCUMENT",
    ".ZCV",
    "shell",
    "DefaultIcon",
    "",
    "\\",
    "A\\B",
    "CorvanPro.Document\\CLSID",
    "CLSID\\{A8D3C61E-5F02-4B7C-8E39-1C6B2F9D04E7}",
    "\\CorvanPro.Document",
    "..",
    "Corvane Pro Document",
};
constexpr unsigned DictionarySize = sizeof Dictionary / sizeof Dictionary[0];

// The keys registration writes, as paths from the root.
constexpr const char* OwnKeys[] = {
    ".zcv",
    ".zcv\\PersistentHandler",
    "CorvanPro.Document",
    "CorvanPro.Document\\CLSID",
    "CLSID\\{2B5F8E10-7C34-4A9D-B1E6-93D0F4A7C258}",
    "CLSID\\{2B5F8E10-7C34-4A9D-B1E6-93D0F4A7C258}\\PersistentAddinsRegistered",
    ("CLSID\\{2B5F8E10-7C34-4A9D-B1E6-93D0F4A7C258}\\PersistentAddinsRegistered\\"
     "{89BCB740-6119-101A-BCB7-00DD010655AF}"),
    "CLSID\\{6E1C2D47-A93B-4F20-9D84-5B7A0C3E61F9}",
    "CLSID\\{6E1C2D47-A93B-4F20-9D84-5B7A0C3E61F9}\\InprocServer32",
    "CLSID\\{A8D3C61E-5F02-4B7C-8E39-1C6B2F9D04E7}",
    "CLSID\\{A8D3C61E-5F02-4B7C-8E39-1C6B2F9D04E7}\\PersistentHandler",
};
constexpr unsigned OwnKeyCount = sizeof OwnKeys / sizeof OwnKeys[0];

constexpr DWORD ValueTypes[] = {REG_SZ,     REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD,
                                REG_BINARY, REG_NONE,      REG_QWORD,    REG_LINK};
constexpr unsigned ValueTypeCount = sizeof ValueTypes / sizeof ValueTypes[0];

// Deepest current key the operations build, in names.
constexpr unsigned MaxDepth = 300;

}  // namespace registry_input
