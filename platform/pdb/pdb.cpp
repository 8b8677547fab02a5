// pdb.cpp — the record-type registry, the segment and the archive file.
//
// Reading never trusts the bytes: every read first asks need(n), which
// throws when fewer than n bytes are left, and every count is checked
// against the bytes left before a caller can allocate for it. Writing is
// append-only into a byte vector. Cost: linear in the bytes moved; opening
// a file for reading copies it into memory once.
#include "pdb/pdb.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "cfg/cfg.h"
#include "fio/fio.h"
#include "mem/mem.h"
#include "msg/msg.h"
#include "thr/thr_fork_int.h"

namespace {

// Field kinds of the payload (bit 7 of the kind byte: a name follows).
enum FIELD_KIND : uint8_t {
  KIND_INT32 = 1,
  KIND_UINT32 = 2,
  KIND_BITS = 3,
  KIND_BOOL = 4,
  KIND_COUNT = 5,
  KIND_CHARS = 6,
  KIND_COLLECTION_BEGIN = 7,
  KIND_COLLECTION_END = 8,
  KIND_OBJECT_BEGIN = 9,
  KIND_OBJECT_END = 10,
  KIND_PTR = 11,
};
constexpr uint8_t KIND_NAMED = 0x80;


const char kMagic[8] = {'K', 'A', 'V', 'U', 'P', 'D', 'B', '1'};

std::map<uint32_t, const PDB_THUNK_INFO*>& registry() {
  static std::map<uint32_t, const PDB_THUNK_INFO*> s_registry;
  return s_registry;
}

// Record types register on first use (function-local statics), which may be
// on two threads at once: two archives written side by side, each the first
// of its type. Every use of the registry holds this lock.
std::mutex& registry_mutex() {
  static std::mutex s_mutex;
  static const bool kept_across_fork = (thr_lock_across_fork(&s_mutex, THR_FORK_REGISTRY), true);
  (void)kept_across_fork;
  return s_mutex;
}

// Made as the layer loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_registry_at_load = (registry(), registry_mutex(), true);

void append_u32(std::vector<uint8_t>& out, uint32_t v) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                            static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  out.insert(out.end(), bytes, bytes + 4);
}

uint32_t read_u32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void append_text(std::vector<uint8_t>& out, const std::string& s) {
  append_u32(out, static_cast<uint32_t>(s.size()));
  out.insert(out.end(), s.begin(), s.end());
}

// Frees a record made by transfer_ptr (destructor, then its storage).
void release_record(const PDB_THUNK_INFO& thunk, void* record, MEM_UTILS_CHUNK_ALLOC* chunk) {
  thunk.get_destroy()(record);
  if (chunk) {
    chunk->chunk_free(record, thunk.get_size());
  } else {
    ::operator delete(record);
  }
}

// A record being read: freed on the way out unless handed over.
struct RECORD_GUARD {
  explicit RECORD_GUARD(const PDB_THUNK_INFO& thunk) : m_thunk(thunk) {}
  ~RECORD_GUARD() {
    if (m_record) release_record(m_thunk, m_record, m_chunk);
  }
  RECORD_GUARD(const RECORD_GUARD&) = delete;
  RECORD_GUARD& operator=(const RECORD_GUARD&) = delete;
  const PDB_THUNK_INFO& m_thunk;
  void* m_record = nullptr;
  MEM_UTILS_CHUNK_ALLOC* m_chunk = nullptr;
};

}  // namespace

// ---------------------------------------------------------------- exceptions

std::string PDB_INVALID_PATH::reason_of(int error_code) {
  return error_code ? std::string(": ") + std::strerror(error_code) : std::string();
}

std::string PDB_INVALID_PATH::write_reason_of(int error_code, const std::string& problem) {
  constexpr std::string_view kPrefix = "cannot write the file: ";
  if (problem.rfind(kPrefix, 0) == 0 && problem.size() > kPrefix.size()) return ": " + problem.substr(kPrefix.size());
  return reason_of(error_code);
}

std::string PDB_INVALID_PATH::printable_path(const std::string& path) {
  return kavu_platform::msg_printable_text(path, kavu_platform::MSG_MAX_PATH_BYTES);
}

