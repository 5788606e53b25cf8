#include "kvhttp/download/ResumeRecord.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "kvhttp/download/Bencode.h"
#include "kvhttp/download/detail/PathText.h"
#include "kvhttp/download/detail/UrlText.h"

namespace kvhttp {

namespace {

bool Fail(std::string* why, const char* reason) {
  if (why) *why = reason;
  return false;
}

// The whole file, or false when it cannot be read to the length it had when asked.
bool ReadWhole(PositionedFile& file, std::string& bytes) {
  boost::system::error_code ec;
  std::int64_t size = file.size(ec);
  if (ec || size < 0) return false;
  bytes.assign(static_cast<std::size_t>(size), '\0');
  if (size == 0) return true;
  FileBuffer b{bytes.data(), bytes.size()};
  return file.read_at(0, &b, 1, ec) == size;
}

}  // namespace

std::string EncodeResumeRecord(const ResumeRecordContent& content) {
  BencodeValue record;
  const std::int64_t pieces =
      content.pieceSize > 0 ? (content.fileSize + content.pieceSize - 1) / content.pieceSize : 0;
  *record["bitfield"] = BencodeValue(content.bitfield.bytes());
  *record["file_size"] = BencodeValue(content.fileSize);
  *record["final_url"] = BencodeValue(content.finalUrl);
  *record["piece_num"] = BencodeValue(pieces);
  *record["piece_size"] = BencodeValue(content.pieceSize);
  *record["validator"] = BencodeValue(content.validator);
  return BencodeEncode(record);
}

bool DecodeResumeRecord(std::string_view bytes, ResumeRecordContent& out, std::string* why) {
  BencodeValue record = BencodeDecode(bytes);
  if (record.kind() != BencodeValue::Kind::kDictionary) return Fail(why, "not a dictionary");
  auto integer = [&](const char* key) -> const std::int64_t* {
    const BencodeValue* v = record.find(key);
    return v ? v->integer() : nullptr;
  };
  auto text = [&](const char* key) -> const std::string* {
    const BencodeValue* v = record.find(key);
    return v ? v->string() : nullptr;
  };
  const std::int64_t* fileSize = integer("file_size");
  const std::int64_t* pieceSize = integer("piece_size");
  const std::int64_t* pieceNum = integer("piece_num");
  const std::string* bitfield = text("bitfield");
  const std::string* url = text("final_url");
  if (!fileSize || !pieceSize || !pieceNum || !bitfield || !url)
    return Fail(why, "invalid type requested from entry");
  if (*fileSize < 0) return Fail(why, "negative file size");
  if (*pieceSize <= 0) return Fail(why, "piece size not positive");
  const std::int64_t expected = *fileSize / *pieceSize + (*fileSize % *pieceSize ? 1 : 0);
  if (*pieceNum != expected) return Fail(why, "piece count does not fit the sizes");
  if (static_cast<std::int64_t>(bitfield->size()) < PieceBitfield::ByteCount(*pieceNum))
    return Fail(why, "bitfield shorter than the piece count");
  out.finalUrl = *url;
  out.fileSize = *fileSize;
  out.pieceSize = *pieceSize;
  out.bitfield = PieceBitfield(*pieceNum, *bitfield);
  // Optional: records of earlier versions lack it.
  const std::string* validator = text("validator");
  out.validator = validator ? *validator : std::string();
  return true;
}

bool WriteResumeRecord(PositionedFile& file, const std::wstring& path,
                       const ResumeRecordContent& content) {
  boost::system::error_code ec;
  if (!file.is_open() && !file.open(path, PositionedFile::kReadWrite, ec)) return false;
  const std::string bytes = EncodeResumeRecord(content);
  // Not truncated: a shorter record leaves old bytes after its end, which readers ignore.
  ConstFileBuffer b{bytes.data(), bytes.size()};
  return file.write_at(0, &b, 1, ec) == static_cast<std::int64_t>(bytes.size());
}

ResumeRecordRead ReadResumeRecordInto(PositionedFile& file, const std::wstring& path,
                                      ResumeRecordContent& out) {
  file.close();
  boost::system::error_code ec;
  if (!file.open(path, PositionedFile::kReadWrite, ec)) return ResumeRecordRead::kUnreadable;
  std::string bytes;
  if (!ReadWhole(file, bytes)) return ResumeRecordRead::kUnreadable;
  if (bytes.empty()) return ResumeRecordRead::kEmpty;
  return DecodeResumeRecord(bytes, out) ? ResumeRecordRead::kLoaded : ResumeRecordRead::kUnreadable;
}

bool ReadResumeRecord(const std::wstring& path, std::int64_t& fileSize, std::wstring& finalUrl) {
  std::error_code fsError;
  std::filesystem::path native(detail::PathToNative(path));
  if (!std::filesystem::is_regular_file(native, fsError)) return false;
  PositionedFile file;
  boost::system::error_code ec;
  if (!file.open(path, PositionedFile::kReadOnly, ec)) return false;
  std::string bytes;
  if (!ReadWhole(file, bytes)) return false;
  if (bytes.empty()) return true;
  ResumeRecordContent content;
  if (!DecodeResumeRecord(bytes, content)) return false;
  std::string url;
  if (!detail::NormaliseUrlText(content.finalUrl, url)) return false;
  std::wstring wide;
  if (!detail::LocaleToWideText(url, wide)) return false;
  fileSize = content.fileSize;
  finalUrl = std::move(wide);
  return true;
}

}  // namespace kvhttp
