#include "platform/web/WebRequest.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "tests/platform/web/support/ScriptedServer.h"
#include "tests/platform/web/support/TunnelProxy.h"
#include "tests/support/TestSupport.h"

using namespace platform;
using kvtest::Reply;
using kvtest::ScriptedRequest;
using kvtest::ScriptedServer;

namespace {

struct Closer {
  void operator()(WebObject* h) const { WebCloseHandle(h); }
};
using Handle = std::unique_ptr<WebObject, Closer>;

struct Exchange {
  Handle session, connection, request;
};

// Session, connection and request for 127.0.0.1:port; the request is not sent yet.
Exchange Open(int port, const std::wstring& verb, const std::wstring& path, std::uint32_t flags = 0,
              WebAccess access = WebAccess::NoProxy) {
  Exchange e;
  e.session.reset(WebOpen(L"kv-test", access));
  e.connection.reset(WebConnect(e.session.get(), L"127.0.0.1", static_cast<std::uint16_t>(port)));
  e.request.reset(WebOpenRequest(e.connection.get(), verb, path, flags));
  return e;
}

bool SendAndReceive(WebHandle r) {
  return WebSendRequest(r, L"", nullptr, 0) && WebReceiveResponse(r);
}

// Reads the whole body in pieces of `piece` bytes; false when a read failed.
bool ReadAll(WebHandle r, std::string& out, std::size_t piece = 1000) {
  std::string buf(piece, '\0');
  for (;;) {
    std::size_t n = 0;
    if (!WebReadData(r, buf.data(), buf.size(), n)) return false;
    if (n == 0) return true;
    out.append(buf.data(), n);
  }
}

class WebNginxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    body_ = kvtest::PatternBytes(700 * 1024, 7);
    kvtest::WriteFile(root_ / "big.bin", body_);
    kvtest::WriteFile(root_ / "small.txt", "hello");
    std::filesystem::permissions(root_.path(), std::filesystem::perms::owner_all |
                                                   std::filesystem::perms::group_exec |
                                                   std::filesystem::perms::others_exec);
    kvtest::NginxOptions o;
    o.root = root_.path();
    o.extraServerConfig =
        "location = /hop { return 302 /hop2; }\n"
        "location = /hop2 { return 301 /small.txt; }\n";
    ASSERT_TRUE(nginx_.Start(o));
  }
  kvtest::TempDir root_;
  kvtest::NginxServer nginx_;
  std::string body_;
};

TEST_F(WebNginxTest, LargeBodyArrivesWholeInPiecesWithItsLength) {
  Exchange e = Open(nginx_.port(), L"GET", L"big.bin");
  ASSERT_TRUE(SendAndReceive(e.request.get())) << WebGetLastError();
  int status = 0;
  ASSERT_TRUE(WebQueryStatusCode(e.request.get(), status));
  EXPECT_EQ(200, status);
  std::uint64_t length = 0;
  ASSERT_TRUE(WebQueryContentLength(e.request.get(), length));
  EXPECT_EQ(body_.size(), length);
  std::size_t avail = 0;
  ASSERT_TRUE(WebQueryDataAvailable(e.request.get(), avail));
  EXPECT_GT(avail, 0u);
  std::string got;
  ASSERT_TRUE(ReadAll(e.request.get(), got, 4096));
  EXPECT_EQ(kvtest::Sha256Hex(body_), kvtest::Sha256Hex(got));
  ASSERT_TRUE(WebQueryDataAvailable(e.request.get(), avail));
  EXPECT_EQ(0u, avail);
  std::string type;
  EXPECT_TRUE(WebQueryHeader(e.request.get(), "content-type", type));
  EXPECT_FALSE(WebQueryHeader(e.request.get(), "X-Absent", type));
  EXPECT_EQ(kWebErrHeaderNotFound, WebGetLastError());
}

