// ztl_ops_sys.h — key operations of the hash containers (ZTL_HASH,
// ZTL_HASH_LITE, ZTL_HASH_SET_LITE).
//
// Model: ZTL_OPS<K> is a stateless trait with two static members,
//   static uint32_t hash(const K& key);         // bucket = hash % bucket count
//   static bool equal(const K& a, const K& b);  // key identity
// The primary template serves integral and enumeration keys (the key's value
// truncated to 32 bits); pointers and std::string have their own forms below.
// Any other key type specializes ZTL_OPS next to its own declaration; a full
// specialization for a pointer type (ZTL_OPS<SOME_CLASS*>) takes precedence
// over the generic pointer form here.
//
// Invariant: equal keys hash equally. Hash values are part of the containers'
// observable behaviour (bucket and iteration order), so the formulas below
// must not change. Pointer hashes vary between runs with the heap addresses,
// so no output a user sees may depend on the iteration order of a
// pointer-keyed table.
// Cost: O(1) for integers and pointers, O(length) for texts.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

// Integral and enumeration keys: the value itself, truncated to 32 bits.
template <class K>
struct ZTL_OPS {
  static_assert(std::is_integral_v<K> || std::is_enum_v<K>,
                "ZTL_OPS has no default for this key type: specialize it");

  static uint32_t hash(const K& key) { return static_cast<uint32_t>(key); }
  static bool equal(const K& a, const K& b) { return a == b; }
};

// Pointer keys: heap objects are 8-aligned, so the low three bits carry no
// information; dropping them spreads neighbouring objects over buckets.
template <class T>
struct ZTL_OPS<T*> {
  static uint32_t hash(T* key) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key) >> 3);
  }
  static bool equal(T* a, T* b) { return a == b; }
};

// Hash of a byte sequence, shared by every key that contains text (the text
// key below, name keys that combine a pointer with an extension). Each byte is
// taken as a signed char, so bytes above 127 contribute negative values; the
// arithmetic is unsigned 32-bit throughout.
inline uint32_t ztl_ops_text_hash(const char* data, size_t length) {
  uint32_t h = 0;
  for (size_t i = 0; i < length; ++i) {
    const uint32_t c = static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(data[i])));
    h ^= (h << 5) + (h >> 2) + c;
  }
  return h;
}

// Text keys: every byte counts, embedded zero bytes included, so "ab" and
// "ab\0" are different keys.
template <>
struct ZTL_OPS<std::string> {
  static uint32_t hash(const std::string& key) {
    return ztl_ops_text_hash(key.data(), key.size());
  }
  static bool equal(const std::string& a, const std::string& b) { return a == b; }
};
