#include "http/HttpSocket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

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

class SocketClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    holder_ = std::make_unique<kvtest::ClientHolder>(HttpClientSocket);
    ASSERT_NE(nullptr, holder_->client);
    client_ = holder_->client;
  }
  bool Fetch(const std::string& url, const fs::path& file) {
    return client_->FetchToFile(W(url).c_str(), file.wstring().c_str());
  }
  bool FetchMemory(const std::string& url, std::string& out) {
    void* block = reinterpret_cast<void*>(1);
    int size = -1;
    bool ok = client_->FetchToMemory(W(url).c_str(), &block, &size);
    if (ok) out.assign(static_cast<char*>(block), static_cast<std::size_t>(size));
    if (ok) std::free(block);
    if (!ok) {
      EXPECT_EQ(nullptr, block);
      EXPECT_EQ(0, size);
    }
    return ok;
  }
  kvtest::TempDir dir_;
  std::unique_ptr<kvtest::ClientHolder> holder_;
  IHttpBase* client_ = nullptr;
};

TEST_F(SocketClientTest, FetchesLargeFileFromNginxWithProgress) {
  const std::string body = kvtest::PatternBytes(100000, 3);
  kvtest::WriteFile(dir_ / "www/f.bin", body);
  fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::others_exec);
  kvtest::NginxOptions o;
  o.root = dir_ / "www";
  kvtest::NginxServer nginx;
  ASSERT_TRUE(nginx.Start(o));

  kvtest::RecordingSink sink;
  int user = 0;
  client_->SetProgressSink(&sink, &user);
  ASSERT_TRUE(Fetch(nginx.BaseUrl() + "/f.bin", dir_ / "out.bin")) << client_->LastError();
  EXPECT_EQ(kvtest::Sha256Hex(body), kvtest::Sha256Hex(kvtest::ReadFile(dir_ / "out.bin")));
  EXPECT_EQ(200, client_->StatusCode());
  EXPECT_EQ(std::wstring(L"127.0.0.1"), static_cast<CHttpSocket*>(client_)->PeerAddress());
  ASSERT_GE(sink.notes.size(), 2u);
  EXPECT_EQ(HttpTransferFinished, sink.notes.back().state);
  EXPECT_EQ(100000.0, sink.notes.back().done);
  EXPECT_EQ(100000.0, sink.notes.back().total);
  EXPECT_EQ(&user, sink.notes.back().user);
  for (std::size_t i = 0; i + 1 < sink.notes.size(); ++i) {
    EXPECT_EQ(HttpTransferRunning, sink.notes[i].state);
  }
  // Asked before every read; the last notification needs no read of its own.
  EXPECT_GE(sink.cancelQueries, static_cast<int>(sink.notes.size()) - 1);

  std::string mem;
  client_->SetProgressSink(nullptr, nullptr);
  ASSERT_TRUE(FetchMemory(nginx.BaseUrl() + "/f.bin", mem));
  EXPECT_EQ(body, mem);
  EXPECT_EQ(HttpErrNone, client_->LastError());
  // The client keeps its connection open; close it so nginx can stop at once.
  holder_.reset();
}

