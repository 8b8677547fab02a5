// kavu_utility_scan.cpp — scan-chain insertion (model in
// kavu_utility_scan.h).
//
// The domain of a register is looked up in a map keyed by what its clock
// input delivers: (source terminal, inversion) for a driven clock, a marker
// per constant and one for an unconnected clock. That is the equivalence of
// kavu_same_source, so the chains are those of a linear search over the
// domains, at O(log domains) per register.
#include "kavu_utility_scan.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <map>
#include <utility>
#include <vector>

#include "basex/basex.h"
#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "fio/fio.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_wiring_helper.h"
#include "msg/msg.h"

namespace {

constexpr int SCAN_PRIMITIVE_TYPE = 88;

struct SCAN_DOMAIN {
  CDB_SGATE_ITERM* m_clock;
  CDB_SGATE_OTERM* m_scan_mode;
  CDB_SGATE_OTERM* m_scan_in;
  CDB_SGATE_OTERM* m_tail;
  int m_count;
};

typedef std::pair<const void*, int> CLOCK_KEY;

CLOCK_KEY clock_key(const CDB_SGATE_ITERM* clk) {
  if (!clk || !cdb_is_connected(clk)) return {nullptr, 0};
  if (clk->get_source()) return {clk->get_source(), clk->is_inverted() ? 1 : 0};
  return {nullptr, clk->is_vcc() ? 2 : 3};
}

// Absent, unconnected or tied to its inactive value.
bool inactive(const CDB_SGATE_ITERM* t, bool inactive_is_vcc) {
  if (!t || !cdb_is_connected(t)) return true;
  return inactive_is_vcc ? t->is_vcc() : t->is_gnd();
}

bool can_scan(const CDB_SGATE_NODE* dff) {
  return inactive(kavu_get_dff_sload(dff), false) && inactive(kavu_get_dff_sclear(dff), false) &&
         inactive(kavu_get_dff_enable(dff), true);
}

}  // namespace

void opt_replace_string_punctuation(std::string* text) {
  KAVU_CHECK(text);
  for (char c : {'~', '[', ']', ':'})
    for (char& ch : *text)
      if (ch == c) ch = '_';
}

void opt_make_scan_chain_name(CMP_FACADE* facade, CDB_SGATE_NODE* gate, const char* base, unsigned int index) {
  KAVU_CHECK(gate && base);
  CDB_SGATE_HIERARCHY* hierarchy = gate->get_hierarchy();
  HDB_NAMESPACE* ns = (hierarchy && hierarchy->uses_namespace()) ? hierarchy->get_namespace()
                                                                  : (facade ? facade->get_namespace() : nullptr);
  HDB_INSTANCE_NAME* parent_name = ns ? ns->get_rooted_at() : nullptr;
  KAVU_CHECK(parent_name != NULL);
  char text[256];
  std::snprintf(text, sizeof(text), "_%s_%u", base, index);
  HDB_INSTANCE_NAME* final_name = parent_name->find_in_children(text, 1);
  if (!final_name) {
    HDB_SOURCE_COMPONENT* component = ns->get_source_components()->get_primitive(SCAN_PRIMITIVE_TYPE);
    final_name = HDB_INSTANCE_NAME::create_normal_name(ns, text, component, nullptr, parent_name);
  }
  KAVU_CHECK(final_name);
  gate->set_instance_name(final_name);
  gate->get_single_oterm()->set_instance_name(final_name);
}

CDB_SGATE_OTERM* opt_create_scan_input_port(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy,
                                            CDB_SGATE_NETLIST* netlist, const char* base, unsigned int index) {
  KAVU_CHECK(netlist);
  CDB_SGATE_IO* pin = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
  netlist->add_node(pin, true);
  pin->set_hierarchy(hierarchy);
  pin->set_made_by_synthesis(true);
  opt_make_scan_chain_name(facade, pin, base, index);
  return pin->get_single_oterm();
}

CDB_SGATE_OTERM* opt_create_scan_out_port(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy,
                                          CDB_SGATE_NETLIST* netlist, unsigned int index) {
  KAVU_CHECK(netlist);
  CDB_SGATE_IO* pin = new CDB_SGATE_IO(nullptr, CDB_IO_OUTPUT);
  pin->set_hierarchy(hierarchy);
  if (!pin->get_input_term(0)) pin->set_input_term(pin->create_input_term(nullptr), 0);
  pin->set_made_by_synthesis(true);
  opt_make_scan_chain_name(facade, pin, "scan_out", index);
  netlist->add_node(pin, true);
  // Netlists without an elaboration record have no boundary-pin list to keep.
  CDB_SGATE_NETLIST_INFO* info = netlist->get_netlist_info();
  if (BASEX_SGATE_NETLIST_INFO* basex = info ? info->dynamic_cast_to_BASEX_SGATE_NETLIST_INFO() : nullptr)
    basex->insert_boundary_pin(pin, false);
  return pin->get_single_oterm();
}

