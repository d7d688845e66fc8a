// Placeholder expansion of program error messages: "{name}" is replaced by the name's value.
#pragma once

#include "platform/platform.h"

// Longest placeholder name, in code units.
const DWORD PlaceholderNameLimit = 30;

// Expands the zero-terminated text in place, as long as the result stays shorter than
// `capacity` code units; "{{" stands for a literal brace.
void ExpandPlaceholders(WCHAR* text, DWORD capacity);

// The value of `name` in the substitution table, or the name itself when there is no table or no
// such pair.
LPCWSTR LookUpSubstitution(LPCWSTR name);

// Installs a substitution table: zero-terminated names and values laid end to end, ended by an
// empty name; an empty value ends the table for the pairs after it. Null removes it.
void InstallSubstitutionTable(const WCHAR* table);
