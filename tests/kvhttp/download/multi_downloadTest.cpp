#include "kvhttp/download/multi_download.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "kvhttp/download/ResumeRecord.h"
#include "kvhttp/net/Error.h"
#include "tests/kvhttp/support/DownloadHarness.h"
#include "tests/kvhttp/support/FaultServer.h"

namespace kvhttp {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::int64_t kBig = 4 * 1024 * 1024;  // 32 ranges of 128 KiB

class NginxDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    content_ = kvtest::PatternBytes(kBig, 7);
    kvtest::WriteFile(www_ / "big.bin", content_);
    // nginx's workers may run as another user.
    fs::permissions(www_.path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
    ASSERT_TRUE(nginx_.Start(www_.path()));
  }
  fs::path Out() const { return dir_ / "big.bin.tmp"; }

  kvtest::TempDir www_;
  kvtest::TempDir dir_;
  kvtest::RangeLoggingNginx nginx_;
  std::string content_;
};

// Parses "bytes=a-b" (b may be missing).
bool RangeOf(const std::string& text, std::int64_t& a, std::int64_t& b) {
  b = -1;
  return std::sscanf(text.c_str(), "bytes=%ld-%ld", &a, &b) >= 1;
}

TEST_F(NginxDownload, SplitsIntoRangesChainedOnKeptAliveConnections) {
  kvtest::DownloadRun run;
  run.Begin(nginx_.Url("/big.bin"), kvtest::TestSettings(Out()));
  ASSERT_TRUE(run.WaitDone(60s));
  ASSERT_FALSE(run.start_error()) << run.start_error().message();
  multi_download& d = run.downloader();
  EXPECT_TRUE(d.IsMultiConnection());
  EXPECT_TRUE(d.IsComplete());
  EXPECT_EQ(d.FileSize(), kBig);
  EXPECT_EQ(d.BytesDownloaded(), kBig);
  EXPECT_EQ(d.PieceSize(), 16384);  // 4 MiB / 2048 pieces is below the smallest piece
  EXPECT_EQ(d.OutstandingOperations(), 0);
  EXPECT_TRUE(kvtest::ReadFile(Out()) == content_);

  // Every byte was asked for exactly once (apart from the first, open-ended request), ranges
  // are at most 8 pieces, and far more ranges than connections were served: connections carried
  // one range after another.
  std::vector<std::pair<std::int64_t, std::int64_t>> asked;
  std::set<std::string> conns;
  for (const auto& r : nginx_.Requests()) {
    conns.insert(r.connection);
    std::int64_t a, b;
    ASSERT_TRUE(RangeOf(r.range, a, b)) << r.range;
    if (b < 0) continue;
    EXPECT_EQ(r.status, 206);
    EXPECT_LE(b - a + 1, 8 * 16384);
    asked.emplace_back(a, b);
  }
  std::sort(asked.begin(), asked.end());
  std::int64_t next = 128 * 1024;  // the first range came from the open-ended answer
  for (const auto& [a, b] : asked) {
    EXPECT_EQ(a, next);
    next = b + 1;
  }
  EXPECT_EQ(next, kBig);
  EXPECT_GE(asked.size(), 31u);
  EXPECT_LE(conns.size(), 9u);

  // A finished download does not wait for its record; whatever record there is describes
  // this file.
  ResumeRecordContent record;
  const std::string cfg = kvtest::ReadFile(Out().string() + ".cfg");
  if (!cfg.empty()) {
    ASSERT_TRUE(DecodeResumeRecord(cfg, record));
    EXPECT_EQ(record.fileSize, kBig);
    EXPECT_EQ(record.finalUrl, nginx_.Url("/big.bin"));
    EXPECT_EQ(record.validator, kvtest::NginxEtag(www_ / "big.bin"));
  }
}

TEST_F(NginxDownload, ZeroConnectionLimitUsesOnlyTheFirstConnection) {
  kvtest::DownloadRun run;
  run.Begin(nginx_.Url("/big.bin"), kvtest::TestSettings(Out(), 0));
  ASSERT_TRUE(run.WaitDone(60s));
  EXPECT_TRUE(run.downloader().IsComplete());
  EXPECT_TRUE(kvtest::ReadFile(Out()) == content_);
  std::set<std::string> conns;
  for (const auto& r : nginx_.Requests()) conns.insert(r.connection);
  // The open-ended first answer carries the whole file: nobody else holds a range.
  EXPECT_EQ(conns.size(), 1u);
}

