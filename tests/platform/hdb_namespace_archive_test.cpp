// The namespace archive: names, marks, bus groups, representatives and
// options reach another namespace; existing names are reused; a damaged or
// missing archive adds nothing.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cdb/cdb_sgate_removed_regs.h"
#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "hdb/hdb_section.h"
#include "pdb/pdb.h"
#include "testkit/platform_testkit.h"

namespace {

using kavu_platform::hdb_set_assignment;
using kavu_platform::hdb_set_option;

// Every name in pre-order with what the archive keeps.
std::string dump(const HDB_NAMESPACE& ns) {
  std::string out;
  std::vector<HDB_INSTANCE_NAME*> stack(ns.get_top_names().rbegin(), ns.get_top_names().rend());
  while (!stack.empty()) {
    HDB_INSTANCE_NAME* n = stack.back();
    stack.pop_back();
    out += n->get_short_hpath() + (n->is_synthesized() ? " s" : " n") + " f" + std::to_string(n->get_flags().get_value());
    if (n->get_group()) out += " in " + n->get_group()->get_short_hpath() + "[" + std::to_string(n->get_index_in_group()) + "]";
    if (n->get_representative_name()) out += " rep " + n->get_representative_name()->get_short_hpath();
    for (auto* o : HDB_DERIVED_OPTION<2, 0>::get_all_options(n, ACF_VERILOG_MACRO, true)) {
      out += std::string(" opt ") + o->get_value();
      if (HDB_INSTANCE_NAME* src = o->get_assignment()->get_source_iname()) out += " from " + src->get_short_hpath();
    }
    out += "\n";
    for (auto it = n->get_children().rbegin(); it != n->get_children().rend(); ++it) stack.push_back(*it);
  }
  for (auto* o : HDB_DERIVED_OPTION<2, 0>::get_all_options(&ns, ACF_VERILOG_MACRO, true))
    out += std::string("global ") + o->get_value() + "\n";
  return out;
}

void build(HDB_NAMESPACE* ns) {
  HDB_INSTANCE_NAME* top = ns->get_root();
  HDB_INSTANCE_NAME* u1 = HDB_INSTANCE_NAME::create_normal_name(nullptr, "u1", nullptr, nullptr, top,
                                                                HDB_INSTANCE_NAME_FLAG(0x1));
  HDB_INSTANCE_NAME* q2 = ns->create_group_instance_name(u1, "q", 2);
  HDB_INSTANCE_NAME* s = HDB_INSTANCE_NAME::create_synthesized_name(q2, "clk", false);
  HDB_INSTANCE_NAME::create_synthesized_name(u1, "n", true);
  HDB_INSTANCE_NAME::create_synthesized_name(u1, "n", true);  // "n~1"
  u1->set_representative_name(q2);
  s->get_flags().set_flag(HDB_INSTANCE_NAME_FLAG::NO_REUSE);
  hdb_set_option(u1, ACF_VERILOG_MACRO, "A=1");
  hdb_set_option(u1, ACF_VERILOG_MACRO, "B=2");
  hdb_set_assignment(s, ACF_VERILOG_MACRO, "C=3", q2);
  hdb_set_option(ns, ACF_VERILOG_MACRO, "G=0");
}

}  // namespace

TEST(HdbNamespaceArchive, NamesAndOptionsReachAnotherNamespace) {
  HDB_NAMESPACE ns("top");
  build(&ns);
  const std::string dir = std::filesystem::current_path().string();
  ASSERT_TRUE(HDB_NAMESPACE::write_pdb(&ns, dir, true));
  HDB_NAMESPACE back;
  ASSERT_TRUE(HDB_NAMESPACE::read_pdb(&back, dir));
  EXPECT_EQ(dump(back), dump(ns));
  EXPECT_NE(dump(ns).find("top|u1|q[2]~clk s f256 opt C=3 from top|u1|q[2]"), std::string::npos) << dump(ns);

  // Into a namespace that already holds some of the names: they are reused
  // and take the archived marks, nothing is doubled.
  HDB_NAMESPACE partly("top");
  HDB_INSTANCE_NAME* u1 = HDB_INSTANCE_NAME::create_normal_name(nullptr, "u1", nullptr, nullptr, partly.get_root());
  ASSERT_TRUE(HDB_NAMESPACE::read_pdb(&partly, dir));
  EXPECT_EQ(dump(partly), dump(ns));
  EXPECT_EQ(u1->get_flags().get_value(), 0x1u);

  // Without options only the names travel.
  ASSERT_TRUE(HDB_NAMESPACE::write_pdb(&ns, dir, false));
  HDB_NAMESPACE bare;
  ASSERT_TRUE(HDB_NAMESPACE::read_pdb(&bare, dir));
  EXPECT_EQ(dump(bare).find("opt"), std::string::npos);
  EXPECT_EQ(bare.get_top_names().size(), 1u);
}

