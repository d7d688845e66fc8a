// The module file as a Windows host and linker see it: a 32-bit DLL that exports the entry
// points under undecorated names and the CIFilter copy assignment under both the name Windows
// C++ clients link against and the toolchain's own, and that imports only system DLLs.
#include "tests/support/filter_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const char MsvcAssignment[] = "??4CIFilter@@QAEAAV0@ABV0@@Z";
const char GnuAssignment[] = "_ZN8CIFilteraSERKS_";

// Just enough of the PE format to read the export and import tables.
class PeImage {
public:
    explicit PeImage(const std::wstring& path)
    {
        std::ifstream file(path.c_str(), std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    bool Valid() const { return bytes_.size() > 0x40 && Read16(0) == 0x5A4D && Read32(Pe()) == 0x4550; }
    uint16_t Machine() const { return Read16(Pe() + 4); }
    uint16_t Characteristics() const { return Read16(Pe() + 22); }
    uint16_t OptionalMagic() const { return Read16(Optional()); }

    // Export name → function address.
    std::map<std::string, uint32_t> Exports() const
    {
        std::map<std::string, uint32_t> exports;
        const uint32_t directory = Offset(DirectoryAddress(0));
        if (directory == 0)
            return exports;
        const uint32_t names = Read32(directory + 24);
        const uint32_t functions = Offset(Read32(directory + 28));
        const uint32_t nameTable = Offset(Read32(directory + 32));
        const uint32_t ordinals = Offset(Read32(directory + 36));
        for (uint32_t index = 0; index < names; ++index) {
            const std::string name = String(Offset(Read32(nameTable + 4 * index)));
            exports[name] = Read32(functions + 4 * Read16(ordinals + 2 * index));
        }
        return exports;
    }

    std::vector<std::string> Imports() const
    {
        std::vector<std::string> imports;
        uint32_t descriptor = Offset(DirectoryAddress(1));
        for (; descriptor != 0 && Read32(descriptor + 12) != 0; descriptor += 20)
            imports.push_back(String(Offset(Read32(descriptor + 12))));
        return imports;
    }

private:
    uint32_t Pe() const { return Read32(0x3C); }
    uint32_t Optional() const { return Pe() + 24; }
    uint32_t DirectoryAddress(int entry) const { return Read32(Optional() + 96 + 8 * entry); }
    // File offset of a relative virtual address; 0 when no section holds it.
    uint32_t Offset(uint32_t address) const
    {
        const uint32_t sections = Optional() + Read16(Pe() + 20);
        for (uint32_t index = 0; index < Read16(Pe() + 6); ++index) {
            const uint32_t section = sections + 40 * index;
            const uint32_t start = Read32(section + 12);
            const uint32_t size = std::max(Read32(section + 8), Read32(section + 16));
            if (address >= start && address < start + size)
                return address - start + Read32(section + 20);
        }
        return 0;
    }
    uint32_t Read16(uint32_t at) const { return at + 2 <= bytes_.size() ? Byte(at) | Byte(at + 1) << 8 : 0; }
    uint32_t Read32(uint32_t at) const { return Read16(at) | Read16(at + 2) << 16; }
    uint32_t Byte(uint32_t at) const { return static_cast<unsigned char>(bytes_[at]); }
    std::string String(uint32_t at) const
    {
        std::string text;
        while (at != 0 && at < bytes_.size() && bytes_[at] != 0)
            text += bytes_[at++];
        return text;
    }

    std::vector<char> bytes_;
};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

TEST(ModuleFile, IsA32BitDll)
{
    const PeImage image(LoadedModulePath());
    ASSERT_TRUE(image.Valid());
    EXPECT_EQ(image.Machine(), 0x14C) << "i386";
    EXPECT_EQ(image.OptionalMagic(), 0x10B) << "PE32";
    EXPECT_NE(image.Characteristics() & 0x2000, 0) << "a DLL";
}

TEST(ModuleFile, ExportsTheEntryPointsUndecorated)
{
    const std::map<std::string, uint32_t> exports = PeImage(LoadedModulePath()).Exports();
    std::set<std::string> names;
    for (const auto& entry : exports)
        names.insert(entry.first);
    EXPECT_EQ(names, (std::set<std::string>{MsvcAssignment, "DllCanUnloadNow", "DllGetClassObject",
                                             "DllRegisterServer", "DllUnregisterServer",
                                             GnuAssignment}));
    ASSERT_EQ(exports.count(MsvcAssignment), 1u);
    EXPECT_EQ(exports.at(MsvcAssignment), exports.at(GnuAssignment)) << "one function, two names";
}

TEST(ModuleFile, ImportsOnlySystemDlls)
{
    const std::set<std::string> system{"kernel32.dll", "msvcrt.dll", "ole32.dll", "advapi32.dll"};
    const std::vector<std::string> imports = PeImage(LoadedModulePath()).Imports();
    EXPECT_FALSE(imports.empty());
    for (const std::string& name : imports)
        EXPECT_EQ(system.count(Lower(name)), 1u) << name;
}

// The version resource of the module and of cvxtext.exe beside it: the project's version, as
// Explorer shows it and Windows Installer compares it.
TEST(ModuleFile, CarriesTheProjectVersion)
{
    const std::wstring module = LoadedModulePath();
    const std::wstring folder = module.substr(0, module.find_last_of(L"\\/") + 1);
    for (const std::wstring& file : {module, folder + L"cvxtext.exe"}) {
        SCOPED_TRACE(std::string(file.begin(), file.end()));
        DWORD ignored = 0;
        std::vector<BYTE> data(GetFileVersionInfoSizeW(file.c_str(), &ignored));
        ASSERT_FALSE(data.empty());
        ASSERT_TRUE(GetFileVersionInfoW(file.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT size = 0;
        ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
        char version[32];
        std::snprintf(version, sizeof version, "%lu.%lu.%lu", HIWORD(fixed->dwFileVersionMS),
                      LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS));
        EXPECT_STREQ(version, CVX_VERSION);
        WCHAR* text = nullptr;
        ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                                   reinterpret_cast<void**>(&text), &size));
        EXPECT_EQ(std::wstring(text), std::wstring(CVX_VERSION, CVX_VERSION + std::strlen(CVX_VERSION)));
    }
}

// Called as a Windows C++ client calls it: this-call, the object in ECX, the source on the stack.
typedef void*(__attribute__((thiscall)) * AssignmentCall)(void* self, const void* other);

TEST(ModuleFile, CopyAssignmentCopiesTheByteAndReturnsItsObject)
{
    for (const char* name : {MsvcAssignment, GnuAssignment}) {
        SCOPED_TRACE(name);
        auto assign = reinterpret_cast<AssignmentCall>(LoadedModuleExport(name));
        ASSERT_NE(assign, nullptr);
        unsigned char target[2] = {0x00, 0x77};
        const unsigned char source[2] = {0x5A, 0x11};
        EXPECT_EQ(assign(target, source), static_cast<void*>(target));
        EXPECT_EQ(target[0], 0x5A);
        EXPECT_EQ(target[1], 0x77) << "only the one byte of state is copied";
    }
}

}  // namespace
