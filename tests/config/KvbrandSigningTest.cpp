// kvbrand's publisher commands (keygen, sign, verify) and its signing checks, run as a process.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "platform/profile/Profile.h"
#include "tests/config/ConfigFixtures.h"
#include "tests/config/KvbrandRun.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using kvtest::Kvbrand;
using kvtest::ToolRun;

bool Has(const ToolRun& run, const std::string& text) {
  return run.output.find(text) != std::string::npos;
}

void FlipBit(const fs::path& file, std::size_t offset) {
  std::string bytes = kvtest::ReadFile(file);
  bytes[offset] = static_cast<char>(bytes[offset] ^ 0x10);
  kvtest::WriteFile(file, bytes);
}

// Another hex digit at `offset`: the value changes, the statement still parses.
void ChangeHexDigit(const fs::path& file, std::size_t offset) {
  std::string bytes = kvtest::ReadFile(file);
  bytes[offset] = bytes[offset] == '0' ? '1' : '0';
  kvtest::WriteFile(file, bytes);
}

TEST(KvbrandSigning, KeygenSignVerifyAndEveryTamperedByte) {
  kvtest::TempDir tmp, dir;
  const std::string key = (dir / "publisher.key").string();
  const std::string installer = (dir / "setup.exe").string();
  kvtest::WriteFile(installer, kvtest::PatternBytes(300000, 5));

  ASSERT_EQ(0, Kvbrand({"keygen", key}, tmp.path()).exitCode);
  struct stat st;
  ASSERT_EQ(0, stat(key.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  EXPECT_NE(std::string::npos, kvtest::ReadFile(key + ".pub").find("BEGIN PUBLIC KEY"));
  // An existing key is never replaced.
  const std::string before = kvtest::ReadFile(key);
  EXPECT_EQ(1, Kvbrand({"keygen", key}, tmp.path()).exitCode);
  EXPECT_EQ(before, kvtest::ReadFile(key));

  ASSERT_EQ(0, Kvbrand({"sign", key, installer}, tmp.path()).exitCode);
  const std::string statement = kvtest::ReadFile(installer + ".sig");
  EXPECT_EQ(0u, statement.find("kvdownloader-statement 1\nsize 300000\nsha256 " +
                               kvtest::Sha256Hex(kvtest::ReadFile(installer)) + "\n"))
      << statement;
  const ToolRun good = Kvbrand({"verify", "--key", key + ".pub", installer}, tmp.path());
  EXPECT_EQ(0, good.exitCode) << good.output;
  EXPECT_TRUE(Has(good, "verified, 300000 bytes")) << good.output;

  // One flipped bit in the installer; another digit in the statement's digest or signature.
  FlipBit(installer, 123456);
  ToolRun run = Kvbrand({"verify", "--key", key + ".pub", installer}, tmp.path());
  EXPECT_EQ(1, run.exitCode);
  EXPECT_TRUE(Has(run, "SHA-256 differs")) << run.output;
  FlipBit(installer, 123456);
  for (const std::string field : {"sha256 ", "signature "}) {
    ChangeHexDigit(installer + ".sig", statement.find(field) + field.size() + 3);
    run = Kvbrand({"verify", "--key", key + ".pub", installer}, tmp.path());
    EXPECT_EQ(1, run.exitCode) << field;
    EXPECT_TRUE(Has(run, "signed by no key")) << run.output;
    kvtest::WriteFile(installer + ".sig", statement);
  }
  // A longer file, and a statement signed by another key.
  kvtest::WriteFile(installer, kvtest::ReadFile(installer) + "x");
  run = Kvbrand({"verify", "--key", key + ".pub", installer}, tmp.path());
  EXPECT_TRUE(Has(run, "size differs")) << run.output;
  const std::string other = (dir / "other.key").string();
  ASSERT_EQ(0, Kvbrand({"keygen", other}, tmp.path()).exitCode);
  ASSERT_EQ(0, Kvbrand({"sign", other, installer}, tmp.path()).exitCode);
  run = Kvbrand({"verify", "--key", key + ".pub", installer}, tmp.path());
  EXPECT_EQ(1, run.exitCode);
  EXPECT_TRUE(Has(run, "signed by no key")) << run.output;

  // Wrong inputs end with status 1, not a crash.
  EXPECT_EQ(1, Kvbrand({"sign", key + ".pub", installer}, tmp.path()).exitCode);
  EXPECT_EQ(1, Kvbrand({"sign", key, (dir / "none").string()}, tmp.path()).exitCode);
  EXPECT_EQ(1, Kvbrand({"verify", "--key", key, installer}, tmp.path()).exitCode);
  EXPECT_EQ(2, Kvbrand({"verify", "--key", installer}, tmp.path()).exitCode);
}

// The build signed a payload with the demo brand's own key; the embedded keys verify it, and
// only it.
TEST(KvbrandSigning, EmbeddedKeysAreTheBuildsDemoKey) {
#ifndef KV_TEST_SIGNED_PAYLOAD
  GTEST_SKIP() << "this brand has no build-time signing key";
#else
  kvtest::TempDir tmp, dir;
  const ToolRun built = Kvbrand({"verify", KV_TEST_SIGNED_PAYLOAD}, tmp.path());
  EXPECT_EQ(0, built.exitCode) << built.output;
  const std::string installer = (dir / "setup.exe").string();
  kvtest::WriteFile(installer, "another installer");
  ASSERT_EQ(0, Kvbrand({"keygen", (dir / "k").string()}, tmp.path()).exitCode);
  ASSERT_EQ(0, Kvbrand({"sign", (dir / "k").string(), installer}, tmp.path()).exitCode);
  EXPECT_EQ(1, Kvbrand({"verify", installer}, tmp.path()).exitCode);
  ASSERT_EQ(0, Kvbrand({"sign", KV_TEST_DEMO_KEY, installer}, tmp.path()).exitCode);
  EXPECT_EQ(0, Kvbrand({"verify", installer}, tmp.path()).exitCode);
#endif
}

class KvbrandCheckSigning : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& entry : fs::directory_iterator(KV_TEST_BRAND_DIR)) {
      if (entry.is_regular_file()) fs::copy_file(entry.path(), dir_ / entry.path().filename());
    }
    brandCmake_ = kvtest::ReadFile(dir_ / "brand.cmake");
  }
  void SetUrl(const std::wstring& key, const std::wstring& url) {
    std::wstring t = platform::DecodeProfileText(kvtest::ReadFile(dir_ / "url.ini"));
    t.erase(std::remove(t.begin(), t.end(), L'\r'), t.end());
    const std::size_t at = t.find(L"\n" + key + L"=");
    ASSERT_NE(std::wstring::npos, at);
    const std::size_t end = t.find(L'\n', at + 1);
    t.replace(at + 1, end - at - 1, key + L"=" + url);
    kvtest::WriteFile(dir_ / "url.ini", configtest::Utf16File(t));
  }
  // brand.cmake with the demo key line replaced by `keys` ("" for none).
  void SetKeys(const std::string& keys) {
    std::string text = brandCmake_;
    const std::string demo = "set(KV_BRAND_DEMO_SIGNING_KEY \"ON\")";
    const std::size_t at = text.find(demo);
    ASSERT_NE(std::string::npos, at);
    text.replace(at, demo.size(), keys);
    kvtest::WriteFile(dir_ / "brand.cmake", text);
  }
  ToolRun Check(bool allowUnsigned = false) {
    std::vector<std::string> args{"check"};
    if (allowUnsigned) args.push_back("--allow-unsigned");
    args.push_back(dir_.path().string());
    return Kvbrand(args, tmp_.path());
  }
  kvtest::TempDir tmp_, dir_;
  std::string brandCmake_;
};

