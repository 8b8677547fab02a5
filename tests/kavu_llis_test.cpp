// Incremental synthesis: gate queries, MIF bookkeeping, the Graphviz dump,
// the FIB name tree, the per-partition data files and cone information.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_hierarchy.h"
#include "cdb/cdb_sgate_ram.h"
#include "cdb/cdb_sgate_wysiwyg.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_llis.h"
#include "kavu_wiring_helper.h"
#include "netlist_io/abc_oracle.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

namespace fs = std::filesystem;

HDB_INSTANCE_NAME* name_under(HDB_INSTANCE_NAME* parent, const char* text) {
  return HDB_INSTANCE_NAME::create_normal_name(hdb_default_namespace(), text, nullptr, nullptr, parent);
}

CDB_SGATE_OTERM* out(CDB_SGATE_NODE* n) { return n->get_output_term(0); }

// A scratch database directory, removed at the end.
struct DB_DIR_SCOPE {
  std::string m_saved = gen_get_db_dir_path();
  fs::path m_dir = fs::temp_directory_path() / ("kavu_llis_" + std::to_string(::getpid()));
  DB_DIR_SCOPE() {
    fs::create_directories(m_dir);
    gen_set_db_dir_path(m_dir.string());
  }
  ~DB_DIR_SCOPE() {
    gen_set_db_dir_path(m_saved);
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }
};

struct HIER {
  CDB_SGATE_HIERARCHY h;
  explicit HIER(const char* partition) { h.set_instance_name(name_under(name_under(nullptr, "top"), partition)); }
};

CDB_SGATE_WYSIWYG* add_atom(CDB_SGATE_NETLIST& nl, int type, DB_OUTPUT_PORT_TYPE port) {
  auto* a = new CDB_SGATE_WYSIWYG(nullptr, CDB_WYSIWYG_TYPE(type));
  nl.add_node(a, true);
  if (port != CDB_ILLEGAL_PORT) kavu_fetch_create_wys_oterm(port, a, false);
  return a;
}

void feed(CDB_SGATE_OTERM* src, CDB_SGATE_WYSIWYG* atom, DB_INPUT_PORT_TYPE port) {
  kavu_fetch_create_wys_iterm(port, atom)->set_source(src);
}

const int FF_ATOM = 94, MAC_ATOM = 95, RAM_ATOM = 96;

// ---------------------------------------------------------------- queries

