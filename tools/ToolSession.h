// The tool's way of opening, loading and saving a catalogue folder through
// the program's own session, with every message on stderr in UTF-8. Shared
// by the tool's commands.
#pragma once

#include "storage/CatalogSession.h"

#include <exception>
#include <string>

namespace qv {
class Catalog;
class Error;
} // namespace qv

namespace qvtool {

using Session = qv::CatalogSession;

// --force: a catalogue read in part is used as it was read.
extern bool g_force;

// `dir` with one trailing '/', "./" for an empty one.
std::string withSeparator(std::string dir);
bool isDirectory(const std::string &path);

// The message of a core error as the program's error box shows it (a file
// name in it keeps the system's bytes), or any other failure's.
void reportError(const qv::Error &e);
void reportFailure(const std::exception_ptr &failure);

// Opens the session's folder. False (with the message on stderr) when
// another copy holds a folder to be written, or the repair fails.
bool openFolder(Session &session);
// A new catalogue folder, created and locked before anything is written.
bool createFolder(Session &session, const std::string &dir);

enum class Load { Failed, InPart, Whole };

// Loads `dir` through `session` into `catalog`, with the messages on
// stderr. A read in part is InPart unless --force takes it as it is.
Load loadCatalogAs(const std::string &dir, Session &session, qv::Catalog &catalog);
// loadCatalogAs() for a command that uses the catalogue: false on failure
// and, without --force, on a read in part (told on stderr).
bool loadCatalog(const std::string &dir, Session &session, qv::Catalog &catalog);

// Saves `catalog` through `session`, keeping files another program wrote
// meanwhile as the unattended program does; false (with the message on
// stderr) on failure. The dated copies made are named on stderr.
bool saveCatalog(Session &session, qv::Catalog &catalog);

} // namespace qvtool
