#include "config/well_known_locations.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
    // A directory that does not exist yet, under one that takes no new entries.
    EXPECT_FALSE(ProbeDirectoryWritable(WideString(u"/proc/nonexistent/dir/")));
    EXPECT_EQ(ListNames(tmp), std::vector<std::string>());
  }
  {
    EnvironmentOverride tmpdir("TMPDIR", nullptr);
    EXPECT_TRUE(ProbeDirectoryWritable(FromLocaleBytes(NarrowString((target + "/").c_str()))));
    EXPECT_EQ(ListNames(target), std::vector<std::string>());
  }
}

// The probe's answer in a child process, run as the user nobody where the tests run as root
// (whom permission bits do not stop).
bool ProbeAsUser(const std::string& directory) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
    _exit(ProbeDirectoryWritable(FromLocaleBytes(NarrowString(directory.c_str()))) ? 1 : 0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1) << directory;
  return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

// A location that does not exist yet is usable where it could be made: its nearest existing
// ancestor takes new entries. TMPDIR, writable for everybody, answers for nothing.
TEST(WellKnownLocations, AMissingLocationIsUsableOnlyWhereItCouldBeMade) {
  ScratchDirectory folder;
  ASSERT_EQ(chmod(folder.Path().c_str(), 0755), 0);
  const std::string writable = folder.Child("writable");
  const std::string read_only = folder.Child("read-only");
  ASSERT_EQ(mkdir(writable.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(read_only.c_str(), 0555), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(writable.c_str(), 65534, 65534), 0);
  }
  ASSERT_TRUE(WriteWholeFile(writable + "/file", "x"));
  EnvironmentOverride tmpdir("TMPDIR", "/tmp");
  EXPECT_TRUE(ProbeAsUser(writable + "/missing/deeper/"));
  EXPECT_TRUE(ProbeAsUser(writable));
  EXPECT_FALSE(ProbeAsUser(read_only + "/missing/deeper"));
  EXPECT_FALSE(ProbeAsUser(read_only));
  EXPECT_FALSE(ProbeAsUser(writable + "/file/sub"));
  EXPECT_EQ(ListNames(writable), std::vector<std::string>{"file"});
  EXPECT_EQ(ListNames(read_only), std::vector<std::string>());
  chmod(read_only.c_str(), 0755);
}

}  // namespace
