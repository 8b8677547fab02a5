// cdb_sgate_removed_regs.h — the removed-register databases of a compile.
//
// A database counts the registers synthesis removed (without fan-out, stuck
// at a constant, merged into another) and lists their names; merge_with
// adds another's counts and names. Counts are never negative; reading
// refuses a record that holds one. The manager (one per process) owns the
// databases by name and knows the current one. Databases travel between
// processes as archive records (cdb_sgate_removed_regs_ptr_field, field 199
// "ptr").
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pdb/pdb.h"

class CDB_SGATE_REMOVED_REGISTERS_DB {
 public:
  CDB_SGATE_REMOVED_REGISTERS_DB() = default;
  explicit CDB_SGATE_REMOVED_REGISTERS_DB(const std::string& name) : m_name(name) {}
  const std::string& get_name() const { return m_name; }
  int get_fanoutless_count() const { return m_fanoutless; }
  int get_stuck_count() const { return m_stuck; }
  int get_merged_count() const { return m_merged; }
  void add_fanoutless(const std::string& reg) { ++m_fanoutless; m_names.push_back(reg); }
  void add_stuck(const std::string& reg) { ++m_stuck; m_names.push_back(reg); }
  void add_merged(const std::string& reg) { ++m_merged; m_names.push_back(reg); }
  const std::vector<std::string>& get_names() const { return m_names; }
  // Adds the other's counts (a sum past INT_MAX stays at INT_MAX) and
  // names; null is an internal error.
  void merge_with(const CDB_SGATE_REMOVED_REGISTERS_DB* other);
  static const PDB_THUNK_INFO* s_thunk();
  void transfer(PDB_SEGMENT& seg);

 private:
  std::string m_name;
  int m_fanoutless = 0;
  int m_stuck = 0;
  int m_merged = 0;
  std::vector<std::string> m_names;
};

void cdb_sgate_removed_regs_ptr_field(PDB_SEGMENT& seg, void* ptr_address);

class CDB_SGATE_REMOVED_REGISTERS_MANAGER {
 public:
  static CDB_SGATE_REMOVED_REGISTERS_MANAGER* get_instance();
  // A new database of that name (the sizes are hints), or the existing one.
  CDB_SGATE_REMOVED_REGISTERS_DB* create_removed_reg_db(const std::string& name, int, int);
  bool set_current_removed_reg_db(const std::string& name);
  CDB_SGATE_REMOVED_REGISTERS_DB* get_current_removed_reg_db() const { return m_current; }
  CDB_SGATE_REMOVED_REGISTERS_DB* find(const std::string& name) const;
  static void test_reset();

 private:
  std::map<std::string, std::unique_ptr<CDB_SGATE_REMOVED_REGISTERS_DB>> m_dbs;
  CDB_SGATE_REMOVED_REGISTERS_DB* m_current = nullptr;
};
