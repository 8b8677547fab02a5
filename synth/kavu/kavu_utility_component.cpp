// kavu_utility_component.cpp — component creation, port bits, parameters
// and names; the RTL stage's comb-gate insertion and operator naming.
//
// Model: a component's port bits are found by pooled name: the generator of
// the elaboration information turns (port, bit indices) into one text, and
// CDB_SGATE_COMPONENT::retrieve_known_port finds or makes bit 0 of the port
// of that name. Only the generator calls run under the component-name mutex;
// the component edits after them run unlocked, on the caller's own
// component.
// Naming: an instance name is searched as "<base>_rtl_<k>", k = 0, 1, ...,
// among the children of the scope that holds the naming gate's outermost
// bus group; a child the user entered that nothing has taken is reused and
// marked taken (0x2). The search ends at the first free or reusable text:
// every refused k names an existing child, so it is bounded by the scope's
// child count.
// Invariants: a component's port names and parameter texts are pooled by
// the elaboration information; a component name taken by this file carries
// the flag 0x2.
// Cost: one generator call and one port lookup per port bit (port tables are
// scanned); naming is O(k log children).
#include "kavu_utility_component.h"

#include <climits>
#include <string>

#include "kavu_check.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_wiring_helper.h"
#include "thr/thr.h"

std::atomic<uint32_t> rtl_component_id{0};

namespace {

std::atomic<THR_MUTEX*> g_string_name_mutex{nullptr};

// The assignment type the component parameters are stored with.
constexpr int COMPONENT_PARAMETER_TYPE = 493;
constexpr CDB_SGATE_COMPONENT_TYPE LAST_COMPONENT_TYPE = RTL_COMPONENT_IND_SYNCRAM;
// The last number the "<base>_rtl_<k>" name search may try.
constexpr int LAST_COMPONENT_NAME_NUMBER = INT_MAX;
// Instance-name flags that forbid reusing a name.
constexpr unsigned NO_REUSE_FLAGS = HDB_INSTANCE_NAME_FLAG::NO_REUSE | HDB_INSTANCE_NAME_FLAG::NO_REUSE_2 |
                                    HDB_INSTANCE_NAME_FLAG::TAKEN_BY_COMPONENT;

const char* function_name_of(CDB_SGATE_COMPONENT_TYPE type) {
  static const char* const NAMES[] = {"orlmult_accum", "orlmult_add", "orlsyncram", "orldpram",
                                      "lpm_rom",       "orlshift_taps", "lpm_counter", "orlind_syncram"};
  return NAMES[type];
}

const char* port_bit_name(BASEX_ELABORATE_INFO* elaborate_info, const char* port_name, int i1, int i2) {
  KAVU_CHECK(port_name != nullptr);
  return rtl_component_generate_string_name(elaborate_info, port_name, nullptr, nullptr, i2, 0, i1);
}

CDB_SGATE_ITERM* find_component_iterm(BASEX_ELABORATE_INFO* elaborate_info, CDB_SGATE_COMPONENT* component,
                                      const char* port_name, int i1, int i2) {
  KAVU_CHECK(component != nullptr);
  const char* name = port_bit_name(elaborate_info, port_name, i1, i2);
  CDB_SGATE_ITERM* iterm = nullptr;
  component->retrieve_known_port(name, CDB_COMPONENT_PORT_INPUT, &iterm, nullptr, true);
  KAVU_CHECK(iterm != NULL);
  KAVU_CHECK(!iterm->is_inverted());
  return iterm;
}

CDB_SGATE_OTERM* find_component_oterm(BASEX_ELABORATE_INFO* elaborate_info, CDB_SGATE_COMPONENT* component,
                                      const char* port_name, int i1, int i2) {
  KAVU_CHECK(component != nullptr);
  const char* name = port_bit_name(elaborate_info, port_name, i1, i2);
  CDB_SGATE_OTERM* oterm = nullptr;
  component->retrieve_known_port(name, CDB_COMPONENT_PORT_OUTPUT, nullptr, &oterm, true);
  KAVU_CHECK(oterm != NULL);
  return oterm;
}

void set_pooled_parameter(CDB_SGATE_COMPONENT* component, BASEX_ELABORATE_INFO* elaborate_info,
                          const char* name, const char* value) {
  KAVU_CHECK(component != nullptr);
  KAVU_CHECK(name != nullptr && value != nullptr);
  const char* pooled_value = rtl_component_generate_string_name(elaborate_info, value, nullptr, nullptr, 0, 0, 0);
  const char* pooled_name = rtl_component_generate_string_name(elaborate_info, name, nullptr, nullptr, 0, 0, 0);
  component->set_parameter(pooled_name, pooled_value, COMPONENT_PARAMETER_TYPE);
}

void replace_all(std::string& text, char from, const char* to) {
  for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + 2)) {
    text.replace(pos, 1, to);
  }
}

