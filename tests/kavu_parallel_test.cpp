// Parallel synthesis: split into partition netlists and merge back, the
// partition archives, and whole runs with the velmora_map helper.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <set>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_netlist_pdb.h"
#include "cdb/cdb_sgate_pool.h"
#include "cdb/cdb_sgate_removed_regs.h"
#include "cmp/cmp.h"
#include "gen/gen.h"
#include "kavu_parallel.h"
#include "kavu_partition.h"
#include "kavu_partition_netlists.h"
#include "netlist_io/generators.h"
#include "netlist_io/simulator.h"
#include "parallel_flow_support.h"
#include "pdb/pdb.h"
#include "hdb/hdb.h"
#include "msg/msg.h"
#include "synth_kavu__pdb.h"
#include "partition_test_support.h"
#include "boundary_faults.h"
#include "platform_testkit.h"
#include "thr/thr_ipc.h"

using namespace kavu_platform;


namespace {

// Children of this process still alive (or unreaped), from /proc.
int child_processes() {
  int n = 0;
  DIR* d = opendir("/proc");
  if (!d) return 0;
  while (dirent* e = readdir(d)) {
    if (!isdigit(e->d_name[0])) continue;
    std::ifstream f(std::string("/proc/") + e->d_name + "/stat");
    std::string line;
    std::getline(f, line);
    size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state;
    int ppid;
    if (sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == getpid()) ++n;
  }
  closedir(d);
  return n;
}

bool pipe_dir_is_empty() {
  std::error_code ec;
  return std::filesystem::is_empty(thr_get_pipe_dir(), ec);
}

// Every input's source lies in the input's own netlist.
bool no_source_crosses(const std::vector<CDB_SGATE_NETLIST*>& parts) {
  for (CDB_SGATE_NETLIST* p : parts)
    for (CDB_SGATE_NODE* n : p->get_node_list())
      for (CDB_SGATE_ITERM* t : n->get_input_terms())
        if (t && t->get_source() && t->get_source()->get_my_node()->get_netlist() != p) return false;
  return true;
}

// The helper's pass in this process: registers without fan-out go, then a sweep.
int remove_fanoutless_registers(CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_NODE*> doomed;
  for (CDB_SGATE_NODE* n : nl->get_node_list())
    if (n->cast_to_dff() && !n->has_fanout() && !n->cast_to_dff()->preserve()) doomed.push_back(n);
  for (CDB_SGATE_NODE* n : doomed) {
    nl->delete_node(n);
    delete n;
  }
  nl->sweep(false);
  nl->prepare_for_use();
  return int(doomed.size());
}

struct PARALLEL_SCOPE : PARTITION_TEST_SCOPE {
  CMP_FACADE facade;
  CFG_SCOPE cfg{{"helper_binary_dir", KAVU_HELPER_DIR}, {"parallel_pipe_timeout_s", "20"}};
  PARALLEL_SCOPE() {
    gen_set_db_dir_path(std::filesystem::current_path().string());
    facade.set_project_name("my project");
    facade.set_revision_name("rev 1");
    auto* m = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
    m->create_removed_reg_db("main", 5000, 5000);
    m->set_current_removed_reg_db("main");
  }
  ~PARALLEL_SCOPE() { kavu_parallel_force_named_pipes(-1); }
};

// Partitions the netlist into k parts and splits it.
std::vector<CDB_SGATE_NETLIST*> split(CDB_SGATE_NETLIST* nl, int k, KAVU_PARTITION_BOUNDARIES& b) {
  KAVU_PARTITIONER partitioner;
  partitioner.partition_on_reg_boundary(nl, nullptr, partition_params(k), false);
  std::vector<CDB_SGATE_NETLIST*> parts;
  kavu_get_partition_netlists(parts, nl, nullptr, nullptr, b, false);
  return parts;
}

// Partition netlists numbered 1, 2, ..., each an input pin (named by the
// prefix and its position) and buffers, of the gate counts given.
std::vector<CDB_SGATE_NETLIST*> chain_partitions(std::initializer_list<int> sizes, const char* prefix) {
  std::vector<CDB_SGATE_NETLIST*> parts;
  for (int size : sizes) {
    auto* p = new CDB_SGATE_NETLIST(true, int(parts.size()) + 1, 1);
    CDB_SGATE_NODE* in = make_input_pin(p, (prefix + std::to_string(parts.size())).c_str());
    for (int i = 1; i < size; ++i) make_buffer(p, in);
    parts.push_back(p);
  }
  return parts;
}

// Split, archive, run the helpers, read back and merge. Returns the run's verdict.
// With dead_register, partition 0 gets a register nobody reads, for the
// helper to remove and report.
bool run_parallel(CMP_FACADE* facade, CDB_SGATE_NETLIST* nl, int k, int* num_parts, bool dead_register = false) {
  KAVU_PARTITION_BOUNDARIES b;
  std::vector<CDB_SGATE_NETLIST*> parts = split(nl, k, b);
  *num_parts = int(parts.size());
  if (dead_register && !parts.empty()) make_dff(parts[0], nullptr, nullptr);
  EXPECT_TRUE(kavu_parallel_serialize(facade, "map", 1, nullptr, parts));
  EXPECT_TRUE(parts.empty());
  bool ok = kavu_parallel_run_partitions_in_processes(facade, "map", "1", *num_parts);
  if (ok) ok = kavu_parallel_deserialize(facade, "map", 1, nullptr, parts, *num_parts);
  if (!ok) {
    // Every partition comes back, synthesized or as it was written; the
    // run holds the directory's lock until then.
    EXPECT_FALSE(db_lock_is_free());
    for (CDB_SGATE_NETLIST* p : parts) delete p;
    parts.clear();
    EXPECT_TRUE(kavu_parallel_recover_partitions(facade, "map", parts, *num_parts));
  }
  EXPECT_TRUE(db_lock_is_free());  // the flow is over, for the next in this process or another
  kavu_merge_netlists(parts, nl, nullptr, b);
  return ok;
}

// Adds to a sequential design a 2-bit adder operator over two inputs and two
// register outputs, and a RAM-block atom and a LUT-RAM atom (with a logical
// name) written on the design's clock; every result bit drives an output pin.
void add_ram_and_operator(CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_OTERM*> ins, regs;
  CDB_SGATE_OTERM* clock = nullptr;
  for (CDB_SGATE_NODE* n : nl->get_node_list()) {
    if (n->is_input()) ins.push_back(n->get_output_term(0));
    if (CDB_SGATE_DFF* d = n->cast_to_dff()) {
      regs.push_back(d->get_output_term(0));
      if (!clock) clock = d->get_fanin_term(CDB_DFF_CLK);
    }
  }
  ASSERT_TRUE(clock && ins.size() >= 4 && regs.size() >= 4);
  auto out = [&](const std::string& name, CDB_SGATE_OTERM* src) {
    CDB_SGATE_NODE* pin = make_output_pin(nl, name.c_str(), nullptr);
    src->insert_fanout(pin->get_input_term(0));
  };
  auto* op = new CDB_SGATE_OPERATOR("sum", CDB_OPER_ADDITION);
  for (CDB_OPER_PORT_TYPE pt : {CDB_OPER_PORT_A, CDB_OPER_PORT_B}) {
    CDB_SGATE_OPER_PORT_ENTRY* p = op->add_port(pt == CDB_OPER_PORT_A ? "a" : "b", pt, CDB_OPER_PORT_DIR_IN);
    for (unsigned b = 0; b < 2; ++b) {
      CDB_SGATE_ITERM* t = op->create_input_term(nullptr);
      p->set_iterm(b, t);
      (pt == CDB_OPER_PORT_A ? ins[b] : regs[b])->insert_fanout(t);
    }
  }
  CDB_SGATE_OPER_PORT_ENTRY* o = op->add_port("o", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
  nl->add_node(op);
  for (unsigned b = 0; b < 3; ++b) {
    o->set_oterm(b, op->create_output_term(nullptr));
    out("sum" + std::to_string(b), o->get_oterm(b));
  }
  auto* ram = new CDB_SGATE_WYSIWYG_RAM_BLOCK(nullptr, 96);
  ram->set_string_name("mem");
  auto in = [&](CDB_SGATE_WYSIWYG* atom, unsigned port, unsigned bit, CDB_SGATE_OTERM* src) {
    const unsigned slot = atom->get_input_port_number(DB_INPUT_PORT_TYPE(port)) + bit;
    CDB_SGATE_ITERM* t = atom->create_input_term(nullptr, DB_INPUT_PORT_TYPE(port));
    t->set_port_index(bit);
    atom->set_input_term(t, slot);
    src->insert_fanout(t);
  };
  auto data_out = [&](CDB_SGATE_WYSIWYG* atom, unsigned port, unsigned bit, const std::string& pin) {
    const unsigned slot = atom->get_output_port_number(DB_OUTPUT_PORT_TYPE(port)) + bit;
    CDB_SGATE_OTERM* t = atom->create_output_term(nullptr, DB_OUTPUT_PORT_TYPE(port));
    t->set_port_index(bit);
    atom->set_output_term(t, slot);
    out(pin, t);
  };
  in(ram, 35, 0, clock);
  in(ram, 83, 0, ins[2]);
  for (unsigned b = 0; b < 2; ++b) {
    in(ram, 88, b, regs[2 + b]);
    in(ram, 89, b, ins[b]);
  }
  nl->add_node(ram);
  for (unsigned b = 0; b < 2; ++b) data_out(ram, DB_PORT_RAM_PORTA_DATAOUT, b, "q" + std::to_string(b));
  // A LUT-RAM (data in, write and read address, write enable, clock) with
  // the logical name of its memory.
  auto* lutram = new CDB_SGATE_WYSIWYG(nullptr, 97);
  lutram->set_string_name("lut_mem_cell");
  lutram->set_lutram_logical_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, "lut_mem", nullptr, nullptr, nullptr));
  for (const auto& [port, src] : {std::pair<unsigned, CDB_SGATE_OTERM*>{410, ins[3]}, {41, regs[0]}, {42, ins[0]},
                                  {83, ins[1]}, {35, clock}})
    in(lutram, port, 0, src);
  nl->add_node(lutram);
  data_out(lutram, 364, 0, "lq");
}

}  // namespace

TEST(KavuPartitionNetlists, SplitAndMergeBackOnSequentialDesigns) {
  PARTITION_TEST_SCOPE scope;
  for (const std::string& name : bundled_circuits({"seq"})) {
    for (int k : {2, 4, 8}) {
      SCOPED_TRACE(name + " into " + std::to_string(k));
      LOADED_NETLIST nl = load_blif(name);
      std::unique_ptr<CDB_SGATE_NETLIST> golden(clone_netlist(nl.get()));
      KAVU_PARTITION_BOUNDARIES b;
      std::vector<CDB_SGATE_NETLIST*> parts = split(nl.get(), k, b);
      EXPECT_EQ(nl->get_node_list().size(), 0u);
      EXPECT_TRUE(no_source_crosses(parts));
      EXPECT_TRUE(b.pointers_cleared());
      for (const KAVU_PARTITION_CONNECTION& c : b.get_connections()) EXPECT_EQ(c.oterm, nullptr);
      const size_t connections = b.get_connections().size();
      kavu_merge_netlists(parts, nl.get(), nullptr, b);
      EXPECT_TRUE(parts.empty());
      EXPECT_EQ(b.get_connections().size(), connections);
      std::string report;
      EXPECT_TRUE(nl->check(&report)) << report;
      ASSERT_KAVU_EQUIVALENT(golden.get(), nl.get());
    }
  }
}

TEST(KavuPartitionNetlists, MergeRenumbersHelperGatesBeforeAnyLookup) {
  PARTITION_TEST_SCOPE scope;
  LOADED_NETLIST nl = load_blif("seq/diffeq1");
  // A state machine makes the merge look gates up by number.
  CDB_SGATE_HIERARCHY hierarchy;
  auto* machine = new CDB_STATE_MACHINE;
  machine->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, "fsm", nullptr, nullptr, nullptr));
  auto* state = new CDB_SGATE_STATE(nullptr, machine);
  nl->add_node(state, true);
  machine->add_state(state);
  make_output_pin(nl.get(), "st", state);
  hierarchy.get_machine_list()->push_back(machine);
  KAVU_PARTITIONER partitioner;
  partitioner.partition_on_reg_boundary(nl.get(), nullptr, partition_params(4), false);
  KAVU_PARTITION_BOUNDARIES b;
  std::vector<CDB_SGATE_NETLIST*> parts;
  kavu_get_partition_netlists(parts, nl.get(), &hierarchy, nullptr, b, false);
  ASSERT_GE(parts.size(), 2u);
  const unsigned first = unsigned(parts[0]->get_first_debug_number());
  // Two "helpers" make a gate each with the same number, as separate
  // processes do.
  for (CDB_SGATE_NETLIST* p : {parts[0], parts[1]}) {
    CDB_SGATE_NODE* n = make_buffer(p, nullptr);
    n->set_debug_number(first + 5);
  }
  std::vector<CDB_SGATE_NETLIST*> none;
  kavu_merge_netlists(none, nl.get(), &hierarchy, b);  // an empty vector is no merge
  kavu_merge_netlists(parts, nl.get(), &hierarchy, b);
  std::set<unsigned> numbers;
  for (CDB_SGATE_NODE* n : nl->get_node_list()) EXPECT_TRUE(numbers.insert(n->get_debug_number()).second);
  ASSERT_EQ(hierarchy.get_machine_list()->size(), 1u);
  EXPECT_EQ(machine->get_states().size(), 1u);
}

