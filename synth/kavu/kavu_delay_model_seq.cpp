// kavu_delay_model_seq.cpp — the non-template pieces of the sequential delay
// models: the level count of huge gates, the register test, the default
// lookups and the leaf classes' constructors.
#include "kavu_delay_model_seq.h"

#include <cmath>

#include "kavu_check.h"

namespace kavu_delay_seq {

int level_count(int n, int k) {
  KAVU_CHECK(k >= 2);
  if (n <= 1) return 0;
  // Kept in double precision: the timer's tables were built with this count,
  // which is 4 for (125, 5) and (216, 6) where the exact integer count is 3.
  return int(std::ceil(std::log(double(n)) / std::log(double(k))));
}

bool is_register(CDB_SGATE_NODE* node) {
  if (!node) return false;
  if (node->get_sgate_type() == CDB_SGATE_DFF_ENUM) return true;
  return node->is_wysiwyg() && node->cast_to_wysiwyg()->is_ff();
}

int simple_fanin_lookup(CDB_SGATE_OTERM* oterm, void*) { return kavu_get_fanin_delay(oterm); }
int simple_fanout_lookup(CDB_SGATE_OTERM* oterm, void*) { return kavu_get_fanout_delay(oterm); }

}  // namespace kavu_delay_seq

namespace {
const KAVU_DELAY_GETTER k_default_getter = kavu_get_fanin_delay;
}

KAVU_DELAY_MODEL_SIMPLE::KAVU_DELAY_MODEL_SIMPLE(bool zero_carry_in, int max_gate_size, int huge_gate_limit)
    : KAVU_DELAY_MODEL_SEQ(k_default_getter, kavu_delay_seq::simple_fanin_lookup,
                           kavu_delay_seq::simple_fanout_lookup, kavu_delay_seq::simple_fanin_lookup,
                           zero_carry_in, max_gate_size, huge_gate_limit) {}
KAVU_DELAY_MODEL_SIMPLE::~KAVU_DELAY_MODEL_SIMPLE() = default;

KAVU_DELAY_MODEL_STIMER::KAVU_DELAY_MODEL_STIMER(bool zero_carry_in, int max_gate_size, int huge_gate_limit)
    : KAVU_DELAY_MODEL_SEQ(k_default_getter, kavu_seq_analysis_arrival, kavu_seq_analysis_fanout_delay,
                           kavu_seq_analysis_arrival, zero_carry_in, max_gate_size, huge_gate_limit) {}
KAVU_DELAY_MODEL_STIMER::~KAVU_DELAY_MODEL_STIMER() = default;

KAVU_DELAY_MODEL_SCC::KAVU_DELAY_MODEL_SCC(bool zero_carry_in, int max_gate_size, int huge_gate_limit)
    : KAVU_DELAY_MODEL_SEQ(k_default_getter, kavu_seq_table_delay, kavu_seq_table_delay, kavu_seq_analysis_arrival,
                           zero_carry_in, max_gate_size, huge_gate_limit) {}
KAVU_DELAY_MODEL_SCC::~KAVU_DELAY_MODEL_SCC() = default;

KAVU_DELAY_MODEL_SCC_ARR::KAVU_DELAY_MODEL_SCC_ARR(bool zero_carry_in, int max_gate_size, int huge_gate_limit)
    : KAVU_DELAY_MODEL_SEQ(k_default_getter, kavu_seq_table_delay, kavu_seq_table_delay, kavu_seq_table_delay,
                           zero_carry_in, max_gate_size, huge_gate_limit) {}
KAVU_DELAY_MODEL_SCC_ARR::~KAVU_DELAY_MODEL_SCC_ARR() = default;

KAVU_DELAY_MODEL_NSEQ::KAVU_DELAY_MODEL_NSEQ(bool zero_carry_in)
    : KAVU_DELAY_MODEL_SEQ(k_default_getter, kavu_seq_table_delay, kavu_seq_table_delay, kavu_seq_table_delay,
                           zero_carry_in, 2, 200) {}
KAVU_DELAY_MODEL_NSEQ::~KAVU_DELAY_MODEL_NSEQ() = default;

// Every instantiation the library's models use, compiled once here.
template class KAVU_DELAY_MODEL_SEQ<void*, void*, void*>;
template class KAVU_DELAY_MODEL_SEQ<KAVU_SEQ_DELAY_ANALYSIS*, KAVU_SEQ_DELAY_ANALYSIS*, KAVU_SEQ_DELAY_ANALYSIS*>;
template class KAVU_DELAY_MODEL_SEQ<KAVU_SEQ_OTERM_TABLE*, KAVU_SEQ_OTERM_TABLE*, KAVU_SEQ_DELAY_ANALYSIS*>;
template class KAVU_DELAY_MODEL_SEQ<KAVU_SEQ_OTERM_TABLE*, KAVU_SEQ_OTERM_TABLE*, KAVU_SEQ_OTERM_TABLE*>;
