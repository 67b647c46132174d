// Writes a generated catalogue (data.dat, text.dat) into a folder, for
// screenshots and trying the program by hand:
//   make_catalog DIR [--nodes N] [--seed S] [--levels L]
#include "generator/Generator.h"
#include "support/BenchSupport.h"

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
    qv::bench::Args args(argc, argv, "usage: make_catalog DIR [--nodes N] [--seed S] [--levels L]", 2);
    while (args.next())
        if (!args.option("--nodes", options.nodes) && !args.option("--seed", options.seed)
            && !args.option("--levels", options.levels))
            args.usage();
    const size_t bytes = qv::gen::writeCatalogFiles(std::string(argv[1]) + "/", qv::gen::generate(options));
    std::printf("%zu nodes, %zu bytes in %s\n", options.nodes, bytes, argv[1]);
    return 0;
}
