// Tests of the netlist statistics tally and report: every bundled circuit
// counted beside yosys and berkeley-abc, reports that repeat byte for byte,
// the quiet gate and report prefixes, register signatures and chains,
// operand descriptions, and the design flags at their thresholds.
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>

#include "cdb/cdb_sgate.h"
#include "kavu_operator_test_support.h"
#include "kavu_stats_test_support.h"
#include "kavu_stats_yosys_counts.h"
#include "netlist_io/abc_oracle.h"
#include "netlist_io/yosys_oracle.h"

using namespace kavu_platform;
using namespace kavu_stats_test;

namespace {

// berkeley-abc's latch and node counts, or false when it cannot read the file.
bool abc_counts(const std::string& path, unsigned* latches, unsigned* nodes) {
  std::string out;
  if (abc_run("read " + path + "; print_stats", &out) != 0) return false;
  std::smatch m;
  if (!std::regex_search(out, m, std::regex(R"(lat\s*=\s*(\d+)\s+nd\s*=\s*(\d+))"))) return false;
  *latches = unsigned(std::stoul(m[1]));
  *nodes = unsigned(std::stoul(m[2]));
  return true;
}

// Constant covers (".names x" with no input): berkeley-abc keeps them as
// nodes, the reader ties their readers instead.
unsigned constant_covers(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  unsigned n = 0;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string w;
    int count = 0;
    bool names = false;
    while (words >> w) names |= count++ == 0 && w == ".names";
    n += names && count == 2;
  }
  return n;
}

unsigned count_of(const std::map<std::string, unsigned>& m, const std::string& k) {
  auto it = m.find(k);
  return it == m.end() ? 0 : it->second;
}

class KavuStatsTally : public STATS_TEST {};

}  // namespace

// The type-name lines of the tally against yosys (cell kinds both know) and
// berkeley-abc (registers and LUTs of the files it reads).
TEST_F(KavuStatsTally, EveryBundledCircuitMatchesYosysAndAbc) {
  const bool have_yosys = !yosys_binary_path().empty(), have_abc = !abc_binary_path().empty();
  if (!have_yosys) std::cout << "[ note     ] yosys not installed: cell kinds not compared\n";
  if (!have_abc) std::cout << "[ note     ] berkeley-abc not installed: register and LUT counts not compared\n";
  int compared = 0;
  for (const std::string& name : bundled_circuits()) {
    SCOPED_TRACE(name);
    auto nl = load_blif(name);
    const auto tally = parsable_tally(nl.get());
    const std::string path = blif_data_path(name);
    if (have_yosys) {
      std::string log;
      const auto kinds = yosys_kinds(path, &log);
      ASSERT_FALSE(kinds.empty()) << log.substr(0, 300);
      EXPECT_EQ(count_of(tally, "LUT") - buffer_luts(nl.get()), count_of(kinds, "LUT")) << name;
      for (const char* k : {"DFF", "LATCH", "MUX"}) EXPECT_EQ(count_of(tally, k), count_of(kinds, k)) << name << " " << k;
      // A synchronous reset to 1 that overrides the enable has no register
      // form here: the reader adds a gate per register, so comb gates differ.
      if (!count_of(kinds, "RESET_TO_1_OVER_ENABLE")) {
        EXPECT_EQ(count_of(tally, "COMB"), count_of(kinds, "COMB")) << name;
      }
      ++compared;
    }
    unsigned latches = 0, nodes = 0;
    if (have_abc && name.find("generic") == std::string::npos && name.rfind("seq/", 0) != 0 &&
        abc_counts(path, &latches, &nodes)) {
      EXPECT_EQ(count_of(tally, "DFF") + count_of(tally, "LATCH"), latches) << name << " abc regs";
      EXPECT_EQ(count_of(tally, "LUT") + constant_covers(path), nodes) << name << " abc LUT";
    }
  }
  if (have_yosys) {
    EXPECT_EQ(compared, int(bundled_circuits().size()));
  }
}

