// Where the downloader puts the bytes it receives. The downloader owns its storage alone and
// uses it from the I/O thread only.
#pragma once

#include <boost/system/error_code.hpp>
#include <cstdint>
#include <memory>
#include <string>

#include "kvhttp/download/PositionedFile.h"

namespace kvhttp {

class storage_interface {
 public:
  virtual ~storage_interface() = default;
  // Opens (creating when missing, keeping contents) the file at `path`.
  virtual void open(const std::wstring& path, boost::system::error_code& ec) = 0;
  virtual void close() = 0;
  // Writes at `offset` / at the current position; bytes written, -1 on error.
  virtual std::int64_t write(const char* data, std::int64_t offset, std::int32_t size) = 0;
  virtual std::int64_t write(const char* data, std::int32_t size) = 0;
  // Reads at `offset` / at the current position; bytes read (short at the end), -1 on error.
  virtual std::int64_t read(char* data, std::int64_t offset, std::int32_t size) = 0;
  virtual std::int64_t read(char* data, std::int32_t size) = 0;
  // True when no byte can be read at the current position; the position is kept.
  virtual bool is_end() = 0;
  // Makes every byte written so far durable; the resume record relies on it before it marks
  // pieces as present. Called from the downloader's record thread while writes go on, so it
  // must be safe beside them. Storages that are not files may keep the default.
  virtual bool sync() { return true; }
  // Drops everything at and after `length`; the downloader uses it so that bytes it knows
  // nothing about never survive into a finished file. Storages that are not files may keep the
  // default.
  virtual bool truncate(std::int64_t length) { return true; }
  // A descriptor whose fdatasync makes the data durable (the downloader keeps a duplicate of
  // it for its record thread), or -1 when there is none and sync() must be used.
  virtual int sync_handle() const { return -1; }
};

// One file on disk.
class default_storage : public storage_interface {
 public:
  default_storage() = default;
  ~default_storage() override;
  void open(const std::wstring& path, boost::system::error_code& ec) override;
  void close() override;
  std::int64_t write(const char* data, std::int64_t offset, std::int32_t size) override;
  std::int64_t write(const char* data, std::int32_t size) override;
  std::int64_t read(char* data, std::int64_t offset, std::int32_t size) override;
  std::int64_t read(char* data, std::int32_t size) override;
  bool is_end() override;
  bool sync() override;
  bool truncate(std::int64_t length) override;
  int sync_handle() const override { return file_.native_handle(); }

 private:
  PositionedFile file_;
};

}  // namespace kvhttp
