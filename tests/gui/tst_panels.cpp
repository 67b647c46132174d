// The icon list, the icon palette, the about panel and the settings panel as
// standalone widgets.
#include "gui/common/Icons.h"
#include "gui/settings/SettingsPanel.h"
#include "gui/tree/IconPalette.h"
#include "gui/window/AboutPanel.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QDir>
#include <QFile>
#include <QFontDialog>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

namespace {

QByteArray pixels(const QIcon &icon)
{
    const QImage img = icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    return QByteArray(reinterpret_cast<const char *>(img.constBits()), img.sizeInBytes());
}

constexpr int32_t kRed = 255;
constexpr int32_t code(int r, int g, int b) { return r + 256 * g + 65536 * b; }

} // namespace

using qv::SettingsPanel;

class PanelsTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // artwork
    void imageListHasEightyDistinctIcons();
    void glyphsAndPictures();

    // icon palette
    void paletteButtonsSitInTheGrid();
    void paletteButtonsEmitTheirValue_data();
    void paletteButtonsEmitTheirValue();
    void paletteTogglesOnClickAndHeaderDoubleClick();
    void paletteToggleFollowsTheRightEdge();
    void paletteFillShowsTheListImages();

    // about panel
    void aboutPanelMirrorsTheToolbarButton();
    void aboutPanelFollowsTheButtonsAction();
    void aboutPanelRefreshesMemoryAtEachOpening();
    void aboutPanelShowsMebibytesRoundedDown_data();
    void aboutPanelShowsMebibytesRoundedDown();
    void aboutPanelReadsTheSystemMemory();
    void aboutPanelContactOpensMailto();
    void aboutPanelShowsTheCatalogueFolder();

    // settings panel
    void settingsDefaults();
    void settingsLayout_data();
    void settingsLayout();
    void settingsToggleTwiceLeavesItClosed();
    void settingsApplyEmitsInOrder();
    void settingsOkAppliesAndCloses();
    void settingsCancelRevertsColorsOnly();
    void settingsCancelAfterApplyChangesNothing();
    void colorChooserStartsBlackThenLastConfirmed();
    void customColorsLastForTheRunWhenConfirmed();
    void swatchClicksPickBackgroundOrCaption();
    void systemCodesAreKeptUntilAColorIsPicked();
    void fontChooserIsSharedAndStyleStaysOnTheButton();
    void fontNamesAndSizes();
    void settingsLayoutFitsLargerText_data();
    void settingsLayoutFitsLargerText();
    void fontChooserOpensOnTheRegularStyleWithASample();
    void settingsStructIsWhatThePanelShows();
    void colorFromValue_data();
    void colorFromValue();

private:
    QList<QColor> m_colorInitials;
    QList<std::optional<QColor>> m_colorAnswers;
    QList<QFont> m_fontInitials;
    QList<std::optional<QFont>> m_fontAnswers;
};

void PanelsTest::init()
{
    m_colorInitials.clear();
    m_colorAnswers.clear();
    m_fontInitials.clear();
    m_fontAnswers.clear();
    SettingsPanel::resetChooserState();
    // The choosers answer from the queues; an empty queue cancels.
    SettingsPanel::setColorChooser([this](QWidget *, const QColor &initial) -> std::optional<QColor> {
        m_colorInitials.append(initial);
        return m_colorAnswers.isEmpty() ? std::nullopt : m_colorAnswers.takeFirst();
    });
    SettingsPanel::setFontChooser([this](QWidget *, const QFont &initial) -> std::optional<QFont> {
        m_fontInitials.append(initial);
        return m_fontAnswers.isEmpty() ? std::nullopt : m_fontAnswers.takeFirst();
    });
    qv::AboutPanel::setUrlOpener(
        [](const QUrl &url) { QFAIL(qPrintable("unexpected launch " + url.toString())); });
}

void PanelsTest::cleanup()
{
    qv::AboutPanel::setMemoryProvider({});
    qv::AboutPanel::setUrlOpener({});
}

// ---- artwork ----

void PanelsTest::imageListHasEightyDistinctIcons()
{
    const QList<QIcon> &list = qv::icons::imageList();
    QCOMPARE(list.size(), qv::icons::kImageCount);
    QSet<QByteArray> seen;
    for (int i = 0; i < list.size(); ++i) {
        QVERIFY2(!list[i].isNull(), qPrintable(QString::number(i)));
        QCOMPARE(list[i].pixmap(16, 16).size(), QSize(16, 16));
        seen.insert(pixels(list[i]));
        QCOMPARE(pixels(qv::icons::image(i)), pixels(list[i]));
    }
    QCOMPARE(seen.size(), 80);
    QVERIFY(qv::icons::image(-1).isNull());
    QVERIFY(qv::icons::image(80).isNull());
}

