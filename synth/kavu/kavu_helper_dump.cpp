// kavu_helper_dump.cpp — dump paths, file names, compiler directives,
// canonical netlist order, operator terminals and the memory trace.
//
// Canonical order: fan-out chains are rebuilt in a total order that depends
//   only on gate ids, inversion and input positions, so two netlists whose
//   gates carry the same ids end with the same chains whatever order their
//   builders connected them in. The node-list reorder relies on delete_node
//   only unlinking and add_node appending at the tail (never into a hole),
//   so one pass over the first n entries moves each other gate exactly once.
// Cost: sorting is O(F log F) per output terminal with one scratch vector
//   per call; the reorder is linear in the node count.
#include "kavu_helper_dump.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cdb/cdb_sgate.h"
#include "fio/fio.h"
#include "gen/gen.h"
#include "kavu_check.h"
#include "kavu_helper.h"
#include "kavu_msg.h"
#include "mem/mem.h"
#include "msg/msg.h"

namespace {

KAVU_NETLIST_DUMPER s_netlist_dumper = nullptr;

std::string& openbox_dir() {
  static std::string s_dir;
  return s_dir;
}
// Made as the library loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_openbox_dir_at_load = (openbox_dir(), true);

constexpr unsigned kSimulationModeBit = 1u << 20;
constexpr int kIopllBootstrap = 605;
constexpr int kEngineeringSampleTrait = 14;

// "\"text\"" with '"' and '\' escaped, so a name holding them stays one
// directive value.
std::string quoted(const std::string& text) {
  std::string q = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

// One fan-out with its sort key; the scratch of kavu_sort_oterm_fanouts.
struct FANOUT_KEY {
  unsigned m_node_id;
  bool m_inverted;
  unsigned m_position;
  CDB_SGATE_ITERM* m_iterm;
};

unsigned input_position(const CDB_SGATE_NODE* node, const CDB_SGATE_ITERM* t) {
  const unsigned n = node->get_number_of_input_terms();
  for (unsigned i = 0; i < n; ++i) {
    if (node->get_input_term(i) == t) return i;
  }
  return n;
}

void sort_fanouts(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_ITERM*>& fanouts,
                  std::vector<FANOUT_KEY>& keys) {
  oterm->copy_fanouts(fanouts);
  if (fanouts.size() < 2) return;
  keys.clear();
  for (CDB_SGATE_ITERM* t : fanouts) {
    const CDB_SGATE_NODE* node = t->get_my_node();
    if (!node) KAVU_INTERNAL_ERROR("l_node && r_node");
    keys.push_back({node->get_id(), t->is_inverted(), input_position(node, t), t});
  }
  std::sort(keys.begin(), keys.end(), [](const FANOUT_KEY& l, const FANOUT_KEY& r) {
    if (l.m_node_id != r.m_node_id) return l.m_node_id < r.m_node_id;
    if (l.m_inverted != r.m_inverted) return !l.m_inverted;
    return l.m_position < r.m_position;
  });
  for (const FANOUT_KEY& k : keys) {
    k.m_iterm->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    oterm->insert_fanout(k.m_iterm);
  }
}

CDB_SGATE_OPER_PORT_ENTRY* port_of(CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE type, const char* name,
                                   CDB_OPER_PORT_DIR dir) {
  CDB_SGATE_OPER_PORT_ENTRY* port = op->get_port(type);
  return port ? port : op->add_port(name, type, dir);
}

void add_inputs(CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE type, const char* name, unsigned count) {
  if (count == 0) return;
  CDB_SGATE_OPER_PORT_ENTRY* port = port_of(op, type, name, CDB_OPER_PORT_DIR_IN);
  MEM_SEGMENT* seg = MEM_MANAGER::get_default_segment();
  for (unsigned i = 0; i < count; ++i) {
    CDB_SGATE_ITERM* t = op->create_input_term(seg);
    op->insert_unordered_fanin_term(t);
    port->set_iterm(i, t);
  }
}

void add_outputs(CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE type, const char* name, unsigned count) {
  if (count == 0) return;
  CDB_SGATE_OPER_PORT_ENTRY* port = port_of(op, type, name, CDB_OPER_PORT_DIR_OUT);
  MEM_SEGMENT* seg = MEM_MANAGER::get_default_segment();
  for (unsigned i = 0; i < count; ++i) {
    CDB_SGATE_OTERM* t = op->create_output_term(seg);
    op->insert_unordered_fanout_term(t);
    port->set_oterm(i, t);
  }
}

}  // namespace

// ---------------------------------------------------------------- dumps and paths

void kavu_set_netlist_dumper(KAVU_NETLIST_DUMPER dumper) { s_netlist_dumper = dumper; }

KAVU_NETLIST_DUMPER kavu_get_netlist_dumper() { return s_netlist_dumper; }

std::string kavu_get_synth_dump_path() {
  // An entry of that name is used as it is, even a regular file: the dump
  // that cannot be written below it says so; the path itself is no error.
  if (!FIO_FILE_SYSTEM::exists("synth_dumps") && !FIO_FILE_SYSTEM::create("synth_dumps")) {
    KAVU_INTERNAL_ERROR("FIO_FILE_SYSTEM::create(\"synth_dumps\")");
  }
  return "synth_dumps";
}

std::string kavu_get_openbox_dir(CMP_FACADE* facade, const std::string& prefix) {
  std::string& dir = openbox_dir();
  if (dir.empty()) {
    KAVU_CHECK(facade != nullptr);
    dir = prefix + kavu_openbox_dir_name() + "/" + facade->get_revision_name() + "/";
  }
  return dir;
}

std::string kavu_get_mif_directory(const ZHD_DB_RECORD& record, int mode) {
  ZDB_PATH path(record);
  path.set_model("mifs");
  ZDB_DIRECTORY_MODEL* model = ZDB_DIRECTORY_MODEL::find(path);
  if (!model) model = ZDB_DIRECTORY_MODEL::create(path, ZDB_DIRECTORY_MODEL::s_model_type_string, mode);
  KAVU_CHECK(model != nullptr);
  return model->get_fio_path().fullpath();
}

std::string kavu_get_flat_mif_directory_path() {
  ZHD_DESIGN* design = ZHD_ROOT::get().get_design("");
  KAVU_CHECK(design != nullptr);
  return kavu_get_mif_directory(design->get_root_partition()->get_db_record(), 2);
}

std::string kavu_get_mif_directory_path(const ZHD_PARTITION& partition) {
  return kavu_get_mif_directory(partition.get_db_record(ZHD_PARTITION::s_unspecified), 1);
}

std::string kavu_get_mif_directory_path(CDB_SGATE_HIERARCHY* hierarchy) {
  KAVU_CHECK(hierarchy != nullptr);
  ZHD_DESIGN* design = ZHD_ROOT::get().get_design("");
  KAVU_CHECK(design != nullptr);
  return kavu_get_mif_directory_path(*design->get_partition_of(hierarchy->get_instance_name()));
}

std::string kavu_get_rtl_mif_file_name(const std::string& base, int n, int partition_id) {
  std::string name = base + std::to_string(n);
  if (partition_id != -1) {
    KAVU_CHECK(partition_id >= 0);
    name += "_PART" + std::to_string(partition_id);
  }
  return name + ".rtl.mif";
}

// ---------------------------------------------------------------- directives

void kavu_collect_verilog_compiler_directives(HDB_NAMESPACE* ns,
                                              std::vector<std::pair<std::string, std::string>>& pairs) {
  CMP_FACADE* facade = ZCU_FACADE_UTIL::get_instance()->get_facade();
  KAVU_CHECK(facade != nullptr);
  pairs.emplace_back("ORLIND_RESERVED_ZIS", "");
  pairs.emplace_back("ORLIND_RESERVED_ZHD", "");
  if (facade->get_mode_flags() & kSimulationModeBit) pairs.emplace_back("VELMORA__SIMGEN", "");

  const DEV_FAMILY_ENUM family = facade->get_family();
  if (family != DEV_FAMILY_INVALID) {
    const std::string user = dstr_get_user_string(family);
    std::string suffix;
    for (char c : user) {
      if (c != ' ' && !(c >= 9 && c <= 13)) suffix += gen_ascii_toupper(c);
    }
    pairs.emplace_back("ORLIND_RESERVED_ZIS_FAMILY", quoted(user));
    pairs.emplace_back("ORLIND_RESERVED_ZIS_FAMILY_" + suffix, quoted(user));
  }

  const DEV_PART_ENUM part = DEV_PART_ENUM(facade->get_part());
  if (part != DEV_PART_INVALID && dstr_is_valid_part(part)) {
    const DEV_DEVICE_ENUM device = DEV_PART_MANAGER::get_device_of(part);
    if (device != DEV_DEVICE_INVALID && dstr_is_valid_device(device)) {
      pairs.emplace_back("ORLIND_RESERVED_ZIS_DEVICE", quoted(dstr_get_user_string(device)));
    }
    pairs.emplace_back("ORLIND_RESERVED_ZIS_PART", quoted(dstr_get_user_string(part)));
    const std::string package = DEV_PART_MANAGER::get_package_of(part);
    if (!package.empty()) pairs.emplace_back("ORLIND_RESERVED_ZIS_PKG", quoted(package));
    const int speed = DEV_PART_MANAGER::get_speed_grade_of(part);
    if (speed > 0) pairs.emplace_back("ORLIND_RESERVED_ZIS_SPEED", quoted(std::to_string(speed)));
    if (DEV_PART_MANAGER::test_part_trait_of(part, kEngineeringSampleTrait)) {
      pairs.emplace_back("ORLIND_RESERVED_ZIS_ES", "\"YES\"");
    }
  }

  KAVU_DERIVED_OPTION_LIST macros;
  kavu_get_all_derived_options(ns, &macros);
  for (const HDB_DERIVED_OPTION<ACF_KIND_TEXT, 0>* option : macros) {
    const std::string value = option->get_value_str();
    const size_t eq = value.find('=');
    if (eq == std::string::npos || eq + 1 == value.size()) continue;
    pairs.emplace_back(value.substr(0, eq), value.substr(eq + 1));
  }

  HDB_DERIVED_OPTION<ACF_KIND_BOOL, 0>* bootstrap =
      HDB_DERIVED_OPTION<ACF_KIND_BOOL, 0>::get_single_option(ns, kIopllBootstrap, true);
  if (bootstrap && bootstrap->get_value()) pairs.emplace_back("ORLIND_K12_IOPLL_BOOTSTRAP", "1");
}

// ---------------------------------------------------------------- canonical order

void kavu_sort_oterm_fanouts(CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(oterm);
  std::vector<CDB_SGATE_ITERM*> fanouts;
  std::vector<FANOUT_KEY> keys;
  sort_fanouts(oterm, fanouts, keys);
}

void kavu_sort_oterm_fanouts(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  std::vector<CDB_SGATE_ITERM*> fanouts;
  std::vector<FANOUT_KEY> keys;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node) continue;
    for (unsigned i = 0; i < node->get_output_count(); ++i) {
      if (CDB_SGATE_OTERM* oterm = node->get_output_term(i)) sort_fanouts(oterm, fanouts, keys);
    }
  }
}

