// Registration on the real registry, under Wine: regsvr32 writes the entries an indexing host
// follows (in both registration modes), the host and cvxtext find and run the filter through
// them, and regsvr32 /u takes them away. These tests rewrite the prefix's registry.
#include "filter/class_id.h"
#include "tests/support/filter_host.h"
#include "tests/support/registry_state.h"
#include "tests/support/samples.h"
#include "tests/support/test_files.h"
#include "tools/cvxtext/filter_module.h"
#include "tools/cvxtext/output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string Handler = "{2B5F8E10-7C34-4A9D-B1E6-93D0F4A7C258}";
const std::string Filter = "{6E1C2D47-A93B-4F20-9D84-5B7A0C3E61F9}";
const std::string FilterAsWritten = "{6E1C2D47-A93b-4F20-9D84-5B7A0C3E61F9}";
const std::string Document = "{A8D3C61E-5F02-4B7C-8E39-1C6B2F9D04E7}";
const std::string Addin = "PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}";

std::string Key(const std::string& path, const std::string& values = "")
{
    return "[HKEY_CLASSES_ROOT\\" + path + "]\n" + values + "\n";
}

std::string Default(const std::string& text)
{
    return "@=\"" + text + "\"\n";
}

// A REG_SZ default value without its terminating zero.
std::string UnterminatedDefault(const std::string& ascii)
{
    std::string hex = "@=hex(1):";
    const char digits[] = "0123456789abcdef";
    for (const char letter : ascii) {
        hex += hex.back() == ':' ? "" : ",";
        hex += {digits[(letter >> 4) & 0xF], digits[letter & 0xF], ',', '0', '0'};
    }
    return hex + "\n";
}

// What registration writes, in the order the registry gives it back. Open-only mode leaves out
// the extension's default value, the document class and the ProgID.
const std::string ExtensionKey = Key(".zcv\\PersistentHandler", Default(Handler));
const std::string HandlerKeys =
    Key("CLSID\\" + Handler, Default("CorvanePro Persistent Handler")) +
    Key("CLSID\\" + Handler + "\\PersistentAddinsRegistered") +
    Key("CLSID\\" + Handler + "\\" + Addin, Default(FilterAsWritten));
const std::string FilterKeys =
    Key("CLSID\\" + Filter, Default("CorvanePro Filter")) +
    Key("CLSID\\" + Filter + "\\InprocServer32",
        Default("CVXFilter.dll") + "\"ThreadingModel\"=\"Both\"\n");
const std::string DocumentKeys =
    Key("CLSID\\" + Document, Default("Corvane Pro Document")) +
    Key("CLSID\\" + Document + "\\PersistentHandler", Default(Handler));
const std::string ProgIdKeys = Key("CorvanPro.Document", Default("Corvane Pro Document")) +
                               Key("CorvanPro.Document\\CLSID", Default(Document));

std::string Registered(bool createMode)
{
    if (!createMode)
        return Key(".zcv") + ExtensionKey + HandlerKeys + FilterKeys;
    return Key(".zcv", Default("CorvanPro.Document")) + ExtensionKey + HandlerKeys + FilterKeys +
           DocumentKeys + ProgIdKeys;
}

bool UnderWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string Utf8(const std::wstring& text)
{
    return Utf8Of(WideString(text.begin(), text.end()));
}

std::wstring ProgramFolder()
{
    WCHAR path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring name(path);
    return name.substr(0, name.find_last_of(L"\\/") + 1);
}

// Sets HKCU\Software\Wine "Version" for the processes started while this lives, then puts back
// what was there.
class ReportedVersion {
public:
    explicit ReportedVersion(const std::wstring& version)
    {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine", 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &Key, nullptr);
        WCHAR old[64] = {};
        DWORD size = sizeof old - sizeof(WCHAR), type = 0;
        HadOld = RegQueryValueExW(Key, L"Version", nullptr, &type, reinterpret_cast<BYTE*>(old),
                                  &size) == ERROR_SUCCESS &&
                 type == REG_SZ;
        Old = old;
        Set(version);
    }
    ~ReportedVersion()
    {
        if (HadOld)
            Set(Old);
        else
            RegDeleteValueW(Key, L"Version");
        RegCloseKey(Key);
    }

private:
    void Set(const std::wstring& version)
    {
        EXPECT_EQ(RegSetValueExW(Key, L"Version", 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(version.c_str()),
                                 static_cast<DWORD>((version.size() + 1) * sizeof(WCHAR))),
                  ERROR_SUCCESS);
    }

