// Tests of register classification: every register of the bundled
// sequential designs against an independent reading of the rules, and the
// pin structures (IO buffers, tri-state buses, bidirectional pins) built by
// hand.

#include "kavu_dff_helper.h"
#include "kavu_helper.h"
#include "kavu_utility_regclass.h"
#include "gen/gen.h"
#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

bool on(const HDB_INSTANCE_NAME* name, int variable) {
  const auto* o = name ? HDB_DERIVED_OPTION<ACF_KIND_BOOL, 0>::get_single_option(name, variable, true) : nullptr;
  return o && o->get_value();
}

// The rules read directly on a netlist without IO buffers or buses: the
// register's own options, an output pin it drives, an input pin it reads.
bool expected_io_register(const CDB_SGATE_NODE* dff) {
  const CDB_SGATE_OTERM* out = dff->get_output_term(0);
  const HDB_INSTANCE_NAME* own = out->get_instance_name() ? out->get_instance_name() : dff->get_instance_name();
  if (on(own, ACF_INPUT_REGISTER) || on(own, ACF_OUTPUT_REGISTER) || on(own, ACF_OUTPUT_ENABLE_REGISTER)) return true;
  for (const CDB_SGATE_ITERM* t : out->fanouts()) {
    const CDB_SGATE_NODE* g = t->get_my_node();
    if (!g->is_output()) continue;
    const HDB_INSTANCE_NAME* pin = g->get_output_term(0)->get_instance_name();
    if (on(pin, ACF_OUTPUT_REGISTER) || on(pin, ACF_PCI_PIN)) return true;
  }
  const CDB_SGATE_ITERM* d = dff->get_input_term(CDB_DFF_DATA);
  if (d && d->get_source() && d->get_source()->get_my_node()->is_input()) {
    const HDB_INSTANCE_NAME* pin = d->get_source()->get_instance_name();
    if (on(pin, ACF_INPUT_REGISTER) || on(pin, ACF_PCI_PIN)) return true;
  }
  return false;
}

}  // namespace

TEST(KavuUtilityRegclass, BundledRegistersAgainstTheRules) {
  for (const std::string& name : bundled_circuits({"seq"})) {
    SCOPED_TRACE(name);
    LOADED_NETLIST nl = load_blif(name);
    GEN_RAND rand(17);
    std::vector<CDB_SGATE_NODE*> dffs;
    // Options on a random share of pins and registers; a few registers lose
    // every name.
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      CDB_SGATE_NODE* g = *it;
      if (!g) continue;
      HDB_INSTANCE_NAME* name_of = g->get_output_term(0) ? g->get_output_term(0)->get_instance_name() : nullptr;
      if (g->is_pin() && name_of) {
        const unsigned r = rand.get_int(6);
        if (r == 0) hdb_set_option(name_of, g->is_input() ? ACF_INPUT_REGISTER : ACF_OUTPUT_REGISTER, "on");
        if (r == 1) hdb_set_option(name_of, ACF_PCI_PIN, "on");
        if (r == 2) hdb_set_option(name_of, g->is_input() ? ACF_OUTPUT_REGISTER : ACF_INPUT_REGISTER, "on");
      }
      if (g->get_sgate_type() == CDB_SGATE_DFF_ENUM) {
        dffs.push_back(g);
        const unsigned r = rand.get_int(12);
        if (r == 0 && name_of) hdb_set_option(name_of, ACF_OUTPUT_ENABLE_REGISTER, "on");
        if (r == 1 && name_of) hdb_set_option(name_of, ACF_SYNCH_SECONDARY_ALLOWED, "off");
        if (r == 2) {
          g->get_output_term(0)->set_instance_name(nullptr);
          g->set_instance_name(nullptr);
        }
      }
    }
    ASSERT_FALSE(dffs.empty());
    int io = 0;
    for (CDB_SGATE_NODE* dff : dffs) {
      const bool expect = expected_io_register(dff);
      io += expect;
      EXPECT_EQ(opt_dff_is_io_register(dff), expect) << dff->get_string_hpath();
      EXPECT_EQ(opt_dff_can_be_used_to_infer(dff), !dff->get_instance_name() || !expect);
      const bool no_sync = on(dff->get_output_term(0)->get_instance_name(), ACF_SYNCH_SECONDARY_ALLOWED) == false &&
                           dff->get_output_term(0)->get_instance_name() &&
                           HDB_DERIVED_OPTION<ACF_KIND_BOOL, 0>::get_single_option(
                               dff->get_output_term(0)->get_instance_name(), ACF_SYNCH_SECONDARY_ALLOWED, true);
      EXPECT_EQ(opt_dff_has_sync_sec_disallowed(dff), no_sync);
      EXPECT_EQ(opt_dff_is_io_register_or_has_sync_sec_disallowed(dff), expect || no_sync);
    }
    EXPECT_GT(io, 0);
  }
}

