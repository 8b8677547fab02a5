// Role: persistence archive (docs/platform.md, "Persistence archive"; see also "Archive file").
// pdb.h — the persistence archive: registered record types, the segment
// that moves their fields, and the archive file that holds named records.
//
// Model: a record type registers a PDB_THUNK_INFO (class hash, callbacks,
//   size, owner) for its lifetime. One transfer callback per type both
//   writes and reads: it calls the segment's elementary operations, and the
//   segment's direction decides which way each value moves. An archive file
//   holds named records; each record is the byte stream one pointer
//   transfer (pdb_write_ptr) produced.
// File format (all integers little-endian):
//   file    = "KAVUPDB1" { record }
//   record  = u32 name length, name, u32 extension length, extension,
//             u32 payload length, payload
//   payload = field records: u16 tag, u8 kind (bit 7: a name follows as u8
//             length and bytes), then by kind: int32/uint32/count 4 bytes,
//             bool 1 byte (0 or 1), bits u8 width and u32 value, chars the
//             bytes of the length given to transfer_chars, object begin the
//             u32 class hash, pointer u8 (0 null, 1 an object follows);
//             collection begin/end and object end carry nothing.
// Reading checks every field's kind, every count and length against the
//   bytes left before anything is allocated, and counts against
//   PDB_MAX_COLLECTION_SIZE; it checks tags (and, with the key
//   "pdb_check_names" on, names) of the fields of objects. Elements directly
//   inside a collection are matched by position and kind only: the record
//   types read their elements under other tags than they write them with.
//   Names are written only while "pdb_check_names" is on.
// Errors of the data are exceptions, the only ones the platform throws:
//   PDB_DATABASE_EXCEPTION (bad or truncated data, wrong class hash) and its
//   subclass PDB_INVALID_PATH (a file that cannot be read or written, or a
//   record the archive does not hold). A failed read leaves the caller's
//   pointer as it was. Misuse by the caller (a transfer outside a record, a
//   collection left open) is an internal error.
// Writing builds the file in memory; close() writes it as every file of the
//   library is written (FIO_FILE_REPLACEMENT, FIO_FILE_SYSTEM::replace_file):
//   to a temporary file beside it, renamed over the target, where that
//   leaves what writing in place leaves, else in place with its room
//   reserved first. A reader never sees half a file, a failed write leaves
//   the old file as it was, and an archive destroyed without close()
//   leaves it untouched; a link is followed, a file's other names, owner,
//   group and mode are kept. stage() does the first half alone (the text
//   written beside the target, or held for writing in place), so that
//   several archives can be filled and written on threads and published
//   (renamed) in an order.
// One archive is not thread-safe; distinct archives may be used on distinct
//   threads. The registry of record types is process-wide and is changed
//   only by registrations (at library load, or on a type's first use) and
//   their destruction; it is guarded, so first uses may meet on threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <unordered_map>
#include <vector>

class FIO_FILE_REPLACEMENT;
class MEM_UTILS_CHUNK_ALLOC;
class PDB_THUNK_INFO;
class PDB_CDB_SEG_BASE;
template <class BASE>
class PDB_SEGMENT_TEMPLATE;
typedef PDB_SEGMENT_TEMPLATE<PDB_CDB_SEG_BASE> PDB_SEGMENT;

// A count at or above this is refused, written or read.
constexpr uint32_t PDB_MAX_COLLECTION_SIZE = 0x3fffffff;

// ---------------------------------------------------------------- exceptions

class PDB_DATABASE_EXCEPTION : public std::runtime_error {
 public:
  explicit PDB_DATABASE_EXCEPTION(const std::string& what, int error_code = 0)
      : std::runtime_error(what), m_error_code(error_code) {}
  // Writes the text to the debug output of the component "PDB".
  virtual void report() const;
  // The system's error number of the file operation that failed (ENOSPC for
  // a full disk), 0 when the failure is not one of the system's.
  int get_error_code() const { return m_error_code; }

 private:
  int m_error_code = 0;
};

