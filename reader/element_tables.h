// The two tables of the text element format, indexed by an element's code byte.
#pragma once

#include "platform/platform.h"

// Length of the element in bytes; every length is at least 1.
extern const BYTE ElementLengthTable[256];

// The UTF-16 code unit a printable code stands for.
extern const WCHAR CharacterMap[256];
