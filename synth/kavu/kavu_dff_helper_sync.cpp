// kavu_dff_helper_sync.cpp — unmapping of synchronous secondary signals:
// per-register operations that move an enable, a load or a clear into logic
// after unmapping whatever other control would change the register's
// behaviour, the legality checks that refuse it, the pass that unmaps every
// control whose signal drives fewer registers than a minimum width, and the
// pass that unmaps every clock enable of a netlist.
//
// Model: a signal is (source output terminal, inversion flag) of a control
//   input with a real source; the same source read inverted is another
//   signal. The order of unmapping follows the register's next-state rule
//   (kavu_dff_helper_strip.h): the load first; a clear without priority over the
//   enable before the enable; a clear with priority only after it. The
//   legality checks refuse user atoms, registers fed by adders, forced
//   clears and enables and enables the user placed.
// Passes: each pass counts the users of every signal at its start, then
//   unmaps loads, clears without priority, enables and clears with priority
//   whose signal is narrower than the width; a productive pass sweeps and is
//   followed by another (at most ten). Muxes left behind become comb logic.
// Walks over a signal's readers copy the fan-out list first: unmapping one
//   register rewires terminals of the same chain.
// Cost: per pass five walks of the node list and one binary search of the
//   pass's sorted usage table per control input; per signal O(readers).
#include <algorithm>
#include <cstdio>
#include <functional>
#include <list>
#include <utility>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_dff_helper_strip.h"
#include "kavu_dff_helper_sync.h"
#include "kavu_msg.h"
#include "kavu_helper_mux.h"
#include "kavu_helper_mux_int.h"
#include "kavu_helper_predicates.h"
#include "kavu_wysiwyg_unmapper.h"
#include "kavu_load_time_int.h"
#include "kavu_memory_guard_int.h"
#include "mem/mem.h"

namespace {

// Library-wide verbose switch of the per-register lines; set by each call of
// opt_unmap_small_synch_secondaries, false until then.
bool g_sync_unmap_verbose = false;

typedef std::pair<CDB_SGATE_OTERM*, bool> SIGNAL;
typedef CDB_SGATE_ITERM* (*CONTROL_ACCESSOR)(const CDB_SGATE_NODE*);

bool has_real_source(const CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t) && t->get_source(); }
bool in_use_not_gnd(const CDB_SGATE_ITERM* t) { return cdb_is_connected(t) && !t->is_gnd(); }
bool in_use_not_vcc(const CDB_SGATE_ITERM* t) { return cdb_is_connected(t) && !t->is_vcc(); }

void verbose_line(const char* format, const CDB_SGATE_NODE* gate) {
  if (g_sync_unmap_verbose) kavu_debug(format, gate->get_string_type_name(), gate->get_debug_name().c_str());
}

SIGNAL signal_of(const CDB_SGATE_ITERM* t) { return SIGNAL(t->get_source(), t->is_inverted()); }

bool refuse_user_or_adder(CDB_SGATE_NODE* dff, const char* what) {
  char line[160];
  if (dff->is_wysiwyg() && dff->cast_to_wysiwyg()->mode_is_set(CDB_WYSIWYG_FROM_USER)) {
    std::snprintf(line, sizeof line, "Register %%s %%s is wysiwyg from user -- no %s unmap allowed", what);
    verbose_line(line, dff);
    return true;
  }
  if (opt_dff_is_fed_by_adder(dff)) {
    std::snprintf(line, sizeof line, "Register %%s %%s is fed by adder -- no %s unmap allowed", what);
    verbose_line(line, dff);
    return true;
  }
  return false;
}

bool enable_placed_by_user(const CDB_SGATE_NODE* dff) {
  const CDB_SGATE_ITERM* ena = kavu_get_dff_enable(dff);
  if (!has_real_source(ena)) return false;
  const HDB_INSTANCE_NAME* name = ena->get_source()->get_my_node()->get_instance_name();
  if (!name) return false;
  const auto* option = HDB_DERIVED_OPTION<ACF_KIND_BOOL, 0>::get_single_option(name, ACF_USER_CLOCK_ENABLE, true);
  return option && option->get_value();
}