namespace {
thread_local int t_last_write_error = 0;
thread_local std::string t_last_write_reason;

// Records a failed write for pdb_last_write_error and pdb_last_write_reason
// and makes its exception.
PDB_INVALID_PATH write_failure(const std::string& path, int error_code, const std::string& problem) {
  PDB_INVALID_PATH e(path, error_code, problem);
  t_last_write_error = error_code;
  t_last_write_reason = e.get_reason();
  return e;
}
}

int pdb_last_write_error() { return t_last_write_error; }
std::string pdb_last_write_reason() { return t_last_write_reason; }

void PDB_DATABASE_EXCEPTION::report() const {
  msg_local_debug("PDB", MSG_D_LEVEL(2), "%s", what());
}

// ---------------------------------------------------------------- registrations

PDB_THUNK_INFO::PDB_THUNK_INFO(uint32_t class_hash, PDB_CREATE_FN create,
                               PDB_CHUNK_CREATE_FN chunk_create, PDB_ARRAY_CREATE_FN array_create,
                               PDB_CONSTRUCT_FN construct, PDB_DESTROY_FN destroy,
                               PDB_TRANSFER_FN transfer, PDB_THUNK_FN thunk, PDB_THIS_FN this_ptr,
                               bool flag1, bool flag2, const std::type_info& type, size_t size,
                               const char* owner, const char* source, int line)
    : m_class_hash(class_hash), m_create(create), m_chunk_create(chunk_create),
      m_array_create(array_create), m_construct(construct), m_destroy(destroy),
      m_transfer(transfer), m_thunk(thunk), m_this(this_ptr), m_flag1(flag1), m_flag2(flag2),
      m_type(type), m_size(size), m_owner(owner ? owner : ""), m_source(source ? source : ""),
      m_line(line) {
  PLAT_CHECK(create && construct && destroy && transfer, "PDB");
  std::lock_guard<std::mutex> lock(registry_mutex());
  PLAT_CHECK(registry().emplace(class_hash, this).second, "PDB");
}

PDB_THUNK_INFO::~PDB_THUNK_INFO() {
  std::lock_guard<std::mutex> lock(registry_mutex());
  auto it = registry().find(m_class_hash);
  if (it != registry().end() && it->second == this) registry().erase(it);
}

const PDB_THUNK_INFO* PDB_THUNK_INFO::find(uint32_t class_hash) {
  std::lock_guard<std::mutex> lock(registry_mutex());
  auto it = registry().find(class_hash);
  return it == registry().end() ? nullptr : it->second;
}

// ---------------------------------------------------------------- segment

template <class BASE>
PDB_SEGMENT_TEMPLATE<BASE>::PDB_SEGMENT_TEMPLATE(std::vector<uint8_t>* out)
    : m_reading(false), m_names(cfg_is_on("pdb_check_names", false)), m_out(out) {
  PLAT_CHECK(out != nullptr, "PDB");
  m_length = out->size();
  out->resize(std::max(out->capacity(), m_length + 4096));
}

template <class BASE>
void PDB_SEGMENT_TEMPLATE<BASE>::grow(size_t n) {
  m_out->resize(std::max(m_out->size() * 2, m_length + n + 4096));
}

template <class BASE>
PDB_SEGMENT_TEMPLATE<BASE>::PDB_SEGMENT_TEMPLATE(const uint8_t* data, size_t size)
    : m_reading(true), m_names(cfg_is_on("pdb_check_names", false)), m_begin(data), m_cur(data),
      m_end(data + size) {
  PLAT_CHECK(data != nullptr || size == 0, "PDB");
}


template <class BASE>
void PDB_SEGMENT_TEMPLATE<BASE>::bad_tag(int tag) const {
  PLAT_CHECK(tag >= 0 && tag <= 0xffff, "PDB");
  std::abort();  // not reached: the check above fails
}

template <class BASE>
void PDB_SEGMENT_TEMPLATE<BASE>::truncated() const {
  fail("truncated record");
}

template <class BASE>
void PDB_SEGMENT_TEMPLATE<BASE>::bad_bool() const {
  fail("boolean other than 0 or 1");
}