void PanelsTest::glyphsAndPictures()
{
    const char *names[]
        = {"create", "createChild", "delete", "expandAll", "collapseAll", "moveUp", "moveDown",
           "save",   "undo",        "redo",   "cut",       "copy",        "paste",  "erase",
           "upper",  "capitalise",  "lower",  "settings",  "about",       "expand", "collapse"};
    for (const char *name : names)
        QVERIFY2(!qv::icons::glyph(QString::fromLatin1(name)).pixmap(16, 16).isNull(), name);
    QVERIFY(qv::icons::glyph(QStringLiteral("nonsense")).isNull());
    QVERIFY(qv::icons::programIcon().availableSizes().contains(QSize(16, 16)));
    QCOMPARE(qv::icons::paletteHeader().size(), QSize(122, 21));
    QCOMPARE(qv::icons::toggleGlyph(true).size(), QSize(10, 10));
    QVERIFY(qv::icons::toggleGlyph(true).toImage() != qv::icons::toggleGlyph(false).toImage());
}

// ---- icon palette ----

void PanelsTest::paletteButtonsSitInTheGrid()
{
    qv::IconPalette palette;
    QCOMPARE(palette.objectName(), QStringLiteral("Panel3"));
    QCOMPARE(palette.palette().color(QPalette::Window), QColor(196, 206, 222));
    QCOMPARE(palette.findChildren<QToolButton *>().size(), 80);
    for (int row = 0; row < 8; ++row) {
        for (int col = 0; col < 10; ++col) {
            const int number = 10 * row + col + 1;
            auto *b = palette.findChild<QToolButton *>(QStringLiteral("bi%1").arg(number));
            QVERIFY2(b, qPrintable(QString::number(number)));
            QCOMPARE(b, palette.button(number));
            QCOMPARE(b->geometry(), QRect(5 + 21 * col, 27 + 21 * row, 21, 21));
            QCOMPARE(b->property("tag").toInt(), number == 80 ? 0 : number);
            QVERIFY(b->autoRaise());
            QVERIFY(!b->isCheckable());
        }
    }
    QVERIFY(!palette.button(0));
    QVERIFY(!palette.button(81));
}

void PanelsTest::paletteButtonsEmitTheirValue_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("value");
    QTest::newRow("bi1") << 1 << 1;
    QTest::newRow("bi37") << 37 << 37;
    QTest::newRow("bi79") << 79 << 79;
    QTest::newRow("bi80") << 80 << 0;
}

void PanelsTest::paletteButtonsEmitTheirValue()
{
    QFETCH(int, number);
    QFETCH(int, value);
    QWidget host;
    auto *palette = new qv::IconPalette(&host);
    palette->resize(220, 200);
    palette->toggle();
    host.show();
    QSignalSpy spy(palette, &qv::IconPalette::iconChosen);
    QTest::mouseClick(palette->button(number), Qt::LeftButton);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), value);
    QVERIFY(!palette->button(number)->isDown());
}

void PanelsTest::paletteTogglesOnClickAndHeaderDoubleClick()
{
    QWidget host;
    qv::IconPalette &palette = *new qv::IconPalette(&host);
    host.show();
    QLabel *toggle = palette.findChild<QLabel *>(QStringLiteral("Image4"));
    QLabel *header = palette.findChild<QLabel *>(QStringLiteral("Image1"));
    QVERIFY(toggle && header);
    QCOMPARE(toggle->size(), QSize(10, 10));
    const QImage expandGlyph = qv::icons::toggleGlyph(true).toImage();
    const QImage collapseGlyph = qv::icons::toggleGlyph(false).toImage();

    auto check = [&](bool expanded) {
        QCOMPARE(palette.isExpanded(), expanded);
        QCOMPARE(palette.height(), expanded ? 200 : 24);
        QCOMPARE(toggle->toolTip(), expanded ? QStringLiteral("Свернуть") : QStringLiteral("Развернуть"));
        QCOMPARE(toggle->statusTip(), toggle->toolTip());
        QCOMPARE(toggle->pixmap().toImage(), expanded ? collapseGlyph : expandGlyph);
    };
    check(false);
    QTest::mouseClick(toggle, Qt::LeftButton);
    check(true);
    QTest::mouseClick(toggle, Qt::LeftButton);
    check(false);
    QTest::mouseDClick(header, Qt::LeftButton);
    check(true);
    QTest::mouseDClick(header, Qt::LeftButton);
    check(false);
    // A single click on the header does nothing; collapse() always collapses.
    QTest::mouseClick(header, Qt::LeftButton);
    check(false);
    palette.toggle();
    palette.collapse();
    check(false);
    palette.collapse();
    check(false);
}

void PanelsTest::paletteToggleFollowsTheRightEdge()
{
    QWidget host;
    auto *palette = new qv::IconPalette(&host);
    QLabel *toggle = palette->findChild<QLabel *>(QStringLiteral("Image4"));
    host.show();
    palette->resize(220, 24);
    QCOMPARE(toggle->pos(), QPoint(207, 3));
    palette->resize(400, 24);
    QCOMPARE(toggle->pos(), QPoint(387, 3));
}

void PanelsTest::paletteFillShowsTheListImages()
{
    qv::IconPalette palette;
    QVERIFY(palette.button(5)->icon().isNull());
    palette.fillPictures();
    QCOMPARE(pixels(palette.button(5)->icon()), pixels(qv::icons::image(5)));
    QCOMPARE(pixels(palette.button(80)->icon()), pixels(qv::icons::image(0)));
    QCOMPARE(palette.button(80)->iconSize(), QSize(16, 16));
}

