#include "errors/error_block.h"

#include "errors/placeholders.h"
#include "errors/text_format.h"

#include <atomic>
#include <cstdarg>

namespace {

// One block of each kind per thread, so that filters working on several threads at once never
// write into each other's message.
thread_local ErrorBlock SystemErrorBlock;
thread_local ErrorBlock ProgramErrorBlock;

// Installed tables are read by every thread that raises an error.
std::atomic<const MessageTableEntry* const*> MessageTables{nullptr};

// Scratch size for a formatted detail, in code units.
const DWORD DetailCapacity = 512;

LPCWSTR FindProgramMessage(LONG number)
{
    const MessageTableEntry* const* chain = MessageTables.load();
    if (chain == nullptr)
        return nullptr;
    for (const MessageTableEntry* const* table = chain; *table != nullptr; ++table) {
        for (const MessageTableEntry* entry = *table; entry->Number != 0; ++entry) {
            if (entry->Number == number)
                return entry->Text;
        }
    }
    return nullptr;
}

}  // namespace

ErrorBlock* RaiseSystemError(LPCWSTR label, LPCWSTR detailFormat, ...)
{
    DWORD code = GetLastError();
    if (code == 0)
        return nullptr;

    ErrorBlock* block = &SystemErrorBlock;
    block->Message[0] = 0;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, block->Message, ErrorMessageCapacity, nullptr);
    if (length == 0 || length >= ErrorMessageCapacity)
        length = 0;
    block->Message[length] = 0;
    block->Number = static_cast<LONG>(code);

    // The suffix follows the system text directly; whatever does not fit is cut off at the end.
    WCHAR* suffix = block->Message + length;
    DWORD room = ErrorMessageCapacity - length;
    int number = static_cast<int>(code);
    if (detailFormat != nullptr) {
        WCHAR detail[DetailCapacity];
        va_list arguments;
        va_start(arguments, detailFormat);
        FormatTextV(detail, DetailCapacity, detailFormat, arguments);
        va_end(arguments);
        FormatText(suffix, room, U16("(%s) (%d) (%s)"), label, number, detail);
    } else {
        FormatText(suffix, room, U16("(%s) (%d)"), label, number);
    }
    // Reading the system text may have changed the last error; the caller still sees its own.
    SetLastError(code);
    return block;
}

ErrorBlock* RaiseProgramError(LONG number)
{
    ErrorBlock* block = &ProgramErrorBlock;
    block->Number = number;
    LPCWSTR text = FindProgramMessage(number);
    FormatText(block->Message, ErrorMessageCapacity, U16("%s"), text != nullptr ? text : U16("{ENOE}"));
    ExpandPlaceholders(block->Message, ErrorMessageCapacity);
    return block;
}

bool IsProgramError(const ErrorBlock* block)
{
    return block == &ProgramErrorBlock;
}

void InstallMessageTables(const MessageTableEntry* const* chain)
{
    MessageTables = chain;
}
