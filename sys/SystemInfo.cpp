#include "sys/SystemInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <sstream>

#include "platform/Folders.h"
#include "platform/Paths.h"
#include "platform/TextCodec.h"
#include "platform/VersionRecord.h"
#include "sys/detail/LanguageIds.h"

namespace {

std::string Narrow(const std::wstring& path) {
  return platform::WideToLocale(path);
}

// The value of KEY=value in an os-release file, without its quotes.
std::string OsReleaseValue(const std::string& file, const std::string& key) {
  std::istringstream in(platform::ReadWholeFile(file, 1 << 20).value_or(""));
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, key.size() + 1, key + "=") != 0) continue;
    std::string v = line.substr(key.size() + 1);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
      v = v.substr(1, v.size() - 2);
    }
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
      if (v[i] == '\\' && i + 1 < v.size()) ++i;
      out += v[i];
    }
    return out;
  }
  return {};
}

}  // namespace

std::wstring GetProgramFilesFolder() {
  return platform::LocaleToWide(platform::ProgramFilesFolder());
}

std::wstring GetWorkFolder() {
  std::wstring name = GetFileNameFromPath(GetModulePath());
  std::size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos) name.erase(dot);
  return GetProgramFilesFolder() + L"korvana_down/" + name + L"/";
}

platform::PrepareResult PrepareWorkFolder() {
  return platform::PreparePrivateFolderTree(Narrow(GetWorkFolder()),
                                            Narrow(GetProgramFilesFolder()));
}

std::wstring GetFileNameFromPath(const std::wstring& path) {
  std::size_t pos = path.find_last_of(L"/\\");
  return pos == std::wstring::npos ? path : path.substr(pos + 1);
}

std::wstring GetUiLanguageId() {
  return std::to_wstring(kvsys_detail::LanguageIdOfLocale(kvsys_detail::UiLocaleName()));
}

std::wstring GetOsProductName() {
  for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::string name = OsReleaseValue(file, "PRETTY_NAME");
    if (!name.empty()) return platform::Utf8ToWide(name);
  }
  return {};
}

bool Is64BitSystem() {
  struct utsname u {};
  return ::uname(&u) == 0 && std::string(u.machine) == "x86_64";
}

bool GetFreeSpaceMB(const std::wstring& path, std::uint32_t& mb) {
  if (path.empty()) return false;
  // The folder is often not made yet: ask the file system it would be made on, that of its
  // nearest existing parent.
  std::string p = Narrow(path);
  struct statvfs st {};
  while (::statvfs(p.c_str(), &st) != 0) {
    if (errno != ENOENT) return false;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    std::size_t slash = p.find_last_of('/');
    if (slash == std::string::npos) return false;
    p.erase(slash == 0 ? 1 : slash);
  }
  // Root may fill the blocks reserved for it; anyone else only what is left besides them.
  const unsigned long long blocks = ::geteuid() == 0 ? st.f_bfree : st.f_bavail;
  unsigned long long bytes = blocks * static_cast<unsigned long long>(st.f_frsize);
  mb = static_cast<std::uint32_t>(bytes / 1048576ull);
  return true;
}

std::wstring GetFileVersion(const std::wstring& path) {
  auto record = platform::ReadVersionRecord(Narrow(path));
  if (!record) return {};
  return std::to_wstring(record->version[0]) + L"." + std::to_wstring(record->version[1]) + L"." +
         std::to_wstring(record->version[2]) + L"." + std::to_wstring(record->version[3]);
}

std::wstring GetFileDescription(const std::wstring& path) {
  auto record = platform::ReadVersionRecord(Narrow(path));
  if (!record) return {};
  return platform::Utf8ToWide(record->description);
}

bool FileExists(const std::wstring& path) {
  if (path.empty()) return false;
  // O_NONBLOCK: opening a named pipe for reading would otherwise wait for a writer.
  int fd = ::open(Narrow(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool file = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  return file;
}

std::wstring GetModulePath() {
  return platform::LocaleToWide(platform::ExecutablePath());
}

bool CreateFolderTree(const std::wstring& path) {
  std::string p = Narrow(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return platform::CreateFolderTree(p);
}

std::wstring LocaleToWide(const std::string& text) {
  return platform::LocaleToWide(text);
}
std::string WideToLocale(const std::wstring& text) {
  return platform::WideToLocale(text);
}
std::wstring AnsiToWide(const std::string& text) {
  return platform::LocaleToWide(text);
}
std::string WideToAnsi(const std::wstring& text) {
  return platform::WideToLocale(text);
}
std::string WideToUtf8(const std::wstring& text) {
  return platform::WideToUtf8(text);
}
std::wstring Utf8ToWide(const std::string& text) {
  return platform::Utf8ToWide(text);
}
