#include "gui/settings/SettingsPanel.h"

#include "gui/common/Codec.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QColorDialog>
#include <QEvent>
#include <QFontDatabase>
#include <QFontDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionButton>

#include <cmath>

namespace qv {

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
    const FontSetting font = Settings().treeFont;
    return QFont(QString::fromLatin1(font.face), font.size);
}

QFont &lastFont()
{
    static QFont font = defaultFont();
    return font;
}

// The toolkit's color chooser reads its custom colors from, and writes
// them to, a settings file of its own in the user's folder. This program
// keeps them for the run only: that file is put out of reach (a path below
// /dev/null can be neither read nor created) before the chooser first runs.
void keepCustomColorsInMemory()
{
    static const bool done = [] {
        const QString nowhere = QStringLiteral("/dev/null");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, nowhere);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, nowhere);
        return true;
    }();
    (void)done;
}

QList<QColor> customColors()
{
    QList<QColor> colors;
    for (int i = 0; i < QColorDialog::customCount(); ++i)
        colors.append(QColorDialog::customColor(i));
    return colors;
}

void setCustomColors(const QList<QColor> &colors)
{
    for (int i = 0; i < colors.size() && i < QColorDialog::customCount(); ++i)
        QColorDialog::setCustomColor(i, colors.at(i));
}

std::optional<QColor> runColorDialog(QWidget *parent, const QColor &initial)
{
    keepCustomColorsInMemory();
    // Custom colors defined in a chooser that is cancelled do not stay.
    const QList<QColor> before = customColors();
    QColorDialog dialog(initial, parent);
    dialog.setOption(QColorDialog::DontUseNativeDialog, true);
    if (dialog.exec() != QDialog::Accepted) {
        setCustomColors(before);
        return std::nullopt;
    }
    const QColor chosen = dialog.selectedColor();
    if (!chosen.isValid())
        return std::nullopt;
    return chosen;
}

std::optional<QFont> runFontDialog(QWidget *parent, const QFont &initial)
{
    QFontDialog dialog(SettingsPanel::withRegularStyle(initial), parent);
    dialog.setOption(QFontDialog::DontUseNativeDialog, true);
    // The chooser offers face, style and size only: the effects box goes.
    const auto boxes = dialog.findChildren<QGroupBox *>();
    for (QGroupBox *box : boxes) {
        if (!box->findChildren<QCheckBox *>().isEmpty())
            box->hide();
    }
    // Without the effects box beside it the sample box would shrink to
    // nothing: it keeps room for a line of text in both alphabets.
    if (auto *sample = dialog.findChild<QLineEdit *>(QStringLiteral("qt_fontDialog_sampleEdit"))) {
        sample->setText(QStringLiteral("АаБбЯя AaBbYyZz"));
        sample->setMinimumHeight(sample->fontMetrics().height() * 3);
    }
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.selectedFont();
}

// System color number n (the low byte of a code with the top bit set) in the
// toolkit's palette.
QPalette::ColorRole systemRole(int n)
{
    switch (n) {
    case 1:
    case 12:
    case 16:
        return QPalette::Dark; // desktop, workspace, button shadow
    case 2:
    case 13:
    case 27:
    case 29:
        return QPalette::Highlight; // captions, selection
    case 3:
    case 28:
        return QPalette::Mid; // inactive caption
    case 5:
        return QPalette::Base; // window background
    case 6:
    case 21:
        return QPalette::Shadow; // frame, dark 3-D shadow
    case 7:
    case 19:
        return QPalette::WindowText; // menu text, inactive caption text
    case 8:
        return QPalette::Text; // window text
    case 9:
    case 14:
        return QPalette::HighlightedText; // caption text, selected text
    case 0:
    case 10:
    case 11:
    case 15:
        return QPalette::Button; // scroll bar, borders, button face
    case 17:
        return QPalette::PlaceholderText; // grey text
    case 18:
        return QPalette::ButtonText;
    case 20:
        return QPalette::Light; // button highlight
    case 22:
        return QPalette::Midlight; // 3-D light
    case 23:
        return QPalette::ToolTipText;
    case 24:
        return QPalette::ToolTipBase;
    case 26:
        return QPalette::Link; // hot-tracked item
    default:
        return QPalette::Window; // menus, menu bar and the rest
    }
}

