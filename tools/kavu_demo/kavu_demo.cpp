// kavu_demo.cpp — runs the library on a design: loads a BLIF file, moves
// every clock enable of its registers into logic (kavu_unmap_all_enables),
// writes the result where the user says, reads that file back and proves it
// equivalent to the design as loaded, by simulation and, when installed, by
// berkeley-abc. Prints what it did: registers, enables and gates before and
// after, where the file went and each verdict with the check that gave it,
// after the reader's warnings on the design.
//
// Usage: kavu_demo [--comb] [--lut-size N] [--full-registers] [IN.blif] -o OUT.blif
//        kavu_demo [options] IN.blif OUT.blif
//        kavu_demo --help     (or -h: the usage text on standard output, status 0)
//   IN defaults to a sequential design with enables committed with the
//   sources. The output is always named by the user: the demo never picks a
//   place to write.
// N is digits alone, 1 to 6. Exit status: 0 when everything loaded, wrote
// and compared equal (or the usage text was asked for); 1 on a
// failure (a write past a file-size limit too: it fails with "File too
// large" and leaves nothing beside the target; memory refused anywhere too,
// after the reason: "not enough memory"); 2 on a usage error, after a
// line naming the argument refused.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_dff_helper.h"
#include "kavu_dff_helper_sync.h"
#include "kavu_helper_predicates.h"
#include "msg/msg.h"
#include "netlist_io/abc_oracle.h"
#include "netlist_io/blif.h"
#include "netlist_io/simulator.h"

using namespace kavu_platform;

namespace {

const char* const k_default_design = KAVU_TEST_DATA_DIR "/blif/seq/ch_intrinsics.blif";

// The usage text, on standard error after a refused argument, on standard
// output when asked for (--help, -h).
void usage(FILE* to) {
  std::fprintf(to,
               "usage: kavu_demo [--comb] [--lut-size N] [--full-registers] [IN.blif] -o OUT.blif\n"
               "       kavu_demo [options] IN.blif OUT.blif\n"
               "       kavu_demo --help\n"
               "  loads IN (default %s), unmaps every clock enable, writes OUT and proves it\n"
               "  equivalent to IN\n",
               k_default_design);
}

// A path as the demo prints it: control bytes escaped, as the library's
// messages quote paths.
std::string shown(const std::string& path) { return msg_printable_text(path, MSG_MAX_PATH_BYTES); }

struct ARGS {
  BLIF_READ_OPTIONS read;
  BLIF_WRITE_OPTIONS write;
  std::string in = k_default_design;
  std::string out;
  bool help = false;  // --help or -h: the usage text, nothing else
};

// An argument as a message quotes it: escaped and between quotes.
std::string in_quotes(const std::string& arg) { return "'" + msg_printable_text(arg, MSG_MAX_PATH_BYTES) + "'"; }

// The LUT size `text` gives: digits alone ("3", not " 3", "+3" or "3 ")
// from 1 to 6; 0 when it gives none.
unsigned lut_size_of(const std::string& text) {
  if (text.find_first_not_of("0123456789") != std::string::npos) return 0;
  unsigned v = 0;  // a number past the type's range is an error, not an exception
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
  return error == std::errc() && end == text.data() + text.size() && v >= 1 && v <= 6 ? v : 0;
}

// The arguments into *a; false with *refused naming the argument or value
// refused. --help or -h sets a->help and ends the parse.
bool parse_args(int argc, char** argv, ARGS* a, std::string* refused) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string s = argv[i];
    if (s == "--help" || s == "-h") {
      a->help = true;
      return true;
    } else if (s == "--comb") {
      a->read.names = BLIF_READ_OPTIONS::ALL_COMB;
    } else if (s == "--full-registers") {
      a->write.full_registers = true;
    } else if (s == "--lut-size") {
      if (i + 1 == argc) return *refused = "--lut-size needs a number from 1 to 6", false;
      const std::string value = argv[++i];
      a->read.lut_size = lut_size_of(value);
      if (a->read.lut_size == 0) return *refused = "--lut-size takes a number from 1 to 6, not " + in_quotes(value), false;
    } else if (s == "-o") {
      if (i + 1 == argc) return *refused = "-o needs the output file", false;
      if (!a->out.empty()) return *refused = "-o names the output file once", false;
      a->out = argv[++i];
    } else if (s.empty()) {
      return *refused = "an empty argument names no file", false;
    } else if (s[0] == '-') {
      return *refused = "unknown option " + in_quotes(s), false;
    } else {
      files.push_back(s);
    }
  }
  // One file without -o is the input: the output must be named.
  if (a->out.empty() && files.size() == 2) {
    a->out = files.back();
    files.pop_back();
  }
  if (files.size() > 1) return *refused = "one input file at most: " + in_quotes(files[1]) + " is one too many", false;
  if (a->out.empty()) return *refused = "no output file: name it with -o OUT.blif", false;
  if (!files.empty()) a->in = files[0];
  return true;
}

struct LOADED {
  BLIF_RESULT r;
  ~LOADED() {
    delete r.netlist;
    delete r.hierarchy;
  }
};

struct COUNTS {
  size_t gates = 0, registers = 0, enables = 0;
  std::map<std::string, size_t> kinds;
};

