// Runs a fuzz target's LLVMFuzzerTestOneInput on saved inputs without libFuzzer, so that normal
// builds replay the regressions and the seeds with the target's own checks:
//   <target>_replay [--seeds] PATH...
// --seeds runs the target's seeds from fuzz/seeds.cpp; each PATH is an input file or a folder
// whose files are inputs (all of them, below it too, but for names starting with a dot). A
// missing PATH is an error. A failed check aborts, after the input's name on standard error.
#include "fuzz/seeds.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef CVX_FUZZ_TARGET
#error "CVX_FUZZ_TARGET names the target whose seeds --seeds runs"
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void Run(const std::string& name, const Bytes& input)
{
    std::fprintf(stderr, "replaying %s\n", name.c_str());
    LLVMFuzzerTestOneInput(input.data(), input.size());
}

}  // namespace

int main(int argc, char** argv)
{
    std::size_t count = 0;
    for (int index = 1; index < argc; ++index) {
        if (std::strcmp(argv[index], "--seeds") == 0) {
            for (const Seed& seed : SeedsFor(CVX_FUZZ_TARGET)) {
                Run("seed " + seed.Name, seed.Data);
                ++count;
            }
            continue;
        }
        const std::filesystem::path path = argv[index];
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
                if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                    files.push_back(entry.path());
            std::sort(files.begin(), files.end());
        } else if (std::filesystem::is_regular_file(path)) {
            files.push_back(path);
        } else {
            std::fprintf(stderr, "%s: no such file or folder: %s\n", argv[0], argv[index]);
            return 1;
        }
        for (const std::filesystem::path& file : files) {
            std::ifstream in(file, std::ios::binary);
            const Bytes input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (!in.eof() && in.fail()) {
                std::fprintf(stderr, "%s: cannot read %s\n", argv[0], file.c_str());
                return 1;
            }
            Run(file.string(), input);
            ++count;
        }
    }
    std::printf("%s: %zu inputs replayed, every check held\n", CVX_FUZZ_TARGET, count);
    return count > 0 ? 0 : 1;
}
