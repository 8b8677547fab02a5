// kavu_ttbl.cpp — the one-ALE fit test of seven-input functions.
//
// Model: an ALE holds two five-input functions whose outputs one input
//   selects between. A seven-input function fits when, for some input v,
//   both cofactors on v depend on at most five inputs; v itself drops out
//   of both, so each cofactor needs at most five of the remaining six.
// Cost: at most 7 x 2 cofactors and 7 x 2 support counts of two words each.
#include "kavu_ttbl.h"

bool kavu_7cut_fn_fits_ale(const TTBL<7>& fn) {
  for (unsigned v = 0; v < 7; ++v) {
    if (fn.cofactor(v, true).support_size() < 6 && fn.cofactor(v, false).support_size() < 6)
      return true;
  }
  return false;
}
