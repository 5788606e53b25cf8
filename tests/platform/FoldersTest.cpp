#include "platform/Folders.h"

// What the test itself uses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/Paths.h"
#include "tests/platform/TestUser.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using platform::PathSafeForRoot;
using platform::PreparePrivateFolderTree;
using platform::PrepareResult;
using platformtest::RootOwnedDir;
using platformtest::TestUser;

namespace {

struct stat StatOf(const fs::path& p) {
  struct stat st {};
  ::lstat(p.c_str(), &st);
  return st;
}

bool RootOwnedPrivateFolder(const fs::path& p) {
  struct stat st = StatOf(p);
  return S_ISDIR(st.st_mode) && st.st_uid == 0 && (st.st_mode & 07777) == 0755;
}

// Names left beside `dir` by a replacement that was not cleaned up.
std::size_t Leftovers(const fs::path& dir) {
  std::size_t n = 0;
  for (const auto& e : fs::directory_iterator(dir)) {
    n += e.path().filename().string().find(".refused-") != std::string::npos;
  }
  return n;
}

class RootFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root (to act as a second, unprivileged user)";
    ASSERT_FALSE(base_.path().empty());
    ASSERT_TRUE(user_.ok());
  }
  void Chown(const fs::path& p) { ASSERT_EQ(::lchown(p.c_str(), user_.uid(), user_.gid()), 0); }

  TestUser user_;
  RootOwnedDir base_;
};

}  // namespace

TEST_F(RootFoldersTest, PathSafeForRootAcceptsOnlyChainsNobodyElseCanChange) {
  EXPECT_TRUE(PathSafeForRoot("/"));
  EXPECT_TRUE(PathSafeForRoot("/usr/lib"));
  EXPECT_TRUE(PathSafeForRoot("/etc/passwd"));
  EXPECT_TRUE(PathSafeForRoot(base_.path().string()));
  // What does not exist yet is judged by its existing parent.
  EXPECT_TRUE(PathSafeForRoot((base_ / "not/made/yet").string()));
  // /tmp: anyone may take a name there.
  EXPECT_FALSE(PathSafeForRoot("/tmp"));
  EXPECT_FALSE(PathSafeForRoot("/tmp/anything"));
  EXPECT_FALSE(PathSafeForRoot("relative/path"));
  EXPECT_FALSE(PathSafeForRoot(""));
  EXPECT_FALSE(PathSafeForRoot((base_ / "..").string() + "/etc"));

  fs::create_directories(base_ / "users");
  Chown(base_ / "users");
  EXPECT_FALSE(PathSafeForRoot((base_ / "users").string()));
  EXPECT_FALSE(PathSafeForRoot((base_ / "users/below").string()));

  fs::create_directories(base_ / "shared");
  fs::permissions(base_ / "shared", fs::perms::group_write, fs::perm_options::add);
  EXPECT_FALSE(PathSafeForRoot((base_ / "shared").string()));

  fs::create_directory_symlink("/usr", base_ / "link");
  EXPECT_FALSE(PathSafeForRoot((base_ / "link").string()));
  EXPECT_FALSE(PathSafeForRoot((base_ / "link/lib").string()));

  kvtest::WriteFile(base_ / "file", "x");
  EXPECT_TRUE(PathSafeForRoot((base_ / "file").string()));
  EXPECT_FALSE(PathSafeForRoot((base_ / "file/below").string()));
}

TEST_F(RootFoldersTest, WorkFolderPreCreatedByTheUserIsReplacedByARootOwnedOne) {
  const fs::path top = base_ / "korvana_down";
  const fs::path work = top / "setup";
  EXPECT_EQ(PreparePrivateFolderTree(work.string(), base_.path().string()), PrepareResult::Ready);
  EXPECT_TRUE(RootOwnedPrivateFolder(top));
  EXPECT_TRUE(RootOwnedPrivateFolder(work));
  // Already fine: nothing changes, content stays.
  kvtest::WriteFile(work / "kept", "mine");
  EXPECT_EQ(PreparePrivateFolderTree(work.string() + "/", base_.path().string() + "/"),
            PrepareResult::Ready);
  EXPECT_EQ(kvtest::ReadFile(work / "kept"), "mine");

  // The user's own tree, with links to a file of root's and to a folder of root's in it: the
  // tree goes, what its links point at stays.
  kvtest::WriteFile(base_ / "secret", "root's");
  fs::create_directories(base_ / "precious");
  kvtest::WriteFile(base_ / "precious" / "data", "root's too");
  fs::remove_all(top);
  fs::create_directories(work / "Log" / "deep" / "deeper");
  fs::create_symlink(base_ / "secret", work / "Log" / "korvana_down.log");
  fs::create_directory_symlink(base_ / "precious", work / "language");
  for (const fs::path& p :
       {top, work, work / "Log", work / "Log" / "deep", work / "Log" / "deep" / "deeper",
        work / "Log" / "korvana_down.log", work / "language"}) {
    Chown(p);
  }
  EXPECT_EQ(PreparePrivateFolderTree(work.string(), base_.path().string()),
            PrepareResult::Replaced);
  EXPECT_TRUE(RootOwnedPrivateFolder(top));
  EXPECT_TRUE(RootOwnedPrivateFolder(work));
  EXPECT_TRUE(fs::is_empty(work));
  EXPECT_EQ(kvtest::ReadFile(base_ / "secret"), "root's");
  EXPECT_EQ(kvtest::ReadFile(base_ / "precious" / "data"), "root's too");
  EXPECT_EQ(Leftovers(base_.path()) + Leftovers(top), 0u);
}

