#include "kvhttp/download/detail/RecordKeeper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "kvhttp/download/ResumeRecord.h"
#include "tests/kvhttp/support/DownloadHarness.h"

namespace kvhttp::detail {
namespace {

RecordSnapshot Snapshot(std::int64_t written) {
  RecordSnapshot s;
  s.finalUrl = "http://127.0.0.1/f";
  s.fileSize = 1000;
  s.pieceSize = 100;
  s.validator = "\"v\"";
  s.written = {{0, written}};
  s.writtenBytes = written;
  return s;
}

TEST(RecordKeeper, RecordFollowsTheSyncAndTheNewestSnapshot) {
  kvtest::TempDir dir;
  const auto path = dir / "r.cfg";
  std::atomic<int> syncs{0};
  std::atomic<bool> syncOk{true};
  RecordKeeper keeper;
  keeper.Begin(
      kvtest::WidePath(path),
      [&] {
        ++syncs;
        return syncOk.load();
      },
      "");
  // A sync that fails lets no record be written.
  syncOk = false;
  keeper.Submit(Snapshot(300));
  keeper.Finish();
  EXPECT_FALSE(std::filesystem::exists(path) && std::filesystem::file_size(path) > 0);

  syncOk = true;
  keeper.Begin(
      kvtest::WidePath(path), [&] { return ++syncs, true; }, "");
  for (int i = 1; i <= 9; ++i) keeper.Submit(Snapshot(i * 100));
  keeper.Finish();
  ResumeRecordContent record;
  ASSERT_TRUE(DecodeResumeRecord(kvtest::ReadFile(path), record));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(record.bitfield.get(i), i < 9) << i;
  EXPECT_EQ(record.validator, "\"v\"");

  // An unchanged snapshot costs no sync; a discarded one is never written.
  const int before = syncs;
  keeper.Begin(
      kvtest::WidePath(path), [&] { return ++syncs, true; }, record.bitfield.bytes());
  keeper.Submit(Snapshot(900));
  keeper.Finish();
  EXPECT_EQ(syncs, before);
  keeper.Begin(
      kvtest::WidePath(path), [&] { return ++syncs, true; }, record.bitfield.bytes());
  keeper.Discard();
  keeper.Submit(Snapshot(1000));  // after the end: ignored
  ASSERT_TRUE(DecodeResumeRecord(kvtest::ReadFile(path), record));
  EXPECT_FALSE(record.bitfield.get(9));
}

// Snapshots that each add much and come faster than the syncs may run are merged: one sync for
// the first, one at the end for the newest, and the record names everything the last one had.
TEST(RecordKeeper, SyncsAreSpacedAndTheLastSnapshotIsNotHeldBack) {
  kvtest::TempDir dir;
  const auto path = dir / "r.cfg";
  std::atomic<int> syncs{0};
  RecordKeeper keeper;
  SyncPacing pacing;
  pacing.interval = std::chrono::seconds(30);
  pacing.smallBytes = 50;
  keeper.Begin(
      kvtest::WidePath(path), [&] { return ++syncs, true; }, "", pacing);
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 1; i <= 9; ++i) {
    keeper.Submit(Snapshot(i * 100));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  keeper.Finish();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  EXPECT_LE(syncs.load(), 2);
  ResumeRecordContent record;
  ASSERT_TRUE(DecodeResumeRecord(kvtest::ReadFile(path), record));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(record.bitfield.get(i), i < 9) << i;
}

// Snapshots that add little are synced and recorded soon, without waiting for the interval:
// a slow download's record stays close behind what was written.
TEST(RecordKeeper, SmallStepsAreRecordedSoon) {
  kvtest::TempDir dir;
  const auto path = dir / "r.cfg";
  RecordKeeper keeper;
  SyncPacing pacing;
  pacing.interval = std::chrono::seconds(30);
  pacing.smallBytes = 250;
  pacing.smallInterval = std::chrono::milliseconds(0);
  keeper.Begin(
      kvtest::WidePath(path), [] { return true; }, "", pacing);
  auto recordedPieces = [&] {
    ResumeRecordContent record;
    if (!std::filesystem::exists(path) || !DecodeResumeRecord(kvtest::ReadFile(path), record))
      return -1;
    int n = 0;
    while (n < 10 && record.bitfield.get(n)) ++n;
    return n;
  };
  auto waitForPieces = [&](int pieces) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (recordedPieces() != pieces && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return recordedPieces();
  };
  keeper.Submit(Snapshot(100));
  EXPECT_EQ(waitForPieces(1), 1);
  keeper.Submit(Snapshot(300));
  EXPECT_EQ(waitForPieces(3), 3);
  keeper.Submit(Snapshot(500));
  EXPECT_EQ(waitForPieces(5), 5);
  keeper.Discard();
}

}  // namespace
}  // namespace kvhttp::detail
