#include "config/starter_config.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "config/settings_file_write.h"
#include "config/well_known_locations.h"
#include "testing/locale_override.h"
#include "testing/scratch_home.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"
#include "text/locale_conversions.h"

namespace {

// Writes a file, making its directory.
void WriteFile(const std::string& path, const std::string& content) {
  ASSERT_TRUE(MakeDirectories(path.substr(0, path.rfind('/'))));
  ASSERT_TRUE(WriteWholeFile(path, content));
}

std::vector<std::string> AsBytes(const std::vector<WideString>& list) {
  std::vector<std::string> out;
  for (const WideString& w : list) out.push_back(LocaleBytesOf(w));
  return out;
}

std::vector<WideString> Wide(std::initializer_list<const char16_t*> items) {
  std::vector<WideString> out;
  for (const char16_t* s : items) out.emplace_back(s);
  return out;
}

// Every test gets a scratch home directory of its own.
class StarterConfigTest : public ::testing::Test {
 protected:
  ScratchHome scratch_;
  const std::string home_ = scratch_.Home();
  const std::string user_ = scratch_.UserSettingsPath();
  const std::string alt_ = scratch_.AltSettingsPath();
  const std::string common_ = scratch_.CommonSettingsPath();
};

TEST_F(StarterConfigTest, RepeatedKeysMergeUnderTheFirstSpelling) {
  WriteFile(user_,
            "ConfigurationTemplatesLocation=/a\nconfigurationtemplateslocation=/b\n"
            "ConfigurationTemplatesLocation=/A\nOther=1\n");
  StarterConfig config(false);
  config.Read();
  ASSERT_EQ(config.user_layer().size(), 2u);
  EXPECT_EQ(LocaleBytesOf(config.user_layer()[0].key), "ConfigurationTemplatesLocation");
  EXPECT_EQ(AsBytes(config.user_layer()[0].values), (std::vector<std::string>{"/a", "/b"}));
  EXPECT_TRUE(config.common_layer().empty());
}

TEST_F(StarterConfigTest, UserFirstThenCommonWithBackslashesAndCaseDuplicates) {
  WriteFile(user_, "ConfigurationTemplatesLocation=C:\\tmpl\n");
  WriteFile(common_,
            "ConfigurationTemplatesLocation=c:/TMPL/\nConfigurationTemplatesLocation=/srv/t\n");
  std::vector<WideString> list = Wide({u"/first/"});
  GetTemplateLocations(&list, false);
  EXPECT_EQ(AsBytes(list), (std::vector<std::string>{"/first/", "C:/tmpl", "/srv/t"}));
}

TEST_F(StarterConfigTest, CarriageReturnsStayInValuesAndTakePartInTheDuplicateTest) {
  WriteFile(user_, "ConfigurationTemplatesLocation=/x\r\nConfigurationTemplatesLocation=/x\n");
  std::vector<WideString> list;
  GetTemplateLocations(&list, false);
  // "/x\r/" and "/x/" differ, so both stay.
  EXPECT_EQ(AsBytes(list), (std::vector<std::string>{"/x\r", "/x"}));
}

TEST_F(StarterConfigTest, AlternativeFlagReadsTheOtherPairOfFiles) {
  WriteFile(alt_, "ConfigurationTemplatesLocation=/alt\n");
  WriteFile(user_, "ConfigurationTemplatesLocation=/main\n");
  WriteFile(common_, "ConfigurationTemplatesLocation=/common\n");
  std::vector<WideString> list;
  GetTemplateLocations(&list, true);
  EXPECT_EQ(AsBytes(list), (std::vector<std::string>{"/alt", "/main"}));
}

// The byte-order mark belongs to the first key, so "InstallComponents" after it is a key of
// its own.
TEST_F(StarterConfigTest, RewriteKeepsOtherKeysInNormalisedForm) {
  WriteFile(user_,
            "\xef\xbb\xbfInstallComponents=all\n\nalone\nConfigurationTemplatesLocation=/old\n"
            "CommonCfgLocation=x=y\nInstallComponents=ALL\n");
  ASSERT_EQ(SetTemplateLocations(Wide({u"/new/", u"/NEW", u"/two"}), false), kSettingsWritten);
  EXPECT_EQ(ReadWholeFile(user_),
            "\xef\xbb\xbfInstallComponents=all\nalone=\nConfigurationTemplatesLocation=/new/\n"
            "ConfigurationTemplatesLocation=/two\nCommonCfgLocation=x=y\nInstallComponents=ALL\n");
}

TEST_F(StarterConfigTest, EmptyListRemovesEveryLocationLine) {
  WriteFile(user_,
            "A=1\nConfigurationTemplatesLocation=/a\nconfigurationTemplatesLocation=/b\nB=2\n");
  ASSERT_EQ(SetTemplateLocations({}, false), kSettingsWritten);
  EXPECT_EQ(ReadWholeFile(user_), "A=1\nB=2\n");
}

TEST_F(StarterConfigTest, MissingFilesGiveNothingAndWritingCreatesDirectoryAndFile) {
  std::vector<WideString> list;
  GetTemplateLocations(&list, false);
  EXPECT_TRUE(list.empty());
  ASSERT_EQ(SetTemplateLocations(Wide({u"/t1/", u"/t2/"}), false), kSettingsWritten);
  EXPECT_EQ(ReadWholeFile(user_),
            "ConfigurationTemplatesLocation=/t1/\nConfigurationTemplatesLocation=/t2/\n");
  ASSERT_EQ(SetTemplateLocations(Wide({u"/alt/"}), true), kSettingsWritten);
  EXPECT_EQ(ReadWholeFile(alt_), "ConfigurationTemplatesLocation=/alt/\n");
}

TEST_F(StarterConfigTest, PermissionBitsAndSymbolicLinksSurviveARewrite) {
  std::string real = home_ + "/elsewhere/real.cfg";
  WriteFile(real, "K=v\n");
  chmod(real.c_str(), 0640);
  ASSERT_TRUE(MakeDirectories(home_ + "/.Tavlo/tavlostart"));
  ASSERT_EQ(symlink("../../elsewhere/real.cfg", user_.c_str()), 0);
  ASSERT_EQ(SetTemplateLocations(Wide({u"/t/"}), false), kSettingsWritten);
  struct stat st;
  ASSERT_EQ(lstat(user_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadWholeFile(real), "K=v\nConfigurationTemplatesLocation=/t/\n");
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // Nothing but the file itself is left in its directory.
  EXPECT_EQ(ListNames(home_ + "/elsewhere"), std::vector<std::string>{"real.cfg"});
}

// The file stays the user's file: its group (given away only where the tests run as root)
// and mode, and every hard link to it sees the new content.
TEST_F(StarterConfigTest, RewriteKeepsGroupModeAndHardLinks) {
  WriteFile(user_, "K=v\n");
  chmod(user_.c_str(), 0664);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(user_.c_str(), 0, 65534), 0);
  }
  ASSERT_EQ(SetTemplateLocations(Wide({u"/t/"}), false), kSettingsWritten);
  struct stat st;
  ASSERT_EQ(stat(user_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0664u);
  if (root) {
    EXPECT_EQ(st.st_gid, 65534u);
  }

  const std::string other = home_ + "/other-name.cfg";
  ASSERT_EQ(link(user_.c_str(), other.c_str()), 0);
  ASSERT_EQ(SetTemplateLocations(Wide({u"/u/"}), false), kSettingsWritten);
  struct stat linked;
  ASSERT_EQ(stat(other.c_str(), &linked), 0);
  ASSERT_EQ(stat(user_.c_str(), &st), 0);
  EXPECT_EQ(linked.st_ino, st.st_ino);
  EXPECT_EQ(ReadWholeFile(other), "K=v\nConfigurationTemplatesLocation=/u/\n");
  // The rewrite in place leaves no copy behind, next to the file or in the home.
  EXPECT_EQ(ListNames(home_ + "/.Tavlo/tavlostart"), std::vector<std::string>{"tavlostart.cfg"});
  EXPECT_EQ(ListNames(home_), (std::vector<std::string>{".Tavlo", "other-name.cfg"}));
}

// A root run (sudo keeps HOME) finds the settings of another user: neither their file, nor a
// file a link leads to that is not root's, nor any file through a link that is not root's,
// is rewritten; the write says why.
TEST_F(StarterConfigTest, RootNeverRewritesAnotherUsersFileOrFollowsTheirLinks) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
  const std::string passwd = home_ + "/elsewhere/passwd";
  const std::string passwd_content =
      "root:x:0:0:root:/root:/bin/sh\nu:x:1000:1000::/home/u:/bin/sh\n";
  WriteFile(passwd, passwd_content);
  ASSERT_EQ(chown(passwd.c_str(), 65534, 65534), 0);
  ASSERT_TRUE(MakeDirectories(home_ + "/.Tavlo/tavlostart"));
  ASSERT_EQ(symlink(passwd.c_str(), user_.c_str()), 0);
  int error_number = 0;
  EXPECT_EQ(SetTemplateLocations(Wide({u"/t/"}), false, &error_number), kSettingsNotOwned);
  EXPECT_EQ(error_number, EPERM);
  EXPECT_EQ(ReadWholeFile(passwd), passwd_content);

