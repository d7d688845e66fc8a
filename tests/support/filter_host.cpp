#include "tests/support/filter_host.h"

#include "filter/class_id.h"
#include "filter/module.h"

#include <gtest/gtest.h>

#include <utility>

#ifdef _WIN32
namespace {

std::wstring ModuleFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

HMODULE LoadedModule()
{
    static HMODULE module = LoadLibraryW((ModuleFolder() + L"CVXFilter.dll").c_str());
    return module;
}

}  // namespace

std::wstring LoadedModulePath()
{
    return ModuleFolder() + L"CVXFilter.dll";
}

void* LoadedModuleExport(const char* name)
{
    HMODULE module = LoadedModule();
    return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}
#else
std::wstring LoadedModulePath()
{
    return std::wstring();
}

void* LoadedModuleExport(const char*)
{
    return nullptr;
}
#endif

std::vector<FilterModule> FilterModules()
{
    std::vector<FilterModule> modules{{"Linked", DllGetClassObject, DllCanUnloadNow, true}};
#ifdef _WIN32
    auto getClassObject = reinterpret_cast<GetClassObjectCall>(LoadedModuleExport("DllGetClassObject"));
    auto canUnloadNow = reinterpret_cast<CanUnloadNowCall>(LoadedModuleExport("DllCanUnloadNow"));
    // Null calls when the module did not load: the tests' set-up reports that.
    modules.push_back({"CVXFilterDll", getClassObject, canUnloadNow, false});
#endif
    return modules;
}

FilterObject::~FilterObject()
{
    if (Filter != nullptr)
        Filter->Release();
    if (File != nullptr)
        File->Release();
}

FilterObject::FilterObject(FilterObject&& other) noexcept
    : Filter(std::exchange(other.Filter, nullptr)), File(std::exchange(other.File, nullptr))
{
}

FilterObject& FilterObject::operator=(FilterObject&& other) noexcept
{
    FilterObject old(std::move(*this));
    Filter = std::exchange(other.Filter, nullptr);
    File = std::exchange(other.File, nullptr);
    return *this;
}

FilterObject CreateFilter(const FilterModule& module)
{
    FilterObject object;
    IClassFactory* factory = nullptr;
    HRESULT result = module.GetClassObject(FilterClassId, IID_IClassFactory,
                                           reinterpret_cast<void**>(&factory));
    EXPECT_EQ(result, S_OK);
    if (FAILED(result))
        return object;
    result = factory->CreateInstance(nullptr, IID_IFilter, reinterpret_cast<void**>(&object.Filter));
    EXPECT_EQ(result, S_OK);
    factory->Release();
    if (FAILED(result))
        return object;
    result = object.Filter->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&object.File));
    EXPECT_EQ(result, S_OK);
    return object;
}

std::vector<TakenChunk> TakeChunks(IFilter* filter, ULONG bufferSize, HRESULT* last)
{
    const WCHAR Guard = 0xFDFD;
    std::vector<TakenChunk> chunks;
    std::vector<WCHAR> buffer(bufferSize + 1);
    for (int chunk = 0; chunk < 1000; ++chunk) {
        STAT_CHUNK stat{};
        HRESULT result = filter->GetChunk(&stat);
        if (result != S_OK) {
            if (last != nullptr)
                *last = result;
            return chunks;
        }
        TakenChunk taken{stat, WideString()};
        for (;;) {
            std::fill(buffer.begin(), buffer.end(), Guard);
            ULONG count = bufferSize;
            result = filter->GetText(&count, buffer.data());
            if (result == FILTER_E_NO_MORE_TEXT) {
                EXPECT_EQ(count, 0u);
                break;
            }
            EXPECT_TRUE(result == S_OK || result == FILTER_S_LAST_TEXT) << std::hex << result;
            EXPECT_LE(count, bufferSize);
            if (count > bufferSize)
                break;
            EXPECT_EQ(buffer[count], Guard) << "GetText wrote past the count it returned";
            taken.Text.append(buffer.data(), count);
            if (result != S_OK)
                break;
            if (count == 0) {
                ADD_FAILURE() << "GetText answered S_OK with nothing";
                break;
            }
        }
        chunks.push_back(taken);
    }
    ADD_FAILURE() << "GetChunk did not come to an end";
    return chunks;
}

std::vector<WideString> FilterTexts(const FilterModule& module, LPCWSTR path, ULONG bufferSize)
{
    std::vector<WideString> texts;
    FilterObject object = CreateFilter(module);
    if (object.File == nullptr)
        return texts;
    EXPECT_EQ(object.File->Load(path, STGM_READ), S_OK);
    ULONG flags = 0;
    EXPECT_EQ(object.Filter->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags), S_OK);
    HRESULT last = S_OK;
    for (const TakenChunk& chunk : TakeChunks(object.Filter, bufferSize, &last))
        texts.push_back(chunk.Text);
    EXPECT_EQ(last, FILTER_E_END_OF_CHUNKS);
    return texts;
}
