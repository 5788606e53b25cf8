#include "http/WinHttp.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>

#include "tests/http/support/RecordingSink.h"
#include "tests/http/support/Widen.h"
#include "tests/platform/web/support/ScriptedServer.h"
#include "tests/support/TestSupport.h"

using kvtest::Reply;
using kvtest::ScriptedRequest;
using kvtest::ScriptedServer;
using kvtest::W;
namespace fs = std::filesystem;

namespace {

Reply Scripted(const ScriptedRequest& r) {
  if (r.target == "/chunked") {
    return Reply::Raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n");
  }
  if (r.target == "/broken") {
    return Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + std::string(1000, 'x'));
  }
  if (r.target == "/error") return Reply::Text(500, "server error page");
  if (r.target == "/slow") {
    Reply reply;
    reply.pieces = {{"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nab", 0}, {"cd", 1500}};
    return reply;
  }
  if (r.target == "/at-cap") return Reply::Text(200, std::string(kHttpMaxTextBody, 'c'));
  if (r.target == "/over-cap") return Reply::Text(200, std::string(kHttpMaxTextBody + 1, 'c'));
  return Reply::Text(200, std::string(10000, 'z'));
}

class WinHttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start(Scripted));
    ASSERT_TRUE(CreateHttpClient(&base_, HttpClientWinHttp));
    client_ = static_cast<IWinHttp*>(base_);
  }
  void TearDown() override {
    if (base_) base_->Release();
  }
  std::wstring Url(const std::string& path) { return W(server_.BaseUrl() + path); }
  std::string Get(const std::string& path) {
    return client_->PerformRequest(Url(path).c_str(), HttpVerbGet, nullptr,
                                   static_cast<const wchar_t*>(nullptr));
  }
  ScriptedServer server_;
  kvtest::TempDir dir_;
  IHttpBase* base_ = nullptr;
  IWinHttp* client_ = nullptr;
};

TEST_F(WinHttpClientTest, NotFoundGivesEmptyTextWhileOtherErrorPagesComeBack) {
  kvtest::WriteFile(dir_ / "www/index.html", "x");
  fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::others_exec);
  kvtest::NginxOptions o;
  o.root = dir_ / "www";
  kvtest::NginxServer nginx;
  ASSERT_TRUE(nginx.Start(o));
  EXPECT_EQ("", client_->PerformRequest(W(nginx.BaseUrl() + "/nothing").c_str(), HttpVerbGet,
                                        nullptr, static_cast<const wchar_t*>(nullptr)));
  EXPECT_EQ(404, client_->StatusCode());
  EXPECT_EQ(HttpErrNotFound, client_->LastError());

  EXPECT_EQ("server error page", Get("/error"));
  EXPECT_EQ(500, client_->StatusCode());
}

TEST_F(WinHttpClientTest, JsonPostCarriesTheDefaultsAndTheExtraField) {
  const std::string url = server_.BaseUrl() + "/mp/collect?measurement_id=G-X";
  EXPECT_EQ(std::string(10000, 'z'),
            client_->PerformRequest(url.c_str(), HttpVerbPost, "{}",
                                    "Content-Type: application/json; charset=utf-8"));
  EXPECT_EQ(200, client_->StatusCode());
  ASSERT_EQ(1u, server_.Requests().size());
  const ScriptedRequest r = server_.Requests()[0];
  EXPECT_EQ("POST", r.method);
  EXPECT_EQ("/mp/collect?measurement_id=G-X", r.target);
  EXPECT_EQ("{}", r.body);
  EXPECT_EQ("application/json; charset=utf-8", r.Field("Content-Type"));
  EXPECT_EQ("zh-CN,zh;q=0.9", r.Field("Accept-Language"));
  EXPECT_EQ("Keep-Alive", r.Field("Connection"));
  EXPECT_EQ("*/*", r.Field("Accept"));
  // The header set's agent takes the place of the session's.
  EXPECT_NE(std::string::npos, r.Field("User-Agent").find("Mozilla/5.0"));
}

