// cmp_subthread_args.cpp — the arguments a helper process needs to see the
// same project database, pipe directory and configuration as its parent.
#include <cstdlib>

#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "cmp/ztk_rr_state.h"
#include "gen/gen.h"
#include "thr/thr_ipc.h"

const std::vector<std::string>* zexe_get_args_required_by_subthread() {
  thread_local std::vector<std::string> args;
  args.clear();
  args.push_back("--db_dir=" + gen_get_db_dir_path());
  args.push_back("--pipe_dir=" + thr_get_pipe_dir());
  if (const char* file = std::getenv("KAVU_INI_FILE"); file && *file) args.push_back(std::string("--ini_file=") + file);
  for (const auto& [key, value] : kavu_platform::cfg_code_values()) args.push_back("--ini_set=" + key + "=" + value);
  args.push_back("--naming_mode=1");
  const bool fib_db = ZTK_RR_STATE_MANAGER::is_rapid_recompile_supported() && cfg_is_on("llis_always_write_db", true);
  args.push_back(std::string("--fib_db=") + (fib_db ? "1" : "0"));
  return &args;
}
