#include "gui/window/MemoryKeeper.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QV_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QV_SANITIZED 1
#endif
#endif
#if defined(__linux__) && !defined(QV_SANITIZED)
#define QV_HAND_OFF_MEMORY 1
#endif

#ifdef QV_HAND_OFF_MEMORY
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace qv {

#ifdef QV_HAND_OFF_MEMORY
namespace {

pid_t g_parent = 0;
alignas(16) char g_keeperStack[16 * 1024];

// The keeper of the address space. Only system calls here: the keeper runs
// on the process's thread storage.
int keepMemory(void *)
{
    // No handler of the process may run here: every signal but the one it
    // dies by is held back.
    const uint64_t allSignals = ~uint64_t(0);
    syscall(SYS_rt_sigprocmask, SIG_BLOCK, &allSignals, nullptr, sizeof allSignals);
    syscall(SYS_close_range, 0u, ~0u, 0u);
    syscall(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (syscall(SYS_getppid) != g_parent)
        syscall(SYS_exit, 0);
    for (;;)
        syscall(SYS_pause);
}

void handOffMemory()
{
    g_parent = getpid();
    clone(keepMemory, g_keeperStack + sizeof g_keeperStack, CLONE_VM, nullptr);
}

} // namespace

void handOffMemoryAtExit() { std::atexit(handOffMemory); }
#else
void handOffMemoryAtExit() {}
#endif

} // namespace qv
