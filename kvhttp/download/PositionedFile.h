// One file on disk read and written at explicit offsets. Used for the download's output file and
// its resume record. Not thread-safe: one owner thread at a time.
#pragma once

#include <boost/system/error_code.hpp>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kvhttp {

struct FileBuffer {
  void* data;
  std::size_t size;
};

struct ConstFileBuffer {
  const void* data;
  std::size_t size;
};

class PositionedFile {
 public:
  // The low two bits choose the access; the rest are flags.
  enum Mode : int {
    kReadOnly = 0,      // must exist
    kWriteOnly = 1,     // created when missing, contents kept
    kReadWrite = 2,     // created when missing, contents kept
    kWriteThrough = 4,  // data reaches the device before a write returns
    kSparse = 8,        // files here are sparse already; accepted for callers that ask
    kHidden = 1 << 12,  // no hidden attribute on this platform; accepted and ignored
  };

  PositionedFile();
  ~PositionedFile();
  PositionedFile(const PositionedFile&) = delete;
  PositionedFile& operator=(const PositionedFile&) = delete;

  // Closes any file already open, then opens `path`. On failure `ec` holds the system error and
  // the object stays closed.
  bool open(const std::wstring& path, int mode, boost::system::error_code& ec);
  void close();
  bool is_open() const { return fd_ >= 0; }
  // The system's descriptor, -1 when closed.
  int native_handle() const { return fd_; }
  const std::wstring& path() const { return path_; }

  // Positioned gather write / scatter read. Offset -1 means the current position, which then
  // moves past the bytes transferred. Writing past the end extends the file; the gap reads back
  // as zeros. A short read at the end of the file is no error. Returns the byte count, or -1
  // with `ec` set.
  std::int64_t write_at(std::int64_t offset, const ConstFileBuffer* buffers, std::size_t count,
                        boost::system::error_code& ec);
  std::int64_t read_at(std::int64_t offset, const FileBuffer* buffers, std::size_t count,
                       boost::system::error_code& ec);

  std::int64_t tell(boost::system::error_code& ec) const;
  bool seek(std::int64_t position, boost::system::error_code& ec);
  // The file's current length, or -1 with `ec` set.
  std::int64_t size(boost::system::error_code& ec) const;
  // Cuts or extends the file to `length` bytes.
  bool truncate(std::int64_t length, boost::system::error_code& ec);
  // Flushes the file's data (not necessarily its metadata) to the device.
  bool sync_data(boost::system::error_code& ec);
  // Asks the kernel to start writing [offset, offset + length) to the device without waiting,
  // so that a later sync_data has less left to wait for. A hint: failures are ignored.
  void start_writeback(std::int64_t offset, std::int64_t length);

  // The system page size, taken once (4096 when the system reports less than 1).
  static std::size_t page_size();

 private:
  int fd_ = -1;
  std::wstring path_;
  int mode_ = 0;
  std::int64_t position_ = 0;
};

}  // namespace kvhttp
