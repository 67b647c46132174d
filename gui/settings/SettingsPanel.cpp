#include "gui/settings/SettingsPanel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QEvent>
#include <QFontDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>
#include <QSettings>

#include <cmath>

namespace {


using ColorChooser = std::function<std::optional<QColor>(QWidget *, const QColor &)>;
using FontChooser = std::function<std::optional<QFont>(QWidget *, const QFont &)>;

ColorChooser &colorChooser()
{
    static ColorChooser chooser;
    return chooser;
}

FontChooser &fontChooser()
{
    static FontChooser chooser;
    return chooser;
}

// What the two choosers open on: the value last confirmed in them during this run.
QColor &lastColor()
{
    static QColor color(Qt::black);
    return color;
}

QFont defaultFont()
{
    return QFont(QString::fromLatin1(SettingsPanel::kDefaultFace), SettingsPanel::kDefaultFontSize);
}

QFont &lastFont()
{
    static QFont font = defaultFont();
    return font;
}

// The toolkit's colour chooser reads its custom colours from, and writes
// them to, a settings file of its own in the user's folder. This program
// keeps them for the run only: that file is put out of reach (a path below
// /dev/null can be neither read nor created) before the chooser first runs.
void keepCustomColoursInMemory()
{
    static const bool done = [] {
        const QString nowhere = QStringLiteral("/dev/null");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, nowhere);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, nowhere);
        return true;
    }();
    (void)done;
}

QList<QColor> customColours()
{
    QList<QColor> colours;
    for (int i = 0; i < QColorDialog::customCount(); ++i)
        colours.append(QColorDialog::customColor(i));
    return colours;
}

void setCustomColours(const QList<QColor> &colours)
{
    for (int i = 0; i < colours.size() && i < QColorDialog::customCount(); ++i)
        QColorDialog::setCustomColor(i, colours.at(i));
}

std::optional<QColor> runColorDialog(QWidget *parent, const QColor &initial)
{
    keepCustomColoursInMemory();
    // Custom colours defined in a chooser that is cancelled do not stay.
    const QList<QColor> before = customColours();
    QColorDialog dialog(initial, parent);
    dialog.setOption(QColorDialog::DontUseNativeDialog, true);
    if (dialog.exec() != QDialog::Accepted) {
        setCustomColours(before);
        return std::nullopt;
    }
    const QColor chosen = dialog.selectedColor();
    if (!chosen.isValid())
        return std::nullopt;
    return chosen;
}

std::optional<QFont> runFontDialog(QWidget *parent, const QFont &initial)
{
    QFontDialog dialog(initial, parent);
    dialog.setOption(QFontDialog::DontUseNativeDialog, true);
    // The chooser offers face, style and size only: the effects box goes.
    const auto boxes = dialog.findChildren<QGroupBox *>();
    for (QGroupBox *box : boxes) {
        if (!box->findChildren<QCheckBox *>().isEmpty())
            box->hide();
    }
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.selectedFont();
}

// System colour number n (the low byte of a code with the top bit set) in the
// toolkit's palette.
QPalette::ColorRole systemRole(int n)
{
    switch (n) {
    case 1: case 12: case 16: return QPalette::Dark;        // desktop, workspace, button shadow
    case 2: case 13: case 27: case 29: return QPalette::Highlight;  // captions, selection
    case 3: case 28: return QPalette::Mid;                  // inactive caption
    case 5: return QPalette::Base;                          // window background
    case 6: case 21: return QPalette::Shadow;               // frame, dark 3-D shadow
    case 7: case 19: return QPalette::WindowText;           // menu text, inactive caption text
    case 8: return QPalette::Text;                          // window text
    case 9: case 14: return QPalette::HighlightedText;      // caption text, selected text
    case 0: case 10: case 11: case 15: return QPalette::Button;  // scroll bar, borders, button face
    case 17: return QPalette::PlaceholderText;              // grey text
    case 18: return QPalette::ButtonText;
    case 20: return QPalette::Light;                        // button highlight
    case 22: return QPalette::Midlight;                     // 3-D light
    case 23: return QPalette::ToolTipText;
    case 24: return QPalette::ToolTipBase;
    case 26: return QPalette::Link;                         // hot-tracked item
    default: return QPalette::Window;                       // menus, menu bar and the rest
    }
}

