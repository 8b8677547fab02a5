// msg_test.cpp — user messages, the message log, internal errors and debug
// output.
#include <fstream>
#include <memory>
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

template <class MSG = MSG_W>
MSG* make(int id, const char* text, const char* arg = nullptr) {
  MSG* m = new MSG;
  if (arg) m->fill_args(text, arg);
  else m->fill_args(text);
  m->set_id(id);
  return m;
}

TEST_F(MsgTest, PostExpandsArgumentsByNumberAndPrintsTheKind) {
  MSG_W w;
  w.fill_args("From \"%1!s!\" to \"%2!s!\" -- no registers for \"%3!s!\"/WKAVU_X_SUB", "a", "b", "c");
  w.set_id(kWarn);
  w.post();
  auto e = msg_log_find(kWarn);
  ASSERT_TRUE(e.has_value() && e->kind == kavu_platform::MSG_LOG_WARNING);
  EXPECT_EQ(e->text + " " + e->name, "From \"a\" to \"b\" -- no registers for \"c\" KAVU_X_SUB");
  // Arguments bind by number, not by position; a repeated number takes one argument.
  MSG_I i;
  i.fill_args("%2!s! then %1!s! and %2!s! again/IKAVU_ORDER", "first", "second");
  i.set_id(kInfo);
  i.post();
  EXPECT_EQ(msg_log_find(kInfo)->text, "second then first and second again");
  // Only the last slash separates the name: slashes in the text stay.
  std::unique_ptr<MSG_E>(make<MSG_E>(kErr, "File %1!s!/EKAVU_MIF", "a/b.mif"))->post();
  EXPECT_EQ(kavu_platform::msg_format_entry(*msg_log_find(kErr)), "Error (990004): File a/b.mif\n");
  kavu_platform::CFG_SCOPE cfg{{"msg_print", "on"}};  // printing follows the key
  ::testing::internal::CaptureStdout();
  std::unique_ptr<MSG_W>(make(kWarn, "Seen %1!s!/WKAVU_P", "here"))->post();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Warning (990001): Seen here\n");
}

TEST_F(MsgTest, MalformedUnregisteredOrMiskindedMessagesAreInternalErrors) {
  MSG_W w;
  MSG_E e;
  EXPECT_KAVU_INTERNAL_ERROR(w.fill_args("Text/IKAVU_WRONG_LETTER"), "severity letter");
  EXPECT_KAVU_INTERNAL_ERROR(e.fill_args("Text/WKAVU_E_AS_W"), "severity letter");
  EXPECT_KAVU_INTERNAL_ERROR(w.fill_args("no severity at all"), "severity");
  EXPECT_KAVU_INTERNAL_ERROR(w.fill_args("Text/W"), "no name");
  EXPECT_KAVU_INTERNAL_ERROR(w.fill_args("Pin %1!s!/WKAVU_P", static_cast<const char*>(nullptr)), "argument is null");
  MSG_W unfilled;
  unfilled.set_id(kWarn);
  EXPECT_KAVU_INTERNAL_ERROR(unfilled.post(), "without text");
  EXPECT_KAVU_INTERNAL_ERROR(std::unique_ptr<MSG_W>(make(990099, "Text/WKAVU_U"))->post(), "not registered");
  EXPECT_KAVU_INTERNAL_ERROR(std::unique_ptr<MSG_I>(make<MSG_I>(kWarn, "Text/IKAVU_K"))->post(), "another kind");
  // A bad sub-message spoils the whole group, and nothing is logged.
  std::unique_ptr<MSG_W> header(make(kWarn, "Header/WKAVU_H"));
  header->add_msg(make(990098, "Item %1!s!/WKAVU_S", "x"));
  EXPECT_KAVU_INTERNAL_ERROR(header->post(), "not registered");
  EXPECT_EQ(msg_log_count(kWarn), 0);
}

