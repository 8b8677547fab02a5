// kavu_llis_records.cpp — the FIB name tree and the per-partition data
// files of incremental synthesis.
//
// Data files are named "<partition>.map.<file><type>" in the project
// database directory, where <partition> is the hierarchy's full path with
// '%' and '/' escaped: each partition has its own files, and two partition
// names never map to one file.
#include <cstdio>
#include <filesystem>
#include <string>

#include "cdb/cdb_sgate_hierarchy.h"
#include "cdb/cdb_sgate_netlist_pdb.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_llis.h"
#include "kavu_msg.h"
#include "msg/msg.h"
#include "pdb/pdb.h"

namespace {

const unsigned HDB_ROOT_PARENT_FLAG = HDB_INSTANCE_NAME_FLAG::HIERARCHY_ROOT;  // 0x20000

const char* data_file_code(int file) {
  switch (file) {
    case LLIS_DATA_FILE_PS: return "ps";
    case LLIS_DATA_FILE_TR: return "tr";
    case LLIS_DATA_FILE_OR: return "or";
    case LLIS_DATA_FILE_OL: return "ol";
    default: KAVU_INTERNAL_ERROR("Unexpected LLIS_DATA_FILE");
  }
  return "";
}

const char* data_type_code(int type) {
  switch (type) {
    case LLIS_DATA_TYPE_NETLIST: return "n";
    case LLIS_DATA_TYPE_FIB_INFO: return "f";
    case LLIS_DATA_TYPE_FIB_NAMES: return "m";
    default: KAVU_INTERNAL_ERROR("Unexpected LLIS_DATA_TYPE");
  }
  return "";
}

// Reads the one pointer record of the data file; null on any failure.
void* read_ptr(CDB_SGATE_HIERARCHY* hierarchy, int file, int type, void (*field)(PDB_SEGMENT&, void*)) {
  const std::string name = kavu_llis_data_file_name(hierarchy, file, type, false);
  void* ptr = nullptr;
  try {
    PDB_ARCHIVE archive;
    archive.open(name, PDB_ARCHIVE::PDB_READ);
    pdb_read_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), field, &ptr, nullptr, "h/pdb_sys");
    archive.close();
  } catch (const PDB_DATABASE_EXCEPTION&) {
    kavu_debug("An error occurred while reading the database.");
    return nullptr;
  } catch (const ERR_MSG_EXCEPTION&) {
    kavu_debug("An error occurred while reading the database.");
    return nullptr;
  }
  return ptr;
}

// Writes the one pointer record of the data file, as a file of the user's
// own (the database directory may be shared). A file that cannot be
// written is an error the user sees, naming it and why; the write then
// fails and the caller goes on.
bool write_ptr(CDB_SGATE_HIERARCHY* hierarchy, int file, int type, void (*field)(PDB_SEGMENT&, void*), void* object) {
  const std::string name = kavu_llis_data_file_name(hierarchy, file, type, false);
  std::string reason;
  if (!gen_make_db_dir(&reason)) {
    kavu_debug("Cannot write the database in %s: %s", gen_get_db_dir_path().c_str(), reason.c_str());
    kavu_llis_post_unwritten(name + ".cdb", "cannot make the database directory: " + reason);
    return false;
  }
  try {
    PDB_ARCHIVE archive;
    archive.open_own_file(name);  // a file of the database directory, which others may share
    void* ptr = object;
    pdb_write_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), field, &ptr, 0, -1, 0);
    archive.close();
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    kavu_debug("An error occurred while writing the database.");
    const auto* invalid = dynamic_cast<const PDB_INVALID_PATH*>(&e);
    const std::string why = invalid && !invalid->get_reason().empty() ? invalid->get_reason() : std::string(e.what());
    kavu_llis_post_unwritten(invalid ? invalid->get_path() : name + ".cdb", "cannot write the file: " + why);
    return false;
  } catch (const ERR_MSG_EXCEPTION&) {
    kavu_debug("An error occurred while writing the database.");
    kavu_llis_post_unwritten(name + ".cdb", "cannot write the file");
    return false;
  }
  return true;
}

