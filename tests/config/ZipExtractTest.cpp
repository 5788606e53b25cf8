#include "config/ZipExtract.h"

// What the test itself uses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/config/ConfigFixtures.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

bool Extract(const std::string& zip, const fs::path& folder) {
  return ExtractZipToFolder(zip.data(), zip.size(), folder.wstring() + L"/");
}

TEST(ExtractZipToFolder, WritesEntriesIntoAFolderItCreates) {
  kvtest::TempDir dir;
  std::string big = kvtest::PatternBytes(300 * 1024, 7);  // larger than one read chunk
  std::string zip =
      configtest::MakeZip({{"language.ini", "[Language]\r\n1033=English\r\n"}, {"big.bin", big}});
  fs::path folder = dir / "work" / "language";
  ASSERT_TRUE(Extract(zip, folder));
  EXPECT_EQ(kvtest::ReadFile(folder / "language.ini"), "[Language]\r\n1033=English\r\n");
  EXPECT_EQ(kvtest::ReadFile(folder / "big.bin"), big);
  // Nothing but the entries: no temporary files left beside them.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
  struct stat st;
  ASSERT_EQ(stat((folder / "big.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  // Even under a permissive umask nobody else may replace what the program reads.
  mode_t old = umask(0);
  ASSERT_TRUE(Extract(zip, dir / "open" / "language"));
  umask(old);
  ASSERT_EQ(stat((dir / "open" / "language").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  ASSERT_EQ(stat((dir / "open" / "language" / "language.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(ExtractZipToFolder, ReplacesFilesTheUserEdited) {
  kvtest::TempDir dir;
  std::string zip = configtest::MakeZip({{"text.ini", "packaged"}});
  ASSERT_TRUE(Extract(zip, dir.path()));
  kvtest::WriteFile(dir / "text.ini", "edited by the user, and longer than the packaged text");
  ASSERT_TRUE(Extract(zip, dir.path()));
  EXPECT_EQ(kvtest::ReadFile(dir / "text.ini"), "packaged");
}

TEST(ExtractZipToFolder, SubfoldersBackslashesAndZeroSizeEntries) {
  kvtest::TempDir dir;
  std::string zip = configtest::MakeZip(
      {{"sub/deeper/a.txt", "A"}, {"win\\style.txt", "B"}, {"emptydir/", ""}, {"zero", ""}});
  ASSERT_TRUE(Extract(zip, dir.path()));
  EXPECT_EQ(kvtest::ReadFile(dir / "sub" / "deeper" / "a.txt"), "A");
  EXPECT_EQ(kvtest::ReadFile(dir / "win" / "style.txt"), "B");
  EXPECT_TRUE(fs::is_directory(dir / "emptydir"));
  // A zero-size entry is taken as a folder.
  EXPECT_TRUE(fs::is_directory(dir / "zero"));
}

TEST(ExtractZipToFolder, UnsafeNamesAreSkippedAndTheRestIsWritten) {
  kvtest::TempDir dir;
  fs::path folder = dir / "a" / "language";
  fs::path outside = dir / "a" / "escaped.txt";
  fs::path absolute = dir / "absolute.txt";
  std::string zip = configtest::MakeZip({{"../escaped.txt", "x"},
                                         {"sub/../../escaped.txt", "x"},
                                         {"..\\escaped.txt", "x"},
                                         {absolute.string(), "x"},
                                         {"C:\\absolute.txt", "x"},
                                         {"fine..name.txt", "kept"},
                                         {"good.ini", "ok"}});
  EXPECT_TRUE(Extract(zip, folder));
  EXPECT_FALSE(fs::exists(outside));
  EXPECT_FALSE(fs::exists(absolute));
  EXPECT_FALSE(fs::exists(folder / "C:"));
  EXPECT_EQ(kvtest::ReadFile(folder / "fine..name.txt"), "kept");
  EXPECT_EQ(kvtest::ReadFile(folder / "good.ini"), "ok");
}

TEST(ExtractZipToFolder, DamagedArchivesAreReported) {
  kvtest::TempDir dir;
  std::string zip = configtest::MakeZip({{"a.txt", kvtest::PatternBytes(4096, 3)}});
  EXPECT_FALSE(Extract("not a zip archive at all", dir / "garbage"));
  EXPECT_FALSE(ExtractZipToFolder(nullptr, 0, (dir / "null").wstring()));
  EXPECT_FALSE(Extract(zip.substr(0, zip.size() / 2), dir / "half"));

  // Flip a byte inside the compressed data: the checksum or inflate fails, and the target
  // is not replaced by damaged bytes.
  std::string bad = zip;
  bad[40] = static_cast<char>(bad[40] ^ 0x55);
  kvtest::WriteFile(dir / "bad" / "a.txt", "previous");
  EXPECT_FALSE(Extract(bad, dir / "bad"));
  EXPECT_EQ(kvtest::ReadFile(dir / "bad" / "a.txt"), "previous");

  // An entry that cannot be written (a folder stands in its place) fails the call; the others
  // are still written.
  fs::create_directories(dir / "blocked" / "a.txt");
  std::string two = configtest::MakeZip({{"a.txt", "A"}, {"b.txt", "B"}});
  EXPECT_FALSE(Extract(two, dir / "blocked"));
  EXPECT_EQ(kvtest::ReadFile(dir / "blocked" / "b.txt"), "B");
}

// Damage at any place of the archive is reported or harmless: never a crash, never a file
// outside the folder, never a file with other bytes than the entry's.
TEST(ExtractZipToFolder, ArchiveCutOrDamagedAnywhere) {
  kvtest::TempDir dir;
  const std::string body = kvtest::PatternBytes(700, 5);
  const std::string zip = configtest::MakeZip({{"a/b.ini", body}, {"c.ini", "cc"}});
  for (std::size_t n = 0; n < zip.size(); n += 7) {
    fs::path folder = dir / ("cut" + std::to_string(n)) / "lang";
    Extract(zip.substr(0, n), folder);
    std::string damaged = zip;
    damaged[n] = static_cast<char>(damaged[n] ^ 0xA5);
    Extract(damaged, folder);
    if (fs::exists(folder / "a" / "b.ini")) {
      EXPECT_EQ(kvtest::ReadFile(folder / "a" / "b.ini"), body) << "damaged at " << n;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / ("cut" + std::to_string(n))),
                            fs::directory_iterator()),
              1);
  }
}

}  // namespace
