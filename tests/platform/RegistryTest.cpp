#include "platform/Registry.h"

// What the test itself uses.
#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/detail/RegistryStore.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using platform::RegDisposition;
using platform::RegistryKey;
using platform::RegResult;
using platform::RegRoot;

namespace {

const std::wstring kKey = L"SOFTWARE\\WOW6432Node\\Korvana\\KorvanaDown";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("KV_REGISTRY_DIR", dir_.path().c_str(), 1); }
  void TearDown() override { ::unsetenv("KV_REGISTRY_DIR"); }

  int RunProbe(const std::vector<std::string>& args, std::string* out = nullptr) {
    std::vector<std::string> argv{KV_PLATFORM_PROBE};
    argv.insert(argv.end(), args.begin(), args.end());
    fs::path log = dir_ / ("probe" + std::to_string(++runs_) + ".out");
    kvtest::ChildProcess child;
    EXPECT_TRUE(child.Start(argv, log.string(), {{"KV_REGISTRY_DIR", dir_.path().string()}}));
    int status = child.Wait(std::chrono::seconds(120));
    if (out) *out = kvtest::ReadFile(log);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  kvtest::TempDir dir_;
  int runs_ = 0;
};

}  // namespace

TEST_F(RegistryTest, CreateReportsNewThenExistingAndValuesSurviveARestart) {
  RegistryKey key;
  RegDisposition disp{};
  ASSERT_EQ(RegistryKey::Create(RegRoot::LocalMachine, kKey, key, &disp), RegResult::Ok);
  EXPECT_EQ(disp, RegDisposition::CreatedNewKey);
  std::wstring value;
  EXPECT_EQ(key.QueryString(L"GUID", value), RegResult::NotFound);
  const std::wstring guid = L"{0A1B2C3D-\u00e9\u4e2d \"q\" \\ line\nnext}";
  ASSERT_EQ(key.SetString(L"GUID", guid), RegResult::Ok);
  key.Close();
  EXPECT_FALSE(key.IsOpen());

  // Another process sees it, and its own write is seen here.
  std::string out;
  ASSERT_EQ(RunProbe({"reg-get", "SOFTWARE\\WOW6432Node\\Korvana\\KorvanaDown", "GUID"}, &out), 0);
  EXPECT_EQ(out, "{0A1B2C3D-\xc3\xa9\xe4\xb8\xad \"q\" \\ line\nnext}\n");
  ASSERT_EQ(RunProbe({"reg-set", "software\\wow6432node\\korvana\\korvanadown", "Other", "x"}), 0);

  RegistryKey again;
  ASSERT_EQ(RegistryKey::Create(RegRoot::LocalMachine, kKey + L"\\", again, &disp), RegResult::Ok);
  EXPECT_EQ(disp, RegDisposition::OpenedExistingKey);
  std::size_t bytes = 0;
  ASSERT_EQ(again.QueryString(L"guid", value, &bytes), RegResult::Ok);
  EXPECT_EQ(value, guid);
  EXPECT_EQ(bytes, guid.size() * 2);
  ASSERT_EQ(again.QueryString(L"Other", value), RegResult::Ok);
  EXPECT_EQ(value, L"x");

  // Parents exist once a child was created; other keys and the other root do not.
  RegistryKey parent;
  EXPECT_EQ(RegistryKey::Open(RegRoot::LocalMachine, L"SOFTWARE\\WOW6432Node", parent),
            RegResult::Ok);
  EXPECT_EQ(RegistryKey::Open(RegRoot::LocalMachine, L"SOFTWARE\\Nothing", parent),
            RegResult::NotFound);
  EXPECT_EQ(RegistryKey::Open(RegRoot::CurrentUser, kKey, parent), RegResult::NotFound);
}

