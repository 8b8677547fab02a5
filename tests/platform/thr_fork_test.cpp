// A process that forks while its other threads use the layer: the child
// gets every lock of the layer free, with the data behind it whole.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "cfg/cfg.h"
#include "gen/gen.h"
#include "msg/msg.h"
#include "platform_testkit.h"
#include "thr/thr_ipc.h"
#include "../signal_test_support.h"

using namespace kavu_platform;

// Threads of the parent post messages, read configuration, make and free
// gates, write debug traces, time profiler scopes and hold the pipe
// directory without pause while the parent forks: every child does each of
// these itself at once. A child forked while one of those threads held the
// lock behind it waited for ever.
TEST(ThrFork, AChildForkedWhileThreadsUseTheLayerGetsItsLocksFree) {
  CFG_SCOPE cfg{{"gen_profile", "on"}, {"debug_msg_fork_row", "on"}, {"debug_msg_file", "trace.txt"}};
  auto use_the_layer = [] {
    msg_post_message(MSG_POST_TYPE_INFO, "busy");
    (void)cfg_is_on("fork_row_key", false);
    {
      CDB_SGATE_NETLIST nl;
      CDB_SGATE_NODE* a = make_input_pin(&nl, "");  // unnamed: the name store is single-threaded
      make_and(&nl, a, a);
    }
    msg_local_debug("FORK_ROW", 1, "busy");
    { GEN_PROFILER scope("KAVU", "fork row", 0); }
    (void)gen_get_db_dir_path();
    THR_PIPE_DIR_HOLD hold;
    (void)thr_get_pipe_dir();
  };
  std::atomic<bool> stop{false};
  std::vector<std::thread> busy;
  for (int t = 0; t < 3; ++t)
    busy.emplace_back([&] {
      for (int n = 0; !stop; ++n) {
        use_the_layer();
        if (n % 256 == 0) msg_log_clear();
      }
    });
  std::string why;
  for (int k = 0; k < 100 && why.empty(); ++k) {
    why = in_child([&] { return use_the_layer(), std::string(); }, 10);
    if (!why.empty()) why = "child " + std::to_string(k) + ": " + why;
  }
  stop = true;
  for (std::thread& t : busy) t.join();
  gen_test_reset();  // no profile table at exit
  EXPECT_EQ(why, "");
}
