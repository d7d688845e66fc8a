#include "tests/support/test_files.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#ifndef CVX_SOURCE_DIR
#error "CVX_SOURCE_DIR names the source tree"
#endif

namespace {

struct FolderOwner {
    std::filesystem::path Path;
    FolderOwner()
    {
        std::error_code ignored;
        for (int attempt = 0;; ++attempt) {
            Path = std::filesystem::temp_directory_path() /
                   ("cvx-test-" + std::to_string(std::rand()) + "-" + std::to_string(attempt));
            if (std::filesystem::create_directory(Path, ignored))
                break;
        }
    }
    ~FolderOwner()
    {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
};

std::atomic<unsigned> FileCounter{0};

}  // namespace

WideString WidePath(const std::filesystem::path& path)
{
#ifdef _WIN32
    return path.wstring();
#else
    return path.u16string();
#endif
}

const std::filesystem::path& TestFolder()
{
    static FolderOwner folder;
    return folder.Path;
}

TempFile::TempFile(const Bytes& contents, const std::string& suffix)
    : path_(TestFolder() / ("file" + std::to_string(FileCounter++) + suffix)),
      wide_(WidePath(path_))
{
    std::ofstream out(path_, std::ios::binary);
    out.write(reinterpret_cast<const char*>(contents.data()),
              static_cast<std::streamsize>(contents.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path_.string());
}

TempFile::~TempFile()
{
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

std::filesystem::path SamplesFolder()
{
    std::string source = CVX_SOURCE_DIR;
#ifdef _WIN32
    // Wine shows the Linux file system as drive Z:.
    if (!source.empty() && source[0] == '/')
        source = "Z:" + source;
#endif
    return std::filesystem::path(source) / "samples";
}

std::string Printable(const WideString& text)
{
    std::string out;
    for (WCHAR unit : text) {
        if (unit >= 0x20 && unit < 0x7F && unit != '\\') {
            out.push_back(static_cast<char>(unit));
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(unit));
            out += escape;
        }
    }
    return out;
}

WideString W(const std::string& text)
{
    return WideString(text.begin(), text.end());
}

WideString SystemText(DWORD code)
{
    const DWORD capacity = 252;
    WCHAR text[capacity];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, capacity, nullptr);
    return length == 0 || length >= capacity ? WideString() : WideString(text, length);
}
