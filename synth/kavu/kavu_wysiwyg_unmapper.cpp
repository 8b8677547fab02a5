// kavu_wysiwyg_unmapper.cpp — device atoms back to generic gates: the
// unmapper class, routine selection, the netlist driver, the flip-flop
// unmaps, the port-connection rules and the 2:1 mux conversion. The
// logic-cell routines live in kavu_wysiwyg_unmapper_lcell.cpp.
//
// Register semantics kept by the flip-flop unmap (the atom rule of the
// simulator): on a clock edge, with the enable on, the register takes
// !sclr & (sload ? asdata : data). The unmap folds the synchronous clear and
// load into the D path of a plain DFF (an AND "sclr_and" and a mux
// "sld_mux") and keeps the enable and asynchronous controls on the DFF.
// Atoms whose clear acts while the enable is off (kinds 94, 115) first get
// the enable folded into D as well ("ena_mux"), and a second clear ORed into
// the first ("sclr_or").
//
// Failure: every port the routine cannot do without is checked before the
// atom is touched, so a missing connection (286001) leaves it unchanged.
#include "kavu_wysiwyg_unmapper.h"

#include "cdb/cdb_atom_catalogue.h"
#include "cfg/cfg.h"
#include "cut/cut.h"
#include "kavu_check.h"
#include "kavu_dff_helper_strip.h"
#include "kavu_helper_mux.h"
#include "kavu_helper_mux_int.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_wiring_helper.h"
#include "kavu_wysiwyg_unmapper_int.h"
#include "kavu_load_time_int.h"

namespace {

constexpr CDB_WYSIWYG_TYPE WYS_KIND_LCELL = 61;
constexpr CDB_WYSIWYG_TYPE WYS_KIND_FF = 62;
constexpr CDB_WYSIWYG_TYPE WYS_KIND_LCELL_QUELLIN = 93;
constexpr CDB_WYSIWYG_TYPE WYS_KIND_FF_HARROWDALE = 94;
constexpr CDB_WYSIWYG_TYPE WYS_KIND_FF_QUELLIN = 115;
constexpr CDB_WYSIWYG_TYPE WYS_TYPE_UNNAMED = 481;

// The two LUT size limits of the gate library, raised to 6 for one unmap
// and each put back to its own earlier value.
class LUT_SIZE_SCOPE {
 public:
  explicit LUT_SIZE_SCOPE(bool raise)
      : m_raised(raise), m_mask_inputs(CDB_LUTMASK::max_num_inputs), m_lut_inputs(CDB_SGATE_LUT::m_num_inputs) {
    if (!m_raised) return;
    CDB_LUTMASK::max_num_inputs = 6;
    CDB_SGATE_LUT::m_num_inputs = 6;
  }
  ~LUT_SIZE_SCOPE() {
    if (!m_raised) return;
    CDB_LUTMASK::max_num_inputs = m_mask_inputs;
    CDB_SGATE_LUT::m_num_inputs = m_lut_inputs;
  }
  LUT_SIZE_SCOPE(const LUT_SIZE_SCOPE&) = delete;
  LUT_SIZE_SCOPE& operator=(const LUT_SIZE_SCOPE&) = delete;

