// The module: its object count and its exported entry points.
#pragma once

#include "platform/platform.h"

// Live filter objects and factories plus unmatched LockServer(TRUE) calls; the module may be
// unloaded when it is 0 or below. Changed only with interlocked increments and decrements.
extern LONG volatile ModuleObjectCount;

extern "C" {
BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved);
}
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
STDAPI DllCanUnloadNow();

// Exported for clients built against the original interface of the module; it has one byte of
// state and nothing in the module uses it.
class CIFilter {
public:
    CIFilter& operator=(const CIFilter& other);

private:
    unsigned char State = 0;
};
