// kavu_utility.cpp — small netlist utilities.
//
// Random stream: a permutation S of the 256 byte values and two indexes i
//   and j, process-wide. Seeding is an RC4-style key schedule with two
//   differences that make its sequences this library's own: i starts at 1
//   and is advanced before use, and each key byte is combined with XOR
//   rather than added. Key bytes are read as unsigned, so every index stays
//   within 0..255 whatever characters the seed holds. Drawing is the RC4
//   output step.
// The stream is unguarded, so it refuses to run during parallel synthesis.
// Searches walk the netlist's node list in order and skip emptied slots.
// Cost: seeding 256 steps; drawing O(1); searches linear.
#include "kavu_utility.h"

#include <cstring>
#include <ctime>
#include <string>

#include "kavu_check.h"
#include "kavu_msg.h"
#include "kavu_wiring_helper.h"
#include "cdb/cdb_atom.h"
#include "cdb/cdb_sgate.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "zhd/zhd.h"

namespace {

// Bytes of the stream's state; also the most seed characters that count.
constexpr int RAND_STATE_SIZE = 256;

struct RAND_STREAM {
  unsigned char m_s[RAND_STATE_SIZE];
  unsigned char m_i = 0;
  unsigned char m_j = 0;
};

RAND_STREAM s_rand_stream;

void rand_seed(RAND_STREAM& st, const char* seed) {
  const size_t len = strnlen(seed, RAND_STATE_SIZE);
  KAVU_CHECK(len > 0);
  for (int k = 0; k < RAND_STATE_SIZE; ++k) st.m_s[k] = static_cast<unsigned char>(k);
  st.m_i = 1;
  st.m_j = 1;
  for (int k = 0; k < RAND_STATE_SIZE; ++k) {
    ++st.m_i;  // unsigned char: wraps modulo 256
    const unsigned char t = st.m_s[st.m_i];
    const unsigned char key = static_cast<unsigned char>(seed[size_t(k) % len]);
    st.m_j = static_cast<unsigned char>(key ^ static_cast<unsigned char>(st.m_j + t));
    std::swap(st.m_s[st.m_i], st.m_s[st.m_j]);
  }
}

int rand_next(RAND_STREAM& st) {
  ++st.m_i;
  const unsigned char t = st.m_s[st.m_i];
  st.m_j = static_cast<unsigned char>(st.m_j + t);
  std::swap(st.m_s[st.m_i], st.m_s[st.m_j]);
  return st.m_s[static_cast<unsigned char>(st.m_s[st.m_i] + t)];
}

template <class T>
int first_index(const std::vector<T*>& vec, const T* item) {
  for (size_t k = 0; k < vec.size(); ++k) {
    if (vec[k] == item) return static_cast<int>(k);
  }
  return -1;
}

CDB_SGATE_WYSIWYG* require_atom(CDB_SGATE_NODE* atom) {
  CDB_SGATE_WYSIWYG* wys = atom ? atom->cast_to_wysiwyg() : nullptr;
  KAVU_CHECK(wys);
  return wys;
}

}  // namespace

int kavu_rand_byte(bool reseed, const char* seed) {
  if (cdb_sgate_synthesis_is_running_in_parallel()) {
    KAVU_INTERNAL_ERROR("Need to fix the statics if this is needed for parallel synthesis");
  }
  if (reseed) {
    KAVU_CHECK(seed);
    rand_seed(s_rand_stream, seed);
    return 0;
  }
  return rand_next(s_rand_stream);
}

void kavu_dump_time() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32] = {0};
  asctime_r(&local, text);
  // "Www Mmm dd hh:mm:ss yyyy\n": the time of day is characters 11 to 18.
  const std::string time_of_day = std::string(text).substr(11, 8);
  kavu_debug("Time is - %s ", time_of_day.c_str());
}

bool kavu_in_iterm_vec(const CDB_SGATE_ITERM* iterm, const std::vector<CDB_SGATE_ITERM*>& vec) {
  return first_index(vec, iterm) >= 0;
}

