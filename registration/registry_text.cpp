// Registry contents as .reg text, through the Win32 registry calls only, so that the same code
// runs against the real registry and against the stand-in.
//
// The text is the registry editor's "Windows Registry Editor Version 5.00" form, in UTF-8 with
// line feeds (the importer also takes CRLF and a UTF-8 byte order mark). Values:
//   "text"          REG_SZ holding exactly the text and one terminating zero; \ and " escaped
//   dword:0000002a  REG_DWORD of 4 bytes
//   hex:01,02       REG_BINARY
//   hex(N):..       every other type (N in hex), and REG_DWORD or REG_SZ data not of the forms
//                   above (odd or zero byte count, no terminator, zeros inside, a line break,
//                   text that is not valid UTF-16), with its exact bytes: type and count survive
// Long hex data wraps as the registry editor wraps it: ",\" and continuation lines indented by two
// spaces, up to 78 columns. The export lists subkeys and values in case-insensitive order of their
// names (the default value first), whatever order the registry enumerates them in.
//
// Names: the key line takes the path between the first "[" and the last "]", so "]" inside a
// name survives here (the registry editor may read such a line differently); "\" separates
// names, and the registry allows none inside a key name. Key and value names holding a line break
// or an unpaired surrogate have no .reg spelling: ExportRegistryText fails with
// ERROR_INVALID_DATA rather than write text that would import as something else.
//
// The importer reads the whole text before it changes anything, so malformed text changes
// nothing; a registry call that fails midway leaves what was written before it. It takes
// HKEY_CLASSES_ROOT, or HKCR, in any case, and refuses to delete HKEY_CLASSES_ROOT itself.
#include "registration/registry_text.h"

#include "platform/utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace {

const char HeaderLine[] = "Windows Registry Editor Version 5.00";
const char RootName[] = "HKEY_CLASSES_ROOT";
const char RootShortName[] = "HKCR";
constexpr size_t WrapColumn = 77;  // hex data stops here; the "\" goes after it

// Names compare as Windows compares them, by their upper case; ASCII letters are folded, other
// code units compare as they are.
WCHAR Fold(WCHAR c)
{
    return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - ('a' - 'A')) : c;
}

bool NameLess(const WideString& a, const WideString& b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (Fold(a[i]) != Fold(b[i])) return Fold(a[i]) < Fold(b[i]);
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

bool NameEqual(const WideString& a, const WideString& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](WCHAR x, WCHAR y) { return Fold(x) == Fold(y); });
}

// UTF-8 to UTF-16; false for anything but shortest-form UTF-8 of scalar values.
bool ToUtf16(std::string_view text, WideString* out)
{
    out->clear();
    for (size_t i = 0; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        std::uint32_t c;
        size_t extra;
        if (lead < 0x80) {
            c = lead, extra = 0;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            c = lead & 0x1F, extra = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            c = lead & 0x0F, extra = 2;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            c = lead & 0x07, extra = 3;
        } else {
            return false;
        }
        if (text.size() - i <= extra) return false;
        for (size_t k = 1; k <= extra; ++k) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            c = (c << 6) | (next & 0x3F);
        }
        if ((extra == 2 && c < 0x800) || (extra == 3 && (c < 0x10000 || c > 0x10FFFF)) ||
            (c >= 0xD800 && c <= 0xDFFF)) {
            return false;
        }
        if (c >= 0x10000) {
            out->push_back(static_cast<WCHAR>(0xD800 + ((c - 0x10000) >> 10)));
            out->push_back(static_cast<WCHAR>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out->push_back(static_cast<WCHAR>(c));
        }
        i += extra + 1;
    }
    return true;
}

// Splits a path at "\"; false for an empty name (leading, trailing or doubled "\").
bool SplitPath(const WideString& path, std::vector<WideString>* names)
{
    names->clear();
    if (path.empty()) return true;
    size_t start = 0;
    for (;;) {
        size_t end = path.find(WCHAR('\\'), start);
        WideString name = path.substr(start, end == WideString::npos ? end : end - start);
        if (name.empty()) return false;
        names->push_back(name);
        if (end == WideString::npos) return true;
        start = end + 1;
    }
}

