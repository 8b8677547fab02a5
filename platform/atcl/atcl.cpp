// atcl.cpp — the process's Tcl interpreter and its command registrars.
#include "atcl/atcl.h"

#include <tcl.h>

#include <algorithm>
#include <vector>

#include "msg/msg.h"

namespace {

Tcl_Interp* g_interp = nullptr;

std::vector<kavu_platform::ATCL_COMMAND_REGISTRAR>& registrars() {
  static std::vector<kavu_platform::ATCL_COMMAND_REGISTRAR> list;
  return list;
}

}  // namespace

Tcl_Interp* atcl_get_interpreter() {
  if (g_interp) return g_interp;
  static bool found_executable = false;
  if (!found_executable) {
    Tcl_FindExecutable(nullptr);
    found_executable = true;
  }
  g_interp = Tcl_CreateInterp();
  // Without an installed script library Tcl_Init fails; plain commands and
  // "source" still work, so the failure is not an error here.
  (void)Tcl_Init(g_interp);
  Tcl_ResetResult(g_interp);
  Tcl_PkgProvide(g_interp, "flow", "1.0");
  for (kavu_platform::ATCL_COMMAND_REGISTRAR fn : registrars()) fn(g_interp);
  return g_interp;
}

int atcl_package_require(Tcl_Interp* interp, const char* name, const char* version, bool exact,
                         bool quiet) {
  PLAT_CHECK(interp != nullptr && name != nullptr, "PLATFORM");
  const char* got = Tcl_PkgRequire(interp, name, version, exact ? 1 : 0);
  if (!got) {
    if (quiet) Tcl_ResetResult(interp);
    return 1;
  }
  return 0;
}

void atcl_flush_queue(bool, bool) { kavu_platform::msg_flush_pending(); }

namespace kavu_platform {

void atcl_add_command_registrar(ATCL_COMMAND_REGISTRAR fn) {
  PLAT_CHECK(fn != nullptr, "PLATFORM");
  auto& list = registrars();
  if (std::find(list.begin(), list.end(), fn) != list.end()) return;
  list.push_back(fn);
  if (g_interp) fn(g_interp);
}

bool atcl_eval(const std::string& script, std::string* result) {
  Tcl_Interp* interp = atcl_get_interpreter();
  int rc = Tcl_EvalEx(interp, script.c_str(), static_cast<int>(script.size()), TCL_EVAL_GLOBAL);
  if (result) *result = Tcl_GetStringResult(interp);
  return rc == TCL_OK;
}

bool atcl_eval_words(const std::vector<std::string>& words, std::string* result) {
  Tcl_Interp* interp = atcl_get_interpreter();
  std::vector<Tcl_Obj*> objv;
  objv.reserve(words.size());
  for (const std::string& w : words) {
    objv.push_back(Tcl_NewStringObj(w.c_str(), static_cast<int>(w.size())));
    Tcl_IncrRefCount(objv.back());
  }
  const int rc = Tcl_EvalObjv(interp, static_cast<int>(objv.size()), objv.data(), TCL_EVAL_GLOBAL);
  for (Tcl_Obj* o : objv) Tcl_DecrRefCount(o);
  if (result) *result = Tcl_GetStringResult(interp);
  return rc == TCL_OK;
}

void atcl_test_reset() {
  if (!g_interp) return;
  Tcl_DeleteInterp(g_interp);
  g_interp = nullptr;
}

}  // namespace kavu_platform
