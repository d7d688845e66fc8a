// Conformance of the registry and version calls: the same cases run against the real registry
// (Windows build, under Wine, in a throwaway prefix) and against our stand-in. Every key lives
// below HKEY_CLASSES_ROOT\CvxConformance, removed before and after each test.
#include "platform/fault.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace {

const LPCWSTR Base = U16("CvxConformance");
const DWORD Untouched = 77;
HKEY const Sentinel = reinterpret_cast<HKEY>(0x1234);
HKEY const Bogus = reinterpret_cast<HKEY>(0x5678);
using Names = std::vector<WideString>;
using Call = std::function<LONG()>;

LONG Create(HKEY parent, LPCWSTR path, HKEY* key, DWORD* disposition = nullptr)
{
    return RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key,
                           disposition);
}

LONG EnumKey(HKEY key, DWORD index, LPWSTR name, DWORD* length)
{
    return RegEnumKeyExW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
}

Names Subkeys(HKEY key)
{
    Names names;
    WCHAR name[300];
    for (DWORD index = 0, length = 300; EnumKey(key, index, name, &length) == 0;
         ++index, length = 300)
        names.push_back(name);
    return names;
}

void DeleteTree(HKEY parent, LPCWSTR name)
{
    HKEY key;
    if (RegOpenKeyExW(parent, name, 0, KEY_ALL_ACCESS, &key) != 0)
        return;
    for (const WideString& child : Subkeys(key))
        DeleteTree(key, child.c_str());
    RegCloseKey(key);
    RegDeleteKeyW(parent, name);
}

WideString Repeat(std::size_t count, WCHAR unit) { return WideString(count, unit); }

// `first`, then `count` components of `length` characters.
WideString LongPath(LPCWSTR first, std::size_t count, std::size_t length)
{
    WideString path = first;
    for (std::size_t index = 0; index < count; ++index)
        path += U16("\\") + Repeat(length, 'p');
    return path;
}

class PlatformRegistry : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteTree(HKEY_CLASSES_ROOT, Base);
        ASSERT_EQ(Create(HKEY_CLASSES_ROOT, Base, &base), 0);
    }
    void TearDown() override
    {
        RegCloseKey(base);
        DeleteTree(HKEY_CLASSES_ROOT, Base);
    }
    void Make(LPCWSTR path)
    {
        HKEY key;
        ASSERT_EQ(Create(base, path, &key), 0);
        RegCloseKey(key);
    }
    LONG Open(LPCWSTR path)
    {
        HKEY key;
        LONG status = RegOpenKeyExW(base, path, 0, KEY_READ, &key);
        return status ? status : RegCloseKey(key);
    }
    void Set(LPCWSTR name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(RegSetValueExW(base, name, 0, type, static_cast<const BYTE*>(data), size), 0);
    }
    HKEY base = nullptr;
};

