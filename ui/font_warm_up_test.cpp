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

TEST(FontWarmUpTest, WantedOnlyWhereADisplayMayBeOpened) {
  char program[] = "setup";
  char silent[] = "-S";
  char display_joined[] = "--display=:7";
  char display_apart[] = "--display";
  char display_name[] = ":7";
  char not_display[] = "--displayed";
  char* plain[] = {program, silent, nullptr};
  char* joined[] = {program, display_joined, nullptr};
  char* apart[] = {program, display_apart, display_name, nullptr};
  char* other[] = {program, not_display, nullptr};

  EXPECT_TRUE(WorkBesideGtkStartWanted(":0", nullptr, 2, plain));
  EXPECT_FALSE(WorkBesideGtkStartWanted(nullptr, nullptr, 2, plain));
  EXPECT_FALSE(WorkBesideGtkStartWanted("", "", 2, plain));
  EXPECT_TRUE(WorkBesideGtkStartWanted(nullptr, nullptr, 2, joined));
  EXPECT_TRUE(WorkBesideGtkStartWanted("", nullptr, 3, apart));
  EXPECT_FALSE(WorkBesideGtkStartWanted(nullptr, nullptr, 2, other));
  // The program's own name is no argument.
  char* named[] = {display_apart, nullptr};
  EXPECT_FALSE(WorkBesideGtkStartWanted(nullptr, nullptr, 1, named));
  // GDK takes a startup identifier out of the environment while the thread would read it.
  EXPECT_FALSE(WorkBesideGtkStartWanted(":0", "launcher-42_TIME1", 2, plain));
  EXPECT_TRUE(WorkBesideGtkStartWanted(":0", "", 2, plain));
}

}  // namespace
