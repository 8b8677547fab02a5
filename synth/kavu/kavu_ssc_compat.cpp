// kavu_ssc_compat.cpp — compatible registers, constrained registers, base
// clocks and register requirements from the timing engine.
//
// The netlist's compatible-register record says which registers may merge:
// registers with their own SDC constraints get a set each (ids from 1, in
// the order of the constrained list), all others share the common set 0.
// A constraint file the engine refuses leaves every register in a set of
// its own: any of them may carry a constraint.
// Once the record is ready it is reused. Settings that need nothing leave
// it neither ready nor in use (off), which later calls read as a previous
// decision. A build that was to set registers apart by their constraints
// and could not (no timing netlist, or memory refused, the failure posted)
// takes the registers the constraint file names from the file itself, read
// against the netlist alone (the names need no engine): those are kept
// apart, and the synchronizer chains, where protected, are found from the
// same read as the engine finds them under the file's clocks; the others
// merge as ever, with a warning that says so.
// Where even the names cannot be read, the record is failed: ready and not
// in use, nothing in it, read as a previous decision too, and the
// duplicate-register pass then merges no register, since any may carry a
// constraint the record could not tell; with no constraint file it is off.
// Never a record half built. Every KAVU_SSC made here is gone when the
// function returns; a list memory is refused to fails whole, left empty.
#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "gen/gen.h"
#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_setup.h"
#include "kavu_ssc_int.h"
#include "msg/msg.h"
#include "ssc/ssc.h"

namespace {

bool is_register_node(const CDB_SGATE_NODE* node) {
  return node && (kavu_is_a_dff(node, true) || node->get_sgate_type() == CDB_SGATE_STATE_ENUM);
}

void mark_registers_covered(CDB_SGATE_NETLIST* netlist) {
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (node && kavu_is_a_dff(node, true))
      node->get_flag().set(CDB_NODE_FLAG_COMPAT_REG_COVERED);
  }
}

// The register's Q: a flip-flop atom's output of port type Q, else its
// first output terminal (DFF gates, state nodes).
CDB_SGATE_OTERM* register_q(const CDB_SGATE_NODE* node) {
  if (kavu_is_a_dff(node, true)) return kavu_get_dff_oterm(node);
  return node->get_output_term(0);
}

SSC_UTIL* engine_in_use() {
  SSC_UTIL* timing_manager = ssc_get_util();
  KAVU_CHECK(timing_manager && timing_manager->is_in_use());
  return timing_manager;
}

// The record switched off, as a failed engine set-up leaves it: neither
// ready nor in use, nothing in it, no register marked as covered.
void switch_record_off(CDB_SGATE_NETLIST* netlist) {
  CDB_SGATE_COMPATIBLE_REGISTERS* reg_mgr = netlist->get_compatible_registers();
  reg_mgr->clear_all();
  reg_mgr->set_ready_to_use(false);
  reg_mgr->set_in_use(false);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it) (*it)->get_flag().reset(CDB_NODE_FLAG_COMPAT_REG_COVERED);
}

// Whether the compile names a constraint file (the timing engine's key);
// memory refused while the key is read counts as named.
bool constraints_are_named() {
  try {
    return *cfg_get_value("ssc_sdc_file") != '\0';
  } catch (const std::bad_alloc&) {
    return true;
  }
}