TEST(KavuLlisQueries, GateKindsAnchorsNameBuffersAndDataSources) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* andg = make_and(&nl, a, b);
  CDB_SGATE_BUFFER* named = make_buffer(&nl, andg, CDB_BUFFER_LCELL);
  named->set_instance_name(name_under(nullptr, "x~llis_0"));
  CDB_SGATE_BUFFER* soft = make_buffer(&nl, andg, CDB_BUFFER_SOFT_LCELL);
  soft->set_instance_name(name_under(nullptr, "y~llis"));
  CDB_SGATE_BUFFER* plain = make_buffer(&nl, andg, CDB_BUFFER_LCELL);
  plain->set_instance_name(name_under(nullptr, "plain"));
  CDB_SGATE_NODE* reg_from_pin = make_dff(&nl, a, b);
  CDB_SGATE_NODE* reg_from_and = make_dff(&nl, andg, b);
  CDB_SGATE_WYSIWYG* ff = add_atom(nl, FF_ATOM, DB_PORT_REGOUT);
  feed(out(a), ff, DB_PORT_DATAIN);
  CDB_SGATE_WYSIWYG* mac = add_atom(nl, MAC_ATOM, CDB_ILLEGAL_PORT);

  struct ROW {
    const char* what;
    CDB_SGATE_NODE* node;
    bool nice, anchor, name_buffer, non_fib_source;
  } rows[] = {
      {"input pin", a, false, true, false, false},
      {"and gate", andg, true, false, false, false},
      {"lcell name buffer", named, true, true, true, false},
      {"soft lcell name buffer", soft, true, true, true, false},
      {"buffer without ~llis", plain, true, false, false, false},
      {"register fed by a pin", reg_from_pin, true, true, false, true},
      {"register fed by a gate", reg_from_and, true, true, false, false},
      {"flip-flop atom fed by a pin", ff, true, true, false, true},
      {"multiply-accumulate atom", mac, true, false, false, false},
  };
  for (const ROW& r : rows) {
    EXPECT_EQ(kavu_is_a_nice_sgate(r.node), r.nice) << r.what;
    EXPECT_EQ(kavu_is_anchor_point(r.node), r.anchor) << r.what;
    EXPECT_EQ(kavu_is_llis_name_buffer(r.node), r.name_buffer) << r.what;
    EXPECT_EQ(kavu_llis_reg_has_non_fib_data_source(r.node), r.non_fib_source) << r.what;
  }
  EXPECT_EQ(kavu_llis_get_string_hpath(named), "x~llis_0");

  // One source, with one inversion, for every input.
  CDB_SGATE_NODE* same = make_and(&nl, a, a);
  EXPECT_TRUE(kavu_has_single_distinct_oterm_source(same));
  same->get_input_term(1)->set_invert();
  EXPECT_FALSE(kavu_has_single_distinct_oterm_source(same));
  EXPECT_FALSE(kavu_has_single_distinct_oterm_source(andg));
  EXPECT_TRUE(kavu_has_single_distinct_oterm_source(a));

  // FIB matching by partial name among the candidate gates only.
  const std::set<std::string> fibs = {"x~llis_0", "plain", "nowhere"};
  std::set<CDB_SGATE_NODE*> found;
  EXPECT_EQ(kavu_get_list_of_fib_nodes_from_netlist(&fibs, &nl, nullptr, &found), 1);
  EXPECT_EQ(found, std::set<CDB_SGATE_NODE*>{named});

  // A gate without any name: null, or an internal error when asked for.
  CDB_SGATE_NODE* orphan = make_and(&nl, a, b);
  orphan->get_output_term(0)->set_instance_name(nullptr);
  orphan->set_instance_name(nullptr);
  EXPECT_EQ(kavu_get_sgate_instance_name(orphan), nullptr);
  CFG_SCOPE cfg{{"llis_ie_on_name_lookup_failure", "on"}};
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_sgate_instance_name(orphan), "Node name lookup failed");
}

TEST(KavuLlisQueries, MifNamesAndComparison) {
  DB_DIR_SCOPE scope;
  struct ROW {
    const char* mif;
    bool ok;
    const char* old_name;
  } rows[] = {
      {"db/x.mif", true, "db/x_old.mif"},
      {"init.mif", false, ""},       // not inferred by the compiler
      {"db/", false, ""},            // too short to hold an extension
      {"db/a", false, ""},           // no ".mif" to replace
      {"db/table.hex", false, ""},   // another extension is not replaced
      {"", false, ""},
  };
  for (const ROW& r : rows) {
    CDB_SGATE_SYNCHRONOUS_RAM ram(nullptr);
    ram.set_mif_file(r.mif);
    std::string name = "stale", old_name = "stale";
    EXPECT_EQ(kavu_get_mif_file_names(&ram, name, old_name), r.ok) << r.mif;
    EXPECT_EQ(old_name, r.old_name) << r.mif;
    EXPECT_EQ(name, r.ok ? r.mif : "") << r.mif;
  }

  const fs::path dir = scope.m_dir;
  auto write = [&](const char* file, const char* text) {
    std::ofstream(dir / file) << text;
    return (dir / file).string();
  };
  const std::string a = write("a.mif", "WIDTH=8;\nDEPTH = 2;\n0 : 1F;\n");
  const std::string b = write("b.mif", "WIDTH = 8 ;\r\n\tDEPTH=2;0:1F;");
  const std::string c = write("c.mif", "WIDTH=8;DEPTH=2;0:1E;");
  const std::string d = write("d.mif", "WIDTH=8;DEPTH=2;0:1F;00");
  EXPECT_TRUE(kavu_llis_compare_files_ignoring_space(a, b));
  EXPECT_FALSE(kavu_llis_compare_files_ignoring_space(a, c));
  EXPECT_FALSE(kavu_llis_compare_files_ignoring_space(a, d));
  EXPECT_FALSE(kavu_llis_compare_files_ignoring_space(a, (dir / "missing.mif").string()));
  EXPECT_FALSE(kavu_llis_compare_files_ignoring_space(a, ""));
  // Only regular files are read: a FIFO would block the open, /dev/zero
  // never ends, a directory has no contents.
  const std::string fifo = (dir / "fifo.mif").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& odd : {fifo, std::string("/dev/zero"), dir.string()}) {
    EXPECT_FALSE(kavu_llis_compare_files_ignoring_space(a, odd)) << odd;
    EXPECT_FALSE(kavu_llis_compare_files_ignoring_space(odd, odd)) << odd;
  }

  CDB_SGATE_SYNCHRONOUS_RAM r1(nullptr), r2(nullptr), r3(nullptr);
  CDB_SGATE_ASYNCHRONOUS_RAM other(nullptr);
  r1.set_mif_file(a.c_str());
  r2.set_mif_file(b.c_str());
  EXPECT_TRUE(kavu_compare_mif_files(&r1, &r2));
  EXPECT_FALSE(kavu_compare_mif_files(&r1, &r3));  // only one has a file
  EXPECT_FALSE(kavu_compare_mif_files(&r1, &other));
  CDB_SGATE_SYNCHRONOUS_RAM r4(nullptr);
  EXPECT_TRUE(kavu_compare_mif_files(&r3, &r4));
  r3.set_mif_file(fifo.c_str());
  r4.set_mif_file(fifo.c_str());
  EXPECT_FALSE(kavu_compare_mif_files(&r3, &r4));
}

