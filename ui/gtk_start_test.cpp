#include "ui/gtk_start.h"

#include <gtest/gtest.h>

namespace {

TEST(GtkStartTest, WorkBesideItOnlyWhereADisplayMayBeOpened) {
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
