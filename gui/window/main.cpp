#include "catalog/Errors.h"
#include "gui/common/MessageBox.h"
#include "gui/common/StackRoom.h"
#include "gui/window/AboutPanel.h"
#include "gui/window/MainWindow.h"
#include "gui/window/MemoryKeeper.h"
#include "storage/CatalogHome.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#ifndef QUORVEL_INSTALL_BINDIR
#define QUORVEL_INSTALL_BINDIR ""
#endif
#ifndef QUORVEL_VERSION
#define QUORVEL_VERSION ""
#endif

namespace {

const char kUsage[] = "Использование: quorvel [ПАПКА]\n"
                      "Каталог ссылок и заметок: дерево узлов, у каждого узла заметка.\n"
                      "\n"
                      "  ПАПКА       папка каталога (файлы data.dat и text.dat; в пустой папке\n"
                      "              начинается новый каталог). Без неё — папка рядом с\n"
                      "              программой, если каталог там, иначе папка данных пользователя.\n"
                      "  --help      показать эту справку и выйти\n"
                      "  --version   показать версию и выйти\n"
                      "\n"
                      "Каталог из файла другой программы (.ctd, .ctb), из Markdown или текста\n"
                      "переносит команда quorvel-tool import (подробнее: quorvel-tool import --help).\n";

// The help and the version, asked before any window: the exit status, or
// -1 when the program is to start.
int answerCommandLine(int argc, char *argv[])
{
    if (argc < 2)
        return -1;
    const std::string_view arg = argv[1];
    if (arg == "--help" || arg == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (arg == "--version") {
        std::printf("Quorvel %s\n", QUORVEL_VERSION);
        return 0;
    }
    return -1;
}

// The folder argument, once the toolkit took its own options: null with
// the reason on stderr when the line is not one the program takes.
std::optional<QStringList> folderArguments()
{
    QStringList args = QCoreApplication::arguments().mid(1);
    const bool marked = !args.isEmpty() && args.first() == QLatin1String("--");
    if (marked)
        args.removeFirst();
    if (!marked && !args.isEmpty() && args.first().size() > 1 && args.first().startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr, "quorvel: неизвестный параметр %s\nСправка: quorvel --help\n",
                     args.first().toLocal8Bit().constData());
        return std::nullopt;
    }
    if (args.size() > 1) {
        std::fprintf(stderr, "quorvel: программе нужна одна папка каталога\nСправка: quorvel --help\n");
        return std::nullopt;
    }
    return args;
}

// The box for a file named where a folder is expected; a file of the
// outline program the tool imports names the command that does it.
QString notAFolderText(const QFileInfo &file)
{
    const QString path = QDir::toNativeSeparators(file.absoluteFilePath());
    QString text = QStringLiteral(u"%1 — это файл, а не папка каталога.").arg(path);
    const QString suffix = file.suffix().toLower();
    if (suffix == QLatin1String("ctd") || suffix == QLatin1String("ctb"))
        text += QStringLiteral(u"\n\nЧтобы перенести его в каталог, выполните:\n"
                               u"quorvel-tool import \"%1\" ПАПКА --format cherrytree\n"
                               u"и откройте ПАПКУ в программе.")
                    .arg(path);
    return text;
}

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
    const std::optional<QStringList> given = folderArguments();
    if (!given)
        return std::nullopt;
    const QStringList &args = *given;
    try {
        if (args.isEmpty())
            return qv::catalogHome(QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString(),
                                   QUORVEL_INSTALL_BINDIR);
        const QFileInfo dir(args.first());
        const std::string path = QFile::encodeName(dir.absoluteFilePath()).toStdString();
        if (dir.exists() && !dir.isDir()) {
            qv::msg::show(nullptr, QMessageBox::Critical, QStringLiteral("Quorvel"), notAFolderText(dir),
                          QMessageBox::Ok);
            return std::nullopt;
        }
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
    const int answered = answerCommandLine(argc, argv);
    if (answered >= 0)
        return answered;
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
