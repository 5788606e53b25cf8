#include "kvhttp/download/storage.h"

namespace kvhttp {

default_storage::~default_storage() {
  close();
}

void default_storage::open(const std::wstring& path, boost::system::error_code& ec) {
  file_.open(path, PositionedFile::kReadWrite, ec);
}

void default_storage::close() {
  file_.close();
}

std::int64_t default_storage::write(const char* data, std::int64_t offset, std::int32_t size) {
  if (size < 0) return -1;
  boost::system::error_code ec;
  ConstFileBuffer b{data, static_cast<std::size_t>(size)};
  return file_.write_at(offset, &b, 1, ec);
}

std::int64_t default_storage::write(const char* data, std::int32_t size) {
  return write(data, -1, size);
}

std::int64_t default_storage::read(char* data, std::int64_t offset, std::int32_t size) {
  if (size < 0) return -1;
  boost::system::error_code ec;
  FileBuffer b{data, static_cast<std::size_t>(size)};
  return file_.read_at(offset, &b, 1, ec);
}

std::int64_t default_storage::read(char* data, std::int32_t size) {
  return read(data, -1, size);
}

bool default_storage::is_end() {
  boost::system::error_code ec;
  std::int64_t pos = file_.tell(ec);
  if (ec) return true;
  char c;
  std::int64_t n = read(&c, 1);
  file_.seek(pos, ec);
  return n <= 0;
}

bool default_storage::sync() {
  boost::system::error_code ec;
  return file_.sync_data(ec);
}

bool default_storage::truncate(std::int64_t length) {
  boost::system::error_code ec;
  std::int64_t now = file_.size(ec);
  if (ec) return false;
  return now <= length || file_.truncate(length, ec);
}

}  // namespace kvhttp
