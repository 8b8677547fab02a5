// kavu_lut_unmapper_int.h — what the LUT unmapper's files share: the two
// result forms' entry points, the factoring steps and the mask helpers.
//
// Masks here are CDB_LUTMASK values. A don't-care mask has a 1 where the
// function's value does not matter; a mask is constant on its care set when
// (mask | dc) is all ones (constant 1) or (mask & ~dc) is all zeros
// (constant 0). Cofactors taken here remove their variable: the result has
// one input less and the inputs above the variable move down by one.
#pragma once

#include <list>
#include <set>
#include <string>
#include <vector>

#include "bdd/bdd_zbdd.h"
#include "cdb/cdb_sgate.h"

class KAVU_LUT_UNMAPPER;

// A factored sub-function, and also the form of each input: the terminal
// that computes it (inverted when `inverted`), or a constant when there is no
// terminal (1 when not inverted, 0 when inverted).
struct FACTORED_NODE {
  CDB_SGATE_OTERM* oterm = nullptr;
  bool inverted = false;
};

// Entry i stands for mask variable i.
typedef std::vector<FACTORED_NODE> FACTORED_INPUTS;

// Disjoint-support decomposition types, with the debug names of
// lut_unmap_decomposition_name.
enum LUT_UNMAP_DECOMP_TYPE {
  LUT_UNMAP_DECOMP_AND = 0,     // f = a(A) AND g(B)
  LUT_UNMAP_DECOMP_OR = 1,      // f = a(A) OR g(B)
  LUT_UNMAP_DECOMP_XOR = 2,     // f = a(A) XOR g(B)
  LUT_UNMAP_DECOMP_WIRE_A = 3,  // f = a(A)
  LUT_UNMAP_DECOMP_WIRE_B = 4,  // f = g(B)
  LUT_UNMAP_DECOMP_NONE = 5
};

// The result of a disjoint split: a over the bound set A, g over the free
// set B, each with its don't-care mask and (when asked) its inputs.
struct LUT_UNMAP_SPLIT {
  LUT_UNMAP_DECOMP_TYPE type = LUT_UNMAP_DECOMP_NONE;
  CDB_LUTMASK a, dc_a, g, dc_b;
  FACTORED_INPUTS inputs_a, inputs_b;
};

// ---- mask helpers ----
// The cofactor of variable v at `value`, v removed.
CDB_LUTMASK lut_unmap_cofactor(const CDB_LUTMASK& mask, unsigned v, bool value);
bool lut_unmap_is_const1(const CDB_LUTMASK& mask, const CDB_LUTMASK& dc);
bool lut_unmap_is_const0(const CDB_LUTMASK& mask, const CDB_LUTMASK& dc);
// True when neither cofactor of v is all zeros and the v = 1 cofactor is the
// complement of the v = 0 cofactor (don't cares not consulted).
bool lut_unmap_is_xor_in(const CDB_LUTMASK& mask, unsigned v);

// ---- factoring steps ----
// Removes the variables the function does not need on its care set, from
// variable 0 upward, restarting after each removal; dc and inputs may be
// null. Returns how many went.
int lut_unmap_drop_free_inputs(CDB_LUTMASK& mask, CDB_LUTMASK* dc, FACTORED_INPUTS* inputs);
// Looks for a bound set A of at most n/2 variables (depth first, A in
// increasing variable order, first success wins). The mask must not be
// constant on its care set. Inputs may be null; split->inputs_a/_b are then
// left empty.
LUT_UNMAP_DECOMP_TYPE lut_unmap_disjoint_split(const CDB_LUTMASK& mask, const CDB_LUTMASK& dc,
                                               const FACTORED_INPUTS* inputs, LUT_UNMAP_SPLIT* split);
