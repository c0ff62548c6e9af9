// Runs the built ponderix-sim as a separate process on files in a fresh
// folder, and checks its exit status, its messages and its result JSON.
#include <sys/wait.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
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

  nlohmann::json Result() { return nlohmann::json::parse(Read(dir_ / "result.json")); }
  std::string ResultPath() const { return (dir_ / "result.json").string(); }

  fs::path dir_;
};

double DensityOf(const nlohmann::json& result, const std::string& fileName,
                 const std::string& field = "density") {
  for (const auto& d : result.at("documents")) {
    if (d.at("path").get<std::string>().ends_with(fileName)) return d.at(field).get<double>();
  }
  ADD_FAILURE() << "no document " << fileName;
  return 0;
}

// The result goes to standard output with "--result -", the run's log to errors.
TEST_F(PonderixSim, BundledExampleSetsBoltAndWasher) {
  const Outcome o = Run({"--script", PONDERIX_EXAMPLES "/typical.script", "--result", "-"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(o.err, StartsWith("Densities set: 2 parts -> 7871 kg/m^3\nChanged:\n"));
  EXPECT_THAT(o.err, HasSubstr("7800 -> 7871 kg/m^3 (modified); open, hidden (opened by the run)\n"
                               "5 documents more unchanged (--verbose lists them)\n"));
  EXPECT_THAT(o.err, Not(HasSubstr("housing")));
  const nlohmann::json r = nlohmann::json::parse(o.out);
  EXPECT_EQ(r.at("outcome"), "completed");
  EXPECT_EQ(DensityOf(r, "Parts\\bolt.sldprt"), 7871);
  EXPECT_EQ(DensityOf(r, "washer.sldprt"), 7871);
  EXPECT_EQ(DensityOf(r, "housing.sldprt"), 2700);
  EXPECT_EQ(DensityOf(r, "rotor.sldprt"), 7700);
  EXPECT_EQ(DensityOf(r, "washer.sldprt", "densityBefore"), 7800);
  EXPECT_TRUE(r.at("failure").is_null());
  EXPECT_EQ(r.at("heldReferences"), 0);
  EXPECT_EQ(r.at("snapshots").size(), 3u);
  EXPECT_TRUE(r.at("menuAfterDisconnect").empty());

  const Outcome verbose = Run({"--script", PONDERIX_EXAMPLES "/typical.script", "--verbose", "--trace"});
  EXPECT_THAT(verbose.err, HasSubstr("== Ponderix by Korvanis (frmPonderix), focus on txtDensVal\n"));
  EXPECT_THAT(verbose.err, HasSubstr("> pick cboComMats steel\n\n== Ponderix"));
  EXPECT_THAT(verbose.err,
              HasSubstr("> click btnOK\n\n** message box: \"Part density set to  7.871 g/cm^3\""));
  EXPECT_THAT(verbose.out, HasSubstr("housing.sldprt\n    density 2700 -> 2700 kg/m^3; open, hidden\n"));
  EXPECT_THAT(verbose.out, HasSubstr("References still held by the add-in: 0\n"));
  EXPECT_THAT(verbose.out, HasSubstr("Menu after disconnect: (empty)\n"));
}

struct OutcomeRun {
  const char* label;
  std::optional<std::string> scene;  // the bundled example when absent
  std::string script;                // standard input
  std::vector<std::string> args;     // more arguments
  int status;
  std::string outcome;
  std::string firstLine;
};

// The summary opens with what happened, the result JSON names it, and a
// failing host call exits with 1 and says so on standard error.
TEST_F(PonderixSim, OutcomeComesFirst) {
  const std::string part = R"("documents": [{"path": "C:\\a.sldprt"}])";
  const std::string twoParts = R"({"documents": [{"path": "C:\\s.sldasm", "type": 2,
      "dependencies": ["p", "C:\\p.sldprt", "q", "C:\\q.sldprt"]}, {"path": "C:\\p.sldprt"},
      {"path": "C:\\q.sldprt"}], "active": "C:\\s.sldasm", "selection": ["C:\\p.sldprt", "C:\\q.sldprt"],
      "failures": [{"call": "SetUserPreferenceDoubleValue", "path": "C:\\q.sldprt"}]})";
  const OutcomeRun cases[] = {
      {"cancelled in the density dialog",
       std::nullopt,
       "click OK\nclick Cancel\n",
       {},
       0,
       "cancelled",
       "Cancelled in the density dialog; nothing changed"},
      {"cancelled in the part selection",
       std::nullopt,
       "\xEF\xBB\xBF click cmdCancel\n",
       {"--script", "-"},
       0,
       "cancelled",
       "Cancelled in the part selection dialog; nothing changed"},
      {"refused, scene on standard input",
       "{" + part + "}",
       "",
       {"--script", "/dev/null"},
       0,
       "refused",
       "Refused: No active part in SolidWorks.  Program terminating."},
      {"no part files",
       R"({"documents": [{"path": "C:\\e.sldasm", "type": 2, "dependencies": []}], "active": "C:\\e.sldasm"})",
       "",
       {},
       0,
       "no-parts",
       "No part files"},
      {"failed half-way",
       twoParts,
       "click cmdOK\nclick btnOK\n",
       {},
       1,
       "failed",
       "Failed: SetUserPreferenceDoubleValue: simulated failure for C:\\q.sldprt; 1 of 2 parts written"},
  };
  for (const OutcomeRun& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::string> args = {"--result", ResultPath()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const bool sceneOnStdin = !c.args.empty() && c.args[1] == "/dev/null";
    if (c.scene) args.insert(args.end(), {"--scene", sceneOnStdin ? "-" : Write("scene.json", *c.scene)});
    const Outcome o = Run(args, sceneOnStdin ? *c.scene : c.script);
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_THAT(o.out, StartsWith(c.firstLine + "\n"));
    const nlohmann::json r = Result();
    EXPECT_EQ(r.at("outcome"), c.outcome);
    EXPECT_EQ(r.at("heldReferences"), 0);
    if (c.status == 1) {
      EXPECT_EQ(o.err, "ponderix-sim: run failed: " + r.at("failure").get<std::string>() + "\n");
    } else {
      EXPECT_TRUE(r.at("failure").is_null());
    }
  }
}

