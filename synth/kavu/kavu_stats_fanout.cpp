// kavu_stats_fanout.cpp — fan-out statistics and the vocabularies the
// reports print: gate-type names, the six gate classes, the five fan-out
// classes, port names and value summaries.
//
// A signal is an output terminal with fan-out. Its fan-out class says what
// its readers are: comb (combinational drivers), hard (register data inputs
// and any other input), secondary (register controls, atom clock/clear/
// enable ports), "c or h" (comb and hard, no secondary) or mixed.
//
// Files: "sgate_fanout_stat.<name>" (a summary per gate type) and
// "sgate_high_fanout_stat.<name>" (every signal with its readers, highest
// fan-out first; fan-outs of 10000 and more come first in ascending order).
//
// Cost: linear in terminals, plus a sort of the signals for the listing.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_helper.h"
#include "kavu_msg.h"
#include "kavu_stats.h"
#include "kavu_stats_int.h"

namespace {

struct TYPE_NAME {
  int m_type;
  const char* m_name;
};

const TYPE_NAME k_type_names[] = {
    {0, "CDB_SGATE_BUFFER_ENUM"},
    {1, "CDB_SGATE_COMB_ENUM"},
    {2, "CDB_SGATE_DFF_ENUM"},
    {3, "CDB_SGATE_IO_ENUM"},
    {4, "CDB_SGATE_IO_BUF_ENUM"},
    {5, "CDB_SGATE_LUT_ENUM"},
    {6, "CDB_SGATE_RAM_SLICE_ENUM"},
    {7, "CDB_SGATE_STATE_ENUM"},
    {9, "CDB_SGATE_WYSIWYG_ENUM"},
    {11, "CDB_SGATE_WYSIWYG_RAM_SLICE_ENUM"},
    {12, "CDB_SGATE_WYSIWYG_PIREL_RAM_SLICE_ENUM"},
    {13, "CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM"},
    {14, "CDB_SGATE_WYSIWYG_CAM_SLICE_ENUM"},
    {15, "CDB_SGATE_WYSIWYG_XRAM_ENUM"},
    {16, "CDB_SGATE_WYSIWYG_XACORE_ENUM"},
    {17, "CDB_SGATE_WYSIWYG_LVDS_RX_ENUM"},
    {18, "CDB_SGATE_WYSIWYG_LVDS_TX_ENUM"},
    {19, "CDB_SGATE_WYSIWYG_CDR_RX_ENUM"},
    {20, "CDB_SGATE_WYSIWYG_CDR_TX_ENUM"},
    {21, "CDB_SGATE_WYSIWYG_CDR_XGM_ENUM"},
    {22, "CDB_SGATE_WYSIWYG_PLL_ENUM"},
    {23, "CDB_SGATE_MUX_ENUM"},
    {24, "CDB_SGATE_CARRY_SUM_ENUM"},
    {25, "CDB_SGATE_TRI_BUS_ENUM"},
    {26, "CDB_SGATE_LATCH_ENUM"},
    {33, "CDB_SGATE_WYSIWYG_MAC_MULT_ENUM"},
    {34, "CDB_SGATE_WYSIWYG_MAC_OUT_ENUM"},
    {35, "CDB_SGATE_WYSIWYG_VDR_PLL_ENUM"},
    {36, "CDB_SGATE_WYSIWYG_CRCBLOCK_ENUM"},
    {37, "CDB_SGATE_WYSIWYG_RUBLOCK_ENUM"},
    {38, "CDB_SGATE_WYSIWYG_DLL_ENUM"},
    {39, "CDB_SGATE_WYSIWYG_VDR_IO_ENUM"},
    {40, "CDB_SGATE_WYSIWYG_CLKBUF_ENUM"},
    {41, "CDB_SGATE_WYSIWYG_BRAE_HIP_ENUM"},
    {42, "CDB_SGATE_WYSIWYG_UNVM_ENUM"},
    {43, "CDB_SGATE_COMPONENT_ENUM"},
    {44, "CDB_SGATE_OPERATOR_ENUM"},
    {45, "CDB_SGATE_ASYNCHRONOUS_RAM_ENUM"},
    {46, "CDB_SGATE_SYNCHRONOUS_RAM_ENUM"},
    {47, "CDB_SGATE_WYSIWYG_CLK_DELAY_CTRL_ENUM"},
    {48, "CDB_SGATE_WYSIWYG_CLK_DELAY_CAL_CTRL_ENUM"},
    {49, "CDB_SGATE_WYSIWYG_BRAE_TERMINATION_ENUM"},
    {50, "CDB_SGATE_WYSIWYG_HSSI_REFCLK_DIVIDER_ENUM"},
    {51, "CDB_SGATE_WYSIWYG_HSSI_CMU_CLOCK_DIVIDER_ENUM"},
    {52, "CDB_SGATE_WYSIWYG_HSSI_CALIBRATION_BLOCK_ENUM"},
    {53, "CDB_SGATE_WYSIWYG_HSSI_CMU_ENUM"},
    {54, "CDB_SGATE_WYSIWYG_HSSI_CMU_PLL_ENUM"},
    {55, "CDB_SGATE_WYSIWYG_GORVENIIQX_HSSI_TX_ENUM"},
    {56, "CDB_SGATE_WYSIWYG_GORVENIIQX_HSSI_RX_ENUM"},
    {57, "CDB_SGATE_WYSIWYG_IO_IBUF_ENUM"},
    {58, "CDB_SGATE_WYSIWYG_IO_OBUF_ENUM"},
    {59, "CDB_SGATE_WYSIWYG_LUTRAM_ENUM"},
    {60, "CDB_SGATE_WYSIWYG_DDIO_IN_ENUM"},
    {61, "CDB_SGATE_WYSIWYG_DDIO_OUT_ENUM"},
    {62, "CDB_SGATE_WYSIWYG_DDIO_OE_ENUM"},
};
constexpr int k_type_name_count = sizeof(k_type_names) / sizeof(k_type_names[0]);
static_assert(k_type_name_count == 55, "55 gate-type names");

const char* const k_class_names[KAVU_CLASS_COUNT] = {"COMB", "FF", "IO", "RAM", "DSP", "OTHER"};

bool type_in(int t, std::initializer_list<int> list) { return std::find(list.begin(), list.end(), t) != list.end(); }

bool rule_holds(const CDB_SGATE_NODE* g, int cls) {
  const int t = g->get_sgate_type();
  switch (cls) {
    case KAVU_CLASS_COMB:
      return type_in(t, {0, 1, 4, 5, 23, 24, 25, 36, 44, 57, 58});
    case KAVU_CLASS_FF:
      if (type_in(t, {2, 7, 26})) return true;
      return g->is_wysiwyg() && g->cast_to_wysiwyg() && g->cast_to_wysiwyg()->is_ff() &&
             !type_in(t, {0, 1, 4, 5, 23, 24, 25, 36, 44, 57, 58});
    case KAVU_CLASS_IO:
      return type_in(t, {3, 17, 18, 39, 41});
    case KAVU_CLASS_RAM:
      return type_in(t, {6, 11, 12, 13, 14, 15, 45, 46, 59});
    case KAVU_CLASS_DSP:
      return type_in(t, {33, 34});
    default:
      for (int c = 0; c < KAVU_CLASS_OTHER; ++c)
        if (rule_holds(g, c)) return false;
      return true;
  }
}

const char* input_port_base_name(unsigned p) {
  switch (p) {
    case 1: return "ALOAD";
    case 2: return "CIN";
    case 6: return "ACLR";
    case 7: return "CLK";
    case 8: return "ENA";
    case 12: return "DATAA";
    case 13: return "DATAB";
    case 14: return "DATAC";
    case 15: return "DATAD";
    case 16: return "DATAE";
    case 17: return "DATAF";
    case 18: return "DATAG";
    case 20: return "DATAIN";
    case 22: return "OE";
    case 27: return "PRESET";
    case 30: return "SCLR";
    case 31: return "SCLR2";
    case 32: return "ADATA_ALT";
    case 33: return "SLOAD";
    case 273: return "SHAREIN";
    default: return nullptr;
  }
}

const char* output_port_base_name(unsigned p) {
  switch (p) {
    case 1: return "OUT_1";
    case 8: return "SUMOUT";
    case 9: return "COMBOUT";
    case 10: return "REGOUT";
    case 41: return "PORTADATAOUT";
    case 42: return "PORTBDATAOUT";
    case 252: return "SHAREOUT";
    default: return nullptr;
  }
}

// Class of one fan-out input terminal: 0 comb, 1 hard, 2 secondary.
int reader_kind(const CDB_SGATE_ITERM* t) {
  const CDB_SGATE_NODE* h = t->get_my_node();
  if (kavu_stats_is_comb_driver(h)) return 0;
  if (kavu_stats_is_register(h)) return kavu_get_dff_data(h) == t ? 1 : 2;
  if (h->is_wysiwyg() && type_in(t->get_port_type(), {6, 7, 8, 30, 33, 35, 36, 39, 40})) return 2;
  return 1;
}

std::vector<unsigned> signal_counts_of(CDB_SGATE_NODE* g) {
  std::vector<unsigned> v;
  for (CDB_SGATE_OTERM* o : g->get_output_terms())
    if (o && o->has_fanout()) v.push_back(o->get_number_of_fanout());
  return v;
}

const char* type_name_of(const CDB_SGATE_NODE* g, std::string& buf) {
  kavu_convert_sgate_type_enum_2_string(g->get_sgate_type(), buf);
  return buf.c_str();
}

void write_summary_block(std::ostream& os, const KAVU_FANOUT_SUMMARY& s) {
  os << "\nAvg " << s.m_mean << " Geomean " << s.m_geomean << " Median " << s.m_median << " Max " << s.m_max
     << " Min " << s.m_min << "\n";
  os << "Fanout\t";
  for (size_t f = 0; f < s.m_histogram.size(); ++f)
    if (s.m_histogram[f]) os << f << "\t";
  os << "\n" << "Num_oterm\t";
  for (size_t f = 0; f < s.m_histogram.size(); ++f)
    if (s.m_histogram[f]) os << s.m_histogram[f] << "\t";
  os << "\n";
}

}  // namespace

