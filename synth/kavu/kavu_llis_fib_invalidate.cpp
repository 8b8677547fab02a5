// kavu_llis_fib_invalidate.cpp — the FIB manager's invalidations (applied to
// a partition's record, or collected in a parallel-synthesis helper for its
// parent) and the writing points of a compile.
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cdb/cdb_atom.h"
#include "cdb/cdb_sgate_hierarchy.h"
#include "cdb/cdb_sgate_netlist.h"
#include "cfg/cfg.h"
#include "fio/fio.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_fib_manager.h"
#include "kavu_helper_dump.h"
#include "kavu_llis_fib_manager_int.h"
#include "kavu_msg.h"
#include "kavu_parallel.h"
#include "kavu_partition.h"
#include "pdb/pdb.h"

using namespace kavu_llis;

namespace {

void erase_name(std::set<std::string>& fibs, const std::string& name, const char* what, bool debug) {
  if (fibs.erase(name)) {
    if (debug) kavu_debug("deleted fib name (%s): %s", what, name.c_str());
  } else if (std::string(what) == "node") {
    if (debug) kavu_debug("FIB warning: node %s is not a FIB", name.c_str());
  }
}

// Removes a gate's FIBs from a record (none: nothing happens).
void remove_node_fibs(KAVU_FIB_INFO* info, const CDB_SGATE_NODE* node, bool debug) {
  if (!info) return;
  if (is_component_or_pll(node))
    for (CDB_SGATE_OTERM* o : node->get_output_terms())
      if (o && o->get_instance_name())
        erase_name(info->m_fib_set, kavu_llis_fib_name(o->get_instance_name()), "oterm", debug);
  erase_name(info->m_fib_set, node_fib_name(node), "node", debug);
}

void remove_atom_fibs(KAVU_FIB_INFO* info, const CDB_ATOM_NODE* atom, bool debug) {
  if (!info) return;
  for (unsigned i = 0; i < atom->get_output_count(); ++i)
    if (HDB_INSTANCE_NAME* name = atom->get_output_term(i)->get_instance_name())
      erase_name(info->m_fib_set, kavu_llis_fib_name(name), "oterm", debug);
  const HDB_INSTANCE_NAME* name = atom->get_instance_name();
  erase_name(info->m_fib_set, name ? kavu_llis_fib_name(name) : std::string(), "node", debug);
}

void remove_names(KAVU_FIB_INFO* info, const std::vector<std::string>& names, bool debug) {
  for (const std::string& name : names) erase_name(info->m_fib_set, name, "node", debug);
}

}  // namespace

void KAVU_FIBS_TO_INVALIDATE::add_fib_to_invalidate(CDB_SGATE_NODE* node) {
  KAVU_CHECK(node);
  if (is_component_or_pll(node))
    for (CDB_SGATE_OTERM* o : node->get_output_terms())
      if (o && o->get_instance_name()) m_fibs.push_back(kavu_llis_fib_name(o->get_instance_name()));
  m_fibs.push_back(node_fib_name(node));
}

// ---------------------------------------------------------------- deferral

bool KAVU_FIB_MANAGER::defers_invalidations() const {
  return cdb_sgate_synthesis_is_running_in_parallel() && !kavu_synthesis_is_running_with_one_process_no_pdb();
}

// The list is made on first use: a helper's manager may have been made
// before the parallel flag was set.
void KAVU_FIB_MANAGER::defer_node(CDB_SGATE_NODE* node) {
  if (!m_fibs_to_invalidate) m_fibs_to_invalidate = new KAVU_FIBS_TO_INVALIDATE;
  m_fibs_to_invalidate->add_fib_to_invalidate(node);
}

