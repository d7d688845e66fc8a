// Registry contents as .reg text: import and export through the registry calls (under Wine the
// real registry of the test prefix, natively the stand-in). Every case works below
// HKEY_CLASSES_ROOT\CvxTextTest, removed before and after each test.
#include "registration/registry_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char Header[] = "Windows Registry Editor Version 5.00\n\n";
const WCHAR TestRoot[] = U16("CvxTextTest");

class RegistryText : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DeleteRegistryTree(TestRoot), 0); }
    void TearDown() override { EXPECT_EQ(DeleteRegistryTree(TestRoot), 0); }

    static std::string Export()
    {
        std::string text;
        EXPECT_EQ(ExportRegistryText({TestRoot}, &text), 0);
        return text;
    }

    static bool Exists(LPCWSTR path)
    {
        HKEY key;
        LONG result = RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key);
        if (result == 0) RegCloseKey(key);
        EXPECT_TRUE(result == 0 || result == ERROR_FILE_NOT_FOUND) << result;
        return result == 0;
    }
};

#define HEAD "Windows Registry Editor Version 5.00\n"
#define KEY "[HKEY_CLASSES_ROOT\\CvxTextTest]\n"

TEST_F(RegistryText, ImportThenExportGivesTheSameText)
{
    const char* const cases[][2] = {
        {"strings, escapes, non-ASCII",
         KEY "@=\"default\"\n\"empty\"=\"\"\n\"esc\\\\ape\\\"d\"=\"C:\\\\a \\\"b\\\"\\\\\"\n"
             "\"tab\"=\"a\tb ; no comment\"\n"
             "\"\xC3\xA9t\xC3\xA9\"=\"\xE2\x82\xAC \xF0\x9F\x98\x80\"\n\n"
             "[HKEY_CLASSES_ROOT\\CvxTextTest\\Gr\xC3\xBC\xC3\x9F\x65 \xE4\xB8\xAD]\n\n"},
        {"irregular strings keep their bytes",
         KEY "\"double zero\"=hex(1):61,00,00,00,00,00\n\"empty\"=hex(1):\n"
             "\"inner zero\"=hex(1):61,00,00,00,62,00,00,00\n"
             "\"line break\"=hex(1):61,00,0a,00,00,00\n"
             "\"lone surrogate\"=hex(1):00,d8,00,00\n\"odd\"=hex(1):61,00,62\n"
             "\"unterminated\"=hex(1):61,00,62,00\n\n"},
        {"other types and sizes",
         KEY "\"big\"=hex(5):00,00,00,2a\n\"bin\"=hex:00,ff,7f\n\"custom\"=hex(20000):01\n"
             "\"d\"=dword:ffffffff\n\"emptybin\"=hex:\n\"expand\"=hex(2):25,00,41,00,25,00,00,00\n"
             "\"long dword\"=hex(4):01,02,03,04,05\n\"multi\"=hex(7):61,00,00,00,00,00\n"
             "\"none\"=hex(0):\n\"qword\"=hex(b):2a,00,00,00,00,00,00,00\n"
             "\"short dword\"=hex(4):01\n\n"},
        {"wrapped hex",
         KEY "\"Name\"=hex(2):00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,\\\n"
             "  15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,\\\n"
             "  2e,2f\n\n"},
        {"nested keys, depth first",
         KEY "\n[HKEY_CLASSES_ROOT\\CvxTextTest\\a]\n@=\"1\"\n\n"
             "[HKEY_CLASSES_ROOT\\CvxTextTest\\a\\x]\n\n"
             "[HKEY_CLASSES_ROOT\\CvxTextTest\\b]\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        ASSERT_EQ(DeleteRegistryTree(TestRoot), 0);
        std::string text = std::string(Header) + c[1], bad = "unset";
        ASSERT_EQ(ImportRegistryText(text, &bad), 0) << bad;
        EXPECT_EQ(bad, "");
        EXPECT_EQ(Export(), text);
    }
}

TEST_F(RegistryText, ValuesKeepTheirExactTypeAndBytes)
{
    ASSERT_EQ(ImportRegistryText(std::string(Header) + KEY "\"odd\"=hex(1):61,00,62\n"
                                 "\"unterminated\"=hex(1):61,00,62,00\n\"text\"=\"a\"\n"
                                 "\"d\"=dword:0102a0b0\n"),
              0);
    const struct {
        LPCWSTR Name;
        DWORD Type;
        std::vector<BYTE> Bytes;
    } cases[] = {
        {U16("odd"), REG_SZ, {0x61, 0, 0x62}},
        {U16("unterminated"), REG_SZ, {0x61, 0, 0x62, 0}},
        {U16("text"), REG_SZ, {0x61, 0, 0, 0}},
        {U16("d"), REG_DWORD, {0xb0, 0xa0, 0x02, 0x01}},
    };
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, TestRoot, 0, KEY_READ, &key), 0);
    for (const auto& c : cases) {
        BYTE data[16];
        DWORD type = 99, size = sizeof data;
        EXPECT_EQ(RegQueryValueExW(key, c.Name, nullptr, &type, data, &size), 0);
        EXPECT_EQ(type, c.Type);
        EXPECT_EQ(std::vector<BYTE>(data, data + std::min<DWORD>(size, sizeof data)), c.Bytes);
    }
    RegCloseKey(key);
}