// ---- vocabularies ----

void kavu_convert_sgate_type_enum_2_string(CDB_SGATE_TYPE type, std::string& out) {
  for (const TYPE_NAME& e : k_type_names)
    if (e.m_type == int(type)) {
      out = e.m_name;
      return;
    }
  // An unknown type must not keep the caller's previous text.
  out = "UNKNOWN";
}

bool kavu_sgate_type_sanity_check(const CDB_SGATE_NODE* node) {
  int held = 0;
  for (int c = 0; c < KAVU_CLASS_COUNT; ++c) held += rule_holds(node, c);
  return held == 1;
}

int kavu_sgate_class_index(const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(kavu_sgate_type_sanity_check(sgate));
  for (int c = 0; c < KAVU_CLASS_OTHER; ++c)
    if (rule_holds(sgate, c)) return c;
  return KAVU_CLASS_OTHER;
}

const char* kavu_sgate_class_name(int index) {
  KAVU_CHECK(index >= 0 && index < KAVU_CLASS_COUNT);
  return k_class_names[index];
}

void kavu_sgate_class_name(const CDB_SGATE_NODE* node, std::string& out) {
  out = k_class_names[kavu_sgate_class_index(node)];
}

bool kavu_stats_is_comb_driver(const CDB_SGATE_NODE* node) {
  const int t = node->get_sgate_type();
  if (type_in(t, {0, 1, 5, 23, 24, 44})) return true;
  const CDB_SGATE_WYSIWYG* w = node->is_wysiwyg() ? node->cast_to_wysiwyg() : nullptr;
  return w && w->is_lcell_comb();
}

