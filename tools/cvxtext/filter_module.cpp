#include "tools/cvxtext/filter_module.h"

#include "filter/class_id.h"

#ifdef _WIN32
#include "tools/cvxtext/files.h"
#include "tools/cvxtext/output.h"

#include <atomic>
#include <filesystem>
#include <new>
#include <vector>
#else
#include "filter/module.h"
#endif

#ifdef _WIN32

namespace {

// The key under each handler class that names its filter: IID_IFilter.
const WCHAR FilterAddinKey[] =
    L"PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}";

// Registry texts longer than this are no class id, ProgID or module name of ours.
const DWORD LongestValue = 4096;

std::string Shown(const WideString& text)
{
    return Wtf8Of(text.data(), text.size());
}

// The default value of HKEY_CLASSES_ROOT\<path>, when it is a REG_SZ text; without the
// terminating zero(s), which the registry does not guarantee.
bool DefaultText(const WideString& path, WideString* text)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    std::vector<WCHAR> buffer(LongestValue + 1);
    DWORD type = REG_NONE;
    DWORD size = LongestValue * sizeof(WCHAR);
    const LONG status = RegQueryValueExW(key, nullptr, nullptr, &type,
                                         reinterpret_cast<BYTE*>(buffer.data()), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return false;
    text->assign(buffer.data(), size / sizeof(WCHAR));
    while (!text->empty() && text->back() == 0)
        text->pop_back();
    return text->find(WCHAR(0)) == WideString::npos;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", hexadecimal digits in either case. Only this form
// goes into a key path: nothing the registry holds can lead the walk to another key.
bool ParseClassId(const WideString& text, CLSID* id)
{
    if (text.size() != 38 || text[0] != L'{' || text[37] != L'}')
        return false;
    unsigned char bytes[16];
    unsigned count = 0;
    for (std::size_t at = 1; at < 37;) {
        if (at == 9 || at == 14 || at == 19 || at == 24) {
            if (text[at++] != L'-')
                return false;
            continue;
        }
        unsigned value = 0;
        for (int digit = 0; digit < 2; ++digit) {
            const WCHAR unit = text[at++];
            value <<= 4;
            if (unit >= L'0' && unit <= L'9')
                value |= unit - L'0';
            else if (unit >= L'a' && unit <= L'f')
                value |= unit - L'a' + 10;
            else if (unit >= L'A' && unit <= L'F')
                value |= unit - L'A' + 10;
            else
                return false;
        }
        bytes[count++] = static_cast<unsigned char>(value);
    }
    id->Data1 = (DWORD(bytes[0]) << 24) | (DWORD(bytes[1]) << 16) | (DWORD(bytes[2]) << 8) |
                bytes[3];
    id->Data2 = static_cast<WORD>((bytes[4] << 8) | bytes[5]);
    id->Data3 = static_cast<WORD>((bytes[6] << 8) | bytes[7]);
    for (int index = 0; index < 8; ++index)
        id->Data4[index] = bytes[8 + index];
    return true;
}

// The class id held as the default value of `path`, or the reason it is not there.
bool ClassIdAt(const WideString& path, WideString* text, CLSID* id, std::string* missing)
{
    if (!DefaultText(path, text)) {
        *missing = "HKEY_CLASSES_ROOT\\" + Shown(path) + " has no text value";
        return false;
    }
    if (!ParseClassId(*text, id)) {
        *missing = "HKEY_CLASSES_ROOT\\" + Shown(path) + " holds \"" + Shown(*text) +
                   "\", not a class id";
        return false;
    }
    return true;
}

// The persistent handler for the extension: its own, else its document class's.
bool FindHandler(const WideString& extension, WideString* handler, std::string* missing)
{
    CLSID id;
    WideString text;
    if (DefaultText(extension + L"\\PersistentHandler", &text))
        return ClassIdAt(extension + L"\\PersistentHandler", handler, &id, missing);
    WideString progId;
    if (!DefaultText(extension, &progId) || progId.empty() ||
        progId.find(L'\\') != WideString::npos) {
        *missing = "HKEY_CLASSES_ROOT\\" + Shown(extension) +
                   " names neither a PersistentHandler nor a document type";
        return false;
    }
    WideString documentClass;
    if (!ClassIdAt(progId + L"\\CLSID", &documentClass, &id, missing))
        return false;
    return ClassIdAt(L"CLSID\\" + documentClass + L"\\PersistentHandler", handler, &id, missing);
}

std::string NoFilterMessage(LPCWSTR extension, const std::string& missing)
{
    return "no filter is registered for " + Shown(extension) + " documents (" + missing +
           "); register one with: regsvr32 CVXFilter.dll, or name a module with --module PATH";
}

// query.dll's LoadIFilter, when the system has one (loaded once, kept).
LoadIFilterCall SystemLoadIFilter()
{
    static const LoadIFilterCall call = [] {
        HMODULE query = LoadLibraryW(L"query.dll");
        FARPROC entry = query != nullptr ? GetProcAddress(query, "LoadIFilter") : nullptr;
        return reinterpret_cast<LoadIFilterCall>(reinterpret_cast<void (*)()>(entry));
    }();
    return call;
}

// IPersistFile whose Load is LoadIFilter: the system picks and loads the filter for the name.
// Where LoadIFilter is only a stub (E_NOTIMPL), the registered class from `fallback` loads it.
// After Load, QueryInterface(IID_IFilter) hands out that filter.
class SystemLoadedFile final : public IPersistFile {
public:
    SystemLoadedFile(LoadIFilterCall load, IClassFactory* fallback)
        : Load_(load), Fallback(fallback)
    {
        Fallback->AddRef();
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (iid == IID_IFilter)
            return Filter != nullptr ? Filter->QueryInterface(iid, out) : E_NOINTERFACE;
        if (iid != IID_IUnknown && iid != IID_IPersist && iid != IID_IPersistFile)
            return E_NOINTERFACE;
        *out = static_cast<IPersistFile*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++References; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --References;
        if (left == 0)
            delete this;
        return left;
    }
    STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
    STDMETHODIMP IsDirty() override { return S_FALSE; }
    STDMETHODIMP Load(LPCOLESTR name, DWORD mode) override
    {
        if (Filter != nullptr)
            return E_UNEXPECTED;
        IUnknown* loaded = nullptr;
        HRESULT result = Load_(name, nullptr, reinterpret_cast<void**>(&loaded));
        if (result == E_NOTIMPL)
            return LoadThroughClass(name, mode);
        if (FAILED(result))
            return result;
        if (loaded == nullptr)
            return E_UNEXPECTED;
        result = loaded->QueryInterface(IID_IFilter, reinterpret_cast<void**>(&Filter));
        loaded->Release();
        return result;
    }
    STDMETHODIMP Save(LPCOLESTR, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP SaveCompleted(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP GetCurFile(LPOLESTR*) override { return E_NOTIMPL; }

private:
    ~SystemLoadedFile()
    {
        if (Filter != nullptr)
            Filter->Release();
        Fallback->Release();
    }

    HRESULT LoadThroughClass(LPCOLESTR name, DWORD mode)
    {
        IPersistFile* file = nullptr;
        HRESULT result =
            Fallback->CreateInstance(nullptr, IID_IPersistFile, reinterpret_cast<void**>(&file));
        if (FAILED(result))
            return result;
        result = file->Load(name, mode);
        if (SUCCEEDED(result))
            result = file->QueryInterface(IID_IFilter, reinterpret_cast<void**>(&Filter));
        file->Release();
        return result;
    }

    std::atomic<ULONG> References{1};
    LoadIFilterCall Load_;
    IClassFactory* Fallback;
    IFilter* Filter = nullptr;
};

class SystemLoadingFactory final : public IClassFactory {
public:
    SystemLoadingFactory(LoadIFilterCall load, IClassFactory* fallback)
        : Load(load), Fallback(fallback)
    {
        Fallback->AddRef();
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory)
            return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++References; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --References;
        if (left == 0)
            delete this;
        return left;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        SystemLoadedFile* file = new (std::nothrow) SystemLoadedFile(Load, Fallback);
        if (file == nullptr)
            return E_OUTOFMEMORY;
        const HRESULT result = file->QueryInterface(iid, out);
        file->Release();
        return result;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    ~SystemLoadingFactory() { Fallback->Release(); }

    std::atomic<ULONG> References{1};
    LoadIFilterCall Load;
    IClassFactory* Fallback;
};

}  // namespace

bool FindFilterClass(LPCWSTR extension, CLSID* classId, std::string* error)
{
    std::string missing;
    WideString handler;
    if (!FindHandler(extension, &handler, &missing)) {
        *error = NoFilterMessage(extension, missing);
        return false;
    }
    WideString filterText;
    CLSID filter;
    if (!ClassIdAt(L"CLSID\\" + handler + L"\\" + FilterAddinKey, &filterText, &filter, &missing)) {
        *error = NoFilterMessage(extension, missing);
        return false;
    }
    WideString server;
    const WideString serverKey = L"CLSID\\" + filterText + L"\\InprocServer32";
    if (!DefaultText(serverKey, &server) || server.empty()) {
        *error = NoFilterMessage(extension,
                                 "HKEY_CLASSES_ROOT\\" + Shown(serverKey) + " names no module");
        return false;
    }
    *classId = filter;
    return true;
}

bool FindFilter(const std::string& module, FilterSource* source, std::string* error)
{
    *source = FilterSource();
    if (module.empty()) {
        if (!FindFilterClass(L".zcv", &source->ClassId, error))
            return false;
        source->LoadIFilter = SystemLoadIFilter();
        return true;
    }
    // A full path, so that the module's own imports are looked for beside it too.
    std::error_code ignored;
    const std::wstring path = std::filesystem::absolute(PathOfArgument(module), ignored).wstring();
    HMODULE loaded = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (loaded == nullptr) {
        const DWORD code = GetLastError();
        *error = "cannot load the filter module " + module + ": " + SystemErrorText(code);
        return false;
    }
    FARPROC entry = GetProcAddress(loaded, "DllGetClassObject");
    if (entry == nullptr) {
        *error = "the filter module " + module + " has no DllGetClassObject";
        return false;
    }
    source->Entry = reinterpret_cast<ClassObjectEntry>(reinterpret_cast<void (*)()>(entry));
    return true;
}

FilterSession::FilterSession(const FilterSource& source)
{
    // An apartment this thread already had (RPC_E_CHANGED_MODE) serves as well; only one
    // started here is ended here.
    ComStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    void** out = reinterpret_cast<void**>(&Pointer);
    if (source.Entry != nullptr) {
        Status = source.Entry(FilterClassId, IID_IClassFactory, out);
    } else {
        // CoCreateInstance's own way to the class: InprocServer32's module is loaded here.
        Status = CoGetClassObject(source.ClassId, CLSCTX_INPROC_SERVER, nullptr,
                                  IID_IClassFactory, out);
        if (SUCCEEDED(Status) && Pointer != nullptr && source.LoadIFilter != nullptr) {
            IClassFactory* registered = Pointer;
            Pointer = new (std::nothrow) SystemLoadingFactory(source.LoadIFilter, registered);
            registered->Release();
            if (Pointer == nullptr)
                Status = E_OUTOFMEMORY;
        }
    }
    if (SUCCEEDED(Status) && Pointer == nullptr)
        Status = E_UNEXPECTED;
    if (FAILED(Status))
        Pointer = nullptr;  // what a failed call left there is no object
}

FilterSession::~FilterSession()
{
    if (Pointer != nullptr)
        Pointer->Release();
    if (ComStarted)
        CoUninitialize();
}

#else

bool FindFilter(FilterSource* source, std::string* /*error*/)
{
    source->Entry = &DllGetClassObject;
    return true;
}

FilterSession::FilterSession(const FilterSource& source)
{
    Status = source.Entry(FilterClassId, IID_IClassFactory, reinterpret_cast<void**>(&Pointer));
    if (SUCCEEDED(Status) && Pointer == nullptr)
        Status = E_UNEXPECTED;
    if (FAILED(Status))
        Pointer = nullptr;
}

FilterSession::~FilterSession()
{
    if (Pointer != nullptr)
        Pointer->Release();
}

#endif
