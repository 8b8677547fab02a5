// kavu_llis_fib_manager.cpp — the FIB manager: the process-wide manager and
// the partition-name table, snapshot, restore, merge results, the FIB data
// files and the marks in the name database.
//
// Invalidation and the writing points of a compile are in
// kavu_llis_fib_invalidate.cpp.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cdb/cdb_atom.h"
#include "cdb/cdb_sgate_hierarchy.h"
#include "cdb/cdb_sgate_wysiwyg.h"
#include "cfg/cfg.h"
#include "cmp/ztk_rr_state.h"
#include "fio/fio.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_fib_manager.h"
#include "kavu_llis_fib_manager_int.h"
#include "kavu_load_time_int.h"
#include "kavu_msg.h"

namespace {

int g_generating_databases = -1;  // -1: not computed yet
constinit KAVU_KEY_ONCE g_use_atom_based_llis{"use_new_atom_based_llis", true};

std::shared_ptr<HIERARCHY_TO_PARTITION_NAME>& partition_name_table() {
  static std::shared_ptr<HIERARCHY_TO_PARTITION_NAME> table;
  return table;
}
// Made as the library loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_partition_names_at_load = (partition_name_table(), true);

}  // namespace

// ---------------------------------------------------------------- shared rules

namespace kavu_llis {

bool is_register(const CDB_SGATE_NODE* node) {
  if (node->get_sgate_type() == CDB_SGATE_DFF_ENUM) return true;
  return node->is_wysiwyg() && node->cast_to_wysiwyg()->is_ff();
}

bool is_component_or_pll(const CDB_SGATE_NODE* node) {
  if (node->get_sgate_type() == CDB_SGATE_COMPONENT_ENUM) return true;
  return node->is_wysiwyg() && node->cast_to_wysiwyg()->is_pll();
}

std::string node_fib_name(const CDB_SGATE_NODE* node) {
  if (HDB_INSTANCE_NAME* name = node->get_instance_name()) return kavu_llis_fib_name(name);
  return kavu_llis_get_string_hpath(node);
}

bool drops_fanout_free_register(const CDB_SGATE_NODE* node, bool write_fanout_free) {
  return !write_fanout_free && is_register(node) && !node->has_fanout() &&
         !kavu_llis_reg_has_non_fib_data_source(node);
}

}  // namespace kavu_llis

using namespace kavu_llis;

// ---------------------------------------------------------------- the gate

bool kavu_llis_is_generating_databases() {
  if (g_generating_databases < 0) {
    const bool on = ZTK_RR_STATE_MANAGER::is_rapid_recompile_supported() && cfg_is_on("llis_always_write_db", true);
    g_generating_databases = on ? 1 : 0;
    kavu_debug("kavu_llis_is_generating_databases(): %s", on ? "true" : "false");
  }
  return g_generating_databases != 0;
}

void kavu_llis_forget_generating_databases() { g_generating_databases = -1; }

// ---------------------------------------------------------------- partition names

std::shared_ptr<HIERARCHY_TO_PARTITION_NAME> HIERARCHY_TO_PARTITION_NAME::get_instance() {
  std::shared_ptr<HIERARCHY_TO_PARTITION_NAME>& table = partition_name_table();
  if (!table) table = std::make_shared<HIERARCHY_TO_PARTITION_NAME>();
  return table;
}

void HIERARCHY_TO_PARTITION_NAME::reset() { partition_name_table() = std::make_shared<HIERARCHY_TO_PARTITION_NAME>(); }

std::string HIERARCHY_TO_PARTITION_NAME::key_of(CDB_SGATE_HIERARCHY* hier) {
  if (!hier) KAVU_INTERNAL_ERROR("hier");
  HDB_INSTANCE_NAME* name = hier->get_instance_name();
  std::string key = gen_remove_leading_and_trailing_spaces(name ? name->get_short_hpath(0) : std::string());
  return key.empty() ? std::string("|") : key;
}

void HIERARCHY_TO_PARTITION_NAME::set_partition_name(CDB_SGATE_HIERARCHY* hier, const std::string& name) {
  m_hier_to_partition_names[key_of(hier)] = name;
}

