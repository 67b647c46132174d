// The settings strip at the top of the editor pane. It edits a copy of the
// window's settings and hands it back when applied ("Применить", "ОК"); the
// tree and the editor get what is applied, never what is only being edited.
#pragma once

#include "gui/common/CollapsiblePanel.h"
#include "settings/Settings.h"

#include <QColor>
#include <QFont>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;

namespace qv {

class SettingsPanel : public CollapsiblePanel { // objectName "Panel4", height 0 or 178
    Q_OBJECT
public:
    static constexpr int kOpenHeight = 178;

    // toggleAction is the editor toolbar's "Настройка" (SpeedButton10), made checkable.
    explicit SettingsPanel(QAction *toggleAction, QWidget *parent = nullptr);

    // The copy being edited: what the panel shows (and what the close writes).
    const Settings &settings() const { return pending_; }
    // Shows a copy of `settings` to edit; applies nothing.
    void setSettings(const Settings &settings);

    QCheckBox *dragDropCheck() const { return dragDropCheck_; }               // CheckBox1
    QCheckBox *restoreCheck() const { return restoreCheck_; }                 // CheckBox2
    QCheckBox *backupCheck() const { return backupCheck_; }                   // CheckBox3
    QCheckBox *linkSingleClickCheck() const { return linkSingleClickCheck_; } // CheckBox4

    // Pending colors as color codes, kept exactly as given so a system code
    // is written back unchanged.
    int32_t treeColor() const { return pending_.treeColor; }
    int32_t textTreeColor() const { return pending_.textTreeColor; }
    int32_t richColor() const { return pending_.richColor; }
    int32_t textRichColor() const { return pending_.textRichColor; }
    void setTreeColor(int32_t code);
    void setTextTreeColor(int32_t code);
    void setRichColor(int32_t code);
    void setTextRichColor(int32_t code);

    // The two fonts: an empty face leaves it unchanged, a longer one than
    // 31 characters is cut; sizes in points, kept as given.
    QString treeFontName() const;
    int treeFontSize() const { return pending_.treeFont.size; }
    QString textFontName() const;
    int textFontSize() const { return pending_.textFont.size; }
    void setTreeFontName(const QString &face);
    void setTreeFontSize(int size);
    void setTextFontName(const QString &face);
    void setTextFontSize(int size);

    void applyFonts(); // emits treeFontApplied, editorFontApplied
    // "Применить": emits dragDropApplied, treeColorsApplied, editorColorsApplied, then applied.
    void apply();
    // close(), isOpen() and toggle() come from CollapsiblePanel.

    // The handlers behind the panel's own controls, public so the window and tests can run them.
    void ok();                  // "ОК": apply and close
    void cancel();              // "Отмена": revert the four pending colors and close
    void chooseTreeColor();     // click on the tree swatch
    void chooseTreeTextColor(); // click on its caption
    void chooseRichColor();     // click on the editor swatch
    void chooseRichTextColor(); // click on its caption
    void chooseTreeFont();
    void chooseTextFont();

    QPushButton *treeFontButton() const { return treeFontButton_; } // Button5
    QPushButton *textFontButton() const { return textFontButton_; } // Button6
    QFrame *treeSwatch() const { return treeColorSwatch_; }         // Panel5
    QFrame *richSwatch() const { return richColorSwatch_; }         // Panel6
    QLabel *treeCaption() const { return treeTextLabel_; }          // Label1
    QLabel *richCaption() const { return richTextLabel_; }          // Label2

    static QColor colorFromValue(int32_t code); // system codes 5/8/15 -> palette Base/Text/Button
    // An RGB color as its code: red + 256*green + 65536*blue.
    static int32_t valueFromColor(const QColor &color);

    // Test hooks replacing the choosers (nullopt = cancelled). An empty function restores the default.
    static void setColorChooser(std::function<std::optional<QColor>(QWidget *, const QColor &initial)>);
    static void setFontChooser(std::function<std::optional<QFont>(QWidget *, const QFont &initial)>);
    // Forget what the choosers confirmed during this run (they open on black and the default font
    // again, the 16 custom colors are white).
    static void resetChooserState();
    // The font the chooser opens on for `font`: a font without a style of
    // its own gets the regular style of its face.
    static QFont withRegularStyle(const QFont &font);

signals:
    // The edited copy, handed back by "Применить" and "ОК".
    void applied(const Settings &settings);
    void dragDropApplied(bool enabled);
    void treeColorsApplied(const QColor &background, const QColor &text);
    void editorColorsApplied(const QColor &background, const QColor &text);
    void treeFontApplied(const QString &face, int pointSize);
    void editorFontApplied(const QString &face, int pointSize);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void opened() override;
    QSize sizeHint() const override;

private:
    std::optional<int32_t> pickColor();
    void chooseFont(QPushButton *button, FontSetting &setting);
    void showColors();
    void showChecks();
    // The caption is drawn in the face and style of the font it stands for,
    // at the panel's own size, so that it always fits the button.
    void showButtonFont(QPushButton *button, const FontSetting &setting);
    void fitContent();

    Settings pending_;
    // Colors last carried to the tree and the editor, restored by "Отмена".
    int32_t appliedTreeColor_ = pending_.treeColor;
    int32_t appliedTextTreeColor_ = pending_.textTreeColor;
    int32_t appliedRichColor_ = pending_.richColor;
    int32_t appliedTextRichColor_ = pending_.textRichColor;

    QScrollArea *scroll_ = nullptr;
    QWidget *content_ = nullptr; // the laid-out controls; the panel shows as much as its height allows
    QCheckBox *dragDropCheck_ = nullptr;
    QCheckBox *restoreCheck_ = nullptr;
    QCheckBox *backupCheck_ = nullptr;
    QCheckBox *linkSingleClickCheck_ = nullptr;
    QFrame *treeColorSwatch_ = nullptr;
    QFrame *richColorSwatch_ = nullptr;
    QLabel *treeTextLabel_ = nullptr;
    QLabel *richTextLabel_ = nullptr;
    QPushButton *treeFontButton_ = nullptr;
    QPushButton *textFontButton_ = nullptr;
};

} // namespace qv