// An estimate of the literals of a factored form of the function.
int lut_unmap_literal_count(CDB_LUTMASK mask, CDB_LUTMASK dc);
// An estimate of the literals a Shannon split on v would produce.
int lut_unmap_split_cost(const CDB_LUTMASK& mask, const CDB_LUTMASK& dc, unsigned v);
// The variable with the smallest non-zero split cost (lowest on a tie; 0
// when all costs are 0).
unsigned lut_unmap_choose_split_variable(const CDB_LUTMASK& mask, const CDB_LUTMASK& dc);
const char* lut_unmap_decomposition_name(LUT_UNMAP_DECOMP_TYPE type);

// Factors (mask, dc) over `inputs` into comb gates appended to *new_nodes,
// named after the LUT; returns the sub-function's node.
FACTORED_NODE lut_unmap_factor_mask(std::list<CDB_SGATE_NODE*>* new_nodes, CDB_SGATE_LUT* lut,
                                    CDB_LUTMASK mask, CDB_LUTMASK dc, FACTORED_INPUTS inputs);

// ---- result forms ----
// Form 0: an OR over one AND per set bit of the mask; returns the OR's
// output, which has taken over the LUT's fan-outs. Never inverted.
CDB_SGATE_OTERM* lut_unmap_two_level(CDB_SGATE_LUT* lut, std::list<CDB_SGATE_NODE*>* new_nodes);
// Form 2: the LUT's BDD factored into AND, OR, XNOR gates and 2:1 muxes.
// *inverted is false except when the BDD cannot be built and the factored
// form ran instead with an inverted head.
CDB_SGATE_OTERM* lut_unmap_boolean(CDB_SGATE_LUT* lut, std::list<CDB_SGATE_NODE*>* new_nodes,
                                   bool* inverted);

// Gate counts of an unmapped cone, in 2-input equivalents (a 2:1 mux counts
// 3, an n-input AND, OR or XOR n-1).
struct LUT_UNMAP_GATE_COUNTS {
  int muxes = 0, ands = 0, and2 = 0, ors = 0, or2 = 0, xors = 0, xor2 = 0, others = 0;
  int two_input_equivalents() const { return 3 * muxes + and2 + or2 + xor2; }
};
LUT_UNMAP_GATE_COUNTS lut_unmap_count_gates(const std::list<CDB_SGATE_NODE*>& nodes);

// ---- BDD form: decomposition kinds, cloning, factoring ----
enum BDD_DECOMP_TYPE : int32_t {
  BDD_DECOMP_AND = 0,   // f = a AND b
  BDD_DECOMP_OR = 1,    // f = a OR b
  BDD_DECOMP_XNOR = 2,  // f = a XNOR b
  BDD_DECOMP_MUX = 3,   // f = a ? c : b
  BDD_DECOMP_NONE = 4
};
const char* lut_unmap_bdd_decomposition_name(BDD_DECOMP_TYPE type);

// The Graphviz dump of a manager behind "kavu_bdd_dump_tables" (skipped with
// a debug line during parallel synthesis).
void lut_unmap_dump_bdd_table(BDD_ZBDD_MGR* bm);

// Copies *bdd into a new manager (*new_bm, owned by the caller) over only
// the variables it depends on; new_support[j] drives new variable j. A
// constant is cloned into a manager without variables.
BDD_ZBDD lut_unmap_clone_bdd(BDD_ZBDD_MGR* bm, BDD_ZBDD* bdd, std::vector<CDB_SGATE_OTERM*>* support,
                             bool complement_edges, BDD_ZBDD_MGR** new_bm,
                             std::vector<CDB_SGATE_OTERM*>* new_support);
BDD_ZBDD lut_unmap_clone_child(BDD_ZBDD_MGR* bm, BDD_ZBDD* child, std::vector<BDD_ZBDD>* nodes,
                               BDD_ZBDD_MGR* new_bm, std::vector<BDD_ZBDD>* clones);
int lut_unmap_index_of_bdd(BDD_ZBDD* bdd, std::vector<BDD_ZBDD>* nodes);

