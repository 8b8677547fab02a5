// kavu_01tbl_fdb.h — KAVU_FDB, a database of precomputed LUT networks keyed by the
// canonical truth table of the function they implement, kept in a text file.
//
// Model: a hash from canonical table (KAVU_01TBL::canonical) to the encoded
//   network (KAVU_ENCNET) that implements it; the table's variable count
//   equals the network's fan-in count. The database owns every key table and
//   network; copies are deep. Each network carries a hit count (uses); when
//   two networks are offered for one table the cheaper one (area cost) is
//   kept and the hit counts add up, saturating at the largest count.
// Size: mem_space() is the code-area size in bytes, the sum over entries of
//   (4 + 4 x table words) + (8 + 36 x LUTs).
// File: one unsigned decimal number per line. Words 0..31 are the header:
//   the signatures 0x564B454D and 0x4D454B56, Z_stamp(), T_stamp(), the
//   entry count E, the code-area size S in bytes, then 26 filler words
//   (word k = (word k-5 >> 2) XOR (word k-6 << 2)); the code area follows,
//   S / 4 words of E entries, each the table's serialised form (variable
//   count, words) and then the network's words. Text before the first
//   signature line is ignored.
// Reading is all or nothing: a file is parsed and validated completely
//   (signatures and stamps, counts, every table of at most 15 variables,
//   every network within the code area and consistent with its table, every
//   LUT record's input count and source codes) before the first entry is
//   deposited, so an unreadable, damaged or truncated file returns false and
//   leaves the database as it was.
// Debug: the key kavu_01tbl_debug, read at construction, adds checks
//   (level 1 and up) and traces; the module-wide truth-table debug level
//   adds traces of deposits and look-ups (level 2 and up).
// Cost: find and deposit O(table words) expected; read and write linear in
//   the file. Not thread-safe.
#pragma once

#include <vector>

#include "kavu_01tbl.h"
#include "kavu_01tbl_encnet.h"
#include "ztl_hash_sys.h"

class KAVU_FDB {
 public:
  static constexpr unsigned int Z_stamp() { return 0x43000000u; }
  static constexpr unsigned int T_stamp() { return 0x0CEA0000u; }

  KAVU_FDB();
  // An empty database, then read(path).
  explicit KAVU_FDB(const char* path);
  KAVU_FDB(const KAVU_FDB& other);
  KAVU_FDB& operator=(const KAVU_FDB& other);
  ~KAVU_FDB();

  // Reads every database file named in the list file, one path per line.
  // Returns the number read successfully; an unreadable list gives 0.
  int read_all(const char* list_path);
  // Adds the entries of one file; false, with the database unchanged, for
  // an unreadable, damaged or truncated file (see the file comment).
  bool read(const char* path);
  // Writes the database; false when the file cannot be opened or written.
  bool write(const char* path) const;
  // Deposits a copy of every entry of other (cheaper networks win).
  void merge(KAVU_FDB& other);
  // Adds a copy of (tbl, net), or, when an equal table is present, replaces
  // its network by a copy of net unless keep_cheaper is set and net is not
  // cheaper; the hit counts add up either way. Returns whether the database
  // changed. tbl's variable count must equal net's fan-in count.
  bool deposit(KAVU_01TBL& tbl, KAVU_ENCNET& net, bool keep_cheaper);

  // The network of an equal table, or null; lookup also counts a hit.
  KAVU_ENCNET* find(KAVU_01TBL* tbl);
  KAVU_ENCNET* lookup(KAVU_01TBL* tbl);
  // The same for the canonical form of a copy of tbl (tbl is not changed):
  // *output_phase, var_map and phase receive what canonical returns. The
  // caller rebuilds tbl by decoding the network with fan-in i = its input
  // var_map[i], complemented where phase[var_map[i]] is false, and the
  // output complemented when *output_phase is false.
  KAVU_ENCNET* find(KAVU_01TBL* tbl, bool* output_phase, std::vector<unsigned int>& var_map,
                    std::vector<bool>& phase);
  KAVU_ENCNET* lookup(KAVU_01TBL* tbl, bool* output_phase, std::vector<unsigned int>& var_map,
                      std::vector<bool>& phase);
  bool exists(KAVU_01TBL* tbl) const;

  // Replaces tables by every key table, in iteration order; the tables stay
  // the database's.
  void functions(std::vector<KAVU_01TBL*>& tables) const;

  void reset_hits();
  // Entries added or replaced since the last reset (also reset by read,
  // read_all and merge): whether the file needs rewriting.
  unsigned int change_count() const { return m_change_count; }
  void reset_changes() { m_change_count = 0; }
  unsigned int mem_space() const { return m_space; }

  // Debug reports through kavu_debug: entries, size and changes with a
  // histogram of hit counts; every network's line.
  void report_status() const;
  void dump() const;

 private:
  static constexpr unsigned int signature_len() { return 2; }
  static constexpr unsigned int fdb_info_len() { return 2; }
  static constexpr unsigned int Z_info_len() { return 2; }
  static constexpr unsigned int used_header_len() { return 6; }
  static constexpr unsigned int reserved_header_len() { return 32; }
  static constexpr unsigned int fdb_Z() { return 2; }
  static constexpr unsigned int fdb_R() { return 3; }
  static constexpr unsigned int fdb_year() { return 3; }
  static constexpr unsigned int fdb_month() { return 3; }
  static constexpr unsigned int fdb_SP() { return 0; }
  static constexpr unsigned int fdb_sub_R() { return 0; }
  static constexpr unsigned int fdb_date() { return 21; }

  typedef ZTL_HASH<KAVU_01TBL*, KAVU_ENCNET*> TABLE_HASH;

  unsigned int calc_mem_space() const;
  // Frees every key table and network and empties the hash.
  void free_entries();
  // Deep copy of other's entries into this (empty) database.
  void copy_entries(const KAVU_FDB& other);

  int m_debug;
  unsigned int m_space;
  unsigned int m_change_count;
  TABLE_HASH m_hash;
};
