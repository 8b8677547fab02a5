// kavu_ssc_sync.cpp — synchronizer protection and high-speed registers.
//
// Synchronizers: registers that bring a signal into another clock domain,
//   with the registers that follow them one by one, are marked in the
//   netlist's compatible-register record (mark_synch_reg) so that merging
//   and retiming keep each chain. The chains come from the timing engine's
//   synchronizer list (clock domains from the constraints' clocks); where
//   the compatible-register record cannot be built from the engine, from
//   the same list over a timing netlist of the gate netlist alone under the
//   constraint file (ssc_sdc_netlist_registers); with no readable
//   constraints, from a structural search of the gate netlist
//   (kavu_ssc_find_synchronizer_chains).
// Structural search model: every output terminal gets a clock-domain
//   number — a register or state node its traced clock source's number
//   (from 1, in order of first sight), as do the registered outputs of MAC
//   and RAM blocks; a non-combinational source (an input pin, …) its own
//   domain; a combinational output (and an unregistered block output) the
//   single number of its inputs or "several". Numbers and their sentinels (none 3221225473, several
//   1073741823, own domain 536870911, forced 2147483647) do not fit a
//   32-bit aux value, so they live in one signed 64-bit value per terminal
//   of a side table; the terminal's aux holds only its index there. Every
//   aux and aux2 value is saved before it is changed and restored after,
//   however the search ends (memory refused included).
// High-speed registers: a register is a high-speed destination when a
//   captured input has a requirement at most "high_speed_regs_requirement"
//   (or, with relaxed slack, a relaxed slack below
//   "kavu_ssc_high_speed_slack_threshold"), a source when one of its
//   fan-outs is such a terminal; flags go to the netlist's high-speed map
//   under the register's instance-name id (and its bus's, the top group).
// Cost: the structural search and the identification are linear in the
//   netlist's terminals (hash lookups aside); walks use explicit stacks.
#include <map>
#include <memory>
#include <unordered_map>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "dev/dev.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_seq_mac_utility.h"
#include "kavu_setup.h"
#include "kavu_ssc_int.h"
#include "kavu_td_helper.h"

namespace {

bool g_protect_tag_once = true;
bool g_hs_options_once = true;
bool g_hs_threshold_once = true;

constexpr int64_t DOMAIN_UNSET = 0;
constexpr int64_t DOMAIN_NONE = 3221225473LL;
constexpr int64_t DOMAIN_SEVERAL = 1073741823LL;
constexpr int64_t DOMAIN_OWN = 536870911LL;
constexpr int64_t DOMAIN_FORCED = 2147483647LL;
constexpr int64_t DOMAIN_BUSY = -1;  // being computed

bool is_register(const CDB_SGATE_NODE* g) { return kavu_is_a_dff(g, true); }

// The registered inputs whose sources decide a register's domain.
void captured_inputs(const CDB_SGATE_NODE* reg, CDB_SGATE_ITERM* out[4]) {
  out[0] = kavu_get_dff_data(reg);
  out[1] = kavu_get_dff_enable(reg);
  out[2] = kavu_get_dff_sclear(reg);
  out[3] = kavu_get_dff_sload(reg);
}

int64_t combine(int64_t a, int64_t b) {
  if (b == DOMAIN_NONE) return a;
  if (a == DOMAIN_NONE || a == b) return b;
  return DOMAIN_SEVERAL;
}

class SYNC_SEARCH {
 public:
  explicit SYNC_SEARCH(CDB_SGATE_NETLIST* netlist) : m_netlist(netlist) {}
  ~SYNC_SEARCH() { restore(); }
  SYNC_SEARCH(const SYNC_SEARCH&) = delete;
  SYNC_SEARCH& operator=(const SYNC_SEARCH&) = delete;
  void run(bool print);