TEST_F(PlatformRegistry, CreateAndOpenFollowPathsAndNameLimits)
{
    struct Case {
        const char* Case;
        WideString Path;
        bool Null;
        LONG Open, Create;  // RegOpenKeyExW first, then RegCreateKeyExW
        DWORD Disposition;
    };
    const LONG missing = ERROR_FILE_NOT_FOUND, made = REG_CREATED_NEW_KEY;
    Make(U16("Existing"));
    const Case cases[] = {
        {"new key", U16("New"), false, missing, 0, made},
        {"existing, other case", U16("EXISTING"), false, 0, 0, REG_OPENED_EXISTING_KEY},
        {"missing intermediates", U16("A\\B\\C"), false, missing, 0, made},
        {"null reopens, reported as made", U16(""), true, 0, 0, made},
        {"empty reopens, reported as made", U16(""), false, 0, 0, made},
        {"doubled and trailing backslashes", U16("D\\\\E\\"), false, missing, 0, made},
        {"leading backslash", U16("\\Lead"), false, ERROR_BAD_PATHNAME, ERROR_BAD_PATHNAME, 0},
        {"256-character name", Repeat(256, 'n'), false, missing, 0, made},
        {"257-character name", U16("Existing\\") + Repeat(257, 'n'), false,
         ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER, 0},
        {"20000-character path", LongPath(U16("G"), 100, 199), false, missing, 0, made},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Case);
        LPCWSTR path = c.Null ? nullptr : c.Path.c_str();
        HKEY key = Sentinel;
        EXPECT_EQ(RegOpenKeyExW(base, path, 0, KEY_READ, &key), c.Open);
        EXPECT_NE(key, base) << "a new handle, or null after a failure";
        EXPECT_EQ(key == nullptr, c.Open != 0);
        RegCloseKey(key);
        key = Sentinel;
        DWORD disposition = Untouched;
        EXPECT_EQ(Create(base, path, &key, &disposition), c.Create);
        EXPECT_NE(key, base);
        EXPECT_EQ(key == nullptr, c.Create != 0);
        EXPECT_EQ(disposition, c.Create ? Untouched : c.Disposition);
        RegCloseKey(key);
    }
    EXPECT_EQ(Open(U16("a\\b\\c")), 0);
    EXPECT_EQ(Open(U16("d\\e")), 0);
    // A name too long after missing keys: those before it are made and reported so, but the
    // call fails and leaves the handle variable alone.
    const WideString partial = U16("F\\G\\") + Repeat(257, 'n') + U16("\\H");
    HKEY key = Sentinel;
    DWORD disposition = Untouched;
    EXPECT_EQ(Open(partial.c_str()), ERROR_FILE_NOT_FOUND) << "missing comes before too long";
    EXPECT_EQ(Create(base, partial.c_str(), &key, &disposition), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(key, Sentinel);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(Open(U16("F\\G")), 0);
    EXPECT_EQ(Subkeys(base), (Names{U16("A"), U16("D"), U16("Existing"), U16("F"), U16("G"),
                                U16("New"), Repeat(256, 'n')}));
    // A path longer than 32766 characters is cut there: here its last name loses one.
    const WideString cut = LongPath(U16("H"), 163, 199) + U16("\\") + Repeat(165, 'c');
    ASSERT_EQ(cut.size(), 32767u);
    Make(cut.c_str());
    EXPECT_EQ(Open(cut.substr(0, 32766).c_str()), 0);

    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, nullptr, 0, KEY_READ, &key), 0);
    EXPECT_EQ(key, HKEY_CLASSES_ROOT) << "a predefined key reopens as itself";
    EXPECT_EQ(RegOpenKeyExW(Bogus, U16("x"), 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(key, nullptr);
}

TEST_F(PlatformRegistry, NamesCompareByLowerCaseAndKeepTheirFirstSpelling)
{
    // Creation order, and the disposition each gets.
    const std::pair<LPCWSTR, DWORD> created[] = {
        {U16("Zz"), 1}, {U16("a_"), 1}, {U16("\u00c9t"), 1}, {U16("9"), 1}, {U16("[b"), 1},
        {U16("\u00e9"), 1}, {U16("\u00c9"), 2}, {U16("a b"), 1}, {U16("_x"), 1}, {U16("zZ"), 2},
        {U16("aB1"), 1}, {U16("{y"), 1}, {U16("i"), 1}, {U16("I"), 2}, {U16("\u0130"), 1},
        {U16("\u03a9"), 1}, {U16("\u03c9"), 2}, {U16("\u2126"), 1}, {U16("\u00df"), 1},
        {U16("~"), 1}, {U16("a"), 1}};
    const Names order = {U16("9"), U16("[b"), U16("_x"), U16("a"), U16("a b"), U16("a_"),
                         U16("aB1"), U16("i"), U16("Zz"), U16("{y"), U16("~"), U16("\u00df"),
                         U16("\u00e9"), U16("\u00c9t"), U16("\u0130"), U16("\u03a9"),
                         U16("\u2126")};
    const DWORD one = 1;
    for (std::size_t index = 0; index < std::size(created); ++index) {
        HKEY key;
        DWORD disposition = 0;
        ASSERT_EQ(Create(base, created[index].first, &key, &disposition), 0);
        EXPECT_EQ(disposition, created[index].second) << "name " << index;
        RegCloseKey(key);
        Set(created[index].first, REG_DWORD, &one, 4);
    }
    EXPECT_EQ(Subkeys(base), order);
    Names values;
    WCHAR name[64];
    for (DWORD index = 0, length = 64;
         RegEnumValueW(base, index, name, &length, nullptr, nullptr, nullptr, nullptr) == 0;
         ++index, length = 64)
        values.push_back(name);
    EXPECT_EQ(values, order) << "values keep the same order";
}

TEST_F(PlatformRegistry, ValuesKeepTypeAndBytesAsWritten)
{
    struct Case {
        const char* Case;
        LPCWSTR Written, Read;
        DWORD Type;
        std::vector<BYTE> Data;
        bool GetsTerminator;  // when the buffer has room for one more character
    };
    const Case cases[] = {
        {"odd count", U16("Odd"), U16("ODD"), REG_SZ, {'a', 0, 'b', 0, 'c'}, true},
        {"string without terminator", U16("Bare"), U16("bare"), REG_SZ, {'a', 0, 'b', 0}, true},
        {"string with terminator", U16("End"), U16("End"), REG_EXPAND_SZ, {'a', 0, 0, 0}, false},
        {"list", U16("List"), U16("List"), REG_MULTI_SZ, {'x', 0}, true},
        {"binary", U16("Bin"), U16("Bin"), REG_BINARY, {'a', 0, 'b', 0}, false},
        {"empty string", U16("Empty"), U16("Empty"), REG_SZ, {}, false},
        {"unknown type", U16("Odd"), U16("odd"), 99, {1, 2, 3, 4, 5, 6}, false},
        {"default by null", nullptr, U16(""), REG_DWORD, {1, 0, 0, 0}, false},
        {"default by empty name", U16(""), nullptr, REG_SZ, {'y', 0}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Case);
        // The platform counts a string's terminator when one follows the data: none does here.
        std::vector<BYTE> source = c.Data;
        source.insert(source.end(), {'X', 'X'});
        const DWORD size = static_cast<DWORD>(c.Data.size());
        Set(c.Written, c.Type, source.data(), size);
        DWORD type = 0, got = 0;
        ASSERT_EQ(RegQueryValueExW(base, c.Read, nullptr, &type, nullptr, &got), 0);
        EXPECT_EQ(type, c.Type);
        EXPECT_EQ(got, size);
        EXPECT_EQ(RegQueryValueExW(base, c.Read, nullptr, nullptr, nullptr, nullptr), 0);
        for (DWORD extra : {0u, 2u}) {
            std::vector<BYTE> buffer(size + 4, 0xCC);
            got = size + extra;
            ASSERT_EQ(RegQueryValueExW(base, c.Read, nullptr, &type, buffer.data(), &got), 0);
            EXPECT_EQ(got, size) << "the size stays the data's";
            EXPECT_TRUE(std::equal(c.Data.begin(), c.Data.end(), buffer.begin()));
            const BYTE after = extra && c.GetsTerminator ? 0 : 0xCC;
            EXPECT_EQ(buffer[size], after) << extra;
            EXPECT_EQ(buffer[size + 1], after) << extra;
        }
        if (size > 0) {
            // Short: the needed size and the type, and the buffer left alone.
            std::vector<BYTE> buffer(size, 0xCC);
            type = 0;
            got = size - 1;
            EXPECT_EQ(RegQueryValueExW(base, c.Read, nullptr, &type, buffer.data(), &got),
                      ERROR_MORE_DATA);
            EXPECT_EQ(got, size);
            EXPECT_EQ(type, c.Type);
            EXPECT_EQ(buffer, std::vector<BYTE>(size, 0xCC));
        }
    }
}

TEST_F(PlatformRegistry, ValueCallsRefuseBadArgumentsAndMissingValues)
{
    const BYTE data[4] = {1, 2, 3, 4};
    BYTE buffer[8];
    DWORD type = Untouched, size = sizeof buffer;
    const WideString longest = Repeat(16383, 'v'), tooLong = Repeat(16384, 'v');
    const LPCWSTR named = longest.c_str();
    Set(named, REG_BINARY, data, 4);
    auto query = [&](LPCWSTR name, DWORD* sizeOut) {
        return RegQueryValueExW(base, name, nullptr, &type, buffer, sizeOut);
    };
    auto set = [&](LPCWSTR name, const BYTE* bytes) {
        return RegSetValueExW(base, name, 0, REG_BINARY, bytes, 4);
    };
    const std::tuple<const char*, LONG, Call> cases[] = {
        {"query missing", ERROR_FILE_NOT_FOUND, [&] { return query(U16("No"), &size); }},
        {"query unset default", ERROR_FILE_NOT_FOUND, [&] { return query(nullptr, &size); }},
        {"query data without size", ERROR_INVALID_PARAMETER, [&] { return query(named, nullptr); }},
        {"set null data", ERROR_NOACCESS, [&] { return set(U16("N"), nullptr); }},
        {"set too long a name", ERROR_INVALID_PARAMETER,
         [&] { return set(tooLong.c_str(), data); }},
        {"delete missing", ERROR_FILE_NOT_FOUND, [&] { return RegDeleteValueW(base, U16("No")); }},
    };
    for (const auto& [name, expected, call] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(call(), expected);
        EXPECT_EQ(type, Untouched);
        EXPECT_EQ(size, sizeof buffer);
    }
    EXPECT_EQ(query(named, &size), 0);
    EXPECT_EQ(RegDeleteValueW(base, named), 0);
}

TEST_F(PlatformRegistry, EachCallNeedsItsAccessRight)
{
    Make(U16("Sub"));
    const DWORD one = 1;
    Set(U16("v"), REG_DWORD, &one, 4);
    struct Case {
        REGSAM Access;
        LONG Set, Query, EnumKeys, EnumValues, DeleteValue;
    };
    const LONG no = ERROR_ACCESS_DENIED;
    const Case cases[] = {{KEY_READ, no, 0, 0, 0, no},
                          {KEY_WRITE, 0, no, no, no, ERROR_FILE_NOT_FOUND},
                          {KEY_QUERY_VALUE, no, 0, no, 0, no},
                          {0, no, no, no, no, no}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Access);
        HKEY key, sub;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, Base, 0, c.Access, &key), 0);
        DWORD size = 4, value = 0, length = 8;
        WCHAR name[8];
        const BYTE* data = reinterpret_cast<const BYTE*>(&one);
        EXPECT_EQ(RegSetValueExW(key, U16("v"), 0, REG_DWORD, data, 4), c.Set);
        EXPECT_EQ(RegQueryValueExW(key, U16("v"), nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(&value), &size), c.Query);
        EXPECT_EQ(EnumKey(key, 0, name, &length), c.EnumKeys);
        length = 8;
        EXPECT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
                  c.EnumValues);
        EXPECT_EQ(RegDeleteValueW(key, U16("none")), c.DeleteValue);
        // Subkeys are made and deleted whatever the handle's rights.
        EXPECT_EQ(Create(key, U16("Made"), &sub), 0);
        RegCloseKey(sub);
        EXPECT_EQ(RegDeleteKeyW(key, U16("Made")), 0);
        RegCloseKey(key);
    }
}

