#include "tools/cvxtext/output.h"

#include "platform/utf8.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#define CVX_SSE2 1
#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define CVX_SSSE3 1  // chosen at run time
#endif
#endif

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

// ---- UTF-16 to UTF-8 and to JSON string contents, a block of units at a time. ----
//
// Each block is converted into a buffer on the stack and appended from there, so that the
// output string grows by exactly what the block gave and never holds bytes it then shrinks
// away. The converters write through a plain pointer into room for the block's worst case. With
// SSE2 they move over runs of ASCII 16 units at a time; with SSSE3 (where the processor has it)
// also over text of ASCII and the two-byte range (Latin, Greek, Cyrillic...), 8 units at a
// time. Everything else goes a unit at a time.

const std::size_t Utf8UnitBytes = 3;  // at most, a pair's four bytes being two units' worth
const std::size_t JsonUnitBytes = 6;  // at most: \uXXXX

bool IsSurrogate(unsigned unit)
{
    return (unit & 0xF800) == 0xD800;
}

bool IsJsonPlain(unsigned unit)
{
    return unit >= 0x20 && unit < 0x7F && unit != '"' && unit != '\\';
}

#ifdef __GNUC__
#define CVX_INLINE inline __attribute__((always_inline))
#else
#define CVX_INLINE inline
#endif

CVX_INLINE char* PutUtf8(char* out, char32_t code)
{
    if (code < 0x800) {
        out[0] = static_cast<char>(0xC0 | (code >> 6));
        out[1] = static_cast<char>(0x80 | (code & 0x3F));
        return out + 2;
    }
    if (code < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (code >> 12));
        out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (code & 0x3F));
        return out + 3;
    }
    out[0] = static_cast<char>(0xF0 | (code >> 18));
    out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (code & 0x3F));
    return out + 4;
}

// \uXXXX, lower-case hex.
char* PutEscape(char* out, unsigned unit)
{
    static const char hex[] = "0123456789abcdef";
    out[0] = '\\';
    out[1] = 'u';
    out[2] = hex[(unit >> 12) & 0xF];
    out[3] = hex[(unit >> 8) & 0xF];
    out[4] = hex[(unit >> 4) & 0xF];
    out[5] = hex[unit & 0xF];
    return out + 6;
}

// What each conversion does with the units it does not copy as they are: Put converts the unit
// at *in (with the next, for a pair), moves *in past it and returns the end of what it wrote.
struct Utf8Conversion {
    static bool Plain(unsigned unit) { return unit < 0x80; }

    static char* Put(const WCHAR** in, const WCHAR* end, char* out)
    {
        const WCHAR* at = *in;
        const unsigned unit = *at++;
        if (unit < 0x80)
            *out++ = static_cast<char>(unit);
        else if (!IsSurrogate(unit))
            out = PutUtf8(out, unit);
        else if (unit < 0xDC00 && at != end && IsLowSurrogate(*at))
            out = PutUtf8(out, CombineSurrogates(unit, *at++));
        else
            out = PutUtf8(out, 0xFFFD);
        *in = at;
        return out;
    }

#ifdef CVX_SSE2
    // All ones in the lanes of units copied as they are.
    static __m128i PlainLanes(__m128i units)
    {
        return _mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80))),
                               _mm_setzero_si128());
    }
#endif
};

struct JsonConversion {
    static bool Plain(unsigned unit) { return IsJsonPlain(unit); }

    static char* Put(const WCHAR** in, const WCHAR* end, char* out)
    {
        const WCHAR* at = *in;
        const unsigned unit = *at++;
        if (unit >= 0x80) {
            if (!IsSurrogate(unit))
                out = unit == 0x2028 || unit == 0x2029 ? PutEscape(out, unit) : PutUtf8(out, unit);
            else if (unit < 0xDC00 && at != end && IsLowSurrogate(*at))
                out = PutUtf8(out, CombineSurrogates(unit, *at++));
            else
                out = PutEscape(out, unit);
            *in = at;
            return out;
        }
        *in = at;
        char letter = 0;
        switch (unit) {
        case '"': letter = '"'; break;
        case '\\': letter = '\\'; break;
        case '\b': letter = 'b'; break;
        case '\f': letter = 'f'; break;
        case '\n': letter = 'n'; break;
        case '\r': letter = 'r'; break;
        case '\t': letter = 't'; break;
        default:
            if (IsJsonPlain(unit)) {
                *out = static_cast<char>(unit);
                return out + 1;
            }
            return PutEscape(out, unit);  // the other controls and DEL
        }
        out[0] = '\\';
        out[1] = letter;
        return out + 2;
    }

#ifdef CVX_SSE2
    // Units from 0x8000 up compare as negative, and so below 0x20.
    static __m128i PlainLanes(__m128i units)
    {
        const __m128i outside = _mm_or_si128(_mm_cmplt_epi16(units, _mm_set1_epi16(0x20)),
                                             _mm_cmpgt_epi16(units, _mm_set1_epi16(0x7E)));
        const __m128i escaped = _mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16('"')),
                                             _mm_cmpeq_epi16(units, _mm_set1_epi16('\\')));
        return _mm_cmpeq_epi16(_mm_or_si128(outside, escaped), _mm_setzero_si128());
    }