TEST(KavuParallelArchives, OrderFailuresAndMissingOutputs) {
  PARALLEL_SCOPE scope;
  // A removed-register archive left by an earlier run.
  kavu_parallel_create_removed_reg_db("rev 1", "map", 0);
  ASSERT_TRUE(kavu_parallel_write_and_delete_removed_reg_db("rev 1", "map", 0));
  CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance()->set_current_removed_reg_db("main");
  // Three partitions of 1, 3, 3 gates are written largest first, equal
  // sizes by decreasing position.
  std::vector<CDB_SGATE_NETLIST*> parts = chain_partitions({1, 3, 3}, "i");
  ASSERT_TRUE(kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, parts));
  const int expect_number[] = {3, 2, 1};
  for (int k = 0; k < 3; ++k) {
    CDB_SGATE_NETLIST* p = nullptr;
    ASSERT_TRUE(kavu_parallel_read_partition("rev 1", "map", k, &p, nullptr));
    EXPECT_EQ(p->get_number(), expect_number[k]);
    delete p;
  }
  // Without removed-register archives (no helper ran; the stale one went
  // with the new run) deserialize fails instead of merging a null database.
  std::vector<CDB_SGATE_NETLIST*> back;
  EXPECT_FALSE(kavu_parallel_deserialize(&scope.facade, "map", 1, nullptr, back, 3));
  for (CDB_SGATE_NETLIST* p : back) delete p;
  CDB_SGATE_REMOVED_REGISTERS_DB* db = reinterpret_cast<CDB_SGATE_REMOVED_REGISTERS_DB*>(1);
  EXPECT_FALSE(kavu_parallel_read_removed_reg_db("rev 1", "map", 0, &db));
  EXPECT_EQ(db, nullptr);

  // A write that fails keeps the netlist and reports failure; the partitions
  // not written stay with the caller.
  // (A directory where the archive file should go makes the write fail.)
  std::vector<CDB_SGATE_NETLIST*> kept;
  for (int i = 0; i < 2; ++i) {
    kept.push_back(new CDB_SGATE_NETLIST(true, i + 1, 1));
    make_input_pin(kept.back(), ("k" + std::to_string(i)).c_str());
    kept.back()->add_node(new CDB_SGATE_STATE(nullptr, nullptr), true);
  }
  const std::string blocker = kavu_parallel_archive_name("rev 1", "map", 0) + ".cdb";
  std::filesystem::remove(blocker);
  std::filesystem::create_directories(blocker + "/x");
  EXPECT_FALSE(kavu_parallel_write_and_delete_partition("rev 1", "map", 0, kept[0]));
  EXPECT_EQ(kept[0]->get_node_list().size(), 2u);
  EXPECT_FALSE(kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, kept));
  ASSERT_EQ(kept.size(), 2u);
  std::filesystem::remove_all(blocker);
  // Only the namespace archive fails: every partition stays.
  std::filesystem::remove(gen_get_db_dir_path() + "/hdb_namespace.cdb");
  std::filesystem::create_directories(gen_get_db_dir_path() + "/hdb_namespace.cdb/x");
  EXPECT_FALSE(kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, kept));
  EXPECT_EQ(kept.size(), 2u);
  EXPECT_TRUE(db_lock_is_free());  // nothing of the run is on disk
  std::filesystem::remove_all(gen_get_db_dir_path() + "/hdb_namespace.cdb");
  // A link planted at the lock file is not followed: the run is refused and
  // the file it names is not made.
  const std::string lock_file = gen_get_db_dir_path() + "/parallel_synthesis.lock";
  std::filesystem::remove(lock_file);
  std::filesystem::create_symlink(std::filesystem::absolute("planted"), lock_file);
  msg_log_clear();
  EXPECT_FALSE(kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, kept));
  EXPECT_EQ(kept.size(), 2u);
  EXPECT_FALSE(std::filesystem::exists("planted"));
  int refused = 0;
  for (const MSG_LOG_ENTRY& e : msg_log())
    refused += e.kind == MSG_LOG_ERROR && e.text.find("cannot open the lock file") != std::string::npos;
  EXPECT_EQ(refused, 1);
  std::filesystem::remove(lock_file);
  for (CDB_SGATE_NETLIST* p : kept) delete p;
  // Partition and removed-register archives carry the parallel-synthesis extension.
  for (const std::string& name : {kavu_parallel_archive_name("rev 1", "map", 0),
                                  kavu_parallel_removed_reg_archive_name("rev 1", "map", 0)})
    EXPECT_EQ(name.substr(name.size() - 9), ".parsynth") << name;
  EXPECT_NE(kavu_parallel_removed_reg_archive_name("rev 1", "map", 0).find("/rev 1.map_removed_reg_ap_0."),
            std::string::npos);
}

// Archives are written on several threads but published in order: a
// partition that cannot be written stops the publishing there, whatever the
// threads already wrote after it. Results read back while the helpers run
// are taken only while their files are unchanged.
TEST(KavuParallelArchives, PublishingStopsAtAFailureAndReadBackFollowsTheFile) {
  PARALLEL_SCOPE scope;
  CFG_SCOPE threads{{"put_max_threads", "4"}};
  std::vector<CDB_SGATE_NETLIST*> kept = chain_partitions({3, 2, 1}, "s");
  auto file = [](int k) { return kavu_parallel_archive_name("rev 1", "map", k) + ".cdb"; };
  for (int k = 0; k < 3; ++k) std::filesystem::remove(file(k));
  std::filesystem::create_directories(file(1) + "/x");
  EXPECT_FALSE(kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, kept));
  EXPECT_EQ(kept.size(), 2u);
  EXPECT_TRUE(std::filesystem::is_regular_file(file(0)));
  EXPECT_FALSE(std::filesystem::exists(file(2)));
  std::filesystem::remove_all(file(1));
  for (CDB_SGATE_NETLIST* p : kept) delete p;

  LOADED_NETLIST loaded = load_blif("seq/diffeq1");
  KAVU_PARTITION_BOUNDARIES b;
  std::vector<CDB_SGATE_NETLIST*> parts = split(loaded.get(), 4, b);
  const int n = int(parts.size());
  ASSERT_TRUE(kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, parts));
  ASSERT_TRUE(kavu_parallel_run_partitions_in_processes(&scope.facade, "map", "1", n));
  // Partition 0's result is replaced, after its helper answered, by another
  // result of the same partition: one more buffer, which nothing reads (its
  // pins stay those written, or the result would be refused).
  CDB_SGATE_NETLIST* other = nullptr;
  ASSERT_TRUE(kavu_parallel_read_partition("rev 1", "map", 0, &other, nullptr));
  CDB_SGATE_NODE* source = nullptr;
  for (CDB_SGATE_NODE* g : other->get_node_list())
    if (!source && g->get_single_oterm()) source = g;
  ASSERT_NE(source, nullptr);
  make_buffer(other, source);
  const size_t replaced_size = other->get_node_list().size();
  ASSERT_TRUE(kavu_parallel_write_and_delete_partition("rev 1", "map", 0, other));
  ASSERT_TRUE(kavu_parallel_deserialize(&scope.facade, "map", 1, nullptr, parts, n));
  ASSERT_EQ(int(parts.size()), n);
  EXPECT_EQ(parts[0]->get_node_list().size(), replaced_size);
  for (CDB_SGATE_NETLIST* p : parts) delete p;
}

TEST(KavuParallelArchives, ReadPartitionFindsTheRootHierarchyOfItsGates) {
  PARALLEL_SCOPE scope;
  CDB_SGATE_HIERARCHY root, child;
  child.set_parent(&root);
  CDB_SGATE_NETLIST nl(true, 1, 1);
  CDB_SGATE_HIERARCHY* found = nullptr;
  EXPECT_KAVU_INTERNAL_ERROR(kavu_parallel_attach_root_hierarchy(&nl, &found), "node_it != node_end");
  make_input_pin(&nl, "a");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_parallel_attach_root_hierarchy(&nl, &found), "*hierarchy_ptr");
  CDB_SGATE_HIERARCHY::set_hierarchy_pointers(&child, &nl);
  kavu_parallel_attach_root_hierarchy(&nl, &found);
  EXPECT_EQ(found, &root);
  EXPECT_EQ(root.get_netlist(), &nl);
  EXPECT_EQ(nl.get_hierarchy(), &root);
  root.set_netlist(nullptr);
  nl.set_hierarchy(nullptr);
}

// A state machine goes through the archives in its partition's netlist and
// comes back whole to the hierarchy after the merge.
TEST(KavuParallelArchives, StateMachinesTravelInTheirPartitionArchives) {
  for (const char* routed : {"on", "off"}) {
    SCOPED_TRACE(std::string("routing ") + routed);
    PARALLEL_SCOPE scope;
    CFG_SCOPE cfg{{"parallel_mls_flow", routed}};
    LOADED_NETLIST nl = load_blif("seq/diffeq1");
    CDB_SGATE_HIERARCHY hierarchy;
    auto* machine = new CDB_STATE_MACHINE;
    machine->set_name("fsm");
    machine->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, "fsm", nullptr, nullptr, nullptr));
    auto* state = new CDB_SGATE_STATE(nullptr, machine);
    nl->add_node(state, true);
    machine->add_state(state);
    make_output_pin(nl.get(), "st", state);
    hierarchy.get_machine_list()->push_back(machine);
    std::unique_ptr<CDB_SGATE_NETLIST> golden(clone_netlist(nl.get()));
    KAVU_PARTITIONER partitioner;
    partitioner.partition_on_reg_boundary(nl.get(), nullptr, partition_params(4), false);
    KAVU_PARTITION_BOUNDARIES b;
    std::vector<CDB_SGATE_NETLIST*> parts;
    kavu_get_partition_netlists(parts, nl.get(), &hierarchy, nullptr, b, false);
    const int n = int(parts.size());
    ASSERT_TRUE(kavu_parallel_serialize(&scope.facade, "map", 1, &hierarchy, parts));
    for (int k = 0; k < n; ++k) {
      CDB_SGATE_NETLIST* p = nullptr;
      ASSERT_TRUE(kavu_parallel_read_partition("rev 1", "map", k, &p, nullptr));
      parts.push_back(p);
    }
    kavu_merge_netlists(parts, nl.get(), &hierarchy, b);
    ASSERT_EQ(hierarchy.get_machine_list()->size(), 1u);
    CDB_STATE_MACHINE* back = hierarchy.get_machine_list()->front();
    EXPECT_EQ(back->get_name(), "fsm");
    ASSERT_EQ(back->get_states().size(), 1u);
    EXPECT_EQ(back->get_states()[0]->get_state_machine(), back);
    ASSERT_KAVU_EQUIVALENT(golden.get(), nl.get());
  }
}

TEST(KavuParallelArchives, InvalidationsRoundTripAndReachTheSink) {
  PARALLEL_SCOPE scope;
  KAVU_FIBS_TO_INVALIDATE fibs;
  fibs.m_fibs = {"top|a", "top|b"};
  ASSERT_TRUE(kavu_parallel_write_fibs_to_invalidate(nullptr, "map", 0, &fibs));
  KAVU_FIBS_TO_INVALIDATE* back = new KAVU_FIBS_TO_INVALIDATE;  // replaced, not leaked
  ASSERT_TRUE(kavu_parallel_read_fibs_to_invalidate(nullptr, "map", 0, &back));
  EXPECT_EQ(back->m_fibs, fibs.m_fibs);
  // A missing archive: false, and the record held is freed, not leaked.
  EXPECT_FALSE(kavu_parallel_read_fibs_to_invalidate(nullptr, "map", 1, &back));
  EXPECT_EQ(back, nullptr);
}

TEST(KavuParallelRun, EndToEndWithTheHelperEqualsTheInProcessPass) {
  struct CASE {
    const char* design;  // null: generated
    int pipes, threads;
  } cases[] = {{"seq/diffeq1", 0, 1}, {"seq/diffeq1", 0, 2}, {"seq/diffeq1", 1, 1},
               {"seq/diffeq1", 1, 2}, {"seq/diffeq1", 1, 4}, {nullptr, 1, 4}, {nullptr, 0, 4}};
  for (const CASE& c : cases) {
    SCOPED_TRACE(std::string(c.design ? c.design : "generated") + " pipes " + std::to_string(c.pipes) +
                 " threads " + std::to_string(c.threads));
    PARALLEL_SCOPE scope;
    kavu_parallel_force_named_pipes(c.pipes);
    CFG_SCOPE threads{{"put_max_threads", std::to_string(c.threads).c_str()}};
    LOADED_NETLIST loaded = c.design ? load_blif(c.design) : LOADED_NETLIST(make_bus_design(100000, 7));
    std::unique_ptr<CDB_SGATE_NETLIST> golden(clone_netlist(loaded.get()));
    std::unique_ptr<CDB_SGATE_NETLIST> in_process(clone_netlist(loaded.get()));
    remove_fanoutless_registers(in_process.get());
    int n = 0;
    ASSERT_TRUE(run_parallel(&scope.facade, loaded.get(), 4, &n, true));
    EXPECT_GE(n, 2);
    auto* db = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance()->get_current_removed_reg_db();
    EXPECT_GE(db->get_fanoutless_count(), 1);
    std::string report;
    EXPECT_TRUE(loaded->check(&report)) << report;
    if (c.design) {
      ASSERT_KAVU_EQUIVALENT(golden.get(), loaded.get());
      ASSERT_KAVU_EQUIVALENT(in_process.get(), loaded.get());
    }
    EXPECT_EQ(child_processes(), 0);
    EXPECT_TRUE(pipe_dir_is_empty());
    // The helper got the project and revision names whole.
    std::ifstream log("helper_0.log");
    std::string first_line;
    std::getline(log, first_line);
    EXPECT_NE(first_line.find("project \"my project\", revision \"rev 1\""), std::string::npos) << first_line;
  }
}

TEST(KavuParallelRun, RamAndOperatorGatesTravelThroughTheHelpers) {
  for (int pipes : {0, 1}) {
    SCOPED_TRACE("pipes " + std::to_string(pipes));
    PARALLEL_SCOPE scope;
    kavu_parallel_force_named_pipes(pipes);
    LOADED_NETLIST loaded = load_blif("seq/diffeq1");
    add_ram_and_operator(loaded.get());
    std::unique_ptr<CDB_SGATE_NETLIST> golden(clone_netlist(loaded.get()));
    std::unique_ptr<CDB_SGATE_NETLIST> in_process(clone_netlist(loaded.get()));
    remove_fanoutless_registers(in_process.get());
    DEBUG_CAPTURE cap("KAVU");
    int n = 0;
    ASSERT_TRUE(run_parallel(&scope.facade, loaded.get(), 4, &n, true));
    EXPECT_GE(n, 2);
    EXPECT_TRUE(cap.contains("successfully loaded the flow package for Parallel Synthesis"));
    EXPECT_TRUE(cap.contains("Partitions were run successfully"));
    // Invalidation archives are off: their step is not done and says so per
    // partition, a debug line only; every partition and register database is read.
    for (int k = 0; k < n; ++k)
      EXPECT_TRUE(cap.contains("Failed to deserialize fibs to invalidate of partition " + std::to_string(k))) << k;
    EXPECT_FALSE(cap.contains("Failed to deserialize partition"));
    EXPECT_FALSE(cap.contains("Failed to deserialize removed"));
    int operators = 0, rams = 0;
    std::vector<std::string> lutram_names;  // the logical names of the LUT-RAMs
    for (CDB_SGATE_NODE* g : loaded->get_node_list()) {
      operators += g->cast_to_operator() != nullptr;
      rams += g->cast_to_wysiwyg_ram_block() != nullptr;
      if (CDB_SGATE_WYSIWYG* a = g->cast_to_wysiwyg(); a && a->is_lutram())
        lutram_names.push_back(a->get_lutram_logical_name() ? a->get_lutram_logical_name()->get_short_hpath(0) : "-");
    }
    EXPECT_EQ(operators, 1);
    EXPECT_EQ(rams, 1);
    EXPECT_EQ(lutram_names, std::vector<std::string>{"lut_mem"});
    std::string report;
    EXPECT_TRUE(loaded->check(&report)) << report;
    std::string why;
    EXPECT_TRUE(sim_equivalent(golden.get(), loaded.get(), SIM_COMPARE{}, &why)) << why;
    EXPECT_TRUE(sim_equivalent(in_process.get(), loaded.get(), SIM_COMPARE{}, &why)) << why;
    // The helpers read the namespace the parent wrote beside the archives.
    HDB_NAMESPACE fresh;
    EXPECT_TRUE(HDB_NAMESPACE::read_pdb(&fresh, gen_get_db_dir_path()));
    EXPECT_NE(fresh.get_root(), nullptr);
    EXPECT_EQ(child_processes(), 0);
    EXPECT_TRUE(pipe_dir_is_empty());
  }
}