namespace {

// Report lines without the per-thread report counter and without the
// closing "Time spent" line, which appears only when a whole second passed.
std::vector<std::string> report_lines(CDB_SGATE_NETLIST* nl, const std::string& title, bool many) {
  DEBUG_CAPTURE cap("KAVU");
  KAVU_STATS stats;
  stats.report_on_netlist(nl, title, many);
  std::vector<std::string> out;
  const std::regex counter(R"(STATS_\d+_)");
  for (const std::string& l : cap.lines())
    if (l.find(" Time spent is ") == std::string::npos) out.push_back(std::regex_replace(l, counter, "STATS_n_"));
  return out;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

// Every section on, twice on two loads of the same design: the same lines
// and the same files (no order by address anywhere).
TEST_F(KavuStatsTally, ReportsRepeatByteForByte) {
  CFG_SCOPE cfg{{"kavu_netlist_estimate", "on"}, {"kavu_stats_many", "on"},          {"kavu_dump_reg_secondaries", "on"},
                {"kavu_dump_secondary_stats", "on"}, {"kavu_dump_more_secondary_stats", "on"}, {"rtl_net_stats", "on"},
                {"smt_reg_connex_stats", "on"},      {"kavu_stats_dump_fanout", "on"},          {"smt_fanout_stats", "on"},
                {"smt_dump_netlist_for_connex_stats", "on"}, {"kavu_delay_stats_dump_slack_profile", "on"}};
  // Both loads number their gates alike (debug names are printed).
  CDB_SGATE_NODE::reset_debug_counter();
  auto a = load_blif("seq/diffeq1");
  const auto first = report_lines(a.get(), "std_entry", true);
  const std::string fanout_file = read_file("sgate_fanout_stat.txt"), high_file = read_file("sgate_high_fanout_stat.txt");
  CDB_SGATE_NODE::reset_debug_counter();
  auto b = load_blif("seq/diffeq1");
  const auto second = report_lines(b.get(), "std_entry", true);
  EXPECT_GT(first.size(), 200u);
  EXPECT_TRUE(first == second);
  EXPECT_TRUE(read_file("sgate_fanout_stat.txt") == fanout_file);
  EXPECT_TRUE(read_file("sgate_high_fanout_stat.txt") == high_file);
  EXPECT_NE(fanout_file.find("CDB_SGATE_ALL"), std::string::npos);
  // Every section ran.
  for (const char* mark : {"Current estimate", "FLAGS -", "Maximum circuit delay", "Slack profile", " WIRE ", "FANOUT ",
                           "DELAY_PEN ", "CLUSTER ", "NEIGHBORS MAX", "CRIT ", " REG ", "Enable stats", "All Enables",
                           "SMT_NETLIST_DUMP", "sr anytaps"}) {
    bool found = false;
    for (const std::string& l : first) found |= l.find(mark) != std::string::npos;
    EXPECT_TRUE(found) << mark;
  }
}

TEST_F(KavuStatsTally, QuietGatePrefixesAndDepth) {
  // Quiet by default outside regression tests: nothing printed.
  {
    kavu_stats_reset_for_tests();
    CFG_SCOPE quiet{{"synth_less_debug_messages", nullptr}};
    auto nl = load_blif("small/counter8_lut4");
    DEBUG_CAPTURE cap("KAVU");
    KAVU_STATS().report_on_netlist(nl.get());
    EXPECT_TRUE(cap.lines().empty());
  }
  kavu_stats_reset_for_tests();
  CFG_SCOPE cfg{{"kavu_stats_no_delay", "on"}};
  CDB_SGATE_NETLIST empty;
  CDB_SGATE_NETLIST part(true, 3, 1);
  DEBUG_CAPTURE cap("KAVU");
  KAVU_STATS stats;
  stats.report_on_netlist(&empty, "E", 1);
  stats.report_on_netlist(&part, "P", 1);
  const auto lines = cap.lines();
  EXPECT_TRUE(cap.contains("STATS_0_E :There are 0 sgates on the netlist."));
  EXPECT_TRUE(cap.contains("STATS_3_1_P :There are 0 sgates on the netlist."));
  // Empty: two star lines and the count line each.
  EXPECT_EQ(lines.size(), 6u);

  // Depth 1: type names only; -1 every level; node vectors at depth 2.
  auto nl = load_blif("small/counter8_generic");
  DEBUG_CAPTURE cap2("KAVU");
  stats.report_on_netlist(nl.get(), "D", 1);
  EXPECT_TRUE(cap2.contains("    DFF : 8"));
  EXPECT_FALSE(cap2.contains("ENA SCLR"));
  stats.report_on_netlist(nl.get(), "D", -1);
  EXPECT_TRUE(cap2.contains("         ENA SCLR  : 8"));
  std::vector<CDB_SGATE_NODE*> regs;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && (*it)->get_sgate_type() == CDB_SGATE_DFF_ENUM) regs.push_back(*it);
  stats.report_on_node_vec(&regs, "PART_1");
  EXPECT_TRUE(cap2.contains("STATS_NODE_VEC_PART_1 :There are 8 sgates on the netlist."));
}

// Register signatures; a control driven by logic counts (it is connected in
// its own right, not only through a parent input).
TEST_F(KavuStatsTally, RegisterSignatures) {
  struct CASE {
    int pos;
    int how;  // 0 driven by logic, 1 VCC, 2 GND
    int adata;  // -1 untouched, 0 driven, 2 GND
    const char* signature;
  } cases[] = {
      {-1, 0, -1, "DFF | plain"},
      {CDB_DFF_ENA, 1, -1, "DFF | plain"},
      {CDB_DFF_ENA, 0, -1, "DFF | ENA "},
      {CDB_DFF_ACLR, 0, -1, "DFF | CLR "},
      {CDB_DFF_ACLR, 2, -1, "DFF | plain"},
      {CDB_DFF_SCLR, 0, -1, "DFF | SCLR "},
      {CDB_DFF_ALOAD, 0, 2, "DFF | ALD ADATA_GND "},
      {CDB_DFF_ALOAD, 0, 0, "DFF | ALD ADATA_NORM "},
  };
  for (const CASE& c : cases) {
    CDB_SGATE_NETLIST one;
    CDB_SGATE_NODE* src = make_input_pin(&one, "s");
    CDB_SGATE_NODE* ck = make_input_pin(&one, "c");
    CDB_SGATE_NODE* r = make_dff(&one, src, ck);
    if (c.pos >= 0) {
      CDB_SGATE_ITERM* t = r->get_input_term(c.pos);
      if (c.how == 0) t->set_source(out(make_and(&one, src, ck)));
      if (c.how == 1) t->set_vcc();
      if (c.how == 2) t->set_gnd();
    }
    if (c.adata == 0) r->get_input_term(CDB_DFF_ADATA)->set_source(out(src));
    if (c.adata == 2) r->get_input_term(CDB_DFF_ADATA)->set_gnd();
    const auto tally = parsable_tally(&one);
    EXPECT_EQ(count_of(tally, c.signature), 1u) << c.signature;
  }
}

// The end of a chain of 150 registers: the any-taps length stops at 100.
TEST_F(KavuStatsTally, ShiftRegisterChainLength) {
  CFG_SCOPE cfg{{"smt_reg_connex_stats", "on"}};
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* prev = make_input_pin(&nl, "d");
  for (int i = 0; i < 150; ++i) prev = make_dff(&nl, prev, clk);
  make_output_pin(&nl, "q", prev);
  EXPECT_EQ(shift_register_chain_length(prev, false), 100);
  const auto tally = parsable_tally(&nl);
  EXPECT_EQ(count_of(tally, "DFF | fed by DFF | sr anytaps 100"), 1u);
  EXPECT_EQ(count_of(tally, "DFF | fed by DFF | fo=1"), 149u);
  EXPECT_EQ(shift_register_chain_length(nullptr, true), 1);
}

// Operand descriptions: an unconnected operand bit is described ("NC") and
// the report goes on; slices only when all widths agree.
TEST_F(KavuStatsTally, AdderOperandsAndSlices) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  auto* op = new CDB_SGATE_OPERATOR("add", CDB_OPER_ADDITION);
  nl.add_node(op);
  auto* pa = op->add_port("A", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN);
  auto* pb = op->add_port("B", CDB_OPER_PORT_B, CDB_OPER_PORT_DIR_IN);
  auto* po = op->add_port("O", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
  for (unsigned i = 0; i < 2; ++i) {
    pa->set_iterm(i, op->insert_unordered_fanin(out(a)));
    po->set_oterm(i, op->create_output_term(nullptr));
  }
  CDB_SGATE_ITERM* b0 = op->create_input_term(nullptr);
  pb->set_iterm(0, b0);
  b0->set_gnd();
  CDB_SGATE_ITERM* b1 = op->create_input_term(nullptr);  // left unconnected
  pb->set_iterm(1, b1);
  make_output_pin(&nl, "o", op);
  const auto tally = parsable_tally(&nl, -1);
  EXPECT_EQ(count_of(tally, "OPERATOR | 2x2"), 1u);
  EXPECT_EQ(count_of(tally, "OPERATOR | iterm | fed by IO"), 2u);
  EXPECT_EQ(count_of(tally, "OPERATOR | iterm | fed by GND"), 1u);
  EXPECT_EQ(count_of(tally, "OPERATOR | iterm | NC"), 1u);
  EXPECT_EQ(count_of(tally, "OPERATOR | slice | IO+GND=fo=1 to IO"), 0u);
  EXPECT_EQ(count_of(tally, "OPERATOR | slice | IO+GND=IO (fo=1)"), 1u);
  EXPECT_EQ(count_of(tally, "OPERATOR | slice | IO+NC=no fanout"), 1u);
}

// A multiply's fan-out profile lists its texts ignoring case, whatever the
// order the bits meet them: IO < multiple_fanout < MUX < no_fanout (in byte
// order MUX and IO would come before the lower-case texts).
TEST_F(KavuStatsTally, ProfilesListTheirTextsIgnoringCase) {
  CFG_SCOPE cfg{{"kavu_give_connectivity_stats_on_mults", "on"}};
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_OPERATOR* op = kavu_operator_test::make_two_operand_op(&nl, CDB_OPER_MULTIPLY, a, 2, 2, 4, "mul");
  auto reader = [&](unsigned bit, const char* name) {
    CDB_SGATE_NODE* y = make_output_pin(&nl, name, nullptr);
    y->get_single_iterm()->disconnect_from_source();
    op->get_oterm(CDB_OPER_PORT_O, bit)->insert_fanout(y->get_single_iterm());
  };
  // Bit 0 unread; bit 1 into a mux; bit 2 read twice; bit 3 into a pin.
  CDB_SGATE_NODE* m = make_mux(&nl, a, a, nullptr);
  m->get_input_term(CDB_MUX_SELECT)->disconnect_from_source();
  op->get_oterm(CDB_OPER_PORT_O, 1)->insert_fanout(m->get_input_term(CDB_MUX_SELECT));
  make_output_pin(&nl, "m", m);
  reader(2, "y2a");
  reader(2, "y2b");
  reader(3, "y3");
  const auto tally = parsable_tally(&nl, -1);
  EXPECT_EQ(count_of(tally, "OPERATOR | port_out_fanout: IO 1 , multiple_fanout 1 , MUX 1 , no_fanout 1 , "), 1u);
}

// MAC multiplier and output atoms: register, bypass, rounding and
// saturation facts come from the atom's modes; rounding and saturation count
// only with their port fed by something but GND, and only in adder modes on
// the output atom.
TEST_F(KavuStatsTally, MacAtomsReportTheirModes) {
  CFG_SCOPE cfg{{"kavu_give_stats_on_macs", "on"}};
  auto place_in = [](CDB_SGATE_WYSIWYG* w, DB_INPUT_PORT_TYPE type, unsigned bit) {
    CDB_SGATE_ITERM* t = w->create_input_term(nullptr, type);
    w->set_input_term(t, w->get_input_port_number(type) + bit);
    return t;
  };
  struct CASE {
    CDB_WYSIWYG_TYPE type;
    std::vector<unsigned> modes;
    bool feature_ports_gnd;  // ROUND/ROUND0/SATURATE tied to GND instead of driven
    const char* text;        // after "<type name> | " ("bypass_mult" stands alone)
  } cases[] = {
      {10502, {}, false,
       "4x3 => 5 , ina_reg 0 , inb_reg 0 , out_reg 0 , scan_in_a 1 , scan_in_b 0 , scan_out 0 , rounding 0 , sat 0 "},
      {10373, {122, 123, 124, 126, 127}, false,
       "4x3 => 5 , ina_reg 1 , inb_reg 1 , out_reg 1 , scan_in_a 1 , scan_in_b 0 , scan_out 0 , rounding 1 , sat 1 "},
      {10356, {122, 126, 127}, true,
       "4x3 => 5 , ina_reg 1 , inb_reg 0 , out_reg 0 , scan_in_a 1 , scan_in_b 0 , scan_out 0 , rounding 0 , sat 0 "},
      {10502, {125, 122}, false, "bypass_mult"},
      {10503, {92, 124, 126, 127}, false,
       "mode accum , out_reg 1 , out_port_width 5 , zero_acc 1 , round0 1 , round1 0 , sat 1"},
      {10374, {92}, false, "mode accum , out_reg 0 , out_port_width 5 , zero_acc 1 , round0 0 , round1 0 , sat 0"},
      {10357, {94, 126, 127}, true,
       "mode one_level_add , out_reg 0 , out_port_width 5 , zero_acc 0 , round0 0 , round1 0 , sat 0"},
      {10503, {91, 124, 126, 127}, false,
       "mode out_only , out_reg 1 , out_port_width 5 , zero_acc 0 , round0 0 , round1 0 , sat 0"},
      {10503, {}, false, "mode unknown , out_reg 0 , out_port_width 5 , zero_acc 0 , round0 0 , round1 0 , sat 0"},
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.text);
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
    auto* w = new CDB_SGATE_WYSIWYG(nullptr, c.type);
    nl.add_node(w);
    for (unsigned m : c.modes) w->set_mode(m);
    const bool mult = w->is_mac_mult();
    for (unsigned i = 0; i < 4; ++i) place_in(w, 12, i)->set_source(out(a));
    for (unsigned i = 0; i < (mult ? 3u : 4u); ++i) place_in(w, 13, i)->set_source(out(a));
    for (unsigned i = 0; i < 5; ++i) {
      CDB_SGATE_OTERM* o = w->create_output_term(nullptr, 3);
      w->set_output_term(o, w->get_output_port_number(3) + i);
    }
    const std::vector<unsigned> feature_ports = mult ? std::vector<unsigned>{285, 291} : std::vector<unsigned>{286, 291};
    for (unsigned p : feature_ports) {
      CDB_SGATE_ITERM* t = place_in(w, DB_INPUT_PORT_TYPE(p), 0);
      if (c.feature_ports_gnd)
        t->set_gnd();
      else
        t->set_source(out(a));
    }
    place_in(w, 287, 0)->set_gnd();
    if (mult)
      place_in(w, 275, 0)->set_source(out(a));
    else
      place_in(w, 279, 0)->set_vcc();
    const std::string want = std::string(c.text) == "bypass_mult"
                                 ? std::string(c.text)
                                 : std::string(w->get_string_type_name()) + " | " + c.text;
    const auto tally = parsable_tally(&nl, -1);
    EXPECT_EQ(count_of(tally, want.c_str()), 1u) << want;
  }
}