// The string-name text of a component named after a gate without an
// instance name: the gate's string name, numbered when unique, with the
// characters that cannot stand in a unit name replaced by "__".
std::string component_text_from_string_name(const char* string_name, bool unique) {
  std::string text(string_name);
  if (unique) text += "__" + std::to_string(++rtl_component_id);
  replace_all(text, '~', "__");
  replace_all(text, '[', "__");
  replace_all(text, ']', "__");
  return text;
}

}  // namespace

// ---------------------------------------------------------------------------
// The component-name mutex and the generator

void kavu_create_generate_string_name_mutex() {
  if (g_string_name_mutex.load() != nullptr) return;
  THR_MUTEX* fresh = thr_mutex_create();
  THR_MUTEX* expected = nullptr;
  // Two first callers may race; the loser's mutex is dropped unused.
  if (!g_string_name_mutex.compare_exchange_strong(expected, fresh)) thr_mutex_destroy(fresh);
}

const char* rtl_component_generate_string_name(BASEX_ELABORATE_INFO* elaborate_info, const char* base,
                                               const char* text2, const char* text3, int a, int b, int c) {
  KAVU_CHECK(elaborate_info != 0);
  THR_MUTEX* mutex = g_string_name_mutex.load();
  KAVU_CHECK(mutex != 0 && "kavu_create_generate_string_name_mutex not called");
  thr_mutex_lock(mutex);
  const char* text = elaborate_info->generate_string_name(base, text2, text3, a, b, c);
  thr_mutex_unlock(mutex);
  return text;
}

// ---------------------------------------------------------------------------
// Ports and parameters

CDB_SGATE_ITERM* rtl_connect_iterm_source_to_component(BASEX_ELABORATE_INFO* elaborate_info,
                                                       CDB_SGATE_ITERM* iterm, CDB_SGATE_COMPONENT* component,
                                                       const char* port_name, RTL_COMPONENT_PORT_IGNORE ignore,
                                                       int i1, int i2) {
  if (iterm == nullptr || !cdb_is_connected(iterm)) return nullptr;
  if (iterm->is_gnd() && ignore == RTL_COMPONENT_PORT_IGNORE_GND) return nullptr;
  if (iterm->is_vcc() && ignore == RTL_COMPONENT_PORT_IGNORE_VCC) return nullptr;
  CDB_SGATE_OTERM* source = iterm->get_source();
  // Connected only through a parent input: there is no source to copy.
  KAVU_CHECK(iterm->is_vcc_or_gnd() || source != nullptr);
  CDB_SGATE_ITERM* component_iterm = find_component_iterm(elaborate_info, component, port_name, i1, i2);
  if (iterm->is_gnd()) {
    component_iterm->set_gnd();
  } else if (iterm->is_vcc()) {
    component_iterm->set_vcc();
  } else {
    source->insert_fanout(component_iterm);
    if (iterm->is_inverted()) component_iterm->set_invert();
  }
  return component_iterm;
}

CDB_SGATE_ITERM* rtl_create_component_iterm(BASEX_ELABORATE_INFO* elaborate_info, CDB_SGATE_COMPONENT* component,
                                            const char* port_name, int i1, int i2) {
  return find_component_iterm(elaborate_info, component, port_name, i1, i2);
}