void kavu_reorder_sgates_for_atom_netlist_comparison(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  const uint32_t n = netlist->size();
  uint32_t steps = 0;
  for (auto it = netlist->begin_node_list(); steps < n && it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node) continue;
    ++steps;
    if (node->is_wysiwyg() || node->is_generic()) continue;
    netlist->delete_node(it);
    netlist->add_node(node, true);
  }
}

// ---------------------------------------------------------------- operators and memory

void kavu_create_triport_operator_terms(CDB_SGATE_NODE* new_node, unsigned a, unsigned b, unsigned o,
                                        bool x, bool y, bool z) {
  CDB_SGATE_OPERATOR* op = new_node ? new_node->cast_to_operator() : nullptr;
  if (!op) KAVU_INTERNAL_ERROR("kavu_is_a_op(new_node)");
  const CDB_OPER_TYPE kind = op->get_type();
  const bool shift = kind >= 4 && kind <= 7;
  add_inputs(op, CDB_OPER_PORT_A, "A", a);
  if (shift) {
    add_inputs(op, CDB_OPER_PORT_SHIFT, "SHIFT", b);
  } else {
    add_inputs(op, CDB_OPER_PORT_B, "B", b);
  }
  add_outputs(op, CDB_OPER_PORT_O, "O", o);
  if (x) add_inputs(op, CDB_OPER_PORT_CIN, "CIN", 1);
  if (z) add_inputs(op, CDB_OPER_PORT_ADD_NOT_SUB, "ADD_NOT_SUB", 1);
  if (y) add_outputs(op, CDB_OPER_PORT_COUT, "COUT", 1);
}

