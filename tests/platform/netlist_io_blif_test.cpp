// BLIF reader and writer: read-write-read keeps the function (simulation and
// berkeley-abc), generic cells keep priorities, errors name file and line.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "netlist_io/abc_oracle.h"
#include "netlist_io/netlist_io_int.h"
#include "netlist_io/simulator.h"
#include "netlist_io/yosys_oracle.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {

std::string here(const std::string& file) { return std::filesystem::absolute(file).string(); }

// Reads a file the test wrote into its scratch directory.
LOADED_NETLIST read_back(const char* file, const BLIF_READ_OPTIONS& options = {}) {
  BLIF_RESULT r = blif_read_file(here(file), options);
  if (!r.netlist) throw std::runtime_error(r.error);
  return LOADED_NETLIST(r.netlist, LOADED_NETLIST_DELETER{r.hierarchy});
}

bool abc_reads(const std::string& name) {
  std::ifstream in(blif_data_path(name));
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(".subckt", 0) == 0) return false;
  return true;
}

std::string file_text(const std::string& file) {
  std::ifstream in(file);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

size_t occurrences(const std::string& text, const char* what) {
  size_t k = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++k;
  return k;
}

int gates_of(const CDB_SGATE_NETLIST* n, int type) {
  int k = 0;
  for (auto it = n->begin_node_list(); it != n->end_node_list(); ++it) k += *it && (*it)->get_sgate_type() == type;
  return k;
}

// A read result that owns its netlist and hierarchy; `m` keeps the report.
struct HELD : LOADED_NETLIST {
  explicit HELD(BLIF_RESULT r) : LOADED_NETLIST(r.netlist, LOADED_NETLIST_DELETER{r.hierarchy}), m(r) {}
  BLIF_RESULT m;
};

CDB_SGATE_NODE* pin(const CDB_SGATE_NETLIST* n, const std::string& name) {
  for (auto* p : n->get_input_pins())
    if (sim_pin_name(p) == name) return p;
  for (auto* p : n->get_output_pins())
    if (sim_pin_name(p) == name) return p;
  return nullptr;
}

// Sets the named input pins to the given words and evaluates.
void drive(NETLIST_SIMULATOR& sim, const CDB_SGATE_NETLIST* n,
           std::initializer_list<std::pair<const char*, uint64_t>> values) {
  for (auto [name, word] : values) sim.set_input(pin(n, name), word);
  sim.eval();
}

const uint64_t kA = 0xaaaaaaaaaaaaaaaaull, kB = 0xccccccccccccccccull, kC = 0xf0f0f0f0f0f0f0f0ull,
               kD = 0xff00ff00ff00ff00ull, kE = 0xffff0000ffff0000ull, kF = 0xffffffff00000000ull;

// Runs one berkeley-abc process over several commands whose verdicts are
// "Networks are equivalent"; every command must give one.
void expect_abc_all_equivalent(const std::vector<std::string>& commands) {
  std::string script, out;
  for (const std::string& c : commands) script += c + "; ";
  ASSERT_EQ(abc_run(script, &out), 0) << out;
  size_t found = 0;
  for (size_t at = out.find("Networks are equivalent"); at != std::string::npos;
       at = out.find("Networks are equivalent", at + 1))
    ++found;
  EXPECT_EQ(found, commands.size()) << script << "\n" << out;
  EXPECT_EQ(out.find("NOT EQUIVALENT"), std::string::npos) << out;
}

}  // namespace

// Every committed circuit loads and checks clean; read, write, read again
// gives the same function by simulation (registers with asynchronous
// controls through $dff_full). The abc tests below prove the written files.
TEST(NetlistIoBlif, ReadWriteReadKeepsSimulatedFunction) {
  BLIF_WRITE_OPTIONS full;
  full.full_registers = true;
  SIM_COMPARE cmp;
  cmp.words = 4;
  for (const std::string& path : bundled_circuits()) {
    SCOPED_TRACE(path);
    LOADED_NETLIST n = load_blif(path);
    KAVU_TRACK(n);
    std::string why;
    ASSERT_TRUE(blif_write_file(n.get(), "written.blif", full, &why)) << why;
    LOADED_NETLIST back = read_back("written.blif");
    KAVU_TRACK(back);
    ASSERT_TRUE(sim_equivalent(n.get(), back.get(), cmp, &why)) << why;
  }
}

// The written file is proven equal to the original by berkeley-abc (cec, or
// dsec with registers) wherever abc reads the original.
void prove_written_files_by_abc(bool sequential, const std::string& folder) {
  if (abc_binary_path().empty()) GTEST_SKIP() << "berkeley-abc not installed";
  std::vector<std::string> commands;
  for (const std::string& path : bundled_circuits()) {
    if (!abc_reads(path) || path.rfind(folder, 0) != 0) continue;
    LOADED_NETLIST n = load_blif(path);
    // abc reads BLIF latches as flip-flops
    if (gates_of(n.get(), CDB_SGATE_LATCH_ENUM) || (gates_of(n.get(), CDB_SGATE_DFF_ENUM) > 0) != sequential) continue;
    std::string file = "w" + std::to_string(commands.size()) + ".blif", why;
    ASSERT_TRUE(blif_write_file(n.get(), file, {}, &why)) << path << ": " << why;
    commands.push_back(std::string(sequential ? "dsec " : "cec ") + blif_data_path(path) + " " + here(file));
  }
  expect_abc_all_equivalent(commands);
}

// Split so that the abc runs spread over parallel test processes.
TEST(NetlistIoBlif, CombinationalRoundTripProvenByAbc) { prove_written_files_by_abc(false, ""); }
TEST(NetlistIoBlif, McncSequentialRoundTripProvenByAbc) { prove_written_files_by_abc(true, "mcnc/"); }
TEST(NetlistIoBlif, SmallSequentialRoundTripProvenByAbc) { prove_written_files_by_abc(true, "small/"); }

