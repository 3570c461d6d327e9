#include "config/well_known_locations.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "testing/environment_override.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"
#include "text/locale_conversions.h"

namespace {

TEST(WellKnownLocations, PathsAreBuiltFromHome) {
  EnvironmentOverride home("HOME", "/home/u");
  EXPECT_EQ(LocaleBytesOf(HomeDirectory()), "/home/u");
  EXPECT_EQ(LocaleBytesOf(StarterConfigPath()), "/home/u/.Tavlo/tavlostart/tavlostart.cfg");
  EXPECT_EQ(LocaleBytesOf(AltStarterConfigPath()), "/home/u/.Tavlo/tavlostartt/tavlostart.cfg");
  EXPECT_EQ(LocaleBytesOf(CommonStarterConfigPath()),
            "/home/u/.tavlo5//.Tavlo/tavlostart/tavlostart.cfg");
  EXPECT_EQ(LocaleBytesOf(ProductDataDirectory() + u"tmplts" + u"/"),
            "/home/u/.tavlo5/Tavlo/tavlo5/tmplts/");
  EXPECT_EQ(LocaleBytesOf(ProductUserDirectory(1)), "/home/u/.tavlo5/");
}

TEST(WellKnownLocations, TildeAloneOrBeforeASlashIsTheHomeDirectory) {
  EnvironmentOverride home("HOME", "/home/u");
  EXPECT_EQ(LocaleBytesOf(ExpandHomeDirectory(WideString(u"~"))), "/home/u");
  EXPECT_EQ(LocaleBytesOf(ExpandHomeDirectory(WideString(u"~/mytpl"))), "/home/u/mytpl");
  // Another user's home, and a tilde anywhere else, are left as they are.
  EXPECT_EQ(LocaleBytesOf(ExpandHomeDirectory(WideString(u"~other/x"))), "~other/x");
  EXPECT_EQ(LocaleBytesOf(ExpandHomeDirectory(WideString(u"/a/~/b"))), "/a/~/b");
}

TEST(WellKnownLocations, ProbeAnswersForTheGivenDirectoryAndLeavesNothing) {
  ScratchDirectory tmp_folder;
  ScratchDirectory target_folder;
  const std::string tmp = tmp_folder.Path();
  const std::string target = target_folder.Path();
  {
    EnvironmentOverride tmpdir("TMPDIR", tmp.c_str());
    struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, target.c_str(), old_times, 0), 0);
    EXPECT_TRUE(ProbeDirectoryWritable(FromLocaleBytes(NarrowString(target.c_str()))));
    EXPECT_EQ(ListNames(target), std::vector<std::string>());
    struct stat after;
    ASSERT_EQ(stat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, 1000000000);
    // A directory nobody can create files in, root included; TMPDIR must not answer for it.
    EXPECT_FALSE(ProbeDirectoryWritable(WideString(u"/proc")));
    // A directory that does not exist yet counts as writable.
    EXPECT_TRUE(ProbeDirectoryWritable(WideString(u"/nonexistent/dir/")));
    EXPECT_EQ(ListNames(tmp), std::vector<std::string>());
  }
  {
    EnvironmentOverride tmpdir("TMPDIR", nullptr);
    EXPECT_TRUE(ProbeDirectoryWritable(FromLocaleBytes(NarrowString((target + "/").c_str()))));
    EXPECT_EQ(ListNames(target), std::vector<std::string>());
  }
}

}  // namespace
