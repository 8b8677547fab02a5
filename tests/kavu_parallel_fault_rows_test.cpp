// kavu_parallel_fault_rows_test.cpp — what a run clears after a helper that
// died: the temporaries it left under its process id, and of them only the
// user's own files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "parallel_flow_support.h"
#include "signal_test_support.h"

using namespace kavu_platform;
namespace fs = std::filesystem;

namespace {

// Makes `dir` a directory for the key "helper_binary_dir" whose helper
// dies at once (exit 3) after leaving, in the database directory `db`, one
// temporary of each kind under its process id ("<name>.tmp<pid>_<k>", as a
// write of the library names them) and its id in "<dir>/pids".
bool dying_helpers_in(const std::string& dir, const std::string& db) {
  fs::create_directories(dir);
  const std::string program = dir + "/velmora_map";
  std::ofstream(program) << "#!/bin/sh\n"
                            "db='" << db << "'\n"
                            "echo $$ >> '" << dir << "/pids'\n"
                            "t=\".tmp$$\"\n"
                            "printf own > \"$db/own.cdb${t}_0\"\n"
                            "printf theirs > \"$db/theirs.cdb${t}_1\"\n"
                            "chown 65534:65534 \"$db/theirs.cdb${t}_1\"\n"
                            "ln -s \"own.cdb${t}_0\" \"$db/link.cdb${t}_2\"\n"
                            "mkfifo \"$db/fifo.cdb${t}_3\"\n"
                            "printf named > \"$db/names.cdb${t}_4\"\n"
                            "ln \"$db/names.cdb${t}_4\" \"$db/second name\"$$\n"
                            "exit 3\n";
  return chmod(program.c_str(), 0755) == 0;
}

}  // namespace

// After a helper dies, the run removes the temporaries it left in the
// database directory, and of them only regular files of one name the user
// owns: another user's file at such a name (the directory may be shared),
// a link, a FIFO and a file of several names stay.
TEST(KavuParallelFaultRows, ADeadHelpersTemporariesAreClearedOnlyWhereTheyAreTheUsersOwn) {
  if (geteuid() != 0) GTEST_SKIP() << "another user's file needs root";
  FLOW_SCOPE scope;
  const std::string db = gen_get_db_dir_path(), helpers = fs::current_path().string() + "/dying";
  ASSERT_TRUE(dying_helpers_in(helpers, db));
  EXPECT_EQ(in_child([&]() -> std::string {
              CFG_SCOPE cfg{{"helper_binary_dir", helpers.c_str()}};
              std::string errors;
              if (run_flow(&scope.facade, &errors)) return "the run with dying helpers synthesized";
              return "";
            }),
            "");
  std::ifstream pids(helpers + "/pids");
  int helpers_run = 0;
  for (std::string pid; std::getline(pids, pid); ++helpers_run) {
    SCOPED_TRACE("helper " + pid);
    const std::string t = ".tmp" + pid;
    const std::map<std::string, bool> stays = {{"own.cdb" + t + "_0", false},   {"theirs.cdb" + t + "_1", true},
                                               {"link.cdb" + t + "_2", true},   {"fifo.cdb" + t + "_3", true},
                                               {"names.cdb" + t + "_4", true}};
    for (const auto& [name, kept] : stays) {
      std::error_code ec;
      EXPECT_EQ(fs::exists(fs::symlink_status(db + "/" + name, ec)), kept) << name;
    }
  }
  EXPECT_GT(helpers_run, 0);
}