std::string HIERARCHY_TO_PARTITION_NAME::get_partition_name(CDB_SGATE_HIERARCHY* hier) const {
  auto find_iter = m_hier_to_partition_names.find(key_of(hier));
  if (find_iter == m_hier_to_partition_names.end()) KAVU_INTERNAL_ERROR("find_iter != m_hier_to_partition_names.end()");
  return find_iter->second;
}

// ---------------------------------------------------------------- singleton

std::shared_ptr<KAVU_FIB_MANAGER> KAVU_FIB_MANAGER::m_instance;

KAVU_FIB_MANAGER::KAVU_FIB_MANAGER() : m_debug(cfg_is_on("llis_debug_msg", false)) {}

std::shared_ptr<KAVU_FIB_MANAGER> KAVU_FIB_MANAGER::get_instance() {
  if (!m_instance) m_instance.reset(new KAVU_FIB_MANAGER());
  return m_instance;
}

void KAVU_FIB_MANAGER::create_new_instance(int num_partitions) {
  std::shared_ptr<KAVU_FIB_MANAGER> fresh(new KAVU_FIB_MANAGER());
  m_instance = fresh;
  fresh->initialize_data(num_partitions);
}

bool KAVU_FIB_MANAGER::use_atom_based_llis() { return g_use_atom_based_llis(); }

KAVU_FIB_MANAGER::~KAVU_FIB_MANAGER() {
  for (const PARTITION_ENTRY& e : m_per_partition_data)
    if (e.subnetlist) KAVU_INTERNAL_ERROR("!itr->subnetlist");
  delete_records();
}

void KAVU_FIB_MANAGER::delete_records() {
  for (PARTITION_ENTRY& e : m_per_partition_data) {
    delete e.fib_info;
    e.fib_info = nullptr;
  }
  delete m_fibs_to_invalidate;
  m_fibs_to_invalidate = nullptr;
}

// Every field is copied; the records are copied too, so that both managers
// can delete what they hold.
void KAVU_FIB_MANAGER::copy_from(const KAVU_FIB_MANAGER& other) {
  m_facade = other.m_facade;
  m_name_to_partition_lookup = other.m_name_to_partition_lookup;
  m_netlist_to_partition_lookup = other.m_netlist_to_partition_lookup;
  m_per_partition_data = other.m_per_partition_data;
  for (PARTITION_ENTRY& e : m_per_partition_data)
    if (e.fib_info) e.fib_info = new KAVU_FIB_INFO(*e.fib_info);
  m_fibs_to_invalidate = other.m_fibs_to_invalidate ? new KAVU_FIBS_TO_INVALIDATE(*other.m_fibs_to_invalidate) : nullptr;
  m_set_node_info = other.m_set_node_info;
  m_reset_node_info = other.m_reset_node_info;
  m_recording_fibs = other.m_recording_fibs;
  m_debug = other.m_debug;
  m_initialized = other.m_initialized;
  m_velmora_syn_running = other.m_velmora_syn_running;
  m_in_zhd_recompile_mode = other.m_in_zhd_recompile_mode;
}

KAVU_FIB_MANAGER::KAVU_FIB_MANAGER(const KAVU_FIB_MANAGER& other) { copy_from(other); }

KAVU_FIB_MANAGER& KAVU_FIB_MANAGER::operator=(const KAVU_FIB_MANAGER& other) {
  if (this == &other) return *this;
  delete_records();
  copy_from(other);
  return *this;
}

void KAVU_FIB_MANAGER::initialize_data(int num_partitions) {
  m_initialized = true;
  if (!kavu_llis_is_generating_databases()) {
    kavu_debug("The KAVU_FIB_MANAGER is disabled because LLIS compatibility is not required.");
    return;
  }
  KAVU_CHECK(num_partitions >= 0);
  kavu_debug("KAVU_FIB_MANAGER initializing......num_partitions = %d", num_partitions);
  // A second initialisation gives back the records of the first.
  for (PARTITION_ENTRY& e : m_per_partition_data) delete e.fib_info;
  m_per_partition_data.assign(size_t(num_partitions), PARTITION_ENTRY());
  if (cdb_sgate_synthesis_is_running_in_parallel()) {
    if (!m_fibs_to_invalidate) m_fibs_to_invalidate = new KAVU_FIBS_TO_INVALIDATE;
    m_recording_fibs = true;
  }
}