// One argument of a decomposition: a manager of its own, the function and
// the terminals of its variables. Deletes the manager when it goes.
struct BDD_ARG {
  BDD_ZBDD_MGR* bm = nullptr;
  BDD_ZBDD bdd;
  std::vector<CDB_SGATE_OTERM*> support;
  BDD_ARG() = default;
  BDD_ARG(const BDD_ARG&) = delete;
  BDD_ARG& operator=(const BDD_ARG&) = delete;
  ~BDD_ARG() { clear(); }
  void clear() {
    bdd = BDD_ZBDD();
    delete bm;
    bm = nullptr;
    support.clear();
  }
  // Takes the clone of f (complement edges off) into this argument.
  void take_clone(BDD_ZBDD_MGR* from, BDD_ZBDD f, std::vector<CDB_SGATE_OTERM*>* from_support);
  void move_from(BDD_ARG& other);
};

// One decomposition of f (at least two variables, no complement edges):
// AND, OR, XNOR or MUX, never NONE. With mux_only only the mux is tried
// (every mux argument has fewer variables than f, so this always ends a
// recursion).
BDD_DECOMP_TYPE lut_unmap_find_decomposition(BDD_ZBDD_MGR* bm, BDD_ZBDD* f, std::vector<CDB_SGATE_OTERM*>* support,
                                             BDD_ARG* a, BDD_ARG* b, BDD_ARG* c, bool mux_only = false);
BDD_DECOMP_TYPE lut_unmap_simple_and_or(BDD_ZBDD_MGR* bm, BDD_ZBDD* f, std::vector<CDB_SGATE_OTERM*>* support,
                                        BDD_ARG* a, BDD_ARG* b);
BDD_DECOMP_TYPE lut_unmap_simple_xnor(BDD_ZBDD_MGR* bm, BDD_ZBDD* f, std::vector<CDB_SGATE_OTERM*>* support,
                                      BDD_ARG* a, BDD_ARG* b);
BDD_DECOMP_TYPE lut_unmap_choose_decomposition(BDD_ZBDD_MGR* bm, BDD_ZBDD* f,
                                               std::vector<CDB_SGATE_OTERM*>* support, BDD_ARG* a, BDD_ARG* b,
                                               BDD_ARG* c);
BDD_DECOMP_TYPE lut_unmap_mux_decomposition(BDD_ZBDD_MGR* bm, BDD_ZBDD* f, std::vector<CDB_SGATE_OTERM*>* support,
                                            BDD_ARG* a, BDD_ARG* b, BDD_ARG* c);
BDD_DECOMP_TYPE lut_unmap_generalized_and_or(BDD_ZBDD_MGR* bm, BDD_ZBDD* f,
                                             std::vector<CDB_SGATE_OTERM*>* support, BDD_ARG* a, BDD_ARG* b);
BDD_DECOMP_TYPE lut_unmap_generalized_xnor(BDD_ZBDD_MGR* bm, BDD_ZBDD* f, std::vector<CDB_SGATE_OTERM*>* support,
                                           BDD_ARG* a, BDD_ARG* b);

// Factors bdd (support size == support length, no complement edges) into
// gates appended to *new_nodes, named from name_source; returns the
// terminal computing it and writes its equation. Past the depth guard only
// the mux is used; a recursion deeper still is an internal error.
CDB_SGATE_OTERM* lut_unmap_bdd_factor(BDD_ZBDD_MGR* bm, std::vector<CDB_SGATE_OTERM*>* support, BDD_ZBDD* bdd,
                                      CDB_SGATE_NODE* name_source, std::list<CDB_SGATE_NODE*>* new_nodes,
                                      std::string* equation, int depth = 0);

// Output terminals of the nodes, each after those of the listed nodes that
// feed it; a loop among them is an internal error.
void lut_unmap_members_in_topo_order(const std::list<CDB_SGATE_NODE*>& nodes,
                                     std::vector<CDB_SGATE_OTERM*>* members);