TEST_F(RegistryText, ExportOrdersSubkeysAndValuesWithoutRegardToCase)
{
    // Created out of order; "_" sorts after letters, as Windows compares upper case (Wine's
    // registry enumerates "a_" first).
    ASSERT_EQ(ImportRegistryText(std::string(Header) +
                                 "[HKCR\\CvxTextTest\\b]\n[HKCR\\CvxTextTest\\a_]\n"
                                 "[HKCR\\CvxTextTest\\C]\n[HKCR\\CvxTextTest\\aB]\n" KEY
                                 "\"z\"=\"\"\n\"B\"=\"\"\n@=\"\"\n\"a_\"=\"\"\n\"aB\"=\"\"\n"),
              0);
    EXPECT_EQ(Export(), std::string(Header) + KEY
                            "@=\"\"\n\"aB\"=\"\"\n\"a_\"=\"\"\n\"B\"=\"\"\n\"z\"=\"\"\n\n"
                            "[HKEY_CLASSES_ROOT\\CvxTextTest\\aB]\n\n"
                            "[HKEY_CLASSES_ROOT\\CvxTextTest\\a_]\n\n"
                            "[HKEY_CLASSES_ROOT\\CvxTextTest\\b]\n\n"
                            "[HKEY_CLASSES_ROOT\\CvxTextTest\\C]\n\n");
}

TEST_F(RegistryText, ExportSpellsRootsAsTheRegistryAndRefusesWhatTextCannotSay)
{
    ASSERT_EQ(ImportRegistryText(std::string(Header) + "[HKCR\\CvxTextTest\\MixedCase]\n"), 0);
    std::string text;
    ASSERT_EQ(ExportRegistryText({U16("cvxtexttest\\missing"), U16("CVXTEXTTEST\\mixedcase")},
                                 &text),
              0);
    EXPECT_EQ(text, std::string(Header) + "[HKEY_CLASSES_ROOT\\CvxTextTest\\MixedCase]\n\n");
    EXPECT_EQ(ExportRegistryText({U16("CvxTextTest\\\\MixedCase")}, &text),
              ERROR_INVALID_PARAMETER);

    // A line break in a name would import as something else.
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, TestRoot, 0, KEY_SET_VALUE, &key), 0);
    const BYTE data[] = {0, 0};
    EXPECT_EQ(RegSetValueExW(key, U16("two\nlines"), 0, REG_SZ, data, sizeof data), 0);
    RegCloseKey(key);
    text = "stale";
    EXPECT_EQ(ExportRegistryText({TestRoot}, &text), ERROR_INVALID_DATA);
    EXPECT_EQ(text, "");
}