void kavu_print_memory_message(const char* label) {
  const float peak = static_cast<float>(mem_info_get_process_peak_virtual_used());
  const float current = static_cast<float>(mem_info_get_process_current_virtual_used());
  kavu_debug("Memory usage %s: peak %.2f gb, current %.2f gb", label ? label : "", peak / 1e9,
             current / 1e9);
}

// ---------------------------------------------------------------- debug reports

void kavu_warn_file_not_written(const std::string& file, const std::string& problem) {
  msg_post_message(MSG_POST_TYPE_WARNING,
                   "The file \"" +
                       kavu_platform::msg_printable_text(fio_get_unc_full_path(file), kavu_platform::MSG_MAX_PATH_BYTES,
                                                         true) +
                       "\" is not written: " + (problem.empty() ? std::string("cannot write the file") : problem));
}

FILE* kavu_open_report(const std::string& file) {
  std::string problem;
  FILE* stream = FIO_FILE_SYSTEM::fopen_own_file(file, &problem);
  if (!stream) {
    kavu_debug("Cannot open %s", file.c_str());
    kavu_warn_file_not_written(file, problem);
  }
  return stream;
}

void kavu_close_report(FILE* stream, const std::string& file) {
  if (!stream) return;
  if (std::fclose(stream) != 0)
    kavu_warn_file_not_written(file, std::string("cannot write the file: ") + std::strerror(errno));
}