// A push button is given its 96-dpi size, or more when its caption needs
// more (larger text): the caption and the style's margin around it. The
// style's own size hint is no use here: it makes every button with a
// caption at least 80 wide.
void fitButton(QPushButton *b, QSize designed)
{
    const QFontMetrics fm(b->font());
    QStyleOptionButton option;
    option.initFrom(b);
    const int margin = b->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, b)
        + 2 * b->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, b);
    const QSize text = fm.size(Qt::TextShowMnemonic, b->text());
    b->setFixedSize((text + QSize(margin, margin)).expandedTo(designed));
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &text, QSize size)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setProperty("designedSize", size);
    fitButton(b, size);
    // Enter and Escape mean nothing to the panel.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QCheckBox *makeCheck(QWidget *parent, const char *name, const char *text, int width)
{
    auto *box = new QCheckBox(QString::fromUtf8(text), parent);
    box->setObjectName(QString::fromLatin1(name));
    // 17 high and 2 apart on a 96-dpi screen: 19 from one box to the next.
    box->setMinimumSize(width, 19);
    return box;
}

// A row of controls at the left, a gap of `gaps[i]` after the i-th one.
QHBoxLayout *row(std::initializer_list<QWidget *> widgets, std::initializer_list<int> gaps)
{
    auto *layout = new QHBoxLayout;
    layout->setSpacing(0);
    auto gap = gaps.begin();
    for (QWidget *w : widgets) {
        if (layout->count() > 0 && gap != gaps.end())
            layout->addSpacing(*gap++);
        layout->addWidget(w);
    }
    layout->addStretch(1);
    return layout;
}

} // namespace

