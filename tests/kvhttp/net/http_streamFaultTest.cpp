#include <gtest/gtest.h>

#include <thread>

#include "kvhttp/net/http_stream.h"
#include "tests/kvhttp/support/FaultServer.h"

namespace kvhttp {
namespace {

namespace asio = boost::asio;
using boost::system::error_code;

class HttpStreamFaultTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }

  ParsedUrl Url(const std::string& path) {
    error_code ec;
    return ParseUrl(server_.Url(path), ec);
  }

  // Opens `path` on a fresh stream; the stream stays for reading.
  error_code OpenPath(const std::string& path, RequestOptions options = {}) {
    stream_ = std::make_unique<http_stream>(io_);
    stream_->SetRequestOptions(options);
    error_code ec;
    stream_->Open(Url(path), ec);
    return ec;
  }

  // Reads until an error or 0 bytes; `ec` is the error that ended it (eof included).
  std::string ReadAll(error_code& ec) {
    std::string body;
    char buf[1000];
    for (;;) {
      const std::size_t n = stream_->ReadSome(asio::buffer(buf), ec);
      body.append(buf, n);
      if (ec || n == 0) return body;
    }
  }

  static RequestOptions KeepAlive() {
    RequestOptions o;
    o.insert("Connection", "keep-alive");
    return o;
  }

  kvtest::FaultServer server_;
  asio::io_context io_;
  std::unique_ptr<http_stream> stream_;
};

TEST_F(HttpStreamFaultTest, MalformedHeads) {
  EXPECT_EQ(OpenPath("/canned/no-reason"), make_error_code(errc::malformed_status_line));
  EXPECT_EQ(OpenPath("/canned/bad-status"), make_error_code(errc::malformed_status_line));
  EXPECT_EQ(OpenPath("/canned/not-http"), make_error_code(errc::malformed_status_line));
  EXPECT_EQ(OpenPath("/canned/continue-bad"), make_error_code(errc::malformed_status_line));
  EXPECT_EQ(OpenPath("/canned/bad-header"), make_error_code(errc::malformed_response_headers));
  EXPECT_EQ(OpenPath("/canned/header-8bit"), make_error_code(errc::malformed_response_headers));
  EXPECT_EQ(OpenPath("/canned/head-cut"), make_error_code(errc::malformed_response_headers));
  // A connection closed before any byte of a status line is reported as such.
  EXPECT_EQ(OpenPath("/raw"), asio::error::eof);
  // A head without end is refused instead of buffered.
  EXPECT_EQ(OpenPath("/raw?stall&data=HTTP/1.1%20200%20OK%0D%0AX:%20" + std::string(70000, 'a')),
            make_error_code(errc::malformed_response_headers));
}

TEST_F(HttpStreamFaultTest, WellFormedOddities) {
  error_code ec;
  ASSERT_FALSE(OpenPath("/canned/empty-reason"));
  EXPECT_EQ(ReadAll(ec), "ok");

  ASSERT_FALSE(OpenPath("/canned/continuation"));
  EXPECT_EQ(stream_->ResponseOptions().find("x-long"), "one two three");

  ASSERT_FALSE(OpenPath("/canned/both-lengths"));
  EXPECT_EQ(stream_->ContentLength(), 1000);
  EXPECT_EQ(stream_->StatusCode(), 206);

  // An interim 100 is skipped for a GET, handed to the caller for a POST.
  ASSERT_FALSE(OpenPath("/canned/continue"));
  EXPECT_EQ(ReadAll(ec), "ok");
  RequestOptions post;
  post.insert(kRequestMethod, "POST");
  EXPECT_EQ(OpenPath("/canned/continue", post), make_error_code(errc::continue_request));

  // HTTP/1.0 means close unless the server says keep-alive: the end is the end of stream.
  ASSERT_FALSE(OpenPath("/canned/http10", KeepAlive()));
  EXPECT_FALSE(stream_->KeepAlive());
  EXPECT_EQ(ReadAll(ec), "ok");
  EXPECT_EQ(ec, asio::error::eof);

  ASSERT_FALSE(OpenPath("/canned/no-length"));
  EXPECT_EQ(stream_->ContentLength(), -1);
  EXPECT_EQ(ReadAll(ec), "until the end");
  EXPECT_EQ(ec, asio::error::eof);
}

