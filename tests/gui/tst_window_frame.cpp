// The window's placement under a real window manager, which frames the
// window only once it is on screen: the stored outer rectangle comes back
// unchanged. Starts its own X server and window manager; skipped when they
// are not installed.
#include "support/Fixture.h"

#include "settings/SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

using namespace qvtest;

namespace {

constexpr int kSkipped = 77;

QRect storedFrame(const WindowFixture &f)
{
    qv::SettingsFile s;
    s.open(f.base() + "Quorvel.ini");
    return QRect(s.readNumber("Window", "Left", -1), s.readNumber("Window", "Top", -1),
                 s.readNumber("Window", "Width", -1), s.readNumber("Window", "Height", -1));
}

QByteArray placement(const QRect &frame)
{
    return QStringLiteral("[Window]\r\nWindowState=0\r\nTop=%1\r\nLeft=%2\r\nHeight=%3\r\nWidth=%4\r\n")
        .arg(frame.top())
        .arg(frame.left())
        .arg(frame.height())
        .arg(frame.width())
        .toLatin1();
}

// The outer rectangle with the frame the window manager reports.
QRect frameOf(const QWidget *w) { return w->windowHandle()->frameGeometry(); }

// Waits until the window manager has told the window its frame and the
// window has done placing itself (its frame keeper has gone). Both are
// events; the bound only ends a test that would hang.
bool framed(QWidget *w)
{
    return QTest::qWaitFor(
        [w] {
            return !w->windowHandle()->frameMargins().isNull()
                && !w->findChild<QObject *>(QStringLiteral("frameKeeper"));
        },
        20000);
}

} // namespace

class WindowFrame : public QObject {
    Q_OBJECT
private slots:
    void startAndCloseKeepTheStoredFrame_data();
    void startAndCloseKeepTheStoredFrame();
    void offScreenFrameComesBackWithItsSize();
};

void WindowFrame::startAndCloseKeepTheStoredFrame_data()
{
    QTest::addColumn<QRect>("frame");
    QTest::newRow("middle") << QRect(150, 100, 600, 400);
    QTest::newRow("top left") << QRect(0, 0, 700, 500);
    QTest::newRow("at the minimum") << QRect(300, 200, 487, 310);
}

void WindowFrame::startAndCloseKeepTheStoredFrame()
{
    QFETCH(QRect, frame);
    WindowFixture f;
    f.writeFile("Quorvel.ini", placement(frame));
    // Two runs: each writes back what it read.
    for (int run = 0; run < 2; ++run) {
        qv::MainWindow *w = f.open();
        QVERIFY(framed(w));
        // The frame may come later on a busy machine: wait for it, not a while.
        QTRY_COMPARE_WITH_TIMEOUT(frameOf(w), frame, 10000);
        QVERIFY(f.close());
        QCOMPARE(storedFrame(f), frame);
        f.discard();
    }
}

void WindowFrame::offScreenFrameComesBackWithItsSize()
{
    WindowFixture f;
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    f.writeFile("Quorvel.ini", placement(QRect(screen.right() + 500, 100, 600, 400)));
    qv::MainWindow *w = f.open();
    QVERIFY(framed(w));
    QTRY_COMPARE_WITH_TIMEOUT(frameOf(w).size(), QSize(600, 400), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(screen.contains(frameOf(w)), 10000);
    const QRect frame = frameOf(w);
    QVERIFY2(screen.contains(frame), qPrintable(QStringLiteral("%1,%2").arg(frame.left()).arg(frame.top())));
    QVERIFY(f.close());
    QCOMPARE(storedFrame(f), frame);
}

int main(int argc, char *argv[])
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    if (xvfb.isEmpty() || openbox.isEmpty()) {
        fprintf(stderr, "SKIP: Xvfb or openbox is not installed\n");
        return kSkipped;
    }
    // The server takes a display nobody uses and writes its number once it
    // takes connections.
    QProcess server;
    server.start(xvfb,
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp")});
    QByteArray display;
    while (!display.contains('\n') && server.waitForReadyRead(20000))
        display += server.readAllStandardOutput();
    if (!display.contains('\n')) {
        fprintf(stderr, "SKIP: Xvfb did not start\n");
        return kSkipped;
    }
    qputenv("DISPLAY", ":" + display.trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
    // openbox runs the start-up command once it manages the screen.
    QTemporaryDir scratch;
    const QString ready = scratch.filePath(QStringLiteral("ready"));
    QProcess manager;
    manager.start(openbox, {QStringLiteral("--startup"), QStringLiteral("touch ") + ready});
    for (int i = 0; i < 400 && !QFile::exists(ready); ++i) {
        if (manager.waitForFinished(50))
            break; // it gave up
    }
    int status = kSkipped;
    if (QFile::exists(ready)) {
        QApplication app(argc, argv);
        WindowFrame test;
        status = QTest::qExec(&test, argc, argv);
    } else {
        fprintf(stderr, "SKIP: openbox did not start\n");
    }
    manager.terminate();
    manager.waitForFinished(3000);
    server.terminate();
    server.waitForFinished(3000);
    return status;
}

#include "tst_window_frame.moc"