#endif
};

#ifdef CVX_SSE2
__m128i Load(const WCHAR* units)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(units));
}

// One bit per unit (bit 0 the first) of two masks of 8 lanes each (all ones or all zeros).
unsigned Bits16(__m128i first, __m128i second)
{
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(first, second)));
}
#endif

// [in, end) converted at `out`, which has room for Conversion's most bytes a unit; returns the
// end. With `Vector` runs of units copied as they are go 16 at a time; the rest goes a unit at
// a time.
template <typename Conversion, bool Vector = true>
char* Convert(const WCHAR* in, const WCHAR* end, char* out)
{
    for (;;) {
#ifdef CVX_SSE2
        while (Vector && end - in >= 16) {
            const __m128i first = Load(in);
            const __m128i second = Load(in + 8);
            // All 16 bytes are stored; those past the run are written over by what follows, or
            // lie past the end of the output.
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(first, second));
            const unsigned plain =
                Bits16(Conversion::PlainLanes(first), Conversion::PlainLanes(second));
            if (plain != 0xFFFF) {
                const unsigned run = static_cast<unsigned>(__builtin_ctz(~plain));
                in += run;
                out += run;
                break;
            }
            in += 16;
            out += 16;
        }
#endif
        while (in != end && Conversion::Plain(*in))
            *out++ = static_cast<char>(*in++);
        // Then every unit up to the next plain one: text that is not plain seldom has one such
        // unit alone.
        while (in != end && !Conversion::Plain(*in))
            out = Conversion::Put(&in, end, out);
        if (in == end)
            return out;
    }
}

#ifdef CVX_SSSE3
// For 8 units of ASCII and the two-byte range: each unit's UTF-8 as two bytes in its lane (an
// ASCII unit's second byte to be dropped), and for each mask of ASCII lanes the shuffle that
// drops those bytes, with the length left.
struct TwoByteTable {
    alignas(16) unsigned char Shuffle[256][16];
    unsigned char Length[256];
};

constexpr TwoByteTable MakeTwoByteTable()
{
    TwoByteTable table{};
    for (unsigned ascii = 0; ascii < 256; ++ascii) {
        unsigned length = 0;
        for (unsigned lane = 0; lane < 8; ++lane) {
            table.Shuffle[ascii][length++] = static_cast<unsigned char>(2 * lane);
            if ((ascii & (1u << lane)) == 0)
                table.Shuffle[ascii][length++] = static_cast<unsigned char>(2 * lane + 1);
        }
        table.Length[ascii] = static_cast<unsigned char>(length);
        while (length < 16)
            table.Shuffle[ascii][length++] = 0x80;
    }
    return table;
}

constexpr TwoByteTable TwoBytes = MakeTwoByteTable();

// The UTF-8 of 8 units of ASCII and the two-byte range, `ascii` marking the ASCII ones (and
// `mask` their bits), stored at `out` (all 16 bytes); returns the end of it.
__attribute__((target("ssse3"))) char* PutTwoByteGroup(__m128i units, __m128i ascii,
                                                       unsigned mask, char* out)
{
    // Lead byte 0xC0 | unit >> 6 below, trail byte 0x80 | (unit & 0x3F) above; ASCII units
    // stay as they are.
    const __m128i twoBytes = _mm_or_si128(
        _mm_or_si128(_mm_srli_epi16(units, 6),
                     _mm_slli_epi16(_mm_and_si128(units, _mm_set1_epi16(0x3F)), 8)),
        _mm_set1_epi16(static_cast<short>(0x80C0)));
    const __m128i pairs =
        _mm_xor_si128(twoBytes, _mm_and_si128(ascii, _mm_xor_si128(twoBytes, units)));
    const __m128i shuffle =
        _mm_load_si128(reinterpret_cast<const __m128i*>(TwoBytes.Shuffle[mask]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(pairs, shuffle));
    return out + TwoBytes.Length[mask];
}

// Lanes of units from U+0800 up: not all zeros.
__m128i FromU800(__m128i units)
{
    return _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xF800)));
}

