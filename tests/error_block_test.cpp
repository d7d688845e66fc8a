#include "errors/error_block.h"

#include "errors/placeholders.h"
#include "platform/fault.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>

namespace {

bool IsHighSurrogate(WCHAR unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

// What a message of `full` becomes in the block: cut to the capacity, never inside a pair.
WideString Cut(WideString full)
{
    if (full.size() >= ErrorMessageCapacity)
        full.resize(ErrorMessageCapacity - 1);
    if (!full.empty() && IsHighSurrogate(full.back()))
        full.pop_back();
    return full;
}

const DWORD NoSystemText = 0x2AAAAAAA;

}  // namespace

TEST(RaiseSystemError, NoErrorWhenTheLastErrorIsZero)
{
    SetLastError(0);
    EXPECT_EQ(RaiseSystemError(U16("ReadFile"), nullptr), nullptr);
    EXPECT_EQ(RaiseSystemError(U16("CreateFile"), U16("%s"), U16("x")), nullptr);
}

TEST(RaiseSystemError, SystemTextThenLabelCodeAndDetail)
{
    struct Case {
        DWORD Code;
        LPCWSTR Label;
        LPCWSTR Format;  // null: no detail
        LPCWSTR Text;
        int Number;
        const char* Suffix;
    } cases[] = {
        {ERROR_FILE_NOT_FOUND, U16("CreateFile"), U16("%s"), U16("C:\\doc.zcv"), 0,
         "(CreateFile) (2) (C:\\u005Cdoc.zcv)"},
        {ERROR_INVALID_HANDLE, U16("ReadFile"), nullptr, U16("ignored"), 0, "(ReadFile) (6)"},
        {ERROR_NEGATIVE_SEEK, U16("SetFilePointer"), U16(""), nullptr, 0,
         "(SetFilePointer) (131) ()"},
        {ERROR_ACCESS_DENIED, U16("Label"), U16("%s at %d"), U16("name"), -12,
         "(Label) (5) (name at -12)"},
        // A detail is text, not a format: directives in it stay as they are.
        {ERROR_SHARING_VIOLATION, U16("CreateFile"), U16("%s"), U16("50%s %d%.zcv"), 0,
         "(CreateFile) (32) (50%s %d%.zcv)"},
        // No system text: the suffix alone.
        {NoSystemText, U16("GetFileSize"), nullptr, nullptr, 0, "(GetFileSize) (715827882)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Suffix);
        SetLastError(c.Code);
        ErrorBlock* block = c.Format != nullptr
                                ? RaiseSystemError(c.Label, c.Format, c.Text, c.Number)
                                : RaiseSystemError(c.Label, nullptr);
        EXPECT_EQ(GetLastError(), c.Code);
        ASSERT_NE(block, nullptr);
        EXPECT_FALSE(IsProgramError(block));
        EXPECT_EQ(block->Number, static_cast<LONG>(c.Code));
        EXPECT_EQ(Printable(block->Message), Printable(SystemText(c.Code)) + c.Suffix);
    }
    EXPECT_TRUE(SystemText(NoSystemText).empty());
}

TEST(RaiseSystemError, WithoutSystemTextTheSuffixStandsAloneAndTheLastErrorStays)
{
    if (!FaultInjectable(FaultFormatMessage))
        GTEST_SKIP() << "the system's FormatMessageW cannot be made to fail";
    ArmFault(FaultFormatMessage, ERROR_INSUFFICIENT_BUFFER);
    SetLastError(ERROR_FILE_NOT_FOUND);
    ErrorBlock* block = RaiseSystemError(U16("CreateFile"), U16("%s"), U16("a.zcv"));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(FaultCallCount(FaultFormatMessage), 1u);
    EXPECT_EQ(Printable(block->Message), "(CreateFile) (2) (a.zcv)");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(RaiseSystemError, LongMessagesAreCutWithoutSplittingAPair)
{
    const DWORD code = ERROR_FILE_NOT_FOUND;
    const WideString head = SystemText(code) + W("(CreateFile) (2) (");
    std::set<size_t> lengths;
    // Either parity of the cut: one lands between two pairs, the other inside one.
    for (size_t lead = 0; lead < 2; ++lead) {
        WideString detail(lead, U16('x'));
        for (int i = 0; i < 200; ++i)
            detail += {static_cast<WCHAR>(0xD83D), static_cast<WCHAR>(0xDE00)};
        SetLastError(code);
        ErrorBlock* block = RaiseSystemError(U16("CreateFile"), U16("%s"), detail.c_str());
        ASSERT_NE(block, nullptr);
        WideString message(block->Message);
        EXPECT_EQ(Printable(message), Printable(Cut(head + detail + W(")")))) << lead;
        lengths.insert(message.size());
    }
    EXPECT_EQ(lengths, (std::set<size_t>{ErrorMessageCapacity - 2, ErrorMessageCapacity - 1}));

    // A detail longer than any message, in plain text.
    WideString detail(700, U16('d'));
    SetLastError(code);
    ErrorBlock* block = RaiseSystemError(U16("CreateFile"), U16("%s"), detail.c_str());
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(Printable(block->Message), Printable(Cut(head + detail)));
    EXPECT_EQ(block->Number, static_cast<LONG>(code));
}

TEST(RaiseSystemError, EachThreadHasItsOwnBlock)
{
    SetLastError(ERROR_ACCESS_DENIED);
    ErrorBlock* mine = RaiseSystemError(U16("Main"), nullptr);
    ASSERT_NE(mine, nullptr);
    const WideString before = mine->Message;

    ErrorBlock* theirs = nullptr;
    WideString theirMessage;
    std::thread other([&] {
        SetLastError(ERROR_INVALID_HANDLE);
        theirs = RaiseSystemError(U16("Other"), nullptr);
        if (theirs != nullptr)
            theirMessage = theirs->Message;
    });
    other.join();
    ASSERT_NE(theirs, nullptr);
    EXPECT_NE(theirs, mine);
    EXPECT_EQ(Printable(theirMessage), Printable(SystemText(ERROR_INVALID_HANDLE)) + "(Other) (6)");
    EXPECT_EQ(mine->Number, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Printable(mine->Message), Printable(before));
}

TEST(RaiseProgramError, WithoutTablesEveryMessageIsTheDefault)
{
    const LONG numbers[] = {ProgramErrorNoMemory, ProgramErrorShortRead, 0, 1, -7, 100000};
    for (LONG number : numbers) {
        SCOPED_TRACE(number);
        ErrorBlock* block = RaiseProgramError(number);
        ASSERT_NE(block, nullptr);
        EXPECT_TRUE(IsProgramError(block));
        EXPECT_EQ(block->Number, number);
        EXPECT_EQ(Printable(block->Message), "ENOE");
    }
}

TEST(RaiseProgramError, SearchesTheChainInOrderAndExpandsTheText)
{
    const MessageTableEntry first[] = {
        {1, U16("one")}, {2, U16("two, first")}, {0, nullptr}, {5, U16("after the end")}};
    const MessageTableEntry second[] = {
        {2, U16("two, second")}, {3, U16("three {X} {{Y}")}, {-4, U16("minus four")}, {0, nullptr}};
    const MessageTableEntry unreachable[] = {{6, U16("six")}, {0, nullptr}};
    const MessageTableEntry* const chain[] = {first, second, nullptr, unreachable};
    InstallMessageTables(chain);
    struct Case {
        LONG Number;
        const char* Expected;
    } cases[] = {
        {1, "one"},         {2, "two, first"}, {3, "three X {Y}"}, {-4, "minus four"},
        {5, "ENOE"},        {6, "ENOE"},       {0, "ENOE"},        {7, "ENOE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Number);
        ErrorBlock* block = RaiseProgramError(c.Number);
        EXPECT_EQ(block->Number, c.Number);
        EXPECT_EQ(Printable(block->Message), c.Expected);
    }

    // The default message is a placeholder too.
    const WCHAR table[] = U16("ENOE\0no message for this error\0");
    InstallSubstitutionTable(table);
    EXPECT_EQ(Printable(RaiseProgramError(7)->Message), "no message for this error");
    EXPECT_EQ(Printable(RaiseProgramError(3)->Message), "three X {Y}");
}

TEST(RaiseProgramError, ExpandsWithinTheBlock)
{
    const WCHAR table[] = U16("A\0alpha\0");
    InstallSubstitutionTable(table);
    // 246 + "alpha" puts the terminator in the block's last unit; one more unit does not fit.
    const WideString fits = WideString(246, U16('m')) + U16("{A}");
    const WideString over = WideString(247, U16('m')) + U16("{A}");
    const MessageTableEntry messages[] = {{1, fits.c_str()}, {2, over.c_str()}, {0, nullptr}};
    const MessageTableEntry* const chain[] = {messages, nullptr};
    InstallMessageTables(chain);
    EXPECT_EQ(Printable(RaiseProgramError(1)->Message), std::string(246, 'm') + "alpha");
    EXPECT_EQ(Printable(RaiseProgramError(2)->Message), std::string(247, 'm') + "{A}");
}

TEST(IsProgramError, TellsTheBlocksApart)
{
    SetLastError(ERROR_INVALID_HANDLE);
    ErrorBlock* system = RaiseSystemError(U16("CloseHandle"), nullptr);
    ErrorBlock* program = RaiseProgramError(ProgramErrorShortRead);
    ASSERT_NE(system, nullptr);
    EXPECT_NE(system, program);
    EXPECT_FALSE(IsProgramError(system));
    EXPECT_TRUE(IsProgramError(program));
    EXPECT_FALSE(IsProgramError(nullptr));
    // Raising one kind leaves the other's text alone.
    EXPECT_EQ(system->Number, ERROR_INVALID_HANDLE);
    EXPECT_EQ(Printable(system->Message), Printable(SystemText(6)) + "(CloseHandle) (6)");
}
