#include "gui/window/TerminationSignals.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX

#include <QByteArray>
#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qv {

namespace {

constexpr int kCaught[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kCount = int(sizeof kCaught / sizeof kCaught[0]);

// The pair's write end as the handler sees it (-1: no object), the read
// end and the handlers that were in place before.
volatile sig_atomic_t g_writeEnd = -1;
int g_readEnd = -1;
struct sigaction g_previous[kCount];

// Only async-signal-safe calls here. The write end does not block: with the
// pair's buffer full, enough bytes are already waiting.
void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    const int fd = g_writeEnd;
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

bool prepare(int fd)
{
    const int fdFlags = ::fcntl(fd, F_GETFD);
    const int flFlags = ::fcntl(fd, F_GETFL);
    return fdFlags >= 0 && flFlags >= 0 && ::fcntl(fd, F_SETFD, fdFlags | FD_CLOEXEC) == 0
        && ::fcntl(fd, F_SETFL, flFlags | O_NONBLOCK) == 0;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    if (g_writeEnd >= 0) {
        qWarning("TerminationSignals: another object already catches the signals");
        return;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        qWarning("TerminationSignals: no socket pair (errno %d); signals end the program at once", errno);
        return;
    }
    if (!prepare(fds[0]) || !prepare(fds[1])) {
        ::close(fds[0]);
        ::close(fds[1]);
        qWarning("TerminationSignals: the socket pair cannot be set up; signals end the program at once");
        return;
    }
    g_readEnd = fds[1];
    g_writeEnd = fds[0];
    notifier_ = new QSocketNotifier(g_readEnd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::readPending);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Calls the program is in when a signal comes go on rather than fail.
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < kCount; ++i)
        ::sigaction(kCaught[i], &action, &g_previous[i]);
}

TerminationSignals::~TerminationSignals()
{
    if (!notifier_)
        return;
    for (int i = 0; i < kCount; ++i)
        ::sigaction(kCaught[i], &g_previous[i], nullptr);
    const int writeEnd = g_writeEnd;
    g_writeEnd = -1;
    delete notifier_;
    ::close(writeEnd);
    ::close(g_readEnd);
    g_readEnd = -1;
}

void TerminationSignals::readPending()
{
    QByteArray caught;
    char bytes[16];
    for (;;) {
        const ssize_t n = ::read(g_readEnd, bytes, sizeof bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        caught.append(bytes, n);
    }
    // A receiver may end the program, and this object with it.
    const QPointer<TerminationSignals> alive(this);
    for (const char byte : std::as_const(caught)) {
        if (!alive)
            return;
        emit received(int(static_cast<unsigned char>(byte)));
    }
}

} // namespace qv

#else

namespace qv {

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent) {}
TerminationSignals::~TerminationSignals() = default;
void TerminationSignals::readPending() {}

} // namespace qv

#endif
