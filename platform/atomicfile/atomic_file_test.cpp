#include "platform/atomicfile/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>

namespace corvane::files {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/corvane-atomic-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    dir_ = folder;
    previousUmask_ = ::umask(022);  // the usual one, which would leave 0644 and 0755
  }
  void TearDown() override {
    ::umask(previousUmask_);
    fs::remove_all(dir_);
  }
  static mode_t Mode(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
  }
  static std::string Read(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The folder's names, sorted.
  std::string Names() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename());
    std::string out;
    for (const auto& name : names) out += name + " ";
    return out;
  }

  fs::path dir_;
  mode_t previousUmask_ = 0;
};

TEST_F(AtomicFileTest, FilesAndFoldersGetTheModeAskedForWhateverTheUmask) {
  const struct {
    AtomicWrite how;
    mode_t before, after;
  } cases[] = {
      {{}, 0644, 0600},                           // a private file, also one that was readable
      {{.mode = 0640}, 0, 0640},                  // a new record for the group
      {{.mode = 0600, .keepMode = true}, 0664, 0664},  // a file of an administrator's
      {{.mode = 0640, .keepMode = true}, 0, 0640},
  };
  int n = 0;
  for (const auto& c : cases) {
    const fs::path file = dir_ / ("file" + std::to_string(++n));
    if (c.before != 0) {
      std::ofstream(file) << "old";
      ::chmod(file.c_str(), c.before);
    }
    WriteFileAtomically(file, "new", c.how);
    EXPECT_EQ(Read(file), "new") << n;
    EXPECT_EQ(Mode(file), c.after) << n;
  }
  MakeFolders(dir_ / "a" / "b", 0700);
  EXPECT_EQ(Mode(dir_ / "a"), 0700u);
  EXPECT_EQ(Mode(dir_ / "a" / "b"), 0700u);
  std::ofstream(dir_ / "log") << "kept";
  ASSERT_TRUE(EnsureFileMode(dir_ / "log", 0600));
  ASSERT_TRUE(EnsureFileMode(dir_ / "new.log", 0600));
  EXPECT_EQ(Read(dir_ / "log"), "kept");
  EXPECT_EQ(Mode(dir_ / "log"), 0600u);
  EXPECT_EQ(Mode(dir_ / "new.log"), 0600u);
}

TEST_F(AtomicFileTest, ThroughASymbolicLinkTheLinkStaysAndItsTargetIsReplaced) {
  fs::create_directory(dir_ / "elsewhere");
  std::ofstream(dir_ / "elsewhere" / "real") << "old";
  fs::create_symlink("elsewhere/real", dir_ / "hop");
  fs::create_symlink("hop", dir_ / "link");
  WriteFileAtomically(dir_ / "link", "new", {.throughSymlink = true});
  EXPECT_TRUE(fs::is_symlink(dir_ / "link"));
  EXPECT_EQ(Read(dir_ / "elsewhere" / "real"), "new");

  WriteFileAtomically(dir_ / "hop", "own", {});  // without: the link itself becomes a file
  EXPECT_FALSE(fs::is_symlink(dir_ / "hop"));
  EXPECT_EQ(Read(dir_ / "elsewhere" / "real"), "new");
}

TEST_F(AtomicFileTest, AFailedWriteLeavesTheOldFileAndNoTemporary) {
  fs::create_directory(dir_ / "target");  // a rename over a folder fails
  for (const AtomicWrite& how : {AtomicWrite{}, AtomicWrite{.temporaryTag = ".tmp-", .randomTemporary = true,
                                                            .hiddenTemporary = true}}) {
    try {
      WriteFileAtomically(dir_ / "target", "text", how);
      ADD_FAILURE() << "a write over a folder must fail";
    } catch (const std::system_error& e) {
      EXPECT_NE(std::string(e.what()).find("cannot replace " + (dir_ / "target").string()), std::string::npos)
          << e.what();
    }
    EXPECT_EQ(Names(), "target ");
  }
}

TEST_F(AtomicFileTest, RootKeepsTheOwnerOfTheFileOrGivesTheFolders) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  const uid_t user = 65534;  // nobody
  ASSERT_EQ(::chown(dir_.c_str(), user, user), 0);
  WriteFileAtomically(dir_ / "record", "1", {.mode = 0640, .keepOwner = true});
  struct stat st {};
  ASSERT_EQ(::stat((dir_ / "record").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, user);
  EXPECT_EQ(st.st_gid, user);
  ASSERT_EQ(::chown((dir_ / "record").c_str(), 0, 0), 0);
  WriteFileAtomically(dir_ / "record", "2", {.mode = 0640, .keepOwner = true});
  ASSERT_EQ(::stat((dir_ / "record").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
}

}  // namespace
}  // namespace corvane::files
