// kavu_llis_queries.cpp — incremental-synthesis queries on gates, the MIF
// bookkeeping of RAMs and the Graphviz dump of a netlist.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "cdb/cdb_atom.h"
#include "cdb/cdb_atom_catalogue.h"
#include "cdb/cdb_sgate_hierarchy.h"
#include "cdb/cdb_sgate_ram.h"
#include "cdb/cdb_sgate_wysiwyg.h"
#include "cfg/cfg.h"
#include "fio/fio.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_helper_dump.h"
#include "kavu_llis.h"
#include "kavu_msg.h"

namespace {

const CDB_SGATE_WYSIWYG* wysiwyg_of(const CDB_SGATE_NODE* node) {
  return node && node->is_wysiwyg() ? node->cast_to_wysiwyg() : nullptr;
}

bool is_wysiwyg_ff(const CDB_SGATE_NODE* node) {
  const CDB_SGATE_WYSIWYG* w = wysiwyg_of(node);
  return w && w->is_ff();
}

bool is_register(const CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_DFF_ENUM || is_wysiwyg_ff(node);
}

bool is_ram_gate(const CDB_SGATE_NODE* node) {
  const CDB_SGATE_TYPE t = node->get_sgate_type();
  return t == CDB_SGATE_SYNCHRONOUS_RAM_ENUM || t == CDB_SGATE_ASYNCHRONOUS_RAM_ENUM;
}

const char* mif_of(const CDB_SGATE_NODE* node) {
  if (const CDB_SGATE_SYNCHRONOUS_RAM* r = node->cast_to_synchronous_ram()) return r->get_mif_file();
  if (const CDB_SGATE_ASYNCHRONOUS_RAM* r = node->cast_to_asynchronous_ram()) return r->get_mif_file();
  return nullptr;
}

// A MIF file worth reading: a regular file of bounded size. A FIFO would
// block the open until a writer comes, a device such as /dev/zero never
// ends, and neither is checked by opening it.
constexpr std::uintmax_t kMaxMifBytes = std::uintmax_t(1) << 30;

bool is_readable_mif(const std::string& name) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(name, ec)) return false;
  const std::uintmax_t size = std::filesystem::file_size(name, ec);
  if (ec || size > kMaxMifBytes) return false;
  std::ifstream f(name, std::ios::binary);
  return f.good();
}

// Graphviz label text: quotes and backslashes escaped, newlines dropped.
std::string dot_escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n' || c == '\r') continue;
    out += c;
  }
  return out;
}

}  // namespace

bool kavu_is_a_nice_sgate(const CDB_SGATE_NODE* node) {
  if (!node) return false;
  switch (node->get_sgate_type()) {
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_DFF_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_CARRY_SUM_ENUM:
    case CDB_SGATE_STATE_ENUM:
    case CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM:
    case CDB_SGATE_WYSIWYG_MAC_MULT_ENUM:
    case CDB_SGATE_WYSIWYG_MAC_OUT_ENUM:
    case CDB_SGATE_COMPONENT_ENUM:
    case CDB_SGATE_OPERATOR_ENUM:
    case CDB_SGATE_ASYNCHRONOUS_RAM_ENUM:
    case CDB_SGATE_SYNCHRONOUS_RAM_ENUM:
    case CDB_SGATE_WYSIWYG_LUTRAM_ENUM:
      return true;
    default:
      break;
  }
  const CDB_SGATE_WYSIWYG* w = wysiwyg_of(node);
  return w && (w->is_ff() || w->is_lcell_comb());
}

std::string kavu_llis_fib_name(const HDB_INSTANCE_NAME* name) {
  KAVU_CHECK(name);
  return name->get_short_hpath(HDB_INSTANCE_NAME::HPATH_BELOW_ROOT);
}

HDB_INSTANCE_NAME* kavu_get_sgate_instance_name(const CDB_SGATE_NODE* node) {
  KAVU_CHECK(node);
  if (HDB_INSTANCE_NAME* name = node->get_instance_name()) return name;
  if (CDB_SGATE_OTERM* o = node->get_single_oterm())
    if (HDB_INSTANCE_NAME* name = o->get_instance_name()) return name;
  if (cfg_is_on("llis_ie_on_name_lookup_failure", false)) KAVU_INTERNAL_ERROR("Node name lookup failed");
  return nullptr;
}

std::string kavu_llis_get_string_hpath(const CDB_SGATE_NODE* node) {
  KAVU_CHECK(node);
  if (HDB_INSTANCE_NAME* name = kavu_get_sgate_instance_name(node)) return kavu_llis_fib_name(name);
  return node->get_string_hpath();
}

std::string kavu_llis_get_string_hpath(const CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(oterm);
  if (HDB_INSTANCE_NAME* name = oterm->get_instance_name()) return kavu_llis_fib_name(name);
  return oterm->get_string_hpath();
}

