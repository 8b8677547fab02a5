// The FIB manager: two compiles of a real sequential design, helper
// invalidations that travel to the parent, and the manager's edge cases.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "cdb/cdb_atom.h"
#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_hierarchy.h"
#include "cdb/cdb_sgate_ram.h"
#include "cdb/cdb_sgate_removed_regs.h"
#include "cdb/cdb_sgate_wysiwyg.h"
#include "cmp/cmp.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_fib_manager.h"
#include "kavu_llis_artificial.h"
#include "kavu_parallel.h"
#include "kavu_partition.h"
#include "kavu_ssc.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

namespace fs = std::filesystem;

const unsigned FIB_MARK = 0x400000;

HDB_INSTANCE_NAME* name_under(HDB_INSTANCE_NAME* parent, const char* text) {
  return HDB_INSTANCE_NAME::create_normal_name(hdb_default_namespace(), text, nullptr, nullptr, parent);
}

// Databases on (or off), a scratch database directory, and no manager or
// partition-name table left from another test.
struct LLIS_SCOPE {
  std::string m_saved = gen_get_db_dir_path();
  fs::path m_dir;
  CMP_FACADE m_facade;
  explicit LLIS_SCOPE(bool databases = true) {
    static int serial = 0;
    m_dir = fs::temp_directory_path() / ("kavu_fibmgr_" + std::to_string(::getpid()) + "_" + std::to_string(++serial));
    fs::create_directories(m_dir);
    gen_set_db_dir_path(m_dir.string());
    cfg_set_value("rapid_recompile_supported", databases ? "on" : "off");
    kavu_llis_forget_generating_databases();
    HIERARCHY_TO_PARTITION_NAME::reset();
    KAVU_FIB_MANAGER::m_instance.reset();
  }
  ~LLIS_SCOPE() {
    KAVU_FIB_MANAGER::m_instance.reset();
    HIERARCHY_TO_PARTITION_NAME::reset();
    cfg_unset_value("rapid_recompile_supported");
    kavu_llis_forget_generating_databases();
    gen_set_db_dir_path(m_saved);
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }
  // A fresh process-wide manager for the next compile.
  KAVU_FIB_MANAGER& compile(int num_partitions) {
    KAVU_FIB_MANAGER::m_instance.reset();
    return kavu_create_fib_manager(&m_facade, num_partitions);
  }
};

// One partition: its netlist (a bundled design) and its hierarchy.
struct PART {
  LOADED_NETLIST nl;
  CDB_SGATE_HIERARCHY* loader_h = nl->get_hierarchy();
  CDB_SGATE_HIERARCHY h;
  // The loader's hierarchy takes the netlist back before both go.
  ~PART() { nl->set_hierarchy(loader_h); }
  PART(const char* design, const char* name) : nl(load_blif(design)) {
    h.set_instance_name(name_under(name_under(nullptr, "top"), name));
    h.set_netlist(nl.get());
  }
  bool has(LLIS_DATA_FILE f, LLIS_DATA_TYPE t) { return fs::exists(kavu_llis_data_file_name(&h, f, t, true)); }
  std::set<std::string> file_fibs(LLIS_DATA_FILE f) {
    std::unique_ptr<KAVU_FIB_INFO> info(kavu_llis_read_fib_info(&h, f));
    return info ? info->m_fib_set : std::set<std::string>{"<unreadable>"};
  }
};

std::vector<CDB_SGATE_NODE*> registers_of(CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_NODE*> regs;
  for (CDB_SGATE_NODE* n : nl->get_node_list())
    if (n->get_sgate_type() == CDB_SGATE_DFF_ENUM) regs.push_back(n);
  return regs;
}

CDB_SGATE_NODE* first_input_pin(CDB_SGATE_NETLIST* nl) {
  for (CDB_SGATE_NODE* n : nl->get_node_list())
    if (n->get_sgate_type() == CDB_SGATE_IO_ENUM && n->cast_to_io()->get_io_type() == CDB_IO_INPUT) return n;
  return nullptr;
}

std::string leaf(const CDB_SGATE_NODE* n) { return kavu_llis_get_string_hpath(n); }

unsigned largest_id(CDB_SGATE_NETLIST* nl) {
  unsigned m = 0;
  for (CDB_SGATE_NODE* n : nl->get_node_list()) m = std::max(m, n->get_id());
  return m;
}

// ---------------------------------------------------------------- two compiles

