// Gates and terminals from the cell pool: gates moved between netlists and
// destroyed in either order, gates made on one thread and destroyed on
// another, and the dead-logic sweep (which marks over the node list
// backwards) against a plain fixed-point model on real circuits in every
// list order.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "cdb/cdb_sgate_pool.h"
#include "netlist_io/generators.h"
#include "testkit/platform_testkit.h"

namespace {

using namespace kavu_platform;

std::vector<CDB_SGATE_NODE*> gates_of(const CDB_SGATE_NETLIST& nl) {
  std::vector<CDB_SGATE_NODE*> v;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it)
    if (*it) v.push_back(*it);
  return v;
}

// Moves every other non-pin gate of `from` into `to`, with its connections.
void move_every_other_gate(CDB_SGATE_NETLIST& from, CDB_SGATE_NETLIST& to) {
  int k = 0;
  for (CDB_SGATE_NODE* g : gates_of(from)) {
    if (g->is_pin() || k++ % 2) continue;
    from.delete_node(g);
    to.add_node(g);
  }
}

TEST(CdbSgatePool, CellSizes) {
  const struct {
    size_t request, cell;
  } cases[] = {{1, 8}, {8, 8}, {9, 16}, {56, 56}, {88, 88}, {150, 152}, {512, 512}};
  for (const auto& c : cases) EXPECT_EQ(cdb_pool_cell_bytes(c.request), c.cell) << c.request;
  EXPECT_GT(cdb_pool_cell_bytes(513), 513u);  // the general allocator's block
  // Live cells of one size class never overlap, across slabs; each counts
  // in the thread's balance until released.
  const int64_t before = cdb_pool_thread_balance();
  std::vector<char*> cells;
  for (int i = 0; i < 20000; ++i) cells.push_back(static_cast<char*>(cdb_pool_allocate(37)));
  std::vector<char*> sorted = cells;
  std::sort(sorted.begin(), sorted.end());
  for (size_t i = 1; i < sorted.size(); ++i) EXPECT_GE(sorted[i] - sorted[i - 1], 40) << i;
  EXPECT_EQ(cdb_pool_thread_balance() - before, 20000);
  for (char* c : cells) cdb_pool_release(c, 37);
  EXPECT_EQ(cdb_pool_thread_balance(), before);
}

// Every connection of the netlist's gates is consistent: each driven input
// sits in its source's chain, its source's gate is linked in one of `linked`,
// and each chain's count matches its length.
void expect_connections_consistent(const CDB_SGATE_NETLIST& nl, std::initializer_list<const CDB_SGATE_NETLIST*> linked) {
  for (CDB_SGATE_NODE* g : gates_of(nl)) {
    for (CDB_SGATE_ITERM* t : g->get_input_terms()) {
      if (!t || !t->get_source()) continue;
      const CDB_SGATE_NETLIST* at = t->get_source()->get_my_node()->get_netlist();
      EXPECT_TRUE(std::find(linked.begin(), linked.end(), at) != linked.end()) << g->get_debug_name();
    }
    for (CDB_SGATE_OTERM* o : g->get_output_terms()) {
      if (!o) continue;
      unsigned n = 0;
      for (CDB_SGATE_ITERM* t : o->fanouts()) n += t->get_source() == o;
      EXPECT_EQ(n, o->get_number_of_fanout()) << g->get_debug_name();
    }
  }
}

// Circuits split across two netlists (half the gates moved, connections
// crossing), checked, and destroyed in either order, the moved gates'
// netlist first or last: every cell goes back to the pool.
TEST(CdbSgatePool, GatesMovedBetweenNetlistsAndDestroyedInEitherOrder) {
  const struct {
    const char* circuit;
    bool moved_first;
  } cases[] = {{"mcnc/s298", true}, {"mcnc/s298", false}, {"mcnc/alu4", true}, {"seq/diffeq1", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.circuit);
    const int64_t before = cdb_pool_thread_balance();
    {
      LOADED_NETLIST nl = load_blif(c.circuit);
      const uint32_t gates = nl->size();
      auto* other = new CDB_SGATE_NETLIST(true, 1, 0);
      move_every_other_gate(*nl, *other);
      EXPECT_EQ(nl->size() + other->size(), gates);
      EXPECT_GT(other->size(), 0u);
      expect_connections_consistent(*nl, {nl.get(), other});
      expect_connections_consistent(*other, {nl.get(), other});
      if (c.moved_first) {
        delete other;
        expect_connections_consistent(*nl, {nl.get()});  // the gates left behind lost those fan-outs cleanly
      } else {
        nl.reset();
        expect_connections_consistent(*other, {other});
        delete other;
      }
    }
    EXPECT_EQ(cdb_pool_thread_balance(), before);
  }
}

