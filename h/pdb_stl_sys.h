// pdb_stl_sys.h — how the standard containers, the light hash map and
// strings move through a persistence segment (pdb/pdb.h).
//
// Encodings: a string is its length as a count and then its characters. A
// collection is its element count, then begin-collection, the elements
// (each under the element tag and name given below, with the segment's
// element index counting from 0), then end-collection, after which the
// element index is -1. Sets and hashes are written under one element tag
// and read under another (853/842 for set keys; 1496/1482 for hash keys and
// 1498/1485 for hash values); the segment matches collection elements by
// position, so both sides agree.
// Reading: a container is cleared or resized to the stored count first;
// the segment has already checked that count against the bytes left, so no
// stored count can make a reader allocate more than a small multiple of the
// record's size.
// Errors: writing a container of UINT_MAX or more elements, or a string of
// INT_MAX characters or more, is an internal error of our own data. Stored
// data that reads back with fewer elements than its count (duplicate keys)
// is bad data: a PDB_DATABASE_EXCEPTION, never an internal error, so that a
// damaged file cannot stop the process.
#pragma once

#include <climits>
#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "msg/msg.h"
#include "pdb/pdb.h"
#include "ztl_hash_lite_sys.h"

#define PDB_STL_CHECK(cond) \
  do {                      \
    if (!(cond)) MSG_INTERNAL_ERROR::report(#cond, "KAVU", "h/pdb_stl_sys", __LINE__); \
  } while (0)

// Every collection element is at least one field record of 3 bytes.
constexpr uint32_t PDB_STL_MIN_ELEMENT_BYTES = 3;

// The element count of a container: checked on writing, read and checked
// against the bytes left on reading.
inline uint32_t pdb_stl_count(PDB_SEGMENT& seg, size_t size) {
  uint32_t count = 0;
  if (!seg.is_reading()) {
    PDB_STL_CHECK(size <= UINT_MAX);
    count = static_cast<uint32_t>(size);
    PDB_STL_CHECK(count < PDB_MAX_COLLECTION_SIZE);
  }
  seg.transfer_count(count, PDB_STL_MIN_ELEMENT_BYTES);
  return count;
}

inline void pdb_stl_refuse_duplicates(bool ok, const char* what) {
  if (!ok) throw PDB_DATABASE_EXCEPTION(std::string("duplicate keys in stored data: ") + what);
}

inline void pdb_transfer(PDB_SEGMENT& seg, std::string& str) {
  uint32_t length = 0;
  if (!seg.is_reading()) {
    PDB_STL_CHECK(str.size() < static_cast<unsigned int>(INT_MAX));
    length = static_cast<uint32_t>(str.size());
  }
  seg.transfer_count(length);
  if (seg.is_reading()) str.resize(length);
  seg.transfer_chars(length, str.data());
}

inline void pdb_transfer(PDB_SEGMENT& seg, int32_t& v) { seg.transfer_int32(v); }
inline void pdb_transfer(PDB_SEGMENT& seg, uint32_t& v) { seg.transfer_uint32(v); }

// Vectors of strings and of rows (vectors of strings): elements "val", tag 76.
template <class T>
void pdb_transfer(PDB_SEGMENT& seg, std::vector<T>& vec) {
  const uint32_t count = pdb_stl_count(seg, vec.size());
  if (seg.is_reading()) vec.resize(count);
  seg.begin_collection("Val");
  for (uint32_t i = 0; i < count; ++i) {
    seg.set_element_index(i);
    seg.set_field(76, "val");
    pdb_transfer(seg, vec[i]);
  }
  seg.end_collection();
}

// Double-ended queue: elements "*itr", tag 339; new elements read as 0.
template <class T>
void pdb_transfer(PDB_SEGMENT& seg, std::deque<T>& queue) {
  const uint32_t count = pdb_stl_count(seg, queue.size());
  if (seg.is_reading()) queue.resize(count);
  seg.begin_collection("Val");
  uint32_t i = 0;
  for (T& v : queue) {
    seg.set_element_index(i++);
    seg.set_field(339, "*itr");
    pdb_transfer(seg, v);
  }
  seg.end_collection();
}

// Ordered set: written in the set's order, read back into a cleared set.
template <class K>
void pdb_transfer(PDB_SEGMENT& seg, std::set<K>& keys) {
  const uint32_t count = pdb_stl_count(seg, keys.size());
  seg.begin_collection("Val");
  if (!seg.is_reading()) {
    uint32_t i = 0;
    for (const K& k : keys) {
      seg.set_element_index(i++);
      seg.set_field(853, "const_cast<Key&>( *itr )");
      pdb_transfer(seg, const_cast<K&>(k));
    }
  } else {
    keys.clear();
    for (uint32_t i = 0; i < count; ++i) {
      seg.set_element_index(i);
      seg.set_field(842, "key1");
      K k{};
      pdb_transfer(seg, k);
      keys.insert(keys.end(), std::move(k));
    }
    pdb_stl_refuse_duplicates(count == keys.size(), "size == (UINT)_set.size()");
  }
  seg.end_collection();
}

// The value of a hash entry: an unregistered object of two fields.
inline void pdb_transfer_pair(PDB_SEGMENT& seg, std::pair<uint32_t, std::string>& value) {
  seg.begin_object(nullptr, &value);
  seg.set_field(1079, "obj_ref.first");
  pdb_transfer(seg, value.first);
  seg.set_field(1081, "obj_ref.second");
  pdb_transfer(seg, value.second);
  seg.end_object();
}

// Light hash of id to (parent id, name): entries in bucket order. Reading
// clears the table and, when the count exceeds its fill limit, sizes it once
// for the count before inserting.
template <class K, class OPS>
void pdb_transfer(PDB_SEGMENT& seg, ZTL_HASH_LITE<K, std::pair<uint32_t, std::string>, OPS>& table) {
  const uint32_t count = pdb_stl_count(seg, table.size());
  seg.begin_collection(nullptr);
  if (!seg.is_reading()) {
    uint32_t i = 0;
    for (auto it = table.begin(); it != table.end(); ++it) {
      seg.set_element_index(i++);
      seg.set_field(1496, "const_cast<Key&>( itr->first )");
      pdb_transfer(seg, const_cast<K&>(it->first));
      seg.set_field(1498, "itr->second");
      pdb_transfer_pair(seg, it->second);
    }
  } else {
    table.clear();
    if (count > table.fill_limit()) {
      table.resize(ztl_hash_lite_get_next_prime(static_cast<uint32_t>((uint64_t(count) * 5 + 3) / 4)));
    }
    for (uint32_t i = 0; i < count; ++i) {
      seg.set_element_index(i);
      seg.set_field(1482, "pair.first");
      K key{};
      pdb_transfer(seg, key);
      auto entry = table.insert(key, std::pair<uint32_t, std::string>());
      seg.set_field(1485, "entry.first->second");
      pdb_transfer_pair(seg, entry.first->second);
    }
    pdb_stl_refuse_duplicates(count == table.size(), "size == (UINT)_hash_map.size()");
  }
  seg.end_collection();
}
