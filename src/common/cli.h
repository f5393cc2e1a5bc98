#pragma once

// The command-line conventions every program of the project shares: --help prints the usage and
// exits 0, --version prints the version and exits 0, and bad usage prints a one-line hint on
// stderr and exits 2.

#include <optional>
#include <string>
#include <vector>

namespace common {

struct TCliOption {
  std::string Name;  // "--password"
  std::string Value; // the name of its value ("PW"), empty for a flag
  std::string Text;  // what it does, for --help
};

struct TCliTool {
  std::string Name;     // the program's name
  std::string Synopsis; // what follows the name in the usage line
  std::string Summary;  // one sentence for --help
  std::vector<TCliOption> Options;
};

// The project's version, as the build gives it.
const char *ProjectVersion();

// Answers --help and --version anywhere among the arguments (a value that follows an option which
// takes one is never read as either). Returns the exit status when the program is to end here.
std::optional<int> AnswerHelpOrVersion(int argc, const char *const *argv, const TCliTool &tool);

// AnswerHelpOrVersion, then refuses an unknown option or an option whose value is missing with
// BadUsage. Returns the exit status when the program is to end here; arguments that pass are left
// for the program's own parser, which still checks the count of the others.
std::optional<int> CheckCommandLine(int argc, const char *const *argv, const TCliTool &tool);

// Prints "NAME: PROBLEM (see NAME --help)" on stderr and returns 2, the status of bad usage.
int BadUsage(const TCliTool &tool, const std::string &problem);

} // namespace common
