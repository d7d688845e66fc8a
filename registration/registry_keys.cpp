#include "registration/registry_keys.h"

#include <cstring>

const HKEY NoKey = reinterpret_cast<HKEY>(static_cast<LONG_PTR>(-1));

unsigned TextLength(LPCWSTR text, unsigned limit)
{
    unsigned length = 0;
    while (length < limit && text[length] != 0)
        ++length;
    return length;
}

bool AppendPath(KeyPath* path, LPCWSTR text)
{
    const unsigned room = KeyPathSize - 1 - path->Length;
    const unsigned length = TextLength(text, room + 1);
    if (length > room)
        return false;
    std::memcpy(path->Text + path->Length, text, length * sizeof(WCHAR));
    path->Length += length;
    path->Text[path->Length] = 0;
    return true;
}

bool SetPath(KeyPath* path, LPCWSTR text)
{
    KeyPath fresh;
    fresh.Length = 0;
    fresh.Text[0] = 0;
    if (!AppendPath(&fresh, text))
        return false;
    *path = fresh;
    return true;
}

void CutLastName(KeyPath* path)
{
    while (path->Length > 0 && path->Text[path->Length - 1] != U16('\\'))
        --path->Length;
    if (path->Length > 0)
        --path->Length;
    path->Text[path->Length] = 0;
}

LONG CreateClassesKey(LPCWSTR path, HKEY* key, DWORD* disposition)
{
    HKEY created = NoKey;
    DWORD how = 0;
    const LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, path, 0, nullptr,
                                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                        &created, &how);
    *key = status == ERROR_SUCCESS ? created : NoKey;
    if (disposition != nullptr)
        *disposition = how;
    return status;
}

LONG OpenClassesKey(LPCWSTR path, HKEY* key)
{
    HKEY opened = NoKey;
    const LONG status = RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_ALL_ACCESS, &opened);
    *key = status == ERROR_SUCCESS ? opened : NoKey;
    return status;
}

void CloseKey(HKEY* key)
{
    if (*key != NoKey) {
        RegCloseKey(*key);
        *key = NoKey;
    }
}

LONG SetTextValue(HKEY key, LPCWSTR name, LPCWSTR text)
{
    // Our texts are constants or were read into a KeyPathSize buffer, so the count is bounded.
    const DWORD bytes = (TextLength(text, 0x7FFF) + 1) * sizeof(WCHAR);
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
}

LONG ReadDefaultText(HKEY key, DefaultText* value)
{
    std::memset(value->Text, 0, sizeof value->Text);
    value->Type = REG_NONE;
    DWORD bytes = sizeof value->Text;
    const LONG status = RegQueryValueExW(key, nullptr, nullptr, &value->Type,
                                         reinterpret_cast<BYTE*>(value->Text), &bytes);
    if (status != ERROR_SUCCESS)
        return status;
    if (TextLength(value->Text) == KeyPathSize) {
        value->Text[0] = 0;
        return ERROR_MORE_DATA;
    }
    return ERROR_SUCCESS;
}

bool IsKeyName(LPCWSTR text)
{
    for (; *text != 0; ++text)
        if (*text == U16('\\'))
            return false;
    return true;
}

bool SameText(LPCWSTR a, LPCWSTR b)
{
    for (;; ++a, ++b) {
        WCHAR x = *a, y = *b;
        if (x >= U16('a') && x <= U16('z'))
            x = static_cast<WCHAR>(x - U16('a') + U16('A'));
        if (y >= U16('a') && y <= U16('z'))
            y = static_cast<WCHAR>(y - U16('a') + U16('A'));
        if (x != y)
            return false;
        if (x == 0)
            return true;
    }
}

LONG ProbeSubkeys(HKEY key)
{
    WCHAR name[KeyPathSize];
    DWORD length = KeyPathSize;
    return RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
}
