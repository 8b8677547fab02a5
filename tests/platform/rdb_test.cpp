// Tests of the in-memory report tables: folder lookup and creation, table
// reuse, row width, removal of empty tables and the text form.
#include "platform_testkit.h"
#include "rdb/rdb.h"

using namespace kavu_platform;

TEST(RdbTables, FoldersTablesRowsAndRemoval) {
  RDB_REPORT report;
  RDB_FOLDER* cur = report.get_current_folder();
  ASSERT_EQ(cur, report.get_root_folder());
  EXPECT_EQ(rdb_get_folder_by_name(cur, "Synthesis", false), nullptr);
  RDB_FOLDER* f = rdb_get_folder_by_name(cur, "Synthesis", true);
  EXPECT_EQ(rdb_get_folder_by_name(cur, "Synthesis", true), f);  // found, not made twice
  EXPECT_EQ(cur->folder_count(), 1u);

  RDB_TABLE* t = zcu_get_table_object(f, "Regs", {"Name", "Kind"});
  EXPECT_EQ(zcu_get_table_object(f, "Regs", {"ignored"}), t);
  EXPECT_TRUE(zcu_check_and_remove_empty_table(f, zcu_get_table_object(f, "Other", {"A"})));
  EXPECT_EQ(f->table_count(), 1u);  // the empty table went, the other stays
  zcu_add_data_row_to_report_table(t, {"q[0]", "dff"});
  EXPECT_FALSE(zcu_check_and_remove_empty_table(f, t));
  EXPECT_KAVU_INTERNAL_ERROR(zcu_add_data_row_to_report_table(t, {"only one"}), "row.size");
  EXPECT_EQ(report.to_text(),
            "Folder: Root\n  Folder: Synthesis\n    Table: Regs\n      Name ; Kind\n      q[0] ; dff\n");
}
