// Runs the kvbrand tool (KVBRAND_PATH) as a real process for the tool's tests.
#pragma once

#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace kvtest {

struct ToolRun {
  int exitCode = -1;
  std::string output;  // stdout and stderr
};

// `tmp` becomes the tool's TMPDIR.
inline ToolRun Kvbrand(const std::vector<std::string>& args, const std::filesystem::path& tmp) {
  TempDir out;
  std::vector<std::string> argv{KVBRAND_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess child;
  ToolRun run;
  if (!child.Start(argv, (out / "out.txt").string(), {{"TMPDIR", tmp.string()}})) return run;
  const int status = child.Wait(std::chrono::seconds(30));
  if (status != -1 && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  run.output = ReadFile(out / "out.txt");
  return run;
}

}  // namespace kvtest
