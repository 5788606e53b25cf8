// The request clients behind a real squid: plain requests, TLS tunnels, Basic authentication,
// with the proxy named by the variables or by the desktop's settings.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <thread>

#include "http/HttpBase.h"
#include "http/WinHttpRequest.h"
#include "tests/http/support/Widen.h"
#include "tests/kvhttp/support/ProxyServers.h"
#include "tests/platform/web/support/ScriptedServer.h"
#include "tests/support/TestSupport.h"

using kvtest::Reply;
using kvtest::ScriptedRequest;
using kvtest::ScriptedServer;
using kvtest::W;
namespace fs = std::filesystem;

namespace {

constexpr char kUser[] = "kvuser";
constexpr char kPassword[] = "p@ss:word";
// The password as it stands in a proxy address.
constexpr char kEncodedPassword[] = "p%40ss%3Aword";

// squid writes a request's line once the exchange is over: wait a little for it.
bool Logged(const kvtest::SquidProxy& squid, const std::string& what) {
  for (int i = 0; i < 50; ++i) {
    if (squid.AccessLog().find(what) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

class ProxyRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : {"http_proxy", "https_proxy", "all_proxy", "no_proxy", "NO_PROXY"}) {
      unsetenv(v);
    }
    ASSERT_TRUE(origin_.Start([](const ScriptedRequest& r) {
      if (r.method == "HEAD") return Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 1234\r\n\r\n");
      if (r.method == "POST") return Reply::Text(200, "posted " + r.body);
      return Reply::Text(200, "origin page");
    }));
  }
  void TearDown() override {
    unsetenv("http_proxy");
    unsetenv("https_proxy");
  }
  std::string Origin(const std::string& path) const { return origin_.BaseUrl() + path; }
  static std::string ProxyUrl(const kvtest::SquidProxy& squid, const std::string& credentials) {
    return "http://" + credentials + "127.0.0.1:" + std::to_string(squid.port());
  }

  ScriptedServer origin_;
};

TEST_F(ProxyRequestTest, EveryClientGoesThroughTheProxy) {
  kvtest::SquidProxy squid;
  ASSERT_TRUE(squid.Start()) << squid.Log();
  setenv("http_proxy", ProxyUrl(squid, "").c_str(), 1);

  EXPECT_EQ("origin page", FetchUrlText(W(Origin("/carousel"))));
  EXPECT_EQ(1234u, QueryRemoteFileSize(W(Origin("/setup.exe"))));
  IHttpBase* base = nullptr;
  ASSERT_TRUE(CreateHttpClient(&base, HttpClientWinHttp));
  EXPECT_EQ("posted {}", static_cast<IWinHttp*>(base)->PerformRequest(
                             Origin("/mp/collect").c_str(), HttpVerbPost, "{}",
                             "Content-Type: application/json; charset=utf-8"));
  base->Release();

  ASSERT_EQ(3u, origin_.Requests().size());
  // squid adds its own field on the way.
  for (const ScriptedRequest& r : origin_.Requests()) EXPECT_NE("", r.Field("Via")) << r.head;
  EXPECT_TRUE(Logged(squid, "GET " + Origin("/carousel"))) << squid.AccessLog();
  EXPECT_TRUE(Logged(squid, "HEAD " + Origin("/setup.exe"))) << squid.AccessLog();
  EXPECT_TRUE(Logged(squid, "POST " + Origin("/mp/collect"))) << squid.AccessLog();

  // no_proxy sends the host past the proxy.
  setenv("no_proxy", "127.0.0.1", 1);
  EXPECT_EQ("origin page", FetchUrlText(W(Origin("/direct"))));
  unsetenv("no_proxy");
  ASSERT_EQ(4u, origin_.Requests().size());
  EXPECT_EQ("", origin_.Requests()[3].Field("Via"));
}

TEST_F(ProxyRequestTest, BasicAuthenticationFromTheProxyAddress) {
  kvtest::SquidProxy squid;
  ASSERT_TRUE(squid.Start(kUser, kPassword)) << squid.Log();

  // Wrong credentials: squid's refusal comes back, the origin sees nothing.
  setenv("http_proxy", ProxyUrl(squid, std::string(kUser) + ":wrong@").c_str(), 1);
  EXPECT_NE("origin page", FetchUrlText(W(Origin("/refused"))));
  EXPECT_TRUE(origin_.Requests().empty());

  setenv("http_proxy", ProxyUrl(squid, std::string(kUser) + ":" + kEncodedPassword + "@").c_str(),
         1);
  EXPECT_EQ("origin page", FetchUrlText(W(Origin("/carousel"))));
  ASSERT_EQ(1u, origin_.Requests().size());
  // The credentials are for the proxy only.
  EXPECT_EQ("", origin_.Requests()[0].Field("Proxy-Authorization"));
  EXPECT_TRUE(Logged(squid, kUser)) << squid.AccessLog();
}

TEST_F(ProxyRequestTest, HttpsThroughAnAuthenticatingTunnel) {
  kvtest::TempDir dir;
  kvtest::TestCertificates certs;
  ASSERT_TRUE(kvtest::MakeTestCertificates(dir / "certs", {"127.0.0.1"}, certs));
  kvtest::WriteFile(dir / "www/banner.png", kvtest::PatternBytes(50000, 3));
  fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_exec);
  kvtest::NginxOptions o;
  o.root = dir / "www";
  o.tls = true;
  o.certFile = certs.serverCert;
  o.keyFile = certs.serverKey;
  kvtest::NginxServer nginx;
  ASSERT_TRUE(nginx.Start(o));
  kvtest::SquidProxy squid;
  ASSERT_TRUE(squid.Start(kUser, kPassword)) << squid.Log();
  setenv("SSL_CERT_FILE", certs.caCert.c_str(), 1);
  setenv("https_proxy", ProxyUrl(squid, std::string(kUser) + ":" + kEncodedPassword + "@").c_str(),
         1);

