// Decodes arbitrary bytes as bencoding and as a resume record; what decodes must encode back
// to the bytes it was read from (the encoding is canonical for what the decoder accepts, apart
// from dictionary key order and duplicates, which a second round trip settles).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "kvhttp/download/Bencode.h"
#include "kvhttp/download/ResumeRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::size_t used = 0;
  kvhttp::BencodeValue v = kvhttp::BencodeDecode(in, &used);
  if (v.is_defined()) {
    if (used == 0 || used > size) std::abort();
    const std::string once = kvhttp::BencodeEncode(v);
    kvhttp::BencodeValue again = kvhttp::BencodeDecode(once);
    if (!(again == v) || kvhttp::BencodeEncode(again) != once) std::abort();
  }
  kvhttp::ResumeRecordContent record;
  if (kvhttp::DecodeResumeRecord(in, record)) {
    if (record.pieceSize <= 0 || record.fileSize < 0) std::abort();
    kvhttp::RangeSet ranges(record.fileSize);
    kvhttp::BitfieldToRanges(record.bitfield, record.pieceSize, ranges);
    kvhttp::PieceBitfield back = kvhttp::RangesToBitfield(ranges, record.pieceSize);
    if (back.bytes() != record.bitfield.bytes()) std::abort();
  }
  return 0;
}