TEST_F(PlatformRegistry, EnumerationNeedsRoomForTheTerminator)
{
    Make(U16("Long-name"));
    const BYTE data[4] = {1, 2, 3, 4};
    Set(U16("Long-name"), REG_BINARY, data, 4);
    // Room in characters, and the result. Short leaves name and length alone, but a value's
    // type and size are still reported.
    const std::pair<DWORD, LONG> rooms[] = {{0, ERROR_MORE_DATA}, {9, ERROR_MORE_DATA},
                                            {10, 0}, {64, 0}};
    const WideString hashes = Repeat(10, '#'), full(U16("Long-name"), 10);
    for (const auto& [room, result] : rooms) {
        SCOPED_TRACE(room);
        WCHAR name[64];
        std::fill(std::begin(name), std::end(name), WCHAR('#'));
        DWORD length = room;
        EXPECT_EQ(EnumKey(base, 0, name, &length), result);
        EXPECT_EQ(length, result ? room : 9u);
        EXPECT_EQ(WideString(name, 10), result ? hashes : full);

        std::fill(std::begin(name), std::end(name), WCHAR('#'));
        BYTE buffer[4] = {};
        DWORD type = 0, size = 4;
        length = room;
        EXPECT_EQ(RegEnumValueW(base, 0, name, &length, nullptr, &type, buffer, &size), result);
        EXPECT_EQ(length, result ? room : 9u);
        EXPECT_EQ(WideString(name, 10), result ? hashes : full);
        EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
        EXPECT_EQ(size, 4u);
        EXPECT_EQ(buffer[0], result ? 0 : 1);
    }
    // A short data buffer still gets the name.
    WCHAR name[16];
    BYTE buffer[4] = {};
    DWORD length = 16, size = 3;
    EXPECT_EQ(RegEnumValueW(base, 0, name, &length, nullptr, nullptr, buffer, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(WideString(name), U16("Long-name"));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(buffer[0], 0);
    // Past the end nothing is touched.
    length = 16;
    EXPECT_EQ(EnumKey(base, 1, name, &length), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumValueW(base, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(length, 16u);
}

TEST_F(PlatformRegistry, DeleteKeyRemovesOnlyLeaves)
{
    Make(U16("Parent\\Child"));
    Make(U16("Trail"));
    const std::tuple<const char*, LPCWSTR, LONG> cases[] = {
        {"key with a subkey", U16("Parent"), ERROR_ACCESS_DENIED},
        {"leading backslash", U16("\\Parent\\Child"), ERROR_BAD_PATHNAME},
        {"null name", nullptr, ERROR_INVALID_PARAMETER},
        {"leaf, other case", U16("parent\\CHILD"), 0},
        {"gone", U16("Parent\\Child"), ERROR_FILE_NOT_FOUND},
        {"under a missing key", U16("None\\Child"), ERROR_FILE_NOT_FOUND},
        {"trailing backslash", U16("Trail\\"), 0},
        {"empty name, own key has subkeys", U16(""), ERROR_ACCESS_DENIED},
    };
    for (const auto& [name, path, result] : cases)
        EXPECT_EQ(RegDeleteKeyW(base, path), result) << name;
    EXPECT_EQ(Subkeys(base), Names{U16("Parent")});
    EXPECT_EQ(RegDeleteKeyW(Bogus, U16("Parent")), ERROR_INVALID_HANDLE);
}

TEST_F(PlatformRegistry, HandlesToADeletedKeyFailWithKeyDeleted)
{
    HKEY gone, again, key = Sentinel;
    DWORD disposition = Untouched, size = 4, length = 8;
    WCHAR name[8];
    BYTE data[4] = {};
    ASSERT_EQ(Create(base, U16("Gone"), &gone), 0);
    ASSERT_EQ(RegDeleteKeyW(gone, U16("")), 0) << "an empty name deletes the handle's own key";
    EXPECT_EQ(Open(U16("Gone")), ERROR_FILE_NOT_FOUND);
    const Call calls[] = {
        [&] { return Create(gone, U16("X"), &key, &disposition); },
        [&] { return RegOpenKeyExW(gone, nullptr, 0, KEY_READ, &key); },
        [&] { return RegSetValueExW(gone, U16("v"), 0, REG_BINARY, data, 4); },
        [&] { return RegQueryValueExW(gone, U16("v"), nullptr, nullptr, data, &size); },
        [&] { return EnumKey(gone, 0, name, &length); },
        [&] { return RegEnumValueW(gone, 0, name, &length, nullptr, nullptr, nullptr, nullptr); },
        [&] { return RegDeleteValueW(gone, U16("v")); },
        [&] { return RegDeleteKeyW(gone, U16("")); },
    };
    for (std::size_t index = 0; index < std::size(calls); ++index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(calls[index](), ERROR_KEY_DELETED);
        EXPECT_EQ(key, index < 2 ? nullptr : Sentinel);
        EXPECT_EQ(disposition, Untouched);
        key = Sentinel;
    }
    // A new key of the same name is another key: the old handle stays deleted.
    ASSERT_EQ(Create(base, U16("Gone"), &again, &disposition), 0);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(calls[2](), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(again), 0);
    EXPECT_EQ(RegCloseKey(gone), 0);

    EXPECT_EQ(RegCloseKey(gone), ERROR_INVALID_HANDLE) << "closed twice";
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(Bogus), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_CLASSES_ROOT), 0);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, Base, 0, KEY_READ, &key), 0) << "still usable";
    RegCloseKey(key);
}

