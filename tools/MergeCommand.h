// quorvel-tool merge BASE OURS THEIRS [--output DIR]: the three-way merge
// of two catalogue folders grown from BASE, written into DIR (OURS unless
// given) the way the program saves, under DIR's lock.
#pragma once

#include <string_view>
#include <vector>

namespace qvtool {

// `args` after the command's name. Exit status 0 when nothing conflicted,
// 1 when something did (both versions kept, each conflict named), 2 on an
// error (its message on stderr, nothing written) or bad usage.
int mergeCommand(const std::vector<std::string_view> &args);

} // namespace qvtool