// Controls keep the position they are given but grow to fit their text.
void place(QWidget *w, int x, int y, int width, int height)
{
    const QSize hint = w->sizeHint();
    w->setGeometry(x, y, qMax(width, hint.width()), qMax(height, hint.height()));
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &text, const QRect &geometry)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(geometry);
    // Enter and Escape mean nothing to the panel.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

} // namespace

SettingsPanel::SettingsPanel(QAbstractButton *toggleButton, QWidget *parent)
    : CollapsiblePanel(toggleButton, kOpenHeight, parent),
      m_treeFace(QString::fromLatin1(kDefaultFace)),
      m_treeSize(kDefaultFontSize),
      m_textFace(QString::fromLatin1(kDefaultFace)),
      m_textSize(kDefaultFontSize)
{
    setObjectName(QStringLiteral("Panel4"));

    static const char *const boxTexts[4] = {
        "Разрешить перетаскивание элементов дерева",
        "Запоминать позицию и размер окна",
        "Создавать резервные копии базы данных",
        "Отрабатывать ссылку при одиночном нажатии",
    };
    static const int boxTops[4] = {7, 26, 45, 64};
    static const int boxWidths[4] = {265, 257, 257, 265};
    for (int i = 0; i < 4; ++i) {
        auto *box = new QCheckBox(QString::fromUtf8(boxTexts[i]), this);
        box->setObjectName(QStringLiteral("CheckBox%1").arg(i + 1));
        place(box, 8, boxTops[i], boxWidths[i], 17);
        m_checkBoxes[i] = box;
    }
    m_checkBoxes[1]->setChecked(true);
    m_checkBoxes[2]->setChecked(true);

    auto makeSwatch = [this](const char *name, int x) {
        auto *swatch = new QFrame(this);
        swatch->setObjectName(QString::fromLatin1(name));
        swatch->setFrameStyle(QFrame::Panel | QFrame::Raised);
        swatch->setLineWidth(1);
        swatch->setGeometry(x, 86, 113, 25);
        swatch->setAutoFillBackground(true);
        swatch->setFocusPolicy(Qt::NoFocus);
        swatch->installEventFilter(this);
        return swatch;
    };
    auto makeCaption = [this](QFrame *swatch, const char *name, const QString &text, int x, int width) {
        auto *label = new QLabel(text, swatch);
        label->setObjectName(QString::fromLatin1(name));
        place(label, x, 5, width, 13);
        // A caption wider than its place moves left to stay inside the swatch.
        const int room = swatch->width() - 2 * swatch->frameWidth();
        if (label->x() + label->width() > room)
            label->move(qMax(swatch->frameWidth(), room - label->width()), label->y());
        label->installEventFilter(this);
        return label;
    };
    m_panel5 = makeSwatch("Panel5", 8);
    m_label1 = makeCaption(m_panel5, "Label1", QStringLiteral("Цвет дерева"), 23, 64);
    m_panel6 = makeSwatch("Panel6", 124);
    m_label2 = makeCaption(m_panel6, "Label2", QStringLiteral("Цвет редактора"), 16, 81);

    m_button5 = makeButton(this, "Button5", QStringLiteral("Шрифт дерева"), QRect(8, 114, 113, 25));
    m_button6 = makeButton(this, "Button6", QStringLiteral("Шрифт редактора"), QRect(124, 114, 113, 25));
    auto *button1 = makeButton(this, "Button1", QStringLiteral("ОК"), QRect(8, 148, 74, 21));
    auto *button2 = makeButton(this, "Button2", QStringLiteral("Применить"), QRect(89, 148, 74, 21));
    auto *button3 = makeButton(this, "Button3", QStringLiteral("Отмена"), QRect(169, 148, 74, 21));
    m_button5->setFont(defaultFont());
    m_button6->setFont(defaultFont());

    connect(m_button5, &QPushButton::clicked, this, &SettingsPanel::chooseTreeFont);
    connect(m_button6, &QPushButton::clicked, this, &SettingsPanel::chooseTextFont);
    connect(button1, &QPushButton::clicked, this, &SettingsPanel::ok);
    connect(button2, &QPushButton::clicked, this, &SettingsPanel::apply);
    connect(button3, &QPushButton::clicked, this, &SettingsPanel::cancel);

    // Tab order: the four boxes, "ОК", "Применить", "Отмена", then the two font buttons.
    QWidget *order[] = {m_checkBoxes[0], m_checkBoxes[1], m_checkBoxes[2], m_checkBoxes[3],
                        button1, button2, button3, m_button5, m_button6};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    showColors();
    close();
}

