// The settings struct against the file: what each group of reads takes, and
// the close's writes.
#include "TestSupport.h"

#include "settings/Settings.h"
#include "settings/SettingsFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace qv;
using qvtest::TempDir;

namespace {

class SettingsStructTest : public ::testing::Test {
protected:
    SettingsStructTest() { ini.open(dir.file("Quorvel.ini")); }
    void setFile(const std::string &bytes) { qvtest::writeFile(ini.path(), bytes); }
    std::string file() const { return qvtest::readFile(ini.path()); }

    TempDir dir;
    SettingsFile ini;
};

const char kEveryKey[]
    = "[Base]\r\nTreeColor=1\r\nTextTreeColor=2\r\nRichColor=3\r\nTextRichColor=4\r\nDragDrop=1\r\n"
      "Link=1\r\nBackup=0\r\nTreeFontName=Tree Face\r\nTreeFontSize=11\r\nTextFontName=Text Face\r\n"
      "TextFontSize=12\r\n[Window]\r\nRestore=1\r\nTreeWidth=300\r\nWindowState=0\r\nTop=5\r\n"
      "Left=6\r\nHeight=400\r\nWidth=500\r\n";

} // namespace

TEST_F(SettingsStructTest, EachGroupReadsOnlyItsKeys)
{
    setFile(kEveryKey);
    Settings s;
    readBackup(ini, s);
    EXPECT_FALSE(s.backup);
    EXPECT_FALSE(s.dragDrop);
    readTreeWidthAndDragDrop(ini, s);
    EXPECT_EQ(s.treeWidth, 300);
    EXPECT_TRUE(s.dragDrop);
    EXPECT_EQ(s.placement.top, 0);
    readPlacement(ini, s);
    EXPECT_EQ(s.placement.windowState, 0);
    EXPECT_EQ(s.placement.top, 5);
    EXPECT_EQ(s.placement.left, 6);
    EXPECT_EQ(s.placement.height, 400);
    EXPECT_EQ(s.placement.width, 500);
    EXPECT_EQ(s.treeFont.face, Settings::kDefaultFace);
    readFonts(ini, s);
    EXPECT_EQ(s.treeFont.face, "Tree Face");
    EXPECT_EQ(s.treeFont.size, 11);
    EXPECT_EQ(s.textFont.face, "Text Face");
    EXPECT_EQ(s.textFont.size, 12);
    EXPECT_EQ(s.treeColor, colorcode::kPanel);
    readColors(ini, s);
    EXPECT_EQ(s.treeColor, 1);
    EXPECT_EQ(s.textTreeColor, 2);
    EXPECT_EQ(s.richColor, 3);
    EXPECT_EQ(s.textRichColor, 4);
    EXPECT_FALSE(s.linkSingleClick);
    readLink(ini, s);
    EXPECT_TRUE(s.linkSingleClick);

    // Written back unchanged, byte for byte.
    writeSettings(ini, s);
    EXPECT_EQ(file(), kEveryKey);
}

// Numbers past what a screen shows are clamped as they are read; the
// colors and the window state take any number.
TEST_F(SettingsStructTest, NumbersClampedToWhatAScreenShows)
{
    setFile("[Base]\r\nTreeFontSize=2147483647\r\nTextFontSize=-5\r\nTreeColor=-2147483648\r\n"
            "[Window]\r\nTreeWidth=2147483647\r\nWindowState=-9\r\nTop=-2147483648\r\n"
            "Left=2147483647\r\nHeight=-1\r\nWidth=99999\r\n");
    Settings s;
    readTreeWidthAndDragDrop(ini, s);
    readPlacement(ini, s);
    readFonts(ini, s);
    readColors(ini, s);
    EXPECT_EQ(s.treeWidth, kMaxScreenExtent);
    EXPECT_EQ(s.treeFont.size, kMaxFontSize);
    EXPECT_EQ(s.textFont.size, -5);
    EXPECT_EQ(s.treeColor, INT32_MIN);
    EXPECT_EQ(std::vector<int32_t>({s.placement.windowState, s.placement.top, s.placement.left,
                                    s.placement.width, s.placement.height}),
              std::vector<int32_t>({-9, kMinScreenCoordinate, kMaxScreenExtent, kMaxScreenExtent, 0}));
}

TEST_F(SettingsStructTest, PlacementKeysDependOnRestoreAndWindowState)
{
    Settings s;
    s.placement = {0, 10, 20, 30, 40}; // the window's current rectangle
    setFile("[Window]\r\nRestore=0\r\nWindowState=0\r\nTop=1\r\n");
    readPlacement(ini, s);
    EXPECT_FALSE(s.restore);
    EXPECT_EQ(s.placement.top, 10);

    s.restore = true;
    setFile("[Window]\r\nWindowState=7\r\nTop=1\r\nWidth=junk\r\n");
    readPlacement(ini, s);
    EXPECT_EQ(s.placement.windowState, 7);
    EXPECT_EQ(s.placement.top, 1);
    EXPECT_EQ(s.placement.left, 20);  // missing: the current value
    EXPECT_EQ(s.placement.width, 30); // malformed: the current value

    setFile("[Window]\r\nTop=1\r\n"); // WindowState defaults to maximized
    s.placement.top = 10;
    readPlacement(ini, s);
    EXPECT_EQ(s.placement.windowState, 1);
    EXPECT_EQ(s.placement.top, 10);
}

TEST_F(SettingsStructTest, FirstCloseWritesDefaultsAndMaximizedLeavesPlacement)
{
    Settings s;
    s.placement = {0, 1, 2, 3, 4};
    setFile("[Window]\r\nTop=99\r\n");
    readFonts(ini, s); // a missing face keeps the default
    s.placement.windowState = 1;
    writeSettings(ini, s);
    EXPECT_EQ(file(),
              "[Window]\r\nTop=99\r\nRestore=1\r\nTreeWidth=222\r\nWindowState=1\r\n"
              "[Base]\r\nTreeColor=14601924\r\nTextTreeColor=-2147483640\r\n"
              "RichColor=-2147483643\r\nTextRichColor=-2147483640\r\nDragDrop=0\r\nLink=0\r\n"
              "Backup=1\r\nTreeFontName=MS Sans Serif\r\nTreeFontSize=8\r\n"
              "TextFontName=MS Sans Serif\r\nTextFontSize=8\r\n");
}

TEST(SettingsFace, EmptyKeepsAndLongIsCut)
{
    FontSetting f;
    f.face = "Old";
    setFace(f, "");
    EXPECT_EQ(f.face, "Old");
    setFace(f, std::string(40, 'x'));
    EXPECT_EQ(f.face, std::string(31, 'x'));
}
