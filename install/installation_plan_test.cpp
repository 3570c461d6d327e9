#include "install/installation_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kit/distribution_kit.h"
#include "testing/kit_builders.h"
#include "testing/scratch_directory.h"
#include "testing/text_helpers.h"

// A dry run fails where the run would: a target that is empty or relative names no
// directory, so no entry is looked up from the current directory.
TEST(InstallationPlanTest, TargetThatIsNoAbsoluteDirectoryPlansNothing) {
  ScratchDirectory scratch;
  DistributionKit kit;
  ASSERT_EQ(MakeKit(scratch.Child("k.efd"), {{"a\\b.txt", FileTime{0, 0x01D00000}, "b"}}, &kit),
            kSuccess);
  std::vector<PlannedEntry> plan;
  for (const char* target : {"", "tmplts"}) {
    const Status planned = PlanInstallation(kit, TargetDirectory(WideFromAscii(target)), &plan);
    EXPECT_EQ(planned.code(), kErrorPathNotFound) << target;
    EXPECT_TRUE(plan.empty()) << target;
  }
  const TargetDirectory absolute(WideFromAscii(scratch.Child("t")));
  ASSERT_TRUE(PlanInstallation(kit, absolute, &plan).ok());
  ASSERT_EQ(plan.size(), 1u);
  EXPECT_EQ(AsciiOf(plan[0].path), scratch.Child("t") + "/a/b.txt");
  EXPECT_EQ(plan[0].action, EntryAction::kNew);
}
