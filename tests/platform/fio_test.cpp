// fio_test.cpp — full paths, directory, base and extension, and file-system operations.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "fio/fio.h"
#include "testkit/platform_testkit.h"

namespace {

TEST(FioPath, FullPathsNormaliseAndNamesSplitAndJoin) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(fio_get_unc_full_path("a/./b/../c.txt"), std::string(cwd) + "/a/c.txt");
  EXPECT_EQ(fio_get_unc_full_path("/x//y/"), "/x/y");
  FIO_PATH p("out/run.3/design.v.svf");
  EXPECT_EQ(p.directory() + "|" + p.base() + "|" + p.extension(), "out/run.3|design.v|svf");
  EXPECT_EQ(p.fullpath(), std::string(cwd) + "/out/run.3/design.v.svf");
  // The archive name rule: a base taken whole (dots included), placed in a
  // directory, given an extension.
  FIO_PATH a;
  a.base("rev.part_ap_2").directory("/db").extension(".parsynth", "");
  EXPECT_EQ(a.fullpath(), "/db/rev.part_ap_2.parsynth");
  a.extension("cdb", "gz");
  EXPECT_EQ(a.filename(), "rev.part_ap_2.cdb.gz");
  FIO_PATH f;
  f.filename("some/dir/name.tx3");  // only the file-name part is kept
  EXPECT_EQ(f.directory() + "|" + f.base() + "|" + f.extension(), "|name|tx3");
  EXPECT_EQ(FIO_PATH(".hidden").base(), ".hidden");
}

TEST(FioFileSystem, CreateCopyRenameRemove) {
  EXPECT_TRUE(FIO_FILE_SYSTEM::create("synth_dumps/deep/er") && FIO_FILE_SYSTEM::create("synth_dumps"));
  FILE* f = FIO_FILE_SYSTEM::fopen("synth_dumps/a.txt", "wt");
  ASSERT_NE(f, nullptr);
  std::fputs("hello\n", f);
  std::fclose(f);
  EXPECT_EQ(FIO_FILE_SYSTEM::fopen("missing/dir/b.txt", "r"), nullptr);
  EXPECT_TRUE(FIO_FILE_SYSTEM::copy("synth_dumps/a.txt", "b.txt") && FIO_FILE_SYSTEM::copy("synth_dumps/a.txt", "b.txt"));
  EXPECT_TRUE(FIO_FILE_SYSTEM::rename("b.txt", "c.txt") && !FIO_FILE_SYSTEM::exists("b.txt"));
  std::string line;
  std::getline(std::ifstream("c.txt") >> std::ws, line);
  EXPECT_EQ(line, "hello");
  EXPECT_FALSE(FIO_FILE_SYSTEM::rename("nothing.txt", "d.txt") || FIO_FILE_SYSTEM::copy("nothing.txt", "d.txt"));
  EXPECT_TRUE(FIO_FILE_SYSTEM::remove_if_exists("c.txt") && FIO_FILE_SYSTEM::remove_if_exists("c.txt"));
  EXPECT_FALSE(FIO_FILE_SYSTEM::remove_if_exists("synth_dumps"));  // not empty: kept
  EXPECT_TRUE(FIO_FILE_SYSTEM::exists("synth_dumps/a.txt"));
}

}  // namespace