// Whether all 16 units go in two-byte groups: for UTF-8 every unit below U+0800; for JSON
// also none of the ASCII ones escaped. `asciiBits` marks the ASCII units, as Bits16 does;
// *plain gets the bits of the plain ones.
bool FitGroups(Utf8Conversion, __m128i first, __m128i second, unsigned asciiBits, unsigned* plain)
{
    *plain = asciiBits;
    return _mm_movemask_epi8(_mm_cmpeq_epi16(FromU800(_mm_or_si128(first, second)),
                                             _mm_setzero_si128())) == 0xFFFF;
}

bool FitGroups(JsonConversion, __m128i first, __m128i second, unsigned asciiBits, unsigned* plain)
{
    *plain = Bits16(JsonConversion::PlainLanes(first), JsonConversion::PlainLanes(second));
    const bool wideFit = _mm_movemask_epi8(_mm_cmpeq_epi16(FromU800(_mm_or_si128(first, second)),
                                                           _mm_setzero_si128())) == 0xFFFF;
    // The ASCII units are plain ones.
    return wideFit && (asciiBits & ~*plain) == 0;
}

bool InTwoByteRange(unsigned unit)
{
    return unit >= 0x80 && unit < 0x800;
}

// As Convert, with text of ASCII and the two-byte range (for JSON, no ASCII unit that it
// escapes) converted 8 units at a time. Plain runs still go 16 at a time where they are long.
// The choice between the two is made for a stretch of text, not for every 16 units, where it
// would often be guessed wrong: groups from a unit of the two-byte range on, until the text has
// been ASCII for 128 units.
template <typename Conversion>
__attribute__((target("ssse3"))) char* ConvertWide(const WCHAR* in, const WCHAR* end, char* out)
{
    for (;;) {
        while (end - in >= 16) {
            const __m128i first = Load(in);
            const __m128i second = Load(in + 8);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(first, second));
            const unsigned plain =
                Bits16(Conversion::PlainLanes(first), Conversion::PlainLanes(second));
            if (plain == 0xFFFF) {
                in += 16;
                out += 16;
                continue;
            }
            const unsigned run = static_cast<unsigned>(__builtin_ctz(~plain));
            in += run;
            out += run;
            if (InTwoByteRange(*in))
                break;
            // Other units, up to the next plain one or one of the two-byte range.
            do
                out = Conversion::Put(&in, end, out);
            while (in != end && !Conversion::Plain(*in) && !InTwoByteRange(*in));
        }
        unsigned asciiStreak = 0;  // 16-unit stretches of ASCII in a row
        while (end - in >= 16 && asciiStreak < 8) {
            const __m128i first = Load(in);
            const __m128i second = Load(in + 8);
            const __m128i asciiFirst = Utf8Conversion::PlainLanes(first);
            const __m128i asciiSecond = Utf8Conversion::PlainLanes(second);
            const unsigned ascii = Bits16(asciiFirst, asciiSecond);
            // Counted without a branch, which would be guessed wrong all the time.
            asciiStreak = (asciiStreak + 1) & (0u - static_cast<unsigned>(ascii == 0xFFFF));
            unsigned plain = 0;
            if (FitGroups(Conversion(), first, second, ascii, &plain)) {
                out = PutTwoByteGroup(first, asciiFirst, ascii & 0xFF, out);
                out = PutTwoByteGroup(second, asciiSecond, ascii >> 8, out);
                in += 16;
                continue;
            }
            unsigned plainFirst = 0;
            if (FitGroups(Conversion(), first, first, ascii & 0xFF, &plainFirst)) {
                out = PutTwoByteGroup(first, asciiFirst, ascii & 0xFF, out);
                in += 8;
            }
            // Units one at a time up to the first that fits a group again.
            do
                out = Conversion::Put(&in, end, out);
            while (in != end && (*in >= 0x800 || (*in < 0x80 && !Conversion::Plain(*in))));
        }
        if (end - in < 16)
            return Convert<Conversion>(in, end, out);
    }
}

