// The end of a run without waiting for the catalogue's memory to be freed.
#pragma once

namespace qv {

// Call once the catalogue is saved, its lock let go and its memory let go
// without freeing (Catalog::releaseWithoutFreeing). When the process ends,
// after the window and the application are torn down (the clipboard handed
// over), its address space goes to a keeper process that shares it, holds
// no file and dies with the process; the system then takes the memory back
// from the keeper, and the process is gone at once instead of staying in the
// system's hands for a tenth of a second and more while a large catalogue
// (a million nodes take most of a gigabyte) is freed page by page.
// Linux only, and not in the sanitizer builds, whose checks at the end need
// the process's memory as it is; elsewhere nothing is done.
void handOffMemoryAtExit();

} // namespace qv
