// kavu_helper.cpp — small shared helpers.
//
// The live gate count of a netlist, the library's file streams
// (std::orlind_ofstream, std::orlind_ifstream), the move operations of the
// exported records, the compiler-directive option query and the work
// directory name of generated function bodies.
// Streams model: open() never reopens — a stream that already has a file
// open is left exactly as it is, state included, so a caller that opens a
// dump file twice keeps writing to the first. Otherwise the name becomes its
// full path, the file buffer opens it with the caller's mode plus out (or
// in), and the stream state is cleared on success or gets failbit on failure.
#include "kavu_helper.h"

#include "kavu_check.h"
#include "cdb/cdb_sgate.h"
#include "fio/fio.h"

namespace {

// Opens the stream's file buffer unless a file is open already; see the
// file comment.
template <class STREAM>
void open_full_path(STREAM& stream, const char* name, std::ios_base::openmode mode) {
  KAVU_CHECK(name != nullptr);
  if (stream.is_open()) return;
  const std::string full_path = fio_get_unc_full_path(name);
  if (stream.rdbuf()->open(full_path, mode)) {
    stream.clear();
  } else {
    stream.setstate(std::ios_base::failbit);
  }
}

}  // namespace

unsigned int kavu_node_container_size(const CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist != nullptr);
  return netlist->get_node_list().size();
}

const char* kavu_openbox_dir_name() { return "tmp-openbox"; }

void kavu_get_all_derived_options(const HDB_NAMESPACE* options, KAVU_DERIVED_OPTION_LIST* results) {
  KAVU_CHECK(results);
  KAVU_CHECK(options != nullptr);
  *results = HDB_DERIVED_OPTION<ACF_KIND_TEXT, 0>::get_all_options(options, ACF_VERILOG_MACRO, true);
}

OPT_CONE_DESCRIPTION::OPT_CONE_DESCRIPTION(OPT_CONE_DESCRIPTION&& other) noexcept
    : m_cost(other.m_cost), m_depth(other.m_depth), m_nodes(std::move(other.m_nodes)) {
  other.m_nodes.clear();
}

OPT_CONE_DESCRIPTION& OPT_CONE_DESCRIPTION::operator=(OPT_CONE_DESCRIPTION&& other) noexcept {
  if (this == &other) return *this;
  m_cost = other.m_cost;
  m_depth = other.m_depth;
  m_nodes = std::move(other.m_nodes);
  other.m_nodes.clear();
  return *this;
}

OPT_SUBGRAPH_DESCRIPTION::OPT_SUBGRAPH_DESCRIPTION(OPT_SUBGRAPH_DESCRIPTION&& other) noexcept
    : m_domain_id(other.m_domain_id),
      m_size(other.m_size),
      m_nodes(std::move(other.m_nodes)),
      m_inputs(std::move(other.m_inputs)),
      m_outputs(std::move(other.m_outputs)) {
  other.m_nodes.clear();
  other.m_inputs.clear();
  other.m_outputs.clear();
}

OPT_SUBGRAPH_DESCRIPTION& OPT_SUBGRAPH_DESCRIPTION::operator=(
    OPT_SUBGRAPH_DESCRIPTION&& other) noexcept {
  if (this == &other) return *this;
  m_domain_id = other.m_domain_id;
  m_size = other.m_size;
  m_nodes = std::move(other.m_nodes);
  m_inputs = std::move(other.m_inputs);
  m_outputs = std::move(other.m_outputs);
  other.m_nodes.clear();
  other.m_inputs.clear();
  other.m_outputs.clear();
  return *this;
}

namespace std {

orlind_ofstream::orlind_ofstream(const char* name) { open(name, ios_base::out); }

orlind_ofstream::orlind_ofstream(const std::string& name, ios_base::openmode mode) {
  open(name.c_str(), mode);
}

void orlind_ofstream::open(const char* name, ios_base::openmode mode) {
  open_full_path(*this, name, mode | ios_base::out);
}

orlind_ifstream::orlind_ifstream(const char* name) { open(name, ios_base::in); }

orlind_ifstream::orlind_ifstream(const std::string& name, ios_base::openmode mode) {
  open(name.c_str(), mode);
}

void orlind_ifstream::open(const char* name, ios_base::openmode mode) {
  open_full_path(*this, name, mode | ios_base::in);
}

}  // namespace std