void KAVU_FIB_MANAGER::dump_fibs_to_invalidate(CDB_SGATE_HIERARCHY* hier, const char* tag, int index) {
  GEN_PROFILER profiler("KAVU", "dump_fibs_to_invalidate");
  if (!m_recording_fibs || !kavu_llis_is_generating_databases()) return;
  if (!m_fibs_to_invalidate) m_fibs_to_invalidate = new KAVU_FIBS_TO_INVALIDATE;
  if (kavu_parallel_write_fibs_to_invalidate(hier, tag, index, m_fibs_to_invalidate)) return;
  kavu_debug("Failed to write the fibs to invalidate of partition %d", index);
  const std::string reason = pdb_last_write_reason();
  kavu_llis_post_unwritten(kavu_parallel_fibs_to_invalidate_db_name(hier, tag, index) + ".cdb",
                           reason.empty() ? std::string("cannot write the file") : "cannot write the file: " + reason);
}

// ---------------------------------------------------------------- invalidation

// Whether an invalidation of `node` is applied here: false when nothing is
// recorded, or when it was deferred for the parent process.
bool KAVU_FIB_MANAGER::applies_invalidation(CDB_SGATE_NODE* node) {
  if (!m_recording_fibs || !kavu_llis_is_generating_databases()) return false;
  if (!node) KAVU_INTERNAL_ERROR("node");
  if (m_debug) kavu_debug("invalidate_node fib name (node): %s", node_fib_name(node).c_str());
  if (!defers_invalidations()) return true;
  defer_node(node);
  return false;
}

void KAVU_FIB_MANAGER::invalidate_node(CDB_SGATE_HIERARCHY* hier, CDB_SGATE_NODE* node) {
  if (!applies_invalidation(node)) return;
  const int id = get_part_id_of_hierarchy(hier);
  if (id >= 0) invalidate_node_in_partition(id, node);
}

void KAVU_FIB_MANAGER::invalidate_node(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* node) {
  if (!applies_invalidation(node)) return;
  const int id = get_part_id_of_netlist(netlist);
  if (id >= 0) {
    invalidate_node_in_partition(id, node);
    return;
  }
  for (PARTITION_ENTRY& e : m_per_partition_data) remove_node_fibs(e.fib_info, node, m_debug);
}

void KAVU_FIB_MANAGER::invalidate_node_in_partition(int hier_id, CDB_SGATE_NODE* node) {
  if (m_debug) kavu_debug("invalidating node for hier_id %d", hier_id);
  check_id(hier_id);
  remove_node_fibs(m_per_partition_data[size_t(hier_id)].fib_info, node, m_debug);
}

void KAVU_FIB_MANAGER::invalidate_node(CDB_ATOM_NODE* node) {
  if (!kavu_llis_is_generating_databases()) return;  // a disabled manager has no partitions
  if (m_per_partition_data.size() != 1) KAVU_INTERNAL_ERROR("m_per_partition_data.size() == 1");
  KAVU_CHECK(node);
  remove_atom_fibs(m_per_partition_data[0].fib_info, node, m_debug);
}

void KAVU_FIB_MANAGER::invalidate_node_list(std::vector<CDB_ATOM_NODE*>* nodes) {
  if (!kavu_llis_is_generating_databases()) return;  // a disabled manager has no partitions
  if (m_per_partition_data.size() != 1) KAVU_INTERNAL_ERROR("m_per_partition_data.size() == 1");
  KAVU_CHECK(nodes);
  for (CDB_ATOM_NODE* node : *nodes)
    if (node) remove_atom_fibs(m_per_partition_data[0].fib_info, node, m_debug);
}

void KAVU_FIB_MANAGER::invalidate_name_list(std::vector<std::string>* names) {
  if (!kavu_llis_is_generating_databases()) return;  // a disabled manager has no partitions
  if (m_per_partition_data.size() != 1) KAVU_INTERNAL_ERROR("m_per_partition_data.size() == 1");
  KAVU_CHECK(names);
  KAVU_FIB_INFO* fib_info = m_per_partition_data[0].fib_info;
  if (!(fib_info != nullptr)) KAVU_INTERNAL_ERROR("fib_info != nullptr");
  remove_names(fib_info, *names, m_debug);
}

