// msg_test.cpp — user messages, the message log, internal errors and debug
// output.
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cfg/cfg.h"
#include "msg/msg.h"
#include "testkit/platform_testkit.h"

using kavu_platform::msg_log;
using kavu_platform::msg_log_count;
using kavu_platform::msg_log_find;

namespace {

// Ids of a block no library uses, registered for each test.
const int kWarn = 990001, kWarn2 = 990002, kInfo = 990003, kErr = 990004;

class MsgTest : public ::testing::Test {
 protected:
  const int m_ids[4] = {kWarn, kWarn2, kInfo, kErr};
  const MSG_POST_TYPE m_kinds[4] = {MSG_POST_TYPE_WARNING, MSG_POST_TYPE_WARNING, MSG_POST_TYPE_INFO,
                                    MSG_POST_TYPE_ERROR};
  MSG_ID_REGISTRAR m_registrar{m_ids, m_kinds, 4};
};

MSG_W* make_warning(int id, const char* text, const char* arg) {
  MSG_W* w = new MSG_W;
  w->fill_args(text, arg);
  w->set_id(id);
  return w;
}

TEST_F(MsgTest, PostExpandsArgumentsInNumberOrderAndPrintsTheKind) {
  MSG_W w;
  w.fill_args("From \"%1!s!\" to \"%2!s!\" -- no registers for \"%3!s!\"/WKAVU_X_SUB", "a", "b", "c");
  w.set_id(kWarn);
  w.post();
  auto e = msg_log_find(kWarn);
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->text, "From \"a\" to \"b\" -- no registers for \"c\"");
  EXPECT_EQ(e->name, "KAVU_X_SUB");
  EXPECT_EQ(e->kind, kavu_platform::MSG_LOG_WARNING);
  EXPECT_EQ(kavu_platform::msg_format_entry(*e),
            "Warning (990001): From \"a\" to \"b\" -- no registers for \"c\"\n");

  // Arguments bind by number, not by position in the text; a repeated
  // number takes one argument.
  MSG_I i;
  i.fill_args("%2!s! then %1!s! and %2!s! again/IKAVU_ORDER", "first", "second");
  i.set_id(kInfo);
  i.post();
  EXPECT_EQ(msg_log_find(kInfo)->text, "second then first and second again");
  // Only the last slash separates the name: slashes in the text stay.
  MSG_E err;
  err.fill_args("File %1!s!/EKAVU_MIF", "a/b.mif");
  err.set_id(kErr);
  err.post();
  EXPECT_EQ(msg_log_find(kErr)->text, "File a/b.mif");
  EXPECT_EQ(kavu_platform::msg_format_entry(*msg_log_find(kErr)), "Error (990004): File a/b.mif\n");
}

TEST_F(MsgTest, MalformedMessageStringsAreInternalErrors) {
  MSG_W w;
  EXPECT_KAVU_INTERNAL_ERROR(w.fill_args("Text/IKAVU_WRONG_LETTER"), "severity letter");
  EXPECT_KAVU_INTERNAL_ERROR(w.fill_args("no severity at all"), "severity");
  EXPECT_KAVU_INTERNAL_ERROR(w.fill_args("Text/W"), "no name");
  EXPECT_KAVU_INTERNAL_ERROR(w.fill_args("Pin %1!s!/WKAVU_P", static_cast<const char*>(nullptr)),
                             "argument is null");
  MSG_E e;
  EXPECT_KAVU_INTERNAL_ERROR(e.fill_args("Text/WKAVU_E_AS_W"), "severity letter");
}

TEST_F(MsgTest, PostingUnfilledUnregisteredOrMiskindedMessagesIsAnInternalError) {
  MSG_W unfilled;
  unfilled.set_id(kWarn);
  EXPECT_KAVU_INTERNAL_ERROR(unfilled.post(), "without text");

  MSG_W unregistered;
  unregistered.fill_args("Text/WKAVU_U");
  unregistered.set_id(990099);
  EXPECT_KAVU_INTERNAL_ERROR(unregistered.post(), "not registered");

  MSG_I wrong_kind;
  wrong_kind.fill_args("Text/IKAVU_K");
  wrong_kind.set_id(kWarn);  // registered as a warning
  EXPECT_KAVU_INTERNAL_ERROR(wrong_kind.post(), "another kind");

  // A bad sub-message spoils the whole group, and nothing is logged.
  MSG_W* header = make_warning(kWarn, "Header/WKAVU_H", nullptr);
  header->add_msg(make_warning(990098, "Item %1!s!/WKAVU_S", "x"));
  EXPECT_KAVU_INTERNAL_ERROR(header->post(), "not registered");
  delete header;
  EXPECT_EQ(msg_log_count(kWarn), 0);
}

