// Registration and unregistration of the filter's entries, with registry contents stated as .reg
// text before and after. The same cases run on the stand-in and, in the Windows build, on the
// real registry; those that need a chosen version or an injected failure run on the stand-in only.
#include "platform/fault.h"
#include "registration/registration.h"
#include "tests/support/registry_state.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>

namespace {

const std::string Handler = "{2B5F8E10-7C34-4A9D-B1E6-93D0F4A7C258}";
const std::string FilterClass = "{6E1C2D47-A93B-4F20-9D84-5B7A0C3E61F9}";
const std::string DocumentClass = "{A8D3C61E-5F02-4B7C-8E39-1C6B2F9D04E7}";
const std::string OtherClass = "{B0C0FFEE-0000-4000-8000-000000000001}";
const std::string ProgId = "CorvanPro.Document";
const std::string Description = "Corvane Pro Document";

std::string Key(const std::string& path, const std::string& values = "")
{
    return "[HKEY_CLASSES_ROOT\\" + path + "]\n" + values + "\n";
}

std::string Default(const std::string& text)
{
    return "@=\"" + text + "\"\n";
}

const std::string DwordDefault = "@=dword:00000001\n";

// `units` UTF-16 'A's with no terminating zero, as hex(1) bytes.
std::string UnterminatedDefault(unsigned units)
{
    std::string hex = "@=hex(1):";
    for (unsigned unit = 0; unit < units; ++unit)
        hex += unit == 0 ? "41,00" : ",41,00";
    return hex + "\n";
}

const std::string HandlerKeys =
    Key("CLSID\\" + Handler, Default("CorvanePro Persistent Handler")) +
    Key("CLSID\\" + Handler + "\\PersistentAddinsRegistered") +
    Key("CLSID\\" + Handler +
            "\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}",
        Default("{6E1C2D47-A93b-4F20-9D84-5B7A0C3E61F9}"));
const std::string FilterKeys =
    Key("CLSID\\" + FilterClass, Default("CorvanePro Filter")) +
    Key("CLSID\\" + FilterClass + "\\InprocServer32",
        Default("CVXFilter.dll") + "\"ThreadingModel\"=\"Both\"\n");
const std::string ExtensionHandler = Key(".zcv\\PersistentHandler", Default(Handler));

std::string Extension(const std::string& values)
{
    return Key(".zcv", values) + ExtensionHandler;
}
std::string ClassKeys(const std::string& values, const std::string& id = DocumentClass)
{
    return Key("CLSID\\" + id, values) + Key("CLSID\\" + id + "\\PersistentHandler", Default(Handler));
}
std::string ProgIdKeys(const std::string& values, const std::string& classValue,
                       const std::string& name = ProgId)
{
    return Key(name, values) + Key(name + "\\CLSID", classValue);
}

// Everything, as create mode writes it on a registry without any of it.
const std::string Registered = Extension(Default(ProgId)) + HandlerKeys + FilterKeys +
                               ClassKeys(Default(Description)) +
                               ProgIdKeys(Default(Description), Default(DocumentClass));

class Registration : public ::testing::Test {
protected:
    void SetUp() override { ResetFaults(); }
    void TearDown() override
    {
        ResetFaults();
        ClearTestRegistry();
    }
};

#define SKIP_UNLESS_MODE(openOnly)                                                      \
    if (!UseRegistrationMode(openOnly))                                                 \
    GTEST_SKIP() << "the system's registration mode is not the one this case needs"

#define SKIP_UNLESS_INJECTABLE(point)                                                   \
    if (!FaultInjectable(point))                                                        \
    GTEST_SKIP() << "needs an injected registry failure, which only the stand-in can give"

struct RegistrationCase {
    const char* Case;
    bool OpenOnly;
    std::string Given;
    HRESULT Result;
    std::string Expected;
};

const RegistrationCase RegistrationCases[] = {
    {"create mode, empty registry", false, "", S_OK, Registered},
    {"open-only, empty registry", true, "", S_OK, Extension("") + HandlerKeys + FilterKeys},
    {"open-only, the document type present", true,
     Key(".zcv", Default(ProgId)) + Key("CLSID\\" + DocumentClass, Default("Kept")) +
         ProgIdKeys("", Default(DocumentClass)),
     S_OK,
     Extension(Default(ProgId)) + HandlerKeys + FilterKeys + ClassKeys(Default("Kept")) +
         ProgIdKeys("", Default(DocumentClass))},
    {"create mode, .zcv names another ProgID", false, Key(".zcv", Default("Other.Document")), S_OK,
     Extension(Default("Other.Document")) + HandlerKeys + FilterKeys +
         ClassKeys(Default(Description)) +
         ProgIdKeys(Default(Description), Default(DocumentClass)) +
         ProgIdKeys("", Default(DocumentClass), "Other.Document")},
    {"open-only, .zcv names a ProgID of another class", true,
     Key(".zcv", Default("Other.Document")) + Key("CLSID\\" + OtherClass) +
         ProgIdKeys("", Default(OtherClass), "Other.Document"),
     S_OK,
     Extension(Default("Other.Document")) + HandlerKeys + FilterKeys + ClassKeys("", OtherClass) +
         ProgIdKeys("", Default(OtherClass), "Other.Document")},
    {"open-only, .zcv names a missing ProgID", true, Key(".zcv", Default("Other.Document")), S_OK,
     Extension(Default("Other.Document")) + HandlerKeys + FilterKeys},
    {"create mode, empty .zcv value", false, Key(".zcv", Default("")), S_OK,
     Extension(Default("")) + HandlerKeys + FilterKeys + ClassKeys(Default(Description)) +
         ProgIdKeys(Default(Description), Default(DocumentClass))},
    {"open-only, empty .zcv value", true, Key(".zcv", Default("")), S_OK,
     Extension(Default("")) + HandlerKeys + FilterKeys},
    {"create mode, .zcv value not a string", false, Key(".zcv", DwordDefault), SELFREG_E_CLASS,
     Key(".zcv", DwordDefault) + HandlerKeys + FilterKeys + ClassKeys(Default(Description)) +
         ProgIdKeys(Default(Description), Default(DocumentClass))},
    {"create mode, the ProgID's class value not a string", false,
     ProgIdKeys("", DwordDefault), SELFREG_E_CLASS,
     HandlerKeys + FilterKeys + ClassKeys(Default(Description)) + ProgIdKeys("", DwordDefault)},
    {"create mode, .zcv value too long to read", false, Key(".zcv", Default(Repeated('x', 260))),
     S_OK, Registered},
    {"open-only, .zcv value too long to read", true, Key(".zcv", Default(Repeated('x', 260))),
     SELFREG_E_CLASS, Key(".zcv", Default(Repeated('x', 260))) + HandlerKeys + FilterKeys},
    {"existing class keeps its description, our names are rewritten", false,
     Key("CLSID\\" + DocumentClass, Default("Kept")) + Key("CLSID\\" + Handler, Default("Old")) +
         Key("CLSID\\" + FilterClass + "\\InprocServer32",
             Default("C:\\\\old\\\\CVXFilter.dll") + "\"ThreadingModel\"=\"Apartment\"\n"),
     S_OK,
     Extension(Default(ProgId)) + HandlerKeys + FilterKeys + ClassKeys(Default("Kept")) +
         ProgIdKeys(Default(Description), Default(DocumentClass))},
    // Names read from values are single key names: one with a backslash would lead registration
    // to write a handler key outside any class (a lone backslash as class id names CLSID).
    {"create mode, the ProgID's class value holds a backslash", false,
     ProgIdKeys("", Default("\\\\")), SELFREG_E_CLASS,
     HandlerKeys + FilterKeys + ClassKeys(Default(Description)) + ProgIdKeys("", Default("\\\\"))},
    {"open-only, the ProgID's class value is a path", true,
     Key(".zcv", Default(ProgId)) + ProgIdKeys("", Default(OtherClass + "\\\\x")) +
         Key("CLSID\\" + OtherClass + "\\x"),
     SELFREG_E_CLASS,
     Key(".zcv", Default(ProgId)) + HandlerKeys + FilterKeys + Key("CLSID\\" + OtherClass) +
         Key("CLSID\\" + OtherClass + "\\x") + ProgIdKeys("", Default(OtherClass + "\\\\x"))},
    {"create mode, .zcv names a ProgID with a backslash", false,
     Key(".zcv", Default("Other\\\\Document")), SELFREG_E_CLASS,
     Key(".zcv", Default("Other\\\\Document")) + HandlerKeys + FilterKeys +
         ClassKeys(Default(Description)) +
         ProgIdKeys(Default(Description), Default(DocumentClass))},
    // Names at the path limits: refused with ERROR_INSUFFICIENT_BUFFER rather than overrun.
    {"create mode, a class id of 235 characters fits", false,
     ProgIdKeys("", Default(Repeated('C', 235))), S_OK,
     Extension(Default(ProgId)) + ClassKeys("", Repeated('C', 235)) + HandlerKeys + FilterKeys +
         ClassKeys(Default(Description)) + ProgIdKeys("", Default(Repeated('C', 235)))},
    {"create mode, a class id of 236 characters", false,
     ProgIdKeys("", Default(Repeated('C', 236))), SELFREG_E_CLASS,
     HandlerKeys + FilterKeys + ClassKeys(Default(Description)) +
         ProgIdKeys("", Default(Repeated('C', 236)))},
    {"create mode, a class value that fills the buffer unterminated", false,
     ProgIdKeys("", UnterminatedDefault(260)), SELFREG_E_CLASS,
     HandlerKeys + FilterKeys + ClassKeys(Default(Description)) +
         ProgIdKeys("", UnterminatedDefault(260))},
    {"create mode, .zcv names a ProgID of 254 characters", false,
     Key(".zcv", Default(Repeated('P', 254))), SELFREG_E_CLASS,
     Extension(Default(Repeated('P', 254))) + HandlerKeys + FilterKeys +
         ClassKeys(Default(Description)) +
         ProgIdKeys(Default(Description), Default(DocumentClass))},
};

TEST_F(Registration, WritesTheEntriesTheRegistryCallsFor)
{
    for (const RegistrationCase& c : RegistrationCases) {
        SCOPED_TRACE(c.Case);
        if (!UseRegistrationMode(c.OpenOnly))
            continue;  // the other mode's cases run when the system reports that mode
        GivenRegistry(c.Given);
        EXPECT_EQ(DllRegisterServer(), c.Result);
        EXPECT_EQ(RegistryNow(c.Expected), c.Expected);
        ClearTestRegistry();
    }
}

TEST_F(Registration, RegisteringTwiceChangesNothing)
{
    for (bool openOnly : {false, true}) {
        SCOPED_TRACE(openOnly ? "open-only" : "create mode");
        if (!UseRegistrationMode(openOnly))
            continue;
        GivenRegistry("");
        ASSERT_EQ(DllRegisterServer(), S_OK);
        const std::string once = RegistryNow();
        EXPECT_EQ(DllRegisterServer(), S_OK);
        EXPECT_EQ(RegistryNow(), once);
        ClearTestRegistry();
    }
}

TEST_F(Registration, ModeFollowsTheReportedVersion)
{
    SKIP_UNLESS_INJECTABLE(FaultGetVersion);
    struct Version {
        DWORD Platform, Major, Minor;
        bool OpenOnly;
    };
    for (const Version& v : {Version{2, 6, 1, true}, Version{2, 5, 0, true},
                             Version{2, 4, 0, false}, Version{1, 4, 10, false},
                             Version{0, 3, 10, false}}) {
        SCOPED_TRACE(testing::Message() << v.Platform << " " << v.Major << "." << v.Minor);
        SetReportedVersion(v.Platform, v.Major, v.Minor);
        EXPECT_EQ(RegistrationOpenOnly(), v.OpenOnly);
    }
    SetReportedVersion(2, 6, 1);
    ArmFault(FaultGetVersion, ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(RegistrationOpenOnly()) << "a version that cannot be had means create mode";
}

TEST_F(Registration, RoutinesRefuseNamesTooLongForTheirPaths)
{
    GivenRegistry("");
    const WideString long254(254, U16('P')), long253(253, U16('P')), long260(260, U16('E'));
    const WideString class236(236, U16('C'));
    const DocumentTypeEntry& row = DocumentTypeTable[0];
    DocumentTypeEntry longExtension = row;
    longExtension.Extension = long260.c_str();
    LPCWSTR handler = PersistentHandlerEntry.ClassId;
    EXPECT_EQ(RegisterProgIdHandler(&row, handler, long254.c_str(), false), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(RegisterExtensionHandler(&longExtension, handler, false, true),
              ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(RegisterClassHandler(&row, handler, class236.c_str(), false),
              ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(RegistryNow(), "") << "refused before anything is written";
    // 253 characters leave room for "\CLSID".
    EXPECT_EQ(RegisterProgIdHandler(&row, handler, long253.c_str(), false), ERROR_SUCCESS);
    EXPECT_NE(RegistryNow(Key(Repeated('P', 253))).find(Repeated('P', 253) + "\\CLSID]"),
              std::string::npos);
}

TEST_F(Registration, RoutinesReturnTheFailingCallsError)
{
    GivenRegistry("");
    const DocumentTypeEntry& row = DocumentTypeTable[0];
    EXPECT_EQ(SetThreadingModel(), ERROR_FILE_NOT_FOUND) << "InprocServer32 missing";
    GivenRegistry(Key(".zcv", DwordDefault));
    EXPECT_EQ(RegisterExtensionHandler(&row, PersistentHandlerEntry.ClassId, false, true), E_FAIL);
    GivenRegistry(ProgIdKeys("", DwordDefault));
    EXPECT_EQ(RegisterProgIdHandler(&row, PersistentHandlerEntry.ClassId, nullptr, false), E_FAIL);
}

// Create mode on an empty registry, failing the k-th call at one point for every k.
TEST_F(Registration, StopsAtTheFirstFailureAndUndoesNothing)
{
    SKIP_UNLESS_INJECTABLE(FaultRegCreateKey);
    ASSERT_TRUE(UseRegistrationMode(false));
    std::set<std::string> registered;
    {
        std::istringstream lines(Registered);
        for (std::string line; std::getline(lines, line);)
            registered.insert(line);
    }
    for (FaultPoint point : {FaultRegCreateKey, FaultRegOpenKey, FaultRegSetValue,
                             FaultRegQueryValue}) {
        GivenRegistry("");
        ResetFaults();
        UseRegistrationMode(false);
        ASSERT_EQ(DllRegisterServer(), S_OK);
        const ULONG calls = FaultCallCount(point);
        EXPECT_GT(calls, 0u);
        std::size_t written = 0;
        for (ULONG skip = 0; skip < calls; ++skip) {
            SCOPED_TRACE(testing::Message() << "point " << point << ", call " << skip);
            GivenRegistry("");
            ResetFaults();
            UseRegistrationMode(false);
            ArmFault(point, ERROR_ACCESS_DENIED, skip);
            EXPECT_EQ(DllRegisterServer(), SELFREG_E_CLASS);
            EXPECT_EQ(FaultCallCount(point), skip + 1) << "nothing runs after the failure";
            ResetFaults();
            std::istringstream lines(RegistryNow());
            std::size_t now = 0;
            for (std::string line; std::getline(lines, line); ++now)
                EXPECT_EQ(registered.count(line), 1u) << line;
            EXPECT_GE(now, written) << "a later failure leaves at least as much written";
            written = now;
        }
    }
    // Closing is not checked: a failing RegCloseKey changes nothing.
    GivenRegistry("");
    ResetFaults();
    UseRegistrationMode(false);
    ArmFault(FaultRegCloseKey, ERROR_INVALID_HANDLE, 0, 1000);
    EXPECT_EQ(DllRegisterServer(), S_OK);
    ResetFaults();
    EXPECT_EQ(RegistryNow(), Registered);
}

struct UnregistrationCase {
    const char* Case;
    std::string Given;
    HRESULT Result;
    std::string Expected;
};

const std::string Long236 = Repeated('L', 236);
const std::string OtherHandler = "{00000000-1111-2222-3333-444444444444}";

const UnregistrationCase UnregistrationCases[] = {
    {"after a registration", Registered, S_OK, Key(".zcv")},
    {"nothing registered", "", S_FALSE, ""},
    {"a class with other subkeys stays, and its ProgID",
     Registered + Key("CLSID\\" + DocumentClass + "\\DefaultIcon"), S_OK,
     Key(".zcv", Default(ProgId)) + Key("CLSID\\" + DocumentClass, Default(Description)) +
         Key("CLSID\\" + DocumentClass + "\\DefaultIcon") +
         ProgIdKeys(Default(Description), Default(DocumentClass))},
    {"a class naming another handler keeps it",
     Registered + Key("CLSID\\" + OtherClass + "\\PersistentHandler", Default(OtherHandler)),
     S_OK,
     Key(".zcv") + Key("CLSID\\" + OtherClass) +
         Key("CLSID\\" + OtherClass + "\\PersistentHandler", Default(OtherHandler))},
    {"a class naming this handler in other case loses it",
     Registered + Key("CLSID\\" + OtherClass + "\\PersistentHandler",
                      Default("{2b5f8e10-7c34-4a9d-b1e6-93d0f4a7c258}")),
     S_OK, Key(".zcv")},
    {"a ProgID with other subkeys keeps its key", Registered + Key(ProgId + "\\shell"), S_OK,
     Key(".zcv", Default(ProgId)) + Key(ProgId, Default(Description)) + Key(ProgId + "\\shell")},
    {"keys naming the removed ProgID lose the value, and go when empty",
     Registered + Key("Other.ext", Default("corvanpro.DOCUMENT")) +
         Key("Another.ext", Default(ProgId)) + Key("Another.ext\\sub"),
     S_OK, Key(".zcv") + Key("Another.ext") + Key("Another.ext\\sub")},
    {"an incomplete handler chain: the rest is removed all the same",
     Extension(Default(ProgId)) + Key("CLSID\\" + Handler + "\\PersistentAddinsRegistered") +
         FilterKeys + ClassKeys(Default(Description)) +
         ProgIdKeys(Default(Description), Default(DocumentClass)),
     S_FALSE,
     Key(".zcv") + Key("CLSID\\" + Handler) +
         Key("CLSID\\" + Handler + "\\PersistentAddinsRegistered")},
    {"a class handler without a value is left, and reported",
     Registered + Key("CLSID\\" + OtherClass + "\\PersistentHandler"), S_FALSE,
     Key(".zcv") + Key("CLSID\\" + OtherClass) + Key("CLSID\\" + OtherClass + "\\PersistentHandler")},
    {"a class name too long for the handler's path is passed over",
     Registered + Key("CLSID\\" + Long236 + "\\PersistentHandler", Default(Handler)), S_OK,
     Key(".zcv") + Key("CLSID\\" + Long236) +
         Key("CLSID\\" + Long236 + "\\PersistentHandler", Default(Handler))},
    {"a class name longer than 253 characters ends the scan",
     Registered + Key("CLSID\\" + Repeated('~', 254)), S_FALSE,
     Key(".zcv") + Key("CLSID\\" + Repeated('~', 254))},
    {"a top-level name too long for \\CLSID is passed over",
     Registered + Key(Repeated('P', 254) + "\\CLSID", Default(DocumentClass)), S_OK,
     Key(".zcv") + Key(Repeated('P', 254)) +
         Key(Repeated('P', 254) + "\\CLSID", Default(DocumentClass))},
};

TEST_F(Registration, UnregistrationRemovesWhatRegistrationWrote)
{
    for (const UnregistrationCase& c : UnregistrationCases) {
        SCOPED_TRACE(c.Case);
        GivenRegistry(c.Given);
        EXPECT_EQ(DllUnregisterServer(), c.Result);
        EXPECT_EQ(RegistryNow(c.Expected), c.Expected);
        ClearTestRegistry();
    }
}

TEST_F(Registration, UnregisteringTwiceFindsNothingTheSecondTime)
{
    GivenRegistry(Registered);
    EXPECT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_EQ(DllUnregisterServer(), S_FALSE);
    EXPECT_EQ(RegistryNow(), Key(".zcv"));
}

TEST_F(Registration, UnregistrationEndsWhenDeletionsKeepFailing)
{
    SKIP_UNLESS_INJECTABLE(FaultRegDeleteKey);
    GivenRegistry(Registered + Key("CLSID\\" + OtherClass + "\\PersistentHandler", Default(Handler)));
    ArmFault(FaultRegDeleteKey, ERROR_ACCESS_DENIED, 0, 100000);
    EXPECT_EQ(DllUnregisterServer(), S_FALSE);
    EXPECT_LT(FaultCallCount(FaultRegDeleteKey), 20u) << "each key is tried once";
}

TEST_F(Registration, AClassThatCannotBeReopenedIsReported)
{
    SKIP_UNLESS_INJECTABLE(FaultRegOpenKey);
    GivenRegistry(Registered);
    // Opens: the handler chain's three levels and CLSID, then CLSID for the scan, the filter
    // class's (missing) handler key and the document class's handler key; the eighth is the
    // document class itself.
    ArmFault(FaultRegOpenKey, ERROR_ACCESS_DENIED, 7);
    EXPECT_EQ(DllUnregisterServer(), S_FALSE);
    const std::string kept = Key(".zcv", Default(ProgId)) + ClassKeys(Default(Description)) +
                             ProgIdKeys(Default(Description), Default(DocumentClass));
    EXPECT_EQ(RegistryNow(), kept);
}

// Any single failing call: unregistration still ends, answers S_OK or S_FALSE, and removes only
// what registration wrote.
TEST_F(Registration, UnregistrationRunsOnPastAnySingleFailure)
{
    SKIP_UNLESS_INJECTABLE(FaultRegEnumKey);
    std::set<std::string> registered;
    {
        std::istringstream lines(Registered);
        for (std::string line; std::getline(lines, line);)
            registered.insert(line);
    }
    for (FaultPoint point : {FaultRegOpenKey, FaultRegEnumKey, FaultRegQueryValue,
                             FaultRegDeleteKey, FaultRegDeleteValue}) {
        GivenRegistry(Registered);
        ResetFaults();
        ASSERT_EQ(DllUnregisterServer(), S_OK);
        const ULONG calls = FaultCallCount(point);
        for (ULONG skip = 0; skip < calls; ++skip) {
            SCOPED_TRACE(testing::Message() << "point " << point << ", call " << skip);
            GivenRegistry(Registered);
            ResetFaults();
            ArmFault(point, ERROR_ACCESS_DENIED, skip);
            const HRESULT result = DllUnregisterServer();
            EXPECT_TRUE(result == S_OK || result == S_FALSE) << result;
            ResetFaults();
            std::istringstream lines(RegistryNow());
            for (std::string line; std::getline(lines, line);)
                EXPECT_EQ(registered.count(line), 1u) << line;
        }
    }
}

}  // namespace