TEST(KavuParallelRun, FaultsEndInFailureWithTheNetlistIntact) {
  struct CASE {
    const char* fault;
    int pipes;
    const char* reason;  // words of the user message of each failed partition
  } cases[] = {{"exit3", 0, "exited with status 3"},
               {"exit3", 1, "exited with status 3 without answering"},
               {"abort", 0, "was killed by signal 6 (SIGABRT)"},
               {"abort", 1, "was killed by signal 6 (SIGABRT) without answering"},
               {"nowrite", 0, "cannot be read back"},
               {"nowrite", 1, "cannot be read back"},
               {"missing", 0, ": cannot find the program velmora_map"},
               {"hang", 1, "timed out after 1 s"},
               // Without pipes a hung helper used to hang the parent forever.
               {"hang", 0, "timed out after 1 s"},
               // A damaged result answered "DONE k 0" used to lose its partition.
               {"damage", 0, "cannot be read back"},
               {"damage", 1, "cannot be read back"}};
  for (const CASE& c : cases) {
    SCOPED_TRACE(std::string(c.fault) + " pipes " + std::to_string(c.pipes));
    PARALLEL_SCOPE scope;
    kavu_parallel_force_named_pipes(c.pipes);
    const bool missing = std::string(c.fault) == "missing";
    // Only a hung helper meets the deadline; the others have ample time even
    // on a loaded machine under the sanitizers, so none fails as a timeout.
    const bool hang = std::string(c.fault) == "hang";
    CFG_SCOPE cfg{{"helper_fault", missing ? nullptr : c.fault},
                  {"helper_binary_dir", missing ? "/nonexistent" : KAVU_HELPER_DIR},
                  {"parallel_pipe_timeout_s", hang ? "1" : "60"}};
    std::string saved_path = getenv("PATH") ? getenv("PATH") : "";
    if (missing) setenv("PATH", "/nonexistent", 1);
    LOADED_NETLIST loaded = load_blif("seq/diffeq1");
    std::unique_ptr<CDB_SGATE_NETLIST> golden(clone_netlist(loaded.get()));
    DEBUG_CAPTURE cap("KAVU");
    msg_log_clear();
    int n = 0;
    EXPECT_FALSE(run_parallel(&scope.facade, loaded.get(), 4, &n));
    if (missing) setenv("PATH", saved_path.c_str(), 1);
    bool said = false;
    for (const std::string& line : cap.lines()) said |= line.find(missing ? "Failed to run" : "Failed") != std::string::npos;
    EXPECT_TRUE(said);
    // One error per failed partition (or failed helper), saying what
    // happened and, for a partition, where it is kept.
    std::set<std::string> partitions;
    int errors = 0;
    for (const MSG_LOG_ENTRY& e : msg_log()) {
      if (e.kind != MSG_LOG_ERROR) continue;
      ++errors;
      EXPECT_NE(e.text.find(c.reason), std::string::npos) << e.text;
      // Plain words: "failed: the helper exited ..." (of a partition) or
      // "failed: helper 1 exited ..." (of a helper), never "the helper's
      // helper ended" or "the helper's timeout".
      EXPECT_EQ(e.text.find("helper's"), std::string::npos) << e.text;
      const size_t said = e.text.find("failed: ");
      ASSERT_NE(said, std::string::npos) << e.text;
      EXPECT_TRUE(e.text.compare(said + 8, 11, "the helper ") == 0 || e.text.compare(said + 8, 7, "helper ") == 0 ||
                  e.text.compare(said + 8, 4, "its ") == 0)
          << e.text;
      size_t at = e.text.find("partition ");
      if (e.text.find("Parallel synthesis of partition") == 0) {
        EXPECT_TRUE(partitions.insert(e.text.substr(at, e.text.find(' ', at + 10) - at)).second) << e.text;
        EXPECT_NE(e.text.find("kept in \""), std::string::npos) << e.text;
      }
    }
    EXPECT_GE(errors, 1);
    ASSERT_KAVU_EQUIVALENT(golden.get(), loaded.get());
    EXPECT_EQ(child_processes(), 0);
    EXPECT_TRUE(pipe_dir_is_empty());
    EXPECT_EQ(ipc_dispatch_count(), 0);
    // A killed helper's temporary archive files are gone.
    for (const auto& entry : std::filesystem::directory_iterator(gen_get_db_dir_path()))
      EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

TEST(KavuParallelRun, HelperCommandKeepsNamesWhole) {
  PARALLEL_SCOPE scope;
  scope.facade.set_recompile(true);
  std::vector<std::string> argv = kavu_parallel_helper_command(&scope.facade, "map", "part/1", 2, "dl/x", "ul y");
  ASSERT_GE(argv.size(), 6u);
  EXPECT_EQ(argv[0], "velmora_map");
  // The revision is the value of "-c"; the project follows "--", last.
  EXPECT_EQ(argv[argv.size() - 4], "-c");
  EXPECT_EQ(argv[argv.size() - 3], "rev 1");
  EXPECT_EQ(argv[argv.size() - 2], "--");
  EXPECT_EQ(argv.back(), "my project");
  EXPECT_NE(std::find(argv.begin(), argv.end(), "--ul_named_pipe=ul y"), argv.end());
  EXPECT_NE(std::find(argv.begin(), argv.end(), "--helper=2"), argv.end());
  EXPECT_NE(std::find(argv.begin(), argv.end(), "--helper_step=part/1"), argv.end());
  EXPECT_NE(std::find(argv.begin(), argv.end(), "--recompile"), argv.end());
  // Zero partitions is not a success.
  EXPECT_FALSE(kavu_parallel_run_partitions_in_processes(&scope.facade, "map", "1", 0));
}

// Names are the user's to choose: a project or revision named like a helper
// option stays a name, and a name that would put archives outside the
// database directory is refused before anything is written.
TEST(KavuParallelRun, NamesThatLookLikeOptionsOrPathsStayNames) {
  for (const int pipes : {0, 1}) {
    SCOPED_TRACE("pipes " + std::to_string(pipes));
    PARALLEL_SCOPE scope;
    kavu_parallel_force_named_pipes(pipes);
    scope.facade.set_project_name("--ini_set=helper_fault=exit3");
    scope.facade.set_revision_name("--ini_set=helper_fault=abort");
    LOADED_NETLIST loaded = load_blif("seq/diffeq1");
    std::unique_ptr<CDB_SGATE_NETLIST> golden(clone_netlist(loaded.get()));
    msg_log_clear();
    int n = 0;
    EXPECT_TRUE(run_parallel(&scope.facade, loaded.get(), 4, &n));
    for (const MSG_LOG_ENTRY& e : msg_log()) EXPECT_NE(e.kind, MSG_LOG_ERROR) << e.text;
    ASSERT_KAVU_EQUIVALENT(golden.get(), loaded.get());
    // The helper took the project for what it is.
    std::ifstream log("helper_0.log");
    std::string first;
    std::getline(log, first);
    EXPECT_NE(first.find("project \"--ini_set=helper_fault=exit3\""), std::string::npos) << first;
  }
  // Refused before any archive is written or any helper starts.
  struct ROW {
    const char* revision;
    const char* timeout;
    const char* message;  // the one error message
  } const rows[] = {
      {"../outside", "20",
       "Parallel synthesis cannot run: the revision name \"../outside\" holds a '/' or a NUL byte"},
      {"sub/rev", "20", "Parallel synthesis cannot run: the revision name \"sub/rev\" holds a '/'"},
      {"rev 1", "0",
       "Parallel synthesis cannot run: the key \"parallel_pipe_timeout_s\" is 0; it must be a positive number of "
       "seconds"},
      {"rev 1", "-3", "Parallel synthesis cannot run: the key \"parallel_pipe_timeout_s\" is -3"},
  };
  for (const ROW& row : rows) {
    SCOPED_TRACE(std::string(row.revision) + ", timeout " + row.timeout);
    PARALLEL_SCOPE scope;
    CFG_SCOPE timeout{{"parallel_pipe_timeout_s", row.timeout}};
    const std::string db = (std::filesystem::current_path() / "db").string();
    std::filesystem::create_directories(db + "/sub");
    gen_set_db_dir_path(db);
    scope.facade.set_revision_name(row.revision);
    std::filesystem::remove("helper_0.log");
    std::vector<CDB_SGATE_NETLIST*> parts = chain_partitions({3, 2}, "n");
    msg_log_clear();
    const bool path_row = std::string(row.timeout) == "20";
    EXPECT_EQ(kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, parts), !path_row);
    EXPECT_EQ(kavu_parallel_run_partitions_in_processes(&scope.facade, "map", "1", 2), false);
    // The partitions stay in memory when nothing was written.
    EXPECT_EQ(parts.size(), path_row ? 2u : 0u);
    for (CDB_SGATE_NETLIST* p : parts) delete p;
    parts.clear();
    std::vector<std::string> errors;
    for (const MSG_LOG_ENTRY& e : msg_log())
      if (e.kind == MSG_LOG_ERROR) errors.push_back(e.text);
    ASSERT_FALSE(errors.empty());
    for (const std::string& e : errors) EXPECT_EQ(e.rfind(row.message, 0), 0u) << e;
    EXPECT_FALSE(std::filesystem::exists("helper_0.log"));
    // Nothing lies outside the database directory, nor in a directory of it.
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::current_path()))
      EXPECT_EQ(entry.path().filename().string().find("outside"), std::string::npos) << entry.path();
    EXPECT_TRUE(std::filesystem::is_empty(db + "/sub"));
    if (!path_row) kavu_parallel_recover_partitions(&scope.facade, "map", parts, 2);
    for (CDB_SGATE_NETLIST* p : parts) delete p;
  }
}

// A full disk is named as such, by the parent and by the helper, though the
// failed write's partial file is gone (and its room free again) when the
// failure is reported. The file written (an archive, the copy kept of a
// partition archive) is made a link to /dev/full, where every write fails
// as on a full disk; the helper's result, written over the archive it
// reads, goes through a link to a file on a full tmpfs (as root). The kept copy used to be "cannot copy".
// Another failure (the link names a directory) is the system's reason, the
// message naming the file that failed once: the partition archive's path
// was named twice, the namespace archive's failure was only "the write
// failed", and a failed kept copy named the partition archive.
TEST(KavuParallelArchives, AFullDiskIsSaidToBeFull) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  struct ROW {
    const char* what;
    std::string link;  // the file whose write meets the full disk
    const char* message;
    std::string named;  // the file or directory the message names
  };
  for (const int which : {0, 1, 2}) {
    // "taken": every temporary name beside the archive is taken, which the
    // message says as the file writer does (it said "File exists").
    for (const char* device : {"/dev/full", "/", "taken"}) {
      const bool taken = device == std::string("taken");
      if (taken && which == 2) continue;  // the kept copy is not written beside a temporary
      PARALLEL_SCOPE scope;
      const std::string archive = kavu_parallel_archive_name("rev 1", "map", 0) + ".cdb";
      const std::string kept = kavu_parallel_kept_archive_name("rev 1", "map", 0) + ".cdb";
      const ROW rows[] = {{"namespace archive", gen_get_db_dir_path() + "/hdb_namespace.cdb",
                           "Parallel synthesis cannot write the design's namespace archive in", gen_get_db_dir_path()},
                          {"partition archive", archive, "Parallel synthesis cannot write partition 0 to", archive},
                          {"kept copy", kept, "Parallel synthesis cannot write partition 0 to", kept}};
      const ROW& row = rows[which];
      SCOPED_TRACE(std::string(row.what) + " " + device);
      const std::string link = row.link;
      std::filesystem::remove(link);
      std::vector<std::string> temporaries;
      for (int k = 0; taken && k < 100; ++k)
        temporaries.push_back(link + ".tmp" + std::to_string(getpid()) + "_" + std::to_string(k));
      for (const std::string& t : temporaries) std::ofstream(t) << "x";
      if (!taken) std::filesystem::create_symlink(device, link);
      std::vector<CDB_SGATE_NETLIST*> parts = chain_partitions({3, 2}, "f");
      msg_log_clear();
      EXPECT_FALSE(kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, parts));
      std::filesystem::remove(link);
      for (const std::string& t : temporaries) std::filesystem::remove(t);
      EXPECT_EQ(parts.size(), 2u);
      for (CDB_SGATE_NETLIST* p : parts) delete p;
      int said = 0;
      for (const MSG_LOG_ENTRY& e : msg_log()) {
        if (e.kind != MSG_LOG_ERROR) continue;
        EXPECT_EQ(e.text.rfind(row.message + std::string(" \"") + row.named + "\": ", 0), 0u) << e.text;
        EXPECT_NE(e.text.find(taken ? ": cannot write the file: all 100 names of a temporary file beside it are taken."
                              : device == std::string("/") ? ": cannot write the file: Is a directory."
                                                           : ": the disk is full."),
                  std::string::npos)
            << e.text;
        if (which > 0) {
          EXPECT_EQ(e.text.find(row.named, row.named.size()), std::string::npos) << e.text;  // named once
        }
        ++said;
      }
      EXPECT_EQ(said, 1);
    }
  }
  // The helper, run as the driver runs it without pipes, meets the full disk
  // writing its result: the partition archive it reads is a link to a file
  // on a tmpfs without a free block or inode.
  if (geteuid() != 0) GTEST_SKIP() << "the helper's row mounts a tmpfs: needs root";
  PARALLEL_SCOPE scope;
  auto* part = new CDB_SGATE_NETLIST(true, 1, 1);
  make_buffer(part, make_input_pin(part, "a"));
  ASSERT_TRUE(kavu_parallel_write_and_delete_partition("rev 1", "map", 0, part));
  const std::string archive = kavu_parallel_archive_name("rev 1", "map", 0) + ".cdb";
  std::filesystem::create_directory("full");
  ASSERT_EQ(mount("tmpfs", "full", "tmpfs", 0, "size=256k,nr_inodes=8"), 0) << strerror(errno);
  std::filesystem::copy_file(archive, "full/archive.cdb");
  std::filesystem::remove(archive);
  std::filesystem::create_symlink(std::filesystem::absolute("full/archive.cdb"), archive);
  {
    const int filler = open("full/filler", O_WRONLY | O_CREAT, 0644);
    const std::string chunk(4096, 'z');
    while (filler >= 0 && write(filler, chunk.data(), chunk.size()) > 0) {
    }
    if (filler >= 0) close(filler);
    for (int k = 0; k < 16; ++k) close(open(("full/x" + std::to_string(k)).c_str(), O_WRONLY | O_CREAT, 0644));
  }
  const std::string program = std::string(KAVU_HELPER_DIR) + "/velmora_map";
  const std::vector<std::string> args = {program, "--helper=0", "--helper_type=map", "--helper_step=1",
                                         "--db_dir=" + gen_get_db_dir_path(), "-c", "rev 1", "--", "my project"};
  std::vector<char*> argv;  // made before the fork: the child only makes system calls
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  const pid_t child = fork();
  if (child == 0) {
    char byte;
    close(go[1]);
    if (read(go[0], &byte, 1) != 1) _exit(100);
    const int out = open("full_helper.log", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    execv(argv[0], argv.data());
    _exit(101);
  }
  ASSERT_GT(child, 0);
  close(go[0]);
  ASSERT_EQ(write(go[1], "x", 1), 1);
  close(go[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  umount2("full", MNT_DETACH);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 11);
  std::ifstream log("full_helper.log");
  const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("partition 0 failed: cannot write the partition: the disk is full"), std::string::npos) << text;
}

