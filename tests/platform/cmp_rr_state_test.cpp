// Tests of the fast-recompilation switch.
#include <gtest/gtest.h>

#include <cstring>

#include "cmp/ztk_rr_state.h"
#include "platform_testkit.h"

using namespace kavu_platform;

// Off by default, follows the key on every call, and the test reset drops
// a value set from code.
TEST(CmpRapidRecompile, FollowsItsKeyOnEveryCall) {
  EXPECT_FALSE(ZTK_RR_STATE_MANAGER::is_rapid_recompile_supported());
  cfg_set_value("rapid_recompile_supported", "on");
  EXPECT_TRUE(ZTK_RR_STATE_MANAGER::is_rapid_recompile_supported());
  cfg_set_value("rapid_recompile_supported", "off");
  EXPECT_FALSE(ZTK_RR_STATE_MANAGER::is_rapid_recompile_supported());
  cfg_set_value("rapid_recompile_supported", "on");
  plat_test_reset_all();
  EXPECT_FALSE(ZTK_RR_STATE_MANAGER::is_rapid_recompile_supported());
  EXPECT_STREQ(DBM_TYPE_PARSYNTH, "parsynth");
}
