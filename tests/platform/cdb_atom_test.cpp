// Device atoms: catalogue rows and port names, slots on fixed and on-demand
// atoms, type changes, the sweep rule, modes, the cell mask and RAM modes.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cdb/cdb_sgate.h"
#include "testkit/platform_testkit.h"

namespace {

using namespace kavu_platform;

// Places a new terminal in the slot the atom gives for `type`.
CDB_SGATE_ITERM* place_iterm(CDB_SGATE_WYSIWYG* atom, DB_INPUT_PORT_TYPE type) {
  CDB_SGATE_ITERM* t = atom->create_input_term(nullptr, type);
  atom->set_input_term(t, atom->get_input_port_number(type));
  return t;
}
CDB_SGATE_OTERM* place_oterm(CDB_SGATE_WYSIWYG* atom, DB_OUTPUT_PORT_TYPE type) {
  CDB_SGATE_OTERM* t = atom->create_output_term(nullptr, type);
  atom->set_output_term(t, atom->get_output_port_number(type));
  return t;
}

// Every row: sorted by type, unique names and port types, lookups by type
// and by name find it, named ports round-trip, the preferred and register
// outputs exist, and cells report the generic atom gate type.
TEST(AtomCatalogue, RowsAreConsistentAndPortNamesRoundTrip) {
  std::set<std::string> names;
  const ATOM_CATALOGUE_ENTRY* previous = nullptr;
  for (const ATOM_CATALOGUE_ENTRY& row : atom_catalogue_entries()) {
    SCOPED_TRACE(row.m_name);
    EXPECT_TRUE(!previous || row.m_atom_type > previous->m_atom_type) << "sorted, no repeats";
    previous = &row;
    EXPECT_TRUE(names.insert(row.m_name).second) << "unique name";
    EXPECT_TRUE(&atom_catalogue_lookup(row.m_atom_type) == &row && atom_catalogue_find(row.m_name) == &row);
    std::set<uint16_t> in, out;
    for (const ATOM_PORT& p : row.m_inputs) {
      EXPECT_TRUE(in.insert(p.m_port_type).second);
      const char* name = atom_input_port_name(p.m_port_type);
      EXPECT_TRUE(name && atom_input_port_by_name(name) == p.m_port_type) << "input " << p.m_port_type;
    }
    for (const ATOM_PORT& p : row.m_outputs) {
      EXPECT_TRUE(out.insert(p.m_port_type).second);
      const char* name = atom_output_port_name(p.m_port_type);
      EXPECT_TRUE(name && atom_output_port_by_name(name) == p.m_port_type) << "output " << p.m_port_type;
    }
    EXPECT_TRUE(row.m_preferred_output == CDB_ILLEGAL_PORT || out.count(row.m_preferred_output));
    EXPECT_TRUE(!row.has_class(ATOM_CLASS_FF) || out.count(row.m_register_port));
    EXPECT_TRUE(!row.has_class(ATOM_CLASS_FF | ATOM_CLASS_LCELL_COMB | ATOM_CLASS_LOGIC_MODULE) ||
                row.m_gate_type == CDB_SGATE_WYSIWYG_ENUM);
  }
  EXPECT_EQ(atom_catalogue_lookup(63).m_gate_type, CDB_SGATE_WYSIWYG_LUTRAM_ENUM);
  EXPECT_EQ(atom_catalogue_find("no_such_atom"), nullptr);
  EXPECT_EQ(atom_input_port_by_name("dataa"), CDB_ILLEGAL_PORT);  // exact, upper case
  const ATOM_CATALOGUE_ENTRY& g = atom_catalogue_lookup(4242);  // unknown types are generic
  EXPECT_TRUE(g.is_generic() && g.ports_on_demand() && g.m_gate_type == CDB_SGATE_WYSIWYG_GENERIC_ENUM);
}

TEST(AtomCatalogue, SlotsOfFlipFlopAndWidePorts) {
  const ATOM_CATALOGUE_ENTRY& ff = *atom_catalogue_find("ff_brae");
  const uint16_t order[] = {20, 7, 6, 27, 8, 0, 32, 1, 30, 31, 33};
  for (unsigned s = 0; s < 11; ++s) EXPECT_EQ(ff.input_slot(order[s]), s);
  EXPECT_EQ(atom_catalogue_find("lcell_comb_brae")->preferred_output_slot(), 1u);  // COMBOUT
  // A port of width 5 takes five slots; each slot maps back to its bit.
  const ATOM_CATALOGUE_ENTRY& lr = atom_catalogue_lookup(97);
  uint16_t type = 0;
  unsigned bit = 0;
  EXPECT_EQ(lr.input_slot(42), 6);
  ASSERT_TRUE(lr.input_port_of_slot(3, &type, &bit));
  EXPECT_EQ(std::pair(type, bit), std::pair(uint16_t(41), 2u));
  EXPECT_FALSE(lr.input_port_of_slot(lr.num_input_slots(), &type, &bit));
}

TEST(WysiwygAtom, ListsFollowTheRowAndPortsResolveToSlots) {
  CDB_SGATE_WYSIWYG lc(nullptr, 61);
  EXPECT_EQ(lc.get_input_port_number(DB_PORT_CLK), unsigned(CDB_ILLEGAL_PORT));
  EXPECT_EQ(lc.get_number_of_input_terms(), 9u);  // a missing port adds no slot
  CDB_SGATE_ITERM* c = place_iterm(&lc, DB_PORT_DATAC);
  EXPECT_TRUE(lc.get_input_term(2) == c && lc.get_iterm_by_type(DB_PORT_DATAC) == c);
  EXPECT_EQ(lc.get_iterm_by_type(DB_PORT_DATAC, 1), nullptr);  // beyond the port's width
  EXPECT_EQ(lc.get_iterm_by_type(DB_PORT_DATAA), nullptr);     // empty slot
  CDB_SGATE_OTERM* sum = place_oterm(&lc, DB_PORT_SUMOUT);
  EXPECT_EQ(lc.get_preferred_oterm(), sum);  // COMBOUT not placed: the first output
  CDB_SGATE_OTERM* comb = place_oterm(&lc, DB_PORT_COMBOUT);
  EXPECT_TRUE(lc.get_preferred_oterm() == comb && lc.get_oterm_by_type(DB_PORT_COMBOUT) == comb);
  EXPECT_TRUE(lc.check_kind_invariants(nullptr));
  // A terminal whose port type disagrees with its slot breaks the invariant.
  lc.set_input_term(lc.create_input_term(nullptr, DB_PORT_DATAB), 0);
  std::string report;
  EXPECT_FALSE(lc.check_kind_invariants(&report));
  EXPECT_NE(report.find("input slot 0"), std::string::npos) << report;
}

TEST(WysiwygAtom, GenericAtomsAppendSlotsOnFirstRequestAndTypeChangesKeepSlots) {
  CDB_SGATE_WYSIWYG g(nullptr, 4242);
  // Two ports asked for before any terminal is placed get distinct slots.
  EXPECT_EQ((std::vector<unsigned>{g.get_input_port_number(500), g.get_input_port_number(501),
                                   g.get_input_port_number(500)}),
            (std::vector<unsigned>{0, 1, 0}));
  CDB_SGATE_ITERM* tb = place_iterm(&g, 501);
  EXPECT_TRUE(g.get_input_term(1) == tb && g.get_iterm_by_type(501) == tb);
  EXPECT_EQ(g.get_iterm_by_type(502), nullptr);  // lookups by terminal never add a slot
  EXPECT_EQ(g.get_input_port_number(502), 2u);
  g.set_input_term(g.create_input_term(nullptr, 777), 5);  // placed behind the atom's back
  EXPECT_EQ(g.get_input_port_number(503), 6u);
  CDB_SGATE_OTERM* o = place_oterm(&g, 900);
  EXPECT_TRUE(g.get_preferred_oterm() == o && g.get_ordered_output_count() == 0u);  // beyond the bound
  EXPECT_TRUE(g.check_kind_invariants(nullptr));

  CDB_SGATE_WYSIWYG a(nullptr, 61);
  CDB_SGATE_ITERM* d = place_iterm(&a, DB_PORT_DATAD);
  a.set_changed(false);
  a.set_wysiwyg_type(93);
  EXPECT_TRUE(a.get_input_term(3) == d && a.is_changed() && a.is_type_changed());
  a.set_wysiwyg_type(4242);  // generic: reports 66, terminals stay
  EXPECT_TRUE(a.get_sgate_type() == CDB_SGATE_WYSIWYG_GENERIC_ENUM && a.get_input_term(3) == d);
  EXPECT_GE(a.get_input_port_number(600), 9u);  // never on top of an existing slot
}

TEST(WysiwygAtom, SweepRuleModesCellMaskAndRamModes) {
  CDB_SGATE_WYSIWYG ff(nullptr, 62), lc(nullptr, 61), other(nullptr, 4242);
  ff.set_preserve(true);
  EXPECT_TRUE(ff.is_sweep_keeper() && !lc.is_sweep_keeper() && other.is_sweep_keeper());  // other kinds are kept
  lc.set_mode(CDB_WYSIWYG_DONT_TOUCH);
  EXPECT_TRUE(lc.is_sweep_keeper() && lc.is_changed());  // modes and the cell mask raise the changed mark
  lc.set_mode(255);
  lc.clear_mode(CDB_WYSIWYG_DONT_TOUCH);
  EXPECT_TRUE(!lc.mode_is_set(CDB_WYSIWYG_DONT_TOUCH) && lc.mode_is_set(255));
  EXPECT_KAVU_INTERNAL_ERROR(lc.set_mode(256), "mode < CDB_WYSIWYG_NUM_MODES");
  lc.set_changed(false);
  lc.set_lutmask_value(0);  // the same value: nothing changes
  EXPECT_FALSE(lc.lutmask_changed() || lc.is_changed());
  lc.set_lutmask_value(0xFF00F0F0CCCCAAAAull);
  EXPECT_TRUE(lc.lutmask_changed() && lc.is_changed() && lc.get_lutmask_value() == 0xFF00F0F0CCCCAAAAull);

  CDB_SGATE_WYSIWYG_RAM_BLOCK ram(nullptr, 64);
  ram.set_ram_mode(45, CDB_RAM_PORT_B);  // modes are per port
  ram.set_ram_mode(9, CDB_RAM_PORT_A);
  ram.clear_ram_mode(9, CDB_RAM_PORT_A);
  EXPECT_TRUE(ram.ram_mode_is(45, CDB_RAM_PORT_B) && !ram.ram_mode_is(45, CDB_RAM_PORT_A) && !ram.ram_mode_is(9, 0));
  EXPECT_KAVU_INTERNAL_ERROR(ram.ram_mode_is(1, 2), "port <= CDB_RAM_PORT_B");
  // A RAM block needs a row that reports gate type 13.
  EXPECT_KAVU_INTERNAL_ERROR(CDB_SGATE_WYSIWYG_RAM_BLOCK(nullptr, 61), "CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM");
}

}  // namespace
