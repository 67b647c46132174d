#include "storage/CatalogFiles.h"
#include "ui/MainWindow.h"
#include "ui/StackRoom.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

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
    window.show();
    return app.exec();
}
