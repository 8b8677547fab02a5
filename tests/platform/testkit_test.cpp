// testkit_test.cpp — the test kit itself: the equivalence oracle sees
// function, not structure; each test starts from a reset.
#include <unistd.h>

#include <fstream>
#include <string>

#include "cfg/cfg.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "testkit/platform_testkit.h"

namespace {

using namespace kavu_platform;

// y = a XOR b built directly, or as (a OR b) AND NOT (a AND b), or wrongly
// as a OR b; z = a registered.
std::unique_ptr<CDB_SGATE_NETLIST> xor_circuit(int form) {
  auto nl = std::make_unique<CDB_SGATE_NETLIST>();
  CDB_SGATE_NODE* a = make_input_pin(nl.get(), "a");
  CDB_SGATE_NODE* b = make_input_pin(nl.get(), "b");
  CDB_SGATE_NODE* y = form == 0   ? make_xor(nl.get(), a, b)
                      : form == 1 ? make_and(nl.get(), make_or(nl.get(), a, b), make_not(nl.get(), make_and(nl.get(), a, b)))
                                  : make_or(nl.get(), a, b);
  make_output_pin(nl.get(), "y", y);
  make_output_pin(nl.get(), "z", make_dff(nl.get(), a, make_input_pin(nl.get(), "clk")));
  return nl;
}

TEST(TestkitBuilders, EquivalenceSeesFunctionNotStructure) {
  auto direct = xor_circuit(0), rebuilt = xor_circuit(1), wrong = xor_circuit(2);
  KAVU_TRACK(*direct);
  ASSERT_KAVU_EQUIVALENT(*direct, *rebuilt);
  ::testing::AssertionResult r = netlists_equivalent(direct.get(), wrong.get());
  EXPECT_FALSE(r);
  EXPECT_NE(std::string(r.message()).find("y"), std::string::npos) << r.message();
  // A mux is the LUT over (d0, d1, s) with mask 0xCA: s ? d1 : d0.
  auto m1 = std::make_unique<CDB_SGATE_NETLIST>(), m2 = std::make_unique<CDB_SGATE_NETLIST>();
  for (CDB_SGATE_NETLIST* nl : {m1.get(), m2.get()}) {
    CDB_SGATE_NODE *d0 = make_input_pin(nl, "d0"), *d1 = make_input_pin(nl, "d1"), *s = make_input_pin(nl, "s");
    make_output_pin(nl, "y", nl == m1.get() ? make_mux(nl, d0, d1, s) : make_lut(nl, {d0, d1, s}, 0xCA));
  }
  ASSERT_KAVU_EQUIVALENT(m1, m2);
  ASSERT_KAVU_EQUIVALENT(load_blif("adder16_generic"), load_blif("small/adder16_lut4.blif"));
  EXPECT_THROW(load_blif("no_such_circuit"), std::runtime_error);
}

// The two tests below run in order: the first leaves state behind, the
// second must not see it.
std::string g_first_dir;

std::string cwd() {
  char buf[4096];
  return getcwd(buf, sizeof buf) ? buf : "";
}

TEST(TestkitReset, FirstTestLeavesStateBehind) {
  g_first_dir = cwd();
  std::ofstream("left_over.txt") << "x";
  cfg_set_value("left_over_key", "on");
  tag_it(5, "left");
  HDB_INSTANCE_NAME::create_normal_name(nullptr, "left_over_top", nullptr, nullptr, nullptr);
  CDB_SGATE_NETLIST nl;
  make_input_pin(&nl, "p");
  cdb_sgate_set_synthesis_running_in_parallel(true);
}

TEST(TestkitReset, SecondTestStartsClean) {
  EXPECT_NE(g_first_dir, cwd());
  EXPECT_FALSE(std::ifstream("left_over.txt").good() || cfg_is_on("left_over_key", false) || tag_is_set(5));
  EXPECT_FALSE(hdb_default_namespace()->get_root() || cdb_sgate_synthesis_is_running_in_parallel());
  CDB_SGATE_NETLIST nl;
  EXPECT_EQ(make_input_pin(&nl, "p")->get_debug_number(), 1u);  // the counter restarted
  EXPECT_FALSE(cfg_is_on("msg_print", true));                   // the kit switches printing off
}

}  // namespace
