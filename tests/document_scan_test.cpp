// The record scan: opening a document, stepping over records, loading each text story, and
// documents whose records or stories do not hold what their headers claim.
#include "errors/file_helpers.h"
#include "platform/fault.h"
#include "reader/document_scan.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

namespace {

struct Story {
    bool Failed;
    bool NullText;
    WideString Text;
};

// What a whole scan brought, call by call, up to the call that reported the end.
struct Scan {
    std::vector<Story> Stories;
    bool EndFailed = false;  // the result of the call that reported the end
};

// More calls than any test document has stories: reaching it means the scan does not end.
const int CallLimit = 100;

Scan ScanOpenDocument(HANDLE handle)
{
    Scan scan;
    for (int call = 0; call < CallLimit; ++call) {
        bool atEnd = false;
        WCHAR* text = reinterpret_cast<WCHAR*>(1);
        DWORD length = 0xDEAD;
        bool failed = ReadNextStoryText(handle, &atEnd, &text, &length);
        if (atEnd) {
            scan.EndFailed = failed;
            // An end found without failure stays the end, wherever in the file it was found.
            for (int again = 0; again < 2 && !failed; ++again) {
                WCHAR* more = nullptr;
                EXPECT_FALSE(ReadNextStoryText(handle, &atEnd, &more, &length));
                EXPECT_TRUE(atEnd) << "the scan went on after its end";
                FreeAndClear(&more);
            }
            return scan;
        }
        EXPECT_TRUE(length == 0 ? text == nullptr : text != nullptr)
            << "a text must come with its length";
        scan.Stories.push_back(
            Story{failed, text == nullptr, text ? WideString(text, length) : WideString()});
        FreeAndClear(&text);
    }
    ADD_FAILURE() << "the scan did not end";
    return scan;
}

Scan ScanDocument(const Bytes& contents)
{
    TempFile file(contents);
    HANDLE handle = INVALID_HANDLE_VALUE;
    EXPECT_FALSE(OpenDocument(&handle, file.Name()));
    Scan scan = ScanOpenDocument(handle);
    EXPECT_FALSE(CloseDocument(handle));
    return scan;
}

std::vector<std::string> TextsOf(const Scan& scan)
{
    std::vector<std::string> texts;
    for (const Story& story : scan.Stories)
        texts.push_back(Printable(story.Text));
    return texts;
}

LONG PositionOf(HANDLE handle)
{
    LONG position = -1;
    EXPECT_EQ(GetFilePosition(handle, &position), nullptr);
    return position;
}

Record WithLength(Record record, LONG length)
{
    record.Length = length;
    return record;
}

Bytes Document(std::vector<Record> records, Bytes tail = {})
{
    return BuildDocument(DocumentLayout{std::nullopt, std::move(records), std::move(tail)});
}

struct ScanCase {
    const char* Case;
    Bytes Contents;
    std::vector<std::string> Texts;
};

TEST(ReadNextStoryText, WellFormedDocuments)
{
    const Record one = StoryRecord(StoryLayout{Chars("one")});
    const Record two = StoryRecord(StoryLayout{Chars("two")});
    const ScanCase cases[] = {
        {"empty file", Bytes(), {}},
        {"preamble cut short", Bytes(100, 4), {}},
        {"preamble only", Document({}), {}},
        {"records but no story", Document({OtherRecord(1, 10), OtherRecord(4109, 500)}), {}},
        {"stories between other records, in file order",
         Document({OtherRecord(1, 10), one, OtherRecord(2, 0), OtherRecord(4111, 99), two,
                   OtherRecord(3, 1000)}),
         {"one", "two"}},
        {"a record of header length only is followed at once by the next",
         Document({OtherRecord(7, 0), one, OtherRecord(7, 0)}), {"one"}},
        {"a story with no text is a story, not the end",
         Document({one, StoryRecord(StoryLayout{}), StoryRecord(StoryLayout{{Control(22)}}), two}),
         {"one", "", "", "two"}},
        {"the preamble is not looked at",
         BuildDocument(DocumentLayout{Bytes(256, 0xFF), {one}}), {"one"}},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.Case);
        Scan scan = ScanDocument(c.Contents);
        EXPECT_EQ(TextsOf(scan), c.Texts);
        EXPECT_FALSE(scan.EndFailed);
        for (const Story& story : scan.Stories) {
            EXPECT_FALSE(story.Failed);
            EXPECT_EQ(story.NullText, story.Text.empty());
        }
    }
}

