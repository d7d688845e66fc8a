// Where cvxtext gets its filter objects. On Windows as an indexing host does: LoadIFilter where
// the system has it, else the filter class registered for ".zcv" through COM; or a module named
// with --module, through its DllGetClassObject. Elsewhere the filter linked in.
#pragma once

#include "platform/platform.h"

#include <string>

typedef HRESULT(STDMETHODCALLTYPE* ClassObjectEntry)(REFCLSID, REFIID, LPVOID*);
#ifdef _WIN32
typedef HRESULT(STDAPICALLTYPE* LoadIFilterCall)(const WCHAR*, IUnknown*, void**);
#endif

// The way to the filter, chosen once for a run.
struct FilterSource {
    ClassObjectEntry Entry = nullptr;  // a module's own entry point (--module; the linked filter)
#ifdef _WIN32
    CLSID ClassId{};                       // the registered filter class, when Entry is null
    LoadIFilterCall LoadIFilter = nullptr;  // query.dll's, when the system has it
#endif
};

#ifdef _WIN32
// The filter class registered for documents with `extension` (".zcv"), found as an indexing host
// finds it: the extension's PersistentHandler (or, without one, that of the document class its
// ProgID names), the handler's PersistentAddinsRegistered\{IID_IFilter}, and a class with an
// InprocServer32 module. False, with where the chain ends in *error, when there is none.
bool FindFilterClass(LPCWSTR extension, CLSID* classId, std::string* error);

// With a module path (WTF-8), that module's DllGetClassObject (loaded and kept); without one,
// the filter registered for ".zcv". False, with the reason in *error.
bool FindFilter(const std::string& module, FilterSource* source, std::string* error);
#else
// The filter linked in.
bool FindFilter(FilterSource* source, std::string* error);
#endif

// One thread's class factory for filter objects; on Windows, COM initialised on that thread
// (multithreaded apartment) while this lives. Make, use and drop it on one thread.
class FilterSession {
public:
    explicit FilterSession(const FilterSource& source);
    ~FilterSession();
    FilterSession(const FilterSession&) = delete;
    FilterSession& operator=(const FilterSession&) = delete;

    // Null when no factory could be had; Result() then says why.
    IClassFactory* Factory() const { return Pointer; }
    HRESULT Result() const { return Status; }

private:
    IClassFactory* Pointer = nullptr;
    HRESULT Status = S_OK;
#ifdef _WIN32
    bool ComStarted = false;
#endif
};
