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

} // namespace qv::linkconsent
