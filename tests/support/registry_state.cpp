#include "tests/support/registry_state.h"

#include "platform/fault.h"
#include "registration/registration.h"
#include "registration/registry_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

namespace {

const char Header[] = "Windows Registry Editor Version 5.00\n\n";
const char Root[] = "[HKEY_CLASSES_ROOT\\";

WideString Wide(const std::string& ascii)
{
    return WideString(ascii.begin(), ascii.end());
}

std::string Upper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string Narrow(LPCWSTR text)
{
    const WideString wide(text);
    return std::string(wide.begin(), wide.end());
}

struct Caseless {
    bool operator()(const std::string& a, const std::string& b) const
    {
        return Upper(a) < Upper(b);
    }
};

// Keys touched so far: top-level names, and classes as "CLSID\{...}", in enumeration order.
std::set<std::string, Caseless>& Touched()
{
    static std::set<std::string, Caseless> roots = [] {
        std::set<std::string, Caseless> own;
        const DocumentTypeEntry& row = DocumentTypeTable[0];
        for (LPCWSTR name : {FilterClassEntry.ClassId, PersistentHandlerEntry.ClassId, row.ClassId})
            own.insert("CLSID\\" + Narrow(name));
        for (LPCWSTR name : {row.Extension, row.ProgId})
            own.insert(Narrow(name));
        return own;
    }();
    return roots;
}

// Adds the roots of the keys a .reg text names.
void Touch(const std::string& keys)
{
    for (std::size_t at = keys.find(Root); at != std::string::npos; at = keys.find(Root, at + 1)) {
        const std::size_t start = at + sizeof Root - 1;
        const std::size_t end = keys.find(']', start);
        const std::string path = keys.substr(start, end - start);
        std::size_t cut = path.find('\\');
        if (Upper(path.substr(0, cut)) == "CLSID" && cut != std::string::npos)
            cut = path.find('\\', cut + 1);
        Touched().insert(path.substr(0, cut));
    }
}

}  // namespace

void ClearTestRegistry()
{
    for (const std::string& root : Touched())
        EXPECT_EQ(DeleteRegistryTree(Wide(root).c_str()), ERROR_SUCCESS) << root;
}

void GivenRegistry(const std::string& keys)
{
    Touch(keys);
    ClearTestRegistry();
    std::string badLine;
    ASSERT_EQ(ImportRegistryText(Header + keys, &badLine), ERROR_SUCCESS) << badLine;
}

std::string RegistryNow(const std::string& expected)
{
    Touch(expected);
    std::vector<WideString> roots;
    for (const std::string& root : Touched())
        roots.push_back(Wide(root));
    std::string text;
    EXPECT_EQ(ExportRegistryText(roots, &text), ERROR_SUCCESS);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    // Long hex values come wrapped; tests state them on one line.
    for (std::size_t at; (at = text.find(",\\\n  ")) != std::string::npos;)
        text.replace(at, 5, ",");
    const std::size_t body = text.find("\n\n");
    return body == std::string::npos ? std::string() : text.substr(body + 2);
}

bool UseRegistrationMode(bool openOnly)
{
    if (SetReportedVersion(VER_PLATFORM_WIN32_NT, openOnly ? 6 : 4, openOnly ? 1 : 0))
        return true;
    return RegistrationOpenOnly() == openOnly;
}

std::string Repeated(char letter, unsigned length)
{
    return std::string(length, letter);
}
