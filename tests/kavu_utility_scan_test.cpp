// Tests of scan-chain insertion: on real sequential circuits the design is
// unchanged with scan mode off and shifts a pattern through every chained
// register with it on; a hand-built design checks domains by clock and
// inversion, registers that cannot be scanned, names and "scan_info.txt".
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_helper_predicates.h"
#include "kavu_utility_scan.h"
#include "msg/msg.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

std::string read_text(const char* path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Scan pins by their own name ("_scan_in_0").
std::map<std::string, CDB_SGATE_NODE*> scan_pins(const CDB_SGATE_NETLIST& nl) {
  std::map<std::string, CDB_SGATE_NODE*> pins;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it)
    if (*it && kavu_is_a_pin(*it) && (*it)->get_instance_name()) {
      const std::string n = (*it)->get_instance_name()->get_unit_name_str();
      if (n.rfind("_scan_", 0) == 0) pins[n] = *it;
    }
  return pins;
}

int count_chained(const std::string& info) {
  int n = 0;
  for (size_t at = info.find("Chain 00 : DFF "); at != std::string::npos; at = info.find("Chain 00 : DFF ", at + 1)) ++n;
  return n;
}

}  // namespace

TEST(KavuUtilityScan, ChainsOnRealCircuitsShiftAndKeepFunction) {
  for (const char* name : {"mcnc/s298", "seq/stereovision3"}) {
    auto golden = load_blif(name);
    auto nl = load_blif(name);
    KAVU_TRACK(nl);
    CMP_FACADE facade;
    opt_insert_scan_chains(&facade, nl->get_hierarchy(), nl.get());
    const std::string info = read_text("scan_info.txt");
    const int n = count_chained(info);
    ASSERT_GT(n, 1) << name;
    EXPECT_NE(info.find("Info : domain 0 - " + std::to_string(n) + " flops\n"), std::string::npos) << name;
    auto pins = scan_pins(*nl);
    ASSERT_TRUE(pins.count("_scan_mode_0") && pins.count("_scan_in_0") && pins.count("_scan_out_0")) << name;

    // Scan mode on: the word shifted in before clock t leaves after clock t + n - 1.
    NETLIST_SIMULATOR sim(nl.get());
    ASSERT_TRUE(sim.ok()) << sim.error();
    sim.randomize_inputs(7);
    sim.set_input(pins["_scan_mode_0"], ~0ull);
    std::vector<uint64_t> pattern;
    for (int t = 0; t < n + 8; ++t) {
      pattern.push_back(0x9e3779b97f4a7c15ull * (t + 1));
      sim.set_input(pins["_scan_in_0"], pattern.back());
      sim.eval();
      sim.clock();
      if (t >= n - 1) {
        EXPECT_EQ(sim.output(pins["_scan_out_0"]), pattern[t - n + 1]) << name << " clock " << t;
      }
    }

    // Scan mode off: the same design once the scan pins are tied off.
    for (auto& [pin_name, pin] : pins) {
      if (kavu_is_a_input_pin(pin)) pin->get_single_oterm()->set_all_fanouts_constant(false);
      else pin->get_single_iterm()->disconnect_from_source();
      nl->delete_node(pin);
      delete pin;
    }
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
}

TEST(KavuUtilityScan, DomainsWarningsNamesAndReport) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CMP_FACADE facade;
  auto* clk = make_input_pin(&nl, "clk");  // names the root "top"
  HDB_NAMESPACE* ns = facade.get_namespace();
  HDB_INSTANCE_NAME* root = ns->get_rooted_at();
  ASSERT_NE(root, nullptr);
  HDB_INSTANCE_NAME* existing = HDB_INSTANCE_NAME::create_normal_name(ns, "_scan_in_0", nullptr, nullptr, root);
  auto* d = make_input_pin(&nl, "d");
  auto* r1 = make_dff(&nl, d, clk);
  auto* r2 = make_dff(&nl, r1, clk);
  auto* r3 = make_dff(&nl, r2, clk);
  r3->get_input_term(CDB_DFF_CLK)->set_invert();
  auto* r4 = make_dff(&nl, r3, clk);
  r4->get_input_term(CDB_DFF_ENA)->set_source(d->get_single_oterm());
  auto* r5 = make_dff(&nl, r4, clk);
  r5->get_input_term(CDB_DFF_ENA)->set_vcc();
  make_output_pin(&nl, "q", r5);
  opt_insert_scan_chains(&facade, nullptr, &nl);
  const std::string d4 = r4->get_debug_name();
  const std::string expected =
      "Chain 00 : DFF " + r1->get_debug_name() + " " + r1->get_string_hpath() + "\n" +
      "Chain 00 : DFF " + r2->get_debug_name() + " " + r2->get_string_hpath() + "\n" +
      "Chain 01 : DFF " + r3->get_debug_name() + " " + r3->get_string_hpath() + "\n" +
      "WARNING - Check DFF UID " + d4 + " - unable to scan due to sec sig\n" +
      "Chain 00 : DFF " + r5->get_debug_name() + " " + r5->get_string_hpath() + "\n" +
      "Info : domain 0 - 3 flops\nInfo : domain 1 - 1 flops\n";
  EXPECT_EQ(read_text("scan_info.txt"), expected);
  auto pins = scan_pins(nl);
  EXPECT_EQ(pins.size(), 6u);
  EXPECT_EQ(pins["_scan_in_0"]->get_instance_name(), existing);  // the existing name is taken
  EXPECT_EQ(r4->get_input_term(CDB_DFF_DATA)->get_source(), r3->get_single_oterm());  // not scanned
  CDB_SGATE_NODE* mux1 = r1->get_input_term(CDB_DFF_DATA)->get_source()->get_my_node();
  ASSERT_TRUE(kavu_is_a_mux(mux1));
  EXPECT_EQ(mux1->get_input_term(1)->get_source(), pins["_scan_in_0"]->get_single_oterm());
  EXPECT_EQ(pins["_scan_out_0"]->get_single_iterm()->get_source(), r5->get_single_oterm());

  CDB_SGATE_NETLIST empty;
  opt_insert_scan_chains(&facade, nullptr, &empty);
  EXPECT_EQ(read_text("scan_info.txt"), "");
  EXPECT_EQ(empty.size(), 0u);

  std::string text = "a~b[3]:c";
  opt_replace_string_punctuation(&text);
  EXPECT_EQ(text, "a_b_3__c");
}

