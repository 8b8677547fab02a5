// kavu_01tbl_resyn.cpp — cone resynthesis (kavu_cone_resynthesis): a cone
// simulated into a truth table and rebuilt by one of the LUT builders.
//
// Steps: simulate the cone over the caller's cut (kavu_cone_01tbl), drop the
//   variables the function ignores, set the reference LUT input of the delay
//   model, dispatch on the method, and at debug level 2 (or with
//   kavu_factor_accel) re-simulate the built network and compare it with the
//   cone's table.
// Invariants: the cone's table is computed once and never handed to a
//   builder that could change it (the k-input builder gets a copy), so the
//   final comparison is against the cone as it was; the reference LUT input
//   is null again on every exit (return or internal error), so it never
//   points into a gate the caller deletes later; a call that returns null
//   has appended nothing.
// Delay mode: method 3 runs syn_luts in speed mode (ftm_resyn_for_speed
//   turned on for the call and restored on every way out) under a delay
//   target of max_delay minus the delay of the wire into the root LUT and of
//   the LUT itself; a target that leaves no time is an internal error.
// Cost: one cone simulation, O(|cone| * 2^n / 32), plus the builder; the
//   check doubles the simulation.
#include "kavu_01tbl_resyn.h"

#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "kavu_01tbl.h"
#include "kavu_01tbl_cone.h"
#include "kavu_01tbl_fd.h"
#include "kavu_01tbl_fd_int.h"
#include "kavu_check.h"
#include "kavu_msg.h"

namespace {

// Holds the delay model's reference LUT input for one call and clears it on
// every way out, internal errors included.
class REFERENCE_ITERM_SCOPE {
 public:
  explicit REFERENCE_ITERM_SCOPE(CDB_SGATE_ITERM* iterm) { kavu_resyn_set_reference_iterm(iterm); }
  ~REFERENCE_ITERM_SCOPE() { kavu_resyn_set_reference_iterm(nullptr); }
  REFERENCE_ITERM_SCOPE(const REFERENCE_ITERM_SCOPE&) = delete;
  REFERENCE_ITERM_SCOPE& operator=(const REFERENCE_ITERM_SCOPE&) = delete;
};

// Turns the speed switch of the resynthesis settings on for one call and
// restores it on every way out, internal errors included.
class SPEED_MODE_SCOPE {
 public:
  SPEED_MODE_SCOPE() : m_saved(kavu_fd_int::set_resyn_for_speed(true)) {}
  ~SPEED_MODE_SCOPE() { kavu_fd_int::set_resyn_for_speed(m_saved); }
  SPEED_MODE_SCOPE(const SPEED_MODE_SCOPE&) = delete;
  SPEED_MODE_SCOPE& operator=(const SPEED_MODE_SCOPE&) = delete;

 private:
  bool m_saved;
};

// The caller's arguments after the first line, passed inward as one record.
struct RESYN_REQUEST {
  unsigned int method = 0;
  int max_delay = 0;
  bool improve = false;
  int given_area = 0;
  unsigned int given_delay = 0;
};

// The first input terminal among the first max_num_inputs inputs of the
// gate: it stands for "an input of the LUT being rebuilt" in the delay model.
CDB_SGATE_ITERM* first_lut_input(const CDB_SGATE_NODE* gate) {
  const unsigned int limit = CDB_LUTMASK_MAX_INPUTS;
  for (unsigned int i = 0; i < limit && i < gate->get_number_of_input_terms(); ++i)
    if (CDB_SGATE_ITERM* iterm = gate->get_input_term(i)) return iterm;
  return nullptr;
}

// Method 3: syn_luts in speed mode under the delay target the root allows.
CDB_SGATE_NODE* build_for_delay(const KAVU_01TBL& cone_tbl, CDB_SGATE_OTERM* oterm,
                                const std::vector<CDB_SGATE_OTERM*>& observed, const RESYN_REQUEST& req,
                                std::vector<CDB_SGATE_NODE*>& built) {
  const SPEED_MODE_SCOPE speed;
  const KAVU_01TBL_RESYN_SETTINGS& s = kavu_01tbl_resyn_settings();
  const int max_delay = req.max_delay == -1 ? kavu_resyn_arrival(oterm) : req.max_delay;
  const int64_t overhead = static_cast<int64_t>(s.m_wire_data_delay) + s.m_lutin_combout_delay;
  const int64_t delay_target = static_cast<int64_t>(max_delay) - overhead;
  KAVU_CHECK(delay_target > 0);
  const int limit = kavu_fd_int::saturate_to_int(delay_target);
  CDB_SGATE_NODE* root = cone_tbl.syn_luts(oterm->get_instance_name(), observed, built, limit,
                                           CDB_LUTMASK_MAX_INPUTS, req.improve, req.given_area, req.given_delay);
  if (root != nullptr) {
    const int64_t arrival = kavu_resyn_arrival(root->get_single_oterm());
    if (arrival > overhead + limit)
      kavu_debug("Is this okay? max_delay = %lld but resynthesized cone has delay %lld",
                 static_cast<long long>(overhead + limit), static_cast<long long>(arrival));
  }
  return root;
}

// Runs the builder of the method; new gates go to `built`, root last.
CDB_SGATE_NODE* build_network(const KAVU_01TBL& cone_tbl, CDB_SGATE_OTERM* oterm,
                              const std::vector<CDB_SGATE_OTERM*>& observed, const RESYN_REQUEST& req,
                              std::vector<CDB_SGATE_NODE*>& built) {
  HDB_INSTANCE_NAME* name = oterm->get_instance_name();
  switch (req.method) {
    case KAVU_RESYN_STRUCTURAL:
      return cone_tbl.to_luts(name, observed, built);
    case KAVU_RESYN_FOUR_INPUT: {
      // The builder reduces the table it runs on; cone_tbl stays the reference.
      KAVU_01TBL work(cone_tbl);
      return work.to_luts(observed, name, 4, built);
    }
    case KAVU_RESYN_AREA:
      return cone_tbl.syn_luts(name, observed, built, kavu_fd_int::NO_DELAY_LIMIT, CDB_LUTMASK_MAX_INPUTS,
                               req.improve, req.given_area, req.given_delay);
    case KAVU_RESYN_DELAY:
      return build_for_delay(cone_tbl, oterm, observed, req, built);
    case KAVU_RESYN_FACTOR:
      // Asked for by kavu_factor_accel; no factoring builder exists here.
      kavu_debug("factoring method %d for functional decomposition is not available; nothing built",
                 static_cast<int>(req.method));
      return nullptr;
    default:
      kavu_debug("Unexpected method %d for functional decomposition", static_cast<int>(req.method));
      KAVU_INTERNAL_ERROR("Unexpected method for functional decomposition. See debug messages.");
      return nullptr;
  }
}

}  // namespace