bool kavu_in_oterm_vec(const CDB_SGATE_OTERM* oterm, const std::vector<CDB_SGATE_OTERM*>& vec) {
  return first_index(vec, oterm) >= 0;
}

bool kavu_in_sgate_vec(const CDB_SGATE_NODE* sgate, const std::vector<CDB_SGATE_NODE*>& vec) {
  return first_index(vec, sgate) >= 0;
}

bool kavu_index_in_oterm_vec(const CDB_SGATE_OTERM* oterm, const std::vector<CDB_SGATE_OTERM*>& vec,
                             unsigned* position) {
  KAVU_CHECK(position);
  const int index = first_index(vec, oterm);
  *position = index >= 0 ? unsigned(index) : unsigned(vec.size());
  return index >= 0;
}

bool kavu_in_oterm_inv_pair_vec(const SGATE_OTERM_INV_PAIR* pair,
                                const std::vector<SGATE_OTERM_INV_PAIR>& vec) {
  KAVU_CHECK(pair);
  for (const SGATE_OTERM_INV_PAIR& entry : vec) {
    if (entry.first == pair->first && entry.second == pair->second) return true;
  }
  return false;
}

int kavu_get_id_index(const std::vector<CDB_SGATE_OTERM*>& vec, const CDB_SGATE_OTERM* oterm) {
  return first_index(vec, oterm);
}

int kavu_index_in_sgate_vec(const std::vector<CDB_SGATE_NODE*>& vec, const CDB_SGATE_NODE* sgate) {
  return first_index(vec, sgate);
}

bool kavu_sgate_on_netlist(const CDB_SGATE_NODE* sgate, const CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (*it && *it == sgate) return true;
  }
  return false;
}

CDB_SGATE_NODE* kavu_find_gate_by_name(const CDB_SGATE_NETLIST* netlist, const char* text, bool exact) {
  KAVU_CHECK(netlist && text);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node) continue;
    const std::string path = node->get_string_hpath();
    if (exact ? gen_strcmp(path.c_str(), text) == 0 : std::strstr(path.c_str(), text) != nullptr) {
      return node;
    }
  }
  return nullptr;
}

CDB_SGATE_ITERM* rtl_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE port_type, CDB_SGATE_NODE* atom) {
  return kavu_fetch_create_wys_iterm(port_type, require_atom(atom));
}

CDB_SGATE_OTERM* rtl_fetch_create_wys_oterm(DB_OUTPUT_PORT_TYPE port_type, CDB_SGATE_NODE* atom,
                                            bool allow_missing) {
  return kavu_fetch_create_wys_oterm(port_type, require_atom(atom), allow_missing);
}

std::string kavu_get_partition_name(const CDB_SGATE_HIERARCHY* hierarchy) {
  KAVU_CHECK(hierarchy);
  const HDB_INSTANCE_NAME* name = hierarchy->get_instance_name();
  return name ? name->get_short_hpath(0) : std::string();
}

int kavu_get_partition_id(const HDB_INSTANCE_NAME* iname) {
  const ZHD_DESIGN* design = ZHD_ROOT::get().get_design("");
  KAVU_CHECK(design);
  return design->get_partition_of(iname)->get_id();
}

int kavu_get_partition_id(const CDB_SGATE_HIERARCHY* hierarchy) {
  KAVU_CHECK(hierarchy);
  return kavu_get_partition_id(hierarchy->get_instance_name());
}

HDB_INSTANCE_NAME* kavu_get_partition_instance_name(CMP_FACADE* /*facade*/, const CDB_ATOM_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  const bool mgr = netlist->uses_namespace();
  KAVU_CHECK(mgr);
  return netlist->get_namespace()->get_root();
}

HDB_INSTANCE_NAME* kavu_get_partition_instance_name(CMP_FACADE* /*facade*/,
                                                    const CDB_SGATE_HIERARCHY* hierarchy) {
  KAVU_CHECK(hierarchy);
  const bool mgr = hierarchy->uses_namespace();
  KAVU_CHECK(mgr);
  return hierarchy->get_namespace()->get_root();
}