// Calls `unmap` for every register whose `control` input reads the signal;
// returns the number of successes.
int unmap_signal_readers(CDB_SGATE_NETLIST* netlist, CDB_SGATE_OTERM* source, bool inverted,
                         CONTROL_ACCESSOR control, bool (*unmap)(CDB_SGATE_NETLIST*, CDB_SGATE_NODE*),
                         const char* line) {
  KAVU_CHECK(netlist && source);
  // Scratch kept across calls: the pass calls this once per narrow signal.
  // The per-register operations never come back here, so one list serves.
  thread_local std::vector<CDB_SGATE_ITERM*> readers;
  source->copy_fanouts(readers);
  int count = 0;
  for (CDB_SGATE_ITERM* reader : readers) {
    // An earlier unmapping may have rewired this reader; take only those
    // that still read the signal.
    if (reader->get_source() != source || reader->is_inverted() != inverted) continue;
    CDB_SGATE_NODE* gate = reader->get_my_node();
    if (!kavu_is_a_dff(gate, true) || control(gate) != reader) continue;
    if (unmap(netlist, gate)) {
      ++count;
      verbose_line(line, gate);
    }
  }
  return count;
}

bool try_unmap_enable_checked(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* dff) {
  return opt_try_unmap_enable(netlist, dff, false);
}

}  // namespace

// ---- legality ----

bool opt_dff_is_fed_by_adder(CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate && kavu_is_a_dff(sgate,true));
  const CDB_SGATE_ITERM* data = kavu_get_dff_data(sgate);
  if (!has_real_source(data)) return false;
  const CDB_SGATE_OTERM* src = data->get_source();
  CDB_SGATE_NODE* gate = src->get_my_node();
  if (kavu_is_a_op(gate) && gate->cast_to_operator()->get_type() == CDB_OPER_ADDITION) return true;
  return gate->is_wysiwyg() && gate->cast_to_wysiwyg()->is_lcell_comb() &&
         src->get_port_type() == DB_PORT_SUMOUT;
}

bool opt_can_unmap_sload(CDB_SGATE_NODE* dff) { return !refuse_user_or_adder(dff, "sload"); }

bool opt_can_unmap_sclear(CDB_SGATE_NODE* dff) {
  if (refuse_user_or_adder(dff, "sclear")) return false;
  if (kavu_dff_has_force_synch_clear_assignment(dff)) {
    verbose_line("Register %s %s has FORCE_SYNCH_CLEAR set -- no sclear unmap allowed", dff);
    return false;
  }
  return true;
}

bool opt_can_unmap_enable(CDB_SGATE_NODE* dff) {
  if (refuse_user_or_adder(dff, "enable")) return false;
  if (kavu_dff_has_force_clock_enable_assignment(dff)) {
    verbose_line("Register %s %s has force-clock-enable assignment -- no clock enable unmap allowed", dff);
    return false;
  }
  if (enable_placed_by_user(dff)) {
    verbose_line("Register %s %s has a user clock enable -- no clock enable unmap allowed", dff);
    return false;
  }
  return true;
}

// ---- per-register unmapping ----

bool opt_strip_sload(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* dff) {
  if (!opt_can_unmap_sload(dff)) return false;
  if (!kavu_strip_dff_sload(dff, netlist)) {
    verbose_line("Stripping sload failed for %s %s", dff);
    return false;
  }
  return true;
}

bool opt_try_unmap_sclear(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* sgate) {
  if (!opt_can_unmap_sclear(sgate)) return false;
  const bool priority = kavu_ff_has_sclr_over_ena_priority(sgate);
  CDB_SGATE_ITERM* ena_iterm = kavu_get_dff_enable(sgate);
  CDB_SGATE_ITERM* sld_iterm = kavu_get_dff_sload(sgate);
  if (priority && in_use_not_vcc(ena_iterm)) {
    if (!opt_try_unmap_enable(netlist, sgate, false)) {
      verbose_line("Stripping sclear failed for %s %s", sgate);
      return false;
    }
    verbose_line("Unmapped ENA to unmap SCLR on %s %s", sgate);
  }
  if (in_use_not_gnd(sld_iterm)) {
    if (!opt_strip_sload(netlist, sgate)) {
      verbose_line("Stripping sclear failed for %s %s", sgate);
      return false;
    }
    verbose_line("Unmapped SLD to unmap SCLR on %s %s", sgate);
  }
  KAVU_CHECK(!cdb_is_connected(sld_iterm) || sld_iterm->is_gnd());
  if (priority) KAVU_CHECK(!cdb_is_connected(ena_iterm) || ena_iterm->is_vcc());
  return kavu_strip_dff_sclr(sgate, netlist);
}

