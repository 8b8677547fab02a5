// Tests of the inversion push, the control-signal strips and the
// clear-over-enable priority fix, on hand-built registers and real designs,
// checked structurally and by sequential simulation against an untouched
// copy.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "kavu_dff_helper.h"
#include "kavu_dff_helper_strip.h"
#include "kavu_dff_helper_stuck.h"
#include "kavu_dff_helper_sync.h"
#include "kavu_family_info.h"
#include "kavu_helper_predicates.h"
#include "kavu_wiring_helper.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

CDB_SGATE_OTERM* out(CDB_SGATE_NODE* g) { return g->get_single_oterm(); }

// One register q <- d with pins for the synchronous controls in use; the
// others tied inactive.
struct ONE_REG {
  std::unique_ptr<CDB_SGATE_NETLIST> nl = std::make_unique<CDB_SGATE_NETLIST>();
  CDB_SGATE_NODE* reg = nullptr;
  CDB_SGATE_NODE* en = nullptr;

  ONE_REG(bool use_en, bool use_sclr, bool use_sload, bool priority = false) {
    CDB_SGATE_NETLIST* n = nl.get();
    auto* clk = make_input_pin(n, "clk");
    reg = make_dff(n, make_input_pin(n, "d"), clk);
    for (int pos : {CDB_DFF_ACLR, CDB_DFF_PRESET, CDB_DFF_ALOAD}) reg->get_input_term(unsigned(pos))->set_gnd();
    en = make_input_pin(n, "en");
    connect_or_tie(CDB_DFF_ENA, use_en ? en : nullptr, true);
    connect_or_tie(CDB_DFF_SCLR, use_sclr ? make_input_pin(n, "clr") : nullptr, false);
    connect_or_tie(CDB_DFF_SLOAD, use_sload ? make_input_pin(n, "ld") : nullptr, false);
    connect_or_tie(CDB_DFF_ADATA, use_sload ? make_input_pin(n, "ad") : nullptr, true);
    reg->get_reg_flags()->set_sclr_over_ena_priority(priority);
    make_output_pin(n, "q", reg);
  }
  void connect_or_tie(int pos, CDB_SGATE_NODE* src, bool idle_high) {
    CDB_SGATE_ITERM* t = reg->get_input_term(unsigned(pos));
    if (src) out(src)->insert_fanout(t);
    else if (idle_high) t->set_vcc();
    else t->set_gnd();
  }
};

}  // namespace

TEST(KavuDffStrip, EachStripKeepsTheRegisterFunction) {
  for (bool priority : {false, true}) {
    SCOPED_TRACE(priority ? "sclr over ena" : "ena over sclr");
    ONE_REG golden(true, true, true, priority);
    ONE_REG r(true, true, true, priority);
    KAVU_TRACK(*r.nl);
    EXPECT_TRUE(kavu_strip_dff_sload(r.reg, r.nl.get()));
    EXPECT_TRUE(r.reg->get_input_term(CDB_DFF_SLOAD)->is_gnd());
    if (priority) {
      // The clear acts while disabled: the enable must go first.
      EXPECT_TRUE(kavu_strip_dff_enable(r.reg, r.nl.get()));
      EXPECT_TRUE(kavu_strip_dff_sclr(r.reg, r.nl.get()));
    } else {
      EXPECT_TRUE(kavu_strip_dff_sclr(r.reg, r.nl.get()));
      EXPECT_TRUE(kavu_strip_dff_enable(r.reg, r.nl.get()));
    }
    EXPECT_TRUE(r.reg->get_input_term(CDB_DFF_SCLR)->is_gnd());
    EXPECT_TRUE(r.reg->get_input_term(CDB_DFF_ENA)->is_vcc());
    ASSERT_KAVU_EQUIVALENT(*golden.nl, *r.nl);
  }
}

TEST(KavuDffStrip, EnableStripFeedsBackTheStoredValue) {
  ONE_REG golden(true, false, false);
  ONE_REG r(true, false, false);
  KAVU_TRACK(*r.nl);
  // An inverted register output: readers see !q, the hold input must not.
  for (ONE_REG* x : {&golden, &r}) out(x->reg)->invert();
  ASSERT_TRUE(kavu_strip_dff_enable(r.reg, r.nl.get()));
  CDB_SGATE_NODE* mux = r.reg->get_input_term(CDB_DFF_DATA)->get_source()->get_my_node();
  ASSERT_TRUE(kavu_is_a_mux(mux));
  EXPECT_EQ(mux->get_input_term(CDB_MUX_DATA0)->get_source(), out(r.reg));
  EXPECT_EQ(mux->get_input_term(CDB_MUX_SELECT)->get_source(), out(r.en));
  ASSERT_KAVU_EQUIVALENT(*golden.nl, *r.nl);
}