bool kavu_stats_is_register(const CDB_SGATE_NODE* node) {
  if (node->get_sgate_type() == CDB_SGATE_DFF_ENUM) return true;
  const CDB_SGATE_WYSIWYG* w = node->is_wysiwyg() ? node->cast_to_wysiwyg() : nullptr;
  return w && w->is_ff();
}

std::string kavu_stats_input_port_name(unsigned p) {
  if (p == 0) return "NONE";
  if (p == DB_MAX_INPUT_PORT_TYPE) return "UNKNOWN";
  const char* n = input_port_base_name(p);
  return n ? n : "PORT_" + std::to_string(p);
}

std::string kavu_stats_output_port_name(unsigned p) {
  if (p == 0) return "NONE";
  if (p == DB_MAX_OUTPUT_PORT_TYPE) return "UNKNOWN";
  const char* n = output_port_base_name(p);
  return n ? n : "PORT_" + std::to_string(p);
}

int kavu_oterm_fanout_class(const CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(oterm->has_fanout());
  // Exactly one of the four flags is set after each fan-out: all comb so
  // far, all hard, comb and hard, all secondary.
  bool is_comb = false, is_hard = false, is_comb_hard = false, is_secondary = false;
  for (CDB_SGATE_ITERM* t : oterm->fanouts()) {
    const int k = reader_kind(t);
    if (k == 2) {
      if (is_comb || is_hard || is_comb_hard) return KAVU_FO_MIXED;
      is_secondary = true;
    } else if (is_secondary) {
      return KAVU_FO_MIXED;
    } else if ((k == 0 && is_hard) || (k != 0 && is_comb)) {
      is_comb = is_hard = false;
      is_comb_hard = true;
    } else if (!is_comb_hard) {
      (k == 0 ? is_comb : is_hard) = true;
    }
  }
  if (is_comb) {
    KAVU_CHECK(!is_secondary && !is_hard && !is_comb_hard);
    return KAVU_FO_COMB;
  }
  if (is_secondary) {
    KAVU_CHECK(!is_hard && !is_comb_hard);
    return KAVU_FO_SECONDARY;
  }
  if (is_hard) {
    KAVU_CHECK(!is_comb_hard);
    return KAVU_FO_HARD;
  }
  KAVU_CHECK(is_comb_hard);
  return KAVU_FO_COMB_OR_HARD;
}