 private:
  int64_t& number(CDB_SGATE_OTERM* t) {
    const int aux_idx = t->get_aux();
    KAVU_CHECK(aux_idx != 0);
    KAVU_CHECK(size_t(aux_idx) <= m_numbers.size());
    return m_numbers[size_t(aux_idx) - 1];
  }
  // Calls f(t) for every output terminal of the netlist, in node-list order.
  template <class F>
  void for_each_oterm(F f) {
    for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
      CDB_SGATE_NODE* g = *it;
      if (!g) continue;
      for (unsigned j = 0; j < g->get_output_count(); ++j)
        if (CDB_SGATE_OTERM* t = g->get_output_term(j)) f(t);
    }
  }
  void save_and_index();
  void restore();
  CDB_SGATE_OTERM* trace_clock(CDB_SGATE_OTERM* s) const;
  int64_t clock_number(CDB_SGATE_OTERM* clock_source);
  int64_t clock_number(const CDB_SGATE_ITERM* clock);
  void number_sources();
  int64_t domain_of(CDB_SGATE_OTERM* t);
  CDB_SGATE_NODE* next_register(CDB_SGATE_NODE* reg) const;
  void extend_chain(std::vector<CDB_SGATE_NODE*>* chain, std::unordered_map<CDB_SGATE_NODE*, int>* taken);
  void mark_chains(const std::vector<std::vector<CDB_SGATE_NODE*>>& chains);

  struct SAVED_AUX {
    CDB_SGATE_OTERM* m_oterm;
    int m_aux;
    int m_aux2;
  };

  CDB_SGATE_NETLIST* m_netlist;
  std::vector<SAVED_AUX> m_saved;  // terminals whose aux values are changed, in order
  std::vector<int64_t> m_numbers;  // by aux - 1
  std::map<CDB_SGATE_OTERM*, int64_t> m_clock_sources;
  std::vector<CDB_SGATE_NODE*> m_forced_heads;
  std::vector<CDB_SGATE_OTERM*> m_stack;
};

void SYNC_SEARCH::save_and_index() {
  for_each_oterm([this](CDB_SGATE_OTERM* t) {
    m_saved.push_back({t, t->get_aux(), t->get_aux2()});  // before any change
    m_numbers.push_back(DOMAIN_UNSET);
    t->set_aux(int(m_numbers.size()));
    t->set_aux2(0);
  });
}

void SYNC_SEARCH::restore() {
  for (const SAVED_AUX& saved : m_saved) {
    saved.m_oterm->set_aux(saved.m_aux);
    saved.m_oterm->set_aux2(saved.m_aux2);
  }
  m_saved.clear();
}

// The input through which a gate passes a clock on, as the timing netlist
// traces a clock: the only driven input of a buffer, a clock buffer or a
// one-input LUT, where the gate's output follows it (a data arc). A LUT
// whose function ignores that input has no arc from it (its output is a
// constant, no clock), and a gate with several driven inputs (a clock
// buffer with an enable) passes none on its own: null.
const CDB_SGATE_ITERM* clock_step_input(const CDB_SGATE_NODE* g) {
  const CDB_SGATE_WYSIWYG* w = g->cast_to_wysiwyg();
  const CDB_SGATE_LUT* lut = g->get_sgate_type() == CDB_SGATE_LUT_ENUM ? g->cast_to_lut() : nullptr;
  if (g->get_sgate_type() != CDB_SGATE_BUFFER_ENUM && !(w && w->is_clkbuf()) && !lut) return nullptr;
  const CDB_SGATE_ITERM* in = nullptr;
  unsigned at = 0;
  for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i) {
    const CDB_SGATE_ITERM* t = g->get_input_term(i);
    if (!t || !t->get_source()) continue;
    if (in) return nullptr;
    in = t;
    at = i;
  }
  if (in && lut && lut->is_independent_of(at)) return nullptr;
  return in;
}

// The clock source behind `s` through the gates that pass a clock on
// (clock_step_input).
CDB_SGATE_OTERM* SYNC_SEARCH::trace_clock(CDB_SGATE_OTERM* s) const {
  for (int steps = 0; s && steps < 1000; ++steps) {
    const CDB_SGATE_ITERM* in = clock_step_input(s->get_my_node());
    if (!in) break;
    s = in->get_source();
  }
  return s;
}

int64_t SYNC_SEARCH::clock_number(CDB_SGATE_OTERM* clock_source) {
  CDB_SGATE_OTERM* src = trace_clock(clock_source);
  if (!src) return DOMAIN_NONE;
  auto it = m_clock_sources.find(src);
  if (it != m_clock_sources.end()) return it->second;
  const int64_t n = int64_t(m_clock_sources.size()) + 1;
  m_clock_sources.emplace(src, n);
  return n;
}

