// kavu_lut_unmapper.h — turns a LUT back into generic gates: AND, OR and XOR
// comb gates and 2:1 muxes.
//
// Result forms (fixed for the life of an unmapper):
//   0 sum of minterms: one AND per set bit of the mask and one OR over them;
//     the largest form, exact literal for literal.
//   1 factored form (the default): the mask is factored directly into a tree
//     of AND, OR and XOR gates, first by disjoint-support decomposition
//     f = a(A) op g(B), else by a Shannon expansion around a chosen input;
//     don't-care sets travel with every sub-function.
//   2 BDD decomposition: the LUT's BDD is cut between levels of its variable
//     order into AND, OR, XNOR or 2:1 mux steps, recursively, choosing the
//     cheapest by node count.
// Caching (on by default) sweeps each LUT before it is unmapped (duplicate,
// constant, inverted and unused inputs folded into the mask) and keeps the
// cone built for each (input count, mask): a later LUT with the same mask
// gets a fresh copy of the cone over its own inputs.
// The sanity check builds the LUT's BDD before and the new gates' BDD after
// each unmapping and stops with an internal error ("PANIC: BDD mismatch")
// when they differ.
// Configuration keys read at every construction: "kavu_use_boolean_unmap"
// (forces form 2), "kavu_lut_unmapper_sanity_check" (forces the check on),
// "kavu_lut_unmapper_no_caching" (forces caching off). Debug lines are
// switched on by the load-time global kavu_debug_lut_unmapper.
//
// Ownership: the unmapper never deletes the LUT and never adds gates to a
// netlist in the list form; new gates are appended to the caller's list in
// creation order and the LUT's fan-outs are moved onto the returned head
// (inverted where the head computes the complement). Deleting the LUT is the
// caller's business. Not thread-safe; one unmapper per thread.
// Cost: form 0 O(2^n * n) gates and fan-ins; form 1 O(n * 2^n) mask work per
// factoring step with at most 41 bound sets tried per step (n <= 6).
#pragma once

#include <cstdint>
#include <list>

#include "cdb/cdb_sgate.h"

class BDD_ZBDD_MGR;
class LUT_UNMAP_CACHE;

class KAVU_LUT_UNMAPPER {
 public:
  // A fixed 32-bit type: any value can be passed in and is refused when used.
  enum RESULT_FORM : int32_t { SUM_OF_MINTERMS = 0, FACTORED = 1, BDD_DECOMPOSITION = 2 };

  // Form 1, caching on, sanity check off.
  KAVU_LUT_UNMAPPER();
  // The configuration keys above may override the arguments.
  KAVU_LUT_UNMAPPER(RESULT_FORM form, bool caching, bool sanity_check);
  // Frees the cache and the sanity check's manager.
  ~KAVU_LUT_UNMAPPER();
  // A copy takes the three settings; its cache and manager start empty (two
  // unmappers never own one cache or manager together).
  KAVU_LUT_UNMAPPER(const KAVU_LUT_UNMAPPER& other);
  KAVU_LUT_UNMAPPER& operator=(const KAVU_LUT_UNMAPPER& other);

  // Unmaps one LUT: the new gates are appended to *new_nodes (not added to
  // any netlist) and the LUT's fan-outs hang on the returned head. An
  // inverted LUT output is first folded into the mask. A LUT without
  // fan-out, on entry or after the sweep, gets no gates and null is
  // returned. Internal errors: null arguments, a gate that is not a LUT, a
  // form outside 0..2, a swept LUT that breaks the sweep's guarantees.
  CDB_SGATE_OTERM* convert_lut_to_logic(CDB_SGATE_LUT* lut, std::list<CDB_SGATE_NODE*>* new_nodes);
  // As above, then adds every new gate to the netlist in creation order.
  CDB_SGATE_OTERM* convert_lut_to_logic(CDB_SGATE_LUT* lut, CDB_SGATE_NETLIST* netlist);

  // Debug reports of the cache (nothing without one).
  void run_cache_stats();
  void dump_cache();
  // The sanity check's manager (null before the first check).
  BDD_ZBDD_MGR* get_bdd_manager() const { return m_bm; }
  // Creates it; a second call is an internal error.
  void initialize_bdd_manager(int variables, int nodes, int cache, bool complement_edges);
  LUT_UNMAP_CACHE* get_cache() const { return m_cache; }

 private:
  CDB_SGATE_OTERM* run_form(CDB_SGATE_LUT* lut, std::list<CDB_SGATE_NODE*>* nodes, bool* inverted);
  // Returns false when the sweep left the LUT without fan-out.
  bool sweep_lut(CDB_SGATE_LUT* lut);

  void release();

  RESULT_FORM m_result_form;
  bool m_caching;
  bool m_sanity_check;
  LUT_UNMAP_CACHE* m_cache = nullptr;
  BDD_ZBDD_MGR* m_bm = nullptr;
};

// Form 1 on its own: factors the LUT's mask into AND, OR and XOR comb gates
// appended to *new_nodes, moves the LUT's fan-outs onto the returned head and
// sets *inverted when the head computes the complement of the mask (the
// fan-outs were moved with an inversion). Unconnected inputs must not matter
// to the mask (internal error otherwise); tied inputs become constant
// fan-ins. A LUT whose only function is to repeat its own output through an
// input gets one 1-input AND fed by that output; a constant LUT one 1-input
// AND fed by the constant. Works on a LUT with or without fan-out.
CDB_SGATE_OTERM* kavu_convert_lut_to_factored_logic_fast(CDB_SGATE_LUT* lut,
                                                         std::list<CDB_SGATE_NODE*>* new_nodes,
                                                         bool* inverted);
