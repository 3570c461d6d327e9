// The warm-up: fontconfig initialised on its thread, the thread joined and its result kept;
// and when a run is worth one. Needs no display. Text is not laid out here: Pango runs
// fontconfig on threads of its own, synchronised in ways ThreadSanitizer does not see, so
// under it any layout is reported as racing, with or without the warm-up.

#include "ui/font_warm_up.h"

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

namespace {

TEST(FontWarmUpTest, InitialisesFontconfigOnItsThread) {
  FontWarmUp warm_up;
  ASSERT_TRUE(warm_up.Start());
  EXPECT_FALSE(warm_up.Start());  // one thread per object
  EXPECT_TRUE(warm_up.Finish());
  // What the thread loaded is the configuration in force, with the machine's fonts in it.
  const FcFontSet* fonts = FcConfigGetFonts(nullptr, FcSetSystem);
  ASSERT_NE(fonts, nullptr);
  EXPECT_GT(fonts->nfont, 0);
  EXPECT_TRUE(warm_up.Finish());  // joined once, the result kept

  FontWarmUp never_started;
  EXPECT_FALSE(never_started.Finish());
}

}  // namespace
