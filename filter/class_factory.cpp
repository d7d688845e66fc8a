#include "filter/class_factory.h"

#include <new>

#include "filter/document_filter.h"
#include "filter/module.h"
#include "platform/fault.h"

FilterClassFactory* FilterClassFactory::Create()
{
    void* memory = ObjectAllocate(sizeof(FilterClassFactory));
    if (memory == nullptr)
        return nullptr;
    return new (memory) FilterClassFactory();
}

void FilterClassFactory::Discard(FilterClassFactory* factory)
{
    factory->~FilterClassFactory();
    ObjectFree(factory);
}

FilterClassFactory::FilterClassFactory() : RefCount(1)
{
    InterlockedIncrement(&ModuleObjectCount);
}

FilterClassFactory::~FilterClassFactory()
{
    InterlockedDecrement(&ModuleObjectCount);
}

HRESULT STDMETHODCALLTYPE FilterClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (IsEqualGUID(riid, IID_IClassFactory) || IsEqualGUID(riid, IID_IUnknown)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE FilterClassFactory::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&RefCount));
}

ULONG STDMETHODCALLTYPE FilterClassFactory::Release()
{
    const LONG count = InterlockedDecrement(&RefCount);
    if (count == 0)
        Discard(this);
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE FilterClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                             void** ppv)
{
    if (pUnkOuter != nullptr)
        return CLASS_E_NOAGGREGATION;
    DocumentFilter* filter = DocumentFilter::Create();
    if (filter == nullptr)
        return E_OUTOFMEMORY;
    if (FAILED(filter->QueryInterface(riid, ppv))) {
        DocumentFilter::Discard(filter);
        return E_UNEXPECTED;
    }
    filter->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterClassFactory::LockServer(BOOL fLock)
{
    if (fLock)
        InterlockedIncrement(&ModuleObjectCount);
    else
        InterlockedDecrement(&ModuleObjectCount);
    return S_OK;
}