TEST(KavuDffStrip, TiedLowControlsAreNotStripped) {
  ONE_REG r(false, false, false);
  // A clear tied low through a protect buffer counts as unused.
  CDB_SGATE_BUFFER* protect = make_buffer(r.nl.get(), nullptr, CDB_BUFFER_PROTECT);
  protect->get_single_iterm()->set_gnd();
  CDB_SGATE_ITERM* sclr = r.reg->get_input_term(CDB_DFF_SCLR);
  sclr->disconnect_from_source(0);
  out(protect)->insert_fanout(sclr);
  const uint32_t gates = r.nl->size();
  EXPECT_FALSE(kavu_strip_dff_sclr(r.reg, r.nl.get()));
  EXPECT_FALSE(kavu_strip_dff_sload(r.reg, r.nl.get()));
  r.reg->get_input_term(CDB_DFF_ENA)->set_gnd();
  EXPECT_FALSE(kavu_strip_dff_enable(r.reg, r.nl.get()));
  EXPECT_EQ(r.nl->size(), gates);
  // An unconnected control is a caller error.
  r.reg->get_input_term(CDB_DFF_SLOAD)->disconnect_from_source(0);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_strip_dff_sload(r.reg, r.nl.get()), "cdb_is_connected sld_iterm");
}

namespace {

// Loads and clears kavu_strip_dff_sload_sclr pulls off the registers of a
// BLIF file, counted from its reset cells: a reset to 1 is a load, stripped
// always; a reset to 0 is a clear, stripped unless it has priority over the
// enable ($_SDFFE_).
int strippable_resets(const std::string& path) {
  std::ifstream file(path);
  int count = 0;
  for (std::string line; std::getline(file, line);) {
    std::istringstream words(line);
    std::string keyword, type;
    words >> keyword >> type;
    if (keyword != ".subckt" || type.rfind("$_SDFF", 0) != 0) continue;
    const size_t code_at = type.find('_', 2) + 1;
    const bool reset_to_one = type[code_at + 2] == '1';
    count += reset_to_one || type.compare(2, code_at - 3, "SDFFE") != 0;
  }
  return count;
}

// Ties every unused synchronous control to GND, as the strips require.
void tie_unused_controls(CDB_SGATE_NETLIST* nl) {
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    if (!*it || !kavu_is_a_dff(*it)) continue;
    for (CDB_SGATE_ITERM* t : {kavu_get_dff_sclear(*it), kavu_get_dff_sload(*it)}) {
      if (!cdb_is_connected(t)) t->set_gnd();
    }
  }
}

}  // namespace

TEST(KavuDffStrip, NetlistStripPullsEveryLoadAndEachClearWithoutPriority) {
  for (const char* name : {"seq/stereovision3", "seq/diffeq1", "seq/ch_intrinsics", "small/crc8_generic"}) {
    SCOPED_TRACE(name);
    LOADED_NETLIST golden = load_blif(name);
    LOADED_NETLIST nl = load_blif(name);
    KAVU_TRACK(nl);
    tie_unused_controls(golden.get());
    tie_unused_controls(nl.get());
    const int expected = strippable_resets(blif_data_path(name));
    ASSERT_GT(expected, 0);
    EXPECT_EQ(kavu_strip_dff_sload_sclr(nl.get()), expected);
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      if (!*it || !kavu_is_a_dff(*it)) continue;
      EXPECT_TRUE(kavu_get_dff_sload(*it)->is_gnd());
      EXPECT_TRUE(kavu_get_dff_sclear(*it)->is_gnd() || kavu_ff_has_sclr_over_ena_priority(*it));
    }
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
}