TEST_F(RegistryTest, NamesIgnoreCaseBeyondAsciiInAnyLocale) {
  // The plain C locale knows no case outside ASCII; the store must not depend on it.
  const std::string previous = ::setlocale(LC_CTYPE, nullptr);
  ::setlocale(LC_CTYPE, "C");
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(RegRoot::CurrentUser, L"SOFTWARE\\\u041a\u043b\u044e\u0447", key),
            RegResult::Ok);
  ASSERT_EQ(key.SetString(L"\u00c4rger", L"1"), RegResult::Ok);
  ASSERT_EQ(key.SetString(L"\u00e4rger", L"2"), RegResult::Ok);  // the same name: replaced
  RegistryKey same;
  ASSERT_EQ(RegistryKey::Open(RegRoot::CurrentUser, L"software\\\u041a\u041b\u042e\u0427", same),
            RegResult::Ok);
  std::wstring value;
  EXPECT_EQ(same.QueryString(L"\u00c4RGER", value), RegResult::Ok);
  EXPECT_EQ(value, L"2");
  ::setlocale(LC_CTYPE, previous.c_str());
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  kvtest::ChildProcess a, b;
  fs::path la = dir_ / "a.out", lb = dir_ / "b.out";
  std::map<std::string, std::string> env{{"KV_REGISTRY_DIR", dir_.path().string()}};
  ASSERT_TRUE(a.Start({KV_PLATFORM_PROBE, "reg-many", "a", "150"}, la.string(), env));
  ASSERT_TRUE(b.Start({KV_PLATFORM_PROBE, "reg-many", "b", "150"}, lb.string(), env));
  EXPECT_EQ(a.Wait(std::chrono::seconds(120)), 0);
  EXPECT_EQ(b.Wait(std::chrono::seconds(120)), 0);

  RegistryKey key;
  ASSERT_EQ(RegistryKey::Open(RegRoot::LocalMachine, L"SOFTWARE\\Busy", key), RegResult::Ok);
  for (const wchar_t* who : {L"a", L"b"}) {
    for (int i = 0; i < 150; ++i) {
      std::wstring name = std::wstring(who) + L"-" + std::to_wstring(i);
      std::wstring value;
      ASSERT_EQ(key.QueryString(name, value), RegResult::Ok) << i;
      EXPECT_EQ(value, name + L" value \"quoted\"\n");
    }
  }
  EXPECT_FALSE(fs::exists(dir_ / "machine" / "HKEY_LOCAL_MACHINE.tmp"));
}

TEST_F(RegistryTest, DamagedStoreIsKeptAsideAndWritingGoesOn) {
  fs::create_directories(dir_ / "machine");
  const fs::path store = dir_ / "machine" / "HKEY_LOCAL_MACHINE";
  kvtest::WriteFile(store, "KVREG1\n[\"SOFTWARE\"]\n");
  RegistryKey key;
  EXPECT_EQ(RegistryKey::Open(RegRoot::LocalMachine, L"SOFTWARE", key), RegResult::NotFound);
  ASSERT_EQ(RegistryKey::Create(RegRoot::LocalMachine, L"SOFTWARE\\K", key), RegResult::Ok);
  ASSERT_EQ(key.SetString(L"v", L"1"), RegResult::Ok);
  EXPECT_EQ(kvtest::ReadFile(store.string() + ".damaged"), "KVREG1\n[\"SOFTWARE\"]\n");
  std::wstring value;
  EXPECT_EQ(key.QueryString(L"v", value), RegResult::Ok);
}

TEST_F(RegistryTest, UnwritableMachineStoreFallsBackToTheUserStore) {
  // The machine store's place is taken by a file, so nothing can be written there.
  kvtest::WriteFile(dir_ / "machine", "not a folder");
  RegistryKey key;
  RegDisposition disp{};
  ASSERT_EQ(RegistryKey::Create(RegRoot::LocalMachine, kKey, key, &disp), RegResult::Ok);
  EXPECT_EQ(disp, RegDisposition::CreatedNewKey);
  ASSERT_EQ(key.SetString(L"GUID", L"g"), RegResult::Ok);
  EXPECT_TRUE(fs::exists(dir_ / "user" / "HKEY_LOCAL_MACHINE"));
  RegistryKey reopened;
  ASSERT_EQ(RegistryKey::Open(RegRoot::LocalMachine, kKey, reopened), RegResult::Ok);
  std::wstring value;
  EXPECT_EQ(reopened.QueryString(L"GUID", value), RegResult::Ok);
  EXPECT_EQ(value, L"g");

  // When neither store can be written the answer is "access denied", not a crash.
  fs::remove_all(dir_ / "user");
  kvtest::WriteFile(dir_ / "user", "not a folder either");
  RegistryKey denied;
  EXPECT_EQ(RegistryKey::Create(RegRoot::CurrentUser, kKey, denied), RegResult::AccessDenied);
  EXPECT_EQ(key.SetString(L"GUID", L"h"), RegResult::AccessDenied);
  RegistryKey closed;
  EXPECT_EQ(closed.SetString(L"a", L"b"), RegResult::Error);
}

TEST(RegistryStore, ParsesOnlyWholeStores) {
  platform::detail::RegKeys keys;
  keys[L"A\\B"][L"n\"ame"] = L"va\\lue\r\n\u00e9";
  keys[L"A\\B"][L""] = L"";
  std::string text = platform::detail::SerialiseStore(keys);
  platform::detail::RegKeys back;
  ASSERT_TRUE(platform::detail::ParseStore(text, back));
  EXPECT_EQ(back, keys);
  // Every cut short of the whole text is refused rather than read in part.
  for (std::size_t len = 0; len < text.size(); ++len) {
    EXPECT_FALSE(platform::detail::ParseStore(text.substr(0, len), back)) << len;
  }
  EXPECT_EQ(platform::detail::NormaliseKeyPath(L"\\\\A\\\\B\\"), L"A\\B");
}
