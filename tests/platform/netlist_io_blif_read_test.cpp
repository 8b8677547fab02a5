// Inputs that once crashed the BLIF reader or were silently accepted, name
// round trips, and the writer's size on wide gates. Each row of the first
// table is one input found by fuzzing or by hand; it must give a read error
// with its line, never a crash.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "hdb/hdb.h"
#include "netlist_io/blif.h"
#include "netlist_io/netlist_io_int.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

LOADED_NETLIST hold(BLIF_RESULT r) { return LOADED_NETLIST(r.netlist, LOADED_NETLIST_DELETER{r.hierarchy}); }

// Model <stem>i instantiates model <stem>(i+1) twice, `levels` deep, over one
// inverter: 2^levels gates once flattened, from a file of a few KB.
std::string doubling_hierarchy(int levels, const std::string& stem) {
  std::string text;
  for (int i = 0; i < levels; ++i) {
    const std::string m = stem + std::to_string(i), next = stem + std::to_string(i + 1);
    text += ".model " + m + "\n.inputs a\n.outputs y\n.subckt " + next + " a=a y=t\n.subckt " + next +
            " a=t y=y\n.end\n";
  }
  return text + ".model " + stem + std::to_string(levels) + "\n.inputs a\n.outputs y\n.names a y\n0 1\n.end\n";
}

