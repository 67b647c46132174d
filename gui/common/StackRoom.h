// Qt's tree view lays out expanded branches recursively, one call per
// level, so an outline nested thousands of levels deep needs more stack
// than the usual 8 MiB.
#pragma once

namespace qv {

// Raises the main thread's stack limit as far as the process allows, up to
// the room the system keeps free below the stack. Call first thing in main().
void widenStack();

} // namespace qv