TEST_F(HttpStreamFaultTest, ChunkedBodies) {
  error_code ec;
  ASSERT_FALSE(OpenPath("/canned/chunked"));
  EXPECT_TRUE(stream_->IsChunked());
  EXPECT_EQ(ReadAll(ec), "hello world");
  EXPECT_EQ(ec, asio::error::eof);
  EXPECT_TRUE(stream_->ChunkedBodyComplete());

  ASSERT_FALSE(OpenPath("/canned/chunked-capital"));
  EXPECT_FALSE(stream_->IsChunked());
  EXPECT_EQ(ReadAll(ec), "5\r\nhello\r\n0\r\n\r\n");

  ASSERT_FALSE(OpenPath("/canned/bad-chunk"));
  EXPECT_EQ(ReadAll(ec), "hello");
  EXPECT_EQ(ec, make_error_code(errc::invalid_chunked_encoding));
  ASSERT_FALSE(OpenPath("/canned/bad-chunk-size"));
  ReadAll(ec);
  EXPECT_EQ(ec, make_error_code(errc::invalid_chunked_encoding));

  ASSERT_FALSE(OpenPath("/canned/chunked-cut"));
  EXPECT_EQ(ReadAll(ec), "helloab");
  EXPECT_EQ(ec, asio::error::eof);
  EXPECT_FALSE(stream_->ChunkedBodyComplete()) << "a cut body must not pass for whole";
}

TEST_F(HttpStreamFaultTest, ChunkedKeepAliveLeavesTheConnectionUsable) {
  error_code ec;
  ASSERT_FALSE(OpenPath("/file?size=20000&chunked&chunk=3000", KeepAlive()));
  EXPECT_EQ(ReadAll(ec), kvtest::FaultServer::FileBytes(0, 20000));
  EXPECT_FALSE(ec) << "keep-alive: the end of the body reads as 0 bytes";
  EXPECT_TRUE(stream_->ChunkedBodyComplete());
  RequestOptions next = KeepAlive();
  next.insert("Range", "bytes=10-19");
  next.insert(kUrl, server_.Url("/file?size=20000"));
  stream_->SendRequest(next, ec);
  ASSERT_FALSE(ec) << ec.message();
  EXPECT_EQ(stream_->StatusCode(), 206);
  EXPECT_FALSE(stream_->IsChunked());
  EXPECT_EQ(ReadAll(ec), kvtest::FaultServer::FileBytes(10, 10));
  EXPECT_FALSE(ec);
}

TEST_F(HttpStreamFaultTest, RedirectsAndTheirLimit) {
  error_code ec;
  const error_code chain = OpenPath("/chain/5");
  ASSERT_FALSE(chain) << chain.message() << server_.Log();
  EXPECT_EQ(ReadAll(ec), "end of chain");
  EXPECT_EQ(stream_->FinalLocation(), server_.Url("/chain/0"));
  EXPECT_EQ(stream_->FirstUrl().path, "/chain/5");

  EXPECT_EQ(OpenPath("/chain/6"), make_status_error(302));
  EXPECT_EQ(stream_->StatusCode(), 302);
  EXPECT_FALSE(stream_->IsOpen());

  stream_ = std::make_unique<http_stream>(io_);
  stream_->SetMaxRedirects(0);
  stream_->Open(Url("/chain/1"), ec);
  EXPECT_EQ(ec, make_status_error(302)) << "with no redirects allowed the 302 is the result";
  EXPECT_TRUE(stream_->FinalLocation().empty());

  ASSERT_FALSE(OpenPath("/dir/a.bin?redirect_to=b.bin&code=301"));
  EXPECT_EQ(stream_->FinalLocation(), server_.Url("/dir/b.bin"));
  EXPECT_EQ(stream_->StatusCode(), 200);
  ASSERT_FALSE(OpenPath("/dir/a.bin?redirect_to=/x"));
  EXPECT_EQ(stream_->FinalLocation(), server_.Url("/dir//x"));

  ASSERT_FALSE(OpenPath("/redirect?to=" + server_.Url("/file%3Fsize%3D7")));
  EXPECT_EQ(ReadAll(ec), kvtest::FaultServer::FileBytes(0, 7));

  EXPECT_EQ(OpenPath("/redirect?to=://nowhere"), make_error_code(errc::invalid_redirect));
  EXPECT_EQ(OpenPath("/redirect?to=http://h:bad/"), make_error_code(errc::invalid_redirect));
}

TEST_F(HttpStreamFaultTest, RequestTextCookiesAndFakeContinue) {
  RequestOptions opts = KeepAlive();
  opts.insert("X-Custom", "value");
  opts.insert("_request_body", "");
  ASSERT_FALSE(OpenPath("/canned/cookies?keep", opts));
  error_code ec;
  EXPECT_EQ(ReadAll(ec), "ok");
  ASSERT_EQ(stream_->Cookies().cookies.size(), 2u);

  RequestOptions echo = KeepAlive();
  echo.insert(kUrl, server_.Url("/echo?q=1#frag"));
  echo.insert("X-Custom", "value");
  stream_->SendRequest(echo, ec);
  ASSERT_FALSE(ec) << ec.message();
  const std::string port = std::to_string(server_.port());
  EXPECT_EQ(ReadAll(ec),
            "GET /echo?q=1#frag HTTP/1.1\r\nHost: 127.0.0.1:" + port +
                "\r\nAccept: text/html, application/xhtml+xml, */*\r\n"
                "User-Agent: Mozilla/5.0 (Windows NT 6.1; Trident/7.0; rv:11.0) like Gecko\r\n"
                "Cookie: a=1\r\nConnection: keep-alive\r\nX-Custom: value\r\n\r\n")
      << "the secure cookie stays off a plain connection";
  EXPECT_EQ(stream_->RequestOptionsSent().find(kPath), "/echo?q=1#frag");
  EXPECT_EQ(stream_->RequestOptionsSent().find("Cookie"), "a=1");

  RequestOptions fake = KeepAlive();
  fake.fake_continue = true;
  fake.insert(kUrl, server_.Url("/echo?fake"));
  stream_->SendRequest(fake, ec);
  EXPECT_EQ(ec, make_error_code(errc::fake_continue));
}