class PDB_INVALID_PATH : public PDB_DATABASE_EXCEPTION {
 public:
  // With an error number, the system's reason follows the path. The text
  // quotes the path escaped (printable_path); get_path() is the path itself.
  explicit PDB_INVALID_PATH(const std::string& path, int error_code = 0)
      : PDB_DATABASE_EXCEPTION("invalid path: " + printable_path(path) + reason_of(error_code), error_code),
        m_path(path),
        m_reason(reason_of(error_code)) {}
  // A failed write: `problem` is the file writer's (FIO_FILE_REPLACEMENT),
  // whose reason follows the path as the other writers give it ("the path
  // holds a NUL byte", "all 100 names of a temporary file beside it are
  // taken", the system's reason).
  PDB_INVALID_PATH(const std::string& path, int error_code, const std::string& problem)
      : PDB_DATABASE_EXCEPTION("invalid path: " + printable_path(path) + write_reason_of(error_code, problem),
                               error_code),
        m_path(path),
        m_reason(write_reason_of(error_code, problem)) {}
  const std::string& get_path() const { return m_path; }
  // The reason as it follows the path, without the ": " ("File too large",
  // "the path holds a NUL byte"); empty when none is known.
  std::string get_reason() const { return m_reason.size() > 2 ? m_reason.substr(2) : std::string(); }
  static std::string reason_of(int error_code);
  static std::string write_reason_of(int error_code, const std::string& problem);
  // The path as a message shows it: bytes outside printable ASCII as "\xHH"
  // (msg_printable_text), so a terminal escape in a file name stays text.
  static std::string printable_path(const std::string& path);

 private:
  std::string m_path;
  std::string m_reason;  // ": " and the reason, or empty
};

// ---------------------------------------------------------------- registrations

// Create: a zero-filled block of `size` bytes from the heap (freed with
// ::operator delete). Chunked create: one record from the allocator, or
// from the heap when it is null. Array create: `count` constructed records;
// the count sits in the 8 bytes before the first. Construct: in place (null:
// nothing). Destroy: the destructor only. Transfer: moves the fields.
typedef void* (*PDB_CREATE_FN)(size_t size);
typedef void* (*PDB_CHUNK_CREATE_FN)(MEM_UTILS_CHUNK_ALLOC* alloc);
typedef void* (*PDB_ARRAY_CREATE_FN)(size_t count, MEM_UTILS_CHUNK_ALLOC* alloc);
typedef void (*PDB_CONSTRUCT_FN)(void* record);
typedef void (*PDB_DESTROY_FN)(void* record);
typedef void (*PDB_TRANSFER_FN)(PDB_SEGMENT& seg, void* record);
typedef const PDB_THUNK_INFO* (*PDB_THUNK_FN)();
typedef void* (*PDB_THIS_FN)(void* record);

// A record type's registration, in the process-wide registry from
// construction to destruction. A second live registration of a class hash is
// an internal error, and so is a null create, construct, destroy or transfer
// callback.
class PDB_THUNK_INFO {
 public:
  PDB_THUNK_INFO(uint32_t class_hash, PDB_CREATE_FN create, PDB_CHUNK_CREATE_FN chunk_create,
                 PDB_ARRAY_CREATE_FN array_create, PDB_CONSTRUCT_FN construct,
                 PDB_DESTROY_FN destroy, PDB_TRANSFER_FN transfer, PDB_THUNK_FN thunk,
                 PDB_THIS_FN this_ptr, bool flag1, bool flag2, const std::type_info& type,
                 size_t size, const char* owner, const char* source, int line);
  ~PDB_THUNK_INFO();
  PDB_THUNK_INFO(const PDB_THUNK_INFO&) = delete;
  PDB_THUNK_INFO& operator=(const PDB_THUNK_INFO&) = delete;