// The sets of a record the engine could not build, from the registers the
// constraint file names, read against the netlist alone
// (ssc_sdc_netlist_registers): each gets a set of its own, in node-list
// order, the others share the common set, as a record built from the
// engine has them. With `protect`, the synchronizer chains come from the
// same read, found as the engine finds them under the file's clocks (input
// ports in the domain of their input delays' clock, registers in their
// clock's), so that the registers the engine's record would protect are
// protected, and no others; what comes from outside the netlist counts as
// another domain. False, the record as it was, when the file cannot be
// read; memory refused is the caller's.
bool build_sets_from_named(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist, bool protect) {
  std::vector<CDB_SGATE_OTERM*> named;
  std::vector<std::pair<CDB_SGATE_OTERM*, bool>> synchronizers;
  std::string why;
  if (!ssc_sdc_netlist_registers(netlist, &named, protect ? &synchronizers : nullptr, &why)) {
    kavu_debug("The registers the constraint file names cannot be read without a timing netlist (%s): any "
               "register may carry a constraint", why.c_str());
    return false;
  }
  std::sort(named.begin(), named.end());
  CDB_SGATE_COMPATIBLE_REGISTERS* reg_mgr = netlist->get_compatible_registers();
  unsigned next = 0;
  int apart = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!is_register_node(node)) continue;
    CDB_SGATE_OTERM* q = register_q(node);
    if (q && std::binary_search(named.begin(), named.end(), q)) {
      reg_mgr->add_oterm_set_id(q, ++next);
      ++apart;
    }
  }
  mark_registers_covered(netlist);
  reg_mgr->set_ready_to_use(true);
  reg_mgr->set_in_use(true);
  int chained = 0;
  if (protect) {
    kavu_debug("SYNC: Synchronizer chains come from the constraint file's clocks over the netlist.");
    chained = kavu_ssc_mark_synchronizer_chains(facade, netlist, synchronizers);
  }
  kavu_debug("Compatible registers map is made from the constraint file alone with %d items", int(reg_mgr->size()));
  std::string text = "The compatible-register information could not be built from the timing netlist: the " +
                     std::to_string(apart) + (apart == 1 ? " register" : " registers") +
                     " the constraint file names " + (apart == 1 ? "is" : "are") + " kept apart from merging";
  if (protect)
    text += ", as " + std::string(chained == 1 ? "is the 1 register" : "are the " + std::to_string(chained) + " registers") +
            " of synchronizer chains found under the file's clocks";
  msg_post_message(MSG_POST_TYPE_WARNING, text + ", and the other registers may merge");
  return true;
}

// The record of a build that was to set registers apart by their
// constraints and ended without them (memory refused, or no timing netlist
// to read them for). Without a constraint file no register carries a
// constraint: the record is switched off, as settings do. With one, the
// registers the file names are known without the engine: they are kept
// apart and the others merge (build_sets_from_named), with a warning that
// says so. Where even those names cannot be read (or memory is refused
// for them), any register may carry a constraint the record could not
// tell: the record is failed, decided and not in use
// (kavu_ssc_compatible_registers_failed), and the duplicate-register pass
// merges no register.
void fail_record(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist, bool protect) {
  switch_record_off(netlist);
  if (!constraints_are_named()) return;
  bool built = false;
  try {
    built = build_sets_from_named(facade, netlist, protect);
  } catch (const std::bad_alloc&) {
    kavu_ssc_post_out_of_memory();
  }
  if (built) return;
  switch_record_off(netlist);
  netlist->get_compatible_registers()->set_ready_to_use(true);
}

// The lists and sets of the KAVU_SSC members below, which run them under
// the memory guard; kavu_ssc_build_comp_reg_info runs them under its own.
void list_constrained_registers(KAVU_SSC& holder, CDB_SGATE_NETLIST* netlist, std::list<CDB_SGATE_OTERM*>* oterm_list) {
  SSC_UTIL* timing_manager = engine_in_use();
  // A constraint file the engine refuses says nothing about any register,
  // and the engine would refuse it again for every register asked: ask once,
  // and take every register as constrained when it was refused.
  const bool readable = holder.constraints_are_readable();
  if (!readable) kavu_debug("The constraints cannot be read: every register may carry a constraint");
  int registers = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!is_register_node(node)) continue;
    ++registers;
    CDB_SGATE_OTERM* q = register_q(node);
    if (q && (!readable || timing_manager->oterm_has_sdc_constraint(q))) oterm_list->push_back(q);
  }
  kavu_debug("Constrained register oterm list is created with %d oterms out of %d", int(oterm_list->size()),
             registers);
}

void build_compatible_reg_sets(KAVU_SSC& holder, CDB_SGATE_NETLIST* netlist, bool constraint_sets) {
  CDB_SGATE_COMPATIBLE_REGISTERS* reg_mgr = netlist->get_compatible_registers();
  mark_registers_covered(netlist);
  if (!constraint_sets) {
    // No ranking of registers for merging is defined beyond the constraints:
    // the timing-ranked request builds the constraint sets.
    kavu_debug("Create real compatible registers");
    engine_in_use();
    kavu_debug("Timing-ranked compatible registers are built as constraint sets");
  }
  std::list<CDB_SGATE_OTERM*> constrained;
  {
    GEN_PROFILER profiler("KAVU", "KAVU_SSC::create_constraint_register_oterm_list", 0x7fffffff);
    list_constrained_registers(holder, netlist, &constrained);
  }
  std::vector<std::pair<CDB_SGATE_OTERM*, unsigned>> ids;
  unsigned next = 0;
  for (CDB_SGATE_OTERM* t : constrained) ids.emplace_back(t, ++next);
  kavu_debug("Found %d registers with constraints. Marked them as incompatible for merge.",
             int(constrained.size()));
  for (const auto& [t, id] : ids) reg_mgr->add_oterm_set_id(t, id);
  reg_mgr->set_ready_to_use(true);
  reg_mgr->set_in_use(true);
  kavu_debug("Compatible registers map is created with %d items", int(reg_mgr->size()));
}

