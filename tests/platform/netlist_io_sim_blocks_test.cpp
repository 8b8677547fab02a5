// Tests of the hard-block models: MAC blocks, LUT RAMs and RAM blocks read
// from BLIF .subckt lines and simulated lane by lane against hand-computed
// values; registered ports lag one clock; unmodelled uses are refused.
#include <string>
#include <vector>

#include "cut/cut_mac.h"
#include "hdb/hdb.h"
#include "netlist_io/blif.h"
#include "netlist_io/simulator.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {

// "PORT[0]=p0 PORT[1]=p1 ..." for n bits.
std::string bus(const char* port, const char* signal, int n) {
  std::string text;
  for (int i = 0; i < n; ++i)
    text += std::string(" ") + port + "[" + std::to_string(i) + "]=" + signal + std::to_string(i);
  return text;
}

std::string names(const char* signal, int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += std::string(" ") + signal + std::to_string(i);
  return text;
}

// Pins by declaration order: `first` is the index of bit 0 of a bus.
struct LANES {
  NETLIST_SIMULATOR& sim;
  const CDB_SGATE_NETLIST& nl;
  void set(size_t first, int n, const std::vector<uint64_t>& per_lane) {
    for (int b = 0; b < n; ++b) {
      uint64_t word = 0;
      for (unsigned lane = 0; lane < 64; ++lane) word |= ((per_lane[lane] >> b) & 1) << lane;
      sim.set_input(nl.get_input_pins()[first + size_t(b)], word);
    }
  }
  uint64_t get(size_t first, int n, unsigned lane) const {
    uint64_t v = 0;
    for (int b = 0; b < n; ++b) v |= ((sim.output(nl.get_output_pins()[first + size_t(b)]) >> lane) & 1) << b;
    return v;
  }
};

std::vector<uint64_t> lanes(uint64_t seed, uint64_t mask) {
  std::vector<uint64_t> v(64);
  for (unsigned l = 0; l < 64; ++l) v[l] = (seed * 0x9E3779B97F4A7C15ull + l * 0xBF58476D1CE4E5B9ull) >> 17 & mask;
  return v;
}

}  // namespace

// MAC: products, chain sum with subtract and negate; registered outputs lag
// one clock, registered inputs too.
TEST(NetlistIoSimBlocks, MacProductsAndChain) {
  struct CASE {
    const char* params;
    int latency;
  };
  for (const CASE& c : {CASE{"", 0}, CASE{".param MODE 93\n", 1}, CASE{".param MODE 91\n.param MODE 92\n", 1},
                        CASE{".param MODE 91\n.param MODE 92\n.param MODE 93\n", 2}}) {
    const std::string text = ".model top\n.inputs clk" + names("a", 4) + names("b", 4) + names("c", 4) + names("d", 4) +
                             names("k", 8) + " sub neg\n.outputs" + names("p", 8) + names("q", 8) + names("s", 10) +
                             "\n.subckt mac_quellin CLK0=clk" + bus("DATA_AX", "a", 4) + bus("DATA_AY", "b", 4) +
                             bus("RAMDATAIN", "c", 4) + bus("DATA_BY", "d", 4) + bus("CHAIN_IN", "k", 8) +
                             " SUB_NADD=sub NEGATE=neg" + bus("DATA_OUT_A", "p", 8) + bus("RAMDATAOUT", "q", 8) +
                             bus("CHAINOUT", "s", 10) + "\n" + c.params + ".end\n";
    BLIF_RESULT r = blif_read_string(text);
    ASSERT_TRUE(r.netlist) << r.error;
    std::unique_ptr<CDB_SGATE_NETLIST> nl(r.netlist);
    std::unique_ptr<CDB_SGATE_HIERARCHY> h(r.hierarchy);
    NETLIST_SIMULATOR sim(nl.get());
    ASSERT_TRUE(sim.ok()) << sim.error();
    LANES io{sim, *nl};
    const auto a = lanes(1, 15), b = lanes(2, 15), cc = lanes(3, 15), d = lanes(4, 15), k = lanes(5, 255),
               sub = lanes(6, 1), neg = lanes(7, 1);
    io.set(1, 4, a), io.set(5, 4, b), io.set(9, 4, cc), io.set(13, 4, d), io.set(17, 8, k), io.set(25, 1, sub);
    io.set(26, 1, neg);
    sim.eval();
    for (int t = 0; t < c.latency; ++t) sim.clock();
    for (unsigned l = 0; l < 64; ++l) {
      const uint64_t pa = a[l] * b[l], pb = cc[l] * d[l];
      uint64_t s = sub[l] ? pa - pb : pa + pb;
      if (neg[l]) s = ~s + 1;
      EXPECT_EQ(io.get(0, 8, l), pa) << c.params << l;
      EXPECT_EQ(io.get(8, 8, l), pb) << c.params << l;
      EXPECT_EQ(io.get(16, 10, l), (k[l] + s) & 1023) << c.params << l;
    }
    if (c.latency) {  // before the clock(s): power-up zeros
      sim.reset_state();
      sim.eval();
      EXPECT_EQ(io.get(0, 8, 0), 0u) << c.params;
    }
  }
}