// ---- design flags ----

namespace {

class KavuStatsDesignFlags : public STATS_TEST {};

std::vector<std::string> flags_of(const KAVU_DESIGN_FLAGS& f) {
  static const char* names[] = {"CRC_XORS",     "WANTS_RAM",       "MANY_PINS",     "TOY_DESIGN",   "NOT_TOO_BIG",
                                "RUNTIME_THREAT", "LOTS_OF_MATH",  "MODERATE_MATH", "NO_MATH_OPS",  "HAS_STATE_MEKS",
                                "HAS_RAM",      "HEAVY_PIPE",      "DEEP_COMB_LOGIC", "NO_COMB_LOGIC", "NO_OPERATORS",
                                "HEAVY_21MUX",  "BIG_MUXES",       "FULLY_POPULATED_MUXES"};
  std::vector<std::string> out;
  for (int i = 0; i < KAVU_DESIGN_FLAG_COUNT; ++i)
    if (f.get_flag(KAVU_DESIGN_FLAG_TYPE(i))) out.push_back(names[i]);
  return out;
}

bool has(const std::vector<std::string>& v, const char* s) { return std::find(v.begin(), v.end(), s) != v.end(); }

CDB_SGATE_OPERATOR* make_op(CDB_SGATE_NETLIST* nl, CDB_OPER_TYPE type, unsigned wa, unsigned wb, unsigned wo,
                            CDB_SGATE_NODE* src) {
  return kavu_operator_test::make_two_operand_op(nl, type, src, wa, wb, wo);
}

}  // namespace