// Designs in generic cells: the forms written after reading with LUTs and
// with comb gates only are proven equal by berkeley-abc, and by simulation.
TEST(NetlistIoBlif, GenericCellDesignsAgreeAcrossReadOptions) {
  BLIF_READ_OPTIONS comb;
  comb.names = BLIF_READ_OPTIONS::ALL_COMB;
  SIM_COMPARE cmp;
  cmp.words = 8;
  std::vector<std::string> commands;
  for (const char* name : {"seq/stereovision3", "seq/ch_intrinsics", "small/counter8_generic", "small/crc8_generic",
                           "small/shift_en_sclr_generic", "small/lfsr16_generic", "small/alu8_generic",
                           "small/fsm_seq_generic", "small/updown16_generic", "small/mult6_generic"}) {
    SCOPED_TRACE(name);
    LOADED_NETLIST lut = load_blif(name), gates = load_blif(name, comb);
    const std::string k = std::to_string(commands.size()), a = "lut" + k + ".blif", b = "comb" + k + ".blif";
    std::string why;
    ASSERT_TRUE(blif_write_file(lut.get(), a, {}, &why)) << why;
    ASSERT_TRUE(blif_write_file(gates.get(), b, {}, &why)) << why;
    commands.push_back(std::string(gates_of(lut.get(), CDB_SGATE_DFF_ENUM) ? "dsec " : "cec ") + here(a) + " " + here(b));
    EXPECT_TRUE(sim_equivalent(lut.get(), gates.get(), cmp, &why)) << why;
  }
  if (abc_binary_path().empty()) GTEST_SKIP() << "berkeley-abc not installed";
  expect_abc_all_equivalent(commands);
}

// Every malformed or unsupported file gives "<file>:<line>: <problem>" and no netlist.
TEST(NetlistIoBlif, MalformedFilesNameFileLineAndProblem) {
  const std::string head = ".model m\n.inputs a b clk\n.outputs y\n";
  const std::pair<const char*, const char*> cases[] = {
      {".names a c y\n11 1\n", "<string>:4: signal 'c' is never driven"},
      {".names a y\n1 1\n.names b y\n1 1\n", "<string>:6: signal 'y' is driven twice (first on line 4)"},
      {".names a b y\n1x 1\n", "<string>:5: bad character in cover row"},
      {".names a b y\n11\n", "<string>:5: malformed cover row"},
      {".names a b y\n11 1\n00 0\n", "<string>:6: cover mixes on-set and off-set rows"},
      {".subckt foo A=a Y=y\n", "<string>:4: unknown .subckt model 'foo'"},
      {".subckt $_AND_ A=a Y=y\n", "<string>:4: cell $_AND_ lacks pin B"},
      {".subckt $_AND_ A=a B=b C=a Y=y\n", "<string>:4: cell $_AND_ has no pin C"},
      {".subckt $_AND_ A=a B Y=y\n", "<string>:4: malformed pin binding 'B'"},
      {".subckt $_DFF_X_ C=clk D=a Q=y\n", "<string>:4: unknown .subckt model '$_DFF_X_'"},
      {".latch a y xx clk 0\n", "<string>:4: unsupported latch type 'xx'"},
      {".latch a y re clk 7\n", "<string>:4: bad latch initial value '7'"},
      {".mlatch a y clk\n", "<string>:4: unsupported construct .mlatch"},
      {"11 1\n.names a y\n1 1\n", "<string>:4: unexpected text '11'"},
      {".names a \\\n  b y\n11 1\n.names q z\n1 1\n", "<string>:7: signal 'q' is never driven"},
      {".names a b a b a b a y\n1111111 1\n", "<string>:4: cover of 7 inputs is wider"},  // read with ALL_LUT
  };
  BLIF_READ_OPTIONS all_lut;
  all_lut.names = BLIF_READ_OPTIONS::ALL_LUT;
  all_lut.undriven_is_error = true;
  for (const auto& [body, expected] : cases) {
    HELD r(blif_read_string(head + body + ".end\n", all_lut));
    EXPECT_TRUE(r.get() == nullptr && r.m.hierarchy == nullptr) << body;
    EXPECT_EQ(r.m.error.rfind(expected, 0), 0u) << "got: " << r.m.error;
  }
  HELD missing(blif_read_file("/nonexistent/x.blif"));
  EXPECT_NE(missing.m.error.find("/nonexistent/x.blif: cannot read"), std::string::npos);
  HELD recursive(blif_read_string(".model a\n.inputs x\n.outputs y\n.subckt a x=x y=y\n.end\n"));
  EXPECT_NE(recursive.m.error.find("deeper than 64"), std::string::npos) << recursive.m.error;
}

// Covers: constant covers tie their readers (no gate), off-set covers are
// complemented, LUTs and sums of products compute the same function, and
// wide covers fall back to comb gates under AUTO_LUT.
TEST(NetlistIoBlif, CoversMapToLutsOrSumsOfProducts) {
  const std::string text =
      ".model m\n.inputs a b c d e f g\n.outputs y0 y1 y2 y3\n"
      ".names one\n1\n.names zero\n"
      ".names a one zero y0\n110 1\n"                    // y0 = a
      ".names a b c y1\n1-0 0\n-11 0\n"                  // off-set: y1 = !(a&!c | b&c)
      ".names a b c d e f g y2\n1111111 1\n0000000 1\n"  // 7 inputs: AND/OR/NOT gates
      ".names a b y3\n01 1\n10 1\n.end\n";               // xor
  BLIF_READ_OPTIONS comb;
  comb.names = BLIF_READ_OPTIONS::ALL_COMB;
  HELD luts(blif_read_string(text)), gates(blif_read_string(text, comb));
  ASSERT_TRUE(luts.get() && gates.get()) << luts.m.error << gates.m.error;
  KAVU_TRACK(luts);
  KAVU_TRACK(gates);
  EXPECT_EQ(gates_of(luts.get(), CDB_SGATE_LUT_ENUM), 3);   // y0, y1, y3; y2 is too wide
  EXPECT_EQ(gates_of(luts.get(), CDB_SGATE_COMB_ENUM), 3);  // y2: two cubes and their OR
  EXPECT_EQ(gates_of(gates.get(), CDB_SGATE_LUT_ENUM), 0);
  NETLIST_SIMULATOR sim(luts.get());
  ASSERT_TRUE(sim.ok()) << sim.error();
  drive(sim, luts.get(), {{"a", kA}, {"b", kB}, {"c", kC}, {"d", kD}, {"e", kE}, {"f", kF}, {"g", 0}});
  EXPECT_EQ(sim.output(pin(luts.get(), "y0")), kA);
  EXPECT_EQ(sim.output(pin(luts.get(), "y1")), ~((kA & ~kC) | (kB & kC)));
  EXPECT_EQ(sim.output(pin(luts.get(), "y2")), ~(kA | kB | kC | kD | kE | kF));  // g = 0: only the all-zero cube
  EXPECT_EQ(sim.output(pin(luts.get(), "y3")), kA ^ kB);
  // The constant nets made no gate: y0's LUT reads two tied inputs.
  CDB_SGATE_NODE* y0 = pin(luts.get(), "y0")->get_fanin_term(0)->get_my_node();
  EXPECT_TRUE(y0->get_input_term(1)->is_vcc() && y0->get_input_term(2)->is_gnd());
  std::string why;
  EXPECT_TRUE(sim_equivalent(luts.get(), gates.get(), {}, &why)) << why;
}