TEST_F(WebNginxTest, RedirectsFollowedUnlessPolicySaysNever) {
  Exchange e = Open(nginx_.port(), L"GET", L"/hop");
  ASSERT_TRUE(SendAndReceive(e.request.get()));
  int status = 0;
  WebQueryStatusCode(e.request.get(), status);
  EXPECT_EQ(200, status);
  std::string got;
  ASSERT_TRUE(ReadAll(e.request.get(), got));
  EXPECT_EQ("hello", got);

  Exchange n = Open(nginx_.port(), L"GET", L"/hop");
  ASSERT_TRUE(WebSetOption(n.session.get(), kWebOptionRedirectPolicy, kWebRedirectNever));
  // The policy is copied when the connection is made, so set it on the request too.
  ASSERT_TRUE(WebSetOption(n.request.get(), kWebOptionRedirectPolicy, kWebRedirectNever));
  ASSERT_TRUE(SendAndReceive(n.request.get()));
  WebQueryStatusCode(n.request.get(), status);
  EXPECT_EQ(302, status);
  std::string location;
  ASSERT_TRUE(WebQueryHeader(n.request.get(), "Location", location));
  EXPECT_NE(std::string::npos, location.find("/hop2"));
}

TEST_F(WebNginxTest, HeadGivesLengthWithoutBody) {
  Exchange e = Open(nginx_.port(), L"HEAD", L"big.bin");
  ASSERT_TRUE(SendAndReceive(e.request.get()));
  std::uint64_t length = 0;
  ASSERT_TRUE(WebQueryContentLength(e.request.get(), length));
  EXPECT_EQ(body_.size(), length);
  std::string got;
  ASSERT_TRUE(ReadAll(e.request.get(), got));
  EXPECT_TRUE(got.empty());
}

TEST_F(WebNginxTest, QueriesBeforeSendingAreInTheWrongState) {
  Exchange e = Open(nginx_.port(), L"GET", L"small.txt");
  int status = 0;
  EXPECT_FALSE(WebQueryStatusCode(e.request.get(), status));
  EXPECT_EQ(kWebErrIncorrectHandleState, WebGetLastError());
  std::size_t n = 0;
  char c;
  EXPECT_FALSE(WebReadData(e.request.get(), &c, 1, n));
  EXPECT_FALSE(WebQueryStatusCode(e.session.get(), status));
  EXPECT_EQ(kWebErrIncorrectHandleType, WebGetLastError());
  ASSERT_TRUE(SendAndReceive(e.request.get()));
  EXPECT_FALSE(WebSendRequest(e.request.get(), L"", nullptr, 0));
  EXPECT_EQ(kWebErrIncorrectHandleState, WebGetLastError());
  EXPECT_FALSE(WebReceiveResponse(e.request.get()));
}

TEST(WebTlsTest, CertificatesVerifiedUnlessFlagsSayOtherwise) {
  kvtest::TempDir dir;
  kvtest::TestCertificates certs;
  ASSERT_TRUE(kvtest::MakeTestCertificates(dir / "certs", {"127.0.0.1"}, certs));
  kvtest::WriteFile(dir / "www/a.txt", "secure");
  std::filesystem::permissions(
      dir.path(), std::filesystem::perms::owner_all | std::filesystem::perms::others_exec);
  kvtest::NginxOptions o;
  o.root = dir / "www";
  o.tls = true;
  o.certFile = certs.serverCert;
  o.keyFile = certs.serverKey;
  kvtest::NginxServer nginx;
  ASSERT_TRUE(nginx.Start(o));

  unsetenv("SSL_CERT_FILE");
  {
    Exchange e = Open(nginx.port(), L"GET", L"a.txt", kWebFlagSecure);
    EXPECT_FALSE(WebSendRequest(e.request.get(), L"", nullptr, 0));
    EXPECT_EQ(kWebErrSecureFailure, WebGetLastError());
  }
  {
    Exchange e = Open(nginx.port(), L"GET", L"a.txt", kWebFlagSecure);
    ASSERT_TRUE(WebSetOption(e.request.get(), kWebOptionSecurityFlags, 0x3301));
    ASSERT_TRUE(SendAndReceive(e.request.get())) << WebGetLastError();
    std::string got;
    ASSERT_TRUE(ReadAll(e.request.get(), got));
    EXPECT_EQ("secure", got);
  }
  setenv("SSL_CERT_FILE", certs.caCert.c_str(), 1);
  {
    Exchange e = Open(nginx.port(), L"GET", L"a.txt", kWebFlagSecure);
    EXPECT_TRUE(SendAndReceive(e.request.get())) << WebGetLastError();
  }
  unsetenv("SSL_CERT_FILE");
}