// A graveyard outlives the move of its gates: a swept gate re-added to
// another netlist leaves the graveyard; the rest go with their netlist.
TEST(CdbSgatePool, GraveyardGatesMovedOrDestroyedWithTheirNetlist) {
  const int64_t before = cdb_pool_thread_balance();
  auto* a = new CDB_SGATE_NETLIST;
  auto* b = new CDB_SGATE_NETLIST;
  CDB_SGATE_NODE* in = make_input_pin(a, "i");
  CDB_SGATE_NODE* dead1 = make_not(a, in);
  CDB_SGATE_NODE* dead2 = make_and(a, dead1, in);
  make_output_pin(a, "o", in);
  EXPECT_EQ(a->sweep(false), 2);
  EXPECT_EQ(a->get_graveyard_size(), 2u);
  EXPECT_TRUE(dead1->get_netlist() == nullptr && !dead1->has_fanout() && !dead2->has_fanin());
  b->add_node(dead2);  // leaves a's graveyard
  EXPECT_EQ(a->get_graveyard_size(), 1u);
  std::string why;
  EXPECT_TRUE(a->check(&why)) << why;
  delete a;  // destroys dead1 from the graveyard
  EXPECT_EQ(b->size(), 1u);
  delete b;
  EXPECT_EQ(cdb_pool_thread_balance(), before);
}

// Gates made on a worker thread, linked and destroyed on this one; cells
// freed here join this thread's lists, so the two balances cancel.
TEST(CdbSgatePool, GatesMadeOnAnotherThread) {
  const int64_t before = cdb_pool_thread_balance();
  CDB_SGATE_NETLIST* nl = nullptr;
  int64_t worker_balance = 0;
  std::thread worker([&] {
    const int64_t start = cdb_pool_thread_balance();
    nl = new CDB_SGATE_NETLIST;
    CDB_SGATE_NODE* prev = make_input_pin(nl, "i");
    for (int i = 0; i < 2000; ++i) prev = make_not(nl, prev);
    make_output_pin(nl, "o", prev);
    worker_balance = cdb_pool_thread_balance() - start;
  });
  worker.join();
  EXPECT_GT(worker_balance, 6000);
  std::string why;
  EXPECT_TRUE(nl->check(&why)) << why;
  delete nl;
  EXPECT_EQ(cdb_pool_thread_balance() - before, -worker_balance);
  // The ended thread's cells are served again here.
  CDB_SGATE_NETLIST again;
  for (int i = 0; i < 100; ++i) make_input_pin(&again, "p");
}