    HKEY Key = nullptr;
    std::wstring Old;
    bool HadOld = false;
};

// ---- Programs ----

struct Outcome {
    DWORD Status = 0xFFFFFFFF;
    std::string Out;
    std::string Err;
};

std::wstring Quoted(const std::wstring& argument)
{
    return L"\"" + argument + L"\"";
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Outcome Run(const std::wstring& program, const std::vector<std::wstring>& arguments)
{
    static int count = 0;
    const fs::path out = TestFolder() / ("out" + std::to_string(count)),
                   err = TestFolder() / ("err" + std::to_string(count++));
    std::wstring line = Quoted(program);
    for (const std::wstring& argument : arguments)
        line += L" " + Quoted(argument);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    startup.hStdError = CreateFileW(err.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process);
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
    Outcome outcome;
    if (!started) {
        ADD_FAILURE() << "cannot start " << Utf8(program);
        return outcome;
    }
    if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        ADD_FAILURE() << Utf8(program) << " did not end";
    }
    GetExitCodeProcess(process.hProcess, &outcome.Status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    outcome.Out = ReadFile(out);
    outcome.Err = ReadFile(err);
    for (std::size_t at; (at = outcome.Err.find("\r\n")) != std::string::npos;)
        outcome.Err.erase(at, 1);
    return outcome;
}

std::wstring ModulePath()
{
    return ProgramFolder() + L"CVXFilter.dll";
}

DWORD Regsvr32(bool unregister)
{
    WCHAR system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    std::vector<std::wstring> arguments = {L"/s", ModulePath()};
    if (unregister)
        arguments.insert(arguments.begin(), L"/u");
    return Run(std::wstring(system) + L"\\regsvr32.exe", arguments).Status;
}

const SampleDocument& Brochure()
{
    static const std::vector<SampleDocument> samples = SampleDocuments();
    for (const SampleDocument& sample : samples)
        if (sample.Name == "brochure.zcv")
            return sample;
    throw std::runtime_error("no brochure.zcv sample");
}

std::wstring BrochurePath()
{
    return (SamplesFolder() / "brochure.zcv").wstring();
}

Outcome Cvxtext(std::vector<std::wstring> arguments)
{
    arguments.push_back(BrochurePath());
    return Run(ProgramFolder() + L"cvxtext.exe", arguments);
}

std::string BrochureText()
{
    std::string text;
    for (const WideString& story : Brochure().StoryTexts)
        text += Utf8Of(story) + "\n";
    return text;
}

// As an indexing host: ".zcv" to the filter class, CoCreateInstance, Load, and every chunk.
void ExpectHostReadsTheSample()
{
    CLSID found{};
    std::string error;
    ASSERT_TRUE(FindFilterClass(L".zcv", &found, &error)) << error;
    EXPECT_TRUE(found == FilterClassId);
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    {
        IPersistFile* file = nullptr;
        ASSERT_EQ(CoCreateInstance(found, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistFile,
                                   reinterpret_cast<void**>(&file)),
                  S_OK);
        // The module InprocServer32 names, found beside this program.
        WCHAR loaded[MAX_PATH] = {};
        GetModuleFileNameW(GetModuleHandleW(L"CVXFilter.dll"), loaded, MAX_PATH);
        EXPECT_EQ(_wcsicmp(loaded, ModulePath().c_str()), 0) << Utf8(loaded);
        EXPECT_EQ(file->Load(BrochurePath().c_str(), STGM_READ), S_OK);
        IFilter* filter = nullptr;
        EXPECT_EQ(file->QueryInterface(IID_IFilter, reinterpret_cast<void**>(&filter)), S_OK);
        file->Release();
        if (filter != nullptr) {
            ULONG flags = 0;
            EXPECT_EQ(filter->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags), S_OK);
            HRESULT last = S_OK;
            std::vector<WideString> texts;
            for (const TakenChunk& chunk : TakeChunks(filter, 4096, &last))
                texts.push_back(chunk.Text);
            EXPECT_EQ(last, FILTER_E_END_OF_CHUNKS);
            EXPECT_EQ(texts, Brochure().StoryTexts);
            filter->Release();
        }
    }
    CoUninitialize();
}

