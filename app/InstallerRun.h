// The installer run's parts that stand on their own: the installer's argument list and the
// progress file's value. The run's operations (StartInstallExe,
// SilentInstallation, WriteDomainFile, StartProgressWatch, ReadProgressFile, InstallExeFinish,
// KillSilentInstallProcess, RemoveInstallerFiles, LaunchProduct) belong to CSetupFrameWnd and
// live in InstallerRun.cpp. Any thread.
#pragma once

#include <string>
#include <vector>

// One argument per switch, built directly so that no folder name can regroup them:
// "/verysilent", "/korvana_down", "/wait_run", "/path=<folder>/", "/progress=<file>".
std::vector<std::string> InstallerArguments(const std::wstring& installFolder,
                                            const std::wstring& progressFile);

// The installer's progress in the first ten characters of its file, as atoi reads them,
// clamped to 0-100.
int ProgressFromText(const std::string& text);
