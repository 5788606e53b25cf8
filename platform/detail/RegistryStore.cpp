#include "platform/detail/RegistryStore.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <cerrno>
#include <cwctype>

#include "platform/Paths.h"
#include "platform/TextCodec.h"

namespace platform::detail {
namespace {

constexpr char kHeader[] = "KVREG1\n";
// The last line: a file cut short anywhere is recognised as damaged.
constexpr char kTrailer[] = "KVEND";

std::string Escape(const std::wstring& text) {
  std::string out;
  for (char c : WideToUtf8(text)) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Reads a quoted, escaped text starting at s[pos] == '"'; pos ends after the closing quote.
bool Unquote(const std::string& s, std::size_t& pos, std::wstring& out) {
  if (pos >= s.size() || s[pos] != '"') return false;
  std::string raw;
  for (++pos; pos < s.size(); ++pos) {
    char c = s[pos];
    if (c == '"') {
      ++pos;
      out = Utf8ToWide(raw);
      return true;
    }
    if (c == '\\') {
      if (++pos >= s.size()) return false;
      switch (s[pos]) {
        case '\\':
          raw += '\\';
          break;
        case '"':
          raw += '"';
          break;
        case 'n':
          raw += '\n';
          break;
        case 'r':
          raw += '\r';
          break;
        case '0':
          raw += '\0';
          break;
        default:
          return false;
      }
    } else {
      raw += c;
    }
  }
  return false;
}

bool WriteAll(int fd, const std::string& bytes) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// Case is folded with full Unicode tables whatever locale the process runs in, so that every
// process agrees on which names are the same; a process-dependent fold would let one writer
// merge two values another keeps apart.
wint_t FoldCase(wchar_t c) {
  static const locale_t unicode = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (unicode != static_cast<locale_t>(0)) return ::towlower_l(static_cast<wint_t>(c), unicode);
  return c >= L'A' && c <= L'Z' ? static_cast<wint_t>(c + 32) : static_cast<wint_t>(c);
}

std::string FolderOf(const std::string& path) {
  return path.substr(0, path.find_last_of('/'));
}

}  // namespace

bool CaseLess::operator()(const std::wstring& a, const std::wstring& b) const {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    wint_t x = FoldCase(a[i]);
    wint_t y = FoldCase(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

std::wstring NormaliseKeyPath(const std::wstring& path) {
  std::wstring out;
  for (wchar_t c : path) {
    if (c == L'\\' && (out.empty() || out.back() == L'\\')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == L'\\') out.pop_back();
  return out;
}

// A line "[key]" opens a key, a line "name"="value" stores a value in it.
std::string SerialiseStore(const RegKeys& keys) {
  std::string out = kHeader;
  for (const auto& [key, values] : keys) {
    out += "[\"" + Escape(key) + "\"]\n";
    for (const auto& [name, value] : values) {
      out += "\"" + Escape(name) + "\"=\"" + Escape(value) + "\"\n";
    }
  }
  return out + kTrailer + "\n";
}

bool ParseStore(const std::string& text, RegKeys& keys) {
  keys.clear();
  if (text.compare(0, sizeof kHeader - 1, kHeader) != 0) return false;
  RegValues* current = nullptr;
  std::size_t pos = sizeof kHeader - 1;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) return false;  // a cut-off file
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    std::size_t at = 0;
    if (line == kTrailer) return pos == text.size();
    if (line.size() >= 4 && line.front() == '[') {
      std::wstring key;
      at = 1;
      if (!Unquote(line, at, key) || at + 1 != line.size() || line[at] != ']') return false;
      current = &keys[key];
    } else {
      std::wstring name, value;
      if (current == nullptr || !Unquote(line, at, name) || at >= line.size() ||
          line[at++] != '=' || !Unquote(line, at, value) || at != line.size()) {
        return false;
      }
      (*current)[name] = value;
    }
  }
  return false;
}

bool StoreFile::CanWrite() const {
  std::string folder = FolderOf(path_);
  if (!CreateFolderTree(folder) || ::access(folder.c_str(), W_OK) != 0) return false;
  return ::access(path_.c_str(), F_OK) != 0 || ::access(path_.c_str(), W_OK) == 0;
}

int StoreFile::Lock(int operation) const {
  std::string lockPath = path_ + ".lock";
  int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0 && operation == LOCK_SH) fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  while (::flock(fd, operation) != 0) {
    if (errno != EINTR) {
      ::close(fd);
      return -1;
    }
  }
  return fd;
}

StoreStatus StoreFile::ReadUnlocked(RegKeys& keys) const {
  int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? StoreStatus::Missing : StoreStatus::Unreadable;
  std::string text;
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return StoreStatus::Unreadable;
    }
    if (n == 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return ParseStore(text, keys) ? StoreStatus::Ok : StoreStatus::Damaged;
}

StoreStatus StoreFile::Read(RegKeys& keys) const {
  int fd = Lock(LOCK_SH);
  // Without a lock file (a read-only store nobody wrote yet) the rename-only updates still
  // guarantee a whole file.
  StoreStatus st = ReadUnlocked(keys);
  if (fd >= 0) ::close(fd);
  return st;
}

bool StoreFile::Replace(const RegKeys& keys) const {
  std::string temp = path_ + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, SerialiseStore(keys)) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temp.c_str(), path_.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

bool StoreFile::Update(const std::function<bool(RegKeys&)>& change) {
  if (!CanWrite()) return false;
  int fd = Lock(LOCK_EX);
  if (fd < 0) return false;
  RegKeys keys;
  StoreStatus st = ReadUnlocked(keys);
  bool ok = st != StoreStatus::Unreadable;
  if (ok && st == StoreStatus::Damaged) {
    // Someone else's bytes are kept, never silently overwritten.
    ok = ::rename(path_.c_str(), (path_ + ".damaged").c_str()) == 0;
    keys.clear();
  }
  ok = ok && change(keys) && Replace(keys);
  ::close(fd);
  return ok;
}

}  // namespace platform::detail
