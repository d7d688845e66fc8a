#include "tools/cvxtext/filter_module.h"

#ifdef _WIN32
#include "tools/cvxtext/files.h"

#include <vector>
#else
#include "filter/module.h"
#endif

#ifdef _WIN32

namespace {

// The folder of the running program, with its closing separator.
std::wstring ProgramFolder()
{
    std::vector<WCHAR> name(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0)
            return std::wstring();
        if (length < name.size()) {
            std::wstring path(name.data(), length);
            return path.substr(0, path.find_last_of(L"\\/") + 1);
        }
        name.resize(name.size() * 2);
    }
}

}  // namespace

ClassObjectEntry FindFilterModule(std::string* error)
{
    static HMODULE module = nullptr;
    const std::wstring path = ProgramFolder() + L"CVXFilter.dll";
    if (module == nullptr) {
        module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (module == nullptr) {
            const DWORD code = GetLastError();
            *error = "cannot load the filter module " + Wtf8Of(path.data(), path.size()) + ": " +
                     SystemErrorText(code);
            return nullptr;
        }
    }
    FARPROC entry = GetProcAddress(module, "DllGetClassObject");
    if (entry == nullptr) {
        *error = "the filter module " + Wtf8Of(path.data(), path.size()) +
                 " has no DllGetClassObject";
        return nullptr;
    }
    return reinterpret_cast<ClassObjectEntry>(reinterpret_cast<void (*)()>(entry));
}

#else

ClassObjectEntry FindFilterModule(std::string* /*error*/)
{
    return &DllGetClassObject;
}

#endif
