#include "settings/Settings.h"

#include "settings/SettingsFile.h"

namespace qv {

namespace {

const Bytes kBase = "Base";
const Bytes kWindow = "Window";

} // namespace

void setFace(FontSetting &font, const Bytes &face)
{
    if (!face.empty())
        font.face = face.substr(0, Settings::kMaxFaceLength);
}

void readBackup(const SettingsFile &file, Settings &settings)
{
    settings.backup = file.readFlag(kBase, "Backup", settings.backup);
}

void readTreeWidthAndDragDrop(const SettingsFile &file, Settings &settings)
{
    // The stored width replaces the current one, not defaults to it.
    settings.treeWidth = file.readNumber(kWindow, "TreeWidth", kTreeWidth);
    settings.dragDrop = file.readFlag(kBase, "DragDrop", settings.dragDrop);
}

void readPlacement(const SettingsFile &file, Settings &settings)
{
    settings.restore = file.readFlag(kWindow, "Restore", settings.restore);
    if (!settings.restore)
        return;
    Placement &p = settings.placement;
    p.windowState = file.readNumber(kWindow, "WindowState", 1);
    if (p.windowState == 1)
        return;
    p.top = file.readNumber(kWindow, "Top", p.top);
    p.left = file.readNumber(kWindow, "Left", p.left);
    p.height = file.readNumber(kWindow, "Height", p.height);
    p.width = file.readNumber(kWindow, "Width", p.width);
}

void readFonts(const SettingsFile &file, Settings &settings)
{
    setFace(settings.treeFont, file.readEntry(kBase, "TreeFontName", settings.treeFont.face));
    settings.treeFont.size = file.readNumber(kBase, "TreeFontSize", settings.treeFont.size);
    setFace(settings.textFont, file.readEntry(kBase, "TextFontName", settings.textFont.face));
    settings.textFont.size = file.readNumber(kBase, "TextFontSize", settings.textFont.size);
}

void readColors(const SettingsFile &file, Settings &settings)
{
    settings.treeColor = file.readNumber(kBase, "TreeColor", settings.treeColor);
    settings.richColor = file.readNumber(kBase, "RichColor", settings.richColor);
    settings.textTreeColor = file.readNumber(kBase, "TextTreeColor", settings.textTreeColor);
    settings.textRichColor = file.readNumber(kBase, "TextRichColor", settings.textRichColor);
}

void readLink(const SettingsFile &file, Settings &settings)
{
    settings.linkSingleClick = file.readFlag(kBase, "Link", settings.linkSingleClick);
}

void writeSettings(SettingsFile &file, const Settings &settings)
{
    file.writeNumber(kBase, "TreeColor", settings.treeColor);
    file.writeNumber(kBase, "TextTreeColor", settings.textTreeColor);
    file.writeNumber(kBase, "RichColor", settings.richColor);
    file.writeNumber(kBase, "TextRichColor", settings.textRichColor);
    file.writeFlag(kBase, "DragDrop", settings.dragDrop);
    file.writeFlag(kBase, "Link", settings.linkSingleClick);
    file.writeFlag(kBase, "Backup", settings.backup);
    file.writeFlag(kWindow, "Restore", settings.restore);
    file.writeNumber(kWindow, "TreeWidth", settings.treeWidth);
    file.writeEntry(kBase, "TreeFontName", settings.treeFont.face);
    file.writeNumber(kBase, "TreeFontSize", settings.treeFont.size);
    file.writeEntry(kBase, "TextFontName", settings.textFont.face);
    file.writeNumber(kBase, "TextFontSize", settings.textFont.size);
    const Placement &p = settings.placement;
    if (p.windowState == 1) {
        file.writeNumber(kWindow, "WindowState", 1);
        return;
    }
    file.writeNumber(kWindow, "WindowState", 0);
    file.writeNumber(kWindow, "Top", p.top);
    file.writeNumber(kWindow, "Left", p.left);
    file.writeNumber(kWindow, "Height", p.height);
    file.writeNumber(kWindow, "Width", p.width);
}

} // namespace qv
