// Logic-cell atoms: the simulator's cell rule against a bit-by-bit model of
// both families in every mode, over all 512 input combinations.
#include <fstream>
#include <random>

#include "cdb/cdb_sgate.h"
#include "netlist_io/blif.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

bool bit(uint64_t mask, unsigned i) { return (mask >> i) & 1; }

std::string file_text(const std::string& file) {
  std::ifstream in(file);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The rule as the library's BDD builder states it, one minterm at a time;
// x = a, b, c, d, e, f, g, cin, sharein.
bool cell_model(bool quellin, bool ext, bool shared, uint64_t m, const bool* x, uint16_t port) {
  auto idx = [](bool a, bool b, bool c, bool d, bool e, bool f) {
    return unsigned(a) | unsigned(b) << 1 | unsigned(c) << 2 | unsigned(d) << 3 | unsigned(e) << 4 | unsigned(f) << 5;
  };
  const bool a = x[0], b = x[1], c = x[2], d = x[3], e = x[4], f = x[5], g = x[6], cin = x[7], sh = x[8];
  if (quellin) {
    if (port == DB_PORT_COMBOUT) {
      if (!ext) return bit(m, idx(a, b, c, d, e, f));
      return cin ? bit(m, 32 + idx(a, b, f, g, e, 0)) : bit(m, idx(a, b, c, d, e, 0));
    }
    const bool p = bit(m, idx(a, b, c, d, 0, 0)), gen = bit(m, 16 + idx(a, b, c, d, 0, 0));
    return port == DB_PORT_SUMOUT ? p != sh : (p ? sh : gen);
  }
  switch (port) {
    case DB_PORT_COMBOUT:
      if (!ext) return bit(m, idx(a, b, c, d, e, f));
      return e ? bit(m, idx(a, b, g, d, 1, f)) : bit(m, idx(a, b, c, d, 0, f));
    case DB_PORT_SHAREOUT:
      return bit(m, 32 + idx(a, b, c, d, 0, 0));
    default: {
      const bool A = bit(m, idx(a, b, c, d, 0, 0));
      const bool nb = shared ? sh : !bit(m, 32 + idx(a, b, c, f, 0, 0));
      if (port == DB_PORT_SUMOUT) return (A != nb) != cin;
      return (A && nb) || (A && cin) || (nb && cin);
    }
  }
}

}  // namespace

