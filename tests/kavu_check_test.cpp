// Internal errors name their source relative to the project: the library by
// its area ("synth/kavu/kavu_helper" for every file of that area), the
// platform layer by its file; never the build machine's directories.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "kavu_01tbl_cone.h"
#include "kavu_cut.h"
#include "kavu_dff_helper_sync.h"
#include "kavu_helper_predicates.h"
#include "netlist_io/abc_oracle.h"
#include "platform_testkit.h"

TEST(KavuCheck, InternalErrorsNameTheAreaNotTheBuildPath) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* pin = kavu_platform::make_input_pin(&nl, "a");
  KAVU_WVNET_MANAGER cuts;
  const struct {
    const char* source;
    std::function<void()> call;
  } cases[] = {
      {"synth/kavu/kavu_helper", [] { kavu_is_a_two_and(nullptr); }},        // kavu_helper_predicates
      {"synth/kavu/kavu_01tbl", [] { kavu_cube_cover_01tbl(1, "1"); }},     // kavu_01tbl_cone
      {"synth/kavu/kavu_dff_helper", [&] { opt_dff_is_fed_by_adder(pin); }},  // kavu_dff_helper_sync
      {"synth/kavu/kavu_cut", [&] { cuts.get_all_cuts(nullptr, 4, 4, nullptr, nullptr); }},
      {"platform/netlist_io/abc_oracle.cpp", [] { kavu_platform::abc_equivalent(nullptr, nullptr); }},
  };
  for (const auto& c : cases) {
    std::string file = "(no internal error)";
    try {
      c.call();
    } catch (const kavu_platform::test_internal_error& e) {
      file = e.file;
    }
    EXPECT_EQ(file, c.source);
  }
}