COUNTS count(const CDB_SGATE_NETLIST* n) {
  COUNTS c;
  for (auto it = n->begin_node_list(); it != n->end_node_list(); ++it) {
    const CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    ++c.gates;
    std::string kind = g->get_string_type_name();
    if (const CDB_SGATE_COMB* comb = g->cast_to_comb()) {
      static const char* const names[] = {"AND", "OR", "XOR", "NOT", "NAME_KEEPER"};
      kind += std::string(" ") + names[comb->get_comb_type()];
    }
    ++c.kinds[kind];
    if (!kavu_is_a_dff(g, true)) continue;
    ++c.registers;
    const CDB_SGATE_ITERM* ena = kavu_get_dff_enable(g);
    if (ena && cdb_is_connected(ena) && ena->get_source()) ++c.enables;
  }
  return c;
}

void print_counts(const COUNTS& before, const COUNTS& after) {
  std::printf("%-24s %10s %10s\n", "", "before", "after");
  std::printf("%-24s %10zu %10zu\n", "registers", before.registers, after.registers);
  std::printf("%-24s %10zu %10zu\n", "registers with enable", before.enables, after.enables);
  std::printf("%-24s %10zu %10zu\n", "gates", before.gates, after.gates);
  std::map<std::string, std::pair<size_t, size_t>> kinds;
  for (const auto& [kind, n] : before.kinds) kinds[kind].first = n;
  for (const auto& [kind, n] : after.kinds) kinds[kind].second = n;
  for (const auto& [kind, n] : kinds) std::printf("  %-22s %10zu %10zu\n", kind.c_str(), n.first, n.second);
}

// Text another program printed (abc's output, led by how abc ended), on
// standard error line by line, each line escaped as the library's messages
// quote such text: no terminal escape of it reaches the user.
void print_escaped_lines(const std::string& text) {
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = std::min(text.find('\n', start), text.size());
    std::fprintf(stderr, "%s\n", msg_printable_text(std::string_view(text).substr(start, end - start), 1024).c_str());
    start = end + 1;
  }
}

double ms_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// The demonstration; main() adds the answer to memory refused in the
// demo's own work.
int run(int argc, char** argv) {
  ARGS args;
  std::string refused;
  if (!parse_args(argc, argv, &args, &refused)) {
    std::fprintf(stderr, "kavu_demo: %s\n", refused.c_str());
    usage(stderr);
    return 2;
  }
  if (args.help) {
    usage(stdout);
    return 0;
  }
  // Past a file-size limit a write fails with the system's reason and leaves
  // nothing beside its target; the signal would end the demo without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  // The design twice: one copy to edit, one to compare against.
  LOADED golden{blif_read_file(args.in, args.read)};
  // What the reader changed while loading (an undriven net tied to 0) is the
  // user's to know before any verdict on the design.
  for (const std::string& warning : golden.r.warnings) std::fprintf(stderr, "kavu_demo: warning: %s\n", warning.c_str());
  if (!golden.r.netlist) {
    std::fprintf(stderr, "kavu_demo: %s\n", golden.r.error.c_str());
    return 1;
  }
  LOADED design{blif_read_file(args.in, args.read)};
  if (!design.r.netlist) {
    std::fprintf(stderr, "kavu_demo: %s\n", design.r.error.c_str());
    return 1;
  }
  std::printf("loaded %s\n", shown(args.in).c_str());
  const COUNTS before = count(design.r.netlist);

  auto t0 = std::chrono::steady_clock::now();
  // Refused memory, the pass says so (an error posted) and stops with each
  // register's enable moved or not: the design is not the one asked for.
  const int errors_before = msg_log_count(0);
  kavu_unmap_all_enables(design.r.netlist);
  if (msg_log_count(0) > errors_before) {
    std::fprintf(stderr, "kavu_demo: the enables are not all moved into logic; nothing is written\n");
    return 1;
  }
  std::printf("kavu_unmap_all_enables: %.1f ms\n", ms_since(t0));
  print_counts(before, count(design.r.netlist));
  std::string why;
  if (!design.r.netlist->check(&why)) {
    std::fprintf(stderr, "kavu_demo: the edited netlist fails its check: %s\n", why.c_str());
    return 1;
  }

  if (!blif_write_file(design.r.netlist, args.out, args.write, &why)) {
    std::fprintf(stderr, "kavu_demo: %s\n", why.c_str());
    return 1;
  }
  std::error_code ec;
  std::printf("wrote %s\n", shown(std::filesystem::absolute(args.out, ec).string()).c_str());
  LOADED written{blif_read_file(args.out, args.read)};
  if (!written.r.netlist) {
    std::fprintf(stderr, "kavu_demo: cannot read back: %s\n", written.r.error.c_str());
    return 1;
  }

  // The file as written against the design as loaded.
  SIM_COMPARE compare;
  if (!sim_equivalent(golden.r.netlist, written.r.netlist, compare, &why)) {
    std::fprintf(stderr, "kavu_demo: simulation cannot show the file equivalent: %s\n", why.c_str());
    return 1;
  }
  std::printf("simulation (%d words x %d cycles): equivalent\n", compare.words, compare.cycles);
  const char* command = before.registers ? "dsec" : "cec";
  t0 = std::chrono::steady_clock::now();
  ABC_RESULT abc = abc_equivalent(golden.r.netlist, written.r.netlist, &why);
  if (abc == UNAVAILABLE) {
    std::printf("berkeley-abc: not run (%s)\n", msg_printable_text(why, MSG_MAX_PATH_BYTES).c_str());
    return 0;
  }
  std::printf("berkeley-abc %s: %s (%.0f ms)\n", command, abc_result_name(abc), ms_since(t0));
  if (abc != EQUIVALENT) {
    print_escaped_lines(why);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The library's calls refuse memory with their own errors; what the demo
  // itself holds (its counts, its messages) is refused here, with status 1
  // and a word, not an end by a signal.
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("kavu_demo: not enough memory\n", stderr);
    return 1;
  }
}