 private:
  bool m_raised;
  unsigned m_mask_inputs;
  unsigned m_lut_inputs;
};

constinit KAVU_KEY_ONCE quellin_lcell_unmap_allowed{"kavu_allow_quellin_lcell_comb_unmap", true};

bool oterm_has_fanout(const CDB_SGATE_WYSIWYG* wys, DB_OUTPUT_PORT_TYPE port) {
  const CDB_SGATE_OTERM* o = wys->get_oterm_by_type(port);
  return o && o->has_fanout();
}

CDB_SGATE_ITERM* connected_iterm(const CDB_SGATE_WYSIWYG* wys, DB_INPUT_PORT_TYPE port) {
  CDB_SGATE_ITERM* t = wys->get_iterm_by_type(port);
  return t && ::cdb_is_connected(t) ? t : nullptr;
}

// Connected and neither VCC nor GND.
bool port_is_signal(const CDB_SGATE_WYSIWYG* wys, DB_INPUT_PORT_TYPE port) {
  const CDB_SGATE_ITERM* t = connected_iterm(wys, port);
  return t && !t->is_vcc_or_gnd();
}

bool port_is_active(const CDB_SGATE_WYSIWYG* wys, DB_INPUT_PORT_TYPE port) {
  const CDB_SGATE_ITERM* t = connected_iterm(wys, port);
  return t && !t->is_gnd();
}

// A comb input delivering what the atom port delivers (flipped when asked);
// an absent or unconnected port delivers `absent` (a tie).
void add_port_fanin(CDB_SGATE_COMB* gate, const CDB_SGATE_WYSIWYG* wys, DB_INPUT_PORT_TYPE port, bool flip,
                    bool absent) {
  const CDB_SGATE_ITERM* t = connected_iterm(wys, port);
  if (!t) {
    gate->add_unordered_fanin_from_oterm(nullptr, !absent, nullptr);
    return;
  }
  gate->add_unordered_fanin_from_oterm(nullptr, t->is_inverted() != flip, t->get_source());
}

template <class GATE>
GATE* append(GATE* gate, std::list<CDB_SGATE_NODE*>* nlist) {
  nlist->push_back(gate);
  return gate;
}

std::string iname_text(const HDB_INSTANCE_NAME* name) { return name ? name->get_short_hpath() : std::string(); }

void write_ff_report(std::orlind_ofstream* report, CDB_SGATE_DFF* dff, CDB_SGATE_WYSIWYG* wys) {
  const CDB_WYSIWYG_TYPE type = wys->get_wysiwyg_type();
  const char* type_name = type == WYS_TYPE_UNNAMED ? "UNKNOWN" : wys->get_catalogue_entry().m_name;
  if (wys->get_catalogue_entry().is_generic()) type_name = "UNKNOWN";
  *report << iname_text(dff->get_output_term(0)->get_instance_name()) << "\t\t"
          << iname_text(wys->get_instance_name()) << "\t\t" << WYS_INFO::get_port_type_debug_string(4) << "\t\t"
          << type_name << "\n";
}

}  // namespace

// ---------------------------------------------------------------- the class

KAVU_WYSIWYG_UNMAPPER::KAVU_WYSIWYG_UNMAPPER(bool insert_carry_sum_buffer, bool insert_cascade_buffer,
                                             bool preserve_lut, bool preserve_mux,
                                             KAVU_LUT_UNMAPPER::RESULT_FORM form, bool caching, bool sanity_check,
                                             DEV_FAMILY_ENUM family)
    : m_insert_carry_sum_buffer(insert_carry_sum_buffer),
      m_insert_cascade_buffer(insert_cascade_buffer),
      m_preserve_lut(preserve_lut),
      m_preserve_mux(preserve_mux),
      m_lut_unmapper(form, caching, sanity_check),
      m_family(family) {}

KAVU_WYSIWYG_UNMAPPER& KAVU_WYSIWYG_UNMAPPER::operator=(KAVU_WYSIWYG_UNMAPPER&& other) {
  if (this == &other) return *this;
  configure(other.m_insert_carry_sum_buffer, other.m_insert_cascade_buffer, other.m_preserve_lut,
            other.m_preserve_mux, other.m_create_adder);
  // The LUT unmapper's assignment takes settings only: its cache and BDD
  // manager stay owned by one unmapper each.
  m_lut_unmapper = other.m_lut_unmapper;
  m_family = other.m_family;
  return *this;
}

void KAVU_WYSIWYG_UNMAPPER::configure(bool insert_carry_sum_buffer, bool insert_cascade_buffer, bool preserve_lut,
                                      bool preserve_mux, bool create_adder) {
  m_insert_carry_sum_buffer = insert_carry_sum_buffer;
  m_insert_cascade_buffer = insert_cascade_buffer;
  m_preserve_lut = preserve_lut;
  m_preserve_mux = preserve_mux;
  m_create_adder = create_adder;
}

// ---------------------------------------------------------------- selection

WYS_UNMAP_ROUTINE wys_unmapper_select(CDB_SGATE_WYSIWYG* wys) {
  KAVU_CHECK(wys != 0);
  switch (wys->get_wysiwyg_type()) {
    case WYS_KIND_LCELL:
      return wys_unmap_lcell_comb;
    case WYS_KIND_FF:
      return wys_unmap_ff;
    case WYS_KIND_FF_HARROWDALE:
    case WYS_KIND_FF_QUELLIN:
      return wys_unmap_ff_with_enable;
    case WYS_KIND_LCELL_QUELLIN:
      if (quellin_lcell_unmap_allowed() && !wys->mode_is_set(CDB_WYSIWYG_EXTENDED_LUT) &&
          !oterm_has_fanout(wys, DB_PORT_SUMOUT) && oterm_has_fanout(wys, DB_PORT_COMBOUT))
        return wys_unmap_lcell_comb_simple;
      return nullptr;
    default:
      return nullptr;
  }
}