// An open key; HKEY_CLASSES_ROOT itself is never closed.
class OpenKey {
public:
    OpenKey() = default;
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    ~OpenKey() { Close(); }
    void Close()
    {
        if (Handle && Handle != HKEY_CLASSES_ROOT) RegCloseKey(Handle);
        Handle = nullptr;
    }
    HKEY Handle = nullptr;
};

LONG EnumSubkeys(HKEY key, std::vector<WideString>* names)
{
    names->clear();
    std::vector<WCHAR> buffer(256);
    for (DWORD index = 0;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        LONG result =
            RegEnumKeyExW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) return 0;
        if (result == ERROR_MORE_DATA && buffer.size() < 65536) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (result != 0) return result;
        names->emplace_back(buffer.data(), std::min<size_t>(length, buffer.size()));
        ++index;
    }
}

struct Value {
    WideString Name;
    DWORD Type;
    std::vector<BYTE> Data;
};

LONG EnumValues(HKEY key, std::vector<Value>* values)
{
    values->clear();
    std::vector<WCHAR> name(16384);
    std::vector<BYTE> data(1024);
    for (DWORD index = 0;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LONG result = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                    data.data(), &size);
        if (result == ERROR_NO_MORE_ITEMS) return 0;
        if (result == ERROR_MORE_DATA) {
            if (size > data.size()) {
                data.resize(size);
                continue;
            }
            if (name.size() < (1u << 20)) {
                name.resize(name.size() * 2);
                continue;
            }
        }
        if (result != 0) return result;
        values->push_back(Value{WideString(name.data(), std::min<size_t>(nameLength, name.size())),
                                type, std::vector<BYTE>(data.begin(), data.begin() + size)});
        ++index;
    }
}

// A name as the text spells it; false when it has no spelling (line break, unpaired surrogate).
bool NameText(const WideString& name, std::string* out)
{
    if (name.find_first_of(U16("\r\n")) != WideString::npos) return false;
    out->clear();
    return AppendStrictUtf8(name.data(), name.size(), out);
}

void AppendQuoted(const std::string& text, std::string* out)
{
    out->push_back('"');
    for (char c : text) {
        if (c == '\\' || c == '"') out->push_back('\\');
        out->push_back(c);
    }
    out->push_back('"');
}

// The REG_SZ data as text when it is exactly a text and its one terminating zero.
bool RegularString(const std::vector<BYTE>& data, std::string* text)
{
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    WideString units;
    for (size_t i = 0; i < data.size(); i += 2) {
        units.push_back(static_cast<WCHAR>(data[i] | (data[i + 1] << 8)));
    }
    if (units.back() != 0) return false;
    units.pop_back();
    if (units.find_first_of(WideString(U16("\r\n")) + WCHAR(0)) != WideString::npos) return false;
    text->clear();
    return AppendStrictUtf8(units.data(), units.size(), text);
}

void AppendHexData(std::string line, const std::vector<BYTE>& data, std::string* out)
{
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < data.size(); ++i) {
        if (i > 0) {
            if (line.size() + 3 > WrapColumn) {
                *out += line + "\\\n";
                line = "  ";
            }
        }
        line.push_back(digits[data[i] >> 4]);
        line.push_back(digits[data[i] & 15]);
        if (i + 1 < data.size()) line.push_back(',');
    }
    *out += line + "\n";
}

void AppendValue(const Value& value, const std::string& name, std::string* out)
{
    std::string line;
    if (value.Name.empty()) {
        line = "@=";
    } else {
        AppendQuoted(name, &line);
        line += "=";
    }
    std::string text;
    char buffer[32];
    if (value.Type == REG_SZ && RegularString(value.Data, &text)) {
        AppendQuoted(text, &line);
        *out += line + "\n";
    } else if (value.Type == REG_DWORD && value.Data.size() == 4) {
        const std::vector<BYTE>& d = value.Data;
        std::snprintf(buffer, sizeof buffer, "dword:%08lx",
                      static_cast<unsigned long>(d[0] | (d[1] << 8) | (d[2] << 16) |
                                                 (static_cast<DWORD>(d[3]) << 24)));
        *out += line + buffer + "\n";
    } else if (value.Type == REG_BINARY) {
        AppendHexData(line + "hex:", value.Data, out);
    } else {
        std::snprintf(buffer, sizeof buffer, "hex(%lx):", static_cast<unsigned long>(value.Type));
        AppendHexData(line + buffer, value.Data, out);
    }
}