SettingsPanel::SettingsPanel(QAction *toggleAction, QWidget *parent)
    : CollapsiblePanel(toggleAction, kOpenHeight, parent)
{
    setObjectName(QStringLiteral("Panel4"));
    // The controls live on a page of their own at the panel's top left:
    // the panel cuts it off while closed, and the page keeps its layout. A
    // pane narrower than the page scrolls it sideways.
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->setWidgetResizable(false);
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->viewport()->setAutoFillBackground(false);
    content_ = new QWidget;
    content_->setAutoFillBackground(false);
    // In place before the controls are made: they size themselves in the
    // panel's font.
    scroll_->setWidget(content_);

    dragDropCheck_ = makeCheck(content_, "CheckBox1", "Разрешить перетаскивание элементов дерева", 265);
    restoreCheck_ = makeCheck(content_, "CheckBox2", "Запоминать позицию и размер окна", 257);
    backupCheck_ = makeCheck(content_, "CheckBox3", "Создавать резервные копии базы данных", 257);
    linkSingleClickCheck_
        = makeCheck(content_, "CheckBox4", "Отрабатывать ссылку при одиночном нажатии", 265);
    connect(dragDropCheck_, &QCheckBox::toggled, this, [this](bool on) { pending_.dragDrop = on; });
    connect(restoreCheck_, &QCheckBox::toggled, this, [this](bool on) { pending_.restore = on; });
    connect(backupCheck_, &QCheckBox::toggled, this, [this](bool on) { pending_.backup = on; });
    connect(linkSingleClickCheck_, &QCheckBox::toggled, this,
            [this](bool on) { pending_.linkSingleClick = on; });

    // A swatch is a raised panel showing a pane's background with its
    // caption in the pane's text color.
    auto makeSwatch = [this](const char *name, const char *labelName, const QString &text,
                             const QMargins &captionMargins) {
        auto *swatch = new QFrame(content_);
        swatch->setObjectName(QString::fromLatin1(name));
        swatch->setFrameStyle(QFrame::Panel | QFrame::Raised);
        swatch->setLineWidth(1);
        swatch->setMinimumSize(113, 25);
        swatch->setAutoFillBackground(true);
        swatch->setFocusPolicy(Qt::NoFocus);
        swatch->installEventFilter(this);
        auto *label = new QLabel(text, swatch);
        label->setObjectName(QString::fromLatin1(labelName));
        label->setMinimumHeight(13);
        label->installEventFilter(this);
        auto *layout = new QHBoxLayout(swatch);
        layout->setContentsMargins(captionMargins);
        layout->addWidget(label, 0, Qt::AlignTop);
        return std::pair{swatch, label};
    };
    // Margins from the frame's inside: the captions sit 23 and 16 pixels in,
    // 5 down; a longer caption makes its swatch wider.
    std::tie(treeColorSwatch_, treeTextLabel_)
        = makeSwatch("Panel5", "Label1", QStringLiteral("Цвет дерева"), QMargins(22, 4, 2, 1));
    std::tie(richColorSwatch_, richTextLabel_)
        = makeSwatch("Panel6", "Label2", QStringLiteral("Цвет редактора"), QMargins(15, 4, 2, 1));

    treeFontButton_ = makeButton(content_, "Button5", QStringLiteral("Шрифт дерева"), {113, 25});
    textFontButton_ = makeButton(content_, "Button6", QStringLiteral("Шрифт редактора"), {113, 25});
    auto *okButton = makeButton(content_, "Button1", QStringLiteral("ОК"), {74, 21});
    auto *applyButton = makeButton(content_, "Button2", QStringLiteral("Применить"), {74, 21});
    auto *cancelButton = makeButton(content_, "Button3", QStringLiteral("Отмена"), {74, 21});

    auto *column = new QVBoxLayout(content_);
    column->setContentsMargins(8, 7, 8, 9);
    column->setSpacing(0);
    column->addWidget(dragDropCheck_, 0, Qt::AlignLeft);
    column->addWidget(restoreCheck_, 0, Qt::AlignLeft);
    column->addWidget(backupCheck_, 0, Qt::AlignLeft);
    column->addWidget(linkSingleClickCheck_, 0, Qt::AlignLeft);
    column->addSpacing(3);
    column->addLayout(row({treeColorSwatch_, richColorSwatch_}, {3}));
    column->addSpacing(3);
    column->addLayout(row({treeFontButton_, textFontButton_}, {3}));
    column->addSpacing(9);
    column->addLayout(row({okButton, applyButton, cancelButton}, {7, 6}));
    column->addStretch(1);

    connect(treeFontButton_, &QPushButton::clicked, this, &SettingsPanel::chooseTreeFont);
    connect(textFontButton_, &QPushButton::clicked, this, &SettingsPanel::chooseTextFont);
    connect(okButton, &QPushButton::clicked, this, &SettingsPanel::ok);
    connect(applyButton, &QPushButton::clicked, this, &SettingsPanel::apply);
    connect(cancelButton, &QPushButton::clicked, this, &SettingsPanel::cancel);

    // Tab order: the four boxes, "ОК", "Применить", "Отмена", then the two font buttons.
    QWidget *order[] = {dragDropCheck_, restoreCheck_, backupCheck_,    linkSingleClickCheck_, okButton,
                        applyButton,    cancelButton,  treeFontButton_, textFontButton_};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    setSettings(pending_);
    fitContent();
    close();
}

void SettingsPanel::setSettings(const Settings &settings)
{
    pending_ = settings;
    showChecks();
    showColors();
    showButtonFont(treeFontButton_, pending_.treeFont);
    showButtonFont(textFontButton_, pending_.textFont);
}

void SettingsPanel::showChecks()
{
    const std::pair<QCheckBox *, bool> checks[] = {{dragDropCheck_, pending_.dragDrop},
                                                   {restoreCheck_, pending_.restore},
                                                   {backupCheck_, pending_.backup},
                                                   {linkSingleClickCheck_, pending_.linkSingleClick}};
    for (const auto &[box, on] : checks) {
        const QSignalBlocker blocker(box);
        box->setChecked(on);
    }
}

void SettingsPanel::fitContent()
{
    const QSize need = content_->sizeHint().expandedTo(content_->minimumSizeHint());
    content_->setGeometry(0, 0, qMax(width(), need.width()), qMax(kOpenHeight, need.height()));
    const int bar = need.width() > width() ? scroll_->horizontalScrollBar()->sizeHint().height() : 0;
    scroll_->setGeometry(0, 0, width(), content_->height() + bar);
    // Open, the panel is as high as the page and its scroll bar.
    if (isOpen() && height() != scroll_->height())
        setFixedHeight(scroll_->height());
    // The controls are where they belong even before the panel is shown.
    content_->layout()->activate();
    treeColorSwatch_->layout()->activate();
    richColorSwatch_->layout()->activate();
}