void kavu_fd_int::check_resynthesized_network(const KAVU_01TBL& cone_tbl, std::vector<CDB_SGATE_OTERM*>& fanins,
                                              std::vector<CDB_SGATE_NODE*>& built) {
  KAVU_CHECK(!built.empty());
  std::vector<CDB_SGATE_OTERM*> order;
  order.reserve(built.size());
  for (CDB_SGATE_NODE* gate : built) order.push_back(gate->get_single_oterm());
  const KAVU_01TBL rsyn_tbl = kavu_cone_01tbl(order.back(), fanins, &order);
  if (!(cone_tbl == rsyn_tbl)) {
    // Nothing half-made stays behind: the network goes before the report.
    delete_synthesized_nodes(built);
    KAVU_CHECK(cone_tbl == rsyn_tbl);
  }
  kavu_debug("PARANOID - built sgates verified OK");
}

CDB_SGATE_NODE* kavu_cone_resynthesis(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& fanins,
                                      std::vector<CDB_SGATE_NODE*>& luts, unsigned int method, int max_delay,
                                      bool improve, int given_area, unsigned int given_delay) {
  KAVU_CHECK(oterm != nullptr);
  KAVU_CHECK(!cdb_sgate_synthesis_is_running_in_parallel());
  RESYN_REQUEST req;
  req.method = method;
  req.max_delay = max_delay;
  req.improve = improve;
  req.given_area = given_area;
  req.given_delay = given_delay;
  const bool factor_accel = cfg_is_on("kavu_factor_accel", false);
  if (factor_accel) req.method = KAVU_RESYN_FACTOR;
  const unsigned int debug_level = KAVU_01TBL::debug_level();

  KAVU_01TBL cone_tbl = kavu_cone_01tbl(oterm, fanins, nullptr);
  std::vector<unsigned int> kept;
  const unsigned int removed = cone_tbl.delete_redundant_var(kept);
  std::vector<CDB_SGATE_OTERM*> observed;
  observed.reserve(kept.size());
  for (unsigned int v : kept) observed.push_back(fanins[v]);
  if (debug_level >= 1 && removed > 0)
    kavu_debug("remove %u redundant out of %zu fanins", removed, fanins.size());
  KAVU_CHECK(cone_tbl.num_vars() == observed.size());
  if (debug_level >= 1)
    kavu_debug("fd_method=%u max_delay=%d improve=%d given_area=%d given_delay=%u", req.method, max_delay,
               improve ? 1 : 0, given_area, given_delay);

  CDB_SGATE_ITERM* s_lut_iterm = first_lut_input(oterm->get_my_node());
  KAVU_CHECK(s_lut_iterm != 0);
  const REFERENCE_ITERM_SCOPE reference(s_lut_iterm);

  std::vector<CDB_SGATE_NODE*> built;
  CDB_SGATE_NODE* root = build_network(cone_tbl, oterm, observed, req, built);
  if (root == nullptr) {
    KAVU_CHECK(built.empty());
    return nullptr;
  }
  KAVU_CHECK(!built.empty() && built.back() == root);
  if (debug_level >= 2 || factor_accel) kavu_fd_int::check_resynthesized_network(cone_tbl, observed, built);
  luts.insert(luts.end(), built.begin(), built.end());
  return root;
}
