// The user's preferences as plain data: what "Quorvel.ini" is read into and
// written from, what the settings panel edits and what the window applies.
#pragma once

#include "catalog/Text.h"

#include <cstdint>

namespace qv {

// Color codes: 0..16777215 is red + 256*green + 65536*blue; a code with the
// top bit set names the system color in its low byte.
namespace colorcode {
inline constexpr int32_t kWindow = -2147483643;     // system window background
inline constexpr int32_t kWindowText = -2147483640; // system window text
inline constexpr int32_t kButtonFace = -2147483633; // system button face
// The panels' fixed light blue-grey (red 196, green 206, blue 222), also
// the tree's default background.
inline constexpr int32_t kPanel = 14601924;

constexpr int red(int32_t code) { return int(uint32_t(code) & 0xFF); }
constexpr int green(int32_t code) { return int((uint32_t(code) >> 8) & 0xFF); }
constexpr int blue(int32_t code) { return int((uint32_t(code) >> 16) & 0xFF); }
} // namespace colorcode

// The tree pane's width when the settings give none, and its minimum.
inline constexpr int32_t kTreeWidth = 222;

// The bounds a number read from the settings file is clamped to, so a
// received file cannot ask for more than a screen shows: pixel extents
// (the tree's width, the placement's width and height) and coordinates
// (the placement's top and left) within a window system's 16-bit range,
// font sizes at most kMaxFontSize points (0 and below are kept).
inline constexpr int32_t kMaxScreenExtent = 32767;
inline constexpr int32_t kMinScreenCoordinate = -32768;
inline constexpr int32_t kMaxFontSize = 1000;

struct FontSetting {
    Bytes face;       // at most kMaxFaceLength characters
    int32_t size = 8; // points; 0 and below are kept as given
};

struct Placement {
    int32_t windowState = 1; // 1: maximized; anything else: the four values below
    // Outer rectangle, frame and caption included, in screen pixels.
    int32_t top = 0;
    int32_t left = 0;
    int32_t width = 0;
    int32_t height = 0;
};

struct Settings {
    static constexpr size_t kMaxFaceLength = 31;
    static inline const char kDefaultFace[] = "MS Sans Serif";

    int32_t treeColor = colorcode::kPanel;
    int32_t textTreeColor = colorcode::kWindowText;
    int32_t richColor = colorcode::kWindow;
    int32_t textRichColor = colorcode::kWindowText;
    FontSetting treeFont{kDefaultFace, 8};
    FontSetting textFont{kDefaultFace, 8};
    bool dragDrop = false;
    bool restore = true;
    bool backup = true;
    bool linkSingleClick = false;
    Placement placement;
    int32_t treeWidth = kTreeWidth;
};

// A face as a font setting keeps it: an empty face leaves the current one,
// a longer one is cut to kMaxFaceLength characters.
void setFace(FontSetting &font, const Bytes &face);

class SettingsFile;

// The reads, in the groups the window runs them in; each key's default is
// the value the struct holds. They raise what SettingsFile raises.
// At creation: Backup (before the backups are made), then TreeWidth and DragDrop.
void readBackup(const SettingsFile &file, Settings &settings);
void readTreeWidthAndDragDrop(const SettingsFile &file, Settings &settings);
// At the first activation: Restore and, when it is on, WindowState and, when
// that is not 1, Top, Left, Height, Width (defaults: settings.placement,
// which the caller fills with the window's current outer rectangle).
void readPlacement(const SettingsFile &file, Settings &settings);
void readFonts(const SettingsFile &file, Settings &settings);
void readColors(const SettingsFile &file, Settings &settings);
void readLink(const SettingsFile &file, Settings &settings);

// Every key in the fixed order of the close; with WindowState 1 the four
// placement keys are left as they are in the file. Raises
// ESettingsWriteError at the first refused write.
void writeSettings(SettingsFile &file, const Settings &settings);

} // namespace qv
