// The persistence archive: a record type of its own through a file with and
// without stored names, the registry, and files that are never half written.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <thread>

#include "pdb/pdb.h"
#include "pdb_stl_sys.h"
#include "platform_testkit.h"

namespace {

using namespace kavu_platform;

struct PROBE {
  int32_t m_int = 0;
  uint32_t m_bits = 0;
  bool m_flag = false;
  std::string m_text;
  std::vector<std::string> m_list;
};

const PDB_THUNK_INFO* probe_thunk();
const char* g_name_of_int = "m_int";

void transfer_probe(PDB_SEGMENT& seg, void* record) {
  PROBE* p = static_cast<PROBE*>(record);
  seg.begin_object(probe_thunk(), p);
  seg.set_field(1, g_name_of_int);
  seg.transfer_int32(p->m_int);
  seg.set_field(2, "m_bits");
  p->m_bits = seg.transfer_bits(p->m_bits, 5);
  seg.set_field(3, "m_flag");
  seg.transfer_bool(p->m_flag);
  seg.set_field(4, "m_text");
  pdb_transfer(seg, p->m_text);
  seg.set_field(5, "m_list");
  pdb_transfer(seg, p->m_list);
  seg.end_object();
}

void* create_probe(size_t size) { return std::memset(::operator new(size), 0, size); }
void construct_probe(void* p) { new (p) PROBE(); }
void destroy_probe(void* p) { static_cast<PROBE*>(p)->~PROBE(); }
void* this_probe(void* p) { return p; }

const PDB_THUNK_INFO* probe_thunk() {
  static PDB_THUNK_INFO thunk(0x12345678, &create_probe, nullptr, nullptr, &construct_probe,
                              &destroy_probe, &transfer_probe, &probe_thunk, &this_probe, false,
                              false, typeid(PROBE), sizeof(PROBE), "TEST", __FILE__, __LINE__);
  return &thunk;
}

void probe_field(PDB_SEGMENT& seg, void* address) {
  seg.set_field(199, "ptr");
  seg.transfer_ptr(*static_cast<void**>(address), *probe_thunk());
}

void write_probe(const char* name, PROBE* p) {
  PDB_ARCHIVE ar(name, PDB_ARCHIVE::PDB_WRITE);
  pdb_write_ptr(ar, "", "cdb", &probe_field, &p, 0, -1, 0);
  ar.close();
}

std::unique_ptr<PROBE> read_probe(const char* name) {
  PDB_ARCHIVE ar(name, PDB_ARCHIVE::PDB_READ);
  void* p = nullptr;
  pdb_read_ptr(ar, "", "cdb", &probe_field, &p, nullptr, "test");
  return std::unique_ptr<PROBE>(static_cast<PROBE*>(p));
}

TEST(PdbArchive, RoundTripsWithAndWithoutStoredNames) {
  for (const char* names : {"off", "on"}) {
    CFG_SCOPE cfg{{"pdb_check_names", names}};
    PROBE in{-7, 0x3f, true, std::string("a\0b", 3), {"", "x"}};
    write_probe("probe", &in);
    auto out = read_probe("probe");
    EXPECT_EQ(out->m_int, -7) << names;
    EXPECT_EQ(out->m_bits, 0x1fu) << names;  // five bits kept
    EXPECT_TRUE(out->m_flag);
    EXPECT_EQ(out->m_text, in.m_text);
    EXPECT_EQ(out->m_list, in.m_list);
  }
  // With stored names checked, a field read under another name is refused.
  CFG_SCOPE cfg{{"pdb_check_names", "on"}};
  PROBE in;
  write_probe("probe", &in);
  g_name_of_int = "renamed";
  EXPECT_THROW(read_probe("probe"), PDB_DATABASE_EXCEPTION);
  g_name_of_int = "m_int";
}

TEST(PdbArchive, RegistryRefusesASecondLiveClassHash) {
  const PDB_THUNK_INFO* registered = probe_thunk();  // registers on first use
  EXPECT_EQ(PDB_THUNK_INFO::find(0x12345678), registered);
  EXPECT_KAVU_INTERNAL_ERROR(
      PDB_THUNK_INFO(0x12345678, &create_probe, nullptr, nullptr, &construct_probe, &destroy_probe,
                     &transfer_probe, &probe_thunk, &this_probe, false, false, typeid(PROBE),
                     sizeof(PROBE), "TEST", __FILE__, __LINE__),
      "registry");
}

// The file appears whole at close or not at all.
TEST(PdbArchive, AnArchiveDroppedBeforeCloseLeavesTheOldFile) {
  PROBE first{1, 1, false, "first", {}};
  write_probe("keep", &first);
  {
    PROBE second{2, 2, false, "second", {}};
    PROBE* p = &second;
    PDB_ARCHIVE ar("keep", PDB_ARCHIVE::PDB_WRITE);
    pdb_write_ptr(ar, "", "cdb", &probe_field, &p, 0, -1, 0);
  }
  EXPECT_EQ(read_probe("keep")->m_text, "first");
  EXPECT_THROW(
      {
        PDB_ARCHIVE ar("no_such_dir/x", PDB_ARCHIVE::PDB_WRITE);
        ar.close();
      },
      PDB_INVALID_PATH);
  // Reading only opens a regular file: a FIFO would wait for a writer.
  ASSERT_EQ(::mkfifo("fifo.cdb", 0600), 0);
  std::filesystem::create_directory("dir.cdb");
  for (const char* name : {"fifo", "dir", "absent"})
    EXPECT_THROW(PDB_ARCHIVE(name, PDB_ARCHIVE::PDB_READ), PDB_INVALID_PATH) << name;
  std::filesystem::remove("fifo.cdb");
  std::filesystem::remove("dir.cdb");
}

// Staged archives, filled and written on threads of their own, reach their
// files only when closed: one dropped staged leaves the old file and no
// temporary file behind.
TEST(PdbArchive, StagedArchivesAppearOnlyWhenClosed) {
  PROBE old_one{0, 0, false, "old", {}};
  write_probe("staged0", &old_one);
  std::vector<std::unique_ptr<PDB_ARCHIVE>> archives(4);
  std::vector<std::thread> threads;
  for (size_t k = 0; k < archives.size(); ++k)
    threads.emplace_back([&archives, k] {
      PROBE in{int32_t(k), 0, false, "new " + std::to_string(k), {}};
      PROBE* p = &in;
      archives[k] = std::make_unique<PDB_ARCHIVE>("staged" + std::to_string(k), PDB_ARCHIVE::PDB_WRITE);
      pdb_write_ptr(*archives[k], "", "cdb", &probe_field, &p, 0, -1, 0);
      archives[k]->stage();
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(read_probe("staged0")->m_text, "old");
  for (size_t k = 1; k < archives.size(); ++k) {
    EXPECT_TRUE(archives[k]->is_staged());
    archives[k]->close();
    EXPECT_EQ(read_probe(("staged" + std::to_string(k)).c_str())->m_text, "new " + std::to_string(k));
  }
  archives[0].reset();
  EXPECT_EQ(read_probe("staged0")->m_text, "old");
  for (const auto& e : std::filesystem::directory_iterator("."))
    EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos) << e.path();
  // A file that cannot be written fails at the stage and leaves nothing open.
  PDB_ARCHIVE bad("no_such_dir/x", PDB_ARCHIVE::PDB_WRITE);
  EXPECT_THROW(bad.stage(), PDB_INVALID_PATH);
  EXPECT_FALSE(bad.is_open());
}

// An archive is written as every file of the library is: a link planted at
// the name it once staged under is not followed (another file was
// overwritten and the link renamed over the archive), a linked archive
// stays a link and its target takes the text, both names of a hard-linked
// archive see it, and a 0444 archive keeps its mode (it became 0644).
TEST(PdbArchive, ArchivesAreWrittenAsEveryFileIs) {
  namespace fs = std::filesystem;
  PROBE old_one{0, 0, false, "old", {}}, new_one{1, 0, false, "new", {}};
  std::ofstream("victim.txt") << "victim\n";
  struct ROW {
    const char* name;    // written as name.cdb
    const char* other;   // another name of its text ("" none)
    bool link;           // name.cdb is a symbolic link to other
    mode_t mode;
  } const rows[] = {{"planted", "", false, 0644}, {"linked", "linked_target.cdb", true, 0644},
                    {"hard", "hard_other.cdb", false, 0644}, {"readonly", "", false, 0444}};
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.name);
    if (r.mode == 0444 && ::geteuid() != 0) continue;  // only root may write it
    const std::string path = std::string(r.name) + ".cdb";
    write_probe(r.link ? "linked_target" : r.name, &old_one);
    if (r.link) fs::create_symlink(r.other, path);
    else if (*r.other) fs::create_hard_link(path, r.other);
    fs::permissions(path, fs::perms(r.mode));
    const std::string planted = fs::absolute(path).string() + ".tmp" + std::to_string(::getpid());
    if (std::string(r.name) == "planted") fs::create_symlink("victim.txt", planted);
    write_probe(r.name, &new_one);
    EXPECT_EQ(read_probe(r.name)->m_text, "new");
    if (*r.other) {
      EXPECT_EQ(fs::is_symlink(path), r.link);
      EXPECT_EQ(read_probe(fs::path(r.other).stem().c_str())->m_text, "new");
    }
    struct stat st;
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    if (!r.link) {
      EXPECT_EQ(st.st_mode & 07777, r.mode);
      EXPECT_TRUE(S_ISREG(st.st_mode));
    }
  }
  std::ifstream victim("victim.txt");
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(victim)), std::istreambuf_iterator<char>()), "victim\n");
  // A write refused for the writer's own reason names it, as the other
  // writers do (it said "File exists" and "Invalid argument").
  for (int k = 0; k < 100; ++k)
    fs::create_symlink("victim.txt", fs::absolute("taken.cdb").string() + ".tmp" + std::to_string(::getpid()) + "_" +
                                         std::to_string(k));
  for (const std::string& name : {std::string("taken"), std::string("nul\0x", 5)}) {
    try {
      PDB_ARCHIVE archive(name, PDB_ARCHIVE::PDB_WRITE);
      archive.put_record("r", "x", {1});
      archive.close();
      ADD_FAILURE() << "written";
    } catch (const PDB_INVALID_PATH& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find(name == "taken" ? ": all 100 names of a temporary file beside it are taken"
                                          : ": the path holds a NUL byte"),
                std::string::npos)
          << what;
    }
  }
}