TEST_F(HttpStreamFaultTest, DropsAndStalls) {
  error_code ec;
  ASSERT_FALSE(OpenPath("/file?size=100000&drop_after=5000"));
  EXPECT_EQ(stream_->ContentLength(), 100000);
  EXPECT_EQ(ReadAll(ec), kvtest::FaultServer::FileBytes(0, 5000));
  EXPECT_EQ(ec, asio::error::eof);
  EXPECT_EQ(stream_->BodyBytes(), 5000);

  // A server that accepts and never answers ends a bounded open with a time-out.
  stream_ = std::make_unique<http_stream>(io_);
  stream_->SetOpenTimeout(std::chrono::milliseconds(300));
  const auto started = std::chrono::steady_clock::now();
  stream_->Open(Url("/silent"), ec);
  EXPECT_EQ(ec, asio::error::timed_out);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_FALSE(stream_->IsOpen());

  // The same bound for a request on a kept-alive connection, in the asynchronous form.
  stream_ = std::make_unique<http_stream>(io_);
  stream_->SetRequestOptions(KeepAlive());
  stream_->SetOpenTimeout(std::chrono::milliseconds(300));
  stream_->Open(Url("/file?size=10"), ec);
  ASSERT_FALSE(ec) << ec.message();
  EXPECT_EQ(ReadAll(ec), kvtest::FaultServer::FileBytes(0, 10));
  RequestOptions silent = KeepAlive();
  silent.insert(kUrl, server_.Url("/silent"));
  error_code async_result;
  bool called = false;
  stream_->AsyncSendRequest(silent, [&](const error_code& e) {
    async_result = e;
    called = true;
  });
  io_.restart();
  io_.run();
  EXPECT_TRUE(called);
  EXPECT_EQ(async_result, asio::error::timed_out);

  // Close from another thread ends a read that would wait for ever.
  ASSERT_FALSE(OpenPath("/file?size=100000&stall_after=10"));
  std::size_t got = 0;
  ec.clear();
  char buf[100];
  while (got < 10 && !ec) got += stream_->ReadSome(asio::buffer(buf), ec);
  ASSERT_EQ(got, 10u);
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    error_code ignored;
    stream_->Close(ignored);
  });
  stream_->ReadSome(asio::buffer(buf), ec);
  closer.join();
  EXPECT_EQ(ec, asio::error::operation_aborted);
  EXPECT_FALSE(stream_->IsOpen());
  // The same stream can be opened again afterwards.
  stream_->Open(Url("/file?size=10"), ec);
  ASSERT_FALSE(ec) << ec.message();
  EXPECT_EQ(ReadAll(ec), kvtest::FaultServer::FileBytes(0, 10));
}

TEST_F(HttpStreamFaultTest, RangeAnswersAreReportedAsGiven) {
  RequestOptions range;
  range.insert("Range", "bytes=100-199");
  ASSERT_FALSE(OpenPath("/file?size=1000&ignore_range", range));
  EXPECT_EQ(stream_->StatusCode(), 200);
  EXPECT_EQ(stream_->ContentLength(), 1000);
  ASSERT_FALSE(OpenPath("/file?size=1000&wrong_start=5", range));
  EXPECT_EQ(stream_->ResponseOptions().find("Content-Range"), "bytes 105-204/1000");
  EXPECT_EQ(OpenPath("/status?code=404"), boost::system::errc::no_such_file_or_directory);
  range.replace("Range", "bytes=5000-");
  EXPECT_EQ(OpenPath("/file?size=1000", range),
            make_error_code(errc::requested_range_not_satisfiable));
}

TEST(HttpStreamIpv6Test, LiteralAddressInBrackets) {
  kvtest::FaultServer server;
  ASSERT_TRUE(server.Start({"--bind", "::1"}));
  asio::io_context io;
  http_stream s(io);
  error_code ec;
  const ParsedUrl url = ParseUrl(server.Url("/echo"), ec);
  ASSERT_TRUE(url.ipv6);
  s.Open(url, ec);
  ASSERT_FALSE(ec) << ec.message();
  std::string body(4096, '\0');
  std::size_t got = 0;
  while (!ec) got += s.ReadSome(asio::buffer(&body[got], body.size() - got), ec);
  body.resize(got);
  EXPECT_NE(body.find("Host: [::1]:" + std::to_string(server.port()) + "\r\n"), std::string::npos)
      << body;
}

}  // namespace
}  // namespace kvhttp
