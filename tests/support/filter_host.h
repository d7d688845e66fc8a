// A stand-in indexing host for tests: reaches the filter module either linked into the test
// program or, on Windows, as the real CVXFilter.dll loaded beside it, and drives filter objects
// through their COM interfaces only.
#pragma once

#include "platform/platform.h"

#include <ostream>
#include <string>
#include <vector>

typedef HRESULT(STDMETHODCALLTYPE* GetClassObjectCall)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDMETHODCALLTYPE* CanUnloadNowCall)();

struct FilterModule {
    std::string Name;
    GetClassObjectCall GetClassObject;
    CanUnloadNowCall CanUnloadNow;
    bool Linked;  // faults and module state of the test program reach it
};

inline void PrintTo(const FilterModule& module, std::ostream* out)
{
    *out << module.Name;
}

// The linked module everywhere; on Windows also CVXFilter.dll (loaded once, kept loaded).
std::vector<FilterModule> FilterModules();
// Path of the loaded module, for tests that read the file itself (Windows only).
std::wstring LoadedModulePath();
// An export of the loaded module by name; null when absent or when not on Windows.
void* LoadedModuleExport(const char* name);

// A filter object's two interfaces, each holding one reference.
struct FilterObject {
    IFilter* Filter = nullptr;
    IPersistFile* File = nullptr;
    ~FilterObject();
    FilterObject() = default;
    FilterObject(FilterObject&& other) noexcept;
    FilterObject& operator=(FilterObject&& other) noexcept;
    FilterObject(const FilterObject&) = delete;
    FilterObject& operator=(const FilterObject&) = delete;
};

// Factory → CreateInstance(IID_IFilter) → QueryInterface(IID_IPersistFile); fails the test
// (and returns empty interfaces) when any step does not answer S_OK.
FilterObject CreateFilter(const FilterModule& module);

// One chunk as the host took it: the chunk's description and all of its text.
struct TakenChunk {
    STAT_CHUNK Stat;
    WideString Text;
};

// GetChunk and GetText with buffers of `bufferSize` units until FILTER_E_END_OF_CHUNKS (or any
// other GetChunk failure, returned in *last). Checks on the way that GetText answers only what
// the interface allows and never writes past the count it returns.
std::vector<TakenChunk> TakeChunks(IFilter* filter, ULONG bufferSize, HRESULT* last = nullptr);

// Load and Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES), then TakeChunks; texts only.
std::vector<WideString> FilterTexts(const FilterModule& module, LPCWSTR path,
                                    ULONG bufferSize = 4096);
