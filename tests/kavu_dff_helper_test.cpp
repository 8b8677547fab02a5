// Tests of the register accessors (against the register cells of real BLIF
// files, parsed here independently), power-up settings of both register
// kinds, and the register comparison and merge tests on hand-built pairs.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_wiring_helper.h"
#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

// One register cell of a BLIF file: its signals and polarities.
struct REG_CELL {
  std::string clock, enable, reset;
  bool clock_neg = false, enable_neg = false, reset_neg = false;
  int reset_value = -1;  // -1: no synchronous reset
};

// Parses the "$_DFF…" and "$_SDFF…" cells of a BLIF file, keyed by Q.
std::map<std::string, REG_CELL> parse_register_cells(const std::string& path) {
  std::map<std::string, REG_CELL> cells;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream words(line);
    std::string keyword, type;
    words >> keyword >> type;
    if (keyword != ".subckt" || (type.rfind("$_DFF", 0) != 0 && type.rfind("$_SDFF", 0) != 0)) continue;
    const size_t code_at = type.find('_', 2) + 1;
    const std::string family = type.substr(2, code_at - 3);
    const std::string code = type.substr(code_at, type.size() - code_at - 1);
    std::map<std::string, std::string> pins;
    for (std::string pin; words >> pin;) pins[pin.substr(0, pin.find('='))] = pin.substr(pin.find('=') + 1);
    REG_CELL cell;
    cell.clock = pins["C"];
    cell.clock_neg = code[0] == 'N';
    if (family == "DFFE") {
      cell.enable = pins["E"];
      cell.enable_neg = code[1] == 'N';
    } else if (family.rfind("SDFF", 0) == 0) {
      cell.reset = pins["R"];
      cell.reset_neg = code[1] == 'N';
      cell.reset_value = code[2] - '0';
      if (family != "SDFF") {
        cell.enable = pins["E"];
        cell.enable_neg = code[3] == 'N';
      }
    } else {
      EXPECT_EQ(family, "DFF") << line;
    }
    cells[pins["Q"]] = cell;
  }
  return cells;
}

// What a terminal reads: "" unconnected, "$true"/"$false" a constant, else
// its source's name, with "!" in front when inverted.
std::string reading(const CDB_SGATE_ITERM* t) {
  if (!t || !cdb_is_connected(t)) return "";
  if (t->is_vcc_or_gnd()) return t->is_vcc() ? "$true" : "$false";
  const HDB_INSTANCE_NAME* name = t->get_source() ? t->get_source()->get_instance_name() : nullptr;
  return (t->is_inverted() ? "!" : "") + (name ? name->get_short_hpath(1) : std::string("?"));
}

// What a cell pin reads as reading() words it ("$true"/"$false" fold the
// inversion in).
std::string expected(const std::string& signal, bool inverted) {
  if (signal == "$true" || signal == "$false") return (signal == "$true") != inverted ? "$true" : "$false";
  return signal.empty() ? "" : (inverted ? "!" : "") + signal;
}

// The record of every register of the circuit against its cell.
void check_registers_of(const std::string& name) {
  const std::map<std::string, REG_CELL> cells = parse_register_cells(blif_data_path(name));
  LOADED_NETLIST nl = load_blif(name);
  ASSERT_GT(cells.size(), 10u);
  size_t found = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    CDB_SGATE_NODE* reg = *it;
    if (!reg || !kavu_is_a_dff(reg)) continue;
    ++found;
    KAVU_DFF_SIGNALS s;
    kavu_get_dff_signals(reg, &s);
    ASSERT_NE(s.m_oterm, nullptr);
    const std::string q_name = s.m_oterm->get_instance_name()->get_short_hpath(1);
    auto cell_it = cells.find(q_name);
    ASSERT_NE(cell_it, cells.end()) << q_name;
    const REG_CELL& cell = cell_it->second;
    EXPECT_EQ(reading(s.m_clk), expected(cell.clock, cell.clock_neg)) << q_name;
    // A control the cell does not have is tied to the constant at which it does nothing.
    auto control = [](const std::string& signal, bool inverted, const char* tie) {
      return signal.empty() ? std::string(tie) : expected(signal, inverted);
    };
    EXPECT_EQ(reading(s.m_ena), control(cell.enable, cell.enable_neg, "$true")) << q_name;
    EXPECT_EQ(reading(s.m_sclr), control(cell.reset_value == 0 ? cell.reset : "", cell.reset_neg, "$false")) << q_name;
    EXPECT_EQ(reading(s.m_sload), control(cell.reset_value == 1 ? cell.reset : "", cell.reset_neg, "$false")) << q_name;
    EXPECT_EQ(s.m_oterm, kavu_get_dff_oterm(reg));
  }
  EXPECT_EQ(found, cells.size());
}