// The proxy's own answer to CONNECT must not pass for the server's response.
TEST(WebTlsTest, SecureRequestThroughAProxyTunnelSeesTheServersAnswer) {
  kvtest::TempDir dir;
  kvtest::TestCertificates certs;
  ASSERT_TRUE(kvtest::MakeTestCertificates(dir / "certs", {"127.0.0.1"}, certs));
  kvtest::WriteFile(dir / "www/a.txt", "tunnelled");
  std::filesystem::permissions(
      dir.path(), std::filesystem::perms::owner_all | std::filesystem::perms::others_exec);
  kvtest::NginxOptions o;
  o.root = dir / "www";
  o.tls = true;
  o.certFile = certs.serverCert;
  o.keyFile = certs.serverKey;
  kvtest::NginxServer nginx;
  ASSERT_TRUE(nginx.Start(o));
  kvtest::TunnelProxy proxy;
  ASSERT_TRUE(proxy.Start());

  setenv("https_proxy", proxy.Url().c_str(), 1);
  setenv("SSL_CERT_FILE", certs.caCert.c_str(), 1);
  Exchange found = Open(nginx.port(), L"GET", L"a.txt", kWebFlagSecure, WebAccess::DefaultProxy);
  Exchange missing =
      Open(nginx.port(), L"HEAD", L"none.txt", kWebFlagSecure, WebAccess::DefaultProxy);
  const bool foundSent = SendAndReceive(found.request.get());
  const bool missingSent = SendAndReceive(missing.request.get());
  unsetenv("https_proxy");
  unsetenv("SSL_CERT_FILE");
  ASSERT_TRUE(foundSent) << WebGetLastError();
  ASSERT_TRUE(missingSent) << WebGetLastError();

  int status = 0;
  ASSERT_TRUE(WebQueryStatusCode(found.request.get(), status));
  EXPECT_EQ(200, status);
  std::uint64_t length = 0;
  ASSERT_TRUE(WebQueryContentLength(found.request.get(), length)) << WebGetLastError();
  EXPECT_EQ(9u, length);
  std::string got;
  ASSERT_TRUE(ReadAll(found.request.get(), got));
  EXPECT_EQ("tunnelled", got);
  ASSERT_TRUE(WebQueryStatusCode(missing.request.get(), status));
  EXPECT_EQ(404, status);
  const std::string target = "127.0.0.1:" + std::to_string(nginx.port());
  EXPECT_EQ((std::vector<std::string>{target, target}), proxy.Targets());
}

TEST(WebScriptedTest, FieldsBodyAndAgentReachTheServer) {
  ScriptedServer server;
  ASSERT_TRUE(server.Start([](const ScriptedRequest&) { return Reply::Text(200, "ok"); }));
  Exchange e = Open(server.port(), L"POST", L"/p?q=1");
  ASSERT_TRUE(WebAddRequestHeaders(e.request.get(), L"X-One: 1\r\nUser-Agent: Replaced\r\n"));
  ASSERT_TRUE(WebAddRequestHeaders(e.request.get(), L"x-one: 2\r\n"));
  const std::string body = "{\"a\":1}";
  ASSERT_TRUE(
      WebSendRequest(e.request.get(), L"Content-Type: application/json", body.data(), body.size()));
  ASSERT_TRUE(WebReceiveResponse(e.request.get()));
  ASSERT_EQ(1u, server.Requests().size());
  const ScriptedRequest r = server.Requests()[0];
  EXPECT_EQ("POST", r.method);
  EXPECT_EQ("/p?q=1", r.target);
  EXPECT_EQ("2", r.Field("X-One"));
  EXPECT_EQ("Replaced", r.Field("User-Agent"));
  EXPECT_EQ("application/json", r.Field("Content-Type"));
  EXPECT_EQ("", r.Field("Expect"));
  EXPECT_EQ("", r.Field("Pragma"));
  EXPECT_EQ(body, r.body);

  Exchange fresh = Open(server.port(), L"HEAD", L"/f", kWebFlagBypassProxyCache);
  ASSERT_TRUE(SendAndReceive(fresh.request.get()));
  ASSERT_EQ(2u, server.Requests().size());
  EXPECT_EQ("no-cache", server.Requests()[1].Field("Pragma"));
  EXPECT_EQ("no-cache", server.Requests()[1].Field("Cache-Control"));
}

