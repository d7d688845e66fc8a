#include "errors/placeholders.h"

#include "errors/text_format.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

// Names and values laid end to end, each zero-terminated, then the empty name.
WideString Table(std::initializer_list<const char*> namesAndValues)
{
    WideString table;
    for (const char* part : namesAndValues) {
        table += W(part);
        table.push_back(0);
    }
    table.push_back(0);
    return table;
}

// Expands `text` in a buffer of exactly `capacity` units, so that writing past it shows up
// under the sanitizers; the units after the terminator must stay as they were.
WideString Expand(const WideString& text, DWORD capacity)
{
    std::vector<WCHAR> buffer(capacity, U16('#'));
    EXPECT_LT(text.size(), capacity);
    std::copy(text.begin(), text.end(), buffer.begin());
    buffer[text.size()] = 0;
    ExpandPlaceholders(buffer.data(), capacity);
    WideString result(buffer.data());
    EXPECT_LT(result.size(), capacity);
    return result;
}

const std::string Name30(30, 'n');
const std::string Name31(31, 'n');

}  // namespace

TEST(LookUpSubstitution, WithoutATableEveryNameStandsForItself)
{
    LPCWSTR name = U16("ENOE");
    EXPECT_EQ(LookUpSubstitution(name), name);
}

TEST(LookUpSubstitution, FindsWholeNamesAndStopsAtTheFirstEmptyValue)
{
    WideString table = Table({"AB", "first", "A", "second", "AB", "shadowed", "STOP", "",
                              "LATER", "unreachable"});
    InstallSubstitutionTable(table.c_str());
    struct Case {
        const char* Name;
        const char* Expected;
    } cases[] = {
        {"AB", "first"},      // first pair of that name wins
        {"A", "second"},      // not a prefix match of "AB"
        {"ABC", "ABC"},       // not a prefix match either way
        {"STOP", ""},         // the pair with the empty value still matches
        {"LATER", "LATER"},   // past the empty value: not in the table
        {"missing", "missing"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        WideString name = W(c.Name);
        EXPECT_EQ(Printable(LookUpSubstitution(name.c_str())), c.Expected);
    }
}

TEST(LookUpSubstitution, AnEmptyTableFindsNothing)
{
    WideString table = Table({});
    InstallSubstitutionTable(table.c_str());
    EXPECT_EQ(Printable(LookUpSubstitution(U16("A"))), "A");
}

struct ExpandCase {
    std::string Text;
    DWORD Capacity;
    std::string Expected;
};

void PrintTo(const ExpandCase& c, std::ostream* out)
{
    *out << '"' << c.Text << "\" in " << c.Capacity;
}

class ExpandWithoutTable : public ::testing::TestWithParam<ExpandCase> {};

TEST_P(ExpandWithoutTable, Expands)
{
    const ExpandCase& c = GetParam();
    EXPECT_EQ(Printable(Expand(W(c.Text), c.Capacity)), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Braces, ExpandWithoutTable,
    ::testing::Values(
        ExpandCase{"{ENOE}", 252, "ENOE"},
        ExpandCase{"no braces", 252, "no braces"},
        ExpandCase{"{{x", 252, "{x"},
        ExpandCase{"{{", 252, "{"},
        ExpandCase{"{{A}", 252, "{A}"},      // the brace is literal: no placeholder follows
        ExpandCase{"{{{A}", 252, "{A"},      // a literal brace, then a placeholder
        ExpandCase{"{{{{A}", 252, "{{A}"},
        ExpandCase{"{}", 252, ""},
        ExpandCase{"a{}b{}", 252, "ab"},
        ExpandCase{"{abc", 252, "{abc"},
        ExpandCase{"abc{", 252, "abc{"},
        ExpandCase{"{", 252, "{"},
        ExpandCase{"x}{y}}", 252, "x}y}"},
        ExpandCase{"{a{b}", 252, "a{b"},     // an opening brace may be part of a name
        ExpandCase{"{" + Name30 + "}", 252, Name30},
        ExpandCase{"{" + Name31 + "}", 252, "{" + Name31 + "}"},
        // The 31st unit ends the attempt; scanning resumes right after the brace.
        ExpandCase{"{" + Name30 + "{B}", 252, "{" + Name30 + "B"},
        ExpandCase{"{" + Name30 + "}{" + Name31 + "}", 252, Name30 + "{" + Name31 + "}"}));

class ExpandWithTable : public ::testing::TestWithParam<ExpandCase> {
protected:
    void SetUp() override { InstallSubstitutionTable(table_.c_str()); }

private:
    WideString table_ = Table({"A", "alpha", "C", "c", "B", "<{A}>", "BB", "{B}{B}", "LIT",
                               "{{A}", "SELF", "{SELF}", "GROW", "x{GROW}", "END", "", "AFTER",
                               "never"});
};

TEST_P(ExpandWithTable, Expands)
{
    const ExpandCase& c = GetParam();
    EXPECT_EQ(Printable(Expand(W(c.Text), c.Capacity)), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ExpandWithTable,
    ::testing::Values(
        ExpandCase{"{A}", 252, "alpha"},
        ExpandCase{"x{A}y{C}z{A}", 252, "xalphaycz" "alpha"},
        ExpandCase{"{ENOE}", 252, "ENOE"},
        ExpandCase{"{B}", 252, "<alpha>"},                 // a value's placeholders expand too
        ExpandCase{"{BB}", 252, "<alpha><alpha>"},
        ExpandCase{"{LIT}", 252, "{A}"},                    // "{{" in a value is one brace
        ExpandCase{"{END}", 252, ""},
        ExpandCase{"[{AFTER}]", 252, "[AFTER]"},
        ExpandCase{"{{A}{A}", 252, "{A}alpha"},
        // Capacity: "alpha" ends with its terminator in the last unit at 6, not at 5.
        ExpandCase{"{A}", 6, "alpha"},
        ExpandCase{"{A}", 5, "{A}"},
        ExpandCase{"{A}{A}", 11, "alphaalpha"},
        ExpandCase{"{A}{A}", 10, "alpha{A}"},
        // A placeholder that does not fit is kept, and later ones are still tried.
        ExpandCase{"{A}{C}", 8, "{A}c"},
        ExpandCase{"{A}{C}", 9, "alphac"},
        ExpandCase{"{B}", 8, "<alpha>"},
        ExpandCase{"{B}", 7, "<{A}>"},
        // Self-referencing values end: an unchanged length runs out of substitutions, a growing
        // one out of room.
        ExpandCase{"{SELF}", 252, "{SELF}"},
        ExpandCase{"{GROW}", 20, std::string(13, 'x') + "{GROW}"},
        ExpandCase{"{GROW}", 252, std::string(245, 'x') + "{GROW}"}));

TEST(ExpandPlaceholders, ValuesNamingEachOtherEnd)
{
    WideString table = Table({"P", "{Q}", "Q", "{P}"});
    InstallSubstitutionTable(table.c_str());
    WideString result = Expand(W("{P}"), 64);
    EXPECT_TRUE(result == W("{P}") || result == W("{Q}")) << Printable(result);
}

TEST(ExpandPlaceholders, TouchesNothingPastTheResult)
{
    WideString table = Table({"LONG", "0123456789", "S", ""});
    InstallSubstitutionTable(table.c_str());
    // The text shrinks and then grows; the guard units after the capacity must survive.
    WCHAR buffer[20 + 4];
    std::fill(std::begin(buffer), std::end(buffer), U16('#'));
    WideString text = W("{S}{LONG}{LONG}");
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    ExpandPlaceholders(buffer, 20);
    EXPECT_EQ(Printable(buffer), "0123456789{LONG}");
    for (int i = 20; i < 24; ++i)
        EXPECT_EQ(buffer[i], U16('#')) << i;
}
