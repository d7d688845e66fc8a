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

// Bytes from the current position to the end of the file (0 past it), and the position. True
// when either cannot be had, also where a call failed without an error (a size or position of
// 0xFFFFFFFF).
bool MeasureRest(HANDLE handle, LONG* position, DWORD* rest)
{
    DWORD size = 0;
    if (CheckedGetFileSize(&size, handle) != nullptr || size == INVALID_FILE_SIZE)
        return true;
    if (GetFilePosition(handle, position) != nullptr || *position < 0)
        return true;
    LONG signedSize = static_cast<LONG>(size);
    *rest = signedSize > *position ? static_cast<DWORD>(signedSize - *position) : 0;
    return false;
}

// Ends the scan before the end of the file: the position moves to the end, so that every later
// step finds the end at once rather than read on from inside the record that ended it. True when
// the file cannot be moved there; the scan must then fail, since a later step would read on.
// A size that reads as negative (past a signed 32-bit value, or 0xFFFFFFFF without an error) is
// an end to every later step already, as long as it reads so.
bool EndScanHere(HANDLE handle)
{
    DWORD size = 0;
    if (CheckedGetFileSize(&size, handle) != nullptr)
        return true;
    return static_cast<LONG>(size) >= 0 && SeekTo(handle, static_cast<LONG>(size));
}

// A read that failed with an error, as against one cut short by the end of the file (program
// error 3).
bool ReadFailed(ErrorBlock* error)
{
    return error != nullptr && !IsProgramError(error);
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
    if (MeasureRest(handle, &position, &rest)) {
        *atEnd = true;
        return true;
    }
    const DWORD loaded = std::min(bodyLength, rest);

    BYTE* body = nullptr;
    if (AllocZeroed(&body, loaded) != nullptr) {
        // Step over the body, so that a later call goes on with the next record rather than
        // taking body bytes for a header; where that fails, the scan cannot go on.
        *atEnd = SeekTo(handle, static_cast<LONG>(position + loaded));
        return true;
    }
    // A read cut short leaves zeros, which yield nothing; a read that failed is a failure, and
    // the text its bytes would hold is not made up.
    if (ReadFailed(ReadExact(handle, body, loaded))) {
        FreeAndClear(&body);
        *atEnd = true;
        return true;
    }

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
    // A shorter file opens and ends at once; a file that cannot be read does not open.
    if (ReadFailed(ReadExact(opened, preamble, PreambleSize))) {
        CloseDocument(opened);
        return true;
    }
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
            // A size that reads as 0xFFFFFFFF without an error also lands here: the position is
            // moved to the end, so that the end stays one.
            *atEnd = true;
            return EndScanHere(handle);
        }

        BYTE header[ChunkHeaderSize] = {};
        if (ErrorBlock* error = ReadExact(handle, header, ChunkHeaderSize)) {
            // A header cut short by the end of the file is where the document ends; a read that
            // failed is a failure.
            *atEnd = true;
            return ReadFailed(error) || EndScanHere(handle);
        }
        const LONG recordLength = ReadLittleEndianLong(header + RecordLengthOffset);
        const LONG recordType = ReadLittleEndianLong(header + RecordTypeOffset);
        // A record shorter than its own header would send the scan back or into itself: the
        // document's readable part ends there.
        if (recordLength < static_cast<LONG>(ChunkHeaderSize)) {
            *atEnd = true;
            return EndScanHere(handle);
        }
        const DWORD bodyLength = static_cast<DWORD>(recordLength) - ChunkHeaderSize;
        if (recordType == TextStoryRecordType)
            return LoadTextStory(handle, bodyLength, atEnd, text, length);

        LONG position = 0;
        if (GetFilePosition(handle, &position) != nullptr || position < 0) {
            *atEnd = true;
            return true;
        }
        const long long next = static_cast<long long>(position) + bodyLength;
        if (next > 0x7FFFFFFF) {
            // Past any position a signed 32-bit file size reaches, hence past the end.
            *atEnd = true;
            return EndScanHere(handle);
        }
        if (SeekTo(handle, static_cast<LONG>(next))) {
            *atEnd = true;
            return true;
        }
    }
}