// A count written at or above the limit is the caller's error; one read is
// the data's.
template <class BASE>
void PDB_SEGMENT_TEMPLATE<BASE>::bad_count(uint32_t count, bool over_limit) const {
  if (!m_reading) PLAT_CHECK(count < PDB_MAX_COLLECTION_SIZE, "PDB");
  fail("count " + std::to_string(count) + (over_limit ? " over the limit" : " larger than the record"));
}

template <class BASE>
void PDB_SEGMENT_TEMPLATE<BASE>::put_named_header(uint8_t kind) {
  const size_t length = std::min<size_t>(std::strlen(m_name), 255);
  uint8_t* at = room(4 + length);
  at[0] = static_cast<uint8_t>(m_tag);
  at[1] = static_cast<uint8_t>(m_tag >> 8);
  at[2] = kind | KIND_NAMED;
  at[3] = static_cast<uint8_t>(length);
  if (length) std::memcpy(at + 4, m_name, length);
}

// Reads a field header and checks it against the expected kind and, for a
// field of an object (or of the record itself), the current tag and name.
template <class BASE>
void PDB_SEGMENT_TEMPLATE<BASE>::get_header_checked(uint8_t kind) {
  static_assert(kKindInt32 == KIND_INT32 && kKindUint32 == KIND_UINT32 && kKindBool == KIND_BOOL &&
                    kKindCount == KIND_COUNT,
                "the inline moves use the kinds of the file format");
  need(3);
  const uint16_t tag = static_cast<uint16_t>(m_cur[0] | m_cur[1] << 8);
  const uint8_t stored = m_cur[2];
  m_cur += 3;
  const char* name = nullptr;
  size_t name_length = 0;
  if (stored & KIND_NAMED) {
    name_length = get_u8();
    need(name_length);
    name = reinterpret_cast<const char*>(m_cur);
    m_cur += name_length;
  }
  if ((stored & ~KIND_NAMED) != kind) {
    fail("field kind " + std::to_string(stored & ~KIND_NAMED) + " where kind " +
         std::to_string(kind) + " was expected");
  }
  const bool checked = m_frames.empty() || m_frames.back().m_kind == FRAME_OBJECT;
  if (!checked) return;
  if (tag != m_tag) fail("field tag " + std::to_string(tag) + " where the tag was expected");
  if (m_names && name &&
      (name_length != std::strlen(m_name) || std::memcmp(name, m_name, name_length) != 0)) {
    fail("field name \"" + std::string(name, name_length) + "\" where the name was expected");
  }
}

template <class BASE>
void PDB_SEGMENT_TEMPLATE<BASE>::fail(const std::string& what) const {
  const size_t at = m_reading ? static_cast<size_t>(m_cur - m_begin) : m_length;
  throw PDB_DATABASE_EXCEPTION(what + " (field " + std::to_string(m_tag) + " \"" + m_name +
                               "\", byte " + std::to_string(at) + ")");
}





// The header and a 4-byte value in one append: the common field of a record
// (numbers, counts, class hashes) costs one growth check instead of two.


// Reads a field header and checks it against the expected kind and, for a
// field of an object (or of the record itself), the current tag and name.

template <class BASE>
void PDB_SEGMENT_TEMPLATE<BASE>::begin_object(const PDB_THUNK_INFO* thunk, void*) {
  const uint32_t hash = thunk ? thunk->get_class_hash() : 0;
  if (m_reading) {
    get_header(KIND_OBJECT_BEGIN);
    const uint32_t stored = get_u32();
    if (stored != hash) fail("class hash " + std::to_string(stored) + " of another record type");
  } else {
    put_header_u32(KIND_OBJECT_BEGIN, hash);
  }
  m_frames.push_back({FRAME_OBJECT, m_tag, m_name});
}

template <class BASE>
void PDB_SEGMENT_TEMPLATE<BASE>::end_object() {
  PLAT_CHECK(!m_frames.empty() && m_frames.back().m_kind == FRAME_OBJECT, "PDB");
  const FRAME frame = m_frames.back();
  m_frames.pop_back();
  m_tag = frame.m_tag;
  m_name = frame.m_name;
  if (m_reading) {
    get_header(KIND_OBJECT_END);
  } else {
    put_header(KIND_OBJECT_END);
  }
}



