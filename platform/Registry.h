// A small file-backed registry store per root key: keys hold named REG_SZ values.
// Writes are atomic (temp file + rename) under a lock, so concurrent writers leave a readable
// store and lose none of each other's values. The machine store lives in
// /var/lib/kvdownloader/registry, the per-user store in $XDG_STATE_HOME (default
// ~/.local/state)/kvdownloader/registry; KV_REGISTRY_DIR replaces both with its "machine" and
// "user" folders (tests; ignored when elevated through sudo or pkexec). Key and value names
// ignore case. Any thread.
#pragma once

#include <memory>
#include <string>

namespace platform {

enum class RegRoot { LocalMachine, CurrentUser };
enum class RegDisposition { CreatedNewKey, OpenedExistingKey };
enum class RegResult { Ok, NotFound, AccessDenied, Error };

class RegistryKey {
 public:
  RegistryKey();
  ~RegistryKey();
  RegistryKey(RegistryKey&&) noexcept;
  RegistryKey& operator=(RegistryKey&&) noexcept;

  // Creates or opens root\subKey ("\" separated). LocalMachine falls back to a per-user store
  // where the machine store cannot be written.
  static RegResult Create(RegRoot root, const std::wstring& subKey, RegistryKey& out,
                          RegDisposition* disposition = nullptr);
  static RegResult Open(RegRoot root, const std::wstring& subKey, RegistryKey& out);

  bool IsOpen() const;
  // Reads a REG_SZ value; byteLength (optional) receives its stored size in bytes.
  RegResult QueryString(const std::wstring& name, std::wstring& value,
                        std::size_t* byteLength = nullptr) const;
  // Stores value as UTF-16 of byteLength bytes (2 × characters: no terminator).
  RegResult SetString(const std::wstring& name, const std::wstring& value);
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
