// kavu_load_time_probe — lists the guarded statics of the libraries that
// are not made by the time the libraries have loaded.
//
// A function-local static (or an inline variable of a template) is guarded:
// its first user sets the guard's first byte once it has made the object,
// and every other user waits while it is being made. A process that forks
// while another thread is making one leaves its child a guard "being built"
// for ever. The libraries make everything a flow or a fork handler reaches
// as they load, so in a process that has done nothing but load them, every
// guard is set. This program loads the libraries, runs nothing of them,
// reads the guards' symbols from each object's ELF symbol table and prints
// each guard that is not set and not on the allow-list below, one a line.
// It exits 0 when there is none, 1 when there is one, 2 when it cannot
// read a symbol table (which must never pass for "none").
//
// Extra arguments name programs built from the libraries (the helper):
// they may define no guarded static at all, since nothing here can load
// them to look.
#include <cxxabi.h>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct ALLOWED {
  const char* name;  // as demangled
  const char* reason;
};

// Guards that may stay unset after load, each with the reason no flow and
// no forked child's handler waits on it.
#define KAVU_ANY_MATCHER(flags)                                                                    \
  "guard variable for std::__detail::_AnyMatcher<std::__cxx11::regex_traits<char>, false, " flags \
  ">::operator()(char) const::__nul"
constexpr const char* REGEX_NEVER_MATCHES =
    "the standard regular-expression engine's matcher of '.' in the POSIX grammars; the libraries "
    "give that engine only ECMAScript patterns, and only to judge their syntax: it never matches";
constexpr ALLOWED ALLOW_LIST[] = {
    {"guard variable for boost::system::detail::to_std_category(boost::system::error_category const&)::map_",
     "boost.system's table of standard counterparts of categories other than its generic and system "
     "ones (both made at load); the libraries define no other category"},
    {KAVU_ANY_MATCHER("false, false"), REGEX_NEVER_MATCHES},
    {KAVU_ANY_MATCHER("false, true"), REGEX_NEVER_MATCHES},
    {KAVU_ANY_MATCHER("true, false"), REGEX_NEVER_MATCHES},
    {KAVU_ANY_MATCHER("true, true"), REGEX_NEVER_MATCHES},
};

const char* allowed_reason(const std::string& name) {
  for (const ALLOWED& a : ALLOW_LIST)
    if (name == a.name) return a.reason;
  return nullptr;
}

std::string demangle(const char* mangled) {
  int status = 0;
  char* text = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string out = status == 0 && text ? text : mangled;
  std::free(text);
  return out;
}

struct GUARD {
  std::string mangled;
  unsigned char bind = 0;
  ElfW(Addr) value = 0;
};

// Every guard an ELF file defines, thread-local ones left out: each thread
// makes its own, so none is shared across a fork. False when the file has
// no readable symbol table.
bool read_guards(const char* path, std::vector<GUARD>& out) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(ElfW(Ehdr)))) {
    close(fd);
    return false;
  }
  void* map = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (map == MAP_FAILED) return false;
  const auto* base = static_cast<const unsigned char*>(map);
  const auto* eh = reinterpret_cast<const ElfW(Ehdr)*>(base);
  bool found = false;
  if (std::memcmp(eh->e_ident, ELFMAG, SELFMAG) == 0 && eh->e_shoff != 0) {
    const auto* sh = reinterpret_cast<const ElfW(Shdr)*>(base + eh->e_shoff);
    for (unsigned i = 0; i < eh->e_shnum; ++i) {
      if (sh[i].sh_type != SHT_SYMTAB) continue;
      found = true;
      const auto* syms = reinterpret_cast<const ElfW(Sym)*>(base + sh[i].sh_offset);
      const char* names = reinterpret_cast<const char*>(base + sh[sh[i].sh_link].sh_offset);
      size_t count = sh[i].sh_size / sizeof(ElfW(Sym));
      for (size_t s = 0; s < count; ++s) {
        const ElfW(Sym)& sym = syms[s];
        if (sym.st_shndx == SHN_UNDEF || ELF64_ST_TYPE(sym.st_info) != STT_OBJECT) continue;
        const char* name = names + sym.st_name;
        if (std::strncmp(name, "_ZGV", 4) != 0) continue;
        out.push_back({name, static_cast<unsigned char>(ELF64_ST_BIND(sym.st_info)), sym.st_value});
      }
    }
  }
  munmap(map, static_cast<size_t>(st.st_size));
  return found;
}

struct OBJECT {
  const char* suffix;  // how the object's path ends; "" is the program itself
  bool seen = false;
  bool readable = false;
};

OBJECT g_objects[] = {{"/libsynth_kavu.so"}, {"/libkavu_platform.so"}, {""}};
int g_unset = 0;

void check_object(OBJECT& object, const char* path, ElfW(Addr) load_base) {
  object.seen = true;
  std::vector<GUARD> guards;
  object.readable = read_guards(path, guards);
  for (const GUARD& g : guards) {
    // A guard shared between objects (a template's or an inline variable's)
    // is the one the dynamic linker chose; the others are never used.
    const unsigned char* guard = nullptr;
    if (g.bind == STB_LOCAL)
      guard = reinterpret_cast<const unsigned char*>(load_base + g.value);
    else
      guard = static_cast<const unsigned char*>(dlsym(RTLD_DEFAULT, g.mangled.c_str()));
    if (!guard) guard = reinterpret_cast<const unsigned char*>(load_base + g.value);
    if (*guard != 0) continue;
    std::string name = demangle(g.mangled.c_str());
    if (allowed_reason(name)) continue;
    std::printf("%s: %s\n", path, name.c_str());
    ++g_unset;
  }
}

int visit(struct dl_phdr_info* info, size_t, void*) {
  const char* name = info->dlpi_name;
  bool program = name == nullptr || name[0] == '\0';
  for (OBJECT& object : g_objects) {
    if (object.seen) continue;
    if (program != (object.suffix[0] == '\0')) continue;
    if (program) {
      check_object(object, "/proc/self/exe", info->dlpi_addr);
      return 0;
    }
    size_t len = std::strlen(name), slen = std::strlen(object.suffix);
    if (len >= slen && std::strcmp(name + len - slen, object.suffix) == 0) {
      check_object(object, name, info->dlpi_addr);
      return 0;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  dl_iterate_phdr(visit, nullptr);
  int rc = g_unset == 0 ? 0 : 1;
  for (const OBJECT& object : g_objects) {
    if (!object.seen || !object.readable) {
      std::printf("cannot read the symbol table of %s\n", object.suffix[0] ? object.suffix : "the probe");
      rc = 2;
    }
  }
  for (int i = 1; i < argc; ++i) {
    std::vector<GUARD> guards;
    if (!read_guards(argv[i], guards)) {
      std::printf("cannot read the symbol table of %s\n", argv[i]);
      rc = 2;
      continue;
    }
    for (const GUARD& g : guards) {
      std::string name = demangle(g.mangled.c_str());
      if (allowed_reason(name)) continue;
      std::printf("%s: %s (the program defines a guarded static)\n", argv[i], name.c_str());
      if (rc == 0) rc = 1;
    }
  }
  return rc;
}
