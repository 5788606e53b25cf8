#include "tools/kvbrand/SigningCheck.h"

#include <arpa/inet.h>

#include <cwctype>
#include <fstream>
#include <iterator>
#include <sstream>

#include "integrity/PublicKeys.h"
#include "platform/TextCodec.h"

namespace {

bool StartsWithNoCase(const std::wstring& s, const std::wstring& prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::towlower(s[i]) != static_cast<wint_t>(prefix[i])) return false;
  }
  return true;
}

// The host of an absolute URL, without user, port or IPv6 brackets.
std::string HostOf(const std::wstring& url) {
  const std::size_t scheme = url.find(L"://");
  if (scheme == std::wstring::npos) return "";
  std::wstring authority = url.substr(scheme + 3);
  authority = authority.substr(0, authority.find_first_of(L"/?#"));
  if (const std::size_t at = authority.rfind(L'@'); at != std::wstring::npos) {
    authority = authority.substr(at + 1);
  }
  if (!authority.empty() && authority[0] == L'[') {
    return platform::WideToUtf8(authority.substr(1, authority.find(L']') - 1));
  }
  return platform::WideToUtf8(authority.substr(0, authority.find(L':')));
}

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> items;
  std::stringstream in(list);
  for (std::string item; std::getline(in, item, ';');) {
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

}  // namespace

bool IsLoopbackUrl(const std::wstring& url) {
  const std::string host = HostOf(url);
  if (host == "localhost" || host == "LOCALHOST") return true;
  in_addr v4;
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6;
  return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

std::vector<BrandProblem> CheckBrandSigning(const std::filesystem::path& folder,
                                            UnsignedBrands unsignedBrands) {
  std::vector<BrandProblem> problems;
  auto add = [&](const std::string& file, const std::wstring& section, const std::wstring& key,
                 const std::string& message) {
    problems.push_back(BrandProblem{file, section, key, message});
  };

  bool allLoopback = true;
  const IniSections urls = ReadBrandUrlSections(folder);
  for (const auto& [section, values] : urls) {
    for (const wchar_t* key : {L"STR_DOWN_URL", L"STR_DOWN_URL_X64", L"STR_DOWN_URLEX"}) {
      auto it = values.find(key);
      if (it == values.end() || it->second.empty()) continue;
      const bool loopback = IsLoopbackUrl(it->second);
      allLoopback = allLoopback && loopback;
      if (StartsWithNoCase(it->second, L"http://") && !loopback) {
        add("url.ini", section, key,
            "plain http:// download (and its statement) can be changed on the way; use https://");
      }
    }
  }

  const std::map<std::string, std::string> values = ReadBrandBuildValues(folder);
  auto value = [&](const char* name) {
    auto it = values.find(name);
    return it == values.end() ? std::string() : it->second;
  };
  const std::string demo = value("DEMO_SIGNING_KEY");
  const bool demoKey = !demo.empty() && demo != "OFF" && demo != "0" && demo != "FALSE";
  std::size_t keyCount = demoKey ? 1 : 0;
  integrity::PublicKeySet keys;
  for (const std::string& file : SplitList(value("PUBLIC_KEYS"))) {
    const std::filesystem::path path =
        std::filesystem::path(file).is_absolute() ? std::filesystem::path(file) : folder / file;
    std::ifstream in(path, std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string error;
    if (!in) {
      add("brand.cmake", L"", L"KV_BRAND_PUBLIC_KEYS", file + ": file is missing or unreadable");
    } else if (!keys.AddPem(pem, error)) {
      add("brand.cmake", L"", L"KV_BRAND_PUBLIC_KEYS", file + ": " + error);
    }
  }
  keyCount += keys.size();
  if (keyCount == 0 && value("PUBLIC_KEYS").empty() && unsignedBrands == UnsignedBrands::kRefuse) {
    add("brand.cmake", L"", L"KV_BRAND_PUBLIC_KEYS",
        "no key signs the installer's statement, so nothing checks what runs "
        "(run kvbrand keygen, or check with --allow-unsigned)");
  }
  if (keyCount > integrity::kMaxPublicKeys) {
    add("brand.cmake", L"", L"KV_BRAND_PUBLIC_KEYS",
        "more than " + std::to_string(integrity::kMaxPublicKeys) + " keys");
  }
  if (demoKey && !allLoopback) {
    add("brand.cmake", L"", L"KV_BRAND_DEMO_SIGNING_KEY",
        "the demo key is made anew by each build; a brand that downloads from other machines "
        "names its own keys");
  }
  return problems;
}