// Reads what the netlist's writer wrote.
LOADED_NETLIST write_and_read(const CDB_SGATE_NETLIST* n, const std::string& file, std::string* text = nullptr) {
  std::string why;
  EXPECT_TRUE(blif_write_file(n, file, {}, &why)) << why;
  if (text) {
    std::ifstream in(file);
    text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  BLIF_RESULT r = blif_read_file(file);
  EXPECT_TRUE(r.netlist) << r.error;
  return hold(r);
}

#ifndef KAVU_UNDER_ASAN
// In a child process: limits the address space to `limit_mb`, reads `text`
// and exits 0 when the read failed with an error containing `expected`.
[[noreturn]] void read_limited(const std::string& text, size_t limit_mb, const std::string& expected) {
  const rlimit lim{rlim_t(limit_mb) << 20, rlim_t(limit_mb) << 20};
  ::setrlimit(RLIMIT_AS, &lim);
  BLIF_RESULT r = blif_read_string(text);
  const bool refused = !r.netlist && r.error.find(expected) != std::string::npos;
  std::fprintf(stderr, "%s\n", r.error.c_str());
  std::_Exit(refused ? 0 : 1);
}
#endif

void expect_refused_within(const std::string& text, size_t limit_mb, const std::string& expected) {
#ifdef KAVU_UNDER_ASAN
  (void)text, (void)limit_mb, (void)expected;  // ASan reserves more address space than any such limit
#else
  EXPECT_EXIT(read_limited(text, limit_mb, expected), ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace

TEST(NetlistIoBlifRead, HostileInputsAreReadErrorsWithTheirLine) {
  const std::string pins = ".model m\n.inputs a b\n.outputs y\n";
  struct CASE {
    std::string text;
    std::string expected;  // prefix of the error
  } cases[] = {
      // A continuation backslash at the very end of the file.
      {"\\", "<string>:1: no model"},
      {pins + ".names a y\n1 1\n\\", ""},
      // A cover row with too few tokens at the end of the file.
      {".model m\n.inputs a\n.outputs y\n.names a y\n1", "<string>:5: malformed cover row"},
      // A device-cell port bound twice: an input, then an output.
      {pins + ".subckt lcell_comb_brae DATAA=a DATAA=b COMBOUT=y\n", "<string>:4: lcell_comb_brae port DATAA is bound twice"},
      {pins + ".subckt lcell_comb_brae DATAA=a COMBOUT=y COMBOUT=y\n", "<string>:4: lcell_comb_brae port COMBOUT is bound twice"},
      // NUL bytes in a signal name and in a model name.
      {pins + ".names a" + std::string(1, '\0') + "x y\n1 1\n", "<string>:4: NUL byte"},
      {".model m" + std::string(1, '\0') + "\n.end\n", "<string>:1: NUL byte"},
      // CR-only line endings: one long line before, an empty netlist.
      {".model m\r.inputs a\r.outputs y\r.names a y\r1 1\r.end\r", "<string>:1: carriage return without a line feed"},
      // NUL escaped as "\00": in a pin, a model name, and two signals that
      // must never become "a" and "a~1".
      {".inputs \\00", "<string>:1: escaped NUL (\\00) in a name"},
      {".model \\00\n.end\n", "<string>:1: escaped NUL"},
      {".model m\n.outputs a\\00x a\\00y\n.end\n", "<string>:2: escaped NUL"},
      // A second model of the same name.
      {pins + ".names a y\n1 1\n.end\n.model m\n.end\n", "<string>:7: model 'm' is defined twice (first on line 1)"},
      // Terminal escapes and a megabyte word are quoted escaped and cut.
      {"\x1b]0;owned\x07\x1b[2J\n", "<string>:1: unexpected text '\\x1b]0;owned\\x07\\x1b[2J' (a cover row"},
      // A cell's own problem names a pin of the file as it is: the whole
      // problem is escaped on its way to the message.
      {pins + ".subckt $_AND_ A=a B=b Y=y \x1b]0;owned\x07=a\n",
       "<string>:4: cell $_AND_ has no pin \\x1b]0;owned\\x07"},
      {pins + std::string(1 << 20, 'w') + "\n",
       "<string>:4: unexpected text '" + std::string(40, 'w') + "..." + std::string(40, 'w') +
           "' (a cover row outside .names?)"},
  };
  for (const CASE& c : cases) {
    BLIF_RESULT r = blif_read_string(c.text);
    LOADED_NETLIST held = hold(r);
    if (c.expected.empty()) {
      EXPECT_TRUE(r.netlist) << r.error;  // a harmless trailing continuation
      continue;
    }
    EXPECT_EQ(r.netlist, nullptr) << c.expected;
    EXPECT_EQ(r.error.rfind(c.expected, 0), 0u) << "got: " << r.error;
  }
  // A hierarchy whose model i instantiates model i+1 twice, 40 levels deep,
  // is refused once its flattened size passes the configured bound.
  const std::string deep = doubling_hierarchy(40, "m");
  cfg_set_value("blif_max_flat_gates", "5000");
  BLIF_RESULT flat = blif_read_string(deep);
  cfg_unset_value("blif_max_flat_gates");
  LOADED_NETLIST flat_held = hold(flat);
  EXPECT_EQ(flat.netlist, nullptr);
  EXPECT_NE(flat.error.find("passes 5000 gates (blif_max_flat_gates) while expanding model 'm"), std::string::npos)
      << flat.error;
  // CR LF line endings stay accepted.
  BLIF_RESULT crlf = blif_read_string(".model m\r\n.inputs a\r\n.outputs y\r\n.names a y\r\n1 1\r\n.end\r\n");
  LOADED_NETLIST crlf_held = hold(crlf);
  EXPECT_TRUE(crlf.netlist) << crlf.error;
}

// A few KB of nested instances are refused from their flattened size before
// they are expanded (under the default bound, and for long instance names
// whose gates fit), and an allocation that fails while reading is a read
// error, not the end of the process.
TEST(NetlistIoBlifRead, NestedInstancesAreRefusedBeforeMemoryRunsOut) {
  const std::string long_stem(2000, 'm');
  const struct {
    std::string text;
    const char* max_flat_gates;
    const char* expected;
  } rows[] = {
      {doubling_hierarchy(40, "m"), nullptr, "gates (blif_max_flat_gates) while expanding model 'm0'"},
      {doubling_hierarchy(16, long_stem), nullptr, "bytes of instance names"},
      {doubling_hierarchy(22, "m"), "2000000000", "not enough memory"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.expected);
    if (row.max_flat_gates) cfg_set_value("blif_max_flat_gates", row.max_flat_gates);
    expect_refused_within(row.text, 256, row.expected);
    cfg_unset_value("blif_max_flat_gates");
  }
  // Under no limit, the first two are refused at once, nothing built.
  for (int i = 0; i < 2; ++i) {
    BLIF_RESULT r = blif_read_string(rows[i].text);
    LOADED_NETLIST held = hold(r);
    EXPECT_EQ(r.netlist, nullptr);
    EXPECT_NE(r.error.find(rows[i].expected), std::string::npos) << r.error;
  }
}

// Under an address-space limit anywhere between too little to read a
// circuit and enough, the read gives the netlist or fails with "not enough
// memory". It once ended the process where the block of the names' store
// could not be mapped (a small program under "ulimit -v" of 13.5 to
// 14.75 MB reading tseng), and let std::bad_alloc out where the error
// itself could not be made.
TEST(NetlistIoBlifRead, UnderAddressSpaceLimitsReadsOrSaysNotEnoughMemory) {
#ifdef KAVU_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any such limit";
#else
  const std::string path = blif_data_path("mcnc/tseng");
  std::vector<uint64_t> ended;
  for (uint64_t budget = 0; budget <= (uint64_t(6) << 20); budget += uint64_t(32) << 10) {
    const bool answered = run_within_address_space(budget, [&] {
      BLIF_RESULT r = blif_read_file(path);
      return r.netlist != nullptr || r.error.find("not enough memory") != std::string::npos;
    });
    if (!answered) ended.push_back(budget >> 10);
  }
  EXPECT_TRUE(ended.empty()) << "the read neither gave the netlist nor said why, with "
                             << ::testing::PrintToString(ended) << " KiB more address space";
  EXPECT_TRUE(run_within_address_space(uint64_t(6) << 20, [&] { return blif_read_file(path).netlist != nullptr; }))
      << "the sweep reaches a limit the read fits in";
#endif
}

// A net nothing drives reads 0 with a warning (an error when asked); an
// output listed twice is read as one port with a warning.
TEST(NetlistIoBlifRead, UndrivenNetIsTiedToZeroWithAWarningUnlessAnError) {
  const std::string text = ".model m\n.inputs a\n.outputs y z\n.names a ghost y\n11 1\n.names ghost z\n0 1\n.end\n";
  BLIF_RESULT r = blif_read_string(text);
  LOADED_NETLIST held = hold(r);
  ASSERT_TRUE(r.netlist) << r.error;
  ASSERT_EQ(r.warnings.size(), 1u);
  EXPECT_EQ(r.warnings[0], "<string>:4: signal 'ghost' is never driven; tied to 0");
  // y = a AND 0 = 0, z = NOT 0 = 1 whatever a is.
  NETLIST_SIMULATOR sim(r.netlist);
  ASSERT_TRUE(sim.ok()) << sim.error();
  sim.randomize_inputs(7);
  sim.eval();
  for (CDB_SGATE_IO* pin : r.netlist->get_output_pins()) {
    const std::string name = io_signal_path(pin->get_instance_name());
    EXPECT_EQ(sim.output(pin), name == "y" ? 0u : ~uint64_t(0)) << name;
  }
  BLIF_READ_OPTIONS strict;
  strict.undriven_is_error = true;
  BLIF_RESULT e = blif_read_string(text, strict);
  EXPECT_EQ(e.netlist, nullptr);
  EXPECT_EQ(e.error, "<string>:4: signal 'ghost' is never driven");
  // An output listed twice, on one line or two, is one port, with a
  // warning (it was a second port, written as "y~1"), as berkeley-abc warns;
  // listed three times, it is told once (it was told twice). An output that
  // is also an input (a feed-through) is listed once.
  struct LISTED {
    const char* outputs;
    const char* warned_line;  // nullptr: no warning
    size_t ports;
  } const listed[] = {{".outputs y y z\n", "3", 2},
                      {".outputs y z\n.outputs y\n", "4", 2},
                      {".outputs y y z y\n", "3", 2},
                      {".outputs a y z\n", nullptr, 3}};
  for (const LISTED& row : listed) {
    const char* outputs = row.outputs;
    SCOPED_TRACE(outputs);
    BLIF_RESULT d = blif_read_string(std::string(".model m\n.inputs a\n") + outputs + ".names a y\n1 1\n.names a z\n0 1\n.end\n");
    LOADED_NETLIST twice = hold(d);
    ASSERT_TRUE(d.netlist) << d.error;
    EXPECT_EQ(d.warnings, row.warned_line ? std::vector<std::string>{std::string("<string>:") + row.warned_line +
                                                                     ": output 'y' is listed twice; read as one port"}
                                          : std::vector<std::string>{});
    EXPECT_EQ(d.netlist->get_output_pins().size(), row.ports);
    std::string error;
    ASSERT_TRUE(blif_write_file(d.netlist, "twice.blif", {}, &error)) << error;
    std::ifstream in("twice.blif");
    const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written.find("y~1"), std::string::npos) << written;
  }
}

// Names with empty hierarchy levels and with the characters BLIF cannot carry
// come back from a write and a read exactly as they were written.
TEST(NetlistIoBlifRead, SignalNamesSurviveARoundTrip) {
  const char* names[] = {"a||b", "a|", "|lead", "p=q", "h#sh", "back\\slash", "two  spaces", "x\\41", "f\fv\vt\t"};
  CDB_SGATE_NETLIST nl;
  HDB_INSTANCE_NAME* top = io_top_name("m");
  auto hierarchy = std::unique_ptr<CDB_SGATE_HIERARCHY>(io_make_hierarchy(&nl, top));
  std::set<std::string> expected;
  for (const char* n : names) {
    CDB_SGATE_NODE* in = make_input_pin(&nl, "in");
    CDB_SGATE_NODE* out = make_output_pin(&nl, "out", in);
    out->set_instance_name(io_signal_name(top, n));
    expected.insert(n);
    in->set_instance_name(io_signal_name(top, std::string("i_") + n));
    in->get_single_oterm()->set_instance_name(io_signal_name(top, std::string("i_") + n));
    expected.insert(std::string("i_") + n);
  }
  LOADED_NETLIST back = write_and_read(&nl, "names.blif");
  ASSERT_TRUE(back);
  std::set<std::string> got;
  for (CDB_SGATE_IO* p : back->get_input_pins()) got.insert(io_signal_path(p->get_instance_name()));
  for (CDB_SGATE_IO* p : back->get_output_pins()) got.insert(io_signal_path(p->get_instance_name()));
  EXPECT_EQ(got, expected);
}

// A k-input OR is one row of k literals, not k rows of k characters.
TEST(NetlistIoBlifRead, WideOrIsWrittenInLinearSize) {
  for (int inverted = 0; inverted < 2; ++inverted) {
    CDB_SGATE_NETLIST nl;
    auto* gate = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR);
    nl.add_node(gate);
    const int width = 400;
    for (int i = 0; i < width; ++i) {
      CDB_SGATE_NODE* pin = make_input_pin(&nl, ("x" + std::to_string(i)).c_str());
      gate->insert_unordered_fanin(pin->get_single_oterm());
      if (i % 3 == 0) gate->get_input_term(unsigned(i))->set_invert();
    }
    if (inverted) gate->get_single_oterm()->set_invert();
    make_output_pin(&nl, "y", gate);
    std::string text;
    LOADED_NETLIST back = write_and_read(&nl, "wide.blif", &text);
    ASSERT_TRUE(back);
    EXPECT_LT(text.size(), size_t(16 * width)) << "the OR cover grew faster than its width";
    ASSERT_KAVU_EQUIVALENT(nl, *back);
  }
}

// AND and XOR gates of 70,000 inputs, every third inverted, the first
// hundred read twice more (the same literal again; for XOR the pair
// cancels): written and read back, the AND reads each input once with its
// polarity, and both keep their function. (The writer searched its leaf
// list for every input, quadratic in the width; the simulator kept only 16
// bits of a gate's input count.)
TEST(NetlistIoBlifRead, VeryWideGatesRoundTrip) {
  const int width = 70000, repeated = 100;
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  for (int i = 0; i < width; ++i) pins.push_back(make_input_pin(&nl, ("x" + std::to_string(i)).c_str()));
  for (CDB_COMB_TYPE type : {CDB_COMB_AND, CDB_COMB_XOR}) {
    auto* gate = new CDB_SGATE_COMB(nullptr, type);
    nl.add_node(gate);
    for (int i = 0; i < width + repeated; ++i) {  // by position: the unordered insert checks for duplicates
      const int k = i % width;
      CDB_SGATE_ITERM* t = gate->create_input_term(nullptr);
      gate->set_input_term(t, unsigned(i));
      pins[size_t(k)]->get_single_oterm()->insert_fanout(t);
      if (k % 3 == 0) t->set_invert();
    }
    make_output_pin(&nl, type == CDB_COMB_AND ? "all" : "parity", gate);
  }
  LOADED_NETLIST back = write_and_read(&nl, "very_wide.blif");
  ASSERT_TRUE(back);
  std::string why;
  const SIM_COMPARE few{4, 1, 1};  // the XOR's parity differs on any lost or flipped input
  EXPECT_TRUE(sim_equivalent(&nl, back.get(), few, &why)) << why;
  // The AND's inputs, by pin name and inversion.
  std::set<std::pair<std::string, bool>> expected, got;
  for (int i = 0; i < width; ++i) expected.emplace("x" + std::to_string(i), i % 3 == 0);
  for (CDB_SGATE_IO* out : back->get_output_pins()) {
    if (io_signal_path(out->get_instance_name()) != "all") continue;
    const CDB_SGATE_NODE* g = out->get_input_term(0)->get_source()->get_my_node();
    for (unsigned k = 0; k < g->get_number_of_input_terms(); ++k) {
      const CDB_SGATE_ITERM* t = g->get_input_term(k);
      got.emplace(io_signal_path(t->get_source()->get_my_node()->get_instance_name()), t->is_inverted());
    }
    EXPECT_EQ(g->get_number_of_input_terms(), unsigned(width));
  }
  EXPECT_TRUE(got == expected) << got.size() << " inputs read back";
}

// The reader takes any subset of a device cell's ports, a flip-flop atom
// without its output included; such a netlist checks clean, and the writer
// writes it in every form (the register stores into a signal nothing reads)
// and reads it back. (The writer stopped with "id != UINT32_MAX", a fuzzer
// finding.)
TEST(NetlistIoBlifRead, FlipFlopAtomWithoutOutputIsWritten) {
  const char* cells[] = {".subckt ff_brae DATAIN=d CLK=clk ENA=en",
                         ".subckt ff_brae DATAIN=d CLK=clk",
                         ".subckt ff_brae DATAIN=d CLK=clk ENA=en SLOAD=en ASDATA=d SCLR=d",
                         ".subckt ff_brae DATAIN=d"};
  BLIF_WRITE_OPTIONS as_subckt, full;
  as_subckt.atoms_as_subckt = true;
  full.full_registers = true;
  for (const char* cell : cells) {
    SCOPED_TRACE(cell);
    BLIF_RESULT r = blif_read_string(std::string(".model m\n.inputs d clk en\n.outputs y\n") + cell +
                                     "\n.names d y\n1 1\n.end\n");
    LOADED_NETLIST held = hold(r);
    ASSERT_TRUE(r.netlist) << r.error;
    std::string report;
    EXPECT_TRUE(r.netlist->check(&report)) << report;
    for (const BLIF_WRITE_OPTIONS& options : {BLIF_WRITE_OPTIONS{}, as_subckt, full}) {
      std::string why;
      ASSERT_TRUE(blif_write_file(r.netlist, "no_regout.blif", options, &why)) << why;
      BLIF_RESULT back = blif_read_file("no_regout.blif");
      LOADED_NETLIST back_held = hold(back);
      ASSERT_TRUE(back.netlist) << back.error;
      EXPECT_TRUE(sim_equivalent(r.netlist, back.netlist, {}, &why)) << why;
    }
  }
}

// An external don't-care section without its own ".end" ends at the next
// ".model"; the sub-model after it is still found.
TEST(NetlistIoBlifRead, ExdcSectionEndsAtTheNextModel) {
  const std::string text =
      ".model top\n.inputs a b\n.outputs y\n.subckt inv i=a o=y\n.exdc\n.inputs a b\n.outputs y\n.names a y\n1 1\n"
      ".model inv\n.inputs i\n.outputs o\n.names i o\n0 1\n.end\n";
  BLIF_RESULT r = blif_read_string(text);
  LOADED_NETLIST held = hold(r);
  ASSERT_TRUE(r.netlist) << r.error;
  EXPECT_EQ(r.netlist->get_output_pins().size(), 1u);
}

// Paths that are not regular files are refused before they are opened (a
// FIFO would block), and a file past 4 GiB is refused from its size alone (a
// sparse file: no data is written or read).
TEST(NetlistIoBlifRead, OnlyRegularFilesWithinFourGigabytesAreRead) {
  namespace fs = std::filesystem;
  fs::create_directory("dir.blif");
  ASSERT_EQ(::mkfifo("fifo.blif", 0600), 0);
  {
    std::ofstream("huge.blif") << ".model m\n";
  }
  std::error_code ec;
  fs::resize_file("huge.blif", (uint64_t(1) << 32) + 1, ec);
  const std::pair<const char*, const char*> cases[] = {
      {"dir.blif", "dir.blif: not a regular file"},
      {"fifo.blif", "fifo.blif: not a regular file"},
      {"huge.blif", "huge.blif: the file is larger than 4 GiB"},
      {"absent.blif", "absent.blif: cannot read the file"}};
  for (auto [path, expected] : cases) {
    if (ec && std::string(path) == "huge.blif") continue;  // no sparse files here
    BLIF_RESULT r = blif_read_file(path);
    EXPECT_EQ(r.netlist, nullptr);
    EXPECT_EQ(r.error.rfind(expected, 0), 0u) << r.error;
  }
  fs::remove("huge.blif");
  fs::remove("fifo.blif");
  fs::remove("dir.blif");
}

// The fuzzer's seeds read, so that fuzzing starts from flattened models and
// device cells, and each survives the writer and a second read.
TEST(NetlistIoBlifRead, FuzzSeedsReadAndRoundTrip) {
  for (const char* seed : {"hierarchy", "atoms"}) {
    BLIF_RESULT r = blif_read_file(std::string(KAVU_TEST_DATA_DIR "/../fuzz/seeds/") + seed + ".blif");
    LOADED_NETLIST held = hold(r);
    ASSERT_TRUE(r.netlist) << seed << ": " << r.error;
    LOADED_NETLIST back = write_and_read(r.netlist, std::string(seed) + "_back.blif");
    ASSERT_TRUE(back) << seed;
    EXPECT_EQ(back->get_output_pins().size(), r.netlist->get_output_pins().size()) << seed;
  }
}

// A one-model file long enough that the reader gives back the text behind
// it several times: the circuit, its names, escaped names first met early,
// and messages that name early lines from late ones all stay right, from a
// string and from a file.
TEST(NetlistIoBlifRead, LongOneModelFileKeepsNamesAndLinesBehindTheReader) {
  // Lines 1-5 head the file; inverter i (i >= 1) drives n<i> on lines
  // 2i+4 and 2i+5, so the 140,000 logical lines pass two releases.
  const int chain = 70000;
  std::string head = ".model big\n.inputs a\n.outputs y z\n.names a g\\41 q\n11 1\n";
  std::string body = ".names a n1\n0 1\n";
  for (int i = 1; i < chain; ++i) body += ".names n" + std::to_string(i) + " n" + std::to_string(i + 1) + "\n0 1\n";
  const std::string tail = "# a comment\n.names n" + std::to_string(chain) + " \\\n y\n1 1\n.names q z\n1 1\n";
  const int first_tail_line = 5 + 2 * chain + 1;
  const std::string extra = std::to_string(first_tail_line + 6);
  struct CASE {
    const char* what;
    std::string text;
    std::string error;    // empty: the read succeeds
    std::string warning;  // the one warning expected, or empty
  } cases[] = {
      {"whole", head + body + tail + ".names g\\41\n1\n", "", ""},
      {"undriven early read", head + body + tail, "", "<string>:4: signal 'gA' is never driven; tied to 0"},
      {"driven twice", head + body + tail + ".names a n7\n1 1\n",
       "<string>:" + extra + ": signal 'n7' is driven twice (first on line 18)", ""},
      {"bad row late", head + body + tail + ".names a w\n2 1\n",
       "<string>:" + std::to_string(first_tail_line + 7) + ": bad character in cover row", ""},
  };
  uint32_t whole_gates = 0;
  for (const CASE& c : cases) {
    BLIF_RESULT r = blif_read_string(c.text);
    LOADED_NETLIST held = hold(r);
    if (!c.error.empty()) {
      EXPECT_EQ(r.netlist, nullptr) << c.what;
      EXPECT_EQ(r.error, c.error) << c.what;
      continue;
    }
    if (!whole_gates) whole_gates = r.netlist->size();
    ASSERT_TRUE(r.netlist) << c.what << ": " << r.error;
    EXPECT_EQ(r.warnings, c.warning.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.warning})
        << c.what;
    // An even chain of inverters: y follows a; z = a AND gA.
    NETLIST_SIMULATOR sim(r.netlist);
    ASSERT_TRUE(sim.ok()) << sim.error();
    const uint64_t a = 0x5a5a3c3c0ff000ffull, ga = c.warning.empty() ? ~uint64_t(0) : 0;
    sim.set_input(r.netlist->get_input_pins().front(), a);
    sim.eval();
    for (CDB_SGATE_IO* pin : r.netlist->get_output_pins()) {
      const std::string name = io_signal_path(pin->get_instance_name());
      EXPECT_EQ(sim.output(pin), name == "y" ? a : a & ga) << c.what << " " << name;
    }
    // Names from the first and the last stretch of the file.
    std::set<std::string> named;
    for (auto it = r.netlist->begin_node_list(); it != r.netlist->end_node_list(); ++it)
      if ((*it)->get_instance_name()) named.insert(io_signal_path((*it)->get_instance_name()));
    for (std::string n : {"a", "n1", "n2", "n50000", "q", "y", "z"}) EXPECT_EQ(named.count(n), 1u) << n;
    EXPECT_EQ(named.count("n" + std::to_string(chain)), 1u);
  }
  // The same file from disk.
  const std::string file = "long_one_model.blif";
  std::ofstream(file) << cases[0].text;
  BLIF_RESULT from_file = blif_read_file(file);
  LOADED_NETLIST file_held = hold(from_file);
  ASSERT_TRUE(from_file.netlist) << from_file.error;
  EXPECT_EQ(from_file.netlist->size(), whole_gates);
  std::filesystem::remove(file);
}