bool opt_try_unmap_enable(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* sgate, bool skip_check) {
  if (!skip_check && !opt_can_unmap_enable(sgate)) return false;
  const bool priority = kavu_ff_has_sclr_over_ena_priority(sgate);
  CDB_SGATE_ITERM* sclr_iterm = kavu_get_dff_sclear(sgate);
  CDB_SGATE_ITERM* sclr2_iterm = kavu_get_dff_sclear2(sgate);
  CDB_SGATE_ITERM* sld_iterm = kavu_get_dff_sload(sgate);
  bool cleared = true;
  if (in_use_not_gnd(sclr_iterm) && !priority) {
    cleared = opt_try_unmap_sclear(netlist, sgate);
    if (cleared) verbose_line("Unmapped SCLR to unmap ENA on %s %s", sgate);
  }
  if (in_use_not_gnd(sclr2_iterm) && !priority) {
    cleared = opt_try_unmap_sclear(netlist, sgate);
    if (cleared) verbose_line("Unmapped SCLR2 to unmap ENA on %s %s", sgate);
  }
  if (cleared && in_use_not_gnd(sld_iterm)) {
    cleared = opt_strip_sload(netlist, sgate);
    if (cleared) verbose_line("Unmapped SLD to unmap ENA on %s %s", sgate);
  }
  if (!cleared) {
    verbose_line("Stripping enable failed for %s %s", sgate);
    return false;
  }
  KAVU_CHECK(!cdb_is_connected(sclr_iterm) || sclr_iterm->is_gnd() || kavu_ff_has_sclr_over_ena_priority(sgate));
  KAVU_CHECK(!cdb_is_connected(sclr2_iterm) || sclr2_iterm->is_gnd() || kavu_ff_has_sclr_over_ena_priority(sgate));
  KAVU_CHECK(!cdb_is_connected(sld_iterm) || sld_iterm->is_gnd());
  return kavu_strip_dff_enable(sgate, netlist);
}

int opt_unmap_sload(CDB_SGATE_NETLIST* netlist, CDB_SGATE_OTERM* source, bool inverted) {
  return unmap_signal_readers(netlist, source, inverted, kavu_get_dff_sload, opt_strip_sload,
                              "Unmapped SLD on %s %s");
}

int opt_unmap_sclear(CDB_SGATE_NETLIST* netlist, CDB_SGATE_OTERM* source, bool inverted) {
  return unmap_signal_readers(netlist, source, inverted, kavu_get_dff_sclear, opt_try_unmap_sclear,
                              "Unmapped SCLR on %s %s");
}

int opt_unmap_enable(CDB_SGATE_NETLIST* netlist, CDB_SGATE_OTERM* source, bool inverted) {
  return unmap_signal_readers(netlist, source, inverted, kavu_get_dff_enable, try_unmap_enable_checked,
                              "Unmapped ENA on %s %s");
}

// ---- the small-signal pass ----

namespace {

// A pass that unmaps anything is followed by another, up to this many.
constexpr int MAX_PASSES = 10;

struct SYNC_WIDTHS {
  int m_ena = 0;
  int m_sld_sclr = 0;
};

// How many registers read each signal, counted at the start of a pass: the
// signals sit sorted in one vector, so a count is a binary search and the
// loops over registers allocate nothing once the vector has grown.
class USAGE_TABLE {
 public:
  void reserve(size_t n) { m_signals.reserve(n); }
  void clear() { m_signals.clear(); }
  void add(const SIGNAL& signal) { m_signals.push_back(signal); }
  void seal() { std::sort(m_signals.begin(), m_signals.end(), less); }
  int count(const SIGNAL& signal) const {
    const auto range = std::equal_range(m_signals.begin(), m_signals.end(), signal, less);
    return int(range.second - range.first);
  }

