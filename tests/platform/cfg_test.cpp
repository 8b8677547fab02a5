// cfg_test.cpp — configuration sources, their precedence and value parsing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cfg/cfg.h"
#include "cfg/cfg_keys_int.h"
#include "testkit/platform_testkit.h"

namespace {

using kavu_platform::cfg_reload;
using kavu_platform::cfg_set_value;

// Sets KAVU_INI_SET / KAVU_INI_FILE (null: unset) and rereads them; unsets
// both and rereads at the end (the ordinary run sets neither).
struct ENV_SCOPE {
  ENV_SCOPE(const char* ini_set, const char* ini_file) {
    put("KAVU_INI_SET", ini_set);
    put("KAVU_INI_FILE", ini_file);
    cfg_reload();
  }
  ~ENV_SCOPE() {
    unsetenv("KAVU_INI_SET");
    unsetenv("KAVU_INI_FILE");
    cfg_reload();
  }
  static void put(const char* name, const char* value) { value ? setenv(name, value, 1) : unsetenv(name); }
};

void write_file(const char* path, const std::string& text) { std::ofstream(path) << text; }

TEST(CfgSources, CodeBeatsEnvironmentBeatsFileBeatsDefault) {
  write_file("kavu.ini",
             "# settings\n"
             "kavu_confidence = 70\n"
             "\n"
             "Kavu_Wt_Sr = 3   # trailing comment\n"
             "kavu_cut_debug=on\n"
             "kavu_wt_sr = 5\n"  // the last line for a key wins
             "kavu_mac_port_delay = 17\n");
  ENV_SCOPE env("kavu_confidence=80; only_env = yes; kavu_mac_port_delay=", "kavu.ini");
  EXPECT_EQ(cfg_get_int_value("kavu_confidence", 90), 80);  // environment over file
  EXPECT_EQ(cfg_get_int_value("KAVU_WT_SR", 0), 5);         // file; keys ignore case
  EXPECT_TRUE(cfg_is_on("kavu_cut_debug", false) && cfg_is_on("only_env", false));
  EXPECT_EQ(cfg_get_int_value("kavu_min_netlist_size", 20000), 20000);  // default
  EXPECT_EQ(cfg_get_int_value("kavu_mac_port_delay", 0), 0);  // an empty value hides the file's
  EXPECT_STREQ(cfg_get_value("unset_key"), "");
  cfg_set_value("kavu_confidence", "95");
  const int from_code = cfg_get_int_value("kavu_confidence", 90);  // code over everything
  kavu_platform::cfg_unset_value("kavu_confidence");
  EXPECT_EQ(std::pair(from_code, cfg_get_int_value("kavu_confidence", 90)), std::pair(95, 80));

  // A reload rereads the sources and keeps code-set values.
  cfg_set_value("kavu_wt_sr", "9");
  write_file("kavu.ini", "kavu_confidence = 60\n");
  setenv("KAVU_INI_SET", "", 1);
  cfg_reload();
  EXPECT_TRUE(cfg_get_int_value("kavu_confidence", 90) == 60 && cfg_get_int_value("kavu_wt_sr", 0) == 9);
  EXPECT_FALSE(cfg_is_on("only_env", false));
}

// A value holding a NUL byte (once cut at it) is refused with its line.
TEST(CfgSources, MalformedSourcesWarnAndKeepTheGoodEntries) {
  write_file("bad.ini", "good_key = 1\nthis line has no equals sign\n= no key\nnul_key = 7" + std::string(1, '\0') +
                            "9\n");
  ::testing::internal::CaptureStderr();
  {
    ENV_SCOPE env("a=1;;justtext;b = 2;kavu_wt_sr = 3x", "bad.ini");
    EXPECT_EQ(cfg_get_int_value("a", 0) + cfg_get_int_value("b", 0) + cfg_get_int_value("good_key", 0), 4);
    EXPECT_EQ(cfg_get_int_value("nul_key", -1), -1);
    EXPECT_EQ(cfg_get_int_value("kavu_wt_sr", -1), -1);
  }
  { ENV_SCOPE env(nullptr, "no_such_file.ini"); }
  // Text quoted from the sources reaches the terminal escaped: a path, an
  // item, a value (each used to be printed raw). A value refused names where
  // it was set, as the unread-key warning does (it named neither).
  write_file("esc\x1b[2J.ini", "kavu_confidence = \x1b]0;x\amaybe\nkavu_wt_sr = 1" + std::string(1, '\0') + "\n");
  {
    ENV_SCOPE env("\x1b[2Jnot_an_item", "esc\x1b[2J.ini");
    EXPECT_EQ(cfg_get_int_value("kavu_confidence", 90), 90);
  }
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find('\x1b'), std::string::npos) << err;
  for (const std::string& warned : {std::string("justtext"), std::string("line 2 of"), std::string("line 3 of"),
                                    std::string("line 4 of \"bad.ini\" holds a NUL byte"),
                                    std::string("line 2 of \"esc\\x1b[2J.ini\" holds a NUL byte"),
                                    std::string("item \"\\x1b[2Jnot_an_item\" is not key=value"),
                                    std::string("key \"kavu_confidence\" (line 1 of \"esc\\x1b[2J.ini\") has value "
                                                "\"\\x1b]0;x\\x07maybe\", which is not an integer"),
                                    std::string("key \"kavu_wt_sr\" (KAVU_INI_SET) has value \"3x\""),
                                    "cannot be read (cannot read the file: " + std::string(std::strerror(ENOENT)) + ")"})
    EXPECT_NE(err.find(warned), std::string::npos) << warned << " in " << err;
}

