// Role: timing engine (docs/platform.md, "Timing engine").
// ssc_timing_info.h — the timing map the timing engine hands to synthesis:
// per input terminal with a real source, its slack and slack ratio.
//
// Only the types live here until the engine itself exists; callers fill the
// map themselves (tests) or receive it from the engine's analysis.
// SSC_UNCONSTRAINED_SLACK (the largest 32-bit value) marks a terminal that
// no constraint reaches; its ratio is then 1.0.
#pragma once

#include <map>

class CDB_SGATE_ITERM;

constexpr int SSC_UNCONSTRAINED_SLACK = 2147483647;

struct SSC_ITERM_TIMING_INFO {
  float m_ratio = 1.0f;                         // slack / requirement
  int m_slack = SSC_UNCONSTRAINED_SLACK;        // in delay units
  int m_requirement = SSC_UNCONSTRAINED_SLACK;  // in delay units
  int m_relaxed_slack = SSC_UNCONSTRAINED_SLACK;
};

// Ordered by terminal address, as the engine fills it.
typedef std::map<CDB_SGATE_ITERM*, SSC_ITERM_TIMING_INFO> SSC_ITERM_TIMING_INFO_MAP;