// Atoms that must sit in the periphery: I/O, clock, PLL, DLL, serial and
// transceiver blocks and the DDIO registers.
bool kavu_is_sgate_periphery_block(const CDB_SGATE_NODE* node) {
  if (!wysiwyg_of(node)) return false;
  switch (node->get_sgate_type()) {
    case CDB_SGATE_WYSIWYG_IO_ENUM:
    case CDB_SGATE_WYSIWYG_SERDES_ENUM:
    case CDB_SGATE_WYSIWYG_DLL_ENUM:
    case CDB_SGATE_WYSIWYG_JTAG_ENUM:
    case CDB_SGATE_WYSIWYG_HSSI_ENUM:
    case CDB_SGATE_WYSIWYG_PLL_ENUM:
    case CDB_SGATE_WYSIWYG_CLKBUF_ENUM:
    case CDB_SGATE_WYSIWYG_IO_IBUF_ENUM:
    case CDB_SGATE_WYSIWYG_IO_OBUF_ENUM:
    case CDB_SGATE_WYSIWYG_DDIO_IN_ENUM:
    case CDB_SGATE_WYSIWYG_DDIO_OUT_ENUM:
    case CDB_SGATE_WYSIWYG_DDIO_OE_ENUM:
      return true;
    default:
      return wysiwyg_of(node)->is_pll();
  }
}

bool kavu_is_llis_name_buffer(const CDB_SGATE_NODE* node) {
  if (!node || node->get_sgate_type() != CDB_SGATE_BUFFER_ENUM) return false;
  const CDB_BUFFER_TYPE t = node->cast_to_buffer()->get_buffer_type();
  if (t != CDB_BUFFER_LCELL && t != CDB_BUFFER_SOFT_LCELL) return false;
  return kavu_llis_get_string_hpath(node).find("~llis") != std::string::npos;
}

bool kavu_is_anchor_point(const CDB_SGATE_NODE* node) {
  KAVU_CHECK(node);
  const CDB_SGATE_TYPE t = node->get_sgate_type();
  if (t == CDB_SGATE_IO_ENUM || t == CDB_SGATE_DFF_ENUM) return true;
  if (is_wysiwyg_ff(node)) return true;
  if (kavu_is_llis_name_buffer(node)) return true;
  if (kavu_is_sgate_periphery_block(node)) return true;
  return t == CDB_SGATE_COMPONENT_ENUM;
}

bool kavu_llis_reg_has_non_fib_data_source(const CDB_SGATE_NODE* node) {
  if (!node || !is_register(node)) return false;
  const CDB_SGATE_ITERM* data = node->get_sgate_type() == CDB_SGATE_DFF_ENUM
                                    ? node->get_input_term(0)
                                    : node->cast_to_wysiwyg()->get_iterm_by_type(DB_PORT_DATAIN);
  if (!data || !data->get_source()) return false;
  return !kavu_is_a_nice_sgate(data->get_source()->get_my_node());
}

bool kavu_has_single_distinct_oterm_source(const CDB_SGATE_NODE* node) {
  KAVU_CHECK(node);
  const CDB_SGATE_OTERM* source = nullptr;
  bool inverted = false;
  for (const CDB_SGATE_ITERM* t : node->get_input_terms()) {
    if (!t || !t->is_connected() || !t->get_source()) continue;
    if (!source) {
      source = t->get_source();
      inverted = t->is_inverted();
    } else if (t->get_source() != source || t->is_inverted() != inverted) {
      return false;
    }
  }
  return true;
}

int kavu_get_list_of_fib_nodes_from_netlist(const std::set<std::string>* fib_names, CDB_SGATE_NETLIST* netlist,
                                            const std::map<CDB_SGATE_NODE*, std::string>* node_names,
                                            std::set<CDB_SGATE_NODE*>* found) {
  KAVU_CHECK(fib_names && netlist);
  const bool debug = cfg_is_on("llis_debug_msg", false);
  kavu_debug("fib_names = %d", int(fib_names->size()));
  int matched = 0;
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    std::string name;
    if (node_names) {
      auto it = node_names->find(node);
      if (it == node_names->end()) continue;
      name = it->second;
    } else {
      HDB_INSTANCE_NAME* iname = node->get_instance_name();
      if (!iname && node->get_single_oterm()) iname = node->get_single_oterm()->get_instance_name();
      if (!iname) continue;
      name = kavu_llis_fib_name(iname);
    }
    const CDB_SGATE_TYPE t = node->get_sgate_type();
    const bool candidate = t == CDB_SGATE_IO_ENUM || t == CDB_SGATE_DFF_ENUM || is_wysiwyg_ff(node) ||
                           kavu_is_sgate_periphery_block(node) || t == CDB_SGATE_COMPONENT_ENUM ||
                           name.find("~llis") != std::string::npos;
    if (!candidate || !fib_names->count(name)) continue;
    if (found) found->insert(node);
    ++matched;
    if (debug) kavu_debug("fib name %s exists in the old netlist", name.c_str());
  }
  kavu_debug("Matched %d out of %d fibs in netlist", matched, int(fib_names->size()));
  return matched;
}