// Compile 1 writes the data files of each partition and rotates "tr" to
// "or"; compile 2 restores the snapshot, raises the node counter above every
// old id, and loses only the FIB of the register whose data input moved.
TEST(KavuFibManager, TwoCompilesOfASequentialDesign) {
  LLIS_SCOPE scope;
  const char* design = "seq/stereovision3";
  unsigned old_id = 0;
  std::set<std::string> snapshot_a, snapshot_b;
  {
    PART a(design, "pa"), b(design, "pb/1");
    KAVU_FIB_MANAGER& m = scope.compile(2);
    old_id = largest_id(a.nl.get()) + largest_id(b.nl.get()) + 5000;
    for (PART* p : {&a, &b}) {
      kavu_llis_write_database_after_sgn(&p->h, p->nl.get());
      EXPECT_TRUE(p->has(LLIS_DATA_FILE_TR, LLIS_DATA_TYPE_FIB_INFO));
      // Only partition a's last compile had a node of a high id: restoring b
      // afterwards must not lower the counter again.
      std::set<unsigned> ids = {p == &a ? old_id : 1u};
      m.set_merge_is_successful(&p->h, &ids, true);
      EXPECT_TRUE(m.get_merge_is_successful(&p->h));
      kavu_llis_write_database_after_ftm(&p->h, p->nl.get());
    }
    for (PART* p : {&a, &b})
      for (LLIS_DATA_TYPE t : {LLIS_DATA_TYPE_NETLIST, LLIS_DATA_TYPE_FIB_INFO, LLIS_DATA_TYPE_FIB_NAMES}) {
        EXPECT_FALSE(p->has(LLIS_DATA_FILE_TR, t)) << t;
        EXPECT_TRUE(p->has(LLIS_DATA_FILE_OR, t)) << t;
        EXPECT_TRUE(p->has(LLIS_DATA_FILE_OL, t)) << t;
      }
    EXPECT_TRUE(kavu_llis_has_old_lutmapped_netlist(&a.h));
    // Every register and pin is a FIB of its partition.
    const size_t regs = registers_of(a.nl.get()).size();
    ASSERT_GT(regs, 3u);
    snapshot_a = a.file_fibs(LLIS_DATA_FILE_OR);
    EXPECT_GE(snapshot_a.size(), regs);
    m.dump_fibs_for_each_partition();
    EXPECT_EQ(a.file_fibs(LLIS_DATA_FILE_PS), snapshot_a);
    snapshot_b = b.file_fibs(LLIS_DATA_FILE_PS);
    EXPECT_EQ(snapshot_b, snapshot_a);  // the same design, kept apart per partition
  }

  PART a(design, "pa"), b(design, "pb/1");
  KAVU_FIB_MANAGER& m = scope.compile(2);
  m.restore_fibs_for_partition(&a.h, a.nl.get());
  m.restore_fibs_for_partition(&b.h, b.nl.get());
  EXPECT_GT(CDB_SGATE_NODE::s_debug_counter.load(), old_id);
  CDB_SGATE_NODE* fresh = make_input_pin(a.nl.get(), "fresh");
  EXPECT_GT(fresh->get_id(), old_id);
  ASSERT_EQ(m.get_num_partitions(), 2);
  EXPECT_TRUE(m.is_recording_fibs());

  // Rewire one register's data input to a pin; the host reports the change.
  CDB_SGATE_NODE* moved = registers_of(a.nl.get())[1];
  CDB_SGATE_ITERM* d = moved->get_input_term(0);
  d->disconnect_from_source();
  d->set_source(first_input_pin(a.nl.get())->get_output_term(0));
  kavu_invalidate_d_iterm_for_llis(a.nl.get(), d);

  std::set<std::string> expect_a = snapshot_a;
  ASSERT_EQ(expect_a.erase(leaf(moved)), 1u);
  EXPECT_EQ(m.get_fib_info(m.get_part_id_of_hierarchy(&a.h))->m_fib_set, expect_a);
  EXPECT_EQ(m.get_fib_info(m.get_part_id_of_hierarchy(&b.h))->m_fib_set, snapshot_b);
  // What survives is written and marked; the moved register is neither.
  m.write_fibs_to_file(LLIS_DATA_FILE_TR, &a.h, a.nl.get());
  EXPECT_EQ(a.file_fibs(LLIS_DATA_FILE_TR), expect_a);
  m.mark_fibs_in_hdb(&a.h, a.nl.get());
  EXPECT_FALSE(moved->get_instance_name()->get_flags().test_flag(FIB_MARK));
  for (CDB_SGATE_NODE* r : registers_of(a.nl.get()))
    EXPECT_EQ(r->get_instance_name()->get_flags().test_flag(FIB_MARK), r != moved) << leaf(r);
  // An input tied to ground or a gate that is no register changes nothing.
  CDB_SGATE_NODE* other = registers_of(a.nl.get())[2];
  other->get_input_term(0)->disconnect_from_source();
  other->get_input_term(0)->set_gnd();
  kavu_invalidate_d_iterm_for_llis(a.nl.get(), other->get_input_term(0));
  CDB_SGATE_NODE* gate = *std::find_if(a.nl->get_node_list().begin(), a.nl->get_node_list().end(),
                                        [](CDB_SGATE_NODE* n) { return n->get_sgate_type() == CDB_SGATE_COMB_ENUM; });
  std::vector<CDB_SGATE_ITERM*> none = {nullptr, gate->get_input_term(0)};
  kavu_invalidate_d_iterm_vec_for_llis(a.nl.get(), none);
  EXPECT_EQ(m.get_fib_info(0)->m_fib_set.size(), expect_a.size());
}

