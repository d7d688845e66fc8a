// The registry entries CVXFilter.dll's self-registration writes, as a .reg file: what a Windows
// Installer package states as data instead of calling DllRegisterServer.
#pragma once

#include <string>

#ifndef _WIN32
// Runs the module's own DllRegisterServer in create mode (NT 4.0 reported) against the
// in-memory registry, which must not hold any of the filter's keys yet, and gives every key it
// wrote as .reg text with CR LF line ends, as .reg files have. False, with the reason in
// *problem, when registration fails or the registry was not empty.
bool RegistrationEntries(std::string* text, std::string* problem);
#endif
