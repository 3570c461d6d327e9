// Runs the built efdtool (EFDTOOL_PATH) on kits in a scratch directory.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "testing/kit_builders.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "tools/tree_walk.h"

extern char** environ;

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

class EfdtoolTest : public ::testing::Test {
 protected:
  ToolRun Run(const std::vector<std::string>& arguments) {
    const std::string out_path = scratch_.Child("stdout"), err_path = scratch_.Child("stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    // A cross build's tool runs under the build's emulator (qemu-i386): the kernel may not
    // run foreign programs by itself.
    const std::string emulator = EFDTOOL_EMULATOR;
    std::vector<char*> argv;
    if (!emulator.empty()) argv.push_back(const_cast<char*>(emulator.c_str()));
    argv.push_back(const_cast<char*>(EFDTOOL_PATH));
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    ToolRun run;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0);
    if (spawned != 0) return run;
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadWholeFile(out_path);
    run.err = ReadWholeFile(err_path);
    return run;
  }

  // A tree: a\b.txt (3 bytes, 2020-01-01), top (0 bytes, 1999-12-31 23:59:59), plus a link.
  std::string MakeTree() {
    const std::string root = scratch_.Child("tree");
    mkdir(root.c_str(), 0700);
    mkdir((root + "/a").c_str(), 0700);
    EXPECT_TRUE(WriteWholeFile(root + "/a/b.txt", Bytes{'a', 'b', 'c'}));
    EXPECT_TRUE(WriteWholeFile(root + "/top", Bytes()));
    EXPECT_TRUE(SetModificationTime(root + "/a/b.txt", 1577836800, 500000000));
    EXPECT_TRUE(SetModificationTime(root + "/top", 946684799, 500000000));
    symlink("top", (root + "/link").c_str());
    return root;
  }

  ScratchDirectory scratch_;
};

TEST_F(EfdtoolTest, HelpAndUsageErrors) {
  ToolRun run = Run({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("efdtool pack"), std::string::npos);
  run = Run({});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("Usage:"), std::string::npos);
  EXPECT_TRUE(run.out.empty());
  EXPECT_EQ(Run({"frobnicate"}).status, 2);
  EXPECT_EQ(Run({"pack", "only-kit"}).status, 2);
  EXPECT_EQ(Run({"pack", "--bogus", "k", "d"}).status, 2);
  EXPECT_EQ(Run({"list"}).status, 2);
  EXPECT_EQ(Run({"pack", "--layout-a", "--describe", "en:a:b:c", "--describe", "ru:a:b:c",
                 scratch_.Child("k.efd"), MakeTree()})
                .status,
            2);
  EXPECT_EQ(Run({"pack", "--describe", "en-only", scratch_.Child("k.efd"), MakeTree()}).status, 2);
}

TEST_F(EfdtoolTest, PackListVerifyRoundTrip) {
  const std::string kit = scratch_.Child("kit.efd");
  ToolRun run = Run({"pack", "--describe", "en:Prod:Vend:docs\\readme.htm",
                     "--describe=ru:P:V:", kit, MakeTree()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("packed 2 entries"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("skipping \"link\""), std::string::npos) << run.err;

  run = Run({"list", kit});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "description [en] product \"Prod\" vendor \"Vend\" document \"docs\\readme.htm\"\n"
            "description [ru] product \"P\" vendor \"V\" document \"\"\n"
            "           3  2020-01-01 00:00:00  a\\b.txt\n"
            "           0  1999-12-31 23:59:59  top\n"
            "2 entries, 3 bytes\n");

  run = Run({"verify", kit});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("is sound: 2 descriptions, 2 entries, 3 bytes"), std::string::npos)
      << run.out;
}

TEST_F(EfdtoolTest, LayoutAHoldsOneEnglishDescription) {
  const std::string kit = scratch_.Child("kit.efd");
  ASSERT_EQ(Run({"pack", "--layout-a", "--describe", "de:Prod:Vend:doc", kit, MakeTree()}).status,
            0);
  const Bytes container = RawInflate(ReadWholeFileBytes(kit));
  ASSERT_GE(container.size(), 4u);
  EXPECT_EQ(container[0] | container[1] | container[2] | container[3], 0);  // layout A
  const ToolRun run = Run({"list", kit});
  EXPECT_NE(run.out.find("description [en] product \"Prod\""), std::string::npos) << run.out;
}

TEST_F(EfdtoolTest, PackingIsReproducible) {
  const std::string tree = MakeTree();
  ASSERT_EQ(Run({"pack", scratch_.Child("one.efd"), tree}).status, 0);
  ASSERT_EQ(Run({"pack", scratch_.Child("two.efd"), tree + "/"}).status, 0);
  EXPECT_EQ(ReadWholeFile(scratch_.Child("one.efd")), ReadWholeFile(scratch_.Child("two.efd")));
}

