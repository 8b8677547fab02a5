// kavu_helper.h — small shared helpers of the library.
//
// - kavu_node_container_size: the live gate count of a netlist.
// - std::orlind_ofstream / std::orlind_ifstream: the file streams through
//   which the library opens its dump and data files. They are the standard
//   character file streams, except that open() turns the file name into its
//   full path first, refuses to reopen a stream that already has a file open
//   (the stream and its state stay as they are), clears the stream state on
//   success and sets failbit on failure. The output stream writes its file
//   as a file of the user's own (FIO_FILE_REPLACEMENT::open_own_file): the
//   dumps go to the working or database directory, which others may share,
//   so another user's file, a link another user made, a file of several
//   names, a FIFO or a device at the name is never followed, opened or
//   written. Its text goes to the file whole when the stream is closed (or
//   destroyed): a new file beside the name, renamed over it, so a dump cut
//   short leaves what was there; with ios_base::app it is appended to a
//   file of the user's own (FIO_FILE_SYSTEM::open_own_file_to_append). A
//   file that cannot be opened or written so is left as it was, the stream
//   failing, with a warning naming the file.
// - OPT_SECONDARY_SIGNALS, OPT_CONE_DESCRIPTION, OPT_SUBGRAPH_DESCRIPTION:
//   plain records exported for the library's callers.
// - kavu_get_all_derived_options: the compiler-directive options of a
//   namespace; kavu_openbox_dir_name: the work-directory name of generated
//   function bodies.
// The node-type predicates are in kavu_helper_predicates.h.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "hdb/hdb.h"

class CDB_SGATE_NETLIST;
class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;

// The number of live gates in the netlist's gate list (its 32-bit count).
unsigned int kavu_node_container_size(const CDB_SGATE_NETLIST* netlist);

// The secondary signals of a register: its clock, clock-enable,
// asynchronous-clear and synchronous-clear input terminals, all null after
// construction; copied by value.
struct OPT_SECONDARY_SIGNALS {
  CDB_SGATE_ITERM* m_clk = nullptr;
  CDB_SGATE_ITERM* m_ena = nullptr;
  CDB_SGATE_ITERM* m_aclr = nullptr;
  CDB_SGATE_ITERM* m_sclr = nullptr;
};

// A cone of logic: two scalars and the cone's gates. Copies copy the gate
// list; a move leaves the source's list empty.
struct OPT_CONE_DESCRIPTION {
  int64_t m_cost = 0;
  int64_t m_depth = 0;
  std::vector<CDB_SGATE_NODE*> m_nodes;

  OPT_CONE_DESCRIPTION() = default;
  OPT_CONE_DESCRIPTION(const OPT_CONE_DESCRIPTION&) = default;
  OPT_CONE_DESCRIPTION& operator=(const OPT_CONE_DESCRIPTION&) = default;
  OPT_CONE_DESCRIPTION(OPT_CONE_DESCRIPTION&& other) noexcept;
  OPT_CONE_DESCRIPTION& operator=(OPT_CONE_DESCRIPTION&& other) noexcept;
};

// A subgraph of one clock domain: two scalars and three terminal or gate
// lists. Copies copy the lists; a move leaves the source's lists empty.
struct OPT_SUBGRAPH_DESCRIPTION {
  int64_t m_domain_id = 0;
  int64_t m_size = 0;
  std::vector<CDB_SGATE_NODE*> m_nodes;
  std::vector<CDB_SGATE_OTERM*> m_inputs;
  std::vector<CDB_SGATE_OTERM*> m_outputs;

  OPT_SUBGRAPH_DESCRIPTION() = default;
  OPT_SUBGRAPH_DESCRIPTION(const OPT_SUBGRAPH_DESCRIPTION&) = default;
  OPT_SUBGRAPH_DESCRIPTION& operator=(const OPT_SUBGRAPH_DESCRIPTION&) = default;
  OPT_SUBGRAPH_DESCRIPTION(OPT_SUBGRAPH_DESCRIPTION&& other) noexcept;
  OPT_SUBGRAPH_DESCRIPTION& operator=(OPT_SUBGRAPH_DESCRIPTION&& other) noexcept;
};

// The text options of the compiler directives ("NAME=VALUE"); the objects
// belong to the option store.
typedef std::vector<HDB_DERIVED_OPTION<ACF_KIND_TEXT, 0>*> KAVU_DERIVED_OPTION_LIST;

// Replaces *results with every compiler-directive option (assignment
// variable 366) set on the namespace, in the order the store returns them.
// A null results list is an internal error ("results").
void kavu_get_all_derived_options(const HDB_NAMESPACE* options, KAVU_DERIVED_OPTION_LIST* results);

// The name of the work directory of generated function bodies: "tmp-openbox".
const char* kavu_openbox_dir_name();

// The stream buffer of std::orlind_ofstream (kavu_helper.cpp).
class KAVU_OWN_FILEBUF;

// The library's interface requires these two stream classes to be named in
// namespace std; nothing else of the library is declared there.
namespace std {

// A standard output file stream whose characters go to a buffer of the
// user's own file (see the file comment): is_open(), close() and rdbuf()
// are that buffer's.
class orlind_ofstream : public basic_ofstream<char> {
 public:
  orlind_ofstream();
  ~orlind_ofstream() override;
  orlind_ofstream(orlind_ofstream&& other) noexcept;
  orlind_ofstream& operator=(orlind_ofstream&& other) noexcept;
  // Opens the file for output; an existing file is replaced at the close.
  explicit orlind_ofstream(const char* name);
  orlind_ofstream(const std::string& name, ios_base::openmode mode);
  // Opens name (as a full path) with mode | out; see the file comment.
  void open(const char* name, ios_base::openmode mode = ios_base::out);
  void open(const std::string& name, ios_base::openmode mode = ios_base::out) {
    open(name.c_str(), mode);
  }
  bool is_open() const;
  // Writes the text to the file (failbit, and a warning naming the file,
  // when it cannot be written) and closes it.
  void close();
  basic_streambuf<char>* rdbuf() const;

 private:
  unique_ptr<KAVU_OWN_FILEBUF> m_own;
};

class orlind_ifstream : public basic_ifstream<char> {
 public:
  orlind_ifstream() = default;
  // Opens the file for input.
  explicit orlind_ifstream(const char* name);
  orlind_ifstream(const std::string& name, ios_base::openmode mode);
  // Opens name (as a full path) with mode | in; see the file comment.
  void open(const char* name, ios_base::openmode mode = ios_base::in);
  void open(const std::string& name, ios_base::openmode mode = ios_base::in) {
    open(name.c_str(), mode);
  }
};

}  // namespace std
