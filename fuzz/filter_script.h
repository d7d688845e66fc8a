// Input format of filter_fuzz, shared with the seed writer: a host script, then the document.
//
//   byte 0           n, the script's length (cut to what the input holds)
//   bytes 1 .. n     the script
//   the rest         the document
//
// The script, read byte by byte (reads past its end give 0):
//   setup byte       SetupFlags
//   Init choice        only with InitBeforeLoad: the Init before any Load (below)
//   Init choice        the Init after the first Load
//   ops              until the script ends; each op byte's low nibble is the Op, the high
//                    nibble its small parameter
// then the host takes every chunk left, all of its text, with the last buffer size chosen.
//
// Init choice: two bytes of IFILTER_INIT flags (the 10 defined bits; bit 15 of the pair adds an
// undefined one), then an attribute byte whose value modulo AttributeModeCount is the
// AttributeMode; "several" is followed by a count byte (2 + value % 7) and one byte per attribute
// (its AttributeKind, modulo AttributeKindCount); "null array" by a count byte (1 + value).
#pragma once

#include <cstdint>

namespace filter_script {

enum SetupFlags : std::uint8_t {
    InitBeforeLoad = 0x01,      // Init before any Load: E_FAIL, then no chunks
    HoldServerLock = 0x02,      // LockServer(TRUE) for the whole run
    LoadMissingFirst = 0x04,    // the first Load names a file that does not exist
    ExtraReference = 0x08,      // an IUnknown reference held for the whole run
    CreateAsPersistFile = 0x10, // CreateInstance asks for IPersistFile, not IFilter
};

enum AttributeMode : std::uint8_t {
    NoAttributes,      // cAttributes 0
    Contents,          // PSGUID_STORAGE / PID_STG_CONTENTS
    OtherSet,          // another property set, property id from the next byte
    ByName,            // PRSPEC_LPWSTR, name chosen by the next byte
    NullArray,         // cAttributes from the next byte, aAttributes null: E_INVALIDARG
    Several,           // count and kinds from the next bytes
    CountZeroArray,    // cAttributes 0 with an array that must not be read
    AttributeModeCount
};

enum AttributeKind : std::uint8_t {
    KindContents,       // the storage set's contents
    KindStorageOther,   // the storage set, another property
    KindOtherContents,  // another set, the contents' property id
    KindName,           // the storage set, by name
    AttributeKindCount
};

enum Op : std::uint8_t {
    TextLarge,    // GetText, buffer 1 + (next two bytes, little-endian) % 5000
    TextSmall,    // GetText, buffer 1 + parameter
    Drain,        // GetText until the chunk's text is over, buffer 1 + next byte * 20
    Chunk,        // GetChunk
    Value,        // GetValue
    Region,       // BindRegion, region from the next byte
    Reinit,       // Init again, with an Init choice following
    Load,         // Load without Init: parameter bit 0 names the missing file
    TextZero,     // GetText with a zero-sized buffer
    TakeAll,      // chunk after chunk to the end, each drained, buffer 1 + next byte * 20
    OpCount
};

constexpr unsigned MaxBuffer = 5000;

}  // namespace filter_script