TEST_F(KavuStatsDesignFlags, EmptyNetlist) {
  CDB_SGATE_NETLIST nl;
  KAVU_DESIGN_FLAGS f;
  f.analyze_netlist(&nl, "P ");
  EXPECT_EQ(flags_of(f), (std::vector<std::string>{"TOY_DESIGN", "NO_MATH_OPS", "NO_COMB_LOGIC", "NO_OPERATORS"}));
  int a = -1, b = -1;
  EXPECT_TRUE(f.get_cost_est(&a, &b));
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 0);
  EXPECT_KAVU_INTERNAL_ERROR(f.get_flag(KAVU_DESIGN_FLAG_TYPE(32)), "flag_to_get < 32");
  EXPECT_KAVU_INTERNAL_ERROR(f.set_flag(KAVU_DESIGN_FLAG_TYPE(40)), "flag_to_set < 32");
}

// Size flags one below, at and one above each boundary (registers only).
TEST_F(KavuStatsDesignFlags, SizeThresholds) {
  const struct {
    int dffs;
    const char* flag;  // null: no size flag
  } cases[] = {{499, "TOY_DESIGN"},    {500, "NOT_TOO_BIG"},    {501, "NOT_TOO_BIG"}, {9999, "NOT_TOO_BIG"},
               {10000, nullptr},       {20000, nullptr},        {35000, nullptr},     {35001, "RUNTIME_THREAT"}};
  for (const auto& c : cases) {
    CDB_SGATE_NETLIST nl;
    for (int i = 0; i < c.dffs; ++i) nl.add_node(new CDB_SGATE_DFF(nullptr));
    KAVU_DESIGN_FLAGS f;
    f.analyze_netlist(&nl, "");
    const auto flags = flags_of(f);
    for (const char* size : {"TOY_DESIGN", "NOT_TOO_BIG", "RUNTIME_THREAT"})
      EXPECT_EQ(has(flags, size), c.flag && std::string(c.flag) == size) << c.dffs << " " << size;
    EXPECT_TRUE(has(flags, "HEAVY_PIPE")) << c.dffs;
  }
}