QSize SettingsPanel::sizeHint() const
{
    // The whole page, without a scroll bar.
    const QSize need = content_->sizeHint().expandedTo(content_->minimumSizeHint());
    return QSize(need.width(), qMax(kOpenHeight, need.height()));
}

void SettingsPanel::resizeEvent(QResizeEvent *event)
{
    CollapsiblePanel::resizeEvent(event);
    fitContent();
}

void SettingsPanel::opened()
{
    // Larger text than the 96-dpi layout was made for needs more height.
    fitContent();
    if (scroll_->height() > height())
        setFixedHeight(scroll_->height());
}

void SettingsPanel::setTreeColor(int32_t code)
{
    pending_.treeColor = code;
    showColors();
}

void SettingsPanel::setTextTreeColor(int32_t code)
{
    pending_.textTreeColor = code;
    showColors();
}

void SettingsPanel::setRichColor(int32_t code)
{
    pending_.richColor = code;
    showColors();
}

void SettingsPanel::setTextRichColor(int32_t code)
{
    pending_.textRichColor = code;
    showColors();
}

void SettingsPanel::showColors()
{
    auto paint = [](QWidget *w, QPalette::ColorRole role, int32_t code) {
        QPalette pal = w->palette();
        pal.setColor(role, colorFromValue(code));
        w->setPalette(pal);
    };
    paint(treeColorSwatch_, QPalette::Window, pending_.treeColor);
    paint(treeTextLabel_, QPalette::WindowText, pending_.textTreeColor);
    paint(richColorSwatch_, QPalette::Window, pending_.richColor);
    paint(richTextLabel_, QPalette::WindowText, pending_.textRichColor);
}

void SettingsPanel::changeEvent(QEvent *event)
{
    // System color codes follow the current color scheme.
    if (event->type() == QEvent::ApplicationPaletteChange)
        showColors();
    CollapsiblePanel::changeEvent(event);
    // Other text makes other sizes.
    if (event->type() == QEvent::FontChange && content_) {
        for (QPushButton *button : content_->findChildren<QPushButton *>()) {
            if (button == treeFontButton_ || button == textFontButton_) {
                QFont caption = button->font();
                caption.setPointSizeF(font().pointSizeF());
                button->setFont(caption);
            }
            fitButton(button, button->property("designedSize").toSize());
        }
        fitContent();
    }
}

QString SettingsPanel::treeFontName() const { return toQ(pending_.treeFont.face); }
QString SettingsPanel::textFontName() const { return toQ(pending_.textFont.face); }

void SettingsPanel::showButtonFont(QPushButton *button, const FontSetting &setting)
{
    QFont font = button->font();
    font.setFamily(toQ(setting.face));
    font.setPointSizeF(this->font().pointSizeF());
    button->setFont(font);
    fitButton(button, button->property("designedSize").toSize());
    fitContent();
}

void SettingsPanel::setTreeFontName(const QString &face)
{
    setFace(pending_.treeFont, fromQ(face));
    showButtonFont(treeFontButton_, pending_.treeFont);
}

void SettingsPanel::setTreeFontSize(int size) { pending_.treeFont.size = size; }

void SettingsPanel::setTextFontName(const QString &face)
{
    setFace(pending_.textFont, fromQ(face));
    showButtonFont(textFontButton_, pending_.textFont);
}

void SettingsPanel::setTextFontSize(int size) { pending_.textFont.size = size; }

void SettingsPanel::applyFonts()
{
    emit treeFontApplied(treeFontName(), pending_.treeFont.size);
    emit editorFontApplied(textFontName(), pending_.textFont.size);
}

