#include "errors/checked_calls.h"
#include "errors/file_helpers.h"

#include "platform/fault.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

namespace {

// The message of a failed checked call: system text, then "(label) (code)" and the tail.
std::string Expected(DWORD code, const char* label, const WideString& tail = WideString())
{
    return Printable(SystemText(code) + W("(") + W(label) + W(") (") + W(std::to_string(code)) +
                     W(")") + tail);
}

Bytes Pattern(size_t size)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<BYTE>(i * 7 + 1);
    return bytes;
}

HANDLE OpenOrFail(const TempFile& file)
{
    HANDLE handle = nullptr;
    ErrorBlock* error = OpenFileChecked(file.Name(), &handle);
    EXPECT_EQ(error, nullptr) << (error ? Printable(error->Message) : "");
    return handle;
}

// A handle that was valid and has been closed.
HANDLE ClosedHandle(const TempFile& file)
{
    HANDLE handle = OpenOrFail(file);
    EXPECT_TRUE(CloseHandle(handle));
    return handle;
}

// The calling thread's system error block, found by raising an error into it.
ErrorBlock* SystemBlock()
{
    SetLastError(ERROR_GEN_FAILURE);
    return RaiseSystemError(U16("Probe"), nullptr);
}

// The raw result the last SetFilePointer or GetFileSize call below stored.
DWORD RawResult = 0;

// One checked call on `handle` (or, for CreateFile, on `path`).
struct CheckedCall {
    const char* Label;
    FaultPoint Point;
    bool Detail;  // CreateFile's detail is the path; SetFilePointer's is empty
    bool HasResult;
    DWORD SuccessResult;  // on the ten-byte test file
    std::function<ErrorBlock*(HANDLE handle, LPCWSTR path)> Call;
};

const CheckedCall CheckedCalls[] = {
    {"CreateFile", FaultCreateFile, true, false, 0,
     [](HANDLE, LPCWSTR path) {
         HANDLE got = nullptr;
         ErrorBlock* error = CheckedCreateFile(&got, path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
         if (error != nullptr) {
             EXPECT_EQ(got, INVALID_HANDLE_VALUE);
         } else if (got != INVALID_HANDLE_VALUE) {
             CloseHandle(got);
         }
         return error;
     }},
    {"ReadFile", FaultReadFile, false, false, 0,
     [](HANDLE handle, LPCWSTR) {
         BYTE buffer[4];
         DWORD got = 99;
         return CheckedReadFile(handle, buffer, sizeof buffer, &got);
     }},
    {"SetFilePointer", FaultSetFilePointer, true, true, 3,
     [](HANDLE handle, LPCWSTR) {
         RawResult = 0;
         return CheckedSetFilePointer(&RawResult, handle, 3, FILE_BEGIN);
     }},
    {"GetFileSize", FaultGetFileSize, false, true, 10,
     [](HANDLE handle, LPCWSTR) {
         RawResult = 0;
         return CheckedGetFileSize(&RawResult, handle);
     }},
    {"CloseHandle", FaultCloseHandle, false, false, 0,
     [](HANDLE handle, LPCWSTR) { return CheckedCloseHandle(handle); }},
};

WideString TailOf(const CheckedCall& call, LPCWSTR path)
{
    if (!call.Detail)
        return WideString();
    return W(" (") + (call.Point == FaultCreateFile ? WideString(path) : WideString()) + W(")");
}

}  // namespace