// The switches the helper's command line carries after its base, in order:
// no banners unless memory is monitored, -r in regression-test mode, and a
// lower priority on request.
TEST(KavuParallelRun, HelperCommandSwitchesFollowTheKeys) {
  PARALLEL_SCOPE scope;
  struct ROW {
    const char *monitor, *regtest, *lower;
    std::vector<std::string> switches;
  } const rows[] = {
      {"off", "off", "off", {"--disable_all_banners"}},
      {"off", "on", "off", {"--disable_all_banners", "-r"}},
      {"on", "on", "on", {"-r", "--lower_priority"}},
      {"on", "off", "off", {}},
  };
  for (const ROW& row : rows) {
    CFG_SCOPE keys{{"parallel_monitor_memory", row.monitor}, {"regtest_mode", row.regtest},
                   {"cmp_lower_priority", row.lower}};
    const std::vector<std::string> argv = kavu_parallel_helper_command(&scope.facade, "map", "1", 0, "", "");
    ASSERT_GE(argv.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(argv.begin(), argv.begin() + 3),
              (std::vector<std::string>{"velmora_map", "--ipc_mode", "--parallel=1"}));
    std::vector<std::string> switches;
    for (const std::string& a : argv)
      if (a == "--disable_all_banners" || a == "-r" || a == "--lower_priority") switches.push_back(a);
    EXPECT_EQ(switches, row.switches) << &row - rows;
    // The switches come right after the base.
    EXPECT_EQ(std::vector<std::string>(argv.begin() + 3, argv.begin() + 3 + long(switches.size())), row.switches);
  }
}

TEST(KavuPartitionNetlists, StateMachinesComeBackOrGoWhenNoStateIsLeft) {
  PARTITION_TEST_SCOPE scope;
  LOADED_NETLIST nl = load_blif("seq/diffeq1");
  CDB_SGATE_HIERARCHY hierarchy;
  // Two machines, each with one state gate read by an output pin and
  // clocked by the first register's output.
  CDB_SGATE_NODE* reg = nullptr;
  for (CDB_SGATE_NODE* n : nl->get_node_list())
    if (!reg && n->cast_to_dff()) reg = n;
  ASSERT_NE(reg, nullptr);
  CDB_SGATE_STATE* states[2];
  for (int i = 0; i < 2; ++i) {
    auto* m = new CDB_STATE_MACHINE;
    m->set_name("fsm" + std::to_string(i));
    m->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, m->get_name().c_str(), nullptr, nullptr, nullptr));
    states[i] = new CDB_SGATE_STATE(nullptr, m);
    nl->add_node(states[i], true);
    m->add_state(states[i]);
    m->set_clk(reg->get_single_oterm());
    make_output_pin(nl.get(), ("st" + std::to_string(i)).c_str(), states[i]);
    hierarchy.get_machine_list()->push_back(m);
  }
  KAVU_PARTITIONER partitioner;
  partitioner.partition_on_reg_boundary(nl.get(), nullptr, partition_params(4), false);
  KAVU_PARTITION_BOUNDARIES b;
  std::vector<CDB_SGATE_NETLIST*> parts;
  kavu_get_partition_netlists(parts, nl.get(), &hierarchy, nullptr, b, false);
  EXPECT_FALSE(hierarchy.has_machines());
  // A "helper" removes the second machine's only state gate.
  CDB_SGATE_NETLIST* owner = states[1]->get_netlist();
  ASSERT_NE(owner, nullptr);
  std::vector<CDB_SGATE_ITERM*> readers;
  states[1]->get_single_oterm()->copy_fanouts(readers);
  for (CDB_SGATE_ITERM* t : readers) t->set_vcc();
  owner->delete_node(states[1]);
  delete states[1];
  kavu_merge_netlists(parts, nl.get(), &hierarchy, b);
  ASSERT_EQ(hierarchy.get_machine_list()->size(), 1u);
  CDB_STATE_MACHINE* m = hierarchy.get_machine_list()->front();
  EXPECT_EQ(m->get_name(), "fsm0");
  ASSERT_EQ(m->get_states().size(), 1u);
  EXPECT_EQ(m->get_states()[0], states[0]);
  EXPECT_EQ(m->get_clk(), reg->get_single_oterm());
}

// ---- repeated runs in one process

namespace {

// Every name of the namespace, counted by an explicit walk of the forest.
size_t count_names(const HDB_NAMESPACE* ns) {
  size_t n = 0;
  std::vector<const HDB_INSTANCE_NAME*> stack(ns->get_top_names().begin(), ns->get_top_names().end());
  while (!stack.empty()) {
    const HDB_INSTANCE_NAME* name = stack.back();
    stack.pop_back();
    ++n;
    for (const HDB_INSTANCE_NAME* c : name->get_children()) stack.push_back(c);
  }
  return n;
}

}  // namespace

// Running the flow again in the same process used to name every cut edge
// afresh ("x~boundary~7"): the namespace and its archive grew by the cut
// gates of a whole run each time, and so did the helpers' work. Both ways a
// process runs the flow again keep the namespace, its archive and the design
// as the first run left them: on a fresh copy of the design each time, and on
// the same design with the run's boundary gates taken out after the merge
// (boundary gates left in would be partitioned as logic by the next run).
// The same design is the helpers' result from the second run on, which may
// cut other edges than the original once; from then on nothing may grow.
TEST(KavuParallelRun, RepeatedRunsInOneProcessDoNotGrow) {
  for (const char* design : {"seq/diffeq1", static_cast<const char*>(nullptr)})
    for (const bool same_netlist : {false, true}) {
      SCOPED_TRACE(std::string(design ? design : "generated pipeline") +
                   (same_netlist ? ", the same netlist undone after each run" : ", a fresh copy each run"));
      PARALLEL_SCOPE scope;
      kavu_parallel_force_named_pipes(1);
      CFG_SCOPE threads{{"put_max_threads", "2"}};
      LOADED_NETLIST loaded = design ? load_blif(design) : LOADED_NETLIST(make_pipeline(12, 16));
      const std::string ns_file = gen_get_db_dir_path() + "/hdb_namespace.cdb";
      std::unique_ptr<CDB_SGATE_NETLIST> kept(same_netlist ? clone_netlist(loaded.get()) : nullptr);
      size_t first_names = 0, first_gates = 0;
      std::uintmax_t first_bytes = 0;
      const int baseline = same_netlist ? 2 : 1;
      for (int run = 1; run <= baseline + 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        std::unique_ptr<CDB_SGATE_NETLIST> fresh(same_netlist ? nullptr : clone_netlist(loaded.get()));
        CDB_SGATE_NETLIST* nl = same_netlist ? kept.get() : fresh.get();
        int n = 0;
        ASSERT_TRUE(run_parallel(&scope.facade, nl, 4, &n));
        EXPECT_GE(n, 2);
        if (same_netlist) {
          kavu_delete_partition_on_reg_boundary(nl);
          EXPECT_FALSE(kavu_netlist_has_boundary_sgates(nl));
        }
        std::string why;
        EXPECT_TRUE(sim_equivalent(loaded.get(), nl, SIM_COMPARE{}, &why)) << why;
        const size_t names = count_names(hdb_default_namespace()), gates = nl->size();
        const std::uintmax_t bytes = std::filesystem::file_size(ns_file);
        if (run == baseline) {
          first_names = names;
          first_gates = gates;
          first_bytes = bytes;
        }
        if (run < baseline) continue;
        EXPECT_EQ(names, first_names);
        EXPECT_EQ(bytes, first_bytes);
        EXPECT_EQ(gates, first_gates);
      }
    }
}

namespace {
// The process's resident set in bytes (VmRSS), 0 where it cannot be read.
size_t resident_bytes() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  unsigned long pages = 0, resident = 0;
  const bool read = std::fscanf(f, "%lu %lu", &pages, &resident) == 2;
  std::fclose(f);
  return read ? size_t(resident) * size_t(sysconf(_SC_PAGESIZE)) : 0;
}
}  // namespace

// Flows run one after another in one process give back what each made: from
// the 10th flow to the 20th the cell pool takes no slab from the system, the
// heap holds no more (within the allocator's rounding) and the resident set
// grows by less than four flows' read-backs, whether each flow gets a fresh copy
// of the design or runs on the one design again. The pool
// took the whole read-back's worth of slabs every flow (the gates a helper
// thread deleted never came back to it), and the design's node list kept a
// slot for every gate of every earlier flow.
TEST(KavuParallelRun, FlowsInOneProcessGiveBackWhatTheyMade) {
  const struct {
    const char* design;
    bool same_netlist;
  } rows[] = {{"seq/diffeq1", false}, {"seq/diffeq1", true}};
  for (const auto& row : rows) {
    const bool same_netlist = row.same_netlist;
    SCOPED_TRACE(std::string(row.design) + (same_netlist ? ": the same design each flow" : ": a fresh copy each flow"));
    EXPECT_EQ(in_child([&]() -> std::string {
                PARALLEL_SCOPE scope;
                kavu_parallel_force_named_pipes(1);
                CFG_SCOPE threads{{"put_max_threads", "1"}};  // one helper a flow
                const LOADED_NETLIST loaded = load_blif(row.design);
                std::unique_ptr<CDB_SGATE_NETLIST> kept(same_netlist ? clone_netlist(loaded.get()) : nullptr);
                struct USE {
                  size_t pool, heap, resident;
                };
                auto in_use = [] {
                  const struct mallinfo2 m = mallinfo2();
                  return USE{cdb_pool_slab_bytes(), m.uordblks + m.hblkhd, resident_bytes()};
                };
#ifdef KAVU_UNDER_ASAN
                const int flows = 3;  // nothing is measured there (below): the flows are run for the sanitizer
#else
                const int flows = 20;
#endif
                USE after[21]{};
                for (int flow = 1; flow <= flows; ++flow) {
                  std::unique_ptr<CDB_SGATE_NETLIST> fresh(same_netlist ? nullptr : clone_netlist(loaded.get()));
                  CDB_SGATE_NETLIST* nl = same_netlist ? kept.get() : fresh.get();
                  int n = 0;
                  if (!run_parallel(&scope.facade, nl, 2, &n) || n < 2) return "flow " + std::to_string(flow) + " failed";
                  kavu_delete_partition_on_reg_boundary(nl);
                  fresh.reset();
                  after[flow] = in_use();
                }
                std::string grew;
#ifndef KAVU_UNDER_ASAN  // the sanitizer's allocator holds freed blocks back, and the pool's cells with it
                const USE& a10 = after[10];
                const USE& a20 = after[20];
                if (a20.pool > a10.pool) grew += "the pool took " + std::to_string(a20.pool - a10.pool) + " bytes more; ";
                if (a20.heap > a10.heap + (64 << 10))
                  grew += "the heap holds " + std::to_string(a20.heap - a10.heap) + " bytes more; ";
                // The allocator's per-thread arenas (each flow's job threads
                // may take another) move the resident set by a few MB; one
                // flow's read-back kept is about 4 MB.
                if (a20.resident > a10.resident + (16 << 20))
                  grew += "the resident set grew by " + std::to_string(a20.resident - a10.resident) + " bytes; ";
                if (!grew.empty())
                  grew += "resident after 1, 10, 20 flows: " + std::to_string(after[1].resident >> 10) + ", " +
                          std::to_string(a10.resident >> 10) + ", " + std::to_string(a20.resident >> 10) + " KB";
#endif
                return grew;
              }, 300),
              "");
  }
}

// ---- the database directory, the archives' contents and the read-back

namespace {

// Stands in for a helper on archive k: reads the partition, records one
// removed register named after it, adds a buffer nobody reads (so the
// result is told from the partition written, its function unchanged) and
// writes both archives back; `result`, when given, is written in place of
// the partition read (and freed).
void simulate_helper(int k, CDB_SGATE_NETLIST* result = nullptr) {
  CDB_SGATE_NETLIST* p = nullptr;
  ASSERT_TRUE(kavu_parallel_read_partition("rev 1", "map", k, &p, nullptr));
  CDB_SGATE_NODE* source = nullptr;
  for (CDB_SGATE_NODE* g : p->get_node_list())
    if (!source && g->get_single_oterm()) source = g;
  ASSERT_NE(source, nullptr);
  make_buffer(p, source);
  kavu_parallel_create_removed_reg_db("rev 1", "map", k);
  CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance()->get_current_removed_reg_db()->add_fanoutless(
      "r" + std::to_string(k));
  ASSERT_TRUE(kavu_parallel_write_and_delete_removed_reg_db("rev 1", "map", k));
  CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance()->set_current_removed_reg_db("main");
  if (result) {
    delete p;
    p = result;
  }
  ASSERT_TRUE(kavu_parallel_write_and_delete_partition("rev 1", "map", k, p));
}

// The gate counts of archives 0..n-1 as written.
std::vector<size_t> archive_sizes(int n) {
  std::vector<size_t> sizes;
  for (int k = 0; k < n; ++k) {
    CDB_SGATE_NETLIST* p = nullptr;
    EXPECT_TRUE(kavu_parallel_read_partition("rev 1", "map", k, &p, nullptr));
    sizes.push_back(p ? p->get_node_list().size() : 0);
    delete p;
  }
  return sizes;
}

// The design's ports as a writer names them, sorted: each pin's direction
// and name, and for an input the signal it drives.
std::vector<std::string> port_names(CDB_SGATE_NETLIST* nl) {
  std::vector<std::string> names;
  for (CDB_SGATE_NODE* g : nl->get_node_list())
    if (CDB_SGATE_IO* pin = g->cast_to_io())
      names.push_back(std::to_string(int(pin->get_io_type())) + " " + pin->get_string_hpath() +
                      (pin->is_input() ? " " + pin->get_output_term(0)->get_string_hpath() : std::string()));
  std::sort(names.begin(), names.end());
  return names;
}

int error_count_with(const std::string& words) {
  int n = 0;
  for (const MSG_LOG_ENTRY& e : msg_log()) n += e.kind == MSG_LOG_ERROR && text_contains_words(e.text, words);
  return n;
}

}  // namespace