// Every edge joins two declared nodes, labels are escaped, and Graphviz
// reads the file where it is installed.
TEST(KavuLlisQueries, DotDumpIsAValidGraph) {
  DB_DIR_SCOPE scope;
  const fs::path cwd = fs::current_path();
  fs::current_path(scope.m_dir);
  // A small real circuit: Graphviz lays out large graphs slowly.
  LOADED_NETLIST nl = load_blif("small/counter8_generic");
  CDB_SGATE_NODE* first = *nl->get_node_list().begin();
  first->set_instance_name(name_under(nullptr, "odd \"quoted\" \\ name"));
  HIER hier("part/1");
  {
    CFG_SCOPE off{{"llis_dump_dot", "off"}};
    EXPECT_EQ(kavu_dump_sgates_to_dot(nl.get(), "t", nullptr, &hier.h), "");
  }
  CFG_SCOPE cfg{{"llis_dump_dot", "on"}};
  std::set<CDB_SGATE_NODE*> lit = {first};
  const std::string file = kavu_dump_sgates_to_dot(nl.get(), "after", &lit, &hier.h);
  ASSERT_FALSE(file.empty());
  std::ifstream in(file);
  std::set<std::string> nodes;
  std::vector<std::pair<std::string, std::string>> edges;
  const std::regex node_re(R"(^ p(\d+) \[label=.*\];$)");
  const std::regex edge_re(R"(^ p(\d+) -> p(\d+) \[.*\];$)");
  std::string line;
  std::smatch m;
  bool escaped = false;
  while (std::getline(in, line)) {
    escaped |= line.find(R"(odd \"quoted\" \\ name)") != std::string::npos;
    if (std::regex_match(line, m, node_re)) nodes.insert(m[1]);
    else if (std::regex_match(line, m, edge_re)) edges.push_back({m[1], m[2]});
    else EXPECT_TRUE(line == "digraph G {" || line == "}") << line;
  }
  EXPECT_TRUE(escaped);
  EXPECT_EQ(nodes.size(), nl->get_node_list().size());
  EXPECT_GT(edges.size(), nodes.size() / 2);
  for (auto& [from, to] : edges) EXPECT_TRUE(nodes.count(from) && nodes.count(to)) << from << " -> " << to;
  const std::string dot = "dot";
  if (std::system("command -v dot >/dev/null 2>&1") == 0) {
    const std::string cmd = "timeout 60 " + dot + " -Tsvg '" + file + "' -o /dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
  } else {
    std::printf("dot is not installed: the Graphviz check is skipped\n");
  }
  fs::current_path(cwd);
}