void KAVU_FIB_MANAGER::set_netlist_info_pointers(NODE_CALLBACK set_info, NODE_CALLBACK reset_info) {
  m_set_node_info = set_info;
  m_reset_node_info = reset_info;
}

KAVU_FIB_MANAGER& kavu_create_fib_manager(CMP_FACADE* facade, int num_partitions) {
  std::shared_ptr<KAVU_FIB_MANAGER> manager = KAVU_FIB_MANAGER::get_instance();
  if (manager->is_initialized()) KAVU_INTERNAL_ERROR("!manager->is_initialized()");
  manager->initialize_data(num_partitions);
  manager->set_facade(facade);
  return *manager;
}

KAVU_FIB_MANAGER& kavu_use_fib_manager() {
  std::shared_ptr<KAVU_FIB_MANAGER> manager = KAVU_FIB_MANAGER::get_instance();
  if (!manager->is_initialized()) KAVU_INTERNAL_ERROR("manager->is_initialized()");
  return *manager;
}

bool kavu_has_fib_manager() { return KAVU_FIB_MANAGER::get_instance()->is_initialized(); }

// ---------------------------------------------------------------- partitions

void KAVU_FIB_MANAGER::set_zhd_partition_name(CDB_SGATE_HIERARCHY* hier, const std::string& name) {
  if (!m_velmora_syn_running && !(m_instance && m_instance->is_velmora_syn_running()))
    KAVU_INTERNAL_ERROR("KAVU_FIB_MANAGER::get_instance()->is_velmora_syn_running()");
  HIERARCHY_TO_PARTITION_NAME::get_instance()->set_partition_name(hier, name);
}

// With the velmora-syn flag the table names the partition; a host that never
// sets the flag keeps no table, and the hierarchy's own path names it.
std::string KAVU_FIB_MANAGER::get_zhd_partition_name(CDB_SGATE_HIERARCHY* hier) const {
  if (!hier) KAVU_INTERNAL_ERROR("hier");
  if (m_velmora_syn_running || (m_instance && m_instance->is_velmora_syn_running()))
    return HIERARCHY_TO_PARTITION_NAME::get_instance()->get_partition_name(hier);
  if (!hier->get_instance_name()) return "0";
  return HIERARCHY_TO_PARTITION_NAME::key_of(hier);
}

int KAVU_FIB_MANAGER::get_part_id_of_hierarchy(CDB_SGATE_HIERARCHY* hier) const {
  const std::string name = get_zhd_partition_name(hier);
  if (name == "0") {
    kavu_debug("get_part_id_of_hierarchy..but this partition has no name!!");
    return -1;
  }
  auto it = m_name_to_partition_lookup.find(name);
  if (it == m_name_to_partition_lookup.end()) {
    kavu_debug("get_part_id_of_hierarchy..cannot find hierarchy name %s", name.c_str());
    return -1;
  }
  return it->second;
}

int KAVU_FIB_MANAGER::get_part_id_of_netlist(CDB_SGATE_NETLIST* netlist) {
  auto it = m_netlist_to_partition_lookup.find(netlist);
  return it == m_netlist_to_partition_lookup.end() ? -1 : it->second;
}

void KAVU_FIB_MANAGER::check_id(int hier_id) const {
  if (!(hier_id >= 0 && hier_id < static_cast<int>(m_per_partition_data.size())))
    KAVU_INTERNAL_ERROR("hier_id >= 0 && hier_id < static_cast<int>(m_per_partition_data.size())");
}

const KAVU_FIB_INFO* KAVU_FIB_MANAGER::get_fib_info(int part_id) const {
  if (part_id < 0 || part_id >= int(m_per_partition_data.size())) return nullptr;
  return m_per_partition_data[size_t(part_id)].fib_info;
}