  // The link is the user's, the file root's: the user chose the file.
  const std::string system_file = home_ + "/elsewhere/system";
  WriteFile(system_file, "a:b\n");
  ASSERT_EQ(unlink(user_.c_str()), 0);
  ASSERT_EQ(symlink(system_file.c_str(), user_.c_str()), 0);
  ASSERT_EQ(lchown(user_.c_str(), 65534, 65534), 0);
  EXPECT_EQ(SetTemplateLocations(Wide({u"/t/"}), false), kSettingsNotOwned);
  EXPECT_EQ(ReadWholeFile(system_file), "a:b\n");

  // The settings file itself belongs to the user.
  ASSERT_EQ(unlink(user_.c_str()), 0);
  WriteFile(user_, "K=v\n");
  ASSERT_EQ(chown(user_.c_str(), 65534, 65534), 0);
  EXPECT_EQ(SetTemplateLocations(Wide({u"/t/"}), false), kSettingsNotOwned);
  EXPECT_EQ(ReadWholeFile(user_), "K=v\n");
  struct stat st;
  ASSERT_EQ(stat(user_.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(ListNames(home_ + "/.Tavlo/tavlostart"), std::vector<std::string>{"tavlostart.cfg"});
}

// A tmpfs of a few pages mounted over the settings directory, removed with the test.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(const std::string& path) : path_(path) {
    mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k,mode=0755") == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

// A file with two hard links is rewritten where it is. On a full file system the longer
// content does not fit: the write fails with the reason, and the file keeps every old byte.
TEST_F(StarterConfigTest, InPlaceRewriteOnAFullFileSystemKeepsTheOldBytesWhole) {
  const std::string dir = home_ + "/.Tavlo/tavlostart";
  ASSERT_TRUE(MakeDirectories(dir));
  SmallFileSystem small(dir);
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs (needs root): " << strerror(errno);
  std::string old_content;
  for (int i = 0; old_content.size() < 8100; ++i)
    old_content += "Key" + std::to_string(i) + "=some value of the launcher\n";
  WriteFile(user_, old_content);
  ASSERT_EQ(link(user_.c_str(), (dir + "/second-name.cfg").c_str()), 0);
  // Fills the file system up.
  {
    const std::string filler = dir + "/filler";
    const int fd = open(filler.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    const std::string block(4096, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    while (write(fd, "x", 1) > 0) {
    }
    close(fd);
  }
  std::vector<WideString> many;
  for (int i = 0; i < 200; ++i)
    many.push_back(WideString(u"/templates/number/") + WideString::FormatInteger(i, 10));
  int error_number = 0;
  EXPECT_EQ(SetTemplateLocations(many, false, &error_number), kSettingsCannotWrite);
  EXPECT_EQ(error_number, ENOSPC);
  EXPECT_EQ(ReadWholeFile(user_), old_content);
  EXPECT_EQ(ReadWholeFile(dir + "/second-name.cfg"), old_content);
  EXPECT_EQ(ListNames(dir),
            (std::vector<std::string>{"filler", "second-name.cfg", "tavlostart.cfg"}));
  EXPECT_EQ(ListNames(home_), std::vector<std::string>{".Tavlo"});
}

// A writer killed while it copies into the file leaves the file torn and its rewrite copy
// beside it: the next start finishes the copy before it reads, and the next write builds on
// the finished content. A copy that a kill cut short is dropped, and the file stays.
TEST_F(StarterConfigTest, InterruptedInPlaceRewriteIsFinishedByTheNextStart) {
  const std::string old_content = "Old=1\nConfigurationTemplatesLocation=/old\n";
  const std::string new_content = "Old=1\nAdded=2\nConfigurationTemplatesLocation=/copied\n";
  WriteFile(user_, old_content);
  int error_number = 0;
  ASSERT_EQ(WriteSettingsRewriteCopy(NarrowString(user_.c_str()), new_content, &error_number),
            kSettingsWritten);
  const std::string copy = home_ + "/.Tavlo/tavlostart/.tavlostart.cfg.rewrite";
  ASSERT_TRUE(Exists(copy));
  // Half of the new bytes copied over the old ones, as a kill during the copy leaves it.
  ASSERT_TRUE(WriteWholeFile(user_, new_content.substr(0, 20) + old_content.substr(20)));
  std::vector<WideString> list;
  GetTemplateLocations(&list, false);
  EXPECT_EQ(AsBytes(list), std::vector<std::string>{"/copied"});
  EXPECT_EQ(ReadWholeFile(user_), new_content);
  EXPECT_FALSE(Exists(copy));

  // Left again, then the next write: it works on the finished content.
  ASSERT_EQ(WriteSettingsRewriteCopy(NarrowString(user_.c_str()), new_content + "Late=3\n",
                                     &error_number),
            kSettingsWritten);
  ASSERT_EQ(SetTemplateLocations(Wide({u"/new/"}), false), kSettingsWritten);
  EXPECT_EQ(ReadWholeFile(user_), "Old=1\nAdded=2\nConfigurationTemplatesLocation=/new/\nLate=3\n");
  EXPECT_FALSE(Exists(copy));

  // A copy cut short by a kill while it was made: the file was never touched.
  ASSERT_EQ(WriteSettingsRewriteCopy(NarrowString(user_.c_str()), "Other=9\n", &error_number),
            kSettingsWritten);
  const std::string whole = ReadWholeFile(copy);
  ASSERT_TRUE(WriteWholeFile(copy, whole.substr(0, whole.size() - 1)));
  const std::string before = ReadWholeFile(user_);
  GetTemplateLocations(&list, false);
  EXPECT_EQ(ReadWholeFile(user_), before);
  EXPECT_FALSE(Exists(copy));
}

// A location the locale cannot encode is not written shortened: nothing is written.
TEST_F(StarterConfigTest, UnencodableLocationWritesNothing) {
  WriteFile(user_, "K=v\n");
  {
    LocaleOverride latin1("de_DE.ISO-8859-1");
    EXPECT_EQ(SetTemplateLocations(Wide({u"/t/\u0428"}), false), kSettingsCannotWrite);
  }
  EXPECT_EQ(ReadWholeFile(user_), "K=v\n");
}

// Runs SetTemplateLocations in a child process, as the user nobody when the tests run as
// root (permission bits do not stop root), and returns its result. The home, the settings
// directory and the file are given to that user first, as a user's own are theirs.
int SetLocationsAsUser(const std::string& home, const std::string& dir, const std::string& file) {
  if (geteuid() == 0 && (chown(home.c_str(), 65534, 65534) != 0 ||
                         chown(dir.c_str(), 65534, 65534) != 0 ||
                         chown(file.c_str(), 65534, 65534) != 0)) {
    return -2;
  }
  pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
    _exit(SetTemplateLocations(Wide({u"/new/"}), false));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// No new file can be made next to the settings file, so it is written where it is.
TEST_F(StarterConfigTest, WritableFileInAReadOnlyDirectoryIsRewrittenInPlace) {
  WriteFile(user_, "ConfigurationTemplatesLocation=/old\n");
  const std::string dir = home_ + "/.Tavlo/tavlostart";
  chmod(user_.c_str(), 0644);
  chmod(dir.c_str(), 0555);
  struct stat before;
  ASSERT_EQ(stat(user_.c_str(), &before), 0);
  EXPECT_EQ(SetLocationsAsUser(home_, dir, user_), kSettingsWritten);
  chmod(dir.c_str(), 0755);
  EXPECT_EQ(ReadWholeFile(user_), "ConfigurationTemplatesLocation=/new/\n");
  struct stat after;
  ASSERT_EQ(stat(user_.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  // The rewrite copy went to the home, and went again.
  EXPECT_EQ(ListNames(home_), std::vector<std::string>{".Tavlo"});
}

// A file the user may not write is left alone, even where the directory would allow
// replacing it, and the write reports what opening it for writing gives.
TEST_F(StarterConfigTest, WriteProtectedFileIsNotReplaced) {
  WriteFile(user_, "ConfigurationTemplatesLocation=/old\n");
  const std::string dir = home_ + "/.Tavlo/tavlostart";
  chmod(user_.c_str(), 0444);
  EXPECT_EQ(SetLocationsAsUser(home_, dir, user_), kSettingsCannotOpen);
  EXPECT_EQ(ReadWholeFile(user_), "ConfigurationTemplatesLocation=/old\n");
  EXPECT_EQ(ListNames(dir), std::vector<std::string>{"tavlostart.cfg"});
}

// A writer killed at any moment leaves either the old or the new file, never a mix or an
// empty file.
TEST_F(StarterConfigTest, WriterKilledAtRandomMomentsLeavesOldOrNewContent) {
  std::string old_content;
  for (int i = 0; i < 4000; ++i) old_content += "Key" + std::to_string(i) + "=value\n";
  WriteFile(user_, old_content);
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(SetTemplateLocations(Wide({u"/new/"}), false), kSettingsWritten);
  auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::steady_clock::now() - start).count();
  std::string new_content = ReadWholeFile(user_);
  ASSERT_NE(new_content, old_content);

  std::mt19937 rng(7);
  int saw_old = 0, saw_new = 0;
  for (int round = 0; round < 30; ++round) {
    WriteFile(user_, old_content);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(SetTemplateLocations(Wide({u"/new/"}), false));
    // Kill moments spread over the whole run of a writer, and a little past it.
    usleep(static_cast<useconds_t>(rng() % (micros * 3 / 2 + 1000)));
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    std::string now = ReadWholeFile(user_);
    ASSERT_TRUE(now == old_content || now == new_content) << "round " << round;
    (now == old_content ? saw_old : saw_new)++;
  }
  std::cout << "killed writers left the old file " << saw_old << " times, the new one "
            << saw_new << " times\n";
  // What the kills left beside the file goes with the next write.
  ASSERT_EQ(SetTemplateLocations(Wide({u"/new/"}), false), kSettingsWritten);
  EXPECT_EQ(ListNames(home_ + "/.Tavlo/tavlostart"), std::vector<std::string>{"tavlostart.cfg"});
}

}  // namespace
