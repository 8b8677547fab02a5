// Role: netlist I/O, simulation and oracles (tests and tools)
// (docs/platform.md, "Netlist I/O and oracles").
// netlist_io_int.h — helpers shared by the BLIF reader and writer, the
// simulator and the generators (not for other users).
//
// Names: a circuit's signals are named "<top>|<signal>" in the name tree,
//   where "|" inside a signal name nests further levels; io_signal_path gives
//   back the part below the top name, which is what BLIF files and
//   sim_equivalent use.
// Signal table: an open-addressing hash from a name (a view whose text the
//   caller keeps alive) to a dense id, FNV-1a hashed, linear probing with a
//   an 8-bit fingerprint beside each slot, sized for at most 80 % load. Ids
//   follow insertion order. 8 bytes per name plus about 6 in the index.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class HDB_INSTANCE_NAME;
class CDB_SGATE_NODE;
class CDB_SGATE_NETLIST;
class CDB_SGATE_HIERARCHY;

namespace kavu_platform {

// The top name of a circuit (one level under the name tree's root).
HDB_INSTANCE_NAME* io_top_name(std::string_view model);
// The name "<top>|<path>", path levels separated by '|'.
HDB_INSTANCE_NAME* io_signal_name(HDB_INSTANCE_NAME* top, std::string_view path);
// The path of a name below its top level ("" for null).
std::string io_signal_path(const HDB_INSTANCE_NAME* name);
// The partial (last-level) name of the top of a netlist's hierarchy, or "".
std::string io_netlist_top(const CDB_SGATE_NETLIST* netlist);
// A new hierarchy named `top` for the netlist (the caller owns it).
CDB_SGATE_HIERARCHY* io_make_hierarchy(CDB_SGATE_NETLIST* netlist, HDB_INSTANCE_NAME* top);

// ---- memory the system refuses ----
// The public calls of netlist I/O run their work under io_guard_memory: a
// std::bad_alloc anywhere in it (an address-space limit, a container's
// memory limit) fails the call with its own error instead of ending the
// caller's process. The work holds what it makes in objects that free it
// as they go, and a file is written whole or not at all, so a refusal
// leaves nothing half made behind.

// Sets *error (when given) to "<path, escaped>: <what>", or to `what` alone
// when `path` is empty. Never throws: when that text cannot be made, *error
// says "not enough memory", else "out of memory", which needs no memory.
void io_say_out_of_memory(std::string* error, const std::string& path, const char* what) noexcept;

// Runs work(); when the system refuses memory in it, runs refused() (which
// must not throw; see io_say_out_of_memory) and returns `failed`.
template <class RESULT, class WORK, class REFUSED>
RESULT io_guard_memory(RESULT failed, WORK&& work, REFUSED&& refused) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    refused();
    return failed;
  }
}

// FNV-1a, then a multiplicative mix so that the high bits (the table index)
// depend on every character.
inline uint64_t io_hash(std::string_view s) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return (h ^ (h >> 32)) * 0x9e3779b97f4a7c15ull;
}

// Texts kept at addresses that never move, back to back in blocks (a text
// longer than a block gets a block of its own), until the store goes.
class IO_TEXT_STORE {
 public:
  explicit IO_TEXT_STORE(size_t block_bytes = 64 * 1024) : m_block_bytes(block_bytes) {}
  // A copy of `text` in the store.
  std::string_view keep(std::string_view text);

 private:
  size_t m_block_bytes;
  std::vector<std::unique_ptr<char[]>> m_blocks;
  char* m_next = nullptr;
  size_t m_left = 0;
};

class IO_NAME_TABLE {
 public:
  // Id of `name`; a new id (the count so far) when absent.
  uint32_t intern(std::string_view name, bool* added = nullptr);
  // Id of `name`, or UINT32_MAX when absent.
  uint32_t find(std::string_view name) const;
  std::string_view name(uint32_t id) const {
    const uint64_t v = m_names[id];
    const size_t size = size_t(v >> kSizeShift);
    return std::string_view(reinterpret_cast<const char*>(v & kAddressMask),
                            size == kLongSize ? m_long_sizes.at(id) : size);
  }
  uint32_t size() const { return uint32_t(m_names.size()); }
  void reserve(size_t n);
  // The name of `id` now lives at `same` (the same characters elsewhere).
  void rebind(uint32_t id, std::string_view same) { m_names[id] = pack(id, same); }
  // Frees the hash index: name() still works, intern() and find() must not
  // be called again.
  void release_index() {
    std::vector<uint32_t>().swap(m_slots);
    std::vector<uint8_t>().swap(m_tags);
  }

 private:
  // A name is its text's address in the low 48 bits, which user-space
  // addresses leave free above, and its size in the high 16; a size of
  // kLongSize or more is kept in m_long_sizes.
  static constexpr uint64_t kAddressMask = (uint64_t(1) << 48) - 1;
  static constexpr unsigned kSizeShift = 48;
  static constexpr size_t kLongSize = 0xffff;
  uint64_t pack(uint32_t id, std::string_view name);
  // Slots for n names at 80 % load.
  static size_t slots_for(size_t n) { return n + n / 4 + 16; }
  void rebuild(size_t slots);
  size_t home(uint64_t hash) const {
    return size_t((static_cast<unsigned __int128>(hash) * m_slots.size()) >> 64);
  }
  size_t next(size_t i) const { return i + 1 == m_slots.size() ? 0 : i + 1; }
  std::vector<uint64_t> m_names;
  std::unordered_map<uint32_t, size_t> m_long_sizes;
  // id + 1 (0 empty), and beside it 8 bits of the name's hash, which turn
  // away all but one in 256 of the other names a probe meets unread.
  std::vector<uint32_t> m_slots;
  std::vector<uint8_t> m_tags;
};

// blif_write_file with memory refused left to the caller as std::bad_alloc
// (the oracles' writes, whose callers refuse memory as a whole).
struct BLIF_WRITE_OPTIONS;
bool io_write_blif_file(const CDB_SGATE_NETLIST* netlist, const std::string& path, const BLIF_WRITE_OPTIONS& options,
                        std::string* error);

}  // namespace kavu_platform