// A flip-flop atom in `nl` with data, clock and output terminals.
CDB_SGATE_WYSIWYG* make_ff_atom(CDB_SGATE_NETLIST* nl, CDB_SGATE_NODE* d, CDB_SGATE_NODE* clk) {
  auto* ff = new CDB_SGATE_WYSIWYG(nullptr, 62);
  nl->add_node(ff, true);
  kavu_set_iterm_source(kavu_fetch_create_wys_iterm(DB_PORT_DATAIN, ff), d->get_single_oterm(), false);
  kavu_set_iterm_source(kavu_fetch_create_wys_iterm(DB_PORT_CLK, ff), clk->get_single_oterm(), false);
  kavu_fetch_create_wys_oterm(DB_PORT_REGOUT, ff, false);
  return ff;
}

struct REG_PAIR {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* d = make_input_pin(&nl, "d");
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* r = make_input_pin(&nl, "r");
  CDB_SGATE_NODE* a = make_dff(&nl, d, clk);
  CDB_SGATE_NODE* b = make_dff(&nl, d, clk);
  CDB_SGATE_ITERM* in(CDB_SGATE_NODE* g, CDB_DFF_PORT p) { return g->get_input_term(p); }
};

}  // namespace

TEST(KavuDffAccessors, RealCircuitsGiveEveryRegisterItsOwnClockEnableAndClear) {
  check_registers_of("seq/ch_intrinsics");
  check_registers_of("seq/stereovision3");
}

TEST(KavuDffAccessors, OtherGatesAndShortRegistersGiveNull) {
  REG_PAIR p;
  KAVU_DFF_SIGNALS s;
  s.m_data = p.in(p.a, CDB_DFF_DATA);
  kavu_get_dff_signals(p.d, &s);  // a pin: every field null
  EXPECT_EQ(s.m_data, nullptr);
  EXPECT_EQ(s.m_oterm, nullptr);
  EXPECT_EQ(kavu_get_dff_sclear2(p.a), nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_dff_signals(p.a, nullptr), "dff_signals != 0");
  // A register with only its first three inputs answers null beyond them.
  auto* shortreg = new CDB_SGATE_DFF(nullptr);
  p.nl.add_node(shortreg, true);
  for (unsigned pos = 0; pos < 3; ++pos) shortreg->set_input_term(shortreg->create_input_term(nullptr), pos);
  EXPECT_NE(kavu_get_dff_clear(shortreg), nullptr);
  kavu_get_dff_signals(shortreg, &s);
  EXPECT_EQ(s.m_ena, nullptr);
  EXPECT_EQ(s.m_sload, nullptr);
}

TEST(KavuDffAccessors, AtomAsynchronousDataPrefersTheConnectedPrimaryPort) {
  REG_PAIR p;
  CDB_SGATE_WYSIWYG* ff = make_ff_atom(&p.nl, p.d, p.clk);
  KAVU_TRACK(p.nl);
  EXPECT_EQ(kavu_get_dff_adata(ff), nullptr);  // neither port present

  CDB_SGATE_ITERM* alt = kavu_fetch_create_wys_iterm(DB_PORT_ADATA_ALT, ff);
  EXPECT_EQ(kavu_get_dff_adata(ff), alt);  // primary missing
  CDB_SGATE_ITERM* primary = kavu_fetch_create_wys_iterm(DB_PORT_ASDATA, ff);
  kavu_set_iterm_source(alt, p.r->get_single_oterm(), false);
  EXPECT_EQ(kavu_get_dff_adata(ff), alt);  // primary unconnected
  kavu_set_iterm_source(primary, p.r->get_single_oterm(), false);
  EXPECT_EQ(kavu_get_dff_adata(ff), primary);  // both, same source
  alt->invert();
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_dff_adata(ff), "kavu_same_source(iterm,other_iterm)");
}