// Whether the record comes from the netlist alone (no constraints read).
bool netlist_only_path(const CMP_FACADE* facade) {
  return kavu_ssc_skip_sdc_load && facade && facade->get_family() != 47;
}

// The record of kavu_ssc_build_comp_reg_info, built under its memory guard.
// *sets_wanted says, as far as the build got, whether the record was to set
// registers apart by their constraints (it comes in true unless the
// netlist-only path is taken).
void build_comp_reg_info(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist,
                         bool timing_ranked, bool* sets_wanted, bool* protect_wanted) {
  const bool dump = cfg_is_on("kavu_ssc_dump_compatible_registers", false);
  const bool netlist_only = netlist_only_path(facade);
  CDB_SGATE_COMPATIBLE_REGISTERS* reg_mgr = netlist->get_compatible_registers();
  if (reg_mgr->is_ready_to_use()) {
    if (reg_mgr->is_in_use()) kavu_debug_at_level(3, "Reuse compatible register info.");
    else kavu_debug("Not using compatible register info by previous decision");
    return;
  }
  if (!reg_mgr->is_in_use()) {
    kavu_debug("Not using compatible register info by previous decision");
    return;
  }
  GEN_PROFILER profiler("KAVU", "kavu_ssc_build_comp_reg_info", 0x7fffffff);
  const bool merge_check = kavu_ssc_check_register_merge(facade, hierarchy, true);
  *sets_wanted = !netlist_only && merge_check;
  const bool protect = kavu_ssc_should_protect_synchronizers(facade, hierarchy);
  *protect_wanted = protect;
  if (!merge_check && !protect) {
    kavu_debug("Not using compatible register info due to settings");
    reg_mgr->clear_all();
    reg_mgr->set_ready_to_use(false);
    reg_mgr->set_in_use(false);
    if (!netlist_only) tag_it(72, "%s %s", "NO", "NO");
    return;
  }
  if (netlist_only) {
    if (protect) {
      kavu_ssc_mark_all_registers_compatible(netlist);
      kavu_ssc_search_synchronizer_chains(netlist);
    }
    return;
  }
  KAVU_CHECK(!KAVU_SSC::is_in_use());
  auto holder = std::make_unique<KAVU_SSC>(facade, hierarchy, netlist, SSC_DELAY_MODEL_UNIT, nullptr, true);
  if (KAVU_SSC::is_in_use()) {
    if (merge_check) {
      KAVU_CHECK(!reg_mgr->is_ready_to_use());
      GEN_PROFILER sets_profiler("KAVU", "KAVU_SSC::create_compatible_reg_sets", 0x7fffffff);
      build_compatible_reg_sets(*holder, netlist, !timing_ranked);
      kavu_debug("Computed compatible register info");
    } else {
      kavu_ssc_mark_all_registers_compatible(netlist);
    }
    if (protect) {
      // The engine's synchronizer list needs the clocks of the constraints;
      // without them the chains come from the netlist's structure, as
      // without a timing netlist.
      if (holder->constraints_are_readable()) {
        kavu_ssc_protect_synchronizers_impl(facade, netlist);
      } else {
        kavu_debug("SYNC: The constraints cannot be read: synchronizer chains come from the netlist.");
        kavu_ssc_search_synchronizer_chains(netlist);
      }
    }
    if (dump && reg_mgr->is_in_use()) {
      const std::string text = reg_mgr->dump_compatible_registers_map();
      kavu_debug("%s", text.c_str());
    }
  } else {
    if (merge_check) kavu_debug("ERROR!!! Abort creating compatible registers info!");
    if (protect) kavu_debug("ERROR: Unable to create timing information - not protecting synchronizers.");
    if (merge_check) {
      fail_record(facade, netlist, protect);
    } else {
      reg_mgr->clear_all();
      reg_mgr->set_ready_to_use(false);
      reg_mgr->set_in_use(false);
    }
  }
  const char* status = reg_mgr->is_in_use() ? "YES" : "FAILED";
  tag_it(72, "%s %s", merge_check ? status : "NO", protect ? status : "NO");
  holder.reset();
}

}  // namespace