// The vector was sized by initialize_data; a compile that records more
// partitions than it announced grows it instead of writing past its end.
int KAVU_FIB_MANAGER::record_partition(const std::string& name) {
  if (m_name_to_partition_lookup.exists(name))
    KAVU_INTERNAL_ERROR("m_name_to_partition_lookup.find(partition_name) == m_name_to_partition_lookup.end()");
  const int id = int(m_name_to_partition_lookup.size());
  m_name_to_partition_lookup.insert(name, id);
  if (size_t(id) >= m_per_partition_data.size()) m_per_partition_data.resize(size_t(id) + 1);
  m_per_partition_data[size_t(id)].partition_name = name;
  return id;
}

void KAVU_FIB_MANAGER::store_entry(int id, KAVU_FIB_INFO* info, CDB_SGATE_HIERARCHY* hier,
                                   CDB_SGATE_NETLIST* netlist) {
  check_id(id);
  PARTITION_ENTRY& e = m_per_partition_data[size_t(id)];
  delete e.fib_info;
  e.fib_info = info;
  e.hierarchy = hier;
  if (netlist) m_netlist_to_partition_lookup[netlist] = id;
}

// ---------------------------------------------------------------- snapshot and restore

bool KAVU_FIB_MANAGER::take_snapshot(CDB_SGATE_HIERARCHY* hier, CDB_SGATE_NETLIST* netlist,
                                     bool record_logic_as_fibs) {
  if (!kavu_llis_is_generating_databases()) return true;
  GEN_PROFILER profiler("KAVU", "fib_take_snapshot");
  if (!netlist) KAVU_INTERNAL_ERROR("netlist");
  if (record_logic_as_fibs) KAVU_INTERNAL_ERROR("!record_logic_as_fibs");
  const std::string partition_name = get_zhd_partition_name(hier);
  if (partition_name == "0") {
    kavu_debug("Could not take snap shot of hierarchy with no iname!!!");
    return true;
  }
  const int id = record_partition(partition_name);
  auto info = std::make_unique<KAVU_FIB_INFO>();
  uint32_t anchors = 0;
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    if (!kavu_is_anchor_point(node)) continue;
    const std::string name = node_fib_name(node);
    if (m_debug) kavu_debug("added fib name (node): %s %s", name.c_str(), node->get_string_type_name());
    info->m_fib_set.insert(name);
    if (is_component_or_pll(node))
      for (CDB_SGATE_OTERM* o : node->get_output_terms())
        if (o && o->get_instance_name()) info->m_fib_set.insert(kavu_llis_fib_name(o->get_instance_name()));
    ++anchors;
  }
  kavu_debug("FIB manager: snapshot for hier %d succeeded, partition %s", id, partition_name.c_str());
  kavu_debug("     number of FIBs oterms: %d", 0);
  kavu_debug("     number of FIBs nodes: %d", int(anchors));
  info->m_number_of_fibs_oterms = 0;
  info->m_number_of_fibs_nodes = anchors;
  info->m_merge_is_successful = false;
  const int set_size = int(info->m_fib_set.size());
  store_entry(id, info.release(), hier, netlist);
  kavu_debug("cur_fib_info->m_fib_set = %d", set_size);
  m_recording_fibs = true;
  return true;
}

