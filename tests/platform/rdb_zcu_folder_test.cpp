// Tests of the synthesis report's folder pairs and row building.
#include "platform_testkit.h"
#include "rdb/rdb.h"

using namespace kavu_platform;

TEST(RdbZcuFolder, NestedFolderIsMadeOnceUnderTheRoot) {
  RDB_REPORT report;
  report.set_current_folder(report.get_root_folder()->add_folder("Elsewhere"));
  RDB_FOLDER* f = zcu_get_folder(&report, "Top Optimization Results", RDB_SYNTH_MAST_MUX_STATS);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->get_name(), RDB_SYNTH_MAST_MUX_STATS);
  RDB_FOLDER* top = report.get_root_folder()->find_folder("Top Optimization Results");
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top->find_folder(RDB_SYNTH_MAST_MUX_STATS), f);
  EXPECT_EQ(zcu_get_folder(&report, "Top Optimization Results", RDB_SYNTH_MAST_MUX_STATS), f);
  EXPECT_EQ(report.get_root_folder()->folder_count(), 2u);
  EXPECT_EQ(top->folder_count(), 1u);
  std::vector<std::string> row;
  zcu_add_elem_to_report_table_data_row(row, "a");
  zcu_add_elem_to_report_table_data_row(row, "");
  EXPECT_EQ(row, (std::vector<std::string>{"a", ""}));
  EXPECT_KAVU_INTERNAL_ERROR(zcu_get_folder(nullptr, "a", "b"), "report");
}
