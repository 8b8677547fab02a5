// Tests of the fan-out statistics: value summaries, the per-type and
// listing files (on mcnc/s298 and on hand-built fan-outs across the
// 10000 boundary), fan-out classes and the class table's rows.
#include <fstream>
#include <sstream>

#include "kavu_stats_test_support.h"

using namespace kavu_platform;
using namespace kavu_stats_test;

namespace {

class KavuStatsFanout : public STATS_TEST {};

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A pin driving `n` new AND gates (each reading it twice is avoided: one
// input from the pin, one from a shared second pin).
CDB_SGATE_NODE* fan_out(CDB_SGATE_NETLIST* nl, CDB_SGATE_NODE* other, int n, const char* name) {
  CDB_SGATE_NODE* p = make_input_pin(nl, name);
  for (int i = 0; i < n; ++i) make_and(nl, p, other);
  return p;
}

}  // namespace

TEST_F(KavuStatsFanout, ValueSummaries) {
  const struct {
    std::vector<unsigned> values;
    double median;
    long long min, max;
  } cases[] = {{{1, 2, 3, 4}, 2.5, 1, 4}, {{4, 1, 3}, 3.0, 1, 4}, {{7, 5}, 6.0, 5, 7}, {{}, -1.0, -1, -1}};
  for (const auto& c : cases) {
    const KAVU_FANOUT_SUMMARY s = kavu_fanout_summary(c.values);
    EXPECT_DOUBLE_EQ(s.m_median, c.median);
    // -1 means "no value": the minimum is the smallest value, not -1.
    EXPECT_EQ(s.m_min, c.min);
    EXPECT_EQ(s.m_max, c.max);
  }
  // Ranges by double division: 1 of maximum 2 is the 50 % band, and the
  // maximum itself lands in band 19, not 20.
  const KAVU_FANOUT_SUMMARY r = kavu_fanout_summary({1, 2});
  EXPECT_DOUBLE_EQ(r.m_ranges[10], 0.5);
  EXPECT_DOUBLE_EQ(r.m_ranges[19], 0.5);
  EXPECT_DOUBLE_EQ(r.m_ranges[0], 0.0);
  // The geometric mean stays finite through the rescaling and needs the
  // exponent divided as a double.
  EXPECT_NEAR(kavu_fanout_summary(std::vector<unsigned>(1000000, 100)).m_geomean, 100.0, 1e-6);
  EXPECT_NEAR(kavu_fanout_summary({100000, 100000, 100000}).m_geomean, 100000.0, 1e-6);
  EXPECT_NEAR(kavu_fanout_summary({2, 8}).m_geomean, 4.0, 1e-12);
}

TEST_F(KavuStatsFanout, TypeNamesAndClasses) {
  std::string s = "previous";
  kavu_convert_sgate_type_enum_2_string(CDB_SGATE_TYPE(8), s);
  EXPECT_EQ(s, "UNKNOWN");
  kavu_convert_sgate_type_enum_2_string(CDB_SGATE_TYPE(66), s);
  EXPECT_EQ(s, "UNKNOWN");
  kavu_convert_sgate_type_enum_2_string(CDB_SGATE_LUT_ENUM, s);
  EXPECT_EQ(s, "CDB_SGATE_LUT_ENUM");
  kavu_convert_sgate_type_enum_2_string(CDB_SGATE_TYPE(62), s);
  EXPECT_EQ(s, "CDB_SGATE_WYSIWYG_DDIO_OE_ENUM");

  // Readers of one signal: LUT (comb), register data (hard), register
  // clock (secondary).
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* x = make_input_pin(&nl, "x");
  CDB_SGATE_NODE* y = make_input_pin(&nl, "y");
  const struct {
    bool lut, data, clock;
    int cls;
  } cases[] = {{true, false, false, KAVU_FO_COMB},         {false, true, false, KAVU_FO_HARD},
               {false, false, true, KAVU_FO_SECONDARY},    {true, true, false, KAVU_FO_COMB_OR_HARD},
               {true, false, true, KAVU_FO_MIXED},         {false, true, true, KAVU_FO_MIXED}};
  for (const auto& c : cases) {
    CDB_SGATE_NODE* s_pin = make_input_pin(&nl, "s");
    if (c.lut) make_lut(&nl, {s_pin, y}, 0x8);
    if (c.data) make_dff(&nl, s_pin, x);
    if (c.clock) make_dff(&nl, y, s_pin);
    EXPECT_EQ(kavu_oterm_fanout_class(out(s_pin)), c.cls) << c.lut << c.data << c.clock;
  }
  EXPECT_EQ(std::string(kavu_sgate_class_name(kavu_sgate_class_index(x))), "IO");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_oterm_fanout_class(out(make_input_pin(&nl, "dead"))), "has_fanout");
}

