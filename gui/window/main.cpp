#include "catalog/Errors.h"
#include "gui/common/MessageBox.h"
#include "gui/common/StackRoom.h"
#include "gui/window/AboutPanel.h"
#include "gui/window/MainWindow.h"
#include "storage/CatalogHome.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdint>
#include <cstdlib>
#include <optional>

#if defined(__linux__)
#include <csignal>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#ifndef QUORVEL_INSTALL_BINDIR
#define QUORVEL_INSTALL_BINDIR ""
#endif

namespace {

// The window while the event loop runs. A window system plugin that loses
// its display ends the process with exit(), past the event loop: the exit
// handler still saves what the window holds.
qv::MainWindow *g_window = nullptr;

void saveAtExit()
{
    if (g_window)
        g_window->saveBeforeQuit();
}

// The catalogue folder, ending with "/": the one named on the command line
// (made absolute; it must be an existing folder), else beside the executable
// or the user's data folder (storage/CatalogHome.h). Nothing when there is
// none to use; the error box has been shown.
// Not in the sanitizer builds, whose checks at the end need the process's
// memory as it is.
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
pid_t g_parent = 0;
alignas(16) char g_keeperStack[16 * 1024];

// The keeper of the address space: it shares the process's memory, holds
// no file, and dies with the process; the system then takes the memory back
// from it rather than from the process, which is gone at once. Only system
// calls here: the keeper runs on the process's thread storage.
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

// At the very end of a run whose catalogue is saved and let go: a large
// catalogue's memory (a million nodes take most of a gigabyte) would keep
// the process in the system's hands for a tenth of a second and more while
// it is freed page by page.
void handOffMemory()
{
    g_parent = getpid();
    clone(keepMemory, g_keeperStack + sizeof g_keeperStack, CLONE_VM, nullptr);
}
#endif

std::optional<std::string> catalogFolder()
{
    const QStringList args = QCoreApplication::arguments();
    try {
        if (args.size() < 2)
            return qv::catalogHome(QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString(),
                                   QUORVEL_INSTALL_BINDIR);
        const QFileInfo dir(args.at(1));
        const std::string path = QFile::encodeName(dir.absoluteFilePath()).toStdString();
        if (!dir.isDir())
            throw qv::Error(qv::W("Нет такой папки: "), path, {});
        return path.back() == '/' ? path : path + "/";
    } catch (const qv::Error &error) {
        qv::msg::showError(nullptr, error);
        return std::nullopt;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    qv::widenStack();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvel"));
    // The installed desktop entry and its icon (a copy run from its own folder has neither).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quorvel.Quorvel"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.quorvel.Quorvel")));

    // The program speaks Russian, and so do the toolkit's own buttons and
    // choosers ("Да", "Нет", the color and font choosers) where Qt's
    // translations are installed.
    QTranslator toolkitTexts;
    if (toolkitTexts.load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&toolkitTexts);

    const std::optional<std::string> folder = catalogFolder();
    if (!folder)
        return 1;
    qv::MainWindow window(*folder);
    if (window.refused())
        return 1;
    window.aboutPanel()->setFolder(QFile::decodeName(QByteArray::fromStdString(*folder)));
    window.watchSessionEnd();
    window.show();
    g_window = &window;
    std::atexit(saveAtExit);
    const int status = app.exec();
    g_window = nullptr;
    // Saved and let go: a large catalogue is not freed piece by piece on
    // the way out.
    if (window.closed()) {
        window.catalog().releaseWithoutFreeing();
#ifdef QV_HAND_OFF_MEMORY
        // After the window and the application are torn down (the clipboard
        // handed over), before the process ends.
        std::atexit(handOffMemory);
#endif
    }
    return status;
}