bool kavu_ssc_register_is_covered(const CDB_SGATE_NODE* reg) {
  return reg && reg->get_flag().test(CDB_NODE_FLAG_COMPAT_REG_COVERED);
}

void kavu_ssc_mark_all_registers_compatible(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  CDB_SGATE_COMPATIBLE_REGISTERS* reg_mgr = netlist->get_compatible_registers();
  KAVU_CHECK(!reg_mgr->is_ready_to_use());
  mark_registers_covered(netlist);
  reg_mgr->set_ready_to_use(true);
  reg_mgr->set_in_use(true);
}

// The members below and the entry points after them fail as the analysis
// fails when memory is refused (kavu_ssc_guard_memory): a record switched
// off, a list left empty, never one half made.

bool KAVU_SSC::create_compatible_reg_sets(bool constraint_sets) {
  GEN_PROFILER profiler("KAVU", "KAVU_SSC::create_compatible_reg_sets", 0x7fffffff);
  KAVU_CHECK(!m_netlist->get_compatible_registers()->is_ready_to_use());
  const bool built = kavu_ssc_guard_memory(false, [&](KAVU_SSC_ENGINE_RELEASE&) {
    build_compatible_reg_sets(*this, m_netlist, constraint_sets);
    return true;
  });
  if (!built) fail_record(nullptr, m_netlist, false);
  return built;
}

bool KAVU_SSC::constraints_are_readable() {
  if (m_constraints_readable < 0) {
    SSC_UTIL* timing_manager = ssc_get_util();
    m_constraints_readable = timing_manager && timing_manager->is_in_use() && timing_manager->update_sta();
  }
  return m_constraints_readable != 0;
}

bool KAVU_SSC::create_constraint_register_oterm_list(std::list<CDB_SGATE_OTERM*>* oterm_list) {
  GEN_PROFILER profiler("KAVU", "KAVU_SSC::create_constraint_register_oterm_list", 0x7fffffff);
  KAVU_CHECK(oterm_list && oterm_list->empty());
  engine_in_use();
  std::list<CDB_SGATE_OTERM*> listed;
  const bool ok = kavu_ssc_guard_memory(false, [&](KAVU_SSC_ENGINE_RELEASE&) {
    list_constrained_registers(*this, m_netlist, &listed);
    return true;
  });
  if (ok) oterm_list->splice(oterm_list->end(), listed);
  return ok;
}

bool KAVU_SSC::create_base_clock_oterm_list(std::list<CDB_SGATE_OTERM*>* oterm_list) {
  GEN_PROFILER profiler("KAVU", "KAVU_SSC::create_base_clock_oterm_list", 0x7fffffff);
  KAVU_CHECK(oterm_list && oterm_list->empty());
  SSC_UTIL* timing_manager = engine_in_use();
  std::list<CDB_SGATE_OTERM*> listed;
  const bool ok = kavu_ssc_guard_memory(false, [&](KAVU_SSC_ENGINE_RELEASE&) {
    // Which terminals are clock sources is known only from constraints read
    // and indexed whole: where either is refused (the engine posts why), the
    // list fails as a whole, rather than list some terminals or none.
    if (!timing_manager->index_constraint_queries()) {
      kavu_debug("Base clock oterm list is not created: the constraints cannot be read or indexed");
      return false;
    }
    for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
      CDB_SGATE_NODE* node = *it;
      if (!node) continue;
      for (CDB_SGATE_OTERM* t : node->get_output_terms())
        if (t && timing_manager->oterm_is_base_clock(t, nullptr)) listed.push_back(t);
    }
    kavu_debug("Base clock oterm list is created with %d oterms", int(listed.size()));
    return true;
  });
  if (ok) oterm_list->splice(oterm_list->end(), listed);
  return ok;
}

