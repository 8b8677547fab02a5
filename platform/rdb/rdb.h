// Role: report tables (docs/platform.md, "Report tables").
// rdb.h — report tables: the compile's report as a tree of folders holding
// tables of text rows, kept in memory and printable as text.
//
// Model: an RDB_REPORT owns a root folder and points at a current folder
// (the root unless set). A folder owns its child folders and tables, each
// kept in order of creation and found by name (exact text). A table has a
// fixed list of column names and rows of as many texts.
// Rows of the wrong width, null folders and null tables are internal errors
// (PLAT_CHECK, component "PLATFORM").
// Not thread-safe. Cost: lookups are linear in a folder's children.
#pragma once

#include <memory>
#include <string>
#include <vector>

// Folder, table and column names of the synthesis report.
extern const char* const RDB_SYNTH_OPTIMIZATION_RESULTS;
extern const char* const RDB_SYNTH_REGISTERS_PACKED_INTO_INFERRED_TOLVAFUNCTIONS;
extern const char* const RDB_SYNTH_REGISTER_NAME;
extern const char* const RDB_SYNTH_TOLVAFUNCTION;
extern const char* const RDB_SYNTH_TOLVAFUNCTION_TYPE;

class RDB_OBJECT {
 public:
  explicit RDB_OBJECT(std::string name) : m_name(std::move(name)) {}
  virtual ~RDB_OBJECT() = default;
  RDB_OBJECT(const RDB_OBJECT&) = delete;
  RDB_OBJECT& operator=(const RDB_OBJECT&) = delete;
  const std::string& get_name() const { return m_name; }

 private:
  std::string m_name;
};

class RDB_TABLE : public RDB_OBJECT {
 public:
  RDB_TABLE(std::string name, std::vector<std::string> columns)
      : RDB_OBJECT(std::move(name)), m_columns(std::move(columns)) {}
  const std::vector<std::string>& get_columns() const { return m_columns; }
  const std::vector<std::vector<std::string>>& get_rows() const { return m_rows; }
  // A row of exactly as many texts as there are columns.
  void add_row(const std::vector<std::string>& row);

 private:
  std::vector<std::string> m_columns;
  std::vector<std::vector<std::string>> m_rows;
};

class RDB_FOLDER : public RDB_OBJECT {
 public:
  explicit RDB_FOLDER(std::string name) : RDB_OBJECT(std::move(name)) {}
  RDB_FOLDER* find_folder(const std::string& name) const;
  RDB_TABLE* find_table(const std::string& name) const;
  RDB_FOLDER* add_folder(const std::string& name);
  // A new table; an existing table of that name is returned as it is.
  RDB_TABLE* add_table(const std::string& name, const std::vector<std::string>& columns);
  // Removes and destroys the table; false when it is not a child.
  bool remove_table(RDB_TABLE* table);
  size_t folder_count() const { return m_folders.size(); }
  size_t table_count() const { return m_tables.size(); }
  // Indented text of the folder, its tables (columns, then rows separated
  // by " ; ") and its child folders, in order of creation.
  std::string to_text(int indent = 0) const;

 private:
  std::vector<std::unique_ptr<RDB_FOLDER>> m_folders;
  std::vector<std::unique_ptr<RDB_TABLE>> m_tables;
};

class RDB_REPORT {
 public:
  RDB_REPORT() : m_root("Root"), m_current(&m_root) {}
  RDB_REPORT(const RDB_REPORT&) = delete;
  RDB_REPORT& operator=(const RDB_REPORT&) = delete;
  RDB_FOLDER* get_root_folder() { return &m_root; }
  // Null when cleared by set_current_folder(nullptr).
  RDB_FOLDER* get_current_folder() const { return m_current; }
  void set_current_folder(RDB_FOLDER* folder) { m_current = folder; }
  std::string to_text() const { return m_root.to_text(); }

 private:
  RDB_FOLDER m_root;
  RDB_FOLDER* m_current;
};

// The child folder of that name, created when missing and `create` is set;
// null otherwise.
RDB_FOLDER* rdb_get_folder_by_name(RDB_FOLDER* current, const std::string& name, bool create);
// The folder's table of that name, created with the columns when missing.
RDB_TABLE* zcu_get_table_object(RDB_FOLDER* folder, const std::string& name, const std::vector<std::string>& columns);
void zcu_add_data_row_to_report_table(RDB_TABLE* table, const std::vector<std::string>& row);
// Removes the table from the folder when it has no rows; true when removed.
bool zcu_check_and_remove_empty_table(RDB_FOLDER* folder, RDB_TABLE* table);

// ---- synthesis report folders (rdb_zcu_folder.cpp)
extern const char* const RDB_SYNTH_MAST_MUX_STATS;
// The folder `name` under the report's root folder, then its child folder
// `sub`, each created when missing. A null report is an internal error.
RDB_FOLDER* zcu_get_folder(RDB_REPORT* report, const std::string& name, const std::string& sub);
// Appends one text to a row under construction.
void zcu_add_elem_to_report_table_data_row(std::vector<std::string>& row, const std::string& text);