// Exclusive-or gates: CRC_XORS from 501 to 1999.
TEST_F(KavuStatsDesignFlags, CrcXorThresholds) {
  for (int n : {500, 501, 1999, 2000}) {
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
    for (int i = 0; i < n; ++i) make_xor(&nl, a, a);
    KAVU_DESIGN_FLAGS f;
    f.analyze_netlist(&nl, "");
    EXPECT_EQ(f.get_flag(CRC_XORS), n >= 501 && n <= 1999) << n;
  }
}

// A 16x16 multiplier alone: 512 bits of arithmetic and LOTS_OF_MATH.
TEST_F(KavuStatsDesignFlags, MultiplierIsLotsOfMath) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  make_op(&nl, CDB_OPER_MULTIPLY, 16, 16, 32, a);
  DEBUG_CAPTURE cap("KAVU");
  KAVU_DESIGN_FLAGS f;
  f.analyze_netlist(&nl, "P ");
  EXPECT_TRUE(cap.contains("P     512 bits of arithmetic"));
  EXPECT_TRUE(f.get_flag(LOTS_OF_MATH));
  EXPECT_FALSE(f.get_flag(MODERATE_MATH));
  EXPECT_FALSE(f.get_flag(NO_OPERATORS));
  int ca = 0, cb = 0;
  EXPECT_TRUE(f.get_cost_est(ca, cb));
  EXPECT_EQ(ca, 512);
}