class HostRegistration : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!UnderWine())
            GTEST_SKIP() << "rewrites the registry: runs under Wine only";
        ClearTestRegistry();
    }
    void TearDown() override
    {
        if (UnderWine())
            ClearTestRegistry();
    }
};

TEST_F(HostRegistration, RegisterFindAndUnregisterInEachMode)
{
    for (const bool createMode : {false, true}) {
        SCOPED_TRACE(createMode ? "create mode (NT 4.0)" : "open-only mode (NT 6.1)");
        GivenRegistry("");
        {
            std::optional<ReportedVersion> version;
            if (createMode)
                version.emplace(L"nt40");
            ASSERT_EQ(Regsvr32(false), 0u);
        }
        EXPECT_EQ(RegistryNow(), Registered(createMode));

        ExpectHostReadsTheSample();
        const Outcome read = Cvxtext({});
        EXPECT_EQ(read.Status, 0u) << read.Err;
        EXPECT_EQ(read.Out, BrochureText());
        EXPECT_EQ(read.Err, "");

        EXPECT_EQ(Regsvr32(true), 0u);
        EXPECT_EQ(RegistryNow(), Key(".zcv"));
    }
}

#ifdef CVX_REGISTRATION_FILE
// The zip's .reg file, imported with the system's tools, writes what regsvr32 writes in create
// mode: an installer that writes it from data gets the registration.
TEST_F(HostRegistration, RegFileImportsAsRegsvr32WritesInCreateMode)
{
    GivenRegistry("");
    {
        ReportedVersion version(L"nt40");
        ASSERT_EQ(Regsvr32(false), 0u);
    }
    const std::string written = RegistryNow();
    ASSERT_EQ(written, Registered(true));

    std::wstring file = fs::path("Z:" CVX_REGISTRATION_FILE).wstring();
    std::replace(file.begin(), file.end(), L'/', L'\\');
    WCHAR windows[MAX_PATH] = {};
    WCHAR system[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    GetSystemDirectoryW(system, MAX_PATH);
    const struct {
        const char* Label;
        std::wstring Program;
        std::vector<std::wstring> Arguments;
    } importers[] = {
        {"regedit /s", std::wstring(windows) + L"\\regedit.exe", {L"/s", file}},
        {"reg import", std::wstring(system) + L"\\reg.exe", {L"import", file}},
    };
    for (const auto& importer : importers) {
        SCOPED_TRACE(importer.Label);
        GivenRegistry("");
        const Outcome imported = ::Run(importer.Program, importer.Arguments);
        EXPECT_EQ(imported.Status, 0u) << imported.Err;
        EXPECT_EQ(RegistryNow(), written);
    }
}
#endif

TEST_F(HostRegistration, FilterClassIsFoundAlongTheHostsChain)
{
    const std::string addin = "HKEY_CLASSES_ROOT\\CLSID\\" + Handler + "\\" + Addin;
    const std::string byClass = Key(".zcv", Default("CorvanPro.Document")) + HandlerKeys +
                                FilterKeys + DocumentKeys + ProgIdKeys;
    auto withFilter = [](const std::string& values) {
        return ExtensionKey + Key("CLSID\\" + Handler + "\\" + Addin, values) + FilterKeys;
    };
    const struct {
        const char* Name;
        std::string Given;
        std::string Missing;  // where the chain ends; empty when the filter is found
    } cases[] = {
        {"the extension's handler", Registered(false), ""},
        {"the document class's handler", byClass, ""},
        {"texts without terminating zero",
         Key(".zcv\\PersistentHandler", UnterminatedDefault(Handler)) +
             Key("CLSID\\" + Handler + "\\" + Addin, UnterminatedDefault(Filter)) +
             Key("CLSID\\" + Filter + "\\InprocServer32", UnterminatedDefault("CVXFilter.dll")),
         ""},
        {"a handler of another type, passed over for the document class's",
         Key(".zcv\\PersistentHandler", "@=hex(2):00,00\n") + byClass, ""},
        {"nothing", "",
         "HKEY_CLASSES_ROOT\\.zcv names neither a PersistentHandler nor a document type"},
        {"a ProgID naming no class", Key(".zcv", Default("CorvanPro.Document")) + HandlerKeys +
                                         Key("CorvanPro.Document"),
         "HKEY_CLASSES_ROOT\\CorvanPro.Document\\CLSID has no text value"},
        {"a handler without a filter", ExtensionKey + FilterKeys, addin + " has no text value"},
        {"a filter that is no class id", withFilter(Default("{6E1C2D47-A93B-4F20-9D84}")),
         addin + " holds \"{6E1C2D47-A93B-4F20-9D84}\", not a class id"},
        {"a filter class leading elsewhere", withFilter(Default(Filter + "\\\\..\\\\" + Filter)),
         addin + " holds \"" + Filter + "\\..\\" + Filter + "\", not a class id"},
        {"a filter without its module",
         ExtensionKey + HandlerKeys + Key("CLSID\\" + Filter, Default("CorvanePro Filter")),
         "HKEY_CLASSES_ROOT\\CLSID\\" + FilterAsWritten + "\\InprocServer32 names no module"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Name);
        GivenRegistry(test.Given);
        CLSID found{};
        std::string error;
        const bool registered = FindFilterClass(L".zcv", &found, &error);
        EXPECT_EQ(registered, test.Missing.empty()) << error;
        if (registered) {
            EXPECT_TRUE(found == FilterClassId);
        } else {
            EXPECT_EQ(error, "no filter is registered for .zcv documents (" + test.Missing +
                                 "); register one with: regsvr32 CVXFilter.dll, or name a "
                                 "module with --module PATH");
        }
    }
}

TEST_F(HostRegistration, CvxtextReadsThroughTheRegisteredFilterOrTheModuleNamed)
{
    const std::string noFilter = "cvxtext: no filter is registered for .zcv documents (";
    const std::string missingModule = Utf8(ProgramFolder() + L"missing.dll");
    WCHAR system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring kernel = std::wstring(system) + L"\\kernel32.dll";
    const struct {
        const char* Name;
        bool Registered;
        std::vector<std::wstring> Arguments;
        DWORD Status;
        std::string Out;
        std::string ErrStart;
    } cases[] = {
        {"registered", true, {}, 0, BrochureText(), ""},
        {"registered, 3 at once", true, {L"-j", L"3"}, 0, BrochureText(), ""},
        {"nothing registered", false, {}, 2, "", noFilter},
        {"a module named", false, {L"--module", ModulePath()}, 0, BrochureText(), ""},
        {"a module that cannot be loaded", true, {L"--module", ProgramFolder() + L"missing.dll"},
         2, "", "cvxtext: cannot load the filter module " + missingModule + ": "},
        {"a module that is no filter", false, {L"--module", kernel}, 2, "",
         "cvxtext: the filter module " + Utf8(kernel) + " has no DllGetClassObject\n"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Name);
        GivenRegistry(test.Registered ? Registered(false) : "");
        const Outcome outcome = Cvxtext(test.Arguments);
        EXPECT_EQ(outcome.Status, test.Status);
        EXPECT_EQ(outcome.Out, test.Out);
        EXPECT_EQ(outcome.Err.substr(0, test.ErrStart.size()), test.ErrStart);
        if (test.ErrStart.empty()) {
            EXPECT_EQ(outcome.Err, "");
        }
    }
    // The message says how to register a filter.
    GivenRegistry("");
    const std::string said = Cvxtext({}).Err;
    EXPECT_NE(said.find("; register one with: regsvr32 CVXFilter.dll, or name a module with "
                        "--module PATH\n"),
              std::string::npos)
        << said;
}

}  // namespace
