// Role: timing engine (docs/platform.md, "Timing engine").
// tervo.h — the per-partition slack estimator and the table timing model.
//
// TERVO_ESTIMATOR<T>: a snapshot, taken from the engine's held timing
//   netlist and its last analysis, of the slack, arrival and requirement of
//   every input terminal of one gate netlist. It answers estimate_slack for
//   those terminals afterwards without the engine. Its partition name is the
//   short path (format 0) of the instance name of the partition that the
//   netlist's hierarchy belongs to in the partition tree; "" without a
//   hierarchy or partition tree.
// CSU_TABLE_TIMING_MODEL<T>: a table of gate delays per family (the
//   engine's table model), with the initialisation arguments recorded.
// csu_set_default_family records the family for tests.
#pragma once

#include <string>
#include <unordered_map>

#include "dev/dev.h"
#include "ssc/ssc_timing_info.h"

class CDB_SGATE_NETLIST;
class CDB_SGATE_ITERM;
class TDB_NETLIST;

struct CSU_SGATE_NETLIST_TYPES {};

template <class T>
class TERVO_ESTIMATOR;

template <>
class TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES> {
 public:
  TERVO_ESTIMATOR();
  ~TERVO_ESTIMATOR();
  TERVO_ESTIMATOR(const TERVO_ESTIMATOR&) = delete;
  TERVO_ESTIMATOR& operator=(const TERVO_ESTIMATOR&) = delete;

  // Takes the snapshot; false when the engine holds no analysed netlist.
  // A null netlist or timing netlist is an internal error.
  bool initialize(CDB_SGATE_NETLIST* netlist, TDB_NETLIST* tdb_netlist, bool flattened);
  std::string get_partition_name() const { return m_partition; }
  bool initialized_for_partition(const std::string& name) const { return m_initialized && name == m_partition; }
  bool is_initialized() const { return m_initialized; }
  bool is_flattened() const { return m_flattened; }
  // The slack of the terminal at the snapshot; 2147483647 when unknown.
  int estimate_slack(const CDB_SGATE_ITERM* iterm) const;
  // Estimators alive in the process (tests count them).
  static int live_count();

 private:
  std::string m_partition;
  bool m_initialized = false;
  bool m_flattened = false;
  std::unordered_map<const CDB_SGATE_ITERM*, int> m_slack;
};

template <class T>
class CSU_TIMING_MODEL {
 public:
  virtual ~CSU_TIMING_MODEL() = default;
  virtual int get_lut_delay() const = 0;
};

template <class T>
class CSU_TABLE_TIMING_MODEL;

template <>
class CSU_TABLE_TIMING_MODEL<CSU_SGATE_NETLIST_TYPES> : public CSU_TIMING_MODEL<CSU_SGATE_NETLIST_TYPES> {
 public:
  CSU_TABLE_TIMING_MODEL();
  ~CSU_TABLE_TIMING_MODEL() override;
  void initialize(DEV_FAMILY_ENUM family, DEV_DEVICE_ENUM device, bool a, bool timing_loaded, bool b);
  int get_lut_delay() const override { return m_lut_delay; }
  DEV_FAMILY_ENUM get_family() const { return m_family; }
  DEV_DEVICE_ENUM get_device() const { return m_device; }
  bool timing_loaded() const { return m_timing_loaded; }
  // Models alive in the process (tests count them).
  static int live_count();

 private:
  DEV_FAMILY_ENUM m_family = DEV_FAMILY_ENUM(0);
  DEV_DEVICE_ENUM m_device = DEV_DEVICE_ENUM(0);
  bool m_timing_loaded = false;
  int m_lut_delay = 0;
};

void csu_set_default_family(DEV_FAMILY_ENUM family);

namespace kavu_platform {
// The family last given to csu_set_default_family (DEV_FAMILY_NONE after a reset).
DEV_FAMILY_ENUM csu_get_default_family();
// Device timing loads and typical devices made through DMGR_UTILITY since
// the last reset.
int dmgr_timing_load_count();
int dmgr_typical_device_count();
void ssc_query_test_reset();
}  // namespace kavu_platform