// yosys register cells keep their polarities and priorities: a reset to 1
// over enable still loads while disabled, enable over reset does not, clear
// dominates set, a negative-gate latch is transparent while its gate is low.
TEST(NetlistIoBlif, GenericRegisterCellsKeepPriorities) {
  HELD r(blif_read_string(".model regs\n.inputs clk d e r s\n.outputs q1 q2 q3 q4 q5 q6\n"
                          ".subckt $_SDFFE_PP1P_ C=clk D=d E=e R=r Q=q1\n"
                          ".subckt $_SDFFCE_PP1P_ C=clk D=d E=e R=r Q=q2\n"
                          ".subckt $_SDFFE_PN0P_ C=clk D=d E=e R=r Q=q3\n"
                          ".subckt $_DFFSR_PPP_ C=clk D=d S=s R=r Q=q4\n"
                          ".subckt $_DLATCH_N_ E=e D=d Q=q5\n"
                          ".subckt $_DFFE_PN_ C=clk D=d E=e Q=q6\n.end\n"));
  ASSERT_NE(r.get(), nullptr) << r.m.error;
  KAVU_TRACK(r);
  NETLIST_SIMULATOR sim(r.get());
  ASSERT_TRUE(sim.ok()) << sim.error();
  const uint64_t d = kA, e = kB, rst = kC, s = kD;
  drive(sim, r.get(), {{"clk", 0}, {"d", d}, {"e", e}, {"r", rst}, {"s", s}});
  auto q = [&](const char* name) { return sim.output(pin(r.get(), name)); };
  EXPECT_EQ(q("q1"), 0u);
  EXPECT_EQ(q("q4"), s & ~rst);  // asynchronous, before any clock
  EXPECT_EQ(q("q5"), ~e & d);
  sim.clock();
  EXPECT_EQ(q("q1"), rst | (e & d));
  EXPECT_EQ(q("q2"), e & (rst | d));
  EXPECT_EQ(q("q3"), rst & e & d);
  EXPECT_EQ(q("q4"), ~rst & (s | d));
  EXPECT_TRUE(q("q5") == (~e & d) && q("q6") == (~e & d));
}

// Every plain register read has all its controls connected: those the file
// gives read their signals, the others are tied to the constant at which
// they do nothing (enable and asynchronous data to VCC, the rest to GND).
// Written back, a register without asynchronous controls is still a plain
// ".latch", and $dff_full names only the controls in use.
TEST(NetlistIoBlif, RegisterControlsTheFileLeavesOutAreTiedInactive) {
  // Per row: the register line(s) and, for positions 2..8 (ACLR, PRESET,
  // ENA, ADATA, ALOAD, SCLR, SLOAD), 's' a signal, '1' VCC, '0' GND.
  struct ROW {
    const char* cell;
    const char* controls;
    const char* written;  // what the register is written as
  } const rows[] = {
      {".latch d q re clk 0", "0011000", ".latch"},
      {".latch d q 2", "0011000", ".latch"},
      {".subckt $_DFFE_PP_ C=clk D=d E=e Q=q", "00s1000", ".latch"},
      {".subckt $_SDFF_PP1_ C=clk D=d R=r Q=q", "001100s", ".latch"},
      {".subckt $_SDFFE_PN0P_ C=clk D=d E=e R=r Q=q", "00s10s0", ".latch"},
      {".subckt $_DFF_PP0_ C=clk D=d R=r Q=q", "s011000", ".subckt $dff_full DATA=d CLK=clk ACLR=r Q=q"},
      {".subckt $dff_full CLK=clk DATA=d PRESET=r SLOAD=e ADATA=d Q=q", "0s1s00s",
       ".subckt $dff_full DATA=d CLK=clk PRESET=r ADATA=d SLOAD=e Q=q"},
  };
  for (const ROW& row : rows) {
    SCOPED_TRACE(row.cell);
    HELD r(blif_read_string(std::string(".model m\n.inputs clk d e r\n.outputs q\n") + row.cell + "\n.end\n"));
    ASSERT_NE(r.get(), nullptr) << r.m.error;
    KAVU_TRACK(r);
    // A register without a clock is clocked by a new input port, and the
    // read says so (the written file lists the port; it was not told).
    const bool clockless = std::string(row.cell) == ".latch d q 2";
    EXPECT_EQ(r.m.warnings, clockless ? std::vector<std::string>{"<string>:4: .latch without a clock; the latches "
                                                                 "without one are clocked by a new input port "
                                                                 "'blif_clock'"}
                                      : std::vector<std::string>{});
    ASSERT_EQ(gates_of(r.get(), CDB_SGATE_DFF_ENUM), 1);
    for (auto it = r->begin_node_list(); it != r->end_node_list(); ++it) {
      if (!*it || (*it)->get_sgate_type() != CDB_SGATE_DFF_ENUM) continue;
      for (unsigned k = CDB_DFF_ACLR; k < CDB_DFF_NUM_PORTS; ++k) {
        const CDB_SGATE_ITERM* t = (*it)->get_input_term(k);
        ASSERT_TRUE(t && t->is_connected()) << k;
        const char c = t->get_source() ? 's' : t->is_vcc() ? '1' : '0';
        EXPECT_EQ(c, row.controls[k - CDB_DFF_ACLR]) << k;
      }
    }
    BLIF_WRITE_OPTIONS full;
    full.full_registers = true;
    std::string why;
    ASSERT_TRUE(blif_write_file(r.get(), "reg.blif", full, &why)) << why;
    const std::string text = file_text("reg.blif");
    EXPECT_NE(text.find(row.written), std::string::npos) << text;
    EXPECT_TRUE(sim_equivalent(r.get(), read_back("reg.blif").get(), {}, &why)) << why;
  }
  // Whole circuits: every register of every bundled sequential design.
  for (const char* name : {"mcnc/s298", "seq/diffeq1", "seq/ch_intrinsics", "small/async_regs_generic"}) {
    LOADED_NETLIST n = load_blif(name);
    int registers = 0;
    for (auto it = n->begin_node_list(); it != n->end_node_list(); ++it) {
      if (!*it || (*it)->get_sgate_type() != CDB_SGATE_DFF_ENUM) continue;
      ++registers;
      for (unsigned k = CDB_DFF_ACLR; k < CDB_DFF_NUM_PORTS; ++k)
        EXPECT_TRUE(cdb_is_connected((*it)->get_input_term(k))) << name << " " << (*it)->get_debug_name() << " " << k;
    }
    EXPECT_GT(registers, 0) << name;
  }
}