// Whatever the headers claim, the scan reads only inside the file and ends.
TEST(ReadNextStoryText, RecordsThatDoNotHoldWhatTheirHeadersClaim)
{
    const Record one = StoryRecord(StoryLayout{Chars("one")});
    const Record two = StoryRecord(StoryLayout{Chars("two")});
    Record shortStory = StoryRecord(StoryLayout{Chars("lost")});
    shortStory.Body.resize(10);
    const ScanCase cases[] = {
        {"record length 0 ends the document", Document({one, WithLength(OtherRecord(1, 8), 0), two}),
         {"one"}},
        {"negative record length ends the document",
         Document({one, WithLength(OtherRecord(1, 8), -36), two}), {"one"}},
        {"record length inside its own header ends the document",
         Document({one, WithLength(OtherRecord(1, 0), 35), two}), {"one"}},
        {"story of length 0 ends the document", Document({one, WithLength(two, 0)}), {"one"}},
        {"story body shorter than its counts is an empty story",
         Document({one, shortStory, two}), {"one", "", "two"}},
        {"record length beyond the file ends the document",
         Document({one, WithLength(OtherRecord(1, 8), 0x7FFFFFFF), two}), {"one"}},
        {"header cut short by the end of the file",
         Document({one}, Bytes(20, 0x55)), {"one"}},
        {"story cut short by the end of the file keeps its bytes' text",
         [&] {
             Bytes bytes = Document({one, StoryRecord(StoryLayout{Chars("two and more")})});
             bytes.resize(bytes.size() - 8);
             return bytes;
         }(),
         {"one", "two "}},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.Case);
        Scan scan = ScanDocument(c.Contents);
        EXPECT_EQ(TextsOf(scan), c.Texts);
        EXPECT_FALSE(scan.EndFailed);
    }
}

TEST(ReadNextStoryText, MemoryFollowsTheFileNotTheHeaders)
{
    // A story that claims 2 GiB in a file of a few hundred bytes.
    Record huge = StoryRecord(StoryLayout{Chars("small")});
    huge.Length = 0x7FFFFFFF;
    Bytes contents = Document({huge});
    ResetFaults();
    Scan scan = ScanDocument(contents);
    EXPECT_EQ(TextsOf(scan), std::vector<std::string>{"small"});
    EXPECT_LE(LargestAllocation(), contents.size());
}

TEST(ReadNextStoryText, PositionsFollowTheRecords)
{
    Bytes prefix = Document({OtherRecord(1, 10), StoryRecord(StoryLayout{Chars("abc")})});
    Bytes contents = Document({OtherRecord(1, 10), StoryRecord(StoryLayout{Chars("abc")}),
                               OtherRecord(2, 40)});
    TempFile file(contents);
    HANDLE handle = INVALID_HANDLE_VALUE;
    ASSERT_FALSE(OpenDocument(&handle, file.Name()));
    EXPECT_EQ(PositionOf(handle), 256);

    bool atEnd = true;
    WCHAR* text = nullptr;
    DWORD length = 0;
    ASSERT_FALSE(ReadNextStoryText(handle, &atEnd, &text, &length));
    EXPECT_FALSE(atEnd);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(PositionOf(handle), static_cast<LONG>(prefix.size()));
    FreeAndClear(&text);

    // The end leaves the outputs alone, and keeps being the end.
    for (int call = 0; call < 2; ++call) {
        text = reinterpret_cast<WCHAR*>(8);
        length = 77;
        EXPECT_FALSE(ReadNextStoryText(handle, &atEnd, &text, &length));
        EXPECT_TRUE(atEnd);
        EXPECT_EQ(text, reinterpret_cast<WCHAR*>(8));
        EXPECT_EQ(length, 77u);
    }
    EXPECT_GE(PositionOf(handle), static_cast<LONG>(contents.size()));
    EXPECT_FALSE(CloseDocument(handle));

    // Opening again starts from the first record.
    ASSERT_FALSE(OpenDocument(&handle, file.Name()));
    EXPECT_EQ(TextsOf(ScanOpenDocument(handle)), std::vector<std::string>{"abc"});
    CloseDocument(handle);
}

