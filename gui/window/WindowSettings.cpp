#include "gui/window/WindowSettings.h"

#include "settings/SettingsFile.h"
#include "gui/settings/SettingsPanel.h"
#include "gui/common/Codec.h"

#include <QCheckBox>
#include <QWidget>

namespace winsettings {

namespace {

const qv::Bytes kBase = "Base";
const qv::Bytes kWindow = "Window";

bool readCheck(const qv::SettingsFile &file, const qv::Bytes &section, const qv::Bytes &key,
               QCheckBox *box)
{
    box->setChecked(file.readFlag(section, key, box->isChecked()));
    return box->isChecked();
}

// The window's outer rectangle in the normal state.
QRect normalFrame(const QWidget &window)
{
    if (!(window.windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
        return window.frameGeometry();
    const QRect frame = window.frameGeometry();
    const QRect client = window.geometry();
    const QMargins margins(client.left() - frame.left(), client.top() - frame.top(),
                           frame.right() - client.right(), frame.bottom() - client.bottom());
    return window.normalGeometry().marginsAdded(margins);
}

} // namespace

bool readBackup(const qv::SettingsFile &file, SettingsPanel &panel)
{
    return readCheck(file, kBase, "Backup", panel.checkBox3());
}

int readTreeWidth(const qv::SettingsFile &file)
{
    return file.readNumber(kWindow, "TreeWidth", 222);
}

bool readDragDrop(const qv::SettingsFile &file, SettingsPanel &panel)
{
    return readCheck(file, kBase, "DragDrop", panel.checkBox1());
}

void readPlacement(const qv::SettingsFile &file, SettingsPanel &panel, QWidget &window)
{
    if (!readCheck(file, kWindow, "Restore", panel.checkBox2()))
        return;
    if (file.readNumber(kWindow, "WindowState", 1) == 1) {
        window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
        return;
    }
    window.setWindowState(window.windowState()
                          & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    // Each key defaults to the window's current value, read after the
    // previous key took effect. Sizes are outer sizes, frame included.
    const int top = file.readNumber(kWindow, "Top", window.frameGeometry().top());
    window.move(window.frameGeometry().left(), top);
    const int left = file.readNumber(kWindow, "Left", window.frameGeometry().left());
    window.move(left, window.frameGeometry().top());
    const int height = file.readNumber(kWindow, "Height", window.frameGeometry().height());
    window.resize(window.width(), height - (window.frameGeometry().height() - window.height()));
    const int width = file.readNumber(kWindow, "Width", window.frameGeometry().width());
    window.resize(width - (window.frameGeometry().width() - window.width()), window.height());
}

void readFonts(const qv::SettingsFile &file, SettingsPanel &panel)
{
    panel.setTreeFontName(qv::toQ(file.readEntry(kBase, "TreeFontName", qv::fromQ(panel.treeFontName()))));
    panel.setTreeFontSize(file.readNumber(kBase, "TreeFontSize", panel.treeFontSize()));
    panel.setTextFontName(qv::toQ(file.readEntry(kBase, "TextFontName", qv::fromQ(panel.textFontName()))));
    panel.setTextFontSize(file.readNumber(kBase, "TextFontSize", panel.textFontSize()));
    panel.applyFonts();
}

void readColors(const qv::SettingsFile &file, SettingsPanel &panel)
{
    panel.setTreeColor(file.readNumber(kBase, "TreeColor", panel.treeColor()));
    panel.setRichColor(file.readNumber(kBase, "RichColor", panel.richColor()));
    panel.setTextTreeColor(file.readNumber(kBase, "TextTreeColor", panel.textTreeColor()));
    panel.setTextRichColor(file.readNumber(kBase, "TextRichColor", panel.textRichColor()));
    panel.apply();
}

void readLink(const qv::SettingsFile &file, SettingsPanel &panel)
{
    readCheck(file, kBase, "Link", panel.checkBox4());
}

void writeAll(qv::SettingsFile &file, const SettingsPanel &panel, int treeWidth, const QWidget &window)
{
    file.writeNumber(kBase, "TreeColor", panel.treeColor());
    file.writeNumber(kBase, "TextTreeColor", panel.textTreeColor());
    file.writeNumber(kBase, "RichColor", panel.richColor());
    file.writeNumber(kBase, "TextRichColor", panel.textRichColor());
    file.writeFlag(kBase, "DragDrop", panel.checkBox1()->isChecked());
    file.writeFlag(kBase, "Link", panel.checkBox4()->isChecked());
    file.writeFlag(kBase, "Backup", panel.checkBox3()->isChecked());
    file.writeFlag(kWindow, "Restore", panel.checkBox2()->isChecked());
    file.writeNumber(kWindow, "TreeWidth", treeWidth);
    file.writeEntry(kBase, "TreeFontName", qv::fromQ(panel.treeFontName()));
    file.writeNumber(kBase, "TreeFontSize", panel.treeFontSize());
    file.writeEntry(kBase, "TextFontName", qv::fromQ(panel.textFontName()));
    file.writeNumber(kBase, "TextFontSize", panel.textFontSize());
    if (window.isMaximized()) {
        file.writeNumber(kWindow, "WindowState", 1);
        return;
    }
    file.writeNumber(kWindow, "WindowState", 0);
    const QRect r = normalFrame(window);
    file.writeNumber(kWindow, "Top", r.top());
    file.writeNumber(kWindow, "Left", r.left());
    file.writeNumber(kWindow, "Height", r.height());
    file.writeNumber(kWindow, "Width", r.width());
}

} // namespace winsettings