TEST(HdbNamespaceArchive, MissingOrDamagedArchivesAddNothing) {
  const std::string dir = std::filesystem::current_path().string();
  HDB_NAMESPACE target;
  EXPECT_FALSE(HDB_NAMESPACE::read_pdb(&target, dir + "/none"));
  HDB_NAMESPACE ns("top");
  build(&ns);
  ASSERT_TRUE(HDB_NAMESPACE::write_pdb(&ns, dir, true));
  const std::string file = dir + "/hdb_namespace.cdb";
  std::string bytes;
  {
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_GT(bytes.size(), 40u);
  for (size_t cut : {bytes.size() - 1, bytes.size() / 2, size_t(12)}) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes.substr(0, cut);
    EXPECT_FALSE(HDB_NAMESPACE::read_pdb(&target, dir)) << cut;
    EXPECT_TRUE(target.get_top_names().empty());
  }
  // A partial name that starts with, or holds, a NUL byte is damaged data,
  // refused by the archive rather than by the name layer.
  for (size_t at : {size_t(0), size_t(1)}) {
    std::string damaged = bytes;
    const size_t pos = damaged.find("u1");
    ASSERT_NE(pos, std::string::npos);
    damaged[pos + at] = '\0';
    std::ofstream(file, std::ios::binary | std::ios::trunc) << damaged;
    EXPECT_FALSE(HDB_NAMESPACE::read_pdb(&target, dir)) << at;
    EXPECT_TRUE(target.get_top_names().empty());
  }
  // The format's null record (a pointer to nothing) is refused,
  // never read through; it used to end the reading process.
  {
    PDB_ARCHIVE null_record(dir + "/hdb_namespace", PDB_ARCHIVE::PDB_WRITE);
    void* nothing = nullptr;
    pdb_write_ptr(null_record, "", "cdb", &cdb_sgate_removed_regs_ptr_field, &nothing, 0, -1, 0);
    null_record.close();
  }
  EXPECT_FALSE(HDB_NAMESPACE::read_pdb(&target, dir));
  EXPECT_TRUE(target.get_top_names().empty());
}

namespace {

// `dump` without the lines of the top name `skip` and below.
std::string dump_without(const HDB_NAMESPACE& ns, const std::string& skip) {
  std::string out, line;
  std::istringstream in(dump(ns));
  while (std::getline(in, line))
    if (line.rfind(skip + " ", 0) != 0 && line.rfind(skip + "|", 0) != 0) out += line + "\n";
  return out;
}

// The id the next name of the process gets.
int next_id() {
  static HDB_NAMESPACE scratch("scratch");
  static int k = 0;
  return HDB_INSTANCE_NAME::create_normal_name(nullptr, ("p" + std::to_string(k++)).c_str(), nullptr, nullptr,
                                               scratch.get_root())
      ->get_id();
}

size_t count_names(const HDB_NAMESPACE& ns) {
  size_t n = 0;
  std::vector<HDB_INSTANCE_NAME*> stack(ns.get_top_names().begin(), ns.get_top_names().end());
  while (!stack.empty()) {
    HDB_INSTANCE_NAME* name = stack.back();
    stack.pop_back();
    ++n;
    stack.insert(stack.end(), name->get_children().begin(), name->get_children().end());
  }
  return n;
}

}  // namespace

