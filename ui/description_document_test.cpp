#include "ui/description_document.h"

#include <gtest/gtest.h>

#include <string>

#include "fs/shell_commands.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"
#include "ui/ui_test_support.h"

namespace {

std::string Path(const std::string& target, const std::string& document) {
  return AsciiOf(DescriptionDocumentPath(WideFromUtf8(target), WideFromUtf8(document)));
}

TEST(DescriptionDocumentTest, PathJoinsDirectoryAndName) {
  EXPECT_EQ(Path("/home/u/tpl/", "description.htm"), "/home/u/tpl/description.htm");
  EXPECT_EQ(Path("/home/u/tpl/", "docs\\about.htm"), "/home/u/tpl/docs/about.htm");
  EXPECT_EQ(Path("C:\\tpl\\", "a.htm"), "C:/tpl/a.htm");
}

TEST(DescriptionDocumentTest, TypedDirectoryWithoutSeparatorGetsOne) {
  // The installation put the files below "/home/u/tpl/", so that is where the document is.
  EXPECT_EQ(Path("/home/u/tpl", "description.htm"), "/home/u/tpl/description.htm");
}

TEST(DescriptionDocumentTest, NoDocumentNameMeansNothingToOpen) {
  EXPECT_TRUE(DescriptionDocumentPath(WideFromUtf8("/home/u/tpl/"), WideString()).Empty());
}

TEST(DescriptionDocumentTest, CommandQuotesThePathAsOneWord) {
  const NarrowString command = DescriptionOpenCommand(WideFromUtf8("/t/a\"b$(x)`y`\\c.htm"));
  EXPECT_STREQ(command.CStr(), "xdg-open \"/t/a\\\"b\\$(x)\\`y\\`\\\\c.htm\" 2>/dev/null");
}

TEST(DescriptionDocumentTest, TheShellSeesTheLiteralPath) {
  WizardScratch scratch;
  XdgOpenStandIn xdg_open(scratch);

  const std::string path = scratch.Child("odd \"name\" $HOME `id` \\.htm");
  ShellRun(DescriptionOpenCommand(WideFromUtf8(path)));
  EXPECT_EQ(ReadWholeFile(xdg_open.RecordPath()), path);
}

}  // namespace
