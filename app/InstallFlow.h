// The install flow's parts that stand on their own: the free-space check over the file systems
// the flow writes to. The flow's operations themselves (OnClickInstall, PrepareDownload,
// GetRedirectUrl, StartDownload, OnDownloadEvent, DownloadSuccess, DownloadFailed) belong to
// CSetupFrameWnd and live in InstallFlow.cpp. Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DiskRoom {
  bool anyUnknown = false;   // a free-space query failed
  bool enough = true;        // every file system that answered has the room
  std::uint32_t freeMb = 0;  // the least free space among those that answered
};

// Asks the file system of each folder (a folder not made yet counts as its nearest existing
// parent) for its free space in MiB and compares it with requiredMb.
DiskRoom CheckDiskRoom(const std::vector<std::wstring>& folders, std::uint32_t requiredMb);
