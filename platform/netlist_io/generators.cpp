// generators.cpp — circuits built in C++ for tests and benchmarks (see
// generators.h).
//
// Builders connect gates as they make them (every source exists before its
// readers), so no name lookup is needed. Pins and registers are named
// "<top>|<signal>" like a BLIF read; inner gates stay unnamed (the writer
// gives them "$n<debug>_<k>"), which keeps million-gate builds cheap.
// Full adders are sum = XOR(a, b, c) and carry = OR(AND(a, b), AND(a, c),
// AND(b, c)): five comb gates.
// Cost: linear in the gates made.
#include <string>
#include <tuple>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "netlist_io/generators.h"
#include "netlist_io/netlist_io_int.h"

namespace kavu_platform {
namespace {

class BUILDER {
 public:
  explicit BUILDER(const std::string& top) : m_netlist(new CDB_SGATE_NETLIST()), m_top(io_top_name(top)) {}
  CDB_SGATE_NETLIST* release() { return m_netlist; }

  CDB_SGATE_OTERM* input(const std::string& name) {
    auto* pin = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
    name_gate(pin, name);
    m_netlist->add_node(pin);
    return pin->get_single_oterm();
  }
  void output(const std::string& name, CDB_SGATE_OTERM* src) {
    auto* pin = new CDB_SGATE_IO(nullptr, CDB_IO_OUTPUT);
    name_gate(pin, name);
    m_netlist->add_node(pin);
    src->insert_fanout(pin->get_input_term(0));
  }
  CDB_SGATE_OTERM* comb(CDB_COMB_TYPE type, std::initializer_list<CDB_SGATE_OTERM*> ins) {
    auto* g = new CDB_SGATE_COMB(nullptr, type);
    m_netlist->add_node(g);
    for (CDB_SGATE_OTERM* s : ins) g->insert_unordered_fanin(s);
    return g->get_single_oterm();
  }
  CDB_SGATE_OTERM* lut(uint64_t mask, const std::vector<CDB_SGATE_OTERM*>& ins) {
    CDB_LUTMASK m;
    m.set_value(unsigned(ins.size()), mask);
    auto* g = new CDB_SGATE_LUT(nullptr, m);
    m_netlist->add_node(g);
    for (unsigned i = 0; i < ins.size(); ++i) {
      CDB_SGATE_ITERM* t = g->create_input_term(nullptr, DB_INPUT_PORT_TYPE(DB_PORT_DATAA + i));
      g->set_input_term(t, i);
      ins[i]->insert_fanout(t);
    }
    return g->get_single_oterm();
  }
  CDB_SGATE_DFF* reg(const std::string& name, CDB_SGATE_OTERM* clock) {
    auto* r = new CDB_SGATE_DFF(nullptr);
    name_gate(r, name);
    m_netlist->add_node(r);
    r->tie_unconnected_controls();
    clock->insert_fanout(r->get_input_term(CDB_DFF_CLK));
    return r;
  }
  // Returns (sum, carry); a null carry-in makes a half adder.
  std::pair<CDB_SGATE_OTERM*, CDB_SGATE_OTERM*> full_add(CDB_SGATE_OTERM* a, CDB_SGATE_OTERM* b, CDB_SGATE_OTERM* c) {
    if (!c) return {comb(CDB_COMB_XOR, {a, b}), comb(CDB_COMB_AND, {a, b})};
    CDB_SGATE_OTERM* s = comb(CDB_COMB_XOR, {a, b, c});
    CDB_SGATE_OTERM* co = comb(CDB_COMB_OR, {comb(CDB_COMB_AND, {a, b}), comb(CDB_COMB_AND, {a, c}), comb(CDB_COMB_AND, {b, c})});
    return {s, co};
  }