TEST_F(PlatformRegistry, ThreadsWorkOnTheTreeAtOnce)
{
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (WCHAR thread = '0'; thread < '4'; ++thread) {
        threads.emplace_back([this, thread, &failures] {
            const WideString path = U16("T") + WideString(1, thread) + U16("\\K");
            for (DWORD step = 0, value, size; step < 200; ++step) {
                HKEY key;
                size = 4;
                BYTE* bytes = reinterpret_cast<BYTE*>(&value);
                failures += Create(base, path.c_str(), &key) != 0 ||
                            RegSetValueExW(key, nullptr, 0, REG_DWORD, (const BYTE*)&step, 4) ||
                            RegQueryValueExW(key, nullptr, nullptr, nullptr, bytes, &size) ||
                            value != step || RegCloseKey(key) || RegDeleteKeyW(base, path.c_str());
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(Subkeys(base).size(), 4u);
}

TEST(PlatformVersion, OnlyTheTwoStructureSizesAreAccepted)
{
    for (DWORD size : {0u, 275u, 276u, 277u, 283u, 284u, 285u}) {
        SCOPED_TRACE(size);
        OSVERSIONINFOEXW info;
        std::memset(&info, 0xCC, sizeof info);
        info.dwOSVersionInfoSize = size;
        SetLastError(4321);
        BOOL ok = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
        ASSERT_EQ(ok, size == sizeof(OSVERSIONINFOW) || size == sizeof(OSVERSIONINFOEXW));
        EXPECT_EQ(GetLastError(), 4321u) << "the last error is left alone";
        if (!ok)
            continue;
        DWORD platform = VER_PLATFORM_WIN32_NT, major = 6, minor = 1;
        ReportedVersion(&platform, &major, &minor);
        EXPECT_EQ(info.dwOSVersionInfoSize, size);
        EXPECT_EQ(info.dwPlatformId, platform);
        EXPECT_EQ(info.dwMajorVersion * 100 + info.dwMinorVersion, major * 100 + minor);
        if (major == 6 && minor == 1) {
            EXPECT_EQ(info.dwBuildNumber, 7601u);
            EXPECT_EQ(WideString(info.szCSDVersion), U16("Service Pack 1"));
        }
        const bool ex = size == sizeof(OSVERSIONINFOEXW);
        EXPECT_EQ(unsigned(info.szCSDVersion[127]), 0xCCCCu) << "only the text is written";
        EXPECT_EQ(unsigned(info.wServicePackMajor), ex ? 1u : 0xCCCCu);
        EXPECT_EQ(unsigned(info.wProductType), ex ? unsigned(VER_NT_WORKSTATION) : 0xCCu);
        EXPECT_EQ(unsigned(info.wReserved), 0xCCu);
    }
    if (SetReportedVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10)) {
        OSVERSIONINFOW info;
        info.dwOSVersionInfoSize = sizeof info;
        ASSERT_TRUE(GetVersionExW(&info));
        EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
        EXPECT_EQ(info.dwMajorVersion * 100 + info.dwMinorVersion, 410u);
    }
}

TEST_F(PlatformRegistry, AnArmedCallFailsWithTheChosenError)
{
    // Each call is let through once, then fails with the armed error.
    const LONG error = 1234;
    HKEY key = nullptr, spare = nullptr;
    const BYTE data[4] = {};
    DWORD length = 8, size = 4;
    WCHAR name[8];
    OSVERSIONINFOW info;
    Make(U16("Sub"));
    const std::pair<FaultPoint, Call> cases[] = {
        {FaultRegCreateKey, [&] { return Create(base, U16("New"), &key); }},
        {FaultRegOpenKey, [&] { return RegOpenKeyExW(base, U16("Sub"), 0, KEY_READ, &key); }},
        {FaultRegSetValue, [&] { return RegSetValueExW(base, U16("v"), 0, REG_BINARY, data, 4); }},
        {FaultRegQueryValue,
         [&] { return RegQueryValueExW(base, U16("v"), nullptr, nullptr, nullptr, &size); }},
        {FaultRegEnumKey, [&] { return EnumKey(base, 0, name, &(length = 8)); }},
        {FaultRegEnumValue,
         [&] { return RegEnumValueW(base, 0, name, &(length = 8), nullptr, 0, 0, 0); }},
        {FaultRegDeleteValue, [&] { return RegDeleteValueW(base, U16("v")); }},
        {FaultRegDeleteKey, [&] { return RegDeleteKeyW(base, U16("Sub")); }},
        {FaultRegCloseKey, [&] { return RegCloseKey(spare); }},
        {FaultGetVersion, [&] {
             info.dwOSVersionInfoSize = sizeof info;
             return GetVersionExW(&info) ? 0 : static_cast<LONG>(GetLastError());
         }},
    };
    for (const auto& [point, call] : cases) {
        SCOPED_TRACE(point);
        if (!FaultInjectable(point))
            GTEST_SKIP() << "system calls cannot be made to fail in this build";
        ASSERT_EQ(RegOpenKeyExW(base, nullptr, 0, KEY_READ, &spare), 0);
        ArmFault(point, error, 1);
        EXPECT_EQ(call(), 0);
        const bool opens = point == FaultRegCreateKey || point == FaultRegOpenKey;
        if (opens)
            RegCloseKey(key);
        key = Sentinel;
        SetLastError(0);
        EXPECT_EQ(call(), error);
        EXPECT_EQ(key, opens ? nullptr : Sentinel);
        RegCloseKey(spare);
    }
    EXPECT_EQ(Subkeys(base), Names{U16("New")}) << "each call did its work only when let through";
}

}  // namespace