// Each thread reaches a cache of its own, however threads come and go:
// threads run one after another (each may take the last one's thread
// pointer and stack), many at once (more than share no slot of the lookup
// by thread pointer), and threads of a forked child. Every thread starts at
// balance 0, fills its cells with its own mark while the others do, finds
// every mark still its own, and gives everything back.
TEST(CdbSgatePool, EveryThreadReachesItsOwnCache) {
  // Threads that make and check their cells, at once; true when each found
  // only its own marks and a balance that started at 0 and ends at 0.
  const auto run_threads = [](int threads, int cells_each, bool one_after_another) {
    std::vector<char> ok(size_t(threads), 0);
    const auto work = [&](int t) {
      if (cdb_pool_thread_balance() != 0) return;
      std::vector<unsigned char*> cells;
      for (int i = 0; i < cells_each; ++i) {
        const size_t bytes = i % 3 == 0 ? 152 : 88;
        auto* p = static_cast<unsigned char*>(i % 3 == 0 ? cdb_pool_allocate_with_partner(bytes, 88)
                                                         : cdb_pool_allocate_partner(bytes));
        std::fill_n(p, bytes, static_cast<unsigned char>(t));
        cells.push_back(p);
      }
      std::this_thread::yield();
      bool mine = true;
      for (size_t i = 0; i < cells.size(); ++i) {
        const size_t bytes = i % 3 == 0 ? 152 : 88;
        mine = mine && std::all_of(cells[i], cells[i] + bytes, [&](unsigned char c) { return c == (unsigned char)t; });
      }
      for (size_t i = cells.size(); i-- > 0;) cdb_pool_release(cells[i], i % 3 == 0 ? 152 : 88);
      ok[size_t(t)] = mine && cdb_pool_thread_balance() == 0;
    };
    // A thread the system refuses (an address-space limit leaves room for
    // fewer stacks and malloc arenas) is left out of the count.
    std::vector<std::thread> running;
    int started = 0;
    for (int t = 0; t < threads; ++t) {
      try {
        running.emplace_back(work, t);
      } catch (const std::system_error&) {
        break;
      }
      ++started;
      if (one_after_another) running.back().join();
    }
    for (std::thread& th : running)
      if (th.joinable()) th.join();
    return started > 0 && std::count(ok.begin(), ok.end(), 1) == started;
  };
  const struct {
    const char* name;
    int threads, cells_each;
    bool one_after_another;
  } rows[] = {{"one after another", 40, 3000, true}, {"many at once", 96, 600, false}};
  for (const auto& row : rows) EXPECT_TRUE(run_threads(row.threads, row.cells_each, row.one_after_another)) << row.name;
  // A child forked while other threads use the pool: its own threads and its
  // forking thread each reach their own cache.
  std::atomic<bool> stop{false};
  std::thread busy([&] {
    while (!stop) cdb_pool_release(cdb_pool_allocate(88), 88);
  });
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(60);
    const bool ok = run_threads(16, 2000, false) && run_threads(8, 500, true);
    void* p = cdb_pool_allocate(88);
    cdb_pool_release(p, 88);
    _exit(ok ? 0 : 1);
  }
  stop = true;
  busy.join();
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Pairs, on a fresh thread (no free cells yet): a gate's first output
// terminal sits right below it, a gate made while a terminal cell waits
// takes a single cell, a terminal of another size never takes the waiting
// cell, and no two live cells overlap; on a generated circuit every gate
// with an output has its first terminal below it and walks see each edge once.
TEST(CdbSgatePool, GatesAndTheirFirstOutputTerminalsComeInPairs) {
  std::thread worker([] {
    const int64_t start = cdb_pool_thread_balance();
    struct CELL {
      char* p;
      size_t bytes;
    };
    std::vector<CELL> live;
    auto gate = [&] { return live.emplace_back(CELL{static_cast<char*>(cdb_pool_allocate_with_partner(152, 88)), 152}).p; };
    auto term = [&](size_t b) { return live.emplace_back(CELL{static_cast<char*>(cdb_pool_allocate_partner(b)), b}).p; };
    for (int i = 0; i < 1000; ++i) {  // enough pairs to cross slabs
      char* g = gate();
      EXPECT_EQ(term(88) + 88, g);
    }
    char* g1 = gate();
    char* g2 = gate();  // the terminal cell of g1 still waits
    char* other = term(56);
    EXPECT_EQ(term(88) + 88, g1);
    char* single = term(88);
    EXPECT_TRUE(single + 88 != g2 && other + 88 != g1);
    std::vector<CELL> sorted = live;
    std::sort(sorted.begin(), sorted.end(), [](const CELL& a, const CELL& b) { return a.p < b.p; });
    for (size_t i = 1; i < sorted.size(); ++i) EXPECT_GE(sorted[i].p, sorted[i - 1].p + sorted[i - 1].bytes) << i;
    EXPECT_EQ(cdb_pool_thread_balance() - start, int64_t(live.size()));
    for (const CELL& c : live) cdb_pool_release(c.p, c.bytes);
    EXPECT_EQ(cdb_pool_thread_balance(), start);
  });
  worker.join();
  std::thread builder([] {  // fresh again: the cells freed above would be reused first
    const int64_t start = cdb_pool_thread_balance();
    for (int round = 0; round < 2; ++round) {  // the second from the first's freed pairs
      std::unique_ptr<CDB_SGATE_NETLIST> dag(make_random_dag(3000, 5));
      uint64_t walked = 0, counted = 0;
      const CDB_SGATE_NODE* prev = nullptr;
      for (CDB_SGATE_NETLIST::iterator it = dag->begin_node_list(); it != dag->end_node_list(); ++it) {
        if (prev && (*it)->get_output_count()) {
          EXPECT_LT(prev, *it) << round;  // made in order, lying in order
        }
        prev = *it;
        const CDB_SGATE_OTERM* o = (*it)->get_output_term(0);
        if (!o) continue;
        EXPECT_EQ(reinterpret_cast<const char*>(o) + cdb_pool_cell_bytes(sizeof(CDB_SGATE_OTERM)),
                  reinterpret_cast<const char*>(*it)) << round << " " << (*it)->get_debug_name();
        // The terminal's chain fields (its last 36 bytes) and the gate's
        // first 24 share one cache line, so a fan-out walk reads one line.
        const uintptr_t gate = reinterpret_cast<uintptr_t>(*it);
        EXPECT_EQ((gate - 36) / 64, (gate + 23) / 64) << round << " " << (*it)->get_debug_name();
        for (CDB_SGATE_ITERM* t : o->fanouts()) walked += t->get_source() == o;
        counted += o->get_number_of_fanout();
      }
      EXPECT_EQ(walked, counted);
      EXPECT_GT(counted, 3000u);
    }
    EXPECT_EQ(cdb_pool_thread_balance(), start);
  });
  builder.join();
}

