// Everything of the libraries that is guarded (a function-local static, a
// template's inline variable) is made as the libraries load: a process that
// forks while another thread is making one leaves its child waiting for it
// for ever, in its first flow or inside fork() itself.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

// The probe, in a process of its own that has only loaded the libraries,
// lists each guard not set (or says it could not look), and exits 0 only
// when there is none; the helper program may define no guarded static.
TEST(KavuLoadTime, EveryGuardedStaticOfTheLibrariesIsMadeAsTheyLoad) {
  const std::string command = std::string("'") + KAVU_LOAD_TIME_PROBE + "' '" + KAVU_HELPER_PROGRAM + "' 2>&1";
  FILE* out = popen(command.c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string text;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, out)) > 0) text.append(buffer, n);
  const int status = pclose(out);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "made at first use, not at load (or not readable):\n" << text;
  EXPECT_EQ(text, "");
}

}  // namespace
