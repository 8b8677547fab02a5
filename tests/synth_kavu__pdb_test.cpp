// Persisted record types: every type through a real archive file and back,
// damaged archives refused without harm to the caller's object, and the
// allocation callbacks.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

#include "cdb/cdb_sgate.h"
#include "mem/mem.h"
#include "platform_testkit.h"
#include "synth_kavu__pdb.h"

namespace {

using namespace kavu_platform;

std::vector<uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

// Any registered type as the pointer record of an archive.
const PDB_THUNK_INFO* g_thunk = nullptr;
void any_ptr_field(PDB_SEGMENT& seg, void* address) {
  seg.set_field(199, "ptr");
  seg.transfer_ptr(*static_cast<void**>(address), *g_thunk);
}

template <class T>
std::unique_ptr<T> round_trip(const PDB_THUNK_INFO* thunk, T* in) {
  g_thunk = thunk;
  void* out = nullptr;
  {
    PDB_ARCHIVE ar("rec", PDB_ARCHIVE::PDB_WRITE);
    pdb_write_ptr(ar, "", "cdb", &any_ptr_field, &in, 0, -1, 0);
    ar.close();
  }
  PDB_ARCHIVE ar("rec", PDB_ARCHIVE::PDB_READ);
  pdb_read_ptr(ar, "", "cdb", &any_ptr_field, &out, nullptr, "test");
  return std::unique_ptr<T>(static_cast<T*>(out));
}

KAVU_FIB_INFO sample_fib_info() {
  KAVU_FIB_INFO info;
  info.m_fib_set = {"top|a", "top|b~reg0", ""};
  info.m_old_lutmapped_node_ids = {0, 7, 0xffffffffu};
  info.m_number_of_fibs_oterms = 3;
  info.m_number_of_fibs_nodes = 0x80000000u;
  info.m_merge_is_successful = true;
  return info;
}

std::map<uint32_t, std::pair<uint32_t, std::string>> as_map(const KAVU_FIB_NAMES& names) {
  std::map<uint32_t, std::pair<uint32_t, std::string>> m;
  for (auto it = names.m_id_to_partial_name.begin(); it != names.m_id_to_partial_name.end(); ++it) {
    m[it->first] = it->second;
  }
  return m;
}

TEST(SynthKavuPdb, EveryRecordTypeRoundTripsThroughAFile) {
  CDB_SGATE_COMPATIBLE_REGISTERS_INFO regs{-5, 1 << 30};
  auto regs_out = round_trip(kavu_pdb_compatible_registers_thunk(), &regs);
  EXPECT_EQ(regs_out->set_id, -5);
  EXPECT_EQ(regs_out->chain_id, 1 << 30);

  // Only bits 0 and 1 are persisted: bit 1 alone reads back alone.
  CDB_SGATE_HIGH_SPEED_REGISTER hs;
  hs.m_bits = 0xfe;
  EXPECT_EQ(round_trip(kavu_pdb_high_speed_register_thunk(), &hs)->m_bits, 0x02);

  CDB_SGATE_MAST_REPORT report{"mast", {{"a", "", "c"}, {}, {"d"}}};
  auto report_out = round_trip(kavu_pdb_mast_report_thunk(), &report);
  EXPECT_EQ(report_out->m_name, "mast");
  EXPECT_EQ(report_out->m_rows, report.m_rows);

  CDB_ATOM_SYNTH_DATA data{11, 12, -3, 2147483647};
  auto data_out = round_trip(kavu_pdb_atom_synth_data_thunk(), &data);
  EXPECT_EQ(data_out->m_fanin_delay, -3);
  EXPECT_EQ(data_out->m_fanout_delay, 2147483647);
  EXPECT_EQ(data_out->m_atom_id, 0u);  // the atom database's own fields are not ours

  KAVU_FIBS_TO_INVALIDATE fibs;
  fibs.m_fibs = {"x", "x", std::string(300, 'y')};
  EXPECT_EQ(round_trip(KAVU_FIBS_TO_INVALIDATE::pdb_thunk(), &fibs)->m_fibs, fibs.m_fibs);

  KAVU_FIB_INFO info = sample_fib_info();
  auto info_out = round_trip(KAVU_FIB_INFO::pdb_thunk(), &info);
  EXPECT_EQ(info_out->m_fib_set, info.m_fib_set);
  EXPECT_EQ(info_out->m_old_lutmapped_node_ids, info.m_old_lutmapped_node_ids);
  EXPECT_EQ(info_out->m_number_of_fibs_oterms, 3u);
  EXPECT_EQ(info_out->m_number_of_fibs_nodes, 0x80000000u);
  EXPECT_TRUE(info_out->m_merge_is_successful);

  // 10^5 names: the table is sized once for the count, not grown on the way.
  KAVU_FIB_NAMES names;
  for (uint32_t id = 1; id <= 100000; ++id) {
    names.m_ordered_partial_names.push_back(id % 7 ? id : 0);
    names.m_id_to_partial_name.insert(id, {id / 2, "n" + std::to_string(id)});
  }
  auto names_out = round_trip(KAVU_FIB_NAMES::pdb_thunk(), &names);
  EXPECT_EQ(names_out->m_ordered_partial_names, names.m_ordered_partial_names);
  EXPECT_EQ(as_map(*names_out), as_map(names));
  EXPECT_GE(names_out->m_id_to_partial_name.fill_limit(), 100000u);

}

// Each record type's bytes on disk: a stored archive read and written back
// gives the same file, so every field keeps its tag, kind and order (a
// round trip alone cannot see a field written under another tag).
TEST(SynthKavuPdb, StoredArchivesReadAndWriteBackByteForByte) {
  const struct {
    const char* file;
    const PDB_THUNK_INFO* thunk;
    bool names;  // written with the field names
  } cases[] = {{"compatible_registers", kavu_pdb_compatible_registers_thunk(), false},
               {"high_speed_register", kavu_pdb_high_speed_register_thunk(), false},
               {"mast_report", kavu_pdb_mast_report_thunk(), false},
               {"atom_synth_data", kavu_pdb_atom_synth_data_thunk(), false},
               {"fibs_to_invalidate", KAVU_FIBS_TO_INVALIDATE::pdb_thunk(), false},
               {"fib_info", KAVU_FIB_INFO::pdb_thunk(), false},
               {"fib_info_named", KAVU_FIB_INFO::pdb_thunk(), true},
               {"fib_names", KAVU_FIB_NAMES::pdb_thunk(), false},
               {"null_pointer", KAVU_FIB_INFO::pdb_thunk(), true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    CFG_SCOPE cfg{{"pdb_check_names", c.names ? "on" : "off"}};
    const std::string golden = std::string(KAVU_TEST_DATA_DIR "/pdb/") + c.file;
    g_thunk = c.thunk;
    void* record = nullptr;
    {
      PDB_ARCHIVE ar(golden, PDB_ARCHIVE::PDB_READ);
      pdb_read_ptr(ar, "", "cdb", &any_ptr_field, &record, nullptr, "test");
    }
    {
      PDB_ARCHIVE ar("back", PDB_ARCHIVE::PDB_WRITE);
      pdb_write_ptr(ar, "", "cdb", &any_ptr_field, &record, 0, -1, 0);
      ar.close();
    }
    EXPECT_EQ(file_bytes("back.cdb"), file_bytes(golden + ".cdb"));
    if (record) {
      c.thunk->get_destroy()(record);
      ::operator delete(record);
    }
  }
}

// Damaged archives give the persistence exception and leave the caller's
// object as it was; nothing crashes, hangs or allocates by a stored count.
TEST(SynthKavuPdb, DamagedArchivesAreRefusedAndKeepTheCallersObject) {
  KAVU_FIB_INFO info = sample_fib_info();
  {
    PDB_ARCHIVE ar("good", PDB_ARCHIVE::PDB_WRITE);
    ASSERT_TRUE(kavu_pdb_write_fib_info_ptr(ar, &info));
    ar.close();
  }
  const std::vector<uint8_t> good = file_bytes("good.cdb");
  auto find = [&](std::vector<uint8_t> pattern) {
    auto it = std::search(good.begin(), good.end(), pattern.begin(), pattern.end());
    EXPECT_NE(it, good.end());
    return static_cast<size_t>(it - good.begin());
  };
  const size_t tag92 = find({92, 0, 2});         // m_number_of_fibs_oterms, uint32
  const size_t count90 = find({90, 0, 5}) + 3;    // the count of m_fib_set
  const size_t hash = find({0x7e, 0x80, 0xba, 0x63});
  auto patched = [&](size_t at, std::vector<uint8_t> bytes) {
    std::vector<uint8_t> b = good;
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<long>(at));
    return b;
  };
  struct CASE {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  const std::vector<CASE> cases = {
      {"empty file", {}},
      {"other magic", patched(7, {'9'})},
      {"truncated header", std::vector<uint8_t>(good.begin(), good.begin() + 12)},
      {"truncated payload", std::vector<uint8_t>(good.begin(), good.end() - 1)},
      {"half the file", std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2)},
      {"flipped tag byte", patched(tag92, {92 ^ 0x10})},
      {"count over the limit", patched(count90, {0xff, 0xff, 0xff, 0x3f})},
      {"count larger than the file", patched(count90, {0x00, 0x00, 0x10, 0x00})},
      {"wrong class hash", patched(hash, {0x7f})},
      {"trailing bytes", [&] { auto b = good; b.insert(b.end(), {1, 2, 3}); return b; }()},
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.what);
    write_bytes("bad.cdb", c.bytes);
    KAVU_FIB_INFO* owned = new KAVU_FIB_INFO(sample_fib_info());
    owned->m_number_of_fibs_oterms = 42;
    KAVU_FIB_INFO* const before = owned;
    EXPECT_THROW(
        {
          PDB_ARCHIVE ar("bad", PDB_ARCHIVE::PDB_READ);
          kavu_pdb_read_fib_info_ptr(ar, owned);
        },
        PDB_DATABASE_EXCEPTION);
    EXPECT_EQ(owned, before);
    EXPECT_EQ(owned->m_number_of_fibs_oterms, 42u);
    EXPECT_EQ(owned->m_fib_set, info.m_fib_set);
    delete owned;
  }

