// ssc_netlist_file_test.cpp — the stored timing netlist read back from
// damaged files: counts the file cannot hold, references to nodes it does
// not have and flipped bits its digest does not match are refused, and
// nothing is held after a refusal.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gen/gen.h"
#include "msg/msg.h"
#include "platform_testkit.h"
#include "ssc/ssc.h"
#include "ssc/ssc_int.h"

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
// name" (the name is the rest) and arc lines "A source delay kind sense".
struct TDB_TEXT {
  std::vector<std::vector<std::string>> lines;

  explicit TDB_TEXT(const std::string& text) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      std::istringstream fields_in(line);
      std::vector<std::string> fields;
      const bool node = line.rfind("N ", 0) == 0;
      for (std::string f; fields.size() < 5u && fields_in >> f;) fields.push_back(f);
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
  ASSERT_EQ(stored.lines[1][0], "S");  // the stamp: "S <digest> -"

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
      {"arc sense out of range", arc, 4, 2},
      {"an arc without its sense", arc, 4, 0, " "},
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
      {"a stamp whose origin is cut", 1, 2, 0, std::string(31, '0')},
      {"a stamp whose digest is another netlist's", 1, 1, 0, std::string(32, '0')},
      {"a delay other than the one digested", arc, 2, stored.number(arc, 2) + 1},
      {"a sense other than the one digested", arc, 4, stored.number(arc, 4) == 1 ? 0 : 1},
      {"a name other than the one digested", reg, 5, 0, stored.lines[reg][5] + "x"},
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
  // A file of version 1 carries no stamp, one of version 2 a stamp of
  // another kind, one of version 3 this stamp over arcs without senses, so
  // nothing shows any is this compile's: each is read as no stored netlist,
  // without an error, and its version is told.
  SSC_NETLIST_DATA as_read;
  ASSERT_TRUE(as_read.read_file(file_of(intact)));
  const SSC_NETLIST_DIGEST v3 = ssc_netlist_file_digest(as_read);
  char v3_text[40];
  std::snprintf(v3_text, sizeof v3_text, "%016llx%016llx", static_cast<unsigned long long>(v3.hi),
                static_cast<unsigned long long>(v3.lo));
  for (const char* version : {"1", "2", "3"}) {
    SCOPED_TRACE(version);
    TDB_TEXT old = stored;
    old.lines[0][1] = version;
    if (std::string(version) == "1") old.lines.erase(old.lines.begin() + 1);
    else if (std::string(version) == "2") old.lines[1] = {"S", "-", "1", std::string(32, 'a')};
    else old.lines[1][1] = v3_text;
    for (auto& fields : old.lines)
      if (fields[0] == "A") fields.resize(4);
    std::ofstream(file_of(damaged), std::ios::trunc) << old.text();
    msg_log_clear();
    EXPECT_FALSE(TDB_MANAGER::get()->sgate_sta_netlist_on_disk(&damaged));
    EXPECT_EQ(TDB_MANAGER::get()->sgate_sta_netlist_version(&damaged), std::stoi(version));
    EXPECT_FALSE(u->read_tdb_from_pdb(&damaged));
    EXPECT_FALSE(u->is_in_use());
    EXPECT_TRUE(msg_log().empty());
  }
  EXPECT_EQ(TDB_MANAGER::get()->sgate_sta_netlist_version(&intact), SSC_TDB_FILE_VERSION);
}

// Every single-bit flip of a small stored file: a read either refuses the
// text or gives the netlist that was written (names, kinds, clocks, arcs
// and delays), never another. A flip that passes is one the format does
// not read (a line end that becomes another blank between records) or one
// in the origin's digest, which then names no stored netlist.
TEST(SscNetlistFile, EveryBitFlipIsRefusedOrReadsTheSameNetlist) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* r1 = make_dff(&nl, make_input_pin(&nl, "a"), clk);
  make_output_pin(&nl, "q", make_dff(&nl, make_lut(&nl, {make_not(&nl, r1), r1}, 0x6), clk));
  SSC_NETLIST_DATA written;
  written.build({&nl}, ssc_make_delays(nullptr, SSC_DELAY_MODEL_UNIT_FANOUT));
  written.drop_gate_pointers();
  written.stamp.from_generic = true;
  written.stamp.generic = SSC_NETLIST_DIGEST{0x0123456789abcdefull, 0xfedcba9876543210ull};
  ASSERT_TRUE(written.write_file("flips.tdb"));
  const std::string text = read_text("flips.tdb");
  ASSERT_LT(text.size(), 2000u);
  auto same = [&](const SSC_NETLIST_DATA& d) {
    if (d.nodes.size() != written.nodes.size() || d.arcs.size() != written.arcs.size()) return false;
    for (size_t i = 0; i < d.nodes.size(); ++i) {
      const TDB_NODE &a = d.nodes[i], &b = written.nodes[i];
      if (a.get_string_name() != b.get_string_name() || a.get_kind() != b.get_kind() ||
          a.get_clock_source() != b.get_clock_source() || a.clock_is_inverted() != b.clock_is_inverted() ||
          SSC_NETLIST_DATA::arc_begin(a) != SSC_NETLIST_DATA::arc_begin(b) ||
          SSC_NETLIST_DATA::arc_end(a) != SSC_NETLIST_DATA::arc_end(b))
        return false;
    }
    for (size_t k = 0; k < d.arcs.size(); ++k)
      if (d.arcs[k].m_src != written.arcs[k].m_src || d.arcs[k].m_delay != written.arcs[k].m_delay ||
          d.arcs[k].m_kind != written.arcs[k].m_kind || d.arcs[k].m_sense != written.arcs[k].m_sense)
        return false;
    return true;
  };
  {
    SSC_NETLIST_DATA back;
    std::string why;
    ASSERT_TRUE(back.read_text(text, &why)) << why;
    ASSERT_TRUE(same(back));
    EXPECT_TRUE(back.stamp.known && back.stamp.from_generic && back.stamp.generic == written.stamp.generic);
  }
  size_t refused = 0, passed = 0;
  for (size_t at = 0; at < text.size(); ++at)
    for (int bit = 0; bit < 8; ++bit) {
      std::string flipped = text;
      flipped[at] = char(flipped[at] ^ (1 << bit));
      SSC_NETLIST_DATA back;
      std::string why;
      if (!back.read_text(flipped, &why)) {
        ++refused;
        continue;
      }
      ++passed;
      EXPECT_TRUE(same(back)) << "byte " << at << " bit " << bit;
    }
  EXPECT_GT(refused, 7 * text.size());
  // Through the engine the damage is an error naming the file.
  std::string flipped = text;
  const size_t delay = flipped.find(' ', flipped.find("\nA ") + 3) + 1;  // its first digit
  flipped[delay] = char(flipped[delay] ^ 1);
  std::filesystem::create_directories(gen_get_db_dir_path());
  std::ofstream(file_of("flipped"), std::ios::trunc) << flipped;
  std::string part = "flipped";
  msg_log_clear();
  SSC_UTIL* u = ssc_get_util();
  EXPECT_FALSE(u->read_tdb_from_pdb(&part));
  EXPECT_FALSE(u->is_in_use());
  const std::vector<MSG_LOG_ENTRY> log = msg_log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].text.find("does not match the digest its stamp carries"), std::string::npos) << log[0].text;
}
