// The files the library writes in a directory others may share: each writer
// (the incremental records first, then the reports, dumps, debug trace and
// stored timing netlist) meets, at its file's name, another user's leftover
// in a sticky directory, a FIFO, a link another user made, and a full disk.
// Each fails with an error or warning naming the file, never ends the
// process, and leaves what it met as it was. And another user's stored
// timing netlists stay beside a compile, for that user's own analyses.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_hierarchy.h"
#include "cfg/cfg.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_fib_manager.h"
#include "kavu_helper.h"
#include "kavu_llis.h"
#include "kavu_msg.h"
#include "kavu_ssc_test_support.h"
#include "kavu_utility_scan.h"
#include "msg/msg.h"
#include "ssc/ssc.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;
namespace fs = std::filesystem;

namespace {

// What a writer meets at its file's name, made by root in a sticky
// directory of root's (or, for the full disk, a full tmpfs) that the writer,
// running as nobody, may write.
enum OBSTACLE { LEFTOVER, FIFO, OTHERS_LINK, FULL_DISK };
const char* const kObstacles[] = {"another user's leftover", "a FIFO", "a link another user made", "a full disk"};
const char* const kRefusals[] = {"(another user's file)", "(a FIFO)", "(a symbolic link another user made)",
                                 "No space left on device"};

// The state the writers share, made before each child runs one: a design
// (netlist and hierarchy) and the timing compile around it.
struct DESIGN {
  LOADED_NETLIST nl = load_blif("seq/stereovision3");
  CDB_SGATE_HIERARCHY* loader = nl->get_hierarchy();
  CDB_SGATE_HIERARCHY h;
  CMP_FACADE facade;
  DESIGN() {
    set_up_timing_driven_compile(&facade, &h);
    h.set_instance_name(HDB_INSTANCE_NAME::create_normal_name(hdb_default_namespace(), "pa", nullptr, nullptr,
                                                              top_name()));
    h.set_netlist(nl.get());
  }
  ~DESIGN() { nl->set_hierarchy(loader); }
  // A compile with incremental records on, its manager made afresh.
  KAVU_FIB_MANAGER& records() {
    cfg_set_value("rapid_recompile_supported", "on");
    kavu_llis_forget_generating_databases();
    HIERARCHY_TO_PARTITION_NAME::reset();
    KAVU_FIB_MANAGER::m_instance.reset();
    return kavu_create_fib_manager(&facade, 1);
  }
  // The timing engine holding the design's netlist.
  bool engine() {
    std::vector<CDB_SGATE_NETLIST*> netlists{nl.get()};
    return ssc_get_util()->initialize_netlist(&facade, netlists, SSC_DELAY_MODEL(2));
  }
};

// A writer: the name it writes in `dir` (the database and working directory
// of its run), and the write.
struct WRITER {
  const char* what;
  std::function<std::string(DESIGN& d, const std::string& dir)> file;
  std::function<void(DESIGN& d, const std::string& dir)> write;
};

std::vector<WRITER> writers() {
  auto record = [](LLIS_DATA_FILE f) {
    return [f](DESIGN& d, const std::string&) { return kavu_llis_data_file_name(&d.h, f, LLIS_DATA_TYPE_FIB_NAMES, true); };
  };
  auto in_dir = [](const char* name) { return [name](DESIGN&, const std::string& dir) { return dir + "/" + name; }; };
  return {
      {"records after netlist generation", record(LLIS_DATA_FILE_TR),
       [](DESIGN& d, const std::string&) {
         d.records();
         kavu_llis_write_database_after_sgn(&d.h, d.nl.get());
       }},
      {"records after technology mapping", record(LLIS_DATA_FILE_OL),
       [](DESIGN& d, const std::string&) {
         d.records().take_snapshot(&d.h, d.nl.get(), false);
         kavu_llis_write_database_after_ftm(&d.h, d.nl.get());
       }},
      {"partition snapshot", record(LLIS_DATA_FILE_PS),
       [](DESIGN& d, const std::string&) {
         KAVU_FIB_MANAGER& m = d.records();
         m.take_snapshot(&d.h, d.nl.get(), false);
         m.dump_fibs_for_each_partition();
       }},
      {"preserve report", in_dir("llis_write_database_after_sgn"),
       [](DESIGN& d, const std::string&) {
         CFG_SCOPE cfg{{"kavu_debug_print_all_preserve_nodes", "on"}};
         d.records();
         kavu_llis_write_database_after_sgn(&d.h, d.nl.get());
       }},
      {"Graphviz dump", [](DESIGN& d, const std::string& dir) { return dir + "/" + kavu_llis_partition_file_part(&d.h) + "_t.dot"; },
       [](DESIGN& d, const std::string&) {
         CFG_SCOPE cfg{{"llis_dump_dot", "on"}};
         kavu_dump_sgates_to_dot(d.nl.get(), "t", nullptr, &d.h);
       }},
      {"scan report", in_dir("scan_info.txt"),
       [](DESIGN& d, const std::string&) { opt_insert_scan_chains(&d.facade, &d.h, d.nl.get()); }},
      {"stream dump", in_dir("dump.txt"), [](DESIGN&, const std::string&) { std::orlind_ofstream("dump.txt") << "x\n"; }},
      {"stream dump appended", in_dir("dump.txt"),
       [](DESIGN&, const std::string&) { std::orlind_ofstream("dump.txt", std::ios_base::app) << "x\n"; }},
      {"debug output file", in_dir("debug.log"),
       [](DESIGN&, const std::string&) {
         CFG_SCOPE cfg{{"debug_msg_kavu", "on"}, {"debug_msg_file", "debug.log"}};
         kavu_debug("a line");
       }},
      {"timing-netlist dump", in_dir("tdb_dump_t.txt"),
       [](DESIGN& d, const std::string&) {
         if (d.engine()) ssc_get_util()->dump_tdb_netlist("t");
         ssc_get_util()->delete_netlist();
       }},
      {"stored timing netlist", in_dir("tdb_generic.tdb"),
       [](DESIGN& d, const std::string&) {
         if (d.engine()) ssc_get_util()->write_tdb_to_pdb(nullptr);
         ssc_get_util()->delete_netlist();
       }},
  };
}

// Makes `obstacle` at `file`, as root; false when it cannot be made.
bool plant(OBSTACLE obstacle, const std::string& file) {
  switch (obstacle) {
    case LEFTOVER:
      std::ofstream(file) << "theirs\n";
      return chmod(file.c_str(), 0666) == 0;  // a write in place would take it
    case FIFO:
      return mkfifo(file.c_str(), 0666) == 0;
    case OTHERS_LINK:
      std::ofstream("victim") << "theirs\n";
      return chmod("victim", 0666) == 0 && symlink(fs::absolute("victim").c_str(), file.c_str()) == 0;
    case FULL_DISK:
      return true;
  }
  return false;
}

// What the obstacle at `file` is now, for the rows to compare with what was
// planted.
std::string state_of(OBSTACLE obstacle, const std::string& file) {
  struct stat st;
  if (obstacle == FULL_DISK) return lstat(file.c_str(), &st) == 0 && st.st_size > 0 ? "written" : "as it was";
  if (lstat(file.c_str(), &st) != 0) return "gone";
  if (obstacle == FIFO) return S_ISFIFO(st.st_mode) ? "as it was" : "changed";
  if (obstacle == OTHERS_LINK && !S_ISLNK(st.st_mode)) return "changed";
  std::ifstream in(obstacle == OTHERS_LINK ? "victim" : file);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text == "theirs\n" && st.st_uid == 0 ? "as it was" : "changed";
}

}  // namespace

