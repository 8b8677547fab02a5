// kavu_stats_delay.cpp — delay, wire, neighbour and critical-graph
// statistics of a gate netlist.
//
// Every delay report runs a private delay analysis (KAVU_STATS_DELAY_RUN):
// a KZR model and an expert on the netlist's default delay fields, whose
// loop-cut buffers are inserted when the run starts and removed when it
// ends. Delays are printed in LUT units (the model's LUT arc delay).
//
// Neighbour counts of a signal are numbers of distinct gates one and two
// steps away (through combinational drivers); the distinct sets are hash
// sets, so a high fan-out driver costs linear time, not quadratic.
// Critical graphs at a path-delay threshold are the connected groups of
// looked-through gates whose path delay reaches it; the walk keeps an
// explicit stack and marks gates in their first output terminal's aux.
//
// Cost: one delay computation per report; the critical-graph table is
// O((levels + 1) * (gates + edges)).
#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_delay.h"
#include "kavu_helper_predicates.h"
#include "kavu_helper_summary.h"
#include "kavu_msg.h"
#include "kavu_stats.h"
#include "kavu_stats_int.h"

namespace {

const KAVU_DELAY_GETTER k_get_fi = kavu_get_fanin_delay;
const KAVU_DELAY_GETTER k_get_fo = kavu_get_fanout_delay;
const KAVU_DELAY_SETTER k_set_fi = kavu_set_fanin_delay;
const KAVU_DELAY_SETTER k_set_fo = kavu_set_fanout_delay;
constexpr int k_budget = 300;

template <class FN>
void for_each_signal(CDB_SGATE_NETLIST* netlist, FN&& fn) {
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    for (CDB_SGATE_OTERM* o : g->get_output_terms())
      if (o && o->has_fanout()) fn(g, o);
  }
}

// A divisor that is never 0 (a model configured with a zero delay).
int nonzero(int v) { return v == 0 ? 1 : v; }

}  // namespace

// ---- the private delay run ----

KAVU_STATS_DELAY_RUN::KAVU_STATS_DELAY_RUN(CDB_SGATE_NETLIST* netlist, bool look_through_soft_lcell,
                                           bool neighbors_penalty) {
  m_model = new KAVU_DELAY_MODEL_KZR(k_get_fi, false, false);
  if (look_through_soft_lcell) m_model->set_look_through_soft_lcell_buffers(true);
  if (neighbors_penalty) m_model->set_use_neighbors_penalty(true);
  m_expert = new KAVU_DELAY_EXPERT(k_set_fi, k_set_fo, k_get_fi, k_get_fo, 16u, 32u, 64u, 128u, m_model, 2);
  m_expert->set_netlist(netlist);
  m_expert->prepare_netlist_for_delay_analysis();
}

KAVU_STATS_DELAY_RUN::~KAVU_STATS_DELAY_RUN() {
  m_expert->clean_up_after_delay_analysis();
  delete m_expert;  // owns the model
}

int KAVU_STATS_DELAY_RUN::lut_delay() const {
  const CDB_SGATE_TYPE t = CDB_SGATE_LUT_ENUM;
  return m_model->get_delay(t);
}
int KAVU_STATS_DELAY_RUN::comb_delay() const {
  const CDB_SGATE_TYPE t = CDB_SGATE_COMB_ENUM;
  return m_model->get_delay(t);
}
int KAVU_STATS_DELAY_RUN::fanin(CDB_SGATE_OTERM* o) const { return m_expert->compute_fanin_delay(o, k_budget); }
int KAVU_STATS_DELAY_RUN::fanout(CDB_SGATE_OTERM* o) const { return m_expert->compute_fanout_delay(o, k_budget); }

// ---- wire statistics ----

void dump_wire_stats(CDB_SGATE_NETLIST* netlist, const std::string& prefix) {
  if (!cfg_is_on("rtl_net_stats", false)) return;
  int n = 0, single = 0, over8 = 0, over200 = 0;
  double total = 0.0, log_sum = 0.0;
  for_each_signal(netlist, [&](CDB_SGATE_NODE*, CDB_SGATE_OTERM* o) {
    const unsigned f = o->get_number_of_fanout();
    ++n;
    total += f;
    log_sum += std::log(double(f));
    single += f == 1;
    over8 += f > 8;
    over200 += f > 200;
  });
  const char* p = prefix.c_str();
  kavu_debug("%s WIRE **************************************", p);
  kavu_debug("%s WIRE    Total signals   : %d", p, n);
  kavu_debug("%s WIRE        single fo   : %d", p, single);
  kavu_debug("%s WIRE        over    8   : %d", p, over8);
  kavu_debug("%s WIRE        over    200 : %d", p, over200);
  kavu_debug("%s WIRE    Total fanout    : %.2f", p, total);
  kavu_debug("%s WIRE    Average fanout  : %.2f", p, total / double(n));
  kavu_debug("%s WIRE    Sum of log(fan) : %.2f", p, log_sum);
  kavu_debug("%s WIRE **************************************", p);
}