// A database directory that cannot be made, or a kernel pseudo file system
// that takes no file, is the writer's failure with the system's reason: the
// partitions stay in memory and nothing is called a full disk. Readers find
// nothing there. Both used to abort ("cannot create the project database
// directory") or say "the disk is full".
TEST(KavuParallelArchives, UnwritableDatabaseDirectoryKeepsThePartitions) {
  PARALLEL_SCOPE scope;
  std::ofstream("plain") << "a file, not a directory";
  std::ofstream("odd\x1b]0;x\a") << "a file, not a directory";
  for (const char* dir : {"plain/db", "/proc", "odd\x1b]0;x\a/db"}) {
    SCOPED_TRACE(dir);
    gen_set_db_dir_path(dir);
    msg_log_clear();
    std::vector<CDB_SGATE_NETLIST*> parts = chain_partitions({2, 3}, "u");
    EXPECT_FALSE(kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, parts));
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0]->get_node_list().size() + parts[1]->get_node_list().size(), 5u);
    EXPECT_EQ(error_count_with("Parallel synthesis cannot write"), 1);
    for (const MSG_LOG_ENTRY& e : msg_log()) EXPECT_EQ(e.text.find("disk is full"), std::string::npos) << e.text;
    if (std::string(dir) == "plain/db") {
      EXPECT_EQ(error_count_with(std::strerror(ENOTDIR)), 1);
    }
    if (dir[0] == 'o') {  // the directory is quoted escaped (it used to be raw)
      EXPECT_EQ(error_count_with("Parallel synthesis cannot write the partitions in /odd\\x1b]0;x\\x07/db\":"), 1);
    }
    EXPECT_FALSE(kavu_parallel_write_and_delete_partition("rev 1", "map", 0, parts[0]));
    CDB_SGATE_NETLIST* p = reinterpret_cast<CDB_SGATE_NETLIST*>(1);
    EXPECT_FALSE(kavu_parallel_read_partition("rev 1", "map", 0, &p, nullptr));
    EXPECT_EQ(p, nullptr);
    std::vector<CDB_SGATE_NETLIST*> back;
    EXPECT_FALSE(kavu_parallel_deserialize(&scope.facade, "map", 1, nullptr, back, 2));
    EXPECT_TRUE(back.empty());
    for (CDB_SGATE_NETLIST* q : parts) delete q;
  }
}

// The database directory's lock between the runs of two processes. A lock
// file root's run made (0644) is locked read-only by nobody's run in the
// shared (0777) directory, which used to be refused ("Permission denied").
// A run that waits names the run it waits for (its process and host, which
// that run wrote into the lock file), or says the file names none where
// that run could only read the file; the caller's alarm its handler catches
// ends the wait as an error, handler restarting calls or not, the partitions in
// memory (it used to wait as long as the holder held). On a file system
// without locks (ENOLCK, ENOSYS, EOPNOTSUPP) the run goes on, with a warning that runs
// there are not kept apart; it used to be refused.
TEST(KavuParallelArchives, TheDirectoryLockIsSharedNamedAndEndsOnASignal) {
  struct ROW {
    const char* what;
    bool nobody;     // the other process's run is nobody's
    bool held;       // it holds the lock while this process's run starts
    int lock_error;  // flock fails so here
    bool record = false;  // it holds only a record lock of the lock file, as an NFS server holds a client's
  } const rows[] = {
      {"root's lock file, nobody's run", true, false, 0},
      {"held by root's run", false, true, 0},
      {"held by nobody's run on root's lock file", true, true, 0},
      {"held by a record lock, as an NFS client's run", false, true, 0, true},
      {"no locks on the file system (ENOLCK)", false, false, ENOLCK},
      {"no locks on the file system (ENOSYS)", false, false, ENOSYS},
      {"no locks on the file system (EOPNOTSUPP)", false, false, EOPNOTSUPP},
  };
  PARALLEL_SCOPE scope;
  CFG_SCOPE one_thread{{"pmap_parallel", "off"}};
  const std::string db = (std::filesystem::current_path() / "shared").string();
  std::filesystem::create_directory(db);
  std::filesystem::permissions(db, std::filesystem::perms(0777));
  gen_set_db_dir_path(db);
  std::vector<std::pair<std::filesystem::path, std::filesystem::perms>> opened;
  for (const std::filesystem::path& d : {std::filesystem::current_path().parent_path(), std::filesystem::current_path()}) {
    opened.emplace_back(d, std::filesystem::status(d).permissions());
    std::filesystem::permissions(d, std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
  }
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  std::vector<std::string> not_run;
  for (const ROW& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.nobody && geteuid() != 0) {
      not_run.push_back(std::string(row.what) + ": needs root");
      continue;
    }
    if (row.lock_error) {
      // The archives of the rows before, anyone's, would be a run's that
      // the lock does not keep out, which refuses this run (other rows show
      // it): the directory is cleared as its users would clear it.
      for (const auto& entry : std::filesystem::directory_iterator(db))
        if (entry.path().filename() != "parallel_synthesis.lock") std::filesystem::remove(entry.path());
      gen_test_fail_file_locks(row.lock_error);
      std::vector<CDB_SGATE_NETLIST*> parts = chain_partitions({2, 3}, "e");
      msg_log_clear();
      EXPECT_TRUE(kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, parts));
      gen_test_fail_file_locks(0);
      int warned = 0;
      for (const MSG_LOG_ENTRY& e : msg_log())
        warned += e.kind == MSG_LOG_WARNING && e.text.find(std::strerror(row.lock_error)) != std::string::npos &&
                  e.text.find("are not kept apart") != std::string::npos;
      EXPECT_EQ(warned, 1);
      EXPECT_TRUE(kavu_parallel_recover_partitions(&scope.facade, "map", parts, 2));
      EXPECT_EQ(parts.size(), 2u);
      for (CDB_SGATE_NETLIST* p : parts) delete p;
      continue;
    }
    // Root's run makes the lock file (umask 022) and ends. The archives of
    // each run, which another user's run never replaces in a directory
    // others may write, go as their user would clear them.
    for (const auto& entry : std::filesystem::directory_iterator(db)) std::filesystem::remove(entry.path());
    {
      const mode_t mask = umask(022);
      std::vector<CDB_SGATE_NETLIST*> parts = chain_partitions({2, 3}, "r");
      EXPECT_TRUE(kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, parts));
      EXPECT_TRUE(kavu_parallel_recover_partitions(&scope.facade, "map", parts, 2));
      for (CDB_SGATE_NETLIST* p : parts) delete p;
      umask(mask);
    }
    if (row.nobody)
      for (const auto& entry : std::filesystem::directory_iterator(db))
        if (entry.path().filename() != "parallel_synthesis.lock") std::filesystem::remove(entry.path());
    // The other process's run: "ok" once it holds the lock, or why not. A
    // held lock is kept until `go` closes.
    int answer[2], go[2];
    ASSERT_EQ(pipe(answer), 0);
    ASSERT_EQ(pipe(go), 0);
    const pid_t child = fork();
    if (child == 0) {
      close(answer[0]);
      close(go[1]);
      std::string told = "ok";
      if (row.nobody && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
        told = "cannot become nobody";
      } else if (row.record) {
        struct flock whole = {};
        whole.l_type = F_WRLCK;
        const int fd = open((db + "/parallel_synthesis.lock").c_str(), O_RDWR);
        if (fd < 0 || fcntl(fd, F_SETLK, &whole) != 0) told = std::string("no record lock: ") + std::strerror(errno);
      } else {
        std::vector<CDB_SGATE_NETLIST*> parts = chain_partitions({2, 3}, "c");
        if (!kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, parts))
          for (const MSG_LOG_ENTRY& e : msg_log()) told = e.text;
      }
      (void)!write(answer[1], told.data(), told.size());
      close(answer[1]);
      char byte;
      if (row.held) (void)!read(go[0], &byte, 1);
      std::_Exit(0);
    }
    close(answer[1]);
    close(go[0]);
    std::string told;
    char buffer[512];
    for (ssize_t n; (n = read(answer[0], buffer, sizeof buffer)) > 0;) told.append(buffer, size_t(n));
    close(answer[0]);
    if (told == "cannot become nobody") {
      close(go[1]);
      waitpid(child, nullptr, 0);
      not_run.push_back(std::string(row.what) + ": " + told);
      continue;
    }
    EXPECT_EQ(told, "ok");
    if (row.held && !row.record && told == "ok") {
      // The run holds a record lock too, which an NFS server's lock for a
      // client's run meets.
      struct flock whole = {};
      whole.l_type = F_WRLCK;
      const int fd = open((db + "/parallel_synthesis.lock").c_str(), O_RDWR);
      EXPECT_TRUE(fd >= 0 && fcntl(fd, F_SETLK, &whole) != 0 && (errno == EAGAIN || errno == EACCES));
      if (fd >= 0) close(fd);
    }
    if (row.held && told == "ok") {
      // This run waits; a handler that restarts calls catches the alarms
      // sent until the run returns (after 5 s the holder lets go, so that a
      // wait no signal ends still ends).
      struct sigaction caught {}, saved {};
      caught.sa_handler = [](int) {};
      caught.sa_flags = SA_RESTART;
      sigaction(SIGALRM, &caught, &saved);
      std::atomic<bool> returned{false};
      const pthread_t waiter = pthread_self();
      std::thread signaller([&] {
        for (int k = 0; !returned; ++k) {
          if (k == 500) {
            close(go[1]);
            go[1] = -1;
          }
          pthread_kill(waiter, SIGALRM);
          usleep(10000);
        }
      });
      std::vector<CDB_SGATE_NETLIST*> parts = chain_partitions({2, 3}, "w");
      msg_log_clear();
      const bool ok = kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, parts);
      returned = true;
      signaller.join();
      sigaction(SIGALRM, &saved, nullptr);
      EXPECT_FALSE(ok);
      EXPECT_EQ(parts.size(), ok ? 0u : 2u);
      if (ok) {
        EXPECT_TRUE(kavu_parallel_recover_partitions(&scope.facade, "map", parts, 2));
      }
      for (CDB_SGATE_NETLIST* p : parts) delete p;
      const std::string holder = "process " + std::to_string(child) + " on " + host;
      int waited = 0, interrupted = 0;
      for (const MSG_LOG_ENTRY& e : msg_log()) {
        if (e.kind == MSG_LOG_INFO && e.text.find("waits for another run") != std::string::npos) {
          ++waited;
          EXPECT_NE(e.text.find(row.nobody || row.record ? "(the run is not named in \"" + db + "/parallel_synthesis.lock\")"
                                                         : "(" + holder + ")"),
                    std::string::npos)
              << e.text;
        }
        interrupted += e.kind == MSG_LOG_ERROR && e.text.find("was interrupted by a signal") != std::string::npos;
      }
      EXPECT_EQ(waited, 1);
      EXPECT_EQ(interrupted, 1);
    }
    if (go[1] >= 0) close(go[1]);
    waitpid(child, nullptr, 0);
  }
  for (const auto& [d, perms] : opened) std::filesystem::permissions(d, perms);
  if (!not_run.empty()) GTEST_SKIP() << "rows did not run: " << not_run.front();
}

// Without the removed-register database the read-back merges into, the run
// stops in serialize, in the read-back's words, while the partitions are all
// in memory; it used to stop in the read-back, the design gone.
TEST(KavuParallelArchives, MissingRemovedRegisterDatabaseStopsBeforeAnythingIsWritten) {
  PARALLEL_SCOPE scope;
  CDB_SGATE_REMOVED_REGISTERS_MANAGER::test_reset();
  std::vector<CDB_SGATE_NETLIST*> parts = chain_partitions({2, 3}, "m");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, parts), "main_reg_db != NULL");
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0]->get_node_list().size() + parts[1]->get_node_list().size(), 5u);
  EXPECT_FALSE(std::filesystem::exists(kavu_parallel_archive_name("rev 1", "map", 0) + ".cdb"));
  for (CDB_SGATE_NETLIST* p : parts) delete p;
}

// The archive carries each gate's hierarchy, so a partition read with a
// hierarchy out-pointer is attached to the root of its gates' hierarchy,
// as named when written; every read of it finds the same one. An archive of
// the format before hierarchies still reads, its gates without one, and
// asked for a hierarchy stops without leaking the netlist (ASan).
TEST(KavuParallelArchives, ReadPartitionFindsTheRootCarriedInTheArchive) {
  PARALLEL_SCOPE scope;
  CDB_SGATE_HIERARCHY root, child;
  root.set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr));
  child.set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, "sub", nullptr, nullptr, root.get_instance_name()));
  child.set_parent(&root);
  LOADED_NETLIST loaded = load_blif("seq/diffeq1");
  KAVU_PARTITION_BOUNDARIES b;
  std::vector<CDB_SGATE_NETLIST*> parts = split(loaded.get(), 3, b);
  const int n = int(parts.size());
  ASSERT_TRUE(kavu_parallel_serialize(&scope.facade, "map", 1, &child, parts));
  CDB_SGATE_HIERARCHY* first = nullptr;
  for (int k = 0; k < n; ++k) {
    CDB_SGATE_NETLIST* p = nullptr;
    CDB_SGATE_HIERARCHY* found = nullptr;
    ASSERT_TRUE(kavu_parallel_read_partition("rev 1", "map", k, &p, &found)) << k;
    ASSERT_NE(found, nullptr);
    if (!first) first = found;
    EXPECT_EQ(found, first);
    EXPECT_EQ(found->get_parent(), nullptr);
    ASSERT_NE(found->get_instance_name(), nullptr);
    EXPECT_EQ(found->get_instance_name()->get_short_hpath(0), "top");
    EXPECT_EQ(found->get_netlist(), p);
    EXPECT_EQ(p->get_hierarchy(), found);
    for (CDB_SGATE_IO* pin : p->get_input_pins()) {
      ASSERT_NE(pin->get_hierarchy(), nullptr);
      EXPECT_EQ(pin->get_hierarchy()->get_instance_name()->get_short_hpath(0), "top|sub");
      EXPECT_EQ(pin->get_hierarchy()->get_root(), found);
    }
    found->set_netlist(nullptr);
    delete p;
  }
  // A version-2 archive: gates without a hierarchy.
  const std::string old_file = kavu_parallel_archive_name("rev 1", "map", 0) + ".cdb";
  std::filesystem::copy_file(KAVU_TEST_DATA_DIR "/pdb/netlist_v2.cdb", old_file,
                             std::filesystem::copy_options::overwrite_existing);
  CDB_SGATE_NETLIST* p = nullptr;
  ASSERT_TRUE(kavu_parallel_read_partition("rev 1", "map", 0, &p, nullptr));
  for (CDB_SGATE_NODE* g : p->get_node_list()) EXPECT_EQ(g->get_hierarchy(), nullptr);
  LOADED_NETLIST counter = load_blif("small/counter8_lut4");
  std::string why;
  EXPECT_TRUE(sim_equivalent(counter.get(), p, SIM_COMPARE{}, &why)) << why;
  delete p;
  CDB_SGATE_HIERARCHY* found = reinterpret_cast<CDB_SGATE_HIERARCHY*>(1);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_parallel_read_partition("rev 1", "map", 0, &p, &found), "*hierarchy_ptr");
  EXPECT_EQ(p, nullptr);
}

// A damaged archive that still reads as a netlist which is not whole (a LUT
// whose mask reads an unconnected input) is refused by the reader the
// helper uses, not only by the parent's read-back, and leaves nothing.
TEST(KavuParallelArchives, ReadPartitionRefusesANetlistThatIsNotWhole) {
  PARALLEL_SCOPE scope;
  auto* broken = new CDB_SGATE_NETLIST(true, 1, 1);
  CDB_SGATE_NODE* a = make_input_pin(broken, "a");
  CDB_SGATE_NODE* c = make_input_pin(broken, "c");
  CDB_SGATE_NODE* lut = make_lut(broken, {a, c}, 0x8);
  lut->get_input_term(1)->remove_fanin();
  make_output_pin(broken, "y", lut);
  std::string report;
  ASSERT_FALSE(broken->check(&report));
  ASSERT_TRUE(kavu_parallel_write_and_delete_partition("rev 1", "map", 0, broken));
  DEBUG_CAPTURE cap("KAVU");
  CDB_SGATE_NETLIST* p = reinterpret_cast<CDB_SGATE_NETLIST*>(1);
  EXPECT_FALSE(kavu_parallel_read_partition("rev 1", "map", 0, &p, nullptr));
  EXPECT_EQ(p, nullptr);
  EXPECT_TRUE(cap.contains("Cannot read partition 0: LUT"));
  EXPECT_TRUE(cap.contains("mask depends on unconnected input 1"));
}

