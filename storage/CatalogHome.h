// Which folder holds the catalogue: beside the executable for a copy of its
// own (portable), or the user's data folder for an installed program.
#pragma once

#include <optional>
#include <string>

namespace qv {

// What the choice depends on, gathered by catalogHomeFacts() or written by a test.
struct CatalogHomeFacts {
    std::string exeDir;                     // the executable's folder, ending with "/"
    std::string installBindir;              // the configured install bin folder (empty: none)
    bool exeDirWritable = true;             // as the running user can write it
    bool hasCatalogFile = false;            // exeDir holds data.dat, text.dat or Quorvel.ini
    bool root = false;                      // effective uid 0
    std::optional<std::string> xdgDataHome; // $XDG_DATA_HOME, unset: nullopt
    std::string home;                       // $HOME (or the password entry's home)
};

// The folder to use, ending with "/". The executable's folder unless the
// program is installed there: the folder is the install bin folder or is not
// writable, and holds no catalogue file. As root a system bin folder
// (/bin, /sbin, /usr/bin, /usr/sbin, /usr/local/bin, /usr/local/sbin) or the
// install bin folder is never used. The installed program's folder is
// $XDG_DATA_HOME/quorvel/ ($XDG_DATA_HOME unset, empty or relative:
// $HOME/.local/share).
std::string chooseCatalogHome(const CatalogHomeFacts &facts);

// The facts for the running process and the executable at `executablePath`;
// `installBindir` is the configured one.
CatalogHomeFacts catalogHomeFacts(const std::string &executablePath, const std::string &installBindir);

// chooseCatalogHome() of the facts, created when it is the user's data
// folder and missing (parents as needed, the last one mode 0700). Throws
// EFCreateError naming the folder it cannot create.
std::string catalogHome(const std::string &executablePath, const std::string &installBindir);

} // namespace qv