bool KAVU_WYSIWYG_UNMAPPER::unmapper_available(CDB_SGATE_WYSIWYG* wys) const {
  return wys_unmapper_select(wys) != nullptr;
}

// ---------------------------------------------------------------- ports

bool wys_port_connected(const CDB_SGATE_WYSIWYG* wys, DB_INPUT_PORT_TYPE port) {
  return connected_iterm(wys, port) != nullptr;
}

DB_INPUT_PORT_TYPE wys_unmap_missing_required_port(CDB_SGATE_WYSIWYG* wys) {
  KAVU_CHECK(wys != 0);
  WYS_UNMAP_ROUTINE routine = wys_unmapper_select(wys);
  std::vector<DB_INPUT_PORT_TYPE> required;
  if (routine == wys_unmap_ff || routine == wys_unmap_ff_with_enable) {
    required.push_back(DB_PORT_CLK);
    if (port_is_signal(wys, DB_PORT_SLOAD)) {
      required.push_back(DB_PORT_SLOAD);
      required.push_back(DB_PORT_DATAIN);
      required.push_back(DB_PORT_ASDATA);
    }
  } else if (routine == wys_unmap_lcell_comb && wys->mode_is_set(CDB_WYSIWYG_EXTENDED_LUT) &&
             oterm_has_fanout(wys, DB_PORT_COMBOUT)) {
    required.push_back(DB_PORT_DATAF);
    required.push_back(DB_PORT_DATAE);
  }
  for (DB_INPUT_PORT_TYPE port : required)
    if (!wys_port_connected(wys, port)) return port;
  return DB_MAX_INPUT_PORT_TYPE;
}

void wys_post_missing_port(CDB_SGATE_WYSIWYG* wys, DB_INPUT_PORT_TYPE port) {
  kavu_debug("Look at WYSIWYG UID %s %s", wys->get_debug_name().c_str(), wys->get_string_hpath().c_str());
  const char* port_name = kavu_platform::atom_input_port_name(port);
  const std::string port_text = port_name ? port_name : "PORT_" + std::to_string(port);
  MSG_E* msg = new MSG_E();
  msg->fill_args(kavu_msg_string(286001), wys->get_string_hpath().c_str(), port_text.c_str());
  msg->set_id(286001);
  cdb_add_msg_location(msg, wys);
  msg->post();
  delete msg;
}

void wys_unmap_connect_port(CDB_SGATE_WYSIWYG* wys, DB_INPUT_PORT_TYPE port, CDB_SGATE_ITERM* iterm,
                            WYS_DEFAULT_SOURCE dflt) {
  KAVU_CHECK(wys != 0);
  KAVU_CHECK(iterm != 0);
  KAVU_CHECK(port != DB_MAX_INPUT_PORT_TYPE);
  iterm->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
  if (const CDB_SGATE_ITERM* t = connected_iterm(wys, port)) {
    if (t->is_vcc()) {
      iterm->set_vcc();
    } else if (t->is_gnd()) {
      iterm->set_gnd();
    } else {
      CDB_SGATE_OTERM* oterm = t->get_source();
      KAVU_CHECK(oterm != 0);
      oterm->insert_fanout(iterm);
      if (t->is_inverted()) iterm->set_invert();
    }
    return;
  }
  switch (dflt) {
    case WYS_DEFAULT_VCC: iterm->set_vcc(); return;
    case WYS_DEFAULT_GND: iterm->set_gnd(); return;
    case WYS_DEFAULT_NONE: break;
    default: KAVU_INTERNAL_ERROR("Invalid default source value."); return;
  }
  // Required ports are checked before any edit (wys_unmap_missing_required_port).
  KAVU_INTERNAL_ERROR("A required WYSIWYG port was not checked before the unmap");
}

