#include "kvhttp/download/storage.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "kvhttp/download/PositionedFile.h"
#include "kvhttp/download/detail/PathText.h"
#include "tests/support/TestSupport.h"

namespace kvhttp {
namespace {

std::wstring Wide(const std::filesystem::path& p) {
  return detail::NativeToPath(p.string());
}

TEST(DefaultStorage, WriteFarPastTheEndLeavesZerosBefore) {
  kvtest::TempDir dir;
  const auto path = dir / "out.tmp";
  const std::string data = kvtest::PatternBytes(2048);
  {
    default_storage s;
    boost::system::error_code ec;
    s.open(Wide(path), ec);
    ASSERT_FALSE(ec) << ec.message();
    EXPECT_EQ(s.write(data.data(), 1000000, 2048), 2048);
  }
  const std::string got = kvtest::ReadFile(path);
  ASSERT_EQ(got.size(), 1002048u);
  EXPECT_EQ(got.substr(0, 1000000), std::string(1000000, '\0'));
  EXPECT_EQ(got.substr(1000000), data);
}

TEST(DefaultStorage, ReopenKeepsContentsAndReadsAtOffsets) {
  kvtest::TempDir dir;
  const auto path = dir / "out.tmp";
  kvtest::WriteFile(path, "0123456789");
  default_storage s;
  boost::system::error_code ec;
  s.open(Wide(path), ec);
  ASSERT_FALSE(ec);
  EXPECT_EQ(s.write("ab", 4, 2), 2);
  char buf[16] = {};
  EXPECT_EQ(s.read(buf, 2, 16), 8);  // short at the end, no error
  EXPECT_EQ(std::string(buf, 8), "23ab6789");
  // Current-position reads advance; is_end neither moves nor lies.
  EXPECT_EQ(s.read(buf, 6), 6);
  EXPECT_FALSE(s.is_end());
  EXPECT_EQ(s.read(buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "6789");
  EXPECT_TRUE(s.is_end());
  EXPECT_TRUE(s.is_end());
  EXPECT_EQ(s.write("XY", 2), 2);  // appends at the position kept by is_end
  s.close();
  EXPECT_EQ(kvtest::ReadFile(path), "0123ab6789XY");
}

TEST(DefaultStorage, TruncateOnlyShrinks) {
  kvtest::TempDir dir;
  const auto path = dir / "out.tmp";
  kvtest::WriteFile(path, std::string(100, 'x'));
  default_storage s;
  boost::system::error_code ec;
  s.open(Wide(path), ec);
  ASSERT_FALSE(ec);
  EXPECT_TRUE(s.truncate(200));
  EXPECT_EQ(std::filesystem::file_size(path), 100u);
  EXPECT_TRUE(s.truncate(10));
  EXPECT_EQ(std::filesystem::file_size(path), 10u);
  EXPECT_TRUE(s.sync());
}

TEST(PositionedFile, OpenErrorsAndModes) {
  kvtest::TempDir dir;
  PositionedFile f;
  boost::system::error_code ec;
  EXPECT_FALSE(f.open(Wide(dir / "missing"), PositionedFile::kReadOnly, ec));
  EXPECT_EQ(ec.value(), ENOENT);
  EXPECT_FALSE(f.is_open());
  EXPECT_FALSE(f.open(Wide(dir / "no" / "such" / "dir"), PositionedFile::kReadWrite, ec));
  EXPECT_TRUE(ec);
  char c = 0;
  FileBuffer b{&c, 1};
  EXPECT_EQ(f.read_at(0, &b, 1, ec), -1);
  EXPECT_EQ(ec.value(), EBADF);

  // A read-only file refuses writes with the system's error.
  kvtest::WriteFile(dir / "ro", "abc");
  ASSERT_TRUE(f.open(Wide(dir / "ro"), PositionedFile::kReadOnly, ec));
  ConstFileBuffer w{"z", 1};
  EXPECT_EQ(f.write_at(0, &w, 1, ec), -1);
  EXPECT_EQ(ec.value(), EBADF);

  // Non-ASCII names reach the file system as UTF-8.
  const std::wstring name = Wide(dir.path()) + L"/\u00e9t\u00e9-\u4e2d.tmp";
  ASSERT_TRUE(f.open(name, PositionedFile::kReadWrite | PositionedFile::kWriteThrough, ec));
  EXPECT_EQ(f.write_at(0, &w, 1, ec), 1);
  f.close();
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "\xc3\xa9t\xc3\xa9-\xe4\xb8\xad.tmp"));
}

TEST(PositionedFile, GatherWriteAndScatterReadAtCurrentPosition) {
  kvtest::TempDir dir;
  PositionedFile f;
  boost::system::error_code ec;
  ASSERT_TRUE(f.open(Wide(dir / "g"), PositionedFile::kReadWrite, ec));
  const std::string a = kvtest::PatternBytes(5000, 2), b = kvtest::PatternBytes(3, 3);
  ConstFileBuffer parts[] = {{a.data(), a.size()}, {nullptr, 0}, {b.data(), b.size()}};
  EXPECT_EQ(f.write_at(-1, parts, 3, ec), 5003);
  EXPECT_EQ(f.tell(ec), 5003);
  EXPECT_EQ(f.write_at(-1, parts + 2, 1, ec), 3);
  EXPECT_EQ(f.size(ec), 5006);
  std::string x(4000, '\0'), y(2000, '\0');
  FileBuffer in[] = {{x.data(), x.size()}, {y.data(), y.size()}};
  ASSERT_TRUE(f.seek(0, ec));
  EXPECT_EQ(f.read_at(-1, in, 2, ec), 5006);
  EXPECT_EQ(x + y.substr(0, 1006), a + b + b);
  EXPECT_EQ(f.tell(ec), 5006);
}

}  // namespace
}  // namespace kvhttp
