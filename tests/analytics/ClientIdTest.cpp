#include "analytics/ClientId.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <regex>

#include "platform/Registry.h"
#include "tests/support/TestSupport.h"

using platform::RegistryKey;
using platform::RegResult;
using platform::RegRoot;

namespace {

const wchar_t* kKey = L"SOFTWARE\\WOW6432Node\\Korvana\\KorvanaDown";

class ClientIdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("KV_REGISTRY_DIR");
    hadSaved_ = old != nullptr;
    saved_ = old ? old : "";
    setenv("KV_REGISTRY_DIR", dir_.path().c_str(), 1);
  }
  void TearDown() override {
    if (hadSaved_) {
      setenv("KV_REGISTRY_DIR", saved_.c_str(), 1);
    } else {
      unsetenv("KV_REGISTRY_DIR");
    }
  }

  std::wstring Stored(std::size_t* bytes = nullptr) {
    RegistryKey key;
    if (RegistryKey::Open(RegRoot::LocalMachine, kKey, key) != RegResult::Ok) return L"<no key>";
    std::wstring value;
    if (key.QueryString(L"GUID", value, bytes) != RegResult::Ok) return L"<no value>";
    return value;
  }
  void Store(const std::wstring& value) {
    RegistryKey key;
    ASSERT_EQ(RegResult::Ok, RegistryKey::Create(RegRoot::LocalMachine, kKey, key));
    ASSERT_EQ(RegResult::Ok, key.SetString(L"GUID", value));
  }
  static bool WellFormed(const std::wstring& id) {
    static const std::wregex form(L"[0-9A-F]{8}-[0-9A-F]{4}-[0-9a-f]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
    return std::regex_match(id, form);
  }
  kvtest::TempDir dir_;
  std::string saved_;
  bool hadSaved_ = false;
};

TEST_F(ClientIdTest, FirstRunCreatesAndLaterRunsReuse) {
  const std::wstring id = GetClientId();
  EXPECT_EQ(36u, id.size());
  EXPECT_TRUE(WellFormed(id)) << std::string(id.begin(), id.end());
  std::size_t bytes = 0;
  EXPECT_EQ(id, Stored(&bytes));
  EXPECT_EQ(72u, bytes);
  EXPECT_EQ(id, GetClientId());
}

TEST_F(ClientIdTest, UnusableStoredValuesAreReplaced) {
  const std::wstring braced = L"{1A2B3C4D-ABCD-ef01-DEAD-BEEF00112233}";
  for (const std::wstring& bad : {braced, std::wstring(L"has space"), std::wstring(L"under_score"),
                                  std::wstring(L"caf\u00e9")}) {
    Store(bad);
    const std::wstring id = GetClientId();
    EXPECT_TRUE(WellFormed(id));
    EXPECT_EQ(id, Stored());
  }
  Store(L"abc-DEF-123");
  EXPECT_EQ(L"abc-DEF-123", GetClientId());
}

TEST_F(ClientIdTest, StoreThatCannotBeWrittenGivesEmptyId) {
  setenv("KV_REGISTRY_DIR", "/dev/null/registry", 1);
  EXPECT_EQ(L"", GetClientId());
}

TEST(ClientGuidFormatTest, ThirdGroupIsLowerCase) {
  platform::Guid g{0x1A2B3C4D, 0xABCD, 0xEF01, {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x11, 0x22, 0x33}};
  EXPECT_EQ(L"1A2B3C4D-ABCD-ef01-DEAD-BEEF00112233", FormatClientGuid(g));
  platform::Guid zero{};
  EXPECT_EQ(L"00000000-0000-0000-0000-000000000000", FormatClientGuid(zero));
}

}  // namespace