// ---- summaries ----

double KAVU_GEOMEAN::value() const {
  if (m_count == 0) return 0.0;
  const double n = double(m_count);
  return std::pow(m_product, 1.0 / n) * std::pow(1e10, double(m_exponent) / n);
}

KAVU_FANOUT_SUMMARY kavu_fanout_summary(std::vector<unsigned> values) {
  KAVU_FANOUT_SUMMARY s;
  s.m_count = unsigned(values.size());
  if (values.empty()) return s;
  double sum = 0.0;
  KAVU_GEOMEAN geo;
  for (unsigned v : values) {
    sum += v;
    geo.add(v);
    // -1 means "no value yet" for both extremes.
    if (s.m_max < 0 || v > s.m_max) s.m_max = v;
    if (s.m_min < 0 || v < s.m_min) s.m_min = v;
  }
  s.m_mean = sum / double(values.size());
  s.m_geomean = geo.value();
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  s.m_median = n % 2 == 0 ? (double(values[n / 2 - 1]) + double(values[n / 2])) / 2.0 : double(values[(n - 1) / 2]);
  s.m_histogram.assign(size_t(s.m_max) + 1, 0);
  for (unsigned v : values) {
    ++s.m_histogram[v];
    const int num_ranges = 20;
    int range_idx = s.m_max > 0 ? int(double(v) / double(s.m_max) * double(num_ranges)) : 0;
    KAVU_CHECK(range_idx <= num_ranges);
    if (range_idx == num_ranges) range_idx = num_ranges - 1;
    s.m_ranges[range_idx] += 1.0;
  }
  for (double& r : s.m_ranges) r /= double(n);
  return s;
}

// ---- the two files ----

