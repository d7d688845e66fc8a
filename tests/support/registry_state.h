// Registry contents for tests, stated as .reg text without its header line, on the stand-in and
// on the real registry alike. The keys a test may touch are the filter's own (its classes, the
// ProgID and the extension) and every top-level key or class its texts name; they are deleted
// before a test states its registry and when it ends.
#pragma once

#include "platform/platform.h"

#include <string>

// Deletes the keys tests touch and writes `keys` (.reg text less the header); fails the test
// when the text cannot be written.
void GivenRegistry(const std::string& keys);

// The keys tests touch, those `expected` names among them, as .reg text less the header, with
// LF line ends.
std::string RegistryNow(const std::string& expected = std::string());

// Deletes every key tests have touched, and forgets them.
void ClearTestRegistry();

// Chooses the registration mode: on the stand-in by the version GetVersionExW reports (NT 4.0
// for create mode, NT 6.1 for open-only); where the version is the system's, true only when the
// system's mode is the one asked for.
bool UseRegistrationMode(bool openOnly);

// A text of `length` copies of `letter`, for names and values at the length limits.
std::string Repeated(char letter, unsigned length);
