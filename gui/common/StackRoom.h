// A guard for deep outlines. The outline's own code walks it without
// recursion and the tree view lays out flat rows (TreeModel), so nothing of
// ours goes one call per level; what a toolkit or system call might still
// do over an outline nested thousands of levels deep gets more room than
// the usual 8 MiB.
#pragma once

namespace qv {

// Raises the main thread's stack limit as far as the process allows, up to
// the room the system keeps free below the stack. Call first thing in main().
void widenStack();

} // namespace qv
