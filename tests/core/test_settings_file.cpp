// The settings file: what reads make of hand-edited text, how writes change
// the file, and refused writes.
#include "TestSupport.h"

#include "catalog/Errors.h"
#include "settings/SettingsFile.h"
#include "storage/FileIo.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace qv;
using qvtest::TempDir;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() { ini.open(dir.file("Quorvel.ini")); }
    void setFile(const std::string &bytes) { qvtest::writeFile(ini.path(), bytes); }
    std::string file() const { return qvtest::readFile(ini.path()); }

    TempDir dir;
    SettingsFile ini;
};

struct NumberCase {
    const char *text; // what follows "TreeColor=" in the file
    int32_t expected; // with the default 14601924
};

void PrintTo(const NumberCase &c, std::ostream *os) { *os << '"' << c.text << '"'; }

class SettingsNumberTest : public SettingsTest, public ::testing::WithParamInterface<NumberCase> {};

constexpr int32_t kDef = 14601924;

} // namespace

TEST_P(SettingsNumberTest, ReadsOrFallsBackToDefault)
{
    setFile(std::string("[Base]\r\nTreeColor=") + GetParam().text + "\r\n");
    EXPECT_EQ(ini.readNumber("Base", "TreeColor", kDef), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, SettingsNumberTest,
                         // The syntax itself is the integer syntax's own; here what the file adds:
                         // blanks around the value, and a default instead of an error.
                         ::testing::Values(NumberCase{"$FF", 255}, NumberCase{"0xff", 255},
                                           NumberCase{"   255", 255}, NumberCase{"255  ", 255},
                                           NumberCase{"\t-7", -7}, NumberCase{"$80000005", -2147483643},
                                           NumberCase{"-$FF", kDef}, NumberCase{"255abc", kDef},
                                           NumberCase{"2147483648", kDef}, NumberCase{"", kDef}));

TEST_F(SettingsTest, FlagsAreNumbersWithNonZeroMeaningOn)
{
    setFile("[Base]\r\nA=yes\r\nB=2\r\nC=-1\r\nD=0\r\nE=$0\r\nF=\r\n");
    EXPECT_TRUE(ini.readFlag("Base", "A", true));
    EXPECT_FALSE(ini.readFlag("Base", "A", false));
    EXPECT_TRUE(ini.readFlag("Base", "B", false));
    EXPECT_TRUE(ini.readFlag("Base", "C", false));
    EXPECT_FALSE(ini.readFlag("Base", "D", true));
    EXPECT_FALSE(ini.readFlag("Base", "E", true));
    EXPECT_TRUE(ini.readFlag("Base", "F", true));
}

TEST_F(SettingsTest, MissingFileSectionOrKeyGivesDefaultButEmptyValueIsEmpty)
{
    EXPECT_EQ(ini.readEntry("Base", "TreeFontName", "MS Sans Serif"), "MS Sans Serif");
    EXPECT_EQ(ini.readNumber("Window", "TreeWidth", 222), 222);
    EXPECT_FALSE(fileExists(ini.path())); // reading never creates it

    setFile("[Base]\r\nTreeFontName=\r\n[Window]\r\n");
    EXPECT_EQ(ini.readEntry("Base", "TreeFontName", "MS Sans Serif"), "");
    EXPECT_EQ(ini.readEntry("Base", "TextFontName", "MS Sans Serif"), "MS Sans Serif");
    EXPECT_EQ(ini.readEntry("Other", "TreeFontName", "d"), "d");
    EXPECT_EQ(ini.readNumber("Window", "TreeWidth", 222), 222);
}

// A folder at the file's name is told once; the window then goes on with
// the defaults instead of stopping at every later read.
TEST_F(SettingsTest, EntryThatIsNoFileIsToldOnceThenReadsAsDefaults)
{
    ASSERT_EQ(::mkdir(ini.path().c_str(), 0777), 0);
    EXPECT_THROW(ini.readFlag("Base", "Backup", true), ENotRegularFile);
    EXPECT_EQ(ini.readNumber("Window", "TreeWidth", 222), 222);
    EXPECT_EQ(ini.readEntry("Base", "TreeFontName", "d"), "d");
}

TEST_F(SettingsTest, NamesMatchWithoutCaseIncludingCyrillic)
{
    setFile(W("[base]\r\ntreecolor=5\r\n[ОКНО]\r\nШирина=9\r\n"));
    EXPECT_EQ(ini.readNumber("Base", "TreeColor", 0), 5);
    EXPECT_EQ(ini.readNumber("BASE", "TREECOLOR", 0), 5);
    EXPECT_EQ(ini.readNumber(W("Окно"), W("шИРИНА"), 0), 9);
    EXPECT_EQ(ini.readNumber("Window", "TreeColor", 0), 0); // not across sections
}

TEST_F(SettingsTest, BlanksQuotesCommentsAndDuplicates)
{
    setFile("TreeColor=1\r\n" // before any section: no section's key
            "[Base\r\n"       // no closing bracket: no header
            "Link=1\r\n"
            "; TreeColor=1\r\n"
            "  [ Base ]  \r\n"
            ";TreeColor=2\r\n"
            "  TreeFontName \t=  \"  Arial  \"  \r\n"
            "TextFontName='Courier New'\r\n"
            "Odd=\"half'\r\n"
            "TreeColor=3\r\n"
            "treecolor=4\r\n"
            "NoEquals\r\n"
            "Backup=0\x1A\r\n"
            "[Base]\r\n"
            "TreeColor=5\r\n"
            "Link=1\r\n");
    EXPECT_EQ(ini.readEntry("Base", "TreeFontName", ""), "  Arial  ");
    EXPECT_EQ(ini.readEntry("Base", "TextFontName", ""), "Courier New");
    EXPECT_EQ(ini.readEntry("Base", "Odd", ""), "\"half'");
    EXPECT_EQ(ini.readNumber("Base", "TreeColor", 0), 3);
    EXPECT_EQ(ini.readEntry("Base", "NoEquals", "d"), "d");
    EXPECT_FALSE(ini.readFlag("Base", "Backup", true)); // a trailing DOS end-of-file byte is a blank
    // The first of two sections of one name is the one used.
    EXPECT_FALSE(ini.readFlag("Base", "Link", false));
}

TEST_F(SettingsTest, LongValueIsCutAfter2047Characters)
{
    const std::string longValue(3000, 'x');
    setFile("[Base]\r\nTreeFontName=" + longValue + "\r\n");
    EXPECT_EQ(ini.readEntry("Base", "TreeFontName", ""), std::string(2047, 'x'));
    ini.writeEntry("Base", "TreeFontName", std::string(2047, 'y') + "z");
    EXPECT_EQ(ini.readEntry("Base", "TreeFontName", ""), std::string(2047, 'y'));
}

TEST_F(SettingsTest, UpdateInPlaceKeepsEverythingElse)
{
    const std::string before = "; my settings\r\n"
                               "[base]\r\n"
                               "treecolor = 1   \r\n"
                               "Extra=keep\r\n"
                               "\r\n"
                               "[Window]\r\n"
                               "TreeWidth=300\r\n";
    setFile(before);
    ini.writeNumber("Base", "TreeColor", -2147483633);
    EXPECT_EQ(file(),
              "; my settings\r\n"
              "[base]\r\n"
              "treecolor=-2147483633\r\n"
              "Extra=keep\r\n"
              "\r\n"
              "[Window]\r\n"
              "TreeWidth=300\r\n");
    EXPECT_EQ(ini.readNumber("Base", "TreeColor", 0), -2147483633);
}

TEST_F(SettingsTest, MissingKeyGoesToSectionEndMissingSectionToFileEnd)
{
    setFile("[Base]\r\n"
            "Link=1\r\n"
            "; last line of Base\r\n"
            "\r\n"
            "\r\n"
            "[Window]\r\n"
            "Restore=0\r\n");
    ini.writeFlag("Base", "Backup", false);
    ini.writeNumber("Window", "TreeWidth", 250);
    ini.writeEntry("Extra", "Name", "value");
    EXPECT_EQ(file(),
              "[Base]\r\n"
              "Link=1\r\n"
              "; last line of Base\r\n"
              "Backup=0\r\n"
              "\r\n"
              "\r\n"
              "[Window]\r\n"
              "Restore=0\r\n"
              "TreeWidth=250\r\n"
              "[Extra]\r\n"
              "Name=value\r\n");
}

TEST_F(SettingsTest, LfOnlyFileAndMissingFinalLineEndKeepTheirLines)
{
    setFile("[Base]\nLink=1\nBackup=1\n[Window]\nRestore=1");
    ini.writeFlag("Base", "Link", false);
    ini.writeNumber("Window", "Top", 10);
    EXPECT_EQ(file(), "[Base]\nLink=0\r\nBackup=1\n[Window]\nRestore=1\nTop=10\r\n");

    setFile("[Base]\r\nLink=1");
    ini.writeNumber("Window", "Top", -5);
    EXPECT_EQ(file(), "[Base]\r\nLink=1\r\n[Window]\r\nTop=-5\r\n");
}

TEST_F(SettingsTest, FirstRunCloseWritesTheExpectedFile)
{
    // The close sequence with every control at its default, window maximised.
    ini.writeNumber("Base", "TreeColor", 14601924);
    ini.writeNumber("Base", "TextTreeColor", -2147483640);
    ini.writeNumber("Base", "RichColor", -2147483643);
    ini.writeNumber("Base", "TextRichColor", -2147483640);
    ini.writeFlag("Base", "DragDrop", false);
    ini.writeFlag("Base", "Link", false);
    ini.writeFlag("Base", "Backup", true);
    ini.writeFlag("Window", "Restore", true);
    ini.writeNumber("Window", "TreeWidth", 222);
    ini.writeEntry("Base", "TreeFontName", "MS Sans Serif");
    ini.writeNumber("Base", "TreeFontSize", 8);
    ini.writeEntry("Base", "TextFontName", "MS Sans Serif");
    ini.writeNumber("Base", "TextFontSize", 8);
    ini.writeNumber("Window", "WindowState", 1);
    EXPECT_EQ(file(),
              "[Base]\r\n"
              "TreeColor=14601924\r\n"
              "TextTreeColor=-2147483640\r\n"
              "RichColor=-2147483643\r\n"
              "TextRichColor=-2147483640\r\n"
              "DragDrop=0\r\n"
              "Link=0\r\n"
              "Backup=1\r\n"
              "TreeFontName=MS Sans Serif\r\n"
              "TreeFontSize=8\r\n"
              "TextFontName=MS Sans Serif\r\n"
              "TextFontSize=8\r\n"
              "[Window]\r\n"
              "Restore=1\r\n"
              "TreeWidth=222\r\n"
              "WindowState=1\r\n");
    // A second identical close changes nothing.
    const std::string once = file();
    ini.writeNumber("Base", "TreeColor", 14601924);
    ini.writeNumber("Window", "WindowState", 1);
    EXPECT_EQ(file(), once);
}

TEST_F(SettingsTest, WriteKeepsPermissions)
{
    qvtest::writeFile(ini.path(), "[Base]\r\nLink=1\r\n", 0600);
    ini.writeFlag("Base", "Link", false);
    EXPECT_EQ(qvtest::fileMode(ini.path()), 0600u);
    EXPECT_EQ(qvtest::listing(dir.path()), "Quorvel.ini");
}

TEST_F(SettingsTest, RefusedWritesRaiseTheSettingsErrorAndChangeNothing)
{
    const std::string content = "[Base]\r\nLink=1\r\n";
    qvtest::writeFile(ini.path(), content, 0444);
    ASSERT_EQ(::mkdir(dir.file("ro").c_str(), 0555), 0);
    SettingsFile inRoDir;
    inRoDir.open(dir.file("ro/Quorvel.ini"));
    qvtest::runAsNobody([&] {
        for (SettingsFile *s : {&ini, &inRoDir}) {
            try {
                s->writeFlag("Base", "Link", false);
                ADD_FAILURE() << "write to " << s->path() << " was not refused";
            } catch (const ESettingsWriteError &e) {
                EXPECT_EQ(e.message(), W("Не могу записать в ") + s->path());
            }
        }
        // Reading still works.
        EXPECT_TRUE(ini.readFlag("Base", "Link", false));
    });
    EXPECT_EQ(file(), content);
    EXPECT_EQ(qvtest::listing(dir.path()), "Quorvel.ini ro");
    EXPECT_EQ(qvtest::listing(dir.file("ro")), "");
}

// The close writes every key in one replacement of the file, to the bytes
// the writes one by one give, whatever the file held.
TEST_F(SettingsTest, BatchWriteGivesTheBytesOfOneByOneWritesWithOneSync)
{
    const std::vector<SettingsFile::Entry> entries = {
        {"Base", "TreeColor", "1"}, {"window", "TOP", "5"}, {"New", "Key", "x"},
        {"Base", "TreeColor", "2"}, {"Base", "Added", ""},  {"New", "Other", "y"},
    };
    for (const char *start : {"", "[Base]\nTreeColor=9\n; c\n\n[Window]\r\ntop=1", "x=1\r\n[BASE]\r\n"}) {
        setFile(start);
        for (const SettingsFile::Entry &e : entries)
            ini.writeEntry(e.section, e.key, e.value);
        const std::string oneByOne = file();
        setFile(start);
        const long long syncs = os::syncCount();
        ini.writeEntries(entries);
        EXPECT_EQ(os::syncCount() - syncs, 1);
        EXPECT_EQ(file(), oneByOne) << start;
    }
}