// ---- about panel ----

void PanelsTest::aboutPanelMirrorsTheToolbarButton()
{
    qv::AboutPanel::setMemoryProvider([] { return std::pair<quint64, quint64>{0, 0}; });
    QWidget host;
    auto *button = new QToolButton(&host);
    auto *action = new QAction(button);
    button->setDefaultAction(action);
    auto *panel = new qv::AboutPanel(action, &host);
    host.show();
    QCOMPARE(panel->objectName(), QStringLiteral("Panel7"));
    QVERIFY(!panel->isOpen());
    QCOMPARE(panel->height(), 0);

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(panel->isOpen());
    QCOMPARE(panel->height(), 100);
    QVERIFY(button->isChecked());

    auto *close = panel->findChild<QPushButton *>(QStringLiteral("Button4"));
    QCOMPARE(close->text(), QStringLiteral("Закрыть"));
    QTest::mouseClick(close, Qt::LeftButton);
    QVERIFY(!panel->isOpen());
    QVERIFY(!button->isChecked());

    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!panel->isOpen());
    QVERIFY(!button->isChecked());

    panel->toggle();
    panel->close();
    QVERIFY(!panel->isOpen());
    QVERIFY(!button->isChecked());
}

// A toolbar button made from an action: the panel and the action agree,
// whether the button, the action's shortcut or "Закрыть" is used.
void PanelsTest::aboutPanelFollowsTheButtonsAction()
{
    qv::AboutPanel::setMemoryProvider([] { return std::pair<quint64, quint64>{0, 0}; });
    QWidget host;
    auto *toolbar = new QToolBar(&host);
    QAction *action = toolbar->addAction(QStringLiteral("О программе..."));
    auto *button = qobject_cast<QToolButton *>(toolbar->widgetForAction(action));
    auto *panel = new qv::AboutPanel(action, &host);
    host.show();
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(panel->isOpen());
    QVERIFY(action->isChecked() && button->isChecked());
    QTest::mouseClick(panel->closeButton(), Qt::LeftButton);
    QVERIFY(!panel->isOpen());
    QVERIFY(!action->isChecked() && !button->isChecked());
    action->trigger();
    QVERIFY(panel->isOpen());
    QVERIFY(action->isChecked() && button->isChecked());
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!panel->isOpen());
    QVERIFY(!action->isChecked() && !button->isChecked());
}

void PanelsTest::aboutPanelRefreshesMemoryAtEachOpening()
{
    quint64 total = 1024ull << 20, available = 300ull << 20;
    int calls = 0;
    qv::AboutPanel::setMemoryProvider([&] {
        ++calls;
        return std::pair{total, available};
    });
    qv::AboutPanel panel(nullptr);
    QCOMPARE(calls, 0);
    panel.toggle();
    QCOMPARE(panel.totalLabel()->text(), QStringLiteral("1024 Мб"));
    QCOMPARE(panel.availableLabel()->text(), QStringLiteral("300 Мб"));
    available = 200ull << 20;
    QCOMPARE(panel.availableLabel()->text(), QStringLiteral("300 Мб")); // not while open
    panel.toggle();
    QCOMPARE(calls, 1); // closing reads nothing
    panel.toggle();
    QCOMPARE(calls, 2);
    QCOMPARE(panel.availableLabel()->text(), QStringLiteral("200 Мб"));
}

void PanelsTest::aboutPanelShowsMebibytesRoundedDown_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << quint64(0) << QStringLiteral("0 Мб");
    QTest::newRow("just under one") << quint64((1 << 20) - 1) << QStringLiteral("0 Мб");
    QTest::newRow("511 and a bit") << quint64((511ull << 20) + 1048575) << QStringLiteral("511 Мб");
    QTest::newRow("over 4 GiB") << quint64(64ull << 30) << QStringLiteral("65536 Мб");
}

void PanelsTest::aboutPanelShowsMebibytesRoundedDown()
{
    QFETCH(quint64, bytes);
    QFETCH(QString, text);
    qv::AboutPanel::setMemoryProvider([bytes] { return std::pair{bytes, bytes}; });
    qv::AboutPanel panel(nullptr);
    panel.toggle();
    QCOMPARE(panel.totalLabel()->text(), text);
    QCOMPARE(panel.availableLabel()->text(), text);
}

void PanelsTest::aboutPanelReadsTheSystemMemory()
{
#ifdef Q_OS_LINUX
    const auto [total, available] = qv::AboutPanel::systemMemory();
    QVERIFY(total > (16ull << 20));
    QVERIFY(available > 0);
    QVERIFY(available <= total);
#else
    QSKIP("memory figures come from /proc");
#endif
}