CDB_SGATE_OTERM* rtl_component_output_adopt_fanouts(BASEX_ELABORATE_INFO* elaborate_info,
                                                    CDB_SGATE_OTERM* from_oterm, CDB_SGATE_COMPONENT* component,
                                                    const char* port_name, int i1, int i2) {
  KAVU_CHECK(from_oterm != nullptr);
  CDB_SGATE_OTERM* oterm = find_component_oterm(elaborate_info, component, port_name, i1, i2);
  // The replaced terminal's own inversion reached every reader; the moved
  // fan-outs carry it from now on.
  oterm->adopt_fanouts(from_oterm, from_oterm->is_inverted());
  oterm->set_instance_name(from_oterm->get_instance_name());
  return oterm;
}

CDB_SGATE_OTERM* rtl_component_create_output(BASEX_ELABORATE_INFO* elaborate_info, CDB_SGATE_COMPONENT* component,
                                             const char* port_name, int i1, int i2) {
  return find_component_oterm(elaborate_info, component, port_name, i1, i2);
}

void rtl_set_component_int_parameter(CDB_SGATE_COMPONENT* component, BASEX_ELABORATE_INFO* elaborate_info,
                                     const char* name, int value) {
  set_pooled_parameter(component, elaborate_info, name, std::to_string(value).c_str());
}

void rtl_set_component_string_parameter(CDB_SGATE_COMPONENT* component, BASEX_ELABORATE_INFO* elaborate_info,
                                        const char* name, const char* value) {
  set_pooled_parameter(component, elaborate_info, name, value);
}

// ---------------------------------------------------------------------------
// Component instances and their names

void kavu_create_component_name(CMP_FACADE*, CDB_SGATE_COMPONENT* component, HDB_INSTANCE_NAME* iname) {
  KAVU_CHECK(component != 0);
  KAVU_CHECK(iname != 0);
  HDB_INSTANCE_NAME* name = iname;
  if (HDB_INSTANCE_NAME* representative = name->get_representative_name()) name = representative;
  while (name->get_group() != nullptr) name = name->get_group();
  HDB_INSTANCE_NAME* parent = name->get_parent();
  KAVU_CHECK(parent != 0);
  const std::string base = name->get_partial_name();
  HDB_INSTANCE_NAME* new_iname = nullptr;
  for (int k = 0; new_iname == nullptr; ++k) {
    if (k == LAST_COMPONENT_NAME_NUMBER) KAVU_INTERNAL_ERROR("component name numbers exhausted");
    const std::string text = base + "_rtl_" + std::to_string(k);
    HDB_INSTANCE_NAME* found = parent->find_in_children(text.c_str(), 1);
    if (found == nullptr) {
      HDB_INSTANCE_NAME_FLAG flags(HDB_INSTANCE_NAME_FLAG::TAKEN_BY_COMPONENT);
      flags.set_combinatorial(true);
      HDB_NAMESPACE* ns = name->get_namespace();
      new_iname = HDB_INSTANCE_NAME::create_child(parent, text.c_str(), flags, 0, false,
                                                  ns ? ns->get_source_components() : nullptr);
      kavu_debug("Creating new name %s", new_iname ? new_iname->get_short_hpath().c_str() : "");
      break;
    }
    const HDB_INSTANCE_NAME_FLAG& found_flags = found->get_flags();
    if (found_flags.test_flag(HDB_INSTANCE_NAME_FLAG::USER_ENTERED) && (found_flags.get_value() & NO_REUSE_FLAGS) == 0) {
      found->get_flags().set_flag(HDB_INSTANCE_NAME_FLAG::TAKEN_BY_COMPONENT);
      kavu_debug("Reusing user-entered name %s", found->get_short_hpath().c_str());
      new_iname = found;
      break;
    }
    kavu_debug("Can't use existing name %s", found->get_short_hpath().c_str());
  }
  KAVU_CHECK(new_iname != 0);
  component->set_instance_name(new_iname);
}