// ---- delay statistics ----

namespace {

enum { REC_ALL = 0, REC_COMB, REC_HARD, REC_INPUT, REC_COUNT };

struct DELAY_RECORD {
  int m_count = 0;
  double m_fanin_sum = 0.0;
  double m_path_sum = 0.0;
  std::map<int, int> m_slack;
};

}  // namespace

double kavu_stats_average_luts(double sum, int lut, int count) {
  return count == 0 ? 0.0 : sum / (double(lut) * double(count));
}

void kavu_dump_delay_info(CDB_SGATE_NETLIST* netlist, const std::string& prefix, bool dump_slack_profile,
                          bool use_neighbors_penalty, bool /*third_flag*/, double* max_delay_luts,
                          double* avg_path_delay_luts) {
  const bool slack_profile = cfg_is_on("kavu_delay_stats_dump_slack_profile", false) || dump_slack_profile;
  const bool penalty = use_neighbors_penalty || cfg_is_on("kavu_delay_stats_use_neighbors_penalty", false);
  KAVU_STATS_DELAY_RUN run(netlist, true, penalty);
  const int L = nonzero(run.lut_delay());
  const int M = run.expert()->compute_all_delays(true);
  const int G = nonzero(run.comb_delay());
  const char* p = prefix.c_str();
  kavu_debug_at_level(3, "%sDelays are measured in estimated # LUTs (1 LUT = %d 2-input gates)", p, L / G);
  const double max_luts = double(M) / double(L);
  kavu_debug("%sMaximum circuit delay = %.1f LUTs", p, max_luts);
  if (max_delay_luts) *max_delay_luts = max_luts;

  DELAY_RECORD rec[REC_COUNT];
  KAVU_DELAY_MODEL_KZR* model = run.model();
  for_each_signal(netlist, [&](CDB_SGATE_NODE* g, CDB_SGATE_OTERM* o) {
    const int fi = run.fanin(o), fo = run.fanout(o);
    const int slack = M - fo - fi;
    int cls = REC_COMB;
    if (!model->look_through_sgate(g) || model->oterm_is_hard_boundary(o))
      cls = REC_HARD;
    else if (kavu_is_a_boundary_input(g))
      cls = REC_INPUT;
    for (int r : {int(REC_ALL), cls}) {
      ++rec[r].m_count;
      rec[r].m_fanin_sum += fi;
      rec[r].m_path_sum += double(fi) + double(fo);
      ++rec[r].m_slack[slack];
    }
  });
  // One line per measure: its average over all terminals and per class.
  auto report_average = [&](const char* measure, double DELAY_RECORD::*sum) {
    auto average = [&](int r) { return kavu_stats_average_luts(rec[r].*sum, L, rec[r].m_count); };
    kavu_debug("%s    Average %s delay for all %d oterms = %.2f, %d combs = %.2f, %d hard boundaries = %.2f, %d "
               "input boundaries = %.2f",
               p, measure, rec[REC_ALL].m_count, average(REC_ALL), rec[REC_COMB].m_count, average(REC_COMB),
               rec[REC_HARD].m_count, average(REC_HARD), rec[REC_INPUT].m_count, average(REC_INPUT));
  };
  report_average("fanin", &DELAY_RECORD::m_fanin_sum);
  report_average("path", &DELAY_RECORD::m_path_sum);
  if (avg_path_delay_luts) *avg_path_delay_luts = kavu_stats_average_luts(rec[REC_ALL].m_path_sum, L, rec[REC_ALL].m_count);
  kavu_debug("%s**************************************", p);

  if (slack_profile) {
    kavu_debug("%s             Slack profile            ", p);
    kavu_debug("%s**************************************", p);
    kavu_debug("%s slack | cum gates | cum combs | cum hards | perc gates | perc combs | perc hards", p);
    kavu_debug("%s-------------------------------------------------------------------------------", p);
    int cum_all = 0, cum_comb = 0, cum_hard = 0;
    auto perc = [](int cum, int count) { return count == 0 ? 0.0 : cum * 100.0 / count; };
    for (const auto& [s, c] : rec[REC_ALL].m_slack) {
      cum_all += c;
      auto ic = rec[REC_COMB].m_slack.find(s);
      auto ih = rec[REC_HARD].m_slack.find(s);
      cum_comb += ic == rec[REC_COMB].m_slack.end() ? 0 : ic->second;
      cum_hard += ih == rec[REC_HARD].m_slack.end() ? 0 : ih->second;
      kavu_debug("%s %5.1f |  %7d  |  %7d  |  %7d  |  %8.2f  |  %8.2f  | %8.2f ", p, double(s) / double(L), cum_all,
                 cum_comb, cum_hard, perc(cum_all, rec[REC_ALL].m_count), perc(cum_comb, rec[REC_COMB].m_count),
                 perc(cum_hard, rec[REC_HARD].m_count));
    }
    kavu_debug("%s**************************************", p);
    if (cfg_is_on("kavu_analyze_critical_paths", false)) run.expert()->analyze_critical_paths(netlist, 0, prefix);
  }
}

