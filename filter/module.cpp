#include "filter/module.h"

#include "filter/class_factory.h"
#include "filter/class_id.h"

LONG volatile ModuleObjectCount = 0;

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID /*lpvReserved*/)
{
    if (fdwReason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(hinstDLL);
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (!IsEqualGUID(rclsid, FilterClassId))
        return CLASS_E_CLASSNOTAVAILABLE;
    FilterClassFactory* factory = FilterClassFactory::Create();
    if (factory == nullptr)
        return E_OUTOFMEMORY;
    if (FAILED(factory->QueryInterface(riid, ppv))) {
        FilterClassFactory::Discard(factory);
        return E_UNEXPECTED;
    }
    factory->Release();
    return S_OK;
}

STDAPI DllCanUnloadNow()
{
    // An interlocked read: other threads change the count while this one asks.
    return InterlockedCompareExchange(&ModuleObjectCount, 0, 0) > 0 ? S_FALSE : S_OK;
}

CIFilter& CIFilter::operator=(const CIFilter& other)
{
    State = other.State;
    return *this;
}