void KAVU_FIB_MANAGER::invalidate_node_set(CDB_SGATE_HIERARCHY* hier, std::vector<CDB_SGATE_NODE*>* nodes) {
  if (!m_recording_fibs || !kavu_llis_is_generating_databases()) return;
  if (!(nodes && hier)) KAVU_INTERNAL_ERROR("node_set && hier");
  const int id = get_part_id_of_hierarchy(hier);
  if (id < 0) return;
  if (m_debug) kavu_debug("invalidating node set for hier_id %d", id);
  if (!m_per_partition_data[size_t(id)].fib_info) KAVU_INTERNAL_ERROR("fib_info");
  for (CDB_SGATE_NODE* node : *nodes)
    if (node) invalidate_node(hier, node);
}

void KAVU_FIB_MANAGER::invalidate_name_set(CDB_SGATE_HIERARCHY* hier, std::vector<std::string>* names) {
  if (!m_recording_fibs || !kavu_llis_is_generating_databases()) return;
  if (!(names && hier)) KAVU_INTERNAL_ERROR("name_set && hier");
  const int id = get_part_id_of_hierarchy(hier);
  if (id < 0) return;
  if (m_debug) kavu_debug("invalidating node set for hier_id %d", id);
  KAVU_FIB_INFO* fib_info = m_per_partition_data[size_t(id)].fib_info;
  if (!fib_info) KAVU_INTERNAL_ERROR("fib_info");
  remove_names(fib_info, *names, m_debug);
}

void kavu_invalidate_d_iterm_for_llis(CDB_SGATE_NETLIST* netlist, const CDB_SGATE_ITERM* iterm) {
  if (!iterm || !kavu_has_fib_manager() || iterm->is_gnd()) return;
  CDB_SGATE_NODE* node = iterm->get_my_node();
  if (node && is_register(node)) kavu_use_fib_manager().invalidate_node(netlist, node);
}

void kavu_invalidate_d_iterm_vec_for_llis(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_ITERM*>& iterms) {
  for (CDB_SGATE_ITERM* iterm : iterms) kavu_invalidate_d_iterm_for_llis(netlist, iterm);
}

// ---------------------------------------------------------------- writing points

namespace {

// One line per register: debug name, full path, preserve-set and preserve.
// A debug report: one that cannot be written is left out, with a warning.
void write_preserve_report(CDB_SGATE_NETLIST* netlist) {
  const std::string dir = gen_get_db_dir_path();
  const std::string file = (dir.empty() ? std::string(".") : dir) + "/llis_write_database_after_sgn";
  std::string reason;
  if (!gen_make_db_dir(&reason)) {
    kavu_warn_file_not_written(file, "cannot make the database directory: " + reason);
    return;
  }
  FILE* out = kavu_open_report(file);
  if (!out) return;
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    if (!is_register(node)) continue;
    const CDB_REG_FLAGS* flags = node->get_reg_flags();
    if (!flags) continue;
    const HDB_INSTANCE_NAME* name = node->get_instance_name();
    std::fprintf(out, "%s %s %s %s\n", node->get_debug_name().c_str(), name ? name->get_short_hpath(0).c_str() : "",
                 flags->preserve_is_set() ? "true" : "false", flags->preserve() ? "true" : "false");
  }
  kavu_close_report(out, file);
}

bool write_netlist(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist, LLIS_DATA_FILE file) {
  return kavu_llis_write_netlist(netlist, hierarchy, file);
}

// The three data files of one set ("tr", "or"): netlist, FIB information,
// FIB names, in the order they move.
std::vector<std::string> data_file_set(CDB_SGATE_HIERARCHY* hierarchy, LLIS_DATA_FILE file) {
  return {kavu_llis_data_file_name(hierarchy, file, LLIS_DATA_TYPE_NETLIST, true),
          kavu_llis_data_file_name(hierarchy, file, LLIS_DATA_TYPE_FIB_INFO, true),
          kavu_llis_data_file_name(hierarchy, file, LLIS_DATA_TYPE_FIB_NAMES, true)};
}