TEST_F(WinHttpClientTest, FetchesNeedALengthAndABrokenFileIsRemoved) {
  kvtest::RecordingSink sink;
  client_->SetProgressSink(&sink, nullptr);
  const fs::path file = dir_ / "f.bin";
  ASSERT_TRUE(client_->FetchToFile(Url("/f").c_str(), file.wstring().c_str()));
  EXPECT_EQ(std::string(10000, 'z'), kvtest::ReadFile(file));
  ASSERT_FALSE(sink.notes.empty());
  for (const auto& n : sink.notes) EXPECT_EQ(HttpTransferRunning, n.state);
  EXPECT_EQ(10000.0, sink.notes.back().done);
  EXPECT_EQ(0, sink.cancelQueries);

  EXPECT_FALSE(client_->FetchToFile(Url("/broken").c_str(), file.wstring().c_str()));
  EXPECT_FALSE(fs::exists(file));

  EXPECT_FALSE(client_->FetchToFile(Url("/chunked").c_str(), file.wstring().c_str()));
  EXPECT_EQ(HttpErrQuery, client_->LastError());
  void* block = nullptr;
  int size = 0;
  EXPECT_FALSE(client_->FetchToMemory(Url("/chunked").c_str(), &block, &size));
  EXPECT_EQ(HttpErrQuery, client_->LastError());
  // A body cut short is dropped from the text result without a code of its own.
  EXPECT_EQ("", Get("/broken"));
  EXPECT_EQ(HttpErrQuery, client_->LastError());
  EXPECT_FALSE(client_->FetchToMemory(Url("/broken").c_str(), &block, &size));
  EXPECT_EQ(HttpErrIncomplete, client_->LastError());
  EXPECT_EQ(nullptr, block);
  ASSERT_TRUE(client_->FetchToMemory(Url("/f").c_str(), &block, &size));
  EXPECT_EQ(10000, size);
  std::free(block);
}

TEST_F(WinHttpClientTest, AnswersAreCappedAt64KiB) {
  EXPECT_EQ(kHttpMaxTextBody, Get("/at-cap").size());
  EXPECT_EQ("", Get("/over-cap"));
  EXPECT_EQ(HttpErrSize, client_->LastError());
  EXPECT_EQ(200, client_->StatusCode());
}

// An https URL is asked over TLS whatever its port, and the certificate must verify unless the
// caller relaxes the checks; a failed check never turns into a plain request.
TEST(WinHttpCertificateTest, HttpsOnAnyPortVerifiesUnlessRelaxed) {
  kvtest::TempDir dir;
  kvtest::TestCertificates certs;
  ASSERT_TRUE(kvtest::MakeTestCertificates(dir / "certs", {"127.0.0.1"}, certs));
  kvtest::WriteFile(dir / "www/page", "secure page");
  fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_exec);
  kvtest::NginxOptions o;
  o.root = dir / "www";
  o.tls = true;
  o.certFile = certs.serverCert;
  o.keyFile = certs.serverKey;
  kvtest::NginxServer nginx;
  ASSERT_TRUE(nginx.Start(o));
  const std::string url = nginx.BaseUrl() + "/page";
  ASSERT_EQ(0u, url.rfind("https://", 0));

  for (HttpClientKind kind : {HttpClientWinHttp, HttpClientWinInet}) {
    IHttpBase* base = nullptr;
    ASSERT_TRUE(CreateHttpClient(&base, kind));
    auto* client = static_cast<IWininetHttp*>(base);
    auto get = [&] {
      return client->PerformRequest(url.c_str(), HttpVerbGet, nullptr,
                                    static_cast<const char*>(nullptr));
    };
    setenv("SSL_CERT_FILE", certs.caCert.c_str(), 1);
    EXPECT_EQ("secure page", get()) << kind;
    unsetenv("SSL_CERT_FILE");
    EXPECT_EQ("", get()) << kind;
    EXPECT_EQ(HttpErrSend, base->LastError()) << kind;
    if (kind == HttpClientWinHttp) {
      static_cast<IWinHttp*>(base)->SetCertificateChecks(CertificateChecks::kRelaxed);
      EXPECT_EQ("secure page", get());
    }
    base->Release();
  }
  // Only TLS requests reached the server: each plain one would be logged with its path.
  const std::string log = kvtest::ReadFile(nginx.prefix() / "logs/access.log");
  EXPECT_EQ(std::string::npos, log.find("\" 400 ")) << log;
}

TEST_F(WinHttpClientTest, TimeoutsApplyFromTheNextOperation) {
  EXPECT_EQ("abcd", Get("/slow"));
  client_->SetTimeouts(1000, 300, 300);
  // The second half comes after 1.5 s, past the new limits.
  EXPECT_EQ("", Get("/slow"));
}

TEST_F(WinHttpClientTest, UnreachableServerFailsToSend) {
  const std::string closed = "http://127.0.0.1:" + std::to_string(kvtest::FreePort()) + "/x";
  EXPECT_EQ("", client_->PerformRequest(closed.c_str(), HttpVerbGet, nullptr,
                                        static_cast<const char*>(nullptr)));
  EXPECT_EQ(HttpErrSend, client_->LastError());
  EXPECT_EQ("", client_->PerformRequest(static_cast<const char*>(nullptr), HttpVerbGet, nullptr,
                                        static_cast<const char*>(nullptr)));
  EXPECT_EQ(HttpErrConnect, client_->LastError());
  void* block = nullptr;
  int size = 0;
  EXPECT_FALSE(client_->FetchToMemory(W(closed).c_str(), &block, &size));
  EXPECT_EQ(HttpErrOpen, client_->LastError());
}

}  // namespace