TEST_F(NginxDownload, ResumesFromARecordWhoseFirstMissingByteIsNotZero) {
  // The first 1 MiB is on disk and recorded.
  const std::int64_t have = 1024 * 1024;
  kvtest::WriteFile(Out(), content_.substr(0, have));
  RangeSet on(kBig);
  on.mark(0, have);
  ResumeRecordContent record;
  record.finalUrl = nginx_.Url("/big.bin");
  record.fileSize = kBig;
  record.pieceSize = 16384;
  record.bitfield = RangesToBitfield(on, 16384);
  record.validator = kvtest::NginxEtag(www_ / "big.bin");
  kvtest::WriteFile(Out().string() + ".cfg", EncodeResumeRecord(record));

  kvtest::DownloadRun run;
  run.Begin(nginx_.Url("/big.bin"), kvtest::TestSettings(Out(), 4));
  ASSERT_TRUE(run.WaitDone(60s));
  EXPECT_TRUE(run.downloader().IsComplete());
  EXPECT_TRUE(kvtest::ReadFile(Out()) == content_);
  // Nothing below 1 MiB was fetched again: the first connection dropped its "bytes=0-" answer.
  for (const auto& r : nginx_.Requests()) {
    std::int64_t a, b;
    ASSERT_TRUE(RangeOf(r.range, a, b));
    if (b >= 0) {
      EXPECT_GE(a, have) << r.range;
    }
  }
}

TEST_F(NginxDownload, RecordOfAnotherFileIsDropped) {
  // A record for a different length, beside a data file longer than the new one.
  kvtest::WriteFile(Out(), std::string(kBig + 5000, 'x'));
  ResumeRecordContent record;
  record.finalUrl = nginx_.Url("/big.bin");
  record.fileSize = kBig + 5000;
  record.pieceSize = 16384;
  record.bitfield = PieceBitfield(257, std::string(33, '\xff'));
  kvtest::WriteFile(Out().string() + ".cfg", EncodeResumeRecord(record));

  kvtest::DownloadRun run;
  run.Begin(nginx_.Url("/big.bin"), kvtest::TestSettings(Out()));
  ASSERT_TRUE(run.WaitDone(60s));
  EXPECT_TRUE(run.downloader().IsComplete());
  EXPECT_TRUE(kvtest::ReadFile(Out()) == content_);  // no 'x' left, no tail
}

TEST_F(NginxDownload, ServerThatHonoursOnlyTheFirstRangeFinishesOnThatConnection) {
  // Every range that does not start at 0 is answered with the whole file (200): those bodies
  // must never be written at the range's offset, and after a few of them no new range
  // connection is opened; the first, open-ended answer carries the file.
  kvtest::DownloadRun run;
  run.Begin(nginx_.Url("/r200/big.bin"), kvtest::TestSettings(Out()));
  ASSERT_TRUE(run.WaitDone(30s));
  EXPECT_TRUE(run.downloader().IsComplete());
  EXPECT_TRUE(kvtest::ReadFile(Out()) == content_);
  int refused = 0;
  for (const auto& r : nginx_.Requests()) refused += r.status == 200;
  EXPECT_GE(refused, detail::RetryPolicy::kWrongAnswersBeforeNoNewRanges);
  // Each other connection asked at most a couple of times, not once per second until the end.
  EXPECT_LE(nginx_.Requests().size(), 1u + 2 * 7);
}

TEST_F(NginxDownload, NotFoundOnEveryConnectionEndsIncomplete) {
  kvtest::DownloadRun run;
  run.Begin(nginx_.Url("/slow/big.bin"), kvtest::TestSettings(Out(), 3));
  ASSERT_TRUE(run.WaitBytes(1, 20s));
  fs::remove(www_ / "big.bin");
  ASSERT_TRUE(run.WaitDone(60s));
  multi_download& d = run.downloader();
  EXPECT_FALSE(d.IsComplete());
  EXPECT_LT(d.BytesDownloaded(), kBig);
  EXPECT_EQ(d.LastError(), make_status_error(404));
  // What is on disk is right, and the record claims nothing beyond it.
  const std::string got = kvtest::ReadFile(Out());
  ResumeRecordContent record;
  ASSERT_TRUE(DecodeResumeRecord(kvtest::ReadFile(Out().string() + ".cfg"), record));
  for (std::int64_t i = 0; i < record.bitfield.count(); ++i) {
    if (!record.bitfield.get(i)) continue;
    ASSERT_LE((i + 1) * 16384, static_cast<std::int64_t>(got.size()));
    EXPECT_EQ(got.substr(i * 16384, 16384), content_.substr(i * 16384, 16384)) << "piece " << i;
  }
}

