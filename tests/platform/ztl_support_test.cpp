// Container support: prime bucket counts and their limits, regular
// expressions of the name rules, the tokenizer and the profiling scope.
#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "gen/gen.h"
#include "testkit/platform_testkit.h"
#include "ztl/ztl_support.h"

namespace {

bool naive_is_prime(uint64_t n) {
  for (uint64_t d = 2; d * d <= n; ++d)
    if (n % d == 0) return false;
  return n >= 2;
}

std::vector<std::string> tokens(const std::string& text, const std::string& separators) {
  ZTL_TOKENIZER tok(text, separators);
  std::vector<std::string> out;
  for (std::string t; tok.next(t);) out.push_back(t);
  return out;
}

// The patterns of the RTL-name rules, then patterns that cross the corners
// of the matcher: alternation order, greedy and lazy loops, counted
// repetition, classes, anchors, word boundaries, optional groups.
const char* const kPatterns[] = {
    R"(:auto_generated\|q_a\[(\d+)\]~FITTER_CREATED_TAVREL_CELL\d+reg\d+$)",
    R"(orlshift_taps:(\w+)_rtl_\d+.*$)", R"(~.+$)", R"(\|lutrama(\d+).*$)", R"(:auto_generated\|clk\[(\d+)\]$)",
    R"(outclk_wire\[(\d+)\]$)", R"(\|\w+:auto_generated.*$)", R"(orlsyncram:(\w+)_rtl_\d+.*$)",
    R"(orlsyncram:(\w+).(\w+)_rtl_\d+.*$)", R"((\w+)_rtl_\d+_bypass.*$)", R"((\w+)_rtl_\d+\|auto_generated.*$)",
    R"((\w+)_rtl_\d+\|auto_generated.*FITTER_CREATED_TAVREL_CELL0$)", R"((\w+)_(\d+)_(\d+)$)", R"((\w+).ST_.*$)",
    R"(\|auto_generated.*(?:\|(.*?))(?:\[|\d).*$)", R"(^[^\\][^:]*:[^:]*$)", R"(lutram\w*$)",
    "a|ab", "(a|ab)(c|bcd)(d*)", "x*", "[^a-c]+?z", "\\bab\\b", "\\Bb", "(?:ab)+?b", "a{2,3}", "(a{2})_", "a{2,}?",
    "^$", ".*", "[\\d_]+", "(a)?b", "((a)|b)c", "[a\\-z]+", "[\\w.]+\\|", "(\\w+)\\.(\\w+)", "ab|", "(|a)b",
    "[\\s\\S]", "\\D\\W", "b(?:a|ab)*?c", "(.*?)(\\d*)$", "[.][^.]*$"};

// A text of up to 12 pieces that the patterns above look for.
std::string random_text(std::mt19937& rng) {
  static const char* const pieces[] = {
      "a", "b", "c", "d", "x", "z", "_", "|", ":", "~", "[", "]", "0", "7", ".", "\\", "\n", " ", "auto_generated",
      "_rtl_", "orlsyncram:", "FITTER_CREATED_TAVREL_CELL", "q_a[", "lutrama", "clk[", "outclk_wire[", "ST_",
      "orlshift_taps:", "counter_reg_bit", "reg", "ram_block1a", "_bypass", "ab"};
  std::string text;
  const int n = int(rng() % 13);
  for (int i = 0; i < n; ++i) text += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
  return text;
}

// The replacement as ZTL_REGEXP::replace defines it, with the standard engine.
std::string standard_replace(const std::string& target, const std::regex& re, const std::string& with, bool all) {
  std::string out;
  auto begin = target.cbegin();
  std::smatch m;
  bool any = false;
  auto flags = std::regex_constants::match_default;
  while (std::regex_search(begin, target.cend(), m, re, flags)) {
    any = true;
    out.append(begin, m[0].first);
    out += with;
    begin = m[0].second;
    if (!all) break;
    if (m[0].first == m[0].second) {
      if (begin == target.cend()) break;
      out.push_back(*begin++);
    }
    flags |= std::regex_constants::match_prev_avail;
  }
  return any ? out.append(begin, target.cend()) : target;
}

}  // namespace