void PanelsTest::aboutPanelContactOpensMailto()
{
    QList<QUrl> opened;
    qv::AboutPanel::setUrlOpener([&](const QUrl &url) { opened.append(url); });
    qv::AboutPanel::setMemoryProvider([] { return std::pair<quint64, quint64>{0, 0}; });
    {
        // Without an address the line keeps its place and shows nothing.
        qv::AboutPanel bare(nullptr);
        bare.toggle();
        bare.show();
        QVERIFY(bare.findChild<QLabel *>(QStringLiteral("Label6"))->isHidden());
    }
    qv::AboutPanel::setContactAddress(QStringLiteral("quorvel@example.org"));
    qv::AboutPanel panel(nullptr);
    panel.toggle();
    panel.show();
    QLabel *contact = panel.findChild<QLabel *>(QStringLiteral("Label6"));
    QVERIFY(contact);
    QVERIFY(contact->text().startsWith(QStringLiteral("E-mail:  ")));
    QCOMPARE(contact->toolTip(), QStringLiteral("Написать письмо"));
    QCOMPARE(contact->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(contact, Qt::RightButton);
    QVERIFY(opened.isEmpty());
    QTest::mouseClick(contact, Qt::LeftButton);
    QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("mailto:quorvel@example.org"))});
    QVERIFY(contact->text().endsWith(QStringLiteral("quorvel@example.org")));
    qv::AboutPanel::setContactAddress({});
}

// The whole path while it fits, elided in the middle when the panel narrows;
// always whole in the tooltip.
void PanelsTest::aboutPanelShowsTheCatalogueFolder()
{
    qv::AboutPanel::setMemoryProvider([] { return std::pair<quint64, quint64>{0, 0}; });
    qv::AboutPanel panel(nullptr);
    const QString folder
        = QFile::decodeName(QByteArray("/home/u/.local/share/\xd0\x9a\xd0\xb0\xd1\x82/quorvel/"));
    panel.resize(900, 100);
    panel.setFolder(folder);
    panel.toggle();
    panel.show();
    QLabel *label = panel.findChild<QLabel *>(QStringLiteral("CatalogFolderLabel"));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("Папка каталога: /home/u/.local/share/Кат/quorvel/"));
    QCOMPARE(label->toolTip(), folder);
    QVERIFY(label->geometry().right() < panel.width());
    panel.resize(480, 100);
    QVERIFY(label->text().startsWith(QStringLiteral("Папка")));
    QVERIFY(label->text().contains(QChar(0x2026)));
    QVERIFY(label->text().endsWith(QStringLiteral("quorvel/")));
    QCOMPARE(label->toolTip(), folder);
    QCOMPARE(panel.findChild<QLabel *>(QStringLiteral("Label5"))->text(),
             QStringLiteral("Каталог ссылок и заметок\n© Разработчики Quorvel"));
}

// ---- settings panel ----

void PanelsTest::settingsDefaults()
{
    SettingsPanel panel(nullptr);
    QCOMPARE(panel.objectName(), QStringLiteral("Panel4"));
    QVERIFY(!panel.isOpen());
    QCOMPARE(panel.height(), 0);
    QVERIFY(!panel.dragDropCheck()->isChecked());
    QVERIFY(panel.restoreCheck()->isChecked());
    QVERIFY(panel.backupCheck()->isChecked());
    QVERIFY(!panel.linkSingleClickCheck()->isChecked());
    QCOMPARE(panel.treeColor(), 14601924);
    QCOMPARE(panel.textTreeColor(), -2147483640);
    QCOMPARE(panel.richColor(), -2147483643);
    QCOMPARE(panel.textRichColor(), -2147483640);
    QCOMPARE(panel.treeFontName(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(panel.treeFontSize(), 8);
    QCOMPARE(panel.textFontName(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(panel.textFontSize(), 8);
    QCOMPARE(panel.palette().color(QPalette::Window), QColor(196, 206, 222));
    QCOMPARE(panel.treeSwatch()->palette().color(QPalette::Window), QColor(196, 206, 222));
    QCOMPARE(panel.richSwatch()->palette().color(QPalette::Window),
             QApplication::palette().color(QPalette::Base));
    QCOMPARE(panel.treeCaption()->palette().color(QPalette::WindowText),
             QApplication::palette().color(QPalette::Text));
    for (QPushButton *b : panel.findChildren<QPushButton *>()) {
        QVERIFY2(!b->isDefault() && !b->autoDefault(), qPrintable(b->objectName()));
    }
}

void PanelsTest::settingsLayout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QPoint>("pos");
    QTest::newRow("CheckBox1") << "CheckBox1"
                               << "Разрешить перетаскивание элементов дерева" << QPoint(8, 7);
    QTest::newRow("CheckBox2") << "CheckBox2"
                               << "Запоминать позицию и размер окна" << QPoint(8, 26);
    QTest::newRow("CheckBox3") << "CheckBox3"
                               << "Создавать резервные копии базы данных" << QPoint(8, 45);
    QTest::newRow("CheckBox4") << "CheckBox4"
                               << "Отрабатывать ссылку при одиночном нажатии" << QPoint(8, 64);
    QTest::newRow("Label1") << "Label1"
                            << "Цвет дерева" << QPoint(23, 5);
    QTest::newRow("Label2") << "Label2"
                            << "Цвет редактора" << QPoint(16, 5);
    QTest::newRow("Button5") << "Button5"
                             << "Шрифт дерева" << QPoint(8, 114);
    QTest::newRow("Button6") << "Button6"
                             << "Шрифт редактора" << QPoint(124, 114);
    QTest::newRow("Button1") << "Button1"
                             << "\u041E\u041A" << QPoint(8, 148); // Cyrillic О, К
    QTest::newRow("Button2") << "Button2"
                             << "Применить" << QPoint(89, 148);
    QTest::newRow("Button3") << "Button3"
                             << "Отмена" << QPoint(169, 148);
}

void PanelsTest::settingsLayout()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QPoint, pos);
    SettingsPanel panel(nullptr);
    QWidget *w = panel.findChild<QWidget *>(name);
    QVERIFY(w);
    QCOMPARE(w->pos(), pos);
    QCOMPARE(w->property("text").toString(), text);
    QCOMPARE(panel.treeSwatch()->geometry(), QRect(8, 86, 113, 25));
    QCOMPARE(panel.richSwatch()->geometry(), QRect(124, 86, 113, 25));
    QCOMPARE(panel.treeSwatch()->focusPolicy(), Qt::NoFocus);

    // Tab order: boxes, ОК, Применить, Отмена, then the font buttons.
    const QStringList order = {"CheckBox1", "CheckBox2", "CheckBox3", "CheckBox4", "Button1",
                               "Button2",   "Button3",   "Button5",   "Button6"};
    auto nextTabStop = [](QWidget *from) {
        do
            from = from->nextInFocusChain();
        while (!(from->focusPolicy() & Qt::TabFocus));
        return from;
    };
    for (int i = 0; i + 1 < order.size(); ++i)
        QCOMPARE(nextTabStop(panel.findChild<QWidget *>(order[i]))->objectName(), order[i + 1]);
}

void PanelsTest::settingsToggleTwiceLeavesItClosed()
{
    QWidget host;
    auto *button = new QToolButton(&host);
    auto *action = new QAction(button);
    button->setDefaultAction(action);
    auto *panel = new SettingsPanel(action, &host);
    host.show();
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(panel->isOpen());
    QCOMPARE(panel->height(), 178);
    QVERIFY(button->isChecked());
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!panel->isOpen());
    QCOMPARE(panel->height(), 0);
    QVERIFY(!button->isChecked());
}

