#include "fs/directory_finder.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>

#include "gtest/gtest.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"
#include "text/locale_conversions.h"

namespace {

// Every entry a wildcard walk delivers, by name, with its attributes.
std::map<std::string, int> Walk(const WideString& search_path) {
  std::map<std::string, int> found;
  DirectoryFinder finder;
  for (bool more = finder.FindFirst(search_path); more; more = finder.FindNext()) {
    found[LocaleBytesOf(finder.CurrentName())] = finder.Attributes();
  }
  return found;
}

TEST(DirectoryFinderTest, LiteralPathOfFileAndDirectory) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("note.txt"), "n"));
  ASSERT_EQ(0, mkdir(scratch.Child("sub").c_str(), 0755));

  DirectoryFinder finder;
  EXPECT_TRUE(finder.FindFirst(scratch.Wide("note.txt")));
  EXPECT_EQ("note.txt", LocaleBytesOf(finder.CurrentName()));
  EXPECT_EQ(0, finder.Attributes());
  EXPECT_FALSE(finder.FindNext());  // a literal search lists nothing

  DirectoryFinder directory_finder;
  EXPECT_TRUE(directory_finder.FindFirst(scratch.Wide("sub")));
  EXPECT_EQ("sub", LocaleBytesOf(directory_finder.CurrentName()));
  EXPECT_EQ(kDirectoryAttribute, directory_finder.Attributes());
}

TEST(DirectoryFinderTest, TrailingSlashTestsTheDirectoryItself) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("plain"), "p"));
  DirectoryFinder finder;
  EXPECT_TRUE(finder.FindFirst(WideFromAscii(scratch.Path() + "/")));
  EXPECT_EQ("", LocaleBytesOf(finder.CurrentName()));
  EXPECT_EQ(kDirectoryAttribute, finder.Attributes());
  EXPECT_FALSE(PathExists(scratch.Wide("plain/")));
}

TEST(DirectoryFinderTest, MissingPathIsNotFound) {
  ScratchDirectory scratch;
  DirectoryFinder finder;
  EXPECT_FALSE(finder.FindFirst(scratch.Wide("absent")));
  EXPECT_EQ("absent", LocaleBytesOf(finder.CurrentName()));
  EXPECT_EQ(0, finder.Attributes());
  EXPECT_FALSE(PathExists(scratch.Wide("absent")));
  EXPECT_TRUE(PathExists(WideFromAscii(scratch.Path())));
  EXPECT_FALSE(PathExists(WideString()));
}

TEST(DirectoryFinderTest, OnlyStarMakesAWildcard) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("f1.txt"), "1"));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("[f]"), "b"));
  EXPECT_FALSE(PathExists(scratch.Wide("f?.txt")));
  EXPECT_FALSE(PathExists(scratch.Wide("[f]1.txt")));
  EXPECT_TRUE(PathExists(scratch.Wide("[f]")));
}

TEST(DirectoryFinderTest, StarListsEveryEntryWithItsOwnAttributes) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("a.txt"), "a"));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("b.dat"), "b"));
  ASSERT_EQ(0, mkdir(scratch.Child("sub").c_str(), 0755));

  const std::map<std::string, int> expected = {{".", kDirectoryAttribute},
                                               {"..", kDirectoryAttribute},
                                               {"a.txt", 0},
                                               {"b.dat", 0},
                                               {"sub", kDirectoryAttribute}};
  EXPECT_EQ(expected, Walk(scratch.Wide("*")));
}

TEST(DirectoryFinderTest, SuffixPatternFilters) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("a.txt"), "a"));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("b.txt"), "b"));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("c.txt.bak"), "c"));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("txt"), "d"));
  const std::map<std::string, int> expected = {{"a.txt", 0}, {"b.txt", 0}};
  EXPECT_EQ(expected, Walk(scratch.Wide("*.txt")));
}

TEST(DirectoryFinderTest, BackslashInPatternIsLiteral) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("a\\x"), "1"));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("a*"), "2"));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("ax"), "3"));
  // With escaping, "a\*" would name only "a*"; here it is "a", a backslash, then anything.
  const std::map<std::string, int> expected = {{"a\\x", 0}};
  EXPECT_EQ(expected, Walk(scratch.Wide("a\\*")));
}

TEST(DirectoryFinderTest, WildcardInMissingDirectoryFindsNothing) {
  ScratchDirectory scratch;
  DirectoryFinder finder;
  EXPECT_FALSE(finder.FindFirst(scratch.Wide("absent/*")));
  EXPECT_FALSE(finder.FindNext());
  // A regular file cannot be listed either.
  ASSERT_TRUE(WriteWholeFile(scratch.Child("plain"), "p"));
  EXPECT_FALSE(finder.FindFirst(scratch.Wide("plain/*")));
}

