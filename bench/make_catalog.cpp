// Writes a generated catalogue (data.dat, text.dat) into a folder, for
// screenshots and trying the program by hand:
//   make_catalog DIR [--nodes N] [--seed S] [--levels L]
#include "generator/Generator.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_catalog DIR [--nodes N] [--seed S] [--levels L]\n");
        return 2;
    }
    qv::gen::Options options;
    options.nodes = 50;
    options.levels = 4;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        const unsigned long long value = std::strtoull(argv[i + 1], nullptr, 10);
        if (opt == "--nodes")
            options.nodes = value;
        else if (opt == "--seed")
            options.seed = value;
        else if (opt == "--levels")
            options.levels = value;
        else {
            std::fprintf(stderr, "make_catalog: unknown option %s\n", opt.c_str());
            return 2;
        }
    }
    const size_t bytes = qv::gen::writeCatalogFiles(std::string(argv[1]) + "/", qv::gen::generate(options));
    std::printf("%zu nodes, %zu bytes in %s\n", options.nodes, bytes, argv[1]);
    return 0;
}
