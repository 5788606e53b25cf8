#include "platform/VersionRecord.h"

// What the test itself uses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstddef>
#include <filesystem>

#include "platform/Paths.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

// This test program carries the record 9.8.7.65535 / "Probe \xc3\xa9" (see CMakeLists.txt).
std::string OwnImage() {
  return kvtest::ReadFile(platform::ExecutablePath());
}

// Where the record's header sits in the image: the magic followed by this program's numbers
// (the magic alone also appears among the reader's own constants).
std::size_t RecordOffset(const std::string& image) {
  const std::string numbers("\x09\x00\x08\x00\x07\x00\xff\xff", 8);
  return image.find(std::string(platform::kVersionMagic, sizeof platform::kVersionMagic) + numbers);
}

}  // namespace

TEST(VersionRecord, ReadFromAnyCopyOfTheExecutable) {
  kvtest::TempDir dir;
  fs::copy_file(platform::ExecutablePath(), dir / "copy without the name");
  for (const fs::path& p : {fs::path(platform::ExecutablePath()), dir / "copy without the name"}) {
    std::optional<platform::VersionRecord> r = platform::ReadVersionRecord(p.string());
    ASSERT_TRUE(r) << p;
    EXPECT_EQ(r->version[0], 9);
    EXPECT_EQ(r->version[1], 8);
    EXPECT_EQ(r->version[2], 7);
    EXPECT_EQ(r->version[3], 65535);
    EXPECT_EQ(r->description, "Probe \xc3\xa9");
  }
  // Programs built elsewhere, and what is no program, have none.
  kvtest::WriteFile(dir / "text",
                    "\x7f"
                    "ELF but not really");
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);  // must not wait for a writer
  for (const fs::path& p :
       {fs::path("/bin/true"), dir / "text", dir.path(), dir / "missing", dir / "pipe"}) {
    EXPECT_FALSE(platform::ReadVersionRecord(p.string())) << p;
  }
}

TEST(VersionRecord, DamagedExecutableGivesNoRecordAndNoCrash) {
  kvtest::TempDir dir;
  const std::string image = OwnImage();
  ASSERT_GT(image.size(), 64u);
  // Cut short at many lengths: the section table or the record itself is then missing.
  for (std::size_t len : {std::size_t{4}, std::size_t{63}, image.size() / 2, image.size() - 1}) {
    fs::path cut = dir / ("cut" + std::to_string(len));
    kvtest::WriteFile(cut, image.substr(0, len));
    EXPECT_FALSE(platform::ReadVersionRecord(cut.string())) << len;
  }
  // Section table offset pointing past the end of the file.
  std::string bad = image;
  for (int i = 0; i < 8; ++i) bad[40 + i] = static_cast<char>(0xff);
  kvtest::WriteFile(dir / "badoff", bad);
  EXPECT_FALSE(platform::ReadVersionRecord((dir / "badoff").string()));

  // A record that claims a longer description than its section holds, or a broken magic.
  const std::size_t at = RecordOffset(image);
  ASSERT_NE(at, std::string::npos);
  const std::size_t lengthAt = at + offsetof(platform::VersionRecordHeader, descriptionLength);
  std::string longer = image;
  longer[lengthAt] = static_cast<char>(0xff);
  longer[lengthAt + 1] = static_cast<char>(0x7f);
  kvtest::WriteFile(dir / "longer", longer);
  EXPECT_FALSE(platform::ReadVersionRecord((dir / "longer").string()));
  std::string magic = image;
  magic[at] = 'X';
  kvtest::WriteFile(dir / "magic", magic);
  EXPECT_FALSE(platform::ReadVersionRecord((dir / "magic").string()));
}
