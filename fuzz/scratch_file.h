// The one file a fuzz target writes its input to, since the reader opens documents by name:
// private to the process and removed at exit.
#pragma once

#include "platform/platform.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// Writes the bytes to the scratch file and returns its name as UTF-16.
inline WideString WriteScratchFile(const BYTE* data, size_t size)
{
    struct Scratch {
        std::string Path = "/tmp/cvx-fuzz-" + std::to_string(getpid()) + ".zcv";
        ~Scratch() { std::remove(Path.c_str()); }
    };
    static const Scratch scratch;
    FILE* file = std::fopen(scratch.Path.c_str(), "wb");
    if (file == nullptr)
        std::abort();
    if (size > 0)
        std::fwrite(data, 1, size, file);
    std::fclose(file);
    return WideString(scratch.Path.begin(), scratch.Path.end());
}
