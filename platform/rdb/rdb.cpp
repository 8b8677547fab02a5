// rdb.cpp — report tables in memory (contract in rdb.h).
#include "rdb/rdb.h"

#include <algorithm>

#include "msg/msg.h"

const char* const RDB_SYNTH_OPTIMIZATION_RESULTS = "Optimization Results";
const char* const RDB_SYNTH_REGISTERS_PACKED_INTO_INFERRED_TOLVAFUNCTIONS =
    "Registers Packed Into Inferred Tolvafunctions";
const char* const RDB_SYNTH_REGISTER_NAME = "Register Name";
const char* const RDB_SYNTH_TOLVAFUNCTION = "Tolvafunction";
const char* const RDB_SYNTH_TOLVAFUNCTION_TYPE = "Tolvafunction Type";

void RDB_TABLE::add_row(const std::vector<std::string>& row) {
  PLAT_CHECK(row.size() == m_columns.size(), "PLATFORM");
  m_rows.push_back(row);
}

RDB_FOLDER* RDB_FOLDER::find_folder(const std::string& name) const {
  for (const auto& f : m_folders)
    if (f->get_name() == name) return f.get();
  return nullptr;
}

RDB_TABLE* RDB_FOLDER::find_table(const std::string& name) const {
  for (const auto& t : m_tables)
    if (t->get_name() == name) return t.get();
  return nullptr;
}

RDB_FOLDER* RDB_FOLDER::add_folder(const std::string& name) {
  m_folders.push_back(std::make_unique<RDB_FOLDER>(name));
  return m_folders.back().get();
}

RDB_TABLE* RDB_FOLDER::add_table(const std::string& name, const std::vector<std::string>& columns) {
  if (RDB_TABLE* t = find_table(name)) return t;
  m_tables.push_back(std::make_unique<RDB_TABLE>(name, columns));
  return m_tables.back().get();
}

bool RDB_FOLDER::remove_table(RDB_TABLE* table) {
  auto it = std::find_if(m_tables.begin(), m_tables.end(), [table](const auto& t) { return t.get() == table; });
  if (it == m_tables.end()) return false;
  m_tables.erase(it);
  return true;
}

std::string RDB_FOLDER::to_text(int indent) const {
  const std::string pad(static_cast<size_t>(indent) * 2, ' ');
  std::string text = pad + "Folder: " + get_name() + "\n";
  auto join = [](const std::vector<std::string>& cells) {
    std::string s;
    for (size_t i = 0; i < cells.size(); ++i) s += (i ? " ; " : "") + cells[i];
    return s;
  };
  for (const auto& t : m_tables) {
    text += pad + "  Table: " + t->get_name() + "\n";
    text += pad + "    " + join(t->get_columns()) + "\n";
    for (const auto& row : t->get_rows()) text += pad + "    " + join(row) + "\n";
  }
  for (const auto& f : m_folders) text += f->to_text(indent + 1);
  return text;
}

RDB_FOLDER* rdb_get_folder_by_name(RDB_FOLDER* current, const std::string& name, bool create) {
  PLAT_CHECK(current != nullptr, "PLATFORM");
  if (RDB_FOLDER* f = current->find_folder(name)) return f;
  return create ? current->add_folder(name) : nullptr;
}

RDB_TABLE* zcu_get_table_object(RDB_FOLDER* folder, const std::string& name, const std::vector<std::string>& columns) {
  PLAT_CHECK(folder != nullptr, "PLATFORM");
  return folder->add_table(name, columns);
}

void zcu_add_data_row_to_report_table(RDB_TABLE* table, const std::vector<std::string>& row) {
  PLAT_CHECK(table != nullptr, "PLATFORM");
  table->add_row(row);
}

bool zcu_check_and_remove_empty_table(RDB_FOLDER* folder, RDB_TABLE* table) {
  PLAT_CHECK(folder != nullptr && table != nullptr, "PLATFORM");
  return table->get_rows().empty() && folder->remove_table(table);
}
