#include "tools/cvxtext/files.h"

#include "tools/cvxtext/output.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cwchar>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace fs = std::filesystem;

namespace {

const std::size_t CopyBlockSize = 1 << 16;

// Standard streams the program was started without (see HoldStandardStreams).
#ifndef _WIN32
bool StandardInputMissing = false;
#endif
bool StandardOutputMissing = false;

DocumentText Failure(HRESULT result, FilterStep step, std::string reason)
{
    DocumentText document;
    document.Result = result;
    document.FailedStep = step;
    document.Reason = std::move(reason);
    return document;
}

bool HasDocumentExtension(const fs::path& name)
{
    const std::string text = ShownName(name.filename());
    if (text.size() <= 4)
        return false;
    std::string extension = text.substr(text.size() - 4);
    for (char& letter : extension)
        letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
    return extension == ".zcv";
}

std::string Lowered(std::string text)
{
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

// ---- System specifics: error texts, probing a path, reading a source, temporary files. ----

#ifdef _WIN32

typedef DWORD SystemError;

HRESULT ResultOf(SystemError error)
{
    return HRESULT_FROM_WIN32(error);
}

std::string ReasonOf(SystemError error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_NAME: return "no such file";
    case ERROR_ACCESS_DENIED: return "permission denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return "the file is in use by another program";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return "out of memory";
    }
    const std::string text = SystemErrorText(error);
    return text.empty() ? "system error " + std::to_string(error) : Lowered(text);
}

// Why the filter could not open the file: asked again the way the filter asks.
std::string OpenFailureReason(const fs::path& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ReasonOf(GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return "is a folder";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ReasonOf(GetLastError());
    CloseHandle(file);
    return "the filter could not open the file";
}

// Standard input: every other document is opened by the filter there.
class Source {
public:
    bool Open(const fs::path* /*path*/, SystemError* error)
    {
        Handle = GetStdHandle(STD_INPUT_HANDLE);
        if (Handle == nullptr || Handle == INVALID_HANDLE_VALUE) {
            *error = ERROR_INVALID_HANDLE;  // started without standard input
            return false;
        }
        return true;
    }
    // Bytes read into `buffer`; 0 at the end; -1 on failure.
    long Read(char* buffer, std::size_t size, SystemError* error)
    {
        DWORD got = 0;
        if (!ReadFile(Handle, buffer, static_cast<DWORD>(size), &got, nullptr)) {
            const DWORD code = GetLastError();
            if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF)
                return 0;
            *error = code;
            return -1;
        }
        return static_cast<long>(got);
    }

private:
    HANDLE Handle = INVALID_HANDLE_VALUE;
};

// A file only cvxtext writes, removed when this goes.
class TemporaryFile {
public:
    bool Create(SystemError* error)
    {
        static std::atomic<unsigned> counter{0};
        std::error_code missing;
        const fs::path folder = fs::temp_directory_path(missing);
        if (missing) {
            *error = ERROR_PATH_NOT_FOUND;
            return false;
        }
        for (int attempt = 0; attempt < 100; ++attempt) {
            Path = folder / (L"cvxtext-" + std::to_wstring(_getpid()) + L"-" +
                             std::to_wstring(counter++) + L".zcv");
            Handle = CreateFileW(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY, nullptr);
            if (Handle != INVALID_HANDLE_VALUE)
                return true;
            *error = GetLastError();
            if (*error != ERROR_FILE_EXISTS && *error != ERROR_ALREADY_EXISTS)
                break;
        }
        Path.clear();
        return false;
    }
    bool Write(const char* bytes, std::size_t size, SystemError* error)
    {
        DWORD put = 0;
        if (!WriteFile(Handle, bytes, static_cast<DWORD>(size), &put, nullptr) || put != size) {
            *error = put != size && GetLastError() == 0 ? ERROR_DISK_FULL : GetLastError();
            return false;
        }
        return true;
    }
    // Closes the file, so that the filter may open it.
    bool Close(SystemError* error)
    {
        const BOOL closed = CloseHandle(Handle);
        Handle = INVALID_HANDLE_VALUE;
        if (!closed)
            *error = GetLastError();
        return closed != FALSE;
    }
    ~TemporaryFile()
    {
        if (Handle != INVALID_HANDLE_VALUE)
            CloseHandle(Handle);
        if (!Path.empty())
            DeleteFileW(Path.c_str());
    }

