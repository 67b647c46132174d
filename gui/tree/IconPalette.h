// The collapsible icon palette above the tree: a header row (picture, strip
// and toggle) and 80 flat buttons, one per icon, in a grid below it.
#pragma once

#include <QFrame>
#include <QList>

class QLabel;
class QToolButton;

namespace qv {

class IconPalette : public QFrame { // objectName "Panel3", the panel color, height 24 or 200
    Q_OBJECT
public:
    static constexpr int kCollapsedHeight = 24;
    static constexpr int kExpandedHeight = 200;
    static constexpr int kColumns = 10;
    static constexpr int kRows = 8;

    explicit IconPalette(QWidget *parent = nullptr);
    void collapse();     // height 24, expand glyph, tooltip "Развернуть" (window creation)
    void fillPictures(); // start-up: buttons get their pictures from the image list
    bool isExpanded() const;
    void toggle(); // a click on the toggle, a double click on the header picture

    // The keyboard's way in: the palette opens and the focus goes to the
    // icon `number` (1..80). Inside, the arrow keys move among the icons,
    // Enter or Space sets the focused one, Esc leaves (left()).
    void enterIcons(int number);
    // The icon with the focus, 1..80, or 0.
    int focusedIcon() const;

    // bi1..bi80 by their number 1..80; any other number gives null.
    QToolButton *button(int number) const;
    QLabel *headerPicture() const { return headerPicture_; } // Image1
    QLabel *togglePicture() const { return togglePicture_; } // Image4

signals:
    void iconChosen(int value); // bi1..bi79 -> 1..79, bi80 -> 0
    void left();                // Esc on an icon: the focus is to go back to the tree

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showState(bool expanded);
    bool iconKey(QToolButton *button, int key);

    QLabel *headerPicture_ = nullptr;  // Image1
    QLabel *headerStrip_ = nullptr;    // Image2
    QLabel *togglePicture_ = nullptr;  // Image4
    QList<QToolButton *> iconButtons_; // bi1..bi80
};

} // namespace qv
