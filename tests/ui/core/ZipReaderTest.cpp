#include "ui/core/ZipReader.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/TestSupport.h"
#include "ui/core/SkinResources.h"

namespace SkinUI {
namespace {

// A real archive made with the zip tool, as the build makes the skin package.
std::string MakeZip(const kvtest::TempDir& dir) {
  kvtest::WriteFile(dir / "src/skin.xml", "<Window/>");
  std::filesystem::create_directories(dir / "src/img");
  kvtest::WriteFile(dir / "src/img/logo.png", kvtest::PatternBytes(5000, 3));
  std::string zip = (dir / "skin.zip").string();
  std::string cmd =
      "cd '" + (dir / "src").string() + "' && zip -q -X -D -9 '" + zip + "' skin.xml img/logo.png";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  return zip;
}

TEST(ZipReaderTest, LooksNamesUpIgnoringCaseAndBackslashes) {
  kvtest::TempDir dir;
  CZipReader zip;
  ASSERT_TRUE(zip.OpenFile(MakeZip(dir)));
  ASSERT_EQ(zip.GetEntryCount(), 2);
  int logo = zip.Find("img/logo.png");
  ASSERT_GE(logo, 0);
  EXPECT_EQ(zip.Find(L"img\\logo.png"), logo);
  EXPECT_EQ(zip.Find(L"IMG/LOGO.PNG"), logo);
  EXPECT_EQ(zip.Find(L"Img\\Logo.Png"), logo);
  EXPECT_EQ(zip.Find("img/logo.pn"), -1);
  EXPECT_EQ(zip.Find(""), -1);
  EXPECT_EQ(zip.GetEntryName(logo), "img/logo.png");
  EXPECT_EQ(zip.GetEntrySize(logo), 5000u);
  EXPECT_EQ(zip.GetEntrySize(99), 0u);
  EXPECT_EQ(zip.GetEntryName(-1), "");
  std::vector<unsigned char> out;
  ASSERT_TRUE(zip.Unpack(logo, out));
  EXPECT_EQ(std::string(out.begin(), out.end()), kvtest::PatternBytes(5000, 3));
  EXPECT_FALSE(zip.Unpack(7, out));
}

TEST(ZipReaderTest, NamesOf256CharactersOrMoreAreNeverFound) {
  kvtest::TempDir dir;
  std::string longName(255, 'a');
  kvtest::WriteFile(dir / longName, "x");
  std::string zip = (dir / "l.zip").string();
  ASSERT_EQ(
      std::system(("cd '" + dir.path().string() + "' && zip -q '" + zip + "' " + longName).c_str()),
      0);
  CZipReader r;
  ASSERT_TRUE(r.OpenFile(zip));
  EXPECT_GE(r.Find(longName), 0);
  EXPECT_EQ(r.Find(longName + "a"), -1);
  EXPECT_EQ(r.Find(std::wstring(256, L'a')), -1);
}

TEST(ZipReaderTest, RejectsDamagedArchivesAndEntries) {
  kvtest::TempDir dir;
  std::string bytes = kvtest::ReadFile(MakeZip(dir));
  CZipReader r;
  EXPECT_FALSE(r.OpenMemory(nullptr, 0));
  EXPECT_FALSE(r.OpenMemory("not a zip at all", 16));
  EXPECT_FALSE(r.OpenMemory(bytes.data(), bytes.size() / 2));
  EXPECT_FALSE(r.IsOpen());
  // Flip a byte inside the compressed logo: the entry no longer passes its check.
  std::string damaged = bytes;
  std::size_t at = damaged.find("img/logo.png");
  ASSERT_NE(at, std::string::npos);
  damaged[at + 12 + 30 + 200] ^= 0x5A;
  ASSERT_TRUE(r.OpenMemory(damaged.data(), damaged.size()));
  std::vector<unsigned char> out;
  EXPECT_FALSE(r.Unpack(r.Find("img/logo.png"), out));
  EXPECT_TRUE(out.empty());
}

TEST(ZipReaderTest, AnEntryClaimingAHugeSizeIsNotUnpacked) {
  kvtest::TempDir dir;
  kvtest::WriteFile(dir / "small.bin", "0123456789");
  std::string zip = (dir / "a.zip").string();
  std::string cmd = "cd '" + dir.path().string() + "' && zip -q -X -0 '" + zip + "' small.bin";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::string bytes = kvtest::ReadFile(zip);
  // Both headers claim 4 GiB less 16 bytes for the 10 stored bytes.
  auto patch = [&](const char* signature, std::size_t offset) {
    std::size_t at = bytes.find(signature);
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at + offset, 4, "\xF0\xFF\xFF\xFF", 4);
  };
  patch("PK\x03\x04", 22);
  patch("PK\x01\x02", 24);
  CZipReader r;
  ASSERT_TRUE(r.OpenMemory(bytes.data(), bytes.size()));
  int index = r.Find("small.bin");
  ASSERT_GE(index, 0);
  EXPECT_EQ(r.GetEntrySize(index), 0xFFFFFFF0u);
  std::vector<unsigned char> out{1};
  EXPECT_FALSE(r.Unpack(index, out));
  EXPECT_TRUE(out.empty());
}

TEST(ZipReaderTest, SkinResourcesFallBackToDiskForImagesOnly) {
  kvtest::TempDir dir;
  std::string zip = MakeZip(dir);
  kvtest::WriteFile(dir / "banner.png", "banner bytes");
  CSkinResources res;
  ASSERT_TRUE(res.OpenZipFile(zip));
  std::vector<unsigned char> out;
  EXPECT_TRUE(res.ReadImage(L"IMG\\logo.png", out));
  EXPECT_EQ(out.size(), 5000u);
  std::string disk = (dir / "banner.png").string();
  std::wstring wdisk(disk.begin(), disk.end());
  EXPECT_TRUE(res.ReadImage(wdisk, out));
  EXPECT_EQ(std::string(out.begin(), out.end()), "banner bytes");
  EXPECT_FALSE(res.ReadSkinFile(wdisk, out));
  EXPECT_FALSE(res.ReadImage(L"img/none.png", out));

  // A folder works the same way, names compared without regard to case.
  CSkinResources folder;
  std::string src = (dir / "src").string();
  ASSERT_TRUE(folder.OpenFolder(src));
  EXPECT_TRUE(folder.ReadSkinFile(L"img\\LOGO.png", out));
  EXPECT_EQ(out.size(), 5000u);
  // Folder names never reach outside the folder; images may still come from disk paths.
  EXPECT_FALSE(folder.ReadSkinFile(L"../banner.png", out));
  EXPECT_FALSE(folder.ReadSkinFile(wdisk, out));
  EXPECT_TRUE(folder.ReadImage(wdisk, out));
  EXPECT_FALSE(folder.OpenFolder((dir / "missing").string()));
}

}  // namespace
}  // namespace SkinUI