// A helper that writes a well-formed archive of the wrong netlist and
// reports success: another partition's, an empty one, this partition under
// another number, with a boundary it was not given, without half its
// output pins (swept after them: the design would lose outputs and the
// registers that fed only them), without one output or one input pin, with
// an extra output or input pin, or with pins renamed (their debug numbers
// kept: the design's ports would no longer be those its constraints name).
// The read-back refuses it, naming the partition and what differs, and
// recovery refuses it too and takes the kept copy, so the merge gives the
// design back, with the removed registers of the results taken and no
// others. What was written is known from this process's write or, when
// the archives are found elsewhere, from the kept copy. The first two used
// to be taken, the kept copy deleted and the merge stopped ("Two boundaries
// have the same debug number"); half the outputs missing was taken without
// a word; extra and renamed pins were taken too, and so were pins turned
// around (an output made an input or bidirectional, an input made an
// output) and an input pin whose signal, the name its port is written
// under, was renamed. A missing pin after the last one found and an extra
// one between those written count as well as any. A result that reads back
// as a netlist that is not whole is refused as unreadable. With several
// wrong results each gets its message (only the first used to); recovery
// adds none for a result already told, and after a failed run (partition 0's
// helper ended before answering, which the run tells) tells each result it
// refuses, where it used to tell none. A longer file left at a kept copy's
// name by an earlier run leaves nothing behind the new copy. Boundaries are
// compared as pins are: an output boundary turned into an input, an input
// boundary turned into an output and two boundaries that exchange their
// debug numbers (which the merge would join by the wrong signals) were
// taken without a word. So was the result an earlier run of the same
// partitions wrote, for the design before an edit, put back where this
// run's helper writes: it carries that run's stamp, not this one's; a
// result that carries no stamp at all is refused too.
namespace {

// The kinds of wrong result below, each a test of its own so that none runs
// long under a sanitizer: another netlist's identity, pins missing, pins
// extra, pins renamed or turned around, boundaries, the faults of the
// helper program's list on boundaries, and another run's result.
enum class WRONG_RESULTS {
  IDENTITY,
  PINS_MISSING,
  PINS_EXTRA,
  PINS_RENAMED_OR_TURNED,
  BOUNDARIES,
  BOUNDARY_FAULTS,
  RUNS
};

struct WRONG_RESULT_ROW {
  const char* wrong;
  const char* words;             // of the message, after the verdict
  const char* clause = nullptr;  // held by the message as written
  bool all_but_one = false;      // every partition but 1 is wrong, else only 1
  bool from_kept_copy = false;   // the archives are found where this process did not write them
  bool stale_kept = false;       // a longer file lies at the kept copy's name before the write
  const char* design = "seq/diffeq1";
  bool run_failed = false;       // no read-back: partition 0's helper ended early, recovery follows
  const char* verdict = "is not this partition's netlist";
};

WRONG_RESULTS wrong_results_kind(const WRONG_RESULT_ROW& row) {
  const std::string wrong = row.wrong;
  auto has = [&](const char* word) { return wrong.find(word) != std::string::npos; };
  if (has("run")) return WRONG_RESULTS::RUNS;
  if (std::any_of(boundary_faults().begin(), boundary_faults().end(),
                  [&](const BOUNDARY_FAULT& f) { return wrong == f.name; }))
    return WRONG_RESULTS::BOUNDARY_FAULTS;
  if (has("boundar")) return WRONG_RESULTS::BOUNDARIES;
  if (!has("pin")) return WRONG_RESULTS::IDENTITY;
  if (has("renamed") || has("turned") || has("bidirectional")) return WRONG_RESULTS::PINS_RENAMED_OR_TURNED;
  return has("extra") ? WRONG_RESULTS::PINS_EXTRA : WRONG_RESULTS::PINS_MISSING;
}

// Runs the rows of the table that are of `kind`.
void check_wrong_results(WRONG_RESULTS kind) {
  static const std::string turned = "pins 0 are missing, 0 are extra, 0 are renamed and 1 changed direction)";
  static const std::string turned_boundary =
      "boundaries 0 are missing, 0 are extra, 0 are renamed and 1 changed direction)";
  const char* const swapped = "boundaries 0 are missing, 0 are extra and 2 are renamed)";
  const char* const another_run = "was not written for this run";
  using ROW = WRONG_RESULT_ROW;
  const ROW rows[] = {
      {"another partition's", "("},
      {"an empty netlist", "boundaries are missing"},
      {"another netlist number", "it is netlist was written as netlist"},
      {"an extra boundary", "of its boundaries 0 are missing, 1 are extra and 0 are renamed"},
      {"half its output pins", "pins are missing"},
      {"one output pin", "pins are missing", "pins 1 are missing, 0 are extra and 0 are renamed)"},
      {"one input pin", "pins are missing", "pins 1 are missing, 0 are extra and 0 are renamed)"},
      {"an extra output pin", "pins are extra", "pins 0 are missing, 1 are extra and 0 are renamed)"},
      {"an extra input pin", "pins are extra", "pins 0 are missing, 1 are extra and 0 are renamed)"},
      {"a renamed pin", "pins are renamed", "pins 0 are missing, 0 are extra and 1 are renamed)"},
      {"every pin renamed", "pins 0 are missing, 0 are extra are renamed"},
      {"a renamed pin", "pins are renamed", "pins 0 are missing, 0 are extra and 1 are renamed)", false, true},
      {"an extra output pin", "pins are extra", "pins 0 are missing, 1 are extra and 0 are renamed)", false, true},
      {"another netlist number", "it is netlist was written as netlist", nullptr, true, false, false,
       "seq/stereovision3"},
      {"another partition's", "(", nullptr, false, false, true},
      {"an output pin turned into an input", "changed direction", turned.c_str()},
      {"an input pin turned into an output", "changed direction", turned.c_str()},
      {"an output pin made bidirectional", "changed direction", turned.c_str()},
      {"an input pin's signal renamed", "pins are renamed", "pins 0 are missing, 0 are extra and 1 are renamed)"},
      {"the last pin", "pins are missing", "pins 1 are missing, 0 are extra and 0 are renamed)"},
      {"an extra input pin between the pins", "pins are extra", "pins 0 are missing, 1 are extra and 0 are renamed)"},
      {"a netlist that is not whole", "mask depends on unconnected input", nullptr, false, false, false,
       "seq/diffeq1", false, "cannot be read back ("},
      {"an extra input pin", "pins are extra", "pins 0 are missing, 1 are extra and 0 are renamed)", false, false,
       false, "seq/diffeq1", true},
      {"an output boundary turned into an input", "changed direction", turned_boundary.c_str()},
      {"an input boundary turned into an output", "changed direction", turned_boundary.c_str()},
      {"two boundaries exchanging debug numbers", "boundaries are renamed", swapped},
      {"two boundaries exchanging debug numbers", "boundaries are renamed", swapped, false, true},
      {"a result of an earlier run", "(it carries the stamp of another run)", nullptr, false, false, false,
       "seq/diffeq1", false, another_run},
      {"a result of an earlier run", "(it carries the stamp of another run)", nullptr, false, true, false,
       "seq/diffeq1", false, another_run},
      {"a result without a run stamp", "(it carries no run stamp)", nullptr, false, false, false, "seq/diffeq1",
       false, another_run},
  };
  // And every fault of the helper program's list on boundaries, as it makes
  // them (an output boundary left undriven, its input cut, used to be taken
  // and to stop the merge: "cdb_is_connected (iterm)").
  std::vector<ROW> all(std::begin(rows), std::end(rows));
  for (const BOUNDARY_FAULT& fault : boundary_faults()) {
    all.push_back({fault.name, "boundaries", fault.refusal});
    if (std::string(fault.name) == "cut_output_boundary")  // and known from the kept copy
      all.push_back({fault.name, "boundaries", fault.refusal, false, true});
  }
  int ran = 0;
  for (const ROW& row : all) {
    if (wrong_results_kind(row) != kind) continue;
    ++ran;
    const std::string wrong = row.wrong;
    SCOPED_TRACE(wrong + (row.all_but_one ? ", every partition but 1" : "") +
                 (row.from_kept_copy ? ", known from the kept copy" : "") +
                 (row.stale_kept ? ", over a longer stale kept copy" : ""));
    CDB_SGATE_REMOVED_REGISTERS_MANAGER::test_reset();  // every database counts from zero
    PARALLEL_SCOPE scope;
    LOADED_NETLIST loaded = load_blif(row.design);
    std::unique_ptr<CDB_SGATE_NETLIST> golden(clone_netlist(loaded.get()));
    KAVU_PARTITION_BOUNDARIES b;
    std::vector<CDB_SGATE_NETLIST*> parts = split(loaded.get(), 4, b);
    const int n = int(parts.size());
    ASSERT_GE(n, row.all_but_one ? 3 : 2);
    auto file = [](const std::string& name) { return name + ".cdb"; };
    const std::string kept_1 = file(kavu_parallel_kept_archive_name("rev 1", "map", 1));
    if (row.stale_kept) std::ofstream(kept_1) << std::string(size_t(1) << 22, 'x');
    // An earlier run of the same partitions, as in another process (the
    // same netlists, numbers and names): its helper's result for partition
    // 1, of the design before an edit (an output inverted), and that
    // helper's removed registers are set aside; this run writes the same
    // partitions again, under the same numbers.
    const std::string earlier_result = gen_get_db_dir_path() + "/earlier_result.cdb";
    const std::string earlier_registers = gen_get_db_dir_path() + "/earlier_registers.cdb";
    int earlier_number = 0;
    if (wrong == "a result of an earlier run") {
      ASSERT_TRUE(kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, parts));
      for (int k = n - 1; k >= 0; --k) {  // smallest first: sorted again into the same numbers
        CDB_SGATE_NETLIST* p = nullptr;
        ASSERT_TRUE(kavu_parallel_read_partition("rev 1", "map", k, &p, nullptr));
        parts.push_back(p);
      }
      CDB_SGATE_NETLIST* earlier = nullptr;
      ASSERT_TRUE(kavu_parallel_read_partition("rev 1", "map", 1, &earlier, nullptr));
      ASSERT_FALSE(earlier->get_output_pins().empty());
      CDB_SGATE_ITERM* edited = earlier->get_output_pins().front()->get_input_term(0);
      edited->is_inverted() ? edited->clear_invert() : edited->set_invert();
      earlier_number = earlier->get_number();
      simulate_helper(1, earlier);
      const auto over = std::filesystem::copy_options::overwrite_existing;
      std::filesystem::copy_file(file(kavu_parallel_archive_name("rev 1", "map", 1)), earlier_result, over);
      std::filesystem::copy_file(file(kavu_parallel_removed_reg_archive_name("rev 1", "map", 1)), earlier_registers,
                                 over);
    }
    ASSERT_TRUE(kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, parts));
    if (wrong == "a result of an earlier run") {  // partition 1 is the one the earlier result was written for
      CDB_SGATE_NETLIST* again = nullptr;
      ASSERT_TRUE(kavu_parallel_read_partition("rev 1", "map", 1, &again, nullptr));
      EXPECT_EQ(again->get_number(), earlier_number);
      delete again;
    }
    if (row.stale_kept) {
      // The copy is the archive, byte for byte, and no longer.
      std::ifstream copy(kept_1, std::ios::binary), archive(file(kavu_parallel_archive_name("rev 1", "map", 1)),
                                                          std::ios::binary);
      const std::string copied((std::istreambuf_iterator<char>(copy)), std::istreambuf_iterator<char>());
      const std::string written((std::istreambuf_iterator<char>(archive)), std::istreambuf_iterator<char>());
      EXPECT_EQ(copied.size(), written.size());
      EXPECT_TRUE(copied == written);
    }
    if (row.from_kept_copy) {
      // Moved to a directory this process never wrote in: what was written
      // is known from the kept copies only.
      const std::string moved = gen_get_db_dir_path() + "/moved";
      std::filesystem::create_directories(moved);
      for (const auto& entry : std::filesystem::directory_iterator(gen_get_db_dir_path()))
        if (entry.is_regular_file() && entry.path().filename().string().rfind("rev 1.map_", 0) == 0)
          std::filesystem::rename(entry.path(), moved + "/" + entry.path().filename().string());
      gen_set_db_dir_path(moved);
    }
    std::vector<int> bad;
    for (int k = 0; k < n; ++k)
      if (row.all_but_one ? k != 1 : k == 1) bad.push_back(k);
    for (int k = 0; k < n; ++k) {
      if (row.run_failed && k == 0) continue;  // its helper ended before writing anything
      if (std::find(bad.begin(), bad.end(), k) == bad.end()) {
        simulate_helper(k);
        continue;
      }
      if (wrong == "a result of an earlier run") {  // its helper's files, where this run's helper writes
        const auto over = std::filesystem::copy_options::overwrite_existing;
        std::filesystem::copy_file(earlier_result, file(kavu_parallel_archive_name("rev 1", "map", k)), over);
        std::filesystem::copy_file(earlier_registers, file(kavu_parallel_removed_reg_archive_name("rev 1", "map", k)),
                                   over);
        continue;
      }
      CDB_SGATE_NETLIST* other = nullptr;
      ASSERT_TRUE(kavu_parallel_read_partition("rev 1", "map", wrong == "another partition's" ? 0 : k, &other, nullptr));
      if (wrong == "a result without a run stamp") {  // the partition, written by a writer that does not stamp
        simulate_helper(k);
        PDB_ARCHIVE archive(kavu_parallel_archive_name("rev 1", "map", k), PDB_ARCHIVE::PDB_WRITE);
        void* ptr = other;
        pdb_write_ptr(archive, "", "cdb", &cdb_sgate_netlist_ptr_field, &ptr, 0, -1, 0);
        archive.close();
        delete other;
        continue;
      }
      if (wrong == "an empty netlist") {
        const int number = other->get_number();
        delete other;
        other = new CDB_SGATE_NETLIST(true, number, 1);  // its number, no gate
      } else if (wrong == "another netlist number") {
        other->set_number(other->get_number() + 100);
      } else if (wrong == "an extra boundary") {
        auto* extra = new CDB_SGATE_BOUNDARY(nullptr, CDB_BOUNDARY_OUTPUT);
        extra->insert_unordered_fanin(other->get_input_pins().front()->get_output_term(0));
        other->add_node(extra);
      } else if (wrong == "half its output pins" || wrong == "one output pin") {
        const std::vector<CDB_SGATE_IO*> outputs = other->get_output_pins();
        ASSERT_GE(outputs.size(), 2u);
        for (size_t i = 0; i < outputs.size(); i += wrong == "one output pin" ? outputs.size() : 2) {
          other->delete_node(outputs[i]);
          delete outputs[i];
        }
        other->sweep(false);
        other->prepare_for_use();
      } else if (wrong == "one input pin") {
        ASSERT_FALSE(other->get_input_pins().empty());
        CDB_SGATE_IO* pin = other->get_input_pins().front();
        pin->get_output_term(0)->set_all_fanouts_constant(false);  // what read it reads a constant
        other->delete_node(pin);
        delete pin;
        other->prepare_for_use();
      } else if (wrong == "an extra output pin") {
        make_output_pin(other, "extra_out", other->get_input_pins().front());
      } else if (wrong == "an extra input pin") {
        make_input_pin(other, "extra_in");
      } else if (wrong == "an extra input pin between the pins") {
        // A debug number below the last pin's, held by no gate: the pin
        // pairs up before the end of the pins written.
        std::set<unsigned> used;
        unsigned last = 0;
        for (CDB_SGATE_NODE* g : other->get_node_list()) {
          used.insert(g->get_debug_number());
          if (g->cast_to_io()) last = std::max(last, g->get_debug_number());
        }
        unsigned below = last - 1;
        while (below > 0 && used.count(below)) --below;
        ASSERT_GT(below, 0u);
        make_input_pin(other, "extra_in")->set_debug_number(below);
      } else if (wrong == "the last pin") {
        CDB_SGATE_IO* last = nullptr;
        for (CDB_SGATE_NODE* g : other->get_node_list())
          if (g->cast_to_io() && (!last || g->get_debug_number() > last->get_debug_number())) last = g->cast_to_io();
        ASSERT_NE(last, nullptr);
        last->get_output_term(0)->set_all_fanouts_constant(false);  // what read it reads a constant
        other->delete_node(last);
        delete last;
        other->sweep(false);
        other->prepare_for_use();
      } else if (wrong == "an output pin turned into an input" || wrong == "an input pin turned into an output" ||
                 wrong == "an output pin made bidirectional") {
        // Another pin under the same debug number and names, its direction changed.
        const bool was_input = wrong == "an input pin turned into an output";
        const std::vector<CDB_SGATE_IO*> pins = was_input ? other->get_input_pins() : other->get_output_pins();
        ASSERT_GE(pins.size(), 2u);
        CDB_SGATE_IO* old_pin = pins.front();
        CDB_SGATE_OTERM* source = was_input ? pins.back()->get_output_term(0) : old_pin->get_fanin_term(0);
        ASSERT_NE(source, nullptr);
        auto* pin = new CDB_SGATE_IO(old_pin->get_instance_name(), was_input ? CDB_IO_OUTPUT
                                                                 : wrong == "an output pin made bidirectional"
                                                                     ? CDB_IO_BIDIR
                                                                     : CDB_IO_INPUT);
        pin->get_output_term(0)->set_instance_name(old_pin->get_output_term(0)->get_instance_name());
        pin->set_debug_number(old_pin->get_debug_number());
        if (was_input) old_pin->get_output_term(0)->set_all_fanouts_constant(false);
        other->delete_node(old_pin);
        delete old_pin;
        if (pin->get_number_of_input_terms() > 0) source->insert_fanout(pin->get_input_term(0));
        other->add_node(pin);
        other->sweep(false);
        other->prepare_for_use();
      } else if (wrong == "an output boundary turned into an input" ||
                 wrong == "an input boundary turned into an output") {
        // Another boundary under the same debug number and name, its
        // direction changed, driving what the old one did.
        const CDB_BOUNDARY_TYPE from =
            wrong == "an input boundary turned into an output" ? CDB_BOUNDARY_INPUT : CDB_BOUNDARY_OUTPUT;
        CDB_SGATE_BOUNDARY* old_boundary = nullptr;
        for (CDB_SGATE_NODE* g : other->get_node_list())
          if (!old_boundary && g->cast_to_boundary() && g->cast_to_boundary()->get_direction() == from)
            old_boundary = g->cast_to_boundary();
        ASSERT_NE(old_boundary, nullptr);
        turn_boundary(other, old_boundary);
      } else if (wrong == "two boundaries exchanging debug numbers") {
        // Two input boundaries whose edges were cut, each under the
        // other's number: the merge would feed each the other's signal.
        std::vector<CDB_SGATE_NODE*> cut;
        for (CDB_SGATE_NODE* g : other->get_node_list())
          if (CDB_SGATE_BOUNDARY* boundary = g->cast_to_boundary())
            if (boundary->get_direction() == CDB_BOUNDARY_INPUT && !boundary->get_single_iterm()->get_source())
              cut.push_back(g);
        ASSERT_GE(cut.size(), 2u);
        const unsigned first = cut[0]->get_debug_number();
        cut[0]->set_debug_number(cut[1]->get_debug_number());
        cut[1]->set_debug_number(first);
      } else if (wrong == "an input pin's signal renamed") {
        // The pin keeps its name; the signal it drives, whose name its port
        // is written under, takes another.
        CDB_SGATE_IO* pin = other->get_input_pins().front();
        HDB_INSTANCE_NAME* old_name = pin->get_instance_name();
        pin->get_output_term(0)->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(
            nullptr, (std::string(old_name->get_partial_name()) + "_net").c_str(), nullptr, nullptr,
            old_name->get_parent()));
      } else if (wrong == "a netlist that is not whole") {
        // A LUT whose mask reads an input left unconnected.
        const std::vector<CDB_SGATE_IO*> ins = other->get_input_pins();
        ASSERT_GE(ins.size(), 2u);
        make_lut(other, {ins[0], ins[1]}, 0x8)->get_input_term(1)->remove_fanin();
      } else if (wrong == "a renamed pin" || wrong == "every pin renamed") {
        std::vector<CDB_SGATE_IO*> pins = other->get_input_pins();
        pins.insert(pins.end(), other->get_output_pins().begin(), other->get_output_pins().end());
        ASSERT_GE(pins.size(), 2u);
        if (wrong == "a renamed pin") pins.resize(1);
        for (CDB_SGATE_IO* pin : pins) {  // the same debug number, another name
          HDB_INSTANCE_NAME* old_name = pin->get_instance_name();
          ASSERT_NE(old_name, nullptr);
          HDB_INSTANCE_NAME* name = HDB_INSTANCE_NAME::create_normal_name(
              nullptr, (std::string(old_name->get_partial_name()) + "_renamed").c_str(), nullptr, nullptr,
              old_name->get_parent());
          pin->set_instance_name(name);
          if (CDB_SGATE_OTERM* out = pin->get_single_oterm()) out->set_instance_name(name);
        }
      } else if (std::any_of(boundary_faults().begin(), boundary_faults().end(),
                             [&](const BOUNDARY_FAULT& f) { return wrong == f.name; })) {
        ASSERT_TRUE(make_boundary_fault(other, wrong));
      }
      std::string report;
      // Well formed, only its identity wrong (but for the row that is about that).
      ASSERT_EQ(other->check(&report), wrong != "a netlist that is not whole") << report;
      simulate_helper(k, other);
    }
    // One message per wrong result, none for the others, and none again.
    auto expect_one_message_per_wrong_result = [&] {
      int errors = 0;
      std::string texts;
      for (const MSG_LOG_ENTRY& e : msg_log())
        if (e.kind == MSG_LOG_ERROR) ++errors, texts += e.text + "\n";
      EXPECT_EQ(errors, int(bad.size())) << texts;
      for (int k : bad) {
        SCOPED_TRACE("partition " + std::to_string(k));
        const std::string head = "Parallel synthesis of partition " + std::to_string(k) + " failed: its result";
        int said = 0;
        for (const MSG_LOG_ENTRY& e : msg_log())
          said += e.kind == MSG_LOG_ERROR && e.text.rfind(head, 0) == 0 &&
                  e.text.find(row.verdict) != std::string::npos &&
                  text_contains_words(e.text, std::string(row.words) + " kept in") &&
                  (!row.clause || e.text.find(row.clause) != std::string::npos);
        EXPECT_EQ(said, 1) << texts;
      }
    };
    msg_log_clear();
    if (!row.run_failed) {
      EXPECT_FALSE(kavu_parallel_deserialize(&scope.facade, "map", 1, nullptr, parts, n));
      expect_one_message_per_wrong_result();
    }
    for (CDB_SGATE_NETLIST* p : parts) delete p;
    parts.clear();
    ASSERT_TRUE(kavu_parallel_recover_partitions(&scope.facade, "map", parts, n));
    ASSERT_EQ(int(parts.size()), n);
    expect_one_message_per_wrong_result();
    // The registers the helpers of the results taken removed, each once.
    auto* db = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance()->get_current_removed_reg_db();
    EXPECT_EQ(db->get_fanoutless_count(), n - int(bad.size()) - (row.run_failed ? 1 : 0));
    kavu_merge_netlists(parts, loaded.get(), nullptr, b);
    std::string report;
    EXPECT_TRUE(loaded->check(&report)) << report;
    std::string why;
    EXPECT_TRUE(sim_equivalent(golden.get(), loaded.get(), SIM_COMPARE{}, &why)) << why;
    EXPECT_EQ(port_names(golden.get()), port_names(loaded.get()));
    for (const auto& entry : std::filesystem::directory_iterator(gen_get_db_dir_path()))
      EXPECT_EQ(entry.path().filename().string().find("_kept_ap_"), std::string::npos) << entry.path();
    if (row.from_kept_copy) std::filesystem::remove_all(gen_get_db_dir_path());
  }
  EXPECT_GT(ran, 0);
}

}  // namespace