  uint32_t get_class_hash() const { return m_class_hash; }
  PDB_CREATE_FN get_create() const { return m_create; }
  PDB_CHUNK_CREATE_FN get_chunk_create() const { return m_chunk_create; }
  PDB_ARRAY_CREATE_FN get_array_create() const { return m_array_create; }
  PDB_CONSTRUCT_FN get_construct() const { return m_construct; }
  PDB_DESTROY_FN get_destroy() const { return m_destroy; }
  PDB_TRANSFER_FN get_transfer() const { return m_transfer; }
  PDB_THUNK_FN get_thunk() const { return m_thunk; }
  PDB_THIS_FN get_this() const { return m_this; }
  bool get_flag1() const { return m_flag1; }
  bool get_flag2() const { return m_flag2; }
  const std::type_info& get_type() const { return m_type; }
  size_t get_size() const { return m_size; }
  const char* get_owner() const { return m_owner; }
  const char* get_source() const { return m_source; }
  int get_line() const { return m_line; }

  // The live registration of that class hash, or null.
  static const PDB_THUNK_INFO* find(uint32_t class_hash);

 private:
  uint32_t m_class_hash;
  PDB_CREATE_FN m_create;
  PDB_CHUNK_CREATE_FN m_chunk_create;
  PDB_ARRAY_CREATE_FN m_array_create;
  PDB_CONSTRUCT_FN m_construct;
  PDB_DESTROY_FN m_destroy;
  PDB_TRANSFER_FN m_transfer;
  PDB_THUNK_FN m_thunk;
  PDB_THIS_FN m_this;
  bool m_flag1;
  bool m_flag2;
  const std::type_info& m_type;
  size_t m_size;
  const char* m_owner;
  const char* m_source;
  int m_line;
};

// ---------------------------------------------------------------- segment

// The segment kind of the gate-netlist database; its records live in files
// with this extension.
class PDB_CDB_SEG_BASE {
 public:
  static const char* extension() { return "cdb"; }
};

// Moves one record's fields between objects and bytes. Made by
// pdb_write_ptr and pdb_read_ptr; callbacks only call its operations.
// Every elementary operation writes or reads one field record under the
// current field (set_field); see the file comment for the checks.
template <class BASE>
class PDB_SEGMENT_TEMPLATE : public BASE {
 public:
  // A writing segment appending to *out; finish() leaves *out holding
  // exactly what was written (the segment grows it ahead until then).
  explicit PDB_SEGMENT_TEMPLATE(std::vector<uint8_t>* out);
  void finish() {
    if (m_out) m_out->resize(m_length);
  }
  // A reading segment over [data, data + size).
  PDB_SEGMENT_TEMPLATE(const uint8_t* data, size_t size);
  PDB_SEGMENT_TEMPLATE(const PDB_SEGMENT_TEMPLATE&) = delete;
  PDB_SEGMENT_TEMPLATE& operator=(const PDB_SEGMENT_TEMPLATE&) = delete;

  bool is_reading() const { return m_reading; }
  // The tag and name of the next field records. Tags are 0..65535.
  void set_field(int tag, const char* name);
  int get_field_tag() const { return m_tag; }
  const char* get_field_name() const { return m_name; }
  // The index of the collection element being moved; -1 outside.
  void set_element_index(int64_t index) { m_element_index = index; }
  int64_t get_element_index() const { return m_element_index; }

  // An object of the registered type (null: an unregistered group of
  // fields, class hash 0). Reading checks the class hash.
  void begin_object(const PDB_THUNK_INFO* thunk, void* record);
  void end_object();
  void transfer_int32(int32_t& value);
  void transfer_uint32(uint32_t& value);
  // The low `width` bits (1..32) of value; returns the value now stored.
  // Reading refuses a stored width other than `width`.
  uint32_t transfer_bits(uint32_t value, unsigned width);
  void transfer_bool(bool& value);
  // A count below PDB_MAX_COLLECTION_SIZE. Reading also refuses a count
  // whose units, at least min_unit_bytes each, cannot fit in the bytes left.
  void transfer_count(uint32_t& count, uint32_t min_unit_bytes = 1);
  // `length` characters from (writing) or into (reading) str.
  void transfer_chars(uint32_t length, char* str);
  void begin_collection(const char* name);
  void end_collection();
  // An owned pointer to an object of the thunk's type (null allowed).
  // Reading creates the object through the thunk (from the allocator when
  // one was given and it is enabled) and, on success only, destroys the
  // object *ptr held and stores the new one; on failure the new object is
  // destroyed and *ptr is left as it was.
  void transfer_ptr(void*& ptr, const PDB_THUNK_INFO& thunk);