TEST(CheckedCalls, SucceedWhateverTheLastErrorWas)
{
    TempFile file(Pattern(10));
    for (const CheckedCall& call : CheckedCalls) {
        SCOPED_TRACE(call.Label);
        HANDLE handle = OpenOrFail(file);
        SetLastError(ERROR_ACCESS_DENIED);
        EXPECT_EQ(call.Call(handle, file.Name()), nullptr);
        if (call.HasResult) {
            EXPECT_EQ(RawResult, call.SuccessResult);
        }
        if (call.Point != FaultCloseHandle)
            CloseHandle(handle);
    }
    // Opening an existing file with OPEN_ALWAYS succeeds with a last error set.
    HANDLE handle = nullptr;
    EXPECT_EQ(CheckedCreateFile(&handle, file.Name(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    CloseHandle(handle);
}

TEST(CheckedCalls, FailuresOnAClosedHandleCarryTheCallsLabel)
{
    TempFile file(Pattern(10));
    for (const CheckedCall& call : CheckedCalls) {
        if (call.Point == FaultCreateFile)
            continue;
        SCOPED_TRACE(call.Label);
        ErrorBlock* error = call.Call(ClosedHandle(file), file.Name());
        ASSERT_NE(error, nullptr);
        EXPECT_FALSE(IsProgramError(error));
        EXPECT_EQ(error->Number, ERROR_INVALID_HANDLE);
        EXPECT_EQ(Printable(error->Message),
                  Expected(ERROR_INVALID_HANDLE, call.Label, TailOf(call, file.Name())));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        if (call.HasResult) {
            EXPECT_EQ(RawResult, 0xFFFFFFFFu);
        }
    }
}

TEST(CheckedCalls, InjectedFailures)
{
    TempFile file(Pattern(10));
    for (const CheckedCall& call : CheckedCalls) {
        SCOPED_TRACE(call.Label);
        if (!FaultInjectable(call.Point))
            GTEST_SKIP() << "system calls cannot be made to fail here";
        ResetFaults();
        // A failure is reported with the error it leaves...
        HANDLE handle = OpenOrFail(file);
        ArmFault(call.Point, ERROR_IO_DEVICE);
        ErrorBlock* error = call.Call(handle, file.Name());
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->Number, ERROR_IO_DEVICE);
        EXPECT_EQ(Printable(error->Message),
                  Expected(ERROR_IO_DEVICE, call.Label, TailOf(call, file.Name())));
        // ...and one that leaves no error counts as success.
        ArmFault(call.Point, 0);
        EXPECT_EQ(call.Call(handle, file.Name()), nullptr);
        if (call.HasResult) {
            EXPECT_EQ(RawResult, 0xFFFFFFFFu);
        }
        EXPECT_EQ(FaultCallCount(call.Point), call.Point == FaultCreateFile ? 3u : 2u);
        CloseHandle(handle);
    }
}

TEST(OpenFileChecked, FailuresGiveANullHandleAndNameThePath)
{
    const WideString missing = WidePath(TestFolder() / "missing.zcv");
    const WideString folder = WidePath(TestFolder());
    struct Case {
        const char* What;
        const WideString& Path;
        DWORD Code;
    } cases[] = {
        {"missing file", missing, ERROR_FILE_NOT_FOUND},
        {"folder", folder, ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        HANDLE handle = reinterpret_cast<HANDLE>(0x1234);
        ErrorBlock* error = OpenFileChecked(c.Path.c_str(), &handle);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(error->Number, static_cast<LONG>(c.Code));
        EXPECT_EQ(Printable(error->Message), Expected(c.Code, "CreateFile", W(" (") + c.Path + W(")")));
    }
    EXPECT_FALSE(std::filesystem::exists(TestFolder() / "missing.zcv"));
}

TEST(OpenFileChecked, OpensForReadingAndLetsOthersOnlyRead)
{
    TempFile file(Pattern(10));
    HANDLE handle = OpenOrFail(file);
    ASSERT_NE(handle, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);

    BYTE byte = 0;
    DWORD count = 0;
    EXPECT_TRUE(ReadFile(handle, &byte, 1, &count, nullptr));
    EXPECT_EQ(byte, Pattern(1)[0]);
    EXPECT_FALSE(WriteFile(handle, &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    HANDLE reader = CreateFileW(file.Name(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    HANDLE writer = CreateFileW(file.Name(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(CloseHandle(handle));
}

TEST(ReadExact, AssemblesTheCountWhateverEachReadBrings)
{
    const Bytes contents = Pattern(20);
    TempFile file(contents);
    const DWORD limits[] = {0, 1, 3, 7, 10};
    for (DWORD limit : limits) {
        SCOPED_TRACE(limit);
        ResetFaults();
        LimitReadSize(limit);
        HANDLE handle = OpenOrFail(file);
        SeekTo(handle, 2);
        Bytes buffer(12, 0xEE);
        EXPECT_EQ(ReadExact(handle, buffer.data(), 10), nullptr);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 10),
                  Bytes(contents.begin() + 2, contents.begin() + 12));
        EXPECT_EQ(buffer[10], 0xEE);
        LONG position = 0;
        EXPECT_EQ(GetFilePosition(handle, &position), nullptr);
        EXPECT_EQ(position, 12);
        if (FaultInjectable(FaultReadFile)) {
            EXPECT_EQ(FaultCallCount(FaultReadFile), limit == 0 ? 1u : (10 + limit - 1) / limit);
        }
        CloseHandle(handle);
    }
}

TEST(ReadExact, NothingToReadCallsNothing)
{
    TempFile file(Pattern(4));
    BYTE buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(ReadExact(ClosedHandle(file), buffer, 0), nullptr);
    EXPECT_EQ(ReadExact(nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(buffer[0], 0xEE);
    if (FaultInjectable(FaultReadFile)) {
        EXPECT_EQ(FaultCallCount(FaultReadFile), 0u);
    }
}

TEST(ReadExact, ARunOutFileIsAShortRead)
{
    const Bytes contents = Pattern(5);
    TempFile file(contents);
    struct Case {
        DWORD Limit;
        LONG Start;
        DWORD Count;
    } cases[] = {{0, 0, 8}, {2, 0, 8}, {0, 5, 1}, {0, 9, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Limit << " " << c.Start << " " << c.Count);
        LimitReadSize(c.Limit);
        HANDLE handle = OpenOrFail(file);
        SeekTo(handle, c.Start);
        Bytes buffer(c.Count, 0xEE);
        ErrorBlock* error = ReadExact(handle, buffer.data(), c.Count);
        ASSERT_NE(error, nullptr);
        EXPECT_TRUE(IsProgramError(error));
        EXPECT_EQ(error->Number, ProgramErrorShortRead);
        EXPECT_EQ(Printable(error->Message), "ENOE");
        // What the file had stays in the buffer.
        for (DWORD i = 0; i < c.Count; ++i) {
            size_t at = static_cast<size_t>(c.Start) + i;
            EXPECT_EQ(buffer[i], at < contents.size() ? contents[at] : 0xEE) << i;
        }
        CloseHandle(handle);
    }
}

TEST(ReadExact, AFailedReadReportsThatCall)
{
    TempFile file(Pattern(10));
    BYTE buffer[8] = {};
    ErrorBlock* error = ReadExact(ClosedHandle(file), buffer, sizeof buffer);
    ASSERT_NE(error, nullptr);
    EXPECT_FALSE(IsProgramError(error));
    EXPECT_EQ(Printable(error->Message), Expected(ERROR_INVALID_HANDLE, "ReadFile"));

    if (!FaultInjectable(FaultReadFile))
        GTEST_SKIP() << "a read cannot be made to fail part way here";
    LimitReadSize(3);
    ArmFault(FaultReadFile, ERROR_IO_DEVICE, 1);
    HANDLE handle = OpenOrFail(file);
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    error = ReadExact(handle, buffer, sizeof buffer);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->Number, ERROR_IO_DEVICE);
    EXPECT_EQ(Printable(error->Message), Expected(ERROR_IO_DEVICE, "ReadFile"));
    EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{Pattern(3)[0], Pattern(3)[1], Pattern(3)[2], 0xEE}));
    CloseHandle(handle);
}

TEST(FilePosition, SeekToAndGetFilePosition)
{
    TempFile file(Pattern(10));
    HANDLE handle = OpenOrFail(file);
    struct Step {
        LONG SeekTo;
        LONG Position;
    } steps[] = {
        {4, 4}, {0, 0}, {10, 10}, {25, 25},  // beyond the end is a position too
        {-1, 25},                            // before the start: refused, quietly
        {0x7FFFFFFF, 0x7FFFFFFF},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.SeekTo);
        SeekTo(handle, step.SeekTo);
        LONG position = -99;
        EXPECT_EQ(GetFilePosition(handle, &position), nullptr);
        EXPECT_EQ(position, step.Position);
    }
    // Past 2 GiB the position reads as negative.
    ASSERT_EQ(SetFilePointer(handle, 1, nullptr, FILE_CURRENT), 0x80000000u);
    LONG position = 0;
    EXPECT_EQ(GetFilePosition(handle, &position), nullptr);
    EXPECT_EQ(position, static_cast<LONG>(-2147483647 - 1));
    CloseHandle(handle);

    position = 7;
    ErrorBlock* error = GetFilePosition(ClosedHandle(file), &position);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(Printable(error->Message), Expected(ERROR_INVALID_HANDLE, "SetFilePointer", W(" ()")));
    EXPECT_EQ(position, 7);
}

TEST(FilePosition, AnAllOnesPositionWithoutErrorIsMinusOne)
{
    if (!FaultInjectable(FaultSetFilePointer))
        GTEST_SKIP() << "SetFilePointer cannot be made to fail here";
    TempFile file(Pattern(10));
    HANDLE handle = OpenOrFail(file);
    ArmFault(FaultSetFilePointer, 0);
    LONG position = 0;
    EXPECT_EQ(GetFilePosition(handle, &position), nullptr);
    EXPECT_EQ(position, -1);
    CloseHandle(handle);
}

TEST(AtEndOfFile, ComparesThePositionWithTheSize)
{
    struct Case {
        size_t Size;
        LONG Position;
        bool AtEnd;
    } cases[] = {
        {0, 0, true}, {0, 3, true}, {10, 10, true}, {10, 9, false},
        {10, 0, false}, {10, 11, true}, {1, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Size << " at " << c.Position);
        TempFile file(Pattern(c.Size));
        HANDLE handle = OpenOrFail(file);
        SeekTo(handle, c.Position);
        for (bool before : {false, true}) {
            bool atEnd = before;
            EXPECT_EQ(AtEndOfFile(handle, &atEnd), nullptr);
            EXPECT_EQ(atEnd, c.AtEnd);
        }
        // Asking does not move.
        LONG position = -1;
        EXPECT_EQ(GetFilePosition(handle, &position), nullptr);
        EXPECT_EQ(position, c.Position);
        CloseHandle(handle);
    }

    // Both are signed: a position past 2 GiB is before the end of a small file.
    TempFile file(Pattern(10));
    HANDLE handle = OpenOrFail(file);
    SeekTo(handle, 0x7FFFFFFF);
    ASSERT_EQ(SetFilePointer(handle, 1, nullptr, FILE_CURRENT), 0x80000000u);
    bool atEnd = true;
    EXPECT_EQ(AtEndOfFile(handle, &atEnd), nullptr);
    EXPECT_FALSE(atEnd);
    CloseHandle(handle);
}

TEST(AtEndOfFile, FailuresLeaveTheFlagAlone)
{
    TempFile file(Pattern(10));
    for (bool before : {false, true}) {
        bool atEnd = before;
        ErrorBlock* error = AtEndOfFile(ClosedHandle(file), &atEnd);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(Printable(error->Message), Expected(ERROR_INVALID_HANDLE, "GetFileSize"));
        EXPECT_EQ(atEnd, before);
    }
    if (!FaultInjectable(FaultSetFilePointer))
        GTEST_SKIP() << "SetFilePointer cannot be made to fail here";
    HANDLE handle = OpenOrFail(file);
    for (bool before : {false, true}) {
        ArmFault(FaultSetFilePointer, ERROR_INVALID_PARAMETER);
        bool atEnd = before;
        ErrorBlock* error = AtEndOfFile(handle, &atEnd);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->Number, ERROR_INVALID_PARAMETER);
        EXPECT_EQ(Printable(error->Message),
                  Expected(ERROR_INVALID_PARAMETER, "SetFilePointer", W(" ()")));
        EXPECT_EQ(atEnd, before);
    }
    CloseHandle(handle);
}

// A size that reads as 0xFFFFFFFF without an error gives no answer: the flag keeps whatever
// the caller put there, and the caller decides (the scan takes it as the end).
TEST(AtEndOfFile, AnAllOnesSizeGivesNoAnswer)
{
    if (!FaultInjectable(FaultGetFileSize))
        GTEST_SKIP() << "GetFileSize cannot be made to fail here";
    TempFile file(Pattern(10));
    HANDLE handle = OpenOrFail(file);
    for (bool before : {false, true}) {
        ArmFault(FaultGetFileSize, 0);
        bool atEnd = before;
        EXPECT_EQ(AtEndOfFile(handle, &atEnd), nullptr);
        EXPECT_EQ(atEnd, before);
    }
    CloseHandle(handle);
}

TEST(CloseDocument, TrueOnlyWhenClosingFails)
{
    TempFile file(Pattern(4));
    HANDLE handle = OpenOrFail(file);
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(CloseDocument(handle));

    ErrorBlock* block = SystemBlock();
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(CloseDocument(handle));
    EXPECT_EQ(block->Number, ERROR_INVALID_HANDLE);
    EXPECT_EQ(Printable(block->Message), Expected(ERROR_INVALID_HANDLE, "CloseHandle"));
}

TEST(AllocZeroed, GivesZeroedBlocksOfAtLeastOneByte)
{
    const SIZE_T sizes[] = {0, 1, 3, 4096};
    for (SIZE_T size : sizes) {
        SCOPED_TRACE(size);
        ResetFaults();
        BYTE* block = nullptr;
        ASSERT_EQ(AllocZeroed(&block, size), nullptr);
        ASSERT_NE(block, nullptr);
        SIZE_T usable = std::max<SIZE_T>(size, 1);
        EXPECT_EQ(LargestAllocation(), usable);
        EXPECT_TRUE(std::all_of(block, block + usable, [](BYTE b) { return b == 0; }));
        block[usable - 1] = 0x5A;
        FreeAndClear(&block);
        EXPECT_EQ(block, nullptr);
    }
}

TEST(AllocZeroed, AFailedAllocationIsProgramError2)
{
    ArmFault(FaultAllocate, 0);
    void* block = &block;
    ErrorBlock* error = AllocZeroed(&block, 64);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(block, nullptr);
    EXPECT_TRUE(IsProgramError(error));
    EXPECT_EQ(error->Number, ProgramErrorNoMemory);
    EXPECT_EQ(Printable(error->Message), "ENOE");

    ArmFault(FaultAllocate, 0);
    int* numbers = reinterpret_cast<int*>(&block);
    EXPECT_EQ(AllocZeroed(&numbers, 4 * sizeof(int)), error);
    EXPECT_EQ(numbers, nullptr);
}

TEST(FreeAndClear, ClearsThePointerAndAcceptsNull)
{
    void* block = nullptr;
    ASSERT_EQ(AllocZeroed(&block, 8), nullptr);
    FreeAndClear(&block);
    EXPECT_EQ(block, nullptr);
    FreeAndClear(&block);
    EXPECT_EQ(block, nullptr);
    int* numbers = nullptr;
    FreeAndClear(&numbers);
    EXPECT_EQ(numbers, nullptr);
}