// Each writer, run as nobody, meets each obstacle at its file's name: it
// fails with a message naming the file and why, the process goes on, and
// the obstacle is as it was. The incremental records once ended the process
// ("wrote_fib_names_successfully"), the dumps followed another user's link
// or waited on the FIFO for ever, and the debug trace and timing-netlist
// dump were plain streams that said nothing.
TEST(KavuFileWriters, EveryWriterFailsNamingItsFileAndTheProcessGoesOn) {
  if (geteuid() != 0) GTEST_SKIP() << "the rows act as two users: needs root";
  SCRATCH_REACHED_BY_ALL reach;
  const std::string saved = gen_get_db_dir_path();
  DESIGN d;
  const fs::path full = fs::current_path() / "full";
  fs::create_directory(full);
  bool full_made = mount("tmpfs", full.c_str(), "tmpfs", 0, "size=256k,mode=1777") == 0;
  if (full_made) {
    std::ofstream filler(full / "filler");
    const std::string block(4096, 'x');
    while (filler.write(block.data(), std::streamsize(block.size())) && filler.flush()) {
    }
  }
  std::vector<std::string> not_run;
  int cell = 0;
  for (const WRITER& w : writers()) {
    for (OBSTACLE o : {LEFTOVER, FIFO, OTHERS_LINK, FULL_DISK}) {
      SCOPED_TRACE(std::string(w.what) + ", " + kObstacles[o]);
      if (o == FULL_DISK && !full_made) {
        not_run.push_back(std::string(w.what) + ", a full disk: cannot mount a tmpfs");
        continue;
      }
      fs::path dir = full;
      if (o != FULL_DISK) {
        dir = fs::current_path() / ("shared" + std::to_string(cell++));
        fs::create_directory(dir);
        fs::permissions(dir, fs::perms::all | fs::perms::sticky_bit);
      }
      gen_set_db_dir_path(dir.string());
      const std::string file = w.file(d, dir.string());
      ASSERT_TRUE(plant(o, file));
      const std::string told = run_in_child_as(kTestNobody, dir.string(), [&] {
        msg_log_clear();
        w.write(d, dir.string());
        std::string said;
        for (const MSG_LOG_ENTRY& e : msg_log()) said += e.text + "\n";
        return "went on\n" + said;
      });
      EXPECT_EQ(told.rfind("went on\n", 0), 0u) << told;
      // Named by its full path, or as the caller named it ("scan_info.txt").
      const size_t at = told.find(fs::path(file).filename().string() + "\"");
      EXPECT_NE(at, std::string::npos) << told;
      if (at != std::string::npos) {
        EXPECT_NE(told.find(kRefusals[o], at), std::string::npos) << told;
      }
      EXPECT_EQ(state_of(o, file), "as it was");
      if (o != FULL_DISK) fs::remove_all(dir);
    }
  }
  gen_set_db_dir_path(saved);
  cfg_unset_value("rapid_recompile_supported");
  kavu_llis_forget_generating_databases();
  KAVU_FIB_MANAGER::m_instance.reset();
  HIERARCHY_TO_PARTITION_NAME::reset();
  if (full_made) umount2(full.c_str(), MNT_DETACH);
  for (const std::string& r : not_run) std::cout << "not run: " << r << "\n";
}