std::map<int, int> kavu_get_delay_profile(CDB_SGATE_NETLIST* netlist) {
  std::map<int, int> profile;
  KAVU_STATS_DELAY_RUN run(netlist, false, false);
  const int L = nonzero(run.lut_delay());
  run.expert()->compute_all_delays(true);
  for_each_signal(netlist, [&](CDB_SGATE_NODE*, CDB_SGATE_OTERM* o) { ++profile[run.fanin(o) / L]; });
  return profile;
}

// ---- many statistics ----

void dump_many_stats(CDB_SGATE_NETLIST* netlist, const std::string& prefix) {
  dump_fanout_class_stats(netlist, prefix);
  kavu_dump_delay_info(netlist, prefix + "DELAY_PEN ", false, true, false, nullptr, nullptr);
  kavu_dump_delay_info(netlist, prefix + "CLUSTER ", false, false, true, nullptr, nullptr);
  dump_neighbor_delay_stats(netlist, prefix + "NEIGHBORS ");
  dump_critical_graph_stats(netlist, prefix + "CRIT ");
}

namespace {

// Distinct gates in first-seen order with a hash set for membership.
class GATE_LIST {
 public:
  void clear() {
    m_list.clear();
    m_seen.clear();
  }
  void add(CDB_SGATE_NODE* g) {
    if (m_seen.insert(g).second) m_list.push_back(g);
  }
  int size() const { return int(m_list.size()); }
  CDB_SGATE_NODE* operator[](int i) const { return m_list[i]; }

 private:
  std::vector<CDB_SGATE_NODE*> m_list;
  std::unordered_set<const CDB_SGATE_NODE*> m_seen;
};

void add_drivers(const CDB_SGATE_NODE* g, GATE_LIST& list) {
  for (CDB_SGATE_ITERM* t : g->get_input_terms())
    if (t && cdb_is_connected(t) && t->get_source()) list.add(t->get_source()->get_my_node());
}

void add_readers(const CDB_SGATE_OTERM* o, GATE_LIST& list) {
  for (CDB_SGATE_ITERM* t : o->fanouts()) list.add(t->get_my_node());
}

constexpr int k_neighbor_kinds = 6;

struct NEIGHBOR_BUCKET {
  int m_max[k_neighbor_kinds] = {};
  long long m_sum[k_neighbor_kinds] = {};
  long long m_count[k_neighbor_kinds] = {};
  std::vector<int> m_values[k_neighbor_kinds];
};

void print_neighbor_header(const char* p, const char* what, bool with_count) {
  kavu_debug("%s******** Neighbor %s stats **************", p, what);
  if (with_count)
    kavu_debug("%s|| Path delay || fanin d1  | fanin d2  | fanout d1 | fanout d2 |   sum d1  |   sum d2  |   count   ||",
               p);
  else
    kavu_debug("%s|| Path delay || fanin d1  | fanin d2  | fanout d1 | fanout d2 |   sum d1  |   sum d2  ||", p);
}

}  // namespace

