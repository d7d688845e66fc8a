#include "tools/cvxtext/output.h"

#include "platform/utf8.h"

#include <cstdio>
#include <cstring>

namespace {

void AppendFormatted(std::string* out, const char* format, unsigned long value)
{
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    *out += text;
}

std::string GuidText(const GUID& guid)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

// A filter may put any number in the enumerated fields: they are read as the numbers they hold.
template <typename Enumeration>
DWORD NumberIn(const Enumeration& field)
{
    static_assert(sizeof field == sizeof(DWORD), "enumerated fields are 32 bits");
    DWORD value;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

std::string BreakTypeText(DWORD type)
{
    switch (type) {
    case CHUNK_NO_BREAK: return "CHUNK_NO_BREAK";
    case CHUNK_EOW: return "CHUNK_EOW";
    case CHUNK_EOS: return "CHUNK_EOS";
    case CHUNK_EOP: return "CHUNK_EOP";
    case CHUNK_EOC: return "CHUNK_EOC";
    }
    std::string text;
    AppendFormatted(&text, "%lu (unknown)", static_cast<unsigned long>(type));
    return text;
}

std::string FlagsText(DWORD flags)
{
    static const struct {
        DWORD Bit;
        const char* Name;
    } names[] = {{CHUNK_TEXT, "CHUNK_TEXT"},
                 {CHUNK_VALUE, "CHUNK_VALUE"},
                 {CHUNK_FILTER_OWNED_VALUE, "CHUNK_FILTER_OWNED_VALUE"}};
    std::string text;
    for (const auto& name : names) {
        if ((flags & name.Bit) == 0)
            continue;
        if (!text.empty())
            text += " | ";
        text += name.Name;
        flags &= ~name.Bit;
    }
    if (flags != 0 || text.empty()) {
        if (!text.empty())
            text += " | ";
        AppendFormatted(&text, "0x%lX", flags);
    }
    return text;
}

void AppendField(std::string* out, const char* name, const std::string& value)
{
    *out += "  ";
    *out += name;
    out->append(16 - std::string_view(name).size(), ' ');
    *out += value;
    out->push_back('\n');
}

std::string Number(unsigned long value)
{
    return std::to_string(value);
}

}  // namespace

void AppendUtf8(std::string* out, const WCHAR* text, std::size_t count)
{
    for (std::size_t index = 0; index < count; ++index) {
        const unsigned unit = text[index];
        if (unit < 0x80) {
            out->push_back(static_cast<char>(unit));
        } else if (IsHighSurrogate(unit) && index + 1 < count && IsLowSurrogate(text[index + 1])) {
            const unsigned low = text[++index];
            AppendUtf8CodePoint(out, CombineSurrogates(unit, low));
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            AppendUtf8CodePoint(out, 0xFFFD);
        } else {
            AppendUtf8CodePoint(out, unit);
        }
    }
}

std::string Utf8Of(const WideString& text)
{
    std::string out;
    AppendUtf8(&out, text.data(), text.size());
    return out;
}

WideString Utf16Of(std::string_view text)
{
    WideString out;
    out.reserve(text.size());
    std::size_t index = 0;
    while (index < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[index]);
        std::size_t length = 0;
        char32_t code = 0;
        char32_t least = 0;
        if (lead < 0x80) {
            length = 1, code = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, code = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, code = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, code = lead & 0x07, least = 0x10000;
        }
        bool valid = length > 0 && index + length <= text.size();
        for (std::size_t next = 1; valid && next < length; ++next) {
            const unsigned char byte = static_cast<unsigned char>(text[index + next]);
            valid = (byte & 0xC0) == 0x80;
            code = (code << 6) | (byte & 0x3F);
        }
        if (!valid || code < least || code > 0x10FFFF) {
            out.push_back(static_cast<WCHAR>(0xFFFD));
            ++index;
            continue;
        }
        if (code >= 0x10000) {
            out.push_back(static_cast<WCHAR>(0xD800 + ((code - 0x10000) >> 10)));
            out.push_back(static_cast<WCHAR>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<WCHAR>(code));
        }
        index += length;
    }
    return out;
}