// The partition name is checked before an id is given, so a nameless
// partition takes no id and leaves no record behind. The node counter is
// only ever raised: other netlists of the process keep their ids unique.
void KAVU_FIB_MANAGER::restore_fibs_for_partition(CDB_SGATE_HIERARCHY* hier, CDB_SGATE_NETLIST* netlist) {
  if (!kavu_llis_is_generating_databases()) return;
  if (!hier) KAVU_INTERNAL_ERROR("hierarchy");
  if (!netlist) KAVU_INTERNAL_ERROR("netlist");
  std::unique_ptr<KAVU_FIB_INFO> info(kavu_llis_read_fib_info(hier, LLIS_DATA_FILE_PS));
  if (!info) return;
  kavu_get_list_of_fib_nodes_from_netlist(&info->m_fib_set, netlist, nullptr, nullptr);
  const std::string partition_name = get_zhd_partition_name(hier);
  if (partition_name == "0") {
    kavu_debug("Could not take restore fibs for a partition with no iname!!!");
    return;
  }
  const int id = record_partition(partition_name);
  unsigned largest = 0;
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) largest = std::max(largest, node->get_id());
  if (!info->m_old_lutmapped_node_ids.empty()) largest = std::max(largest, *info->m_old_lutmapped_node_ids.rbegin());
  store_entry(id, info.release(), hier, netlist);
  if (largest != ~0u && CDB_SGATE_NODE::s_debug_counter <= largest) CDB_SGATE_NODE::reset_debug_counter(largest + 1);
  kavu_debug("finished restoring partition name %s", partition_name.c_str());
  m_recording_fibs = true;
}

// ---------------------------------------------------------------- merge result

void KAVU_FIB_MANAGER::set_merge_is_successful(CDB_SGATE_HIERARCHY* hier, std::set<unsigned>* ids, bool ok) {
  if (!kavu_llis_is_generating_databases()) return;
  if (!hier) KAVU_INTERNAL_ERROR("hier");
  int id = get_part_id_of_hierarchy(hier);
  if (id >= 0) {
    PARTITION_ENTRY& e = m_per_partition_data[size_t(id)];
    if (!e.fib_info) e.fib_info = new KAVU_FIB_INFO;
    if (ids) e.fib_info->m_old_lutmapped_node_ids.insert(ids->begin(), ids->end());
    e.fib_info->m_merge_is_successful = ok;
    return;
  }
  const std::string partition_name = get_zhd_partition_name(hier);
  if (partition_name == "0") {
    kavu_debug("Could not take snap shot of hierarchy with no iname!!!");
    return;
  }
  id = record_partition(partition_name);
  auto* info = new KAVU_FIB_INFO;
  if (ids) info->m_old_lutmapped_node_ids.insert(ids->begin(), ids->end());
  info->m_merge_is_successful = ok;
  store_entry(id, info, hier, nullptr);
  kavu_debug("fib_info->m_old_lutmapped_node_ids size = %d", int(info->m_old_lutmapped_node_ids.size()));
  m_recording_fibs = true;
}

// A partition without a record has not been merged.
bool KAVU_FIB_MANAGER::get_merge_is_successful(CDB_SGATE_HIERARCHY* hier) {
  if (!kavu_llis_is_generating_databases()) return false;
  if (!hier) KAVU_INTERNAL_ERROR("hier");
  const int id = get_part_id_of_hierarchy(hier);
  if (id < 0) return true;
  const KAVU_FIB_INFO* info = m_per_partition_data[size_t(id)].fib_info;
  return info ? info->m_merge_is_successful : false;
}

// ---------------------------------------------------------------- data files

namespace {

// The logical (user) names of a memory atom's ports, which the next compile
// needs to find the memory again: a RAM block's port 0, then port 1; a
// LUT-RAM's one name (a memory without one records id 0). RAM blocks and
// LUT-RAMs are the memory atoms that carry logical names here.
void push_memory_logical_names(KAVU_FIB_NAMES& names, CDB_SGATE_NODE* node) {
  if (CDB_SGATE_WYSIWYG_RAM_BLOCK* ram = node->cast_to_wysiwyg_ram_block()) {
    names.push_back(ram->get_logical_name(0));
    names.push_back(ram->get_logical_name(1));
  } else if (node->is_wysiwyg() && node->cast_to_wysiwyg()->is_lutram()) {
    names.push_back(node->cast_to_wysiwyg()->get_lutram_logical_name());
  }
}

}  // namespace

