// multi_download against servers that misbehave: files that change, ranges answered wrongly,
// failures that repeat, slow connections, sizes that do not fit.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>

#include "kvhttp/download/ResumeRecord.h"
#include "kvhttp/download/multi_download.h"
#include "kvhttp/net/Error.h"
#include "tests/kvhttp/support/DownloadHarness.h"
#include "tests/kvhttp/support/FaultServer.h"

namespace kvhttp {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Escaped(const std::string& raw) {
  std::string out;
  for (unsigned char c : raw) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", c);
    out += hex;
  }
  return out;
}

class ChangingServer : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }
  fs::path Out() const { return dir_ / "f.tmp"; }
  int Count(const std::string& what) const {
    const std::string log = server_.Log();
    int n = 0;
    for (std::size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
    return n;
  }
  kvtest::FaultServer server_;
  kvtest::TempDir dir_;
};

TEST_F(ChangingServer, FileChangedDuringTheRunStartsOverOnceThenFails) {
  const std::int64_t size = 1500000;
  {
    // After three requests every answer comes from the next version: the ranges asked with
    // the old validator get the whole new file, and the download starts over with it.
    kvtest::DownloadRun run;
    run.Begin(server_.Url("/file?size=1500000&tag=once&change_after=3"),
              kvtest::TestSettings(Out(), 4));
    ASSERT_TRUE(run.WaitDone(60s));
    EXPECT_TRUE(run.downloader().IsComplete()) << run.downloader().LastError().message();
    EXPECT_TRUE(kvtest::ReadFile(Out()) == kvtest::FaultServer::FileBytes(0, size, 1));
  }
  {
    // A file that keeps changing: the second change ends the download.
    kvtest::DownloadRun run;
    run.Begin(server_.Url("/file?size=1500000&tag=often&change_every=4"),
              kvtest::TestSettings(Out(), 4));
    ASSERT_TRUE(run.WaitDone(60s));
    EXPECT_EQ(run.downloader().Outcome(), download_outcome::failed);
    EXPECT_EQ(run.downloader().LastError(), make_error_code(errc::resource_changed));
  }
}

TEST_F(ChangingServer, RecordOfAnotherVersionOrAddressIsNotResumed) {
  const std::int64_t size = 600000;
  // A record and data of version 0, half done, beside a server that now has version 1 of the
  // same size: none of the old pieces may survive.
  auto plant = [&](const std::string& url, const std::string& validator) {
    kvtest::WriteFile(Out(), kvtest::FaultServer::FileBytes(0, size / 2, 0));
    RangeSet on(size);
    on.mark(0, size / 2);
    ResumeRecordContent record;
    record.finalUrl = url;
    record.fileSize = size;
    record.pieceSize = 16384;
    record.bitfield = RangesToBitfield(on, 16384);
    record.validator = validator;
    kvtest::WriteFile(Out().string() + ".cfg", EncodeResumeRecord(record));
  };
  const std::string v1 = server_.Url("/file?size=600000&version=1");
  for (const std::string& validator : {std::string("\"v0-600000\""), std::string()}) {
    plant(v1, validator);  // another version, and a record from before validators
    kvtest::DownloadRun run;
    run.Begin(v1, kvtest::TestSettings(Out()));
    ASSERT_TRUE(run.WaitDone(30s));
    EXPECT_TRUE(run.downloader().IsComplete());
    EXPECT_TRUE(kvtest::ReadFile(Out()) == kvtest::FaultServer::FileBytes(0, size, 1));
  }
  // The right version under another address: fetched again as well.
  plant(server_.Url("/dir/other?size=600000&version=1"), "\"v1-600000\"");
  {
    kvtest::DownloadRun run;
    run.Begin(v1, kvtest::TestSettings(Out()));
    ASSERT_TRUE(run.WaitDone(30s));
    EXPECT_TRUE(kvtest::ReadFile(Out()) == kvtest::FaultServer::FileBytes(0, size, 1));
  }
  // The same version and address: only the missing half is asked for.
  plant(v1, "\"v1-600000\"");
  kvtest::WriteFile(Out(), kvtest::FaultServer::FileBytes(0, size / 2, 1));
  const int before = Count("GET ");
  kvtest::DownloadRun run;
  run.Begin(v1, kvtest::TestSettings(Out(), 1));
  ASSERT_TRUE(run.WaitDone(30s));
  EXPECT_TRUE(kvtest::ReadFile(Out()) == kvtest::FaultServer::FileBytes(0, size, 1));
  // The open-ended first request, then the 305088 bytes after the 18 pieces on disk in three
  // ranges of at most 128 KiB.
  EXPECT_EQ(Count("GET ") - before, 4);
}

