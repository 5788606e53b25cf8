#include "ui/core/ZipReader.h"

#include <zip.h>

#include <fstream>
#include <iterator>

#include "ui/core/Utf.h"

namespace SkinUI {
namespace {

constexpr std::size_t kMaxNameLength = 256;
// The size is the archive's own claim; no package of ours comes near it.
constexpr std::size_t kMaxEntrySize = 256u * 1024 * 1024;

char Fold(char c) {
  if (c == '\\') return '/';
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  return c;
}

}  // namespace

CZipReader::CZipReader() = default;

CZipReader::~CZipReader() {
  Close();
}

bool CZipReader::OpenMemory(const void* data, std::size_t size) {
  Close();
  if (data == nullptr || size == 0) return false;
  const auto* p = static_cast<const unsigned char*>(data);
  bytes_.assign(p, p + size);
  zip_error_t err;
  zip_error_init(&err);
  zip_source_t* src = zip_source_buffer_create(bytes_.data(), bytes_.size(), 0, &err);
  if (src == nullptr) {
    zip_error_fini(&err);
    bytes_.clear();
    return false;
  }
  archive_ = zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &err);
  zip_error_fini(&err);
  if (archive_ == nullptr) {
    zip_source_free(src);
    bytes_.clear();
    return false;
  }
  return true;
}

bool CZipReader::OpenFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  return OpenMemory(data.data(), data.size());
}

void CZipReader::Close() {
  if (archive_ != nullptr) {
    zip_discard(archive_);
    archive_ = nullptr;
  }
  bytes_.clear();
}

int CZipReader::GetEntryCount() const {
  if (archive_ == nullptr) return 0;
  zip_int64_t n = zip_get_num_entries(archive_, 0);
  return n < 0 ? 0 : static_cast<int>(n);
}

std::string CZipReader::GetEntryName(int index) const {
  if (archive_ == nullptr || index < 0 || index >= GetEntryCount()) return {};
  const char* name = zip_get_name(archive_, static_cast<zip_uint64_t>(index), ZIP_FL_ENC_RAW);
  return name ? name : "";
}

std::size_t CZipReader::GetEntrySize(int index) const {
  if (archive_ == nullptr || index < 0 || index >= GetEntryCount()) return 0;
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(archive_, static_cast<zip_uint64_t>(index), 0, &st) != 0 ||
      !(st.valid & ZIP_STAT_SIZE)) {
    return 0;
  }
  return static_cast<std::size_t>(st.size);
}

bool CZipReader::IsDirectory(int index) const {
  std::string name = GetEntryName(index);
  return !name.empty() && name.back() == '/';
}

bool CZipReader::Unpack(int index, std::vector<unsigned char>& out) const {
  out.clear();
  if (archive_ == nullptr || index < 0 || index >= GetEntryCount()) return false;
  std::size_t size = GetEntrySize(index);
  if (size > kMaxEntrySize) return false;
  zip_file_t* f = zip_fopen_index(archive_, static_cast<zip_uint64_t>(index), 0);
  if (f == nullptr) return false;
  out.resize(size);
  std::size_t got = 0;
  bool ok = true;
  while (got < size) {
    zip_int64_t n = zip_fread(f, out.data() + got, size - got);
    if (n <= 0) {
      ok = false;
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  // A last read at the end makes libzip compare the CRC of what came out.
  if (ok) {
    unsigned char extra;
    if (zip_fread(f, &extra, 1) != 0) ok = false;
  }
  zip_fclose(f);
  if (!ok) out.clear();
  return ok;
}

int CZipReader::Find(std::string_view name) const {
  if (archive_ == nullptr || name.empty() || name.size() >= kMaxNameLength) return -1;
  int n = GetEntryCount();
  for (int i = 0; i < n; ++i) {
    const char* entry = zip_get_name(archive_, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
    if (entry == nullptr) continue;
    std::string_view e(entry);
    if (e.size() != name.size()) continue;
    bool same = true;
    for (std::size_t k = 0; k < e.size() && same; ++k) same = Fold(e[k]) == Fold(name[k]);
    if (same) return i;
  }
  return -1;
}

int CZipReader::Find(std::wstring_view name) const {
  if (name.size() >= kMaxNameLength) return -1;
  return Find(ToUtf8(name));
}

}  // namespace SkinUI