// Models of the same file are flattened: each instance gets its own signals
// named "<model>_<k>|<signal>", and formals connect to the caller's signals.
TEST(NetlistIoBlif, SubcircuitModelsAreFlattened) {
  HELD r(blif_read_string(".model top\n.inputs a b c\n.outputs y z w\n"
                          ".subckt half x=a y=b s=t c=z\n"
                          ".subckt half x=t y=c s=y c=w\n.end\n"
                          ".model half\n.inputs x y\n.outputs s c\n"
                          ".names x y p\n11 1\n.names p c\n1 1\n.names x y s\n01 1\n10 1\n.end\n"));
  ASSERT_NE(r.get(), nullptr) << r.m.error;
  KAVU_TRACK(r);
  std::set<std::string> names;
  for (auto it = r->begin_node_list(); it != r->end_node_list(); ++it)
    if ((*it)->get_instance_name()) names.insert(io_signal_path((*it)->get_instance_name()));
  EXPECT_TRUE(names.count("half_0|p") && names.count("half_1|p")) << "per-instance signals";
  NETLIST_SIMULATOR sim(r.get());
  drive(sim, r.get(), {{"a", kA}, {"b", kB}, {"c", kC}});
  EXPECT_EQ(sim.output(pin(r.get(), "y")), kA ^ kB ^ kC);
  EXPECT_EQ(sim.output(pin(r.get(), "z")), kA & kB);
  EXPECT_EQ(sim.output(pin(r.get(), "w")), (kA ^ kB) & kC);
}

// Every name is local to its model instance, the constant names too:
// yosys's hierarchical BLIF defines $false, $true and $undef in every model,
// and a model that reads one it does not define reads the constant. Outputs
// named y follow input a, those named z are 1. (The constant names were one
// net for the whole file: "signal '$false' is driven twice".)
TEST(NetlistIoBlif, EachModelInstanceHoldsItsOwnConstants) {
  const std::string consts = ".names $false\n.names $true\n1\n.names $undef\n";
  const std::string rows[] = {
      // As yosys writes a hierarchy: one constant per model.
      ".model top\n.inputs a\n.outputs y\n.names $false\n.subckt sub a=a y=y\n.end\n"
      ".model sub\n.inputs a\n.outputs y\n.names $false\n.names a y\n1 1\n.end\n",
      // Two instances and a nested one, each with all three constants, one
      // bound to a formal: leaf o = i AND NOT $undef, sub y = leaf(a) AND $true.
      ".model top\n.inputs a\n.outputs y z\n" + consts +
          ".subckt sub a=a y=t\n.subckt sub a=t y=y\n.subckt leaf i=$true o=z\n.end\n"
          ".model sub\n.inputs a\n.outputs y\n" + consts +
          ".subckt leaf i=a o=n\n.names n $true $false y\n110 1\n.end\n"
          ".model leaf\n.inputs i\n.outputs o\n" + consts + ".names i $undef o\n10 1\n.end\n",
      // Constants read but not defined, in each of two instances.
      ".model top\n.inputs a\n.outputs y z\n.subckt inv a=a y=t z=z\n.subckt inv a=t y=y z=spare\n.end\n"
      ".model inv\n.inputs a\n.outputs y z\n.names a $true $undef y\n010 1\n.names $false z\n0 1\n.end\n",
  };
  for (const std::string& text : rows) {
    SCOPED_TRACE(text);
    HELD r(blif_read_string(text));
    ASSERT_NE(r.get(), nullptr) << r.m.error;
    EXPECT_EQ(r.m.warnings, std::vector<std::string>{});
    NETLIST_SIMULATOR sim(r.get());
    ASSERT_TRUE(sim.ok()) << sim.error();
    drive(sim, r.get(), {{"a", kA}});
    for (CDB_SGATE_IO* out : r->get_output_pins())
      EXPECT_EQ(sim.output(out), sim_pin_name(out) == "y" ? kA : ~uint64_t(0)) << sim_pin_name(out);
  }

  // yosys's own output: two instances of a module with constants, one of
  // them nested, written without flattening, reads as yosys flattens it
  // (simulation) and as berkeley-abc reads the hierarchical file (dsec).
  if (yosys_binary_path().empty()) GTEST_SKIP() << "yosys not installed: its hierarchical BLIF is not tried";
  const std::string verilog = here("hier.v"), hier = here("hier.blif"), flat = here("hier_flat.blif");
  std::ofstream(verilog) << "module leaf(input a, output y, output k);\n"
                            "  assign y = ~a;\n  assign k = 1'b1;\nendmodule\n"
                            "module sub(input a, input b, output y, output z, output k);\n  wire w, kk;\n"
                            "  leaf l0(.a(1'b0), .y(w), .k(kk));\n  assign y = a & b | w;\n"
                            "  assign z = ~a ^ b ^ kk;\n  assign k = 1'b0;\nendmodule\n"
                            "module top(input clk, input a, input b, input c, output y1, output y2, output z1,\n"
                            "           output q, output k0, output k1);\n  wire t;\n"
                            "  sub u0(.a(a), .b(b), .y(y1), .z(t), .k(k0));\n"
                            "  sub u1(.a(t), .b(1'b1), .y(y2), .z(z1), .k(k1));\n  reg r;\n"
                            "  always @(posedge clk) r <= c ^ t;\n  assign q = r;\nendmodule\n";
  std::string log;
  ASSERT_EQ(yosys_run("read_verilog " + verilog + "; hierarchy -top top; proc; opt; techmap; opt; write_blif " +
                          hier + "; flatten; write_blif " + flat,
                      &log),
            0)
      << log;
  ASSERT_EQ(occurrences(file_text(hier), ".names $false\n"), 3u) << "one per model";
  LOADED_NETLIST ours = read_back("hier.blif"), flattened = read_back("hier_flat.blif");
  EXPECT_EQ(gates_of(ours.get(), CDB_SGATE_DFF_ENUM), 1);
  std::string why;
  EXPECT_TRUE(sim_equivalent(ours.get(), flattened.get(), {}, &why)) << why;
  if (abc_binary_path().empty()) GTEST_SKIP() << "berkeley-abc not installed";
  ASSERT_TRUE(blif_write_file(ours.get(), "hier_ours.blif", {}, &why)) << why;
  expect_abc_all_equivalent({"dsec " + hier + " " + here("hier_ours.blif")});
}