int64_t SYNC_SEARCH::clock_number(const CDB_SGATE_ITERM* clock) {
  return clock_number(clock ? clock->get_source() : nullptr);
}

// The clock input that registers a RAM block's data output, or null when
// the output is not registered: port A's data out (41) and port B's (42,
// 513) are registered under their port's mode member 9, on clock 1 (input
// 36) under member 27, else on clock 0 (input 35).
const CDB_SGATE_ITERM* ram_output_clock(const CDB_SGATE_WYSIWYG_RAM_BLOCK* ram, const CDB_SGATE_OTERM* out) {
  const DB_OUTPUT_PORT_TYPE t = out->get_port_type();
  const bool port_b = t == 42 || t == 513;
  if (!port_b && t != 41) return nullptr;
  const CDB_SGATE_WYSIWYG_RAM_BLOCK::RAM_MODE_SET& mode = ram->get_ram_mode(port_b ? CDB_RAM_PORT_B : CDB_RAM_PORT_A);
  if (!mode.test(9)) return nullptr;
  return ram->get_iterm_by_type(mode.test(27) ? 36 : 35);
}

// Registers and state nodes take their clock's number on every output; a
// MAC block on each registered output, a RAM block on each registered data
// output (the rest are computed from the block's inputs on demand), a
// synchronous RAM gate, clocked as a whole, on every output. Any other
// node that is not combinational (an input pin, a latch, ...) is a domain
// of its own.
void SYNC_SEARCH::number_sources() {
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    CDB_SGATE_WYSIWYG* w = g->cast_to_wysiwyg();
    int64_t n = DOMAIN_UNSET;
    if (is_register(g)) {
      n = clock_number(kavu_get_dff_clock(g));
    } else if (g->get_sgate_type() == CDB_SGATE_STATE_ENUM) {
      const CDB_STATE_MACHINE* machine = g->cast_to_state()->get_state_machine();
      n = clock_number(machine ? machine->get_clk() : nullptr);
    } else if (g->get_sgate_type() == CDB_SGATE_SYNCHRONOUS_RAM_ENUM) {
      n = clock_number(g->cast_to_synchronous_ram()->get_iterm_by_type(DB_PORT_CLK));
    } else if (w && w->is_mac()) {
      for (CDB_SGATE_OTERM* t : g->get_output_terms()) {
        CDB_SGATE_ITERM* clock = nullptr;
        if (t && kavu_is_mac_output_registered(t, nullptr) && kavu_is_mac_output_registered(t, &clock))
          number(t) = clock_number(clock);
      }
      continue;
    } else if (w && w->is_ram() && w->cast_to_wysiwyg_ram_block()) {
      for (CDB_SGATE_OTERM* t : g->get_output_terms())
        if (t)
          if (const CDB_SGATE_ITERM* clock = ram_output_clock(w->cast_to_wysiwyg_ram_block(), t))
            number(t) = clock_number(clock);
      continue;
    } else if (!kavu_sgate_is_comb(g) && g->get_sgate_type() != CDB_SGATE_TRI_BUS_ENUM &&
               !(g->get_sgate_type() == CDB_SGATE_IO_BUF_ENUM && g->cast_to_io_buf()->get_io_buf_type() == 0)) {
      n = DOMAIN_OWN;
    }
    if (n == DOMAIN_UNSET) continue;
    for (unsigned j = 0; j < g->get_output_count(); ++j)
      if (CDB_SGATE_OTERM* t = g->get_output_term(j)) number(t) = n;
  }
}

// The domain of a combinational output, from its inputs, with an explicit
// stack; a terminal met again while open gives "several".
int64_t SYNC_SEARCH::domain_of(CDB_SGATE_OTERM* root) {
  if (number(root) != DOMAIN_UNSET && number(root) != DOMAIN_BUSY) return number(root);
  if (number(root) == DOMAIN_BUSY) return DOMAIN_SEVERAL;
  m_stack.clear();
  m_stack.push_back(root);
  number(root) = DOMAIN_BUSY;
  while (!m_stack.empty()) {
    CDB_SGATE_OTERM* t = m_stack.back();
    const CDB_SGATE_NODE* g = t->get_my_node();
    int64_t d = DOMAIN_NONE;
    bool pending = false;
    for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i) {
      CDB_SGATE_ITERM* in = g->get_input_term(i);
      CDB_SGATE_OTERM* s = in ? in->get_source() : nullptr;
      if (!s) continue;
      int64_t& sn = number(s);
      if (sn == DOMAIN_UNSET) {
        sn = DOMAIN_BUSY;
        m_stack.push_back(s);
        pending = true;
        break;
      }
      d = combine(d, sn == DOMAIN_BUSY ? DOMAIN_SEVERAL : sn);
    }
    if (pending) continue;
    number(t) = d;
    m_stack.pop_back();
  }
  return number(root);
}