void dump_neighbor_delay_stats(CDB_SGATE_NETLIST* netlist, const std::string& prefix) {
  KAVU_STATS_DELAY_RUN run(netlist, false, false);
  const int L = nonzero(run.lut_delay());
  run.expert()->compute_all_delays(true);
  std::map<int, NEIGHBOR_BUCKET> buckets;
  GATE_LIST fanin1, fanin2, fanout1, fanout2;
  for_each_signal(netlist, [&](CDB_SGATE_NODE* g, CDB_SGATE_OTERM* o) {
    if (!kavu_stats_is_comb_driver(g)) return;
    fanin1.clear();
    fanin2.clear();
    fanout1.clear();
    fanout2.clear();
    add_drivers(g, fanin1);
    for (int i = 0; i < fanin1.size(); ++i) fanin2.add(fanin1[i]);
    for (int i = 0, n = fanin1.size(); i < n; ++i)
      if (kavu_stats_is_comb_driver(fanin1[i])) add_drivers(fanin1[i], fanin2);
    add_readers(o, fanout1);
    for (int i = 0; i < fanout1.size(); ++i) fanout2.add(fanout1[i]);
    for (int i = 0, n = fanout1.size(); i < n; ++i)
      if (kavu_stats_is_comb_driver(fanout1[i]))
        for (CDB_SGATE_OTERM* o2 : fanout1[i]->get_output_terms())
          if (o2) add_readers(o2, fanout2);
    const int counts[k_neighbor_kinds] = {fanin1.size(),
                                          fanin2.size(),
                                          fanout1.size(),
                                          fanout2.size(),
                                          fanin1.size() + fanout1.size(),
                                          fanin2.size() + fanout2.size()};
    const int p = (run.fanin(o) + run.fanout(o) + L - 1) / L;
    NEIGHBOR_BUCKET& b = buckets[p];
    for (int k = 0; k < k_neighbor_kinds; ++k) {
      b.m_max[k] = std::max(b.m_max[k], counts[k]);
      b.m_sum[k] += counts[k];
      ++b.m_count[k];
      b.m_values[k].push_back(counts[k]);
    }
  });

  const std::string rule85 = "||" + std::string(85, '-') + "||";
  const std::string rule97 = "||" + std::string(97, '-') + "||";
  const std::string pmax = prefix + "MAX ", pavg = prefix + "AVG ", pmed = prefix + "MED ";
  print_neighbor_header(pmax.c_str(), "MAX", false);
  kavu_debug("%s%s", pmax.c_str(), rule85.c_str());
  for (const auto& [p, b] : buckets)
    kavu_debug("%s|| %10d || %9d | %9d | %9d | %9d | %9d | %9d ||", pmax.c_str(), p, b.m_max[0], b.m_max[1], b.m_max[2],
               b.m_max[3], b.m_max[4], b.m_max[5]);
  kavu_debug("%s%s", pmax.c_str(), rule85.c_str());

  print_neighbor_header(pavg.c_str(), "AVG", false);
  kavu_debug("%s%s", pavg.c_str(), rule85.c_str());
  for (const auto& [p, b] : buckets) {
    double avg[k_neighbor_kinds];
    for (int k = 0; k < k_neighbor_kinds; ++k) avg[k] = double(b.m_sum[k]) / double(b.m_count[k]);
    kavu_debug("%s|| %10d || %9.2f | %9.2f | %9.2f | %9.2f | %9.2f | %9.2f ||", pavg.c_str(), p, avg[0], avg[1],
               avg[2], avg[3], avg[4], avg[5]);
  }
  kavu_debug("%s%s", pavg.c_str(), rule85.c_str());

  print_neighbor_header(pmed.c_str(), "MEDIAN", true);
  kavu_debug("%s%s", pmed.c_str(), rule97.c_str());
  for (auto& [p, b] : buckets) {
    const size_t n = b.m_values[0].size();
    int med[k_neighbor_kinds];
    for (int k = 0; k < k_neighbor_kinds; ++k) {
      KAVU_CHECK(b.m_values[k].size() == n);
      std::sort(b.m_values[k].begin(), b.m_values[k].end());
      med[k] = b.m_values[k][n / 2];  // the upper middle for an even count
    }
    kavu_debug("%s|| %10d || %9d | %9d | %9d | %9d | %9d | %9d | %9d ||", pmed.c_str(), p, med[0], med[1], med[2],
               med[3], med[4], med[5], int(n));
  }
  kavu_debug("%s%s", pmed.c_str(), rule97.c_str());
}

// ---- critical graphs ----

namespace {

struct CRIT_GATE {
  bool m_looked_through = false;
  bool m_has_fanout_term = false;
  long long m_max_path = 0;  // largest path delay of its terminals with fan-out
};

}  // namespace