void kavu_stat_each_type_sgate_oterm_fanout(CDB_SGATE_NETLIST* netlist, const char* name) {
  const std::string summary_path = std::string("sgate_fanout_stat.") + name;
  const std::string listing_path = std::string("sgate_high_fanout_stat.") + name;
  std::orlind_ofstream summary(summary_path.c_str());
  std::orlind_ofstream listing(listing_path.c_str());
  kavu_debug("Dumping fanout statistics to %s and %s", summary_path.c_str(), listing_path.c_str());

  // Listing: fan-outs of 10000 and more ascending, then 9999 down to 1;
  // netlist order within one count.
  std::vector<CDB_SGATE_OTERM*> signals;
  std::vector<std::vector<unsigned>> per_type(256);
  std::vector<unsigned> gates_per_type(256, 0), all_counts;
  unsigned all_gates = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    ++all_gates;
    const unsigned t = unsigned(g->get_sgate_type()) & 0xFF;
    ++gates_per_type[t];
    for (CDB_SGATE_OTERM* o : g->get_output_terms())
      if (o && o->has_fanout()) {
        signals.push_back(o);
        per_type[t].push_back(o->get_number_of_fanout());
        all_counts.push_back(o->get_number_of_fanout());
      }
  }
  auto rank = [](const CDB_SGATE_OTERM* o) {
    const long long f = o->get_number_of_fanout();
    return f >= 10000 ? f - (1LL << 40) : -f;
  };
  std::stable_sort(signals.begin(), signals.end(),
                   [&](const CDB_SGATE_OTERM* a, const CDB_SGATE_OTERM* b) { return rank(a) < rank(b); });
  std::string tname, cname;
  for (CDB_SGATE_OTERM* oterm : signals) {
    KAVU_CHECK(oterm != NULL);
    CDB_SGATE_NODE* g = oterm->get_my_node();
    kavu_sgate_class_name(g, cname);
    listing << "\nFanout: \t" << oterm->get_number_of_fanout() << "\t Oterm: \t" << oterm->get_string_hpath()
            << "\t on port \t" << kavu_stats_output_port_name(oterm->get_port_type()) << "\t of sgate of type \t"
            << cname << "\t" << type_name_of(g, tname) << "\t has fanout to:";
    for (CDB_SGATE_ITERM* t : oterm->fanouts()) {
      CDB_SGATE_NODE* h = t->get_my_node();
      kavu_sgate_class_name(h, cname);
      listing << "\nIterm on port \t" << kavu_stats_input_port_name(t->get_port_type()) << "\t of sgate \t"
              << h->get_string_hpath() << " \t " << h->get_debug_name() << "\t of type \t" << cname << "\t"
              << type_name_of(h, tname);
    }
  }

  // Summary: all gates, then each gate type in table order.
  if (all_gates > 0) {
    summary << "CDB_SGATE_ALL";
    write_summary_block(summary, kavu_fanout_summary(all_counts));
  }
  for (const TYPE_NAME& e : k_type_names) {
    if (gates_per_type[e.m_type] == 0) continue;
    summary << e.m_name;
    write_summary_block(summary, kavu_fanout_summary(per_type[e.m_type]));
  }
  summary.close();
  listing.close();
}

void kavu_stat_oterm_fanout(CDB_SGATE_NETLIST* netlist) {
  std::vector<unsigned> counts;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it)
      for (unsigned c : signal_counts_of(*it)) counts.push_back(c);
  KAVU_FANOUT_SUMMARY s = kavu_fanout_summary(counts);
  if (counts.empty()) s.m_mean = s.m_geomean = -1.0;
  kavu_debug("Fanout: AriMean %.2lf GeoMean %.2lf Median %g Max %lld Min %lld", s.m_mean, s.m_geomean, s.m_median,
             s.m_max, s.m_min);
  std::string line = "Fanout Dist ";
  char buf[96];
  for (int i = 0; i < 20; ++i) {
    std::snprintf(buf, sizeof buf, "%.2lf percentage %.2lf; ", i / 20.0 * 100.0, s.m_ranges[i] * 100.0);
    line += buf;
  }
  kavu_debug("%s", line.c_str());
  line = "Fanout Hist ";
  for (size_t f = 0; f < s.m_histogram.size(); ++f)
    if (s.m_histogram[f]) {
      std::snprintf(buf, sizeof buf, "F%zu N%u; ", f, s.m_histogram[f]);
      line += buf;
    }
  kavu_debug("%s", line.c_str());
}