// A key set in KAVU_INI_SET or the ini file that nothing reads (a misspelt
// one) warns once in the process, naming where it was set, and is kept;
// keys read by name or by a family made at run time do not warn. A
// misspelt key used to be ignored without a word.
TEST(CfgSources, KeysNothingReadsWarnOnce) {
  write_file("keys.ini", "ssc_sdc_fil = b.sdc\nkavu_wt_sr = 2\nunread_in_file_\x1b[2J = 1\nSSC_SDC_FIL = c.sdc\n");
  const char* env = "ssc_sdc_fil=a.sdc; ssc_default_period=9; debug_msg_kavu=off; pmap_parallel=on;"
                    "user_ini_switch_7=off; opt_critical_signal_1=top|r; opt_critical_signal_is_fast_top|r=on";
  ::testing::internal::CaptureStderr();
  {
    ENV_SCOPE first(env, "keys.ini");
    EXPECT_STREQ(cfg_get_value("ssc_sdc_fil"), "a.sdc");
    ENV_SCOPE again(env, "keys.ini");
  }
  const std::string err = ::testing::internal::GetCapturedStderr();
  const std::string unread = " is not read by the library\n";
  EXPECT_NE(err.find("key \"ssc_sdc_fil\" (KAVU_INI_SET)" + unread), std::string::npos) << err;
  EXPECT_NE(err.find("key \"unread_in_file_\\x1b[2j\" (line 3 of \"keys.ini\")" + unread), std::string::npos) << err;
  size_t warnings = 0;
  for (size_t at = err.find(unread); at != std::string::npos; at = err.find(unread, at + 1)) ++warnings;
  EXPECT_EQ(warnings, 2u) << err;
  // The key is kept for a program that reads it itself: the warning once
  // said it had no effect.
  EXPECT_EQ(err.find("no effect"), std::string::npos) << err;
}

