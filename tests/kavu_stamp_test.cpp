// Tests of hierarchy stamps: one circuit stamped three times beside an
// unrelated partition, labelled, checked, emptied into bus operators, and
// constants pushed through facing boundaries; plus the bus operators alone.
#include <set>
#include <string>
#include <vector>

#include "kavu_helper_predicates.h"
#include "kavu_stamp.h"
#include "kavu_word_level.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

struct STAMP {
  std::vector<CDB_SGATE_NODE*> in_bounds, facing_in;    // partition side, top side
  std::vector<CDB_SGATE_NODE*> out_bounds, facing_out;  // partition side, top side
  std::set<const void*> gates;                          // every gate of the partition
};

CDB_SGATE_BOUNDARY* boundary(CDB_SGATE_NETLIST* nl, CDB_BOUNDARY_TYPE dir, int part, CDB_SGATE_OTERM* src) {
  auto* b = new CDB_SGATE_BOUNDARY(nullptr, dir);
  b->set_partition_number(part);
  nl->add_node(b);
  b->set_input_term(b->create_input_term(nullptr), 0);
  if (src) src->insert_fanout(b->get_input_term(0));
  return b;
}

// One copy of xor/and/register in partition `part`, its inputs a, b and clk
// entering through facing boundary pairs, its outputs leaving through pairs
// into output pins named after the copy. A null source is a facing boundary
// of its own tied to GND; a source that is an output boundary is used as the
// facing boundary itself (one cut net facing several copies).
STAMP add_stamp(CDB_SGATE_NETLIST* nl, int part, const std::vector<CDB_SGATE_NODE*>& sources) {
  STAMP s;
  std::vector<CDB_SGATE_NODE*> ins;
  for (CDB_SGATE_NODE* src : sources) {
    if (src && kavu_is_a_boundary_output(src)) {
      s.facing_in.push_back(src);
    } else {
      s.facing_in.push_back(
          boundary(nl, CDB_BOUNDARY_OUTPUT, KAVU_STAMP_TOP_ID, src ? src->get_single_oterm() : nullptr));
      if (!src) s.facing_in.back()->get_single_iterm()->set_gnd();
    }
    s.in_bounds.push_back(boundary(nl, CDB_BOUNDARY_INPUT, part, s.facing_in.back()->get_single_oterm()));
    ins.push_back(s.in_bounds.back());
  }
  CDB_SGATE_NODE* x = make_xor(nl, ins[0], ins[1]);
  CDB_SGATE_NODE* y = make_and(nl, ins[0], ins[1]);
  CDB_SGATE_NODE* r = make_dff(nl, x, ins[2]);
  for (CDB_SGATE_NODE* g : {x, y, r}) {
    s.gates.insert(g);
    s.out_bounds.push_back(boundary(nl, CDB_BOUNDARY_OUTPUT, part, g->get_single_oterm()));
    s.facing_out.push_back(boundary(nl, CDB_BOUNDARY_INPUT, KAVU_STAMP_TOP_ID, s.out_bounds.back()->get_single_oterm()));
    const std::string pin = "p" + std::to_string(part) + "_" + std::to_string(s.out_bounds.size());
    make_output_pin(nl, pin.c_str(), s.facing_out.back());
  }
  for (auto* v : {&s.in_bounds, &s.out_bounds})
    for (CDB_SGATE_NODE* g : *v) s.gates.insert(g);
  return s;
}

void register_duplicate(int master, int dup, const STAMP& m, const STAMP& d) {
  kavu_add_to_stamp_map(master, dup);
  for (size_t i = 0; i < d.in_bounds.size(); ++i) {
    kavu_add_pin_to_duplicate_boundary(d.in_bounds[i], d.facing_in[i]);
    kavu_add_pin_to_duplicate_boundary(d.in_bounds[i], d.in_bounds[i]);
    kavu_update_dup_bound_to_master_bound(d.in_bounds[i], m.in_bounds[i], m.facing_in[i]);
  }
  for (size_t i = 0; i < d.out_bounds.size(); ++i) {
    kavu_add_pin_to_duplicate_boundary(d.out_bounds[i], d.facing_out[i]);
    kavu_update_dup_bound_to_master_bound(d.out_bounds[i], m.out_bounds[i], m.facing_out[i]);
  }
}