// ---- fan-out class table ----

namespace {

constexpr int k_fo_slots = 10002;

bool row_ends_at(int k) {
  return k <= 10 || (k <= 50 && k % 5 == 0) || (k <= 100 && k % 10 == 0) || (k <= 1000 && k % 50 == 0) ||
         (k <= 10000 && k % 500 == 0) || k == 10001;
}

}  // namespace

void dump_fanout_class_stats(CDB_SGATE_NETLIST* netlist, const std::string& caller_prefix) {
  const std::string prefix_s = caller_prefix + "FANOUT ";
  const char* p = prefix_s.c_str();
  // Columns: 0 total, 1 comb drivers, 2 hard drivers, 3..7 comb by class,
  // 8..12 hard by class.
  std::vector<std::array<long long, 13>> counts(k_fo_slots);
  for (auto& row : counts) row.fill(0);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    const bool comb = kavu_stats_is_comb_driver(g);
    for (CDB_SGATE_OTERM* o : g->get_output_terms()) {
      if (!o || !o->has_fanout()) continue;
      const int k = int(std::min<unsigned>(o->get_number_of_fanout(), k_fo_slots - 1));
      const int cls = kavu_oterm_fanout_class(o);
      if (cls < 0 || cls > 4) KAVU_INTERNAL_ERROR("Unexpected fanout type");
      ++counts[k][0];
      ++counts[k][comb ? 1 : 2];
      ++counts[k][(comb ? 3 : 8) + cls];
    }
  }
  kavu_debug("%s******** Fanout stats **************", p);
  kavu_debug("%s comb      = combinational", p);
  kavu_debug("%s hard      = not comb and not secondary", p);
  kavu_debug("%s c or h    = comb or hard", p);
  kavu_debug("%s secondary = secondary signal (clock, clear, enable etc)", p);
  kavu_debug("%s mixed     = mix of the above", p);
  kavu_debug("%s|| Num fanout || total | comb  | hard  || comb->comb  | comb->hard  | comb->c or h|  comb->sec  | "
             "comb->mixed || hard->comb  | hard->hard  | hard->c or h|  hard->sec  | hard->mixed ||",
             p);
  const std::string rule = std::string("||") + std::string(179, '-') + "||";
  kavu_debug("%s%s", p, rule.c_str());
  std::array<long long, 13> sum{};
  int first = 0;
  // Map the table columns to the printed order: comb classes are printed
  // comb, hard, c or h, secondary, mixed (class numbers 0, 2, 1, 3, 4).
  const int order[5] = {KAVU_FO_COMB, KAVU_FO_HARD, KAVU_FO_COMB_OR_HARD, KAVU_FO_SECONDARY, KAVU_FO_MIXED};
  for (int k = 0; k < k_fo_slots; ++k) {
    for (int c = 0; c < 13; ++c) sum[c] += counts[k][c];
    if (!row_ends_at(k)) continue;
    if (sum[0] > 0) {
      char label[32];
      if (k == 10001)
        std::snprintf(label, sizeof label, " > %7d", 10000);
      else if (first == k)
        std::snprintf(label, sizeof label, "%10d", k);
      else
        std::snprintf(label, sizeof label, "%4d-%5d", first, k);
      kavu_debug("%s|| %s || %5lld | %5lld | %5lld || %11lld | %11lld | %11lld | %11lld | %11lld || %11lld | %11lld | "
                 "%11lld | %11lld | %11lld ||",
                 p, label, sum[0], sum[1], sum[2], sum[3 + order[0]], sum[3 + order[1]], sum[3 + order[2]],
                 sum[3 + order[3]], sum[3 + order[4]], sum[8 + order[0]], sum[8 + order[1]], sum[8 + order[2]],
                 sum[8 + order[3]], sum[8 + order[4]]);
    }
    sum.fill(0);
    first = k + 1;
  }
  kavu_debug("%s%s", p, rule.c_str());
}