template <class BASE>
uint32_t PDB_SEGMENT_TEMPLATE<BASE>::transfer_bits(uint32_t value, unsigned width) {
  PLAT_CHECK(width >= 1 && width <= 32, "PDB");
  const uint32_t mask = width == 32 ? 0xffffffffu : (1u << width) - 1;
  if (!m_reading) {
    put_header(KIND_BITS);
    put_u8(static_cast<uint8_t>(width));
    put_u32(value & mask);
    return value & mask;
  }
  get_header(KIND_BITS);
  if (get_u8() != width) fail("bit field of another width");
  const uint32_t stored = get_u32();
  if (stored & ~mask) fail("bit field value wider than its field");
  return stored;
}



template <class BASE>
void PDB_SEGMENT_TEMPLATE<BASE>::transfer_chars(uint32_t length, char* str) {
  PLAT_CHECK(str != nullptr || length == 0, "PDB");
  if (!m_reading) {
    put_header(KIND_CHARS);
    if (length) std::memcpy(room(length), str, length);
    return;
  }
  get_header(KIND_CHARS);
  need(length);
  if (length) std::memcpy(str, m_cur, length);
  m_cur += length;
}

template <class BASE>
void PDB_SEGMENT_TEMPLATE<BASE>::begin_collection(const char* name) {
  if (name) m_name = name;
  if (m_reading) {
    get_header(KIND_COLLECTION_BEGIN);
  } else {
    put_header(KIND_COLLECTION_BEGIN);
  }
  m_frames.push_back({FRAME_COLLECTION, m_tag, m_name});
}

template <class BASE>
void PDB_SEGMENT_TEMPLATE<BASE>::end_collection() {
  PLAT_CHECK(!m_frames.empty() && m_frames.back().m_kind == FRAME_COLLECTION, "PDB");
  const FRAME frame = m_frames.back();
  m_frames.pop_back();
  m_tag = frame.m_tag;
  m_name = frame.m_name;
  m_element_index = -1;
  if (m_reading) {
    get_header(KIND_COLLECTION_END);
  } else {
    put_header(KIND_COLLECTION_END);
  }
}

template <class BASE>
void PDB_SEGMENT_TEMPLATE<BASE>::transfer_ptr(void*& ptr, const PDB_THUNK_INFO& thunk) {
  if (!m_reading) {
    put_header(KIND_PTR);
    put_u8(ptr ? 1 : 0);
    if (ptr) thunk.get_transfer()(*this, ptr);
    return;
  }
  get_header(KIND_PTR);
  const uint8_t present = get_u8();
  if (present > 1) fail("pointer mark other than 0 or 1");
  RECORD_GUARD fresh(thunk);
  if (present) {
    // The class hash comes first: nothing is allocated for a record of
    // another type.
    need(3 + 4);
    if (m_chunk && m_chunk->chunk_allocation_is_enabled() && thunk.get_chunk_create()) {
      fresh.m_chunk = m_chunk;
      fresh.m_record = thunk.get_chunk_create()(m_chunk);
    } else {
      fresh.m_record = thunk.get_create()(thunk.get_size());
    }
    thunk.get_construct()(fresh.m_record);
    thunk.get_transfer()(*this, fresh.m_record);
  }
  // The record's own pointer is the whole record: bytes left over mean the
  // type read fewer fields than were stored, so the data is not this type's.
  if (m_frames.empty() && bytes_left() != 0) fail("bytes left after the record");
  if (ptr) release_record(thunk, ptr, nullptr);
  ptr = fresh.m_record;
  fresh.m_record = nullptr;
}

template class PDB_SEGMENT_TEMPLATE<PDB_CDB_SEG_BASE>;

// ---------------------------------------------------------------- archive

namespace {
// The index key of a record: the name's length keeps ("ab", "c") and
// ("a", "bc") apart whatever bytes the texts hold.
std::string record_key(const std::string& name, const std::string& ext) {
  return std::to_string(name.size()) + ':' + name + ext;
}
}  // namespace

PDB_ARCHIVE::PDB_ARCHIVE() = default;

PDB_ARCHIVE::PDB_ARCHIVE(const std::string& name, OPEN_MODE mode) { open(name, mode); }

PDB_ARCHIVE::~PDB_ARCHIVE() {
  clear_records();
  m_file.reset();  // a staged file not closed: its temporary goes, the target stays
  m_open = false;
}

