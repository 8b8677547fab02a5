// Role: compiler facade (docs/platform.md, "Compiler facade").
// cmp.h — the compiler facade: the caller's handle to the current compile.
//
// Model: CMP_FACADE is a plain settings object that the suite (here: tests
//   and tools) fills before it calls the library: the user's device family
//   and its base family, the part and device, project and revision names,
//   whether this is a recompile, the assignment database (a namespace), the
//   synthesis type, and per hierarchy the optimisation technique code.
//   ZCU_FACADE_UTIL holds the facade of the current compile; the library
//   reaches it through ZCU_FACADE_UTIL::get_instance()->get_facade().
// The facade does not own the namespace or the report it is given.
// ZDB_PATH names a model (a kind of stored data, such as "mifs") of one
//   partition's database record; ZDB_DIRECTORY_MODEL is a model kept as a
//   directory in the project database directory (gen_get_db_dir_path):
//   creation mode 1 gives "<db>/<partition name>/<model>", mode 2 the flat
//   "<db>/<model>". A model is created once per path and then found; the
//   directory is made on disk when the model is created.
// Not thread-safe, like the databases; the current facade is process-wide
//   state, cleared by the test reset.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "dev/dev.h"
#include "fio/fio.h"
#include "zhd/zhd.h"

class HDB_INSTANCE_NAME;
class HDB_NAMESPACE;
class RDB_REPORT;


// Optimisation technique codes a facade reports per hierarchy.
enum CMP_OPTIMIZATION_TECHNIQUE : int {
  CMP_OPTIMIZATION_AREA = 36,
  CMP_OPTIMIZATION_BALANCED = 53,
  CMP_OPTIMIZATION_SPEED = 54,
};

class CMP_FACADE {
 public:
  CMP_FACADE() = default;
  CMP_FACADE(const CMP_FACADE&) = delete;
  CMP_FACADE& operator=(const CMP_FACADE&) = delete;

  // The user's family and the base family it belongs to (DEV_FAMILY_UNKNOWN
  // until set).
  DEV_FAMILY_ENUM get_family() const { return m_family; }
  void set_family(DEV_FAMILY_ENUM f) { m_family = f; }
  DEV_FAMILY_ENUM get_base_family() const { return m_base_family; }
  void set_base_family(DEV_FAMILY_ENUM f) { m_base_family = f; }

  // Mode flags of the compile (bit 20: simulation netlists are generated).
  unsigned get_mode_flags() const { return m_mode_flags; }
  void set_mode_flags(unsigned flags) { m_mode_flags = flags; }

  int get_part() const { return m_part; }
  void set_part(int part) { m_part = part; }
  // The device name; "AUTO" lets the fitter choose.
  const std::string& get_device_name() const { return m_device_name; }
  void set_device_name(const std::string& n) { m_device_name = n; }
  const std::string& get_project_name() const { return m_project; }
  void set_project_name(const std::string& n) { m_project = n; }
  const std::string& get_revision_name() const { return m_revision; }
  void set_revision_name(const std::string& n) { m_revision = n; }
  bool is_recompile() const { return m_recompile; }
  void set_recompile(bool b) { m_recompile = b; }
  const std::string& get_synthesis_type() const { return m_synthesis_type; }
  void set_synthesis_type(const std::string& t) { m_synthesis_type = t; }

  // The compile's assignment database; null means the default namespace.
  HDB_NAMESPACE* get_namespace() const;
  void set_namespace(HDB_NAMESPACE* ns) { m_namespace = ns; }
  RDB_REPORT* get_report() const { return m_report; }
  void set_report(RDB_REPORT* r) { m_report = r; }

  // The technique set on the name or its nearest ancestor with one, else
  // the compile's default (balanced unless changed). Null: the default.
  int get_optimization_technique(const HDB_INSTANCE_NAME* hier) const;
  void set_optimization_technique(const HDB_INSTANCE_NAME* hier, int code);
  void set_default_optimization_technique(int code) { m_default_technique = code; }

  // The code of an enumeration text registered with set_enum_code; -1 when
  // unknown.
  int get_enum_code(const std::string& text) const;
  void set_enum_code(const std::string& text, int code) { m_enum_codes[text] = code; }

 private:
  DEV_FAMILY_ENUM m_family = DEV_FAMILY_UNKNOWN;
  DEV_FAMILY_ENUM m_base_family = DEV_FAMILY_UNKNOWN;
  unsigned m_mode_flags = 0;
  int m_part = 0;
  std::string m_device_name = "AUTO";
  std::string m_project;
  std::string m_revision;
  bool m_recompile = false;
  std::string m_synthesis_type;
  HDB_NAMESPACE* m_namespace = nullptr;
  RDB_REPORT* m_report = nullptr;
  int m_default_technique = CMP_OPTIMIZATION_BALANCED;
  // Keyed by name id: ids are never reused, so the order is deterministic.
  std::map<int, int> m_techniques;
  std::map<std::string, int> m_enum_codes;
};

// The holder of the current compile's facade (not owned).
class ZCU_FACADE_UTIL {
 public:
  static ZCU_FACADE_UTIL* get_instance();
  CMP_FACADE* get_facade() const { return m_facade; }
  void set_facade(CMP_FACADE* f) { m_facade = f; }

 private:
  ZCU_FACADE_UTIL() = default;
  CMP_FACADE* m_facade = nullptr;
};

// A model of a partition's database record.
class ZDB_PATH {
 public:
  ZDB_PATH() = default;
  // The record's partition (null: none) with no model yet.
  explicit ZDB_PATH(const ZHD_DB_RECORD& record) : m_partition(record.partition) {}
  void set_model(const std::string& model) { m_model = model; }
  const std::string& get_model() const { return m_model; }
  const ZHD_PARTITION* get_partition() const { return m_partition; }
  // "<partition name>/<model>": the key models are found by.
  std::string to_string() const;

 private:
  const ZHD_PARTITION* m_partition = nullptr;
  std::string m_model;
};

class ZDB_DIRECTORY_MODEL {
 public:
  static const char* const s_model_type_string;  // "directory"

  // The model of that path, or null.
  static ZDB_DIRECTORY_MODEL* find(const ZDB_PATH& path);
  // Creates the model of that path with the creation mode (1 or 2, see the
  // file comment; another mode or type, or a path without model or
  // partition, is an internal error) and makes its directory; an existing
  // model is returned as it is. Null when the directory cannot be made.
  static ZDB_DIRECTORY_MODEL* create(const ZDB_PATH& path, const char* type, int mode);
  // The directory (full path).
  const FIO_PATH& get_fio_path() const { return m_path; }

 private:
  explicit ZDB_DIRECTORY_MODEL(const FIO_PATH& path) : m_path(path) {}
  FIO_PATH m_path;
};

namespace kavu_platform {
// Forgets the current facade and every directory model (called by
// plat_test_reset_all).
void cmp_test_reset();
}  // namespace kavu_platform

// The arguments a helper process needs to work as this one does, in order:
// "--db_dir=<project database directory>", "--pipe_dir=<private pipe
// directory>", "--ini_file=<file>" when KAVU_INI_FILE names one,
// "--ini_set=<key>=<value>" for every key set from code (by key name),
// "--naming_mode=1" and "--fib_db=1" or "--fib_db=0" (1 when fast
// recompilation is supported and the key "llis_always_write_db" is on, its
// default). Never null; the list belongs to the calling thread and is
// rebuilt by its next call.
const std::vector<std::string>* zexe_get_args_required_by_subthread();