TEST(ZtlSupportSizes, NextPrimeIsTheSmallestPrimeAtLeastNAndGrowthNeverWraps) {
  for (unsigned n = 0; n < 3000; ++n) {
    const unsigned p = ztl_hash_lite_get_next_prime(n);
    ASSERT_TRUE(naive_is_prime(p)) << n;
    for (unsigned k = n; k < p; ++k) ASSERT_FALSE(naive_is_prime(k)) << n;
  }
  EXPECT_EQ(ztl_hash_lite_get_next_prime(4294967291u), 4294967291u);  // largest 32-bit prime
  EXPECT_KAVU_INTERNAL_ERROR(ztl_hash_lite_get_next_prime(4294967292u), "LARGEST_32BIT_PRIME");

  // Half again, to the next prime; degenerate counts still grow.
  EXPECT_EQ((std::vector<unsigned>{ztl_hash_lite_50_percent_increase_size(61), ztl_hash_50_percent_increase_size(65),
                                   ztl_hash_lite_50_percent_increase_size(0), ztl_hash_50_percent_increase_size(1)}),
            (std::vector<unsigned>{97, 97, 2, 2}));
  const unsigned big = ztl_hash_lite_50_percent_increase_size(2147483648u);
  EXPECT_TRUE(big >= 3221225472u && naive_is_prime(big));
  // Regression: c + c/2 wrapped past 32 bits and handed back a smaller count.
  EXPECT_KAVU_INTERNAL_ERROR(ztl_hash_lite_50_percent_increase_size(3000000000u), "LARGEST_32BIT_PRIME");
  EXPECT_KAVU_INTERNAL_ERROR(ztl_hash_50_percent_increase_size(3000000000u), "LARGEST_32BIT_PRIME");
}

TEST(ZtlSupportRegexp, SearchGroupsReplaceWholeMatchAndInvalidPatterns) {
  ZTL_REGEXP bits("(\\w+)_(\\d+)_(\\d+)$", true);
  ASSERT_TRUE(bits.is_pattern_valid() && bits.groups() == 3u);
  ASSERT_TRUE(bits.search(std::string("top|data_3_4")));  // the text is gone after the call
  EXPECT_EQ(bits.group(0) + "," + bits.group(1) + "," + bits.group(4), "data_3_4,data,");
  EXPECT_EQ(bits.match_position(), 4u);
  EXPECT_EQ(bits.replace("top|data_3_4", bits.group(1), false), "top|data");
  EXPECT_FALSE(bits.search("plain") || bits.match_exists());
  EXPECT_EQ(bits.group(1), "");
  // Leftmost search, and lazy quantifiers inside non-capturing groups.
  ZTL_REGEXP rtl("(\\w+)_rtl_\\d+\\|auto_generated.*$", true);
  ASSERT_TRUE(rtl.search("top|ram_rtl_0|auto_generated|ram_block1a0"));
  EXPECT_EQ(rtl.replace("top|ram_rtl_0|auto_generated|ram_block1a0", rtl.group(1), false), "top|ram");
  ZTL_REGEXP wild("\\|auto_generated.*(?:\\|(.*?))(?:\\[|\\d).*$", true);
  ASSERT_TRUE(wild.search("x|auto_generated|counter_reg_bit[2]"));
  EXPECT_EQ(wild.group(1), "counter_reg_bit");
  // Replacement text is literal; replacing every match handles empty matches.
  EXPECT_EQ(ZTL_REGEXP("~.+$", true).replace("a~b", "$1", false), "a$1");
  EXPECT_EQ(ZTL_REGEXP("x*", true).replace("abc", "-", true), "-a-b-c-");
  // match() is whole-text; case folding on request; a moved-from expression matches nothing.
  ZTL_REGEXP entity("^[^\\\\][^:]*:[^:]*$", true), whole("ab", true), folded("ST_IDLE", false);
  EXPECT_TRUE(entity.match("a:b") && !entity.match("a:b:c") && !entity.match("\\a:b"));
  EXPECT_TRUE(!whole.match("xaby") && whole.search("xaby") && folded.search("fsm.st_idle"));
  ZTL_REGEXP moved(std::move(folded));
  EXPECT_TRUE(moved.search("ST_IDLE") && !folded.search("ST_IDLE"));
  // A malformed pattern (say, from a user's name) is refused without throwing.
  ZTL_REGEXP bad("(unclosed", true);
  EXPECT_FALSE(bad.is_pattern_valid() || bad.search("(unclosed") || bad.match("(unclosed"));
  EXPECT_EQ(bad.replace("(unclosed", "x", true), "(unclosed");
}

