// What the fuzz targets share: a failed property aborts with a message
// (libFuzzer keeps the input), and a scratch directory for the targets that
// work on files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvfuzz {

inline void require(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "property failed: %s\n", what);
        std::abort();
    }
}

inline std::string_view view(const uint8_t *data, size_t size)
{
    return {reinterpret_cast<const char *>(data), size};
}

// Removes everything inside `dir` (which ends with '/'), subdirectories included.
inline void emptyDir(const std::string &dir)
{
    if (DIR *d = ::opendir(dir.c_str())) {
        while (dirent *e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..")
                continue;
            const std::string path = dir + name;
            if (::unlink(path.c_str()) != 0) {
                emptyDir(path + "/");
                ::rmdir(path.c_str());
            }
        }
        ::closedir(d);
    }
}

// A directory of this run, with a trailing '/'; emptied and removed at exit.
// On memory (/dev/shm) when there is one: the saves fsync every file.
inline std::string scratchDir()
{
    static const std::string dir = [] {
        std::string base = "/tmp";
        struct stat st {};
        if (const char *t = std::getenv("TMPDIR"); t && *t)
            base = t;
        else if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0)
            base = "/dev/shm";
        std::string pattern = base + "/quorvel-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        return pattern + "/";
    }();
    static const bool cleanup = [] {
        std::atexit([] {
            emptyDir(dir);
            ::rmdir(dir.c_str());
        });
        return true;
    }();
    (void)cleanup;
    return dir;
}

// A subdirectory of the scratch directory, made on first use.
inline std::string scratchSubdir(const std::string &name)
{
    const std::string dir = scratchDir() + name + "/";
    ::mkdir(dir.c_str(), 0700);
    return dir;
}

inline void writeBytes(const std::string &path, std::string_view bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    require(fd >= 0, "scratch file opens");
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        require(n > 0, "scratch file takes the bytes");
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

inline std::string readBytes(const std::string &path)
{
    std::string out;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return out;
    char buf[65536];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return out;
}

} // namespace qvfuzz