LONG ExportKey(HKEY key, const std::string& path, std::string* out)
{
    *out += "[";
    *out += RootName;
    if (!path.empty()) *out += "\\" + path;
    *out += "]\n";

    std::vector<Value> values;
    LONG result = EnumValues(key, &values);
    if (result != 0) return result;
    std::stable_sort(values.begin(), values.end(),
                     [](const Value& a, const Value& b) { return NameLess(a.Name, b.Name); });
    for (const Value& value : values) {
        std::string name;
        if (!NameText(value.Name, &name)) return ERROR_INVALID_DATA;
        AppendValue(value, name, out);
    }
    *out += "\n";

    // Sorted here too: the registries order names outside A-Z differently (Wine compares lower
    // case), and the text should not depend on which one it came from.
    std::vector<WideString> subkeys;
    result = EnumSubkeys(key, &subkeys);
    if (result != 0) return result;
    std::sort(subkeys.begin(), subkeys.end(), NameLess);
    for (const WideString& subkey : subkeys) {
        std::string name;
        if (!NameText(subkey, &name)) return ERROR_INVALID_DATA;
        OpenKey child;
        result = RegOpenKeyExW(key, subkey.c_str(), 0, KEY_READ, &child.Handle);
        if (result == ERROR_FILE_NOT_FOUND) continue;  // gone since it was listed
        if (result != 0) return result;
        result = ExportKey(child.Handle, path.empty() ? name : path + "\\" + name, out);
        if (result != 0) return result;
    }
    return 0;
}

// Opens `path` one name at a time, spelling each name as the registry does (the caller's spelling
// where the registry's differs by more than ASCII case). *key stays null for a missing key.
LONG OpenRoot(const WideString& path, OpenKey* key, std::string* spelled)
{
    std::vector<WideString> names;
    if (!SplitPath(path, &names)) return ERROR_INVALID_PARAMETER;
    OpenKey parent;
    parent.Handle = HKEY_CLASSES_ROOT;
    spelled->clear();
    for (const WideString& name : names) {
        OpenKey next;
        LONG result = RegOpenKeyExW(parent.Handle, name.c_str(), 0, KEY_READ, &next.Handle);
        if (result == ERROR_FILE_NOT_FOUND) return 0;
        if (result != 0) return result;
        std::vector<WideString> siblings;
        result = EnumSubkeys(parent.Handle, &siblings);
        if (result != 0) return result;
        WideString spelling = name;
        for (const WideString& sibling : siblings) {
            if (NameEqual(sibling, name)) spelling = sibling;
        }
        std::string text;
        if (!NameText(spelling, &text)) return ERROR_INVALID_DATA;
        if (!spelled->empty()) *spelled += "\\";
        *spelled += text;
        parent.Close();
        std::swap(parent.Handle, next.Handle);
    }
    std::swap(key->Handle, parent.Handle);
    return 0;
}

// Import: the text read into operations first, then applied.

struct ValueOperation {
    WideString Name;
    bool Delete;
    DWORD Type;
    std::vector<BYTE> Data;
};

struct KeyOperation {
    WideString Path;
    bool Delete;
    std::vector<ValueOperation> Values;
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
        char p = prefix[i];
        if (p >= 'a' && p <= 'z') p = static_cast<char>(p - ('a' - 'A'));
        if (c != p) return false;
    }
    return true;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 1 to 8 hex digits at the start of *text, consumed.
bool ParseHexNumber(std::string_view* text, DWORD* number)
{
    size_t count = 0;
    *number = 0;
    while (count < text->size() && HexDigit((*text)[count]) >= 0) {
        *number = (*number << 4) | static_cast<DWORD>(HexDigit((*text)[count]));
        ++count;
    }
    if (count == 0 || count > 8) return false;
    text->remove_prefix(count);
    return true;
}

// A quoted text at the start of *text (\\ and \" escaped), consumed.
bool ParseQuoted(std::string_view* text, WideString* out)
{
    if (text->empty() || text->front() != '"') return false;
    std::string raw;
    size_t i = 1;
    for (;; ++i) {
        if (i >= text->size()) return false;
        char c = (*text)[i];
        if (c == '"') break;
        if (c == '\\') {
            if (++i >= text->size()) return false;
            c = (*text)[i];
            if (c != '\\' && c != '"') return false;
        }
        raw.push_back(c);
    }
    text->remove_prefix(i + 1);
    return ToUtf16(raw, out);
}