void kavu_ssc_build_comp_reg_info(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist,
                                  bool timing_ranked, bool chain_flag) {
  KAVU_CHECK(netlist);
  // The structural synchronizer search makes no use of the chain flag.
  (void)chain_flag;
  // A record decided before the call (ready, or off) is only read; one
  // built here and interrupted by a refusal ends "FAILED" as a failed engine
  // set-up leaves it: failed where constraints were to set registers apart,
  // switched off where not.
  const CDB_SGATE_COMPATIBLE_REGISTERS* reg_mgr = netlist->get_compatible_registers();
  const bool decided = reg_mgr->is_ready_to_use() || !reg_mgr->is_in_use();
  // Until the build knows, synchronizers count as protected: a record
  // refused memory before then keeps their chains apart.
  bool sets_wanted = !netlist_only_path(facade), protect_wanted = true;
  const bool finished = kavu_ssc_guard_memory(false, [&](KAVU_SSC_ENGINE_RELEASE&) {
    build_comp_reg_info(facade, hierarchy, netlist, timing_ranked, &sets_wanted, &protect_wanted);
    return true;
  });
  if (finished || decided) return;
  if (sets_wanted) fail_record(facade, netlist, protect_wanted);
  else switch_record_off(netlist);
}

bool kavu_ssc_compatible_registers_failed(const CDB_SGATE_COMPATIBLE_REGISTERS* reg_mgr) {
  return reg_mgr && reg_mgr->is_ready_to_use() && !reg_mgr->is_in_use();
}

bool kavu_ssc_build_constr_dff_list(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist,
                                    std::list<CDB_SGATE_NODE*>* reg_list) {
  std::list<CDB_SGATE_NODE*> found;
  const bool ok = kavu_ssc_guard_memory(false, [&](KAVU_SSC_ENGINE_RELEASE&) {
    const bool allowed = kavu_ssc_is_ssc_allowed(facade, hierarchy, nullptr);
    KAVU_CHECK(netlist && reg_list);
    if (!allowed) return false;
    KAVU_CHECK(!KAVU_SSC::is_in_use());
    std::list<CDB_SGATE_OTERM*> constrained;
    {
      KAVU_SSC holder(facade, hierarchy, netlist, SSC_DELAY_MODEL_UNIT, nullptr, true);
      if (!KAVU_SSC::is_in_use()) {
        kavu_debug("ERROR!!! Abort creating constrainted dff list!");
        return false;
      }
      list_constrained_registers(holder, netlist, &constrained);
    }
    for (CDB_SGATE_OTERM* t : constrained) {
      CDB_SGATE_NODE* node = t->get_my_node();
      if (kavu_is_a_dff(node) && t == node->get_output_term(0)) found.push_back(node);
    }
    return true;
  });
  if (ok) reg_list->splice(reg_list->end(), found);
  return ok;
}

int kavu_ssc_get_iterm_requirement(SSC_ITERM_REQUIREMENT_INFO_MAP* requirement_map, CDB_SGATE_ITERM* iterm) {
  if (!iterm || !requirement_map) return SSC_UNCONSTRAINED_SLACK;
  auto it = requirement_map->find(iterm);
  return it == requirement_map->end() ? SSC_UNCONSTRAINED_SLACK : it->second.m_requirement;
}

int kavu_get_requirement(CDB_SGATE_NODE* sgate, SSC_ITERM_REQUIREMENT_INFO_MAP* requirement_map) {
  if (!kavu_is_a_dff(sgate, true)) KAVU_INTERNAL_ERROR("kavu_is_a_dff(sgate,true)");
  if (!requirement_map) return SSC_UNCONSTRAINED_SLACK;
  int best = SSC_UNCONSTRAINED_SLACK;
  auto take = [&](CDB_SGATE_ITERM* t) { best = std::min(best, kavu_ssc_get_iterm_requirement(requirement_map, t)); };
  take(kavu_get_dff_data(sgate));
  take(kavu_get_dff_enable(sgate));
  CDB_SGATE_ITERM* sload = kavu_get_dff_sload(sgate);
  take(sload);
  take(kavu_get_dff_sclear(sgate));
  if (sload && cdb_is_connected(sload) && !sload->is_gnd()) take(kavu_get_dff_adata(sgate));
  if (CDB_SGATE_OTERM* q = sgate->get_output_term(0))
    for (CDB_SGATE_ITERM* fanout : q->fanouts()) take(fanout);
  return best;
}