 private:
  // By terminal identity (only equal keys matter, never the order), then
  // plain before inverted.
  static bool less(const SIGNAL& a, const SIGNAL& b) {
    if (a.first != b.first) return std::less<const CDB_SGATE_OTERM*>()(a.first, b.first);
    return a.second < b.second;
  }
  std::vector<SIGNAL> m_signals;
};

struct USAGE_TABLES {
  USAGE_TABLE m_enables;
  USAGE_TABLE m_sloads;
  USAGE_TABLE m_sclears;
};

int option_default(CMP_FACADE* facade, ACF_VARIABLE_TYPE_ENUM variable) {
  const HDB_NAMESPACE* options = facade ? facade->get_namespace() : nullptr;
  if (!options) return 0;
  const auto* option = HDB_DERIVED_OPTION<ACF_KIND_INT, 0>::get_single_option(options, variable, true);
  return option ? option->get_value() : 0;
}

SYNC_WIDTHS read_widths(CMP_FACADE* facade) {
  const int ena_default = option_default(facade, ACF_MIN_WIDTH_CLOCK_ENABLE_FOR_UNMAP);
  const int sld_default = option_default(facade, ACF_MIN_WIDTH_SLOAD_SCLR_FOR_UNMAP);
  SYNC_WIDTHS widths;
  widths.m_ena = cfg_get_int_value("kavu_min_width_ce_for_unmap", ena_default);
  widths.m_sld_sclr = cfg_get_int_value("kavu_min_width_sld_sclr_for_unmap", sld_default);
  if (widths.m_ena != ena_default) kavu_debug("Overriding minimum width for clock enable by ini to %d", widths.m_ena);
  if (widths.m_sld_sclr != sld_default) {
    kavu_debug("Overriding minimum width for sload/sclr by ini to %d", widths.m_sld_sclr);
  }
  return widths;
}

// One step of a pass: every register (of the priority class when `only`
// says so) whose control has a real source and a signal narrower than
// `width` gets that signal unmapped.
enum PRIORITY_FILTER { ANY_PRIORITY, WITHOUT_PRIORITY, WITH_PRIORITY };

int unmap_narrow_signals(CDB_SGATE_NETLIST* netlist, const USAGE_TABLE& table, int width, CONTROL_ACCESSOR control,
                         PRIORITY_FILTER only, int (*unmap)(CDB_SGATE_NETLIST*, CDB_SGATE_OTERM*, bool),
                         const char* what) {
  int total = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* gate = *it;
    if (!gate || !kavu_is_a_dff(gate, true)) continue;
    if (only != ANY_PRIORITY && kavu_ff_has_sclr_over_ena_priority(gate) != (only == WITH_PRIORITY)) continue;
    CDB_SGATE_ITERM* iterm = control(gate);
    if (!has_real_source(iterm)) continue;
    const SIGNAL signal = signal_of(iterm);
    const int users = table.count(signal);
    if (users >= width) continue;
    const int done = unmap(netlist, signal.first, signal.second);
    total += done;
    const CDB_SGATE_NODE* src = signal.first->get_my_node();
    kavu_debug("Unmapped %d out of %d %s for %s %s%s", done, users, what, src->get_string_type_name(),
               signal.second ? "!" : "", src->get_debug_name().c_str());
  }
  return total;
}

void count_signals(CDB_SGATE_NETLIST* netlist, const SYNC_WIDTHS& widths, USAGE_TABLES& tables) {
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* gate = *it;
    if (!gate || !kavu_is_a_dff(gate, true)) continue;
    if (widths.m_ena > 1) {
      const CDB_SGATE_ITERM* ena = kavu_get_dff_enable(gate);
      if (has_real_source(ena)) tables.m_enables.add(signal_of(ena));
    }
    if (widths.m_sld_sclr > 1) {
      const CDB_SGATE_ITERM* sld = kavu_get_dff_sload(gate);
      if (has_real_source(sld)) tables.m_sloads.add(signal_of(sld));
      const CDB_SGATE_ITERM* sclr = kavu_get_dff_sclear(gate);
      if (has_real_source(sclr)) tables.m_sclears.add(signal_of(sclr));
    }
  }
  for (USAGE_TABLE* table : {&tables.m_enables, &tables.m_sloads, &tables.m_sclears}) table->seal();
}

// Every 2:1 mux of the netlist becomes comb logic; the muxes stay, without
// fan-out, for the caller's sweep. Gates appended by the conversion are comb
// gates, so the open walk passes over them.
int convert_muxes_to_comb(CDB_SGATE_NETLIST* netlist) {
  int converted = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* gate = *it;
    if (!gate || gate->get_sgate_type() != CDB_SGATE_MUX_ENUM) continue;
    kavu_change_mux_to_comb(gate, netlist, MEM_MANAGER::get_default_segment(), false, true);
    ++converted;
  }
  return converted;
}

}  // namespace