void fib_info_field(PDB_SEGMENT& seg, void* ptr_address) {
  seg.set_field(199, "ptr");
  seg.transfer_ptr(*static_cast<void**>(ptr_address), *KAVU_FIB_INFO::pdb_thunk());
}

void fib_names_field(PDB_SEGMENT& seg, void* ptr_address) {
  seg.set_field(199, "ptr");
  seg.transfer_ptr(*static_cast<void**>(ptr_address), *KAVU_FIB_NAMES::pdb_thunk());
}

}  // namespace

// ---------------------------------------------------------------- FIB names

void KAVU_FIB_NAMES::push_back(const HDB_INSTANCE_NAME* name) {
  m_ordered_partial_names.push_back(name ? uint32_t(name->get_id()) : 0u);
  for (const HDB_INSTANCE_NAME* cur = name; cur;) {
    const uint32_t id = uint32_t(cur->get_id());
    if (m_id_to_partial_name.exists(id)) break;
    const HDB_INSTANCE_NAME* parent = cur->get_parent();
    if (!parent) KAVU_INTERNAL_ERROR("parent");
    const bool root = parent->get_flags().test_flag(HDB_ROOT_PARENT_FLAG);
    m_id_to_partial_name.insert(id, {root ? 0u : uint32_t(parent->get_id()), cur->get_unit_name_str()});
    cur = root ? nullptr : parent;
  }
}

std::string KAVU_FIB_NAMES::reconstruct_name(uint32_t id) const {
  if (id == 0) return std::string();
  // Iterative: the chain is walked up and the parts joined from the top.
  std::vector<const std::string*> parts;
  for (uint32_t cur = id; cur != 0;) {
    auto it = m_id_to_partial_name.find(cur);
    if (it == m_id_to_partial_name.end()) KAVU_INTERNAL_ERROR("itr != m_id_to_partial_name.end()");
    parts.push_back(&it->second.second);
    // A corrupt record could close a cycle; no chain is longer than the table.
    if (parts.size() > m_id_to_partial_name.size()) KAVU_INTERNAL_ERROR("cycle in m_id_to_partial_name");
    cur = it->second.first;
  }
  std::string out;
  for (auto p = parts.rbegin(); p != parts.rend(); ++p) {
    if (!out.empty()) out += '|';
    out += **p;
  }
  return out;
}

// ---------------------------------------------------------------- file names

std::string kavu_llis_partition_file_part(CDB_SGATE_HIERARCHY* hierarchy) {
  if (!hierarchy) KAVU_INTERNAL_ERROR("hierarchy");
  HDB_INSTANCE_NAME* iname = hierarchy->get_instance_name();
  if (!iname) KAVU_INTERNAL_ERROR("hierarchy_iname");
  return kavu_llis_escape_file_part(iname->get_short_hpath(0));
}

std::string kavu_llis_escape_file_part(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '%') out += "%25";
    else if (c == '/') out += "%2F";
    else out += c;
  }
  return out;
}

void kavu_llis_post_unwritten(const std::string& file, const std::string& problem) {
  msg_post_message(MSG_POST_TYPE_ERROR, "The incremental-synthesis records \"" +
                                            kavu_platform::msg_printable_text(file, kavu_platform::MSG_MAX_PATH_BYTES,
                                                                              true) +
                                            "\" are not written: " + problem);
}

std::string kavu_llis_data_file_name(CDB_SGATE_HIERARCHY* hierarchy, int file, int type, bool with_cdb) {
  const std::string part = kavu_llis_partition_file_part(hierarchy);
  const std::string dir = gen_get_db_dir_path();
  std::string name = (dir.empty() ? std::string(".") : dir) + "/" + part + ".map." + data_file_code(file) +
                     data_type_code(type);
  if (with_cdb) name += ".cdb";
  kavu_debug("l_build_per_partition_file_name: %s", name.c_str());
  return name;
}