CDB_SGATE_ITERM* wys_unmap_default_source(CDB_SGATE_NODE* sgate, unsigned pos, WYS_DEFAULT_SOURCE dflt) {
  KAVU_CHECK(sgate != 0);
  CDB_SGATE_ITERM* iterm = sgate->create_input_term(nullptr, DB_MAX_INPUT_PORT_TYPE);
  KAVU_CHECK(iterm != 0);
  sgate->set_input_term(iterm, pos);
  switch (dflt) {
    case WYS_DEFAULT_NONE: break;
    case WYS_DEFAULT_VCC: iterm->set_vcc(); break;
    case WYS_DEFAULT_GND: iterm->set_gnd(); break;
    default: KAVU_INTERNAL_ERROR("Unexpected default source value."); break;
  }
  return iterm;
}

// ---------------------------------------------------------------- flip-flops

void wys_unmap_ff(CDB_SGATE_WYSIWYG* wys, std::list<CDB_SGATE_NODE*>* nlist, std::orlind_ofstream* report,
                  KAVU_WYSIWYG_UNMAPPER*, DEV_FAMILY_ENUM) {
  KAVU_CHECK(wys != 0 && nlist != 0);
  KAVU_CHECK(wys->is_ff());
  HDB_INSTANCE_NAME* wys_iname = wys->get_instance_name();
  KAVU_CHECK(wys_iname != 0);

  CDB_SGATE_DFF* dff = append(new CDB_SGATE_DFF(nullptr, true), nlist);
  static const unsigned order[CDB_DFF_NUM_PORTS] = {0, 1, 2, 3, 4, 5, 6, 8, 7};
  static const WYS_DEFAULT_SOURCE defaults[CDB_DFF_NUM_PORTS] = {
      WYS_DEFAULT_NONE, WYS_DEFAULT_GND, WYS_DEFAULT_GND, WYS_DEFAULT_GND, WYS_DEFAULT_VCC,
      WYS_DEFAULT_VCC,  WYS_DEFAULT_GND, WYS_DEFAULT_GND, WYS_DEFAULT_GND};
  for (unsigned i = 0; i < CDB_DFF_NUM_PORTS; ++i) wys_unmap_default_source(dff, order[i], defaults[order[i]]);
  kavu_create_synthesized_name(dff, wys_iname, "reg");
  dff->set_instance_name(wys_iname);
  dff->reset_has_temporary_name();
  dff->copy_flags_from_other_ff(wys);

  const bool use_sld = port_is_signal(wys, DB_PORT_SLOAD);
  CDB_SGATE_MUX* sld_mux = nullptr;
  if (use_sld) {
    sld_mux = append(new CDB_SGATE_MUX(nullptr), nlist);
    kavu_create_synthesized_name(sld_mux, wys_iname, "sld_mux");
  }
  CDB_SGATE_COMB* sclr_and = append(new CDB_SGATE_COMB(nullptr, CDB_COMB_AND, true), nlist);
  kavu_create_synthesized_name(sclr_and, wys_iname, "sclr_and");

  if (CDB_SGATE_OTERM* regout = wys->get_oterm_by_type(DB_PORT_REGOUT)) {
    HDB_INSTANCE_NAME* iname = regout->get_instance_name();
    KAVU_CHECK(iname != 0);
    CDB_SGATE_OTERM* oterm_tmp = dff->get_output_term(0);
    KAVU_CHECK(oterm_tmp != 0);
    oterm_tmp->adopt_fanouts(regout, false);
    oterm_tmp->set_instance_name(iname);
    dff->set_instance_name(wys_iname);
    dff->reset_has_temporary_name();
  }

  wys_unmap_connect_port(wys, DB_PORT_CLK, dff->get_input_term(CDB_DFF_CLK), WYS_DEFAULT_NONE);
  wys_unmap_connect_port(wys, DB_PORT_ACLR, dff->get_input_term(CDB_DFF_ACLR), WYS_DEFAULT_GND);
  wys_unmap_connect_port(wys, DB_PORT_ENA, dff->get_input_term(CDB_DFF_ENA), WYS_DEFAULT_VCC);
  wys_unmap_connect_port(wys, DB_PORT_ALOAD, dff->get_input_term(CDB_DFF_ALOAD), WYS_DEFAULT_GND);
  wys_unmap_connect_port(wys, DB_PORT_ASDATA, dff->get_input_term(CDB_DFF_ADATA), WYS_DEFAULT_VCC);
  sclr_and->get_output_term(0)->insert_fanout(dff->get_input_term(CDB_DFF_DATA));

  // D = !sclr & (sload ? asdata : data); an absent clear is a VCC input.
  add_port_fanin(sclr_and, wys, DB_PORT_SCLR, true, true);
  if (sld_mux) {
    sclr_and->add_unordered_fanin_from_oterm(nullptr, false, sld_mux->get_output_term(0));
    wys_unmap_connect_port(wys, DB_PORT_SLOAD, wys_unmap_default_source(sld_mux, CDB_MUX_SELECT, WYS_DEFAULT_NONE),
                           WYS_DEFAULT_NONE);
    wys_unmap_connect_port(wys, DB_PORT_DATAIN, wys_unmap_default_source(sld_mux, CDB_MUX_DATA0, WYS_DEFAULT_NONE),
                           WYS_DEFAULT_NONE);
    wys_unmap_connect_port(wys, DB_PORT_ASDATA, wys_unmap_default_source(sld_mux, CDB_MUX_DATA1, WYS_DEFAULT_NONE),
                           WYS_DEFAULT_NONE);
  } else {
    const CDB_SGATE_ITERM* sld = connected_iterm(wys, DB_PORT_SLOAD);
    KAVU_CHECK(!sld || sld->is_vcc_or_gnd());
    // A load tied to VCC always takes the asynchronous-data port.
    add_port_fanin(sclr_and, wys, sld && sld->is_vcc() ? DB_PORT_ASDATA : DB_PORT_DATAIN, false, true);
  }
  if (report) write_ff_report(report, dff, wys);
}

