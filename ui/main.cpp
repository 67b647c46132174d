#include "storage/CatalogFiles.h"
#include "ui/MainWindow.h"
#include "ui/StackRoom.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdlib>

namespace {

// The window while the event loop runs. A window system plugin that loses
// its display ends the process with exit(), past the event loop: the exit
// handler still saves what the window holds.
MainWindow *g_window = nullptr;

void saveAtExit()
{
    if (g_window)
        g_window->saveBeforeQuit();
}

} // namespace

int main(int argc, char *argv[])
{
    qv::widenStack();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvel"));

    // The program speaks Russian, and so do the toolkit's own buttons and
    // choosers ("Да", "Нет", the colour and font choosers) where Qt's
    // translations are installed.
    QTranslator toolkitTexts;
    if (toolkitTexts.load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&toolkitTexts);

    MainWindow window(qv::baseDirectoryOf(QCoreApplication::applicationFilePath().toStdString()));
    if (window.refused())
        return 1;
    window.watchSessionEnd();
    window.show();
    g_window = &window;
    std::atexit(saveAtExit);
    const int status = app.exec();
    g_window = nullptr;
    return status;
}
