// Role: container support (docs/platform.md, "Containers").
// ztl_support.h — support routines of the container library: the bucket-count
// sizes of the hash containers, regular expressions, a tokenizer and a
// profiling scope.
//
// Sizes: bucket counts are primes. ztl_hash_lite_get_next_prime(n) is the
//   smallest prime >= n (60 -> 61); both growth routines answer
//   next_prime(c + c/2), which is always larger than c. A count whose answer
//   does not fit in 32 bits is an internal error rather than a wrapped size.
// ZTL_REGEXP: an ECMAScript pattern compiled once per object. A pattern
//   that does not compile leaves the object invalid (is_pattern_valid() false)
//   and every later match fails; nothing throws out of it. Matching runs on
//   a Pike machine (ztl_support_regexp_int.h) that reads the text once with
//   no recursion, in O(text x pattern), so texts of any length are safe;
//   captures in loops follow ECMAScript's rounds. Patterns outside its
//   dialect (backreferences, lookarounds, \c, \0, collating elements, a
//   quantifier on a quantifier, and a few more) are invalid: nothing runs on
//   an engine whose recursion grows with the text.
// ZTL_TOKENIZER: splits a text at any of a set of separator characters,
//   skipping empty tokens (as strtok does), without touching the text.
// ZTL_PROFILER: a named scope timed through the general profiler; it costs one
//   branch when profiling is off.
// Cost: next_prime is trial division, O(sqrt(n)) per candidate; it runs once
//   per table growth, never per operation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "gen/gen.h"

// Smallest prime >= n. Used for the first and the read-back sizes of the
// light hash tables.
unsigned int ztl_hash_lite_get_next_prime(unsigned int n);

// Next bucket count of a growing light hash table with `current` buckets.
unsigned int ztl_hash_lite_50_percent_increase_size(unsigned int current);

// Bucket count of a growing ZTL_HASH, from the fill-based size it computed.
unsigned int ztl_hash_50_percent_increase_size(unsigned int current);

// Regular expression over std::string in the ECMAScript dialect (leftmost
// search, \d, \w, non-capturing groups, lazy quantifiers). match and search
// remember the last result, which groups/group/match_exists then report.
class ZTL_REGEXP {
 public:
  // `case_sensitive` false compiles the pattern with case folding.
  explicit ZTL_REGEXP(const std::string& pattern, bool case_sensitive = true);
  ~ZTL_REGEXP();
  // A moved-from expression is invalid: it matches nothing.
  ZTL_REGEXP(ZTL_REGEXP&& other) noexcept;
  ZTL_REGEXP& operator=(ZTL_REGEXP&& other) noexcept;
  ZTL_REGEXP(const ZTL_REGEXP&) = delete;
  ZTL_REGEXP& operator=(const ZTL_REGEXP&) = delete;

  bool is_pattern_valid() const { return m_valid; }
  const std::string& get_pattern() const { return m_pattern; }

  // Number of capture groups of the pattern (0 for an invalid pattern).
  unsigned int groups() const;

  // True when the whole text matches.
  bool match(const std::string& text);
  // True when some part of the text matches; the leftmost match is kept.
  bool search(const std::string& text);
  // Result of the last match or search.
  bool match_exists() const { return m_found; }
  // Text of capture group n of the last match (0 = the whole match); empty
  // when there was no match, n is out of range or the group did not take part.
  std::string group(unsigned int n) const;
  // Offset of the last match in its text (0 without a match).
  size_t match_position() const;

  // Returns `target` with the leftmost match (every match when `all`)
  // replaced by `replacement`, taken literally ("$1" is not expanded). An
  // invalid pattern, or no match, returns the target unchanged.
  std::string replace(const std::string& target, const std::string& replacement, bool all);

 private:
  bool run(const std::string& text, bool whole);

  // The compiled expression and the last match; <regex> stays out of this
  // header, which every hash-container user includes.
  struct STATE;

  std::string m_pattern;
  bool m_valid = false;
  bool m_found = false;
  std::unique_ptr<STATE> m_state;
};

// Splits a text at separator characters. next() yields the tokens in order
// and returns false when none is left; runs of separators, and separators at
// either end, produce no empty tokens.
class ZTL_TOKENIZER {
 public:
  ZTL_TOKENIZER(const std::string& text, const std::string& separators);

  bool next(std::string& token);
  // True while a token is left.
  bool has_more() const;

 private:
  bool is_separator(char c) const;

  std::string m_text;
  std::string m_separators;
  size_t m_pos = 0;
};

// Scope timed under `name` by the general profiler (GEN_PROFILER) when the
// key "gen_profile" is on.
class ZTL_PROFILER {
 public:
  explicit ZTL_PROFILER(const char* name) { m_scope.emplace("ZTL", name); }
  // The suite's form: module, name, a level (unused: every timed scope is
  // totalled alike) and an enable flag; a scope with `enabled` false is not
  // timed at all.
  ZTL_PROFILER(const char* module, const char* name, int /*level*/, bool enabled) {
    if (enabled) m_scope.emplace(module, name);
  }

  ZTL_PROFILER(const ZTL_PROFILER&) = delete;
  ZTL_PROFILER& operator=(const ZTL_PROFILER&) = delete;

 private:
  std::optional<GEN_PROFILER> m_scope;
};