// ---- sanity check ----
// Proves one unmapping: the LUT's BDD before, the new gates' BDD after, over
// the LUT's input sources, in the unmapper's manager.
class LUT_UNMAP_SANITY_CHECK {
 public:
  explicit LUT_UNMAP_SANITY_CHECK(KAVU_LUT_UNMAPPER* unmapper) : m_unmapper(unmapper) {}
  ~LUT_UNMAP_SANITY_CHECK();
  LUT_UNMAP_SANITY_CHECK(const LUT_UNMAP_SANITY_CHECK&) = delete;
  LUT_UNMAP_SANITY_CHECK& operator=(const LUT_UNMAP_SANITY_CHECK&) = delete;
  void record_before(CDB_SGATE_LUT* lut);
  void compare_after(CDB_SGATE_OTERM* head, std::list<CDB_SGATE_NODE*>* new_nodes, bool inverted);

 private:
  std::vector<CDB_SGATE_OTERM*> m_support;
  BDD_ZBDD m_bdd_head;
  bool m_initialized = false;
  bool m_have_bdd = false;
  KAVU_LUT_UNMAPPER* m_unmapper;
};

// ---- unmap cache ----
enum KAVU_CACHE_NODE_TYPE : int32_t {
  KAVU_NODE_AND = 0,
  KAVU_NODE_OR = 1,
  KAVU_NODE_XOR = 2,
  KAVU_NODE_LUT = 3,
  KAVU_NODE_INPUT = 4,
  KAVU_NODE_21MUX = 5
};
const char* lut_unmap_cache_node_type_name(KAVU_CACHE_NODE_TYPE type);

struct LUT_UNMAP_CACHE_REF {
  uint32_t node;   // 0 is the constant: 1, or 0 when inverted
  bool inverted;
};

struct LUT_UNMAP_CACHE_NODE {
  uint32_t index = 0;
  KAVU_CACHE_NODE_TYPE type = KAVU_NODE_INPUT;
  std::vector<LUT_UNMAP_CACHE_REF> fanins;
  CDB_LUTMASK mask;  // LUT records only
};

struct LUT_UNMAP_CACHE_ENTRY {
  CDB_LUTMASK mask;
  std::vector<LUT_UNMAP_CACHE_NODE*> m_nodes;  // 0 constant, 1..s support, then gates
  int32_t m_head_node = -1;
  bool inverted = false;
  uint32_t form = 0;
  uint32_t hits = 0;
  ~LUT_UNMAP_CACHE_ENTRY();
};

// Entries ordered by (input count, mask value, form): a strict weak order in
// which two masks of different input counts never meet.
struct LUT_UNMAP_CACHE_LESS {
  bool operator()(const LUT_UNMAP_CACHE_ENTRY* a, const LUT_UNMAP_CACHE_ENTRY* b) const;
};

class LUT_UNMAP_CACHE {
 public:
  LUT_UNMAP_CACHE() = default;
  ~LUT_UNMAP_CACHE();
  LUT_UNMAP_CACHE(const LUT_UNMAP_CACHE&) = delete;
  LUT_UNMAP_CACHE& operator=(const LUT_UNMAP_CACHE&) = delete;
  LUT_UNMAP_CACHE_ENTRY* lookup(const CDB_LUTMASK& mask, uint32_t form) const;
  void insert(CDB_SGATE_LUT* lut, const std::list<CDB_SGATE_NODE*>& new_nodes, CDB_SGATE_OTERM* head,
              uint32_t form, bool inverted);
  CDB_SGATE_OTERM* reinstantiate(LUT_UNMAP_CACHE_ENTRY* entry, CDB_SGATE_LUT* lut,
                                 std::list<CDB_SGATE_NODE*>* new_nodes);
  void print_entry(const LUT_UNMAP_CACHE_ENTRY* entry) const;
  void print_stats() const;
  void print_cache() const;
  size_t size() const { return m_entries.size(); }

 private:
  std::set<LUT_UNMAP_CACHE_ENTRY*, LUT_UNMAP_CACHE_LESS> m_entries;
};
