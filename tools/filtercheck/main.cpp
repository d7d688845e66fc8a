// filtercheck: puts the .zcv filter through the IFilter test procedure. On Linux the filter is
// linked in; on Windows it is the module named with --module, or the filter registered for .zcv.
#include "tools/cvxtext/filter_module.h"
#include "tools/filtercheck/command.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include "tools/cvxtext/files.h"
#endif

namespace {

void Write(std::FILE* stream, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

// A new object from the session's factory with the document loaded, as an indexing host makes it.
HRESULT OpenThrough(const FilterSession& session, LPCWSTR path, IFilter** filter)
{
    *filter = nullptr;
    IClassFactory* factory = session.Factory();
    if (factory == nullptr)
        return session.Result();
    IPersistFile* file = nullptr;
    HRESULT result =
        factory->CreateInstance(nullptr, IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (FAILED(result) || file == nullptr)
        return FAILED(result) ? result : E_UNEXPECTED;
    result = file->Load(path, STGM_READ | STGM_SHARE_DENY_NONE);
    if (SUCCEEDED(result))
        result = file->QueryInterface(IID_IFilter, reinterpret_cast<void**>(filter));
    file->Release();
    if (FAILED(result) && *filter != nullptr) {
        (*filter)->Release();
        *filter = nullptr;
    }
    return result;
}

bool FindTheFilter(const std::string& module, StartThread* start, std::string* error)
{
    auto source = std::make_shared<FilterSource>();
#ifdef _WIN32
    if (!FindFilter(module, source.get(), error))
        return false;
#else
    (void)module;
    if (!FindFilter(source.get(), error))
        return false;
#endif
    // Each thread its own session (on Windows its COM apartment), ended with the last copy of
    // the thread's OpenFilter, on that thread.
    *start = [source]() -> OpenFilter {
        auto session = std::make_shared<FilterSession>(*source);
        return [session](LPCWSTR path, IFilter** filter) {
            return OpenThrough(*session, path, filter);
        };
    };
    return true;
}

int Run(int argc, const char* const* argv)
{
    const CommandOutput output{[](const std::string& text) { Write(stdout, text); },
                               [](const std::string& text) { Write(stderr, text); }};
    try {
        return RunFilterCheck(argc, argv, FindTheFilter, output);
    } catch (const std::exception& error) {
        output.Err(std::string("filtercheck: ") + error.what() + "\n");
        return CheckFailed;
    }
}

}  // namespace

#ifdef _WIN32
// wmain: the command line in UTF-16, carried as WTF-8 so that every name comes back whole.
int wmain(int argc, wchar_t** argv)
{
    Wtf8CommandLine line;
    ReadWtf8CommandLine(argc, argv, &line);
    return Run(argc, line.Pointers.data());
}
#else
int main(int argc, char** argv)
{
    return Run(argc, argv);
}
#endif
