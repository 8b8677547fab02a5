// kavu_sort_simcheck.h — the random-simulation check of netlist transformations
// and its simulation vector file.
//
// Use: before a transformation call sim_verify(netlist, n) with n > 0; it
//   simulates n random input vectors and writes inputs and responses to the
//   simulation vector file. After the transformation call sim_verify with
//   n <= 0; it reads the file back, simulates the stored inputs on the
//   changed netlist and reports the internal error "sim_verify error" when
//   any response differs.
// Model: a two-valued simulation of the combinational logic. The free inputs
//   ("begin terminals") are the output terminals with fan-out of every gate
//   that is not a buffer, comb gate, LUT, 2:1 mux or carry-sum cell (pins,
//   registers, atoms, operators, ...); the responses ("end terminals") are
//   the connected input terminals of those same gates. Gates inside loops
//   are swept until their values settle. Values live in each output
//   terminal's simulation field, which is left set.
// Order: begin terminals sort by their name (the gate's instance path, with
//   "_<position>" added for gates with several outputs), end terminals by
//   "<gate instance path>_<input position>"; equal names are ordered by the
//   gate's debug number and then by position, so every terminal has one
//   place in the file and the order does not depend on the node list.
// File (binary, every integer 4 bytes, least significant byte first):
//   vector count N, begin count B, end count E, then N records of
//   ceil(B/32) begin words and ceil(E/32) end words; bit j of word w holds
//   terminal 32w + j; unused bits are 0; nothing follows the last record.
//   Its path is <working directory>/<name>.svf, the name being the
//   facade's revision name, else its project name, else "kavu_sim".
// Random inputs: a fixed 15-bit linear congruential generator, restarted
//   for every save, so one netlist always gets the same vectors and the
//   process-wide rand() state is left alone.
// Failures: a file that cannot be opened, written or read whole, a header
//   whose record area disagrees with the file size, and bytes after the
//   last record are internal errors naming the file's fault; a count
//   mismatch or a differing response writes the dump files
//   "chk_begin.tx0" and "chk_end.tx0" (type and name of each terminal) and
//   is the internal error "sim_verify error".
// Configuration: kavu_sort_debug (above 0: dump files after every check),
//   sim_verify_debug (on: the same).
// Cost: one O(terminals) sweep per vector (loops re-swept until stable),
//   plus an SCC ordering of the netlist per call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CMP_FACADE;
class CDB_SGATE_NETLIST;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;

class KAVU_SIM_CHECK {
 public:
  // facade may be null; it names the simulation vector file.
  explicit KAVU_SIM_CHECK(CMP_FACADE* facade);

  // n > 0: writes the file with n random vectors; otherwise checks the
  // netlist against the file (see the file comment).
  void sim_verify(CDB_SGATE_NETLIST* netlist, int n);

  // Appends the begin terminals, respectively the end terminals, in
  // node-list order (unsorted).
  static void get_begin_oterms(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>& begins);
  static void get_end_iterms(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_ITERM*>& ends);

  // The full path of the simulation vector file.
  std::string svf_path() const;

  // The generator behind the random inputs: 15-bit values (0..32767) of the
  // classic linear congruential recurrence, seeded with 1.
  class RANDOM_15 {
   public:
    unsigned int next() {
      m_state = m_state * 1103515245u + 12345u;
      return (m_state >> 16) & 0x7fffu;
    }

   private:
    uint32_t m_state = 1;
  };

 private:
  void sim_save(CDB_SGATE_NETLIST* netlist, int n);
  void sim_check(CDB_SGATE_NETLIST* netlist);

  CMP_FACADE* m_facade;
  int m_debug_level;
};