void opt_insert_scan_mux(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* dff, CDB_SGATE_OTERM* scan_mode,
                         CDB_SGATE_OTERM* scan_data) {
  KAVU_CHECK(netlist);
  CDB_SGATE_NODE* from_sgate = dff;
  KAVU_CHECK(from_sgate);
  CDB_SGATE_MUX* mux = new CDB_SGATE_MUX(nullptr);
  kavu_create_synthesized_name(mux, from_sgate, "mux");
  for (unsigned p = mux->get_first_iport(); p < CDB_MUX_NUM_PORTS; p = mux->get_next_iport(p))
    mux->set_input_term(mux->create_input_term(nullptr), p);
  netlist->add_node(mux, true);
  CDB_SGATE_ITERM* data = kavu_get_dff_data(dff);
  kavu_copy_fanin(data, mux->get_input_term(0));
  kavu_set_iterm_source(mux->get_input_term(1), scan_data, false);
  kavu_set_iterm_source(mux->get_input_term(2), scan_mode, false);
  data->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
  kavu_set_iterm_source(data, mux->get_single_oterm(), false);
}

void opt_insert_scan_chains(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  kavu_debug("Building scan chains...");
  // The chains are the pass's work, the file only its report: a report
  // that cannot be written as the user's own (another user's file left in
  // the working directory) is left unwritten, with a warning.
  std::string problem;
  FILE* file = FIO_FILE_SYSTEM::fopen_own_file("scan_info.txt", &problem);
  if (!file) {
    kavu_debug("Unable to dump to file scan_info.txt: %s", problem.c_str());
    msg_post_message(MSG_POST_TYPE_WARNING, "Scan chains are inserted without their report \"scan_info.txt\": " +
                                                (problem.empty() ? std::string("cannot write the file") : problem));
  }
  std::vector<SCAN_DOMAIN> domains;
  std::map<CLOCK_KEY, int> domain_of_clock;
  // Registers first: the pass adds pins and muxes to the node list.
  std::vector<CDB_SGATE_NODE*> registers;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it && kavu_is_a_dff(*it)) registers.push_back(*it);
  for (CDB_SGATE_NODE* dff : registers) {
    if (!can_scan(dff)) {
      kavu_debug_at_level(3, "WARNING - Check DFF UID %s - unable to scan due to sec sig", dff->get_debug_name().c_str());
      if (file)
        std::fprintf(file, "WARNING - Check DFF UID %s - unable to scan due to sec sig\n", dff->get_debug_name().c_str());
      continue;
    }
    CDB_SGATE_ITERM* clk = kavu_get_dff_clock(dff);
    auto [entry, added] = domain_of_clock.emplace(clock_key(clk), static_cast<int>(domains.size()));
    if (added) {
      const unsigned n = static_cast<unsigned>(domains.size());
      kavu_debug("Starting fresh chain %d", static_cast<int>(n));
      CDB_SGATE_OTERM* mode = opt_create_scan_input_port(facade, hierarchy, netlist, "scan_mode", n);
      CDB_SGATE_OTERM* in = opt_create_scan_input_port(facade, hierarchy, netlist, "scan_in", n);
      domains.push_back({clk, mode, in, in, 0});
    }
    SCAN_DOMAIN& d = domains[entry->second];
    opt_insert_scan_mux(netlist, dff, d.m_scan_mode, d.m_tail);
    ++d.m_count;
    if (file)
      std::fprintf(file, "Chain %02d : DFF %s %s\n", entry->second, dff->get_debug_name().c_str(),
                   dff->get_string_hpath().c_str());
    d.m_tail = kavu_get_dff_oterm(dff);
  }
  kavu_debug("Closing up scan chains...");
  for (size_t n = 0; n < domains.size(); ++n) {
    CDB_SGATE_OTERM* out = opt_create_scan_out_port(facade, hierarchy, netlist, static_cast<unsigned>(n));
    kavu_set_iterm_source(out->get_my_node()->get_single_iterm(), domains[n].m_tail, false);
  }
  for (size_t n = 0; n < domains.size(); ++n) {
    kavu_debug("Info : domain %d - %d flops", static_cast<int>(n), domains[n].m_count);
    if (file) std::fprintf(file, "Info : domain %d - %d flops\n", static_cast<int>(n), domains[n].m_count);
  }
  if (file && std::fclose(file) != 0)
    msg_post_message(MSG_POST_TYPE_WARNING, std::string("Scan chains are inserted, but their report \"scan_info.txt\" "
                                                        "cannot be written: ") + std::strerror(errno));
  kavu_debug("Scan chains complete");
}