bool HasSsse3()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#endif

using Converter = char* (*)(const WCHAR*, const WCHAR*, char*);

template <typename Conversion>
Converter ConverterFor(ConversionPath path)
{
#ifdef CVX_SSSE3
    if (path == ConversionPath::Fastest && HasSsse3())
        return ConvertWide<Conversion>;
#endif
    return path == ConversionPath::Scalar ? Convert<Conversion, false> : Convert<Conversion>;
}

struct Converters {
    Converter Utf8;
    Converter Json;
};

Converters& CurrentConverters()
{
    static Converters converters = {ConverterFor<Utf8Conversion>(ConversionPath::Fastest),
                                    ConverterFor<JsonConversion>(ConversionPath::Fastest)};
    return converters;
}

// Appends `count` units a block at a time through `convert`, which writes at most UnitBytes a
// unit.
template <std::size_t UnitBytes>
void AppendConverted(std::string* out, const WCHAR* text, std::size_t count, Converter convert)
{
    char buffer[UnitBytes * ConversionBlockUnits];
    while (count > 0) {
        std::size_t block = std::min(count, ConversionBlockUnits);
        // A pair is never cut in two: a high surrogate that ends a block starts the next one.
        if (block < count && IsHighSurrogate(text[block - 1]))
            --block;
        const char* end = convert(text, text + block, buffer);
        out->append(buffer, static_cast<std::size_t>(end - buffer));
        text += block;
        count -= block;
    }
}

// The contents of a JSON string, without the quotes.
void AppendJsonContents(std::string* out, const WCHAR* text, std::size_t count)
{
    AppendConverted<JsonUnitBytes>(out, text, count, CurrentConverters().Json);
}

}  // namespace

void AppendUtf8(std::string* out, const WCHAR* text, std::size_t count)
{
    AppendConverted<Utf8UnitBytes>(out, text, count, CurrentConverters().Utf8);
}

void UseConversionPath(ConversionPath path)
{
    CurrentConverters() = {ConverterFor<Utf8Conversion>(path), ConverterFor<JsonConversion>(path)};
}

void AppendUtf8Simple(std::string* out, const WCHAR* text, std::size_t count)
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
    out->push_back('"');
    AppendJsonContents(out, text, count);
    out->push_back('"');
}

std::string HresultText(HRESULT result)
{
    std::string text;
    AppendFormatted(&text, "0x%08lX", static_cast<unsigned long>(static_cast<DWORD>(result)));
    return text;
}

// ---- Documents ----

DocumentFormatter::DocumentFormatter(OutputFormat format, std::string* out,
                                     std::string_view shown)
    : Format(format), Out(out)
{
    switch (Format) {
    case OutputFormat::Plain: break;
    case OutputFormat::Json: {
        const WideString file = Utf16Of(shown);
        *Out += "{\"file\": ";
        AppendJsonString(Out, file.data(), file.size());
        break;
    }
    case OutputFormat::Chunks:
        *Out += "File: ";
        *Out += shown;
        *Out += "\n\n";
        break;
    }
}

void DocumentFormatter::BeginChunk(const ExtractedChunk& chunk)
{
    const STAT_CHUNK& stat = chunk.Stat;
    switch (Format) {
    case OutputFormat::Plain: break;
    case OutputFormat::Json:
        *Out += Chunks == 0 ? ", \"chunks\": [{\"id\": " : ", {\"id\": ";
        *Out += Number(stat.idChunk);
        *Out += ", \"locale\": ";
        *Out += Number(stat.locale);
        *Out += ", \"text\": \"";
        break;
    case OutputFormat::Chunks: {
        *Out += "Chunk " + Number(stat.idChunk) + "\n";
        AppendField(Out, "idChunk", Number(stat.idChunk));
        AppendField(Out, "breakType", BreakTypeText(NumberIn(stat.breakType)));
        AppendField(Out, "flags", FlagsText(NumberIn(stat.flags)));
        std::string locale;
        AppendFormatted(&locale, "0x%08lX", static_cast<unsigned long>(stat.locale));
        AppendField(Out, "locale", locale);
        std::string attribute = GuidText(stat.attribute.guidPropSet);
        if (stat.attribute.psProperty.ulKind == PRSPEC_PROPID) {
            attribute += " propid " + Number(stat.attribute.psProperty.propid);
        } else {
            attribute += " name ";
            AppendJsonString(&attribute, chunk.AttributeName.data(), chunk.AttributeName.size());
        }
        AppendField(Out, "attribute", attribute);
        AppendField(Out, "idChunkSource", Number(stat.idChunkSource));
        AppendField(Out, "cwcStartSource", Number(stat.cwcStartSource));
        AppendField(Out, "cwcLenSource", Number(stat.cwcLenSource));
        Held.clear();
        break;
    }
    }
    ++Chunks;
}

