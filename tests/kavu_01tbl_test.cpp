// Truth tables against a naive model (one bool per minterm): every operation
// over all functions of up to four variables and random functions of five to
// sixteen, crossing the one-word/two-word boundary (5 -> 6 variables) and
// the in-word/across-word variable boundary (4 -> 5) on purpose; then LUT
// masks, the hash against equality and refused arguments.

#include <bit>

#include "kavu_01tbl_test_support.h"
#include "ztl_hash_sys.h"

namespace {

typedef std::vector<bool> NAIVE;  // f[m], m < 2^n

bool bit_of(size_t m, unsigned v) { return (m >> v) & 1u; }
size_t with_bit(size_t m, unsigned v, bool b) { return b ? m | (size_t(1) << v) : m & ~(size_t(1) << v); }
size_t low_bits(size_t m, unsigned k) { return m & ((size_t(1) << k) - 1); }

NAIVE to_naive(const KAVU_01TBL& t) {
  NAIVE r(size_t(1) << t.num_vars());
  for (size_t m = 0; m < r.size(); ++m) r[m] = t.minterm(unsigned(m)) != 0;
  return r;
}

bool naive_depends(const NAIVE& f, unsigned v) {
  for (size_t m = 0; m < f.size(); ++m)
    if (f.at(m) != f.at(m ^ (size_t(1) << v))) return true;
  return false;
}

// Below five variables the bits of word 0 past 2^n must stay 0: the hash,
// is_vcc and is_gnd read raw words.
bool clean(const KAVU_01TBL& t) { return t.num_vars() >= 5 || (t.word(0) >> (1u << t.num_vars())) == 0; }

struct CASE_ID {
  unsigned n, id;  // the function's bits for n <= 4, else the seed
};

// Calls fn(table, model, id) for every function of 0..4 variables and for
// random functions of 5..max_random_vars variables.
template <class FN>
void for_each_case(FN fn, unsigned max_random_vars = 16) {
  for (unsigned n = 0; n <= 4; ++n)
    for (unsigned bits = 0; bits < (1u << (1u << n)); ++bits) {
      KAVU_01TBL t(n);
      t.set_word(0, bits);
      fn(t, to_naive(t), CASE_ID{n, bits});
    }
  std::mt19937 rng(12345);
  for (unsigned n : {5u, 6u, 7u, 8u, 10u, 12u, 16u}) {
    if (n > max_random_vars) break;
    for (unsigned seed = 0; seed < (n <= 8 ? 12u : n <= 12 ? 3u : 1u); ++seed) {
      KAVU_01TBL t(n);
      for (unsigned i = 0; i < t.length(); ++i) t.set_word(i, rng());
      fn(t, to_naive(t), CASE_ID{n, seed});
    }
  }
}

// Reports the first few mismatches only, so that one systematic fault does
// not print 65536 failures; messages are built only on failure.
class CHECKER {
 public:
  void operator()(bool ok, const CASE_ID& id, const char* what, int a = -1, int b = -1) {
    if (!ok && ++m_failures <= 5)
      ADD_FAILURE() << what << " n=" << id.n << " case=" << id.id << " args " << a << " " << b;
  }
  // t is clean, has n variables and minterm m equal to expected(m).
  template <class FN>
  void same(const KAVU_01TBL& t, unsigned n, FN expected, const CASE_ID& id, const char* what, int a = -1,
            int b = -1) {
    bool ok = clean(t) && t.num_vars() == n;
    for (size_t m = 0; ok && m < (size_t(1) << n); ++m) ok = (t.minterm(unsigned(m)) != 0) == expected(m);
    (*this)(ok, id, what, a, b);
  }