void wys_unmap_ff_with_enable(CDB_SGATE_WYSIWYG* wys, std::list<CDB_SGATE_NODE*>* nlist,
                              std::orlind_ofstream* report, KAVU_WYSIWYG_UNMAPPER* unmapper,
                              DEV_FAMILY_ENUM family) {
  KAVU_CHECK(wys != 0 && nlist != 0);
  KAVU_CHECK(wys->is_ff());
  const CDB_SGATE_ITERM* sld_iterm = connected_iterm(wys, DB_PORT_SLOAD);
  KAVU_CHECK(!sld_iterm || sld_iterm->is_gnd());
  HDB_INSTANCE_NAME* wys_iname = wys->get_instance_name();

  // Clear over enable: the enable moves into D so the clear acts alone.
  CDB_SGATE_ITERM* ena = connected_iterm(wys, DB_PORT_ENA);
  if (kavu_ff_has_sclr_over_ena_priority(wys) && ena && !ena->is_vcc() &&
      (port_is_active(wys, DB_PORT_SCLR) || port_is_active(wys, DB_PORT_SCLR2))) {
    CDB_SGATE_MUX* ena_mux = append(new CDB_SGATE_MUX(nullptr), nlist);
    kavu_create_synthesized_name(ena_mux, wys_iname, "ena_mux");
    CDB_SGATE_OTERM* regout = kavu_fetch_create_wys_oterm(DB_PORT_REGOUT, wys, false);
    regout->insert_fanout(wys_unmap_default_source(ena_mux, CDB_MUX_DATA0, WYS_DEFAULT_NONE));
    CDB_SGATE_ITERM* data = kavu_fetch_create_wys_iterm(DB_PORT_DATAIN, wys);
    CDB_SGATE_ITERM* d1 = wys_unmap_default_source(ena_mux, CDB_MUX_DATA1, WYS_DEFAULT_NONE);
    if (::cdb_is_connected(data)) kavu_copy_fanin(data, d1);
    else d1->set_vcc();  // an unconnected data input reads 1
    kavu_copy_fanin(ena, wys_unmap_default_source(ena_mux, CDB_MUX_SELECT, WYS_DEFAULT_NONE));
    data->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
    ena_mux->get_output_term(0)->insert_fanout(data);
    ena->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
    ena->set_vcc();
  }

  // A second clear is ORed into the first (or takes its place).
  if (port_is_active(wys, DB_PORT_SCLR2)) {
    CDB_SGATE_ITERM* sclr2 = wys->get_iterm_by_type(DB_PORT_SCLR2);
    CDB_SGATE_ITERM* sclr = kavu_fetch_create_wys_iterm(DB_PORT_SCLR, wys);
    if (port_is_active(wys, DB_PORT_SCLR)) {
      CDB_SGATE_COMB* sclr_or = append(new CDB_SGATE_COMB(nullptr, CDB_COMB_OR, true), nlist);
      kavu_create_synthesized_name(sclr_or, wys_iname, "sclr_or");
      add_port_fanin(sclr_or, wys, DB_PORT_SCLR, false, false);
      add_port_fanin(sclr_or, wys, DB_PORT_SCLR2, false, false);
      sclr->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
      sclr_or->get_output_term(0)->insert_fanout(sclr);
    } else {
      sclr->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
      kavu_move_fanin(sclr2, sclr);
    }
    sclr2->set_gnd();
  }
  wys_unmap_ff(wys, nlist, report, unmapper, family);
}

