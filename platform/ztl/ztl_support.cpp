// ztl_support.cpp — bucket-count sizes, regular expressions and tokenizer of
// the container library (see ztl_support.h for the model).
#include "ztl/ztl_support.h"

#include <cstdint>
#include <utility>

// GCC 12 reports a std::function inside the regex compiler as maybe
// uninitialized when it inlines it under the sanitizers; the report is false.
// The regex templates are instantiated at the end of this file, so the
// warning stays off for the whole file.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <regex>

#include "msg/msg.h"
#include "ztl/ztl_support_regexp_int.h"

namespace {

// Largest prime that fits in 32 bits: no bucket count may be asked beyond it.
constexpr uint64_t LARGEST_32BIT_PRIME = 4294967291u;

bool is_prime(uint64_t n) {
  if (n < 2) return false;
  if (n % 2 == 0) return n == 2;
  if (n % 3 == 0) return n == 3;
  for (uint64_t d = 5; d * d <= n; d += 6) {
    if (n % d == 0 || n % (d + 2) == 0) return false;
  }
  return true;
}

// Bounded by the check, so the search ends at a prime that fits in 32 bits.
unsigned int next_prime(uint64_t n) {
  PLAT_CHECK(n <= LARGEST_32BIT_PRIME, "PLATFORM");
  while (!is_prime(n)) ++n;
  return static_cast<unsigned int>(n);
}

// next_prime(c + c/2) in 64 bits: c + c/2 wraps 32 bits from c of about 2.86
// billion, which would hand back a smaller table.
unsigned int grow_by_half(unsigned int current) {
  const uint64_t wanted = static_cast<uint64_t>(current) + current / 2;
  // c + c/2 == c for c <= 1: growth must still give a larger count.
  return next_prime(wanted > current ? wanted : static_cast<uint64_t>(current) + 1);
}

}  // namespace

unsigned int ztl_hash_lite_get_next_prime(unsigned int n) { return next_prime(n); }

unsigned int ztl_hash_lite_50_percent_increase_size(unsigned int current) {
  return grow_by_half(current);
}

unsigned int ztl_hash_50_percent_increase_size(unsigned int current) {
  return grow_by_half(current);
}

// ---------------------------------------------------------------------------
// ZTL_REGEXP

struct ZTL_REGEXP::STATE {
  ZTL_REGEXP_VM m_vm;
  // The searched text is copied so that group() stays valid after the
  // caller's string is gone.
  std::string m_subject;
  std::vector<ptrdiff_t> m_caps;          // the last match
  std::vector<ptrdiff_t> m_replace_caps;  // scratch of replace()
};

// Every pattern runs on the machine. The standard engine only judges the
// syntax (its compiler recurses on the pattern, never on a text): a pattern
// it refuses, or one outside the machine's dialect, is invalid. The
// standard engine never matches, since its recursion grows with the text
// and can exhaust the stack.
ZTL_REGEXP::ZTL_REGEXP(const std::string& pattern, bool case_sensitive)
    : m_pattern(pattern), m_state(std::make_unique<STATE>()) {
  STATE& s = *m_state;
  // The machine's parser goes first: it bounds the nesting the standard
  // compiler would recurse on.
  if (!s.m_vm.compile(pattern, case_sensitive)) return;
  auto flags = std::regex::ECMAScript;
  if (!case_sensitive) flags |= std::regex::icase;
  // A malformed pattern is a fact about the caller's data (often a user
  // name); it makes the object invalid instead of escaping as an exception.
  try {
    const std::regex syntax(pattern, flags);
    m_valid = syntax.mark_count() == s.m_vm.groups();
  } catch (const std::regex_error&) {
    m_valid = false;
  }
}

ZTL_REGEXP::~ZTL_REGEXP() = default;
ZTL_REGEXP::ZTL_REGEXP(ZTL_REGEXP&& other) noexcept
    : m_pattern(std::move(other.m_pattern)), m_valid(other.m_valid), m_found(other.m_found),
      m_state(std::move(other.m_state)) {
  other.m_valid = false;
  other.m_found = false;
}

ZTL_REGEXP& ZTL_REGEXP::operator=(ZTL_REGEXP&& other) noexcept {
  if (this == &other) return *this;
  m_pattern = std::move(other.m_pattern);
  m_valid = other.m_valid;
  m_found = other.m_found;
  m_state = std::move(other.m_state);
  other.m_valid = false;
  other.m_found = false;
  return *this;
}

unsigned int ZTL_REGEXP::groups() const { return m_valid ? m_state->m_vm.groups() : 0u; }

bool ZTL_REGEXP::match(const std::string& text) { return run(text, true); }

bool ZTL_REGEXP::search(const std::string& text) { return run(text, false); }

bool ZTL_REGEXP::run(const std::string& text, bool whole) {
  m_found = false;
  if (!m_valid) return false;
  STATE& s = *m_state;
  s.m_subject = text;
  m_found = s.m_vm.exec(s.m_subject, 0, whole, s.m_caps);
  return m_found;
}

std::string ZTL_REGEXP::group(unsigned int n) const {
  if (!m_found) return std::string();
  const std::vector<ptrdiff_t>& c = m_state->m_caps;
  if (2 * size_t(n) + 1 >= c.size() || c[2 * n] < 0) return std::string();
  return m_state->m_subject.substr(size_t(c[2 * n]), size_t(c[2 * n + 1] - c[2 * n]));
}

size_t ZTL_REGEXP::match_position() const {
  if (!m_found) return 0u;
  return size_t(m_state->m_caps[0]);
}

// The leftmost match (every match when `all`) replaced; after an empty
// match one character is copied and the search goes on behind it, so no
// match is found twice.
std::string ZTL_REGEXP::replace(const std::string& target, const std::string& replacement, bool all) {
  if (!m_valid) return target;
  ZTL_REGEXP_VM& vm = m_state->m_vm;
  std::vector<ptrdiff_t>& caps = m_state->m_replace_caps;
  std::string result;
  size_t begin = 0;
  bool replaced = false;
  while (vm.exec(target, begin, false, caps)) {
    replaced = true;
    const size_t from = size_t(caps[0]), to = size_t(caps[1]);
    result.append(target, begin, from - begin);
    result.append(replacement);
    begin = to;
    if (!all) break;
    if (from == to) {
      if (begin == target.size()) break;
      result.push_back(target[begin]);
      ++begin;
    }
  }
  if (!replaced) return target;
  result.append(target, begin, std::string::npos);
  return result;
}

// ---------------------------------------------------------------------------
// ZTL_TOKENIZER

ZTL_TOKENIZER::ZTL_TOKENIZER(const std::string& text, const std::string& separators)
    : m_text(text), m_separators(separators) {}

bool ZTL_TOKENIZER::is_separator(char c) const {
  return m_separators.find(c) != std::string::npos;
}

bool ZTL_TOKENIZER::next(std::string& token) {
  while (m_pos < m_text.size() && is_separator(m_text[m_pos])) ++m_pos;
  if (m_pos >= m_text.size()) {
    token.clear();
    return false;
  }
  const size_t start = m_pos;
  while (m_pos < m_text.size() && !is_separator(m_text[m_pos])) ++m_pos;
  token.assign(m_text, start, m_pos - start);
  return true;
}

bool ZTL_TOKENIZER::has_more() const {
  for (size_t i = m_pos; i < m_text.size(); ++i) {
    if (!is_separator(m_text[i])) return true;
  }
  return false;
}