 private:
  int m_failures = 0;
};

// An operation on variable v and the model of its result: result minterm m
// is f at old_index(n, v, m); the result has n + vars_delta variables.
struct VAR_OP {
  const char* name;
  unsigned min_vars_above_v;  // exchange needs a neighbour above v
  int vars_delta;
  void (*apply)(KAVU_01TBL&, unsigned v);
  size_t (*old_index)(unsigned n, unsigned v, size_t m);
};

const VAR_OP VAR_OPS[] = {
    {"inv(var)", 1, 0, [](KAVU_01TBL& t, unsigned v) { t.inv(v); },
     [](unsigned, unsigned v, size_t m) { return m ^ (size_t(1) << v); }},
    {"exchange", 2, 0, [](KAVU_01TBL& t, unsigned v) { t.exchange(v); },
     [](unsigned, unsigned v, size_t m) { return with_bit(with_bit(m, v, bit_of(m, v + 1)), v + 1, bit_of(m, v)); }},
    {"cofactor_on 0", 1, 0, [](KAVU_01TBL& t, unsigned v) { t.cofactor_on(v, false); },
     [](unsigned, unsigned v, size_t m) { return with_bit(m, v, false); }},
    {"cofactor_on 1", 1, 0, [](KAVU_01TBL& t, unsigned v) { t.cofactor_on(v, true); },
     [](unsigned, unsigned v, size_t m) { return with_bit(m, v, true); }},
    {"cofactor into copy", 1, 0, [](KAVU_01TBL& t, unsigned v) { KAVU_01TBL(t).cofactor(v, true, &t); },
     [](unsigned, unsigned v, size_t m) { return with_bit(m, v, true); }},
    {"delete_var 1", 1, -1, [](KAVU_01TBL& t, unsigned v) { t.delete_var(v, true); },
     [](unsigned, unsigned v, size_t m) { return ((m - low_bits(m, v)) << 1) | (size_t(1) << v) | low_bits(m, v); }},
    // Variable v to the top: the variables above it move down by one.
    {"move_var to top", 1, 0, [](KAVU_01TBL& t, unsigned v) { t.move_var(v, t.num_vars() - 1); },
     [](unsigned n, unsigned v, size_t m) {
       return low_bits(m, v) | (size_t(bit_of(m, n - 1)) << v) | (low_bits(m, n - 1) >> v << (v + 1));
     }},
    // Variable v to the bottom: the variables below it move up by one.
    {"move_var to bottom", 1, 0, [](KAVU_01TBL& t, unsigned v) { t.move_var(v, 0); },
     [](unsigned, unsigned v, size_t m) {
       return (m >> (v + 1) << (v + 1)) | low_bits(m >> 1, v) | (size_t(m & 1) << v);
     }},
};

TEST(Kavu01tblVariableOps, AgreeWithModelOnEveryVariable) {
  CHECKER check;
  KAVU_01TBL t;
  for_each_case([&](const KAVU_01TBL& a, const NAIVE& f, const CASE_ID& id) {
    const unsigned n = a.num_vars();
    for (const VAR_OP& op : VAR_OPS) {
      for (unsigned v = 0; v + op.min_vars_above_v <= n; ++v) {
        t = a;
        op.apply(t, v);
        check.same(t, n + op.vars_delta, [&](size_t m) { return f.at(op.old_index(n, v, m)); }, id, op.name, v);
      }
    }
    // Moving there and back restores the table.
    for (unsigned v = 0; v < n; ++v) {
      t = a;
      t.move_var(v, n - 1 - v);
      t.move_var(n - 1 - v, v);
      check(t == a, id, "move_var back", v);
    }
  });
}

TEST(Kavu01tblVariableOps, ExpandReduceAndInOrderCofactorsAgreeWithModel) {
  CHECKER check;
  KAVU_01TBL t, u;
  for_each_case(
      [&](const KAVU_01TBL& a, const NAIVE& f, const CASE_ID& id) {
        const unsigned n = a.num_vars();
        for (unsigned m = n; m <= n + 3; ++m) {
          t = a;
          t.expand(m);
          check.same(t, m, [&](size_t x) { return f.at(low_bits(x, n)); }, id, "expand", m);
          t.reduce(n);
          check(t == a && clean(t), id, "expand then reduce", m);
        }
        for (unsigned k = 0; k <= n; ++k) {
          t = a;
          t.reduce(k);
          check.same(t, k, [&](size_t x) { return f.at(x); }, id, "reduce", k);
          // Every block up to four; beyond, the first, one inside and the last.
          const unsigned blocks = 1u << (n - k);
          for (unsigned c = 0; c < blocks; c = blocks <= 4 || c + 1 == blocks ? c + 1 : c ? blocks - 1 : blocks / 2 + 1) {
            auto copy = [&](size_t x) { return f.at((size_t(c) << k) + low_bits(x, k)); };
            auto set = [&](size_t x) { return f.at(x) || (x >> k) == c; };
            t = a;
            t.cofactor_in_order_new(k, c);
            check.same(t, n, copy, id, "cofactor_in_order_new", k, c);
            u = a;
            u.cofactor_in_order(k, c);
            check(u == t && clean(u), id, "cofactor_in_order", k, c);
            t = a;
            t.set_cofactor_in_order_new(k, c);
            check.same(t, n, set, id, "set_cofactor_in_order_new", k, c);
            u = a;
            u.set_cofactor_in_order(k, c);
            check(u == t && clean(u), id, "set_cofactor_in_order", k, c);
          }
        }
        // Removing the variables the function ignores keeps it, read through the map.
        std::vector<unsigned int> map, support;
        for (unsigned v = 0; v < n; ++v)
          if (naive_depends(f, v)) support.push_back(v);
        t = a;
        check(t.delete_redundant_var(map) == n - support.size() && map == support, id, "support map");
        check.same(t, unsigned(support.size()), [&](size_t x) {
          size_t old = 0;
          for (unsigned p = 0; p < support.size(); ++p) old = with_bit(old, support[p], bit_of(x, p));
          return f.at(old);
        }, id, "delete_redundant_var");
      },
      12);
}

TEST(Kavu01tblAlgebra, OperationsAndOrderAgreeWithModel) {
  CHECKER check;
  std::mt19937 rng(7);
  KAVU_01TBL b, t;
  for_each_case([&](const KAVU_01TBL& a, const NAIVE& f, const CASE_ID& id) {
    const unsigned n = a.num_vars();
    b.resize(n);
    for (unsigned i = 0; i < b.length(); ++i) b.set_word(i, rng() & (n < 5 ? (1u << (1u << n)) - 1 : ~0u));
    const NAIVE g = to_naive(b);
    check.same(a & b, n, [&](size_t m) { return f.at(m) && g.at(m); }, id, "and");
    check.same(a | b, n, [&](size_t m) { return f.at(m) || g.at(m); }, id, "or");
    check.same(a ^ b, n, [&](size_t m) { return f.at(m) != g.at(m); }, id, "xor");
    t = a;
    t.and_with(b);
    t.or_with(a);  // a AND b OR a = a
    t.xor_with(b);
    check(t == (a ^ b), id, "in-place forms");
    t = a;
    t.inv();
    check.same(t, n, [&](size_t m) { return !f.at(m); }, id, "inv()");

    // Order: the function read as a number, highest minterm most significant.
    int cmp = 0;
    size_t ones = 0;
    bool sub = true;
    for (size_t m = f.size(); m-- > 0;) {
      if (cmp == 0 && f.at(m) != g.at(m)) cmp = f.at(m) ? 1 : -1;
      ones += f.at(m);
      sub &= !f.at(m) || g.at(m);
    }
    check((a == b) == (cmp == 0) && (a != b) == (cmp != 0), id, "==");
    check((a < b) == (cmp < 0) && (a <= b) == (cmp <= 0) && (a > b) == (cmp > 0) && (a >= b) == (cmp >= 0), id,
          "order");
    check(a.is_sub_onset(b) == sub && b.is_super_onset(a) == sub, id, "onset inclusion");
    check(a.onset_volume() == ones && a.is_vcc() == (ones == f.size()) && a.is_gnd() == (ones == 0), id,
          "volume and constants");
  });
}

TEST(Kavu01tblConstruction, BuiltFunctionsAgreeWithModel) {
  CHECKER check;
  for (unsigned n = 0; n <= 12; ++n) {
    const CASE_ID id{n, 0};
    KAVU_01TBL t(n);
    t.set_and();
    check.same(t, n, [&](size_t m) { return m + 1 == (size_t(1) << n); }, id, "set_and");
    t.set_or();
    check.same(t, n, [](size_t m) { return m != 0; }, id, "set_or");
    t.set_xor();
    check.same(t, n, [](size_t m) { return std::popcount(m) % 2 == 1; }, id, "set_xor");
    t.set_mux();  // below three variables it becomes a three-variable table
    check.same(t, std::max(n, 3u), [](size_t m) { return bit_of(m, bit_of(m, 2) ? 1 : 0); }, id, "set_mux");
    for (unsigned v = 0; v < n; ++v)
      for (bool pos : {true, false}) {
        t.resize(n);
        t.variable(v, pos);
        check.same(t, n, [&](size_t m) { return bit_of(m, v) == pos; }, id, "variable", v, pos);
        check(t.is_variable(v, pos) && !t.is_variable(v, !pos), id, "is_variable", v, pos);
        t.set_gnd();
        t.set_minterm(0);
        t.set_var(v, pos);  // ORs into what is there
        check.same(t, n, [&](size_t m) { return m == 0 || bit_of(m, v) == pos; }, id, "set_var", v, pos);
      }
  }
  // Selection: a where the new top variable is 0, b where it is 1.
  std::mt19937 rng(3);
  for (const auto& sizes : {std::pair{2u, 4u}, {4u, 2u}, {0u, 0u}, {5u, 5u}, {4u, 6u}, {7u, 3u}}) {
    const unsigned na = sizes.first, nb = sizes.second;
    KAVU_01TBL a(na), b(nb);
    for (unsigned i = 0; i < a.length(); ++i) a.set_word(i, rng() & (na < 5 ? (1u << (1u << na)) - 1 : ~0u));
    for (unsigned i = 0; i < b.length(); ++i) b.set_word(i, rng() & (nb < 5 ? (1u << (1u << nb)) - 1 : ~0u));
    const NAIVE fa = to_naive(a), fb = to_naive(b);
    const unsigned m = std::max(na, nb);
    check.same(KAVU_01TBL(a, b), m + 1,
               [&](size_t x) { return bit_of(x, m) ? fb.at(low_bits(x, nb)) : fa.at(low_bits(x, na)); },
               CASE_ID{m, 0}, "selection", na, nb);
  }
  // A table moved from is a valid constant 0 of no variables.
  KAVU_01TBL from(7);
  from.set_or();
  const KAVU_01TBL to(std::move(from));
  EXPECT_TRUE(to.num_vars() == 7 && to.onset_volume() == 127u);
  EXPECT_TRUE(from.num_vars() == 0 && from.length() == 1 && from.word(0) == 0u && from == KAVU_01TBL(0));
}

void check_predicates(CHECKER& check, const KAVU_01TBL& a, const NAIVE& f, const CASE_ID& id) {
  unsigned dependent = 0;
  for (unsigned v = 0; v < a.num_vars(); ++v) {
    dependent += naive_depends(f, v);
    check(a.is_dependent(v) == naive_depends(f, v), id, "is_dependent", v);
    bool is_xor = true;
    long shear = 0;
    for (size_t m = 0; m < f.size(); ++m) {
      is_xor &= f.at(m) != f.at(m ^ (size_t(1) << v));
      shear += f.at(m) ? (bit_of(m, v) ? 1 : -1) : 0;
    }
    check(a.is_xor(v) == is_xor && a.shear_vol_on(v) == shear, id, "is_xor / shear_vol_on", v);
    for (bool pos : {true, false}) {
      bool is_and = true, is_or = true, unate = true;
      for (size_t m = 0; m < f.size(); ++m) {
        is_and &= bit_of(m, v) == pos || !f.at(m);
        is_or &= bit_of(m, v) != pos || f.at(m);
        unate &= !f.at(with_bit(m, v, !pos)) || f.at(with_bit(m, v, pos));  // toward the phase never turns f off
      }
      check(a.is_and(v, pos) == is_and && a.is_or(v, pos) == is_or && a.is_unate(v, pos) == unate, id,
            "is_and / is_or / is_unate", v, pos);
    }
  }
  check(a.num_dependent() == dependent, id, "num_dependent");
  // A 2:1 mux x2 ? x1 : x0, input i complemented where flag i is false.
  for (unsigned flags = 0; flags < 8 && a.num_vars() == 3; ++flags) {
    bool mux = true;
    for (size_t m = 0; m < 8; ++m) mux &= f.at(m) == bit_of(m ^ (~flags & 7u), bit_of(m ^ (~flags & 7u), 2) ? 1 : 0);
    check(a.is_mux(flags & 1, flags & 2, flags & 4) == mux, id, "is_mux", int(flags));
  }
}

TEST(Kavu01tblPredicates, AgreeWithModel) {
  CHECKER check;
  for_each_case([&](const KAVU_01TBL& a, const NAIVE& f, const CASE_ID& id) { check_predicates(check, a, f, id); });
}

TEST(Kavu01tblPredicates, FindPlantedStructureInLargeTables) {
  // Random tables of five or more variables are almost never AND, OR, XOR or
  // unate in a variable: plant each structure inside and across words.
  CHECKER check;
  KAVU_01TBL lit, g, f;
  for_each_case(
      [&](const KAVU_01TBL& a, const NAIVE&, const CASE_ID& id) {
        const unsigned n = a.num_vars();
        for (unsigned v : {0u, 4u, 5u, n - 1}) {
          if (n < 5 || v >= n) continue;
          for (bool pos : {true, false}) {
            lit.resize(n);
            lit.variable(v, pos);
            g = a;
            g.cofactor_on(v, !pos);
            for (const KAVU_01TBL& planted : {a & lit, a | lit, (a & lit) | g}) {
              f = planted;
              check_predicates(check, f, to_naive(f), id);
            }
          }
          lit.variable(v, true);
          f = g ^ lit;  // g no longer depends on x_v
          check_predicates(check, f, to_naive(f), id);
        }
      },
      10);
}

TEST(Kavu01tblLutmask, RoundTripsAtFourAndSixInputs) {
  for (uint64_t value = 0; value < (1u << 16); ++value) {
    CDB_LUTMASK mask;
    mask.set_value(4, value);
    const KAVU_01TBL t(mask);
    ASSERT_TRUE(t.num_vars() == 4 && t.word(0) == value && t.make_lutmask() == mask) << value;
  }
  std::mt19937_64 rng(11);
  for (int i = 0; i < 2000; ++i) {  // six inputs: two words
    CDB_LUTMASK mask;
    mask.set_value(6, rng());
    const KAVU_01TBL t(mask);
    ASSERT_TRUE(t.minterm(63) == (mask.get_value() >> 63) && t.minterm(5) == ((mask.get_value() >> 5) & 1));
    ASSERT_TRUE(t.length() == 2 && t.make_lutmask() == mask);
  }
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_01TBL(7).make_lutmask(), "num_vars() <= CDB_LUTMASK_MAX_INPUTS");
}