// mcnc/s298: the histogram of all signals sums to the signal count, in the
// file and in the summary.
TEST_F(KavuStatsFanout, S298Files) {
  auto nl = load_blif("mcnc/s298");
  std::vector<unsigned> counts;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    for (CDB_SGATE_OTERM* o : (*it)->get_output_terms())
      if (o && o->has_fanout()) counts.push_back(o->get_number_of_fanout());
  const KAVU_FANOUT_SUMMARY s = kavu_fanout_summary(counts);
  unsigned sum = 0;
  for (unsigned c : s.m_histogram) sum += c;
  EXPECT_EQ(sum, counts.size());

  DEBUG_CAPTURE cap("KAVU");
  kavu_stat_each_type_sgate_oterm_fanout(nl.get(), "s298");
  EXPECT_TRUE(cap.contains("Dumping fanout statistics to sgate_fanout_stat.s298 and sgate_high_fanout_stat.s298"));
  std::istringstream in(read_file("sgate_fanout_stat.s298"));
  std::string title, line;
  std::getline(in, title);
  EXPECT_EQ(title, "CDB_SGATE_ALL");
  std::getline(in, line);  // Avg ... Min ...
  EXPECT_EQ(line.rfind("Avg ", 0), 0u);
  std::getline(in, line);  // Fanout\t...
  std::getline(in, line);  // Num_oterm\t...
  std::istringstream nums(line.substr(std::string("Num_oterm\t").size()));
  unsigned file_sum = 0, v;
  while (nums >> v) file_sum += v;
  EXPECT_EQ(file_sum, counts.size());
  const std::string all = read_file("sgate_fanout_stat.s298");
  EXPECT_NE(all.find("\nCDB_SGATE_LUT_ENUM\n"), std::string::npos);
  EXPECT_NE(all.find("\nCDB_SGATE_DFF_ENUM\n"), std::string::npos);
  // Listing: one "Fanout:" record per signal.
  const std::string listing = read_file("sgate_high_fanout_stat.s298");
  size_t records = 0;
  for (size_t at = listing.find("\nFanout: "); at != std::string::npos; at = listing.find("\nFanout: ", at + 1))
    ++records;
  EXPECT_EQ(records, counts.size());
}

// Listing order across the 10000 boundary, and the class table's rows.
TEST_F(KavuStatsFanout, ListingOrderAndClassTableRows) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* other = make_input_pin(&nl, "other");
  for (int n : {1, 12, 14, 55, 9999, 10000}) fan_out(&nl, other, n, ("f" + std::to_string(n)).c_str());
  fan_out(&nl, other, 20000, "first20000");
  fan_out(&nl, other, 20000, "second20000");
  kavu_stat_each_type_sgate_oterm_fanout(&nl, "t");
  const std::string listing = read_file("sgate_high_fanout_stat.t");
  auto at = [&](const char* name) { return listing.find(std::string("top|") + name + "\t"); };
  // 10000 and more ascending (netlist order within a count), then the rest
  // descending.
  EXPECT_LT(at("f10000"), at("first20000"));
  EXPECT_LT(at("first20000"), at("second20000"));
  EXPECT_LT(at("second20000"), at("f9999"));
  EXPECT_LT(at("f9999"), at("f55"));
  EXPECT_LT(at("f14"), at("f12"));
  EXPECT_LT(at("f12"), at("f1"));

  DEBUG_CAPTURE cap("KAVU");
  dump_fanout_class_stats(&nl, "P ");
  const auto rows = lines_with(cap, "P FANOUT || ");
  // 1 (the single reader), 11-15 (12 and 14), 51-60, 9501-10000 (9999 and
  // 10000), > 10000; plus the AND gates' own outputs have no fan-out.
  const std::vector<std::string> labels = {"         1", "  11-   15", "  51-   60", "9501-10000", " >   10000"};
  ASSERT_EQ(rows.size(), labels.size() + 1);  // the header row
  for (size_t i = 0; i < labels.size(); ++i) EXPECT_EQ(rows[i + 1].substr(12, 10), labels[i]) << rows[i + 1];
  EXPECT_NE(rows[2].find("||     2 |     0 |     2 ||"), std::string::npos) << rows[2];
  EXPECT_NE(rows[5].find("||     3 |     0 |     3 ||"), std::string::npos) << rows[5];  // with "other"
}

TEST_F(KavuStatsFanout, DebugLines) {
  CDB_SGATE_NETLIST empty;
  DEBUG_CAPTURE cap("KAVU");
  kavu_stat_oterm_fanout(&empty);
  EXPECT_TRUE(cap.contains("Fanout: AriMean -1.00 GeoMean -1.00 Median -1 Max -1 Min -1"));
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* other = make_input_pin(&nl, "other");
  fan_out(&nl, other, 3, "a");
  kavu_stat_oterm_fanout(&nl);
  // "other" feeds 3 gates too: two signals of fan-out 3.
  EXPECT_TRUE(cap.contains("Fanout: AriMean 3.00 GeoMean 3.00 Median 3 Max 3 Min 3"));
  EXPECT_TRUE(cap.contains("Fanout Hist F3 N2; "));
  EXPECT_TRUE(cap.contains("95.00 percentage 100.00; "));
}
