#pragma once

// Fixtures of the find and validation tests, shared with the tests of their widgets.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "xmlmodel/xml_obj.h"

namespace search_support {

inline const std::string kDir = XE_TEST_DATA "/xmlmodel/search/";

// A fixture of this folder, loaded as the editor loads it.
inline std::unique_ptr<xmlmodel::TOrbMainXML> Load(const std::string &name) {
  auto doc = std::make_unique<xmlmodel::TOrbMainXML>();
  doc->FileName = kDir + name;
  doc->Load();
  EXPECT_TRUE(doc->RootItem()->HasNode()) << name;
  return doc;
}

struct RunResult {
  int Status = -1;
  std::string Out;
};

// Runs a shell command line and returns its exit status and standard output.
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

} // namespace search_support
