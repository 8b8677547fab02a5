// basex_arrays.cpp — array names declared to the elaboration information.
#include "basex/basex.h"

#include "msg/msg.h"

void BASEX_ELABORATE_INFO::declare_array_name(const char* base, int kind,
                                              const std::vector<std::pair<int, int>>& ranges) {
  PLAT_CHECK(base != nullptr && !ranges.empty(), "BASEX");
  (void)kind;
  m_arrays[base] = ranges;
}

const std::vector<std::pair<int, int>>* BASEX_ELABORATE_INFO::get_array_ranges(const char* base) const {
  if (!base) return nullptr;
  auto it = m_arrays.find(base);
  return it == m_arrays.end() ? nullptr : &it->second;
}
