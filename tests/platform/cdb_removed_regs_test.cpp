// The removed-register archive under damaged counts: huge counts merge
// without wrapping, negative ones are refused as damaged data.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "cdb/cdb_sgate_removed_regs.h"
#include "pdb/pdb.h"
#include "platform_testkit.h"

namespace {

// The payload of a database with one register of each kind.
std::vector<uint8_t> one_of_each() {
  CDB_SGATE_REMOVED_REGISTERS_DB db("reg_db_x_0");
  db.add_fanoutless("top|a");
  db.add_stuck("top|b");
  db.add_merged("top|c");
  PDB_ARCHIVE a;
  a.open("regs", PDB_ARCHIVE::PDB_WRITE);
  void* p = &db;
  pdb_write_ptr(a, "", "cdb", &cdb_sgate_removed_regs_ptr_field, &p, 0, -1, 0);
  return *a.find_record("", "cdb");
}

// Sets the 32-bit value of the signed field `tag` (header: tag, kind 1).
void set_count(std::vector<uint8_t>* payload, uint8_t tag, int32_t value) {
  const uint8_t header[] = {tag, 0, 1};
  auto at = std::search(payload->begin(), payload->end(), std::begin(header), std::end(header));
  ASSERT_NE(at, payload->end());
  std::memcpy(&*(at + 3), &value, 4);
}

std::unique_ptr<CDB_SGATE_REMOVED_REGISTERS_DB> read_back(const std::vector<uint8_t>& payload) {
  {
    PDB_ARCHIVE w;
    w.open("regs", PDB_ARCHIVE::PDB_WRITE);
    w.put_record("", "cdb", payload);
    w.close();
  }
  PDB_ARCHIVE r;
  r.open("regs", PDB_ARCHIVE::PDB_READ);
  void* q = nullptr;
  pdb_read_ptr(r, "", "cdb", &cdb_sgate_removed_regs_ptr_field, &q, nullptr, "");
  return std::unique_ptr<CDB_SGATE_REMOVED_REGISTERS_DB>(static_cast<CDB_SGATE_REMOVED_REGISTERS_DB*>(q));
}

}  // namespace

TEST(RemovedRegisters, CountsNearIntMaxMergeWithoutWrapping) {
  std::vector<uint8_t> payload = one_of_each();
  set_count(&payload, 3, INT_MAX);
  set_count(&payload, 4, INT_MAX - 1);
  std::unique_ptr<CDB_SGATE_REMOVED_REGISTERS_DB> back = read_back(payload);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->get_fanoutless_count(), INT_MAX);
  CDB_SGATE_REMOVED_REGISTERS_DB total("main");
  total.merge_with(back.get());
  total.merge_with(back.get());
  EXPECT_EQ(total.get_fanoutless_count(), INT_MAX);
  EXPECT_EQ(total.get_stuck_count(), INT_MAX);
  EXPECT_EQ(total.get_merged_count(), 2);
  EXPECT_EQ(total.get_names().size(), 6u);
}

TEST(RemovedRegisters, NegativeCountsAreDamagedData) {
  for (uint8_t tag : {3, 4, 5}) {
    std::vector<uint8_t> payload = one_of_each();
    set_count(&payload, tag, INT_MIN);
    EXPECT_THROW(read_back(payload), PDB_DATABASE_EXCEPTION) << int(tag);
  }
}
