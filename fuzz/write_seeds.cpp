// Writes the corpus of crafted files into a folder as seeds for the fuzzer, each cut to its first
// bytes: the headers are what an open parses, and short inputs keep the fuzzer fast.
// Usage: write_seeds <folder> [bytes per file, default 8192]

#include "support/Corpus.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <folder> [bytes]\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    const long limit = argc > 2 ? std::atol(argv[2]) : 8192;
    char work[] = "/tmp/vb-seeds-XXXXXX";
    if (!::mkdtemp(work))
        return 1;
    int written = 0;
    for (const auto &file : makeCorpus(work)) {
        std::ifstream in(std::string(work) + "/" + file.name, std::ios::binary);
        std::vector<char> bytes(size_t(limit > 0 ? limit : 0));
        in.read(bytes.data(), std::streamsize(bytes.size()));
        bytes.resize(size_t(in.gcount()));
        if (bytes.empty())
            continue; // empty files never reach a decoder
        std::ofstream(out + "/" + file.name, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        ++written;
    }
    std::filesystem::remove_all(work);
    std::printf("%d seeds in %s\n", written, out.c_str());
    return 0;
}
