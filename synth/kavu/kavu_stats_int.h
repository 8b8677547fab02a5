// kavu_stats_int.h — what the statistics sources share: gate classes,
// fan-out classes, value summaries, port names, the private delay set-up and
// the test reset of the per-load state.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"

class KAVU_DELAY_EXPERT;
class KAVU_DELAY_MODEL_KZR;

// Gate classes: 0 COMB, 1 FF, 2 IO, 3 RAM, 4 DSP, 5 OTHER.
enum KAVU_STATS_CLASS { KAVU_CLASS_COMB = 0, KAVU_CLASS_FF, KAVU_CLASS_IO, KAVU_CLASS_RAM, KAVU_CLASS_DSP,
                        KAVU_CLASS_OTHER, KAVU_CLASS_COUNT };
bool kavu_sgate_type_sanity_check(const CDB_SGATE_NODE* node);
int kavu_sgate_class_index(const CDB_SGATE_NODE* node);
const char* kavu_sgate_class_name(int index);
void kavu_sgate_class_name(const CDB_SGATE_NODE* node, std::string& out);

// Fan-out class of a signal: 0 comb, 1 comb or hard, 2 hard, 3 secondary,
// 4 mixed. A terminal without fan-out is an internal error.
enum KAVU_FANOUT_CLASS { KAVU_FO_COMB = 0, KAVU_FO_COMB_OR_HARD, KAVU_FO_HARD, KAVU_FO_SECONDARY, KAVU_FO_MIXED };
int kavu_oterm_fanout_class(const CDB_SGATE_OTERM* oterm);

// Gate types 0, 1, 5, 23, 24, 44 and logic-cell comb atoms.
bool kavu_stats_is_comb_driver(const CDB_SGATE_NODE* node);
// A plain register or a flip-flop atom.
bool kavu_stats_is_register(const CDB_SGATE_NODE* node);

// "NONE" for port type 0, "UNKNOWN" for the untyped port, else a name.
std::string kavu_stats_input_port_name(unsigned port_type);
std::string kavu_stats_output_port_name(unsigned port_type);

// Summary of fan-out counts: minimum and maximum -1 mean "no value".
struct KAVU_FANOUT_SUMMARY {
  unsigned m_count = 0;
  double m_mean = 0.0;
  double m_geomean = 0.0;
  double m_median = -1.0;
  long long m_max = -1;
  long long m_min = -1;
  std::vector<unsigned> m_histogram;
  double m_ranges[20] = {};
};
KAVU_FANOUT_SUMMARY kavu_fanout_summary(std::vector<unsigned> values);

// Summary of unsigned values (combinational depths); all 0 when empty.
struct KAVU_VALUE_SUMMARY {
  unsigned m_max = 0;
  unsigned m_min = 0;
  double m_mean = 0.0;
  double m_geomean = 0.0;
  double m_median = 0.0;
  std::vector<unsigned> m_histogram;
};
KAVU_VALUE_SUMMARY compute_value_summary(std::vector<unsigned> values);

// Geometric mean of positive values with the product rescaled by 1e10 so it
// stays finite; 0 for no values.
class KAVU_GEOMEAN {
 public:
  void add(double v) {
    m_product *= v;
    while (m_product > 1e10) {
      m_product /= 1e10;
      ++m_exponent;
    }
    ++m_count;
  }
  double value() const;

 private:
  double m_product = 1.0;
  long long m_exponent = 0;
  long long m_count = 0;
};

// The reports' private delay analysis: a KZR model and an expert on the
// netlist's default delay fields, started on construction and cleaned up on
// destruction.
class KAVU_STATS_DELAY_RUN {
 public:
  KAVU_STATS_DELAY_RUN(CDB_SGATE_NETLIST* netlist, bool look_through_soft_lcell, bool neighbors_penalty);
  ~KAVU_STATS_DELAY_RUN();
  KAVU_STATS_DELAY_RUN(const KAVU_STATS_DELAY_RUN&) = delete;
  KAVU_STATS_DELAY_RUN& operator=(const KAVU_STATS_DELAY_RUN&) = delete;
  KAVU_DELAY_EXPERT* expert() const { return m_expert; }
  KAVU_DELAY_MODEL_KZR* model() const { return m_model; }
  int lut_delay() const;
  int comb_delay() const;
  int fanin(CDB_SGATE_OTERM* o) const;
  int fanout(CDB_SGATE_OTERM* o) const;

 private:
  KAVU_DELAY_MODEL_KZR* m_model;
  KAVU_DELAY_EXPERT* m_expert;
};

// An average in LUTs: sum / (lut * count), the product formed in double so
// that millions of signals under the x10 neighbour penalty cannot overflow
// it; 0 for no signals.
double kavu_stats_average_luts(double sum, int lut, int count);

// Resets the per-load quiet gate and this thread's report counter (tests).
void kavu_stats_reset_for_tests();
// Empties the three lists of the assignment regression dump (tests).
void kavu_assignment_regtest_reset_for_tests();