// Designs read from BLIF as a user reads them, with name buffers inserted:
// the data files of netlist generation record every anchor point under a
// name of its own (name buffers included), matching finds each one, and the
// names record rebuilds every gate's name below the design root and keeps a
// RAM block's and a LUT-RAM's logical names. Regressions: writing stopped
// with "parent" on every design read from a file (no name carried the root
// flag), with "sgate_instance_name" on the cell gates the reader left
// unnamed, and name buffers shared a handful of names; memory logical names
// were not recorded, and LUT-RAMs had none to record.
TEST(KavuFibManager, DesignsReadFromBlifRecordEveryAnchorUnderItsOwnName) {
  CFG_SCOPE cfg{{"llis_insert_artificial_fibs", "on"}};
  for (const char* design : {"small/crc8_generic", "small/async_regs_generic", "seq/stereovision3", "mcnc/s298"}) {
    SCOPED_TRACE(design);
    LLIS_SCOPE scope;
    LOADED_NETLIST nl = load_blif(design);
    KAVU_TRACK(nl);
    CDB_SGATE_HIERARCHY* h = nl->get_hierarchy();
    HDB_INSTANCE_NAME* top = h->get_instance_name();
    auto* ram = new CDB_SGATE_WYSIWYG_RAM_BLOCK(name_under(top, "mem_block"), CDB_WYSIWYG_TYPE(96));
    ram->set_logical_name(0, name_under(top, "mem_a"));  // port 1 has none
    nl->add_node(ram);
    auto* lutram = new CDB_SGATE_WYSIWYG(name_under(top, "lutram_cell"), CDB_WYSIWYG_TYPE(63));
    ASSERT_TRUE(lutram->is_lutram());
    lutram->set_lutram_logical_name(name_under(top, "mem_l"));
    nl->add_node(lutram);
    EXPECT_GT(kavu_llis_insert_artificial_fibs(nl.get()), 0);
    scope.compile(1);
    kavu_llis_write_database_after_sgn(h, nl.get());

    // Only an output pin shares its name, with the gate driving its signal.
    std::set<std::string> anchors, own;
    size_t anchor_count = 0, own_count = 0;
    for (CDB_SGATE_NODE* n : nl->get_node_list()) {
      if (!kavu_is_anchor_point(n)) continue;
      ++anchor_count;
      anchors.insert(kavu_llis_get_string_hpath(n));
      if (n->get_sgate_type() == CDB_SGATE_IO_ENUM && n->cast_to_io()->get_io_type() == CDB_IO_OUTPUT) continue;
      ++own_count;
      own.insert(kavu_llis_get_string_hpath(n));
    }
    EXPECT_EQ(own.size(), own_count);
    std::unique_ptr<KAVU_FIB_INFO> info(kavu_llis_read_fib_info(h, LLIS_DATA_FILE_TR));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->m_fib_set, anchors);
    std::set<CDB_SGATE_NODE*> found;
    EXPECT_EQ(kavu_get_list_of_fib_nodes_from_netlist(&info->m_fib_set, nl.get(), nullptr, &found), int(anchor_count));

    std::unique_ptr<KAVU_FIB_NAMES> names(kavu_llis_load_fib_names(h, LLIS_DATA_FILE_TR));
    ASSERT_TRUE(names);
    for (CDB_SGATE_NODE* n : nl->get_node_list()) {
      std::string below_root;  // the levels under the top name, joined by "|"
      for (const HDB_INSTANCE_NAME* x = n->get_instance_name(); x->get_parent(); x = x->get_parent())
        below_root = x->get_unit_name_str() + (below_root.empty() ? "" : "|" + below_root);
      EXPECT_EQ(names->reconstruct_name(n->get_instance_name_id()), below_root);
    }
    const std::vector<uint32_t> order(names->begin(), names->end());
    const std::vector<uint32_t> memory = {uint32_t(ram->get_logical_name(0)->get_id()), 0u,
                                          uint32_t(ram->get_instance_name_id())};
    EXPECT_NE(std::search(order.begin(), order.end(), memory.begin(), memory.end()), order.end());
    const std::vector<uint32_t> lut_memory = {uint32_t(lutram->get_lutram_logical_name()->get_id()),
                                              uint32_t(lutram->get_instance_name_id())};
    EXPECT_NE(std::search(order.begin(), order.end(), lut_memory.begin(), lut_memory.end()), order.end());
  }
}

// A helper collects its invalidations (the list is made on first use, also
// for a manager made before the parallel flag was set) and writes them; the
// parent reads them back while merging the partitions and applies them.
TEST(KavuFibManager, HelperInvalidationsReachTheParentsRecord) {
  LLIS_SCOPE scope;
  scope.m_facade.set_revision_name("rev");
  auto* removed = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
  removed->create_removed_reg_db("main", 100, 100);
  removed->set_current_removed_reg_db("main");
  PART a("seq/stereovision3", "pa");
  const std::vector<CDB_SGATE_NODE*> regs = registers_of(a.nl.get());
  ASSERT_GT(regs.size(), 3u);

  // The parent splits off one partition netlist (a stand-in here).
  std::vector<CDB_SGATE_NETLIST*> parts = {new CDB_SGATE_NETLIST(true, 1, 1)};
  make_input_pin(parts[0], "i");
  ASSERT_TRUE(kavu_parallel_serialize(&scope.m_facade, "map", 1, &a.h, parts));
  kavu_parallel_create_removed_reg_db("rev", "map", 0);
  ASSERT_TRUE(kavu_parallel_write_and_delete_removed_reg_db("rev", "map", 0));

  {  // the helper
    KAVU_FIB_MANAGER& helper = scope.compile(1);
    helper.take_snapshot(&a.h, a.nl.get(), false);
    EXPECT_EQ(helper.get_fibs_to_invalidate(), nullptr);
    cdb_sgate_set_synthesis_running_in_parallel(true);
    for (int i : {0, 2, 2}) kavu_invalidate_d_iterm_for_llis(a.nl.get(), regs[size_t(i)]->get_input_term(0));
    ASSERT_NE(helper.get_fibs_to_invalidate(), nullptr);
    EXPECT_EQ(helper.get_fibs_to_invalidate()->m_fibs,
              (std::vector<std::string>{leaf(regs[0]), leaf(regs[2]), leaf(regs[2])}));
    EXPECT_TRUE(helper.get_fib_info(0)->m_fib_set.count(leaf(regs[0])));  // deferred, not applied
    helper.dump_fibs_to_invalidate(&a.h, "map", 0);
    cdb_sgate_set_synthesis_running_in_parallel(false);
  }
  KAVU_FIB_MANAGER& parent = scope.compile(1);
  parent.take_snapshot(&a.h, a.nl.get(), false);
  const size_t before = parent.get_fib_info(0)->m_fib_set.size();
  std::vector<CDB_SGATE_NETLIST*> back;
  ASSERT_TRUE(kavu_parallel_deserialize(&scope.m_facade, "map", 1, &a.h, back, 1));
  for (CDB_SGATE_NETLIST* p : back) delete p;
  const std::set<std::string>& after = parent.get_fib_info(0)->m_fib_set;
  EXPECT_EQ(after.size(), before - 2);
  EXPECT_FALSE(after.count(leaf(regs[0])) || after.count(leaf(regs[2])));
  EXPECT_TRUE(after.count(leaf(regs[1])));
  // Without the helper's invalidation archive the read-back fails: what the
  // helper invalidated would stay valid in the parent's record.
  ASSERT_TRUE(fs::remove(kavu_parallel_fibs_to_invalidate_db_name(&a.h, "map", 0) + ".cdb"));
  std::vector<CDB_SGATE_NETLIST*> again;
  EXPECT_FALSE(kavu_parallel_deserialize(&scope.m_facade, "map", 1, &a.h, again, 1));
  for (CDB_SGATE_NETLIST* p : again) delete p;

  // Archive names: per partition, a slash escaped, apart from its escape.
  PART b("small/counter8_generic", "pa/x"), c("small/counter8_generic", "pa%2Fx");
  std::set<std::string> names;
  for (PART* p : {&a, &b, &c}) names.insert(kavu_parallel_fibs_to_invalidate_db_name(&p->h, "map", 0));
  EXPECT_EQ(names.size(), 3u);
  for (const std::string& n : names) EXPECT_NE(n.find("_map_fibs_ap_0.parsynth"), std::string::npos) << n;
}