// Designs read from BLIF as they are: every control of a plain register is
// connected, so the strips, the enable unmapping and the ring search run on
// them without help and keep what they compute. (The reader left unused
// controls unconnected, and the netlist strip stopped on the first register
// with "cdb_is_connected (sld_iterm)".)
TEST(KavuDffStrip, PassesOverRegistersRunOnDesignsReadFromBlif) {
  const char* designs[] = {"mcnc/s298", "seq/diffeq1", "seq/ch_intrinsics", "small/counter8_generic",
                           "small/shift_en_sclr_generic", "small/fsm_seq_generic"};
  for (const char* name : designs) {
    SCOPED_TRACE(name);
    LOADED_NETLIST golden = load_blif(name);
    LOADED_NETLIST nl = load_blif(name);
    KAVU_TRACK(nl);
    std::vector<CDB_SGATE_NODE*> regs;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
      if (*it && kavu_is_a_dff(*it)) regs.push_back(*it);
    ASSERT_FALSE(regs.empty());
    kavu_strip_dff_sload_sclr(nl.get());
    for (CDB_SGATE_NODE* reg : regs) {
      kavu_strip_dff_enable(reg, nl.get());
      EXPECT_TRUE(kavu_get_dff_sload(reg)->is_gnd()) << reg->get_debug_name();
      EXPECT_TRUE(kavu_get_dff_enable(reg)->is_vcc()) << reg->get_debug_name();
    }
    ASSERT_KAVU_EQUIVALENT(golden, nl);
    LOADED_NETLIST other = load_blif(name);
    KAVU_TRACK(other);
    kavu_unmap_all_enables(other.get());
    kavu_find_dff_rings(other.get());
    ASSERT_KAVU_EQUIVALENT(golden, other);
  }
}

TEST(KavuDffStrip, NotGatePushTwiceRestoresTheRegister) {
  ONE_REG golden(true, false, false);
  ONE_REG r(true, false, false);
  KAVU_TRACK(*r.nl);
  for (ONE_REG* x : {&golden, &r}) x->reg->get_input_term(CDB_DFF_PRESET)->set_vcc();
  r.reg->set_changed(false);

  kavu_not_gate_push(r.reg, r.nl.get());
  // Preset tied VCC and clear tied GND trade places.
  EXPECT_TRUE(r.reg->get_input_term(CDB_DFF_PRESET)->is_gnd());
  EXPECT_TRUE(r.reg->get_input_term(CDB_DFF_ACLR)->is_vcc());
  EXPECT_TRUE(kavu_dff_powers_up_high(r.reg));
  EXPECT_TRUE(r.reg->get_flag().test(CDB_NODE_FLAG_NOT_GATE_PUSHED));
  EXPECT_TRUE(out(r.reg)->get_first_fanout()->is_inverted());
  EXPECT_TRUE(r.reg->is_changed());
  ASSERT_KAVU_EQUIVALENT(*golden.nl, *r.nl);

  r.reg->set_changed(false);
  kavu_not_gate_push(r.reg, r.nl.get());
  EXPECT_TRUE(r.reg->get_input_term(CDB_DFF_PRESET)->is_vcc());
  EXPECT_TRUE(r.reg->get_input_term(CDB_DFF_ACLR)->is_gnd());
  EXPECT_FALSE(r.reg->get_input_term(CDB_DFF_DATA)->is_inverted());
  EXPECT_FALSE(kavu_dff_powers_up_high(r.reg));
  EXPECT_FALSE(r.reg->get_flag().test(CDB_NODE_FLAG_NOT_GATE_PUSHED));
  EXPECT_TRUE(r.reg->is_changed());
  ASSERT_KAVU_EQUIVALENT(*golden.nl, *r.nl);
}

TEST(KavuDffStrip, InvertAbsorption) {
  CDB_SGATE_NETLIST nl;
  auto* clk = make_input_pin(&nl, "clk");
  auto* a = make_dff(&nl, make_input_pin(&nl, "d"), clk);
  EXPECT_TRUE(kavu_invert_could_be_absorbed(a));  // no fan-out
  make_and(&nl, a, clk);
  EXPECT_TRUE(kavu_invert_could_be_absorbed(a));
  make_dff(&nl, a, clk);  // another register's data, not inverted
  EXPECT_FALSE(kavu_invert_could_be_absorbed(a));
}

// ---------------------------------------------------------------- clear-over-enable priority

namespace {

enum EXISTING_AND { NO_AND, ENA_THEN_CLR, CLR_THEN_ENA };

// A register q <- d with enable and clear pins, and (when asked) an AND of the
// two pins, in that input order, driving its own output. The register is a
// flip-flop atom whose clear has priority over its enable, or a plain one that
// takes the enable first.
struct PRIORITY_RIG {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* reg = nullptr;
  CDB_SGATE_NODE* and_gate = nullptr;