TEST_F(MsgTest, RegistrarCountsRegistrationsAndRefusesAnotherKind) {
  const int id[1] = {kWarn}, fresh[1] = {990050};
  const MSG_POST_TYPE as_info[1] = {MSG_POST_TYPE_INFO}, as_warning[1] = {MSG_POST_TYPE_WARNING};
  EXPECT_KAVU_INTERNAL_ERROR(MSG_ID_REGISTRAR clash(id, as_info, 1), "another kind");
  { MSG_ID_REGISTRAR again(id, as_warning, 1); }  // the same kind is fine
  std::unique_ptr<MSG_W>(make(kWarn, "Still registered/WKAVU_R"))->post();  // the fixture's outlives it
  EXPECT_EQ(msg_log_count(kWarn), 1);
  { MSG_ID_REGISTRAR temporary(fresh, as_warning, 1); }
  EXPECT_KAVU_INTERNAL_ERROR(std::unique_ptr<MSG_W>(make(990050, "Gone/WKAVU_G"))->post(), "not registered");
}

TEST_F(MsgTest, NullMessagesAcceptEverythingAndPostNothing) {
  std::unique_ptr<MSG_W> header(new MSG_W_NULL);  // through the base, as a factory hands it out
  header->fill_args("not even a valid message string");
  header->set_id(kWarn);
  header->add_msg(make(kWarn2, "Item %1!s!/WKAVU_S", "x"));  // deleted at once
  header->add_location("src.v:3");
  EXPECT_TRUE(header->begin_submsg() == header->end_submsg());
  header->post();
  std::unique_ptr<MSG_I>(new MSG_I_NULL)->post();
  MSG_E_NULL().post();
  EXPECT_TRUE(msg_log().empty());
}

TEST_F(MsgTest, GroupsPostOnceWithTheirItemsIndented) {
  std::unique_ptr<MSG_W> header(make(kWarn, "Ignored assignments for %1!s!/WKAVU_HDR", "h"));
  header->add_msg(make(kWarn2, "Clock \"%1!s!\"/WKAVU_SUB", "c1"));
  header->add_msg(new MSG_W_NULL);  // a suppressed item does not count
  header->add_msg(make(kWarn2, "Clock \"%1!s!\"/WKAVU_SUB", "c2"));
  EXPECT_EQ(header->end_submsg() - header->begin_submsg(), 2);
  header->post();
  EXPECT_TRUE(msg_log().size() == 1u && msg_log_count(kWarn2) == 2);
  EXPECT_EQ(msg_log_find(kWarn2)->text, "Clock \"c1\"");  // first in posting order
  EXPECT_EQ(kavu_platform::msg_format_entry(*msg_log_find(kWarn)),
            "Warning (990001): Ignored assignments for h\n"
            "    Warning (990002): Clock \"c1\"\n"
            "    Warning (990002): Clock \"c2\"\n");

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
  EXPECT_FALSE(index->is_suppressed(kWarn2));  // no leak from an earlier test's explicit call
  kavu_platform::CFG_SCOPE cfg{{"msg_suppress", " 990001, junk,990003 "}};
  EXPECT_TRUE(index->is_suppressed(kWarn) && index->is_suppressed(kInfo));
  EXPECT_FALSE(index->is_suppressed(99000));  // a prefix of a listed id is not listed
  index->suppress(kWarn, false);               // an explicit call overrides the key
  index->suppress(kWarn2, true);
  EXPECT_TRUE(!index->is_suppressed(kWarn) && index->is_suppressed(kWarn2));
}

TEST_F(MsgTest, MessagesQueueWhileInsertionIsOffAndFlushInOrder) {
  MSG_D::m_insert = false;
  std::unique_ptr<MSG_W>(make(kWarn, "A %1!s!/WKAVU_A", "1"))->post();
  std::unique_ptr<MSG_W>(make(kWarn2, "B %1!s!/WKAVU_B", "2"))->post();
  EXPECT_TRUE(msg_log().empty());
  MSG_D::m_insert = true;
  kavu_platform::msg_flush_pending();
  kavu_platform::msg_flush_pending();  // nothing left the second time
  std::vector<kavu_platform::MSG_LOG_ENTRY> log = msg_log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].text + "," + log[1].text, "A 1,B 2");
}

