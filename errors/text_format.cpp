#include "errors/text_format.h"

namespace {

bool IsHighSurrogate(WCHAR unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

// Appends to a bounded output, keeping room for the terminator.
struct Output {
    WCHAR* Text;
    DWORD Capacity;
    DWORD Length;
    bool Full;

    void Put(WCHAR unit)
    {
        if (Full || Length + 1 >= Capacity) {
            // A pair must not be split: drop a high surrogate left without its partner.
            if (!Full && Length > 0 && IsHighSurrogate(Text[Length - 1]))
                --Length;
            Full = true;
            return;
        }
        Text[Length++] = unit;
    }

    void PutText(LPCWSTR text)
    {
        for (; *text != 0 && !Full; ++text)
            Put(*text);
    }

    void PutNumber(unsigned long long magnitude, bool negative)
    {
        WCHAR digits[24];
        int count = 0;
        do {
            digits[count++] = static_cast<WCHAR>(U16('0') + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (negative)
            Put(U16('-'));
        while (count > 0)
            Put(digits[--count]);
    }
};

}  // namespace

DWORD WideLength(LPCWSTR text)
{
    DWORD length = 0;
    while (text[length] != 0)
        ++length;
    return length;
}

DWORD FormatTextV(WCHAR* output, DWORD capacity, LPCWSTR format, va_list arguments)
{
    if (capacity == 0)
        return 0;
    Output out{output, capacity, 0, false};
    for (; *format != 0 && !out.Full; ++format) {
        if (*format != U16('%')) {
            out.Put(*format);
            continue;
        }
        WCHAR directive = format[1];
        if (directive == U16('s')) {
            LPCWSTR text = va_arg(arguments, LPCWSTR);
            out.PutText(text != nullptr ? text : U16("(null)"));
        } else if (directive == U16('d')) {
            long long value = va_arg(arguments, int);
            out.PutNumber(value < 0 ? static_cast<unsigned long long>(-value) : value, value < 0);
        } else if (directive == U16('u')) {
            out.PutNumber(va_arg(arguments, unsigned int), false);
        } else if (directive == U16('%')) {
            out.Put(U16('%'));
        } else {
            // Not a directive we know: keep it as written.
            out.Put(U16('%'));
            continue;
        }
        ++format;
    }
    output[out.Length] = 0;
    return out.Length;
}

DWORD FormatText(WCHAR* output, DWORD capacity, LPCWSTR format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    DWORD length = FormatTextV(output, capacity, format, arguments);
    va_end(arguments);
    return length;
}
