// The documents a command line names, and reading each one: the -r walk, sources the filter
// cannot open by name (standard input, pipes) through a private copy, and failures in words.
#pragma once

#include "platform/platform.h"
#include "tools/cvxtext/extract.h"

#include <filesystem>
#include <string>
#include <vector>

enum class DocumentSource {
    Named,          // the filter opens Path
    StandardInput,  // "-": spooled to a private temporary file
    Copied,         // Path read by cvxtext into a private temporary file (a pipe, or a Linux
                    // name that is not UTF-8 and so cannot reach the filter as UTF-16)
    Failed          // nothing to read: Failure says why (a folder the walk could not list)
};

struct DocumentItem {
    std::string Shown;  // as given, or as the walk found it; UTF-8 (WTF-8 on Windows)
    std::filesystem::path Path;
    DocumentSource Source = DocumentSource::Named;
    DocumentText Failure;
};

// "-" is standard input. Without `recursive` every other argument is one document, a folder
// too (the filter then fails on it). With it, a folder stands for the regular files named
// *.zcv (any letter case) inside it and its subfolders, each folder's entries in order of their
// names; links to folders are not followed, so that the walk always ends.
std::vector<DocumentItem> ExpandArguments(const std::vector<std::string>& arguments,
                                          bool recursive);

// Filters one document through a new object from `factory`; a failure comes back with its
// reason in words.
DocumentText ReadDocument(IClassFactory* factory, const DocumentItem& item);

// The failure of a document for which no filter could be had.
DocumentText ModuleFailure(HRESULT result);

// Takes descriptors 0 to 2 with /dev/null where the program was started without them, so that
// no file cvxtext opens becomes one of its standard streams; "-" and the output then fail as
// they would have. Call first.
void HoldStandardStreams();
bool StandardOutputWasMissing();

// Names between the command line and the system: a command-line argument (UTF-8; WTF-8 on
// Windows) as a path, and a path as cvxtext shows it.
std::filesystem::path PathOfArgument(const std::string& argument);
std::string ShownName(const std::filesystem::path& path);

#ifdef _WIN32
// UTF-16 to WTF-8: like UTF-8, with an unpaired surrogate as its own three-byte sequence, so
// that the name comes back whole.
std::string Wtf8Of(const WCHAR* text, std::size_t count);
// wmain's command line, as WTF-8 texts and an argv over them (valid while the record lives).
struct Wtf8CommandLine {
    std::vector<std::string> Arguments;
    std::vector<const char*> Pointers;
};
void ReadWtf8CommandLine(int argc, const WCHAR* const* argv, Wtf8CommandLine* line);
// The system's text for an error code, without the closing line break and period.
std::string SystemErrorText(DWORD code);
#endif
