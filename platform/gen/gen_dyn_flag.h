// Role: general utilities (docs/platform.md, "General utilities").
// gen_dyn_flag.h — dynamic flag bits borrowed by passes, one manager per netlist.
//
// Model: every gate and output terminal carries a 32-bit dynamic-flag word.
//   A manager hands out its bits: create_flag(name) takes the lowest free bit,
//   destroy_flag(flag) clears that bit on every gate and terminal of its owner
//   (through the clear function the owner installs) and frees it.
// Invariant: a bit that is not live is clear on every gate and terminal the
//   owner holds, so a freshly created flag reads 0 everywhere.
// Cost: create O(1); destroy O(gates + terminals) of the owner.
// A 33rd live flag, or destroying a flag that is not live, is an internal error.
#pragma once

#include <cstdint>
#include <string>

class GEN_DYN_FLAG {
 public:
  GEN_DYN_FLAG() = default;
  GEN_DYN_FLAG(const char* name, uint32_t mask) : m_name(name ? name : ""), m_mask(mask) {}
  uint32_t get_mask() const { return m_mask; }
  const char* get_name() const { return m_name.c_str(); }
  bool is_null() const { return m_mask == 0; }

 private:
  std::string m_name;
  uint32_t m_mask = 0;
};

class GEN_DYN_FLAG_MANAGER {
 public:
  // Clears the bits of `mask` on everything the owner holds.
  typedef void (*CLEAR_FN)(void* owner, uint32_t mask);

  GEN_DYN_FLAG_MANAGER() = default;
  GEN_DYN_FLAG_MANAGER(CLEAR_FN fn, void* owner) : m_clear(fn), m_owner(owner) {}
  GEN_DYN_FLAG_MANAGER(const GEN_DYN_FLAG_MANAGER&) = delete;
  GEN_DYN_FLAG_MANAGER& operator=(const GEN_DYN_FLAG_MANAGER&) = delete;

  void set_clear_function(CLEAR_FN fn, void* owner) { m_clear = fn; m_owner = owner; }

  GEN_DYN_FLAG create_flag(const char* name);
  void destroy_flag(const GEN_DYN_FLAG& flag);

  uint32_t get_live_mask() const { return m_live; }
  int get_num_live_flags() const;
  bool is_live(const GEN_DYN_FLAG& flag) const { return flag.get_mask() && (m_live & flag.get_mask()) == flag.get_mask(); }
  // The name a live bit was created with ("" for a free bit).
  const char* get_bit_name(int bit) const;

 private:
  CLEAR_FN m_clear = nullptr;
  void* m_owner = nullptr;
  uint32_t m_live = 0;
  std::string m_names[32];
};