QCheckBox *SettingsPanel::checkBox1() const { return m_checkBoxes[0]; }
QCheckBox *SettingsPanel::checkBox2() const { return m_checkBoxes[1]; }
QCheckBox *SettingsPanel::checkBox3() const { return m_checkBoxes[2]; }
QCheckBox *SettingsPanel::checkBox4() const { return m_checkBoxes[3]; }
QPushButton *SettingsPanel::treeFontButton() const { return m_button5; }
QPushButton *SettingsPanel::textFontButton() const { return m_button6; }
QFrame *SettingsPanel::treeSwatch() const { return m_panel5; }
QFrame *SettingsPanel::richSwatch() const { return m_panel6; }
QLabel *SettingsPanel::treeCaption() const { return m_label1; }
QLabel *SettingsPanel::richCaption() const { return m_label2; }

int32_t SettingsPanel::treeColor() const { return m_treeColor; }
int32_t SettingsPanel::textTreeColor() const { return m_textTreeColor; }
int32_t SettingsPanel::richColor() const { return m_richColor; }
int32_t SettingsPanel::textRichColor() const { return m_textRichColor; }

void SettingsPanel::setTreeColor(int32_t code)
{
    m_treeColor = code;
    showColors();
}

void SettingsPanel::setTextTreeColor(int32_t code)
{
    m_textTreeColor = code;
    showColors();
}

void SettingsPanel::setRichColor(int32_t code)
{
    m_richColor = code;
    showColors();
}

void SettingsPanel::setTextRichColor(int32_t code)
{
    m_textRichColor = code;
    showColors();
}

void SettingsPanel::showColors()
{
    auto paint = [](QWidget *w, QPalette::ColorRole role, int32_t code) {
        QPalette pal = w->palette();
        pal.setColor(role, colorFromValue(code));
        w->setPalette(pal);
    };
    paint(m_panel5, QPalette::Window, m_treeColor);
    paint(m_label1, QPalette::WindowText, m_textTreeColor);
    paint(m_panel6, QPalette::Window, m_richColor);
    paint(m_label2, QPalette::WindowText, m_textRichColor);
}

void SettingsPanel::changeEvent(QEvent *event)
{
    // System colour codes follow the current colour scheme.
    if (event->type() == QEvent::ApplicationPaletteChange)
        showColors();
    CollapsiblePanel::changeEvent(event);
}

QString SettingsPanel::treeFontName() const { return m_treeFace; }
int SettingsPanel::treeFontSize() const { return m_treeSize; }
QString SettingsPanel::textFontName() const { return m_textFace; }
int SettingsPanel::textFontSize() const { return m_textSize; }

void SettingsPanel::setButtonFont(QPushButton *button, const QString &face, int size)
{
    QFont font = button->font();
    font.setFamily(face);
    // A size of 0 or less has no point size to show; the number itself is kept.
    if (size > 0)
        font.setPointSize(size);
    button->setFont(font);
}

void SettingsPanel::setTreeFontName(const QString &face)
{
    if (face.isEmpty())
        return;
    m_treeFace = face.left(kMaxFaceLength);
    setButtonFont(m_button5, m_treeFace, m_treeSize);
}

void SettingsPanel::setTreeFontSize(int size)
{
    m_treeSize = size;
    setButtonFont(m_button5, m_treeFace, m_treeSize);
}

void SettingsPanel::setTextFontName(const QString &face)
{
    if (face.isEmpty())
        return;
    m_textFace = face.left(kMaxFaceLength);
    setButtonFont(m_button6, m_textFace, m_textSize);
}

void SettingsPanel::setTextFontSize(int size)
{
    m_textSize = size;
    setButtonFont(m_button6, m_textFace, m_textSize);
}

void SettingsPanel::applyFonts()
{
    emit treeFontApplied(m_treeFace, m_treeSize);
    emit editorFontApplied(m_textFace, m_textSize);
}

void SettingsPanel::apply()
{
    emit dragDropApplied(m_checkBoxes[0]->isChecked());
    m_appliedTreeColor = m_treeColor;
    m_appliedTextTreeColor = m_textTreeColor;
    emit treeColorsApplied(colorFromValue(m_treeColor), colorFromValue(m_textTreeColor));
    m_appliedRichColor = m_richColor;
    m_appliedTextRichColor = m_textRichColor;
    emit editorColorsApplied(colorFromValue(m_richColor), colorFromValue(m_textRichColor));
}

void SettingsPanel::ok()
{
    apply();
    close();
}