CDB_SGATE_COMPONENT* rtl_create_component_instance(BASEX_ELABORATE_INFO* elaborate_info, CMP_FACADE* facade,
                                                   CDB_SGATE_NODE* name_node, CDB_SGATE_COMPONENT_TYPE type,
                                                   bool unique) {
  KAVU_CHECK(name_node != 0);
  KAVU_CHECK((name_node->get_string_name() != NULL) || (name_node->get_instance_name() != NULL));
  KAVU_CHECK(elaborate_info!=0);
  if (type > LAST_COMPONENT_TYPE) KAVU_INTERNAL_ERROR("Unexpected component type");
  HDB_INSTANCE_NAME* iname = name_node->get_instance_name();
  // Refused before anything is made, so a refused call leaves nothing behind.
  if (iname == nullptr && cdb_sgate_synthesis_is_running_in_parallel()) {
    KAVU_INTERNAL_ERROR("You can't use static rtl_component_id when running parallel");
  }
  const char* function_name = function_name_of(type);
  CDB_SGATE_COMPONENT* component = new CDB_SGATE_COMPONENT("", true);
  component->set_component_type(type);
  const char* text = nullptr;
  if (iname != nullptr) {
    kavu_create_component_name(facade, component, iname);
    text = rtl_component_generate_string_name(elaborate_info, component->get_instance_name()->get_unit_name(),
                                              function_name, nullptr, 0, 0, 0);
  } else {
    const std::string base = component_text_from_string_name(name_node->get_string_name(), unique);
    text = rtl_component_generate_string_name(elaborate_info, base.c_str(), function_name, nullptr, 0, 0, 0);
  }
  component->set_string_name(text);
  return component;
}

// ---------------------------------------------------------------------------
// RTL gate editors

CDB_SGATE_NODE* rtl_insert_comb_gate_on_iterm(BASEX_ELABORATE_INFO*, CDB_SGATE_NETLIST* netlist,
                                              CDB_SGATE_ITERM* dest_iterm, CDB_SGATE_ITERM* other_iterm,
                                              CDB_COMB_TYPE comb_type) {
  KAVU_CHECK((comb_type == CDB_COMB_AND) || (comb_type == CDB_COMB_OR) || (comb_type == CDB_COMB_XOR));
  KAVU_CHECK(dest_iterm != nullptr && other_iterm != nullptr && netlist != nullptr);
  KAVU_CHECK(cdb_is_connected(dest_iterm));
  const bool passes_other = (comb_type == CDB_COMB_AND && dest_iterm->is_vcc()) ||
                            (comb_type == CDB_COMB_OR && dest_iterm->is_gnd()) ||
                            (comb_type == CDB_COMB_XOR && dest_iterm->is_gnd());
  if (passes_other) {
    kavu_copy_fanin(other_iterm, dest_iterm);
    return nullptr;
  }
  if (comb_type == CDB_COMB_XOR && dest_iterm->is_vcc()) {
    kavu_copy_fanin(other_iterm, dest_iterm);
    dest_iterm->invert();
    return nullptr;
  }
  CDB_SGATE_NODE* from_sgate = dest_iterm->get_my_node();
  if (from_sgate == nullptr) KAVU_INTERNAL_ERROR("from_sgate");
  CDB_SGATE_COMB* comb = new CDB_SGATE_COMB(nullptr, comb_type, true);
  kavu_create_synthesized_name(comb, from_sgate, "comb");
  netlist->add_node(comb, true);
  CDB_SGATE_ITERM* first = comb->create_input_term(nullptr);
  comb->set_input_term(first, 0);
  CDB_SGATE_ITERM* second = comb->create_input_term(nullptr);
  comb->set_input_term(second, 1);
  kavu_copy_fanin(dest_iterm, first);
  kavu_copy_fanin(other_iterm, second);
  dest_iterm->disconnect_from_source(2);
  comb->get_single_oterm()->insert_fanout(dest_iterm);
  dest_iterm->clear_invert();
  return comb;
}

void rtl_synth_op_name(CDB_SGATE_NODE* sgate, CDB_SGATE_NODE* from_sgate) {
  if (sgate == nullptr || from_sgate == nullptr) return;
  HDB_INSTANCE_NAME* base = from_sgate->get_instance_name();
  if (base == nullptr && from_sgate->get_single_oterm() != nullptr) {
    base = from_sgate->get_single_oterm()->get_instance_name();
  }
  if (base == nullptr) return;
  kavu_create_synthesized_name(sgate, base, "rtl");
}
