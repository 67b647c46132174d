// The links to outside a catalogue folder the user agreed to have written
// through, remembered on this machine (never in the folder, which may have
// come from someone else): "$XDG_STATE_HOME/quorvel/outside-links" (by
// default ~/.local/state/quorvel/), pairs of the folder's real path and a
// link's real target. Used by CatalogSession.
#pragma once

#include <string>
#include <vector>

namespace qv::linkconsent {

// The state folder with a trailing separator; "" when no home is known.
std::string stateFolder();

// The targets agreed to for the folder whose real path is `folder`. An
// unreadable or missing record is no agreement.
std::vector<std::string> agreedTargets(const std::string &folder);

// Adds `targets` to those agreed for `folder`, creating the state folder
// (0700) when missing. Raises the write's errors.
void agree(const std::string &folder, const std::vector<std::string> &targets);

// The journals this machine began in a folder that had no catalogue files
// yet ("own-journals" in the state folder): a journal there is offered back
// only when it is one of these, so a folder received with a journal and no
// catalogue never installs that journal's catalogue. `journal` names one
// journal file by its device and inode.
bool isOwnJournal(const std::string &folder, const std::string &journal);
// Records `journal` as the one this machine began in `folder` (its real
// path), forgetting folders that are gone. Best effort: a failure leaves
// the journal kept aside at the next start, never lost.
void recordOwnJournal(const std::string &folder, const std::string &journal) noexcept;

} // namespace qv::linkconsent
