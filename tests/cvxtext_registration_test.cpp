// cvxtext --registration's entries, computed in-process on the registry stand-in: they are
// registration's own (unregistration takes every one away again), and nothing else is printed
// when the registry is not empty or registration fails.
#include "platform/fault.h"
#include "registration/registration.h"
#include "registration/registry_text.h"
#include "tools/cvxtext/registration_entries.h"

#include <gtest/gtest.h>

namespace {

std::string WithoutCarriageReturns(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

std::string EverythingInTheRegistry()
{
    std::vector<WideString> roots;
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(HKEY_CLASSES_ROOT, index, name, &length, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS)
            break;
        roots.emplace_back(name, length);
    }
    std::string text;
    EXPECT_EQ(ExportRegistryText(roots, &text), ERROR_SUCCESS);
    return text;
}

class RegistrationEntriesTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const char16_t* root : {u".zcv", u"CLSID", u"CorvanPro.Document", u"Other"})
            DeleteRegistryTree(reinterpret_cast<LPCWSTR>(root));
    }
};

TEST_F(RegistrationEntriesTest, AreExactlyWhatUnregistrationRemoves)
{
    std::string text;
    std::string problem;
    ASSERT_TRUE(RegistrationEntries(&text, &problem)) << problem;
    // What registration wrote is still there; importing the text onto an empty registry gives
    // the same registry back.
    const std::string registered = EverythingInTheRegistry();
    TearDown();
    ASSERT_EQ(ImportRegistryText(WithoutCarriageReturns(text)), ERROR_SUCCESS);
    EXPECT_EQ(EverythingInTheRegistry(), registered);
    // No key of the system's is among them: CLSID itself has no line.
    EXPECT_EQ(text.find("[HKEY_CLASSES_ROOT\\CLSID]"), std::string::npos);

    EXPECT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_EQ(EverythingInTheRegistry(),
              "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\.zcv]\n\n"
              "[HKEY_CLASSES_ROOT\\CLSID]\n\n");
}

TEST_F(RegistrationEntriesTest, NothingIsPrintedWhenTheyCannotBeHadWhole)
{
    std::string text = "untouched";
    std::string problem;
    ArmFault(FaultRegCreateKey, ERROR_ACCESS_DENIED, 3);
    EXPECT_FALSE(RegistrationEntries(&text, &problem));
    EXPECT_EQ(problem, "registration failed (0x80040201)");
    EXPECT_EQ(text, "untouched");

    ResetFaults();
    TearDown();
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, reinterpret_cast<LPCWSTR>(u"Other"), 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_FALSE(RegistrationEntries(&text, &problem));
    EXPECT_EQ(problem, "the in-memory registry already holds keys");
    EXPECT_EQ(text, "untouched");
}

}  // namespace
