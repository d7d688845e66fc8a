// Where cvxtext finds the filter: the module's class-object entry point, as an indexing host
// resolves it. The one place to change for another way of finding the module.
#pragma once

#include "platform/platform.h"

#include <string>

typedef HRESULT(STDMETHODCALLTYPE* ClassObjectEntry)(REFCLSID, REFIID, LPVOID*);

// The filter module's DllGetClassObject: on Windows that of the CVXFilter.dll beside the
// program (loaded on the first call and kept), elsewhere the one linked in. Null, with the
// reason in *error, when the module cannot be had.
ClassObjectEntry FindFilterModule(std::string* error);