namespace {

// One user's compile of a small registered design of two partitions in
// `dir`: the flattened timing netlist stored, and the partition's stored by
// its analysis. "stored" when both were; "not stored" else.
std::string store_timing_netlists(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* h, CDB_SGATE_NETLIST* nl,
                                  const std::string& dir, bool analyse) {
  set_up_timing_driven_compile(facade, h);
  gen_set_db_dir_path(dir);
  cfg_set_value("ssc_sdc_file", (fs::path(dir).parent_path() / "clocks.sdc").c_str());
  cfg_set_value("kavu_ssc_write_netlist_per_partition", "on");
  CDB_SGATE_NODE* clk = make_input_pin(nl, "clk");
  CDB_SGATE_NODE* r = make_dff(nl, make_input_pin(nl, "a"), clk);
  r->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, "r", nullptr, nullptr, top_name()));
  make_output_pin(nl, "q", make_dff(nl, r, clk));
  h->set_netlist(nl);
  zhd_build("", {{"top", top_name(), -1, 0}, {"p1", nullptr, 0, 1}});
  std::vector<CDB_SGATE_NETLIST*> netlists{nl};
  const bool stored = kavu_write_flattened_tdb_netlist(facade, netlists);
  SSC_ITERM_TIMING_INFO_MAP map;
  return stored && (!analyse || kavu_ssc_perform_timing_analysis(facade, h, nl, &map, nullptr, nullptr, nullptr, true,
                                                                 nullptr, false))
             ? "stored"
             : "not stored";
}

}  // namespace

