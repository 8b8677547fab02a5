// ssc_stored_set_test.cpp — which partitions' stored timing netlists a new
// generic netlist takes away: those of the set it replaces, never those
// another compile of the user stitched into another generic netlist.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "gen/gen.h"
#include "hdb/hdb.h"
#include "platform_testkit.h"
#include "ssc/ssc.h"

using namespace kavu_platform;
namespace fs = std::filesystem;

namespace {

CDB_SGATE_NODE* named(CDB_SGATE_NODE* g, const std::string& name) {
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  g->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, name.c_str(), nullptr, nullptr, top));
  return g;
}

// clk, a -> r1 = dff(a); `inverters` inverters; r2 = dff -> q: designs
// of different lengths store generic netlists of different digests.
struct CHAIN {
  CDB_SGATE_NETLIST nl;
  explicit CHAIN(int inverters) {
    auto* clk = make_input_pin(&nl, "clk");
    CDB_SGATE_NODE* at = named(make_dff(&nl, make_input_pin(&nl, "a"), clk), "r1");
    for (int k = 0; k < inverters; ++k) at = named(make_not(&nl, at), "n" + std::to_string(k));
    make_output_pin(&nl, "q", named(make_dff(&nl, at, clk), "r2"));
  }
};

// One compile's store: its generic netlist, read back as the compiles do.
bool store_generic(CHAIN& design) {
  SSC_UTIL* u = ssc_get_util();
  u->delete_netlist();
  return u->initialize_netlist(nullptr, &design.nl, SSC_DELAY_MODEL_UNIT, nullptr) && u->write_tdb_to_pdb(nullptr) &&
         u->delete_netlist() && u->read_tdb_from_pdb(nullptr);
}

// The partition `name`'s netlist stitched into the generic netlist held.
bool store_partition(CHAIN& design, std::string name) {
  return ssc_get_util()->build_tdb_sub_and_merge(&design.nl, SSC_DELAY_MODEL_UNIT, true, nullptr, true, true, &name);
}

}  // namespace

// Two compiles of one user in one database directory, interleaved as two
// processes run them: the first stores its generic netlist, the second
// stores its own over it, then each stores a partition's netlist stitched
// into its own generic one. When the second stores a new generic netlist,
// its previous partition netlist goes, and the first compile's stays (its
// stamp names the first compile's generic netlist); so does a user's file
// that only looks like one.
TEST(SscStoredSet, ANewGenericNetlistTakesOnlyItsOwnSetsPartitionNetlists) {
  const std::string db = gen_get_db_dir_path();
  fs::create_directories(db);
  std::ofstream(db + "/tdb_notes.tdb") << "notes\n";
  int stored[2], go[2];
  ASSERT_EQ(pipe(stored), 0);
  ASSERT_EQ(pipe(go), 0);
  const pid_t first = fork();
  if (first == 0) {
    close(stored[0]);
    close(go[1]);
    CHAIN design(2);
    const bool generic = store_generic(design);
    (void)!write(stored[1], generic ? "s" : "f", 1);
    char byte = 0;
    if (read(go[0], &byte, 1) != 1) _exit(2);
    _exit(generic && store_partition(design, "first") ? 0 : 1);
  }
  close(stored[1]);
  close(go[0]);
  char byte = 0;
  ASSERT_EQ(read(stored[0], &byte, 1), 1);
  close(stored[0]);
  EXPECT_EQ(byte, 's') << "the first compile stored no generic netlist";
  CHAIN design(3);
  ASSERT_TRUE(store_generic(design));
  ASSERT_TRUE(store_partition(design, "second"));
  (void)!write(go[1], "g", 1);
  close(go[1]);
  int status = 0;
  ASSERT_EQ(waitpid(first, &status, 0), first);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the first compile stored no partition netlist";
  ASSERT_TRUE(fs::exists(db + "/tdb_first.tdb"));
  ASSERT_TRUE(fs::exists(db + "/tdb_second.tdb"));
  // The second compile's next store.
  ASSERT_TRUE(store_generic(design));
  EXPECT_FALSE(fs::exists(db + "/tdb_second.tdb")) << "the compile's own previous set stays";
  EXPECT_TRUE(fs::exists(db + "/tdb_first.tdb")) << "the other compile's partition netlist went";
  EXPECT_TRUE(fs::exists(db + "/tdb_notes.tdb"));
  ssc_get_util()->delete_netlist();
}