void PDB_ARCHIVE::open(const std::string& name, OPEN_MODE mode) {
  PLAT_CHECK(!m_open, "PDB");
  m_mode = mode;
  m_staged = false;
  m_own = false;
  clear_records();
  m_path = fio_get_unc_full_path(name + "." + PDB_CDB_SEG_BASE::extension());
  if (mode == PDB_WRITE) {
    t_last_write_error = 0;
    t_last_write_reason.clear();
    m_open = true;
    return;
  }
  // Only a regular file is opened: a directory has no contents to read and
  // opening a FIFO would wait for a writer. A file the system will not give
  // (no permission, a loop of symbolic links) carries the system's reason.
  struct stat st;
  if (::stat(m_path.c_str(), &st) != 0) throw PDB_INVALID_PATH(m_path, errno ? errno : ENOENT);
  if (!S_ISREG(st.st_mode)) throw PDB_INVALID_PATH(m_path);
  errno = 0;
  std::ifstream in(m_path, std::ios::binary | std::ios::ate);
  const int open_error = errno;
  const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
  if (size < 0) throw PDB_INVALID_PATH(m_path, in ? 0 : open_error);
  in.seekg(0);
  parse(in, static_cast<uint64_t>(size));
  m_open = true;
}

// Reads the records straight into their payloads (the file is not copied
// whole first): every length is checked against the bytes the file has left
// before anything is allocated for it.
void PDB_ARCHIVE::parse(std::istream& in, uint64_t size) {
  auto bad = [&](const char* what) {
    clear_records();
    throw PDB_DATABASE_EXCEPTION(std::string(what) + ": " + PDB_INVALID_PATH::printable_path(m_path));
  };
  uint64_t at = 0;
  auto read = [&](void* to, uint64_t n) {
    in.read(static_cast<char*>(to), static_cast<std::streamsize>(n));
    if (!in) {
      clear_records();
      throw PDB_INVALID_PATH(m_path);
    }
    at += n;
  };
  char magic[sizeof kMagic];
  if (size < sizeof kMagic) bad("not an archive of this version");
  read(magic, sizeof magic);
  if (std::memcmp(magic, kMagic, sizeof kMagic) != 0) bad("not an archive of this version");
  auto length = [&]() {
    if (size - at < 4) bad("truncated archive");
    uint8_t word[4];
    read(word, 4);
    const uint32_t n = read_u32(word);
    if (size - at < n) bad("truncated archive");
    return n;
  };
  auto text = [&](std::string& out) {
    out.resize(length());
    if (!out.empty()) read(out.data(), out.size());
  };
  while (at < size) {
    RECORD r;
    text(r.m_name);
    text(r.m_ext);
    const uint32_t n = length();
    if (find_record(r.m_name, r.m_ext)) bad("record stored twice");
    r.m_payload.resize(n);
    if (n) read(r.m_payload.data(), n);
    m_record_index.emplace(record_key(r.m_name, r.m_ext), m_records.size());
    m_records.push_back(std::move(r));
  }
}

// The file is written as every file of the library is (FIO_FILE_REPLACEMENT):
// beside the target and renamed over it where that leaves what writing in
// place leaves, else in place with its room reserved first; a link is
// followed, a file's other names, owner, group and mode are kept, and a
// failed write leaves the archive as it was.
void PDB_ARCHIVE::stage() {
  PLAT_CHECK(is_writing() && !m_staged, "PDB");
  std::vector<RECORD> records = std::move(m_records);
  clear_records();
  auto file = std::make_unique<FIO_FILE_REPLACEMENT>();
  std::string problem;
  bool written = m_own ? file->open_own_file(m_path, &problem) : file->open(m_path, &problem);
  // Small records are gathered into writes of up to a megabyte; a large
  // payload goes as it is.
  const size_t kGather = size_t(1) << 20;
  std::vector<uint8_t> gathered(kMagic, kMagic + sizeof kMagic);
  auto flush = [&] {
    written = written && file->write(std::string_view(reinterpret_cast<const char*>(gathered.data()), gathered.size()));
    gathered.clear();
  };
  for (RECORD& r : records) {
    if (!written) break;
    append_text(gathered, r.m_name);
    append_text(gathered, r.m_ext);
    append_u32(gathered, static_cast<uint32_t>(r.m_payload.size()));
    if (gathered.size() + r.m_payload.size() <= kGather) {
      gathered.insert(gathered.end(), r.m_payload.begin(), r.m_payload.end());
    } else {
      flush();
      written = written &&
                file->write(std::string_view(reinterpret_cast<const char*>(r.m_payload.data()), r.m_payload.size()));
    }
    std::vector<uint8_t>().swap(r.m_payload);  // a text held for writing in place is not held twice
    if (gathered.size() >= kGather) flush();
  }
  flush();
  if (!written) {
    // The system's reason, taken as the partial file is removed (a full
    // disk has room again once it is gone).
    if (file->failure() == 0) (void)file->commit(&problem);
    m_open = false;
    throw write_failure(m_path, file->failure() ? file->failure() : EIO, problem);
  }
  m_file = std::move(file);
  m_staged = true;
}