TEST_F(KvbrandCheckSigning, PlainHttpDownloadsOnlyOnThisMachine) {
  SetUrl(L"STR_DOWN_URL_X64", L"http://[::1]:8080/setup.exe");
  ToolRun run = Check();
  EXPECT_EQ(0, run.exitCode) << run.output;

  SetUrl(L"STR_DOWN_URL", L"http://downloads.example.com/setup.exe");
  run = Check();
  EXPECT_EQ(1, run.exitCode);
  EXPECT_TRUE(Has(run, "url.ini: [CommonUrl] STR_DOWN_URL: plain http:// download")) << run.output;
  // The demo key is no key for a brand served from elsewhere.
  EXPECT_TRUE(Has(run, "KV_BRAND_DEMO_SIGNING_KEY: the demo key")) << run.output;

  SetUrl(L"STR_DOWN_URL", L"https://downloads.example.com/setup.exe");
  run = Check();
  EXPECT_FALSE(Has(run, "plain http://")) << run.output;
  EXPECT_TRUE(Has(run, "KV_BRAND_DEMO_SIGNING_KEY")) << run.output;
}

TEST_F(KvbrandCheckSigning, BrandWithoutAKeyOrWithABrokenOne) {
  SetKeys("");
  ToolRun run = Check();
  EXPECT_EQ(1, run.exitCode);
  EXPECT_TRUE(Has(run, "KV_BRAND_PUBLIC_KEYS: no key signs")) << run.output;
  run = Check(true);
  EXPECT_EQ(0, run.exitCode) << run.output;

  ASSERT_EQ(0, Kvbrand({"keygen", (tmp_ / "a.key").string()}, tmp_.path()).exitCode);
  fs::create_directories(dir_ / "keys");
  fs::copy_file(tmp_ / "a.key.pub", dir_ / "keys/a.pub");
  SetKeys("set(KV_BRAND_PUBLIC_KEYS \"keys/a.pub\")");
  run = Check();
  EXPECT_EQ(0, run.exitCode) << run.output;

  // A private key where the public one belongs, a missing file, three keys.
  fs::copy_file(tmp_ / "a.key", dir_ / "keys/private.pub");
  SetKeys("set(KV_BRAND_PUBLIC_KEYS \"keys/private.pub;keys/none.pub\")");
  run = Check(true);
  EXPECT_EQ(1, run.exitCode);
  EXPECT_TRUE(Has(run, "keys/private.pub: not a PEM public key")) << run.output;
  EXPECT_TRUE(Has(run, "keys/none.pub: file is missing")) << run.output;
  kvtest::WriteFile(dir_ / "keys/two.pub",
                    kvtest::ReadFile(dir_ / "keys/a.pub") + kvtest::ReadFile(dir_ / "keys/a.pub"));
  SetKeys("set(KV_BRAND_PUBLIC_KEYS \"keys/a.pub;keys/two.pub\")");
  run = Check();
  EXPECT_TRUE(Has(run, "more than 2 public keys")) << run.output;
}

}  // namespace
