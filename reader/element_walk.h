// The story decoder's element walk without its plain-run fast path.
#pragma once

#include "reader/story_text.h"

// DecodeStoryText taking one element at a time, plain codes too: the same results by the
// element rules alone. Kept callable so that tests and benchmarks can hold the fast path
// against it.
void DecodeStoryTextByElement(const TextStoryBody* story, WCHAR* output, DWORD* count);
