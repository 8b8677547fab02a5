// testkit_main.cpp — main() of every test executable.
//
// Installs the throwing internal-error hook, then runs the tests with a
// listener that, before each test, resets the layer, switches message
// printing off and enters a fresh scratch directory; after each test it
// returns to the starting directory and removes the scratch directory.
// Scratch directories live under one private directory per process
// (mkdtemp under TMPDIR), removed at exit. A death-test child makes none.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "testkit/platform_testkit.h"

namespace {

namespace fs = std::filesystem;

void throwing_hook(const char* text, const char* component, const char* file, int line) {
  throw kavu_platform::test_internal_error(text, component, file, line);
}

class SCRATCH_LISTENER : public ::testing::EmptyTestEventListener {
 public:
  explicit SCRATCH_LISTENER(bool make_dirs) : m_make_dirs(make_dirs) {}
  ~SCRATCH_LISTENER() override { remove_base(); }

  void OnTestStart(const ::testing::TestInfo&) override {
    kavu_platform::plat_test_reset_all();
    kavu_platform::cfg_set_value("msg_print", "off");
    if (!m_make_dirs || !ensure_base()) return;
    m_test_dir = m_base + "/" + std::to_string(++m_count);
    std::error_code ec;
    fs::create_directory(m_test_dir, ec);
    if (ec || chdir(m_test_dir.c_str()) != 0) m_test_dir.clear();
  }

  void OnTestEnd(const ::testing::TestInfo&) override {
    if (m_test_dir.empty()) return;
    if (chdir(m_start_dir.c_str()) != 0) return;
    std::error_code ec;
    fs::remove_all(m_test_dir, ec);
    m_test_dir.clear();
  }

 private:
  bool ensure_base() {
    if (!m_base.empty()) return true;
    std::error_code ec;
    m_start_dir = fs::current_path(ec).string();
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kavu_tests_XXXXXX";
    if (ec || !mkdtemp(pattern.data())) return false;
    m_base = pattern;
    m_base_maker = getpid();
    return true;
  }

  // Only by the process that made it: a test's child forked without exec
  // that ends with exit() runs this too, while its parent still works there.
  void remove_base() {
    if (m_base.empty() || m_base_maker != getpid()) return;
    if (!m_start_dir.empty() && chdir(m_start_dir.c_str()) != 0) return;
    std::error_code ec;
    fs::remove_all(m_base, ec);
  }

  bool m_make_dirs;
  pid_t m_base_maker = 0;
  std::string m_base;
  std::string m_start_dir;
  std::string m_test_dir;
  int m_count = 0;
};

}  // namespace

int main(int argc, char** argv) {
  bool death_test_child = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strstr(argv[i], "internal_run_death_test")) death_test_child = true;
  }
  ::testing::InitGoogleTest(&argc, argv);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  kavu_platform::msg_set_internal_error_hook(&throwing_hook);
  kavu_platform::cfg_set_value("msg_print", "off");
  ::testing::UnitTest::GetInstance()->listeners().Append(new SCRATCH_LISTENER(!death_test_child));
  return RUN_ALL_TESTS();
}