class Parser {
public:
    explicit Parser(const std::string& text)
    {
        std::string_view rest(text);
        if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
        for (;;) {
            size_t end = rest.find('\n');
            std::string_view line = rest.substr(0, end);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            Lines.push_back(line);
            if (end == std::string_view::npos) break;
            rest.remove_prefix(end + 1);
            if (rest.empty()) break;  // a final line feed starts no line
        }
    }

    // False with the index of the line at fault in *bad.
    bool Parse(std::vector<KeyOperation>* keys, size_t* bad)
    {
        bool header = false;
        for (Current = 0; Current < Lines.size(); ++Current) {
            std::string_view line = Trim(Lines[Current]);
            if (line.empty() || line.front() == ';') continue;
            bool good;
            if (!header) {
                good = header = line == HeaderLine;
            } else if (line.front() == '[') {
                good = ParseKey(line, keys);
            } else {
                good = !keys->empty() && !keys->back().Delete && ParseValue(line, &keys->back());
            }
            if (!good) {
                *bad = Current;
                return false;
            }
        }
        if (!header) {
            *bad = 0;
            return false;
        }
        return true;
    }

    std::vector<std::string_view> Lines;

private:
    bool ParseKey(std::string_view line, std::vector<KeyOperation>* keys)
    {
        if (line.size() < 2 || line.back() != ']') return false;
        std::string_view path = line.substr(1, line.size() - 2);
        KeyOperation key{WideString(), false, {}};
        if (!path.empty() && path.front() == '-') {
            key.Delete = true;
            path.remove_prefix(1);
        }
        size_t rootLength;
        if (StartsWithNoCase(path, RootName)) {
            rootLength = sizeof RootName - 1;
        } else if (StartsWithNoCase(path, RootShortName)) {
            rootLength = sizeof RootShortName - 1;
        } else {
            return false;
        }
        path.remove_prefix(rootLength);
        if (!path.empty()) {
            if (path.front() != '\\') return false;
            path.remove_prefix(1);
            if (path.empty()) return false;
        }
        std::vector<WideString> names;
        if (!ToUtf16(path, &key.Path) || !SplitPath(key.Path, &names)) return false;
        if (key.Delete && key.Path.empty()) return false;  // never all of HKEY_CLASSES_ROOT
        keys->push_back(std::move(key));
        return true;
    }

    bool ParseValue(std::string_view line, KeyOperation* key)
    {
        ValueOperation value{WideString(), false, REG_NONE, {}};
        if (line.front() == '@') {
            line.remove_prefix(1);
        } else if (!ParseQuoted(&line, &value.Name)) {
            return false;
        }
        line = Trim(line);
        if (line.empty() || line.front() != '=') return false;
        line = Trim(line.substr(1));

        if (line == "-") {
            value.Delete = true;
        } else if (!line.empty() && line.front() == '"') {
            WideString text;
            if (!ParseQuoted(&line, &text) || !line.empty()) return false;
            value.Type = REG_SZ;
            text.push_back(0);
            for (WCHAR c : text) {
                value.Data.push_back(static_cast<BYTE>(c & 0xFF));
                value.Data.push_back(static_cast<BYTE>(c >> 8));
            }
        } else if (StartsWithNoCase(line, "dword:")) {
            line.remove_prefix(6);
            DWORD number;
            if (!ParseHexNumber(&line, &number) || !line.empty()) return false;
            value.Type = REG_DWORD;
            for (int shift = 0; shift < 32; shift += 8) {
                value.Data.push_back(static_cast<BYTE>(number >> shift));
            }
        } else if (StartsWithNoCase(line, "hex:")) {
            line.remove_prefix(4);
            value.Type = REG_BINARY;
            if (!ParseHexData(line, &value.Data)) return false;
        } else if (StartsWithNoCase(line, "hex(")) {
            line.remove_prefix(4);
            if (!ParseHexNumber(&line, &value.Type) || line.substr(0, 2) != "):") return false;
            if (!ParseHexData(line.substr(2), &value.Data)) return false;
        } else {
            return false;
        }
        key->Values.push_back(std::move(value));
        return true;
    }