  // Set by pdb_read_ptr: where transfer_ptr creates objects.
  void set_chunk_allocator(MEM_UTILS_CHUNK_ALLOC* alloc) { m_chunk = alloc; }
  // Reading: the bytes not yet consumed.
  size_t bytes_left() const { return static_cast<size_t>(m_end - m_cur); }
  // True when no object or collection is open.
  bool is_balanced() const { return m_frames.empty(); }

 private:
  enum FRAME_KIND : uint8_t { FRAME_OBJECT, FRAME_COLLECTION };
  struct FRAME {
    FRAME_KIND m_kind;
    uint16_t m_tag;
    const char* m_name;
  };

  // Field kinds of the payload, as in the file format (pdb.cpp).
  static constexpr uint8_t kKindInt32 = 1, kKindUint32 = 2, kKindBool = 4, kKindCount = 5;

  // The elementary moves are inline (below the class): a record of a
  // million gates makes tens of millions of them. What is rare (names
  // stored with the fields, a field that does not match, errors) is out of
  // line in pdb.cpp.
  void put_header(uint8_t kind);
  void put_header_u32(uint8_t kind, uint32_t v);
  void put_named_header(uint8_t kind);
  // Writing: n bytes at the end of the record, to be filled. The byte
  // vector is grown ahead in large steps and cut to the bytes written by
  // finish().
  uint8_t* room(size_t n) {
    if (m_out->size() - m_length < n) grow(n);
    uint8_t* at = m_out->data() + m_length;
    m_length += n;
    return at;
  }
  void grow(size_t n);
  void put_u8(uint8_t v) { *room(1) = v; }
  void put_u32(uint32_t v) {
    uint8_t* at = room(4);
    at[0] = uint8_t(v), at[1] = uint8_t(v >> 8), at[2] = uint8_t(v >> 16), at[3] = uint8_t(v >> 24);
  }
  void get_header(uint8_t kind);
  void get_header_checked(uint8_t kind);
  uint8_t get_u8();
  uint32_t get_u32();
  void need(size_t n) {
    if (bytes_left() < n) truncated();
  }
  [[noreturn]] void fail(const std::string& what) const;
  [[noreturn]] void truncated() const;
  [[noreturn]] void bad_tag(int tag) const;
  [[noreturn]] void bad_count(uint32_t count, bool over_limit) const;
  [[noreturn]] void bad_bool() const;

  bool m_reading;
  bool m_names;  // write names / check names
  std::vector<uint8_t>* m_out = nullptr;
  size_t m_length = 0;  // writing: the bytes of *m_out written so far
  const uint8_t* m_begin = nullptr;
  const uint8_t* m_cur = nullptr;
  const uint8_t* m_end = nullptr;
  uint16_t m_tag = 0;
  const char* m_name = "";
  int64_t m_element_index = -1;
  std::vector<FRAME> m_frames;
  MEM_UTILS_CHUNK_ALLOC* m_chunk = nullptr;
};

template <class BASE>
inline void PDB_SEGMENT_TEMPLATE<BASE>::set_field(int tag, const char* name) {
  if (tag < 0 || tag > 0xffff) bad_tag(tag);
  m_tag = static_cast<uint16_t>(tag);
  m_name = name ? name : "";
}

template <class BASE>
inline uint8_t PDB_SEGMENT_TEMPLATE<BASE>::get_u8() {
  need(1);
  return *m_cur++;
}

template <class BASE>
inline uint32_t PDB_SEGMENT_TEMPLATE<BASE>::get_u32() {
  need(4);
  const uint32_t v = uint32_t(m_cur[0]) | uint32_t(m_cur[1]) << 8 | uint32_t(m_cur[2]) << 16 |
                     uint32_t(m_cur[3]) << 24;
  m_cur += 4;
  return v;
}

