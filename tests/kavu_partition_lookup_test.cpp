// The partitioner's pointer tables, and the cut-gate names a run takes back
// from earlier runs.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <vector>

#include "hdb/hdb.h"
#include "kavu_partition.h"
#include "kavu_partition_int.h"
#include "partition_test_support.h"

using namespace kavu_platform;

namespace {

// Every gate name and output-terminal name of the netlist, with the gates
// that carry it.
std::map<const HDB_INSTANCE_NAME*, std::set<const CDB_SGATE_NODE*>> carriers(const CDB_SGATE_NETLIST* nl) {
  std::map<const HDB_INSTANCE_NAME*, std::set<const CDB_SGATE_NODE*>> by_name;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    if (!*it) continue;
    if ((*it)->get_instance_name()) by_name[(*it)->get_instance_name()].insert(*it);
    for (const CDB_SGATE_OTERM* o : (*it)->get_output_terms())
      if (o && o->get_instance_name()) by_name[o->get_instance_name()].insert(*it);
  }
  return by_name;
}

}  // namespace

// Runs of sets and lookups, checked against a hash map after each step: new
// keys, overwrites, a value set back to 0 (reads 0 and stays readable),
// absent keys set to 0 (no entry), many doublings of the table, and clear.
TEST(KavuPartitionLookup, PointerMapAgreesWithAHashMap) {
  std::vector<int> storage(40000);
  KAVU_POINTER_MAP<int, int> table;
  std::unordered_map<const int*, int> model;
  GEN_RAND rand(7);
  struct ROUND {
    size_t keys;  // keys drawn from the first `keys` elements
    int steps;
    int zero_every;  // every n-th set writes 0
  };
  for (const ROUND& round : {ROUND{16, 200, 3}, ROUND{3000, 20000, 5}, ROUND{40000, 120000, 7}}) {
    SCOPED_TRACE(round.keys);
    for (int step = 0; step < round.steps; ++step) {
      const int* key = &storage[size_t(rand.get_int(int(round.keys)))];
      const int value = step % round.zero_every == 0 ? 0 : 1 + rand.get_int(1000);
      table.set(key, value);
      if (value || model.count(key)) model[key] = value;
      const int* probe = &storage[size_t(rand.get_int(int(storage.size())))];
      const auto found = model.find(probe);
      ASSERT_EQ(table.get(probe), found == model.end() ? 0 : found->second) << "step " << step;
    }
    for (const auto& e : model) ASSERT_EQ(table.get(e.first), e.second);
    table.clear();
    model.clear();
    EXPECT_EQ(table.get(&storage[0]), 0) << "cleared";
  }
}

// A netlist copied with the boundary gates of an earlier run carries that
// run's names: a new run on the copy must make or take other names, or two
// gates of one netlist would share a name. Runs on a fresh copy take the
// names back and end with the same names.
TEST(KavuPartitionLookup, RunsTakeBackOnlyNamesTheirNetlistDoesNotCarry) {
  PARTITION_TEST_SCOPE scope;
  LOADED_NETLIST golden = load_blif("seq/diffeq1");
  ASSERT_TRUE(golden.get());
  golden->sweep(false);
  auto partitioned_copy = [&](const CDB_SGATE_NETLIST* from) {
    std::unique_ptr<CDB_SGATE_NETLIST> nl(clone_netlist(from));
    KAVU_PARTITIONER part;
    g_partition_id = 0;
    part.partition_on_reg_boundary(nl.get(), nullptr, partition_params(8), false);
    return nl;
  };
  auto names_of = [](const CDB_SGATE_NETLIST* nl) {
    std::set<const HDB_INSTANCE_NAME*> names;
    for (const auto& e : carriers(nl)) names.insert(e.first);
    return names;
  };
  std::unique_ptr<CDB_SGATE_NETLIST> first = partitioned_copy(golden.get());
  ASSERT_TRUE(kavu_netlist_has_boundary_sgates(first.get()));
  const std::set<const HDB_INSTANCE_NAME*> first_names = names_of(first.get());

  // Names of the design itself may be shared (a pin and its driver); each
  // name a run made is one gate's.
  const std::set<const HDB_INSTANCE_NAME*> design_names = names_of(golden.get());
  std::unique_ptr<CDB_SGATE_NETLIST> again = partitioned_copy(first.get());
  int made = 0;
  for (const auto& e : carriers(again.get())) {
    if (design_names.count(e.first)) continue;
    ++made;
    EXPECT_EQ(e.second.size(), 1u) << e.first->get_short_hpath() << " names " << e.second.size() << " gates";
  }
  EXPECT_GT(made, int(first_names.size() - design_names.size())) << "the second run's boundaries come on top";

  again.reset();
  first.reset();
  EXPECT_EQ(names_of(partitioned_copy(golden.get()).get()), first_names) << "the first run's names, taken back";
}

// Gates reading one register output through their cut buffers: the
// shared-input merges join same-kind gates with the same inputs (level 0)
// and then any two comb gates (level 1), each reader seen through its cut.
TEST(KavuPartitionLookup, SharedInputMergesSeeReadersThroughTheirCuts) {
  struct CASE {
    const char* readers;  // 'a' AND, 'o' OR, 'x' XOR, each of the two registers
    int level0, level1;
  };
  for (const CASE& c : {CASE{"aao", 1, 1}, CASE{"aaa", 2, 0}, CASE{"aox", 0, 2}}) {
    SCOPED_TRACE(c.readers);
    PARTITION_TEST_SCOPE scope;
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
    int k = 0;
    auto reg = [&](CDB_SGATE_NODE* d) {  // registers carry names: their buses are named after them
      CDB_SGATE_NODE* q = make_dff(&nl, d, clk);
      const std::string text = "r" + std::string(c.readers) + std::to_string(k++);
      HDB_INSTANCE_NAME* name = HDB_INSTANCE_NAME::create_normal_name(nullptr, text.c_str(), nullptr, nullptr, nullptr);
      q->set_instance_name(name);
      q->get_single_oterm()->set_instance_name(name);
      return q;
    };
    CDB_SGATE_NODE* r = reg(make_input_pin(&nl, "a"));
    CDB_SGATE_NODE* s = reg(make_input_pin(&nl, "b"));
    for (const char* kind = c.readers; *kind; ++kind) {
      CDB_SGATE_NODE* g = *kind == 'a' ? make_and(&nl, r, s) : *kind == 'o' ? make_or(&nl, r, s) : make_xor(&nl, r, s);
      make_output_pin(&nl, ("y" + std::to_string(k)).c_str(), reg(g));
    }
    DEBUG_CAPTURE cap("KAVU");
    KAVU_PARTITIONER part;
    part.partition_on_reg_boundary(&nl, nullptr, partition_params(2), false);
    EXPECT_TRUE(cap.contains(("Level 0 performed " + std::to_string(c.level0) + " merges").c_str()));
    EXPECT_TRUE(cap.contains(("Level 1 performed " + std::to_string(c.level1) + " merges").c_str()));
  }
}