TEST(DirectoryFinderTest, StaysAtTheEndAfterTheLastEntry) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("only.txt"), "o"));
  DirectoryFinder finder;
  ASSERT_TRUE(finder.FindFirst(scratch.Wide("*.txt")));
  EXPECT_EQ("only.txt", LocaleBytesOf(finder.CurrentName()));
  EXPECT_FALSE(finder.FindNext());
  EXPECT_FALSE(finder.FindNext());
  EXPECT_FALSE(finder.FindNext());
}

TEST(DirectoryFinderTest, LinkToDirectoryIsADirectory) {
  ScratchDirectory scratch;
  ASSERT_EQ(0, mkdir(scratch.Child("real").c_str(), 0755));
  ASSERT_EQ(0, symlink(scratch.Child("real").c_str(), scratch.Child("link").c_str()));
  const std::map<std::string, int> expected = {{"link", kDirectoryAttribute}};
  EXPECT_EQ(expected, Walk(scratch.Wide("l*")));
  DirectoryFinder finder;
  EXPECT_TRUE(finder.FindFirst(scratch.Wide("link")));
  EXPECT_EQ(kDirectoryAttribute, finder.Attributes());
}

TEST(DirectoryFinderTest, DanglingLinkEndsTheWalk) {
  ScratchDirectory scratch;
  ASSERT_EQ(0, symlink(scratch.Child("nowhere").c_str(), scratch.Child("dangling").c_str()));
  DirectoryFinder finder;
  EXPECT_FALSE(finder.FindFirst(scratch.Wide("d*")));
  EXPECT_EQ("dangling", LocaleBytesOf(finder.CurrentName()));
  // The stream stayed open; it has nothing more and ends now.
  EXPECT_FALSE(finder.FindNext());
  EXPECT_FALSE(PathExists(scratch.Wide("dangling")));
}

TEST(DirectoryFinderTest, SocketCarriesTheDirectoryBit) {
  ScratchDirectory scratch;
  const std::string path = scratch.Child("sock");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof(address.sun_path));
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int descriptor = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(descriptor, 0);
  ASSERT_EQ(0, bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
  close(descriptor);

  const std::map<std::string, int> expected = {{"sock", kDirectoryAttribute}};
  EXPECT_EQ(expected, Walk(scratch.Wide("s*")));
}

TEST(DirectoryFinderTest, ReusedFinderStartsAFreshWalk) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("a1"), "1"));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("a2"), "2"));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("b1"), "3"));
  DirectoryFinder finder;
  ASSERT_TRUE(finder.FindFirst(scratch.Wide("a*")));
  ASSERT_TRUE(finder.FindFirst(scratch.Wide("b*")));
  EXPECT_EQ("b1", LocaleBytesOf(finder.CurrentName()));
  EXPECT_FALSE(finder.FindNext());
}

TEST(PathTestsTest, NodeKindsAreThoseOfThePathItself) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("file"), "f"));
  ASSERT_EQ(0, mkdir(scratch.Child("sub").c_str(), 0755));
  ASSERT_EQ(0, symlink("sub", scratch.Child("link").c_str()));
  ASSERT_EQ(0, symlink("nowhere", scratch.Child("dangling").c_str()));
  ASSERT_EQ(0, mkfifo(scratch.Child("pipe").c_str(), 0600));
  const std::map<std::string, NodeKind> expected = {
      {"file", NodeKind::kRegularFile},   {"sub", NodeKind::kDirectory},
      {"link", NodeKind::kSymbolicLink},  {"dangling", NodeKind::kSymbolicLink},
      {"pipe", NodeKind::kOther},         {"absent", NodeKind::kNothing},
      {"file/below", NodeKind::kPathBlocked}};
  for (const auto& [name, kind] : expected) {
    NodeKind found = NodeKind::kOther;
    EXPECT_EQ(kSuccess, QueryNode(scratch.Child(name).c_str(), &found)) << name;
    EXPECT_EQ(kind, found) << name;
  }
  EXPECT_TRUE(IsAbsent(NodeKind::kPathBlocked));
  EXPECT_FALSE(IsAbsent(NodeKind::kSymbolicLink));
}

TEST(PathTestsTest, ByteTestsFollowLinks) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("file"), "f"));
  ASSERT_EQ(0, symlink("file", scratch.Child("to-file").c_str()));
  ASSERT_EQ(0, symlink("nowhere", scratch.Child("dangling").c_str()));
  EXPECT_TRUE(PathExists(scratch.Child("to-file").c_str()));
  EXPECT_FALSE(PathExists(scratch.Child("dangling").c_str()));
  EXPECT_TRUE(IsRegularFilePath(scratch.Child("to-file").c_str()));
  EXPECT_FALSE(IsRegularFilePath(scratch.Path().c_str()));
  EXPECT_TRUE(IsDirectoryPath(scratch.Path().c_str()));
  EXPECT_FALSE(IsDirectoryPath(scratch.Child("to-file").c_str()));
}

}  // namespace