// "scan_info.txt" is the pass's report, not its work: where it cannot be
// written as the user's own (another user's 0644 or 0666 file left in a
// sticky working directory), the chains are still inserted, a warning says
// the report is not written, and the other user's file keeps its text. The
// pass used to end the host with an internal error.
TEST(KavuUtilityScan, AReportThatCannotBeWrittenLeavesTheChainsAndWarns) {
  if (geteuid() != 0) GTEST_SKIP() << "the rows act as two users: needs root";
  namespace fs = std::filesystem;
  SCRATCH_REACHED_BY_ALL reach;
  int cell = 0;
  for (mode_t mode : {mode_t(0644), mode_t(0666)}) {
    SCOPED_TRACE("root's leftover of mode " + std::to_string(mode));
    const fs::path dir = fs::current_path() / ("work" + std::to_string(cell++));
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::all | fs::perms::sticky_bit);
    std::ofstream(dir / "scan_info.txt") << "root's report\n";
    ASSERT_EQ(chmod((dir / "scan_info.txt").c_str(), mode), 0);
    const std::string told = run_in_child_as(kTestNobody, dir.string(), [] {
      CDB_SGATE_NETLIST nl;
      CMP_FACADE facade;
      auto* clk = make_input_pin(&nl, "clk");
      make_output_pin(&nl, "q", make_dff(&nl, make_dff(&nl, make_input_pin(&nl, "d"), clk), clk));
      msg_log_clear();
      opt_insert_scan_chains(&facade, nullptr, &nl);
      std::string said = std::to_string(scan_pins(nl).size()) + " scan pins";
      for (const MSG_LOG_ENTRY& e : msg_log())
        if (e.kind == MSG_LOG_WARNING) said += "\n" + e.text;
      return said;
    });
    EXPECT_EQ(told.rfind("3 scan pins\n", 0), 0u) << told;
    EXPECT_NE(told.find("Scan chains are inserted without their report \"scan_info.txt\": cannot write the file: it "
                        "is not a file of this user's own (another user's file)"),
              std::string::npos)
        << told;
    EXPECT_EQ(read_text((dir / "scan_info.txt").c_str()), "root's report\n");
  }
}
