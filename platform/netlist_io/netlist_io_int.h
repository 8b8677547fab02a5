// netlist_io_int.h — helpers shared by the BLIF reader and writer, the
// simulator and the generators (not for other users).
//
// Names: a circuit's signals are named "<top>|<signal>" in the name tree,
//   where "|" inside a signal name nests further levels; io_signal_path gives
//   back the part below the top name, which is what BLIF files and
//   sim_equivalent use.
// Signal table: an open-addressing hash from a name (a view whose text the
//   caller keeps alive) to a dense id, FNV-1a hashed, linear probing with a
//   stored fingerprint, grown at three-quarters load. Ids follow insertion
//   order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
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

// FNV-1a, then a multiplicative mix so that the high bits (the table index)
// depend on every character.
inline uint64_t io_hash(std::string_view s) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return (h ^ (h >> 32)) * 0x9e3779b97f4a7c15ull;
}

class IO_NAME_TABLE {
 public:
  // Id of `name`; a new id (the count so far) when absent.
  uint32_t intern(std::string_view name, bool* added = nullptr);
  // Id of `name`, or UINT32_MAX when absent.
  uint32_t find(std::string_view name) const;
  std::string_view name(uint32_t id) const { return m_names[id]; }
  uint32_t size() const { return uint32_t(m_names.size()); }
  void reserve(size_t n);
  // The name of `id` now lives at `same` (the same characters elsewhere).
  void rebind(uint32_t id, std::string_view same) { m_names[id] = same; }
  // Frees the hash index: name() still works, intern() and find() must not
  // be called again.
  void release_index() { std::vector<uint64_t>().swap(m_slots); }

 private:
  void grow();
  size_t home(uint64_t hash) const { return size_t(hash >> m_shift); }
  std::vector<std::string_view> m_names;
  // High 32 bits: the name's hash fingerprint; low 32 bits: id + 1 (0 empty).
  // The fingerprint rejects almost every non-matching probe without a compare.
  std::vector<uint64_t> m_slots;
  unsigned m_shift = 64;
};

}  // namespace kavu_platform
