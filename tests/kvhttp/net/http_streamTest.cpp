#include "kvhttp/net/http_stream.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <istream>
#include <thread>

#include "tests/kvhttp/support/FaultServer.h"
#include "tests/support/TestSupport.h"

namespace kvhttp {
namespace {

namespace asio = boost::asio;
using boost::system::error_code;

ParsedUrl Url(const std::string& text) {
  error_code ec;
  ParsedUrl u = ParseUrl(text, ec);
  EXPECT_FALSE(ec) << text;
  return u;
}

// nginx workers run as another user when the tests run as root.
void OpenToAll(const std::filesystem::path& dir) {
  std::filesystem::permissions(
      dir, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
               std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
               std::filesystem::perms::others_exec);
}

// Reads the body to its end (end of stream, or 0 bytes on a keep-alive connection).
std::string ReadBody(http_stream& s, error_code& ec) {
  std::string body;
  char buf[7000];
  for (;;) {
    const std::size_t n = s.ReadSome(asio::buffer(buf), ec);
    body.append(buf, n);
    if (ec || n == 0) break;
  }
  if (ec == asio::error::eof) ec.clear();
  return body;
}

class HttpStreamNginxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    big_ = kvtest::PatternBytes(3 * 1024 * 1024 + 17, 7);
    kvtest::WriteFile(root_ / "big.bin", big_);
    kvtest::WriteFile(root_ / "small.txt", "0123456789abcdefghij");
    OpenToAll(root_.path());
    kvtest::NginxOptions o;
    o.root = root_.path();
    ASSERT_TRUE(nginx_.Start(o));
  }

  kvtest::TempDir root_;
  kvtest::NginxServer nginx_;
  std::string big_;
  asio::io_context io_;
};

TEST_F(HttpStreamNginxTest, LargeFileReadToTheEnd) {
  http_stream s(io_);
  error_code ec;
  s.Open(Url(nginx_.BaseUrl() + "/big.bin"), ec);
  ASSERT_FALSE(ec) << ec.message();
  EXPECT_EQ(s.StatusCode(), 200);
  EXPECT_EQ(s.ContentLength(), static_cast<std::int64_t>(big_.size()));
  EXPECT_FALSE(s.KeepAlive()) << "the default request says Connection: close";
  EXPECT_EQ(s.RequestOptionsSent().find("Connection"), "close");
  EXPECT_EQ(s.RequestOptionsSent().find(kPath), "/big.bin");
  EXPECT_EQ(s.ResponseOptions().find(kStatusCode), "200");
  const std::string body = ReadBody(s, ec);
  EXPECT_FALSE(ec) << ec.message();
  EXPECT_EQ(kvtest::Sha256Hex(body), kvtest::Sha256Hex(big_));
  // The message is over: further reads end the stream rather than block.
  char c;
  EXPECT_EQ(s.ReadSome(asio::buffer(&c, 1), ec), 0u);
  EXPECT_EQ(ec, asio::error::eof);
}

TEST_F(HttpStreamNginxTest, RangesOnOneKeepAliveConnection) {
  http_stream s(io_);
  RequestOptions opts;
  opts.insert("Range", "bytes=100-1099");
  opts.insert("Connection", "keep-alive");
  s.SetRequestOptions(opts);
  error_code ec;
  s.Open(Url(nginx_.BaseUrl() + "/big.bin"), ec);
  ASSERT_FALSE(ec) << ec.message();
  EXPECT_EQ(s.StatusCode(), 206);
  EXPECT_EQ(s.ResponseOptions().find("content-range"),
            "bytes 100-1099/" + std::to_string(big_.size()));
  EXPECT_EQ(s.ContentLength(), static_cast<std::int64_t>(big_.size())) << "the range total wins";
  EXPECT_TRUE(s.KeepAlive());
  EXPECT_EQ(ReadBody(s, ec), big_.substr(100, 1000));
  EXPECT_FALSE(ec);

  // Further ranges on the same connection.
  for (std::int64_t first : {5000, 0, 3 * 1024 * 1024}) {
    RequestOptions next;
    next.insert("Range", "bytes=" + std::to_string(first) + "-" + std::to_string(first + 99));
    next.insert("Connection", "keep-alive");
    s.SendRequest(next, ec);
    ASSERT_FALSE(ec) << ec.message();
    EXPECT_EQ(s.StatusCode(), 206);
    EXPECT_EQ(ReadBody(s, ec), big_.substr(first, 100));
    EXPECT_FALSE(ec);
  }
  // A resource that is missing on the same connection.
  RequestOptions missing;
  missing.insert("_url", nginx_.BaseUrl() + "/missing");
  missing.insert("Connection", "keep-alive");
  s.SendRequest(missing, ec);
  EXPECT_EQ(ec, boost::system::errc::no_such_file_or_directory);
  EXPECT_EQ(ec.category(), error_category());
  EXPECT_EQ(s.StatusCode(), 404);
}

