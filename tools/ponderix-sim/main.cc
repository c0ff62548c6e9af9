// ponderix-sim: runs one density run of the add-in against a simulated host.
//
// It loads a scene (or the bundled example), connects the add-in, chooses the
// "Ponderix" command through the installed menu, plays the user's actions
// from a script, standard input or a person at the terminal, disconnects, and
// prints what happened. Exit status: 0 when the run ended (refused, cancelled
// or completed), 1 when a host call failed, 2 for bad usage or bad input.
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "example_scene.h"
#include "sim/session.h"
#include "sim/sim_json.h"

namespace {

using ponderix::sim::Action;
using ponderix::sim::FormSnapshot;
using ponderix::sim::ScriptError;

constexpr int kRunEnded = 0;
constexpr int kRunFailed = 1;
constexpr int kBadInput = 2;

bool ReadFile(const std::string& path, std::string& text) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  // One read of the file's size: a scene may run to hundreds of megabytes.
  const auto size = std::filesystem::file_size(path, error);
  if (error) return false;
  text.resize(size);
  in.read(text.data(), static_cast<std::streamsize>(size));
  text.resize(static_cast<size_t>(in.gcount()));
  return !in.bad();
}

// A person at the terminal: the shown form is printed before every prompt.
class TerminalSource : public ponderix::sim::ActionSource {
 public:
  std::optional<Action> Next(const FormSnapshot& shown) override {
    std::cout << "\n" << ponderix::sim::DescribeForm(shown);
    for (;;) {
      std::cout << "action (help for the list)> " << std::flush;
      std::string line;
      if (!std::getline(std::cin, line)) return std::nullopt;
      ++lineNumber_;
      if (line == "help" || line == "?") {
        std::cout << "click CONTROL | tick ROW | untick ROW | pick CONTROL INDEX-or-TEXT | focus CONTROL\n"
                     "type TEXT | key Tab|Enter|Esc | close | snapshot\n";
        continue;
      }
      try {
        if (auto action = ponderix::sim::ParseAction(line, lineNumber_)) return action;
      } catch (const ScriptError& e) {
        std::cout << e.what() << "\n";
      }
    }
  }
  void Rejected(const ScriptError& error) override { std::cout << error.what() << "\n"; }

 private:
  int lineNumber_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
#ifdef __GLIBC__
  // A large scene allocates and frees hundreds of megabytes in steps: keep
  // freed memory for the next step rather than hand it back and fault it in
  // again, which costs as much as the work itself on a virtual machine.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  mallopt(M_TOP_PAD, 64 << 20);
#endif
  CLI::App app{"Runs one density run of the PonderixKorvanis add-in against a simulated host."};
  std::string scenePath;
  std::string scriptPath;
  std::string resultPath;
  app.add_option("--scene", scenePath, "Scene file (JSON); the bundled example when absent");
  app.add_option("--script", scriptPath, "User actions, one a line; standard input when absent");
  app.add_option("--result", resultPath, "Write the result as JSON to this file, or - for standard output");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : kBadInput;
  }

  std::string sceneText = ponderix::sim::kExampleScene;
  const std::string sceneName = scenePath.empty() ? "bundled example scene" : scenePath;
  if (!scenePath.empty() && !ReadFile(scenePath, sceneText)) {
    std::cerr << "ponderix-sim: cannot read the scene " << scenePath << "\n";
    return kBadInput;
  }
  ponderix::sim::Scene scene;
  try {
    scene = ponderix::sim::ParseScene(sceneText, sceneName);
  } catch (const ponderix::sim::InputError& e) {
    std::cerr << "ponderix-sim: " << e.what() << "\n";
    return kBadInput;
  }
  std::string().swap(sceneText);  // may be hundreds of megabytes, and is read

  // Actions: a script file, piped standard input, or a person at the terminal.
  std::string scriptName = scriptPath;
  std::unique_ptr<ponderix::sim::ActionSource> actions;
  const bool interactive = scriptPath.empty() && isatty(STDIN_FILENO) != 0;
  try {
    if (interactive) {
      actions = std::make_unique<TerminalSource>();
    } else {
      std::string scriptText;
      if (scriptPath.empty()) {
        scriptName = "standard input";
        std::ostringstream all;
        all << std::cin.rdbuf();
        scriptText = all.str();
      } else if (!ReadFile(scriptPath, scriptText)) {
        std::cerr << "ponderix-sim: cannot read the script " << scriptPath << "\n";
        return kBadInput;
      }
      actions =
          std::make_unique<ponderix::sim::ScriptSource>(ponderix::sim::ScriptSource::FromText(scriptText));
    }
  } catch (const ScriptError& e) {
    std::cerr << "ponderix-sim: " << e.Where(scriptName) << "\n";
    return kBadInput;
  }

  ponderix::sim::SessionResult result;
  try {
    result = ponderix::sim::RunSession(scene, *actions);
  } catch (const ScriptError& e) {
    std::cerr << "ponderix-sim: " << e.Where(interactive ? "terminal" : scriptName) << "\n";
    return kBadInput;
  } catch (const std::exception& e) {
    std::cerr << "ponderix-sim: " << sceneName << ": " << e.what() << "\n";
    return kBadInput;
  }

  std::ostream& summary = resultPath == "-" ? std::cerr : std::cout;
  summary << ponderix::sim::Summarize(scene, result);
  if (!resultPath.empty()) {
    // Written as it is made: the result of a large scene is too large to hold twice.
    if (resultPath == "-") {
      ponderix::sim::WriteResultJson(std::cout, result);
    } else {
      std::ofstream out(resultPath, std::ios::binary);
      ponderix::sim::WriteResultJson(out, result);
      if (!out) {
        std::cerr << "ponderix-sim: cannot write the result " << resultPath << "\n";
        return kBadInput;
      }
    }
  }
  return result.failure ? kRunFailed : kRunEnded;
}