// Writing what was read is a fixed point: a register whose data input is a
// plain signal is written as ".latch D q", so write, read and write again
// gives the same gates and the same file, and the same design (simulation,
// and berkeley-abc's dsec). Registers with enables or synchronous controls
// keep the cover that folds them in. (Every write put a buffer before each
// register, so each round added one gate per register.) Logic whose function
// is constant is folded into its readers by the first write, so the first
// file read back writes as itself (each write used to fold one more level:
// tseng lost a gate in the second round, stereovision3 18 covers).
TEST(NetlistIoBlif, WritingWhatWasReadIsAFixedPoint) {
  std::vector<std::string> names = bundled_circuits({"seq"});
  names.insert(names.end(), {"mcnc/s298", "mcnc/bigkey", "mcnc/tseng", "small/counter8_lut4"});
  // Small designs, each of constants or covers the first write rewrites:
  // - a cover whose function is constant whatever its input (t), read by
  //   one that is constant only through it (n), read by a register: the
  //   first write leaves neither, the register reading a constant next state;
  // - a level-sensitive latch of constant data and an inverted enable: the
  //   constant's cover is written after the enable's, as read back;
  // - an OR of seven signals (written as one row and an inverter, the
  //   gates the file read back holds);
  // - a cover reading one signal twice (a & !a), constant.
  const std::map<std::string, std::string> inline_designs = {
      {"constant chain",
       ".model m\n.inputs clk a\n.outputs q\n.names a t\n1 1\n0 1\n.names a t n\n10 1\n"
       ".latch n q re clk 2\n.end\n"},
      {"latch of constant data", ".model m\n.inputs c\n.outputs q\n.names k\n1\n.latch k q al c 3\n.end\n"},
      {"wide OR",
       ".model m\n.inputs clk a b c d e f g\n.outputs q\n.names a b c d e f g y\n1------ 1\n-1----- 1\n"
       "--1---- 1\n---1--- 1\n----1-- 1\n-----1- 1\n------1 1\n.latch y q re clk 2\n.end\n"},
      {"one signal read twice",
       ".model m\n.inputs clk a b\n.outputs q\n.names a a t\n10 1\n.names t b n\n11 1\n"
       ".latch n q re clk 2\n.end\n"},
  };
  for (const auto& [name, text] : inline_designs) names.push_back(name);
  auto write = [](const CDB_SGATE_NETLIST* n, const std::string& file, std::string* text) {
    std::string why;
    EXPECT_TRUE(blif_write_file(n, file, {}, &why)) << why;
    *text = file_text(file);
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const bool inline_text = inline_designs.count(name) != 0;
    if (inline_text) std::ofstream("fix0.blif") << inline_designs.at(name);
    LOADED_NETLIST n0 = inline_text ? read_back("fix0.blif") : load_blif(name);
    std::string t1, t2, t3;
    write(n0.get(), "fix1.blif", &t1);
    LOADED_NETLIST n1 = read_back("fix1.blif");
    write(n1.get(), "fix2.blif", &t2);
    LOADED_NETLIST n2 = read_back("fix2.blif");
    write(n2.get(), "fix3.blif", &t3);
    EXPECT_EQ(n2->size(), n1->size());
    // Constants are propagated by the first write: the file read back
    // writes as itself.
    EXPECT_TRUE(t2 == t1) << "the first and second writes differ\n" << t1 << "--\n" << t2;
    EXPECT_TRUE(t3 == t2) << "the second and third writes differ\n" << t2 << "--\n" << t3;
    const size_t registers =
        size_t(gates_of(n0.get(), CDB_SGATE_DFF_ENUM)) + size_t(gates_of(n0.get(), CDB_SGATE_LATCH_ENUM));
    EXPECT_GT(registers, 0u);
    EXPECT_EQ(occurrences(t1, "\n.latch "), registers);
    if (name == "constant chain" || name == "one signal read twice") {
      EXPECT_EQ(n1->size(), name == "constant chain" ? 4u : 5u) << t1;  // pins and q's register
      EXPECT_EQ(occurrences(t1, "\n.names q$next\n.latch q$next q re clk 2\n"), 1u) << t1;
    } else if (inline_text) {
    } else if (name.rfind("seq/", 0) != 0) {
      // Files of plain ".latch" registers keep their gates from the first
      // write, but for tseng's logic of constant function (one register
      // reads a constant next state then, its cover just before it).
      if (name == "mcnc/tseng") {
        EXPECT_LT(n1->size(), n0->size());
        EXPECT_EQ(occurrences(t1, "$next\n.latch "), 1u);
        EXPECT_EQ(occurrences(t1, "$next"), 2u);
      } else {
        EXPECT_EQ(n1->size(), n0->size());
        EXPECT_EQ(occurrences(t1, "$next"), 0u);
      }
    } else {
      EXPECT_GT(occurrences(t1, "$next"), 0u);  // enables and clears are folded into covers
    }
    std::string why;
    EXPECT_TRUE(sim_equivalent(n0.get(), n2.get(), {}, &why)) << why;
    std::string log;
    const ABC_RESULT proven = abc_equivalent(n0.get(), n2.get(), &log);
    EXPECT_TRUE(proven == EQUIVALENT || proven == UNAVAILABLE) << abc_result_name(proven) << "\n" << log;
  }
}