struct BadRun {
  const char* label;
  std::optional<std::string> scene;  // written to scene.json; the bundled example when absent
  std::string script;
  std::vector<std::string> args;  // more arguments
  std::string message;
};

// Bad usage and bad input exit with 2 and say where; none of them crashes.
TEST_F(PonderixSim, BadInputExitsTwo) {
  const std::string ok = "click cmdOK\nclick btnOK\n";
  const std::string nested = std::string(200000, '[') + std::string(200000, ']');
  const BadRun cases[] = {
      {"bad scene line", "{\n  \"documents\": [\n    {\"path\": 1}\n  ]\n}\n", ok, {}, "scene.json:3: "},
      {"deeply nested", nested, ok, {}, "scene.json:1: "},
      {"invalid UTF-8", "{\"menuName\": \"\xff\xfe\"}", ok, {}, "scene.json:1: "},
      {"missing scene",
       std::nullopt,
       ok,
       {"--scene", "no-such.json"},
       "cannot read the scene no-such.json: No such file or directory"},
      {"a folder as scene", std::nullopt, ok, {"--scene", "/"}, "cannot read the scene /: Is a directory"},
      {"unknown option", std::nullopt, ok, {"--sceen", "x"}, "--sceen"},
      {"long scene name",
       std::nullopt,
       ok,
       {"--scene", std::string(200, 'a')},
       "cannot read the scene " + std::string(80, 'a') + "...: No such file or directory"},
      {"long unknown option",
       std::nullopt,
       ok,
       {"--" + std::string(200, 'b')},
       std::string(78, 'b') + "...\n"},
      {"scene and script both on standard input",
       std::nullopt,
       "",
       {"--scene", "-"},
       "give the actions with --script FILE"},
      // Opened before the run: the script, which fails once run, is never played.
      {"result in no folder",
       std::nullopt,
       "snapshot\n",
       {"--result", "/no/such/dir/r.json"},
       "cannot write the result /no/such/dir/r.json: No such file or directory"},
      {"result to a full disk",
       std::nullopt,
       ok,
       {"--result", "/dev/full"},
       "cannot write the result /dev/full: No space left on device"},
      {"bad script line", std::nullopt, "snapshot\n\nclik x\n", {}, "script.txt:3: unknown action"},
      {"missing control", std::nullopt, "snapshot\nclick x\n", {}, "script.txt:2: frmPartSelect has no"},
      {"script ends, form shown", std::nullopt, "snapshot\n", {}, "script.txt: the actions ended while"},
  };
  for (const BadRun& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::string> args;
    if (!c.script.empty()) args = {"--script", Write("script.txt", c.script)};
    if (c.scene) args.insert(args.end(), {"--scene", Write("scene.json", *c.scene)});
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome o = Run(args);
    EXPECT_EQ(o.status, 2) << o.err;
    EXPECT_THAT(o.err, StartsWith("ponderix-sim: "));
    EXPECT_THAT(o.err, HasSubstr(c.message));
  }
  const Outcome full = Run({"--result", "-", "--script", Write("script.txt", ok)}, "", "/dev/full");
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

TEST_F(PonderixSim, DensitiesRoundTripBitForBit) {
  const double values[] = {0.1 + 0.2, 7849.999999999999, 1e-300, 4.9406564584124654e-324,
                           1.7976931348623157e308};
  nlohmann::json docs = nlohmann::json::array();
  for (size_t i = 0; i < std::size(values); ++i) {
    docs.push_back({{"path", "C:\\d" + std::to_string(i) + ".sldprt"}, {"density", values[i]}});
  }
  const std::string scene = Write("scene.json", nlohmann::json{{"documents", docs}}.dump());
  ASSERT_EQ(Run({"--scene", scene, "--result", ResultPath()}).status, 0);
  const nlohmann::json r = Result();
  for (size_t i = 0; i < std::size(values); ++i) {
    const double got = r.at("documents")[i].at("density").get<double>();
    EXPECT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(values[i])) << values[i];
  }
}

