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
// The output stream's buffer (KAVU_OWN_FILEBUF) writes the file as a file
// of the user's own: the dumps go to directories others may share.
#include "kavu_helper.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "kavu_check.h"
#include "cdb/cdb_sgate.h"
#include "fio/fio.h"
#include "kavu_helper_dump.h"

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

// The buffer of std::orlind_ofstream: characters gather in memory and go to
// the file of the user's own that open() took, either a replacement of the
// whole file (FIO_FILE_REPLACEMENT::open_own_file, committed by close()) or
// a descriptor appending to it (FIO_FILE_SYSTEM::open_own_file_to_append).
// A file that cannot be opened, or whose text cannot be written, is left
// as it was and warned of, naming it.
class KAVU_OWN_FILEBUF : public std::streambuf {
 public:
  KAVU_OWN_FILEBUF() = default;
  KAVU_OWN_FILEBUF(const KAVU_OWN_FILEBUF&) = delete;
  KAVU_OWN_FILEBUF& operator=(const KAVU_OWN_FILEBUF&) = delete;
  ~KAVU_OWN_FILEBUF() override { close(); }

  bool is_open() const { return m_open; }

  KAVU_OWN_FILEBUF* open(const std::string& path, std::ios_base::openmode mode) {
    if (m_open) return nullptr;
    std::string problem;
    if (mode & std::ios_base::app) {
      m_fd = FIO_FILE_SYSTEM::open_own_file_to_append(path, &problem);
      m_open = m_fd >= 0;
    } else {
      m_open = m_file.open_own_file(path, &problem);
    }
    if (!m_open) {
      kavu_warn_file_not_written(path, problem);
      return nullptr;
    }
    m_path = path;
    m_error = 0;
    m_buffer.resize(kBufferBytes);
    setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
    return this;
  }

  // Writes what is gathered and ends the file: true when its whole text is
  // in it.
  bool close() {
    if (!m_open) return false;
    bool ok = drain();
    std::string problem;
    if (m_fd >= 0) {
      if (::close(m_fd) != 0 && ok) m_error = errno ? errno : EIO;
      m_fd = -1;
      ok = m_error == 0;
      if (!ok) problem = "cannot write the file: " + std::string(std::strerror(m_error));
    } else {
      ok = m_file.commit(&problem);  // a failed write fails the commit, with its reason
    }
    m_open = false;
    setp(nullptr, nullptr);
    std::vector<char>().swap(m_buffer);
    if (!ok) kavu_warn_file_not_written(m_path, problem);
    return ok;
  }

 protected:
  int_type overflow(int_type c) override {
    if (!m_open || !drain()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
  }

  int sync() override { return m_open && drain() ? 0 : -1; }

 private:
  static constexpr size_t kBufferBytes = size_t(1) << 16;

  // Hands the gathered characters to the file; false once a write failed.
  bool drain() {
    const std::string_view text(pbase(), size_t(pptr() - pbase()));
    setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
    if (text.empty()) return m_fd >= 0 ? m_error == 0 : true;
    if (m_fd < 0) return m_file.write(text);
    for (size_t at = 0; at < text.size() && m_error == 0;) {
      const ssize_t n = ::write(m_fd, text.data() + at, text.size() - at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) m_error = n < 0 ? errno : EIO;
      else at += size_t(n);
    }
    return m_error == 0;
  }

  FIO_FILE_REPLACEMENT m_file;  // a whole file, committed by close()
  int m_fd = -1;                // a file appended to
  int m_error = 0;              // the first failed append's
  bool m_open = false;
  std::string m_path;
  std::vector<char> m_buffer;
};

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

orlind_ofstream::orlind_ofstream() : m_own(std::make_unique<KAVU_OWN_FILEBUF>()) { set_rdbuf(m_own.get()); }

orlind_ofstream::~orlind_ofstream() {
  if (m_own) m_own->close();
}

orlind_ofstream::orlind_ofstream(orlind_ofstream&& other) noexcept
    : basic_ofstream<char>(std::move(other)), m_own(std::move(other.m_own)) {
  set_rdbuf(m_own.get());
  other.set_rdbuf(nullptr);  // it has no buffer until it opens a file again
}

orlind_ofstream& orlind_ofstream::operator=(orlind_ofstream&& other) noexcept {
  if (this == &other) return *this;
  basic_ofstream<char>::operator=(std::move(other));
  m_own = std::move(other.m_own);  // a file this stream had open is written
  set_rdbuf(m_own.get());
  other.set_rdbuf(nullptr);
  return *this;
}

orlind_ofstream::orlind_ofstream(const char* name) : orlind_ofstream() { open(name, ios_base::out); }

orlind_ofstream::orlind_ofstream(const std::string& name, ios_base::openmode mode) : orlind_ofstream() {
  open(name.c_str(), mode);
}

void orlind_ofstream::open(const char* name, ios_base::openmode mode) {
  if (!m_own) {
    m_own = std::make_unique<KAVU_OWN_FILEBUF>();
    set_rdbuf(m_own.get());
  }
  KAVU_CHECK(name != nullptr);
  if (m_own->is_open()) return;
  if (m_own->open(fio_get_unc_full_path(name), mode | ios_base::out)) {
    clear();
  } else {
    setstate(ios_base::failbit);
  }
}

bool orlind_ofstream::is_open() const { return m_own && m_own->is_open(); }

void orlind_ofstream::close() {
  if (!m_own || !m_own->close()) setstate(ios_base::failbit);
}

basic_streambuf<char>* orlind_ofstream::rdbuf() const { return m_own.get(); }

orlind_ifstream::orlind_ifstream(const char* name) { open(name, ios_base::in); }

orlind_ifstream::orlind_ifstream(const std::string& name, ios_base::openmode mode) {
  open(name.c_str(), mode);
}

void orlind_ifstream::open(const char* name, ios_base::openmode mode) {
  open_full_path(*this, name, mode | ios_base::in);
}

}  // namespace std