// ---------------------------------------------------------------- one atom

bool KAVU_WYSIWYG_UNMAPPER::unmap_wysiwyg(CDB_SGATE_WYSIWYG* wys, std::list<CDB_SGATE_NODE*>* nlist,
                                          std::orlind_ofstream* report) {
  const bool unmap_41_mux_luts = cfg_is_on("kavu_wysiwyg_unmapper_unmap_41_mux_luts", false);
  const bool give_smt_lutmasks = cfg_is_on("ftm_give_smt_lutmasks", false);
  const int smt_lut_max_inputs = cfg_get_int_value("smt_lut_max_inputs", 6);
  KAVU_CHECK(wys != 0 && nlist != 0);

  WYS_UNMAP_ROUTINE routine = wys_unmapper_select(wys);
  if (!routine) KAVU_INTERNAL_ERROR("Unmapper called for a WYSIWYG that does not have an unmapper.");
  const DB_INPUT_PORT_TYPE missing = wys_unmap_missing_required_port(wys);
  if (missing != DB_MAX_INPUT_PORT_TYPE) {
    wys_post_missing_port(wys, missing);
    return false;
  }
  LUT_SIZE_SCOPE lut_sizes(give_smt_lutmasks && wys->get_wysiwyg_type() == WYS_KIND_LCELL && smt_lut_max_inputs < 6);

  for (unsigned k = 0; k < wys->get_output_count(); ++k)
    if (CDB_SGATE_OTERM* o = wys->get_output_term(k)) o->move_invert_to_fanouts();

  std::list<CDB_SGATE_NODE*> local;
  routine(wys, &local, report, this, m_family);

  for (CDB_SGATE_NODE* node : local) {
    KAVU_CHECK(node != 0);
    if (node->get_sgate_type() == CDB_SGATE_LUT_ENUM && !m_preserve_lut) {
      CDB_SGATE_LUT* lut = node->cast_to_lut();
      const char* kept = nullptr;
      if (!unmap_41_mux_luts && kavu_lut_is_head_of_41_mux(lut)) kept = "heading";
      else if (!unmap_41_mux_luts && kavu_lut_is_tail_of_41_mux(lut)) kept = "tailing";
      if (kept) {
        kavu_debug("Don't unmap LUT %s %s %s 4:1 mux (lutmask 0x%04x)", lut->get_debug_name().c_str(),
                   lut->get_string_hpath().c_str(), kept, unsigned(lut->get_lut_mask().get_value() & 0xFFFF));
        nlist->push_back(lut);
        continue;
      }
      m_lut_unmapper.convert_lut_to_logic(lut, nlist);
      delete lut;
    } else if (node->get_sgate_type() == CDB_SGATE_MUX_ENUM && !m_preserve_mux) {
      kavu_convert_mux_to_logic(node->cast_to_mux(), nlist);
      delete node;
    } else {
      nlist->push_back(node);
    }
  }
  return true;
}

void KAVU_WYSIWYG_UNMAPPER::protect_bidir_combout_to_pin(CDB_SGATE_WYSIWYG* wys,
                                                         std::list<CDB_SGATE_NODE*>* nlist) {
  KAVU_CHECK(wys != 0 && nlist != 0);
  if (!wys->mode_is_set(CDB_WYSIWYG_PROTECT_COMBOUT)) return;
  CDB_SGATE_OTERM* wys_oterm = wys->get_oterm_by_type(DB_PORT_COMBOUT);
  KAVU_CHECK(wys_oterm != 0);
  CDB_SGATE_BUFFER* lc_buf = append(new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_LCELL, true), nlist);
  KAVU_CHECK(lc_buf != 0);
  kavu_create_synthesized_name(lc_buf, wys->get_instance_name(), "lc_buf");
  CDB_SGATE_OTERM* lc_buf_oterm = lc_buf->get_output_term(0);
  KAVU_CHECK(lc_buf_oterm != 0);
  lc_buf_oterm->adopt_fanouts(wys_oterm, wys_oterm->is_inverted());
  CDB_SGATE_ITERM* lc_buf_iterm = wys_unmap_default_source(lc_buf, 0, WYS_DEFAULT_NONE);
  KAVU_CHECK(lc_buf_iterm != 0);
  wys_oterm->insert_fanout(lc_buf_iterm);
  kavu_debug("Created LCELL buffer %s to protect unmapped combout of WYSIWYG %s", lc_buf->get_string_hpath().c_str(),
             wys->get_string_hpath().c_str());
}