// ---------------------------------------------------------------- records and data files

TEST(KavuLlisRecords, FibNamesRebuildPathsFromTheirTree) {
  HDB_INSTANCE_NAME* root = name_under(nullptr, "design");  // a top name: the root of the names below it
  HDB_INSTANCE_NAME* mid = name_under(root, "u1");
  HDB_INSTANCE_NAME* leaf = name_under(mid, "q~reg0");
  HDB_INSTANCE_NAME* sibling = name_under(mid, "r");
  KAVU_FIB_NAMES names;
  names.push_back(leaf);
  names.push_back(nullptr);
  names.push_back(sibling);
  names.push_back(leaf);
  const std::vector<uint32_t> order(names.begin(), names.end());
  EXPECT_EQ(order, (std::vector<uint32_t>{uint32_t(leaf->get_id()), 0u, uint32_t(sibling->get_id()),
                                          uint32_t(leaf->get_id())}));
  EXPECT_EQ(names.m_id_to_partial_name.size(), 3u);  // leaf, u1, r: the root is not recorded
  EXPECT_EQ(names.reconstruct_name(0), "");
  EXPECT_EQ(names.reconstruct_name(leaf->get_id()), "u1|q~reg0");
  EXPECT_EQ(names.reconstruct_name(mid->get_id()), "u1");
  EXPECT_KAVU_INTERNAL_ERROR(names.reconstruct_name(root->get_id()), "itr != m_id_to_partial_name.end()");
  // A corrupt tree that closes a cycle is refused, not walked for ever.
  names.m_id_to_partial_name[mid->get_id()].first = leaf->get_id();
  EXPECT_KAVU_INTERNAL_ERROR(names.reconstruct_name(leaf->get_id()), "cycle");
}