TEST(Kavu01tblHash, AgreesWithEquality) {
  using OPS = ZTL_OPS<KAVU_01TBL*>;
  CHECKER check;
  KAVU_01TBL t, model;
  for_each_case(
      [&](const KAVU_01TBL& a, const NAIVE&, const CASE_ID& id) {
        // The in-order cofactor repeats a block over the whole word, past the
        // function's bits below five variables; a minterm-wise build does not.
        for (unsigned k = 0; k < a.num_vars(); ++k) {
          t = a;
          t.cofactor_in_order_new(k, (1u << (a.num_vars() - k)) - 1);
          model.resize(a.num_vars());
          for (unsigned m = 0; m < (1u << a.num_vars()); ++m)
            if (t.minterm(m)) model.set_minterm(m);
          check(OPS::equal(&t, &model) && OPS::hash(&t) == OPS::hash(&model), id, "hash", k);
        }
      },
      8);
  // Bits stored outside the function change neither equality nor the hash,
  // nor what expansion copies into the new variables.
  KAVU_01TBL plain(2), dirty(2), wider(3);
  plain.set_word(0, 0x6), dirty.set_word(0, 0xABCD0006), wider.set_word(0, 0x6);
  EXPECT_TRUE(OPS::equal(&plain, &dirty) && OPS::hash(&plain) == OPS::hash(&dirty) && !OPS::equal(&plain, &wider));
  dirty.expand(6);
  EXPECT_EQ(dirty.word(1), 0x66666666u);
}