 private:
  void name_gate(CDB_SGATE_NODE* g, const std::string& name) {
    HDB_INSTANCE_NAME* n = io_signal_name(m_top, name);
    g->set_instance_name(n);
    g->get_single_oterm()->set_instance_name(n);
  }
  CDB_SGATE_NETLIST* m_netlist;
  HDB_INSTANCE_NAME* m_top;
};

std::string bit(const char* base, int i) { return std::string(base) + "[" + std::to_string(i) + "]"; }

uint64_t next_random(uint64_t& state) {
  state ^= state >> 12;
  state ^= state << 25;
  state ^= state >> 27;
  return state * 0x2545f4914f6cdd1dull;
}

}  // namespace

CDB_SGATE_NETLIST* make_ripple_adder(int n) {
  PLAT_CHECK(n >= 1, "PLATFORM");
  BUILDER b("adder" + std::to_string(n));
  std::vector<CDB_SGATE_OTERM*> a(static_cast<size_t>(n)), x(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) a[size_t(i)] = b.input(bit("a", i));
  for (int i = 0; i < n; ++i) x[size_t(i)] = b.input(bit("b", i));
  CDB_SGATE_OTERM* carry = b.input("cin");
  for (int i = 0; i < n; ++i) {
    auto [s, c] = b.full_add(a[size_t(i)], x[size_t(i)], carry);
    b.output(bit("s", i), s);
    carry = c;
  }
  b.output("cout", carry);
  return b.release();
}

// Row i of partial products (a & b[i]) is added at offset i into the running
// sum with a ripple of full adders (half adders where the sum has no bit
// yet); the row's carry becomes the sum's new top bit.
CDB_SGATE_NETLIST* make_array_multiplier(int n) {
  PLAT_CHECK(n >= 1, "PLATFORM");
  BUILDER b("mult" + std::to_string(n));
  std::vector<CDB_SGATE_OTERM*> a(static_cast<size_t>(n)), x(static_cast<size_t>(n)), acc;
  for (int i = 0; i < n; ++i) a[size_t(i)] = b.input(bit("a", i));
  for (int i = 0; i < n; ++i) x[size_t(i)] = b.input(bit("b", i));
  for (int j = 0; j < n; ++j) acc.push_back(b.comb(CDB_COMB_AND, {a[size_t(j)], x[0]}));
  for (int i = 1; i < n; ++i) {
    CDB_SGATE_OTERM* carry = nullptr;
    for (int j = 0; j < n; ++j) {
      CDB_SGATE_OTERM* pp = b.comb(CDB_COMB_AND, {a[size_t(j)], x[size_t(i)]});
      size_t k = size_t(i + j);
      if (k < acc.size()) {
        std::tie(acc[k], carry) = b.full_add(acc[k], pp, carry);
      } else if (carry) {
        CDB_SGATE_OTERM* sum;
        std::tie(sum, carry) = b.full_add(pp, carry, nullptr);
        acc.push_back(sum);
      } else {
        acc.push_back(pp);
      }
    }
    if (carry) acc.push_back(carry);
  }
  // The top bit of the product is constant 0 when no carry reached it.
  for (int k = 0; k < 2 * n; ++k)
    b.output(bit("p", k), size_t(k) < acc.size() ? acc[size_t(k)] : b.comb(CDB_COMB_XOR, {}));
  return b.release();
}

CDB_SGATE_NETLIST* make_random_dag(int n, uint64_t seed) {
  PLAT_CHECK(n >= 0, "PLATFORM");
  BUILDER b("dag" + std::to_string(n));
  const size_t window = 1000;
  std::vector<CDB_SGATE_OTERM*> signals;
  signals.reserve(size_t(n) + 64);
  for (int i = 0; i < 64; ++i) signals.push_back(b.input(bit("i", i)));
  uint64_t state = seed * 0x9e3779b97f4a7c15ull + 0x1234567ull;
  std::vector<CDB_SGATE_OTERM*> ins;
  for (int g = 0; g < n; ++g) {
    unsigned k = 1 + unsigned(next_random(state) % 4);
    size_t lo = signals.size() > window ? signals.size() - window : 0;
    ins.clear();
    for (unsigned j = 0; j < k; ++j) ins.push_back(signals[lo + next_random(state) % (signals.size() - lo)]);
    uint64_t mask;
    do mask = next_random(state) & cdb_lut_bitmask(k);
    while (mask == 0 || mask == cdb_lut_bitmask(k));  // constant LUTs are not logic
    signals.push_back(b.lut(mask, ins));
  }
  int out = 0;
  for (size_t s = 64; s < signals.size(); ++s)
    if (!signals[s]->has_fanout()) b.output(bit("o", out++), signals[s]);
  return b.release();
}

CDB_SGATE_NETLIST* make_pipeline(int stages, int width) {
  PLAT_CHECK(stages >= 1 && width >= 1, "PLATFORM");
  BUILDER b("pipe" + std::to_string(stages) + "x" + std::to_string(width));
  CDB_SGATE_OTERM* clk = b.input("clk");
  std::vector<CDB_SGATE_OTERM*> x(static_cast<size_t>(width)), r(static_cast<size_t>(width));
  for (int i = 0; i < width; ++i) x[size_t(i)] = b.input(bit("d", i));
  for (int s = 0; s < stages; ++s) {
    for (int i = 0; i < width; ++i) {
      CDB_SGATE_DFF* reg = b.reg("r" + std::to_string(s) + bit("", i), clk);
      x[size_t(i)]->insert_fanout(reg->get_input_term(CDB_DFF_DATA));
      r[size_t(i)] = reg->get_single_oterm();
    }
    CDB_SGATE_OTERM* carry = nullptr;
    for (int i = 0; i < width; ++i) {
      auto [sum, c] = b.full_add(r[size_t(i)], r[size_t((i + 1) % width)], carry);
      x[size_t(i)] = sum;
      carry = c;
    }
  }
  for (int i = 0; i < width; ++i) b.output(bit("q", i), x[size_t(i)]);
  return b.release();
}

}  // namespace kavu_platform
