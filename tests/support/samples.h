// The sample documents committed under samples/, with the text each story must yield.
#pragma once

#include "tests/support/document_builder.h"

#include <string>
#include <vector>

struct SampleDocument {
    std::string Name;  // file name under samples/
    Bytes Contents;
    std::vector<WideString> StoryTexts;  // in file order
};

std::vector<SampleDocument> SampleDocuments();