// The one register the given register feeds, through multiplexers with a
// single fan-out; its own hold multiplexer (fed back from that register)
// may take the output as well. Null when there is none or more than one.
CDB_SGATE_NODE* SYNC_SEARCH::next_register(CDB_SGATE_NODE* reg) const {
  CDB_SGATE_OTERM* out = kavu_get_dff_oterm(reg);
  if (!out || !out->has_fanout()) return nullptr;
  CDB_SGATE_NODE* found = nullptr;
  for (CDB_SGATE_ITERM* f : out->fanouts()) {
    CDB_SGATE_NODE* g = f->get_my_node();
    for (int steps = 0; g && g->get_sgate_type() == CDB_SGATE_MUX_ENUM && steps < 64; ++steps) {
      CDB_SGATE_OTERM* mo = g->get_output_term(0);
      if (!mo || !mo->has_fanout_exactly(1)) return nullptr;
      g = mo->get_first_fanout()->get_my_node();
    }
    if (!g || !is_register(g)) return nullptr;
    if (found && found != g) return nullptr;
    found = g;
  }
  return found;
}

// Extends a one-register chain register by register, up to the length
// option of its head (3 by default), never into another chain's register.
void SYNC_SEARCH::extend_chain(std::vector<CDB_SGATE_NODE*>* chain, std::unordered_map<CDB_SGATE_NODE*, int>* taken) {
  KAVU_CHECK(chain && chain->size() == 1);
  const int number = (*taken)[chain->front()];
  int limit = 3;
  if (auto* opt = HDB_DERIVED_OPTION<4, 0>::get_single_option(chain->front()->get_instance_name(),
                                                              KAVU_ACF_SYNCHRONIZER_LENGTH, true))
    limit = opt->get_value();
  while (int(chain->size()) < limit) {
    CDB_SGATE_NODE* next = next_register(chain->back());
    if (!next || taken->count(next)) break;
    (*taken)[next] = number;
    chain->push_back(next);
  }
}

void SYNC_SEARCH::run(bool print) {
  save_and_index();
  number_sources();
  std::vector<CDB_SGATE_NODE*> registers;
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it)
    if (*it && is_register(*it)) registers.push_back(*it);
  // Forced heads and forced domains.
  for (CDB_SGATE_NODE* r : registers) {
    auto* opt = HDB_DERIVED_OPTION<4, 0>::get_single_option(r->get_instance_name(), KAVU_ACF_SYNCHRONIZER_IDENTIFICATION, true);
    if (!opt || (opt->get_value() != 286 && opt->get_value() != 3)) continue;
    if (opt->get_value() == 286) m_forced_heads.push_back(r);
    if (CDB_SGATE_OTERM* q = kavu_get_dff_oterm(r)) number(q) = DOMAIN_FORCED;
  }
  kavu_debug("Forced %d registers to be head of synchronizer chains", int(m_forced_heads.size()));
  std::vector<CDB_SGATE_NODE*> heads = m_forced_heads;
  for (CDB_SGATE_NODE* r : registers) {
    CDB_SGATE_OTERM* q = kavu_get_dff_oterm(r);
    if (!q) continue;
    const int64_t own = number(q);
    if (own == DOMAIN_NONE || own == DOMAIN_FORCED || own == DOMAIN_UNSET) continue;
    CDB_SGATE_ITERM* in[4];
    captured_inputs(r, in);
    int64_t d = DOMAIN_NONE;
    for (CDB_SGATE_ITERM* t : in)
      if (t && t->get_source()) d = combine(d, domain_of(t->get_source()));
    if (d == DOMAIN_SEVERAL || (d != DOMAIN_NONE && d != own)) heads.push_back(r);
  }
  // Chains, head by head.
  std::unordered_map<CDB_SGATE_NODE*, int> taken;
  std::vector<std::vector<CDB_SGATE_NODE*>> chains;
  for (CDB_SGATE_NODE* h : heads) {
    if (taken.count(h)) continue;
    chains.push_back({h});
    taken[h] = int(chains.size());
    extend_chain(&chains.back(), &taken);
  }
  restore();
  mark_chains(chains);
  std::map<size_t, int> lengths;
  int total = 0;
  for (size_t c = 0; c < chains.size(); ++c) {
    std::string paths;
    for (CDB_SGATE_NODE* r : chains[c]) {
      if (print && !paths.empty()) paths += ' ';
      if (print) paths += r->get_string_hpath();
      ++total;
    }
    ++lengths[chains[c].size()];
    if (print) kavu_debug("SYNC: Chain %d (length %d): %s", int(c + 1), int(chains[c].size()), paths.c_str());
  }
  kavu_debug("SYNC: Protected %d synchronizer chains in the design. %d registers in total", int(chains.size()), total);
  for (const auto& [length, count] : lengths) kavu_debug("SYNC: %6d chains of length %d", count, int(length));
}

