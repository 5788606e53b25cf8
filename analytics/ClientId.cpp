#include "analytics/ClientId.h"

#include <cstdio>

#include "platform/Registry.h"
#include "platform/TextCodec.h"

using platform::RegDisposition;
using platform::RegistryKey;
using platform::RegResult;
using platform::RegRoot;

namespace {

const wchar_t* kParentKey = L"SOFTWARE\\WOW6432Node\\Korvana";
const wchar_t* kKey = L"SOFTWARE\\WOW6432Node\\Korvana\\KorvanaDown";
const wchar_t* kValue = L"GUID";

// The whole text is [a-zA-Z0-9-]+.
bool IsUsableId(const std::string& text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    if (!ok) return false;
  }
  return true;
}

std::wstring CreateAndStore(RegistryKey& key) {
  platform::Guid guid{};
  if (!platform::CreateGuid(guid)) return L"";
  const std::wstring id = FormatClientGuid(guid);
  key.SetString(kValue, id);
  return id;
}

}  // namespace

std::wstring FormatClientGuid(const platform::Guid& g) {
  char text[64] = {};
  std::snprintf(text, sizeof text, "%08X-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(g.data1), static_cast<unsigned>(g.data2),
                static_cast<unsigned>(g.data3), g.data4[0], g.data4[1], g.data4[2], g.data4[3],
                g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return std::wstring(text, text + std::char_traits<char>::length(text));
}

std::wstring GetClientId() {
  RegistryKey parent;
  RegistryKey::Create(RegRoot::LocalMachine, kParentKey, parent);
  RegistryKey key;
  RegDisposition disposition = RegDisposition::CreatedNewKey;
  if (RegistryKey::Create(RegRoot::LocalMachine, kKey, key, &disposition) != RegResult::Ok) {
    return L"";
  }
  if (disposition == RegDisposition::OpenedExistingKey) {
    RegistryKey existing;
    if (RegistryKey::Open(RegRoot::LocalMachine, kKey, existing) != RegResult::Ok) return L"";
    std::wstring stored;
    if (existing.QueryString(kValue, stored) == RegResult::Ok &&
        IsUsableId(platform::WideToUtf8(stored))) {
      return stored;
    }
    return CreateAndStore(existing);
  }
  return CreateAndStore(key);
}
