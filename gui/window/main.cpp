#include "catalog/Errors.h"
#include "gui/common/MessageBox.h"
#include "gui/common/StackRoom.h"
#include "gui/window/AboutPanel.h"
#include "gui/window/MainWindow.h"
#include "gui/window/MemoryKeeper.h"
#include "storage/CatalogHome.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdlib>
#include <optional>

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
        qv::handOffMemoryAtExit();
    }
    return status;
}
