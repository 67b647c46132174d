// The window at twice the scale, at its minimum size: every control drawn
// whole inside its parent, both toolbars' buttons whole and apart, message
// boxes as wide as their titles.
#include "support/Fixture.h"

#include "gui/common/MessageBox.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreePane.h"
#include "gui/window/AboutPanel.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QFontDatabase>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QToolTip>

using namespace qvtest;

namespace {

QString describe(const QWidget *widget)
{
    QString path;
    for (const QWidget *w = widget; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        const QString name
            = w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName();
        path = path.isEmpty() ? name : name + '/' + path;
    }
    return path;
}

// Visible widgets below `parent` that stick out of it. A parent with no area
// shows nothing (a closed panel), and what a scroll area scrolls may be
// larger than its viewport.
void collectOutside(const QWidget *parent, QStringList &outside)
{
    if (parent->rect().isEmpty())
        return;
    const auto *scrollArea = qobject_cast<const QAbstractScrollArea *>(parent->parentWidget());
    if (scrollArea && scrollArea->viewport() == parent)
        return;
    for (const QObject *child : parent->children()) {
        const auto *widget = qobject_cast<const QWidget *>(child);
        if (!widget || widget->isWindow() || !widget->isVisible())
            continue;
        if (!parent->rect().contains(widget->geometry()))
            outside << QStringLiteral("%1 at %2,%3 %4x%5 in %6x%7")
                           .arg(describe(widget))
                           .arg(widget->x())
                           .arg(widget->y())
                           .arg(widget->width())
                           .arg(widget->height())
                           .arg(parent->width())
                           .arg(parent->height());
        collectOutside(widget, outside);
    }
}

// Whether every pixel of the widget is inside each of its ancestors up to the window.
bool wholeOnScreen(const QWidget *widget)
{
    if (!widget->isVisible() || widget->rect().isEmpty())
        return false;
    QRect area = widget->rect();
    for (const QWidget *w = widget; !w->isWindow(); w = w->parentWidget()) {
        area.translate(w->pos());
        if (!w->parentWidget()->rect().contains(area))
            return false;
    }
    return true;
}

} // namespace

class WindowLayout : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void nothingOutsideItsParentAtTheMinimumSize_data();
    void nothingOutsideItsParentAtTheMinimumSize();
    void toolbarButtonsWholeAndApart_data();
    void toolbarButtonsWholeAndApart();
    void messageBoxIsAsWideAsItsTitle();
    void longCaptionCutShortWithItsWholeHint();
};

void WindowLayout::initTestCase()
{
    QCOMPARE(qgetenv("QT_SCALE_FACTOR"), QByteArray("2"));
    QCOMPARE(qApp->devicePixelRatio(), 2.0);
    // A screen the window fits on at that scale.
    QVERIFY(QApplication::primaryScreen()->availableGeometry().width() >= qv::MainWindow::kMinimumWidth);
}

void WindowLayout::nothingOutsideItsParentAtTheMinimumSize_data()
{
    QTest::addColumn<QStringList>("opened"); // toggles clicked before the check
    QTest::newRow("panels closed") << QStringList();
    QTest::newRow("icon palette open") << QStringList({"Image4"});
    QTest::newRow("settings panel open") << QStringList({"SpeedButton10"});
    QTest::newRow("about panel open") << QStringList({"SpeedButton11"});
}

void WindowLayout::nothingOutsideItsParentAtTheMinimumSize()
{
    QFETCH(QStringList, opened);
    qv::AboutPanel::setMemoryProvider([] { return std::pair<quint64, quint64>{8ull << 30, 3ull << 30}; });
    WindowFixture f;
    qv::MainWindow *w = f.open();
    w->showNormal();
    w->resize(w->minimumSize());
    for (const QString &name : opened) {
        auto *toggle = f.find<QWidget>(name);
        QVERIFY2(toggle, qPrintable(name));
        QTest::mouseClick(toggle, Qt::LeftButton, {}, toggle->rect().center());
    }
    QCoreApplication::processEvents();
    QCOMPARE(w->frameGeometry().size(), QSize(qv::MainWindow::kMinimumWidth, qv::MainWindow::kMinimumHeight));
    QStringList outside;
    collectOutside(w, outside);
    for (const QString &line : std::as_const(outside))
        qWarning("outside its parent: %s", qPrintable(line));
    QVERIFY2(outside.isEmpty(), qPrintable(QString::number(outside.size()) + " widgets"));
    f.discard();
    qv::AboutPanel::setMemoryProvider({});
}

