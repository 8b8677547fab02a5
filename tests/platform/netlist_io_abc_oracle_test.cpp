// The outside oracle's failure paths: a broken set-up or a hung abc is an
// error, never a silently skipped check, and blanks in TMPDIR do not matter.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "netlist_io/abc_oracle.h"
#include "netlist_io/blif.h"
#include "platform_testkit.h"

using namespace kavu_platform;

TEST(NetlistIoAbcOracle, BrokenSetUpAndHungRunsAreErrors) {
  LOADED_NETLIST n = load_blif("mcnc/s298");
  std::string log;
  {
    CFG_SCOPE cfg{{"abc_binary", "/nonexistent/abc"}};
    EXPECT_EQ(abc_equivalent(n.get(), n.get(), &log), ERROR);
    EXPECT_NE(log.find("not an executable"), std::string::npos) << log;
  }
  // A stand-in for abc that never answers.
  const std::string hung = std::filesystem::absolute("hung_abc").string();
  std::ofstream(hung) << "#!/bin/sh\nsleep 30\n";
  chmod(hung.c_str(), 0755);
  CFG_SCOPE cfg{{"abc_binary", hung.c_str()}, {"abc_timeout", "1"}};
  struct sigaction before {}, after {};
  sigaction(SIGINT, nullptr, &before);
  EXPECT_EQ(abc_equivalent(n.get(), n.get(), &log), ERROR);
  EXPECT_NE(log.find("took longer than 1 s"), std::string::npos) << log;
  sigaction(SIGINT, nullptr, &after);  // the handler of the run is put back
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

TEST(NetlistIoAbcOracle, TemporaryDirectoryWithBlanksAndUnwritableFiles) {
  LOADED_NETLIST n = load_blif("mcnc/s298");
  std::string why;
  EXPECT_FALSE(blif_write_file(n.get(), "/nonexistent/dir/x.blif", {}, &why));
  EXPECT_NE(why.find("No such file or directory"), std::string::npos) << why;
  if (abc_binary_path().empty()) GTEST_SKIP() << "berkeley-abc not installed";
  const std::string dir = std::filesystem::absolute("tmp with blanks").string();
  std::filesystem::create_directory(dir);
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", dir.c_str(), 1);
  std::string log;
  const ABC_RESULT r = abc_equivalent(n.get(), n.get(), &log);
  if (old) setenv("TMPDIR", saved.c_str(), 1);
  else unsetenv("TMPDIR");
  EXPECT_EQ(r, EQUIVALENT) << log;
  EXPECT_TRUE(std::filesystem::is_empty(dir)) << "the oracle left files behind";
}

// A peer that prints without end (a verbose abc, gigabytes): the verdict is
// read wherever it stands, here before 150 MB of other lines, and the log
// and abc_run's text keep a bounded part, in bounded memory (all of it was
// kept, on disk and in memory: std::bad_alloc under a limit).
TEST(NetlistIoAbcOracle, OutputWithoutEndIsReadInBoundedMemory) {
#ifdef KAVU_UNDER_ASAN
  GTEST_SKIP() << "ASan reserves more address space than any such limit";
#else
  LOADED_NETLIST n = load_blif("mcnc/s298");
  const std::string flood = std::filesystem::absolute("flood_abc").string();
  std::ofstream(flood) << "#!/bin/sh\necho 'Networks are equivalent'\nyes 'a line abc prints' | head -c 150000000\n";
  chmod(flood.c_str(), 0755);
  CFG_SCOPE cfg{{"abc_binary", flood.c_str()}};
  EXPECT_TRUE(run_within_address_space(uint64_t(64) << 20, [&] {
    std::string log, out;
    return abc_equivalent(n.get(), n.get(), &log) == EQUIVALENT && log.size() < 4096 &&
           abc_run("", &out) == 0 && out.size() < (uint64_t(2) << 20) && out.find(" bytes left out ...]") != std::string::npos;
  }));
#endif
}
