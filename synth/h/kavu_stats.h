// kavu_stats.h — statistics of gates for the debug trace.
//
// Model: every gate of a vector is described by its type name; the distinct
//   descriptions are counted in first-seen order and printed as a tally at
//   debug level 2, each line beginning with the caller's prefix. Only the
//   per-gate-vector tally the partitioner reports with exists so far.
// Cost: O(n · d) for n gates and d distinct descriptions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CDB_SGATE_NODE;

class KAVU_STATS {
 public:
  KAVU_STATS() = default;
  // Tallies the gates of the vector under the prefix
  // "STATS_NODE_VEC_<title> :" and prints the tally.
  void report_on_node_vec(std::vector<CDB_SGATE_NODE*>* nodes, const std::string& title);
  // The tally of the last report: (description, count) in first-seen order.
  std::vector<std::pair<std::string, uint32_t>> get_tally() const;

 private:
  void tally_string(const std::string& description);

  std::vector<uint32_t> m_tally;
  std::vector<std::string> m_string;
  uint32_t m_last_description = 0;
};