// What the sources of the library, the platform layer and its tools read:
// every key a read names literally (`read`; `read_as_int` those of the
// integer reads) and every lower-case word spelt as a string (`literals`).
struct KEYS_IN_SOURCES {
  std::set<std::string> literals, read, read_as_int;
  KEYS_IN_SOURCES() {
    const std::pair<const char*, bool> readers[] = {
        {"cfg_is_on(", false},         {"cfg_get_value(", false}, {"cfg_get_int_value(", true},
        {"cfg_get_int_value_in_range(", true}, {"key_on(", false},   {"read_int_key(", true},
        {"KAVU_KEY_ONCE ", false}};
    for (const char* dir : {"synth", "platform", "tools"})
      for (const auto& f : std::filesystem::recursive_directory_iterator(std::string(KAVU_SOURCE_DIR) + "/" + dir)) {
        const std::string ext = f.path().extension().string();
        if ((ext != ".cpp" && ext != ".h") || f.path().filename() == "cfg_keys.cpp") continue;
        std::ifstream in(f.path());
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (size_t q = text.find('"'); q != std::string::npos; q = text.find('"', q + 1)) {
          const size_t end = text.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_", q + 1);
          if (end != std::string::npos && text[end] == '"' && end > q + 1) literals.insert(text.substr(q + 1, end - q - 1));
        }
        for (const auto& [reader, as_int] : readers)
          for (size_t at = text.find(reader); at != std::string::npos; at = text.find(reader, at + 1)) {
            size_t from = at + std::strlen(reader);
            // A key read once per process: KAVU_KEY_ONCE name{"key", default}.
            if (reader[std::strlen(reader) - 1] != '(') {
              from = text.find_first_not_of(" \nabcdefghijklmnopqrstuvwxyz0123456789_", from);
              if (from == std::string::npos || (text[from] != '{' && text[from] != '(')) continue;
              ++from;
            }
            const size_t q = text.find_first_not_of(" \n", from);
            if (q == std::string::npos || text[q] != '"') continue;
            const std::string key = text.substr(q + 1, text.find('"', q + 1) - q - 1);
            read.insert(key);
            if (as_int) read_as_int.insert(key);
          }
      }
  }
};

// The list of keys read says what the sources read: every key a read of the
// library, the platform layer or its tools names is in it (or in a family),
// and every name in it is spelt somewhere in those sources, so a key read
// only by tests or benchmarks is not listed. Sorted, for its binary search.
TEST(CfgKeys, ListMatchesTheKeysTheSourcesRead) {
  const KEYS_IN_SOURCES sources;
  const std::set<std::string>& literals = sources.literals;
  const std::set<std::string>& read = sources.read;
  ASSERT_GT(read.size(), 250u);
  for (const std::string& key : read) EXPECT_TRUE(kavu_platform::cfg_key_is_read(key)) << key << " is read, not listed";
  const auto listed = kavu_platform::cfg_keys_read();
  for (const char* key : listed) EXPECT_TRUE(literals.count(key)) << key << " is listed, read nowhere";
  EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end(),
                             [](const char* a, const char* b) { return std::strcmp(a, b) < 0; }));
  for (const char* key : {"ssc_sdc_fil", "ssc_sdc_file_", "p_pdb", "debug_msg_", "cfg_load_probe"})
    EXPECT_FALSE(kavu_platform::cfg_key_is_read(key)) << key;
}