// The reader gives the names' text back page by page as it makes the names
// (every 4,096th name). A chain of buffers whose names all have one length,
// behind a first name `shift` characters longer, puts the end of the
// 4,096th name at every offset around a page edge: on the edge (shift 0)
// and inside the name (the name crosses the edge). Every name reads back
// whole. (A name that ended on or crossed the edge was read after its page
// had been given back, as zeros, which stopped the reader.)
TEST(NetlistIoBlifRead, NamesOnPageEdgesReadBackWhole) {
  const int chain = 5000;
  for (int length : {4, 5, 8, 13, 32}) {
    for (int shift = 0; shift <= length; ++shift) {
      auto name = [length](int i) {  // "n" and i in base 26, all of `length` characters
        std::string n(size_t(length), 'a');
        n[0] = 'n';
        for (int p = length - 1; p > 0 && i; --p, i /= 26) n[size_t(p)] = char('a' + i % 26);
        return n;
      };
      const std::string first = std::string(size_t(length + shift), 'a');
      std::string text = ".model m\n.inputs " + first + "\n.outputs " + name(chain) + "\n.names " + first + " " +
                         name(1) + "\n1 1\n";
      for (int i = 1; i < chain; ++i) text += ".names " + name(i) + " " + name(i + 1) + "\n1 1\n";
      text += ".end\n";
      BLIF_RESULT r = blif_read_string(text);
      LOADED_NETLIST held = hold(r);
      ASSERT_TRUE(r.netlist) << length << "/" << shift << ": " << r.error;
      std::set<std::string> named;
      for (auto it = r.netlist->begin_node_list(); it != r.netlist->end_node_list(); ++it)
        if (*it && (*it)->get_sgate_type() != CDB_SGATE_IO_ENUM) named.insert(io_signal_path((*it)->get_instance_name()));
      ASSERT_EQ(named.size(), size_t(chain)) << length << "/" << shift;
      EXPECT_EQ(*named.begin(), name(1)) << length << "/" << shift;
      EXPECT_EQ(*named.rbegin(), name(chain)) << length << "/" << shift;
      EXPECT_EQ(io_signal_path(r.netlist->get_output_pins().front()->get_instance_name()), name(chain));
    }
  }
}

