// The conflict copies sync engines leave beside the catalogue files when
// two machines changed a file apart:
//   Syncthing  data.sync-conflict-YYYYMMDD-HHMMSS-DEVICE.dat (DEVICE: 7 of A-Z, 2-7)
//   Nextcloud  data (conflicted copy YYYY-MM-DD HHMMSS).dat
//   Dropbox    data (<who>'s conflicted copy YYYY-MM-DD).dat, ... YYYY-MM-DD (N)).dat
// and the same for text.dat and Quorvel.ini. Only regular files directly in
// the catalogue folder count; a link is never followed out of it. The
// copies merged (or, for Quorvel.ini, resolved) are moved out of the folder
// into the machine's state folder, "conflicts/<key>/" (the key of
// storage/MergeBase.h), where they are kept 30 days. Used by CatalogSession.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::conflicts {

enum class Engine { Syncthing, Nextcloud, Dropbox };
enum class Which { Data, Text, Settings };

struct Copy {
    std::string name; // in the folder
    Which which = Which::Data;
    Engine engine = Engine::Syncthing;
    // "YYYYMMDDHHMMSS" (Dropbox's copies carry no time: "000000").
    std::string stamp;
    // What tells two copies of one moment apart: Syncthing's device, the
    // Dropbox owner with the copy's number; "" for Nextcloud.
    std::string device;
};

// The copy a file name stands for, if it is one.
std::optional<Copy> recognise(std::string_view name);

// A version of the pair to merge: a data.dat copy with the text.dat copy of
// the same engine, stamp and device; a copy without such a partner pairs
// with the folder's current other file ("data.dat" or "text.dat").
struct CopyPair {
    std::string data;
    std::string text;
    std::string stamp;
    Engine engine = Engine::Syncthing;
    std::string device;
    // The copies among the two names (one or both).
    std::vector<std::string> copies;
};

// The pairs of copies in the folder (`folder` ends with a separator), the
// oldest stamp first, then by name.
std::vector<CopyPair> find(const std::string &folder);

// The copies of Quorvel.ini in the folder, by name.
std::vector<Copy> settingsCopies(const std::string &folder);

struct SetAside {
    // Where they went ("" when no state folder is known: nothing moved).
    std::string where;
    // The names each copy now has there, in the order given.
    std::vector<std::string> names;
};

// Moves the copies `names` out of the folder (`folder` ends with a
// separator) into "<state>/conflicts/<key>/", the key that of the folder's
// real path: a rename, or across file systems a durable
// copy and then the removal. A name already there gets "-N". Each moved
// file's time becomes the time it was set aside; entries there older than
// 30 days are removed. Raises the first failure (EInOutError, EFCreateError);
// the copies before it are moved.
SetAside setAside(const std::string &folder, const std::vector<std::string> &names);

} // namespace qv::conflicts