TEST_F(SocketClientTest, HeaderSplitOverTwoReads) {
  ScriptedServer server;
  ASSERT_TRUE(server.Start([](const ScriptedRequest& r) {
    Reply reply;
    if (r.target == "/plain") {
      reply.pieces = {{"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", 0}, {"\r\nhello", 300}};
    } else {
      // The second read holds a complete header of its own: that is the one used.
      reply.pieces = {{"HTTP/1.1 200 OK\r\nX-A: 1\r\n", 0},
                      {"HTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok", 300}};
    }
    return reply;
  }));
  std::string mem;
  EXPECT_FALSE(FetchMemory(server.BaseUrl() + "/plain", mem));
  EXPECT_EQ(HttpErrHeader, client_->LastError());

  ASSERT_TRUE(Fetch(server.BaseUrl() + "/second", dir_ / "b.txt"));
  EXPECT_EQ(201, client_->StatusCode());
  EXPECT_EQ("ok", kvtest::ReadFile(dir_ / "b.txt"));

  // The first piece is dropped and the rest never shows an empty line: the server's close
  // ends the fetch as a failure and the file is gone.
  EXPECT_FALSE(Fetch(server.BaseUrl() + "/plain", dir_ / "a.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "a.txt"));
}

TEST_F(SocketClientTest, ResponsesWithoutLength) {
  ScriptedServer server;
  ASSERT_TRUE(server.Start([](const ScriptedRequest& r) {
    if (r.target == "/lower")
      return Reply::Raw("HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\nhello");
    return Reply::Raw("HTTP/1.1 200 OK\r\nX-None: 1\r\n\r\nbody until close");
  }));
  std::string mem;
  EXPECT_FALSE(FetchMemory(server.BaseUrl() + "/none", mem));
  EXPECT_EQ(HttpErrSize, client_->LastError());
  EXPECT_FALSE(FetchMemory(server.BaseUrl() + "/lower", mem));
  EXPECT_EQ(HttpErrSize, client_->LastError());

  kvtest::RecordingSink sink;
  client_->SetProgressSink(&sink, nullptr);
  ASSERT_TRUE(Fetch(server.BaseUrl() + "/none", dir_ / "n.txt"));
  EXPECT_EQ("body until close", kvtest::ReadFile(dir_ / "n.txt"));
  ASSERT_FALSE(sink.notes.empty());
  EXPECT_EQ(HttpTransferFinished, sink.notes.back().state);
  EXPECT_EQ(0.0, sink.notes.back().total);
}

TEST_F(SocketClientTest, BadRequestIsNotFoundButNotFoundIsABody) {
  ScriptedServer server;
  ASSERT_TRUE(server.Start([](const ScriptedRequest& r) {
    if (r.target == "/400") return Reply::Text(400, "bad");
    return Reply::Text(404, "missing page");
  }));
  kvtest::RecordingSink sink;
  client_->SetProgressSink(&sink, nullptr);
  kvtest::WriteFile(dir_ / "old.txt", "old");
  EXPECT_FALSE(Fetch(server.BaseUrl() + "/400", dir_ / "old.txt"));
  EXPECT_EQ(HttpErrNotFound, client_->LastError());
  EXPECT_EQ(400, client_->StatusCode());
  EXPECT_FALSE(fs::exists(dir_ / "old.txt"));
  ASSERT_EQ(1u, sink.notes.size());
  EXPECT_EQ(HttpTransferFailed, sink.notes[0].state);

  ASSERT_TRUE(Fetch(server.BaseUrl() + "/404", dir_ / "p.txt"));
  EXPECT_EQ(404, client_->StatusCode());
  EXPECT_EQ("missing page", kvtest::ReadFile(dir_ / "p.txt"));
  // Codes are never reset by a later success.
  EXPECT_EQ(HttpErrNotFound, client_->LastError());
}

TEST_F(SocketClientTest, CancelFromTheSinkFailsAndDeletesTheFile) {
  ScriptedServer server;
  ASSERT_TRUE(server.Start([](const ScriptedRequest&) { return Reply::Text(200, "data"); }));
  kvtest::RecordingSink sink(true);
  client_->SetProgressSink(&sink, nullptr);
  EXPECT_FALSE(Fetch(server.BaseUrl() + "/c", dir_ / "c.txt"));
  EXPECT_EQ(HttpErrCancelled, client_->LastError());
  EXPECT_FALSE(fs::exists(dir_ / "c.txt"));
  ASSERT_EQ(1u, sink.notes.size());
  EXPECT_EQ(HttpTransferFailed, sink.notes[0].state);
  EXPECT_EQ(0.0, sink.notes[0].total);
  EXPECT_EQ(0.0, sink.notes[0].done);
}

TEST_F(SocketClientTest, RedirectsRelativeOnTheSameConnectionAbsoluteAnew) {
  ScriptedServer target;
  ASSERT_TRUE(target.Start([](const ScriptedRequest&) { return Reply::Text(200, "at target"); }));
  const std::string targetUrl = target.BaseUrl() + "/t";
  ScriptedServer server;
  ASSERT_TRUE(server.Start([&](const ScriptedRequest& r) {
    if (r.target == "/rel") {
      Reply reply = Reply::Text(302, "", "Location: /final\r\n");
      reply.close = false;
      return reply;
    }
    if (r.target == "/abs") return Reply::Text(301, "", "Location: " + targetUrl + "\r\n");
    if (r.target == "/loop")
      return Reply::Text(
          302, "", "Location: http://127.0.0.1:" + std::to_string(server.port()) + "/loop\r\n");
    return Reply::Text(200, "final " + r.Field("Host"));
  }));
  std::string mem;
  ASSERT_TRUE(FetchMemory(server.BaseUrl() + "/rel", mem));
  EXPECT_EQ("final 127.0.0.1", mem);
  ASSERT_TRUE(Fetch(server.BaseUrl() + "/rel", dir_ / "r.txt"));
  EXPECT_EQ("final 127.0.0.1", kvtest::ReadFile(dir_ / "r.txt"));
  ASSERT_TRUE(Fetch(server.BaseUrl() + "/abs", dir_ / "a.txt"));
  EXPECT_EQ("at target", kvtest::ReadFile(dir_ / "a.txt"));

  const std::size_t before = server.Requests().size();
  EXPECT_FALSE(Fetch(server.BaseUrl() + "/loop", dir_ / "l.txt"));
  EXPECT_EQ(HttpErrRedirect, client_->LastError());
  EXPECT_EQ(static_cast<std::size_t>(kHttpMaxRedirects) + 1, server.Requests().size() - before);
  EXPECT_FALSE(fs::exists(dir_ / "l.txt"));
}

TEST_F(SocketClientTest, SecureUrlConnectAndResolveFailures) {
  kvtest::WriteFile(dir_ / "keep.txt", "keep");
  EXPECT_FALSE(Fetch("https://127.0.0.1/x", dir_ / "keep.txt"));
  EXPECT_EQ(HttpErrNone, client_->LastError());
  EXPECT_EQ("keep", kvtest::ReadFile(dir_ / "keep.txt"));
  // An https URL on another port is not asked in plain text either.
  ScriptedServer plain;
  ASSERT_TRUE(plain.Start([](const ScriptedRequest& r) {
    if (r.target == "/to-https") {
      return Reply::Text(302, "", "Location: https://127.0.0.1:1/x\r\n");
    }
    return Reply::Text(200, "plain");
  }));
  const std::string https = "https://127.0.0.1:" + std::to_string(plain.port()) + "/x";
  EXPECT_FALSE(Fetch(https, dir_ / "keep.txt"));
  EXPECT_EQ("keep", kvtest::ReadFile(dir_ / "keep.txt"));
  void* block = nullptr;
  int size = 7;
  EXPECT_FALSE(client_->FetchToMemory(W(https).c_str(), &block, &size));
  EXPECT_EQ(7, size);
  EXPECT_TRUE(plain.Requests().empty());
  // Nor is an https redirect target followed as a path on the plain connection.
  EXPECT_FALSE(Fetch(plain.BaseUrl() + "/to-https", dir_ / "keep.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "keep.txt"));
  EXPECT_EQ(1u, plain.Requests().size());

  const std::string closed = "http://127.0.0.1:" + std::to_string(kvtest::FreePort()) + "/x";
  EXPECT_FALSE(Fetch(closed, dir_ / "keep.txt"));
  EXPECT_EQ(HttpErrConnect, client_->LastError());
  EXPECT_FALSE(fs::exists(dir_ / "keep.txt"));
  std::string mem;
  EXPECT_FALSE(FetchMemory(closed, mem));
  EXPECT_EQ(HttpErrOpen, client_->LastError());
  EXPECT_FALSE(Fetch("http://name.invalid/x", dir_ / "n.txt"));
  EXPECT_EQ(HttpErrResolve, client_->LastError());
}

TEST_F(SocketClientTest, BrokenTransferLeavesNoFile) {
  ScriptedServer server;
  ASSERT_TRUE(server.Start([](const ScriptedRequest&) {
    Reply r;
    r.pieces = {{"HTTP/1.1 200 OK\r\nContent-Length: 9000\r\n\r\n" + std::string(100, 'a'), 0},
                {std::string(3000, 'b'), 100}};
    return r;
  }));
  kvtest::RecordingSink sink;
  client_->SetProgressSink(&sink, nullptr);
  EXPECT_FALSE(Fetch(server.BaseUrl() + "/b", dir_ / "b.bin"));
  EXPECT_FALSE(fs::exists(dir_ / "b.bin"));
  ASSERT_FALSE(sink.notes.empty());
  EXPECT_EQ(HttpTransferRunning, sink.notes.back().state);
  std::string mem;
  EXPECT_FALSE(FetchMemory(server.BaseUrl() + "/b", mem));
}

// What the client puts on the wire, read by a bare listener (a server would skip the extra
// line end as the start of a next request).
TEST_F(SocketClientTest, RequestBytesOnTheWire) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a));
  ASSERT_EQ(0, listen(listener, 1));
  ASSERT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len));
  std::string received;
  std::thread peer([&] {
    const int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) return;
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buf[4096];
    while (received.find("\r\n\r\n\r\n") == std::string::npos) {
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      received.append(buf, static_cast<std::size_t>(n));
    }
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    close(fd);
  });
  client_->AddRequestHeader("X-Extra", "1");
  client_->AddRequestHeader("X-Extra", "2");
  client_->AddRequestHeader("Host", "ignored");
  std::string mem;
  const bool ok =
      FetchMemory("http://localhost:" + std::to_string(ntohs(a.sin_port)) + "/p?q=1", mem);
  peer.join();
  close(listener);
  ASSERT_TRUE(ok);
  EXPECT_EQ("ok", mem);
  EXPECT_EQ(
      "GET /p?q=1 HTTP/1.1\r\nAccept: */*\r\nAccept-Language: zh-CN,zh;q=0.9\r\n"
      "Connection: Keep-Alive\r\nHost: localhost\r\nUser-Agent: Mozilla/5.0 (Windows NT 10.0; "
      "Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/80.0.4044.92 Safari/537.36\r\n"
      "X-Extra: 1\r\n\r\n\r\n",
      received);
}

TEST(HttpFactoryTest, UnknownKindGivesNothing) {
  IHttpBase* client = reinterpret_cast<IHttpBase*>(1);
  EXPECT_FALSE(CreateHttpClient(&client, static_cast<HttpClientKind>(3)));
  EXPECT_EQ(nullptr, client);
  for (HttpClientKind kind : {HttpClientSocket, HttpClientWinInet, HttpClientWinHttp}) {
    ASSERT_TRUE(CreateHttpClient(&client, kind));
    ASSERT_NE(nullptr, client);
    EXPECT_EQ(0, client->StatusCode());
    EXPECT_EQ(HttpErrNone, client->LastError());
    client->Release();
  }
}

}  // namespace