TEST(WebScriptedTest, ChunkedBodyDecodedAndMissingLengthReported) {
  ScriptedServer server;
  ASSERT_TRUE(server.Start([](const ScriptedRequest&) {
    Reply r;
    r.pieces.push_back({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", 0});
    r.pieces.push_back({"6\r\n world\r\n0\r\n\r\n", 100});
    return r;
  }));
  Exchange e = Open(server.port(), L"GET", L"/c");
  ASSERT_TRUE(SendAndReceive(e.request.get()));
  std::uint64_t length = 0;
  EXPECT_FALSE(WebQueryContentLength(e.request.get(), length));
  EXPECT_EQ(kWebErrHeaderNotFound, WebGetLastError());
  std::string got;
  ASSERT_TRUE(ReadAll(e.request.get(), got, 3));
  EXPECT_EQ("hello world", got);
}

TEST(WebScriptedTest, BrokenTransferFailsAfterTheBytesThatArrived) {
  ScriptedServer server;
  ASSERT_TRUE(server.Start([](const ScriptedRequest&) {
    return Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(400, 'x'));
  }));
  Exchange e = Open(server.port(), L"GET", L"/b");
  ASSERT_TRUE(SendAndReceive(e.request.get()));
  std::string got;
  EXPECT_FALSE(ReadAll(e.request.get(), got));
  EXPECT_EQ(kWebErrConnectionError, WebGetLastError());
  EXPECT_EQ(400u, got.size());
}

TEST(WebScriptedTest, StalledServerHitsTheReceiveLimit) {
  ScriptedServer server;
  ASSERT_TRUE(server.Start([](const ScriptedRequest&) {
    Reply r;
    r.pieces.push_back({"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab", 0});
    r.pieces.push_back({"cdefghij", 3000});
    return r;
  }));
  Exchange e = Open(server.port(), L"GET", L"/s");
  ASSERT_TRUE(WebSetTimeouts(e.request.get(), 0, 1000, 300, 300));
  ASSERT_TRUE(SendAndReceive(e.request.get()));
  std::string got;
  // The rest would come after 3 s; the limit ends the wait before.
  EXPECT_FALSE(ReadAll(e.request.get(), got));
  EXPECT_EQ(kWebErrTimeout, WebGetLastError());
  EXPECT_EQ("ab", got);
}

TEST(WebScriptedTest, RedirectChainIsBounded) {
  ScriptedServer server;
  ASSERT_TRUE(server.Start([](const ScriptedRequest& r) {
    return Reply::Text(302, "", "Location: " + r.target + "x\r\n");
  }));
  Exchange e = Open(server.port(), L"GET", L"/loop");
  ASSERT_TRUE(WebSendRequest(e.request.get(), L"", nullptr, 0));
  EXPECT_FALSE(WebReceiveResponse(e.request.get()));
  EXPECT_EQ(kWebErrRedirectFailed, WebGetLastError());
  EXPECT_EQ(static_cast<std::size_t>(kWebMaxRedirects) + 1, server.Requests().size());
}

TEST(WebScriptedTest, ProxyTakenFromTheEnvironmentOnlyWhenAllowed) {
  ScriptedServer proxy;
  ASSERT_TRUE(proxy.Start([](const ScriptedRequest&) { return Reply::Text(200, "via proxy"); }));
  setenv("http_proxy", proxy.BaseUrl().c_str(), 1);
  EXPECT_TRUE(WebIsProxyConfigured("http://origin.invalid/file"));
  Handle session(WebOpen(L"", WebAccess::DefaultProxy));
  Handle conn(WebConnect(session.get(), L"origin.invalid", 80));
  Handle req(WebOpenRequest(conn.get(), L"GET", L"/file", 0));
  bool sent = SendAndReceive(req.get());
  unsetenv("http_proxy");
  ASSERT_TRUE(sent) << WebGetLastError();
  ASSERT_EQ(1u, proxy.Requests().size());
  EXPECT_EQ("http://origin.invalid/file", proxy.Requests()[0].target);
  std::string got;
  ASSERT_TRUE(ReadAll(req.get(), got));
  EXPECT_EQ("via proxy", got);
  EXPECT_FALSE(WebIsProxyConfigured("http://origin.invalid/file"));
}

// The descriptors of this process that a started program would inherit.
std::set<int> InheritableDescriptors() {
  std::set<int> fds;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::stoi(entry.path().filename().string());
    const int flags = fcntl(fd, F_GETFD);
    if (flags >= 0 && !(flags & FD_CLOEXEC)) fds.insert(fd);
  }
  return fds;
}