  // A missing file is an invalid path; a missing record reads false and
  // keeps the object; a good read replaces it.
  EXPECT_THROW({ PDB_ARCHIVE absent("absent", PDB_ARCHIVE::PDB_READ); }, PDB_INVALID_PATH);
  PDB_ARCHIVE("empty", PDB_ARCHIVE::PDB_WRITE).close();
  KAVU_FIB_INFO* owned = new KAVU_FIB_INFO(info);
  PDB_ARCHIVE empty("empty", PDB_ARCHIVE::PDB_READ);
  EXPECT_FALSE(kavu_pdb_read_fib_info_ptr(empty, owned));
  EXPECT_EQ(owned->m_number_of_fibs_oterms, 3u);
  PDB_ARCHIVE in("good", PDB_ARCHIVE::PDB_READ);
  EXPECT_TRUE(kavu_pdb_read_fib_info_ptr(in, owned));
  EXPECT_EQ(owned->m_fib_set, info.m_fib_set);
  delete owned;
}

// Chunk blocks come back as the allocator found them; records made from
// them must still start zeroed.
TEST(SynthKavuPdb, ChunkAllocatedRecordsStartZeroed) {
  CFG_SCOPE cfg{{"mem_chunk_alloc", "on"}};
  MEM_UTILS_CHUNK_ALLOC alloc;
  const PDB_THUNK_INFO* thunk = kavu_pdb_compatible_registers_thunk();
  const size_t count = 5;
  const size_t bytes = 8 + count * sizeof(CDB_SGATE_COMPATIBLE_REGISTERS_INFO);
  void* dirty = alloc.chunk_malloc(bytes, 4);
  std::memset(dirty, 0xab, bytes);
  alloc.chunk_free(dirty, bytes);

  auto* regs = static_cast<CDB_SGATE_COMPATIBLE_REGISTERS_INFO*>(thunk->get_array_create()(count, &alloc));
  uint64_t stored = 0;
  std::memcpy(&stored, reinterpret_cast<char*>(regs) - 8, 8);
  EXPECT_EQ(stored, count);
  for (size_t i = 0; i < count; ++i) EXPECT_EQ(regs[i].set_id | regs[i].chain_id, 0) << i;
  alloc.chunk_free(reinterpret_cast<char*>(regs) - 8, bytes);

}

}  // namespace