TEST_F(RootFoldersTest, LinksFilesAndOpenFoldersOnTheWayAreReplaced) {
  const fs::path top = base_ / "korvana_down";
  const fs::path work = top / "setup";
  fs::create_directories(base_ / "elsewhere");
  Chown(base_ / "elsewhere");
  // A link at a component, pointing at a folder of the user's.
  fs::create_directory_symlink(base_ / "elsewhere", top);
  EXPECT_EQ(PreparePrivateFolderTree(work.string(), base_.path().string()),
            PrepareResult::Replaced);
  EXPECT_TRUE(RootOwnedPrivateFolder(top));
  EXPECT_TRUE(fs::is_empty(base_ / "elsewhere"));
  // A world-writable folder of root's, and a file where a folder belongs.
  fs::permissions(top, fs::perms::all);
  EXPECT_EQ(PreparePrivateFolderTree(work.string(), base_.path().string()),
            PrepareResult::Replaced);
  EXPECT_TRUE(RootOwnedPrivateFolder(top));
  fs::remove(work);
  kvtest::WriteFile(work, "not a folder");
  EXPECT_EQ(PreparePrivateFolderTree(work.string(), base_.path().string()),
            PrepareResult::Replaced);
  EXPECT_TRUE(RootOwnedPrivateFolder(work));
  EXPECT_EQ(Leftovers(base_.path()) + Leftovers(top), 0u);
}

TEST_F(RootFoldersTest, AnUnsafeBaseIsNotUsedAtAll) {
  kvtest::TempDir inTmp;
  EXPECT_EQ(PreparePrivateFolderTree((inTmp / "a/b").string(), inTmp.path().string()),
            PrepareResult::Failed);
  EXPECT_FALSE(fs::exists(inTmp / "a"));
  Chown(base_.path());
  EXPECT_EQ(PreparePrivateFolderTree((base_ / "a/b").string(), base_.path().string()),
            PrepareResult::Failed);
  EXPECT_FALSE(fs::exists(base_ / "a"));
  // The path must lie below the base.
  ASSERT_EQ(::lchown(base_.path().c_str(), 0, 0), 0);
  EXPECT_EQ(PreparePrivateFolderTree("/elsewhere/a", base_.path().string()), PrepareResult::Failed);
  EXPECT_EQ(PreparePrivateFolderTree((base_ / "a/../../b").string(), base_.path().string()),
            PrepareResult::Failed);
}

TEST_F(RootFoldersTest, FilesAndFoldersAreMadeWithoutFollowingLinks) {
  kvtest::WriteFile(base_ / "target", "untouched");
  fs::create_symlink(base_ / "target", base_ / "domain");
  EXPECT_TRUE(platform::WriteFileNoFollow((base_ / "domain").string(), "written", 0640));
  EXPECT_EQ(kvtest::ReadFile(base_ / "target"), "untouched");
  EXPECT_FALSE(fs::is_symlink(base_ / "domain"));
  EXPECT_EQ(kvtest::ReadFile(base_ / "domain"), "written");
  EXPECT_EQ(StatOf(base_ / "domain").st_mode & 07777, 0640u);
  // Missing folders are made on the way.
  EXPECT_TRUE(platform::WriteFileNoFollow((base_ / "new/folder/file").string(), ""));
  EXPECT_TRUE(fs::is_regular_file(base_ / "new/folder/file"));

  fs::create_symlink(base_ / "target", base_ / "log");
  errno = 0;
  EXPECT_EQ(platform::OpenFileNoFollow((base_ / "log").string(), O_WRONLY | O_APPEND), -1);
  EXPECT_EQ(errno, ELOOP);
  int fd = platform::OpenFileNoFollow((base_ / "new/log").string(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  ::close(fd);

  // As root a link anywhere in a folder path is refused, and nothing is made through it.
  fs::create_directories(base_ / "real");
  fs::create_directory_symlink(base_ / "real", base_ / "via");
  EXPECT_FALSE(platform::CreateFolderTree((base_ / "via/sub").string()));
  EXPECT_FALSE(platform::WriteFileNoFollow((base_ / "via/file").string(), "x"));
  EXPECT_TRUE(fs::is_empty(base_ / "real"));
  EXPECT_TRUE(platform::CreateFolderTree((base_ / "real/sub/sub").string()));
  EXPECT_TRUE(fs::is_directory(base_ / "real/sub/sub"));
}