TEST_F(NginxDownload, StopEndsTheRunAndTheRecordMatchesTheDisk) {
  kvtest::DownloadRun run;
  run.Begin(nginx_.Url("/slow/big.bin"), kvtest::TestSettings(Out()));
  ASSERT_TRUE(run.WaitBytes(300 * 1024, 30s));
  run.downloader().Stop();
  ASSERT_TRUE(run.WaitDone(10s));
  multi_download& d = run.downloader();
  EXPECT_FALSE(d.IsComplete());
  EXPECT_EQ(d.OutstandingOperations(), 0);
  ResumeRecordContent record;
  ASSERT_TRUE(DecodeResumeRecord(kvtest::ReadFile(Out().string() + ".cfg"), record));
  const std::string got = kvtest::ReadFile(Out());
  int claimed = 0;
  for (std::int64_t i = 0; i < record.bitfield.count(); ++i) {
    if (!record.bitfield.get(i)) continue;
    ++claimed;
    EXPECT_EQ(got.substr(i * 16384, 16384), content_.substr(i * 16384, 16384)) << "piece " << i;
  }
  EXPECT_GT(claimed, 0);
  EXPECT_LT(claimed, 256);

  // A second start carries on from the record and completes the file.
  kvtest::DownloadRun again;
  again.Begin(nginx_.Url("/big.bin"), kvtest::TestSettings(Out()));
  ASSERT_TRUE(again.WaitDone(60s));
  EXPECT_TRUE(again.downloader().IsComplete());
  EXPECT_TRUE(kvtest::ReadFile(Out()) == content_);
}

// A file storage whose writes fail a number of times (the disk was full for a moment).
std::atomic<int> g_failingWrites{0};
class FlakyStorage : public default_storage {
 public:
  std::int64_t write(const char* data, std::int64_t offset, std::int32_t size) override {
    if (g_failingWrites > 0 && offset > 0) {
      --g_failingWrites;
      return -1;
    }
    return default_storage::write(data, offset, size);
  }
};
storage_interface* MakeFlakyStorage() {
  return new FlakyStorage;
}

TEST_F(NginxDownload, FailedWritesAreFetchedAgainAndNeverRecorded) {
  g_failingWrites = 6;
  DownloadSettings s = kvtest::TestSettings(Out());
  s.storage = MakeFlakyStorage;
  kvtest::DownloadRun run;
  run.Begin(nginx_.Url("/big.bin"), s);
  ASSERT_TRUE(run.WaitDone(60s));
  EXPECT_EQ(g_failingWrites, 0);
  EXPECT_TRUE(run.downloader().IsComplete());
  EXPECT_EQ(run.downloader().BytesDownloaded(), kBig);
  EXPECT_TRUE(kvtest::ReadFile(Out()) == content_);
}

class FaultDownload : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }
  fs::path Out() const { return dir_ / "f.tmp"; }
  // Requests the server received.
  int Requests() const {
    const std::string log = server_.Log();
    int n = 0;
    for (std::size_t at = log.find("GET "); at != std::string::npos; at = log.find("GET ", at + 1))
      ++n;
    return n;
  }
  kvtest::FaultServer server_;
  kvtest::TempDir dir_;
};