// Where input b of every copy comes from.
enum B_SOURCE {
  B_PIN,               // an input pin, through a facing boundary per copy
  B_OWN_GND,           // GND, through a facing boundary per copy
  B_SHARED_GND,        // GND, through one facing boundary for copies 1 to 3
  B_SHARED_WITH_ALL,   // GND, through one facing boundary for all four copies
};

struct STAMPED {
  CDB_SGATE_NETLIST nl;
  STAMP stamps[4];  // partitions 1 (master), 2, 3 (duplicates), 4 (unrelated)
  CDB_SGATE_NODE* shared_b = nullptr;
  explicit STAMPED(B_SOURCE b_source) {
    kavu_stamp_tables() = KAVU_STAMP_TABLES();
    CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
    CDB_SGATE_NODE* b = b_source == B_PIN ? make_input_pin(&nl, "b") : nullptr;
    CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
    if (b_source == B_SHARED_GND || b_source == B_SHARED_WITH_ALL) {
      shared_b = boundary(&nl, CDB_BOUNDARY_OUTPUT, KAVU_STAMP_TOP_ID, nullptr);
      shared_b->get_single_iterm()->set_gnd();
    }
    for (int p = 0; p < 4; ++p)
      stamps[p] = add_stamp(&nl, p + 1, {a, (p < 3 || b_source == B_SHARED_WITH_ALL) ? shared_b : b, clk});
    register_duplicate(1, 2, stamps[0], stamps[1]);
    register_duplicate(1, 3, stamps[0], stamps[2]);
  }
  ~STAMPED() { kavu_stamp_tables() = KAVU_STAMP_TABLES(); }
};

int count_if(const CDB_SGATE_NETLIST& nl, bool (*pred)(const CDB_SGATE_NODE*)) {
  int n = 0;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it) n += (*it && pred(*it));
  return n;
}

}  // namespace

