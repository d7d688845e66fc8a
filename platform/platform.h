// The one seam between the system and the operating system.
//
// On Windows this is the SDK. Elsewhere it is our stand-in (platform/posix), which gives the same
// types, constants and calls with the behaviour the real platform shows. Everything above this
// header is written once for both.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <filter.h>
#include <filterr.h>
#include <ntquery.h>
#include <olectl.h>
#else
#include "platform/posix/win32.h"
#include "platform/posix/com.h"
#include "platform/posix/registry.h"
#endif

#include <string>

// UTF-16 text has one spelling in the code: WCHAR for a code unit (wchar_t on Windows, char16_t
// elsewhere) and U16("...") for a literal.
#ifdef _WIN32
#define U16(text) L##text
#else
#define U16(text) u##text
#endif

static_assert(sizeof(WCHAR) == 2, "UTF-16 code units are 16 bits");
static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4, "DWORD and LONG are 32 bits");

using WideString = std::basic_string<WCHAR>;