void PanelsTest::settingsApplyEmitsInOrder()
{
    SettingsPanel panel(nullptr);
    QStringList log;
    auto name = [](const QColor &c) { return c.name(); };
    connect(&panel, &SettingsPanel::dragDropApplied, this,
            [&](bool on) { log << QStringLiteral("drag %1").arg(on); });
    connect(&panel, &SettingsPanel::treeColorsApplied, this,
            [&](const QColor &bg, const QColor &fg) { log << "tree " + name(bg) + " " + name(fg); });
    connect(&panel, &SettingsPanel::editorColorsApplied, this,
            [&](const QColor &bg, const QColor &fg) { log << "editor " + name(bg) + " " + name(fg); });
    panel.dragDropCheck()->setChecked(true);
    panel.setTreeColor(kRed);
    panel.setTextTreeColor(code(0, 0, 255));
    panel.setRichColor(code(0, 255, 0));
    panel.setTextRichColor(qv::colorcode::kWindowText);
    panel.toggle();
    QTest::mouseClick(panel.findChild<QPushButton *>(QStringLiteral("Button2")), Qt::LeftButton);
    const QString text = QApplication::palette().color(QPalette::Text).name();
    QCOMPARE(log, (QStringList{"drag 1", "tree #ff0000 #0000ff", "editor #00ff00 " + text}));
    QVERIFY(panel.isOpen()); // "Применить" leaves the panel as it is
}

void PanelsTest::settingsOkAppliesAndCloses()
{
    QAction toggle;
    SettingsPanel panel(&toggle);
    QSignalSpy spy(&panel, &SettingsPanel::treeColorsApplied);
    panel.toggle();
    panel.setTreeColor(kRed);
    QTest::mouseClick(panel.findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).value<QColor>(), QColor(255, 0, 0));
    QVERIFY(!panel.isOpen());
    QVERIFY(!toggle.isChecked());
}

void PanelsTest::settingsCancelRevertsColorsOnly()
{
    QAction toggle;
    SettingsPanel panel(&toggle);
    QSignalSpy applied(&panel, &SettingsPanel::dragDropApplied);
    panel.toggle();
    panel.dragDropCheck()->setChecked(true);
    panel.backupCheck()->setChecked(false);
    panel.setTreeColor(kRed);
    panel.setTextTreeColor(kRed);
    panel.setRichColor(kRed);
    panel.setTextRichColor(kRed);
    panel.setTreeFontName(QStringLiteral("Serif"));
    QTest::mouseClick(panel.findChild<QPushButton *>(QStringLiteral("Button3")), Qt::LeftButton);
    QVERIFY(!panel.isOpen());
    QVERIFY(!toggle.isChecked());
    QCOMPARE(panel.treeColor(), 14601924);
    QCOMPARE(panel.textTreeColor(), -2147483640);
    QCOMPARE(panel.richColor(), -2147483643);
    QCOMPARE(panel.textRichColor(), -2147483640);
    QCOMPARE(panel.treeSwatch()->palette().color(QPalette::Window), QColor(196, 206, 222));
    QVERIFY(panel.dragDropCheck()->isChecked());
    QVERIFY(!panel.backupCheck()->isChecked());
    QCOMPARE(panel.treeFontName(), QStringLiteral("Serif"));
    QCOMPARE(applied.size(), 0);
}