void dump_critical_graph_stats(CDB_SGATE_NETLIST* netlist, const std::string& prefix) {
  KAVU_STATS_DELAY_RUN run(netlist, false, false);
  const int L = nonzero(run.lut_delay());
  const int levels = run.expert()->compute_all_delays(true) / L;
  kavu_reset_aux_values(netlist);
  KAVU_DELAY_MODEL_KZR* model = run.model();

  std::unordered_map<const CDB_SGATE_NODE*, CRIT_GATE> info;
  std::unordered_map<const CDB_SGATE_OTERM*, long long> path;
  std::vector<CDB_SGATE_NODE*> gates;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g || !g->get_single_oterm()) continue;  // no terminal to carry the mark
    gates.push_back(g);
    CRIT_GATE& c = info[g];
    c.m_looked_through = model->look_through_sgate(g);
    c.m_max_path = 0;
    for (CDB_SGATE_OTERM* o : g->get_output_terms()) {
      if (!o || !o->has_fanout()) continue;
      const long long d = (long long)run.fanin(o) + run.fanout(o);
      path[o] = d;
      c.m_max_path = c.m_has_fanout_term ? std::max(c.m_max_path, d) : d;
      c.m_has_fanout_term = true;
    }
  }
  auto critical = [&](const CDB_SGATE_NODE* g, long long t) {
    auto it = info.find(g);
    if (it == info.end() || !it->second.m_looked_through) return false;
    return it->second.m_has_fanout_term ? it->second.m_max_path >= t : t <= 0;
  };
  auto path_of = [&](const CDB_SGATE_OTERM* o) {
    auto it = path.find(o);
    return it == path.end() ? (long long)run.fanin(const_cast<CDB_SGATE_OTERM*>(o)) +
                                  run.fanout(const_cast<CDB_SGATE_OTERM*>(o))
                            : it->second;
  };

  const char* p = prefix.c_str();
  kavu_debug("%s******** Critical graph stats **************", p);
  kavu_debug("%s|| Path delay || num graphs | max gates  | avg gates  | med gates  | max iterms | avg iterms | med iterms ||",
             p);
  const std::string rule = "||" + std::string(104, '-') + "||";
  kavu_debug("%s%s", p, rule.c_str());
  std::vector<CDB_SGATE_NODE*> stack;
  std::vector<int> gate_counts, iterm_counts;
  for (int i = 0; i <= levels; ++i) {
    const long long t = (long long)i * L;
    const int cur_aux = i + 1;
    gate_counts.clear();
    iterm_counts.clear();
    for (CDB_SGATE_NODE* start : gates) {
      if (start->get_single_oterm()->get_aux() == cur_aux || !critical(start, t)) continue;
      int ngates = 0, niterms = 0;
      stack.clear();
      stack.push_back(start);
      start->get_single_oterm()->set_aux(cur_aux);
      while (!stack.empty()) {
        CDB_SGATE_NODE* g = stack.back();
        stack.pop_back();
        ++ngates;
        for (CDB_SGATE_ITERM* it : g->get_input_terms()) {
          if (!it || !cdb_is_connected(it)) continue;
          ++niterms;
          CDB_SGATE_OTERM* d = it->get_source();
          if (!d) continue;
          CDB_SGATE_NODE* dg = d->get_my_node();
          CDB_SGATE_OTERM* mark = dg->get_single_oterm();
          if (mark->get_aux() == cur_aux || path_of(d) < t || !model->look_through_sgate(dg)) continue;
          mark->set_aux(cur_aux);
          stack.push_back(dg);
        }
        for (CDB_SGATE_OTERM* o : g->get_output_terms()) {
          if (!o || !o->has_fanout() || path_of(o) < t) continue;
          for (CDB_SGATE_ITERM* r : o->fanouts()) {
            CDB_SGATE_NODE* h = r->get_my_node();
            CDB_SGATE_OTERM* mark = h->get_single_oterm();
            if (!mark || mark->get_aux() == cur_aux || !critical(h, t)) continue;
            mark->set_aux(cur_aux);
            stack.push_back(h);
          }
        }
      }
      gate_counts.push_back(ngates);
      iterm_counts.push_back(niterms);
    }
    const int n = int(gate_counts.size());
    KAVU_CHECK(n == (int)iterm_counts.size());
    if (n == 0) continue;
    std::sort(gate_counts.begin(), gate_counts.end());
    std::sort(iterm_counts.begin(), iterm_counts.end());
    double gsum = 0, isum = 0;
    for (int k = 0; k < n; ++k) {
      gsum += gate_counts[k];
      isum += iterm_counts[k];
    }
    kavu_debug("%s|| %10d || %10d | %10d | %10.1f | %10d | %10d | %10.1f | %10d ||", p, i, n, gate_counts.back(),
               gsum / n, gate_counts[n / 2], iterm_counts.back(), isum / n, iterm_counts[n / 2]);
  }
  kavu_debug("%s%s", p, rule.c_str());
}