TEST_F(MsgTest, RegistrarCountsRegistrationsAndRefusesAnotherKind) {
  const int id[1] = {kWarn};
  const MSG_POST_TYPE as_info[1] = {MSG_POST_TYPE_INFO};
  const MSG_POST_TYPE as_warning[1] = {MSG_POST_TYPE_WARNING};
  EXPECT_KAVU_INTERNAL_ERROR(MSG_ID_REGISTRAR clash(id, as_info, 1), "another kind");
  {
    MSG_ID_REGISTRAR again(id, as_warning, 1);  // the same kind is fine
  }
  // The fixture's registration outlives the second one.
  MSG_W w;
  w.fill_args("Still registered/WKAVU_R");
  w.set_id(kWarn);
  w.post();
  EXPECT_EQ(msg_log_count(kWarn), 1);

  const int fresh[1] = {990050};
  { MSG_ID_REGISTRAR temporary(fresh, as_warning, 1); }
  MSG_W gone;
  gone.fill_args("Gone/WKAVU_G");
  gone.set_id(990050);
  EXPECT_KAVU_INTERNAL_ERROR(gone.post(), "not registered");
}

TEST_F(MsgTest, NullMessagesAcceptEverythingAndPostNothing) {
  // Through the base pointer, as a factory hands it out.
  MSG_W* header = new MSG_W_NULL;
  header->fill_args("not even a valid message string");
  header->set_id(kWarn);
  header->add_msg(make_warning(kWarn2, "Item %1!s!/WKAVU_S", "x"));  // deleted at once
  header->add_location("src.v:3");
  EXPECT_TRUE(header->begin_submsg() == header->end_submsg());
  header->post();
  delete header;
  MSG_I* info = new MSG_I_NULL;
  info->post();
  delete info;
  MSG_E_NULL err;
  err.post();
  EXPECT_TRUE(msg_log().empty());
}

TEST_F(MsgTest, GroupsPostOnceWithTheirItemsIndented) {
  MSG_W* header = make_warning(kWarn, "Ignored assignments for %1!s!/WKAVU_HDR", "h");
  EXPECT_TRUE(header->begin_submsg() == header->end_submsg());  // the caller would not post it
  header->add_msg(make_warning(kWarn2, "Clock \"%1!s!\"/WKAVU_SUB", "c1"));
  header->add_msg(new MSG_W_NULL);  // a suppressed item does not count
  header->add_msg(make_warning(kWarn2, "Clock \"%1!s!\"/WKAVU_SUB", "c2"));
  EXPECT_EQ(header->end_submsg() - header->begin_submsg(), 2);
  header->post();
  delete header;

  ASSERT_EQ(msg_log().size(), 1u);
  EXPECT_EQ(msg_log_count(kWarn2), 2);
  auto e = msg_log_find(kWarn);
  ASSERT_TRUE(e.has_value());
  ASSERT_EQ(e->subs.size(), 2u);
  EXPECT_EQ(e->subs[1].text, "Clock \"c2\"");
  EXPECT_EQ(kavu_platform::msg_format_entry(*e),
            "Warning (990001): Ignored assignments for h\n"
            "    Warning (990002): Clock \"c1\"\n"
            "    Warning (990002): Clock \"c2\"\n");
  EXPECT_EQ(msg_log_find(kWarn2)->text, "Clock \"c1\"");  // first in posting order

  MSG_E located;
  located.fill_args("Missing file/EKAVU_L");
  located.set_id(kErr);
  MSG_LOCATION_SCHEMA schema("rom.v:12");
  located.add_location(schema.get_unmodified_source(), &schema, "", "rom_unit");
  located.post();
  EXPECT_EQ(msg_log_find(kErr)->locations, std::vector<std::string>{"rom.v:12"});
}

TEST_F(MsgTest, SuppressionComesFromTheKeyAndFromExplicitCalls) {
  MSG_INDEX* index = MSG_INDEX::get_default_index();
  EXPECT_FALSE(index->is_suppressed(kWarn));
  kavu_platform::CFG_SCOPE cfg{{"msg_suppress", " 990001, junk,990003 "}};
  EXPECT_TRUE(index->is_suppressed(kWarn));
  EXPECT_TRUE(index->is_suppressed(kInfo));
  EXPECT_FALSE(index->is_suppressed(kWarn2));
  EXPECT_FALSE(index->is_suppressed(99000));  // a prefix of a listed id is not listed
  index->suppress(kWarn, false);               // an explicit call overrides the key
  EXPECT_FALSE(index->is_suppressed(kWarn));
  index->suppress(kWarn2, true);
  EXPECT_TRUE(index->is_suppressed(kWarn2));
}

TEST_F(MsgTest, ExplicitSuppressionDoesNotLeakIntoTheNextTest) {
  EXPECT_FALSE(MSG_INDEX::get_default_index()->is_suppressed(kWarn2));
  EXPECT_TRUE(msg_log().empty());
}

TEST_F(MsgTest, MessagesQueueWhileInsertionIsOffAndFlushInOrder) {
  MSG_D::m_insert = false;
  std::unique_ptr<MSG_W> a(make_warning(kWarn, "A %1!s!/WKAVU_A", "1"));
  std::unique_ptr<MSG_W> b(make_warning(kWarn2, "B %1!s!/WKAVU_B", "2"));
  a->post();
  b->post();
  EXPECT_TRUE(msg_log().empty());
  MSG_D::m_insert = true;
  kavu_platform::msg_flush_pending();
  std::vector<kavu_platform::MSG_LOG_ENTRY> log = msg_log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].text, "A 1");
  EXPECT_EQ(log[1].text, "B 2");
  kavu_platform::msg_flush_pending();  // nothing left
  EXPECT_EQ(msg_log().size(), 2u);
}