void AppendJsonString(std::string* out, const WCHAR* text, std::size_t count)
{
    static const char hex[] = "0123456789abcdef";
    auto escape = [out](unsigned unit) {
        const char sequence[] = {'\\', 'u', hex[(unit >> 12) & 0xF], hex[(unit >> 8) & 0xF],
                                 hex[(unit >> 4) & 0xF], hex[unit & 0xF]};
        out->append(sequence, sizeof sequence);
    };
    out->push_back('"');
    for (std::size_t index = 0; index < count; ++index) {
        const unsigned unit = text[index];
        switch (unit) {
        case '"': *out += "\\\""; continue;
        case '\\': *out += "\\\\"; continue;
        case '\b': *out += "\\b"; continue;
        case '\f': *out += "\\f"; continue;
        case '\n': *out += "\\n"; continue;
        case '\r': *out += "\\r"; continue;
        case '\t': *out += "\\t"; continue;
        }
        if (unit < 0x20 || unit == 0x7F || unit == 0x2028 || unit == 0x2029) {
            escape(unit);
        } else if (IsHighSurrogate(unit) && index + 1 < count && IsLowSurrogate(text[index + 1])) {
            const unsigned low = text[++index];
            AppendUtf8CodePoint(out, CombineSurrogates(unit, low));
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            escape(unit);
        } else {
            AppendUtf8CodePoint(out, unit);
        }
    }
    out->push_back('"');
}

std::string HresultText(HRESULT result)
{
    std::string text;
    AppendFormatted(&text, "0x%08lX", static_cast<unsigned long>(static_cast<DWORD>(result)));
    return text;
}

void AppendPlainText(std::string* out, const DocumentText& document)
{
    for (const ExtractedChunk& chunk : document.Chunks) {
        AppendUtf8(out, chunk.Text.data(), chunk.Text.size());
        out->push_back('\n');
    }
}

void AppendJsonLine(std::string* out, std::string_view shown, const DocumentText& document)
{
    const WideString file = Utf16Of(shown);
    *out += "{\"file\": ";
    AppendJsonString(out, file.data(), file.size());
    const bool failed = document.Result != S_OK;
    if (!failed || !document.Chunks.empty()) {
        *out += ", \"chunks\": [";
        bool first = true;
        for (const ExtractedChunk& chunk : document.Chunks) {
            *out += first ? "{\"id\": " : ", {\"id\": ";
            first = false;
            *out += Number(chunk.Stat.idChunk);
            *out += ", \"locale\": ";
            *out += Number(chunk.Stat.locale);
            *out += ", \"text\": ";
            AppendJsonString(out, chunk.Text.data(), chunk.Text.size());
            out->push_back('}');
        }
        out->push_back(']');
    }
    if (failed) {
        const WideString message = Utf16Of(document.Reason);
        *out += ", \"error\": {\"hresult\": \"";
        *out += HresultText(document.Result);
        *out += "\", \"message\": ";
        AppendJsonString(out, message.data(), message.size());
        out->push_back('}');
    }
    *out += "}\n";
}

void AppendChunkDump(std::string* out, std::string_view shown, const DocumentText& document)
{
    *out += "File: ";
    *out += shown;
    *out += "\n\n";
    for (const ExtractedChunk& chunk : document.Chunks) {
        const STAT_CHUNK& stat = chunk.Stat;
        *out += "Chunk " + Number(stat.idChunk) + "\n";
        AppendField(out, "idChunk", Number(stat.idChunk));
        AppendField(out, "breakType", BreakTypeText(NumberIn(stat.breakType)));
        AppendField(out, "flags", FlagsText(NumberIn(stat.flags)));
        std::string locale;
        AppendFormatted(&locale, "0x%08lX", static_cast<unsigned long>(stat.locale));
        AppendField(out, "locale", locale);
        std::string attribute = GuidText(stat.attribute.guidPropSet);
        if (stat.attribute.psProperty.ulKind == PRSPEC_PROPID) {
            attribute += " propid " + Number(stat.attribute.psProperty.propid);
        } else {
            attribute += " name ";
            AppendJsonString(&attribute, chunk.AttributeName.data(), chunk.AttributeName.size());
        }
        AppendField(out, "attribute", attribute);
        AppendField(out, "idChunkSource", Number(stat.idChunkSource));
        AppendField(out, "cwcStartSource", Number(stat.cwcStartSource));
        AppendField(out, "cwcLenSource", Number(stat.cwcLenSource));
        AppendField(out, "text", Number(static_cast<unsigned long>(chunk.Text.size())) + " units");
        AppendUtf8(out, chunk.Text.data(), chunk.Text.size());
        *out += "\n\n";
    }
    if (document.Result == S_OK) {
        const unsigned long count = static_cast<unsigned long>(document.Chunks.size());
        *out += "End: " + Number(count) + " chunks\n\n";
    } else {
        *out += "Error: " + HresultText(document.Result) + " " + document.Reason + "\n\n";
    }
}
