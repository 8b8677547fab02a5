// ssc_netlist_file_test.cpp — the stored timing netlist read back from
// damaged files: counts the file cannot hold and references to nodes it
// does not have are refused, and nothing is held after a refusal.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gen/gen.h"
#include "msg/msg.h"
#include "platform_testkit.h"
#include "ssc/ssc.h"

using namespace kavu_platform;

namespace {

std::string file_of(const std::string& part) { return gen_get_db_dir_path() + "/tdb_" + part + ".tdb"; }

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The file as lines, each split into its leading fields and the rest: the
// header "TDB version nodes arcs", node lines "N kind clock inverted arcs
// name" (the name is the rest) and arc lines "A source delay kind".
struct TDB_TEXT {
  std::vector<std::vector<std::string>> lines;

  explicit TDB_TEXT(const std::string& text) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      std::istringstream fields_in(line);
      std::vector<std::string> fields;
      const bool node = line.rfind("N ", 0) == 0;
      for (std::string f; fields.size() < (node ? 5u : 4u) && fields_in >> f;) fields.push_back(f);
      if (node && fields_in.get() == ' ') {
        std::string name;
        std::getline(fields_in, name);
        fields.push_back(name);
      }
      lines.push_back(fields);
    }
  }
  std::string text() const {
    std::string out;
    for (const auto& fields : lines) {
      for (size_t k = 0; k < fields.size(); ++k) out += (k ? " " : "") + fields[k];
      out += "\n";
    }
    return out;
  }
  long number(size_t line, size_t field) const { return std::stol(lines[line][field]); }
  // The first line of that tag after the header whose field satisfies `pred`.
  template <class PRED>
  size_t find(const char* tag, size_t field, PRED pred) const {
    for (size_t k = 1; k < lines.size(); ++k)
      if (lines[k][0] == tag && pred(number(k, field))) return k;
    return 0;
  }
};

}  // namespace

// A pipeline's timing netlist stored, then read back with one field damaged:
// a clock or arc source naming the node count or beyond, node and arc counts
// off by one either way, an arc count of a node past its arcs, a kind out of
// range, a malformed stamp. Each is refused, and the engine holds no netlist
// afterwards.
TEST(SscNetlistFile, DamagedCountsAndReferencesAreRefused) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* r1 = make_dff(&nl, make_input_pin(&nl, "a"), clk);
  make_output_pin(&nl, "q", make_dff(&nl, make_not(&nl, r1), clk));
  std::ofstream("t_file.sdc") << "create_clock -name clk -period 10 [get_ports clk]\n";
  CFG_SCOPE cfg{{"ssc_sdc_file", "t_file.sdc"}};
  SSC_UTIL* u = ssc_get_util();
  ASSERT_TRUE(u->initialize_netlist(nullptr, &nl, SSC_DELAY_MODEL_UNIT, nullptr));
  std::string intact = "intact", damaged = "damaged";
  ASSERT_TRUE(u->write_tdb_to_pdb(&intact));
  u->delete_netlist();
  const TDB_TEXT stored(read_text(file_of(intact)));
  ASSERT_GE(stored.lines.size(), 2u);
  ASSERT_EQ(stored.lines[0][0], "TDB");
  const long nodes = stored.number(0, 2), arcs = stored.number(0, 3);
  const size_t reg = stored.find("N", 2, [](long c) { return c >= 0; });  // a node with a clock
  const size_t with_arcs = stored.find("N", 4, [](long n) { return n > 0; });
  const size_t arc = stored.find("A", 1, [](long) { return true; });
  ASSERT_TRUE(reg && with_arcs && arc) << stored.text();
  ASSERT_EQ(stored.lines[1][0], "S");  // the stamp: "S - <count> <digests>"

  // The file as written, and as rewritten from its fields, reads back whole.
  std::ofstream(file_of(damaged), std::ios::trunc) << stored.text();
  for (std::string* part : {&intact, &damaged}) {
    ASSERT_TRUE(u->read_tdb_from_pdb(part)) << *part;
    EXPECT_EQ(long(u->get_tdb_netlist()->get_node_count()), nodes);
    u->delete_netlist();
  }

  struct DAMAGE {
    const char* what;
    size_t line, field;
    long value;
    std::string text = "";  // when given, the field's text instead of the value
  };
  const DAMAGE damages[] = {
      {"clock equal to the node count", reg, 2, nodes},
      {"clock past the node count", reg, 2, nodes + 5},
      {"clock below none", reg, 2, -2},
      {"arc source equal to the node count", arc, 1, nodes},
      {"arc kind out of range", arc, 3, 3},
      {"node kind out of range", reg, 1, 4},
      {"one node more than the file holds", 0, 2, nodes + 1},
      {"one node fewer than the file holds", 0, 2, nodes - 1},
      {"one arc more than the file holds", 0, 3, arcs + 1},
      {"one arc fewer than the file holds", 0, 3, arcs - 1},
      {"a node with one arc more than follow it", with_arcs, 4, stored.number(with_arcs, 4) + 1},
      {"a node count no file can hold", 0, 2, 1L << 40},
      {"a NUL byte in a node name", reg, 5, 0, "r" + std::string(1, '\0') + "x"},
      {"a delay past 32 bits", arc, 2, 1L << 32},
      {"a word that is no number", arc, 2, 0, "12x"},
      {"a stamp digest that is not hexadecimal", 1, 1, 0, std::string(31, '0') + "g"},
      {"a stamp counting more interfaces than it holds", 1, 2, stored.number(1, 2) + 1},
      {"a stamp without interfaces that holds one", 1, 2, 0},
  };
  for (const DAMAGE& d : damages) {
    SCOPED_TRACE(d.what);
    TDB_TEXT text = stored;
    text.lines[d.line][d.field] = d.text.empty() ? std::to_string(d.value) : d.text;
    std::ofstream(file_of(damaged), std::ios::trunc) << text.text();
    msg_log_clear();
    EXPECT_FALSE(u->read_tdb_from_pdb(&damaged)) << text.text();
    EXPECT_FALSE(u->is_in_use());
    // The user is told which file and where it is damaged.
    const std::vector<MSG_LOG_ENTRY> log = msg_log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].text.rfind("Timing-netlist file \"" + file_of(damaged) + "\": line ", 0), 0u) << log[0].text;
    u->delete_netlist();
  }
  // A file of version 1 carries no stamp, so nothing shows it is this
  // compile's: it is read as no stored netlist, without an error.
  TDB_TEXT old = stored;
  old.lines[0][1] = "1";
  old.lines.erase(old.lines.begin() + 1);
  std::ofstream(file_of(damaged), std::ios::trunc) << old.text();
  msg_log_clear();
  EXPECT_FALSE(TDB_MANAGER::get()->sgate_sta_netlist_on_disk(&damaged));
  EXPECT_FALSE(u->read_tdb_from_pdb(&damaged));
  EXPECT_FALSE(u->is_in_use());
  EXPECT_TRUE(msg_log().empty());
}
