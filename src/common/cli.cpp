#include "common/cli.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace common {

namespace {

const TCliOption *FindOption(const TCliTool &tool, const char *arg) {
  for (const TCliOption &option : tool.Options)
    if (option.Name == arg)
      return &option;
  return nullptr;
}

// An argument that names an option: "-" alone stands for a file, as it does elsewhere.
bool LooksLikeOption(const char *arg) { return arg[0] == '-' && arg[1] != '\0'; }

std::string Label(const TCliOption &option) {
  return option.Value.empty() ? option.Name : option.Name + " " + option.Value;
}

// The usage line, the summary and one line per option.
std::string HelpText(const TCliTool &tool) {
  std::vector<TCliOption> options = tool.Options;
  options.push_back({"--help", "", "print this help and exit"});
  options.push_back({"--version", "", "print the version and exit"});
  std::size_t width = 0;
  for (const TCliOption &option : options)
    width = std::max(width, Label(option).size());
  std::string text = "usage: " + tool.Name + " " + tool.Synopsis + "\n" + tool.Summary + "\n\noptions:\n";
  for (const TCliOption &option : options) {
    std::string label = Label(option);
    label.resize(width, ' ');
    text += "  " + label + "  " + option.Text + "\n";
  }
  return text;
}

} // namespace

const char *ProjectVersion() { return XE_VERSION; }

std::optional<int> AnswerHelpOrVersion(int argc, const char *const *argv, const TCliTool &tool) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(HelpText(tool).c_str(), stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("%s %s\n", tool.Name.c_str(), ProjectVersion());
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    const TCliOption *option = FindOption(tool, argv[i]);
    if (option != nullptr && !option->Value.empty())
      ++i; // its value, whatever it reads like
  }
  return std::nullopt;
}

std::optional<int> CheckCommandLine(int argc, const char *const *argv, const TCliTool &tool) {
  if (auto status = AnswerHelpOrVersion(argc, argv, tool))
    return status;
  for (int i = 1; i < argc; ++i) {
    if (!LooksLikeOption(argv[i]))
      continue;
    const TCliOption *option = FindOption(tool, argv[i]);
    if (option == nullptr)
      return BadUsage(tool, std::string("unknown option '") + argv[i] + "'");
    if (!option->Value.empty() && ++i >= argc)
      return BadUsage(tool, "option '" + option->Name + "' needs a value (" + option->Value + ")");
  }
  return std::nullopt;
}

int BadUsage(const TCliTool &tool, const std::string &problem) {
  std::fprintf(stderr, "%s: %s (see %s --help)\n", tool.Name.c_str(), problem.c_str(), tool.Name.c_str());
  return 2;
}

} // namespace common
