#include "app/run_log.h"

#include <gtest/gtest.h>

#include <string>

#include "app/progress_line.h"
#include "testing/locale_override.h"

namespace {

// What follows the record's time: the event and the fields, as written.
std::string Fields(const RunLog::Record& record) {
  const std::string line = record.Line();
  const std::size_t event = line.find(",\"event\"");
  return event == std::string::npos ? line : line.substr(event);
}

TEST(RunLogTest, TextsAreJsonWithUndecodableBytesAsEscapes) {
  // A quote, a backslash, a line feed, an astral character (a surrogate pair), a byte that
  // did not decode (U+DCFF) and a lone high surrogate.
  const char16_t units[] = {u'a', u'"', u'\\', u'\n', 0xD83D, 0xDE00, 0xDCFF, 0xD800, u'z', 0};
  RunLog::Record record("entry");
  record.Text("path", WideString(units)).Number("n", -3).Flag("ok", false);
  EXPECT_EQ(Fields(record),
            ",\"event\":\"entry\",\"path\":\"a\\\"\\\\\\u000a\xF0\x9F\x98\x80\\udcff\\ud800z\","
            "\"n\":-3,\"ok\":false}\n");
  EXPECT_EQ(record.Line().rfind("{\"time\":\"", 0), 0u);
}

TEST(RunLogTest, ACauseNamesPathReasonAndErrno) {
  LocaleOverride locale("C.UTF-8");
  RunLog::Record record("failure");
  record.Cause(Status::FromErrno(13, NarrowString("/t/a")));
  EXPECT_EQ(Fields(record),
            ",\"event\":\"failure\",\"path\":\"/t/a\",\"reason\":\"Permission denied\","
            "\"errno\":\"EACCES\",\"errno_number\":13,\"code\":87}\n");
  EXPECT_STREQ(Status::FromErrno(13, NarrowString("/t/a")).ToString().CStr(),
               "/t/a: Permission denied (EACCES)");
}

TEST(ProgressLineTest, ALongPathLosesItsBeginningAndTheLineFitsTheTerminal) {
  LocaleOverride locale("C.UTF-8");
  EXPECT_STREQ(ProgressLine(42, 3, 7, WideString(u"/t/a"), 80).CStr(), " 42% 3/7 /t/a");
  // Thirty columns, 29 used: the head takes 9, "..." 3, and 17 are left for the end of the
  // path, where a wide character counts twice.
  const NarrowString cut =
      ProgressLine(42, 3, 7, WideString(u"/templates/deep/folder/\u6587\u6863.cfg"), 30);
  EXPECT_STREQ(cut.CStr(), " 42% 3/7 ...p/folder/\u6587\u6863.cfg");
}

}  // namespace