    fs::path Path;

private:
    HANDLE Handle = INVALID_HANDLE_VALUE;
};

#else

typedef int SystemError;

HRESULT ResultOf(SystemError error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR: return static_cast<HRESULT>(0x80070002);
    case EACCES:
    case EPERM: return E_ACCESSDENIED;
    case ENOMEM: return E_OUTOFMEMORY;
    case ENOSPC:
    case EDQUOT: return static_cast<HRESULT>(0x80070070);
    default: return E_FAIL;
    }
}

std::string ReasonOf(SystemError error)
{
    switch (error) {
    case ENOENT: return "no such file";
    case ENOTDIR: return "no such file (a part of the path is not a folder)";
    case EACCES:
    case EPERM: return "permission denied";
    case EISDIR: return "is a folder";
    case ENOMEM: return "out of memory";
    case ETXTBSY:
    case EBUSY: return "the file is in use";
    }
    return Lowered(std::generic_category().message(error));
}

std::string OpenFailureReason(const fs::path& path)
{
    struct stat status;
    if (stat(path.c_str(), &status) != 0)
        return ReasonOf(errno);
    if (S_ISDIR(status.st_mode))
        return "is a folder";
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0)
        return ReasonOf(errno);
    close(descriptor);
    return "the filter could not open the file";
}

class Source {
public:
    bool Open(const fs::path* path, SystemError* error)
    {
        if (path == nullptr) {
            if (StandardInputMissing) {
                *error = EBADF;
                return false;
            }
            Descriptor = STDIN_FILENO;
            return true;
        }
        do {
            Descriptor = open(path->c_str(), O_RDONLY | O_CLOEXEC);
        } while (Descriptor < 0 && errno == EINTR);
        if (Descriptor < 0) {
            *error = errno;
            return false;
        }
        Owned = true;
        struct stat status;
        if (fstat(Descriptor, &status) == 0 && S_ISDIR(status.st_mode)) {
            *error = EISDIR;
            return false;
        }
        return true;
    }
    long Read(char* buffer, std::size_t size, SystemError* error)
    {
        ssize_t got;
        do {
            got = read(Descriptor, buffer, size);
        } while (got < 0 && errno == EINTR);
        if (got < 0)
            *error = errno;
        return static_cast<long>(got);
    }
    ~Source()
    {
        if (Owned)
            close(Descriptor);
    }

private:
    int Descriptor = -1;
    bool Owned = false;
};

class TemporaryFile {
public:
    bool Create(SystemError* error)
    {
        std::error_code missing;
        const fs::path folder = fs::temp_directory_path(missing);
        if (missing) {
            *error = ENOENT;
            return false;
        }
        std::string name = (folder / "cvxtext-XXXXXX").string();
        Descriptor = mkostemp(name.data(), O_CLOEXEC);  // mode 0600: private to the user
        if (Descriptor < 0) {
            *error = errno;
            return false;
        }
        Path = name;
        return true;
    }
    bool Write(const char* bytes, std::size_t size, SystemError* error)
    {
        while (size > 0) {
            const ssize_t put = write(Descriptor, bytes, size);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                *error = put < 0 ? errno : ENOSPC;
                return false;
            }
            bytes += put;
            size -= static_cast<std::size_t>(put);
        }
        return true;
    }
    bool Close(SystemError* error)
    {
        const int closed = close(Descriptor);
        Descriptor = -1;
        if (closed != 0)
            *error = errno;
        return closed == 0;
    }
    ~TemporaryFile()
    {
        if (Descriptor >= 0)
            close(Descriptor);
        if (!Path.empty())
            unlink(Path.c_str());
    }

    fs::path Path;

private:
    int Descriptor = -1;
};

// Whether the filter can be handed the name: the stand-in takes names as UTF-16 and opens them
// as UTF-8, so the bytes must come back the same.
bool NameReachesFilter(const std::string& name)
{
    return Utf8Of(Utf16Of(name)) == name;
}

#endif