// ---------------------------------------------------------------- reads and writes

KAVU_FIB_INFO* kavu_llis_read_fib_info(CDB_SGATE_HIERARCHY* hierarchy, int file) {
  return static_cast<KAVU_FIB_INFO*>(read_ptr(hierarchy, file, LLIS_DATA_TYPE_FIB_INFO, &fib_info_field));
}

KAVU_FIB_NAMES* kavu_llis_read_fib_names(CDB_SGATE_HIERARCHY* hierarchy, int file) {
  return static_cast<KAVU_FIB_NAMES*>(read_ptr(hierarchy, file, LLIS_DATA_TYPE_FIB_NAMES, &fib_names_field));
}

CDB_SGATE_NETLIST* kavu_llis_read_netlist(CDB_SGATE_HIERARCHY* hierarchy, int file) {
  auto* n = static_cast<CDB_SGATE_NETLIST*>(
      read_ptr(hierarchy, file, LLIS_DATA_TYPE_NETLIST, &cdb_sgate_netlist_ptr_field));
  if (n) n->prepare_for_use();
  return n;
}

bool kavu_llis_write_fib_info(KAVU_FIB_INFO* info, CDB_SGATE_HIERARCHY* hierarchy, int file) {
  if (!info) KAVU_INTERNAL_ERROR("db");
  if (!hierarchy) KAVU_INTERNAL_ERROR("hierarchy");
  return write_ptr(hierarchy, file, LLIS_DATA_TYPE_FIB_INFO, &fib_info_field, info);
}

bool kavu_llis_write_fib_names(KAVU_FIB_NAMES* names, CDB_SGATE_HIERARCHY* hierarchy, int file) {
  if (!names) KAVU_INTERNAL_ERROR("db");
  if (!hierarchy) KAVU_INTERNAL_ERROR("hierarchy");
  return write_ptr(hierarchy, file, LLIS_DATA_TYPE_FIB_NAMES, &fib_names_field, names);
}

bool kavu_llis_write_netlist(CDB_SGATE_NETLIST* netlist, CDB_SGATE_HIERARCHY* hierarchy, int file) {
  if (!netlist) KAVU_INTERNAL_ERROR("db");
  if (!hierarchy) KAVU_INTERNAL_ERROR("hierarchy");
  return write_ptr(hierarchy, file, LLIS_DATA_TYPE_NETLIST, &cdb_sgate_netlist_ptr_field, netlist);
}

KAVU_FIB_INFO* kavu_llis_load_fib_info(CDB_SGATE_HIERARCHY* hierarchy) {
  KAVU_FIB_INFO* info = kavu_llis_read_fib_info(hierarchy, LLIS_DATA_FILE_OL);
  if (!info) KAVU_INTERNAL_ERROR("old_fib_info");
  return info;
}

CDB_SGATE_NETLIST* kavu_llis_load_netlist(CDB_SGATE_HIERARCHY* hierarchy, int file) {
  CDB_SGATE_NETLIST* netlist = kavu_llis_read_netlist(hierarchy, file);
  if (!netlist) KAVU_INTERNAL_ERROR("netlist != NULL");
  return netlist;
}

KAVU_FIB_NAMES* kavu_llis_load_fib_names(CDB_SGATE_HIERARCHY* hierarchy, int file) {
  KAVU_FIB_NAMES* names = kavu_llis_read_fib_names(hierarchy, file);
  if (!names) KAVU_INTERNAL_ERROR("names != NULL");
  return names;
}

bool kavu_llis_has_old_lutmapped_netlist(CDB_SGATE_HIERARCHY* hierarchy) {
  std::error_code ec;
  return std::filesystem::exists(
      kavu_llis_data_file_name(hierarchy, LLIS_DATA_FILE_OL, LLIS_DATA_TYPE_NETLIST, true), ec);
}

int kavu_llis_get_num_partitions_last_compile() { return 0; }

void kavu_llis_set_num_partitions_last_compile(int) {}
