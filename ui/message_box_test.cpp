#include "ui/message_box.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "testing/text_helpers.h"
#include "ui/ui_test_support.h"

namespace {

class TitledWindow : public CWnd {
 public:
  WideString GetTitle() const override { return WideFromUtf8("Installing configuration"); }
};

TEST(MessageBoxFlagsTest, IconByte) {
  EXPECT_EQ(MessageTypeOfFlags(0x1000001), GTK_MESSAGE_ERROR);
  EXPECT_EQ(MessageTypeOfFlags(0x2000002), GTK_MESSAGE_QUESTION);
  EXPECT_EQ(MessageTypeOfFlags(1), GTK_MESSAGE_OTHER);
  EXPECT_EQ(MessageTypeOfFlags(0x3000001), GTK_MESSAGE_OTHER);
  // The middle bytes are ignored.
  EXPECT_EQ(MessageTypeOfFlags(0x01FFFF00), GTK_MESSAGE_ERROR);
  EXPECT_EQ(MessageTypeOfFlags(static_cast<MessageBoxFlags>(0xFF000002)), GTK_MESSAGE_OTHER);
}

TEST(MessageBoxFlagsTest, ButtonByte) {
  EXPECT_EQ(ButtonsOfFlags(0x2000002), GTK_BUTTONS_YES_NO);
  EXPECT_EQ(ButtonsOfFlags(0x1000001), GTK_BUTTONS_OK);
  EXPECT_EQ(ButtonsOfFlags(1), GTK_BUTTONS_OK);
  EXPECT_EQ(ButtonsOfFlags(0), GTK_BUTTONS_OK);
  EXPECT_EQ(ButtonsOfFlags(0x00FF0202), GTK_BUTTONS_YES_NO);
  EXPECT_EQ(ButtonsOfFlags(0x102), GTK_BUTTONS_YES_NO);
}

TEST(MessageBoxFlagsTest, Results) {
  EXPECT_EQ(ResultOfResponse(GTK_RESPONSE_YES), 1);
  EXPECT_EQ(ResultOfResponse(GTK_RESPONSE_NO), 2);
  EXPECT_EQ(ResultOfResponse(GTK_RESPONSE_OK), 3);
  EXPECT_EQ(ResultOfResponse(GTK_RESPONSE_DELETE_EVENT), 0);
  EXPECT_EQ(ResultOfResponse(GTK_RESPONSE_CLOSE), 0);
  EXPECT_EQ(ResultOfResponse(GTK_RESPONSE_CANCEL), 0);
}

TEST(MessageBoxStreamTest, CaptionThenText) {
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  WriteMessageToStream(stream, NarrowString("Caption"), NarrowString("100% done %d"));
  WriteMessageToStream(stream, NarrowString(), NarrowString("no caption"));
  std::rewind(stream);
  char buffer[128] = {};
  const std::size_t length = std::fread(buffer, 1, sizeof(buffer) - 1, stream);
  std::fclose(stream);
  EXPECT_EQ(std::string(buffer, length), "Caption\n100% done %d\nno caption\n");
}

TEST(MessageBoxTest, WithoutDisplayWritesToStandardError) {
  if (DisplayAvailable()) GTEST_SKIP() << "a display is open in this process";
  TitledWindow owner;
  testing::internal::CaptureStderr();
  const int result = MessageBox(&owner, WideFromUtf8("Kit missing"), kMessageBoxErrorOk);
  const std::string written = testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, kMessageBoxNoAnswer);
  EXPECT_EQ(written, "Installing configuration\nKit missing\n");
}

class MessageBoxWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
  }
};

TEST_F(MessageBoxWindowTest, ErrorWithOk) {
  TitledWindow owner;
  MessageBoxAnswerer answerer({GTK_RESPONSE_OK});
  EXPECT_EQ(MessageBox(&owner, WideFromUtf8("Installation error"), kMessageBoxErrorOk), 3);
  ASSERT_EQ(answerer.seen().size(), 1u);
  const SeenMessage& seen = answerer.seen()[0];
  EXPECT_EQ(seen.text, "Installation error");
  EXPECT_EQ(seen.title, "Installing configuration");
  EXPECT_EQ(seen.type, GTK_MESSAGE_ERROR);
  EXPECT_EQ(seen.buttons, std::vector<gint>{GTK_RESPONSE_OK});
}

TEST_F(MessageBoxWindowTest, QuestionWithYesAndNo) {
  TitledWindow owner;
  MessageBoxAnswerer answerer({GTK_RESPONSE_YES, GTK_RESPONSE_NO, GTK_RESPONSE_DELETE_EVENT});
  EXPECT_EQ(MessageBox(&owner, WideFromUtf8("Sure?"), kMessageBoxQuestionYesNo), 1);
  EXPECT_EQ(MessageBox(&owner, WideFromUtf8("Sure?"), kMessageBoxQuestionYesNo), 2);
  // Closed by the window manager: no answer.
  EXPECT_EQ(MessageBox(&owner, WideFromUtf8("Sure?"), kMessageBoxQuestionYesNo), 0);
  ASSERT_EQ(answerer.seen().size(), 3u);
  EXPECT_EQ(answerer.seen()[0].type, GTK_MESSAGE_QUESTION);
  std::vector<gint> buttons = answerer.seen()[0].buttons;
  std::sort(buttons.begin(), buttons.end());
  EXPECT_EQ(buttons, (std::vector<gint>{GTK_RESPONSE_NO, GTK_RESPONSE_YES}));
}

TEST_F(MessageBoxWindowTest, PlainOkTextShownLiterally) {
  MessageBoxAnswerer answerer({GTK_RESPONSE_OK});
  EXPECT_EQ(MessageBox(nullptr, WideFromUtf8("50% %d %s <b>&amp;</b>"), kMessageBoxPlainOk), 3);
  ASSERT_EQ(answerer.seen().size(), 1u);
  EXPECT_EQ(answerer.seen()[0].text, "50% %d %s <b>&amp;</b>");
  EXPECT_EQ(answerer.seen()[0].type, GTK_MESSAGE_OTHER);
}

TEST_F(MessageBoxWindowTest, OwnerWithoutTitleGivesAnEmptyTitle) {
  CWnd plain;
  MessageBoxAnswerer answerer({GTK_RESPONSE_OK});
  MessageBox(&plain, WideFromUtf8("x"), kMessageBoxPlainOk);
  ASSERT_EQ(answerer.seen().size(), 1u);
  EXPECT_EQ(answerer.seen()[0].title, "");
}

}  // namespace