void opt_unmap_small_synch_secondaries(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  g_sync_unmap_verbose = cfg_is_on("opt_sync_unmap_verbose", false);
  const SYNC_WIDTHS widths = read_widths(facade);
  if (widths.m_ena <= 1 && widths.m_sld_sclr <= 0) return;
  if (widths.m_ena > 1) kavu_debug("Unmapping all enables that are used less than %d times", widths.m_ena);
  if (widths.m_sld_sclr > 1) {
    kavu_debug("Unmapping all sloads and sclears that are used less than %d times", widths.m_sld_sclr);
  }
  USAGE_TABLES tables;
  for (USAGE_TABLE* table : {&tables.m_enables, &tables.m_sloads, &tables.m_sclears}) table->reserve(netlist->size());
  const bool sync = widths.m_sld_sclr > 1;
  int passes_run = 0;
  for (int pass = 1; pass <= MAX_PASSES; ++pass) {
    passes_run = pass;
    for (USAGE_TABLE* table : {&tables.m_enables, &tables.m_sloads, &tables.m_sclears}) table->clear();
    count_signals(netlist, widths, tables);
    int enables = 0, sclears = 0, sloads = 0;
    if (sync) {
      sloads = unmap_narrow_signals(netlist, tables.m_sloads, widths.m_sld_sclr, kavu_get_dff_sload, ANY_PRIORITY,
                                    opt_unmap_sload, "sloads");
      sclears = unmap_narrow_signals(netlist, tables.m_sclears, widths.m_sld_sclr, kavu_get_dff_sclear,
                                     WITHOUT_PRIORITY, opt_unmap_sclear, "sclears");
    }
    if (widths.m_ena > 1) {
      enables = unmap_narrow_signals(netlist, tables.m_enables, widths.m_ena, kavu_get_dff_enable, ANY_PRIORITY,
                                     opt_unmap_enable, "enables");
    }
    if (sync) {
      sclears += unmap_narrow_signals(netlist, tables.m_sclears, widths.m_sld_sclr, kavu_get_dff_sclear,
                                      WITH_PRIORITY, opt_unmap_sclear, "sclears");
    }
    const bool last = enables == 0 && sclears == 0 && sloads == 0;
    if (!last) netlist->sweep(false);
    kavu_debug("Unmapped %d enables, %d sclears and %d sloads in pass %d", enables, sclears, sloads, pass);
    if (last) break;
  }
  if (passes_run > 1) {
    const int converted = convert_muxes_to_comb(netlist);
    if (converted > 0) {
      kavu_debug("Converted %d 2:1 mux gates to comb", converted);
      netlist->sweep(false);
    }
  }
}

// ---- every clock enable ----

namespace {

// Whether the register's enable is driven: a source output terminal, or a
// connected parent input (a constant tie is no enable).
bool enable_is_driven(const CDB_SGATE_ITERM* ena) {
  if (!ena) return false;
  if (cdb_is_connected(ena) && ena->get_source()) return true;
  return ena->get_parent_input() && cdb_is_parent_connected(ena);
}

bool clear_in_use(const CDB_SGATE_ITERM* sclr) {
  if (!sclr) return false;
  return (cdb_is_connected(sclr) || cdb_is_parent_connected(sclr)) && !sclr->is_gnd();
}

constinit KAVU_KEY_ONCE g_disable_clock_enable{"disable_clock_enable", false};
constinit KAVU_KEY_ONCE g_unmap_ena_skip_sclr{"kavu_unmap_ena_skip_sclr", false};

}  // namespace

namespace {

void unmap_all_enables(CDB_SGATE_NETLIST* netlist) {
  const bool DISABLE_CLOCK_ENABLE = g_disable_clock_enable();
  const bool SKIP_SCLR = g_unmap_ena_skip_sclr();
  KAVU_CHECK(netlist);
  int total = 0, unmapped = 0, failed_sclr = 0, failed_legality = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* gate = *it;
    if (!gate || !kavu_is_a_dff(gate, true)) continue;
    ++total;
    if (!enable_is_driven(kavu_get_dff_enable(gate))) continue;
    if (!DISABLE_CLOCK_ENABLE && SKIP_SCLR && clear_in_use(kavu_get_dff_sclear(gate))) {
      ++failed_sclr;
      continue;
    }
    if (opt_try_unmap_enable(netlist, gate, DISABLE_CLOCK_ENABLE)) {
      ++unmapped;
    } else {
      ++failed_legality;
    }
  }
  if (unmapped > 0) {
    std::list<CDB_SGATE_NODE*> made;
    for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
      CDB_SGATE_NODE* gate = *it;
      if (!gate || gate->get_sgate_type() != CDB_SGATE_MUX_ENUM) continue;
      kavu_mux_to_logic_in(gate->cast_to_mux(), netlist, &made);
      made.clear();
    }
    netlist->sweep(false);
  }
  kavu_debug("Total registers: %d. With enable: %d. Unmapped: %d. Failed for sclear: %d. Failed for legality: %d",
             total, unmapped + failed_sclr + failed_legality, unmapped, failed_sclr, failed_legality);
}

}  // namespace

void kavu_unmap_all_enables(CDB_SGATE_NETLIST* netlist) {
  kavu_guard_memory_void([&] { unmap_all_enables(netlist); }, [] {
    kavu_post_out_of_memory("Cannot move the clock enables of the registers into logic: not enough memory");
  });
}
