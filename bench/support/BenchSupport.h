// What every benchmark needs beside its own measurements: the median of its
// timings, a scratch folder and its command line.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <type_traits>
#include <vector>

#include <stdlib.h>

namespace qv::bench {

// The middle of the figures once sorted (the upper of the two middle ones
// for an even count); 0 for none.
inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// A new folder under $TMPDIR (else /tmp), removed with all it holds when the
// object goes. Its path ends with '/'. Ends the program when none can be made.
class TempDir {
public:
    TempDir()
    {
        const char *base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/qv-bench-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        path_ = pattern + "/";
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// The command line, read one argument at a time: "--name value" options
// (a number is decimal and whole) and "--name" flags. An unknown argument,
// a missing value or a bad number prints the usage and exits with 2:
//
//   bench::Args args(argc, argv, "usage: bench_x [--nodes N] [--bare]");
//   while (args.next())
//       if (!args.option("--nodes", nodes) && !args.flag("--bare", bare))
//           args.usage();
class Args {
public:
    Args(int argc, char **argv, const char *usage, int first = 1)
        : argc_(argc), argv_(argv), usage_(usage), i_(first - 1)
    {}

    // Moves to the next argument; false past the last.
    bool next() { return ++i_ < argc_; }

    bool flag(const char *name, bool &value)
    {
        if (std::strcmp(argv_[i_], name) != 0)
            return false;
        value = true;
        return true;
    }

    bool option(const char *name, std::string &value)
    {
        if (std::strcmp(argv_[i_], name) != 0)
            return false;
        value = take();
        return true;
    }

    template <class T>
    requires std::is_integral_v<T>
    bool option(const char *name, T &value)
    {
        if (std::strcmp(argv_[i_], name) != 0)
            return false;
        value = number<T>(take());
        return true;
    }

    // A number that may follow a flag ("--deep [N]"): taken when the next
    // argument does not start with '-'.
    template <class T>
    requires std::is_integral_v<T>
    bool optionalNumber(T &value)
    {
        if (i_ + 1 >= argc_ || argv_[i_ + 1][0] == '-')
            return false;
        value = number<T>(argv_[++i_]);
        return true;
    }

    [[noreturn]] void usage() const
    {
        std::fprintf(stderr, "%s\n", usage_);
        std::exit(2);
    }

private:
    const char *take()
    {
        if (i_ + 1 >= argc_)
            usage();
        return argv_[++i_];
    }

    template <class T>
    T number(const char *text) const
    {
        char *end = nullptr;
        const unsigned long long v = std::strtoull(text, &end, 10);
        if (!end || *end || end == text || text[0] == '-')
            usage();
        return static_cast<T>(v);
    }

    int argc_;
    char **argv_;
    const char *usage_;
    int i_;
};

} // namespace qv::bench
