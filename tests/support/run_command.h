#pragma once

// Runs the project's command-line programs from tests.

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace test_support {

struct RunResult {
  int Status = -1;
  std::string Out;
};

// Runs a shell command line and returns its exit status and standard output; standard error
// goes where the command line sends it.
inline RunResult Execute(const std::string &command) {
  RunResult run;
  FILE *pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr)
    return run;
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    run.Out.append(buffer.data(), n);
  const int status = ::pclose(pipe);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

} // namespace test_support