// Gates whose rating formula goes below zero add nothing (they used to wrap
// to about 1.4e9 tenths); the counter figure is labelled as counter bits.
TEST_F(KavuStatsDesignFlags, NegativeRatingsClampAndLabels) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  nl.add_node(new CDB_SGATE_COMB(nullptr, CDB_COMB_AND));  // no inputs
  make_op(&nl, CDB_OPER_DECODE, 0, 0, 4, a);                // w(1) = 0
  make_op(&nl, CDB_OPER_NTO1_MUX, 1, 0, 1, a);              // w(2) = 0
  auto* c = new CDB_SGATE_COMPONENT("cnt", false);
  c->set_function_name("LPM_COUNTER_extra");
  c->set_parameter("lpm_width", "8");
  nl.add_node(c);
  // Three 3-input comb gates: 6 tenths each, 1 LUT equivalent.
  for (int i = 0; i < 3; ++i) {
    auto* g = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR);
    for (int k = 0; k < 3; ++k) g->insert_unordered_fanin(out(a));
    nl.add_node(g);
  }
  DEBUG_CAPTURE cap("KAVU");
  KAVU_DESIGN_FLAGS f;
  f.analyze_netlist(&nl, "P ");
  EXPECT_TRUE(cap.contains("P     1 LUT equivalents"));
  EXPECT_TRUE(cap.contains("P     8 counter bits"));
  EXPECT_FALSE(cap.contains("WYS lcells"));
}