TEST(Kavu01tblErrors, SizeIsBoundedAndMisuseIsAnInternalError) {
  const unsigned too_many = KAVU_01TBL::MAX_NUM_VARS + 1;
  KAVU_01TBL t3(3), t0(0), top(KAVU_01TBL::MAX_NUM_VARS);
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_01TBL t(too_many), "MAX_NUM_VARS");
  EXPECT_KAVU_INTERNAL_ERROR(t3.expand(too_many), "MAX_NUM_VARS");
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_01TBL sel(top, t3), "MAX_NUM_VARS");
  EXPECT_TRUE(t3.num_vars() == 3 && !(t3 == KAVU_01TBL(4)));  // different counts compare unequal, no error
  EXPECT_KAVU_INTERNAL_ERROR((void)(t3 < KAVU_01TBL(4)), "num_vars() == tbl.num_vars()");
  EXPECT_KAVU_INTERNAL_ERROR(t3.cofactor_on(3, true), "var < num_vars()");
  // The top variable has no upper neighbour, and no count wraps below zero.
  EXPECT_KAVU_INTERNAL_ERROR(t3.exchange(2), "var < num_vars()-1");
  EXPECT_KAVU_INTERNAL_ERROR(t0.exchange(0), "var < num_vars()-1");
  t3.cofactor_in_order(3, 0);  // the whole table is block 0: nothing to do
  EXPECT_KAVU_INTERNAL_ERROR(t3.cofactor_in_order(3, 1), "cof_in_order == 0");
  EXPECT_KAVU_INTERNAL_ERROR(t3.set_cofactor_in_order_new(1, 4), "cof_in_order < num_cofs");
  std::vector<unsigned int> not_empty{1};
  EXPECT_KAVU_INTERNAL_ERROR(t3.delete_redundant_var(not_empty), "variable_map.size() == 0");
  // Word indices are checked above debug level 1; the level is not set
  // during parallel synthesis.
  set_01tbl_debug(2);
  EXPECT_KAVU_INTERNAL_ERROR((void)KAVU_01TBL(6).word(2), "n < length()");
  EXPECT_EQ(set_01tbl_debug(0), 0u);
  cdb_sgate_set_synthesis_running_in_parallel(true);
  EXPECT_KAVU_INTERNAL_ERROR(set_01tbl_debug(0), "!cdb_sgate_synthesis_is_running_in_parallel()");
  cdb_sgate_set_synthesis_running_in_parallel(false);
}

}  // namespace

// The table listings: the file line reads back as the count and the words.
TEST(Kavu01tblListings, FileLineAndMinterms) {
  KAVU_01TBL t(6);
  t.set_minterm(0);
  t.set_minterm(63);
  FILE* f = std::tmpfile();
  t.dump_to_file(f);
  std::rewind(f);
  char line[64] = {};
  ASSERT_TRUE(std::fgets(line, sizeof line, f));
  std::fclose(f);
  EXPECT_STREQ(line, "6 80000000 00000001 \n");
  kavu_platform::DEBUG_CAPTURE cap("KAVU");
  t.dump();
  t.dump_binary();
  KAVU_01TBL(12).dump();
  for (const char* word : {"6 80000000 00000001", "03f : 1", "03e : 0", "too big"}) EXPECT_TRUE(cap.contains(word)) << word;
}