// Every key the sources read as an integer has a range, and every range is
// that of a listed key; a value outside the range warns, naming the key and
// the range, and gives the caller's default. Most integer keys once took any
// value: a delay of -100000 raised a slack by that much, one of 2000000000
// overflowed a sum, a timeout of -5 was no limit.
TEST(CfgKeys, EveryIntegerKeyHasItsRange) {
  const KEYS_IN_SOURCES sources;
  ASSERT_GT(sources.read_as_int.size(), 40u);
  for (const std::string& key : sources.read_as_int) {
    int lo = 0, hi = 0;
    EXPECT_TRUE(kavu_platform::cfg_int_key_range(key, &lo, &hi)) << key << " is read as an integer, has no range";
  }
  const auto listed = kavu_platform::cfg_keys_read();
  const auto ranges = kavu_platform::cfg_int_key_ranges();
  for (const kavu_platform::CFG_INT_RANGE& r : ranges) {
    EXPECT_TRUE(std::binary_search(listed.begin(), listed.end(), std::string_view(r.key))) << r.key << " is not listed";
    EXPECT_LE(r.lo, r.hi) << r.key;
  }
  EXPECT_TRUE(std::is_sorted(ranges.begin(), ranges.end(), [](const auto& a, const auto& b) {
    return std::strcmp(a.key, b.key) < 0;
  }));

  // A value refused gives the default with a warning naming the key and its
  // range; one taken gives itself without a word.
  struct ROW {
    const char* key;
    const char* value;
    int dflt;
    bool taken;
  } const rows[] = {
      {"ssc_table_comb_delay", "-100000", 150, false},  {"ssc_table_comb_delay", "2000000000", 150, false},
      {"ssc_table_comb_delay", "100000", 150, true},    {"ssc_table_comb_delay", "0", 150, true},
      {"SSC_TABLE_LUT_DELAY", "100001", 300, false},     {"kavu_delay_lut_gate", "-1", 30, false},
      {"ftm_resyn_wire_gh_delay", "0x7fffffff", 0, false}, {"kavu_mac_port_delay", "-3", 0, false},
      {"abc_timeout", "0", 600, false},                  {"abc_timeout", "-5", 600, false},
      {"yosys_timeout", "-1", 600, false},               {"sta_timeout", "30", 600, true},
      {"put_max_threads", "0", 0, false},                {"put_max_threads", "8", 0, true},
      {"parallel_num_partitions", "0", 32, false},       {"kavu_cut_percentile", "101", 20, false},
      {"kavu_confidence", "100", 90, true},              {"kavu_ssc_high_speed_slack_threshold", "-500", 1000, true},
      {"synth_max_inputs_per_carry_chain_lab", "-1", 48, true}, {"synth_max_carry_chain_length", "-2", 720, false},
      {"synth_seed", "-7", 0, true},                     {"parallel_pipe_timeout_s", "-3", 600, true},
      {"blif_max_flat_gates", "0", 20000000, false},     {"not_a_listed_key", "-9", 5, true},
  };
  for (const ROW& row : rows) {
    SCOPED_TRACE(std::string(row.key) + "=" + row.value);
    kavu_platform::CFG_SCOPE cfg{{row.key, row.value}};
    cfg_reload();  // forget earlier warnings
    ::testing::internal::CaptureStderr();
    const int value = cfg_get_int_value(row.key, row.dflt);
    const std::string err = ::testing::internal::GetCapturedStderr();
    if (row.taken) {
      EXPECT_EQ(value, int(std::strtoll(row.value, nullptr, 0)));
      EXPECT_EQ(err, "");
      continue;
    }
    EXPECT_EQ(value, row.dflt);
    std::string key = row.key;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    int lo = 0, hi = 0;
    ASSERT_TRUE(kavu_platform::cfg_int_key_range(key, &lo, &hi));
    EXPECT_NE(err.find("key \"" + std::string(row.key) + "\" has value \"" + row.value + "\", which is not an integer from " +
                       std::to_string(lo) + " to " + std::to_string(hi) + "; the default is used"),
              std::string::npos)
        << err;
  }
  // A caller's own range is narrowed to the key's: never wider.
  kavu_platform::CFG_SCOPE cfg{{"ssc_table_mux_delay", "200000"}, {"ssc_default_period", "0"}};
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(kavu_platform::cfg_get_int_value_in_range("ssc_table_mux_delay", 200, 0, 1000000), 200);
  EXPECT_EQ(kavu_platform::cfg_get_int_value_in_range("ssc_default_period", 1000, 0, 10), 1000);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("\"200000\", which is not an integer from 0 to 100000;"), std::string::npos) << err;
  EXPECT_NE(err.find("\"0\", which is not an integer from 1 to 10;"), std::string::npos) << err;
}

// Only a regular file is read as the ini file: a FIFO once waited for a
// writer, /dev/zero was read without end, and a directory passed for an
// empty file. Each is now ignored with a warning naming the reason, and the
// other sources still count.
TEST(CfgSources, IniFileThatIsNoRegularFileIsRefused) {
  std::filesystem::create_directory("dir.ini");
  ASSERT_EQ(::mkfifo("fifo.ini", 0600), 0);
  for (const char* path : {"fifo.ini", "/dev/zero", "dir.ini"}) {
    ::testing::internal::CaptureStderr();
    std::future<int> value = std::async(std::launch::async, [path] {
      ENV_SCOPE env("from_env=4", path);
      return cfg_get_int_value("from_env", 0);
    });
    if (value.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      ADD_FAILURE() << "the configuration waited for a writer of " << path;
      const int fd = ::open(path, O_WRONLY | O_NONBLOCK);  // its end lets the reader go on
      if (fd >= 0) ::close(fd);
    }
    EXPECT_EQ(value.get(), 4) << path;
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(std::string("KAVU_INI_FILE \"") + path + "\" cannot be read (not a regular file)"),
              std::string::npos)
        << err;
  }
  std::filesystem::remove("fifo.ini");
}