// ---------------------------------------------------------------- the netlist

namespace {

enum NODE_ACTION { KEEP, UNMAP_ATOM, UNMAP_MUX, UNMAP_LUT };

struct NETLIST_SWITCHES {
  bool m_unmap_atoms, m_unmap_luts, m_unmap_muxes, m_all_atom_kinds, m_keep_arithmetic, m_skip_flagged_luts;
};

NODE_ACTION choose_action(CDB_SGATE_NODE* node, const NETLIST_SWITCHES& s) {
  CDB_SGATE_WYSIWYG* wys = node->is_wysiwyg() ? node->cast_to_wysiwyg() : nullptr;
  if (s.m_unmap_atoms && wys && (s.m_all_atom_kinds || wys->is_lcell_comb() || wys->is_ff()) &&
      wys_unmapper_select(wys)) {
    if (s.m_keep_arithmetic) {
      const bool quiet_extended = wys->get_wysiwyg_type() == WYS_KIND_LCELL &&
                                  !oterm_has_fanout(wys, DB_PORT_COUT) && !oterm_has_fanout(wys, DB_PORT_SUMOUT) &&
                                  !oterm_has_fanout(wys, DB_PORT_SHAREOUT) &&
                                  wys->mode_is_set(CDB_WYSIWYG_EXTENDED_LUT);
      if (kavu_wys_is_an_adder_bit(wys, false) || wys->is_ff() || quiet_extended) return KEEP;
    }
    return UNMAP_ATOM;
  }
  if (s.m_unmap_muxes && node->get_sgate_type() == CDB_SGATE_MUX_ENUM) return UNMAP_MUX;
  if (s.m_unmap_luts && node->get_sgate_type() == CDB_SGATE_LUT_ENUM) {
    const uint8_t flagged = node->get_flag_byte(CDB_KIND_BYTE) & (CDB_LUT_USER | CDB_LUT_DONT_TOUCH | CDB_LUT_DONT_UNMAP);
    if (!(s.m_skip_flagged_luts && flagged)) return UNMAP_LUT;
  }
  return KEEP;
}

}  // namespace

bool KAVU_WYSIWYG_UNMAPPER::unmap_netlist(CDB_SGATE_NETLIST* netlist, bool unmap_atoms, bool unmap_luts,
                                          bool unmap_muxes, bool all_atom_kinds, bool keep_arithmetic,
                                          bool create_adder, bool skip_flagged_luts) {
  KAVU_CHECK(netlist != 0);
  configure(false, false, !unmap_luts, !unmap_muxes, keep_arithmetic && create_adder);
  const NETLIST_SWITCHES s{unmap_atoms, unmap_luts, unmap_muxes, all_atom_kinds, keep_arithmetic, skip_flagged_luts};

  // Every atom to unmap is checked first, so a missing connection leaves
  // the whole netlist as it was.
  bool missing = false;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node || choose_action(node, s) != UNMAP_ATOM) continue;
    const DB_INPUT_PORT_TYPE port = wys_unmap_missing_required_port(node->cast_to_wysiwyg());
    if (port == DB_MAX_INPUT_PORT_TYPE) continue;
    wys_post_missing_port(node->cast_to_wysiwyg(), port);
    missing = true;
  }
  if (missing) return false;

  std::list<CDB_SGATE_NODE*> pending;
  std::vector<CDB_SGATE_NODE*> replaced;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node) continue;
    switch (choose_action(node, s)) {
      case KEEP:
        continue;
      case UNMAP_ATOM:
        unmap_wysiwyg(node->cast_to_wysiwyg(), &pending, nullptr);
        break;
      case UNMAP_MUX:
        kavu_convert_mux_to_logic(node->cast_to_mux(), &pending);
        break;
      case UNMAP_LUT:
        m_lut_unmapper.convert_lut_to_logic(node->cast_to_lut(), &pending);
        break;
    }
    replaced.push_back(node);
  }
  for (CDB_SGATE_NODE* node : replaced) {
    netlist->delete_node(node);
    delete node;
  }
  for (CDB_SGATE_NODE* node : pending) netlist->add_node(node, true);
  return !replaced.empty();
}

