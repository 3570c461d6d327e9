#include "config/starter_config.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

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

// The file stays the user's file: its owner and group (given away only where the tests
// run as root), and every hard link to it sees the new content.
TEST_F(StarterConfigTest, RewriteKeepsOwnerGroupAndHardLinks) {
  WriteFile(user_, "K=v\n");
  chmod(user_.c_str(), 0664);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(user_.c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(SetTemplateLocations(Wide({u"/t/"}), false), kSettingsWritten);
  struct stat st;
  ASSERT_EQ(stat(user_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0664u);
  if (root) {
    EXPECT_EQ(std::make_pair(st.st_uid, st.st_gid), std::make_pair(65534u, 65534u));
  }

  const std::string other = home_ + "/other-name.cfg";
  ASSERT_EQ(link(user_.c_str(), other.c_str()), 0);
  ASSERT_EQ(SetTemplateLocations(Wide({u"/u/"}), false), kSettingsWritten);
  struct stat linked;
  ASSERT_EQ(stat(other.c_str(), &linked), 0);
  ASSERT_EQ(stat(user_.c_str(), &st), 0);
  EXPECT_EQ(linked.st_ino, st.st_ino);
  EXPECT_EQ(ReadWholeFile(other), "K=v\nConfigurationTemplatesLocation=/u/\n");
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
// root (permission bits do not stop root), and returns its result. The settings directory
// and file are given to that user first.
int SetLocationsAsUser(const std::string& dir, const std::string& file) {
  if (geteuid() == 0 && (chown(dir.c_str(), 65534, 65534) != 0 ||
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
  EXPECT_EQ(SetLocationsAsUser(dir, user_), kSettingsWritten);
  chmod(dir.c_str(), 0755);
  EXPECT_EQ(ReadWholeFile(user_), "ConfigurationTemplatesLocation=/new/\n");
  struct stat after;
  ASSERT_EQ(stat(user_.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
}

// A file the user may not write is left alone, even where the directory would allow
// replacing it, and the write reports what opening it for writing gives.
TEST_F(StarterConfigTest, WriteProtectedFileIsNotReplaced) {
  WriteFile(user_, "ConfigurationTemplatesLocation=/old\n");
  const std::string dir = home_ + "/.Tavlo/tavlostart";
  chmod(user_.c_str(), 0444);
  EXPECT_EQ(SetLocationsAsUser(dir, user_), kSettingsCannotOpen);
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
}

}  // namespace
