// The function database KAVU_FDB: deposits, look-ups through the canonical
// form, copies and merges, the text file and its damaged forms.

#include <fstream>
#include <memory>
#include <sstream>

#include "kavu_01tbl_encnet.h"
#include "kavu_01tbl_fdb.h"
#include "kavu_01tbl_test_support.h"

namespace {

// A one-LUT network over n <= 6 fan-ins computing t, with the given area
// cost and hit count.
KAVU_ENCNET single_lut_net(const KAVU_01TBL& t, unsigned area, unsigned hits) {
  const unsigned n = t.num_vars();
  KAVU_ENCNET net(1);
  net.set_num_fanins(n);
  net.set_num_hits(hits);
  net.set_area_cost(area);
  net.set_word(2, n);
  net.set_word(3, t.length() == 2 ? t.word(1) : 0);
  net.set_word(4, t.word(0));
  for (unsigned j = 0; j < 6; ++j) net.set_word(5 + j, j < n ? 3 + j : 2);
  return net;
}

// A database of `count` canonical functions of 5 and 6 inputs (random
// enough that no two coincide).
void fill(KAVU_FDB& db, unsigned count, unsigned seed) {
  std::mt19937 rng(seed);
  for (unsigned i = 0; i < count; ++i) {
    KAVU_01TBL t = kavu_01tbl_test::random_table(5 + i % 2, rng);
    std::vector<unsigned> var_map;
    std::vector<bool> phase;
    t.canonical(var_map, phase);
    KAVU_ENCNET net = single_lut_net(t, 10 + i % 7, 1 + i % 5);
    db.deposit(t, net, true);
  }
}

// Every entry as text (table, then network words), sorted, so that two
// databases compare independently of hash order.
std::vector<std::string> snapshot(KAVU_FDB& db) {
  std::vector<KAVU_01TBL*> tables;
  db.functions(tables);
  std::vector<std::string> out;
  for (KAVU_01TBL* t : tables) {
    std::vector<unsigned> words;
    t->dump(words);
    db.find(t)->dump(words);
    std::ostringstream s;
    for (unsigned w : words) s << w << ' ';
    out.push_back(s.str());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> read_lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void write_lines(const std::string& path, const std::vector<std::string>& lines) {
  std::ofstream out(path);
  for (const std::string& line : lines) out << line << '\n';
}

}  // namespace

TEST(KavuFdbDeposit, CheaperNetworksWinAndHitsAddUp) {
  KAVU_FDB db;
  KAVU_01TBL t(3);
  t.set_or();
  KAVU_ENCNET net = single_lut_net(t, 20, 3), dear = single_lut_net(t, 25, 4), same = single_lut_net(t, 20, 1),
              cheap = single_lut_net(t, 12, 2), busy = single_lut_net(t, 30, 0x3FFFF0);
  EXPECT_TRUE(db.deposit(t, net, true));
  EXPECT_EQ(db.mem_space(), t.mem_space() + net.mem_space());
  EXPECT_FALSE(db.deposit(t, dear, true));
  EXPECT_FALSE(db.deposit(t, same, true));
  EXPECT_EQ(db.change_count(), 1u);
  EXPECT_TRUE(db.find(&t)->area_cost() == 20u && db.find(&t)->num_hits() == 8u);
  EXPECT_TRUE(db.deposit(t, cheap, true));
  EXPECT_TRUE(db.find(&t)->area_cost() == 12u && db.find(&t)->num_hits() == 10u);
  EXPECT_TRUE(db.deposit(t, dear, false));  // keep_cheaper off: replaced
  EXPECT_EQ(db.find(&t)->area_cost(), 25u);
  EXPECT_EQ(db.change_count(), 3u);
  // Hit sums saturate instead of failing on a heavily used entry.
  db.deposit(t, busy, true);
  db.deposit(t, busy, true);
  EXPECT_NE(db.lookup(&t), nullptr);
  EXPECT_EQ(db.find(&t)->num_hits(), 0x3FFFFFu);
  KAVU_01TBL four(4);
  EXPECT_KAVU_INTERNAL_ERROR(db.deposit(four, net, true), "tbl.num_vars() == net.num_fanins()");
  EXPECT_TRUE(!db.exists(&four) && db.lookup(&four) == nullptr);
}

// Copies are deep; a merge adds what the target lacks.
TEST(KavuFdbCopy, CopiesAreDeepAndMergeAddsEntries) {
  auto original = std::make_unique<KAVU_FDB>();
  fill(*original, 30, 1);
  KAVU_FDB copy(*original), assigned, other;
  fill(assigned, 5, 2);
  assigned = *original;
  const std::vector<std::string> expect = snapshot(*original);
  original.reset();  // the copies must own their own entries
  EXPECT_TRUE(snapshot(copy) == expect && snapshot(assigned) == expect);
  fill(other, 10, 3);
  const unsigned space = copy.mem_space() + other.mem_space();
  copy.merge(other);
  EXPECT_TRUE(copy.change_count() == 10u && copy.mem_space() == space);
  std::vector<KAVU_01TBL*> tables;
  other.functions(tables);
  for (KAVU_01TBL* t : tables) EXPECT_TRUE(copy.exists(t));
}

TEST(KavuFdbLookup, CanonicalLookupRebuildsTheCallersFunction) {
  KAVU_FDB db;
  std::mt19937 rng(5);
  for (unsigned trial = 0; trial < 40; ++trial) {
    const unsigned n = 2 + trial % 5;
    KAVU_01TBL f = kavu_01tbl_test::random_table(n, rng);
    KAVU_01TBL g(f);
    std::vector<unsigned> var_map;
    std::vector<bool> phase;
    g.canonical(var_map, phase);
    KAVU_ENCNET net = single_lut_net(g, 10, 0);
    db.deposit(g, net, true);
    const KAVU_01TBL before(f);
    bool out = true;
    KAVU_ENCNET* found = db.lookup(&f, &out, var_map, phase);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(f, before);  // the caller's table is not changed
    EXPECT_GE(found->num_hits(), 1u);
    // Decode with fan-in i = input var_map[i] (complemented where its phase
    // is false), the output complemented when out is false.
    for (unsigned x = 0; x < (1u << n); ++x) {
      unsigned y = 0;
      for (unsigned i = 0; i < n; ++i)
        if ((((x >> var_map[i]) & 1u) != 0) == phase[var_map[i]]) y |= 1u << i;
      EXPECT_EQ(eval_encnet(*found, y) == out, f.minterm(x) != 0) << "trial " << trial << " x " << x;
    }
  }
}

TEST(KavuFdbFile, WriteReadRoundTripsAndRereadsDoubleHits) {
  KAVU_FDB db;
  fill(db, 60, 4);
  // Words with the top bit set go out as full unsigned decimals.
  KAVU_01TBL ones(5);
  ones.set_vcc();
  KAVU_ENCNET net = single_lut_net(ones, 10, 1);
  db.deposit(ones, net, true);
  ASSERT_TRUE(db.write("db.fdb"));
  const std::vector<std::string> lines = read_lines("db.fdb");
  ASSERT_EQ(lines.size(), 32 + db.mem_space() / 4);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 2), (std::vector<std::string>{"1447773517", "1296386902"}));
  EXPECT_EQ(lines[4], "61");
  EXPECT_EQ(lines[5], std::to_string(db.mem_space()));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "4294967295"), lines.end());

  KAVU_FDB back("db.fdb");
  EXPECT_EQ(snapshot(back), snapshot(db));
  EXPECT_TRUE(back.mem_space() == db.mem_space() && back.change_count() == 61u);
  // A second read keeps the entries, doubles the hits and changes nothing.
  std::vector<KAVU_01TBL*> tables;
  back.functions(tables);
  std::vector<unsigned> hits;
  for (KAVU_01TBL* t : tables) hits.push_back(back.find(t)->num_hits());
  ASSERT_TRUE(back.read("db.fdb"));
  EXPECT_EQ(back.change_count(), 0u);
  for (size_t i = 0; i < tables.size(); ++i) EXPECT_EQ(back.find(tables[i])->num_hits(), 2 * hits[i]);

  // read_all goes on past a missing file and counts the good ones.
  write_lines("list.txt", {"db.fdb", "missing.fdb", "db.fdb"});
  KAVU_FDB listed;
  EXPECT_EQ(listed.read_all("list.txt"), 2);
  EXPECT_EQ(listed.change_count(), 61u);
  EXPECT_EQ(listed.read_all("no_list.txt"), 0);
  EXPECT_FALSE(listed.write("no_such_dir/db.fdb"));
}