// Marks every chain's registers in the record, or, memory refused on the
// way, none: the marks made are taken back before std::bad_alloc goes on,
// so the record is as the call found it (an entry this call made is left
// with no set and no chain, which reads as no entry).
void SYNC_SEARCH::mark_chains(const std::vector<std::vector<CDB_SGATE_NODE*>>& chains) {
  CDB_SGATE_COMPATIBLE_REGISTERS* reg_mgr = m_netlist->get_compatible_registers();
  struct PRIOR {
    CDB_SGATE_OTERM* m_oterm;
    unsigned m_chain;
  };
  std::vector<PRIOR> prior;
  for (const std::vector<CDB_SGATE_NODE*>& chain : chains)
    for (CDB_SGATE_NODE* r : chain) prior.push_back({kavu_get_dff_oterm(r), 0});
  for (PRIOR& p : prior) p.m_chain = reg_mgr->get_synch_chain(p.m_oterm);
  size_t marked = 0;
  try {
    for (size_t c = 0; c < chains.size(); ++c)
      for (CDB_SGATE_NODE* r : chains[c]) {
        reg_mgr->mark_synch_reg(kavu_get_dff_oterm(r), unsigned(c + 1));
        ++marked;
      }
  } catch (const std::bad_alloc&) {
    // Each entry marked exists: setting it back allocates nothing.
    for (size_t k = 0; k < marked; ++k) reg_mgr->mark_synch_reg(prior[k].m_oterm, prior[k].m_chain);
    throw;
  }
}

// A register's terminal for the high-speed test: the requirement map's
// entry, 2147483647 when missing.
int iterm_requirement(SSC_ITERM_REQUIREMENT_INFO_MAP* requirements, CDB_SGATE_ITERM* iterm) {
  if (!requirements) return SSC_UNCONSTRAINED_SLACK;
  auto it = requirements->find(iterm);
  return it == requirements->end() ? SSC_UNCONSTRAINED_SLACK : it->second.m_requirement;
}

void set_flags(CDB_SGATE_HIGH_SPEED_MAP* map, unsigned id, bool source, bool destination) {
  CDB_SGATE_HIGH_SPEED_REGISTER& r = (*map)[id];
  if (source) r.set_high_speed_source(true);
  if (destination) r.set_high_speed_destination(true);
}

}  // namespace

void kavu_ssc_sync_reset() {
  g_protect_tag_once = true;
  g_hs_options_once = true;
  g_hs_threshold_once = true;
}

// ---------------------------------------------------------------- synchronizers

bool kavu_ssc_should_protect_synchronizers(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy) {
  bool protect = cfg_is_on("kavu_ssc_protect_synchronizers", true);
  if (!protect) kavu_debug("SYNC: Synchronizer chain protection disabled by INI.");
  const DEV_FAMILY_ENUM family = facade ? facade->get_family() : DEV_FAMILY_UNKNOWN;
  if (!DEV_FAMILY_MANAGER::test_trait_of(family, 135) && !cfg_is_on("kavu_ssc_protect_synchronizers_all_families", false)) {
    kavu_debug("SYNC: Not protecting synchronizer chains because the family is not supported.");
    protect = false;
  }
  if (!kavu_ssc_is_ssc_allowed(facade, hierarchy, nullptr)) {
    kavu_debug("SYNC: Not protecting synchronizer chains because ssc is not supported.");
    protect = false;
  }
  kavu_debug("SYNC: Synthesis is%s protecting synchronizers.", protect ? "" : " NOT");
  if (kavu_ssc_skip_sdc_load && g_protect_tag_once) {
    tag_it(71, "%s", protect && family != 47 ? "ON" : "OFF");
    g_protect_tag_once = false;
  }
  return protect;
}