// The live set by a plain fixed point: keepers, then sources of live gates
// in this netlist until nothing changes.
std::set<CDB_SGATE_NODE*> live_by_fixed_point(const CDB_SGATE_NETLIST& nl) {
  std::set<CDB_SGATE_NODE*> live;
  for (CDB_SGATE_NODE* g : gates_of(nl))
    if (g->is_sweep_keeper() || g->kff_in_force()) live.insert(g);
  for (bool grew = true; grew;) {
    grew = false;
    for (CDB_SGATE_NODE* g : gates_of(nl)) {
      if (!live.count(g)) continue;
      for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i) {
        CDB_SGATE_OTERM* src = g->get_fanin_term(i);
        if (src && src->get_my_node()->get_netlist() == &nl && live.insert(src->get_my_node()).second) grew = true;
      }
    }
  }
  return live;
}

// Cells made in order on a fresh thread lie in rising order, for single
// cells and for gate pairs, far past one slab and past the 2 MiB blocks
// that slabs are cut from; all of them go back. (Sizes no other test uses,
// the pairs' too: cells that ended threads handed back would come first.)
// The order holds under an address-space limit as well: the range the
// blocks come from is then sized to the limit, where a fixed 64 GiB one
// was refused and the slabs came from the heap in no order.
TEST(CdbSgatePool, CellsMadeInOrderLieInOrderAcrossSlabsAndChunks) {
  const struct {
    const char* name;
    size_t bytes;
    size_t partner;  // 0: single cells
  } cases[] = {{"small cells", 24, 0}, {"large cells", 456, 0}, {"gates with terminals", 248, 120}};
  for (const auto& c : cases) {
    std::thread([&c] {
      SCOPED_TRACE(c.name);
      const int64_t start = cdb_pool_thread_balance();
      const size_t step = c.partner ? c.bytes + c.partner : cdb_pool_cell_bytes(c.bytes);
      const size_t count = (size_t(5) << 20) / step;  // about 5 MiB
      std::vector<char*> cells;
      for (size_t i = 0; i < count; ++i) {
        if (c.partner) {
          char* g = static_cast<char*>(cdb_pool_allocate_with_partner(c.bytes, c.partner));
          char* t = static_cast<char*>(cdb_pool_allocate_partner(c.partner));
          EXPECT_EQ(t + c.partner, g);
          cells.push_back(t);
          cells.push_back(g);
        } else {
          cells.push_back(static_cast<char*>(cdb_pool_allocate(c.bytes)));
        }
      }
      size_t out_of_order = 0;
      for (size_t i = 1; i < cells.size(); ++i) out_of_order += cells[i] <= cells[i - 1];
      EXPECT_EQ(out_of_order, 0u);
      for (size_t i = 0; i < cells.size(); ++i)
        cdb_pool_release(cells[i], c.partner && i % 2 == 0 ? c.partner : c.bytes);
      EXPECT_EQ(cdb_pool_thread_balance(), start);
    }).join();
  }
}

