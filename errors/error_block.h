// Error blocks: how every file operation of the system reports failure. An operation returns a
// pointer to a block on failure and null on success; the block carries the error number and text.
#pragma once

#include "platform/platform.h"

// Message capacity in code units, terminator included.
const DWORD ErrorMessageCapacity = 252;

struct ErrorBlock {
    LONG Number;
    WCHAR Message[ErrorMessageCapacity];
};

// The program's own error numbers.
const LONG ProgramErrorNoMemory = 2;   // a zero-filled allocation failed
const LONG ProgramErrorShortRead = 3;  // a read ended before the requested count

// Fills the system error block from the calling thread's last system error: the system's text
// for it, then "(label) (code)" or, with a detail format, "(label) (code) (detail)". Returns null
// when the last error is 0. Each thread has its own block; the pointer stays good until the
// thread's next system error.
ErrorBlock* RaiseSystemError(LPCWSTR label, LPCWSTR detailFormat, ...);

// Fills the program error block with the number and its expanded message text.
ErrorBlock* RaiseProgramError(LONG number);

// Whether a returned block is the program error block (as opposed to a system error).
bool IsProgramError(const ErrorBlock* block);

// Program message tables: each a list of (number, text) pairs ended by number 0, searched in
// chain order. No table is installed by default, so every program error reads "{ENOE}".
struct MessageTableEntry {
    LONG Number;
    LPCWSTR Text;
};

// Installs a null-terminated chain of tables (null removes them). The tables must outlive use.
void InstallMessageTables(const MessageTableEntry* const* chain);