TEST(NetlistIoLcell, EveryModeOfBothFamiliesFollowsTheCellRule) {
  const struct {
    CDB_WYSIWYG_TYPE type;
    bool ext, shared;
    std::vector<uint16_t> outputs;
  } cases[] = {
      {61, false, false, {DB_PORT_COMBOUT, DB_PORT_SHAREOUT, DB_PORT_SUMOUT, DB_PORT_COUT}},
      {61, true, false, {DB_PORT_COMBOUT, DB_PORT_SUMOUT, DB_PORT_COUT}},
      {61, false, true, {DB_PORT_SUMOUT, DB_PORT_COUT, DB_PORT_SHAREOUT}},
      {61, true, true, {DB_PORT_COMBOUT, DB_PORT_COUT}},
      {93, false, false, {DB_PORT_COMBOUT, DB_PORT_SUMOUT, DB_PORT_COUT}},
      {93, true, false, {DB_PORT_COMBOUT}},
  };
  std::mt19937_64 rng(7);
  for (const auto& c : cases) {
    // Three random masks, then the two constant ones. The third leaves the
    // input that selects a half of an extended cell unconnected (E reads 1,
    // CIN 0; the writer read an open CIN as 1).
    for (int trial = 0; trial < 5; ++trial) {
      const unsigned open = trial == 2 ? (c.type == 93 ? 7u : 4u) : 9u;
      SCOPED_TRACE(std::to_string(c.type) + (c.ext ? " extended" : "") + (c.shared ? " shared" : ""));
      CDB_SGATE_NETLIST nl;
      KAVU_TRACK(nl);
      CDB_SGATE_WYSIWYG* cell = new CDB_SGATE_WYSIWYG(nullptr, c.type);
      nl.add_node(cell, true);
      const uint16_t in_ports[9] = {12, 13, 14, 15, 16, 17, 18, DB_PORT_CIN, DB_PORT_SHAREIN};
      std::vector<CDB_SGATE_NODE*> pins;
      for (unsigned k = 0; k < 9; ++k) {
        pins.push_back(make_input_pin(&nl, ("x" + std::to_string(k)).c_str()));
        if (k == open) continue;
        CDB_SGATE_ITERM* t = cell->create_input_term(nullptr, in_ports[k]);
        cell->set_input_term(t, cell->get_input_port_number(in_ports[k]));
        pins.back()->get_output_term(0)->insert_fanout(t);
      }
      const uint64_t mask = trial < 3 ? rng() : trial == 3 ? 0 : ~uint64_t(0);
      cell->set_lutmask_value(mask);
      if (c.ext) cell->set_mode(CDB_WYSIWYG_EXTENDED_LUT);
      if (c.shared) cell->set_mode(CDB_WYSIWYG_SHARED_ARITH);
      std::vector<CDB_SGATE_NODE*> outs;
      for (uint16_t port : c.outputs) {
        CDB_SGATE_OTERM* o = new CDB_SGATE_OTERM(cell);
        o->set_port_type(port);
        cell->set_output_term(o, cell->get_output_port_number(port));
        outs.push_back(make_output_pin(&nl, ("o" + std::to_string(port)).c_str(), nullptr));
        o->insert_fanout(outs.back()->get_input_term(0));
      }
      // Written as covers (split into half functions over nine signals) and
      // as .subckt atoms, both read back to the same function; the .subckt
      // form to the same atom. Each file read back writes as itself (an
      // output constant over seven signals was written as two constant
      // halves and their combination, which the next write folded).
      for (bool as_subckt : {false, true}) {
        BLIF_WRITE_OPTIONS opts;
        opts.atoms_as_subckt = as_subckt;
        std::string error;
        ASSERT_TRUE(blif_write_file(&nl, "cell.blif", opts, &error)) << error;
        BLIF_RESULT r = blif_read_file("cell.blif");
        ASSERT_NE(r.netlist, nullptr) << r.error;
        LOADED_NETLIST back(r.netlist, LOADED_NETLIST_DELETER{r.hierarchy});
        EXPECT_TRUE(sim_equivalent(&nl, back.get(), {}, &error)) << error;
        int atoms = 0;
        for (auto it = back->begin_node_list(); it != back->end_node_list(); ++it) {
          const CDB_SGATE_WYSIWYG* a = *it && (*it)->is_wysiwyg() ? (*it)->cast_to_wysiwyg() : nullptr;
          if (!a) continue;
          ++atoms;
          EXPECT_EQ(a->get_wysiwyg_type(), c.type);
          EXPECT_EQ(a->get_lutmask_value(), mask);
          EXPECT_EQ(a->mode_is_set(CDB_WYSIWYG_EXTENDED_LUT), c.ext);
        }
        EXPECT_EQ(atoms, as_subckt ? 1 : 0);
        const std::string first = file_text("cell.blif");
        ASSERT_TRUE(blif_write_file(back.get(), "cell.blif", opts, &error)) << error;
        EXPECT_TRUE(file_text("cell.blif") == first) << first << "--\n" << file_text("cell.blif");
      }
      NETLIST_SIMULATOR sim(&nl);
      ASSERT_TRUE(sim.ok()) << sim.error();
      for (unsigned w = 0; w < 8; ++w) {
        for (unsigned k = 0; k < 9; ++k)
          sim.set_input(pins[k], k < 6 ? CDB_LUTMASK::imask(6, k).get_value() : ((w >> (k - 6)) & 1 ? ~0ull : 0));
        sim.eval();
        for (size_t o = 0; o < c.outputs.size(); ++o) {
          const uint64_t got = sim.output(outs[o]);
          for (unsigned j = 0; j < 64; ++j) {
            const unsigned minterm = w * 64 + j;
            bool x[9];
            for (unsigned k = 0; k < 9; ++k) x[k] = k == open ? k < 7 : (minterm >> k) & 1;
            ASSERT_EQ(bit(got, j), cell_model(c.type == 93, c.ext, c.shared, mask, x, c.outputs[o]))
                << "output " << c.outputs[o] << " minterm " << minterm;
          }
        }
      }
    }
  }
}

// A parity gate over many signals is written as a chain of covers whose new
// signals grow the writer's name table; the output name must survive that
// (it was once read from the table after it moved).
TEST(NetlistIoLcell, WideParityChainsKeepTheirOutputName) {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  for (int k = 0; k < 250; ++k) pins.push_back(make_input_pin(&nl, ("x" + std::to_string(k)).c_str()));
  CDB_SGATE_COMB* x = new CDB_SGATE_COMB(nullptr, CDB_COMB_XOR, false);
  nl.add_node(x, true);
  for (CDB_SGATE_NODE* p : pins) x->add_unordered_fanin_from_oterm(nullptr, false, p->get_output_term(0));
  make_output_pin(&nl, "parity", x);
  std::string error;
  ASSERT_TRUE(blif_write_file(&nl, "parity.blif", {}, &error)) << error;
  BLIF_RESULT r = blif_read_file("parity.blif");
  ASSERT_NE(r.netlist, nullptr) << r.error;
  LOADED_NETLIST back(r.netlist, LOADED_NETLIST_DELETER{r.hierarchy});
  EXPECT_TRUE(sim_equivalent(&nl, back.get(), {}, &error)) << error;
}