void KAVU_FIB_MANAGER::write_fibs_to_file(LLIS_DATA_FILE data_file, CDB_SGATE_HIERARCHY* hier,
                                          CDB_SGATE_NETLIST* netlist) {
  if (!kavu_llis_is_generating_databases()) return;
  GEN_PROFILER profiler("KAVU", "fib_write_to_file");
  kavu_debug("m_per_partition_data.size() = %d", int(m_per_partition_data.size()));
  KAVU_CHECK(netlist);
  const int id = get_part_id_of_hierarchy(hier);
  if (id < 0) return;
  KAVU_FIB_INFO* new_fib_info = m_per_partition_data[size_t(id)].fib_info;
  if (!new_fib_info) KAVU_INTERNAL_ERROR("new_fib_info");
  std::set<std::string> old_set;
  old_set.swap(new_fib_info->m_fib_set);
  const bool write_fanout_free = cfg_is_on("llis_write_out_fanout_free_fibs", true);
  KAVU_FIB_NAMES names;
  std::string mif, old_mif;
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    for (CDB_SGATE_OTERM* o : node->get_output_terms())
      if (o) names.push_back(o->get_instance_name());
    push_memory_logical_names(names, node);
    HDB_INSTANCE_NAME* iname = kavu_get_sgate_instance_name(node);
    if (!iname) KAVU_INTERNAL_ERROR("sgate_instance_name");
    const std::string name = kavu_llis_fib_name(iname);
    if (kavu_is_anchor_point(node) && old_set.count(name)) {
      if (!drops_fanout_free_register(node, write_fanout_free)) {
        new_fib_info->m_fib_set.insert(name);
        if (m_debug) kavu_debug("Writing FIB name to file (node): %s %s", name.c_str(), node->get_string_type_name());
      }
      names.push_back(iname);
    } else if (is_register(node) && old_set.count(name + "~reg0")) {
      new_fib_info->m_fib_set.insert(name + "~reg0");
      if (m_debug) kavu_debug("Writing FIB name to file (node~reg0): %s %s", name.c_str(), node->get_string_type_name());
      names.push_back(HDB_INSTANCE_NAME::create_synthesized_name(iname, "reg0", false, true, nullptr));
    } else {
      names.push_back(iname);
    }
    if (data_file == LLIS_DATA_FILE_TR && kavu_get_mif_file_names(node, mif, old_mif)) {
      // Beside the databases, in a directory others may share: a copy that
      // cannot be made as the user's own is left out, with its error (a
      // file that is not there has nothing to copy).
      std::string problem;
      int error = 0;
      if (!FIO_FILE_SYSTEM::copy_own_file(mif, old_mif, &problem, &error) &&
          (error != ENOENT || FIO_FILE_SYSTEM::exists(mif)))
        kavu_llis_post_unwritten(fio_get_unc_full_path(old_mif),
                                 problem.empty() ? "cannot copy the file: " + std::string(std::strerror(error))
                                                 : problem);
    }
  }
  // A data file that cannot be written has its error posted (naming it);
  // the compile goes on without it, and a record whose names could not be
  // written is not written either.
  if (!kavu_llis_write_fib_names(&names, hier, data_file)) return;
  kavu_llis_write_fib_info(new_fib_info, hier, data_file);
}

void KAVU_FIB_MANAGER::dump_fibs_for_each_partition() {
  if (!kavu_llis_is_generating_databases()) return;
  kavu_debug("dump_fibs_for_each_partition...");
  for (size_t i = 0; i < m_per_partition_data.size(); ++i) {
    if (!m_per_partition_data[i].fib_info) continue;
    CDB_SGATE_HIERARCHY* hier = m_per_partition_data[i].hierarchy;
    if (!hier) KAVU_INTERNAL_ERROR("hier");
    CDB_SGATE_NETLIST* netlist = hier->get_netlist();
    if (!netlist) KAVU_INTERNAL_ERROR("netlist");
    write_fibs_to_file(LLIS_DATA_FILE_PS, hier, netlist);
  }
}

// ---------------------------------------------------------------- marks

namespace {

const unsigned ORLIND_INTERNAL_FIB = HDB_INSTANCE_NAME_FLAG::INCREMENTAL_2;

void mark(HDB_INSTANCE_NAME* name) { name->get_flags().set_flag(ORLIND_INTERNAL_FIB); }

}  // namespace