// Removes those of `files` that are this user's own (the database
// directory may be shared; another user's file stays); the names of those
// that stay in *kept.
void remove_own_files(const std::vector<std::string>& files, std::vector<std::string>* kept = nullptr) {
  for (const std::string& f : files) {
    if (!FIO_FILE_SYSTEM::exists(f) && !fio_is_own_entry(f, true)) continue;
    std::string why;
    if (fio_is_own_entry(f, true) && FIO_FILE_SYSTEM::remove_own_file(f, &why)) continue;
    kavu_debug("Not removed: %s%s%s", f.c_str(), why.empty() ? "" : ": ", why.c_str());
    if (kept) kept->push_back(f);
  }
}

// Moves this compile's "tr" files to the "or" names, for the next compile:
// the previous "or" files of the user's own go first, then each "tr" file is
// copied to its "or" name as a file of the user's own
// (FIO_FILE_SYSTEM::copy_own_file: another user's file, a link another user
// made, a FIFO or a device is neither read nor written) and, once all three
// are there, the "tr" files are removed. A set that cannot be moved whole is
// an error naming the file, and leaves no part of an "or" set behind; a
// partial "tr" set (a write of this compile failed, or another's file sits
// at one of the names) is an error naming the missing files, and nothing
// moves.
void rotate_this_compiles_files(CDB_SGATE_HIERARCHY* hierarchy) {
  const std::vector<std::string> from = data_file_set(hierarchy, LLIS_DATA_FILE_TR);
  const std::vector<std::string> to = data_file_set(hierarchy, LLIS_DATA_FILE_OR);
  std::vector<std::string> missing;
  for (const std::string& f : from)
    if (!FIO_FILE_SYSTEM::exists(f)) missing.push_back(f);
  if (missing.size() == from.size()) return;
  if (!missing.empty()) {
    for (const std::string& f : missing)
      kavu_llis_post_unwritten(f, "this compile's file is missing, so none of its records are kept for the next "
                                  "compile");
    return;
  }
  std::vector<std::string> kept;
  remove_own_files(to, &kept);
  for (size_t k = 0; k < from.size(); ++k) {
    std::string problem;
    if (FIO_FILE_SYSTEM::copy_own_file(from[k], to[k], &problem)) continue;
    kavu_debug("Cannot move %s to %s", from[k].c_str(), to[k].c_str());
    kavu_llis_post_unwritten(to[k], problem.empty() ? std::string("cannot copy the file") : problem);
    remove_own_files(std::vector<std::string>(to.begin(), to.begin() + std::ptrdiff_t(k)));
    return;
  }
  remove_own_files(from);
}

}  // namespace

void kavu_llis_write_database_after_sgn(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist) {
  KAVU_FIB_MANAGER& manager = kavu_use_fib_manager();
  manager.take_snapshot(hierarchy, netlist, false);
  manager.set_merge_is_successful(hierarchy, nullptr, false);
  manager.write_fibs_to_file(LLIS_DATA_FILE_TR, hierarchy, netlist);
  // A data file that cannot be written has had its error (naming it); the
  // compile goes on.
  write_netlist(hierarchy, netlist, LLIS_DATA_FILE_TR);
  if (cfg_is_on("kavu_debug_print_all_preserve_nodes", false)) write_preserve_report(netlist);
}

// With the velmora-syn flag set the atom-based flow writes its own records
// and nothing is written here. A host without the flag names partitions by
// their hierarchies (kavu_fib_manager.h), so the "ol" files are written and
// the "tr" files of this compile move to "or".
void kavu_llis_write_database_after_ftm(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist) {
  KAVU_FIB_MANAGER& manager = kavu_use_fib_manager();
  if (manager.is_velmora_syn_running()) {
    if (!KAVU_FIB_MANAGER::use_atom_based_llis()) KAVU_INTERNAL_ERROR("KAVU_FIB_MANAGER::use_atom_based_llis()");
    return;
  }
  manager.write_fibs_to_file(LLIS_DATA_FILE_OL, hierarchy, netlist);
  write_netlist(hierarchy, netlist, LLIS_DATA_FILE_OL);  // a failure has had its error
  rotate_this_compiles_files(hierarchy);
}
