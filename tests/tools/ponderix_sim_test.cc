// Runs the built ponderix-sim as a process, for what the scenario corpus
// (tests/scenarios) does not reach: options, standard input, the summary's
// forms and the exit status of bad usage.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class PonderixSim : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "ponderix-sim-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    dir_ = name;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return (dir_ / name).string();
  }

  // Runs the simulator with `args`; standard input is empty unless given,
  // standard output goes to `out` unless given.
  Outcome Run(const std::vector<std::string>& args, const std::string& input = "", std::string out = "") {
    // Appended piece by piece: GCC 12 at -O2 warns falsely (-Wrestrict) on "x" + std::string.
    std::string command = Quote(PONDERIX_SIM);
    for (const std::string& a : args) command.append(" ").append(Quote(a));
    if (out.empty()) out = (dir_ / "out.txt").string();
    command.append(" <").append(Quote(Write("stdin.txt", input)));
    command.append(" >").append(Quote(out));
    command.append(" 2>").append(Quote((dir_ / "err.txt").string()));
    const int raw = std::system(command.c_str());
    Outcome o;
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    o.out = Read(dir_ / "out.txt");
    o.err = Read(dir_ / "err.txt");
    return o;
  }

  fs::path dir_;
};

// The result goes to standard output with "--result -", the run's log to errors.
TEST_F(PonderixSim, BundledExampleSummaryTraceAndVerbose) {
  const Outcome o = Run({"--script", PONDERIX_EXAMPLES "/typical.script", "--result", "-"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(o.err, StartsWith("Densities set: 2 parts -> 7871 kg/m^3\nChanged:\n"));
  EXPECT_THAT(o.err, Not(HasSubstr("housing")));
  EXPECT_EQ(nlohmann::json::parse(o.out).at("outcome"), "completed");

  const Outcome verbose = Run({"--script", PONDERIX_EXAMPLES "/typical.script", "--verbose", "--trace"});
  EXPECT_THAT(verbose.err, HasSubstr("== Ponderix by Korvanis (frmPonderix), focus on txtDensVal\n"));
  EXPECT_THAT(verbose.err, HasSubstr("> pick cboComMats steel\n\n== Ponderix"));
  EXPECT_THAT(verbose.err,
              HasSubstr("> click btnOK\n\n** message box: \"Part density set to  7.871 g/cm^3\""));
  EXPECT_THAT(verbose.out, HasSubstr("housing.sldprt\n    density 2700 -> 2700 kg/m^3; open, hidden\n"));
  EXPECT_THAT(verbose.out, HasSubstr("References still held by the add-in: 0\n"));
  EXPECT_THAT(verbose.out, HasSubstr("Menu after disconnect: (empty)\n"));
}

// The scene or the script from standard input (a byte-order mark skipped).
TEST_F(PonderixSim, StandardInput) {
  Outcome o = Run({"--scene", "-", "--script", "/dev/null"}, R"({"documents": [{"path": "C:\\a.sldprt"}]})");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(o.out, StartsWith("Refused: No active part in SolidWorks.  Program terminating.\n"));
  o = Run({"--script", "-"}, "\xEF\xBB\xBF click cmdCancel\n");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(o.out, StartsWith("Cancelled in the part selection dialog; nothing changed\n"));
}

// Bad usage and bad input exit with 2 and say what; none of them crashes.
// (Bad scenes and scripts are in the scenario corpus.)
TEST_F(PonderixSim, BadUsageExitsTwo) {
  const std::string script = Write("script.txt", "snapshot\n");  // never played: it would fail
  const std::string ok = Write("ok.txt", "click cmdOK\nclick btnOK\n");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--scene", "no-such.json"}, "cannot read the scene no-such.json: No such file or directory"},
      {{"--scene", "/"}, "cannot read the scene /: Is a directory"},
      {{"--sceen", "x"}, "--sceen; did you mean --scene?\n"},
      {{"--verbos"}, "not expected: --verbos; did you mean --verbose?\n"},
      {{"--Result=r.json"}, "--Result=r.json; did you mean --result?\n"},
      {{"--scene", std::string(200, 'a')},
       "cannot read the scene " + std::string(80, 'a') + "...: No such file or directory"},
      {{"--" + std::string(200, 'b')}, std::string(78, 'b') + "...\n"},
      {{"--scene", "-"}, "give the actions with --script FILE"},
      // Opened before the run, so a result that cannot be written costs no run.
      {{"--script", script, "--result", "/no/such/dir/r.json"},
       "cannot write the result /no/such/dir/r.json: No such file or directory"},
      {{"--script", ok, "--result", "/dev/full"},
       "cannot write the result /dev/full: No space left on device"},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(message);
    const Outcome o = Run(args);
    EXPECT_EQ(o.status, 2) << o.err;
    EXPECT_THAT(o.err, StartsWith("ponderix-sim: "));
    EXPECT_THAT(o.err, HasSubstr(message));
  }
  const Outcome full = Run({"--result", "-", "--script", ok}, "", "/dev/full");
  EXPECT_EQ(full.status, 2);
  EXPECT_THAT(full.err, HasSubstr("ponderix-sim: cannot write the result to standard output: No space left"));
}

TEST_F(PonderixSim, HelpAndVersion) {
  const Outcome help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* part : {"Usage: ponderix-sim", "--scene FILE", "Exit status:", "interactive",
                           "ponderix-sim --script examples/typical.script", "docs/simulator.md"}) {
    EXPECT_THAT(help.out, HasSubstr(part));
  }
  const Outcome version = Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_THAT(version.out, StartsWith("ponderix-sim " PONDERIX_VERSION "\n"));
}

}  // namespace