// Reading into a namespace with no names makes every row without a lookup
// and indexes the children at once; it must leave what the path-by-path
// read leaves: the same names, each found again under its parent (a normal
// and a synthesized child of one text are two names), one id per name, and
// an archive that names one name twice (no writer does) read as that read
// reads it, the name reused and its ids not spent twice.
TEST(HdbNamespaceArchive, ReadIntoAnEmptyNamespaceMatchesTheReadByPath) {
  HDB_NAMESPACE ns("top");
  build(&ns);
  HDB_INSTANCE_NAME* u1 = ns.get_rooted_at("top|u1");
  ASSERT_NE(u1, nullptr);
  HDB_INSTANCE_NAME::create_normal_name(nullptr, "same", nullptr, nullptr, u1);
  HDB_INSTANCE_NAME::create_synthesized_name(u1, "same", false, true);
  // Enough names, spread over parents, for the index to fill many slots.
  std::vector<HDB_INSTANCE_NAME*> parents = {ns.get_root(), u1};
  for (int k = 0; k < 5000; ++k) {
    HDB_INSTANCE_NAME* p = parents[size_t(k * 7919) % parents.size()];
    HDB_INSTANCE_NAME* n = HDB_INSTANCE_NAME::create_synthesized_name(p, ("w" + std::to_string(k)).c_str(), false,
                                                                      k % 3 == 0);
    if (k % 5 == 0) parents.push_back(n);
  }
  HDB_INSTANCE_NAME::create_normal_name(nullptr, "dupA1", nullptr, nullptr, u1, HDB_INSTANCE_NAME_FLAG(0x8));
  HDB_INSTANCE_NAME::create_normal_name(nullptr, "dupA2", nullptr, nullptr, u1, HDB_INSTANCE_NAME_FLAG(0x100));
  const std::string dir = std::filesystem::current_path().string();
  ASSERT_TRUE(HDB_NAMESPACE::write_pdb(&ns, dir, true));
  const std::string file = dir + "/hdb_namespace.cdb";
  std::string bytes;
  {
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::string doubled = bytes;
  const size_t at = doubled.find("dupA2");
  ASSERT_NE(at, std::string::npos);
  doubled[at + 4] = '1';  // the row of "dupA2" now names "dupA1" again

  for (const std::string* archive : {&bytes, &doubled}) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << *archive;
    HDB_NAMESPACE by_path("other");  // holds a name: every row is found or made by path
    ASSERT_TRUE(HDB_NAMESPACE::read_pdb(&by_path, dir));
    HDB_NAMESPACE empty;
    const int before = next_id();
    ASSERT_TRUE(HDB_NAMESPACE::read_pdb(&empty, dir));
    const int after = next_id();
    const std::string expected = dump_without(by_path, "other");
    EXPECT_EQ(dump(empty), expected);
    EXPECT_EQ(size_t(after - before - 1), count_names(empty));
    EXPECT_EQ(count_names(empty) + 1, count_names(by_path));
    if (archive == &bytes) {
      EXPECT_EQ(dump(empty), dump(ns));
    }
    std::vector<HDB_INSTANCE_NAME*> stack(empty.get_top_names().begin(), empty.get_top_names().end());
    while (!stack.empty()) {
      HDB_INSTANCE_NAME* n = stack.back();
      stack.pop_back();
      if (HDB_INSTANCE_NAME* p = n->get_parent()) {
        EXPECT_EQ(p->find_in_children(n->get_partial_name(), n->is_synthesized() ? 2 : 1), n) << n->get_short_hpath();
        EXPECT_EQ(HDB_INSTANCE_NAME::create_child(p, n->get_partial_name(), {}, 0, n->is_synthesized()), n);
      }
      stack.insert(stack.end(), n->get_children().begin(), n->get_children().end());
    }
  }
}

namespace {

std::string file_bytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The offset of the value of the first field (tag, kind) at or after `from`
// (a field is a little-endian u16 tag, a u8 kind, then its value).
size_t value_after(const std::string& bytes, size_t from, uint16_t tag, uint8_t kind) {
  const std::string header{char(tag & 0xff), char(tag >> 8), char(kind)};
  const size_t at = bytes.find(header, from);
  return at == std::string::npos ? at : at + 3;
}

// The same, the last such field before `to`.
size_t value_before(const std::string& bytes, size_t to, uint16_t tag, uint8_t kind) {
  const std::string header{char(tag & 0xff), char(tag >> 8), char(kind)};
  const size_t at = bytes.rfind(header, to);
  return at == std::string::npos ? at : at + 3;
}

void put_u32(std::string& bytes, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) bytes[at + size_t(k)] = char(v >> (8 * k));
}

uint32_t get_u32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int k = 0; k < 4; ++k) v |= uint32_t(uint8_t(bytes[at + size_t(k)])) << (8 * k);
  return v;
}

}  // namespace