// Search, groups, position, whole match and replacement against the
// standard library's ECMAScript engine, on texts short enough for it.
TEST(ZtlSupportRegexp, AgreesWithTheStandardEngine) {
  std::mt19937 rng(20261207);
  for (const char* pattern : kPatterns) {
    SCOPED_TRACE(pattern);
    ZTL_REGEXP ours(pattern, true);
    const std::regex ref(pattern);
    ASSERT_TRUE(ours.is_pattern_valid());
    ASSERT_EQ(ours.groups(), ref.mark_count());
    for (int t = 0; t < 400; ++t) {
      const std::string text = random_text(rng);
      std::smatch m;
      const bool found = std::regex_search(text, m, ref);
      ASSERT_EQ(ours.search(text), found) << text;
      if (found) {
        ASSERT_EQ(ours.match_position(), size_t(m.position(0))) << text;
        for (unsigned g = 0; g <= ours.groups(); ++g)
          ASSERT_EQ(ours.group(g), m[g].matched ? m[g].str() : std::string()) << text << " group " << g;
      }
      ASSERT_EQ(ours.match(text), std::regex_match(text, ref)) << text;
      for (bool all : {false, true})
        ASSERT_EQ(ours.replace(text, "<>", all), standard_replace(text, ref, "<>", all)) << text << " all " << all;
    }
  }
  // Case folding.
  for (const char* pattern : {"st_idle", "a(b|c)d", "ST_\\w+"}) {
    ZTL_REGEXP ours(pattern, false);
    const std::regex ref(pattern, std::regex::ECMAScript | std::regex::icase);
    for (const std::string text : {"fsm.ST_IDLE", "xABD", "aCd", "st_x", "nothing"}) {
      std::smatch m;
      ASSERT_EQ(ours.search(text), std::regex_search(text, m, ref)) << pattern << " " << text;
    }
  }
}

// Texts of 100,000 characters: the standard engine recursed once per
// character matched and overflowed the stack; the matcher reads the text
// once, without recursion.
TEST(ZtlSupportRegexp, LongTextsMatchWithoutRecursion) {
  const std::string run(100000, 'a');
  ZTL_REGEXP bits("(\\w+)_(\\d+)_(\\d+)$", true), any(".*", true), lazy("(.*?)b", true), word("^\\w+$", true);
  ASSERT_TRUE(bits.search("top|" + run + "_3_4"));
  EXPECT_EQ(bits.group(1), run);
  EXPECT_EQ(bits.group(3), "4");
  ASSERT_TRUE(any.match(run));
  EXPECT_EQ(any.group(0).size(), run.size());
  ASSERT_TRUE(lazy.search(run + "b" + run + "b"));
  EXPECT_EQ(lazy.group(1), run);
  EXPECT_TRUE(word.match(run));
  EXPECT_FALSE(word.match(run + "|"));
  EXPECT_EQ(ZTL_REGEXP("a+", true).replace(run + "|" + run, "x", true), "x|x");
}

TEST(ZtlSupportTokenizer, SplitsAtAnySeparatorWithoutEmptyTokens) {
  EXPECT_EQ(tokens("top|a:b||c|", "|"), (std::vector<std::string>{"top", "a:b", "c"}));
  EXPECT_EQ(tokens(" x\t y ", " \t"), (std::vector<std::string>{"x", "y"}));
  EXPECT_TRUE(tokens("|||", "|").empty());
  EXPECT_EQ(tokens("abc", ""), (std::vector<std::string>{"abc"}));
  ZTL_TOKENIZER tok("a|", "|");
  std::string t;
  EXPECT_TRUE(tok.has_more() && tok.next(t));
  EXPECT_FALSE(tok.has_more() || tok.next(t));
}

TEST(ZtlSupportProfiler, ScopesCountUnderTheirNameWhenProfilingIsOn) {
  kavu_platform::CFG_SCOPE cfg{{"gen_profile", "on"}};
  { ZTL_PROFILER p("ztl_support_test_scope"); }
  { ZTL_PROFILER p("KAVU", "ztl_support_test_scope", -1, true); }
  { ZTL_PROFILER p("KAVU", "ztl_support_test_scope", -1, false); }
  EXPECT_EQ(kavu_platform::gen_profile_calls("ztl_support_test_scope"), 2);
}
