// kavu_comb_eval_int.h — how a comb gate evaluates, written once for every
// evaluator of the library (cone simulation into truth tables, the
// simulation check, the seven-input cut tables).
//
// Model: the value starts at a constant and folds the gate's connected
// inputs in input order; an input that is missing or unconnected is skipped
// and leaves the value as it is, so a gate without connected inputs yields
// its start value.
//   AND          start 1, acc = acc AND x
//   OR           start 0, acc = acc OR x
//   XOR          start 0, acc = acc XOR x
//   NOT          start 0, acc = NOT (acc OR x)   (its one input: NOT x)
//   NAME_KEEPER  start 0, acc = acc OR x         (its one input: x)
// An evaluator supplies the value type: a 0/1 integer, a word of parallel
// patterns or a whole truth table.
#pragma once

#include "cdb/cdb_sgate.h"

enum class KAVU_COMB_STEP { AND, OR, XOR, NOR };

struct KAVU_COMB_RULE {
  bool m_start_one;      // the fold starts at constant 1 (AND) or 0
  KAVU_COMB_STEP m_step;
};

// The rule of a comb type; false for a type without one (the caller reports
// its own internal error). `with_keeper` admits CDB_COMB_NAME_KEEPER.
inline bool kavu_comb_rule(CDB_COMB_TYPE type, bool with_keeper, KAVU_COMB_RULE* rule) {
  switch (type) {
    case CDB_COMB_AND: *rule = {true, KAVU_COMB_STEP::AND}; return true;
    case CDB_COMB_OR: *rule = {false, KAVU_COMB_STEP::OR}; return true;
    case CDB_COMB_XOR: *rule = {false, KAVU_COMB_STEP::XOR}; return true;
    case CDB_COMB_NOT: *rule = {false, KAVU_COMB_STEP::NOR}; return true;
    case CDB_COMB_NAME_KEEPER:
      if (!with_keeper) return false;
      *rule = {false, KAVU_COMB_STEP::OR};
      return true;
    default: return false;
  }
}

// One step of the fold for values that have the bitwise operators (0/1
// integers take `ones` = 1, words take all ones).
template <class VALUE>
inline VALUE kavu_comb_step(KAVU_COMB_STEP step, VALUE acc, VALUE x, VALUE ones) {
  switch (step) {
    case KAVU_COMB_STEP::AND: return acc & x;
    case KAVU_COMB_STEP::OR: return acc | x;
    case KAVU_COMB_STEP::XOR: return acc ^ x;
    case KAVU_COMB_STEP::NOR: return (acc | x) ^ ones;
  }
  return acc;
}