// Damaged counts and references of the archive, found through the fields
// of the rows (each row: parent u32 under tag 3, its text's length and
// characters under 4 and 5, then mark, flags, group, index, representative
// under 6 to 10; the names' and options' counts under 2 and 11). A count
// past the file, a parent at or after its own row (itself included), a
// group or representative past the rows and an option naming no row are
// refused, into an empty namespace and into one with names alike, and add
// nothing.
TEST(HdbNamespaceArchive, DamagedCountsAndReferencesAddNothing) {
  constexpr uint8_t kU32 = 2, kCount = 5;  // the file format's field kinds
  HDB_NAMESPACE ns("top");
  HDB_INSTANCE_NAME* a1 = HDB_INSTANCE_NAME::create_normal_name(nullptr, "alpha1", nullptr, nullptr, ns.get_root());
  HDB_INSTANCE_NAME* a2 = HDB_INSTANCE_NAME::create_normal_name(nullptr, "alpha2", nullptr, nullptr, a1);
  a2->set_representative_name(a1);
  hdb_set_option(a2, ACF_VERILOG_MACRO, "M=1");
  const std::string dir = std::filesystem::current_path().string();
  const std::string file = dir + "/hdb_namespace.cdb";
  ASSERT_TRUE(HDB_NAMESPACE::write_pdb(&ns, dir, true));
  const std::string bytes = file_bytes(file);
  // Rows in pre-order: top 0, alpha1 1, alpha2 2.
  const size_t text2 = bytes.find("alpha2");
  ASSERT_NE(text2, std::string::npos);
  const size_t parent2 = value_before(bytes, text2, 3, kU32);
  ASSERT_NE(parent2, std::string::npos);
  ASSERT_EQ(get_u32(bytes, parent2), 1u);
  const size_t group2 = value_after(bytes, text2, 8, kU32);
  const size_t rep2 = value_after(bytes, text2, 10, kU32);
  const size_t names = value_before(bytes, bytes.find("top"), 2, kCount);
  const size_t options = value_after(bytes, text2, 11, kCount);
  const size_t target = value_after(bytes, text2, 12, kU32);
  ASSERT_TRUE(group2 != std::string::npos && rep2 != std::string::npos && names != std::string::npos &&
              options != std::string::npos && target != std::string::npos);
  ASSERT_EQ(get_u32(bytes, rep2), 1u);
  ASSERT_EQ(get_u32(bytes, names), 3u);
  ASSERT_EQ(get_u32(bytes, options), 1u);
  ASSERT_EQ(get_u32(bytes, target), 2u);

  const struct {
    const char* what;
    size_t at;
    uint32_t value;
  } damages[] = {
      {"a row naming itself as its parent", parent2, 2},
      {"a row whose parent comes after it", parent2, 3},
      {"a row whose parent is far past the rows", parent2, 0xfffffff0u},
      {"a bus group past the rows", group2, 3},
      {"a representative past the rows", rep2, 3},
      {"a row representing itself", rep2, 2},
      {"more names than the file holds", names, 4},
      {"a names count no file can hold", names, 0x7fffffffu},
      {"more options than the file holds", options, 2},
      {"an option on a name past the rows", target, 3},
  };
  for (const auto& d : damages) {
    SCOPED_TRACE(d.what);
    std::string damaged = bytes;
    put_u32(damaged, d.at, d.value);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << damaged;
    HDB_NAMESPACE empty;
    EXPECT_FALSE(HDB_NAMESPACE::read_pdb(&empty, dir));
    EXPECT_TRUE(empty.get_top_names().empty());
    HDB_NAMESPACE held("held");
    EXPECT_FALSE(HDB_NAMESPACE::read_pdb(&held, dir));
    EXPECT_EQ(count_names(held), 1u);
  }
  // The bytes as written still read (the damages above are all that differ).
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  HDB_NAMESPACE back;
  ASSERT_TRUE(HDB_NAMESPACE::read_pdb(&back, dir));
  EXPECT_EQ(dump(back), dump(ns));
}

// Two top rows of one text (no writer makes them) are one top name, as the
// read by path makes them: the bulk read into an empty namespace once made
// the top twice, the second hiding its children from every lookup.
TEST(HdbNamespaceArchive, TwoTopRowsOfOneTextAreOneName) {
  HDB_NAMESPACE ns("topA1");
  HDB_INSTANCE_NAME::create_normal_name(nullptr, "under1", nullptr, nullptr, ns.get_root());
  HDB_INSTANCE_NAME* second = HDB_INSTANCE_NAME::create_normal_name(&ns, "topA2", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME::create_normal_name(nullptr, "under2", nullptr, nullptr, second);
  const std::string dir = std::filesystem::current_path().string();
  const std::string file = dir + "/hdb_namespace.cdb";
  ASSERT_TRUE(HDB_NAMESPACE::write_pdb(&ns, dir, false));
  std::string doubled = file_bytes(file);
  const size_t at = doubled.find("topA2");
  ASSERT_NE(at, std::string::npos);
  doubled[at + 4] = '1';  // the second top row now names "topA1" again
  std::ofstream(file, std::ios::binary | std::ios::trunc) << doubled;
  HDB_NAMESPACE by_path("other");
  ASSERT_TRUE(HDB_NAMESPACE::read_pdb(&by_path, dir));
  HDB_NAMESPACE empty;
  ASSERT_TRUE(HDB_NAMESPACE::read_pdb(&empty, dir));
  EXPECT_EQ(dump(empty), "topA1 n f131072\ntopA1|under1 n f0\ntopA1|under2 n f0\n");  // a top is a hierarchy root
  EXPECT_EQ(dump(empty), dump_without(by_path, "other"));
  ASSERT_EQ(empty.get_top_names().size(), 1u);
  EXPECT_NE(empty.get_rooted_at("topA1|under2"), nullptr);
}