void PanelsTest::settingsCancelAfterApplyChangesNothing()
{
    SettingsPanel panel(nullptr);
    panel.setTreeColor(qv::colorcode::kButtonFace); // as read from the settings
    panel.setRichColor(code(1, 2, 3));
    panel.apply();
    panel.setTreeColor(kRed);
    panel.cancel();
    QCOMPARE(panel.treeColor(), qv::colorcode::kButtonFace); // the code itself, not its RGB
    QCOMPARE(panel.richColor(), code(1, 2, 3));
    QCOMPARE(panel.treeSwatch()->palette().color(QPalette::Window),
             QApplication::palette().color(QPalette::Button));
}

void PanelsTest::colorChooserStartsBlackThenLastConfirmed()
{
    SettingsPanel panel(nullptr);
    SettingsPanel other(nullptr);
    m_colorAnswers = {QColor(10, 20, 30), std::nullopt, QColor(40, 50, 60)};
    panel.chooseTreeColor();
    panel.chooseRichTextColor(); // cancelled
    other.chooseRichColor();     // another panel shares the chooser
    panel.chooseTreeTextColor(); // cancelled: queue empty
    QCOMPARE(m_colorInitials,
             (QList<QColor>{QColor(Qt::black), QColor(10, 20, 30), QColor(10, 20, 30), QColor(40, 50, 60)}));
    QCOMPARE(panel.treeColor(), code(10, 20, 30));
    QCOMPARE(panel.textRichColor(), -2147483640); // the cancelled choice changed nothing
    QCOMPARE(panel.textTreeColor(), -2147483640);
    QCOMPARE(other.richColor(), code(40, 50, 60));

    SettingsPanel::resetChooserState();
    panel.chooseTreeColor();
    QCOMPARE(m_colorInitials.last(), QColor(Qt::black));
}