// Multiplexer operators: 8 data bits are no big multiplexer, 9 are.
TEST_F(KavuStatsDesignFlags, BigMultiplexers) {
  for (unsigned data : {8u, 9u}) {
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
    for (int i = 0; i < 101; ++i) make_op(&nl, CDB_OPER_NTO1_MUX, 4, data, 1, a);
    DEBUG_CAPTURE cap("KAVU");
    KAVU_DESIGN_FLAGS f;
    f.analyze_netlist(&nl, "");
    EXPECT_EQ(f.get_flag(BIG_MUXES), data == 9) << data;
    EXPECT_EQ(cap.contains("Percent MUX population approx"), data == 9) << data;
  }
}

// Select operators (kind 10) and kind 12 of w select bits count
// w * 10 / 3 + (w - 1) * 10 / 3 tenths, whatever their data width: ten of
// 10 select bits (two words of data each) make 63 LUTs.
TEST_F(KavuStatsDesignFlags, SelectLutEstimate) {
  for (int kind : {10, 12}) {
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
    for (int i = 0; i < 10; ++i) make_op(&nl, CDB_OPER_TYPE(kind), 10, 20, 2, a);
    DEBUG_CAPTURE cap("KAVU");
    KAVU_DESIGN_FLAGS f;
    f.analyze_netlist(&nl, "P ");
    EXPECT_TRUE(cap.contains("P     63 LUT equivalents")) << kind;
    int ca = 0, cb = 0;
    EXPECT_TRUE(f.get_cost_est(ca, cb));
    EXPECT_EQ(ca, 63) << kind;
  }
}
