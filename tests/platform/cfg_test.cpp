// cfg_test.cpp — configuration sources, their precedence and value parsing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "cfg/cfg.h"
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
             "kavu_wt_sr = 5\n");  // the last line for a key wins
  ENV_SCOPE env("kavu_confidence=80; only_env = yes", "kavu.ini");
  EXPECT_EQ(cfg_get_int_value("kavu_confidence", 90), 80);  // environment over file
  EXPECT_EQ(cfg_get_int_value("KAVU_WT_SR", 0), 5);         // file; keys ignore case
  EXPECT_TRUE(cfg_is_on("kavu_cut_debug", false) && cfg_is_on("only_env", false));
  EXPECT_EQ(cfg_get_int_value("kavu_min_netlist_size", 20000), 20000);  // default
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
    ENV_SCOPE env("a=1;;justtext;b = 2", "bad.ini");
    EXPECT_EQ(cfg_get_int_value("a", 0) + cfg_get_int_value("b", 0) + cfg_get_int_value("good_key", 0), 4);
    EXPECT_EQ(cfg_get_int_value("nul_key", -1), -1);
  }
  { ENV_SCOPE env(nullptr, "no_such_file.ini"); }
  std::string err = ::testing::internal::GetCapturedStderr();
  for (const std::string& warned : {std::string("justtext"), std::string("line 2 of"), std::string("line 3 of"),
                                    std::string("line 4 of \"bad.ini\" holds a NUL byte"),
                                    "cannot be read (cannot read the file: " + std::string(std::strerror(ENOENT)) + ")"})
    EXPECT_NE(err.find(warned), std::string::npos) << warned << " in " << err;
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