TEST_F(ChangingServer, AnswersThatNeverWorkEndTheDownloadWithTheirCause) {
  // The first answer breaks off after 100000 bytes and every range gets 503: every connection
  // gives up after a bounded number of tries, and the download says why.
  kvtest::DownloadRun run;
  const auto t0 = std::chrono::steady_clock::now();
  run.Begin(server_.Url("/file?size=1000000&drop_after=100000&range_status=503"),
            kvtest::TestSettings(Out(), 4));
  ASSERT_TRUE(run.WaitDone(60s));
  EXPECT_EQ(run.downloader().Outcome(), download_outcome::failed);
  EXPECT_EQ(run.downloader().LastError(), make_status_error(503));
  EXPECT_EQ(run.downloader().BytesDownloaded(), 100000);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 30s);
  // Each of the 4 connections tried a bounded number of times (the first one once more for
  // the open-ended answer).
  EXPECT_LE(Count("GET "), 1 + 4 * detail::RetryPolicy::kMaxFailuresWithoutProgress);
}

TEST_F(ChangingServer, WrongRangeAnswersLeaveTheRestToTheWorkingConnection) {
  // Only the first, open-ended request is served right; every other range gets the whole file
  // (200) or bytes shifted elsewhere. The open-ended answer carries the file, and after a few
  // wrong answers no new range connection is opened.
  for (const std::string fault : {"ignore_range", "wrong_start=1000"}) {
    SCOPED_TRACE(fault);
    const int before = Count("GET ");
    kvtest::DownloadRun run;
    run.Begin(server_.Url("/file?size=2000000&rate=2000000&only_ranged&" + fault),
              kvtest::TestSettings(Out()));
    ASSERT_TRUE(run.WaitDone(30s));
    EXPECT_TRUE(run.downloader().IsComplete()) << run.downloader().LastError().message();
    EXPECT_TRUE(kvtest::ReadFile(Out()) == kvtest::FaultServer::FileBytes(0, 2000000));
    EXPECT_LE(Count("GET ") - before, 1 + 2 * 7);
  }
}

TEST_F(ChangingServer, TricklingConnectionsCountAsStalled) {
  // Every range after the first trickles at 100 bytes per second after 40000 bytes: below the
  // minimum rate, each is given up after its time-out and asked again where it stopped, so the
  // download ends long before the trickle would.
  kvtest::DownloadRun run;
  run.Begin(server_.Url("/file?size=400000&only_ranged&trickle_after=40000"),
            kvtest::TestSettings(Out(), 4));
  ASSERT_TRUE(run.WaitDone(40s));
  EXPECT_TRUE(run.downloader().IsComplete()) << run.downloader().LastError().message();
  EXPECT_TRUE(kvtest::ReadFile(Out()) == kvtest::FaultServer::FileBytes(0, 400000));
}

TEST_F(ChangingServer, ShortAnswersAreAskedAgainAtOnce) {
  // Every answer breaks off after 40000 bytes; with a time-out far longer than the whole test,
  // the rest of each range is asked for right away.
  DownloadSettings s = kvtest::TestSettings(Out(), 2);
  s.time_out = 60;
  kvtest::DownloadRun run;
  run.Begin(server_.Url("/file?size=300000&drop_after=40000"), s);
  ASSERT_TRUE(run.WaitDone(30s));
  EXPECT_TRUE(run.downloader().IsComplete());
  EXPECT_TRUE(kvtest::ReadFile(Out()) == kvtest::FaultServer::FileBytes(0, 300000));
}

TEST_F(ChangingServer, HttpOneOneConnectionsAreKeptWithoutAKeepAliveHeader) {
  kvtest::DownloadRun run;
  run.Begin(server_.Url("/file?size=4000000&omit_connection"), kvtest::TestSettings(Out(), 4));
  ASSERT_TRUE(run.WaitDone(30s));
  EXPECT_TRUE(run.downloader().IsComplete());
  // 31 ranges after the first over 4 connections: each carried several requests.
  EXPECT_GE(Count("GET "), 31);
  EXPECT_LE(server_.Connections(), 4 + 1);
}

