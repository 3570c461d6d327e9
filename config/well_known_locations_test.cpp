#include "config/well_known_locations.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "text/locale_conversions.h"

namespace {

std::string Bytes(const WideString& w) { return ToLocaleBytes(w).CStr(); }

int CountEntries(const std::string& dir) {
  int n = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvVar() {
    if (had_)
      setenv(name_.c_str(), old_.c_str(), 1);
    else
      unsetenv(name_.c_str());
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

std::string MakeScratchDir() {
  std::string templ = "/tmp/probe.XXXXXX";
  if (!mkdtemp(templ.data())) return "";
  return templ;
}

TEST(WellKnownLocations, PathsAreBuiltFromHome) {
  EnvVar home("HOME", "/home/u");
  EXPECT_EQ(Bytes(HomeDirectory()), "/home/u");
  EXPECT_EQ(Bytes(StarterConfigPath()), "/home/u/.Tavlo/tavlostart/tavlostart.cfg");
  EXPECT_EQ(Bytes(AltStarterConfigPath()), "/home/u/.Tavlo/tavlostartt/tavlostart.cfg");
  EXPECT_EQ(Bytes(CommonStarterConfigPath()), "/home/u/.tavlo5//.Tavlo/tavlostart/tavlostart.cfg");
  EXPECT_EQ(Bytes(ProductDataDirectory() + u"tmplts" + u"/"), "/home/u/.tavlo5/Tavlo/tavlo5/tmplts/");
  EXPECT_EQ(Bytes(ProductUserDirectory(1)), "/home/u/.tavlo5/");
}

TEST(WellKnownLocations, TildeAloneOrBeforeASlashIsTheHomeDirectory) {
  EnvVar home("HOME", "/home/u");
  EXPECT_EQ(Bytes(ExpandHomeDirectory(WideString(u"~"))), "/home/u");
  EXPECT_EQ(Bytes(ExpandHomeDirectory(WideString(u"~/mytpl"))), "/home/u/mytpl");
  // Another user's home, and a tilde anywhere else, are left as they are.
  EXPECT_EQ(Bytes(ExpandHomeDirectory(WideString(u"~other/x"))), "~other/x");
  EXPECT_EQ(Bytes(ExpandHomeDirectory(WideString(u"/a/~/b"))), "/a/~/b");
}

TEST(WellKnownLocations, ProbeAnswersForTheGivenDirectoryAndLeavesNothing) {
  std::string tmp = MakeScratchDir();
  std::string target = MakeScratchDir();
  ASSERT_FALSE(tmp.empty());
  ASSERT_FALSE(target.empty());
  {
    EnvVar tmpdir("TMPDIR", tmp.c_str());
    struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, target.c_str(), old_times, 0), 0);
    EXPECT_TRUE(ProbeDirectoryWritable(FromLocaleBytes(NarrowString(target.c_str()))));
    EXPECT_EQ(CountEntries(target), 0);
    struct stat after;
    ASSERT_EQ(stat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, 1000000000);
    // A directory nobody can create files in, root included; TMPDIR must not answer for it.
    EXPECT_FALSE(ProbeDirectoryWritable(WideString(u"/proc")));
    // A directory that does not exist yet counts as writable.
    EXPECT_TRUE(ProbeDirectoryWritable(WideString(u"/nonexistent/dir/")));
    EXPECT_EQ(CountEntries(tmp), 0);
  }
  {
    EnvVar tmpdir("TMPDIR", nullptr);
    EXPECT_TRUE(ProbeDirectoryWritable(FromLocaleBytes(NarrowString((target + "/").c_str()))));
    EXPECT_EQ(CountEntries(target), 0);
  }
  rmdir(tmp.c_str());
  rmdir(target.c_str());
}

}  // namespace