void kavu_ssc_protect_synchronizers_impl(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist) {
  GEN_PROFILER profiler("KAVU", "kavu_ssc_identify_synchronizers", 0x7fffffff);
  const bool verbose = cfg_is_on("kavu_ssc_metastability_verbose", false);
  kavu_debug("SYNC: Identifying synchronizer chains in the design for protection.");
  KAVU_CHECK(KAVU_SSC::is_in_use());
  TDC_ACCESSORIES* tdc = tdc_get_accessories();
  KAVU_CHECK(tdc);
  std::unique_ptr<std::vector<TDC_SYNCHRONIZER_ENTRY>> list(tdc->get_synchronizer_list(true));
  if (!list) {
    kavu_debug("SYNC: Failed to get the list of synchronizers from TDC, skipping protection.");
    return;
  }
  TDB_NETLIST* tdb_netlist = kavu_ssc_get_tdb_netlist();
  KAVU_CHECK(tdb_netlist);
  kavu_debug("SYNC: Found %d synchronization registers to protect in the design.", int(list->size()));
  SSC_UTIL* timing_manager = ssc_get_util();
  std::vector<std::pair<CDB_SGATE_OTERM*, bool>> entries;
  entries.reserve(list->size());
  for (const TDC_SYNCHRONIZER_ENTRY& e : *list) {
    TDB_NODE* node = tdb_netlist->get_node(e.m_node_id);
    CDB_SGATE_OTERM* t = node ? timing_manager->get_sgate_oterm_from_tdb_node(node) : nullptr;
    if (!t && verbose) kavu_debug("SYNC: Couldn't find %s", node ? node->get_string_name().c_str() : "?");
    entries.push_back({t, e.m_chain_start});
  }
  kavu_ssc_mark_synchronizer_chains(facade, netlist, entries);
}

int kavu_ssc_mark_synchronizer_chains(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist,
                                      const std::vector<std::pair<CDB_SGATE_OTERM*, bool>>& entries) {
  const bool verbose = cfg_is_on("kavu_ssc_metastability_verbose", false);
  CDB_SGATE_COMPATIBLE_REGISTERS* reg_mgr = netlist->get_compatible_registers();
  KAVU_CHECK(reg_mgr);
  const bool supported = facade && DEV_FAMILY_MANAGER::test_trait_of(facade->get_family(), 135);
  if (!supported) kavu_debug("Family is not supported!");
  int chain = 0, protected_count = 0;
  for (const auto& [t, head] : entries) {
    if (head) ++chain;
    else if (!supported) continue;
    if (!t) continue;
    if (verbose) kavu_debug("SYNC: Protecting %s (chain %d)", t->get_my_node()->get_string_hpath().c_str(), chain);
    reg_mgr->mark_synch_reg(t, unsigned(chain));
    ++protected_count;
  }
  kavu_debug("SYNC: Protected %d / %d registers in %d synchronizer chains.", protected_count, int(entries.size()),
             chain);
  return protected_count;
}

void kavu_ssc_search_synchronizer_chains(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  kavu_debug("SYNC: Identifying synchronizer chains in the design for protection.");
  const bool print = cfg_is_on("kavu_ssc_print_synchronizer_chains", false);
  SYNC_SEARCH(netlist).run(print);
}

void kavu_ssc_find_synchronizer_chains(CDB_SGATE_NETLIST* netlist, bool flag) {
  (void)flag;
  KAVU_CHECK(netlist);
  // Memory refused fails the search with the failure posted: every aux
  // value as before, no chain marked.
  kavu_ssc_guard_memory(false, [&](KAVU_SSC_ENGINE_RELEASE&) {
    kavu_ssc_search_synchronizer_chains(netlist);
    return true;
  });
}