WideString FilterName(const fs::path& path)
{
#ifdef _WIN32
    return path.wstring();
#else
    return Utf16Of(path.native());
#endif
}

// The words for a failure the filter reported.
std::string FilterFailureReason(const DocumentText& document, const fs::path& opened)
{
    const HRESULT result = document.Result;
    if (result == E_OUTOFMEMORY) {
        if (document.FailedStep != FilterStep::GetChunk)
            return "out of memory";
        const ULONG count = document.StoriesPassedOver;
        return "out of memory: " + std::to_string(count) +
               (count == 1 ? " text story was passed over" : " text stories were passed over");
    }
    switch (document.FailedStep) {
    case FilterStep::Init:
        if (result == FILTER_E_ACCESS)
            return OpenFailureReason(opened);
        break;
    case FilterStep::GetChunk:
        if (result == FILTER_E_ACCESS)
            return "read error partway through the document";
        break;
    case FilterStep::GetText:
        return "the filter failed while giving the text (" + HresultText(result) + ")";
    case FilterStep::Module:
    case FilterStep::CreateInstance:
    case FilterStep::Load: return "the filter could not be started (" + HresultText(result) + ")";
    case FilterStep::None: break;
    }
    return "not a document the filter can read (" + HresultText(result) + ")";
}

// Copies a source into a private temporary file, filters that and removes it.
DocumentText ReadThroughCopy(IClassFactory* factory, const DocumentItem& item)
{
    const bool standardInput = item.Source == DocumentSource::StandardInput;
    SystemError error = 0;
    Source source;
    if (!source.Open(standardInput ? nullptr : &item.Path, &error)) {
        if (standardInput)
            return Failure(ResultOf(error), FilterStep::None,
                           "cannot read standard input: " + ReasonOf(error));
        return Failure(FILTER_E_ACCESS, FilterStep::Init, ReasonOf(error));
    }
    TemporaryFile copy;
    if (!copy.Create(&error))
        return Failure(ResultOf(error), FilterStep::None,
                       "cannot make a temporary copy: " + ReasonOf(error));
    std::string block(CopyBlockSize, '\0');
    for (;;) {
        const long got = source.Read(block.data(), block.size(), &error);
        if (got == 0)
            break;
        if (got < 0)
            return Failure(ResultOf(error), FilterStep::None,
                           (standardInput ? "cannot read standard input: "
                                          : "cannot read the file: ") + ReasonOf(error));
        if (!copy.Write(block.data(), static_cast<std::size_t>(got), &error))
            return Failure(ResultOf(error), FilterStep::None,
                           "cannot make a temporary copy: " + ReasonOf(error));
    }
    if (!copy.Close(&error))
        return Failure(ResultOf(error), FilterStep::None,
                       "cannot make a temporary copy: " + ReasonOf(error));
    DocumentText document = ExtractDocument(factory, FilterName(copy.Path).c_str());
    if (document.Result != S_OK)
        document.Reason = FilterFailureReason(document, copy.Path);
    return document;
}

void Walk(const fs::path& folder, std::vector<DocumentItem>* items)
{
    std::vector<fs::directory_entry> entries;
    std::error_code error;
    fs::directory_iterator next(folder, error);
    const fs::directory_iterator end;
    while (!error && next != end) {
        entries.push_back(*next);
        next.increment(error);
    }
    if (error) {
        DocumentItem failed;
        failed.Shown = ShownName(folder);
        failed.Path = folder;
        failed.Source = DocumentSource::Failed;
        const bool denied = error == std::errc::permission_denied;
        failed.Failure = Failure(denied ? E_ACCESSDENIED : E_FAIL, FilterStep::None,
                                 "cannot list the folder: " +
                                     (denied ? std::string("permission denied")
                                             : Lowered(error.message())));
        items->push_back(std::move(failed));
    }
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) {
                  return a.path().filename() < b.path().filename();
              });
    for (const fs::directory_entry& entry : entries) {
        std::error_code ignored;
        if (entry.is_symlink(ignored) && entry.is_directory(ignored))
            continue;
        if (entry.is_directory(ignored)) {
            Walk(entry.path(), items);
        } else if (entry.is_regular_file(ignored) && HasDocumentExtension(entry.path())) {
            DocumentItem item;
            item.Shown = ShownName(entry.path());
            item.Path = entry.path();
#ifndef _WIN32
            if (!NameReachesFilter(item.Path.native()))
                item.Source = DocumentSource::Copied;
#endif
            items->push_back(std::move(item));
        }
    }
}

}  // namespace