void PDB_ARCHIVE::close() {
  if (!m_open) return;
  if (m_mode != PDB_WRITE) {
    m_open = false;
    clear_records();
    return;
  }
  if (!m_staged) stage();
  m_open = false;
  m_staged = false;
  std::unique_ptr<FIO_FILE_REPLACEMENT> file = std::move(m_file);
  std::string problem;
  if (!file->commit(&problem)) {
    throw write_failure(m_path, file->failure() ? file->failure() : EIO, problem);
  }
}

const std::vector<uint8_t>* PDB_ARCHIVE::find_record(const std::string& name,
                                                     const std::string& ext) const {
  auto it = m_record_index.find(record_key(name, ext));
  return it == m_record_index.end() ? nullptr : &m_records[it->second].m_payload;
}

void PDB_ARCHIVE::clear_records() {
  m_records.clear();
  m_record_index.clear();
}

void PDB_ARCHIVE::put_record(const std::string& name, const std::string& ext,
                             std::vector<uint8_t> payload) {
  PLAT_CHECK(is_writing(), "PDB");
  PLAT_CHECK(payload.size() <= 0xffffffffu, "PDB");
  auto [it, added] = m_record_index.emplace(record_key(name, ext), m_records.size());
  if (!added) {
    m_records[it->second].m_payload = std::move(payload);
    return;
  }
  m_records.push_back({name, ext, std::move(payload)});
}

// ---------------------------------------------------------------- pointers

void pdb_write_ptr(PDB_ARCHIVE& archive, const char* name, const char* ext,
                   PDB_PTR_CALLBACK callback, void* ptr_address, int, int, int compression) {
  PLAT_CHECK(archive.is_writing(), "PDB");
  PLAT_CHECK(callback != nullptr && ptr_address != nullptr, "PDB");
  PLAT_CHECK(compression == 0, "PDB");
  // Records of one kind come in similar sizes (the partitions of one run):
  // room for the last one's size spares the growth copies of a large record.
  static std::atomic<size_t> s_last_size{0};
  std::vector<uint8_t> payload;
  payload.reserve(s_last_size.load(std::memory_order_relaxed));
  PDB_SEGMENT seg(&payload);
  callback(seg, ptr_address);
  PLAT_CHECK(seg.is_balanced(), "PDB");
  seg.finish();
  s_last_size.store(payload.size(), std::memory_order_relaxed);
  archive.put_record(name ? name : "", ext ? ext : "", std::move(payload));
}

void pdb_read_ptr(PDB_ARCHIVE& archive, const char* name, const char* ext,
                  PDB_PTR_CALLBACK callback, void* ptr_address, MEM_UTILS_CHUNK_ALLOC* chunk,
                  const char* source) {
  PLAT_CHECK(archive.is_open() && !archive.is_writing(), "PDB");
  PLAT_CHECK(callback != nullptr && ptr_address != nullptr, "PDB");
  const std::string record_name = name ? name : "";
  const std::string record_ext = ext ? ext : "";
  const std::vector<uint8_t>* payload = archive.find_record(record_name, record_ext);
  if (!payload) {
    throw PDB_INVALID_PATH(archive.get_file_path() + ":" + record_name + "." + record_ext);
  }
  PDB_SEGMENT seg(payload->data(), payload->size());
  seg.set_chunk_allocator(chunk);
  (void)source;
  callback(seg, ptr_address);
  PLAT_CHECK(seg.is_balanced(), "PDB");
}