// Many records: each is found by its name and extension together.
TEST(PdbArchive, ManyRecordsAreFoundByNameAndExtension) {
  PDB_ARCHIVE ar("many", PDB_ARCHIVE::PDB_WRITE);
  for (int i = 0; i < 3000; ++i) ar.put_record("r" + std::to_string(i), i % 2 ? "cdb" : "x", {uint8_t(i)});
  ar.put_record("r7", "cdb", {42});  // replaces
  ar.put_record("r", "7cdb", {43});  // a different record, not a twin of ("r7", "cdb")
  ar.close();
  PDB_ARCHIVE in("many", PDB_ARCHIVE::PDB_READ);
  EXPECT_EQ(*in.find_record("r7", "cdb"), std::vector<uint8_t>{42});
  EXPECT_EQ(*in.find_record("r", "7cdb"), std::vector<uint8_t>{43});
  EXPECT_EQ(*in.find_record("r2998", "x"), std::vector<uint8_t>{uint8_t(2998)});
  EXPECT_EQ(in.find_record("r2998", "cdb"), nullptr);
}

}  // namespace

namespace {

// Reading a file checks every length against the bytes the file has left:
// any cut of a one-record file but the bare header is refused whole, and so
// is a record stored twice.
TEST(PdbArchive, CutAndDoubledFilesAreRefused) {
  {
    PDB_ARCHIVE ar("whole", PDB_ARCHIVE::PDB_WRITE);
    ar.put_record("net", "cdb", std::vector<uint8_t>(300, 7));
    ar.close();
  }
  std::ifstream in("whole.cdb", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 300u);
  auto opens = [](const std::string& content) {
    std::ofstream("cut.cdb", std::ios::binary | std::ios::trunc) << content;
    PDB_ARCHIVE ar;
    try {
      ar.open("cut", PDB_ARCHIVE::PDB_READ);
    } catch (const PDB_DATABASE_EXCEPTION&) {
      return false;
    }
    return true;
  };
  for (size_t cut = 0; cut < bytes.size(); ++cut) EXPECT_EQ(opens(bytes.substr(0, cut)), cut == 8) << cut;
  EXPECT_TRUE(opens(bytes));
  EXPECT_FALSE(opens(bytes + bytes.substr(8)));
  // The message of a damaged archive quotes its path escaped.
  const std::string odd = "cut\x1b]0;x\a";
  std::ofstream(odd + ".cdb", std::ios::binary) << bytes + bytes.substr(8);
  try {
    PDB_ARCHIVE ar(odd, PDB_ARCHIVE::PDB_READ);
    ADD_FAILURE() << "a doubled record was read";
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    EXPECT_NE(std::string(e.what()).find("cut\\x1b]0;x\\x07.cdb"), std::string::npos) << e.what();
  }
  PDB_ARCHIVE back("whole", PDB_ARCHIVE::PDB_READ);
  ASSERT_NE(back.find_record("net", "cdb"), nullptr);
  EXPECT_EQ(*back.find_record("net", "cdb"), std::vector<uint8_t>(300, 7));
}

}  // namespace
