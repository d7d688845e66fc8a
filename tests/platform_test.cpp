// Conformance of the file calls the system makes: the same cases run against the real platform
// (Windows build, under Wine) and against our stand-in, so the stand-in cannot drift from it.
#include "platform/fault.h"
#include "platform/platform.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

HANDLE OpenForRead(LPCWSTR name, DWORD share = FILE_SHARE_READ)
{
    return CreateFileW(name, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

struct OpenFailure {
    const char* Case;
    std::filesystem::path (*Path)(const std::filesystem::path& existing);
    DWORD Disposition;
    DWORD Error;
};

TEST(PlatformFiles, OpenFailuresReportThePlatformsCodes)
{
    const OpenFailure cases[] = {
        {"missing file", [](const std::filesystem::path&) { return TestFolder() / "missing.zcv"; },
         OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {"missing folder",
         [](const std::filesystem::path&) { return TestFolder() / "no-folder" / "a.zcv"; },
         OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {"file used as folder",
         [](const std::filesystem::path& existing) { return existing / "a.zcv"; }, OPEN_EXISTING,
         ERROR_PATH_NOT_FOUND},
        {"folder", [](const std::filesystem::path&) { return TestFolder(); }, OPEN_EXISTING,
         ERROR_ACCESS_DENIED},
        {"empty name", [](const std::filesystem::path&) { return std::filesystem::path(); },
         OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {"create new over existing",
         [](const std::filesystem::path& existing) { return existing; }, CREATE_NEW,
         ERROR_FILE_EXISTS},
    };
    TempFile existing(Bytes(10, 1));
    for (const OpenFailure& c : cases) {
        SCOPED_TRACE(c.Case);
        WideString name = WidePath(c.Path(existing.Path()));
        SetLastError(0);
        HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    c.Disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.Error);
    }
}

struct SharingCase {
    const char* Case;
    DWORD HeldAccess, HeldShare, Access, Share;
    bool Opens;
};

TEST(PlatformFiles, SharingModesDecideASecondOpen)
{
    const DWORD read = GENERIC_READ, write = GENERIC_WRITE;
    const DWORD shareRead = FILE_SHARE_READ, shareBoth = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const SharingCase cases[] = {
        {"two readers sharing reads", read, shareRead, read, shareRead, true},
        {"reader while a writer denies reads", write, 0, read, shareRead, false},
        {"reader that denies writes while a writer holds it", write, shareBoth, read, shareRead,
         false},
        {"reader alongside a writer that shares", write, shareBoth, read, shareBoth, true},
        {"writer while a reader denies writes", read, shareRead, write, shareBoth, false},
    };
    TempFile file(Bytes(10, 1));
    for (const SharingCase& c : cases) {
        SCOPED_TRACE(c.Case);
        HANDLE held = CreateFileW(file.Name(), c.HeldAccess, c.HeldShare, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        HANDLE second = CreateFileW(file.Name(), c.Access, c.Share, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD error = GetLastError();
        if (c.Opens) {
            EXPECT_NE(second, INVALID_HANDLE_VALUE);
            CloseHandle(second);
        } else {
            EXPECT_EQ(second, INVALID_HANDLE_VALUE);
            EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
        CloseHandle(held);
    }
}

TEST(PlatformFiles, ReadSeekAndSizeOnAnOpenFile)
{
    Bytes contents;
    for (int i = 0; i < 100; ++i)
        contents.push_back(static_cast<BYTE>(i));
    TempFile file(contents);
    HANDLE handle = OpenForRead(file.Name());
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);

    DWORD high = 7;
    EXPECT_EQ(GetFileSize(handle, &high), 100u);
    EXPECT_EQ(high, 0u);

    BYTE buffer[8] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(handle, buffer, 8, &got, nullptr));
    EXPECT_EQ(got, 8u);
    EXPECT_EQ(buffer[7], 7);
    EXPECT_EQ(SetFilePointer(handle, 0, nullptr, FILE_CURRENT), 8u);
    EXPECT_EQ(SetFilePointer(handle, -10, nullptr, FILE_END), 90u);
    EXPECT_EQ(SetFilePointer(handle, 5, nullptr, FILE_CURRENT), 95u);

    // Beyond the end: the seek succeeds and a read then brings nothing, successfully.
    EXPECT_EQ(SetFilePointer(handle, 1000, nullptr, FILE_BEGIN), 1000u);
    ASSERT_TRUE(ReadFile(handle, buffer, 8, &got, nullptr));
    EXPECT_EQ(got, 0u);

    // Before the start: refused, and the position stays.
    SetLastError(0);
    EXPECT_EQ(SetFilePointer(handle, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(SetFilePointer(handle, 0, nullptr, FILE_CURRENT), 1000u);
    EXPECT_TRUE(CloseHandle(handle));
}

TEST(PlatformFiles, ReadingAFileOpenedOnlyForWritingIsDenied)
{
    TempFile file(Bytes(10, 1));
    HANDLE handle = CreateFileW(file.Name(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    BYTE buffer[4];
    DWORD got = 0;
    EXPECT_FALSE(ReadFile(handle, buffer, 4, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(handle);
}

TEST(PlatformFiles, EveryCallOnAClosedHandleReportsAnInvalidHandle)
{
    TempFile file(Bytes(10, 1));
    HANDLE handle = OpenForRead(file.Name());
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(handle));

    BYTE buffer[4];
    DWORD got = 0;
    SetLastError(0);
    EXPECT_FALSE(ReadFile(handle, buffer, 4, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_EQ(SetFilePointer(handle, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_EQ(GetFileSize(handle, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    // The null handle is never valid; INVALID_HANDLE_VALUE names the current process, which
    // closes without complaint.
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(INVALID_HANDLE_VALUE));
    SetLastError(0);
    EXPECT_EQ(GetFileSize(INVALID_HANDLE_VALUE, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(PlatformMessages, SystemTextsForTheCodesTheFilterMeets)
{
    const DWORD codes[] = {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,  ERROR_ACCESS_DENIED,
                           ERROR_INVALID_HANDLE, ERROR_NOT_ENOUGH_MEMORY, ERROR_SHARING_VIOLATION,
                           ERROR_NEGATIVE_SEEK,  ERROR_INVALID_PARAMETER, ERROR_HANDLE_EOF};
    for (DWORD code : codes) {
        SCOPED_TRACE(code);
        WCHAR text[252];
        DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, text, 252, nullptr);
        ASSERT_GT(length, 2u);
        EXPECT_EQ(text[length], 0);
        // System texts end with a line break.
        EXPECT_EQ(text[length - 2], U16('\r'));
        EXPECT_EQ(text[length - 1], U16('\n'));
    }
}

TEST(PlatformMessages, UnknownCodesAndShortBuffersAreRefused)
{
    WCHAR text[252];
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    EXPECT_EQ(FormatMessageW(flags, nullptr, 0x2AAAAAAA, 0, text, 252, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    EXPECT_EQ(FormatMessageW(flags, nullptr, ERROR_FILE_NOT_FOUND, 0, text, 5, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(PlatformErrors, TheLastErrorBelongsToEachThread)
{
    // The threads hand over through atomics alone: any system call in between, such as a wait,
    // could itself set the last error.
    std::atomic<int> step{0};
    DWORD seenByOther = 99;
    std::thread other([&] {
        while (step.load() != 1) {
        }
        seenByOther = GetLastError();
        SetLastError(5678);
        step = 2;
    });
    SetLastError(1234);
    step = 1;
    while (step.load() != 2) {
    }
    EXPECT_EQ(GetLastError(), 1234u);
    other.join();
    EXPECT_NE(seenByOther, 1234u);
}

TEST(PlatformFaults, AnArmedCallFailsWithTheChosenErrorAfterTheSkippedCalls)
{
    if (!FaultInjectable(FaultReadFile))
        GTEST_SKIP() << "system calls cannot be made to fail in this build";
    TempFile file(Bytes(10, 1));
    HANDLE handle = OpenForRead(file.Name());
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ArmFault(FaultReadFile, ERROR_CRC, 1, 2);
    BYTE buffer[2];
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(handle, buffer, 2, &got, nullptr));
    for (int failing = 0; failing < 2; ++failing) {
        EXPECT_FALSE(ReadFile(handle, buffer, 2, &got, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CRC));
    }
    EXPECT_TRUE(ReadFile(handle, buffer, 2, &got, nullptr));
    EXPECT_EQ(FaultCallCount(FaultReadFile), 4u);
    CloseHandle(handle);
}

TEST(PlatformFaults, AllocationsCanBeMadeToFailInEveryBuild)
{
    ASSERT_TRUE(FaultInjectable(FaultAllocate));
    ArmFault(FaultAllocate, 0, 1);
    void* first = ZeroedAllocate(16);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(ZeroedAllocate(4096), nullptr);
    EXPECT_EQ(LargestAllocation(), 4096u);
    std::free(first);
}

TEST(PlatformCom, InterlockedCountsLoseNoStep)
{
    LONG volatile count = 0;
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&count] {
            for (int step = 0; step < 100000; ++step) {
                InterlockedIncrement(&count);
                InterlockedIncrement(&count);
                InterlockedDecrement(&count);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(count, 400000);
    EXPECT_EQ(InterlockedDecrement(&count), 399999) << "the new value is returned";
}

TEST(PlatformCom, InterfaceIdentifiersHaveThePlatformsValues)
{
    const std::pair<const IID*, DWORD> known[] = {{&IID_IUnknown, 0x00000000},
                                                  {&IID_IClassFactory, 0x00000001},
                                                  {&IID_IPersist, 0x0000010c},
                                                  {&IID_IPersistFile, 0x0000010b}};
    const IID filter = {0x89bcb740, 0x6119, 0x101a, {0xbc, 0xb7, 0x00, 0xdd, 0x01, 0x06, 0x55, 0xaf}};
    for (const auto& [iid, first] : known) {
        const IID expected = {first, 0, 0, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};
        EXPECT_TRUE(IsEqualGUID(*iid, expected)) << std::hex << first;
    }
    EXPECT_TRUE(IsEqualGUID(IID_IFilter, filter));
    EXPECT_FALSE(IsEqualGUID(IID_IPersist, IID_IPersistFile));
}

#ifndef _WIN32
TEST(PlatformCom, DefaultLocaleFollowsTheEnvironment)
{
    struct Case {
        const char* All;
        const char* Ctype;
        const char* Lang;
        LCID Expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, 0x0409},        {"C", nullptr, "de_DE.UTF-8", 0x0409},
        {"POSIX", nullptr, nullptr, 0x0409},        {nullptr, nullptr, "de_DE.UTF-8", 0x0407},
        {nullptr, "fr_CA.UTF-8", "de_DE", 0x0c0c},  {"en_GB.UTF-8@euro", "fr_FR", nullptr, 0x0809},
        {"de_XX.UTF-8", nullptr, nullptr, 0x0407},  {"ja_JP.eucJP", nullptr, nullptr, 0x0411},
        {"pt", nullptr, nullptr, 0x0816},           {"xx_YY", nullptr, nullptr, 0x0409},
        {"", nullptr, "sv_SE", 0x041d},             {"e", nullptr, nullptr, 0x0409},
    };
    const char* names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    std::string saved[3];
    bool had[3];
    for (int index = 0; index < 3; ++index) {
        const char* value = std::getenv(names[index]);
        had[index] = value != nullptr;
        saved[index] = value ? value : "";
    }
    for (const Case& c : cases) {
        const char* values[] = {c.All, c.Ctype, c.Lang};
        for (int index = 0; index < 3; ++index) {
            if (values[index] != nullptr)
                setenv(names[index], values[index], 1);
            else
                unsetenv(names[index]);
        }
        EXPECT_EQ(GetSystemDefaultLCID(), c.Expected)
            << (c.All ? c.All : "-") << " " << (c.Ctype ? c.Ctype : "-") << " " << (c.Lang ? c.Lang : "-");
    }
    for (int index = 0; index < 3; ++index) {
        if (had[index])
            setenv(names[index], saved[index].c_str(), 1);
        else
            unsetenv(names[index]);
    }
}
#endif

}  // namespace