TEST(CfgValues, BooleansAcceptTheFourSpellingsAndWarnOncePerKeyOtherwise) {
  for (auto [text, on] : {std::pair{"on", true}, {"TRUE", true}, {"Yes", true}, {"1", true}, {" on ", true},
                          {"off", false}, {"False", false}, {"NO", false}, {"0", false}}) {
    kavu_platform::CFG_SCOPE cfg{{"flag", text}};
    EXPECT_EQ(cfg_is_on("flag", !on), on) << text;
  }
  kavu_platform::CFG_SCOPE cfg{{"flag", "maybe"}, {"empty", ""}, {"user_ini_switch_3", "on"}};
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(cfg_is_on("flag", true));
  EXPECT_FALSE(cfg_is_on("FLAG", false));
  EXPECT_FALSE(cfg_is_on("empty", false));  // an empty value is unset: no warning
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("\"maybe\""), std::string::npos) << err;
  EXPECT_EQ(err.find("maybe", err.find("maybe") + 5), std::string::npos) << "warned twice: " << err;
  EXPECT_TRUE(cfg_user_ini_is_on(3) && !cfg_user_ini_is_on(4));
}

TEST(CfgValues, IntegersAreDecimalOrHexadecimalAndMalformedOnesGiveTheDefault) {
  const std::pair<const char*, int> cases[] = {
      {"42", 42},      {" -7 ", -7},    {"+5", 5},           {"0x1F", 31},          {"0X7ffffeff", 0x7ffffeff},
      {"0xFFFFFFFF", -1}, {"2147483647", 2147483647}, {"12abc", -100}, {"0x", -100}, {"0x1FFFFFFFF", -100},
      {"99999999999", -100}, {"- 3", -100}, {"abc", -100}};
  ::testing::internal::CaptureStderr();
  for (auto [text, expected] : cases) {
    kavu_platform::CFG_SCOPE cfg{{"number", text}};
    cfg_reload();  // forget earlier warnings so each malformed value warns
    EXPECT_EQ(cfg_get_int_value("number", -100), expected) << text;
  }
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(err.find("\"12abc\"") != std::string::npos && err.find("\"42\"") == std::string::npos) << err;
}

TEST(CfgValues, ReturnedTextStaysValidWhileOtherKeysChangeAcrossThreads) {
  cfg_set_value("stable", "first value");
  const char* p = cfg_get_value("stable");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      const std::string key = "key_" + std::to_string(t);
      for (int i = 0; i < 500; ++i) {
        cfg_set_value(key.c_str(), std::to_string(i).c_str());
        EXPECT_EQ(cfg_get_int_value(key.c_str(), -1), i);
      }
    });
  for (std::thread& th : threads) th.join();
  for (int i = 0; i < 200; ++i) cfg_set_value(("other_" + std::to_string(i)).c_str(), "x");
  cfg_reload();
  EXPECT_EQ(std::string(p) + "|" + cfg_get_value("STABLE"), "first value|first value");
}

// Runs only in the CTest registration that sets KAVU_INI_SET before the
// process starts: the variable is read on the first configuration call,
// without any reload.
TEST(CfgLoadTime, EnvironmentIsReadOnTheFirstCall) {
  const char* set = std::getenv("KAVU_INI_SET");
  if (!set || std::string(set).find("cfg_load_probe") == std::string::npos)
    GTEST_SKIP() << "needs KAVU_INI_SET=cfg_load_probe=from_env at process start";
  EXPECT_STREQ(cfg_get_value("cfg_load_probe"), "from_env");
}

}  // namespace