void KAVU_FIB_MANAGER::mark_fibs_in_hdb(CDB_SGATE_HIERARCHY* hier, CDB_SGATE_NETLIST* netlist) {
  GEN_PROFILER profiler("KAVU", "mark_fibs_in_hdb");
  if (!netlist) KAVU_INTERNAL_ERROR("netlist");
  if (!hier) KAVU_INTERNAL_ERROR("hierarchy");
  if (!m_facade) KAVU_INTERNAL_ERROR("m_facade");
  const bool write_fanout_free = cfg_is_on("llis_write_out_fanout_free_fibs", true);
  const int id = get_part_id_of_hierarchy(hier);
  if (id < 0) return;
  const KAVU_FIB_INFO* rtl_fib_info = m_per_partition_data[size_t(id)].fib_info;
  if (!rtl_fib_info) KAVU_INTERNAL_ERROR("rtl_fib_info");
  const std::set<std::string>& fibs = rtl_fib_info->m_fib_set;
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    if (!kavu_is_anchor_point(node)) continue;
    HDB_INSTANCE_NAME* iname = kavu_get_sgate_instance_name(node);
    if (!iname) KAVU_INTERNAL_ERROR("sgate_instance_name");
    const std::string name = kavu_llis_fib_name(iname);
    if (fibs.count(name)) {
      if (!drops_fanout_free_register(node, write_fanout_free)) {
        if (m_debug) kavu_debug("Adding ORLIND_INTERNAL_FIB for node: %s %s", name.c_str(), node->get_string_type_name());
        mark(iname);
      }
    } else if (is_register(node) && fibs.count(name + "~reg0")) {
      if (m_debug) kavu_debug("Ading ORLIND_INTERNAL_FIB fornode~reg0: %s %s", name.c_str(), node->get_string_type_name());
      mark(HDB_INSTANCE_NAME::create_synthesized_name(iname, "reg0", false, true, nullptr));
    }
    if (is_component_or_pll(node))
      for (CDB_SGATE_OTERM* o : node->get_output_terms())
        if (o && o->get_instance_name() && fibs.count(kavu_llis_fib_name(o->get_instance_name())))
          mark(o->get_instance_name());
  }
}

void KAVU_FIB_MANAGER::mark_fibs_in_hdb(CDB_ATOM_NETLIST* netlist) {
  if (!kavu_llis_is_generating_databases()) return;  // a disabled manager has no partitions
  if (m_per_partition_data.size() != 1) KAVU_INTERNAL_ERROR("m_per_partition_data.size() == 1");
  if (!netlist) KAVU_INTERNAL_ERROR("netlist");
  if (!m_facade) KAVU_INTERNAL_ERROR("m_facade");
  const KAVU_FIB_INFO* rtl_fib_info = m_per_partition_data[0].fib_info;
  if (!rtl_fib_info) KAVU_INTERNAL_ERROR("rtl_fib_info");
  const std::set<std::string>& fibs = rtl_fib_info->m_fib_set;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_ATOM_NODE* atom = *it;
    if (!kavu_is_anchor_point(atom)) continue;
    HDB_INSTANCE_NAME* instance_name = atom->get_instance_name();
    if (!instance_name) KAVU_INTERNAL_ERROR("instance_name");
    const std::string name = kavu_llis_fib_name(instance_name);
    if (fibs.count(name)) {
      if (m_debug) kavu_debug("Adding ORLIND_INTERNAL_FIB for node: %s", name.c_str());
      mark(instance_name);
    } else if (kavu_llis_is_register_atom(atom) && fibs.count(name + "~reg0")) {
      mark(HDB_INSTANCE_NAME::create_synthesized_name(instance_name, "reg0", false, true, nullptr));
    }
    if (!kavu_llis_atom_has_fib_oterms(atom)) continue;
    for (unsigned i = 0; i < atom->get_output_count(); ++i) {
      HDB_INSTANCE_NAME* oname = atom->get_output_term(i)->get_instance_name();
      if (oname && fibs.count(kavu_llis_fib_name(oname))) mark(oname);
    }
  }
}
