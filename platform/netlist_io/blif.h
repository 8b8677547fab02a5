// Role: netlist I/O, simulation and oracles (tests and tools)
// (docs/platform.md, "Netlist I/O and oracles").
// blif.h — BLIF reader and writer for gate netlists (tests, tools, benchmarks).
//
// Reading builds a CDB_SGATE_NETLIST from the first .model of a file; other
// models of the same file used by .subckt are flattened into it, their
// signals named "<model>_<k>|<signal>" (every name is local to its model
// instance, $false, $true and $undef too). Supported:
//   .inputs / .outputs     input pins / output pins (input 0 reads the signal)
//   .names                 constant covers tie their readers (no gate); other
//                          covers become a LUT (AUTO_LUT up to lut_size
//                          inputs, ALL_LUT always) or a sum of products of comb
//                          gates (AND per cube, OR of cubes, NOT for an off-set)
//   .latch in out [type clock] [init]
//                          re / none: register; fe: clock inverted; as: no
//                          clock; ah / al: latch (enable inverted for al). A
//                          missing clock is the input pin "blif_clock". Init 0,
//                          1, 2 (don't care), 3 or absent (no setting) sets a
//                          register's power-up; latches have none to set.
//                          A plain register's controls that its line or cell
//                          does not connect are tied inactive (enable and
//                          asynchronous data to VCC, the others to GND)
//   .subckt                the yosys generic cells ($_AND_ … $_MUX_, the
//                          register and latch families), $mux2, $dff_full,
//                          catalogue atoms by name, models of the same file,
//                          and models registered with blif_register_subckt
// Polarities of generic cells become input inversions; no output inversion is
// ever set. $false, $true and $undef are constant nets ($undef reads 0) in
// every model that reads them and does not drive them itself; each model may
// define its own, as yosys's hierarchical BLIF does.
// Every signal is named "<top>|<signal>" in the name tree ("|" nests further);
// the gate driving a signal and its output take that name.
// Errors (a malformed line, an unsupported construct, a signal driven twice, a
// model defined twice, a NUL byte raw or escaped as "\00", a carriage return
// that ends no line, a hierarchy that flattens to more gates than the
// "blif_max_flat_gates" key allows, default 20,000,000) give
// "<file>:<line>: <problem>" in BLIF_RESULT::error and no netlist; a path that
// is not a regular file (a directory, a FIFO) or a file past 4 GiB gives
// "<file>: <problem>" (the system's reason for a file it will not give). A
// problem quotes a name or word of the file with bytes outside printable
// ASCII escaped and cut to 80 bytes (its first and last 40), and names
// the file by its path escaped so. An ".exdc" section is skipped to its
// ".end" or to the next ".model". A signal
// read but never driven is tied to 0 with a warning (an error when asked).
// Names: the characters BLIF cannot carry in a name (space, tab, form feed,
// vertical tab, '#', '=', '\', CR, LF) are written as '\' and two upper-case hex digits and read
// back; a signal path with an empty level ("a||b", "a|") stays one level.
//
// Writing: pins, buffers, comb gates, LUTs, muxes, carry-sum gates, tri-state
// buses, IO buffers, boundaries, state buffers and logic-cell atoms (every
// output of the cell rule, netlist_io/sim_lcell.h; a cell over more than six
// signals through covers of its half functions) become .names (inversions of
// terminals folded into the covers), or with atoms_as_subckt the atoms
// become .subckt cells; bus-in and bus-out operators become one cover per
// output bit (the wiring the simulator gives them, netlist_io/sim_oper.h),
// other operator kinds are refused; plain
// registers and flip-flop atoms become ".latch next q re clk init" (fe for an
// inverted clock) with enable, synchronous clear and load folded into a .names for
// next (a next state that is the data signal itself, the controls inactive,
// is written as ".latch d q …" with no cover, so that writing a netlist read
// from such a file gives the file's registers again); latches become
// ".latch d q ah en" (EN and EN2 folded into en). A
// connected asynchronous control (register ACLR, PRESET, ALOAD; latch CLR, PRE;
// a GND tie is no control) or
// a kind without a writer fails naming the gate, unless full_registers writes
// such registers as $dff_full cells (read back only by this reader) or
// cut_unsupported turns the gate's outputs into primary inputs and its driven
// inputs into primary outputs.
// Constants: the reader makes no gate of a constant cover, so the writer
// first propagates constants through the logic it tabulates, to a fixed
// point: a logic gate whose output's function is constant (given its
// inputs' constants) is not written and its readers' covers take the
// constant; an output port, a register's next state or a cell pin reading
// one gets a constant cover of its own name. The file read back holds no
// logic of constant function, so writing what was read is a fixed point
// after the first write (the netlist written is not changed).
//
// Cost: reading is linear in the file (one hash lookup per signal token);
// writing is linear in terminals.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CDB_SGATE_NETLIST;
class CDB_SGATE_HIERARCHY;
class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;