// Every gate the reader makes has a name, also the gates of a cell or cover
// that drive no signal of their own (the enable OR of a register cell that
// resets to 1, the cubes and sum of a cover); those names are new children
// of the cell's signal and shared with no other gate. Only an output pin
// shares a name, with the gate driving its signal. (The cell gates were
// left unnamed, which stopped name-based passes.)
TEST(NetlistIoBlifRead, EveryGateOfEveryBundledCircuitIsNamed) {
  BLIF_READ_OPTIONS comb;
  comb.names = BLIF_READ_OPTIONS::ALL_COMB;
  auto check = [](const CDB_SGATE_NETLIST* n, const std::string& what) {
    std::set<const HDB_INSTANCE_NAME*> seen;
    for (auto it = n->begin_node_list(); it != n->end_node_list(); ++it) {
      const CDB_SGATE_NODE* g = *it;
      if (!g) continue;
      ASSERT_NE(g->get_instance_name(), nullptr) << what << ": " << g->get_debug_name() << " " << g->get_string_type_name();
      const bool output_pin = g->get_sgate_type() == CDB_SGATE_IO_ENUM && g->get_number_of_input_terms() > 0;
      EXPECT_TRUE(output_pin || seen.insert(g->get_instance_name()).second) << what << ": " << g->get_string_hpath();
    }
  };
  const std::string dir = std::filesystem::path(blif_data_path("small/crc8_generic")).parent_path().parent_path();
  int files = 0;
  for (const auto& sub : std::filesystem::directory_iterator(dir)) {
    if (!sub.is_directory()) continue;
    for (const auto& f : std::filesystem::directory_iterator(sub.path())) {
      if (f.path().extension() != ".blif") continue;
      ++files;
      for (const BLIF_READ_OPTIONS& options : {BLIF_READ_OPTIONS{}, comb}) {
        LOADED_NETLIST nl = hold(blif_read_file(f.path().string(), options));
        ASSERT_TRUE(nl) << f.path();
        check(nl.get(), f.path().filename().string());
      }
    }
  }
  EXPECT_GT(files, 50);

  BLIF_RESULT r = blif_read_string(".model m\n.inputs clk d e r a b\n.outputs q y\n"
                                   ".subckt $_SDFFE_PP1P_ C=clk D=d E=e R=r Q=q\n"
                                   ".names a b y\n10 1\n01 1\n.end\n", comb);
  LOADED_NETLIST nl = hold(r);
  ASSERT_TRUE(nl) << r.error;
  std::multiset<std::string> names;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && (*it)->get_sgate_type() != CDB_SGATE_IO_ENUM) names.insert((*it)->get_instance_name()->get_short_hpath());
  EXPECT_EQ(names, (std::multiset<std::string>{"m|q", "m|q~or", "m|y", "m|y~and", "m|y~and~1"}));
}
