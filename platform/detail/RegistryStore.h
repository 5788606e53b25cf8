// The registry's file format and its locked, atomic update. Private to Registry.cpp.
#pragma once

#include <functional>
#include <map>
#include <string>

namespace platform::detail {

// Key paths are compared without regard to case, as the registry does.
struct CaseLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const;
};

using RegValues = std::map<std::wstring, std::wstring, CaseLess>;
using RegKeys = std::map<std::wstring, RegValues, CaseLess>;

// "A\\B\\" and "\\a\\\\b" name the same key "A\\B"; the case of the first writer is kept.
std::wstring NormaliseKeyPath(const std::wstring& path);

std::string SerialiseStore(const RegKeys& keys);
// False when the text is not a store (a foreign or damaged file).
bool ParseStore(const std::string& text, RegKeys& keys);

enum class StoreStatus { Ok, Missing, Unreadable, Damaged };

// One store file and its lock file beside it.
class StoreFile {
 public:
  explicit StoreFile(std::string path) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }
  // Whether a writer could update the store (its folder made and writable).
  bool CanWrite() const;
  // Reads under a shared lock.
  StoreStatus Read(RegKeys& keys) const;
  // Reads, applies `change`, and replaces the file atomically, all under an exclusive lock, so
  // that concurrent writers never lose each other's updates. A damaged file is kept aside
  // under ".damaged" rather than overwritten. False when the store cannot be written.
  bool Update(const std::function<bool(RegKeys&)>& change);

 private:
  int Lock(int operation) const;
  StoreStatus ReadUnlocked(RegKeys& keys) const;
  bool Replace(const RegKeys& keys) const;
  std::string path_;
};

}  // namespace platform::detail