// ---------------------------------------------------------------- edge cases

// A "ps" file damaged in any of three ways is refused: the partition keeps
// no id and no record, and the next partition takes id 0.
TEST(KavuFibManager, DamagedSnapshotFilesAreRefusedAtRestore) {
  LLIS_SCOPE scope;
  PART a("small/counter8_generic", "pa"), b("small/counter8_generic", "pb");
  scope.compile(1).take_snapshot(&a.h, a.nl.get(), false);
  KAVU_FIB_MANAGER::get_instance()->dump_fibs_for_each_partition();
  const std::string file = kavu_llis_data_file_name(&a.h, LLIS_DATA_FILE_PS, LLIS_DATA_TYPE_FIB_INFO, true);
  const std::string good = [&] {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  const size_t hash = good.find("\x7e\x80\xba\x63");
  const size_t count = good.find(std::string("\x5a\x00\x05", 3));
  ASSERT_TRUE(hash != std::string::npos && count != std::string::npos);
  struct CASE {
    const char* what;
    size_t at;
    std::string bytes;
    size_t keep;
  } cases[] = {
      {"wrong class hash", hash, "\x7f", good.size()},
      {"oversize count", count + 3, std::string("\xff\xff\xff\x3f", 4), good.size()},
      {"truncated", 0, "", good.size() / 2},
  };
  for (const CASE& c : cases) {
    std::string bytes = good.substr(0, c.keep);
    bytes.replace(std::min(c.at, bytes.size()), c.bytes.size(), c.bytes);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    KAVU_FIB_MANAGER& m = scope.compile(1);
    m.restore_fibs_for_partition(&a.h, a.nl.get());
    EXPECT_EQ(m.get_part_id_of_hierarchy(&a.h), -1) << c.what;
    EXPECT_EQ(m.get_fib_info(0), nullptr) << c.what;
    m.take_snapshot(&b.h, b.nl.get(), false);
    EXPECT_EQ(m.get_part_id_of_hierarchy(&b.h), 0) << c.what;
  }
}

// Hosts with the velmora-syn flag name partitions through the table; a
// partition named "0" takes no id at restore, snapshot or merge record;
// after technology mapping nothing is written.
TEST(KavuFibManager, PartitionNamesFromTheTable) {
  LLIS_SCOPE scope;
  PART a("small/counter8_generic", "pa"), b("small/counter8_generic", "pb");
  KAVU_FIB_MANAGER& m1 = scope.compile(1);
  EXPECT_KAVU_INTERNAL_ERROR(m1.set_zhd_partition_name(&a.h, "A"), "is_velmora_syn_running");
  EXPECT_EQ(m1.get_zhd_partition_name(&b.h), "top|pb");  // the hierarchy names it without the flag
  m1.set_velmora_syn_running();
  EXPECT_KAVU_INTERNAL_ERROR(m1.get_part_id_of_hierarchy(&a.h), "find_iter != m_hier_to_partition_names.end()");
  m1.set_zhd_partition_name(&a.h, "A");
  m1.set_zhd_partition_name(&b.h, "0");
  EXPECT_EQ(m1.get_zhd_partition_name(&a.h), "A");
  m1.take_snapshot(&a.h, a.nl.get(), false);
  m1.take_snapshot(&b.h, b.nl.get(), false);
  m1.set_merge_is_successful(&b.h, nullptr, true);
  EXPECT_EQ(m1.get_part_id_of_hierarchy(&a.h), 0);
  EXPECT_EQ(m1.get_part_id_of_hierarchy(&b.h), -1);
  EXPECT_TRUE(m1.get_merge_is_successful(&b.h));  // no partition: nothing to merge
  EXPECT_FALSE(m1.get_merge_is_successful(&a.h));
  EXPECT_KAVU_INTERNAL_ERROR(m1.take_snapshot(&a.h, a.nl.get(), false), "m_name_to_partition_lookup.find");
  m1.write_fibs_to_file(LLIS_DATA_FILE_PS, &a.h, a.nl.get());
  kavu_llis_write_database_after_ftm(&a.h, a.nl.get());
  EXPECT_FALSE(a.has(LLIS_DATA_FILE_OL, LLIS_DATA_TYPE_NETLIST));

  // Restore of "0" first: it must not take id 0 from partition "A".
  fs::copy_file(kavu_llis_data_file_name(&a.h, LLIS_DATA_FILE_PS, LLIS_DATA_TYPE_FIB_INFO, true),
                kavu_llis_data_file_name(&b.h, LLIS_DATA_FILE_PS, LLIS_DATA_TYPE_FIB_INFO, true));
  KAVU_FIB_MANAGER& m2 = scope.compile(1);
  m2.set_velmora_syn_running();
  m2.restore_fibs_for_partition(&b.h, b.nl.get());
  EXPECT_EQ(m2.get_part_id_of_hierarchy(&b.h), -1);
  EXPECT_EQ(m2.get_fib_info(0), nullptr);
  m2.restore_fibs_for_partition(&a.h, a.nl.get());
  EXPECT_EQ(m2.get_part_id_of_hierarchy(&a.h), 0);
  ASSERT_NE(m2.get_fib_info(0), nullptr);
  m2.invalidate_node(b.nl.get(), registers_of(b.nl.get())[0]);  // b's netlist has no partition: every record
  EXPECT_FALSE(m2.get_fib_info(0)->m_fib_set.count(leaf(registers_of(b.nl.get())[0])));
}

// More partitions than announced grow the entries; the gate, the set-up
// order, and the "tr" rotation refuse what they must.
TEST(KavuFibManager, SetUpGrowthAndRotationRules) {
  {
    LLIS_SCOPE off(false);
    PART a("small/counter8_generic", "pa");
    EXPECT_FALSE(kavu_has_fib_manager());
    EXPECT_KAVU_INTERNAL_ERROR(kavu_use_fib_manager(), "manager->is_initialized()");
    KAVU_FIB_MANAGER& m = off.compile(0);
    EXPECT_KAVU_INTERNAL_ERROR(kavu_create_fib_manager(nullptr, 1), "!manager->is_initialized()");
    EXPECT_TRUE(m.take_snapshot(&a.h, a.nl.get(), false));
    EXPECT_FALSE(m.is_recording_fibs());
    EXPECT_FALSE(m.get_merge_is_successful(&a.h));
    // The atom-netlist operations of a disabled manager do nothing.
    CDB_ATOM_NETLIST atoms;
    CDB_ATOM_NODE* ff = atoms.add_node(new CDB_ATOM_NODE(62, name_under(nullptr, "q")));
    std::vector<std::string> names = {"q"};
    m.invalidate_node(ff);
    m.invalidate_name_list(&names);
    m.mark_fibs_in_hdb(&atoms);
    EXPECT_EQ(m.get_fib_info(0), nullptr);
  }
  LLIS_SCOPE scope;
  std::vector<std::unique_ptr<PART>> parts;
  KAVU_FIB_MANAGER& m = scope.compile(1);
  for (const char* n : {"p0", "p1", "p2"}) {
    parts.push_back(std::make_unique<PART>("small/counter8_generic", n));
    m.take_snapshot(&parts.back()->h, parts.back()->nl.get(), false);
  }
  EXPECT_EQ(m.get_num_partitions(), 3);
  EXPECT_EQ(m.get_part_id_of_hierarchy(&parts[2]->h), 2);
  EXPECT_NE(m.get_fib_info(2), nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(m.take_snapshot(&parts[0]->h, parts[0]->nl.get(), true), "!record_logic_as_fibs");
  EXPECT_KAVU_INTERNAL_ERROR(m.invalidate_name_list(nullptr), "m_per_partition_data.size() == 1");
  // A copy owns copies of the records.
  {
    KAVU_FIB_MANAGER copy(m);
    EXPECT_EQ(copy.get_fib_info(1)->m_fib_set, m.get_fib_info(1)->m_fib_set);
    EXPECT_NE(copy.get_fib_info(1), m.get_fib_info(1));
  }
  // The preserve report after netlist generation: one line per register.
  {
    PART q("small/counter8_generic", "pq");
    std::vector<CDB_SGATE_NODE*> regs = registers_of(q.nl.get());
    ASSERT_FALSE(regs.empty());
    regs[0]->get_reg_flags()->set_preserve(true);
    CFG_SCOPE cfg{{"kavu_debug_print_all_preserve_nodes", "on"}};
    kavu_llis_write_database_after_sgn(&q.h, q.nl.get());
    std::ifstream in(scope.m_dir / "llis_write_database_after_sgn");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), regs.size());
    EXPECT_EQ(lines[0], regs[0]->get_debug_name() + " " + regs[0]->get_instance_name()->get_short_hpath(0) + " true true");
    EXPECT_EQ(lines[1].substr(lines[1].size() - 12), " false false");
    EXPECT_TRUE(q.has(LLIS_DATA_FILE_TR, LLIS_DATA_TYPE_NETLIST));
  }
  // Only some "tr" files present: refused, with an error naming the
  // missing ones (the compile goes on); none: nothing moves.
  PART& p = *parts[0];
  kavu_llis_write_database_after_ftm(&p.h, p.nl.get());
  EXPECT_FALSE(p.has(LLIS_DATA_FILE_OR, LLIS_DATA_TYPE_NETLIST));
  ASSERT_TRUE(kavu_llis_write_netlist(p.nl.get(), &p.h, LLIS_DATA_FILE_TR));
  msg_log_clear();
  kavu_llis_write_database_after_ftm(&p.h, p.nl.get());
  EXPECT_FALSE(p.has(LLIS_DATA_FILE_OR, LLIS_DATA_TYPE_NETLIST));
  EXPECT_TRUE(p.has(LLIS_DATA_FILE_TR, LLIS_DATA_TYPE_NETLIST));
  std::string errors;
  for (const MSG_LOG_ENTRY& e : msg_log())
    if (e.kind == MSG_LOG_ERROR) errors += e.text + "\n";
  for (LLIS_DATA_TYPE t : {LLIS_DATA_TYPE_FIB_INFO, LLIS_DATA_TYPE_FIB_NAMES})
    EXPECT_NE(errors.find(kavu_llis_data_file_name(&p.h, LLIS_DATA_FILE_TR, t, true) + "\" are not written"),
              std::string::npos)
        << errors;
}