TEST(MsgInternalError, TheHookReceivesTheReportAndTheLogKeepsIt) {
  try {
    MSG_INTERNAL_ERROR::report("oterm != 0", "KAVU", "kavu_x.cpp", 42);
    FAIL() << "report returned";
  } catch (const kavu_platform::test_internal_error& e) {
    EXPECT_STREQ(e.what(), "oterm != 0");
    EXPECT_EQ(e.component + " " + e.file + " " + std::to_string(e.line), "KAVU kavu_x.cpp 42");
  }
  std::vector<kavu_platform::MSG_LOG_ENTRY> log = msg_log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].kind, kavu_platform::MSG_LOG_INTERNAL_ERROR);
  EXPECT_EQ(log[0].text + " " + log[0].name + " " + std::to_string(log[0].line), "oterm != 0 KAVU 42");
  try {  // PLAT_CHECK passes the condition text and the component
    PLAT_CHECK(1 + 1 == 3, "HDB");
    FAIL() << "no report";
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


TEST(MsgDebug, CaptureRecordsWholeLinesUpToTheLevelThreshold) {
  {
    kavu_platform::DEBUG_CAPTURE cap("KAVU");
    EXPECT_TRUE(MSG_D::debug_messages_enabled("kavu"));  // component names ignore case
    msg_local_debug("KAVU", 2, "Found %d iterms with timing info", 17);
    msg_local_debug("KAVU", 3, "level three\n");
    msg_local_debug("KAVU", 4, "too detailed");  // above the default threshold 3
    msg_local_debug("CDB", 2, "another component");
    {
      kavu_platform::CFG_SCOPE cfg{{"debug_msg_level", "4"}};
      msg_local_debug("KAVU", 4, "now shown");
    }
    EXPECT_EQ(cap.lines(), (std::vector<std::string>{"Found 17 iterms with timing info", "level three", "now shown"}));
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
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) msg_local_debug("KAVU", 2, "%s", std::string(60, 'a' + t).c_str());
    });
  for (std::thread& th : threads) th.join();
  std::ifstream in("trace.txt");
  int count = 0;
  for (std::string line; std::getline(in, line); ++count)
    ASSERT_TRUE(line.size() == 60 && line == std::string(60, line[0])) << line;
  EXPECT_EQ(count, 800);
}

}  // namespace

// Text quoted from a file: bytes outside printable ASCII escaped, quotes
// and backslashes too when asked, and a text past the budget cut to its
// head and its tail, so two long hierarchical names that differ at their
// end stay apart in the message.
TEST(MsgPrintableText, EscapesAndKeepsTheHeadAndTheTail) {
  const std::string path = "arSRLFIFO_a_0|mid_0|$paramod$de03" + std::string(60, 'p') + "\\dual_port_ram|q";
  struct ROW {
    std::string text;
    size_t max_bytes;
    bool quotes;
    std::string expected;
  } rows[] = {
      {"plain", 80, false, "plain"},
      {"\x1b]0;owned\x07\x1b[2J", 80, false, "\\x1b]0;owned\\x07\\x1b[2J"},
      {"a\"b\\c\xff", 80, true, "a\\\"b\\\\c\\xff"},
      {"0123456789", 10, false, "0123456789"},
      {"0123456789a", 10, false, "01234...6789a"},
      {"0123456789a", 1, false, "0..."},
      {std::string(100, 'w') + "\x1b", 9, false, "wwwww...www\\x1b"},
      {path + "[0]", 20, false, "arSRLFIFO_...t_ram|q[0]"},
      {path + "[1]", 20, false, "arSRLFIFO_...t_ram|q[1]"},
  };
  for (const ROW& r : rows) {
    EXPECT_EQ(kavu_platform::msg_printable_text(r.text, r.max_bytes, r.quotes), r.expected) << r.text;
    EXPECT_LE(kavu_platform::msg_printable_text(r.text, r.max_bytes, r.quotes).size(), 4 * r.max_bytes + 3);
  }
}
