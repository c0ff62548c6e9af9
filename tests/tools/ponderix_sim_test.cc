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

  // Runs the simulator with `args`; standard input is empty unless given.
  Outcome Run(const std::vector<std::string>& args, const std::string& input = "") {
    std::string command = Quote(PONDERIX_SIM);
    for (const std::string& a : args) command += " " + Quote(a);
    command += " <" + Quote(Write("stdin.txt", input)) + " >" + Quote((dir_ / "out.txt").string()) + " 2>" +
               Quote((dir_ / "err.txt").string());
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

double DensityOf(const nlohmann::json& result, const std::string& fileName) {
  for (const auto& d : result.at("documents")) {
    if (d.at("path").get<std::string>().ends_with(fileName)) return d.at("density").get<double>();
  }
  ADD_FAILURE() << "no document " << fileName;
  return 0;
}

// The result goes to standard output with "--result -", the run's log to errors.
TEST_F(PonderixSim, BundledExampleSetsBoltAndWasher) {
  const Outcome o = Run({"--script", PONDERIX_EXAMPLES "/typical.script", "--result", "-"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(o.err, HasSubstr("Run: ended"));
  const nlohmann::json r = nlohmann::json::parse(o.out);
  EXPECT_EQ(DensityOf(r, "Parts\\bolt.sldprt"), 7871);
  EXPECT_EQ(DensityOf(r, "washer.sldprt"), 7871);
  EXPECT_EQ(DensityOf(r, "housing.sldprt"), 2700);
  EXPECT_EQ(DensityOf(r, "rotor.sldprt"), 7700);
  EXPECT_TRUE(r.at("failure").is_null());
  EXPECT_EQ(r.at("heldReferences"), 0);
  EXPECT_EQ(r.at("snapshots").size(), 3u);
  EXPECT_TRUE(r.at("menuAfterDisconnect").empty());
}

// A failing host call exits with 1; a refused run is no failure.
TEST_F(PonderixSim, HostFailureExitsOneAndRefusalZero) {
  const std::string part = R"("documents": [{"path": "C:\\a.sldprt"}])";
  const Outcome failed = Run({"--scene", Write("f.json", "{" + part + R"(, "active": "C:\\a.sldprt",
      "failures": [{"call": "SetUserPreferenceDoubleValue"}]})"),
                              "--result", "-"},
                             "click btnOK\n");
  EXPECT_EQ(failed.status, 1) << failed.err;
  const nlohmann::json f = nlohmann::json::parse(failed.out);
  EXPECT_THAT(f.at("failure").get<std::string>(),
              StartsWith("SetUserPreferenceDoubleValue: simulated failure"));
  EXPECT_EQ(f.at("heldReferences"), 0);

  const Outcome refused = Run({"--scene", Write("r.json", "{" + part + "}"), "--result", "-"});
  EXPECT_EQ(refused.status, 0) << refused.err;
  const nlohmann::json r = nlohmann::json::parse(refused.out);
  ASSERT_EQ(r.at("messages").size(), 1u);
  EXPECT_EQ(r.at("messages")[0].at("kind"), "host");
  EXPECT_EQ(r.at("messages")[0].at("text"), "No active part in SolidWorks.  Program terminating.");
  EXPECT_TRUE(r.at("failure").is_null());
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
      {"missing scene", std::nullopt, ok, {"--scene", "no-such.json"}, "cannot read the scene no-such.json"},
      {"a folder as scene", std::nullopt, ok, {"--scene", "/"}, "cannot read the scene /"},
      {"unknown option", std::nullopt, ok, {"--sceen", "x"}, "--sceen"},
      {"bad script line", std::nullopt, "snapshot\n\nclik x\n", {}, "script.txt:3: unknown action"},
      {"missing control", std::nullopt, "snapshot\nclick x\n", {}, "script.txt:2: frmPartSelect has no"},
      {"script ends, form shown", std::nullopt, "snapshot\n", {}, "script.txt: the actions ended while"},
  };
  for (const BadRun& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::string> args = {"--script", Write("script.txt", c.script)};
    if (c.scene) args.insert(args.end(), {"--scene", Write("scene.json", *c.scene)});
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome o = Run(args);
    EXPECT_EQ(o.status, 2) << o.err;
    EXPECT_THAT(o.err, HasSubstr(c.message));
  }
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
