// What registration and unregistration share: key paths in fixed buffers, keys under
// HKEY_CLASSES_ROOT opened with full access, and default values read as text.
#pragma once

#include "platform/platform.h"
#include "registration/registration.h"

// A key variable that holds no open key.
extern const HKEY NoKey;

// A key path relative to HKEY_CLASSES_ROOT: at most KeyPathSize - 1 characters, always
// zero-terminated.
struct KeyPath {
    WCHAR Text[KeyPathSize];
    unsigned Length;
};

// Characters of a zero-terminated text, counting no further than `limit`.
unsigned TextLength(LPCWSTR text, unsigned limit = KeyPathSize);

// Starts the path as `text`, or appends `text`: false, leaving the path as it was, when the
// result would not fit.
bool SetPath(KeyPath* path, LPCWSTR text);
bool AppendPath(KeyPath* path, LPCWSTR text);
// Cuts the last name and its backslash off the path.
void CutLastName(KeyPath* path);

// The key stays NoKey when the call fails. `disposition` may be null.
LONG CreateClassesKey(LPCWSTR path, HKEY* key, DWORD* disposition);
LONG OpenClassesKey(LPCWSTR path, HKEY* key);
void CloseKey(HKEY* key);

// Sets a REG_SZ value (null name: the default value), its terminating zero included.
LONG SetTextValue(HKEY key, LPCWSTR name, LPCWSTR text);

// A default value read into KeyPathSize code units (520 bytes). The text ends at its first zero;
// a value that fills the buffer with no zero in it fails with ERROR_MORE_DATA, as a longer one.
struct DefaultText {
    WCHAR Text[KeyPathSize];
    DWORD Type;
};
LONG ReadDefaultText(HKEY key, DefaultText* value);

// True when the text can name a single key: it holds no backslash. A name read from a value
// (a ProgID, a class id) that holds one would lead elsewhere in the registry.
bool IsKeyName(LPCWSTR text);

// Equal texts when the letters A to Z are taken without regard to case.
bool SameText(LPCWSTR a, LPCWSTR b);

// ERROR_NO_MORE_ITEMS when the key has no subkey, else what enumerating its first gives.
LONG ProbeSubkeys(HKEY key);
