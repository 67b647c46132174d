// The settings strip at the top of the editor pane. Its controls are the
// store of the pending settings; the tree and the editor get them on apply.
#pragma once

#include <QColor>
#include <QFont>
#include "gui/common/CollapsiblePanel.h"
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class QAbstractButton;
class QCheckBox;
class QLabel;
class QPushButton;

class SettingsPanel : public CollapsiblePanel { // objectName "Panel4", height 0 or 178
    Q_OBJECT
public:
    static constexpr int kOpenHeight = 178;
    static constexpr int32_t kDefaultTreeColor = 14601924;
    static constexpr int32_t kWindowColor = -2147483643;      // system window background
    static constexpr int32_t kWindowTextColor = -2147483640;  // system window text
    static constexpr int32_t kBtnFaceColor = -2147483633;     // system button face
    static constexpr int kMaxFaceLength = 31;
    static inline const char kDefaultFace[] = "MS Sans Serif";
    static constexpr int kDefaultFontSize = 8;

    // toggleButton is SpeedButton10 (checkable, in the editor toolbar).
    SettingsPanel(QAbstractButton *toggleButton, QWidget *parent = nullptr);
    QCheckBox *checkBox1() const;     // "Разрешить перетаскивание элементов дерева"  (DragDrop)
    QCheckBox *checkBox2() const;     // "Запоминать позицию и размер окна"           (Restore)
    QCheckBox *checkBox3() const;     // "Создавать резервные копии базы данных"       (Backup)
    QCheckBox *checkBox4() const;     // "Отрабатывать ссылку при одиночном нажатии"   (Link)

    // Pending colours as colour codes (RGB 0..16777215 or system codes -2147483648+n), kept
    // exactly as read so a system code is written back unchanged.
    int32_t treeColor() const;      void setTreeColor(int32_t);      // Panel5 background
    int32_t textTreeColor() const;  void setTextTreeColor(int32_t);  // Label1 text
    int32_t richColor() const;      void setRichColor(int32_t);      // Panel6 background
    int32_t textRichColor() const;  void setTextRichColor(int32_t);  // Label2 text

    // Fonts of Button5 (tree) and Button6 (editor): face (an empty face leaves it unchanged,
    // longer than 31 characters is cut to 31) and size in points.
    QString treeFontName() const;  void setTreeFontName(const QString &);
    int treeFontSize() const;      void setTreeFontSize(int);
    QString textFontName() const;  void setTextFontName(const QString &);
    int textFontSize() const;      void setTextFontSize(int);

    void applyFonts();                // ApplyFonts: emits treeFontApplied, editorFontApplied
    void apply();                     // Button2Click: emits dragDropApplied, treeColorsApplied, editorColorsApplied
    // close(), isOpen() and toggle() (SpeedButton10Click) come from CollapsiblePanel.

    // The handlers behind the panel's own controls, public so the window and tests can run them.
    void ok();                        // Button1Click: apply and close
    void cancel();                    // Button3Click: revert the four pending colours and close
    void chooseTreeColor();           // Panel5Click
    void chooseTreeTextColor();       // Label1Click
    void chooseRichColor();           // Panel6Click
    void chooseRichTextColor();       // Label2Click
    void chooseTreeFont();            // Button5Click
    void chooseTextFont();            // Button6Click

    QPushButton *treeFontButton() const;  // Button5
    QPushButton *textFontButton() const;  // Button6
    QFrame *treeSwatch() const;           // Panel5
    QFrame *richSwatch() const;           // Panel6
    QLabel *treeCaption() const;          // Label1
    QLabel *richCaption() const;          // Label2

    static QColor colorFromValue(int32_t code);  // system codes 5/8/15 -> palette Base/Text/Button
    // An RGB colour as its code: red + 256*green + 65536*blue.
    static int32_t valueFromColor(const QColor &color);

    // Test hooks replacing the choosers (nullopt = cancelled). An empty function restores the default.
    static void setColorChooser(std::function<std::optional<QColor>(QWidget *, const QColor &initial)>);
    static void setFontChooser(std::function<std::optional<QFont>(QWidget *, const QFont &initial)>);
    // Forget what the choosers confirmed during this run (they open on black and the default font
    // again, the 16 custom colours are white).
    static void resetChooserState();

signals:
    void dragDropApplied(bool enabled);
    void treeColorsApplied(const QColor &background, const QColor &text);
    void editorColorsApplied(const QColor &background, const QColor &text);
    void treeFontApplied(const QString &face, int pointSize);
    void editorFontApplied(const QString &face, int pointSize);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    std::optional<int32_t> pickColor();
    void chooseFont(QPushButton *button, QString &face, int &size);
    void showColors();
    void setButtonFont(QPushButton *button, const QString &face, int size);

    QCheckBox *m_checkBoxes[4] = {};
    QFrame *m_panel5 = nullptr;
    QFrame *m_panel6 = nullptr;
    QLabel *m_label1 = nullptr;
    QLabel *m_label2 = nullptr;
    QPushButton *m_button5 = nullptr;
    QPushButton *m_button6 = nullptr;

    // Pending codes shown by the swatches.
    int32_t m_treeColor = kDefaultTreeColor;
    int32_t m_textTreeColor = kWindowTextColor;
    int32_t m_richColor = kWindowColor;
    int32_t m_textRichColor = kWindowTextColor;
    // Codes last carried to the tree and the editor, restored by "Отмена".
    int32_t m_appliedTreeColor = kDefaultTreeColor;
    int32_t m_appliedTextTreeColor = kWindowTextColor;
    int32_t m_appliedRichColor = kWindowColor;
    int32_t m_appliedTextRichColor = kWindowTextColor;
    // Face and size of the two font buttons, kept as given (a size of 0 or less included).
    QString m_treeFace;
    int m_treeSize = 8;
    QString m_textFace;
    int m_textSize = 8;
};
