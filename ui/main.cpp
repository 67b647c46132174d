#include "storage/CatalogFiles.h"
#include "ui/MainWindow.h"
#include "ui/StackRoom.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    qv::widenStack();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvel"));

    MainWindow window(qv::baseDirectoryOf(QCoreApplication::applicationFilePath().toStdString()));
    window.show();
    return app.exec();
}