void PanelsTest::customColorsLastForTheRunWhenConfirmed()
{
    // The real chooser, answered as soon as it is up. The toolkit's own
    // settings folder is a scratch one (see main), which must stay empty.
    const QString config = QFile::decodeName(qgetenv("XDG_CONFIG_HOME"));
    QVERIFY(!config.isEmpty());
    SettingsPanel::setColorChooser({});
    SettingsPanel::resetChooserState();
    SettingsPanel panel(nullptr);
    auto answerNext = [](bool confirm) {
        QTimer::singleShot(0, [confirm] {
            auto *dialog = qobject_cast<QColorDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QColorDialog::setCustomColor(0, QColor(Qt::red)); // "Add to Custom Colors"
            dialog->setCurrentColor(QColor(0, 0, 255));
            confirm ? dialog->accept() : dialog->reject();
        });
    };

    answerNext(false);
    panel.chooseTreeColor();
    QCOMPARE(panel.treeColor(), 14601924);
    QCOMPARE(QColorDialog::customColor(0), QColor(Qt::white));

    answerNext(true);
    panel.chooseTreeColor();
    QCOMPARE(panel.treeColor(), code(0, 0, 255));
    QCOMPARE(QColorDialog::customColor(0), QColor(Qt::red));
    QCOMPARE(QDir(config).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

void PanelsTest::swatchClicksPickBackgroundOrCaption()
{
    SettingsPanel panel(nullptr);
    panel.toggle();
    panel.show();
    m_colorAnswers = {QColor(255, 0, 0), QColor(0, 0, 255), QColor(0, 255, 0), QColor(1, 1, 1)};
    QTest::mouseClick(panel.treeSwatch(), Qt::LeftButton, {}, QPoint(3, 3));
    QCOMPARE(panel.treeColor(), kRed);
    QCOMPARE(panel.textTreeColor(), -2147483640);
    QTest::mouseClick(panel.treeCaption(), Qt::LeftButton);
    QCOMPARE(panel.textTreeColor(), code(0, 0, 255));
    QCOMPARE(panel.treeColor(), kRed);
    QCOMPARE(panel.treeCaption()->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QTest::mouseClick(panel.richSwatch(), Qt::LeftButton, {}, QPoint(110, 22));
    QCOMPARE(panel.richColor(), code(0, 255, 0));
    QCOMPARE(panel.richSwatch()->palette().color(QPalette::Window), QColor(0, 255, 0));
    QTest::mouseClick(panel.richCaption(), Qt::LeftButton);
    QCOMPARE(panel.textRichColor(), code(1, 1, 1));
    QCOMPARE(m_colorInitials.size(), 4); // one chooser per click, none for the caption's swatch
}

void PanelsTest::systemCodesAreKeptUntilAColorIsPicked()
{
    SettingsPanel panel(nullptr);
    const int32_t odd = int32_t(0x80000105u); // top bit and other bits set; low byte 5
    panel.setTextTreeColor(qv::colorcode::kButtonFace);
    panel.setRichColor(odd);
    QCOMPARE(panel.textTreeColor(), qv::colorcode::kButtonFace);
    QCOMPARE(panel.richColor(), odd);
    QCOMPARE(panel.richSwatch()->palette().color(QPalette::Window),
             QApplication::palette().color(QPalette::Base));
    m_colorAnswers = {QColor(196, 206, 222)};
    panel.chooseRichColor();
    QCOMPARE(panel.richColor(), 14601924);
}

void PanelsTest::fontChooserIsSharedAndStyleStaysOnTheButton()
{
    SettingsPanel panel(nullptr);
    QStringList log;
    connect(&panel, &SettingsPanel::treeFontApplied, this,
            [&](const QString &face, int size) { log << QStringLiteral("tree %1 %2").arg(face).arg(size); });
    connect(&panel, &SettingsPanel::editorFontApplied, this, [&](const QString &face, int size) {
        log << QStringLiteral("editor %1 %2").arg(face).arg(size);
    });

    QFont bold(QStringLiteral("DejaVu Serif"), 12);
    bold.setBold(true);
    m_fontAnswers = {bold, std::nullopt};
    QTest::mouseClick(panel.treeFontButton(), Qt::LeftButton);
    QCOMPARE(m_fontInitials.size(), 1);
    QCOMPARE(m_fontInitials[0].family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(m_fontInitials[0].pointSize(), 8);
    QVERIFY(!m_fontInitials[0].bold());
    QCOMPARE(log, (QStringList{"tree DejaVu Serif 12", "editor MS Sans Serif 8"}));
    QVERIFY(panel.treeFontButton()->font().bold());
    QCOMPARE(panel.treeFontButton()->font().family(), QStringLiteral("DejaVu Serif"));
    // The caption keeps the panel's size, so that it fits the button.
    QCOMPARE(panel.treeFontButton()->font().pointSize(), panel.font().pointSize());
    QVERIFY(!panel.textFontButton()->font().bold());
    QCOMPARE(panel.treeFontName(), QStringLiteral("DejaVu Serif"));
    QCOMPARE(panel.treeFontSize(), 12);

    // The editor's chooser opens on the tree font just confirmed; cancelling applies nothing.
    log.clear();
    panel.chooseTextFont();
    QCOMPARE(m_fontInitials.size(), 2);
    QCOMPARE(m_fontInitials[1], bold);
    QVERIFY(log.isEmpty());
    QCOMPARE(panel.textFontName(), QStringLiteral("MS Sans Serif"));

    // A font change survives "Отмена".
    panel.cancel();
    QCOMPARE(panel.treeFontName(), QStringLiteral("DejaVu Serif"));
    QVERIFY(panel.treeFontButton()->font().bold());
}

void PanelsTest::fontNamesAndSizes()
{
    SettingsPanel panel(nullptr);
    panel.setTreeFontName(QString());
    QCOMPARE(panel.treeFontName(), QStringLiteral("MS Sans Serif"));
    const QString longFace = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn"); // 40
    panel.setTextFontName(longFace);
    QCOMPARE(panel.textFontName(), longFace.left(31));
    QCOMPARE(panel.textFontButton()->font().family(), longFace.left(31));
    panel.setTreeFontSize(14);
    QCOMPARE(panel.treeFontSize(), 14);
    panel.setTreeFontSize(0);
    QCOMPARE(panel.treeFontSize(), 0); // kept as given, written back as such
    panel.setTextFontSize(-3);
    QCOMPARE(panel.textFontSize(), -3);
    QSignalSpy spy(&panel, &SettingsPanel::treeFontApplied);
    panel.applyFonts();
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(1).toInt(), 0);
}

void PanelsTest::settingsLayoutFitsLargerText_data()
{
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<QString>("buttonFace"); // chosen for both font buttons
    QTest::newRow("8 pt") << 8 << QString();
    QTest::newRow("16 pt") << 16 << QString();
    QTest::newRow("wide face") << 8 << QStringLiteral("DejaVu Sans Mono");
}

void PanelsTest::settingsLayoutFitsLargerText()
{
    QFETCH(int, pointSize);
    QFETCH(QString, buttonFace);
    QWidget host;
    auto *panel = new SettingsPanel(nullptr, &host);
    QFont font = panel->font();
    font.setPointSize(pointSize);
    panel->setFont(font);
    if (!buttonFace.isEmpty()) {
        QFont chosen(buttonFace, 40);
        chosen.setBold(true);
        m_fontAnswers = {chosen, chosen};
        panel->chooseTreeFont();
        panel->chooseTextFont();
    }
    panel->toggle();
    host.resize(300, 600);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    if (pointSize == 8)
        QCOMPARE(panel->height(), 178);
    // Every control inside its parent and inside the open panel, no two
    // overlapping, every caption whole.
    const QRect open(QPoint(0, 0), panel->size());
    const QList<QWidget *> controls
        = panel->findChildren<QWidget *>(QRegularExpression("^(CheckBox|Panel|Label|Button)"));
    QCOMPARE(controls.size(), 13);
    for (QWidget *w : controls) {
        const QString name = w->objectName();
        QVERIFY2(w->parentWidget()->rect().contains(w->geometry()), qPrintable(name));
        const QRect inPanel(w->mapTo(panel, QPoint(0, 0)), w->size());
        QVERIFY2(open.contains(inPanel), qPrintable(name));
        for (QWidget *other : controls) {
            if (other != w && other->parentWidget() == w->parentWidget())
                QVERIFY2(!w->geometry().intersects(other->geometry()),
                         qPrintable(name + " " + other->objectName()));
        }
        const QString text = w->property("text").toString();
        if (!text.isEmpty())
            QVERIFY2(w->fontMetrics().horizontalAdvance(text) <= w->width(), qPrintable(name));
    }
}

void PanelsTest::fontChooserOpensOnTheRegularStyleWithASample()
{
    // The regular style of an installed face with many styles, not its first one.
    const QFont regular = SettingsPanel::withRegularStyle(QFont(QStringLiteral("DejaVu Sans"), 8));
    QCOMPARE(regular.family(), QStringLiteral("DejaVu Sans"));
    QCOMPARE(regular.styleName(), QStringLiteral("Book"));
    // A chosen style stays; a face that is not installed opens on the one standing in for it.
    QFont bold(QStringLiteral("DejaVu Sans"), 8);
    bold.setBold(true);
    QCOMPARE(SettingsPanel::withRegularStyle(bold), bold);
    const QFont missing = SettingsPanel::withRegularStyle(QFont(QStringLiteral("MS Sans Serif"), 8));
    QCOMPARE(missing.family(), QFontInfo(QFont(QStringLiteral("MS Sans Serif"), 8)).family());
    QVERIFY(!missing.styleName().isEmpty());

    // The real chooser shows a sample line.
    SettingsPanel::setFontChooser({});
    SettingsPanel panel(nullptr);
    QString sample;
    int sampleHeight = 0;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFontDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("qt_fontDialog_sampleEdit"));
        QVERIFY(edit);
        dialog->layout()->activate();
        sample = edit->text();
        sampleHeight = edit->height() - edit->fontMetrics().height();
        dialog->reject();
    });
    panel.chooseTreeFont();
    QVERIFY(sample.contains(QStringLiteral("Аа")));
    QVERIFY(sampleHeight > 0);
}