// "~reg0" names survive under that name; with fan-out-free FIBs not
// written, a register without fan-out fed by a FIB kind drops out.
TEST(KavuFibManager, RegisterNamesAndFanoutFreeRegisters) {
  LLIS_SCOPE scope;
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_HIERARCHY h;
  h.set_instance_name(name_under(name_under(nullptr, "top"), "pr"));
  h.set_netlist(&nl);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* inv = make_not(&nl, a);
  inv->set_instance_name(name_under(name_under(nullptr, "top"), "inv"));
  CDB_SGATE_NODE* kept = make_dff(&nl, inv, clk);  // fans out to the output
  make_output_pin(&nl, "o", kept);
  CDB_SGATE_NODE* lonely = make_dff(&nl, inv, clk);  // no fan-out, fed by a gate
  CDB_SGATE_NODE* renamed = make_dff(&nl, a, clk);
  HDB_INSTANCE_NAME* top = name_under(nullptr, "design");
  for (auto [n, text] : {std::pair{kept, "kept"}, {lonely, "lonely"}, {renamed, "renamed"}}) {
    n->set_instance_name(name_under(top, text));
    n->get_output_term(0)->set_instance_name(n->get_instance_name());
  }
  KAVU_FIB_MANAGER& m = scope.compile(1);
  m.take_snapshot(&h, &nl, false);
  ASSERT_TRUE(m.get_fib_info(0)->m_fib_set.count("renamed"));
  // The last compile knew the register only by its "reg0" child.
  std::vector<std::string> gone = {"renamed", "nowhere"};
  KAVU_FIB_INFO* info = const_cast<KAVU_FIB_INFO*>(m.get_fib_info(0));
  m.invalidate_name_set(&h, &gone);
  info->m_fib_set.insert("renamed~reg0");
  const std::set<std::string> all = info->m_fib_set;

  struct ROW {
    const char* key;
    bool lonely_kept;
  } rows[] = {{"on", true}, {"off", false}};
  for (const ROW& r : rows) {
    CFG_SCOPE cfg{{"llis_write_out_fanout_free_fibs", r.key}};
    info->m_fib_set = all;
    lonely->get_instance_name()->get_flags().set_flag(FIB_MARK, false);
    m.mark_fibs_in_hdb(&h, &nl);
    EXPECT_EQ(lonely->get_instance_name()->get_flags().test_flag(FIB_MARK), r.lonely_kept) << r.key;
    EXPECT_TRUE(kept->get_instance_name()->get_flags().test_flag(FIB_MARK)) << r.key;
    m.write_fibs_to_file(LLIS_DATA_FILE_TR, &h, &nl);
    const std::set<std::string> written = m.get_fib_info(0)->m_fib_set;
    EXPECT_EQ(written.count("lonely"), r.lonely_kept ? 1u : 0u) << r.key;
    EXPECT_TRUE(written.count("kept") && written.count("renamed~reg0")) << r.key;
  }
  HDB_INSTANCE_NAME* reg0 = renamed->get_instance_name()->find_in_children("reg0", 2);
  ASSERT_NE(reg0, nullptr);
  std::unique_ptr<KAVU_FIB_NAMES> names(kavu_llis_load_fib_names(&h, LLIS_DATA_FILE_TR));
  EXPECT_TRUE(std::count(names->begin(), names->end(), uint32_t(reg0->get_id())));
  EXPECT_TRUE(reg0->get_flags().test_flag(FIB_MARK));
}

