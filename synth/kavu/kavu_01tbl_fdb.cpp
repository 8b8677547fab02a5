// kavu_01tbl_fdb.cpp — the function database KAVU_FDB: canonical table to
// encoded LUT network, its hit counts, merging, and its text file.
//
// Model (see kavu_01tbl_fdb.h): a ZTL_HASH of 61 buckets from key table to
//   network, both owned by the database; m_space is the code-area size in
//   bytes, kept up to date by deposit; the change count records additions
//   and replacements since the last clear.
// Hit counts: adding two counts, or counting one more use, saturates at the
//   largest count the network header holds (0x3FFFFF); a heavily used
//   database keeps working rather than failing on its own statistics.
// Reading: the file is read into a temporary list first. Words are strict
//   unsigned decimals, one per line (surrounding blanks and a carriage
//   return allowed, at most 255 characters); a line that is not a number,
//   a file that ends early, a code area that is not a whole number of words
//   or that the entries do not fill exactly, a table of more than 15
//   variables, a network whose fan-in count differs from its table's
//   variable count, a LUT record of more than six inputs or with a source
//   code outside its network make the file damaged: read returns false and
//   deposits nothing. Only a fully valid file is deposited.
// Cost: deposit and find O(table words) expected; read and write linear in
//   the file; nothing is allocated per word beyond the code list.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_01tbl_fdb.h"
#include "kavu_helper.h"
#include "kavu_msg.h"

