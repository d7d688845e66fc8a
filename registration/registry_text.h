// Registry contents as the text of a .reg file, in the platform's export format ("Windows
// Registry Editor Version 5.00"): the readable way to state registry contents as data, to compare
// them and to hand them to an installer.
#pragma once

#include "platform/platform.h"

#include <string>
#include <vector>

// The keys under HKEY_CLASSES_ROOT named by `roots` (paths relative to it, such as ".zcv" or
// "CLSID\{...}"), as .reg text in UTF-8: the header line and a blank line, then for each root
// that exists the key and every subkey, depth first, subkeys in case-insensitive order (A-Z taken
// as upper case, as Windows orders them; Wine's own order differs). Each key is a line
// "[HKEY_CLASSES_ROOT\path]" with the names as the registry spells them, then its values, the
// default value ("@") first and the others in case-insensitive order of their names, then a blank
// line. Missing roots are left out. Returns 0, the failing call's Win32 error,
// ERROR_INVALID_DATA (and no text) for a name that .reg text cannot carry (a line break, an
// unpaired surrogate), or ERROR_INVALID_PARAMETER for a root with an empty name in it.
LONG ExportRegistryText(const std::vector<WideString>& roots, std::string* text);

// Writes into HKEY_CLASSES_ROOT what .reg text (UTF-8, as ExportRegistryText makes it, or as the
// platform's registry editor exports it) states: each key is created, each value set with exactly
// the type and bytes stated; "[-key]" deletes a key with all its subkeys, "name"=- a value.
// Returns 0, the failing call's Win32 error, or ERROR_INVALID_DATA for text that is not .reg text,
// with the first line at fault in *badLine when badLine is given.
LONG ImportRegistryText(const std::string& text, std::string* badLine = nullptr);

// Deletes the key at `path` under HKEY_CLASSES_ROOT with all its subkeys, deepest first. A key
// that is missing already counts as deleted (0). HKEY_CLASSES_ROOT itself is never deleted: a
// null, empty or malformed path gives ERROR_INVALID_PARAMETER.
LONG DeleteRegistryTree(LPCWSTR path);