#ifdef _WIN32
std::string Wtf8Of(const WCHAR* text, std::size_t count)
{
    std::string out;
    std::size_t start = 0;
    for (std::size_t index = 0; index <= count; ++index) {
        const unsigned unit = index < count ? text[index] : 0;
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        const bool paired = high && index + 1 < count && text[index + 1] >= 0xDC00 &&
                            text[index + 1] <= 0xDFFF;
        if (index < count && (paired || (!high && !low))) {
            index += paired;
            continue;
        }
        AppendUtf8(&out, text + start, index - start);
        if (index < count) {
            out.push_back(static_cast<char>(0xE0 | (unit >> 12)));
            out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        }
        start = index + 1;
    }
    return out;
}

void ReadWtf8CommandLine(int argc, const WCHAR* const* argv, Wtf8CommandLine* line)
{
    line->Arguments.clear();
    for (int index = 0; index < argc; ++index)
        line->Arguments.push_back(Wtf8Of(argv[index], std::wcslen(argv[index])));
    line->Pointers.clear();
    for (const std::string& argument : line->Arguments)
        line->Pointers.push_back(argument.c_str());
}

std::string SystemErrorText(DWORD code)
{
    WCHAR text[512];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, 512, nullptr);
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                          text[length - 1] == L'.' || text[length - 1] == L' '))
        --length;
    return Utf8Of(WideString(text, length));
}
#endif

void HoldStandardStreams()
{
#ifndef _WIN32
    for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
        if (fcntl(stream, F_GETFD) != -1 || errno != EBADF)
            continue;
        // open gives the lowest free descriptor: this one.
        open("/dev/null", stream == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (stream == STDIN_FILENO)
            StandardInputMissing = true;
        if (stream == STDOUT_FILENO)
            StandardOutputMissing = true;
    }
#endif
}

bool StandardOutputWasMissing()
{
    return StandardOutputMissing;
}

fs::path PathOfArgument(const std::string& argument)
{
#ifdef _WIN32
    return fs::path(Utf16Of(argument));
#else
    return fs::path(argument);
#endif
}

std::string ShownName(const fs::path& path)
{
#ifdef _WIN32
    const std::wstring& name = path.native();
    return Wtf8Of(name.data(), name.size());
#else
    return path.native();
#endif
}

std::vector<DocumentItem> ExpandArguments(const std::vector<std::string>& arguments,
                                          bool recursive)
{
    std::vector<DocumentItem> items;
    for (const std::string& argument : arguments) {
        DocumentItem item;
        item.Shown = argument;
        if (argument == "-") {
            item.Source = DocumentSource::StandardInput;
            items.push_back(std::move(item));
            continue;
        }
        item.Path = PathOfArgument(argument);
        std::error_code error;
        const fs::file_status status = fs::status(item.Path, error);
        if (recursive && fs::is_directory(status)) {
            Walk(item.Path, &items);
            continue;
        }
#ifndef _WIN32
        // A pipe (such as a shell's process substitution) has no size or position for the
        // filter to read by: it reads a copy.
        if (fs::is_fifo(status) || !NameReachesFilter(argument))
            item.Source = DocumentSource::Copied;
#endif
        items.push_back(std::move(item));
    }
    return items;
}

DocumentText ReadDocument(IClassFactory* factory, const DocumentItem& item)
{
    switch (item.Source) {
    case DocumentSource::Failed: return item.Failure;
    case DocumentSource::StandardInput:
    case DocumentSource::Copied: return ReadThroughCopy(factory, item);
    case DocumentSource::Named: break;
    }
    DocumentText document = ExtractDocument(factory, FilterName(item.Path).c_str());
    if (document.Result != S_OK)
        document.Reason = FilterFailureReason(document, item.Path);
    return document;
}

DocumentText ModuleFailure(HRESULT result)
{
    return Failure(result, FilterStep::Module,
                   "the filter could not be started (" + HresultText(result) + ")");
}