TEST(KavuDffPowerUp, BitsOfEachKindUserPrimitivesAndNonRegisters) {
  REG_PAIR p;
  CDB_SGATE_WYSIWYG* ff = make_ff_atom(&p.nl, p.d, p.clk);
  // The atom's explicit setting is bit 3 and leaves high (bit 1) and
  // don't-care (bit 2) alone; a plain register's bit 1 is don't-care.
  kavu_set_dff_powers_up_high(ff, true);
  kavu_set_has_power_up_setting(ff, true);
  EXPECT_EQ(ff->get_flag_byte(CDB_KIND_BYTE) & 0x0e, 0x0a);
  EXPECT_TRUE(kavu_dff_powers_up_high(ff));
  p.b->set_flag_byte(CDB_KIND_BYTE, 0x02);
  EXPECT_TRUE(kavu_dff_power_up_dc(p.b));
  EXPECT_FALSE(kavu_dff_powers_up_high(p.b));
  // The changed mark rises only on a real change.
  p.a->set_changed(false);
  kavu_set_dff_powers_up_high(p.a, false);
  EXPECT_FALSE(p.a->is_changed());
  kavu_set_dff_powers_up_high(p.a, true);
  EXPECT_TRUE(p.a->is_changed());

  ff->set_mode(CDB_WYSIWYG_FROM_USER);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_set_dff_power_up_dc(ff, true), "CDB_WYSIWYG_FROM_USER");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_dff_power_up_dc(ff), "CDB_WYSIWYG_FROM_USER");
  // Readers and writers refuse gates that are no registers.
  EXPECT_KAVU_INTERNAL_ERROR(kavu_dff_powers_up_high(p.d), "is_ff()");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_set_has_power_up_setting(p.d, true), "is_ff()");
  EXPECT_EQ(p.d->get_flag_byte(CDB_KIND_BYTE), 0);
}

TEST(KavuDffCompare, SimilarAndOppositePairs) {
  REG_PAIR p;
  KAVU_TRACK(p.nl);
  EXPECT_TRUE(kavu_similar_dffs(p.a, p.b, false));
  // Power-up differs: similar only while one is don't-care.
  kavu_set_dff_powers_up_high(p.b, true);
  EXPECT_FALSE(kavu_similar_dffs(p.a, p.b, false));
  kavu_set_dff_power_up_dc(p.a, true);
  EXPECT_TRUE(kavu_similar_dffs(p.a, p.b, false));
  kavu_set_dff_power_up_dc(p.a, false);

  // Opposite: complementary data, clear and preset exchanged, power-up
  // differs, synchronous clears tied to GND.
  p.in(p.b, CDB_DFF_DATA)->invert();
  kavu_set_iterm_source(p.in(p.a, CDB_DFF_ACLR), p.r->get_single_oterm(), false);
  kavu_set_iterm_source(p.in(p.b, CDB_DFF_PRESET), p.r->get_single_oterm(), false);
  EXPECT_FALSE(kavu_opposite_dffs(p.a, p.b));  // synchronous clears unconnected
  p.in(p.a, CDB_DFF_SCLR)->set_gnd();
  p.in(p.b, CDB_DFF_SCLR)->set_gnd();
  EXPECT_TRUE(kavu_opposite_dffs(p.a, p.b));
  EXPECT_FALSE(kavu_similar_dffs(p.a, p.b, true));  // power-up differs
  kavu_set_dff_powers_up_high(p.b, false);
  EXPECT_FALSE(kavu_opposite_dffs(p.a, p.b));

  EXPECT_KAVU_INTERNAL_ERROR(kavu_similar_dffs(p.d, p.b, false), "kavu_is_a_dff (a)");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_opposite_dffs(p.a, p.d), "kavu_is_a_dff (b)");
}

TEST(KavuDffCompare, AtomsIgnoreTheSecondSynchronousClearAndSecondarySignalGroups) {
  REG_PAIR p;
  CDB_SGATE_WYSIWYG* x = make_ff_atom(&p.nl, p.d, p.clk);
  CDB_SGATE_WYSIWYG* y = make_ff_atom(&p.nl, p.d, p.clk);
  KAVU_TRACK(p.nl);
  kavu_set_iterm_source(kavu_fetch_create_wys_iterm(DB_PORT_SCLR2, x), p.r->get_single_oterm(), false);
  EXPECT_TRUE(kavu_similar_dffs(x, y, false));
  EXPECT_TRUE(kavu_same_dff_sec_sigs(x, y, false, false, false));
  EXPECT_NE(y->get_iterm_by_type(DB_PORT_SCLR, 0), nullptr);  // fetched, so made

  kavu_set_iterm_source(kavu_fetch_create_wys_iterm(DB_PORT_SCLR, x), p.r->get_single_oterm(), false);
  EXPECT_FALSE(kavu_same_dff_sec_sigs(x, y, false, false, false));
  EXPECT_TRUE(kavu_same_dff_sec_sigs(x, y, false, true, false));
  EXPECT_FALSE(kavu_same_dff_sec_sigs(x, p.a, false, true, true));  // mixed kinds

  kavu_set_iterm_source(p.in(p.a, CDB_DFF_ENA), p.r->get_single_oterm(), false);
  EXPECT_FALSE(kavu_same_dff_sec_sigs(p.a, p.b, false, false, false));
  EXPECT_TRUE(kavu_same_dff_sec_sigs(p.a, p.b, true, false, false));
  kavu_set_dff_powers_up_high(p.b, true);
  EXPECT_FALSE(kavu_same_dff_sec_sigs(p.a, p.b, true, true, true));
}