// A peer that answers the first request with `answers` in one write: the responses after the
// first are already on the wire while the first body is read.
class PipelinedPeer {
 public:
  explicit PipelinedPeer(std::string answers) : answers_(std::move(answers)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~PipelinedPeer() {
    ::shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
  }
  int port() const { return port_; }

 private:
  void Serve() {
    const int c = ::accept(listener_, nullptr, nullptr);
    if (c < 0) return;
    std::string got;
    char buf[4096];
    bool answered = false;
    for (;;) {
      const ssize_t n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
      for (std::size_t end; (end = got.find("\r\n\r\n")) != std::string::npos;) {
        got.erase(0, end + 4);
        if (answered) continue;
        answered = true;
        for (std::size_t off = 0; off < answers_.size();) {
          const ssize_t w = ::send(c, answers_.data() + off, answers_.size() - off, MSG_NOSIGNAL);
          if (w <= 0) break;
          off += static_cast<std::size_t>(w);
        }
      }
    }
    ::close(c);
  }

  std::string answers_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

TEST(HttpStreamKeepAliveTest, SmallReadsStopAtTheEndOfEachMessage) {
  const std::string first = kvtest::PatternBytes(200 * 1024 + 5, 3);
  const std::string second = kvtest::PatternBytes(70 * 1024 + 1, 4);
  auto answer = [](const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  };
  PipelinedPeer peer(answer(first) + answer(second));
  ASSERT_NE(peer.port(), 0);

  asio::io_context io;
  http_stream s(io);
  RequestOptions keep;
  keep.insert("Connection", "keep-alive");
  s.SetRequestOptions(keep);
  error_code ec;
  s.Open(Url("http://127.0.0.1:" + std::to_string(peer.port()) + "/one"), ec);
  ASSERT_FALSE(ec) << ec.message();

  // Reads of at most 2 KiB each, as the downloader makes them.
  auto read_small = [&](std::size_t limit) {
    std::string body;
    char buf[2048];
    for (;;) {
      const std::size_t n = s.ReadSome(asio::buffer(buf), ec);
      EXPECT_LE(n, sizeof buf);
      body.append(buf, n);
      if (ec || n == 0 || body.size() > limit) break;
    }
    return body;
  };
  EXPECT_EQ(read_small(first.size()), first);
  EXPECT_FALSE(ec) << ec.message();

  s.SendRequest(keep, ec);
  ASSERT_FALSE(ec) << ec.message();
  EXPECT_EQ(s.StatusCode(), 200);
  EXPECT_EQ(s.ContentLength(), static_cast<std::int64_t>(second.size()));
  EXPECT_EQ(read_small(second.size()), second);
  EXPECT_FALSE(ec) << ec.message();
  EXPECT_TRUE(s.KeepAlive());
}

TEST_F(HttpStreamNginxTest, AsynchronousOpenAndReads) {
  http_stream s(io_);
  std::string body;
  error_code result;
  char buf[2048];
  std::function<void(const error_code&, std::size_t)> on_read = [&](const error_code& ec,
                                                                    std::size_t n) {
    body.append(buf, n);
    if (ec) {
      result = ec;
      return;
    }
    s.AsyncReadSome(asio::buffer(buf), on_read);
  };
  s.AsyncOpen(Url(nginx_.BaseUrl() + "/small.txt"), [&](const error_code& ec) {
    if (ec) {
      result = ec;
      return;
    }
    s.AsyncReadSome(asio::buffer(buf), on_read);
  });
  io_.run();
  EXPECT_EQ(result, asio::error::eof);
  EXPECT_EQ(body, "0123456789abcdefghij");
}

TEST_F(HttpStreamNginxTest, StandardInputStream) {
  http_stream s(io_);
  error_code ec;
  s.Open(Url(nginx_.BaseUrl() + "/small.txt"), ec);
  ASSERT_FALSE(ec);
  std::istream in(&s);
  std::string word;
  in >> word;
  EXPECT_EQ(word, "0123456789abcdefghij");
  EXPECT_TRUE(in.eof());
}

TEST_F(HttpStreamNginxTest, RefusedOpens) {
  http_stream s(io_);
  error_code ec;
  s.Open(Url("ftp://127.0.0.1/x"), ec);
  EXPECT_EQ(ec, asio::error::operation_not_supported);

  s.Open(Url(nginx_.BaseUrl() + "/small.txt"), ec);
  ASSERT_FALSE(ec);
  s.Open(Url(nginx_.BaseUrl() + "/small.txt"), ec);
  EXPECT_EQ(ec, asio::error::already_open);
  s.Close(ec);
  EXPECT_FALSE(s.IsOpen());
  s.SendRequest(RequestOptions(), ec);
  EXPECT_EQ(ec, asio::error::not_connected);

  ProxySettings odd;
  odd.type = 9;
  s.SetProxy(odd);
  s.Open(Url(nginx_.BaseUrl() + "/small.txt"), ec);
  EXPECT_EQ(ec, asio::error::operation_not_supported);

  http_stream t(io_);
  t.Open(Url("http://127.0.0.1:" + std::to_string(kvtest::FreePort()) + "/"), ec);
  EXPECT_EQ(ec, asio::error::connection_refused);
}

class HttpStreamTlsTest : public ::testing::Test {
 protected:
  void Serve(const std::vector<std::string>& names, const std::string& extraConfig = "") {
    ASSERT_TRUE(kvtest::MakeTestCertificates(dir_ / "certs", names, certs_));
    std::filesystem::create_directories(dir_ / "www");
    kvtest::WriteFile(dir_ / "www/a.txt", "secret bytes");
    OpenToAll(dir_.path());
    OpenToAll(dir_ / "www");
    kvtest::NginxOptions o;
    o.root = dir_ / "www";
    o.tls = true;
    o.certFile = certs_.serverCert;
    o.keyFile = certs_.serverKey;
    o.extraServerConfig = extraConfig;
    ASSERT_TRUE(nginx_.Start(o));
  }

  std::string Fetch(http_stream& s, error_code& ec) {
    s.Open(Url(nginx_.BaseUrl() + "/a.txt"), ec);
    return ec ? std::string() : ReadBody(s, ec);
  }

  kvtest::TempDir dir_;
  kvtest::TestCertificates certs_;
  kvtest::NginxServer nginx_;
  asio::io_context io_;
};

TEST_F(HttpStreamTlsTest, TrustedCaAndMatchingAddressPass) {
  Serve({"127.0.0.1", "localhost"});
  http_stream s(io_);
  s.SetCaFile(certs_.caCert.string());
  error_code ec;
  EXPECT_EQ(Fetch(s, ec), "secret bytes");
  EXPECT_FALSE(ec) << ec.message();

  // The CA found through SSL_CERT_FILE, as the system store would be.
  setenv("SSL_CERT_FILE", certs_.caCert.c_str(), 1);
  http_stream t(io_);
  EXPECT_EQ(Fetch(t, ec), "secret bytes");
  unsetenv("SSL_CERT_FILE");
  EXPECT_FALSE(ec) << ec.message();
}

TEST_F(HttpStreamTlsTest, UntrustedCaFailsUnlessCheckingIsOff) {
  Serve({"127.0.0.1"});
  http_stream s(io_);
  error_code ec;
  Fetch(s, ec);
  EXPECT_EQ(ec.category(), certificate_category());
  EXPECT_EQ(ec.value(), X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY) << ec.message();
  EXPECT_NE(ec.message().find("certificate verification failed"), std::string::npos);

  http_stream unchecked(io_);
  unchecked.SetCheckCertificate(false);
  EXPECT_EQ(Fetch(unchecked, ec), "secret bytes");
  EXPECT_FALSE(ec);
}

TEST_F(HttpStreamTlsTest, WrongHostNameFails) {
  Serve({"download.example.org"});  // a certificate for another name than 127.0.0.1
  http_stream s(io_);
  s.SetCaFile(certs_.caCert.string());
  error_code ec;
  Fetch(s, ec);
  EXPECT_EQ(ec.category(), certificate_category());
  EXPECT_EQ(ec.value(), X509_V_ERR_IP_ADDRESS_MISMATCH) << ec.message();

  // A CA directory (hashed names) serves as well as a file.
  std::filesystem::create_directories(dir_ / "cadir");
  std::filesystem::copy_file(certs_.caCert, dir_ / "cadir/ca.pem");
  ASSERT_EQ(
      std::system(("openssl rehash " + (dir_ / "cadir").string() + " >/dev/null 2>&1").c_str()), 0);
  http_stream by_dir(io_);
  by_dir.SetCaDirectory((dir_ / "cadir").string());
  Fetch(by_dir, ec);
  EXPECT_EQ(ec.value(), X509_V_ERR_IP_ADDRESS_MISMATCH) << "trusted now, but still the wrong name";

  http_stream bad_ca(io_);
  bad_ca.SetCaFile((dir_ / "missing.pem").string());
  Fetch(bad_ca, ec);
  EXPECT_TRUE(ec) << "a CA file that cannot be loaded ends the open";
}

TEST_F(HttpStreamTlsTest, RedirectFromHttpsToPlainHttpIsRefused) {
  // The plain server must never be asked: whoever sits on the path could answer for it.
  kvtest::FaultServer plain;
  ASSERT_TRUE(plain.Start());
  Serve({"127.0.0.1"},
        "    location /away { return 302 http://127.0.0.1:" + std::to_string(plain.port()) +
            "/a.txt; }\n"
            "    location /stay { return 302 /a.txt; }\n");
  http_stream s(io_);
  s.SetCaFile(certs_.caCert.string());
  error_code ec;
  s.Open(Url(nginx_.BaseUrl() + "/away"), ec);
  EXPECT_EQ(ec, make_error_code(errc::insecure_redirect)) << ec.message();
  EXPECT_EQ(plain.Log().find("GET"), std::string::npos) << plain.Log();

  http_stream t(io_);
  t.SetCaFile(certs_.caCert.string());
  t.Open(Url(nginx_.BaseUrl() + "/stay"), ec);
  EXPECT_FALSE(ec) << "https to https is followed: " << ec.message();
  EXPECT_EQ(ReadBody(t, ec), "secret bytes");
}

}  // namespace
}  // namespace kvhttp
