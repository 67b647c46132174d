// Which folder holds the catalogue: portable beside the executable, or the
// user's data folder for an installed program.
#include "TestSupport.h"

#include "storage/CatalogHome.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <sys/stat.h>

using namespace qv;

namespace {

struct HomeCase {
    const char *name;
    CatalogHomeFacts facts;
    const char *expected;
};

CatalogHomeFacts facts(std::string exeDir, std::string bindir, bool writable, bool hasCatalog, bool root,
                       std::optional<std::string> xdg = std::string("/home/u/.data"))
{
    return {std::move(exeDir), std::move(bindir), writable, hasCatalog, root, std::move(xdg), "/home/u"};
}

class CatalogHomeChoice : public ::testing::TestWithParam<HomeCase> {};

TEST_P(CatalogHomeChoice, PicksTheFolder)
{
    EXPECT_EQ(chooseCatalogHome(GetParam().facts), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CatalogHomeChoice,
    ::testing::Values(
        HomeCase{"portable", facts("/home/u/q/", "/usr/local/bin", true, false, false), "/home/u/q/"},
        HomeCase{"portableAsRoot", facts("/opt/q/", "/usr/bin", true, false, true), "/opt/q/"},
        HomeCase{"installedBindir", facts("/usr/local/bin/", "/usr/local/bin/", true, false, false),
                 "/home/u/.data/quorvel/"},
        HomeCase{"bindirSpeltLoosely", facts("/usr/bin/", "/usr/./bin//", true, false, false),
                 "/home/u/.data/quorvel/"},
        HomeCase{"readOnlyFolder", facts("/srv/q/", "/usr/bin", false, false, false),
                 "/home/u/.data/quorvel/"},
        HomeCase{"rootInBindir", facts("/usr/bin/", "/usr/bin", true, false, true), "/home/u/.data/quorvel/"},
        HomeCase{"rootInSystemBinOfAnotherPrefix", facts("/usr/bin/", "/usr/local/bin", true, false, true),
                 "/home/u/.data/quorvel/"},
        HomeCase{"rootNeverUsesBindirEvenWithCatalog", facts("/usr/bin/", "/usr/bin", true, true, true),
                 "/home/u/.data/quorvel/"},
        HomeCase{"catalogueInBindirStays", facts("/usr/local/bin/", "/usr/local/bin", true, true, false),
                 "/usr/local/bin/"},
        HomeCase{"catalogueInReadOnlyFolderStays", facts("/srv/q/", "/usr/bin", false, true, false),
                 "/srv/q/"},
        HomeCase{"xdgUnset", facts("/usr/bin/", "/usr/bin", false, false, false, std::nullopt),
                 "/home/u/.local/share/quorvel/"},
        HomeCase{"xdgEmpty", facts("/usr/bin/", "/usr/bin", false, false, false, std::string()),
                 "/home/u/.local/share/quorvel/"},
        HomeCase{"xdgRelativeIgnored",
                 facts("/usr/bin/", "/usr/bin", false, false, false, std::string("data")),
                 "/home/u/.local/share/quorvel/"}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

// The facts of a real read-only folder as a non-root user, and the data
// folder created private on first use.
TEST(CatalogHome, ReadOnlyFolderGivesAPrivateDataFolder)
{
    qvtest::TempDir tmp;
    ::mkdir(tmp.file("bin").c_str(), 0555);
    ::mkdir(tmp.file("home").c_str(), 0777);
    ::chmod(tmp.file("home").c_str(), 0777);
    qvtest::runAsNobody([&] {
        ::setenv("HOME", tmp.file("home").c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
        const std::string exe = tmp.file("bin/quorvel");
        const CatalogHomeFacts f = catalogHomeFacts(exe, "/usr/bin");
        EXPECT_FALSE(f.exeDirWritable);
        EXPECT_FALSE(f.root);
        const std::string dir = catalogHome(exe, "/usr/bin");
        EXPECT_EQ(dir, tmp.file("home/.local/share/quorvel/"));
        struct stat st;
        ASSERT_EQ(::stat(dir.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    });
    ::chmod(tmp.file("bin").c_str(), 0755);
}

} // namespace
