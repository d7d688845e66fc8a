// The document file: a 256-byte preamble, then records back to back, each opened by a 36-byte
// header that gives its length (header included) and its type. Text stories (type 4110) are
// loaded and decoded; every other record is stepped over unread.
#pragma once

#include "platform/platform.h"

const DWORD PreambleSize = 256;
const DWORD ChunkHeaderSize = 36;
const LONG TextStoryRecordType = 4110;

// Offsets of the interpreted fields of a record header.
const DWORD RecordLengthOffset = 24;
const DWORD RecordTypeOffset = 32;

// Opens the document and steps over its preamble. *handle is INVALID_HANDLE_VALUE until the
// open succeeds. Returns false on success, true on failure.
bool OpenDocument(HANDLE* handle, LPCWSTR path);

// Reads on from the current position to the next text story and hands back its decoded text,
// which the caller then owns (null when the story yields no code units). Sets *atEnd when no
// further story can be had: the end of the file, or records the scan cannot go past. Returns
// false on success, true on failure; on failure *text is null and *length 0, and the story has
// been passed over.
bool ReadNextStoryText(HANDLE handle, bool* atEnd, WCHAR** text, DWORD* length);
