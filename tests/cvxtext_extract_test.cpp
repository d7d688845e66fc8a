// cvxtext reading through the linked filter when memory runs short or the file fails partway:
// what was read is kept and the failure is reported, never a document quietly cut short.
#include "filter/class_id.h"
#include "filter/module.h"
#include "platform/fault.h"
#include "tests/support/test_files.h"
#include "tools/cvxtext/files.h"

#include <gtest/gtest.h>

namespace {

TEST(CvxtextExtract, FailuresKeepWhatWasRead)
{
    TempFile file(DocumentOfStories({Chars("one"), Chars("two"), Chars("three")}));
    DocumentItem item;
    item.Shown = "doc.zcv";
    item.Path = file.Path();

    // Each story costs two allocations (its bytes, its text); reads go preamble, then a header
    // and a body per story.
    const struct {
        const char* Name;
        FaultPoint Point;
        ULONG Skip;
        std::vector<WideString> Texts;
        HRESULT Result;
        std::string Reason;
    } cases[] = {
        {"nothing fails", FaultPointCount, 0, {U16("one"), U16("two"), U16("three")}, S_OK, ""},
        {"no memory for the first text", FaultAllocate, 1, {U16("two"), U16("three")},
         E_OUTOFMEMORY, "out of memory: 1 text story was passed over"},
        {"no memory for the second story", FaultAllocate, 2, {U16("one"), U16("three")},
         E_OUTOFMEMORY, "out of memory: 1 text story was passed over"},
        {"the second header cannot be read", FaultReadFile, 3, {U16("one")}, FILTER_E_ACCESS,
         "read error partway through the document"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Name);
        ResetFaults();
        if (test.Point != FaultPointCount) {
            if (!FaultInjectable(test.Point))
                continue;
            ArmFault(test.Point, ERROR_IO_DEVICE, test.Skip);
        }
        IClassFactory* factory = nullptr;
        ASSERT_EQ(DllGetClassObject(FilterClassId, IID_IClassFactory,
                                    reinterpret_cast<void**>(&factory)),
                  S_OK);
        const DocumentText document = ReadDocument(factory, item);
        factory->Release();

        std::vector<WideString> texts;
        for (const ExtractedChunk& chunk : document.Chunks)
            texts.push_back(chunk.Text);
        EXPECT_EQ(texts, test.Texts);
        EXPECT_EQ(document.Result, test.Result);
        EXPECT_EQ(document.Reason, test.Reason);
    }
}

}  // namespace
