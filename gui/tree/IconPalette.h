// The collapsible icon palette above the tree: 80 flat buttons, one per icon.
#pragma once

#include <QFrame>
#include <QList>

class QLabel;
class QToolButton;

class IconPalette : public QFrame {   // objectName "Panel3", the panel color, height 24 or 200
    Q_OBJECT
public:
    static constexpr int kCollapsedHeight = 24;
    static constexpr int kExpandedHeight = 200;
    static constexpr int kColumns = 10;
    static constexpr int kRows = 8;

    explicit IconPalette(QWidget *parent = nullptr);
    void collapse();                  // height 24, expand glyph, tooltip "Развернуть" (window creation)
    void fillPictures();              // start-up: buttons get their pictures from the image list
    bool isExpanded() const;
    void toggle();                    // Image4Click

    // bi1..bi80 by their number 1..80; any other number gives null.
    QToolButton *button(int number) const;
    QLabel *headerPicture() const { return m_header; }  // Image1
    QLabel *togglePicture() const { return m_toggle; }  // Image4

signals:
    void iconChosen(int value);       // bi1Click: bi1..bi79 -> 1..79, bi80 -> 0

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void showState(bool expanded);
    void placeHeader();

    QLabel *m_header = nullptr;       // Image1
    QLabel *m_strip = nullptr;        // Image2
    QLabel *m_toggle = nullptr;       // Image4
    QList<QToolButton *> m_buttons;   // bi1..bi80
};
