// kavu_stats.cpp — the gate tally of KAVU_STATS (see kavu_stats.h).
#include "kavu_stats.h"

#include "cdb/cdb_sgate.h"
#include "kavu_check.h"
#include "kavu_msg.h"

void KAVU_STATS::tally_string(const std::string& description) {
  KAVU_CHECK(m_last_description == m_string.size() && m_last_description == m_tally.size());
  for (uint32_t i = 0; i < m_last_description; ++i) {
    if (m_string[i] == description) {
      ++m_tally[i];
      return;
    }
  }
  m_string.push_back(description);
  m_tally.push_back(1);
  ++m_last_description;
  KAVU_CHECK(m_last_description == m_string.size() && m_last_description == m_tally.size());
}

void KAVU_STATS::report_on_node_vec(std::vector<CDB_SGATE_NODE*>* nodes, const std::string& title) {
  m_tally.clear();
  m_string.clear();
  m_last_description = 0;
  KAVU_CHECK(nodes);
  const std::string prefix = "STATS_NODE_VEC_" + title + " :";
  for (const CDB_SGATE_NODE* n : *nodes) tally_string(n->get_string_type_name());
  kavu_debug("%s %d sgates", prefix.c_str(), int(nodes->size()));
  for (uint32_t i = 0; i < m_last_description; ++i)
    kavu_debug("%s %s %u", prefix.c_str(), m_string[i].c_str(), m_tally[i]);
}

std::vector<std::pair<std::string, uint32_t>> KAVU_STATS::get_tally() const {
  std::vector<std::pair<std::string, uint32_t>> out;
  for (uint32_t i = 0; i < m_last_description; ++i) out.emplace_back(m_string[i], m_tally[i]);
  return out;
}