TEST(KavuDffMerge, SingleOutputPreserveAndMergeRules) {
  REG_PAIR p;
  KAVU_TRACK(p.nl);
  EXPECT_FALSE(kavu_dff_drives_a_single_output(p.a));  // no fan-out
  CDB_SGATE_NODE* protect = new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_PROTECT);
  p.nl.add_node(protect, true);
  protect->set_input_term(protect->create_input_term(nullptr), 0);
  kavu_set_iterm_source(protect->get_input_term(0), p.a->get_single_oterm(), false);
  EXPECT_TRUE(kavu_dff_drives_a_single_output(p.a));  // only protect buffers
  make_output_pin(&p.nl, "q1", p.a);
  EXPECT_TRUE(kavu_dff_drives_a_single_output(p.a));
  EXPECT_TRUE(kavu_preserve_register(p.a));
  CDB_SGATE_NODE* lut_reader = make_and(&p.nl, p.a, p.d);
  EXPECT_FALSE(kavu_dff_drives_a_single_output(p.a));
  make_output_pin(&p.nl, "qb", p.b);
  make_output_pin(&p.nl, "qb2", p.b);
  EXPECT_FALSE(kavu_dff_drives_a_single_output(p.b));  // two output pins
  EXPECT_FALSE(kavu_preserve_register(p.d));

  CDB_SGATE_OTERM* qa = p.a->get_single_oterm();
  CDB_SGATE_OTERM* qb = p.b->get_single_oterm();
  CDB_SGATE_COMPATIBLE_REGISTERS* compat = p.nl.get_compatible_registers();
  EXPECT_TRUE(kavu_can_merge_dffs(qa, qb, compat, false, 0, 0, false));
  EXPECT_FALSE(kavu_can_merge_dffs(qa, qa, compat, false, 0, 0, false));  // itself
  EXPECT_TRUE(kavu_can_merge_dffs(qa, qb, compat, true, 5, 5, false));    // 3 + 2 fan-outs
  EXPECT_FALSE(kavu_can_merge_dffs(qa, qb, compat, true, 4, 9, false));
  EXPECT_FALSE(kavu_can_merge_dffs(qa, qb, compat, true, 5, 4, false));
  kavu_set_dff_power_up_dc(p.b, true);
  kavu_set_dff_powers_up_high(p.b, true);
  EXPECT_FALSE(kavu_can_merge_dffs(qa, qb, compat, false, 0, 0, false));  // dc does not excuse
  kavu_set_dff_powers_up_high(p.b, false);
  p.b->get_reg_flags()->set_preserve(true);
  EXPECT_FALSE(kavu_can_merge_dffs(qa, qb, compat, false, 0, 0, false));
  EXPECT_TRUE(kavu_preserve_register(p.b));
  p.b->get_reg_flags()->set_preserve(false);
  compat->set_ready_to_use(true);
  EXPECT_TRUE(kavu_can_merge_dffs(qa, qb, compat, false, 0, 0, false));  // both in the common set
  compat->add_oterm_set_id(qa, 4);
  EXPECT_FALSE(kavu_can_merge_dffs(qa, qb, compat, false, 0, 0, false));  // qa in a set of its own
  compat->add_oterm_set_id(qb, 4);
  EXPECT_TRUE(kavu_can_merge_dffs(qa, qb, compat, false, 0, 0, false));
  compat->set_in_use(false);  // a record that failed: any register may carry a constraint
  EXPECT_FALSE(kavu_can_merge_dffs(qa, qb, compat, false, 0, 0, false));
  compat->set_in_use(true);

  // Without fan-out a register cannot merge.
  delete lut_reader;
  CDB_SGATE_NODE* c = make_dff(&p.nl, p.d, p.clk);
  EXPECT_FALSE(kavu_can_merge_dffs(qb, c->get_single_oterm(), nullptr, false, 0, 0, false));
}