// The header and a 4-byte value in one append: the common field of a record
// (numbers, counts, class hashes) costs one growth check instead of two.
template <class BASE>
inline void PDB_SEGMENT_TEMPLATE<BASE>::put_header_u32(uint8_t kind, uint32_t v) {
  if (m_names) {
    put_named_header(kind);
    put_u32(v);
    return;
  }
  uint8_t* at = room(7);
  at[0] = uint8_t(m_tag), at[1] = uint8_t(m_tag >> 8), at[2] = kind;
  at[3] = uint8_t(v), at[4] = uint8_t(v >> 8), at[5] = uint8_t(v >> 16), at[6] = uint8_t(v >> 24);
}

template <class BASE>
inline void PDB_SEGMENT_TEMPLATE<BASE>::put_header(uint8_t kind) {
  if (m_names) return put_named_header(kind);
  uint8_t* at = room(3);
  at[0] = uint8_t(m_tag), at[1] = uint8_t(m_tag >> 8), at[2] = kind;
}

// The usual field: no stored name, the kind expected and, inside an object,
// the tag expected. Anything else takes the full check.
template <class BASE>
inline void PDB_SEGMENT_TEMPLATE<BASE>::get_header(uint8_t kind) {
  if (bytes_left() >= 3 && m_cur[2] == kind &&
      ((m_cur[0] | m_cur[1] << 8) == m_tag || (!m_frames.empty() && m_frames.back().m_kind == FRAME_COLLECTION))) {
    m_cur += 3;
    return;
  }
  get_header_checked(kind);
}

template <class BASE>
inline void PDB_SEGMENT_TEMPLATE<BASE>::transfer_int32(int32_t& value) {
  if (m_reading) {
    get_header(kKindInt32);
    value = static_cast<int32_t>(get_u32());
  } else {
    put_header_u32(kKindInt32, static_cast<uint32_t>(value));
  }
}

template <class BASE>
inline void PDB_SEGMENT_TEMPLATE<BASE>::transfer_uint32(uint32_t& value) {
  if (m_reading) {
    get_header(kKindUint32);
    value = get_u32();
  } else {
    put_header_u32(kKindUint32, value);
  }
}

template <class BASE>
inline void PDB_SEGMENT_TEMPLATE<BASE>::transfer_bool(bool& value) {
  if (!m_reading) {
    put_header(kKindBool);
    put_u8(value ? 1 : 0);
    return;
  }
  get_header(kKindBool);
  const uint8_t stored = get_u8();
  if (stored > 1) bad_bool();
  value = stored == 1;
}

template <class BASE>
inline void PDB_SEGMENT_TEMPLATE<BASE>::transfer_count(uint32_t& count, uint32_t min_unit_bytes) {
  if (!m_reading) {
    if (count >= PDB_MAX_COLLECTION_SIZE) bad_count(count, true);
    put_header_u32(kKindCount, count);
    return;
  }
  get_header(kKindCount);
  const uint32_t stored = get_u32();
  if (stored >= PDB_MAX_COLLECTION_SIZE) bad_count(stored, true);
  const uint64_t needed = uint64_t(stored) * (min_unit_bytes ? min_unit_bytes : 1);
  if (needed > bytes_left()) bad_count(stored, false);
  count = stored;
}

// ---------------------------------------------------------------- archive

// A file of named records. open(name) works on "<name>.cdb".
// The system's error number of the last archive write that failed on this
// thread (ENOSPC for a full disk), 0 when the last archive opened for
// writing on it has not failed; for callers that learn of a failure only as
// a false result.
int pdb_last_write_error();
// The reason of that failure as the file writer gives it ("File too large",
// "all 100 names of a temporary file beside it are taken"), "" when none.
std::string pdb_last_write_reason();

class PDB_ARCHIVE {
 public:
  enum OPEN_MODE { PDB_READ, PDB_WRITE };