// LUT RAM and RAM block: writes at the clock, asynchronous or registered
// reads; the RAM's port B on its own clock.
TEST(NetlistIoSimBlocks, LutRamAndRamBlockMemories) {
  for (bool registered : {false, true}) {
    const std::string text = ".model top\n.inputs wclk rclk din we" + names("w", 5) + names("r", 5) +
                             "\n.outputs q\n.subckt lutram_quellin CLK0=wclk CLK1=rclk RAMDATAIN=din WE=we" +
                             bus("WADDR", "w", 5) + bus("RADDR", "r", 5) + " RAMDATAOUT=q\n" +
                             (registered ? ".param OUT_CLOCK Clock1\n" : "") + ".end\n";
    BLIF_RESULT r = blif_read_string(text);
    ASSERT_TRUE(r.netlist) << r.error;
    std::unique_ptr<CDB_SGATE_NETLIST> nl(r.netlist);
    std::unique_ptr<CDB_SGATE_HIERARCHY> h(r.hierarchy);
    NETLIST_SIMULATOR sim(nl.get());
    ASSERT_TRUE(sim.ok()) << sim.error();
    LANES io{sim, *nl};
    const auto addr = lanes(11, 31), data = lanes(12, 1);
    io.set(2, 1, data), io.set(3, 1, std::vector<uint64_t>(64, 1)), io.set(4, 5, addr), io.set(9, 5, addr);
    sim.eval();
    EXPECT_EQ(sim.output(nl->get_output_pins()[0]), 0u);  // nothing written yet
    sim.clock();                                          // write (a registered read sees the old word)
    io.set(3, 1, std::vector<uint64_t>(64, 0));
    sim.eval();
    if (registered) {
      EXPECT_EQ(sim.output(nl->get_output_pins()[0]), 0u);
      sim.clock();
    }
    for (unsigned l = 0; l < 64; ++l) EXPECT_EQ(io.get(0, 1, l), data[l]) << registered << " " << l;
  }

  for (bool registered_b : {false, true}) {
    const std::string text = ".model top\n.inputs clka clkb wea" + names("da", 4) + names("aa", 3) + names("ab", 3) +
                             "\n.outputs" + names("qa", 4) + names("qb", 4) +
                             "\n.subckt ram_block_quellin CLK0=clka CLK1=clkb WE=wea" + bus("PORTADATAIN", "da", 4) +
                             bus("PORTAADDR", "aa", 3) + bus("PORTBADDR", "ab", 3) + bus("PORTADATAOUT", "qa", 4) +
                             bus("PORTBDATAOUT", "qb", 4) + "\n.param RAM_MODE_B 45\n" +
                             (registered_b ? ".param RAM_MODE_B 9\n.param RAM_MODE_B 27\n" : "") + ".end\n";
    BLIF_RESULT r = blif_read_string(text);
    ASSERT_TRUE(r.netlist) << r.error;
    std::unique_ptr<CDB_SGATE_NETLIST> nl(r.netlist);
    std::unique_ptr<CDB_SGATE_HIERARCHY> h(r.hierarchy);
    ASSERT_TRUE(nl->size() > 0);
    NETLIST_SIMULATOR sim(nl.get());
    ASSERT_TRUE(sim.ok()) << sim.error();
    LANES io{sim, *nl};
    const auto addr = lanes(21, 7), data = lanes(22, 15);
    io.set(2, 1, std::vector<uint64_t>(64, 1)), io.set(3, 4, data), io.set(7, 3, addr), io.set(10, 3, addr);
    sim.eval();
    sim.clock();
    io.set(2, 1, std::vector<uint64_t>(64, 0));
    sim.eval();
    if (registered_b) sim.clock();
    for (unsigned l = 0; l < 64; ++l) {
      EXPECT_EQ(io.get(0, 4, l), data[l]) << l;
      EXPECT_EQ(io.get(4, 4, l), data[l]) << registered_b << " " << l;
    }
  }
}

// Uses the models do not cover are refused, naming the gate; the BLIF reader
// refuses block parameters on the wrong atoms.
TEST(NetlistIoSimBlocks, UnmodelledUsesAreRefused) {
  struct CASE {
    const char* cell;
    const char* error;  // empty: the reader accepts; the simulator refuses
  };
  const CASE cases[] = {
      {".subckt mac_quellin DATA_AZ[0]=x DATA_OUT_A[0]=y\n", ""},
      {".subckt lutram_quellin ACLR=x RAMDATAOUT=y\n", ""},
      {".subckt mac_quellin DATA_AX[0]=x DATA_OUT_A[0]=y\n.param RAM_MODE_A 9\n", "unsupported parameter"},
      {".subckt lutram_quellin RAMDATAIN=x\n.param OUT_CLOCK clock1\n", "needs a bound output"},
  };
  for (const CASE& c : cases) {
    BLIF_RESULT r = blif_read_string(std::string(".model top\n.inputs x\n.outputs y\n") + c.cell + ".end\n");
    std::unique_ptr<CDB_SGATE_NETLIST> nl(r.netlist);
    std::unique_ptr<CDB_SGATE_HIERARCHY> h(r.hierarchy);
    if (*c.error) {
      EXPECT_FALSE(nl) << c.cell;
      EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
      continue;
    }
    ASSERT_TRUE(nl) << r.error;
    NETLIST_SIMULATOR sim(nl.get());
    EXPECT_FALSE(sim.ok()) << c.cell;
    EXPECT_NE(sim.error().find("not simulated"), std::string::npos) << sim.error();
  }
}