TEST_F(FaultDownload, TwoHundredInsteadOfPartialUsesOneConnectionAndNoRecord) {
  // What an earlier run with ranges left: its record must not outlive this run's rewrite.
  ResumeRecordContent old;
  old.finalUrl = "http://x/";
  old.fileSize = 300000;
  old.pieceSize = 16384;
  old.bitfield = PieceBitfield(19, std::string(3, '\xff'));
  kvtest::WriteFile(Out().string() + ".cfg", EncodeResumeRecord(old));
  kvtest::WriteFile(Out(), std::string(300000, 'x'));
  kvtest::DownloadRun run;
  run.Begin(server_.Url("/file?size=300000&ignore_range"), kvtest::TestSettings(Out()));
  ASSERT_TRUE(run.WaitDone(30s));
  multi_download& d = run.downloader();
  EXPECT_FALSE(d.IsMultiConnection());
  EXPECT_TRUE(d.IsComplete());
  EXPECT_EQ(d.FileSize(), 300000);
  EXPECT_EQ(d.BytesDownloaded(), 300000);
  EXPECT_EQ(kvtest::ReadFile(Out()), kvtest::FaultServer::FileBytes(0, 300000));
  EXPECT_FALSE(fs::exists(Out().string() + ".cfg"));
}

TEST_F(FaultDownload, BodyWithoutLengthEndsIncomplete) {
  kvtest::DownloadRun run;
  run.Begin(server_.Url("/file?size=50000&ignore_range&no_length"), kvtest::TestSettings(Out()));
  ASSERT_TRUE(run.WaitDone(30s));
  multi_download& d = run.downloader();
  EXPECT_FALSE(d.IsComplete());
  EXPECT_EQ(d.FileSize(), -1);
  EXPECT_EQ(d.BytesDownloaded(), 50000);  // all of it, but nothing says so
  EXPECT_EQ(kvtest::ReadFile(Out()), kvtest::FaultServer::FileBytes(0, 50000));
}

TEST_F(FaultDownload, SingleConnectionThatGetsNowhereIsRetriedABoundedNumberOfTimes) {
  // Every answer breaks off after the same 5000 bytes: each retry starts from nothing (no
  // validator ties it to what is on disk) and gets no further, so none counts as progress.
  kvtest::DownloadRun run;
  run.Begin(server_.Url("/file?size=100000&ignore_range&drop_after=5000"),
            kvtest::TestSettings(Out()));
  ASSERT_TRUE(run.WaitDone(60s));
  EXPECT_EQ(run.downloader().Outcome(), download_outcome::failed);
  EXPECT_EQ(run.downloader().BytesDownloaded(), 5000);
  EXPECT_EQ(run.downloader().LastError(), boost::asio::error::eof);
  EXPECT_EQ(kvtest::ReadFile(Out()), kvtest::FaultServer::FileBytes(0, 5000));
  EXPECT_EQ(Requests(), detail::RetryPolicy::kMaxFailuresWithoutProgress) << server_.Log();
}

TEST_F(FaultDownload, ChunkedBodyThatArrivedWholeIsComplete) {
  {
    kvtest::DownloadRun run;
    run.Begin(server_.Url("/file?size=70000&ignore_range&chunked&chunk=3000"),
              kvtest::TestSettings(Out()));
    ASSERT_TRUE(run.WaitDone(30s));
    EXPECT_TRUE(run.downloader().IsComplete());
    EXPECT_EQ(run.downloader().FileSize(), 70000);
    EXPECT_EQ(run.downloader().BytesDownloaded(), 70000);
    EXPECT_EQ(kvtest::ReadFile(Out()), kvtest::FaultServer::FileBytes(0, 70000));
  }
  {
    // Cut inside a chunk: incomplete, whatever arrived.
    kvtest::DownloadRun run;
    run.Begin(server_.Url("/canned/chunked-cut"), kvtest::TestSettings(Out()));
    ASSERT_TRUE(run.WaitDone(30s));
    EXPECT_FALSE(run.downloader().IsComplete());
    EXPECT_EQ(run.downloader().FileSize(), -1);
  }
}

TEST_F(FaultDownload, DroppedRangeIsReopenedWhereItStopped) {
  // Every answer breaks off after 40000 bytes; only asking from where it stopped gets further.
  kvtest::DownloadRun run;
  run.Begin(server_.Url("/file?size=100000&drop_after=40000"), kvtest::TestSettings(Out()));
  ASSERT_TRUE(run.WaitDone(60s));
  EXPECT_TRUE(run.downloader().IsComplete());
  EXPECT_EQ(kvtest::ReadFile(Out()), kvtest::FaultServer::FileBytes(0, 100000));
  EXPECT_EQ(Requests(), 3) << server_.Log();
}

