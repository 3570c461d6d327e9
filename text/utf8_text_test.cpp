#include "text/utf8_text.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/text_helpers.h"

namespace {

TEST(Utf8TextTest, CharactersRoundTripAndUndecodableBytesComeBackAsEscapes) {
  const std::string text = "h\xc3\xbc \xd0\x96 \xe4\xb8\xad \xf0\x9f\x98\x80";  // ü Ж 中 😀
  const WideString wide = FromUtf8(NarrowOf(text));
  EXPECT_EQ(U16(wide), u"h\u00fc \u0416 \u4e2d \U0001F600");
  EXPECT_EQ(StringOf(ToUtf8(wide)), text);
  // A Latin-1 byte, a cut sequence, an overlong "/", an encoded surrogate.
  EXPECT_EQ(U16(FromUtf8(NarrowOf("h\xfc|\xe4\xb8|\xc0\xaf|\xed\xa0\x80"))),
            u"h\xdcfc|\xdce4\xdcb8|\xdcc0\xdcaf|\xdced\xdca0\xdc80");
  EXPECT_EQ(U16(FromUtf8(NarrowOf(std::string("a\0b", 3)))), u"a");
}

TEST(Utf8TextTest, WhatIsNoCharacterBecomesTheReplacement) {
  WideString wide = WideFromAscii("a");
  wide.Append(u'\xdcfc');  // an escape
  wide.Append(u'\xd800');  // a lone high surrogate
  wide.Append(u'\0');
  wide.Append(u'b');
  EXPECT_EQ(StringOf(ToUtf8(wide)), "a\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd" "b");
}

}  // namespace