TEST(KavuStamp, ThreeStampsReportAlikeAndEmptyingKeepsMasterAndStrangers) {
  STAMPED s(B_PIN);
  KAVU_TRACK(s.nl);
  DEBUG_CAPTURE cap("KAVU");
  kavu_print_stamp_info(&s.nl, 1);
  for (int p = 1; p <= 4; ++p)
    EXPECT_TRUE(cap.contains("Stamp from hierarchy number " + std::to_string(p) +
                             ": size 3 (9 including boundaries), 0 inputs, 0 outputs, 1 dffs, 2 combs")) << p;
  EXPECT_TRUE(cap.contains("Total number of stamp copies for all templates (excluding the rest) 4"));
  EXPECT_TRUE(cap.contains("tvq - stamp check successful"));

  // A second reader of a master output boundary (only the first used to be rerouted).
  CDB_SGATE_NODE* second = make_output_pin(&s.nl, "second", s.stamps[0].out_bounds[0]);
  kavu_stamp_delete_inside_duplicates(&s.nl);
  EXPECT_TRUE(cap.contains("Stamp- emptied out the stamp copies, deleting 18 nodes"));
  // The master and the unrelated partition 4 keep every gate.
  std::set<const void*> alive;
  for (auto it = s.nl.begin_node_list(); it != s.nl.end_node_list(); ++it) alive.insert(*it);
  for (int p : {0, 3})
    for (const void* g : s.stamps[p].gates) EXPECT_TRUE(alive.count(g)) << "partition " << p + 1;
  // No table keeps a pointer to a destroyed boundary.
  std::set<const void*> gone;
  for (int p : {1, 2}) gone.insert(s.stamps[p].gates.begin(), s.stamps[p].gates.end());
  for (const auto* table : {&g_dup_bound_to_pins, &g_master_bound_to_dup_bounds, &g_outside_gate_to_dup_pins})
    for (const auto& [key, values] : *table) {
      EXPECT_FALSE(gone.count(key));
      for (const CDB_SGATE_NODE* v : values) EXPECT_FALSE(gone.count(v));
    }
  // Three bus-in operators (a, b, clk) and three bus-out operators, one bit per copy.
  EXPECT_EQ(count_if(s.nl, [](const CDB_SGATE_NODE* g) { return kavu_is_a_bus_in_op(g); }), 3);
  EXPECT_EQ(count_if(s.nl, [](const CDB_SGATE_NODE* g) { return kavu_is_a_bus_out_op(g); }), 3);
  for (auto it = s.nl.begin_node_list(); it != s.nl.end_node_list(); ++it)
    if (*it && kavu_is_a_bus_in_op(*it)) {
      EXPECT_EQ((*it)->cast_to_operator()->get_width(CDB_OPER_PORT_A), 3u);
      EXPECT_EQ((*it)->cast_to_operator()->get_partition_number(), 1);
    }
  // The master's output boundaries now feed the copies' output pins through the bus-out operators.
  CDB_SGATE_NODE* out_op = s.stamps[0].out_bounds[0]->get_single_oterm()->get_first_fanout()->get_my_node();
  ASSERT_TRUE(kavu_is_a_bus_out_op(out_op));
  EXPECT_EQ(s.stamps[1].facing_out[0]->get_single_iterm()->get_source()->get_my_node(), out_op);
  EXPECT_EQ(s.stamps[0].facing_out[0]->get_single_iterm()->get_source(), out_op->get_output_term(0));
  EXPECT_EQ(second->get_single_iterm()->get_source(), out_op->get_output_term(0));
}