void SettingsPanel::cancel()
{
    // Only the colours go back to what the panes show; options and fonts stay.
    m_treeColor = m_appliedTreeColor;
    m_textTreeColor = m_appliedTextTreeColor;
    m_richColor = m_appliedRichColor;
    m_textRichColor = m_appliedTextRichColor;
    showColors();
    close();
}

std::optional<int32_t> SettingsPanel::pickColor()
{
    const ColorChooser &chooser = colorChooser() ? colorChooser() : ColorChooser(runColorDialog);
    const std::optional<QColor> chosen = chooser(this, lastColor());
    if (!chosen || !chosen->isValid())
        return std::nullopt;
    const QColor rgb = chosen->toRgb();
    lastColor() = QColor(rgb.red(), rgb.green(), rgb.blue());
    return valueFromColor(rgb);
}

void SettingsPanel::chooseTreeColor()
{
    if (const auto code = pickColor())
        setTreeColor(*code);
}

void SettingsPanel::chooseTreeTextColor()
{
    if (const auto code = pickColor())
        setTextTreeColor(*code);
}

void SettingsPanel::chooseRichColor()
{
    if (const auto code = pickColor())
        setRichColor(*code);
}

void SettingsPanel::chooseRichTextColor()
{
    if (const auto code = pickColor())
        setTextRichColor(*code);
}

void SettingsPanel::chooseFont(QPushButton *button, QString &face, int &size)
{
    const FontChooser &chooser = fontChooser() ? fontChooser() : FontChooser(runFontDialog);
    std::optional<QFont> chosen = chooser(this, lastFont());
    if (!chosen)
        return;
    QFont font = *chosen;
    font.setUnderline(false);
    font.setStrikeOut(false);
    lastFont() = font;
    // The whole font goes to the button, so its caption shows the style too.
    button->setFont(font);
    if (!font.family().isEmpty())
        face = font.family().left(kMaxFaceLength);
    if (font.pointSize() > 0) {
        size = font.pointSize();
    } else if (font.pixelSize() > 0) {
        const double dpi = button->logicalDpiY();
        size = int(std::lround(font.pixelSize() * 72.0 / dpi));
    }
    applyFonts();
}

void SettingsPanel::chooseTreeFont()
{
    chooseFont(m_button5, m_treeFace, m_treeSize);
}

void SettingsPanel::chooseTextFont()
{
    chooseFont(m_button6, m_textFace, m_textSize);
}

bool SettingsPanel::eventFilter(QObject *watched, QEvent *event)
{
    const bool swatchPart = watched == m_panel5 || watched == m_panel6 || watched == m_label1
                            || watched == m_label2;
    if (swatchPart && (event->type() == QEvent::MouseButtonPress
                       || event->type() == QEvent::MouseButtonDblClick))
        return true;  // keep the caption's press from reaching its swatch
    if (swatchPart && event->type() == QEvent::MouseButtonRelease) {
        auto *widget = static_cast<QWidget *>(watched);
        const auto *me = static_cast<QMouseEvent *>(event);
        if (me->button() == Qt::LeftButton && widget->rect().contains(me->position().toPoint())) {
            if (watched == m_panel5)
                chooseTreeColor();
            else if (watched == m_label1)
                chooseTreeTextColor();
            else if (watched == m_panel6)
                chooseRichColor();
            else
                chooseRichTextColor();
        }
        return true;
    }
    return CollapsiblePanel::eventFilter(watched, event);
}

QColor SettingsPanel::colorFromValue(int32_t code)
{
    if (code < 0)
        return QApplication::palette().color(QPalette::Active, systemRole(code & 0xFF));
    const uint32_t v = uint32_t(code) & 0xFFFFFFu;
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

int32_t SettingsPanel::valueFromColor(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return int32_t(rgb.red() + 256 * rgb.green() + 65536 * rgb.blue());
}

void SettingsPanel::setColorChooser(std::function<std::optional<QColor>(QWidget *, const QColor &)> chooser)
{
    colorChooser() = std::move(chooser);
}

void SettingsPanel::setFontChooser(std::function<std::optional<QFont>(QWidget *, const QFont &)> chooser)
{
    fontChooser() = std::move(chooser);
}

void SettingsPanel::resetChooserState()
{
    keepCustomColoursInMemory();
    setCustomColours(QList<QColor>(QColorDialog::customCount(), QColor(Qt::white)));
    lastColor() = QColor(Qt::black);
    lastFont() = defaultFont();
}