// ---------------------------------------------------------------- MIF files

bool kavu_get_mif_file_names(const CDB_SGATE_NODE* node, std::string& name, std::string& old_name) {
  name.clear();
  old_name.clear();
  if (!node || !is_ram_gate(node)) return false;
  const char* mif = mif_of(node);
  if (!mif || !*mif) return false;
  const std::string file(mif);
  if (file.compare(0, 3, "db/") != 0) {
    kavu_debug("LLIS: not a compiler inferred MIF");
    return false;
  }
  // Only a ".mif" extension is replaced; a name that is no longer than
  // "db/" plus the extension, or has another extension, has no old copy.
  constexpr std::string_view ext = ".mif";
  if (file.size() <= 3 + ext.size() || file.compare(file.size() - ext.size(), ext.size(), ext) != 0) {
    kavu_debug("LLIS: not a compiler inferred MIF");
    return false;
  }
  name = file;
  old_name = file.substr(0, file.size() - ext.size()) + "_old.mif";
  kavu_debug("LLIS: mif_names = %s , %s", name.c_str(), old_name.c_str());
  return true;
}

bool kavu_llis_compare_files_ignoring_space(const std::string& a, const std::string& b) {
  bool missing = false;
  for (const std::string* n : {&a, &b})
    if (n->empty() || !is_readable_mif(*n)) {
      kavu_debug("Missing %s", n->c_str());
      missing = true;
    }
  if (missing) return false;
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  auto next = [](std::ifstream& f) {
    int c;
    while ((c = f.get()) != EOF && std::isspace(c)) {
    }
    return c;
  };
  for (;;) {
    const int ca = next(fa), cb = next(fb);
    if (ca != cb) {
      kavu_debug("MIFs are not equal");
      return false;
    }
    if (ca == EOF) return true;
  }
}

bool kavu_compare_mif_file(const CDB_SGATE_NODE* node) {
  if (!node || !is_ram_gate(node)) return true;
  std::string name, old_name;
  if (!kavu_get_mif_file_names(node, name, old_name)) {
    kavu_debug("Failed kavu_get_mif_file_names()");
    return false;
  }
  return kavu_llis_compare_files_ignoring_space(name, old_name);
}

bool kavu_compare_mif_files(const CDB_SGATE_NODE* a, const CDB_SGATE_NODE* b) {
  KAVU_CHECK(a && b);
  if (a->get_sgate_type() != b->get_sgate_type()) return false;
  if (!is_ram_gate(a)) return true;
  const char* ma = mif_of(a);
  const char* mb = mif_of(b);
  const bool ha = ma && *ma, hb = mb && *mb;
  if (!ha && !hb) return true;
  if (ha != hb) return false;
  return kavu_llis_compare_files_ignoring_space(ma, mb);
}

// ---------------------------------------------------------------- Graphviz dump