// The atom-netlist forms: anchor points, marks and invalidation of one
// partition's record.
TEST(KavuFibManager, AtomNetlistAnchorsMarksAndInvalidation) {
  LLIS_SCOPE scope;
  HDB_INSTANCE_NAME* top = name_under(nullptr, "atoms");
  CDB_ATOM_NETLIST nl;
  auto add = [&](CDB_ATOM_NODE* atom) { return nl.add_node(atom); };
  CDB_ATOM_NODE* ff = add(new CDB_ATOM_NODE(62, name_under(top, "q")));
  CDB_ATOM_NODE* ff_reg0 = add(new CDB_ATOM_NODE(115, name_under(top, "r")));
  CDB_ATOM_NODE* llis = add(new CDB_ATOM_NODE(61, name_under(top, "x~llis_1")));
  CDB_ATOM_NODE* comb = add(new CDB_ATOM_NODE(61, name_under(top, "plain")));
  auto* bb = static_cast<CDB_ATOM_BLACKBOX*>(add(new CDB_ATOM_BLACKBOX(name_under(top, "box"))));
  HDB_INSTANCE_NAME* bb_out = name_under(top, "box_o");
  bb->add_output_term(DB_OUTPUT_PORT_TYPE(3))->set_instance_name(bb_out);
  struct ROW {
    CDB_ATOM_NODE* atom;
    bool anchor, reg;
  } rows[] = {{ff, true, true}, {ff_reg0, true, true}, {llis, true, false}, {comb, false, false}, {bb, true, false}};
  for (const ROW& r : rows) {
    EXPECT_EQ(kavu_is_anchor_point(r.atom), r.anchor) << r.atom->get_instance_name()->get_short_hpath(2);
    EXPECT_EQ(kavu_llis_is_register_atom(r.atom), r.reg) << r.atom->get_instance_name()->get_short_hpath(2);
  }

  KAVU_FIB_MANAGER& m = scope.compile(1);
  EXPECT_KAVU_INTERNAL_ERROR(m.mark_fibs_in_hdb(&nl), "rtl_fib_info");
  PART p("small/counter8_generic", "pa");
  std::set<unsigned> none;
  m.set_merge_is_successful(&p.h, &none, true);
  std::vector<std::string> names = {"q", "r~reg0", "box_o", "plain"};
  KAVU_FIB_INFO* info = const_cast<KAVU_FIB_INFO*>(m.get_fib_info(0));
  info->m_fib_set.insert(names.begin(), names.end());
  m.mark_fibs_in_hdb(&nl);
  EXPECT_TRUE(ff->get_instance_name()->get_flags().test_flag(FIB_MARK));
  EXPECT_TRUE(ff_reg0->get_instance_name()->find_in_children("reg0", 2)->get_flags().test_flag(FIB_MARK));
  EXPECT_TRUE(bb_out->get_flags().test_flag(FIB_MARK));
  EXPECT_FALSE(comb->get_instance_name()->get_flags().test_flag(FIB_MARK));  // not an anchor
  std::vector<CDB_ATOM_NODE*> list = {bb, nullptr};
  m.invalidate_node(ff);
  m.invalidate_node_list(&list);
  EXPECT_EQ(info->m_fib_set, (std::set<std::string>{"r~reg0", "plain"}));
  std::vector<std::string> more = {"plain", "absent"};
  m.invalidate_name_list(&more);
  EXPECT_EQ(info->m_fib_set, std::set<std::string>{"r~reg0"});
}

}  // namespace