TEST(KavuFdbFile, DamagedOrTruncatedFilesLeaveTheDatabaseUnchanged) {
  KAVU_FDB source;
  fill(source, 20, 6);
  ASSERT_TRUE(source.write("good.fdb"));
  const std::vector<std::string> good = read_lines("good.fdb");
  // The first entry starts at line 32: its variable count.
  const unsigned first_n = static_cast<unsigned>(std::stoul(good[32]));
  const size_t first_net = 33 + (first_n <= 5 ? 1 : 1u << (first_n - 5));

  struct DAMAGE {
    const char* what;
    std::vector<std::string> lines;
  };
  std::vector<DAMAGE> cases = {{"truncated code area", {good.begin(), good.end() - 5}},
                               {"truncated header", {good.begin(), good.begin() + 20}},
                               {"no signature", {"1", "2", "3"}}};
  auto edit = [&](const char* what, size_t line, const std::string& text) {
    cases.push_back({what, good});
    cases.back().lines[line] = text;
  };
  edit("bad stamp", 2, "12345");
  edit("size not whole words", 5, std::to_string(std::stoul(good[5]) + 2));
  edit("size past the file", 5, std::to_string(std::stoul(good[5]) + 400));
  edit("size short of the entries", 5, std::to_string(std::stoul(good[5]) - 4));
  edit("more entries than words", 4, "4000000000");
  edit("too many variables", 32, "30");
  edit("not a number", 40, "12abc");
  edit("number too large", 40, "99999999999");
  edit("overlong line", 40, std::string(100000, '7'));
  edit("fan-ins differ from the table", first_net, std::to_string(std::stoul(good[first_net]) ^ 1u));
  edit("source code outside the network", first_net + 5, "60");
  edit("trailing words", 5, std::to_string(std::stoul(good[5]) + 8));
  cases.back().lines.insert(cases.back().lines.end(), {"1", "2"});  // entries do not fill the code area

  KAVU_FDB db;
  fill(db, 7, 8);
  const std::vector<std::string> before = snapshot(db);
  const unsigned space = db.mem_space();
  db.reset_changes();
  for (const DAMAGE& d : cases) {
    write_lines("bad.fdb", d.lines);
    EXPECT_FALSE(db.read("bad.fdb")) << d.what;
    EXPECT_EQ(snapshot(db), before) << d.what;
    EXPECT_TRUE(db.mem_space() == space && db.change_count() == 0u) << d.what;
  }
  EXPECT_FALSE(db.read("absent.fdb"));
  // The undamaged file still reads.
  EXPECT_TRUE(db.read("good.fdb"));
  EXPECT_EQ(db.change_count(), 20u);
}