TEST_F(FaultDownload, OneMissingByteIsAskedForAlone) {
  kvtest::DownloadRun run;
  run.Begin(server_.Url("/file?size=100000&drop_after=99999"), kvtest::TestSettings(Out()));
  ASSERT_TRUE(run.WaitDone(60s));
  EXPECT_TRUE(run.downloader().IsComplete());
  EXPECT_EQ(kvtest::ReadFile(Out()), kvtest::FaultServer::FileBytes(0, 100000));
}

TEST_F(FaultDownload, PartialAnswerOfUnknownTotalIsNotTakenForTheFile) {
  kvtest::DownloadRun run;
  run.Begin(server_.Url("/raw?data=" + std::string("HTTP/1.1 206 Partial Content%0D%0A"
                                                   "Content-Range: bytes 0-9/*%0D%0A"
                                                   "Content-Length: 10%0D%0A%0D%0A0123456789")),
            kvtest::TestSettings(Out()));
  ASSERT_TRUE(run.WaitDone(20s));
  EXPECT_FALSE(run.downloader().IsMultiConnection());
  EXPECT_FALSE(run.downloader().IsComplete());
  EXPECT_EQ(run.downloader().FileSize(), -1);
  EXPECT_EQ(kvtest::ReadFile(Out()), "0123456789");
}

TEST_F(FaultDownload, WrongContentRangeIsNeverWritten) {
  // Every answer claims bytes 0-99 of 1000, whatever was asked for.
  std::string body;
  for (int i = 0; i < 10; ++i) body += "0123456789";
  std::string raw =
      "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-99/1000\r\n"
      "Content-Length: 100\r\nConnection: close\r\n\r\n" +
      body;
  std::string escaped;
  for (unsigned char c : raw) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", c);
    escaped += hex;
  }
  kvtest::DownloadRun run;
  run.Begin(server_.Url("/raw?data=" + escaped), kvtest::TestSettings(Out()));
  ASSERT_TRUE(run.WaitBytes(100, 20s));
  std::this_thread::sleep_for(4s);  // time for reconnects that get the wrong range
  run.downloader().Stop();
  ASSERT_TRUE(run.WaitDone(20s));
  EXPECT_EQ(run.downloader().BytesDownloaded(), 100);
  const std::string got = kvtest::ReadFile(Out());
  EXPECT_EQ(got, body);
  EXPECT_GE(Requests(), 2);
}

TEST_F(FaultDownload, RateLimitAllowsOneBudgetPerSecond) {
  DownloadSettings s = kvtest::TestSettings(Out());
  s.download_rate_limit = 2048;
  const auto t0 = std::chrono::steady_clock::now();
  kvtest::DownloadRun run;
  run.Begin(server_.Url("/file?size=8192&ignore_range"), s);
  ASSERT_TRUE(run.WaitDone(30s));
  EXPECT_TRUE(run.downloader().IsComplete());
  // 2048 bytes at once, then 2048 more at each of three ticks.
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 2900ms);
  EXPECT_EQ(kvtest::ReadFile(Out()), kvtest::FaultServer::FileBytes(0, 8192));
}

TEST_F(FaultDownload, StartErrors) {
  {
    // A server that accepts and never answers: the start ends after the time-out.
    kvtest::DownloadRun run;
    run.Begin(server_.Url("/silent"), kvtest::TestSettings(Out()));
    ASSERT_TRUE(run.WaitDone(15s));
    EXPECT_EQ(run.start_error(), boost::asio::error::timed_out);
  }
  {
    kvtest::DownloadRun run;
    run.Begin(server_.Url("/status?code=404"), kvtest::TestSettings(Out()));
    ASSERT_TRUE(run.WaitDone(15s));
    EXPECT_EQ(run.start_error(), make_status_error(404));
  }
  {
    kvtest::DownloadRun run;
    run.Begin(server_.Url("/file"), kvtest::TestSettings(dir_ / "no" / "such" / "f.tmp"));
    ASSERT_TRUE(run.WaitDone(15s));
    EXPECT_EQ(run.start_error().value(), ENOENT);
  }
  {
    kvtest::DownloadRun run;
    run.Begin("not a url", kvtest::TestSettings(Out()));
    ASSERT_TRUE(run.WaitDone(15s));
    EXPECT_TRUE(run.start_error());
  }
}

}  // namespace
}  // namespace kvhttp
