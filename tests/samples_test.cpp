// The committed sample documents: each is what the builder makes of its definition, and yields
// the text its definition states.
#include "errors/file_helpers.h"
#include "reader/document_scan.h"
#include "tests/support/samples.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

TEST(Samples, CommittedFilesMatchTheirDefinitions)
{
    for (const SampleDocument& sample : SampleDocuments()) {
        SCOPED_TRACE(sample.Name);
        std::ifstream in(SamplesFolder() / sample.Name, std::ios::binary);
        ASSERT_TRUE(in) << "missing; regenerate with make_samples";
        Bytes committed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_TRUE(committed == sample.Contents) << "out of date; regenerate with make_samples";
    }
}

TEST(Samples, EachStoryYieldsItsText)
{
    for (const SampleDocument& sample : SampleDocuments()) {
        SCOPED_TRACE(sample.Name);
        WideString path = WidePath(SamplesFolder() / sample.Name);
        HANDLE handle = INVALID_HANDLE_VALUE;
        ASSERT_FALSE(OpenDocument(&handle, path.c_str()));
        for (const WideString& expected : sample.StoryTexts) {
            bool atEnd = true;
            WCHAR* text = nullptr;
            DWORD length = 0;
            EXPECT_FALSE(ReadNextStoryText(handle, &atEnd, &text, &length));
            ASSERT_FALSE(atEnd);
            EXPECT_EQ(Printable(WideString(text, length)), Printable(expected));
            FreeAndClear(&text);
        }
        bool atEnd = false;
        WCHAR* text = nullptr;
        DWORD length = 0;
        EXPECT_FALSE(ReadNextStoryText(handle, &atEnd, &text, &length));
        EXPECT_TRUE(atEnd);
        EXPECT_FALSE(CloseDocument(handle));
    }
}

}  // namespace