TEST(KavuUtilityRegclass, PinStructuresCacheAndUnnamedRegisters) {
  CDB_SGATE_NETLIST nl;
  HDB_NAMESPACE* ns = hdb_default_namespace();
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(ns, "top", nullptr, nullptr, nullptr);
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  // r -> IO buffer (enable or data) -> tri-state bus -> bidirectional pin.
  auto bidir_case = [&](bool drive_enable, int pin_option) {
    CDB_SGATE_NODE* r = make_dff(&nl, a, clk);
    r->set_instance_name(HDB_INSTANCE_NAME::create_child(top, ("r" + std::to_string(nl.size())).c_str()));
    CDB_SGATE_IO_BUF* buf = new CDB_SGATE_IO_BUF(nullptr, CDB_IO_BUF_TRI);
    nl.add_node(buf);
    for (unsigned i = 0; i < 2; ++i) buf->set_input_term(buf->create_input_term(nullptr), i);
    r->get_output_term(0)->insert_fanout(buf->get_input_term(drive_enable ? CDB_IO_BUF_OE : CDB_IO_BUF_DATA));
    a->get_output_term(0)->insert_fanout(buf->get_input_term(drive_enable ? CDB_IO_BUF_DATA : CDB_IO_BUF_OE));
    CDB_SGATE_TRI_BUS* bus = new CDB_SGATE_TRI_BUS(nullptr);
    nl.add_node(bus);
    CDB_SGATE_ITERM* bus_in = bus->create_input_term(nullptr);
    bus->insert_unordered_fanin_term(bus_in);
    buf->get_output_term(0)->insert_fanout(bus_in);
    CDB_SGATE_IO* pin = new CDB_SGATE_IO(HDB_INSTANCE_NAME::create_child(top, ("p" + std::to_string(nl.size())).c_str()),
                                         CDB_IO_BIDIR);
    pin->get_output_term(0)->set_instance_name(pin->get_instance_name());
    nl.add_node(pin);
    bus->get_output_term(0)->insert_fanout(pin->get_input_term(0));
    if (pin_option) hdb_set_option(pin->get_instance_name(), pin_option, "on");
    return r;
  };
  struct ROW {
    bool enable;
    int option;
    bool io;
    const char* line;
  } const rows[] = {{true, ACF_OUTPUT_ENABLE_REGISTER, true, "is OE reg for bidir"},
                    {false, ACF_OUTPUT_ENABLE_REGISTER, false, nullptr},
                    {false, ACF_OUTPUT_REGISTER, true, "is OUTPUT reg for bidir"},
                    {false, ACF_PCI_PIN, true, "assoc with PCI pin"},
                    {true, ACF_OUTPUT_REGISTER, false, nullptr},
                    {true, 0, false, nullptr}};
  for (const ROW& r : rows) {
    CDB_SGATE_NODE* dff = bidir_case(r.enable, r.option);
    DEBUG_CAPTURE cap("KAVU");
    EXPECT_EQ(opt_dff_is_io_register(dff), r.io) << &r - rows;
    if (r.line) {
      EXPECT_TRUE(cap.contains(r.line)) << &r - rows;
    }
    // The register's name was copied onto its unnamed output terminal.
    EXPECT_EQ(dff->get_output_term(0)->get_instance_name(), dff->get_instance_name());
  }
  // An input pin with option 202 feeding the register.
  CDB_SGATE_NODE* in = make_input_pin(&nl, "din");
  hdb_set_option(in->get_output_term(0)->get_instance_name(), ACF_INPUT_REGISTER, "on");
  CDB_SGATE_NODE* reg = make_dff(&nl, in, clk);
  DEBUG_CAPTURE cap("KAVU");
  EXPECT_TRUE(opt_dff_is_io_register(reg));
  EXPECT_TRUE(cap.contains("is INPUT reg for bidir"));
  // The answer is kept: a later change of the pin's options is not seen.
  CDB_SGATE_NODE* cached = bidir_case(true, 0);
  EXPECT_FALSE(opt_dff_is_io_register(cached));
  hdb_set_option(cached->get_instance_name(), ACF_OUTPUT_ENABLE_REGISTER, "on");
  EXPECT_FALSE(opt_dff_is_io_register(cached));
  // An unnamed register with no pin neighbour is no I/O register (this used
  // to be an internal error); an IO buffer without fan-out is skipped (its
  // missing first fan-out used to be read).
  CDB_SGATE_NODE* lone = make_dff(&nl, a, clk);
  CDB_SGATE_IO_BUF* dangling = new CDB_SGATE_IO_BUF(nullptr, CDB_IO_BUF_TRI);
  nl.add_node(dangling);
  dangling->set_input_term(dangling->create_input_term(nullptr), 0);
  lone->get_output_term(0)->insert_fanout(dangling->get_input_term(0));
  EXPECT_FALSE(opt_dff_is_io_register(lone));
  EXPECT_TRUE(opt_dff_can_be_used_to_infer(lone));
  EXPECT_KAVU_INTERNAL_ERROR(opt_dff_is_io_register(a), "kavu_is_a_dff(dff,true)");
  EXPECT_KAVU_INTERNAL_ERROR(opt_dff_has_sync_sec_disallowed(a), "kavu_is_a_dff(dff,true)");
  // A named gate that is no register cannot be asked about inference.
  EXPECT_KAVU_INTERNAL_ERROR(opt_dff_can_be_used_to_infer(in), "kavu_is_a_dff(dff)");
  // Preserved registers stay out of inference.
  CDB_SGATE_NODE* kept = bidir_case(true, 0);
  kept->cast_to_dff()->set_preserve(true);
  EXPECT_FALSE(opt_dff_can_be_used_to_infer(kept));
}