namespace kavu_platform {

struct BLIF_READ_OPTIONS {
  enum NAMES_MAP { AUTO_LUT, ALL_COMB, ALL_LUT } names = AUTO_LUT;
  unsigned lut_size = 0;  // 0: CDB_LUTMASK::max_num_inputs; at most 6 is used
  // A signal that is read but never driven: false ties its readers to 0 and
  // adds a warning naming it; true makes it a read error.
  bool undriven_is_error = false;
};

// On success netlist and hierarchy are set and owned by the caller (the
// hierarchy's netlist is the netlist); on failure both are null and error
// says what went wrong and where.
struct BLIF_RESULT {
  CDB_SGATE_NETLIST* netlist = nullptr;
  CDB_SGATE_HIERARCHY* hierarchy = nullptr;
  std::string error;
  std::vector<std::string> warnings;  // "<file>:<line>: <what>", in file order
};

struct BLIF_WRITE_OPTIONS {
  // Gates the writer cannot express become primary inputs (their outputs,
  // but a constant one, whose readers take the constant) and primary
  // outputs (their driven inputs), for combinational comparison.
  bool cut_unsupported = false;
  // Registers with asynchronous controls are written as "$dff_full" cells,
  // which only this reader understands (round trips through our own reader).
  bool full_registers = false;
  // Device atoms of the catalogue (fixed one-bit ports) are written as
  // ".subckt <catalogue name>" with ".param LUTMASK" and one ".param MODE"
  // per set mode bit, which this reader reads back as the same atom
  // (register power-up and flags are not carried). Off: logic cells and
  // flip-flops are written as their covers and latches, for outside tools.
  bool atoms_as_subckt = false;
  // The .model name; empty: the name of the netlist's top, else "top".
  std::string model_name;
};

BLIF_RESULT blif_read_file(const std::string& path, const BLIF_READ_OPTIONS& = {});
// Errors name the file as "<string>".
BLIF_RESULT blif_read_string(const std::string& text, const BLIF_READ_OPTIONS& = {});

// Writes the netlist; false with the reason in *error when a gate cannot be
// expressed ("cannot write gate <path, escaped and cut>: …") or the file
// cannot be written ("<path>: cannot write the file: <the system's
// reason>"). The file is written as FIO_FILE_SYSTEM::replace_file writes:
// whole beside the target and renamed over it where that leaves the target
// as writing in place would, in place otherwise (a hard link, a device)
// with the whole length reserved first; a failed write leaves the previous
// file as it was. Memory the system refuses anywhere fails the write with
// "<path>: cannot write the file: not enough memory" (never std::bad_alloc),
// the target as it was and nothing beside it.
bool blif_write_file(const CDB_SGATE_NETLIST*, const std::string& path,
                     const BLIF_WRITE_OPTIONS& = {}, std::string* error = nullptr);

// What a registered .subckt handler sees: the cell's pins (formal, actual) and
// parameters in file order, and calls that add gates and bind terminals to
// signals by name. Connections are made once the whole model is read, so a
// handler may read signals defined later in the file.
class BLIF_SUBCKT_BUILDER {
 public:
  virtual ~BLIF_SUBCKT_BUILDER() = default;
  virtual const std::vector<std::pair<std::string_view, std::string_view>>& pins() const = 0;
  virtual const std::vector<std::pair<std::string_view, std::string_view>>& params() const = 0;
  // Adds a gate the handler built to the netlist (the reader owns it then).
  virtual void add_gate(CDB_SGATE_NODE* gate) = 0;
  // The terminal reads the signal (its inversion flag is kept).
  virtual void read_signal(CDB_SGATE_ITERM* iterm, std::string_view signal) = 0;
  // The terminal drives the signal and takes its name.
  virtual void drive_signal(CDB_SGATE_OTERM* oterm, std::string_view signal) = 0;
};

// Returns false with a message in *error when the cell is malformed.
using BLIF_SUBCKT_HANDLER = std::function<bool(BLIF_SUBCKT_BUILDER&, std::string* error)>;

// Registers (or replaces) the handler of a .subckt model name. Models of the
// file itself and the built-in cells are looked up first.
void blif_register_subckt(const std::string& model, BLIF_SUBCKT_HANDLER handler);

}  // namespace kavu_platform