  {
    CWinHttpRequest image;
    ASSERT_TRUE(image.OpenUrl(W(nginx.BaseUrl() + "/banner.png")));
    ASSERT_TRUE(image.SaveBodyToFile((dir / "banner.png").wstring(), 1 << 20));
  }
  unsetenv("SSL_CERT_FILE");
  EXPECT_EQ(kvtest::PatternBytes(50000, 3), kvtest::ReadFile(dir / "banner.png"));
  EXPECT_TRUE(Logged(squid, "CONNECT 127.0.0.1:" + std::to_string(nginx.port())))
      << squid.AccessLog();
}

// In a process of its own: GIO picks its resolver once, and the desktop's settings live in
// memory there.
TEST_F(ProxyRequestTest, DISABLED_DesktopProxyWithCredentials) {
  const char* port = std::getenv("KV_TEST_SQUID_PORT");
  ASSERT_NE(nullptr, port);
  GSettings* proxy = g_settings_new("org.gnome.system.proxy");
  GSettings* http = g_settings_new("org.gnome.system.proxy.http");
  const char* const none[] = {nullptr};
  g_settings_set_strv(proxy, "ignore-hosts", none);
  g_settings_set_string(http, "host", "127.0.0.1");
  g_settings_set_int(http, "port", std::atoi(port));
  g_settings_set_boolean(http, "use-authentication", TRUE);
  g_settings_set_string(http, "authentication-user", kUser);
  g_settings_set_string(http, "authentication-password", kPassword);
  g_settings_set_string(proxy, "mode", "manual");
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  g_object_unref(http);
  g_object_unref(proxy);
  EXPECT_EQ("origin page", FetchUrlText(W(Origin("/from-the-desktop"))));
}

TEST_F(ProxyRequestTest, DesktopProxySettings) {
  kvtest::SquidProxy squid;
  ASSERT_TRUE(squid.Start(kUser, kPassword)) << squid.Log();
  kvtest::TempDir dir;
  const std::string out = (dir / "child.txt").string();
  kvtest::ChildProcess child;
  ASSERT_TRUE(
      child.Start({fs::read_symlink("/proc/self/exe").string(), "--gtest_also_run_disabled_tests",
                   "--gtest_filter=ProxyRequestTest.DISABLED_DesktopProxyWithCredentials"},
                  out,
                  {{"XDG_CURRENT_DESKTOP", "GNOME"},
                   {"GSETTINGS_BACKEND", "memory"},
                   {"KV_TEST_SQUID_PORT", std::to_string(squid.port())}}));
  const int status = child.Wait(std::chrono::seconds(60));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << kvtest::ReadFile(out);
  EXPECT_TRUE(Logged(squid, "/from-the-desktop")) << squid.AccessLog();
  EXPECT_TRUE(Logged(squid, kUser)) << squid.AccessLog();
}

}  // namespace
