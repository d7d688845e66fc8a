#include "tools/cvxtext/registration_entries.h"

#ifndef _WIN32
#include "platform/fault.h"
#include "platform/platform.h"
#include "registration/registration.h"
#include "registration/registry_text.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

std::string Hex(unsigned long value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%08lX", value);
    return text;
}

// The paths of the subkeys of `path` under HKEY_CLASSES_ROOT (the root itself when empty).
LONG Subkeys(const WideString& path, std::vector<WideString>* paths)
{
    HKEY key = HKEY_CLASSES_ROOT;
    if (!path.empty()) {
        const LONG opened = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key);
        if (opened != ERROR_SUCCESS)
            return opened;
    }
    const WideString prefix = path.empty() ? path : path + u'\\';
    LONG result = ERROR_SUCCESS;
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD length = 256;
        result = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS)
            break;
        paths->push_back(prefix + WideString(name, length));
    }
    if (key != HKEY_CLASSES_ROOT)
        RegCloseKey(key);
    return result == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : result;
}

// The entries: each key that holds a value, with its subtree. A key without values only groups
// others (CLSID): it is the system's, not an entry of ours, so its subkeys are taken in its place
// and an installer never owns, and so never removes, a key every system has.
LONG EntryRoots(const WideString& path, std::vector<WideString>* roots)
{
    if (!path.empty()) {
        HKEY key;
        LONG result = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key);
        if (result != ERROR_SUCCESS)
            return result;
        // Asked with no room for the name: a value there answers 234, none 259.
        WCHAR name[1];
        DWORD length = 0;
        result = RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
        if (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
            roots->push_back(path);
            return ERROR_SUCCESS;
        }
        if (result != ERROR_NO_MORE_ITEMS)
            return result;
    }
    std::vector<WideString> subkeys;
    LONG result = Subkeys(path, &subkeys);
    for (const WideString& subkey : subkeys)
        if (result == ERROR_SUCCESS)
            result = EntryRoots(subkey, roots);
    return result;
}

}  // namespace

bool RegistrationEntries(std::string* text, std::string* problem)
{
    std::vector<WideString> roots;
    LONG result = Subkeys(WideString(), &roots);
    if (result == ERROR_SUCCESS && !roots.empty()) {
        *problem = "the in-memory registry already holds keys";
        return false;
    }
    // Create mode: every entry is written, whatever the registry holds.
    SetReportedVersion(VER_PLATFORM_WIN32_NT, 4, 0);
    const HRESULT registered = DllRegisterServer();
    if (registered != S_OK) {
        *problem = "registration failed (" + Hex(static_cast<std::uint32_t>(registered)) + ")";
        return false;
    }
    // The registry started empty, so every key in it now is one registration wrote.
    std::string lines;
    roots.clear();
    if (result == ERROR_SUCCESS)
        result = EntryRoots(WideString(), &roots);
    if (result == ERROR_SUCCESS)
        result = ExportRegistryText(roots, &lines);
    if (result != ERROR_SUCCESS) {
        *problem = "cannot read the registry back (error " + std::to_string(result) + ")";
        return false;
    }
    text->clear();
    for (const char c : lines) {
        if (c == '\n')
            text->push_back('\r');
        text->push_back(c);
    }
    return true;
}
#endif