void SettingsPanel::apply()
{
    emit dragDropApplied(pending_.dragDrop);
    appliedTreeColor_ = pending_.treeColor;
    appliedTextTreeColor_ = pending_.textTreeColor;
    emit treeColorsApplied(colorFromValue(pending_.treeColor), colorFromValue(pending_.textTreeColor));
    appliedRichColor_ = pending_.richColor;
    appliedTextRichColor_ = pending_.textRichColor;
    emit editorColorsApplied(colorFromValue(pending_.richColor), colorFromValue(pending_.textRichColor));
    emit applied(pending_);
}

void SettingsPanel::ok()
{
    apply();
    close();
}

void SettingsPanel::cancel()
{
    // Only the colors go back to what the panes show; options and fonts stay.
    pending_.treeColor = appliedTreeColor_;
    pending_.textTreeColor = appliedTextTreeColor_;
    pending_.richColor = appliedRichColor_;
    pending_.textRichColor = appliedTextRichColor_;
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

void SettingsPanel::chooseFont(QPushButton *button, FontSetting &setting)
{
    const FontChooser &chooser = fontChooser() ? fontChooser() : FontChooser(runFontDialog);
    std::optional<QFont> chosen = chooser(this, lastFont());
    if (!chosen)
        return;
    QFont font = *chosen;
    font.setUnderline(false);
    font.setStrikeOut(false);
    lastFont() = font;
    if (!font.family().isEmpty())
        setFace(setting, fromQ(font.family()));
    if (font.pointSize() > 0) {
        setting.size = font.pointSize();
    } else if (font.pixelSize() > 0) {
        const double dpi = button->logicalDpiY();
        setting.size = int(std::lround(font.pixelSize() * 72.0 / dpi));
    }
    // The caption shows the chosen face and style (bold, italic), at the
    // panel's size.
    font.setPointSizeF(this->font().pointSizeF());
    button->setFont(font);
    fitButton(button, button->property("designedSize").toSize());
    fitContent();
    applyFonts();
}

void SettingsPanel::chooseTreeFont() { chooseFont(treeFontButton_, pending_.treeFont); }

void SettingsPanel::chooseTextFont() { chooseFont(textFontButton_, pending_.textFont); }

bool SettingsPanel::eventFilter(QObject *watched, QEvent *event)
{
    const bool swatchPart = watched == treeColorSwatch_ || watched == richColorSwatch_
        || watched == treeTextLabel_ || watched == richTextLabel_;
    if (swatchPart
        && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick))
        return true; // keep the caption's press from reaching its swatch
    if (swatchPart && event->type() == QEvent::MouseButtonRelease) {
        auto *widget = static_cast<QWidget *>(watched);
        const auto *me = static_cast<QMouseEvent *>(event);
        if (me->button() == Qt::LeftButton && widget->rect().contains(me->position().toPoint())) {
            if (watched == treeColorSwatch_)
                chooseTreeColor();
            else if (watched == treeTextLabel_)
                chooseTreeTextColor();
            else if (watched == richColorSwatch_)
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
    return QColor(colorcode::red(code), colorcode::green(code), colorcode::blue(code));
}

int32_t SettingsPanel::valueFromColor(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return int32_t(rgb.red() + 256 * rgb.green() + 65536 * rgb.blue());
}

QFont SettingsPanel::withRegularStyle(const QFont &font)
{
    if (!font.styleName().isEmpty() || font.bold() || font.italic())
        return font;
    // A face that is not installed opens on the face that stands in for it.
    QFont regular = font;
    if (!QFontDatabase::families().contains(font.family(), Qt::CaseInsensitive))
        regular.setFamily(QFontInfo(font).family());
    // The regular style: upright, normal weight, and of those the shortest
    // name ("Book" rather than "Condensed").
    QString best;
    const QStringList styles = QFontDatabase::styles(regular.family());
    for (const QString &style : styles) {
        const QFont candidate = QFontDatabase::font(regular.family(), style, 12);
        if (!candidate.italic() && candidate.weight() == QFont::Normal
            && (best.isEmpty() || style.size() < best.size()))
            best = style;
    }
    if (!best.isEmpty())
        regular.setStyleName(best);
    return regular;
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
    keepCustomColorsInMemory();
    setCustomColors(QList<QColor>(QColorDialog::customCount(), QColor(Qt::white)));
    lastColor() = QColor(Qt::black);
    lastFont() = defaultFont();
}

} // namespace qv
