// basex.cpp — the elaboration information's string pool and the boundary
// pin list of the netlist information record.
//
// The pool is an ordered set of texts: insertion never moves an existing
// node, so every pointer handed out stays valid for the object's lifetime.
#include "basex/basex.h"

#include <algorithm>

#include "msg/msg.h"

void BASEX_SGATE_NETLIST_INFO::insert_boundary_pin(CDB_SGATE_IO* pin, bool at_front) {
  PLAT_CHECK(pin != nullptr, "PLATFORM");
  if (std::find(m_pins.begin(), m_pins.end(), pin) != m_pins.end()) return;
  if (at_front) {
    m_pins.push_front(pin);
  } else {
    m_pins.push_back(pin);
  }
}

bool BASEX_SGATE_NETLIST_INFO::remove_boundary_pin(CDB_SGATE_IO* pin) {
  auto it = std::find(m_pins.begin(), m_pins.end(), pin);
  if (it == m_pins.end()) return false;
  m_pins.erase(it);
  return true;
}

const char* BASEX_ELABORATE_INFO::generate_string_name(const char* base, const char* a,
                                                       const char* b, int i, int j, int k) {
  PLAT_CHECK(base != nullptr, "PLATFORM");
  std::string text(base);
  for (const char* part : {a, b}) {
    if (part && *part) {
      text += '_';
      text += part;
    }
  }
  if (i != 0 || j != 0 || k != 0) {
    text += '[' + std::to_string(i) + ',' + std::to_string(j) + ',' + std::to_string(k) + ']';
  }
  return m_pool.insert(std::move(text)).first->c_str();
}