TEST_F(RegistryText, ImportReadsTheEditorsVariations)
{
    // The case, the whole text, and the export afterwards (after the header).
    const char* const cases[][3] = {
        {"CRLF, BOM, comments, blanks, HKCR",
         "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n; comment\r\n"
         "[hkcr\\CvxTextTest]  \r\n  @ = \"x\"\r\n\r\n;\"a\"=\"b\"\r\n\"d\"=DWORD:2A\r\n",
         KEY "@=\"x\"\n\"d\"=dword:0000002a\n\n"},
        {"continuations and loose hex",
         HEAD KEY "\"h\"=hex(7):1, 2,\\\n\t3 ,A,\\\n\n\"s\"=\"ends in \\\\\"\n",
         KEY "\"h\"=hex(7):01,02,03,0a\n\"s\"=\"ends in \\\\\"\n\n"},
        {"hex forms of plain types come back plain",
         HEAD KEY "\"b\"=hex(3):01\n\"d\"=hex(4):2a,00,00,00\n\"s\"=hex(1):61,00,00,00\n",
         KEY "\"b\"=hex:01\n\"d\"=dword:0000002a\n\"s\"=\"a\"\n\n"},
        {"deletions, of things present and missing",
         HEAD "[HKEY_CLASSES_ROOT\\CvxTextTest\\gone\\deeper]\n@=\"x\"\n"
         KEY "\"keep\"=\"1\"\n\"drop\"=\"2\"\n"
         KEY "\"drop\"=-\n\"never\"=-\n"
         "[-HKEY_CLASSES_ROOT\\CvxTextTest\\gone]\n[-HKEY_CLASSES_ROOT\\CvxTextTest\\none]\n",
         KEY "\"keep\"=\"1\"\n\n"},
        {"a closing bracket inside a name",
         HEAD "[HKEY_CLASSES_ROOT\\CvxTextTest\\a]b]\n",
         KEY "\n[HKEY_CLASSES_ROOT\\CvxTextTest\\a]b]\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        ASSERT_EQ(DeleteRegistryTree(TestRoot), 0);
        std::string bad;
        ASSERT_EQ(ImportRegistryText(c[1], &bad), 0) << bad;
        EXPECT_EQ(Export(), std::string(Header) + c[2]);
    }
}

struct MalformedCase {
    const char* Case;
    const char* Text;     // after a key line that would create CvxTextTest (headers: all of it)
    const char* BadLine;  // null: the text itself
};

TEST_F(RegistryText, MalformedTextIsRefusedWithItsLineAndChangesNothing)
{
    const MalformedCase cases[] = {
        {"key without bracket", "[HKCR\\CvxTextTest\\a", nullptr},
        {"other root", "[HKEY_LOCAL_MACHINE\\CvxTextTest]", nullptr},
        {"root prefix only", "[HKEY_CLASSES_ROOTS\\CvxTextTest]", nullptr},
        {"delete the whole root", "[-HKEY_CLASSES_ROOT]", nullptr},
        {"empty name in path", "[HKCR\\CvxTextTest\\\\a]", nullptr},
        {"trailing backslash", "[HKCR\\CvxTextTest\\]", nullptr},
        {"unknown escape", "\"a\"=\"\\n\"", nullptr},
        {"unterminated string", "\"a\"=\"abc", nullptr},
        {"text after string", "\"a\"=\"b\" x", nullptr},
        {"no equals sign", "\"a\" \"b\"", nullptr},
        {"unknown data", "\"a\"=qword:1", nullptr},
        {"dword too long", "\"a\"=dword:123456789", nullptr},
        {"dword bad digit", "\"a\"=dword:12g4", nullptr},
        {"hex three digits", "\"a\"=hex:123", nullptr},
        {"hex double comma", "\"a\"=hex:01,,02", nullptr},
        {"hex type empty", "\"a\"=hex():00", nullptr},
        {"hex type too long", "\"a\"=hex(123456789):00", nullptr},
        {"bad continuation line", "\"a\"=hex:01,\\\n  02,zz", "  02,zz"},
        {"continuation at the end", "\"a\"=hex:01,\\", nullptr},
        {"invalid UTF-8", "\"\xC3(\"=\"\"", nullptr},
        {"encoded surrogate", "\"a\"=\"\xED\xA0\x80\"", nullptr},
        {"value after deleted key", "[-HKCR\\CvxTextTest\\x]\n\"a\"=\"b\"", "\"a\"=\"b\""},
    };
    const MalformedCase headers[] = {
        {"no header", "[HKCR\\CvxTextTest]\n", "[HKCR\\CvxTextTest]"},
        {"REGEDIT4", "REGEDIT4\n[HKCR\\CvxTextTest]\n", "REGEDIT4"},
        {"value before any key", "Windows Registry Editor Version 5.00\n@=\"x\"\n", "@=\"x\""},
        {"empty text", "", ""},
    };
    auto check = [](const MalformedCase& c, const std::string& text) {
        SCOPED_TRACE(c.Case);
        ASSERT_EQ(DeleteRegistryTree(TestRoot), 0);
        std::string bad = "unset";
        EXPECT_EQ(ImportRegistryText(text, &bad), ERROR_INVALID_DATA);
        EXPECT_EQ(bad, c.BadLine ? c.BadLine : c.Text);
        EXPECT_FALSE(Exists(TestRoot));
    };
    for (const MalformedCase& c : cases) {
        check(c, std::string(Header) + "[HKCR\\CvxTextTest]\n" + c.Text + "\n");
    }
    for (const MalformedCase& c : headers) check(c, c.Text);
}

TEST_F(RegistryText, DeleteTreeRemovesNestedKeysAndOnlyThem)
{
    ASSERT_EQ(ImportRegistryText(std::string(Header) +
                                 "[HKCR\\CvxTextTest\\del\\a\\b\\c]\n@=\"x\"\n"
                                 "[HKCR\\CvxTextTest\\del\\a\\d]\n\"v\"=dword:1\n"
                                 "[HKCR\\CvxTextTest\\del\\e]\n"
                                 "[HKCR\\CvxTextTest\\del2]\n"),
              0);
    // The registry itself deletes no key that has subkeys.
    EXPECT_NE(RegDeleteKeyW(HKEY_CLASSES_ROOT, U16("CvxTextTest\\del")), 0);

    EXPECT_EQ(DeleteRegistryTree(U16("CvxTextTest\\DEL")), 0);
    EXPECT_FALSE(Exists(U16("CvxTextTest\\del")));
    EXPECT_TRUE(Exists(U16("CvxTextTest\\del2")));
    EXPECT_EQ(DeleteRegistryTree(U16("CvxTextTest\\del")), 0);  // missing: already deleted
    EXPECT_EQ(DeleteRegistryTree(U16("CvxTextTest\\no\\such")), 0);

    for (LPCWSTR refused : {static_cast<LPCWSTR>(nullptr), U16(""), U16("\\CvxTextTest"),
                            U16("CvxTextTest\\"), U16("CvxTextTest\\\\del2")}) {
        EXPECT_EQ(DeleteRegistryTree(refused), ERROR_INVALID_PARAMETER);
    }
    EXPECT_TRUE(Exists(U16("CvxTextTest\\del2")));
}

}  // namespace
