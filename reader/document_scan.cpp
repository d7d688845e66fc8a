#include "reader/document_scan.h"

#include "errors/checked_calls.h"
#include "errors/file_helpers.h"
#include "reader/byte_order.h"
#include "reader/story_text.h"

#include <algorithm>

namespace {

// Most code units a story's text may have: its buffer's size in bytes must fit a signed 32-bit
// count.
const DWORD MaxTextUnits = 0x3FFFFFFF;

// Bytes from the current position to the end of the file (0 past it), and the position.
ErrorBlock* MeasureRest(HANDLE handle, LONG* position, DWORD* rest)
{
    DWORD size = 0;
    if (ErrorBlock* error = CheckedGetFileSize(&size, handle))
        return error;
    if (ErrorBlock* error = GetFilePosition(handle, position))
        return error;
    LONG signedSize = static_cast<LONG>(size);
    *rest = signedSize > *position ? static_cast<DWORD>(signedSize - *position) : 0;
    return nullptr;
}

// Ends the scan before the end of the file: the position moves to the end, so that every later
// step finds the end at once rather than read on from inside the record that ended it.
void EndScanHere(HANDLE handle)
{
    DWORD size = 0;
    if (CheckedGetFileSize(&size, handle) == nullptr)
        SeekTo(handle, static_cast<LONG>(size));
}

// Loads the body of the text story whose header has just been read and decodes it. Only the
// bytes the file really holds are loaded: a body cut short by the end of the file keeps the text
// its bytes hold, and a record length far beyond the file costs nothing.
bool LoadTextStory(HANDLE handle, DWORD bodyLength, bool* atEnd, WCHAR** text, DWORD* length)
{
    *text = nullptr;
    *length = 0;
    LONG position = 0;
    DWORD rest = 0;
    if (MeasureRest(handle, &position, &rest) != nullptr) {
        *atEnd = true;
        return true;
    }
    const DWORD loaded = std::min(bodyLength, rest);

    BYTE* body = nullptr;
    if (AllocZeroed(&body, loaded) != nullptr) {
        // Step over the body, so that a later call goes on with the next record rather than
        // taking body bytes for a header.
        SeekTo(handle, static_cast<LONG>(position + loaded));
        return true;
    }
    ReadExact(handle, body, loaded);  // a short read leaves zeros, which yield nothing

    const TextStoryBody story{body, loaded};
    DWORD count = 0;
    DecodeStoryText(&story, nullptr, &count);
    bool failed = false;
    if (count > MaxTextUnits) {
        RaiseProgramError(ProgramErrorNoMemory);
        failed = true;
    } else if (count != 0) {
        if (AllocZeroed(text, static_cast<SIZE_T>(count) * sizeof(WCHAR)) != nullptr)
            failed = true;
        else
            DecodeStoryText(&story, *text, nullptr);
    }
    FreeAndClear(&body);
    if (failed)
        return true;  // *text is still null
    *length = count;
    return false;
}

}  // namespace

bool OpenDocument(HANDLE* handle, LPCWSTR path)
{
    *handle = INVALID_HANDLE_VALUE;
    HANDLE opened = nullptr;
    // A failed open that left no last error still gives no handle: that is a failure too.
    if (OpenFileChecked(path, &opened) != nullptr || opened == nullptr)
        return true;
    BYTE preamble[PreambleSize];
    ReadExact(opened, preamble, PreambleSize);  // a shorter file opens and ends at once
    *handle = opened;
    return false;
}

bool ReadNextStoryText(HANDLE handle, bool* atEnd, WCHAR** text, DWORD* length)
{
    *atEnd = false;
    for (;;) {
        // When the question cannot be answered the scan ends rather than read on blindly.
        bool ended = true;
        if (AtEndOfFile(handle, &ended) != nullptr) {
            *atEnd = true;
            return true;
        }
        if (ended) {
            *atEnd = true;
            return false;
        }

        BYTE header[ChunkHeaderSize] = {};
        if (ErrorBlock* error = ReadExact(handle, header, ChunkHeaderSize)) {
            // A header cut short by the end of the file is where the document ends; a read that
            // failed is a failure as well.
            *atEnd = true;
            return !IsProgramError(error);
        }
        const LONG recordLength = ReadLittleEndianLong(header + RecordLengthOffset);
        const LONG recordType = ReadLittleEndianLong(header + RecordTypeOffset);
        // A record shorter than its own header would send the scan back or into itself: the
        // document's readable part ends there.
        if (recordLength < static_cast<LONG>(ChunkHeaderSize)) {
            EndScanHere(handle);
            *atEnd = true;
            return false;
        }
        const DWORD bodyLength = static_cast<DWORD>(recordLength) - ChunkHeaderSize;
        if (recordType == TextStoryRecordType)
            return LoadTextStory(handle, bodyLength, atEnd, text, length);

        LONG position = 0;
        if (GetFilePosition(handle, &position) != nullptr) {
            *atEnd = true;
            return true;
        }
        const long long next = static_cast<long long>(position) + bodyLength;
        if (next > 0x7FFFFFFF) {
            // Past any position a signed 32-bit file size reaches, hence past the end.
            EndScanHere(handle);
            *atEnd = true;
            return false;
        }
        SeekTo(handle, static_cast<LONG>(next));
    }
}