void PanelsTest::settingsStructIsWhatThePanelShows()
{
    SettingsPanel panel(nullptr);
    qv::Settings s;
    s.dragDrop = true;
    s.restore = false;
    s.linkSingleClick = true;
    s.treeColor = kRed;
    s.treeFont.face = "DejaVu Serif";
    s.treeFont.size = 20;
    panel.setSettings(s);
    QVERIFY(panel.dragDropCheck()->isChecked());
    QVERIFY(!panel.restoreCheck()->isChecked());
    QVERIFY(panel.backupCheck()->isChecked());
    QVERIFY(panel.linkSingleClickCheck()->isChecked());
    QCOMPARE(panel.treeSwatch()->palette().color(QPalette::Window), QColor(255, 0, 0));
    QCOMPARE(panel.treeFontButton()->font().family(), QStringLiteral("DejaVu Serif"));
    QCOMPARE(panel.treeFontSize(), 20);
    // The boxes edit the struct.
    panel.backupCheck()->click();
    panel.linkSingleClickCheck()->click();
    QVERIFY(!panel.settings().backup);
    QVERIFY(!panel.settings().linkSingleClick);
    QVERIFY(panel.settings().dragDrop);
}

void PanelsTest::colorFromValue_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QColor>("expected");
    const QPalette pal = QApplication::palette();
    QTest::newRow("black") << 0 << QColor(0, 0, 0);
    QTest::newRow("red") << 255 << QColor(255, 0, 0);
    QTest::newRow("green") << 65280 << QColor(0, 255, 0);
    QTest::newRow("blue") << 16711680 << QColor(0, 0, 255);
    QTest::newRow("blue-grey") << 14601924 << QColor(196, 206, 222);
    QTest::newRow("about title") << 16744448 << QColor(0, 128, 255);
    QTest::newRow("white") << 16777215 << QColor(255, 255, 255);
    QTest::newRow("beyond RGB uses low 24 bits") << (16777216 + 255) << QColor(255, 0, 0);
    QTest::newRow("clWindow") << -2147483643 << pal.color(QPalette::Base);
    QTest::newRow("clWindowText") << -2147483640 << pal.color(QPalette::Text);
    QTest::newRow("clBtnFace") << -2147483633 << pal.color(QPalette::Button);
    QTest::newRow("highlight") << (-2147483647 - 1 + 13) << pal.color(QPalette::Highlight);
    QTest::newRow("only the low byte counts") << int(0x80FF0008u) << pal.color(QPalette::Text);
}

void PanelsTest::colorFromValue()
{
    QFETCH(int, value);
    QFETCH(QColor, expected);
    QCOMPARE(SettingsPanel::colorFromValue(value), expected);
    if (value >= 0 && value <= 16777215)
        QCOMPARE(SettingsPanel::valueFromColor(expected), value);
}

int main(int argc, char *argv[])
{
    // The toolkit keeps settings of its own (the color chooser's custom
    // colors); they go to a scratch folder, never the user's.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    PanelsTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_panels.moc"