// Two partitions keep apart, also when one name holds a slash and the other
// the escaped form of it; every record and a netlist round-trip; a
// truncated file and a record of the wrong type are refused cleanly.
TEST(KavuLlisRecords, PerPartitionDataFilesRoundTripAndRefuseDamage) {
  DB_DIR_SCOPE scope;
  HIER p1("part/1"), p2("part%2F1"), p3("part_1");
  std::set<std::string> files;
  for (HIER* h : {&p1, &p2, &p3})
    for (int f = 0; f < 4; ++f)
      for (int t = 0; t < 3; ++t) files.insert(kavu_llis_data_file_name(&h->h, f, t, true));
  EXPECT_EQ(files.size(), 3u * 4 * 3);
  EXPECT_NE(kavu_llis_data_file_name(&p1.h, LLIS_DATA_FILE_PS, LLIS_DATA_TYPE_FIB_INFO, false).find(".map.psf"),
            std::string::npos);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_llis_data_file_name(&p1.h, 4, 0, false), "Unexpected LLIS_DATA_FILE");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_llis_data_file_name(&p1.h, 0, 3, false), "Unexpected LLIS_DATA_TYPE");
  CDB_SGATE_HIERARCHY nameless;
  EXPECT_KAVU_INTERNAL_ERROR(kavu_llis_data_file_name(&nameless, 0, 0, false), "hierarchy_iname");

  // The snapshot of one partition does not replace the other's.
  for (HIER* h : {&p1, &p2}) {
    KAVU_FIB_INFO info;
    info.m_fib_set = {h == &p1 ? "one" : "two", "shared"};
    info.m_old_lutmapped_node_ids = {3, 0xffffffffu};
    info.m_number_of_fibs_nodes = 2;
    info.m_merge_is_successful = h == &p2;
    ASSERT_TRUE(kavu_llis_write_fib_info(&info, &h->h, LLIS_DATA_FILE_PS));
  }
  for (HIER* h : {&p1, &p2}) {
    std::unique_ptr<KAVU_FIB_INFO> back(kavu_llis_read_fib_info(&h->h, LLIS_DATA_FILE_PS));
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->m_fib_set.count(h == &p1 ? "one" : "two"));
    EXPECT_EQ(back->m_merge_is_successful, h == &p2);
    EXPECT_TRUE(back->is_old_lutmapped_sgate(-1));
  }

  KAVU_FIB_NAMES names;
  HDB_INSTANCE_NAME* top = name_under(nullptr, "top");
  names.push_back(name_under(name_under(top, "u"), "q~reg0"));
  ASSERT_TRUE(kavu_llis_write_fib_names(&names, &p1.h, LLIS_DATA_FILE_TR));
  std::unique_ptr<KAVU_FIB_NAMES> names_back(kavu_llis_load_fib_names(&p1.h, LLIS_DATA_FILE_TR));
  EXPECT_EQ(names_back->reconstruct_name(*names_back->begin()), names.reconstruct_name(*names.begin()));

  // A real sequential netlist as the LUT-mapped file of the last compile.
  LOADED_NETLIST nl = load_blif("seq/diffeq1");
  EXPECT_FALSE(kavu_llis_has_old_lutmapped_netlist(&p1.h));
  ASSERT_TRUE(kavu_llis_write_netlist(nl.get(), &p1.h, LLIS_DATA_FILE_OL));
  EXPECT_TRUE(kavu_llis_has_old_lutmapped_netlist(&p1.h));
  EXPECT_FALSE(kavu_llis_has_old_lutmapped_netlist(&p2.h));
  std::unique_ptr<CDB_SGATE_NETLIST> nl_back(kavu_llis_load_netlist(&p1.h, LLIS_DATA_FILE_OL));
  EXPECT_EQ(nl_back->get_node_list().size(), nl->get_node_list().size());
  std::string log;
  const ABC_RESULT r = abc_equivalent(nl.get(), nl_back.get(), &log);
  if (r == UNAVAILABLE) std::printf("berkeley-abc is not available: the equivalence check is skipped\n");
  else EXPECT_EQ(r, EQUIVALENT) << log;

  // Damage: a missing file, a truncated file, a record of another type.
  EXPECT_EQ(kavu_llis_read_fib_info(&p3.h, LLIS_DATA_FILE_OL), nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_llis_load_fib_info(&p3.h), "old_fib_info");
  const std::string info_file = kavu_llis_data_file_name(&p1.h, LLIS_DATA_FILE_PS, LLIS_DATA_TYPE_FIB_INFO, true);
  const std::string names_file = kavu_llis_data_file_name(&p1.h, LLIS_DATA_FILE_TR, LLIS_DATA_TYPE_FIB_NAMES, true);
  const auto size = fs::file_size(info_file);
  for (auto cut : {size / 2, size - 1, uintmax_t(3)}) {
    fs::copy_file(names_file, info_file, fs::copy_options::overwrite_existing);
    fs::resize_file(info_file, cut);
    DEBUG_CAPTURE capture("KAVU");
    EXPECT_EQ(kavu_llis_read_fib_info(&p1.h, LLIS_DATA_FILE_PS), nullptr) << cut;
    EXPECT_TRUE(capture.contains("An error occurred while reading the database.")) << cut;
  }
  fs::copy_file(names_file, info_file, fs::copy_options::overwrite_existing);
  EXPECT_EQ(kavu_llis_read_fib_info(&p1.h, LLIS_DATA_FILE_PS), nullptr);
  EXPECT_EQ(kavu_llis_read_netlist(&p1.h, LLIS_DATA_FILE_TR), nullptr);

  EXPECT_KAVU_INTERNAL_ERROR(kavu_llis_write_fib_info(nullptr, &p1.h, 0), "db");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_llis_write_fib_names(&names, nullptr, 0), "hierarchy");
  kavu_llis_set_num_partitions_last_compile(4);
  EXPECT_EQ(kavu_llis_get_num_partitions_last_compile(), 0);
}

// ---------------------------------------------------------------- cone information