TEST(KavuParallelArchives, AResultOfAnotherNetlistIsRefusedAndTheKeptCopyRecovered) {
  check_wrong_results(WRONG_RESULTS::IDENTITY);
}

TEST(KavuParallelArchives, AResultMissingPinsIsRefusedAndTheKeptCopyRecovered) {
  check_wrong_results(WRONG_RESULTS::PINS_MISSING);
}

TEST(KavuParallelArchives, AResultWithExtraPinsIsRefusedAndTheKeptCopyRecovered) {
  check_wrong_results(WRONG_RESULTS::PINS_EXTRA);
}

TEST(KavuParallelArchives, AResultWithPinsRenamedOrTurnedIsRefusedAndTheKeptCopyRecovered) {
  check_wrong_results(WRONG_RESULTS::PINS_RENAMED_OR_TURNED);
}

TEST(KavuParallelArchives, AResultWithOtherBoundariesIsRefusedAndTheKeptCopyRecovered) {
  check_wrong_results(WRONG_RESULTS::BOUNDARIES);
}

TEST(KavuParallelArchives, AResultWithTheHelpersBoundaryFaultsIsRefusedAndTheKeptCopyRecovered) {
  check_wrong_results(WRONG_RESULTS::BOUNDARY_FAULTS);
}

TEST(KavuParallelArchives, AResultOfAnotherRunIsRefusedAndTheKeptCopyRecovered) {
  check_wrong_results(WRONG_RESULTS::RUNS);
}

// Recovery takes a helper's result together with its removed registers, or
// neither: a result whose removed-register archive is missing gives way to
// the kept copy, the others bring their records into the current database,
// and a partition the read-back already took brings them only once. Each
// missing archive is told once, by the read-back: where it stops (the first
// partition, or a later one) and after it has stopped.
TEST(KavuParallelArchives, RecoveryTakesAResultAndItsRemovedRegistersAsAPair) {
  for (const std::vector<int>& missing : {std::vector<int>{0}, {1}, {0, 1}}) {
    auto is_missing = [&](int k) { return std::find(missing.begin(), missing.end(), k) != missing.end(); };
    SCOPED_TRACE("removed-register archive missing for partitions " + std::to_string(missing.front()) + " to " +
                 std::to_string(missing.back()));
    CDB_SGATE_REMOVED_REGISTERS_MANAGER::test_reset();  // every database counts from zero
    PARALLEL_SCOPE scope;
    LOADED_NETLIST loaded = load_blif("seq/diffeq1");
    KAVU_PARTITION_BOUNDARIES b;
    std::vector<CDB_SGATE_NETLIST*> parts = split(loaded.get(), 4, b);
    const int n = int(parts.size());
    ASSERT_GE(n, 2);
    ASSERT_TRUE(kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, parts));
    const std::vector<size_t> written = archive_sizes(n);
    for (int k = 0; k < n; ++k) simulate_helper(k);
    for (int k : missing) std::filesystem::remove(kavu_parallel_removed_reg_archive_name("rev 1", "map", k) + ".cdb");
    // The read-back takes the partitions before the missing archive, then stops.
    msg_log_clear();
    EXPECT_FALSE(kavu_parallel_deserialize(&scope.facade, "map", 1, nullptr, parts, n));
    for (CDB_SGATE_NETLIST* p : parts) delete p;
    parts.clear();
    ASSERT_TRUE(kavu_parallel_recover_partitions(&scope.facade, "map", parts, n));
    ASSERT_EQ(int(parts.size()), n);
    EXPECT_EQ(error_count_with("Parallel synthesis of partition"), int(missing.size()));
    for (int k : missing) {
      const std::string head = "Parallel synthesis of partition " + std::to_string(k) +
                               " failed: its removed-register archive \"";
      int said = 0;
      for (const MSG_LOG_ENTRY& e : msg_log())
        said += e.kind == MSG_LOG_ERROR && e.text.rfind(head, 0) == 0 &&
                text_contains_words(e.text, "cannot be read back kept in");
      EXPECT_EQ(said, 1) << k;
    }
    for (int k = 0; k < n; ++k)
      EXPECT_EQ(parts[size_t(k)]->get_node_list().size(), written[size_t(k)] + (is_missing(k) ? 0 : 1)) << k;
    auto* db = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance()->get_current_removed_reg_db();
    EXPECT_EQ(db->get_fanoutless_count(), n - int(missing.size()));
    kavu_merge_netlists(parts, loaded.get(), nullptr, b);
    std::string report;
    EXPECT_TRUE(loaded->check(&report)) << report;
  }
}

// ---- the README's parallel example

