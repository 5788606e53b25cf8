// The resume record: a bencoded dictionary beside a partial download listing the pieces that
// are on disk. Functions here are called by the downloader on its I/O thread and by the driver
// before a download; each works on the file object or path it is given.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kvhttp/download/PieceBitfield.h"
#include "kvhttp/download/PositionedFile.h"

namespace kvhttp {

struct ResumeRecordContent {
  std::string finalUrl;  // full URL text
  std::int64_t fileSize = 0;
  std::int64_t pieceSize = 0;
  PieceBitfield bitfield;  // ceil(fileSize / pieceSize) bits
  // The ETag or Last-Modified of the version the pieces belong to; empty when the server gave
  // none (and in records written before the key existed).
  std::string validator;
};

// "d8:bitfield...9:file_sizei...e9:final_url...9:piece_numi...e10:piece_sizei...e
// 9:validator...e": the five keys every reader knows, then the validator.
std::string EncodeResumeRecord(const ResumeRecordContent& content);

// Decodes and checks a record; bytes after the dictionary are ignored. False (with a short reason
// in `why` when given) for anything that does not describe one consistent file: a wrong kind or
// missing key, a negative size, a piece size <= 0, a piece count that does not fit the sizes,
// or a bitfield shorter than the piece count.
bool DecodeResumeRecord(std::string_view bytes, ResumeRecordContent& out,
                        std::string* why = nullptr);

// Writes the record at offset 0 of `file`, opening `path` (read-write, created) first when the
// file is not open; the file stays open. Returns false when the open or the write failed.
bool WriteResumeRecord(PositionedFile& file, const std::wstring& path,
                       const ResumeRecordContent& content);

enum class ResumeRecordRead {
  kLoaded,      // `out` holds the record
  kEmpty,       // no record, or one of zero bytes: start from nothing
  kUnreadable,  // cannot be read or is not a consistent record: delete it, start from nothing
};

// Reopens `file` on `path` (read-write, created when missing) and reads the record from it.
// The file stays open for the writer, whatever the outcome.
ResumeRecordRead ReadResumeRecordInto(PositionedFile& file, const std::wstring& path,
                                      ResumeRecordContent& out);

// The pre-download check: the recorded file size and final URL (as wide text) of the record at
// `path`. A zero-length record succeeds and leaves both outputs alone. False for a missing,
// unreadable or inconsistent record.
bool ReadResumeRecord(const std::wstring& path, std::int64_t& fileSize, std::wstring& finalUrl);

}  // namespace kvhttp