TEST(KavuUtilityRegclass, LutableLogicSecondariesAndAtomRetyping) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* lut = make_lut(&nl, {a, b}, 0x8);
  struct ROW {
    CDB_SGATE_NODE* gate;
    uint8_t kind_byte;
    bool lutable;
  } const rows[] = {
      {make_and(&nl, a, b), 0, true}, {make_mux(&nl, a, b, a), 0, true}, {lut, 1, true}, {lut, 3, false}, {lut, 0, false},
      {make_dff(&nl, a, b), 0, false}, {a, 0, false}, {new CDB_SGATE_OPERATOR("s", CDB_OPER_SELECT), 0, true},
      {new CDB_SGATE_OPERATOR("e", CDB_OPER_EQUAL), 0, true}, {new CDB_SGATE_OPERATOR("n", CDB_OPER_NTO1_MUX), 0, true},
      {new CDB_SGATE_OPERATOR("d", CDB_OPER_DECODE), 0, true}, {new CDB_SGATE_OPERATOR("c", CDB_OPER_COMPARE), 0, true},
      {new CDB_SGATE_OPERATOR("+", CDB_OPER_ADDITION), 0, false}};
  for (const ROW& r : rows) {
    if (!r.gate->get_netlist()) nl.add_node(r.gate);
    if (r.gate == lut) lut->set_flag_byte(CDB_KIND_BYTE, r.kind_byte);
    EXPECT_EQ(opt_is_lutable_comb_logic(r.gate), r.lutable) << &r - rows;
  }
  // Shared secondaries over registers whose controls are tied as the RTL
  // repair leaves them.
  auto reg = [&](CDB_SGATE_NODE* clock, CDB_SGATE_NODE* ena, CDB_SGATE_NODE* sclr) {
    CDB_SGATE_NODE* r = make_dff(&nl, a, clock);
    for (unsigned pos : {CDB_DFF_PRESET, CDB_DFF_ALOAD, CDB_DFF_ACLR}) r->get_input_term(pos)->set_gnd();
    if (ena) ena->get_output_term(0)->insert_fanout(r->get_input_term(CDB_DFF_ENA));
    if (sclr) sclr->get_output_term(0)->insert_fanout(r->get_input_term(CDB_DFF_SCLR));
    return r;
  };
  OPT_SECONDARY_SIGNALS shared;
  EXPECT_TRUE(opt_check_reg_secondary(reg(a, b, nullptr), shared));
  EXPECT_TRUE(shared.m_clk != nullptr);
  OPT_SECONDARY_SIGNALS first = shared;
  EXPECT_TRUE(opt_check_reg_secondary(reg(a, b, nullptr), shared));
  EXPECT_FALSE(opt_check_reg_secondary(reg(a, nullptr, nullptr), shared));
  EXPECT_FALSE(opt_check_reg_secondary(reg(b, b, nullptr), shared));
  EXPECT_FALSE(opt_check_reg_secondary(reg(a, b, a), shared));
  EXPECT_EQ(shared.m_clk, first.m_clk);
  // A register with a driven preset or powering up high is refused and
  // leaves an empty record empty.
  OPT_SECONDARY_SIGNALS empty;
  CDB_SGATE_NODE* preset = reg(a, b, nullptr);
  b->get_output_term(0)->insert_fanout(preset->get_input_term(CDB_DFF_PRESET));
  EXPECT_FALSE(opt_check_reg_secondary(preset, empty));
  CDB_SGATE_NODE* high = reg(a, b, nullptr);
  kavu_set_dff_powers_up_high(high, true);
  EXPECT_FALSE(opt_check_reg_secondary(high, empty));
  EXPECT_EQ(empty.m_clk, nullptr);
  // Records differing only in the synchronous clear compare equal.
  OPT_SECONDARY_SIGNALS other = first;
  other.m_sclr = reg(a, b, a)->get_input_term(CDB_DFF_SCLR);
  EXPECT_TRUE(opt_compare_secondary_signals(first, other));
  other.m_ena = nullptr;
  EXPECT_FALSE(opt_compare_secondary_signals(first, other));
  // Atom re-typing.
  DEBUG_CAPTURE cap("KAVU");
  EXPECT_EQ(opt_convert_brae_wys_lcell(&nl), 0);
  EXPECT_TRUE(cap.contains("Converted 0 Brae wys lcells to Tessel wys lcells"));
  CDB_SGATE_WYSIWYG* w1 = new CDB_SGATE_WYSIWYG(nullptr, 10498);
  CDB_SGATE_WYSIWYG* w2 = new CDB_SGATE_WYSIWYG(nullptr, 10499);
  CDB_SGATE_WYSIWYG* w3 = new CDB_SGATE_WYSIWYG(nullptr, 10401);
  for (CDB_SGATE_NODE* w : {w1, w2, w3}) nl.add_node(w);
  EXPECT_EQ(opt_convert_brae_wys_lcell(&nl), 2);
  EXPECT_EQ(w1->get_wysiwyg_type(), 10401);
  EXPECT_EQ(w2->get_wysiwyg_type(), 10403);
  EXPECT_EQ(w3->get_wysiwyg_type(), 10401);
}
