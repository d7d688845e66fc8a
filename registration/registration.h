// Self-registration: the registry entries under HKEY_CLASSES_ROOT through which an indexing host
// finds the filter for ".zcv" documents (extension or document class -> PersistentHandler ->
// PersistentAddinsRegistered\{IID_IFilter} -> filter class -> InprocServer32), and their removal.
//
// The routines return a Win32 status: 0, the failing registry call's error, E_FAIL for a value of
// the wrong type, or ERROR_INSUFFICIENT_BUFFER for a name too long for a key path.
#pragma once

#include "platform/platform.h"

struct FilterClassFields {
    LPCWSTR ClassId;
    LPCWSTR Name;
    LPCWSTR ServerModule;  // the bare file name: the host finds the module on its search path
    LPCWSTR ThreadingModel;
};

struct PersistentHandlerFields {
    LPCWSTR ClassId;
    LPCWSTR Name;
    LPCWSTR FilterClassId;  // the filter's class id as written under the handler
};

struct DocumentTypeEntry {
    LPCWSTR Extension;
    LPCWSTR ProgId;
    LPCWSTR ProgIdDescription;
    LPCWSTR ClassId;
    LPCWSTR ClassDescription;
};

extern const FilterClassFields FilterClassEntry;
extern const PersistentHandlerFields PersistentHandlerEntry;
constexpr unsigned DocumentTypeCount = 1;
extern const DocumentTypeEntry DocumentTypeTable[DocumentTypeCount];

// Key chains: key name and default value (or null) in pairs, the first key directly under
// HKEY_CLASSES_ROOT\CLSID and each further one under the key before it.
constexpr unsigned HandlerChainEntries = 6;
constexpr unsigned FilterChainEntries = 4;
extern const LPCWSTR HandlerChain[HandlerChainEntries];
extern const LPCWSTR FilterChain[FilterChainEntries];

// Key paths are built in buffers of this many code units, the terminating zero included.
constexpr unsigned KeyPathSize = 260;

// Registration. Null for a class id or ProgID means the entry's own.
LONG RegisterKeyChain(const LPCWSTR* chain, unsigned count);
LONG SetThreadingModel();
LONG RegisterClassHandler(const DocumentTypeEntry* entry, LPCWSTR handlerClassId, LPCWSTR classId,
                          bool openOnly);
LONG RegisterProgIdHandler(const DocumentTypeEntry* entry, LPCWSTR handlerClassId,
                           LPCWSTR progId, bool openOnly);
LONG RegisterExtensionHandler(const DocumentTypeEntry* entry, LPCWSTR handlerClassId,
                              bool openOnly, bool alwaysSetHandler);
// True on NT 5.0 and later, where document classes and ProgIDs are only opened, never created.
bool RegistrationOpenOnly();
STDAPI DllRegisterServer();

// Unregistration.
LONG UnregisterKeyChain(const LPCWSTR* chain, int count);
void RemoveClassAndProgIds(LPCWSTR classId);
void RemoveProgId(LPCWSTR progId);
STDAPI DllUnregisterServer();