// Two users compile in one shared database directory (0777, a team's 2775,
// a sticky 1777), one after the other, each way round: the second compile's
// write of its generic timing netlist removes none of the first user's
// stored netlists, and where the first user's generic netlist stays its own,
// the first user's next analysis reads its own stored netlists as before.
// The write used to remove every "tdb_*.tdb" there, whoever made it (as root
// in a sticky directory too), and the first user's analysis then returned
// false without a word.
TEST(KavuFileWriters, AnotherUsersStoredTimingNetlistsStayBesideACompile) {
  if (geteuid() != 0) GTEST_SKIP() << "the rows act as two users: needs root";
  SCRATCH_REACHED_BY_ALL reach;
  std::ofstream("clocks.sdc") << "create_clock -name clk -period 1000 [get_ports clk]\n";
  struct ROW {
    const char* what;
    fs::perms mode;
    uid_t first, second;
  } const rows[] = {
      {"0777, root after nobody", fs::perms::all, kTestNobody, 0},
      {"0777, nobody after root", fs::perms::all, 0, kTestNobody},
      {"team 2775, root after nobody", fs::perms(02775), kTestNobody, 0},
      {"team 2775, nobody after root", fs::perms(02775), 0, kTestNobody},
      {"sticky 1777, root after nobody", fs::perms::all | fs::perms::sticky_bit, kTestNobody, 0},
      {"sticky 1777, nobody after root", fs::perms::all | fs::perms::sticky_bit, 0, kTestNobody},
  };
  int cell = 0;
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.what);
    const fs::path dir = fs::current_path() / ("db" + std::to_string(cell++));
    fs::create_directory(dir);
    ASSERT_EQ(chown(dir.c_str(), 0, kTestNobody), 0);  // the team's group: nobody's
    fs::permissions(dir, r.mode);
    // The first user stores its netlists, waits for the second's compile,
    // then analyses its design again, in the same process.
    int go[2], stored[2], result[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(stored), 0);
    ASSERT_EQ(pipe(result), 0);
    const pid_t first = fork();
    if (first == 0) {
      for (int fd : {go[1], stored[0], result[0]}) close(fd);
      std::string told = "cannot become the user";
      if (chdir(dir.c_str()) == 0 &&
          (r.first == 0 || (setgroups(0, nullptr) == 0 && setgid(r.first) == 0 && setuid(r.first) == 0))) {
        try {
          CMP_FACADE facade;
          CDB_SGATE_HIERARCHY h;
          CDB_SGATE_NETLIST nl;
          told = store_timing_netlists(&facade, &h, &nl, dir.string(), true);
          (void)!write(stored[1], "1", 1);
          char c;
          (void)!read(go[0], &c, 1);
          SSC_ITERM_TIMING_INFO_MAP map;
          told += kavu_ssc_perform_timing_analysis(&facade, &h, &nl, &map, nullptr, nullptr, nullptr, true, nullptr,
                                                   false)
                      ? ", analysed"
                      : ", refused";
        } catch (const std::exception& e) {
          told = std::string("ended by ") + e.what();
        }
      }
      (void)!write(stored[1], "1", 1);
      (void)!write(result[1], told.data(), told.size());
      std::_Exit(0);
    }
    for (int fd : {go[0], stored[1], result[1]}) close(fd);
    char c;
    EXPECT_EQ(read(stored[0], &c, 1), 1);
    const std::string second = run_in_child_as(r.second, dir.string(), [&] {
      CMP_FACADE facade;
      CDB_SGATE_HIERARCHY h;
      CDB_SGATE_NETLIST nl;
      return store_timing_netlists(&facade, &h, &nl, dir.string(), false);
    });
    // What the first user stored: the partition's netlist is there, its own.
    struct stat part, generic;
    EXPECT_TRUE(lstat((dir / "tdb_top.tdb").c_str(), &part) == 0 && part.st_uid == r.first) << second;
    const bool generic_kept = lstat((dir / "tdb_generic.tdb").c_str(), &generic) == 0 && generic.st_uid == r.first;
    (void)!write(go[1], "1", 1);
    int status = 0;
    waitpid(first, &status, 0);
    std::string told;
    char buffer[256];
    for (ssize_t n; (n = read(result[0], buffer, sizeof buffer)) > 0;) told.append(buffer, size_t(n));
    for (int fd : {go[1], stored[0], result[0]}) close(fd);
    EXPECT_EQ(told.rfind("stored", 0), 0u) << told;
    if (generic_kept) {
      EXPECT_EQ(told, "stored, analysed") << second;
    }
  }
}