TEST_F(ChangingServer, SpeedIsTheRateOfTheLastSeconds) {
  DownloadSettings s = kvtest::TestSettings(Out(), 2);
  s.download_rate_limit = 300000;
  kvtest::DownloadRun run;
  run.Begin(server_.Url("/file?size=1500000"), s);
  std::this_thread::sleep_for(2500ms);
  const int speed = run.downloader().Speed();
  EXPECT_GT(speed, 200000);
  EXPECT_LT(speed, 400000);
  ASSERT_TRUE(run.WaitDone(30s));
  EXPECT_TRUE(run.downloader().IsComplete());
}

// A file storage whose writes fail a number of times (the disk was full for a moment).
std::atomic<int> g_failingWrites{0};
class FlakyStorage : public default_storage {
 public:
  std::int64_t write(const char* data, std::int64_t offset, std::int32_t size) override {
    if (g_failingWrites > 0 && offset > 0) {
      --g_failingWrites;
      errno = ENOSPC;
      return -1;
    }
    return default_storage::write(data, offset, size);
  }
};
storage_interface* MakeFlakyStorage() {
  return new FlakyStorage;
}

TEST_F(ChangingServer, SingleConnectionCompletesFromWhatWasWritten) {
  // One body without ranges; two writes fail on the way. What was received but not written
  // must be fetched again, and only a file whose every byte was written is complete.
  g_failingWrites = 2;
  DownloadSettings s = kvtest::TestSettings(Out());
  s.storage = MakeFlakyStorage;
  kvtest::DownloadRun run;
  run.Begin(server_.Url("/file?size=900000&ignore_range&rate=3000000"), s);
  ASSERT_TRUE(run.WaitDone(30s));
  EXPECT_EQ(g_failingWrites, 0);
  EXPECT_TRUE(run.downloader().IsComplete());
  EXPECT_EQ(run.downloader().BytesDownloaded(), 900000);
  EXPECT_TRUE(kvtest::ReadFile(Out()) == kvtest::FaultServer::FileBytes(0, 900000));
}

TEST_F(ChangingServer, ExpectedSizeIsEnforced) {
  auto run = [&](const std::string& url, std::int64_t expected) {
    auto r = std::make_unique<kvtest::DownloadRun>();
    DownloadSettings s = kvtest::TestSettings(Out());
    s.expected_size = expected;
    r->Begin(url, s);
    EXPECT_TRUE(r->WaitDone(30s));
    return r;
  };
  // A length or total that differs: the start fails.
  EXPECT_EQ(run(server_.Url("/file?size=50000"), 49999)->start_error(),
            make_error_code(errc::size_mismatch));
  EXPECT_EQ(run(server_.Url("/file?size=50000&ignore_range"), 50001)->start_error(),
            make_error_code(errc::size_mismatch));
  // A body without length: complete when it ends right at the size, an error when it runs on.
  auto exact = run(server_.Url("/file?size=50000&ignore_range&no_length"), 50000);
  EXPECT_TRUE(exact->downloader().IsComplete());
  EXPECT_EQ(kvtest::ReadFile(Out()), kvtest::FaultServer::FileBytes(0, 50000));
  auto longer = run(server_.Url("/file?size=50000&ignore_range&chunked"), 40000);
  EXPECT_EQ(longer->downloader().Outcome(), download_outcome::failed);
  EXPECT_EQ(longer->downloader().LastError(), make_error_code(errc::size_mismatch));
  EXPECT_LE(fs::file_size(Out()), 40000u);
}

TEST_F(ChangingServer, HugeAnnouncedSizeFailsFastWithoutLargeAllocations) {
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  const std::string raw =
      "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-99/72057594037927936\r\n"
      "Content-Length: 100\r\n\r\n" +
      std::string(100, 'x');
  kvtest::DownloadRun r;
  r.Begin(server_.Url("/raw?data=" + Escaped(raw)), kvtest::TestSettings(Out()));
  ASSERT_TRUE(r.WaitDone(10s));
  EXPECT_EQ(r.start_error(), boost::system::errc::no_space_on_device);
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kilobytes";
  EXPECT_LT(fs::exists(Out()) ? fs::file_size(Out()) : 0, 1024u);
}

}  // namespace
}  // namespace kvhttp
