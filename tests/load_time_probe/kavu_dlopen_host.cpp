// kavu_dlopen_host — loads a plug-in built on the libraries with dlopen,
// from the main thread or from another thread, and calls it.
//
//   kavu_dlopen_host PLUGIN.so DESIGN.blif main|thread
//
// Prints "gates N" and exits 0 when the plug-in loaded and read the design;
// prints the loader's error and exits 1 when it could not be loaded (a
// library marked STATIC_TLS whose thread-local block does not fit the room
// kept for modules loaded later: "cannot allocate memory in static TLS
// block"). The host links none of the libraries itself.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <thread>

// Sanitizer builds: Tcl keeps the per-thread data of the thread that set it
// up (here the loading thread, as the plug-in loads) until
// Tcl_FinalizeThread, which nothing calls for a thread that ends; that is
// Tcl's, not a leak of the libraries.
extern "C" const char* __lsan_default_suppressions() { return "leak:libtcl8.6.so\n"; }

namespace {

int load_and_call(const char* plugin, const char* design) {
  void* handle = dlopen(plugin, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::printf("dlopen failed: %s\n", dlerror());
    return 1;
  }
  using READ = int (*)(const char*);
  auto read = reinterpret_cast<READ>(dlsym(handle, "kavu_plugin_read_blif"));
  if (!read) {
    std::printf("no entry point: %s\n", dlerror());
    return 1;
  }
  const int gates = read(design);
  std::printf("gates %d\n", gates);
  return gates > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[3], "main") != 0 && std::strcmp(argv[3], "thread") != 0)) {
    std::fprintf(stderr, "usage: %s PLUGIN.so DESIGN.blif main|thread\n", argv[0]);
    return 2;
  }
  if (std::strcmp(argv[3], "main") == 0) return load_and_call(argv[1], argv[2]);
  int rc = 2;
  std::thread loader([&] { rc = load_and_call(argv[1], argv[2]); });
  loader.join();
  return rc;
}
