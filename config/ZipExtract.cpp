#include "config/ZipExtract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

#include "log/Log.h"
#include "platform/Paths.h"
#include "sys/SystemInfo.h"

namespace {

namespace fs = std::filesystem;

struct ArchiveCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};
struct EntryCloser {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};

// Entry name as a relative path below the folder, or "" when the name would leave it.
std::string SafeRelativeName(std::string name) {
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  if (name.empty() || name.front() == '/') return {};
  if (name.size() >= 2 && name[1] == ':') return {};  // a drive letter
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    if (std::string_view(name).substr(start, end - start) == "..") return {};
    start = end + 1;
  }
  return name;
}

// Folders are made 0755 so that no other user can swap the files inside.
bool MakeFolder(const fs::path& path) {
  return platform::CreateFolderTree(path.string());
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Streams the entry into a temporary file beside the target, then renames it over the target
// so that a reader (or a second instance writing at the same time) never sees half a file.
bool WriteEntry(zip_t* archive, zip_uint64_t index, zip_uint64_t expected, const fs::path& target) {
  std::unique_ptr<zip_file_t, EntryCloser> entry(zip_fopen_index(archive, index, 0));
  if (!entry) return false;
  std::string tmp = target.string() + ".XXXXXX";
  std::vector<char> tmpName(tmp.begin(), tmp.end());
  tmpName.push_back('\0');
  int fd = ::mkstemp(tmpName.data());
  if (fd < 0) return false;
  ::fchmod(fd, 0644);
  bool ok = true;
  zip_uint64_t total = 0;
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    zip_int64_t n = zip_fread(entry.get(), buffer.data(), buffer.size());
    if (n < 0) {
      ok = false;  // bad data or checksum
      break;
    }
    if (n == 0) break;
    total += static_cast<zip_uint64_t>(n);
    if (!WriteAll(fd, buffer.data(), static_cast<std::size_t>(n))) {
      ok = false;
      break;
    }
  }
  ok = ok && total == expected;
  ok = (::close(fd) == 0) && ok;
  if (ok && ::rename(tmpName.data(), target.c_str()) != 0) ok = false;
  if (!ok) ::unlink(tmpName.data());
  return ok;
}

}  // namespace

bool ExtractZipToFolder(const void* data, std::size_t size, const std::wstring& folder) {
  // Paths come from the system in its character set; WideToLocale gives those bytes back.
  const fs::path base(WideToLocale(folder));
  MakeFolder(base);
  if (data == nullptr || size == 0) return false;

  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(data, size, 0, &error);
  if (source == nullptr) {
    zip_error_fini(&error);
    return false;
  }
  std::unique_ptr<zip_t, ArchiveCloser> archive(zip_open_from_source(source, ZIP_RDONLY, &error));
  if (!archive) {
    LOGA(LogLevelInfo, "ExtractZipToFolder: not a readable archive (%s)",
         zip_error_strerror(&error));
    zip_source_free(source);
    zip_error_fini(&error);
    return false;
  }
  zip_error_fini(&error);

  bool allWritten = true;
  zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    auto index = static_cast<zip_uint64_t>(i);
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive.get(), index, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME) ||
        !(st.valid & ZIP_STAT_SIZE)) {
      allWritten = false;
      continue;
    }
    std::string name = SafeRelativeName(st.name);
    if (name.empty()) {
      LOGA(LogLevelInfo, "ExtractZipToFolder: skipped unsafe entry name %s", st.name);
      continue;
    }
    const fs::path target = base / name;
    bool ok;
    if (st.size == 0 || name.back() == '/') {
      ok = MakeFolder(target);
    } else {
      ok = MakeFolder(target.parent_path()) && WriteEntry(archive.get(), index, st.size, target);
    }
    if (!ok) {
      LOGA(LogLevelInfo, "ExtractZipToFolder: cannot write %s: %s", target.c_str(),
           std::strerror(errno));
      allWritten = false;
    }
  }
  return allWritten;
}