void DocumentFormatter::Convert(const WCHAR* text, std::size_t count)
{
    if (Format == OutputFormat::Json)
        AppendJsonContents(Out, text, count);
    else
        AppendUtf8(Out, text, count);
}

void DocumentFormatter::ChunkText(const WCHAR* text, std::size_t count)
{
    if (Format == OutputFormat::Chunks) {
        // The dump gives the length before the text.
        Held.append(text, count);
        return;
    }
    if (count == 0)
        return;
    if (Pending != 0) {
        // The high surrogate that ended the last piece, with the low one that may start this.
        const WCHAR pair[] = {Pending, text[0]};
        Pending = 0;
        const bool paired = IsLowSurrogate(text[0]);
        Convert(pair, paired ? 2 : 1);
        if (paired) {
            ++text;
            --count;
        }
    }
    if (count > 0 && IsHighSurrogate(text[count - 1])) {
        Pending = text[count - 1];
        --count;
    }
    Convert(text, count);
}

void DocumentFormatter::EndChunk(const ExtractedChunk& /*chunk*/)
{
    if (Pending != 0) {
        const WCHAR high = Pending;
        Pending = 0;
        Convert(&high, 1);
    }
    switch (Format) {
    case OutputFormat::Plain: Out->push_back('\n'); break;
    case OutputFormat::Json: *Out += "\"}"; break;
    case OutputFormat::Chunks:
        AppendField(Out, "text", Number(static_cast<unsigned long>(Held.size())) + " units");
        AppendUtf8(Out, Held.data(), Held.size());
        *Out += "\n\n";
        break;
    }
}

void DocumentFormatter::Finish(const DocumentText& document)
{
    if (Format == OutputFormat::Plain) {
        // Room for text that is all ASCII; other text grows the string as it goes.
        std::size_t size = Out->size();
        for (std::size_t index = Chunks; index < document.Chunks.size(); ++index)
            size += document.Chunks[index].Text.size() + 1;
        Out->reserve(size);
    }
    for (std::size_t index = Chunks; index < document.Chunks.size(); ++index) {
        const ExtractedChunk& chunk = document.Chunks[index];
        BeginChunk(chunk);
        ChunkText(chunk.Text.data(), chunk.Text.size());
        EndChunk(chunk);
    }
    const bool failed = document.Result != S_OK;
    switch (Format) {
    case OutputFormat::Plain: break;
    case OutputFormat::Json:
        if (Chunks > 0)
            Out->push_back(']');
        else if (!failed)
            *Out += ", \"chunks\": []";
        if (failed) {
            const WideString message = Utf16Of(document.Reason);
            *Out += ", \"error\": {\"hresult\": \"";
            *Out += HresultText(document.Result);
            *Out += "\", \"message\": ";
            AppendJsonString(Out, message.data(), message.size());
            Out->push_back('}');
        }
        *Out += "}\n";
        break;
    case OutputFormat::Chunks:
        if (!failed) {
            const unsigned long count = static_cast<unsigned long>(document.Chunks.size());
            *Out += "End: " + Number(count) + " chunks\n\n";
        } else {
            *Out += "Error: " + HresultText(document.Result) + " " + document.Reason + "\n\n";
        }
        break;
    }
}

void AppendDocument(std::string* out, OutputFormat format, std::string_view shown,
                    const DocumentText& document)
{
    DocumentFormatter formatter(format, out, shown);
    formatter.Finish(document);
}

void AppendPlainText(std::string* out, const DocumentText& document)
{
    AppendDocument(out, OutputFormat::Plain, {}, document);
}

void AppendJsonLine(std::string* out, std::string_view shown, const DocumentText& document)
{
    AppendDocument(out, OutputFormat::Json, shown, document);
}

void AppendChunkDump(std::string* out, std::string_view shown, const DocumentText& document)
{
    AppendDocument(out, OutputFormat::Chunks, shown, document);
}
