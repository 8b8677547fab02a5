// rdb_zcu_folder.cpp — folders of the synthesis report and row building
// (contract in rdb.h).
#include "msg/msg.h"
#include "rdb/rdb.h"

const char* const RDB_SYNTH_MAST_MUX_STATS = "Multiplexer Restructuring Statistics";

RDB_FOLDER* zcu_get_folder(RDB_REPORT* report, const std::string& name, const std::string& sub) {
  PLAT_CHECK(report != nullptr, "PLATFORM");
  RDB_FOLDER* folder = rdb_get_folder_by_name(report->get_root_folder(), name, true);
  return rdb_get_folder_by_name(folder, sub, true);
}

void zcu_add_elem_to_report_table_data_row(std::vector<std::string>& row, const std::string& text) {
  row.push_back(text);
}
