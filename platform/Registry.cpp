#include "platform/Registry.h"

#include <vector>

#include "platform/Elevation.h"
#include "platform/Paths.h"
#include "platform/detail/RegistryStore.h"

namespace platform {
namespace {

using detail::RegKeys;
using detail::StoreFile;
using detail::StoreStatus;

std::string MachineFolder() {
  std::string over = TestHookValue("KV_REGISTRY_DIR");
  if (!over.empty()) return over + "/machine";
  return "/var/lib/kvdownloader/registry";
}

std::string UserFolder() {
  std::string over = TestHookValue("KV_REGISTRY_DIR");
  if (!over.empty()) return over + "/user";
  std::string state = EnvOrEmpty("XDG_STATE_HOME");
  if (state.empty() || state.front() != '/') state = HomeFolder() + "/.local/state";
  return state + "/kvdownloader/registry";
}

const char* FileName(RegRoot root) {
  return root == RegRoot::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

bool HasKey(const RegKeys& keys, const std::wstring& key) {
  return key.empty() || keys.count(key) != 0;
}

// The key and every parent of it.
void AddKeyPath(RegKeys& keys, const std::wstring& key) {
  for (std::size_t pos = key.find(L'\\'); pos != std::wstring::npos;
       pos = key.find(L'\\', pos + 1)) {
    keys.try_emplace(key.substr(0, pos));
  }
  if (!key.empty()) keys.try_emplace(key);
}

struct KeyState {
  std::wstring key;
  StoreFile writeStore;
  // Where reads look, in order: the per-user copy first when it stands in for the machine.
  std::vector<StoreFile> readStores;
};

KeyState MakeState(RegRoot root, const std::wstring& subKey) {
  std::wstring key = detail::NormaliseKeyPath(subKey);
  StoreFile user(UserFolder() + "/" + FileName(root));
  if (root == RegRoot::CurrentUser) {
    return KeyState{key, user, {user}};
  }
  StoreFile machine(MachineFolder() + "/" + FileName(root));
  if (machine.CanWrite()) {
    return KeyState{key, machine, {machine}};
  }
  // An unprivileged writer gets its own copy of the machine store, as the system's
  // virtualisation does; it still sees what the machine store holds.
  return KeyState{key, user, {user, machine}};
}

}  // namespace

struct RegistryKey::Impl : KeyState {
  explicit Impl(KeyState s) : KeyState(std::move(s)) {}
};

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() = default;
RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&&) noexcept = default;

RegResult RegistryKey::Create(RegRoot root, const std::wstring& subKey, RegistryKey& out,
                              RegDisposition* disposition) {
  try {
    auto impl = std::make_unique<Impl>(MakeState(root, subKey));
    bool existed = false;
    for (const StoreFile& s : impl->readStores) {
      RegKeys keys;
      if (s.Read(keys) == StoreStatus::Ok && HasKey(keys, impl->key)) existed = true;
    }
    if (!impl->writeStore.CanWrite()) return RegResult::AccessDenied;
    const std::wstring key = impl->key;
    bool created = false;
    bool ok = impl->writeStore.Update([&](RegKeys& keys) {
      created = !HasKey(keys, key);
      AddKeyPath(keys, key);
      return true;
    });
    if (!ok) return RegResult::Error;
    if (disposition != nullptr) {
      *disposition =
          created && !existed ? RegDisposition::CreatedNewKey : RegDisposition::OpenedExistingKey;
    }
    out.impl_ = std::move(impl);
    return RegResult::Ok;
  } catch (...) {
    return RegResult::Error;
  }
}

RegResult RegistryKey::Open(RegRoot root, const std::wstring& subKey, RegistryKey& out) {
  try {
    auto impl = std::make_unique<Impl>(MakeState(root, subKey));
    bool denied = false;
    for (const StoreFile& s : impl->readStores) {
      RegKeys keys;
      StoreStatus st = s.Read(keys);
      if (st == StoreStatus::Unreadable) denied = true;
      if (st == StoreStatus::Ok && HasKey(keys, impl->key)) {
        out.impl_ = std::move(impl);
        return RegResult::Ok;
      }
    }
    return denied ? RegResult::AccessDenied : RegResult::NotFound;
  } catch (...) {
    return RegResult::Error;
  }
}

bool RegistryKey::IsOpen() const {
  return impl_ != nullptr;
}

RegResult RegistryKey::QueryString(const std::wstring& name, std::wstring& value,
                                   std::size_t* byteLength) const {
  if (!impl_) return RegResult::Error;
  try {
    for (const StoreFile& s : impl_->readStores) {
      RegKeys keys;
      if (s.Read(keys) != StoreStatus::Ok) continue;
      auto key = keys.find(impl_->key);
      if (key == keys.end()) continue;
      auto v = key->second.find(name);
      if (v == key->second.end()) continue;
      value = v->second;
      if (byteLength != nullptr) *byteLength = value.size() * 2;
      return RegResult::Ok;
    }
    return RegResult::NotFound;
  } catch (...) {
    return RegResult::Error;
  }
}

RegResult RegistryKey::SetString(const std::wstring& name, const std::wstring& value) {
  if (!impl_) return RegResult::Error;
  try {
    if (!impl_->writeStore.CanWrite()) return RegResult::AccessDenied;
    const std::wstring key = impl_->key;
    bool ok = impl_->writeStore.Update([&](RegKeys& keys) {
      AddKeyPath(keys, key);
      keys[key][name] = value;
      return true;
    });
    return ok ? RegResult::Ok : RegResult::Error;
  } catch (...) {
    return RegResult::Error;
  }
}

void RegistryKey::Close() {
  impl_.reset();
}

}  // namespace platform
