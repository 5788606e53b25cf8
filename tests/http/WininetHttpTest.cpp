#include "http/WininetHttp.h"

#include <gtest/gtest.h>

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
  if (r.target == "/missing") return Reply::Text(404, "no such page");
  return Reply::Text(200, r.method + " " + r.body + " " + r.Field("Content-Type") + " " +
                              r.Field("Accept-Language"));
}

class WininetClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start(Scripted));
    ASSERT_TRUE(CreateHttpClient(&base_, HttpClientWinInet));
    client_ = static_cast<IWininetHttp*>(base_);
  }
  void TearDown() override {
    if (base_) base_->Release();
  }
  std::wstring Url(const std::string& path) { return W(server_.BaseUrl() + path); }
  ScriptedServer server_;
  kvtest::TempDir dir_;
  IHttpBase* base_ = nullptr;
  IWininetHttp* client_ = nullptr;
};

TEST_F(WininetClientTest, FileFetchCreatesFoldersAndReportsProgress) {
  const std::string body = kvtest::PatternBytes(20000, 5);
  kvtest::WriteFile(dir_ / "www/f.bin", body);
  fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::others_exec);
  kvtest::NginxOptions o;
  o.root = dir_ / "www";
  kvtest::NginxServer nginx;
  ASSERT_TRUE(nginx.Start(o));
  kvtest::RecordingSink sink;
  client_->SetProgressSink(&sink, nullptr);
  const fs::path target = dir_ / "new/deeper/f.bin";
  ASSERT_TRUE(client_->FetchToFile(W(nginx.BaseUrl() + "/f.bin").c_str(), target.wstring().c_str()))
      << client_->LastError();
  EXPECT_EQ(body, kvtest::ReadFile(target));
  ASSERT_EQ(6u, sink.notes.size());  // five reads of at most 4096 bytes, then finished
  EXPECT_EQ(HttpTransferFinished, sink.notes.back().state);
  EXPECT_EQ(20000.0, sink.notes.back().total);

  void* block = nullptr;
  int size = 0;
  ASSERT_TRUE(client_->FetchToMemory(W(nginx.BaseUrl() + "/f.bin").c_str(), &block, &size));
  EXPECT_EQ(body, std::string(static_cast<char*>(block), static_cast<std::size_t>(size)));
  std::free(block);
}

TEST_F(WininetClientTest, NotFoundAndBadUrls) {
  EXPECT_EQ("", client_->PerformRequest(Url("/missing").c_str(), HttpVerbGet, nullptr,
                                        static_cast<const wchar_t*>(nullptr)));
  EXPECT_EQ(HttpErrNotFound, client_->LastError());
  EXPECT_EQ(404, client_->StatusCode());
  kvtest::RecordingSink sink;
  client_->SetProgressSink(&sink, nullptr);
  EXPECT_FALSE(client_->FetchToFile(Url("/missing").c_str(), (dir_ / "m").wstring().c_str()));
  EXPECT_EQ(HttpErrNotFound, client_->LastError());
  ASSERT_EQ(1u, sink.notes.size());
  EXPECT_EQ(HttpTransferFailed, sink.notes[0].state);

  EXPECT_FALSE(client_->FetchToFile(L"", (dir_ / "m").wstring().c_str()));
  EXPECT_EQ(HttpErrBadUrl, client_->LastError());
  void* block = nullptr;
  int size = 0;
  EXPECT_FALSE(client_->FetchToMemory(nullptr, &block, &size));
  EXPECT_EQ(HttpErrBadUrl, client_->LastError());
  EXPECT_EQ("", client_->PerformRequest(static_cast<const char*>(nullptr), HttpVerbGet, nullptr,
                                        static_cast<const char*>(nullptr)));
  EXPECT_EQ(HttpErrParam, client_->LastError());
}

TEST_F(WininetClientTest, ResponseWithoutLength) {
  kvtest::RecordingSink sink;
  client_->SetProgressSink(&sink, nullptr);
  EXPECT_FALSE(client_->FetchToFile(Url("/chunked").c_str(), (dir_ / "c").wstring().c_str()));
  EXPECT_EQ(HttpErrQuery, client_->LastError());
  void* block = nullptr;
  int size = 0;
  ASSERT_TRUE(client_->FetchToMemory(Url("/chunked").c_str(), &block, &size));
  EXPECT_EQ("abc", std::string(static_cast<char*>(block), static_cast<std::size_t>(size)));
  std::free(block);
}

TEST_F(WininetClientTest, BrokenTransferKeepsThePartialFile) {
  const fs::path target = dir_ / "b.bin";
  EXPECT_FALSE(client_->FetchToFile(Url("/broken").c_str(), target.wstring().c_str()));
  EXPECT_EQ(HttpErrIncomplete, client_->LastError());
  ASSERT_TRUE(fs::exists(target));
  EXPECT_EQ(1000u, fs::file_size(target));
  void* block = nullptr;
  int size = 0;
  EXPECT_FALSE(client_->FetchToMemory(Url("/broken").c_str(), &block, &size));
  EXPECT_EQ(HttpErrIncomplete, client_->LastError());
  EXPECT_EQ(nullptr, block);
  EXPECT_EQ("", client_->PerformRequest(Url("/broken").c_str(), HttpVerbGet, nullptr,
                                        static_cast<const wchar_t*>(nullptr)));
  EXPECT_EQ(HttpErrIncomplete, client_->LastError());
}

TEST_F(WininetClientTest, PostSendsBodyExtraFieldAndDefaults) {
  const std::string url = server_.BaseUrl() + "/post";
  EXPECT_EQ("POST {\"k\":1} application/json zh-CN,zh;q=0.9",
            client_->PerformRequest(url.c_str(), HttpVerbPost, "{\"k\":1}",
                                    "Content-Type: application/json"));
  ASSERT_EQ(1u, server_.Requests().size());
  const ScriptedRequest r = server_.Requests()[0];
  EXPECT_EQ("Keep-Alive", r.Field("Connection"));
  EXPECT_EQ("*/*", r.Field("Accept"));
  EXPECT_NE(std::string::npos, r.Field("User-Agent").find("Chrome/80.0.4044.92"));
}

}  // namespace
