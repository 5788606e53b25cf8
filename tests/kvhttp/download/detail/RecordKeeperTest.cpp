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

// Snapshots that come faster than the syncs may run are merged: one sync for the first, one
// at the end for the newest, and the record names everything the last one had.
TEST(RecordKeeper, SyncsAreSpacedAndTheLastSnapshotIsNotHeldBack) {
  kvtest::TempDir dir;
  const auto path = dir / "r.cfg";
  std::atomic<int> syncs{0};
  RecordKeeper keeper;
  keeper.Begin(
      kvtest::WidePath(path), [&] { return ++syncs, true; }, "", std::chrono::seconds(30));
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

}  // namespace
}  // namespace kvhttp::detail