TEST_F(EfdtoolTest, KitInsideTheTreeIsNotPackedIntoItself) {
  const std::string tree = MakeTree();
  ASSERT_EQ(Run({"pack", tree + "/kit.efd", tree}).status, 0);
  ASSERT_EQ(Run({"pack", tree + "/kit.efd", tree}).status, 0);
  const ToolRun run = Run({"list", tree + "/kit.efd"});
  EXPECT_EQ(run.out.find("kit.efd"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("2 entries"), std::string::npos) << run.out;
}

TEST_F(EfdtoolTest, NameWithBackslashIsRefused) {
  const std::string tree = MakeTree();
  ASSERT_TRUE(WriteWholeFile(tree + "/odd\\name", Bytes{'x'}));
  const ToolRun run = Run({"pack", scratch_.Child("kit.efd"), tree});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("odd\\name"), std::string::npos) << run.err;
  struct stat status;
  EXPECT_NE(stat(scratch_.Child("kit.efd").c_str(), &status), 0);
}

TEST_F(EfdtoolTest, MissingTreeFails) {
  const ToolRun run = Run({"pack", scratch_.Child("kit.efd"), scratch_.Child("nothing")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot read the directory"), std::string::npos) << run.err;
}

TEST_F(EfdtoolTest, VerifyNamesWhatIsWrongWithADamagedKit) {
  Bytes container = WorkedExampleContainer();
  container[50] = 3;  // the entry record's length, below its own fields
  const std::string kit = scratch_.Child("damaged.efd");
  ASSERT_TRUE(WriteWholeFile(kit, RawDeflate(container)));
  ToolRun run = Run({"verify", kit});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.out.empty()) << run.out;
  EXPECT_NE(run.err.find("is damaged: entry record 0: record length 3 is below the 24 bytes"),
            std::string::npos)
      << run.err;

  run = Run({"list", kit});
  EXPECT_EQ(run.status, 1);
}

TEST_F(EfdtoolTest, VerifyReportsUnsafeNamesAndBadDeflateAndMissingKits) {
  KitWriter writer;
  writer.AddEntry(WideString(u"..\\escape"), TimeOf(0), Bytes{'x'});
  ASSERT_EQ(writer.WriteKit(scratch_.Wide("unsafe.efd")), kSuccess);
  ToolRun run = Run({"verify", scratch_.Child("unsafe.efd")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("has a \"..\" component"), std::string::npos) << run.err;

  ASSERT_TRUE(WriteWholeFile(scratch_.Child("noise.efd"), Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  run = Run({"verify", scratch_.Child("noise.efd")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("not valid DEFLATE"), std::string::npos) << run.err;

  run = Run({"verify", scratch_.Child("missing.efd")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot be found"), std::string::npos) << run.err;
}

// Every regular file below root, by relative path: its bytes and its modification time.
std::map<std::string, std::pair<Bytes, time_t>> TreeContents(const std::string& root) {
  std::vector<NarrowString> files, skipped;
  NarrowString failure;
  EXPECT_TRUE(CollectRegularFiles(NarrowString(root.c_str()), &files, &skipped, &failure))
      << failure.CStr();
  std::map<std::string, std::pair<Bytes, time_t>> contents;
  for (const NarrowString& file : files) {
    const std::string path = root + "/" + file.CStr();
    struct stat status;
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    contents[file.CStr()] = {ReadWholeFileBytes(path), status.st_mtime};
  }
  return contents;
}

TEST_F(EfdtoolTest, ExtractGivesBackThePackedTree) {
  const std::string tree = MakeTree();
  mkdir((tree + "/a/deeper").c_str(), 0700);
  ASSERT_TRUE(WriteWholeFile(tree + "/a/deeper/data.bin", PatternBytes(300000, 7)));
  ASSERT_TRUE(SetModificationTime(tree + "/a/deeper/data.bin", 1262304000, 500000000));
  const std::string kit = scratch_.Child("kit.efd");
  ASSERT_EQ(Run({"pack", kit, tree}).status, 0);

  const std::string out = scratch_.Child("out/below");
  const ToolRun run = Run({"extract", kit, out});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "extracted 3 entries (300003 bytes) into " + out + "\n");
  const auto packed = TreeContents(tree);
  EXPECT_EQ(packed.size(), 3u);  // the link is not packed
  EXPECT_TRUE(TreeContents(out) == packed);
}

TEST_F(EfdtoolTest, ExtractFailsWithoutWritingOutside) {
  KitWriter writer;
  writer.AddEntry(WideString(u"..\\escape"), TimeOf(0), Bytes{'x'});
  ASSERT_EQ(writer.WriteKit(scratch_.Wide("unsafe.efd")), kSuccess);
  ToolRun run = Run({"extract", scratch_.Child("unsafe.efd"), scratch_.Child("out")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("has a \"..\" component"), std::string::npos) << run.err;
  struct stat status;
  EXPECT_NE(stat(scratch_.Child("escape").c_str(), &status), 0);

  // A folder of the kit that is a link in the target: refused, nothing lands behind it.
  const std::string kit = scratch_.Child("kit.efd");
  ASSERT_EQ(Run({"pack", kit, MakeTree()}).status, 0);
  const std::string out = scratch_.Child("linked");
  mkdir(out.c_str(), 0700);
  mkdir(scratch_.Child("elsewhere").c_str(), 0700);
  ASSERT_EQ(symlink(scratch_.Child("elsewhere").c_str(), (out + "/a").c_str()), 0);
  run = Run({"extract", kit, out});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("\"a\" is a symbolic link"), std::string::npos) << run.err;
  EXPECT_NE(stat(scratch_.Child("elsewhere/b.txt").c_str(), &status), 0);

  EXPECT_EQ(Run({"extract", kit}).status, 2);
}

TEST(FuzzSeedsTest, SeedContainersAreSound) {
  ScratchDirectory scratch;
  const std::string directory = std::string(FUZZ_CORPUS_DIR);
  for (const char* name : {"worked_example", "layout_a", "two_languages", "empty_table"}) {
    std::vector<KitInfo> descriptions;
    std::vector<KitEntry> entries;
    NarrowString failure;
    EXPECT_EQ(ReadContainerBytes(scratch, ReadWholeFileBytes(directory + "/" + name), &descriptions,
                                 &entries, &failure),
              kSuccess)
        << name << ": " << failure.CStr();
    EXPECT_FALSE(descriptions.empty()) << name;
  }
}

TEST_F(EfdtoolTest, PackHonoursTheUmaskAndSaysWhatLooksWrong) {
  const mode_t previous = umask(022);
  const std::string kit = scratch_.Child("k.efd");
  const ToolRun packed = Run({"pack", "--describe", "en:P:V:docs/missing.htm", kit, MakeTree()});
  umask(previous);
  EXPECT_EQ(packed.status, 0) << packed.err;
  struct stat status;
  ASSERT_EQ(stat(kit.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0644u);
  EXPECT_NE(packed.err.find("warning: the description document \"docs/missing.htm\""),
            std::string::npos)
      << packed.err;
  EXPECT_EQ(Run({"pack", "--describe", "en:P:V:a\\b.txt", kit, MakeTree()}).err.find("warning"),
            std::string::npos);

  const ToolRun unknown = Run({"pack", "--describe", "english:P:V:", kit, MakeTree()});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("the codes are: ar az bg de en"), std::string::npos) << unknown.err;

  const std::string empty = scratch_.Child("empty");
  ASSERT_TRUE(MakeDirectories(empty));
  const ToolRun nothing = Run({"pack", kit, empty});
  EXPECT_EQ(nothing.status, 0);
  EXPECT_NE(nothing.err.find("warning: \"" + empty + "\" holds no files"), std::string::npos)
      << nothing.err;

  // A failure names the path and the system's reason, not a number.
  const ToolRun missing = Run({"list", scratch_.Child("none.efd")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find(scratch_.Child("none.efd") + " cannot be found: the kit file cannot "
                             "be opened: No such file or directory"),
            std::string::npos)
      << missing.err;

  const ToolRun version = Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "efdtool " SETUP_VERSION "\n");
}

TEST_F(EfdtoolTest, KeygenSignAndVerifyAgainstAKey) {
  const std::string secret = scratch_.Child("s.key"), pub = scratch_.Child("p.key");
  const mode_t previous = umask(0);
  const ToolRun made = Run({"keygen", secret, pub});
  umask(previous);
  ASSERT_EQ(made.status, 0) << made.err;
  struct stat status;
  ASSERT_EQ(stat(secret.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_EQ(Run({"keygen", secret, scratch_.Child("again")}).status, 1);  // never overwritten
  const std::string fingerprint = made.out.substr(made.out.find("(key ") + 5, 16);
  ASSERT_EQ(Run({"keygen", scratch_.Child("s2"), scratch_.Child("p2")}).status, 0);

  const std::string kit = scratch_.Child("signed.efd"), plain = scratch_.Child("plain.efd");
  ASSERT_EQ(Run({"pack", "--sign", secret, kit, MakeTree()}).status, 0);
  ASSERT_EQ(Run({"pack", plain, MakeTree()}).status, 0);
  const ToolRun verified = Run({"verify", "--key", pub, kit});
  EXPECT_EQ(verified.status, 0) << verified.err;
  EXPECT_NE(verified.out.find("signed by key " + fingerprint), std::string::npos) << verified.out;
  EXPECT_NE(verified.out.find("stream SHA-256 "), std::string::npos);
  const ToolRun unsigned_plain = Run({"verify", plain});
  EXPECT_EQ(unsigned_plain.status, 0);
  EXPECT_NE(unsigned_plain.out.find("not signed"), std::string::npos);

  const ToolRun foreign = Run({"verify", "--key", scratch_.Child("p2"), kit});
  EXPECT_EQ(foreign.status, 1);
  EXPECT_NE(foreign.err.find("signed by key " + fingerprint), std::string::npos) << foreign.err;
  EXPECT_EQ(Run({"verify", "--key", pub, plain}).status, 1);
  // A public key file is no secret key.
  const ToolRun wrong = Run({"pack", "--sign", pub, kit, MakeTree()});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find(pub), std::string::npos);
}