// Nodes and edges both use the gate's debug number as the node id, so every
// edge joins two declared nodes; labels are escaped.
std::string kavu_dump_sgates_to_dot(CDB_SGATE_NETLIST* netlist, const char* tag,
                                    const std::set<CDB_SGATE_NODE*>* highlight, CDB_SGATE_HIERARCHY* hierarchy) {
  if (!cfg_is_on("llis_dump_dot", false)) return std::string();
  KAVU_CHECK(netlist && tag && hierarchy);
  HDB_INSTANCE_NAME* hier_iname = hierarchy->get_instance_name();
  if (!hier_iname) KAVU_INTERNAL_ERROR("hier_iname");
  const std::string file = kavu_llis_partition_file_part(hierarchy) + "_" + tag + ".dot";
  FILE* out = kavu_open_report(file);
  if (!out) return std::string();
  auto lit = [&](const CDB_SGATE_NODE* n) { return highlight && highlight->count(const_cast<CDB_SGATE_NODE*>(n)); };
  std::fputs("digraph G {\n", out);
  for (CDB_SGATE_NODE* n : netlist->get_node_list()) {
    const CDB_SGATE_TYPE t = n->get_sgate_type();
    const bool reg = is_register(n);
    const CDB_SGATE_WYSIWYG* w = wysiwyg_of(n);
    const char* shape = "ellipse";
    if (reg) shape = "box";
    else if (t == CDB_SGATE_IO_ENUM) shape = n->cast_to_io()->get_io_type() == CDB_IO_INPUT ? "invtriangle"
                                             : n->cast_to_io()->get_io_type() == CDB_IO_OUTPUT ? "triangle"
                                                                                             : "ellipse";
    else if (t == CDB_SGATE_MUX_ENUM) shape = "invtrapezium";
    else if (t == CDB_SGATE_LUT_ENUM || (w && w->is_lcell_comb())) shape = "octagon";
    char style[160];
    if (lit(n)) std::snprintf(style, sizeof style, "shape=%s,style=filled,color=\".5 .5 .5\"", shape);
    else if (reg) std::snprintf(style, sizeof style, "shape=%s,style=filled,color=\".7 .3 1.0\"", shape);
    else if (t == CDB_SGATE_IO_ENUM) std::snprintf(style, sizeof style, "shape=%s,style=filled,color=\".3 .7 .9\"", shape);
    else std::snprintf(style, sizeof style, "shape=%s", shape);
    HDB_INSTANCE_NAME* iname = n->get_instance_name();
    const std::string name = iname ? iname->get_short_hpath(0) : kavu_llis_get_string_hpath(n);
    std::fprintf(out, " p%u [label=\"p%u %s %s\" %s];\n", n->get_id(), n->get_id(), dot_escape(name).c_str(),
                 dot_escape(n->get_string_type_name()).c_str(), style);
  }
  for (CDB_SGATE_NODE* n : netlist->get_node_list())
    for (CDB_SGATE_OTERM* o : n->get_output_terms()) {
      if (!o) continue;
      for (CDB_SGATE_ITERM* t : o->fanouts()) {
        CDB_SGATE_NODE* d = t->get_my_node();
        if (!d || d->get_netlist() != netlist) continue;  // only edges between dumped nodes
        std::string attr = lit(n) || lit(d) ? "style=bold,color=red,weight=3" : "style=filled,color=black,weight=1";
        if (t->is_inverted()) attr += ",arrowhead=odot";
        std::fprintf(out, " p%u -> p%u [%s];\n", n->get_id(), d->get_id(), attr.c_str());
      }
    }
  std::fputs("}\n", out);
  kavu_close_report(out, file);
  return file;
}

// ---------------------------------------------------------------- atom-netlist forms

namespace {

const kavu_platform::ATOM_CATALOGUE_ENTRY& row_of(const CDB_ATOM_NODE* atom) {
  return kavu_platform::atom_catalogue_lookup(cdb_get_atom_basic_type(atom));
}

bool is_io_atom(const CDB_ATOM_NODE* atom) {
  using namespace kavu_platform;
  return row_of(atom).has_class(ATOM_CLASS_IO_PAD | ATOM_CLASS_IO_IBUF | ATOM_CLASS_IO_OBUF | ATOM_CLASS_OUTPUT |
                                ATOM_CLASS_BIDIR);
}

bool is_llis_name_cell(const CDB_ATOM_NODE* atom) {
  if (!row_of(atom).has_class(kavu_platform::ATOM_CLASS_LCELL_COMB)) return false;
  const HDB_INSTANCE_NAME* name = atom->get_instance_name();
  return name && kavu_llis_fib_name(name).find("~llis") != std::string::npos;
}

// The atoms that must sit in the periphery: PLLs, clock buffers and DDIO
// registers (the I/O atoms are tested apart).
bool is_periphery_atom(const CDB_ATOM_NODE* atom) {
  using namespace kavu_platform;
  return row_of(atom).has_class(ATOM_CLASS_PLL | ATOM_CLASS_IOPLL | ATOM_CLASS_CLKBUF | ATOM_CLASS_DDIO_IN |
                                ATOM_CLASS_DDIO_OUT | ATOM_CLASS_DDIO_OE);
}

bool is_blackbox_atom(const CDB_ATOM_NODE* atom) { return cdb_get_atom_type(atom) == CDB_ATOM_TYPE_BLACKBOX; }

}  // namespace

bool kavu_llis_is_register_atom(const CDB_ATOM_NODE* node) {
  KAVU_CHECK(node);
  return row_of(node).has_class(kavu_platform::ATOM_CLASS_FF);
}

bool kavu_is_anchor_point(const CDB_ATOM_NODE* node) {
  KAVU_CHECK(node);
  return is_io_atom(node) || is_llis_name_cell(node) || kavu_llis_is_register_atom(node) ||
         is_periphery_atom(node) || is_blackbox_atom(node);
}

bool kavu_llis_atom_has_fib_oterms(const CDB_ATOM_NODE* node) {
  KAVU_CHECK(node);
  return is_blackbox_atom(node) || row_of(node).has_class(kavu_platform::ATOM_CLASS_PLL | kavu_platform::ATOM_CLASS_IOPLL);
}
