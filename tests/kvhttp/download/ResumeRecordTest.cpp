#include "kvhttp/download/ResumeRecord.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "kvhttp/download/detail/PathText.h"
#include "tests/support/TestSupport.h"

namespace kvhttp {
namespace {

using namespace std::string_literals;

std::wstring Wide(const std::filesystem::path& p) {
  return detail::NativeToPath(p.string());
}

ResumeRecordContent Sample() {
  ResumeRecordContent c;
  c.finalUrl = "http://127.0.0.1:8080/a%20b.bin?x=1";
  c.fileSize = 1000000;
  c.pieceSize = 16384;
  c.bitfield = PieceBitfield(62);
  c.bitfield.set(0);
  c.bitfield.set(61);
  return c;
}

TEST(ResumeRecord, EncodesTheFiveKeysInOrderThenTheValidator) {
  ResumeRecordContent sample = Sample();
  sample.validator = "\"5f-1\"";
  const std::string text = EncodeResumeRecord(sample);
  EXPECT_EQ(text,
            "d8:bitfield8:\x80\0\0\0\0\0\0\x04"s
            "9:file_sizei1000000e9:final_url35:http://127.0.0.1:8080/a%20b.bin?x=1"
            "9:piece_numi62e10:piece_sizei16384e9:validator6:\"5f-1\"e");
  ResumeRecordContent back;
  ASSERT_TRUE(DecodeResumeRecord(text, back));
  EXPECT_EQ(back.finalUrl, Sample().finalUrl);
  EXPECT_EQ(back.fileSize, 1000000);
  EXPECT_EQ(back.pieceSize, 16384);
  EXPECT_EQ(back.bitfield.bytes(), Sample().bitfield.bytes());
  EXPECT_EQ(back.validator, sample.validator);

  // A record written before the validator existed is still read, with no validator.
  const std::string old =
      "d8:bitfield8:\x80\0\0\0\0\0\0\x04"s
      "9:file_sizei1000000e9:final_url35:http://127.0.0.1:8080/a%20b.bin?x=1"
      "9:piece_numi62e10:piece_sizei16384ee";
  ASSERT_TRUE(DecodeResumeRecord(old, back));
  EXPECT_EQ(back.validator, "");
  EXPECT_EQ(back.fileSize, 1000000);
}

TEST(ResumeRecord, InconsistentRecordsAreRefused) {
  auto record = [](const std::string& bitfield, const std::string& size, const std::string& num,
                   const std::string& piece) {
    return "d8:bitfield" + std::to_string(bitfield.size()) + ":" + bitfield + "9:file_size" + size +
           "9:final_url3:x:y9:piece_num" + num + "10:piece_size" + piece + "e";
  };
  ResumeRecordContent out;
  std::string why;
  ASSERT_TRUE(DecodeResumeRecord(record("\xff\xff", "i1000e", "i10e", "i100e"), out, &why)) << why;
  EXPECT_EQ(out.bitfield.count(), 10);
  const std::string bad[] = {
      record("\xff", "i1000e", "i10e", "i100e"),       // bitfield one byte short
      record("\xff\xff", "i1000e", "i10e", "i0e"),     // piece size 0
      record("\xff\xff", "i1000e", "i10e", "i-100e"),  // negative piece size
      record("\xff\xff", "i1000e", "i11e", "i100e"),   // count does not fit the sizes
      record("\xff\xff", "i-1e", "i10e", "i100e"),     // negative file size
      record("\xff\xff", "4:1000", "i10e", "i100e"),   // size of the wrong kind
      "d9:file_sizei1000ee",                           // keys missing
      "d8:bitfield2:\xff\xff"
      "9:file_sizei1000e9:final_url3:x:y9:piece_numi10e10:piece_sizei100",
      "li1ee",
  };
  for (const std::string& b : bad) EXPECT_FALSE(DecodeResumeRecord(b, out)) << b;
}

TEST(ResumeRecord, ShorterRewriteLeavesATailThatReadersIgnore) {
  kvtest::TempDir dir;
  const std::wstring path = Wide(dir / "f.cfg");
  PositionedFile file;
  ResumeRecordContent big = Sample();
  big.finalUrl += std::string(100, 'q');
  ASSERT_TRUE(WriteResumeRecord(file, path, big));
  ASSERT_TRUE(file.is_open());
  ASSERT_TRUE(WriteResumeRecord(file, path, Sample()));
  file.close();
  const std::string onDisk = kvtest::ReadFile(dir / "f.cfg");
  EXPECT_EQ(onDisk.size(), EncodeResumeRecord(big).size());

  PositionedFile reader;
  ResumeRecordContent got;
  ASSERT_EQ(ReadResumeRecordInto(reader, path, got), ResumeRecordRead::kLoaded);
  EXPECT_TRUE(reader.is_open());  // kept for the writer
  EXPECT_EQ(got.finalUrl, Sample().finalUrl);

  std::int64_t size = 0;
  std::wstring url;
  ASSERT_TRUE(ReadResumeRecord(path, size, url));
  EXPECT_EQ(size, 1000000);
  EXPECT_EQ(url, L"http://127.0.0.1:8080/a%20b.bin?x=1");
}

TEST(ResumeRecord, EmptyMissingAndBrokenFiles) {
  kvtest::TempDir dir;
  PositionedFile f;
  ResumeRecordContent got;
  std::int64_t size = 7;
  std::wstring url = L"keep";

  // Missing: the pre-download check fails, the downloader's read creates an empty record.
  EXPECT_FALSE(ReadResumeRecord(Wide(dir / "none.cfg"), size, url));
  EXPECT_FALSE(std::filesystem::exists(dir / "none.cfg"));
  EXPECT_EQ(ReadResumeRecordInto(f, Wide(dir / "none.cfg"), got), ResumeRecordRead::kEmpty);
  EXPECT_TRUE(std::filesystem::exists(dir / "none.cfg"));

  // Zero bytes: success with the outputs untouched.
  EXPECT_TRUE(ReadResumeRecord(Wide(dir / "none.cfg"), size, url));
  EXPECT_EQ(size, 7);
  EXPECT_EQ(url, L"keep");

  // What a crash in the middle of the first write leaves.
  const std::string whole = EncodeResumeRecord(Sample());
  kvtest::WriteFile(dir / "cut.cfg", whole.substr(0, whole.size() / 2));
  EXPECT_EQ(ReadResumeRecordInto(f, Wide(dir / "cut.cfg"), got), ResumeRecordRead::kUnreadable);
  EXPECT_FALSE(ReadResumeRecord(Wide(dir / "cut.cfg"), size, url));

  // A URL that does not parse fails the pre-download check only.
  ResumeRecordContent c = Sample();
  c.finalUrl = "not a url";
  kvtest::WriteFile(dir / "url.cfg", EncodeResumeRecord(c));
  EXPECT_EQ(ReadResumeRecordInto(f, Wide(dir / "url.cfg"), got), ResumeRecordRead::kLoaded);
  EXPECT_FALSE(ReadResumeRecord(Wide(dir / "url.cfg"), size, url));

  // A folder where the record should be.
  std::filesystem::create_directory(dir / "dir.cfg");
  EXPECT_EQ(ReadResumeRecordInto(f, Wide(dir / "dir.cfg"), got), ResumeRecordRead::kUnreadable);
  EXPECT_FALSE(ReadResumeRecord(Wide(dir / "dir.cfg"), size, url));
}

}  // namespace
}  // namespace kvhttp