TEST_F(MsgTest, PrintingFollowsTheKey) {
  kavu_platform::CFG_SCOPE cfg{{"msg_print", "on"}};
  ::testing::internal::CaptureStdout();
  std::unique_ptr<MSG_W>(make_warning(kWarn, "Seen %1!s!/WKAVU_P", "here"))->post();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Warning (990001): Seen here\n");
}

TEST(MsgInternalError, TheHookReceivesTheReportAndTheLogKeepsIt) {
  try {
    MSG_INTERNAL_ERROR::report("oterm != 0", "KAVU", "kavu_x.cpp", 42);
    FAIL() << "report returned";
  } catch (const kavu_platform::test_internal_error& e) {
    EXPECT_STREQ(e.what(), "oterm != 0");
    EXPECT_EQ(e.component, "KAVU");
    EXPECT_EQ(e.file, "kavu_x.cpp");
    EXPECT_EQ(e.line, 42);
  }
  std::vector<kavu_platform::MSG_LOG_ENTRY> log = msg_log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].kind, kavu_platform::MSG_LOG_INTERNAL_ERROR);
  EXPECT_EQ(log[0].text, "oterm != 0");
  EXPECT_EQ(log[0].name, "KAVU");
  EXPECT_EQ(log[0].line, 42);

  // PLAT_CHECK passes the condition text and the component.
  try {
    PLAT_CHECK(1 + 1 == 3, "HDB");
  } catch (const kavu_platform::test_internal_error& e) {
    EXPECT_STREQ(e.what(), "1 + 1 == 3");
    EXPECT_EQ(e.component, "HDB");
  }
}

TEST(MsgInternalErrorDeathTest, ProductionHookPrintsTheBannerAndAborts) {
  EXPECT_DEATH(
      {
        kavu_platform::msg_set_internal_error_hook(nullptr);
        MSG_INTERNAL_ERROR::report("bad number of iterms", "KAVU", "kavu_y.cpp", 7);
      },
      "Internal Error: Sub-system: KAVU, File: kavu_y.cpp, Line: 7\nbad number of iterms");
}

// ---------------------------------------------------------------- debug output

TEST(MsgDebug, CaptureRecordsWholeLinesUpToTheLevelThreshold) {
  EXPECT_FALSE(MSG_D::debug_messages_enabled("KAVU"));
  {
    kavu_platform::DEBUG_CAPTURE cap("KAVU");
    EXPECT_TRUE(MSG_D::debug_messages_enabled("kavu"));  // component names ignore case
    msg_local_debug("KAVU", 2, "Found %d iterms with timing info", 17);
    msg_local_debug("KAVU", 3, "level three\n");
    msg_local_debug("KAVU", 4, "too detailed");  // above the default threshold 3
    msg_local_debug("CDB", 2, "another component");
    EXPECT_EQ(cap.lines(), (std::vector<std::string>{"Found 17 iterms with timing info", "level three"}));
    EXPECT_TRUE(cap.contains("17 iterms"));
    {
      kavu_platform::CFG_SCOPE cfg{{"debug_msg_level", "4"}};
      msg_local_debug("KAVU", 4, "now shown");
    }
    EXPECT_TRUE(cap.contains("now shown"));
  }
  EXPECT_FALSE(MSG_D::debug_messages_enabled("KAVU"));  // the capture restored the state
}

TEST(MsgDebug, KeysEnableOutputToStderrOrToTheNamedFile) {
  ::testing::internal::CaptureStderr();
  msg_local_debug("KAVU", 2, "silent");
  {
    kavu_platform::CFG_SCOPE cfg{{"debug_msg_kavu", "on"}};
    msg_local_debug("KAVU", 2, "to stderr %s", "here");
    msg_local_debug("CDB", 2, "not this component");
  }
  {
    kavu_platform::CFG_SCOPE cfg{{"debug_msg", "on"}};
    msg_local_debug("CDB", 2, "every component");
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "to stderr here\nevery component\n");

  // Threads writing to one file never split each other's lines.
  kavu_platform::CFG_SCOPE cfg{{"debug_msg_kavu", "on"}, {"debug_msg_file", "trace.txt"}};
  const int kThreads = 4, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i)
        msg_local_debug("KAVU", 2, "thread %d line %d %s", t, i, std::string(60, 'a' + t).c_str());
    });
  }
  for (std::thread& th : threads) th.join();
  std::ifstream in("trace.txt");
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    int t = -1, i = -1;
    char tail[80] = {};
    ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d %79s", &t, &i, tail), 3) << line;
    EXPECT_EQ(std::string(tail), std::string(60, 'a' + t)) << line;
    ++count;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
