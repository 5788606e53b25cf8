// kvbrand: checks a brand's data folder, shows what the executable's embedded brand resolves to
// for a UI language, and makes and checks the signed statements of the brand's installers.
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "config/BrandCheck.h"
#include "config/EmbeddedPackages.h"
#include "config/LanguageManager.h"
#include "config/LanguageTables.h"
#include "integrity/PayloadSigning.h"
#include "log/Log.h"
#include "sys/SystemInfo.h"
#include "tools/kvbrand/SigningCheck.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: kvbrand check [--allow-unsigned] DATA_DIR\n"
               "       kvbrand show [--lang ID]\n"
               "       kvbrand keygen KEYFILE\n"
               "       kvbrand sign KEYFILE INSTALLER\n"
               "       kvbrand verify [--key KEYFILE.pub] INSTALLER\n");
  return 2;
}

int Check(const std::filesystem::path& folder, UnsignedBrands unsignedBrands) {
  std::vector<BrandProblem> problems = CheckBrandFolder(folder);
  for (BrandProblem& p : CheckBrandSigning(folder, unsignedBrands)) problems.push_back(p);
  for (const BrandProblem& p : problems) std::printf("%s\n", FormatBrandProblem(p).c_str());
  if (problems.empty()) {
    std::printf("%s: no problems\n", folder.c_str());
    return 0;
  }
  std::printf("%zu problem%s\n", problems.size(), problems.size() == 1 ? "" : "s");
  return 1;
}

void Line(const char* label, const std::wstring& value) {
  std::printf("%-22s %s\n", label, WideToUtf8(value).c_str());
}

// A folder that is removed with everything in it when the command ends.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kvbrand.XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

int Show(const std::wstring& uiLanguageId) {
  ScratchFolder scratch;
  if (scratch.path().empty()) {
    std::fprintf(stderr, "kvbrand: cannot create a temporary folder\n");
    return 1;
  }
  // The manager logs its steps; keep that log out of the user's folders.
  LogInit(L"kvbrand.log", scratch.path().wstring().c_str());
  const std::wstring folder = (scratch.path() / "language").wstring() + L"/";
  if (!LoadResZipFile(folder)) {
    std::fprintf(stderr, "kvbrand: this executable's language package cannot be extracted\n");
    return 1;
  }
  LanguageManager manager;
  manager.Init(folder, uiLanguageId);
  LoadDomainFile(manager);

  Line("ui language id", uiLanguageId);
  Line("language", manager.GetLanguage());
  Line("direction", manager.IsRightToLeft() ? L"right to left" : L"left to right");
  Line("domain code", manager.GetCustom());
  std::printf("\n[strings]\n");
  // The program's keys in their usual order, then any the language adds.
  for (const std::wstring& key : DefaultStringKeys()) {
    std::printf("%s=%s\n", WideToUtf8(key).c_str(), WideToUtf8(manager.GetText(key)).c_str());
  }
  for (const auto& [key, value] : manager.Strings()) {
    if (!DefaultStrings().count(key)) {
      std::printf("%s=%s\n", WideToUtf8(key).c_str(), WideToUtf8(value).c_str());
    }
  }
  std::printf("\n[product]\n");
  for (const auto& [key, value] : manager.Product()) {
    std::printf("%s=%s\n", WideToUtf8(key).c_str(), WideToUtf8(value).c_str());
  }
  Line("install folder", manager.GetInstallSubDir());
  Line("product executable", manager.GetExeRelativePath());
  Line("run as admin", manager.IsRunAsAdmin() ? L"yes" : L"no (interactive user)");
  std::printf("\n[urls]\n");
  Line("download", manager.GetDownloadUrl());
  Line("download 32-bit", manager.GetUrlValue(L"STR_DOWN_URL"));
  Line("download 64-bit", manager.GetUrlValue(L"STR_DOWN_URL_X64"));
  Line("download redirect", manager.GetDownloadUrlEx());
  Line("licence", manager.GetLicenceUrl());
  Line("after install", manager.GetInstallUrl());
  Line("carousel", manager.GetCarouselUrl());
  Line("analytics", manager.GetAnalyticsUrl());
  return 0;
}

int Keygen(const std::string& keyFile) {
  std::string error;
  if (!integrity::GenerateSigningKey(keyFile, error)) {
    std::fprintf(stderr, "kvbrand: %s\n", error.c_str());
    return 1;
  }
  std::printf("private key %s (keep it secret), public key %s.pub\n", keyFile.c_str(),
              keyFile.c_str());
  return 0;
}

int Sign(const std::string& keyFile, const std::string& installer) {
  std::string error;
  if (!integrity::SignPayloadFile(keyFile, installer, error)) {
    std::fprintf(stderr, "kvbrand: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s.sig written\n", installer.c_str());
  return 0;
}

// Exit 0 only when the installer's statement verifies with the keys and the file matches it.
int Verify(const std::string& publicKeyFile, const std::string& installer) {
  integrity::PublicKeySet given;
  if (!publicKeyFile.empty()) {
    std::ifstream in(publicKeyFile, std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string error;
    if (!in || !given.AddPem(pem, error)) {
      std::fprintf(stderr, "kvbrand: %s: %s\n", publicKeyFile.c_str(),
                   in ? error.c_str() : "cannot be read");
      return 1;
    }
  }
  const integrity::PublicKeySet& keys =
      publicKeyFile.empty() ? integrity::EmbeddedPublicKeys() : given;
  if (keys.empty()) {
    std::fprintf(stderr, "kvbrand: this build's brand has no public keys; give --key\n");
    return 1;
  }
  integrity::ExpectedPayload stated;
  const integrity::PayloadCheck check = integrity::VerifyPayloadFile(installer, keys, stated);
  if (check != integrity::PayloadCheck::kOk) {
    std::printf("%s: %s\n", installer.c_str(), integrity::DescribePayloadCheck(check));
    return 1;
  }
  std::printf("%s: verified, %llu bytes, sha256 %s, key %s\n", installer.c_str(),
              static_cast<unsigned long long>(stated.size),
              integrity::ToHex(stated.sha256.data(), stated.sha256.size()).c_str(),
              stated.signer.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const auto arg = [&](int i) { return std::string(argv[i]); };
  if (argc == 3 && arg(1) == "check") return Check(argv[2], UnsignedBrands::kRefuse);
  if (argc == 4 && arg(1) == "check" && arg(2) == "--allow-unsigned") {
    return Check(argv[3], UnsignedBrands::kAllow);
  }
  if (argc == 3 && arg(1) == "keygen") return Keygen(argv[2]);
  if (argc == 4 && arg(1) == "sign") return Sign(argv[2], argv[3]);
  if (argc == 3 && arg(1) == "verify") return Verify("", argv[2]);
  if (argc == 5 && arg(1) == "verify" && arg(2) == "--key") return Verify(argv[3], argv[4]);
  if (argc >= 2 && std::strcmp(argv[1], "show") == 0) {
    if (argc == 2) return Show(GetUiLanguageId());
    if (argc == 4 && std::strcmp(argv[2], "--lang") == 0) {
      std::string id = argv[3];
      if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) {
        std::fprintf(stderr, "kvbrand: --lang takes a decimal language id, e.g. 1033\n");
        return 2;
      }
      return Show(Utf8ToWide(id));
    }
  }
  return Usage();
}
