// Files for tests: a private temporary folder, documents written into it, and UTF-16 paths.
#pragma once

#include "platform/platform.h"
#include "tests/support/document_builder.h"

#include <filesystem>
#include <string>

WideString WidePath(const std::filesystem::path& path);

// A folder of its own for the running test program, removed at exit.
const std::filesystem::path& TestFolder();

// A file in the test folder, written with the given bytes and removed when this goes.
class TempFile {
public:
    explicit TempFile(const Bytes& contents, const std::string& suffix = ".zcv");
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    LPCWSTR Name() const { return wide_.c_str(); }

private:
    std::filesystem::path path_;
    WideString wide_;
};

// The folder of the committed sample documents.
std::filesystem::path SamplesFolder();

// An ASCII text as UTF-16.
WideString W(const std::string& text);

// The system's own text for an error code, asked the way error blocks ask (252 units); empty
// when the system has none.
WideString SystemText(DWORD code);

// Compact text of a UTF-16 string for failure messages: printable ASCII as is, the rest \uXXXX.
std::string Printable(const WideString& text);