// ---------------------------------------------------------------- sub-netlists

// Gate kind, name and every input's source and inversion, by id: what a
// round trip through a sub-netlist must leave as it was.
std::multiset<std::string> wiring(CDB_SGATE_NETLIST* nl) {
  std::multiset<std::string> lines;
  for (CDB_SGATE_NODE* n : nl->get_node_list()) {
    std::string s = std::to_string(n->get_id()) + ":" + std::to_string(n->get_sgate_type()) + ":" +
                    std::to_string(n->get_instance_name_id());
    for (unsigned i = 0; i < n->get_number_of_input_terms(); ++i) {
      const CDB_SGATE_ITERM* t = n->get_input_term(i);
      if (t && t->get_source())
        s += " " + std::to_string(t->get_source()->get_my_node()->get_id()) + (t->is_inverted() ? "i" : "");
      else
        s += t && t->is_vcc_or_gnd() ? (t->is_vcc() ? " 1" : " 0") : " -";
    }
    lines.insert(s);
  }
  return lines;
}

// The manager hands the new gates of a merged partition to synthesis as a
// sub-netlist installed in the hierarchy, refuses timing-driven synthesis
// while it is there, and puts the unchanged full netlist back.
TEST(KavuFibManagerSubnet, ConstructRefuseTimingAndStitchBack) {
  LLIS_SCOPE scope;
  CFG_SCOPE force{{"kavu_force_ssc", "on"}};
  PART p("seq/stereovision3", "pa");
  KAVU_FIB_MANAGER& m = scope.compile(1);
  CDB_SGATE_NETLIST* full = p.nl.get();
  const std::multiset<std::string> before = wiring(full);

  // Not merged yet: nothing is extracted and timing is allowed.
  m.set_merge_is_successful(&p.h, nullptr, false);
  EXPECT_FALSE(m.construct_and_return_subnetlist(&p.h));
  EXPECT_FALSE(m.is_hierarchy_using_subnet(&p.h));
  EXPECT_FALSE(m.stitch_back_and_return_full_netlist(&p.h));
  EXPECT_EQ(p.h.get_netlist(), full);
  EXPECT_TRUE(kavu_ssc_is_ssc_allowed(&scope.m_facade, &p.h, nullptr));

  // Merged with the lower half of the ids old: the upper half is new.
  std::set<unsigned> old;
  const unsigned half = largest_id(full) / 2;
  for (CDB_SGATE_NODE* n : full->get_node_list())
    if (n->get_id() <= half) old.insert(n->get_id());
  m.set_merge_is_successful(&p.h, &old, true);
  ASSERT_TRUE(m.construct_and_return_subnetlist(&p.h));
  CDB_SGATE_NETLIST* sub = p.h.get_netlist();
  ASSERT_NE(sub, full);
  EXPECT_TRUE(sub->is_subnetlist());
  EXPECT_GT(sub->size(), 0u);
  EXPECT_LT(full->size(), unsigned(before.size()));
  EXPECT_TRUE(m.is_hierarchy_using_subnet(&p.h));
  EXPECT_FALSE(kavu_ssc_is_ssc_allowed(&scope.m_facade, &p.h, nullptr));
  // A second extraction before the stitch-back would strand the first.
  EXPECT_KAVU_INTERNAL_ERROR(m.construct_and_return_subnetlist(&p.h), "!subnetlist");

  ASSERT_TRUE(m.stitch_back_and_return_full_netlist(&p.h));
  EXPECT_EQ(p.h.get_netlist(), full);
  EXPECT_FALSE(m.is_hierarchy_using_subnet(&p.h));
  EXPECT_EQ(wiring(full), before);
  EXPECT_TRUE(kavu_ssc_is_ssc_allowed(&scope.m_facade, &p.h, nullptr));
  // Stitching back twice finds no builder.
  EXPECT_KAVU_INTERNAL_ERROR(m.stitch_back_and_return_full_netlist(&p.h), "subnet");

  // A partition recompile refuses timing as well.
  m.set_in_zhd_recompile_mode(true);
  EXPECT_FALSE(kavu_ssc_is_ssc_allowed(&scope.m_facade, &p.h, nullptr));
  m.set_in_zhd_recompile_mode(false);
}

