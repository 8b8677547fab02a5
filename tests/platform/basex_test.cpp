// Elaboration information: the pooled string-name generator and the
// boundary-pin list of the netlist record.
#include <string>

#include <gtest/gtest.h>

#include "basex/basex.h"
#include "testkit/platform_testkit.h"

namespace {

TEST(BasexGenerator, PoolsTextsThatOutliveTheCall) {
  BASEX_ELABORATE_INFO info;
  const char* a = info.generate_string_name("dataa", nullptr, nullptr, 0, 0, 0);
  std::string base = "x_rtl_0";
  const char* b = info.generate_string_name(base.c_str(), "lpm_counter", "", 0, 0, 0);
  base.assign("changed");  // the pooled text is the pool's own copy
  EXPECT_EQ(std::string(a) + " " + b + " " + info.generate_string_name("q", nullptr, nullptr, 2, 0, 3),
            "dataa x_rtl_0_lpm_counter q[2,0,3]");
  EXPECT_EQ(info.generate_string_name("dataa", nullptr, nullptr, 0, 0, 0), a);  // equal arguments, same text
  for (int i = 0; i < 1000; ++i) info.generate_string_name("bit", nullptr, nullptr, i, 0, 0);
  EXPECT_STREQ(a, "dataa") << "texts never move while the pool grows";
  EXPECT_EQ(info.get_pool_size(), 1003u);
  EXPECT_KAVU_INTERNAL_ERROR(info.generate_string_name(nullptr, nullptr, nullptr, 0, 0, 0), "base");
}

TEST(BasexNetlistInfo, BoundaryPinsKeepOrderAndAppearOnce) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_IO* p[3];
  for (int i = 0; i < 3; ++i) p[i] = static_cast<CDB_SGATE_IO*>(kavu_platform::make_input_pin(&nl, ("p" + std::to_string(i)).c_str()));
  auto* info = new BASEX_SGATE_NETLIST_INFO;
  nl.set_netlist_info(info);
  ASSERT_EQ(nl.get_netlist_info()->dynamic_cast_to_BASEX_SGATE_NETLIST_INFO(), info);
  info->insert_boundary_pin(p[1], false);
  info->insert_boundary_pin(p[2], false);
  info->insert_boundary_pin(p[0], true);   // at the front
  info->insert_boundary_pin(p[1], false);  // already listed
  EXPECT_EQ(std::vector<CDB_SGATE_IO*>(info->begin_boundary_pin(), info->end_boundary_pin()),
            (std::vector<CDB_SGATE_IO*>{p[0], p[1], p[2]}));
  EXPECT_TRUE(info->remove_boundary_pin(p[1]));
  EXPECT_FALSE(info->remove_boundary_pin(p[1]));
  EXPECT_EQ(std::vector<CDB_SGATE_IO*>(info->begin_boundary_pin(), info->end_boundary_pin()),
            (std::vector<CDB_SGATE_IO*>{p[0], p[2]}));
  EXPECT_KAVU_INTERNAL_ERROR(info->insert_boundary_pin(nullptr, false), "pin");
}

}  // namespace