// ---------------------------------------------------------------- high-speed registers

bool kavu_ssc_get_high_speed_reg_options(CMP_FACADE* cmp_facade, CDB_SGATE_HIERARCHY* hier, bool* use_relaxed_slack) {
  const bool use = cfg_is_on("tds_use_high_speed_regs", false);
  const bool disable = cfg_is_on("tds_disable_high_speed_regs", false);
  const bool relaxed = cfg_is_on("tds_high_speed_regs_use_relaxed_slack", false);
  if (use_relaxed_slack) *use_relaxed_slack = relaxed;
  if (!cmp_facade && !hier) return false;
  KAVU_CHECK(cmp_facade != 0 && hier != 0);
  const int family = cmp_facade->get_family();
  const bool speed = cmp_facade->get_optimization_technique(hier->get_instance_name()) == CMP_OPTIMIZATION_SPEED;
  const bool by_family = family == 57 || family == 47 || family == 45 || family == 25;
  const bool result = (by_family && speed) ? !disable : use;
  if (g_hs_options_once) {
    g_hs_options_once = false;
    tag_it(68, "%s", result ? "allowed" : "not allowed");
    if (!result && disable) kavu_debug("High-speed registers disabled by INI");
    if (result && use) kavu_debug("High-speed registers enabled by INI");
  }
  return result;
}

bool kavu_ssc_is_high_speed_iterm(SSC_ITERM_REQUIREMENT_INFO_MAP* requirement_map, SSC_ITERM_TIMING_INFO_MAP* timing_map,
                                  CDB_SGATE_ITERM* iterm) {
  const int requirement_threshold = cfg_get_int_value("high_speed_regs_requirement", 3333);
  const int slack_threshold = cfg_get_int_value("kavu_ssc_high_speed_slack_threshold", 1000);
  const bool verbose = cfg_is_on("high_speed_regs_verbose", false);
  bool relaxed = false;
  kavu_ssc_get_high_speed_reg_options(nullptr, nullptr, &relaxed);
  if (g_hs_threshold_once) {
    g_hs_threshold_once = false;
    if (relaxed)
      kavu_debug("Using relaxed slack instead of fmax requirement for high-speed registers. Slack threshold is %d",
                 slack_threshold);
    // A requirement of 0 or less has no frequency: 0 is printed instead of
    // dividing by it.
    kavu_debug("Using delay requirement <= %d, fmax >= %d for high-speed registers", requirement_threshold,
               requirement_threshold > 0 ? 1000000 / requirement_threshold : 0);
  }
  if (!iterm || !cdb_is_connected(iterm) || !iterm->get_source()) return false;
  const CDB_SGATE_NODE* from = iterm->get_source()->get_my_node();
  const CDB_SGATE_NODE* to = iterm->get_my_node();
  auto trace = [&](const char* what, int value, bool high) {
    if (!verbose) return;
    kavu_debug("Iterm from %s %s to %s %s has %s %d. %s", from->get_string_type_name(), from->get_string_hpath().c_str(),
               to->get_string_type_name(), to->get_string_hpath().c_str(), what, value,
               high ? "Considered high-speed" : "Not considered high-speed");
  };
  if (relaxed) {
    if (!timing_map) return false;
    auto it = timing_map->find(iterm);
    if (it == timing_map->end()) return false;
    const bool high = it->second.m_slack < slack_threshold;
    trace(high ? "relaxed slack" : "relaxed slack requirement", it->second.m_slack, high);
    return high;
  }
  const int requirement = iterm_requirement(requirement_map, iterm);
  const bool high = requirement <= requirement_threshold;
  trace("requirement", requirement, high);
  return high;
}

