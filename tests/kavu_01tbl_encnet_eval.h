// kavu_01tbl_encnet_eval.h — a reference evaluator of encoded LUT networks for the
// tests: reads the word format directly, independent of the decoder, so a
// test can check the function a network computes against a truth table.
//
// Model: signal 0 is GND, 1 is VCC, 2 not connected, 3 + k fan-in k, then one
//   signal per LUT record (9 words: input count, mask high and low word,
//   six input signals), in list order; the last LUT is the output.
// Cost: O(LUTs) per assignment, one small vector.
#pragma once

#include <cstdint>
#include <vector>

#include "kavu_01tbl_encnet.h"

// The value of an encoded network at a fan-in assignment (bit k = fan-in k),
// evaluating the LUTs in list order.
inline bool eval_encnet(const KAVU_ENCNET& net, unsigned assignment) {
  const unsigned f = net.num_fanins();
  std::vector<bool> value(3 + f + net.num_luts(), false);
  value[1] = true;
  for (unsigned k = 0; k < f; ++k) value[3 + k] = ((assignment >> k) & 1u) != 0;
  for (unsigned l = 0; l < net.num_luts(); ++l) {
    const unsigned rec = 2 + 9 * l;
    const unsigned p = net.word(rec);
    const uint64_t mask = (uint64_t(net.word(rec + 1)) << 32) | net.word(rec + 2);
    unsigned m = 0;
    for (unsigned j = 0; j < p; ++j) m |= (value[net.word(rec + 3 + j)] ? 1u : 0u) << j;
    value[3 + f + l] = ((mask >> m) & 1u) != 0;
  }
  return value.back();
}
