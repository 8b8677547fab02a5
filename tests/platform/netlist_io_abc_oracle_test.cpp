// The outside oracle's failure paths: a broken set-up or a hung abc is an
// error, never a silently skipped check, and blanks in TMPDIR do not matter.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <csignal>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "netlist_io/abc_oracle.h"
#include "netlist_io/blif.h"
#include "netlist_io/oracle_process.h"
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

// What a peer prints is kept within its bounds, whatever its lines: the
// lines on_line sees (a last one without its newline once the peer ended,
// a line past LINE_BYTES cut to its first LINE_BYTES), and text(), whole
// while it fits and its head and tail around the bytes left out when it does
// not, one line longer than the kept tail included.
TEST(NetlistIoAbcOracle, PeerOutputKeepsEveryLineWithinBounds) {
  const size_t head = ORACLE_OUTPUT::HEAD_BYTES, tail = ORACLE_OUTPUT::TAIL_BYTES, line = ORACLE_OUTPUT::LINE_BYTES;
  const std::string long_line(3 * tail, 'x');
  struct ROW {
    const char* what;
    std::vector<std::string> pieces;  // as the pipe gives them
    std::vector<size_t> lines;        // the sizes of the lines on_line sees
    bool whole;                       // text() is all that was printed
  } const rows[] = {
      {"lines and a last one without its newline", {"Networks are ", "equivalent\nlast"}, {23, 4}, true},
      {"a newline in the next piece", {"abc", "\n", "\n"}, {3, 0}, true},
      {"one line three times the kept tail", {long_line}, {line}, false},
      {"a head line, then one line three times the kept tail, then a line",
       {"first\n", long_line, "\nNetworks are equivalent\n"},
       {5, line, 23},
       false},
  };
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.what);
    ORACLE_OUTPUT output;
    std::vector<size_t> seen;
    output.on_line = [&](std::string_view l) { seen.push_back(l.size()); };
    std::string all;
    for (const std::string& piece : r.pieces) {
      // In pipe-sized pieces, as oracle_run_peer reads them.
      for (size_t at = 0; at < piece.size(); at += 64 * 1024)
        output.append(piece.data() + at, std::min<size_t>(64 * 1024, piece.size() - at));
      all += piece;
    }
    output.finish();
    EXPECT_EQ(seen, r.lines);
    EXPECT_EQ(output.bytes(), all.size());
    const std::string text = output.text();
    if (r.whole) {
      EXPECT_EQ(text, all);
    } else {
      EXPECT_LE(text.size(), head + tail + 64);
      EXPECT_NE(text.find(" bytes left out ...]"), std::string::npos);
      EXPECT_EQ(text.substr(text.size() - 20), all.substr(all.size() - 20)) << "the tail is the end printed";
    }
    EXPECT_LE(output.last_lines(3).size(), head + tail + 64);
  }
}

// abc's verdict is read from whichever line holds it: one followed by more
// lines ("NOT EQUIVALENT" and the output that differs), one that is abc's
// last line without a newline; a run that exits with an error is an error
// whatever it printed, and one without a verdict is one too. A stand-in for
// abc prints each.
TEST(NetlistIoAbcOracle, TheVerdictIsReadWhereverItStands) {
  LOADED_NETLIST n = load_blif("mcnc/s298");
  struct ROW {
    const char* prints;  // printf's format
    int status;
    ABC_RESULT result;
  } const rows[] = {
      {"Networks are equivalent.\\n", 0, EQUIVALENT},
      {"Networks are equivalent.", 0, EQUIVALENT},
      {"Networks are NOT EQUIVALENT.", 0, DIFFERENT},
      {"Networks are NOT EQUIVALENT.\\nVerification failed for at least 1 outputs: y\\n", 0, DIFFERENT},
      {"Networks are NOT EQUIVALENT.\\nOutput y: Value in Network1 = 0. Value in Network2 = 1.", 0, DIFFERENT},
      {"Networks are equivalent.\\nTime = 0.01 sec\\n", 0, EQUIVALENT},
      {"Networks are equivalent.\\n", 3, ERROR},
      {"reading a.blif\\n", 0, ERROR},
  };
  const std::string fake = std::filesystem::absolute("verdict_abc").string();
  for (const ROW& r : rows) {
    SCOPED_TRACE(std::string(r.prints) + ", status " + std::to_string(r.status));
    std::ofstream(fake) << "#!/bin/sh\nprintf '" << r.prints << "'\nexit " << r.status << "\n";
    chmod(fake.c_str(), 0755);
    CFG_SCOPE cfg{{"abc_binary", fake.c_str()}};
    std::string log;
    EXPECT_EQ(abc_equivalent(n.get(), n.get(), &log), r.result) << log;
    if (r.status != 0) {
      EXPECT_NE(log.find("berkeley-abc exited with status 3"), std::string::npos) << log;
    }
  }
}

// One line of 150 MB (a peer printing a binary, or without newlines) is
// read in bounded memory, by abc_equivalent and abc_run alike, and the
// verdict after it is still read.
TEST(NetlistIoAbcOracle, OneEndlessLineIsReadInBoundedMemory) {
#ifdef KAVU_UNDER_ASAN
  GTEST_SKIP() << "ASan reserves more address space than any such limit";
#else
  LOADED_NETLIST n = load_blif("mcnc/s298");
  const std::string flood = std::filesystem::absolute("long_line_abc").string();
  std::ofstream(flood) << "#!/bin/sh\nhead -c 150000000 /dev/zero | tr '\\000' 'a'\necho\n"
                          "echo 'Networks are NOT EQUIVALENT.'\n";
  chmod(flood.c_str(), 0755);
  CFG_SCOPE cfg{{"abc_binary", flood.c_str()}};
  EXPECT_TRUE(run_within_address_space(uint64_t(64) << 20, [&] {
    std::string log, out;
    return abc_equivalent(n.get(), n.get(), &log) == DIFFERENT && log.size() < (uint64_t(2) << 20) &&
           abc_run("", &out) == 0 && out.size() < (uint64_t(2) << 20) &&
           out.find(" bytes left out ...]") != std::string::npos;
  }));
  // And an ORACLE_OUTPUT fed the same line in process.
  EXPECT_TRUE(run_within_address_space(uint64_t(64) << 20, [] {
    ORACLE_OUTPUT output;
    size_t longest = 0;
    output.on_line = [&](std::string_view l) { longest = std::max(longest, l.size()); };
    const std::string piece(64 * 1024, 'b');
    for (int k = 0; k < 2400; ++k) output.append(piece.data(), piece.size());
    output.finish();
    return longest == ORACLE_OUTPUT::LINE_BYTES && output.text().size() < (uint64_t(2) << 20);
  }));
#endif
}