bool kavu_unmap_netlist(CDB_SGATE_NETLIST* netlist, bool unmap_atoms, bool unmap_luts, bool unmap_muxes,
                        bool all_atom_kinds, bool keep_arithmetic, bool create_adder, bool skip_flagged_luts) {
  KAVU_WYSIWYG_UNMAPPER unmapper(false, false, false, false, KAVU_LUT_UNMAPPER::FACTORED, true, false,
                                 DEV_FAMILY_ENUM(68));
  return unmapper.unmap_netlist(netlist, unmap_atoms, unmap_luts, unmap_muxes, all_atom_kinds, keep_arithmetic,
                                create_adder, skip_flagged_luts);
}

// ---------------------------------------------------------------- muxes

namespace {

// A comb gate carrying the mux's name, appended to the list and, when
// given, added to the netlist.
CDB_SGATE_COMB* new_mux_gate(CDB_SGATE_MUX* mux, CDB_COMB_TYPE type, std::list<CDB_SGATE_NODE*>* new_nodes,
                             CDB_SGATE_NETLIST* netlist) {
  std::unique_ptr<CDB_SGATE_COMB> gate(new CDB_SGATE_COMB(mux->get_instance_name(), type, true));
  new_nodes->push_back(gate.get());
  CDB_SGATE_COMB* made = gate.release();
  if (netlist) netlist->add_node(made, true);
  made->get_output_term(0)->set_synthesized_name(static_cast<CDB_SGATE_NODE*>(mux));
  return made;
}

}  // namespace

// out = (select & data1) | (!select & data0), wired by the mux model of
// kavu_helper_mux_int.h, which carries every input's inversion (or constant
// tie) over as a fan-in flag, so no inverter is ever made. The mux's
// readers move last, in one step that takes its memory first: memory
// refused before (std::bad_alloc) takes the gates made out again, and the
// mux and its readers are as they were.
CDB_SGATE_OTERM* kavu_mux_to_logic_in(CDB_SGATE_MUX* node, CDB_SGATE_NETLIST* netlist,
                                      std::list<CDB_SGATE_NODE*>* new_nodes) {
  KAVU_CHECK(node != 0);
  KAVU_CHECK(new_nodes != 0);
  const MUX_INPUTS in = kavu_mux_inputs(node);
  const CDB_SGATE_ITERM* select = in.m_sel;
  const CDB_SGATE_ITERM* data0 = in.m_d0;
  const CDB_SGATE_ITERM* data1 = in.m_d1;
  KAVU_CHECK(::cdb_is_connected(select));
  KAVU_CHECK(::cdb_is_connected(data0));
  KAVU_CHECK(::cdb_is_connected(data1));
  CDB_SGATE_OTERM* node_oterm = node->get_output_term(0);
  KAVU_CHECK(node_oterm != 0);

  std::list<CDB_SGATE_NODE*> made;  // the OR first: it reads the others
  try {
    CDB_SGATE_COMB* sop_node = new_mux_gate(node, CDB_COMB_OR, &made, netlist);
    CDB_SGATE_COMB* data0_node = new_mux_gate(node, CDB_COMB_AND, &made, netlist);
    CDB_SGATE_COMB* data1_node = new_mux_gate(node, CDB_COMB_AND, &made, netlist);
    kavu_mux_wire_sum_of_products(in, data1_node, data0_node, sop_node);
    sop_node->get_output_term(0)->adopt_fanouts(node_oterm, node_oterm->is_inverted());
  } catch (const std::bad_alloc&) {
    for (CDB_SGATE_NODE* gate : made) {  // the OR's inputs go before the gates they read
      if (netlist && gate->get_netlist() == netlist) netlist->delete_node(gate);
      delete gate;
    }
    throw;
  }
  CDB_SGATE_OTERM* sop_oterm = made.front()->get_output_term(0);
  new_nodes->splice(new_nodes->end(), made);
  return sop_oterm;
}

CDB_SGATE_OTERM* kavu_convert_mux_to_logic(CDB_SGATE_MUX* node, std::list<CDB_SGATE_NODE*>* new_nodes) {
  return kavu_mux_to_logic_in(node, nullptr, new_nodes);
}