// The writer honours output inversions set by library passes and refuses
// what BLIF cannot say (naming the gate) unless asked to cut it out.
TEST(NetlistIoBlif, WriterHonoursInversionsAndRefusesAsyncControls) {
  LOADED_NETLIST n = load_blif("small/counter8_lut4"), golden = load_blif("small/counter8_lut4");
  KAVU_TRACK(n);
  int flipped = 0;
  for (auto it = n->begin_node_list(); it != n->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (g->is_pin() || !g->get_single_oterm()->has_fanout() || ++flipped % 2) continue;
    // Inverting a driver and all its readers keeps the function.
    g->get_single_oterm()->invert();
    for (CDB_SGATE_ITERM* t : g->get_single_oterm()->fanouts()) t->invert();
  }
  ASSERT_GT(flipped, 4);
  std::string why = "kept";
  ASSERT_TRUE(blif_write_file(n.get(), "inv.blif", {}, &why)) << why;
  EXPECT_EQ(why, "kept");  // success leaves the error text alone
  EXPECT_TRUE(sim_equivalent(golden.get(), read_back("inv.blif").get(), {}, &why)) << why;

  // AND and OR gates too wide for one table, with a tied input: the
  // dominating constant fixes the output, the other one drops out.
  for (CDB_COMB_TYPE type : {CDB_COMB_AND, CDB_COMB_OR}) {
    for (bool gnd : {false, true}) {
      CDB_SGATE_NETLIST wide;
      std::vector<CDB_SGATE_NODE*> x;
      for (int i = 0; i < 3; ++i) x.push_back(make_input_pin(&wide, ("x" + std::to_string(i)).c_str()));
      CDB_SGATE_COMB* g = new CDB_SGATE_COMB(nullptr, type);
      wide.add_node(g);
      for (int i = 0; i < 24; ++i) g->add_unordered_fanin_from_oterm(nullptr, false, x[i % 3]->get_single_oterm());
      g->add_unordered_fanin_from_oterm(nullptr, gnd, nullptr);  // tied: GND when inverted
      make_output_pin(&wide, "o", g);
      ASSERT_TRUE(blif_write_file(&wide, "wide.blif", {}, &why)) << why;
      EXPECT_TRUE(sim_equivalent(&wide, read_back("wide.blif").get(), {}, &why)) << type << " " << gnd << ": " << why;
    }
  }

  LOADED_NETLIST async = load_blif("small/async_regs_generic");
  EXPECT_FALSE(blif_write_file(async.get(), "async.blif", {}, &why));
  EXPECT_NE(why.find("cannot write gate"), std::string::npos) << why;
  EXPECT_NE(why.find("asynchronous register controls"), std::string::npos) << why;
  BLIF_WRITE_OPTIONS cut;
  cut.cut_unsupported = true;
  ASSERT_TRUE(blif_write_file(async.get(), "cut.blif", cut, &why)) << why;
  LOADED_NETLIST cut_back = read_back("cut.blif");
  // Every one of the design's 16 registers became an input.
  EXPECT_EQ(cut_back->get_input_pins().size(), async->get_input_pins().size() + 16);
  EXPECT_EQ(gates_of(cut_back.get(), CDB_SGATE_DFF_ENUM), 0);

  // The refusal quotes the gate's path escaped and cut, as the reader quotes
  // a name: a terminal escape and 2,000 bytes of name reach no message.
  const std::string odd = "r\\1B[2J" + std::string(2000, 'x');
  std::ofstream("odd.blif") << ".model m\n.inputs d clk r\n.outputs q\n.subckt $_DFF_PP0_ C=clk D=d R=r Q=" << odd
                            << "\n.names " << odd << " q\n1 1\n.end\n";
  EXPECT_FALSE(blif_write_file(read_back("odd.blif").get(), "odd_out.blif", {}, &why));
  EXPECT_EQ(why.rfind("cannot write gate ", 0), 0u) << why;
  EXPECT_NE(why.find("\\x1b[2J"), std::string::npos) << why;
  EXPECT_EQ(why.find('\x1b'), std::string::npos) << why;
  EXPECT_LT(why.size(), 200u) << why;

  // A cell cut out whose defined output is constant: that output has no
  // signal (its reader takes the constant), so only the other output
  // becomes an input of the file.
  CDB_SGATE_NETLIST cells;
  auto* cell = new CDB_SGATE_WYSIWYG(nullptr, 93);
  cells.add_node(cell, true);
  cell->set_lutmask_value(0);
  for (uint16_t port : {DB_PORT_COMBOUT, DB_PORT_SHAREOUT}) {
    auto* o = new CDB_SGATE_OTERM(cell);
    o->set_port_type(port);
    cell->set_output_term(o, cell->get_output_port_number(port));
    o->insert_fanout(make_output_pin(&cells, ("o" + std::to_string(port)).c_str(), nullptr)->get_input_term(0));
  }
  ASSERT_TRUE(blif_write_file(&cells, "cut_cell.blif", cut, &why)) << why;
  EXPECT_EQ(file_text("cut_cell.blif").find(".inputs  "), std::string::npos) << file_text("cut_cell.blif");
  EXPECT_EQ(read_back("cut_cell.blif")->get_input_pins().size(), 1u);

  // A cell pin fed by constant logic, written as a cell, beside an input
  // named "$true": the tie reads a name no signal holds.
  CDB_SGATE_NETLIST tied;
  auto* lut = new CDB_SGATE_WYSIWYG(nullptr, 61);
  tied.add_node(lut, true);
  lut->set_lutmask_value(0x6666666666666666ull);  // a ^ b
  auto* one = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
  tied.add_node(one);
  one->add_unordered_fanin_from_oterm(nullptr, false, nullptr);  // VCC
  const CDB_SGATE_OTERM* from[2] = {one->get_single_oterm(), make_input_pin(&tied, "$true")->get_single_oterm()};
  for (unsigned k = 0; k < 2; ++k) {
    CDB_SGATE_ITERM* t = lut->create_input_term(nullptr, DB_PORT_DATAA + k);
    lut->set_input_term(t, lut->get_input_port_number(DB_PORT_DATAA + k));
    const_cast<CDB_SGATE_OTERM*>(from[k])->insert_fanout(t);
  }
  auto* lut_out = new CDB_SGATE_OTERM(lut);
  lut_out->set_port_type(DB_PORT_COMBOUT);
  lut->set_output_term(lut_out, lut->get_output_port_number(DB_PORT_COMBOUT));
  lut_out->insert_fanout(make_output_pin(&tied, "y", nullptr)->get_input_term(0));
  BLIF_WRITE_OPTIONS cells_as_subckt;
  cells_as_subckt.atoms_as_subckt = true;
  ASSERT_TRUE(blif_write_file(&tied, "tied.blif", cells_as_subckt, &why)) << why;
  EXPECT_TRUE(sim_equivalent(&tied, read_back("tied.blif").get(), {}, &why)) << why << file_text("tied.blif");
  // A cell refused as .subckt (a multi-bit port) and cut out, whose pin is
  // tied to 1, then a cell with a pin tied to 1, beside an input named
  // "$true": the refusal takes back its tie cover, so the cell after it
  // writes one of its own (it read "$true~1", which no cover drove: 0).
  CDB_SGATE_NETLIST tied_cut;
  auto* vcc = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
  tied_cut.add_node(vcc);
  vcc->add_unordered_fanin_from_oterm(nullptr, false, nullptr);  // VCC
  auto* ram = new CDB_SGATE_WYSIWYG(nullptr, 96);
  tied_cut.add_node(ram, true);
  auto* xor_cell = new CDB_SGATE_WYSIWYG(nullptr, 61);
  tied_cut.add_node(xor_cell, true);
  xor_cell->set_lutmask_value(0x6666666666666666ull);  // a ^ b
  const std::pair<CDB_SGATE_WYSIWYG*, uint16_t> tied_pins[] = {{ram, 35}, {xor_cell, DB_PORT_DATAA}, {xor_cell, DB_PORT_DATAB}};
  for (const auto& [cell, port] : tied_pins) {
    CDB_SGATE_ITERM* t = cell->create_input_term(nullptr, port);
    cell->set_input_term(t, cell->get_input_port_number(port));
    (port == DB_PORT_DATAB ? make_input_pin(&tied_cut, "$true") : static_cast<CDB_SGATE_NODE*>(vcc))
        ->get_single_oterm()
        ->insert_fanout(t);
  }
  auto* xor_out = new CDB_SGATE_OTERM(xor_cell);
  xor_out->set_port_type(DB_PORT_COMBOUT);
  xor_cell->set_output_term(xor_out, xor_cell->get_output_port_number(DB_PORT_COMBOUT));
  xor_out->insert_fanout(make_output_pin(&tied_cut, "y", nullptr)->get_input_term(0));
  BLIF_WRITE_OPTIONS cut_cells = cells_as_subckt;
  cut_cells.cut_unsupported = true;
  ASSERT_TRUE(blif_write_file(&tied_cut, "tied_cut.blif", cut_cells, &why)) << why;
  {
    LOADED_NETLIST back = read_back("tied_cut.blif");
    NETLIST_SIMULATOR sim(back.get());
    ASSERT_TRUE(sim.ok()) << sim.error();
    drive(sim, back.get(), {{"$true", kB}});
    EXPECT_EQ(sim.output(pin(back.get(), "y")), ~kB) << file_text("tied_cut.blif");
  }

  // A constant read through an inverted input: y = a & !(a & 0) is a.
  CDB_SGATE_NETLIST inv_const;
  CDB_SGATE_NODE* a = make_input_pin(&inv_const, "a");
  auto* zero = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
  inv_const.add_node(zero);
  zero->add_unordered_fanin_from_oterm(nullptr, false, a->get_single_oterm());
  zero->add_unordered_fanin_from_oterm(nullptr, true, nullptr);  // GND
  auto* y = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
  inv_const.add_node(y);
  y->add_unordered_fanin_from_oterm(nullptr, false, a->get_single_oterm());
  y->add_unordered_fanin_from_oterm(nullptr, true, zero->get_single_oterm());
  make_output_pin(&inv_const, "y", y);
  ASSERT_TRUE(blif_write_file(&inv_const, "inv_const.blif", {}, &why)) << why;
  EXPECT_TRUE(sim_equivalent(&inv_const, read_back("inv_const.blif").get(), {}, &why)) << why;
}

