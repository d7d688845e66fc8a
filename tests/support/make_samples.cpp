// Writes the sample documents into a folder: make_samples SAMPLES-FOLDER
#include "tests/support/samples.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_samples FOLDER\n");
        return 2;
    }
    for (const SampleDocument& sample : SampleDocuments()) {
        std::string path = std::string(argv[1]) + "/" + sample.Name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(sample.Contents.data()),
                  static_cast<std::streamsize>(sample.Contents.size()));
        if (!out) {
            std::fprintf(stderr, "make_samples: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