// Text the dialog cannot read keeps the focus and drops OK and the pick: the
// bolt gets what was typed at last, never its old density in its place.
TEST_F(PonderixSim, UnreadableTextIsRefusedUntilRetyped) {
  const Outcome o = Run({"--result", "-"},
                        "click cmdOK\ntype 8,9\nclick btnOK\npick cboComMats steel\nsnapshot\n"
                        "type 8.5\nclick btnOK\n");
  ASSERT_EQ(o.status, 0) << o.err;
  const nlohmann::json r = nlohmann::json::parse(o.out);
  const nlohmann::json& form = r.at("snapshots").at(0);
  EXPECT_EQ(form.at("focus"), "txtDensVal");
  EXPECT_EQ(form.at("controls").at("txtDensVal").at("text"), "8,9");
  EXPECT_EQ(form.at("controls").at("cboComMats").at("index"), 0);
  EXPECT_EQ(DensityOf(r, "Parts\\bolt.sldprt"), 8500);
}

// What a user types is not checked for UTF-8; the result must still be JSON.
TEST_F(PonderixSim, InvalidUtf8TypedIntoATextBoxStillGivesJson) {
  const Outcome o = Run({"--result", ResultPath()},
                        "click cmdOK\nfocus txtDensVal\ntype 7\xff\xfe\nsnapshot\nclick btnCancel\n");
  ASSERT_EQ(o.status, 0) << o.err;
  const nlohmann::json r = Result();
  EXPECT_EQ(r.at("snapshots")[0].at("controls").at("txtDensVal").at("text"), "7\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