  PDB_ARCHIVE();
  // Opens at once (see open).
  PDB_ARCHIVE(const std::string& name, OPEN_MODE mode);
  // Closes a reading archive; a writing archive not closed is discarded.
  ~PDB_ARCHIVE();
  PDB_ARCHIVE(const PDB_ARCHIVE&) = delete;
  PDB_ARCHIVE& operator=(const PDB_ARCHIVE&) = delete;

  // Reading: loads and checks the file (PDB_INVALID_PATH when it cannot be
  // read, PDB_DATABASE_EXCEPTION when it is malformed). Writing: starts an
  // empty archive in memory. Opening an open archive is an internal error.
  void open(const std::string& name, OPEN_MODE mode);
  // Writing: stores the file (PDB_INVALID_PATH when it cannot be written).
  // Both: the archive is closed afterwards, also when the store failed.
  void close();
  // Writing, the first half of close(): writes the file under its
  // temporary name and frees the records; the archive stays open and
  // close() then only renames the file over the target. An archive
  // destroyed staged and not closed removes its temporary file, so the
  // target is untouched. PDB_INVALID_PATH (the archive closed, nothing
  // left) when the file cannot be written. Archives of different files may
  // be filled and staged on different threads at once.
  void stage();
  // open(name, PDB_WRITE) of a file the caller makes for itself in a
  // directory others may write (a database directory): the file is written
  // as FIO_FILE_REPLACEMENT::open_own_file writes it, only as a file of the
  // caller's own (another user's regular file replaced where the directory
  // allows, else refused; a link of another's, a file of several names, a
  // FIFO or a device refused); otherwise the store fails.
  void open_own_file(const std::string& name) {
    open(name, PDB_WRITE);
    m_own = true;
  }
  // Writing, after open(): the store writes as open_own_file's does.
  void keep_to_own_files() { m_own = true; }
  bool is_staged() const { return m_staged; }
  bool is_open() const { return m_open; }
  bool is_writing() const { return m_open && m_mode == PDB_WRITE; }
  // The full path of the file.
  const std::string& get_file_path() const { return m_path; }

  // The payload of the record (name, extension), or null.
  const std::vector<uint8_t>* find_record(const std::string& name, const std::string& ext) const;
  // Adds or replaces a record (writing archives only).
  void put_record(const std::string& name, const std::string& ext, std::vector<uint8_t> payload);

 private:
  struct RECORD {
    std::string m_name;
    std::string m_ext;
    std::vector<uint8_t> m_payload;
  };
  void parse(std::istream& in, uint64_t size);
  void clear_records();


  bool m_open = false;
  bool m_staged = false;  // writing: the file is written, not yet in place (m_file)
  bool m_own = false;     // keep_to_own_files
  std::unique_ptr<FIO_FILE_REPLACEMENT> m_file;
  OPEN_MODE m_mode = PDB_READ;
  std::string m_path;
  std::vector<RECORD> m_records;
  // Record position by (name, extension), so that lookups and the reading of
  // an archive of n records cost O(n), not O(n^2).
  std::unordered_map<std::string, size_t> m_record_index;
};

// The field callback of a pointer: sets the field ("ptr") and calls
// transfer_ptr on the pointer at `ptr_address` with its type's thunk.
typedef void (*PDB_PTR_CALLBACK)(PDB_SEGMENT& seg, void* ptr_address);

// Writes the pointer as the record (name, ext) of a writing archive. count
// and index are accepted and unused; compression must be 0 (none).
void pdb_write_ptr(PDB_ARCHIVE& archive, const char* name, const char* ext,
                   PDB_PTR_CALLBACK callback, void* ptr_address, int count, int index,
                   int compression);
// Reads the record (name, ext) of a reading archive into the pointer;
// PDB_INVALID_PATH when the archive has no such record, and
// PDB_DATABASE_EXCEPTION when the record is malformed or not consumed
// whole; the pointer is then as it was. `source` (the caller's position)
// is accepted for the suite's interface and unused.
void pdb_read_ptr(PDB_ARCHIVE& archive, const char* name, const char* ext,
                  PDB_PTR_CALLBACK callback, void* ptr_address, MEM_UTILS_CHUNK_ALLOC* chunk,
                  const char* source);