// Re-initialised to no partitions, the manager still knows the partition's
// name but holds no entry for it: the queries answer "not in use" and read
// nothing past the emptied list.
TEST(KavuFibManagerSubnet, QueriesAfterReinitialisingToNoPartitions) {
  LLIS_SCOPE scope;
  PART p("seq/stereovision3", "pa");
  KAVU_FIB_MANAGER& m = scope.compile(1);
  std::set<unsigned> old;
  m.set_merge_is_successful(&p.h, &old, true);
  ASSERT_TRUE(m.construct_and_return_subnetlist(&p.h));
  EXPECT_TRUE(m.is_hierarchy_using_subnet(&p.h));
  ASSERT_TRUE(m.stitch_back_and_return_full_netlist(&p.h));
  m.initialize_data(0);
  EXPECT_FALSE(m.is_hierarchy_using_subnet(&p.h));
  EXPECT_EQ(p.h.get_netlist(), p.nl.get());
}

// ---------------------------------------------------------------- memory-initialisation copies

// The "_old.mif" copy of a compiler-inferred memory-initialisation file is
// made only from a file of the user's own and is no more readable than it:
// another user's link at "db/ram.mif" to the user's 0600 file is not
// followed (its copy was published 0644, for the other user to read), as
// root and as nobody, and the user's own 0600 file is copied 0600.
TEST(KavuFibManager, OldMifCopiesAreMadeOnlyFromTheUsersOwnFileAndStayPrivate) {
  if (geteuid() != 0) GTEST_SKIP() << "the rows act as two users: needs root";
  SCRATCH_REACHED_BY_ALL reach;
  const uid_t nobody = kTestNobody;
  int cell = 0;
  for (uid_t runner : {uid_t(0), nobody}) {
    for (bool planted : {true, false}) {
      SCOPED_TRACE(std::string(planted ? "another user's link at db/ram.mif" : "the user's own 0600 db/ram.mif") +
                   (runner ? ", nobody's compile" : ", root's compile"));
      const fs::path dir = fs::current_path() / ("work" + std::to_string(cell)),
                     secret = fs::current_path() / ("secret" + std::to_string(cell++));
      fs::create_directories(dir / "db");
      fs::permissions(dir, fs::perms::all);
      fs::permissions(dir / "db", fs::perms::all);
      std::ofstream(secret) << "WIDTH=8;\nDEPTH=1;\n0 : 5A;\n";
      ASSERT_EQ(chown(secret.c_str(), runner, runner), 0);
      ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
      const fs::path mif = dir / "db/ram.mif";
      if (planted) {
        ASSERT_EQ(symlink(secret.c_str(), mif.c_str()), 0);
        ASSERT_EQ(lchown(mif.c_str(), runner ? 0 : nobody, runner ? 0 : nobody), 0);
      } else {
        fs::copy_file(secret, mif);
        ASSERT_EQ(chown(mif.c_str(), runner, runner), 0);
      }
      const std::string told = run_in_child_as(runner, dir.string(), [&] {
        umask(022);
        cfg_set_value("rapid_recompile_supported", "on");
        kavu_llis_forget_generating_databases();
        HIERARCHY_TO_PARTITION_NAME::reset();
        KAVU_FIB_MANAGER::m_instance.reset();
        gen_set_db_dir_path((dir / "db").string());
        CMP_FACADE facade;
        kavu_create_fib_manager(&facade, 1);
        CDB_SGATE_HIERARCHY h;  // outlives the netlist, which lets it go
        CDB_SGATE_NETLIST nl;
        HDB_INSTANCE_NAME* top = name_under(nullptr, "top");
        h.set_instance_name(name_under(top, "p1"));
        make_input_pin(&nl, "d");
        auto* ram = new CDB_SGATE_SYNCHRONOUS_RAM(name_under(top, "ram"));
        ram->set_mif_file("db/ram.mif");
        nl.add_node(ram);
        h.set_netlist(&nl);
        kavu_llis_write_database_after_sgn(&h, &nl);
        h.set_netlist(nullptr);
        return std::string("written");
      });
      ASSERT_EQ(told, "written");
      struct stat st;
      const fs::path old_mif = dir / "db/ram_old.mif";
      if (planted) {
        EXPECT_NE(lstat(old_mif.c_str(), &st), 0) << "a copy was made";
      } else {
        ASSERT_EQ(lstat(old_mif.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_EQ(st.st_uid, runner);
      }
    }
  }
}