void WindowLayout::toolbarButtonsWholeAndApart_data()
{
    QTest::addColumn<QString>("toolbar");
    QTest::newRow("tree toolbar") << "CoolBar1";
    QTest::newRow("editor toolbar") << "CoolBar2";
}

void WindowLayout::toolbarButtonsWholeAndApart()
{
    QFETCH(QString, toolbar);
    WindowFixture f;
    qv::MainWindow *w = f.open();
    w->showNormal();
    w->resize(w->minimumSize());
    QCoreApplication::processEvents();
    QCOMPARE(w->frameGeometry().size(), QSize(qv::MainWindow::kMinimumWidth, qv::MainWindow::kMinimumHeight));
    auto *bar = f.find<QWidget>(toolbar);
    QVERIFY(bar);
    QStringList faults;
    QList<const QToolButton *> buttons;
    for (const QToolButton *button : bar->findChildren<QToolButton *>()) {
        // The toolbar's menu of buttons that did not fit: none may be needed.
        if (button->objectName() == QLatin1String("qt_toolbar_ext_button")) {
            if (button->isVisible())
                faults << QStringLiteral("the toolbar hides buttons behind its extension menu");
            continue;
        }
        if (!button->objectName().startsWith(QLatin1String("SpeedButton")))
            continue;
        if (!wholeOnScreen(button))
            faults << describe(button) + QStringLiteral(" is not whole on screen");
        for (const QToolButton *other : std::as_const(buttons))
            if (other->isVisible() && button->isVisible()
                && QRect(other->mapTo(w, QPoint()), other->size())
                       .intersects(QRect(button->mapTo(w, QPoint()), button->size())))
                faults << other->objectName() + QStringLiteral(" overlaps ") + button->objectName();
        buttons << button;
    }
    QVERIFY(!buttons.isEmpty());
    QVERIFY2(faults.isEmpty(), qPrintable("\n" + faults.join('\n')));
    f.discard();
}

// The window manager draws the title in the caption, beside an icon and the
// caption's buttons: the box leaves room for all of it.
void WindowLayout::messageBoxIsAsWideAsItsTitle()
{
    const QString title = QStringLiteral("Неверное действие");
    auto box
        = qv::msg::createBox(nullptr, QMessageBox::Warning, title, QStringLiteral("Нет."), QMessageBox::Ok);
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    QFont captionFont = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    captionFont.setBold(true);
    const QFontMetrics caption(captionFont);
    QVERIFY2(box->width() >= caption.horizontalAdvance(title) + 4 * caption.height(),
             qPrintable(QString::number(box->width())));
}

int main(int argc, char *argv[])
{
    // Twice the scale, before the application reads it.
    if (qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR"))
        qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    WindowLayout test;
    return QTest::qExec(&test, argc, argv);
}

void WindowLayout::longCaptionCutShortWithItsWholeHint()
{
    WindowFixture f;
    const QString longCaption = QStringLiteral("Caption ").repeated(20).trimmed();
    f.writeFile("data.dat", longCaption.toLatin1() + "\r\nShort\r\n");
    qv::MainWindow *w = f.open();
    w->showNormal();
    w->resize(w->minimumSize());
    QCoreApplication::processEvents();
    qv::OutlineView *tree = w->treePane()->tree();
    const QModelIndex longRow = tree->model()->index(0, 0), shortRow = tree->model()->index(1, 0);
    QVERIFY(tree->captionElided(longRow));
    QVERIFY(!tree->captionElided(shortRow));
    QHelpEvent hint(QEvent::ToolTip, tree->visualRect(longRow).center(),
                    tree->viewport()->mapToGlobal(tree->visualRect(longRow).center()));
    QApplication::sendEvent(tree->viewport(), &hint);
    QTRY_COMPARE(QToolTip::text(), longCaption);
    f.discard();
}

#include "tst_window_layout.moc"
