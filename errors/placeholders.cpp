#include "errors/placeholders.h"

#include "errors/text_format.h"

#include <atomic>
#include <cstring>

namespace {

// Read by every thread that raises a program error.
std::atomic<const WCHAR*> SubstitutionTable{nullptr};

void MoveUnits(WCHAR* to, const WCHAR* from, DWORD count)
{
    std::memmove(to, from, count * sizeof(WCHAR));
}

}  // namespace

void InstallSubstitutionTable(const WCHAR* table)
{
    SubstitutionTable = table;
}

LPCWSTR LookUpSubstitution(LPCWSTR name)
{
    const WCHAR* pair = SubstitutionTable.load();
    if (pair == nullptr)
        return name;
    while (*pair != 0) {
        LPCWSTR pairName = pair;
        LPCWSTR value = pairName + WideLength(pairName) + 1;
        bool matches = true;
        DWORD at = 0;
        for (; pairName[at] != 0 || name[at] != 0; ++at) {
            if (pairName[at] != name[at]) {
                matches = false;
                break;
            }
        }
        if (matches)
            return value;
        if (*value == 0)
            break;  // an empty value ends the table
        pair = value + WideLength(value) + 1;
    }
    return name;
}

void ExpandPlaceholders(WCHAR* text, DWORD capacity)
{
    // A value may name itself; bounding the substitutions of one call keeps such a table from
    // expanding forever. No real message has nearly this many placeholders.
    DWORD substitutionsLeft = capacity;
    DWORD length = WideLength(text);
    DWORD scan = 0;
    for (;;) {
        WCHAR unit = text[scan++];
        if (unit == 0)
            return;
        if (unit != U16('{'))
            continue;
        // `scan` is now just past the opening brace.
        if (text[scan] == 0)
            return;
        if (text[scan] == U16('{')) {
            // "{{" is one literal brace; scanning goes on after it.
            MoveUnits(text + scan, text + scan + 1, length - scan);
            --length;
            continue;
        }
        DWORD nameLength = 0;
        while (nameLength <= PlaceholderNameLimit && text[scan + nameLength] != 0 &&
               text[scan + nameLength] != U16('}'))
            ++nameLength;
        if (nameLength > PlaceholderNameLimit || text[scan + nameLength] != U16('}'))
            continue;  // not a placeholder: the brace stays

        WCHAR name[PlaceholderNameLimit + 1];
        MoveUnits(name, text + scan, nameLength);
        name[nameLength] = 0;
        LPCWSTR value = LookUpSubstitution(name);
        DWORD valueLength = WideLength(value);
        long long change = static_cast<long long>(valueLength) - (nameLength + 2);
        DWORD placeholderEnd = scan + nameLength + 1;  // just past the closing brace
        if (substitutionsLeft == 0 || length + change >= capacity) {
            scan = placeholderEnd;
            continue;
        }
        --substitutionsLeft;
        DWORD start = scan - 1;
        // Move the rest, terminator included, then put the value where the placeholder began.
        MoveUnits(text + start + valueLength, text + placeholderEnd, length - placeholderEnd + 1);
        MoveUnits(text + start, value, valueLength);
        length = static_cast<DWORD>(length + change);
        scan = start;  // placeholders inside the value are expanded in their turn
    }
}
