// kavu_utility_comb2.cpp — two-input comb gates and multiplexer updates.
//
// A case handled on purpose: a null signal given to
// kavu_update_mux ties the input to a constant (VCC, GND when inverted), as
// kavu_create_comb2 does, instead of being dereferenced.
#include "kavu_utility_comb2.h"

#include <cstdint>
#include <cstdio>

#include "kavu_check.h"
#include "kavu_name.h"
#include "kavu_wiring_helper.h"
#include "cdb/cdb_sgate.h"
#include "mem/mem.h"

namespace {

std::string terminal_key(const CDB_SGATE_OTERM* t, bool inverted) {
  char buf[64];
  snprintf(buf, sizeof buf, "%sUID%d.Oterm%d", inverted ? "!" : "", t ? int(t->get_my_node()->get_id()) : -1,
           t ? int(t->get_port_index()) : -1);
  return buf;
}

void rewire(CDB_SGATE_ITERM* t, CDB_SGATE_OTERM* src, bool invert) {
  t->disconnect_from_source(2);
  if (src) {
    src->insert_fanout(t);
    kavu_set_invert_flag(t, invert);
  } else {
    kavu_set_iterm_source(t, nullptr, invert);
  }
}

}  // namespace

CDB_SGATE_OTERM* kavu_create_comb2(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* name_from, CDB_SGATE_OTERM* a,
                                   bool invert_a, CDB_SGATE_OTERM* b, bool invert_b, CDB_COMB_TYPE kind,
                                   std::unordered_map<std::string, CDB_SGATE_OTERM*>* cache) {
  KAVU_CHECK(netlist);
  std::string key;
  if (cache) {
    key = terminal_key(a, invert_a) + "," + terminal_key(b, invert_b) + "," + std::to_string(int(int8_t(kind)));
    auto hit = cache->find(key);
    if (hit != cache->end()) return hit->second;
  }
  // Checked before the gate exists, so a refusal leaves nothing behind.
  if (!name_from) KAVU_INTERNAL_ERROR("from_sgate");
  CDB_SGATE_COMB* gate = new CDB_SGATE_COMB(nullptr, kind, true);
  kavu_create_synthesized_name(gate, name_from, "comb");
  netlist->add_node(gate, true);
  MEM_SEGMENT* seg = MEM_MANAGER::get_default_segment();
  gate->add_unordered_fanin_from_oterm(seg, invert_a, a);
  gate->add_unordered_fanin_from_oterm(seg, invert_b, b);
  CDB_SGATE_OTERM* out = gate->get_output_term(0);
  if (cache) (*cache)[key] = out;
  return out;
}

CDB_SGATE_OTERM* kavu_update_mux(CDB_SGATE_MUX* mux, CDB_SGATE_OTERM* select, CDB_SGATE_OTERM* data0,
                                 bool invert_data0, CDB_SGATE_OTERM* data1, bool invert_data1) {
  KAVU_CHECK(mux);
  CDB_SGATE_OTERM* oterm = mux->get_output_term(0);
  KAVU_CHECK(oterm && oterm->get_number_of_fanout() == 0);
  oterm->clear_invert();
  MEM_SEGMENT* seg = MEM_MANAGER::get_default_segment();
  for (unsigned p = mux->get_first_iport(); p < mux->get_end_iport(); p = mux->get_next_iport(p)) {
    if (!mux->get_input_term(p)) mux->set_input_term(mux->create_input_term(seg), p);
  }
  rewire(mux->get_input_term(CDB_MUX_DATA0), data0, invert_data0);
  rewire(mux->get_input_term(CDB_MUX_DATA1), data1, invert_data1);
  rewire(mux->get_input_term(CDB_MUX_SELECT), select, false);
  return oterm;
}