TEST(KavuDffMerge, OutputEnableRegisterOnSomeFamiliesIsNotASingleOutput) {
  REG_PAIR p;
  KAVU_TRACK(p.nl);
  auto* iobuf = new CDB_SGATE_IO_BUF(nullptr, CDB_IO_BUF_TRI);
  p.nl.add_node(iobuf, true);
  iobuf->set_input_term(iobuf->create_input_term(nullptr), CDB_IO_BUF_DATA);
  iobuf->set_input_term(iobuf->create_input_term(nullptr), CDB_IO_BUF_OE);
  kavu_set_iterm_source(iobuf->get_input_term(CDB_IO_BUF_OE), p.a->get_single_oterm(), false);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_dff_drives_a_single_output(p.a), "facade != 0");
  CMP_FACADE facade;
  ZCU_FACADE_UTIL::get_instance()->set_facade(&facade);
  facade.set_family(DEV_FAMILY_ENUM(15));
  EXPECT_TRUE(kavu_dff_drives_a_single_output(p.a));
  facade.set_family(DEV_FAMILY_ENUM(40));
  EXPECT_FALSE(kavu_dff_drives_a_single_output(p.a));
  ZCU_FACADE_UTIL::get_instance()->set_facade(nullptr);
}

TEST(KavuDffMerge, HierarchyOptionFamilyAndForceAssignments) {
  CMP_FACADE facade;
  ZCU_FACADE_UTIL::get_instance()->set_facade(&facade);
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME* u1 = HDB_INSTANCE_NAME::create_normal_name(nullptr, "u1", nullptr, nullptr, top);
  CDB_SGATE_HIERARCHY hier;
  hier.set_instance_name(u1);

  EXPECT_TRUE(kavu_allow_reg_merge_across_hierarchies(&hier));  // no option
  hdb_set_option(hdb_default_namespace(), ACF_REG_MERGE_ACROSS_HIERARCHIES, "OFF");
  EXPECT_FALSE(kavu_allow_reg_merge_across_hierarchies(&hier));
  hdb_set_option(hdb_default_namespace(), ACF_REG_MERGE_ACROSS_HIERARCHIES, "AUTO");
  EXPECT_TRUE(kavu_allow_reg_merge_across_hierarchies(&hier));  // balanced
  facade.set_optimization_technique(u1, CMP_OPTIMIZATION_SPEED);
  EXPECT_FALSE(kavu_allow_reg_merge_across_hierarchies(&hier));  // 6-input LUTs
  CDB_LUTMASK::max_num_inputs = 4;
  EXPECT_TRUE(kavu_allow_reg_merge_across_hierarchies(&hier));
  facade.set_optimization_technique(u1, CMP_OPTIMIZATION_AREA);
  facade.set_family(DEV_FAMILY_ENUM(45));
  EXPECT_FALSE(kavu_allow_reg_merge_across_hierarchies(&hier));
  facade.set_family(DEV_FAMILY_ENUM(15));
  EXPECT_TRUE(kavu_allow_reg_merge_across_hierarchies(&hier));
  EXPECT_LE(tag_texts(67).size(), 1u);  // recorded at most once per process

  for (int family : {15, 25, 45, 47}) EXPECT_FALSE(kavu_family_supports_aload(DEV_FAMILY_ENUM(family)));
  EXPECT_KAVU_INTERNAL_ERROR(kavu_family_supports_aload(DEV_FAMILY_ENUM(3)), "Strange chip family");

  REG_PAIR p;
  KAVU_TRACK(p.nl);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_registers_in_same_hierarchy(p.a, p.b), "name_a != 0 && name_b != 0");
  p.a->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, "ra", nullptr, nullptr, u1));
  p.b->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, "rb", nullptr, nullptr, u1));
  EXPECT_TRUE(kavu_registers_in_same_hierarchy(p.a, p.b));
  p.b->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, "rb", nullptr, nullptr, top));
  EXPECT_FALSE(kavu_registers_in_same_hierarchy(p.a, p.b));

  // Force assignments are found on the gate's name or on its output's.
  EXPECT_FALSE(kavu_dff_has_force_clock_enable_assignment(p.a));
  HDB_INSTANCE_NAME* qname = HDB_INSTANCE_NAME::create_normal_name(nullptr, "qa", nullptr, nullptr, u1);
  p.a->get_single_oterm()->set_instance_name(qname);
  hdb_set_option(qname, ACF_FORCE_CLOCK_ENABLE, "on");
  EXPECT_TRUE(kavu_dff_has_force_clock_enable_assignment(p.a));
  EXPECT_FALSE(kavu_dff_has_force_synch_clear_assignment(p.a));
  hdb_set_option(p.a->get_instance_name(), ACF_FORCE_SYNCH_CLEAR, "on");
  EXPECT_TRUE(kavu_dff_has_force_synch_clear_assignment(p.a));
  ZCU_FACADE_UTIL::get_instance()->set_facade(nullptr);
}