TEST(OpenDocument, AFileThatCannotBeOpenedLeavesNoHandle)
{
    TempFile held(Document({}));
    HANDLE writer = CreateFileW(held.Name(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    const WideString missing = WidePath(TestFolder() / "missing.zcv");
    const WideString folder = WidePath(TestFolder());
    const struct {
        const char* Case;
        LPCWSTR Path;
        LONG Error;
    } cases[] = {
        {"missing", missing.c_str(), ERROR_FILE_NOT_FOUND},
        {"folder", folder.c_str(), ERROR_ACCESS_DENIED},
        {"open for writing elsewhere", held.Name(), ERROR_SHARING_VIOLATION},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Case);
        HANDLE handle = reinterpret_cast<HANDLE>(4);
        EXPECT_TRUE(OpenDocument(&handle, c.Path));
        EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(static_cast<LONG>(GetLastError()), c.Error);
    }
    CloseHandle(writer);
}

TEST(OpenDocument, AFailedOpenThatSetsNoErrorIsStillAFailure)
{
    if (!FaultInjectable(FaultCreateFile))
        GTEST_SKIP() << "system calls cannot be made to fail in this build";
    TempFile file(Document({}));
    ArmFault(FaultCreateFile, 0);
    HANDLE handle = reinterpret_cast<HANDLE>(4);
    EXPECT_TRUE(OpenDocument(&handle, file.Name()));
    EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
}

// A failed allocation fails that call only: the story is passed over and the scan goes on.
TEST(ReadNextStoryText, AllocationFailuresPassOverTheStory)
{
    const Bytes contents = Document({StoryRecord(StoryLayout{Chars("first")}), OtherRecord(1, 5),
                                     StoryRecord(StoryLayout{Chars("second")})});
    const struct {
        const char* Case;
        ULONG Skip;  // allocations let through first: 0 fails the body, 1 the text
    } cases[] = {{"story buffer", 0}, {"text buffer", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Case);
        ArmFault(FaultAllocate, 0, c.Skip);
        Scan scan = ScanDocument(contents);
        ASSERT_EQ(scan.Stories.size(), 2u);
        EXPECT_TRUE(scan.Stories[0].Failed);
        EXPECT_TRUE(scan.Stories[0].NullText);
        EXPECT_FALSE(scan.Stories[1].Failed);
        EXPECT_EQ(Printable(scan.Stories[1].Text), "second");
    }
}

// Stand-in faults in the calls the scan makes: it ends, reporting failure where a call failed.
TEST(ReadNextStoryText, SystemCallFailuresEndTheScan)
{
    if (!FaultInjectable(FaultGetFileSize))
        GTEST_SKIP() << "system calls cannot be made to fail in this build";
    const Bytes contents = Document({StoryRecord(StoryLayout{Chars("first")}), OtherRecord(1, 5),
                                     StoryRecord(StoryLayout{Chars("second")})});
    const struct {
        const char* Case;
        FaultPoint Point;
        DWORD Error;
        ULONG Skip;  // calls at that point let through after the open
        std::vector<std::string> Texts;
        bool EndFailed;
    } cases[] = {
        {"size fails", FaultGetFileSize, ERROR_IO_DEVICE, 0, {}, true},
        {"size reads 0xFFFFFFFF without error", FaultGetFileSize, 0, 0, {}, false},
        {"size fails before the second story", FaultGetFileSize, ERROR_IO_DEVICE, 3, {"first"},
         true},
        {"position fails", FaultSetFilePointer, ERROR_IO_DEVICE, 0, {}, true},
        {"header read fails", FaultReadFile, ERROR_IO_DEVICE, 0, {}, true},
        // A failed body read is not taken for zeros, nor a failed seek for the end.
        {"body read fails", FaultReadFile, ERROR_IO_DEVICE, 1, {}, true},
        {"seek past the other record fails", FaultSetFilePointer, ERROR_IO_DEVICE, 4, {"first"},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Case);
        TempFile file(contents);
        HANDLE handle = INVALID_HANDLE_VALUE;
        ASSERT_FALSE(OpenDocument(&handle, file.Name()));
        ArmFault(c.Point, c.Error, c.Skip, 1000);
        Scan scan = ScanOpenDocument(handle);
        ResetFaults();
        EXPECT_EQ(TextsOf(scan), c.Texts);
        EXPECT_EQ(scan.EndFailed, c.EndFailed);
        CloseDocument(handle);
    }
}

TEST(ReadNextStoryText, ReadsThatBringFewerBytesThanAskedAreCompleted)
{
    if (!FaultInjectable(FaultReadFile))
        GTEST_SKIP() << "reads cannot be shortened in this build";
    const Bytes contents =
        Document({OtherRecord(5, 3), StoryRecord(StoryLayout{Chars("pieces of text"), 9, 2})});
    LimitReadSize(7);
    EXPECT_EQ(TextsOf(ScanDocument(contents)), std::vector<std::string>{"pieces of text"});
}

}  // namespace