// Real circuits with every third output cut off, swept with the node list
// as read, sorted sources first and sorted outputs first (every edge then
// points ahead of the backward walk), against the fixed-point model.
TEST(CdbSgatePool, SweepMatchesFixedPointInEveryListOrder) {
  const char* circuits[] = {"mcnc/s298", "mcnc/alu4", "seq/diffeq1", "mcnc/tseng"};
  const int orders[] = {-1, CDB_SGATE_NETLIST::INPUTS_FIRST, CDB_SGATE_NETLIST::OUTPUTS_FIRST};
  int total_removed = 0;
  for (const char* circuit : circuits) {
    for (int order : orders) {
      SCOPED_TRACE(std::string(circuit) + " order " + std::to_string(order));
      LOADED_NETLIST nl = load_blif(circuit);
      if (order >= 0) nl->sort_by_dag_order(order);
      int k = 0;
      for (CDB_SGATE_IO* out : nl->get_output_pins())
        if (k++ % 3 == 0) out->get_input_term(0)->disconnect_from_source();
      for (CDB_SGATE_IO* out : std::vector<CDB_SGATE_IO*>(nl->get_output_pins()))
        if (!out->get_input_term(0)->is_connected()) nl->delete_node(out), delete out;
      const std::set<CDB_SGATE_NODE*> expect = live_by_fixed_point(*nl);
      const std::vector<CDB_SGATE_NODE*> order_before = gates_of(*nl);
      const int removed = nl->sweep(false);
      const std::vector<CDB_SGATE_NODE*> after = gates_of(*nl);
      EXPECT_EQ(std::set<CDB_SGATE_NODE*>(after.begin(), after.end()), expect);
      EXPECT_EQ(size_t(removed), order_before.size() - expect.size());
      total_removed += removed;
      std::vector<CDB_SGATE_NODE*> kept_in_order;
      for (CDB_SGATE_NODE* g : order_before)
        if (expect.count(g)) kept_in_order.push_back(g);
      EXPECT_EQ(after, kept_in_order);  // survivors keep their order
      EXPECT_EQ(nl->sweep(false), 0);
      std::string why;
      EXPECT_TRUE(nl->check(&why)) << why;
      EXPECT_EQ(nl->garbage_collect(true, false), removed);
    }
  }
  EXPECT_GT(total_removed, 100);
}

// A wide net edited in patterns that leave holes at the front, the back and
// in the middle, with re-connections that move readers to the tail: the
// chain (by range, by links in both directions, first and last) always
// equals a plain vector model, before and after the block compacts.
TEST(CdbSgatePool, WideFanoutChainKeepsOrderThroughHolesAndCompaction) {
  const struct {
    const char* name;
    int readers;
    bool (*drop)(int i, int n);
  } cases[] = {
      {"front half", 300, [](int i, int n) { return i < n / 2; }},
      {"back half", 300, [](int i, int n) { return i >= n / 2; }},
      {"every other", 301, [](int i, int) { return i % 2 == 0; }},
      {"all but one", 50, [](int i, int) { return i != 17; }},
      {"single", 1, [](int, int) { return true; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* src = make_input_pin(&nl, "s");
    CDB_SGATE_OTERM* o = src->get_single_oterm();
    std::vector<CDB_SGATE_ITERM*> model;
    for (int i = 0; i < c.readers; ++i) model.push_back(make_not(&nl, src)->get_input_term(0));
    auto expect_chain = [&] {
      std::vector<CDB_SGATE_ITERM*> by_range, by_links, backwards;
      for (CDB_SGATE_ITERM* t : o->fanouts()) by_range.push_back(t);
      for (CDB_SGATE_ITERM* t = o->get_first_fanout(); t; t = t->get_next_fanout()) by_links.push_back(t);
      for (CDB_SGATE_ITERM* t = o->get_last_fanout(); t; t = t->get_prev_fanout()) backwards.insert(backwards.begin(), t);
      EXPECT_EQ(by_range, model);
      EXPECT_EQ(by_links, model);
      EXPECT_EQ(backwards, model);
      EXPECT_EQ(o->get_number_of_fanout(), model.size());
    };
    std::vector<CDB_SGATE_ITERM*> dropped;
    for (int i = 0; i < c.readers; ++i)
      if (c.drop(i, c.readers)) dropped.push_back(model[size_t(i)]);
    for (CDB_SGATE_ITERM* t : dropped) {
      t->disconnect_from_source();
      model.erase(std::find(model.begin(), model.end(), t));
      if (model.size() % 7 == 0) expect_chain();
    }
    expect_chain();
    for (size_t k = 0; k < dropped.size(); k += 3) {  // reconnect some at the tail
      o->insert_fanout(dropped[k]);
      model.push_back(dropped[k]);
    }
    if (!model.empty()) {  // an existing reader connected again moves to the tail
      CDB_SGATE_ITERM* first = model.front();
      o->insert_fanout(first);
      model.erase(model.begin());
      model.push_back(first);
    }
    expect_chain();
    std::string why;
    EXPECT_TRUE(nl.check(&why)) << why;
  }
}

}  // namespace