namespace {

// Starts `program` with the arguments in `dir`, its output (both streams)
// to dir/<output>, with the environment given and the file-size limit; the
// child's process id.
pid_t start_in(const std::filesystem::path& dir, const std::vector<std::string>& args,
               const std::vector<std::string>& environment, rlim_t file_size_limit,
               const std::string& output_name = "output.txt") {
  std::vector<char*> argv, envp;  // made before the fork: the child only makes system calls
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const std::string dir_text = dir.string(), output = (dir / output_name).string();
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (chdir(dir_text.c_str()) != 0 || out < 0) _exit(100);
    dup2(out, 1);
    dup2(out, 2);
    const rlimit limit{file_size_limit, file_size_limit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(101);
    execve(argv[0], argv.data(), envp.data());
    _exit(102);
  }
  return child;
}

// The wait status of a child started by start_in.
int wait_for(pid_t child) {
  int status = -1;
  if (child > 0) waitpid(child, &status, 0);
  return status;
}

// Runs `program` as start_in does and waits for it: the wait status.
int run_in(const std::filesystem::path& dir, const std::vector<std::string>& args,
           const std::vector<std::string>& environment, rlim_t file_size_limit) {
  return wait_for(start_in(dir, args, environment, file_size_limit));
}

std::string text_of(const std::filesystem::path& file) {
  std::ifstream in(file);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The example the rows run: the one KAVU_PARALLEL_MAP_EXAMPLE names (built
// against the installed package, which finds its helpers where it installed
// them), else the one built with the tests against the build tree.
std::string parallel_map_example() {
  const char* installed = std::getenv("KAVU_PARALLEL_MAP_EXAMPLE");
  return installed && *installed ? installed : KAVU_PARALLEL_MAP_EXAMPLE_BUILT;
}

// This process's environment without the configuration, and with the
// settings given. The example of the build tree finds its helpers on PATH,
// the build's tools directory first.
std::vector<std::string> environment_with(const std::vector<std::string>& settings) {
  std::vector<std::string> environment;
  const bool built = parallel_map_example() == KAVU_PARALLEL_MAP_EXAMPLE_BUILT;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "KAVU_INI_SET=", 13) != 0 && (!built || std::strncmp(*e, "PATH=", 5) != 0))
      environment.push_back(*e);
  if (built) environment.push_back(std::string("PATH=" KAVU_HELPER_DIR ":") + (getenv("PATH") ? getenv("PATH") : ""));
  environment.insert(environment.end(), settings.begin(), settings.end());
  return environment;
}

// Polls until `done` holds or the child ended (reaped into *status); true
// when `done` held first.
bool until(const std::function<bool()>& done, pid_t child, int* status) {
  for (;;) {
    if (done()) return true;
    if (waitpid(child, status, WNOHANG) == child) return done();
    usleep(5000);
  }
}

}  // namespace

// The example (examples/parallel_map.cpp, which the README quotes) on
// stereovision3 when its archives cannot be written: a database directory
// that cannot be made, a full disk from the third partition archive on (its
// kept copy a link to /dev/full), and a file-size limit below the first
// archive. It says what failed, takes back the partitions written from
// their kept copies and merges those still in memory, writes a design equal
// to its input and ends with status 1. It used to write an empty model. So
// it does when helpers write results whose boundaries are not their
// partitions' (an output boundary turned into an input, an input boundary
// turned into an output, two input boundaries exchanging debug numbers, an
// output boundary left undriven: the faults of boundary_faults.h), each
// refused and its partition recovered from its kept copy: the first and the
// last used to stop the merge (an internal error, status 134, no design),
// the others to end in success with a design that differs from the input. When
// the helpers fail and a kept copy is gone (a link to /dev/null took it), a
// partition is lost: it says so, ends with status 1 and writes nothing. The
// run registered as KavuExampleParallelMapKeepsTheDesign names the example
// built against the installed package; other runs take the one built with
// the tests against the build tree.
TEST(KavuParallelExample, ArchivesThatCannotBeWrittenLeaveTheDesignWhole) {
  const std::string example = parallel_map_example();
  ASSERT_TRUE(std::filesystem::exists(example)) << example;
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  const char* const recovered = "4 partitions, recovered after a failure; 0 registers removed";
  struct ROW {
    const char* failure;
    const char* message;                // held by the output
    const char* summary = nullptr;      // the example's line of the run (nullptr: `recovered`)
    const char* helper_fault = nullptr;
    bool lost = false;                  // recovery fails: no design is written
  } const rows[] = {
      {"unwritable database directory", "Parallel synthesis cannot write the partitions in \"/dev/null/db\""},
      {"full disk", "Parallel synthesis cannot write partition 2 to"},
      {"file-size limit", "Parallel synthesis cannot write partition 0 to"},
      {"a lost kept copy", "Parallel synthesis cannot recover partition 2 from", "parallel_map: a partition is lost; the design is not written",
       "exit3", true},
  };
  // Each helper fault on boundaries (boundary_faults.h): refused, the
  // partition recovered from its kept copy.
  std::vector<ROW> all(std::begin(rows), std::end(rows));
  for (const BOUNDARY_FAULT& fault : boundary_faults())
    all.push_back({fault.name, fault.refusal, "4 partitions, recovered after a failure;", fault.name});
  const std::string input = blif_data_path("seq/stereovision3");
  ASSERT_FALSE(input.empty());
  for (const ROW& row : all) {
    const std::string failure = row.failure;
    SCOPED_TRACE(failure);
    const std::filesystem::path run = std::filesystem::current_path() / ("run " + failure);
    std::filesystem::create_directories(run / "db");
    std::vector<std::string> environment = environment_with({});
    if (failure == "unwritable database directory") environment.push_back("KAVU_INI_SET=db_dir=/dev/null/db");
    if (row.helper_fault) environment.push_back(std::string("KAVU_INI_SET=helper_fault=") + row.helper_fault);
    if (failure == "full disk" || row.lost) {
      // A removed register an earlier run's helper recorded for partition 0
      // is not this run's: recovery takes none. The kept copy of partition
      // 2 goes to a device: one that is full, or one that keeps nothing.
      const std::string saved = gen_get_db_dir_path();
      gen_set_db_dir_path((run / "db").string());
      std::filesystem::create_symlink(row.lost ? "/dev/null" : "/dev/full",
                                      kavu_parallel_kept_archive_name("example", "map", 2) + ".cdb");
      CDB_SGATE_REMOVED_REGISTERS_MANAGER::test_reset();
      kavu_parallel_create_removed_reg_db("example", "map", 0);
      CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance()->get_current_removed_reg_db()->add_fanoutless("stale");
      ASSERT_TRUE(kavu_parallel_write_and_delete_removed_reg_db("example", "map", 0));
      CDB_SGATE_REMOVED_REGISTERS_MANAGER::test_reset();
      gen_set_db_dir_path(saved);
    }
    const rlim_t limit = failure == "file-size limit" ? rlim_t(100) << 10 : RLIM_INFINITY;
    const int status = run_in(run, {example, input, (run / "out.blif").string()}, environment, limit);
    std::ifstream out_text(run / "output.txt");
    const std::string output((std::istreambuf_iterator<char>(out_text)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << "\n" << output;
    EXPECT_NE(output.find(row.message), std::string::npos) << output;
    EXPECT_NE(output.find(row.summary ? row.summary : recovered), std::string::npos) << output;
    if (row.lost) {
      EXPECT_FALSE(std::filesystem::exists(run / "out.blif"));
      continue;
    }
    LOADED_NETLIST in = load_blif("seq/stereovision3");
    BLIF_RESULT back = blif_read_file((run / "out.blif").string());
    ASSERT_NE(back.netlist, nullptr) << back.error;
    LOADED_NETLIST written(back.netlist, LOADED_NETLIST_DELETER{back.hierarchy});
    EXPECT_TRUE(netlists_equivalent(in.get(), written.get()));  // by simulation and by berkeley-abc
  }
}

// Two runs of the example in one directory, as `make -j2` starts them (one
// ./db, one revision), and kept copies that are not the run's. The first
// run's helpers are held (helper fault "wait") while the second starts: it
// waits for the first, saying so, and both write their own designs (the
// same design twice, and two designs). The second used to finish first and
// remove the kept copies the first needed ("a partition is lost"). With the
// helpers held and then failing (exit 3), the kept copies are replaced: by
// another partition's (the merge used to abort), by those of a run of
// another design (merged, writing that design or aborting), or removed
// with another run's result in place of the partition's archive; the
// partition is lost with a message that says why (that the kept copy is
// missing, not that it "was not written for this run"), and nothing is
// merged or written. Last, pairs of runs started together without faults,
// the race as it comes: each writes what a run alone writes.
TEST(KavuParallelExample, RunsInOneDirectoryTakeTurnsAndForeignKeptCopiesAreLost) {
  const std::string example = parallel_map_example();
  ASSERT_TRUE(std::filesystem::exists(example)) << example;
  const std::string stereo = blif_data_path("seq/stereovision3"), diffeq = blif_data_path("seq/diffeq1");
  ASSERT_FALSE(stereo.empty() || diffeq.empty());
  const char* const lost = "parallel_map: a partition is lost; the design is not written";
  const char* const waits = "Parallel synthesis waits for another run in the database directory";
  auto kept = [](const std::filesystem::path& run, int k) {
    const std::string saved = gen_get_db_dir_path();
    gen_set_db_dir_path((run / "db").string());
    const std::string file = kavu_parallel_kept_archive_name("example", "map", k) + ".cdb";
    gen_set_db_dir_path(saved);
    return std::filesystem::path(file);
  };
  // Starts the example in `run` with the helper fault given, and returns
  // once its helpers wait (false: it ended first, *status its wait status).
  auto start_held = [&](const std::filesystem::path& run, const std::string& input, const char* fault, pid_t* child,
                        int* status) {
    std::filesystem::create_directories(run / "db");
    *child = start_in(run, {example, input, (run / "a.blif").string()},
                      environment_with({std::string("KAVU_INI_SET=helper_fault=") + fault}), RLIM_INFINITY, "a.txt");
    return until([&] { return std::filesystem::exists(run / "db" / "helper_waits"); }, *child, status);
  };
  auto release = [](const std::filesystem::path& run) { std::ofstream(run / "db" / "helper_go") << ""; };
  auto wrote = [](const std::filesystem::path& file, const char* design) {
    BLIF_RESULT back = blif_read_file(file.string());
    if (!back.netlist) return false;
    LOADED_NETLIST written(back.netlist, LOADED_NETLIST_DELETER{back.hierarchy});
    LOADED_NETLIST in = load_blif(design);
    return bool(netlists_equivalent(in.get(), written.get()));
  };
  // The kept copies of a run of diffeq1, its helpers held.
  const std::filesystem::path stash = std::filesystem::current_path() / "kept copies of another run";
  {
    const std::filesystem::path other = std::filesystem::current_path() / "another run";
    pid_t child = -1;
    int status = -1;
    ASSERT_TRUE(start_held(other, diffeq, "wait+exit3", &child, &status)) << text_of(other / "a.txt");
    std::filesystem::create_directories(stash);
    for (int k = 0; k < 4; ++k)
      if (std::filesystem::exists(kept(other, k))) std::filesystem::copy_file(kept(other, k), stash / std::to_string(k));
    release(other);
    wait_for(child);
  }
  struct ROW {
    const char* what;
    const char* second = nullptr;  // the design of a second run in the directory
    const char* message = nullptr; // held by the first run's output, when a kept copy is not its own
  } const rows[] = {
      {"the same design twice", "seq/stereovision3"},
      {"two designs", "seq/diffeq1"},
      {"another partition's kept copy", nullptr, "cannot recover partition 2 from its kept copy"},
      {"another run's kept copies", nullptr, "cannot recover partition 0 from its kept copy"},
      {"a missing kept copy", nullptr, "cannot recover partition 2: its kept copy"},
  };
  for (const ROW& row : rows) {
    const std::string what = row.what;
    SCOPED_TRACE(what);
    const std::filesystem::path run = std::filesystem::current_path() / what;
    pid_t first = -1;
    int first_status = -1;
    ASSERT_TRUE(start_held(run, stereo, row.second ? "wait" : "wait+exit3", &first, &first_status))
        << text_of(run / "a.txt");
    if (row.second) {
      const pid_t second = start_in(run, {example, blif_data_path(row.second), (run / "b.blif").string()},
                                    environment_with({}), RLIM_INFINITY, "b.txt");
      int second_status = -1;
      const bool waited = until([&] { return text_of(run / "b.txt").find(waits) != std::string::npos; }, second,
                                &second_status);
      release(run);
      if (waited) second_status = wait_for(second);
      first_status = wait_for(first);
      const std::string a = text_of(run / "a.txt"), b = text_of(run / "b.txt");
      EXPECT_TRUE(waited) << b;
      EXPECT_NE(b.find("to finish (process " + std::to_string(first) + " on "), std::string::npos) << b;
      EXPECT_TRUE(WIFEXITED(first_status) && WEXITSTATUS(first_status) == 0) << first_status << "\n" << a;
      EXPECT_TRUE(WIFEXITED(second_status) && WEXITSTATUS(second_status) == 0) << second_status << "\n" << b;
      EXPECT_TRUE(wrote(run / "a.blif", "seq/stereovision3")) << a;
      EXPECT_TRUE(wrote(run / "b.blif", row.second)) << b;
      continue;
    }
    if (what == "another partition's kept copy") {
      std::filesystem::copy_file(kept(run, 0), kept(run, 2), std::filesystem::copy_options::overwrite_existing);
    } else if (what == "a missing kept copy") {  // and a result of the other run in place of the archive
      std::filesystem::remove(kept(run, 2));
      const std::string saved = gen_get_db_dir_path();
      gen_set_db_dir_path((run / "db").string());
      std::filesystem::copy_file(stash / "0", kavu_parallel_archive_name("example", "map", 2) + ".cdb",
                                 std::filesystem::copy_options::overwrite_existing);
      gen_set_db_dir_path(saved);
    } else {
      for (const auto& entry : std::filesystem::directory_iterator(stash))
        std::filesystem::copy_file(entry.path(), kept(run, std::stoi(entry.path().filename().string())),
                                   std::filesystem::copy_options::overwrite_existing);
    }
    release(run);
    first_status = wait_for(first);
    const std::string a = text_of(run / "a.txt");
    EXPECT_TRUE(WIFEXITED(first_status) && WEXITSTATUS(first_status) == 1) << first_status << "\n" << a;
    EXPECT_NE(a.find(std::string("Parallel synthesis ") + row.message), std::string::npos) << a;
    EXPECT_NE(a.find(lost), std::string::npos) << a;
    if (what == "a missing kept copy") {
      EXPECT_NE(a.find("is missing, and its result"), std::string::npos) << a;
      EXPECT_EQ(a.find("from \"" + kept(run, 2).string()), std::string::npos) << a;
    }
    EXPECT_FALSE(std::filesystem::exists(run / "a.blif"));
  }
  // The race as it comes: a few pairs started together, each output equal
  // to what a run alone writes.
  const std::filesystem::path alone = std::filesystem::current_path() / "alone";
  std::filesystem::create_directories(alone);
  for (const std::string* design : {&stereo, &diffeq})
    ASSERT_EQ(run_in(alone, {example, *design, (alone / (design == &stereo ? "a.blif" : "b.blif")).string()},
                     environment_with({}), RLIM_INFINITY),
              0)
        << text_of(alone / "output.txt");
  for (int pair = 0; pair < 4; ++pair) {
    const std::string& second = pair % 2 ? diffeq : stereo;
    SCOPED_TRACE("pair " + std::to_string(pair) + (pair % 2 ? ", two designs" : ", the same design"));
    const std::filesystem::path run = std::filesystem::current_path() / ("pair " + std::to_string(pair));
    std::filesystem::create_directories(run);
    const pid_t a = start_in(run, {example, stereo, (run / "a.blif").string()}, environment_with({}), RLIM_INFINITY,
                             "a.txt");
    const pid_t b = start_in(run, {example, second, (run / "b.blif").string()}, environment_with({}), RLIM_INFINITY,
                             "b.txt");
    EXPECT_EQ(wait_for(a), 0) << text_of(run / "a.txt");
    EXPECT_EQ(wait_for(b), 0) << text_of(run / "b.txt");
    EXPECT_EQ(text_of(run / "a.blif"), text_of(alone / "a.blif"));
    EXPECT_EQ(text_of(run / "b.blif"), text_of(alone / (pair % 2 ? "b.blif" : "a.blif")));
  }
}