void kavu_ssc_identify_high_speed_registers(CDB_SGATE_NETLIST* sgate_netlist,
                                            SSC_ITERM_REQUIREMENT_INFO_MAP* requirement_map,
                                            SSC_ITERM_TIMING_INFO_MAP* timing_map) {
  const bool verbose = cfg_is_on("high_speed_regs_verbose", false);
  KAVU_CHECK(sgate_netlist);
  KAVU_CHECK(sgate_netlist->get_high_speed_registers() == 0);
  // The flags are gathered first and handed to the netlist's map whole, so
  // memory refused on the way leaves the netlist without a map (a later
  // call identifies them again), never with part of one.
  CDB_SGATE_HIGH_SPEED_MAP gathered;
  CDB_SGATE_HIGH_SPEED_MAP* map = &gathered;
  int found = 0, total = 0;
  for (auto it = sgate_netlist->begin_node_list(); it != sgate_netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* r = *it;
    if (!r || !is_register(r)) continue;
    ++total;
    CDB_SGATE_ITERM* in[4];
    captured_inputs(r, in);
    bool destination = false;
    for (CDB_SGATE_ITERM* t : in) destination = destination || kavu_ssc_is_high_speed_iterm(requirement_map, timing_map, t);
    CDB_SGATE_ITERM* sload = kavu_get_dff_sload(r);
    if (!destination && sload && cdb_is_connected(sload) && !sload->is_gnd())
      destination = kavu_ssc_is_high_speed_iterm(requirement_map, timing_map, kavu_get_dff_adata(r));
    bool source = false;
    CDB_SGATE_OTERM* q = kavu_get_dff_oterm(r);
    if (q)
      for (CDB_SGATE_ITERM* f : q->fanouts()) source = source || kavu_ssc_is_high_speed_iterm(requirement_map, timing_map, f);
    if (!source && !destination) continue;
    HDB_INSTANCE_NAME* name = r->get_instance_name();
    if (r->get_instance_name_id() == 0) {
      kavu_debug("Register %s %s with null iname is high-speed but ignored", r->get_string_type_name(),
                 r->get_string_hpath().c_str());
      continue;
    }
    if (name->is_synthesized()) {
      kavu_debug("Register %s %s with synthesized name is high-speed but ignored", r->get_string_type_name(),
                 r->get_string_hpath().c_str());
      continue;
    }
    ++found;
    set_flags(map, r->get_instance_name_id(), source, destination);
    if (q && q->get_instance_name_id() != 0 && q->get_instance_name_id() != r->get_instance_name_id())
      set_flags(map, q->get_instance_name_id(), source, destination);
    if (verbose)
      kavu_debug("Register %s %s is considered high-speed%s%s", r->get_string_type_name(), r->get_string_hpath().c_str(),
                 source ? " source" : "", destination ? " destination" : "");
    // A register that is a bit of a bus also flags the bus: the top of its
    // group chain (a bus of buses flags the outer one). A name in no group
    // is in no bus: registers read from BLIF, for one, have no groups.
    if (HDB_INSTANCE_NAME* group_name = name->get_group()) {
      while (group_name->get_group()) group_name = group_name->get_group();
      set_flags(map, unsigned(group_name->get_id()), source, destination);
      if (verbose)
        kavu_debug("Bus name %s is also considered high-speed%s%s", group_name->get_short_hpath(0).c_str(),
                   source ? " source" : "", destination ? " destination" : "");
    }
  }
  sgate_netlist->create_high_speed_map()->swap(gathered);
  kavu_debug("Identified %d high-speed registers out of %d total", found, total);
}

namespace {

bool compute_high_speed_regs(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist) {
  bool relaxed = false;
  if (!kavu_ssc_get_high_speed_reg_options(facade, hierarchy, &relaxed)) {
    kavu_debug_at_level(3, "Not using high-speed registers");
    return false;
  }
  if (netlist->get_high_speed_registers()) {
    kavu_debug("Reusing high-speed registers");
    return false;
  }
  kavu_debug("Need to run timing analysis to get high-speed registers");
  SSC_ITERM_TIMING_INFO_MAP map;
  const bool ran = kavu_ssc_perform_timing_analysis(facade, hierarchy, netlist, &map, nullptr, nullptr, nullptr, true,
                                                    nullptr, relaxed);
  if (netlist->get_high_speed_registers())
    kavu_debug("Successfully computed %d high-speed registers", int(netlist->get_high_speed_registers()->size()));
  else
    kavu_debug("Could not compute high-speed registers");
  return ran;
}

}  // namespace

bool kavu_compute_high_speed_regs(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist) {
  // Memory refused anywhere fails the call as it fails the analysis: false,
  // the failure posted, the engine free and the netlist without a map.
  return kavu_ssc_guard_memory(false, [&](KAVU_SSC_ENGINE_RELEASE&) {
    return compute_high_speed_regs(facade, hierarchy, netlist);
  });
}