TEST(KavuConeInfo, FanoutLimitsLevelsAndBlocks) {
  EXPECT_FALSE(KAVU_CONE_INFO().should_be_duplicated());
  EXPECT_FALSE(KAVU_CONE_INFO().has_complicated_two_level_fanout());
  EXPECT_FALSE(KAVU_CONE_INFO().has_complicated_two_level_fanin());

  struct ROW {
    const char* what;
    int plain_sinks;         // flip-flop atoms: neither RAM nor MAC
    int registers_before;    // plain registers between the root and the block
    int block;               // 0 none, RAM_ATOM or MAC_ATOM
    int largest0, ram0, ram1, dsp0, dsp1;
    bool duplicate, complicated;
  } rows[] = {
      {"80 plain sinks stop at 75", 80, 0, 0, 75, 0, 0, 0, 0, true, true},
      {"a RAM right behind", 0, 0, RAM_ATOM, 1, 1, 0, 0, 0, false, true},
      {"a MAC behind one register", 0, 1, MAC_ATOM, 1, 0, 0, 0, 1, false, true},
      {"a RAM behind one register", 3, 1, RAM_ATOM, 4, 0, 1, 0, 0, false, true},
      {"a RAM behind two registers is not reached", 0, 2, RAM_ATOM, 1, 0, 0, 0, 0, false, false},
      {"a few plain sinks", 5, 0, 0, 5, 0, 0, 0, 0, false, false},
  };
  for (const ROW& r : rows) {
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
    CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
    CDB_SGATE_NODE* root = make_not(&nl, a);
    for (int i = 0; i < r.plain_sinks; ++i) feed(out(root), add_atom(nl, FF_ATOM, DB_PORT_REGOUT), DB_PORT_DATAIN);
    CDB_SGATE_NODE* last = root;
    for (int i = 0; i < r.registers_before; ++i) last = make_dff(&nl, last, clk);
    if (r.block) add_atom(nl, r.block, CDB_ILLEGAL_PORT)->insert_unordered_fanin(out(last));
    KAVU_CONE_INFO info(out(root));
    EXPECT_EQ(info.largest_fanout(0), r.largest0) << r.what;
    EXPECT_EQ(info.ram_fanout(0), r.ram0) << r.what;
    EXPECT_EQ(info.ram_fanout(1), r.ram1) << r.what;
    EXPECT_EQ(info.dsp_fanout(0), r.dsp0) << r.what;
    EXPECT_EQ(info.dsp_fanout(1), r.dsp1) << r.what;
    EXPECT_EQ(info.should_be_duplicated(), r.duplicate) << r.what;
    EXPECT_EQ(info.has_complicated_two_level_fanout(), r.complicated) << r.what;
    info.rebuild_info();
    EXPECT_EQ(info.largest_fanout(0), r.largest0) << r.what;
  }
}

// The root's gate is stepped over to the driver of its first input; the
// gates reached from there are followed on every input, so a RAM behind the
// second input of a gate two levels down is found. A long chain of logic
// does not recurse.
TEST(KavuConeInfo, FaninFindsBlocksOnEveryInput) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* p = make_input_pin(&nl, "p");
  CDB_SGATE_NODE* q = make_input_pin(&nl, "q");
  CDB_SGATE_WYSIWYG* ram = add_atom(nl, RAM_ATOM, DB_PORT_RAM_PORTA_DATAOUT);
  CDB_SGATE_NODE* h = make_and(&nl, q, p);
  h->get_input_term(1)->disconnect_from_source();
  h->get_input_term(1)->set_source(ram->get_output_term(0));
  CDB_SGATE_NODE* g = make_or(&nl, p, h);
  CDB_SGATE_NODE* root = make_and(&nl, g, q);
  KAVU_CONE_INFO info(out(root));
  EXPECT_EQ(info.ram_fanin(0), 1);
  EXPECT_TRUE(info.has_complicated_two_level_fanin());

  CDB_SGATE_NODE* chain = p;
  for (int i = 0; i < 50000; ++i) chain = make_not(&nl, chain);
  CDB_SGATE_NODE* tail = make_and(&nl, chain, chain);
  KAVU_CONE_INFO deep(out(tail));
  EXPECT_FALSE(deep.has_complicated_two_level_fanin());
  KAVU_CONE_INFO wide(out(p));
  EXPECT_GE(wide.total_fanout(0), 150);
  EXPECT_TRUE(wide.should_be_duplicated());
}

}  // namespace
