// Role: atom netlist (docs/platform.md, "Atom netlist").
// cdb_atom.h — the atom netlist (minimal): placed device atoms, black boxes
// and their child netlists.
//
// Model: a CDB_ATOM_NETLIST owns its atoms (CDB_ATOM_NODE) in the order they
//   were added (the raw node list); black boxes (atom type 3) are also kept
//   in a black-box list. A black box refers to the netlist of its contents
//   (get_child_netlist, may be null, not owned). An atom owns its output
//   terminals (CDB_ATOM_OTERM), each with a port type and an optional
//   instance name. A netlist that is not modifiable is walked through its
//   black-box list by the library's atom walk.
// The netlist's namespace (uses_namespace / get_namespace) is not owned.
// Not thread-safe, like the gate-netlist database.
#pragma once

#include <memory>
#include <vector>

#include "cdb/cdb_codes.h"

class HDB_INSTANCE_NAME;
class HDB_NAMESPACE;
class CDB_ATOM_NODE;
class CDB_ATOM_NETLIST;

// Atom types the atom netlist treats apart.
enum : CDB_WYSIWYG_TYPE {
  CDB_ATOM_TYPE_BLACKBOX = 3,
};

class CDB_ATOM_OTERM {
 public:
  CDB_ATOM_OTERM(CDB_ATOM_NODE* owner, DB_OUTPUT_PORT_TYPE port_type)
      : m_node(owner), m_port_type(port_type) {}
  CDB_ATOM_NODE* get_my_node() const { return m_node; }
  DB_OUTPUT_PORT_TYPE get_port_type() const { return m_port_type; }
  HDB_INSTANCE_NAME* get_instance_name() const { return m_name; }
  void set_instance_name(HDB_INSTANCE_NAME* n) { m_name = n; }

 private:
  CDB_ATOM_NODE* m_node;
  DB_OUTPUT_PORT_TYPE m_port_type;
  HDB_INSTANCE_NAME* m_name = nullptr;
};

class CDB_ATOM_NODE {
 public:
  CDB_ATOM_NODE(CDB_WYSIWYG_TYPE type, HDB_INSTANCE_NAME* name) : m_type(type), m_name(name) {}
  virtual ~CDB_ATOM_NODE() = default;
  CDB_ATOM_NODE(const CDB_ATOM_NODE&) = delete;
  CDB_ATOM_NODE& operator=(const CDB_ATOM_NODE&) = delete;

  CDB_WYSIWYG_TYPE get_atom_type() const { return m_type; }
  HDB_INSTANCE_NAME* get_instance_name() const { return m_name; }
  void set_instance_name(HDB_INSTANCE_NAME* n) { m_name = n; }
  CDB_ATOM_NETLIST* get_netlist() const { return m_netlist; }

  // Appends an output terminal of the port type and returns it.
  CDB_ATOM_OTERM* add_output_term(DB_OUTPUT_PORT_TYPE port_type);
  unsigned get_output_count() const { return static_cast<unsigned>(m_oterms.size()); }
  CDB_ATOM_OTERM* get_output_term(unsigned i) const {
    return i < m_oterms.size() ? m_oterms[i].get() : nullptr;
  }

 private:
  friend class CDB_ATOM_NETLIST;
  CDB_WYSIWYG_TYPE m_type;
  HDB_INSTANCE_NAME* m_name;
  CDB_ATOM_NETLIST* m_netlist = nullptr;
  std::vector<std::unique_ptr<CDB_ATOM_OTERM>> m_oterms;
};

class CDB_ATOM_BLACKBOX : public CDB_ATOM_NODE {
 public:
  explicit CDB_ATOM_BLACKBOX(HDB_INSTANCE_NAME* name) : CDB_ATOM_NODE(CDB_ATOM_TYPE_BLACKBOX, name) {}
  CDB_ATOM_NETLIST* get_child_netlist() const { return m_child; }
  void set_child_netlist(CDB_ATOM_NETLIST* n) { m_child = n; }

 private:
  CDB_ATOM_NETLIST* m_child = nullptr;
};

class CDB_ATOM_NETLIST {
 public:
  typedef std::vector<CDB_ATOM_NODE*>::const_iterator iterator;

  CDB_ATOM_NETLIST() = default;
  ~CDB_ATOM_NETLIST();  // destroys its atoms
  CDB_ATOM_NETLIST(const CDB_ATOM_NETLIST&) = delete;
  CDB_ATOM_NETLIST& operator=(const CDB_ATOM_NETLIST&) = delete;

  // Takes ownership of the atom and appends it (and, for a black box, to the
  // black-box list). An atom already in a netlist is an internal error.
  CDB_ATOM_NODE* add_node(CDB_ATOM_NODE* atom);
  size_t size() const { return m_raw.size(); }
  bool empty() const { return m_raw.empty(); }

  iterator begin_node_list() const { return m_raw.begin(); }
  iterator end_node_list() const { return m_raw.end(); }
  iterator begin_raw_node_list() const { return m_raw.begin(); }
  iterator end_raw_node_list() const { return m_raw.end(); }
  iterator begin_blackboxes() const { return m_blackboxes.begin(); }
  iterator end_blackboxes() const { return m_blackboxes.end(); }

  bool is_modifiable() const { return m_modifiable; }
  void set_modifiable(bool b) { m_modifiable = b; }
  bool uses_namespace() const { return m_namespace != nullptr; }
  HDB_NAMESPACE* get_namespace() const { return m_namespace; }
  void set_namespace(HDB_NAMESPACE* ns) { m_namespace = ns; }

 private:
  std::vector<CDB_ATOM_NODE*> m_raw;
  std::vector<CDB_ATOM_NODE*> m_blackboxes;
  HDB_NAMESPACE* m_namespace = nullptr;
  bool m_modifiable = true;
};

// The atom's type; its basic type (the same number for every atom of this
// netlist: physical variants are not distinguished here).
CDB_WYSIWYG_TYPE cdb_get_atom_type(const CDB_ATOM_NODE* atom);
CDB_WYSIWYG_TYPE cdb_get_atom_basic_type(const CDB_ATOM_NODE* atom);
