// The class factory of the filter class. It holds nothing but its reference count.
#pragma once

#include "platform/platform.h"

class FilterClassFactory final : public IClassFactory {
public:
    // Makes a factory with one reference, counted in ModuleObjectCount; null when out of memory.
    static FilterClassFactory* Create();
    // Tears down a factory and frees its memory without going through Release.
    static void Discard(FilterClassFactory* factory);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                             void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

private:
    FilterClassFactory();
    ~FilterClassFactory();
    FilterClassFactory(const FilterClassFactory&) = delete;
    FilterClassFactory& operator=(const FilterClassFactory&) = delete;

    LONG volatile RefCount;
};