    // Bytes of one or two hex digits separated by commas (one trailing comma allowed); a "\" at
    // the end of a line continues the data on the next line.
    bool ParseHexData(std::string_view text, std::vector<BYTE>* data)
    {
        bool afterByte = false;
        for (;;) {
            text = Trim(text);
            if (text.empty()) return true;
            if (text == "\\") {
                if (Current + 1 >= Lines.size()) return false;
                text = Lines[++Current];
                continue;
            }
            if (afterByte) {
                if (text.front() != ',') return false;
                text.remove_prefix(1);
                afterByte = false;
                continue;
            }
            int high = HexDigit(text.front());
            if (high < 0) return false;
            text.remove_prefix(1);
            int low = text.empty() ? -1 : HexDigit(text.front());
            if (low >= 0) {
                text.remove_prefix(1);
                high = high * 16 + low;
            }
            data->push_back(static_cast<BYTE>(high));
            afterByte = true;
        }
    }

    size_t Current = 0;
};

LONG ApplyKey(const KeyOperation& operation)
{
    if (operation.Delete) return DeleteRegistryTree(operation.Path.c_str());
    OpenKey key;
    if (operation.Path.empty()) {
        key.Handle = HKEY_CLASSES_ROOT;
    } else {
        LONG result = RegCreateKeyExW(HKEY_CLASSES_ROOT, operation.Path.c_str(), 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | KEY_QUERY_VALUE,
                                      nullptr, &key.Handle, nullptr);
        if (result != 0) return result;
    }
    for (const ValueOperation& value : operation.Values) {
        LONG result;
        if (value.Delete) {
            result = RegDeleteValueW(key.Handle, value.Name.c_str());
            if (result == ERROR_FILE_NOT_FOUND) result = 0;
        } else {
            // The registry adds a terminating zero to string data that lacks one when the code
            // unit after the data is zero; nonzero bytes there keep the byte count as stated.
            std::vector<BYTE> data(value.Data);
            data.push_back(0xFF);
            data.push_back(0xFF);
            result = RegSetValueExW(key.Handle, value.Name.c_str(), 0, value.Type, data.data(),
                                    static_cast<DWORD>(value.Data.size()));
        }
        if (result != 0) return result;
    }
    return 0;
}

LONG DeleteTree(HKEY parent, const WideString& name)
{
    OpenKey key;
    LONG result = RegOpenKeyExW(parent, name.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE,
                                &key.Handle);
    if (result == ERROR_FILE_NOT_FOUND) return 0;
    if (result != 0) return result;
    std::vector<WideString> subkeys;
    result = EnumSubkeys(key.Handle, &subkeys);
    for (size_t i = 0; result == 0 && i < subkeys.size(); ++i) {
        result = DeleteTree(key.Handle, subkeys[i]);
    }
    key.Close();
    if (result != 0) return result;
    result = RegDeleteKeyW(parent, name.c_str());
    return result == ERROR_FILE_NOT_FOUND ? 0 : result;
}

}  // namespace

LONG ExportRegistryText(const std::vector<WideString>& roots, std::string* text)
{
    if (!text) return ERROR_INVALID_PARAMETER;
    text->clear();
    std::string out = std::string(HeaderLine) + "\n\n";
    for (const WideString& root : roots) {
        OpenKey key;
        std::string path;
        LONG result = OpenRoot(root, &key, &path);
        if (result == 0 && key.Handle) result = ExportKey(key.Handle, path, &out);
        if (result != 0) return result;
    }
    *text = std::move(out);
    return 0;
}

LONG ImportRegistryText(const std::string& text, std::string* badLine)
{
    if (badLine) badLine->clear();
    Parser parser(text);
    std::vector<KeyOperation> keys;
    size_t bad = 0;
    if (!parser.Parse(&keys, &bad)) {
        if (badLine) *badLine = std::string(parser.Lines[bad]);
        return ERROR_INVALID_DATA;
    }
    for (const KeyOperation& key : keys) {
        LONG result = ApplyKey(key);
        if (result != 0) return result;
    }
    return 0;
}

LONG DeleteRegistryTree(LPCWSTR path)
{
    std::vector<WideString> names;
    if (!path || !*path || !SplitPath(path, &names)) return ERROR_INVALID_PARAMETER;
    return DeleteTree(HKEY_CLASSES_ROOT, path);
}
