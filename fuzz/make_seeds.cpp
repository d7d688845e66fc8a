// Writes the fuzz targets' seed inputs, one folder per target: make_seeds FOLDER [TARGET...]
// Each target's folder is emptied first, so that it holds exactly the current seeds.
#include "fuzz/seeds.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER [TARGET...]\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    std::vector<std::string> targets(argv + 2, argv + argc);
    if (targets.empty())
        targets = SeedTargets();
    for (const std::string& target : targets) {
        const std::vector<Seed> seeds = SeedsFor(target);
        if (seeds.empty()) {
            std::fprintf(stderr, "make_seeds: no seeds for target %s\n", target.c_str());
            return 2;
        }
        const std::filesystem::path folder = root / target;
        std::error_code error;
        std::filesystem::remove_all(folder, error);
        std::filesystem::create_directories(folder, error);
        if (error) {
            std::fprintf(stderr, "make_seeds: cannot make %s: %s\n", folder.c_str(),
                         error.message().c_str());
            return 1;
        }
        for (const Seed& seed : seeds) {
            std::ofstream out(folder / seed.Name, std::ios::binary);
            out.write(reinterpret_cast<const char*>(seed.Data.data()),
                      static_cast<std::streamsize>(seed.Data.size()));
            if (!out) {
                std::fprintf(stderr, "make_seeds: cannot write %s\n", (folder / seed.Name).c_str());
                return 1;
            }
        }
    }
    return 0;
}
