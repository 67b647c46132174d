#include "settings/Settings.h"

#include "settings/SettingsFile.h"

#include <algorithm>

namespace qv {

namespace {

const Bytes kBase = "Base";
const Bytes kWindow = "Window";

int32_t extent(int32_t value) { return std::clamp(value, 0, kMaxScreenExtent); }
int32_t coordinate(int32_t value) { return std::clamp(value, kMinScreenCoordinate, kMaxScreenExtent); }
int32_t fontSize(int32_t value) { return std::min(value, kMaxFontSize); }

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
    settings.treeWidth = extent(file.readNumber(kWindow, "TreeWidth", kTreeWidth));
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
    p.top = coordinate(file.readNumber(kWindow, "Top", p.top));
    p.left = coordinate(file.readNumber(kWindow, "Left", p.left));
    p.height = extent(file.readNumber(kWindow, "Height", p.height));
    p.width = extent(file.readNumber(kWindow, "Width", p.width));
}

void readFonts(const SettingsFile &file, Settings &settings)
{
    setFace(settings.treeFont, file.readEntry(kBase, "TreeFontName", settings.treeFont.face));
    settings.treeFont.size = fontSize(file.readNumber(kBase, "TreeFontSize", settings.treeFont.size));
    setFace(settings.textFont, file.readEntry(kBase, "TextFontName", settings.textFont.face));
    settings.textFont.size = fontSize(file.readNumber(kBase, "TextFontSize", settings.textFont.size));
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
    // Every key in the close's order, written as one replacement of the file.
    std::vector<SettingsFile::Entry> entries;
    auto number = [&entries](const Bytes &section, const char *key, int32_t value) {
        entries.push_back({section, key, decimal(value)});
    };
    auto flag = [&entries](const Bytes &section, const char *key, bool value) {
        entries.push_back({section, key, value ? "1" : "0"});
    };
    number(kBase, "TreeColor", settings.treeColor);
    number(kBase, "TextTreeColor", settings.textTreeColor);
    number(kBase, "RichColor", settings.richColor);
    number(kBase, "TextRichColor", settings.textRichColor);
    flag(kBase, "DragDrop", settings.dragDrop);
    flag(kBase, "Link", settings.linkSingleClick);
    flag(kBase, "Backup", settings.backup);
    flag(kWindow, "Restore", settings.restore);
    number(kWindow, "TreeWidth", settings.treeWidth);
    entries.push_back({kBase, "TreeFontName", settings.treeFont.face});
    number(kBase, "TreeFontSize", settings.treeFont.size);
    entries.push_back({kBase, "TextFontName", settings.textFont.face});
    number(kBase, "TextFontSize", settings.textFont.size);
    const Placement &p = settings.placement;
    if (p.windowState == 1) {
        number(kWindow, "WindowState", 1);
    } else {
        number(kWindow, "WindowState", 0);
        number(kWindow, "Top", p.top);
        number(kWindow, "Left", p.left);
        number(kWindow, "Height", p.height);
        number(kWindow, "Width", p.width);
    }
    file.writeEntries(entries);
}

} // namespace qv