// The descriptors a program started now finds open ("ls" lists its own, plus the one it reads
// the list through).
std::set<int> DescriptorsOfAChild() {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  pid_t pid = -1;
  char* argv[] = {const_cast<char*>("ls"), const_cast<char*>("-1"),
                  const_cast<char*>("/proc/self/fd"), nullptr};
  posix_spawnp(&pid, "ls", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  char buf[256];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, n);
  close(out[0]);
  int status = 0;
  if (pid > 0) waitpid(pid, &status, 0);
  std::set<int> fds;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) fds.insert(std::stoi(line));
  return fds;
}

// A program started while a request waits for its answer (after a name look-up, through the
// variables' proxy) inherits none of the request's descriptors.
TEST(WebDescriptorsTest, RequestSocketsAreCloseOnExec) {
  ScriptedServer server;
  ASSERT_TRUE(server.Start([](const ScriptedRequest&) {
    Reply r;
    r.pieces.push_back({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", 1500});
    return r;
  }));
  std::set<int> expected = InheritableDescriptors();
  setenv("http_proxy", ("http://localhost:" + std::to_string(server.port())).c_str(), 1);
  bool ok = false;
  std::thread request([&] {
    Handle session(WebOpen(L"", WebAccess::DefaultProxy));
    Handle conn(WebConnect(session.get(), L"origin.invalid", 80));
    Handle req(WebOpenRequest(conn.get(), L"GET", L"/file", 0));
    ok = SendAndReceive(req.get());
  });
  const bool arrived = server.WaitForRequests(1);
  const std::set<int> seen = DescriptorsOfAChild();
  request.join();
  unsetenv("http_proxy");
  ASSERT_TRUE(arrived);
  EXPECT_TRUE(ok);
  // 0-2, and the folder ls reads its list from (the lowest free number).
  expected.insert({0, 1, 2});
  std::set<int> extra;
  for (int fd : seen) {
    if (!expected.count(fd)) extra.insert(fd);
  }
  ASSERT_LE(extra.size(), 1u) << "inherited: " << ::testing::PrintToString(extra);
}

TEST(WebErrorsTest, ConnectFailuresHaveTheirCodesAndTexts) {
  Handle session(WebOpen(L"", WebAccess::NoProxy));
  EXPECT_EQ(nullptr, WebConnect(session.get(), L"", 80));
  EXPECT_EQ(kWebErrInvalidUrl, WebGetLastError());

  Handle bad(WebConnect(session.get(), L"127.0.0.1:8080", 80));
  Handle badReq(WebOpenRequest(bad.get(), L"GET", L"x", 0));
  EXPECT_FALSE(WebSendRequest(badReq.get(), L"", nullptr, 0));
  EXPECT_EQ(kWebErrNameNotResolved, WebGetLastError());

  Handle closed(
      WebConnect(session.get(), L"127.0.0.1", static_cast<std::uint16_t>(kvtest::FreePort())));
  Handle closedReq(WebOpenRequest(closed.get(), L"GET", L"x", 0));
  EXPECT_FALSE(WebSendRequest(closedReq.get(), L"", nullptr, 0));
  EXPECT_EQ(kWebErrCannotConnect, WebGetLastError());

  EXPECT_EQ("A connection with the server could not be established.",
            WebErrorMessage(kWebErrCannotConnect));
  EXPECT_EQ("", WebErrorMessage(4242));
  EXPECT_FALSE(WebCloseHandle(nullptr));
  EXPECT_EQ(kWebErrInvalidHandle, WebGetLastError());
}

}  // namespace
