#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct RunResult {
  int Status = -1;
  std::string Out, Err;
};

std::string TakeFile(const std::string &path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  std::remove(path.c_str());
  return text.str();
}

// Runs PROGRAM ARGS (already quoted) with no display, so a program that started its window
// toolkit before answering would fail.
RunResult RunProgram(const std::string &program, const std::string &args) {
  const std::string out = testing::TempDir() + "cli_test." + std::to_string(::getpid());
  const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" + program + "' " +
                              args + " >'" + out + ".out' 2>'" + out + ".err' </dev/null";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, TakeFile(out + ".out"), TakeFile(out + ".err")};
}

struct Program {
  std::string Name, Path;
};

std::vector<Program> Programs() {
  std::vector<Program> programs{{"xlsdump", XE_XLSDUMP},
                                {"xlsimport", XE_XLSIMPORT},
                                {"xsltransform", XE_XSLTRANSFORM},
                                {"xsdvalidate", XE_XSDVALIDATE}};
#ifdef XE_XMLEDITOR
  programs.push_back({"xmleditor", XE_XMLEDITOR});
#endif
  return programs;
}

// Bad usage: status 2, nothing on stdout, one line on stderr that points at --help.
void ExpectBadUsage(const Program &program, const std::string &args, const std::string &mentioned) {
  SCOPED_TRACE(program.Name + " " + args);
  const RunResult run = RunProgram(program.Path, args);
  EXPECT_EQ(run.Status, 2);
  EXPECT_EQ(run.Out, "");
  ASSERT_FALSE(run.Err.empty());
  EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1) << run.Err;
  EXPECT_NE(run.Err.find(mentioned), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find(program.Name + " --help"), std::string::npos) << run.Err;
}

} // namespace

TEST(Cli, EveryProgramAnswersHelpAndVersion) {
  for (const Program &program : Programs()) {
    SCOPED_TRACE(program.Name);
    RunResult run = RunProgram(program.Path, "--help");
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out.rfind("usage: " + program.Name + " ", 0), 0u) << run.Out;
    EXPECT_NE(run.Out.find("--version"), std::string::npos) << run.Out;

    run = RunProgram(program.Path, "--version");
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, program.Name + " " XE_VERSION "\n");
  }
  // Among other arguments, too.
  EXPECT_EQ(RunProgram(XE_XSLTRANSFORM, "a.xml --help").Status, 0);
}

TEST(Cli, UnknownOptionsAreBadUsage) {
  for (const Program &program : Programs())
    if (program.Name != "xmleditor") // the editor leaves other options to Qt
      ExpectBadUsage(program, "--no-such-option", "'--no-such-option'");
  // Before a file, which would otherwise be read as the file's name.
  ExpectBadUsage({"xsdvalidate", XE_XSDVALIDATE}, "-x file.xml", "'-x'");
}

TEST(Cli, MissingArgumentsAreBadUsage) {
  ExpectBadUsage({"xlsdump", XE_XLSDUMP}, "--password", "--password");
  ExpectBadUsage({"xlsdump", XE_XLSDUMP}, "", "xlsdump");
  ExpectBadUsage({"xlsimport", XE_XLSIMPORT}, "--template t.xml --workbook b.xls --into", "--into");
  ExpectBadUsage({"xlsimport", XE_XLSIMPORT}, "--template t.xml --workbook b.xls", "-o");
  ExpectBadUsage({"xsltransform", XE_XSLTRANSFORM}, "only-one.xml", "xsltransform");
  ExpectBadUsage({"xsdvalidate", XE_XSDVALIDATE}, "", "xsdvalidate");
}

TEST(Cli, AnOptionsValueIsNeverReadAsAnOption) {
  // A password that reads like an option is the password: the workbook is then looked for.
  const RunResult run = RunProgram(XE_XLSDUMP, "--password --help no-such-book.xls");
  EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
  EXPECT_EQ(run.Out, "");
  EXPECT_NE(run.Err.find("no-such-book.xls"), std::string::npos) << run.Err;

  EXPECT_EQ(RunProgram(XE_XLSIMPORT, "--template t.xml --workbook b.xls -o --version").Status, 1);
}