TEST(KavuStamp, MismatchConstantsAndRefusedInput) {
  {
    STAMPED s(B_PIN);
    make_output_pin(&s.nl, "extra", make_not(&s.nl, s.stamps[2].in_bounds[0]));  // copy 3 grows a gate
    DEBUG_CAPTURE cap("KAVU");
    kavu_print_stamp_info(&s.nl, 0);
    EXPECT_TRUE(cap.contains("tvq - Issue: duplicate 3 no longer matches its master 1!"));
    EXPECT_TRUE(cap.contains("STAMP WARNING: Your stamps don't match anymore"));
    EXPECT_KAVU_INTERNAL_ERROR(kavu_print_stamp_info(&s.nl, 1), "overall_success");
    EXPECT_KAVU_INTERNAL_ERROR(kavu_add_to_stamp_map(4, 2), "g_dup_id_to_master_id[duplicate] == master");
    kavu_add_to_stamp_map(1, 2);  // the same pair again is accepted
  }
  {
    // A master whose gates are all gone no longer matches its duplicates
    // (the comparison used to be skipped and the check passed).
    STAMPED s(B_PIN);
    for (const void* g : s.stamps[0].gates) delete static_cast<CDB_SGATE_NODE*>(const_cast<void*>(g));
    DEBUG_CAPTURE cap("KAVU");
    kavu_print_stamp_info(&s.nl, 0);
    EXPECT_TRUE(cap.contains("tvq - Issue: duplicate 2 no longer matches its master 1!"));
    EXPECT_TRUE(cap.contains("tvq - Issue: duplicate 3 no longer matches its master 1!"));
    EXPECT_FALSE(cap.contains("tvq - stamp check successful"));
    EXPECT_KAVU_INTERNAL_ERROR(kavu_print_stamp_info(&s.nl, 1), "overall_success");
  }
  {
    // Constants through a facing boundary per copy, or through one facing
    // boundary cut once and fanned to several copies (deleting the first
    // pair used to destroy the boundary the others still faced).
    // An inverted input boundary (or facing output) turns the constant
    // its readers see: GND through an inverting boundary reaches them as VCC.
    enum INVERT { NONE, INPUT, BOTH };
    struct { B_SOURCE source; bool registered_twice; int deleted; bool shared_survives; INVERT invert; } cases[] = {
        {B_OWN_GND, false, 6, false, NONE},          // 2 per copy
        {B_OWN_GND, true, 6, false, NONE},           // copy 2's boundaries listed twice are deleted once
        {B_SHARED_GND, false, 4, false, NONE},       // three input boundaries, then the shared one
        {B_SHARED_WITH_ALL, false, 3, true, NONE},   // copy 4 still reads the shared boundary
        {B_OWN_GND, false, 6, false, INPUT},         // the copies' b reads VCC
        {B_SHARED_GND, false, 4, false, BOTH},       // two inversions cancel: b reads GND
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << c.source << " " << c.registered_twice << " " << c.invert);
      STAMPED golden(c.source), s(c.source);
      for (STAMPED* v : {&golden, &s})
        for (int p = 0; p < 3 && c.invert != NONE; ++p) {
          v->stamps[p].in_bounds[1]->get_single_iterm()->invert();
          if (c.invert == BOTH && (p == 0 || !v->shared_b)) v->stamps[p].facing_in[1]->get_single_oterm()->invert();
        }
      if (c.registered_twice) register_duplicate(1, 2, s.stamps[0], s.stamps[1]);
      KAVU_TRACK(s.nl);
      DEBUG_CAPTURE cap("KAVU");
      kavu_stamp_propagate_common_constants(&s.nl);
      EXPECT_TRUE(cap.contains("tvq - Deleted " + std::to_string(c.deleted) + " boundaries fed by constants."));
      std::string why;
      EXPECT_TRUE(sim_equivalent(&golden.nl, &s.nl, SIM_COMPARE{}, &why)) << why;
      if (s.shared_b) {
        std::set<const void*> alive;
        for (auto it = s.nl.begin_node_list(); it != s.nl.end_node_list(); ++it) alive.insert(*it);
        EXPECT_EQ(alive.count(s.shared_b) == 1, c.shared_survives);
        if (c.shared_survives) {
          EXPECT_EQ(s.stamps[3].in_bounds[1]->get_single_iterm()->get_source(), s.shared_b->get_single_oterm());
        }
      }
    }
    DEBUG_CAPTURE cap("KAVU");
    // A copy whose constant differs keeps every boundary.
    STAMPED mixed(B_OWN_GND);
    mixed.stamps[2].facing_in[1]->get_single_iterm()->set_vcc();
    kavu_stamp_propagate_common_constants(&mixed.nl);
    EXPECT_TRUE(cap.contains("tvq - Deleted 0 boundaries fed by constants."));
  }
  {
    CDB_SGATE_NETLIST nl;
    kavu_stamp_tables() = KAVU_STAMP_TABLES();
    CDB_SGATE_BOUNDARY* b1 = boundary(&nl, CDB_BOUNDARY_INPUT, 1, make_input_pin(&nl, "a")->get_single_oterm());
    CDB_SGATE_BOUNDARY* b2 = boundary(&nl, CDB_BOUNDARY_INPUT, 2, make_input_pin(&nl, "b")->get_single_oterm());
    make_output_pin(&nl, "y", make_and(&nl, b1, b2));
    EXPECT_KAVU_INTERNAL_ERROR(kavu_stamp_label_nodes(&nl), "aux() == stamp_id");
    EXPECT_KAVU_INTERNAL_ERROR(kavu_create_bus_in_operator(&nl, 0), "bus_width > 0");
    CDB_SGATE_NODE* out = kavu_create_bus_out_operator(&nl, 4);
    EXPECT_EQ(out->get_output_count(), 4u);
    EXPECT_EQ(out->cast_to_operator()->get_width(CDB_OPER_PORT_A), 1u);
  }
}