  PRIORITY_RIG(bool atom, EXISTING_AND existing) {
    auto* clk = make_input_pin(&nl, "clk");
    auto* d = make_input_pin(&nl, "d");
    auto* en = make_input_pin(&nl, "en");
    auto* clr = make_input_pin(&nl, "clr");
    if (existing != NO_AND) {
      and_gate = existing == ENA_THEN_CLR ? make_and(&nl, en, clr) : make_and(&nl, clr, en);
      make_output_pin(&nl, "both", and_gate);
    }
    if (atom) {
      auto* ff = new CDB_SGATE_WYSIWYG(nullptr, 94);
      nl.add_node(ff, true);
      for (auto [port, src] : {std::pair{DB_PORT_DATAIN, d}, std::pair{DB_PORT_CLK, clk}, std::pair{DB_PORT_ENA, en},
                               std::pair{DB_PORT_SCLR, clr}}) {
        kavu_set_iterm_source(kavu_fetch_create_wys_iterm(port, ff), out(src), false);
      }
      kavu_fetch_create_wys_oterm(DB_PORT_REGOUT, ff, false);
      ff->get_reg_flags()->set_sclr_over_ena_priority(true);  // how the family's flip-flop behaves
      reg = ff;
    } else {
      reg = make_dff(&nl, d, clk);
      out(en)->insert_fanout(reg->get_input_term(CDB_DFF_ENA));
      out(clr)->insert_fanout(reg->get_input_term(CDB_DFF_SCLR));
    }
    make_output_pin(&nl, "q", reg);
  }
};

}  // namespace

TEST(KavuDffStrip, PriorityFixMakesTheAtomTakeItsEnableFirstReusingAnAndInEitherOrder) {
  CFG_SCOPE key{{"quellin_has_sclr_over_ena_priority", "on"}};
  CMP_FACADE facade;
  facade.set_base_family(DEV_FAMILY_ENUM(25));
  facade.set_family(DEV_FAMILY_ENUM(25));
  RTL_FAMILY_INFO family(&facade);
  ASSERT_TRUE(family.sclr_over_ena_priority());
  for (EXISTING_AND existing : {NO_AND, ENA_THEN_CLR, CLR_THEN_ENA}) {
    SCOPED_TRACE(existing);
    PRIORITY_RIG golden(false, existing);
    PRIORITY_RIG r(true, existing);
    KAVU_TRACK(r.nl);
    // Before the fix the clear also acts while the enable is off.
    EXPECT_FALSE(netlists_equivalent(&golden.nl, &r.nl));
    const uint32_t gates = r.nl.size();
    kavu_fix_up_sclr_over_ena_priority_on_ff(&r.nl, r.reg, &family);
    CDB_SGATE_ITERM* sclr = kavu_get_dff_sclear(r.reg);
    if (existing == NO_AND) {
      EXPECT_EQ(r.nl.size(), gates + 1);
      EXPECT_TRUE(kavu_is_a_two_and(sclr->get_source()->get_my_node()));
    } else {
      EXPECT_EQ(r.nl.size(), gates);
      EXPECT_EQ(sclr->get_source(), out(r.and_gate));
    }
    ASSERT_KAVU_EQUIVALENT(golden.nl, r.nl);
  }
  // Only flip-flop atoms are fixed; without the priority nothing is done.
  PRIORITY_RIG plain(false, NO_AND);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_fix_up_sclr_over_ena_priority_on_ff(&plain.nl, plain.reg, &family),
                             "kavu_is_a_wys_ff");
  CFG_SCOPE off{{"quellin_has_sclr_over_ena_priority", "off"}};
  RTL_FAMILY_INFO no_priority(&facade);
  const uint32_t gates = plain.nl.size();
  kavu_fix_up_sclr_over_ena_priority_on_ff(&plain.nl, plain.reg, &no_priority);
  EXPECT_EQ(plain.nl.size(), gates);

  // Regression: a constant operand has no source; the reuse search read its
  // fan-out count through a null pointer. With the constant on either side
  // the AND that exists is found through the other operand.
  CDB_SGATE_NODE* k = make_and(&plain.nl, plain.reg, nullptr);
  const uint32_t with_k = plain.nl.size();
  for (int constant : {1, 0}) {
    EXPECT_EQ(kavu_find_or_create_and_of_iterms(&plain.nl, k, k->get_input_term(1 - constant), k->get_input_term(constant)),
              out(k)) << constant;
  }
  EXPECT_EQ(plain.nl.size(), with_k);
}