namespace {

constexpr unsigned int SIGNATURE0 = 0x564B454Du;  // "VKEM"
constexpr unsigned int SIGNATURE1 = 0x4D454B56u;  // "MEKV"
constexpr unsigned int HEADER_WORDS = 32;
constexpr unsigned int MAX_LINE = 255;
constexpr unsigned int MAX_LIST_LINE = 1023;
// The largest variable count a stored table may have: the network header
// holds at most 15 fan-ins.
constexpr unsigned int MAX_TABLE_VARS = 15;
constexpr unsigned int MAX_HITS = KAVU_ENCNET::max_num_hits() - 1;
constexpr unsigned int HIT_BINS = 1025;

int read_debug_key() { return cfg_get_int_value("kavu_01tbl_debug", 0); }

unsigned int table_words(unsigned int n) { return n <= 5 ? 1u : 1u << (n - 5); }

unsigned int valid_bits(unsigned int n) { return n >= 5 ? 0xFFFFFFFFu : (1u << (1u << n)) - 1u; }

// A copy of tbl with the bits outside its function cleared, so that the
// stored key's raw words are exactly its function.
KAVU_01TBL* clean_copy(const KAVU_01TBL& tbl) {
  KAVU_01TBL* copy = new KAVU_01TBL(tbl);
  copy->set_word(0, copy->word(0) & valid_bits(copy->num_vars()));
  return copy;
}

// Strict parse of one unsigned 32-bit decimal with optional surrounding
// blanks and a final carriage return.
bool parse_word(const std::string& line, unsigned int& value) {
  size_t i = 0;
  const size_t end = line.size();
  while (i < end && (line[i] == ' ' || line[i] == '\t')) ++i;
  if (i == end || line[i] < '0' || line[i] > '9') return false;
  uint64_t v = 0;
  while (i < end && line[i] >= '0' && line[i] <= '9') {
    v = v * 10 + static_cast<unsigned int>(line[i] - '0');
    if (v > 0xFFFFFFFFull) return false;
    ++i;
  }
  while (i < end && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
  if (i != end) return false;
  value = static_cast<unsigned int>(v);
  return true;
}

// Lines of a database file as words. next() is false at the end of the file
// and on a line that is not a valid word; it never loops on a failed stream.
class WORD_READER {
 public:
  explicit WORD_READER(std::istream& in) : m_in(in) {}
  bool next(unsigned int& value) {
    if (!std::getline(m_in, m_line)) return false;
    return m_line.size() <= MAX_LINE && parse_word(m_line, value);
  }
  // Skips lines up to and including the first that holds value.
  bool skip_to(unsigned int value) {
    while (std::getline(m_in, m_line)) {
      unsigned int w = 0;
      if (parse_word(m_line, w) && w == value) return true;
    }
    return false;
  }

 private:
  std::istream& m_in;
  std::string m_line;
};

struct FDB_ENTRY {
  std::unique_ptr<KAVU_01TBL> m_tbl;
  std::unique_ptr<KAVU_ENCNET> m_net;
};

// Whether the LUT records of a network read from a file are well formed.
bool valid_lut_records(const KAVU_ENCNET& net) {
  const unsigned int order = KAVU_ENCNET::first_fanin_code() + net.num_fanins() + net.num_luts();
  for (unsigned int l = 0; l < net.num_luts(); ++l) {
    const unsigned int rec = KAVU_ENCNET::header_len() + KAVU_ENCNET::lut_len() * l;
    const unsigned int p = net.word(rec);
    if (p > 6) return false;
    for (unsigned int j = 0; j < p; ++j) {
      if (net.word(rec + 3 + j) >= order) return false;
    }
  }
  return true;
}

// Parses one entry at codes[index]; advances index past it. False when the
// entry is damaged or runs past the code area.
bool parse_entry(const std::vector<unsigned int>& codes, size_t& index, FDB_ENTRY& entry) {
  const size_t size = codes.size();
  if (index >= size) return false;
  const unsigned int n = codes[index];
  if (n > MAX_TABLE_VARS) return false;
  const unsigned int len = table_words(n);
  if (size - index - 1 < len + KAVU_ENCNET::header_len()) return false;
  entry.m_tbl = std::make_unique<KAVU_01TBL>(n);
  for (unsigned int w = 0; w < len; ++w) entry.m_tbl->set_word(w, codes[index + 1 + w]);
  entry.m_tbl->set_word(0, entry.m_tbl->word(0) & valid_bits(n));
  index += 1 + len;

  const unsigned int header = codes[index];
  const unsigned int num_luts = (header & KAVU_ENCNET::lut_bit_mask()) >> KAVU_ENCNET::lut_bit0();
  const unsigned int net_len = KAVU_ENCNET::header_len() + KAVU_ENCNET::lut_len() * num_luts;
  if (size - index < net_len) return false;
  entry.m_net = std::make_unique<KAVU_ENCNET>(num_luts);
  for (unsigned int w = 0; w < net_len; ++w) entry.m_net->set_word(w, codes[index + w]);
  index += net_len;
  return entry.m_net->num_fanins() == n && valid_lut_records(*entry.m_net);
}

}  // namespace

// ---- construction -------------------------------------------------------------------------

KAVU_FDB::KAVU_FDB() : m_debug(read_debug_key()), m_space(0), m_change_count(0), m_hash(61) {}

KAVU_FDB::KAVU_FDB(const char* path) : KAVU_FDB() { read(path); }

KAVU_FDB::KAVU_FDB(const KAVU_FDB& other)
    : m_debug(other.m_debug), m_space(other.m_space), m_change_count(other.m_change_count),
      m_hash(other.m_hash.bucket_count()) {
  copy_entries(other);
}

KAVU_FDB& KAVU_FDB::operator=(const KAVU_FDB& other) {
  if (this == &other) return *this;
  free_entries();
  m_debug = other.m_debug;
  m_space = other.m_space;
  m_change_count = other.m_change_count;
  copy_entries(other);
  return *this;
}

KAVU_FDB::~KAVU_FDB() { free_entries(); }

void KAVU_FDB::free_entries() {
  for (auto& node : m_hash) {
    delete node.first;
    delete node.second;
  }
  m_hash.clear();
}

void KAVU_FDB::copy_entries(const KAVU_FDB& other) {
  for (const auto& node : other.m_hash) m_hash.insert(new KAVU_01TBL(*node.first), new KAVU_ENCNET(*node.second));
}

unsigned int KAVU_FDB::calc_mem_space() const {
  unsigned int num_bytes = 0;
  for (const auto& node : m_hash) num_bytes += node.first->mem_space() + node.second->mem_space();
  return num_bytes;
}

// ---- entries ----------------------------------------------------------------------------------

bool KAVU_FDB::deposit(KAVU_01TBL& tbl, KAVU_ENCNET& net, bool keep_cheaper) {
  KAVU_CHECK(tbl.num_vars() == net.num_fanins());
  bool changed = true;
  KAVU_ENCNET* stored = nullptr;
  TABLE_HASH::NODE* node = m_hash.find_node(&tbl, ZTL_OPS<KAVU_01TBL*>::hash(&tbl));
  if (node != nullptr) {
    stored = node->second;
    const unsigned int hits = std::min(stored->num_hits() + net.num_hits(), MAX_HITS);
    changed = !keep_cheaper || net.area_cost() < stored->area_cost();
    if (changed && stored != &net) {
      m_space += 36 * net.num_luts();
      m_space -= 36 * stored->num_luts();
      *stored = net;
    }
    if (changed) ++m_change_count;
    stored->set_num_hits(hits);
  } else {
    stored = new KAVU_ENCNET(net);
    m_hash.insert(clean_copy(tbl), stored);
    m_space += tbl.mem_space() + net.mem_space();
    ++m_change_count;
  }
  if (KAVU_01TBL::debug_level() >= 2) {
    kavu_debug("Deposited net for table (hit count %d):", static_cast<int>(stored->num_hits()));
    tbl.dump();
    stored->dump();
  }
  return changed;
}

KAVU_ENCNET* KAVU_FDB::find(KAVU_01TBL* tbl) {
  KAVU_CHECK(tbl != nullptr);
  TABLE_HASH::NODE* node = m_hash.find_node(tbl, ZTL_OPS<KAVU_01TBL*>::hash(tbl));
  return node != nullptr ? node->second : nullptr;
}

KAVU_ENCNET* KAVU_FDB::lookup(KAVU_01TBL* tbl) {
  KAVU_ENCNET* net = find(tbl);
  if (net == nullptr) return nullptr;
  if (net->num_hits() < MAX_HITS) net->inc_num_hits();
  if (KAVU_01TBL::debug_level() >= 2) {
    kavu_debug("Looked up net for table (num hits = %d):", static_cast<int>(net->num_hits()));
    tbl->dump();
    net->dump();
  }
  return net;
}

KAVU_ENCNET* KAVU_FDB::find(KAVU_01TBL* tbl, bool* output_phase, std::vector<unsigned int>& var_map,
                            std::vector<bool>& phase) {
  KAVU_CHECK(tbl != nullptr && output_phase != nullptr);
  KAVU_01TBL canon(*tbl);
  *output_phase = canon.canonical(var_map, phase);
  return find(&canon);
}

KAVU_ENCNET* KAVU_FDB::lookup(KAVU_01TBL* tbl, bool* output_phase, std::vector<unsigned int>& var_map,
                              std::vector<bool>& phase) {
  KAVU_CHECK(tbl != nullptr && output_phase != nullptr);
  KAVU_01TBL canon(*tbl);
  *output_phase = canon.canonical(var_map, phase);
  return lookup(&canon);
}

bool KAVU_FDB::exists(KAVU_01TBL* tbl) const {
  KAVU_CHECK(tbl != nullptr);
  return m_hash.exists(tbl);
}

void KAVU_FDB::functions(std::vector<KAVU_01TBL*>& tables) const {
  tables.clear();
  tables.reserve(m_hash.size());
  for (const auto& node : m_hash) tables.push_back(node.first);
}

void KAVU_FDB::reset_hits() {
  for (auto& node : m_hash) node.second->set_num_hits(0);
}

void KAVU_FDB::merge(KAVU_FDB& other) {
  m_change_count = 0;
  std::vector<KAVU_01TBL*> tables;
  other.functions(tables);
  for (KAVU_01TBL* tbl : tables) {
    KAVU_ENCNET* net = other.find(tbl);
    if (m_debug > 0) {
      KAVU_CHECK(other.exists(tbl));
      KAVU_CHECK(tbl->num_vars() == net->num_fanins());
    }
    deposit(*tbl, *net, true);
  }
  if (m_debug > 0)
    kavu_debug("Merge FDB entry %d actual %d", static_cast<int>(tables.size()), static_cast<int>(m_change_count));
}

// ---- file -----------------------------------------------------------------------------------------

bool KAVU_FDB::write(const char* path) const {
  if (m_debug > 1) {
    const unsigned int num_bytes = calc_mem_space();
    KAVU_CHECK(m_space == num_bytes);
  }
  std::orlind_ofstream out;
  out.open(path);
  if (out.fail()) return false;

  std::vector<unsigned int> codes = {SIGNATURE0, SIGNATURE1, Z_stamp(), T_stamp(), m_hash.size(), m_space};
  KAVU_CHECK(codes.size() == used_header_len());
  for (unsigned int k = used_header_len(); k < reserved_header_len(); ++k)
    codes.push_back((codes[k - 5] >> 2) ^ (codes[k - 6] << 2));
  for (const auto& node : m_hash) {
    node.first->dump(codes);
    node.second->dump(codes);
  }
  const size_t database_size = reserved_header_len() + m_space / 4;
  KAVU_CHECK(codes.size() == database_size);
  for (unsigned int w : codes) out << w << '\n';
  out.close();  // the file is written whole here, or left as it was (warned of)
  return !out.fail();
}

bool KAVU_FDB::read(const char* path) {
  KAVU_CHECK(path != nullptr);
  std::orlind_ifstream in;
  in.open(path);
  if (in.fail()) {
    kavu_debug("can't open file %s", path);
    return false;
  }
  WORD_READER reader(in);
  unsigned int header[HEADER_WORDS] = {SIGNATURE0};
  if (!reader.skip_to(SIGNATURE0)) return false;
  for (unsigned int k = 1; k < HEADER_WORDS; ++k) {
    if (!reader.next(header[k])) return false;
  }
  if (header[1] != SIGNATURE1 || header[2] != Z_stamp() || header[3] != T_stamp()) return false;
  const unsigned int num_entries = header[4];
  const unsigned int space = header[5];
  if (num_entries == 0) return true;
  if (space % 4 != 0) return false;

  // The code area, read word by word so that a damaged size never
  // allocates more than the file holds.
  std::vector<unsigned int> codes;
  codes.reserve(std::min(space / 4, 1u << 16));
  for (unsigned int i = 0; i < space / 4; ++i) {
    unsigned int w = 0;
    if (!reader.next(w)) return false;
    codes.push_back(w);
  }
  std::vector<FDB_ENTRY> entries(std::min<size_t>(num_entries, codes.size()));
  if (entries.size() != num_entries) return false;  // each entry needs words
  size_t index = 0;
  for (FDB_ENTRY& entry : entries) {
    if (!parse_entry(codes, index, entry)) return false;
  }
  if (index != codes.size()) return false;

  m_change_count = 0;
  unsigned int hit_total = 0;
  unsigned int num_new = 0;
  for (FDB_ENTRY& entry : entries) {
    KAVU_01TBL& tbl = *entry.m_tbl;
    KAVU_CHECK(m_debug<=1 || tbl.is_canonical());
    if (m_debug > 0) {
      const unsigned int hit = entry.m_net->num_hits();
      KAVU_CHECK(hit>0);
      hit_total += hit;
      if (!exists(&tbl)) ++num_new;
    }
    deposit(tbl, *entry.m_net, true);
  }
  if (m_debug > 0) {
    kavu_debug("Read FDB entry %d actual %d from %s", static_cast<int>(num_entries),
               static_cast<int>(m_change_count), path);
    kavu_debug("FDB Hits %d Resyn %d G_resyn %d", static_cast<int>(hit_total),
               static_cast<int>(entries.size()), static_cast<int>(num_new));
  }
  return true;
}

int KAVU_FDB::read_all(const char* list_path) {
  KAVU_CHECK(list_path != nullptr);
  std::orlind_ifstream in;
  in.open(list_path);
  if (in.fail()) {
    kavu_debug("can't open file %s", list_path);
    return 0;
  }
  // read clears the change count per file; the total covers the whole list.
  unsigned int changes = 0;
  int num_read = 0;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() <= MAX_LIST_LINE && read(line.c_str())) {
      ++num_read;
      changes += m_change_count;
    } else {
      kavu_debug("fail to read fdb %s", line.c_str());
    }
  }
  m_change_count = changes;
  return num_read;
}

// ---- reports ------------------------------------------------------------------------------------

void KAVU_FDB::report_status() const {
  std::vector<unsigned int> bins(HIT_BINS, 0);
  for (const auto& node : m_hash) ++bins[std::min<unsigned int>(node.second->num_hits(), HIT_BINS - 1)];
  kavu_debug("total_num_func %d mem_space %d change_count %d", static_cast<int>(m_hash.size()),
             static_cast<int>(m_space), static_cast<int>(m_change_count));
  for (unsigned int b = 0; b < HIT_BINS; ++b) {
    if (bins[b] != 0) kavu_debug("hit %d num_func %d", static_cast<int>(b), static_cast<int>(bins[b]));
  }
}

void KAVU_FDB::dump() const {
  kavu_debug("total_num_func %d", static_cast<int>(m_hash.size()));
  for (const auto& node : m_hash) node.second->dump();
}
