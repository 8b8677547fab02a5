// gen_dyn_flag.cpp — allocation of dynamic flag bits (see gen_dyn_flag.h).
#include "gen/gen_dyn_flag.h"

#include <bit>

#include "msg/msg.h"

GEN_DYN_FLAG GEN_DYN_FLAG_MANAGER::create_flag(const char* name) {
  // All 32 bits live means the passes leak flags: refuse rather than alias.
  PLAT_CHECK(m_live != 0xffffffffu, "PLATFORM");
  int bit = std::countr_one(m_live);  // lowest free bit
  uint32_t mask = uint32_t(1) << bit;
  m_live |= mask;
  m_names[bit] = name ? name : "";
  return GEN_DYN_FLAG(name, mask);
}

void GEN_DYN_FLAG_MANAGER::destroy_flag(const GEN_DYN_FLAG& flag) {
  uint32_t mask = flag.get_mask();
  PLAT_CHECK(std::popcount(mask) == 1 && (m_live & mask) != 0, "PLATFORM");
  if (m_clear) m_clear(m_owner, mask);
  m_live &= ~mask;
  m_names[std::countr_zero(mask)].clear();
}

int GEN_DYN_FLAG_MANAGER::get_num_live_flags() const { return std::popcount(m_live); }

const char* GEN_DYN_FLAG_MANAGER::get_bit_name(int bit) const {
  PLAT_CHECK(bit >= 0 && bit < 32, "PLATFORM");
  return m_names[bit].c_str();
}