// Bus-in and bus-out operators are written as the wiring they are (output
// bit i reads input bit i; bits past the input read 0, or the top bit when
// signed; an inverted output stays inverted), and read back with the
// function the simulator gives them. Other operator kinds are still refused
// by name. (Every operator was refused, so a design with bus operators
// beside its boundaries could not be written.)
TEST(NetlistIoBlif, BusOperatorsAreWrittenAsWiring) {
  struct ROW {
    CDB_OPER_TYPE type;
    CDB_OPER_PORT_TYPE port;
    unsigned in_width, out_width;
    bool is_signed;
  } const rows[] = {{CDB_OPER_BUS_IN, CDB_OPER_PORT_A, 3, 1, false},  {CDB_OPER_BUS_OUT, CDB_OPER_PORT_A, 1, 3, false},
                    {CDB_OPER_BUS_IN, CDB_OPER_PORT_A, 3, 3, false},  {CDB_OPER_BUS_OUT, CDB_OPER_PORT_B, 2, 4, true},
                    {CDB_OPER_BUS_OUT, CDB_OPER_PORT_A, 4, 4, false}};
  for (const ROW& row : rows) {
    SCOPED_TRACE(&row - rows);
    CDB_SGATE_NETLIST nl;
    auto* op = new CDB_SGATE_OPERATOR(nullptr, row.type);
    op->set_signed(row.is_signed);
    CDB_SGATE_OPER_PORT_ENTRY* in = op->add_port("A", row.port, CDB_OPER_PORT_DIR_IN);
    CDB_SGATE_OPER_PORT_ENTRY* out = op->add_port("O", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
    for (unsigned i = 0; i < row.in_width; ++i) in->set_iterm(i, op->create_input_term(nullptr));
    for (unsigned i = 0; i < row.out_width; ++i) out->set_oterm(i, op->create_output_term(nullptr));
    nl.add_node(op);
    for (unsigned i = 0; i < row.in_width; ++i) {
      CDB_SGATE_ITERM* t = in->get_iterm(i);
      if (i == 2) continue;  // an unconnected terminal reads 1
      if (i == 3) {
        in->set_iterm(i, nullptr);  // an empty bit reads 0
        op->delete_input_term(t);
        continue;
      }
      make_input_pin(&nl, ("a" + std::to_string(i)).c_str())->get_single_oterm()->insert_fanout(t);
      if (i == 1) t->set_invert();
    }
    for (unsigned i = 0; i < row.out_width; ++i) {
      CDB_SGATE_OTERM* o = out->get_oterm(i);
      if (i == 1) o->set_invert();
      const std::string name = "o" + std::to_string(i);
      auto* pin = new CDB_SGATE_IO(io_signal_name(io_top_name("top"), name), CDB_IO_OUTPUT);
      nl.add_node(pin);
      o->insert_fanout(pin->get_input_term(0));
    }
    std::string why;
    ASSERT_TRUE(blif_write_file(&nl, "bus.blif", {}, &why)) << why;
    LOADED_NETLIST back = read_back("bus.blif");
    EXPECT_EQ(gates_of(back.get(), CDB_SGATE_OPERATOR_ENUM), 0);
    EXPECT_TRUE(sim_equivalent(&nl, back.get(), {}, &why)) << why;
  }
  CDB_SGATE_NETLIST adder;
  auto* add = new CDB_SGATE_OPERATOR(nullptr, CDB_OPER_ADDITION);
  add->add_port("O", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT)->set_oterm(0, add->create_output_term(nullptr));
  adder.add_node(add);
  std::string why;
  EXPECT_FALSE(blif_write_file(&adder, "add.blif", {}, &why));
  EXPECT_NE(why.find("no BLIF form for OPERATOR gates"), std::string::npos) << why;
}

// Models registered by later subsystems build their own gates; their
// failures are reported with the file and line like any other.
TEST(NetlistIoBlif, RegisteredSubcircuitHandlers) {
  blif_register_subckt("$test_maj", [](BLIF_SUBCKT_BUILDER& cell, std::string* error) {
    if (cell.pins().size() != 4) {
      *error = "needs A, B, C and Y";
      return false;
    }
    CDB_LUTMASK m;
    m.set_value(3, 0xe8);  // majority
    auto* lut = new CDB_SGATE_LUT(nullptr, m);
    cell.add_gate(lut);
    for (unsigned i = 0; i < 3; ++i) {
      CDB_SGATE_ITERM* t = lut->create_input_term(nullptr);
      lut->set_input_term(t, i);
      cell.read_signal(t, cell.pins()[i].second);  // read before the driver appears below
    }
    cell.drive_signal(lut->get_single_oterm(), cell.pins()[3].second);
    return true;
  });
  HELD ok(blif_read_string(".model m\n.inputs a b\n.outputs y\n.subckt $test_maj A=a B=b C=late Y=y\n"
                           ".names a b late\n01 1\n.end\n"));
  ASSERT_NE(ok.get(), nullptr) << ok.m.error;
  KAVU_TRACK(ok);
  NETLIST_SIMULATOR sim(ok.get());
  drive(sim, ok.get(), {{"a", kA}, {"b", kB}});
  const uint64_t late = ~kA & kB;
  EXPECT_EQ(sim.output(pin(ok.get(), "y")), (kA & kB) | (kA & late) | (kB & late));
  HELD bad(blif_read_string(".model m\n.inputs a\n.outputs y\n\n.subckt $test_maj A=a Y=y\n.end\n"));
  EXPECT_EQ(bad.get(), nullptr);
  EXPECT_EQ(bad.m.error, "<string>:5: cell $test_maj: needs A, B, C and Y");
}

// A write is all or nothing: the file is written beside the target and
// renamed over it once whole, so a write the system cuts short (here a
// file-size limit, as a full disk would) leaves the previous file as it was
// and no temporary file, and says the system's reason. So does a target
// written in place, one of two hard links (both names keep the previous
// text), and a name too long for the temporary's suffix beside it (gets a
// shorter one): each was cut to the head of the design, which read back as
// a smaller design where the cut fell on a line end. A file the write
// replaces keeps its permission bits; a new one gets 0666 less the umask.
TEST(NetlistIoBlif, FailedWriteLeavesThePreviousFileWhole) {
  LOADED_NETLIST small = load_blif("small/counter8_lut4"), large = load_blif("mcnc/tseng");
  struct ROW {
    const char* what;
    rlim_t limit;         // the child's file-size limit in bytes
    const char* problem;  // empty: the write succeeds
    std::string target = "prev.blif";
    const char* second_link = nullptr;  // another name of the target
  } rows[] = {
      {"within the limit", RLIM_INFINITY, ""},
      {"cut by the file-size limit", 4096, "cannot write the file: File too large"},
      {"one of two links, cut by the limit", 10 << 10, "cannot write the file: File too large", "prev.blif",
       "prev_link.blif"},
      {"a long name, cut by the limit", 10 << 10, "cannot write the file: File too large",
       std::string(245, 'p') + ".blif"},
  };
  std::string why;
  for (const ROW& row : rows) {
    SCOPED_TRACE(row.what);
    const char* target = row.target.c_str();
    ASSERT_TRUE(blif_write_file(small.get(), target, {}, &why)) << why;
    ASSERT_EQ(::chmod(target, 0640), 0);
    if (row.second_link) std::filesystem::create_hard_link(target, row.second_link);
    const std::string previous = file_text(target);
    ASSERT_GT(previous.size(), 0u);
    ASSERT_LT(previous.size(), 4096u);
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // The limit would end the process with SIGXFSZ; ignored, the write
      // fails with EFBIG instead.
      ::signal(SIGXFSZ, SIG_IGN);
      const struct rlimit limit = {row.limit, row.limit};
      std::string problem;
      const bool ok = ::setrlimit(RLIMIT_FSIZE, &limit) == 0 &&
                      blif_write_file(large.get(), target, {}, &problem);
      (void)!::write(pipe_fds[1], problem.data(), problem.size());
      ::_exit(ok ? 0 : 1);
    }
    ::close(pipe_fds[1]);
    std::string problem;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) problem.append(buffer, size_t(n));
    ::close(pipe_fds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    const std::string now = file_text(target);
    if (*row.problem) {
      EXPECT_EQ(WEXITSTATUS(status), 1);
      EXPECT_EQ(problem, row.target + ": " + row.problem);
      EXPECT_TRUE(now == previous) << "the previous file was changed: " << now.size() << " bytes";
      if (row.second_link) {
        EXPECT_TRUE(file_text(row.second_link) == previous);
      }
    } else {
      EXPECT_EQ(WEXITSTATUS(status), 0) << problem;
      ASSERT_TRUE(blif_write_file(large.get(), "expected.blif", {}, &why)) << why;
      EXPECT_GT(now.size(), 4096u);
      EXPECT_TRUE(now == file_text("expected.blif"));
    }
    struct stat st;
    ASSERT_EQ(::stat(target, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_nlink, row.second_link ? 2u : 1u);
    for (const auto& entry : std::filesystem::directory_iterator("."))
      EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    if (row.second_link) std::filesystem::remove(row.second_link);
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  ASSERT_TRUE(blif_write_file(small.get(), "new.blif", {}, &why)) << why;
  struct stat st;
  ASSERT_EQ(::stat("new.blif", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask);
  EXPECT_FALSE(blif_write_file(small.get(), "no_such_dir/x.blif", {}, &why));
  EXPECT_EQ(why.substr(why.find("no_such_dir")), "no_such_dir/x.blif: cannot write the file: No such file or directory");
}
