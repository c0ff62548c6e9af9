// ponderix-sim: runs one density run of the add-in against a simulated host.
//
// It loads a scene (or the bundled example), connects the add-in, chooses the
// "Ponderix" command through the installed menu, plays the user's actions
// from a script, standard input or a person at the terminal, disconnects, and
// prints what happened. The Windows build runs the real add-in DLL instead,
// served the scene's host, on its real dialogs (platform_windows.cc). Exit status: 0 when the run ended
// (refused, cancelled or completed) or the person quit, 1 when a host call failed, 2 for bad usage, bad
// input, or a result that could not be written.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "example_scene.h"
#include "platform.h"
#include "sim/session.h"
#include "sim/sim_json.h"
#include "sim/terminal.h"

namespace {

using ponderix::sim::ScriptError;
using ponderix::simtool::ListWindow;

constexpr int kRunEnded = 0;
constexpr int kRunFailed = 1;
constexpr int kBadInput = 2;

constexpr const char* kHelpFooter = R"(Exit status:
  0  the run ended: refused, cancelled, or the densities were set; or you quit
  1  a host call failed (the result is still written)
  2  bad usage or bad input, or the result could not be written

%ENGINE%

Example:
  ponderix-sim --script examples/typical.script --result result.json

Scenes, scripts and results are described in docs/simulator.md.)";

// A file name or an argument as a message gives it: cut after 80 characters,
// control characters written as \xNN.
std::string Shown(std::string_view text) {
  const std::string quoted = ponderix::sim::QuoteInput(text);
  return quoted.substr(1, quoted.size() - 2);
}

// The argument parser's message, with each long argument it quotes cut short.
std::string ParserMessage(std::string message, const std::vector<std::string>& args) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.empty()) continue;
    const std::string shown = Shown(arg);
    for (size_t at = message.find(arg); at != std::string::npos; at = message.find(arg, at + shown.size())) {
      message.replace(at, arg.size(), shown);
    }
  }
  return ponderix::sim::Printable(message);
}

// "; did you mean --OPTION?" for the first argument the parser left over that
// looks like a mistyped option, or nothing.
std::string OptionNearMiss(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
  }
  for (const std::string& arg : app.remaining()) {
    if (!arg.starts_with("--") || arg.size() < 3) continue;
    if (const std::string* nearest = ponderix::sim::Nearest(arg.substr(0, arg.find('=')), names))
      return "; did you mean " + *nearest + "?";
  }
  return {};
}

// One run of the simulator with the given arguments. In a batch, standard
// input carries the runs, so a run must not read it.
int RunOnce(std::vector<std::string> args, bool inBatch) {
  CLI::App app{"Runs one density run of the PonderixKorvanis add-in against a simulated host.",
               "ponderix-sim"};
  std::string scenePath;
  std::string scriptPath;
  std::string resultPath;
  bool verbose = false;
  bool trace = false;
  app.add_option("--scene", scenePath,
                 "Scene file (JSON), - for standard input; the bundled example when absent")
      ->type_name("FILE");
  app.add_option("--script", scriptPath,
                 "User actions, one a line, - for standard input; standard input when absent")
      ->type_name("FILE");
  app.add_option("--result", resultPath, "Also write the result as JSON to FILE, - for standard output")
      ->type_name("FILE");
  app.add_flag("--verbose", verbose, "List every document, the references held and both menus");
  app.add_flag("--trace", trace, "Print each form and each action of the script as it plays");
  bool batch = false;
  app.add_flag("--batch", batch,
               "Play many runs in one process: each line of standard input a folder and a run's options, "
               "added to the options given here (docs/simulator.md)");
  ponderix::simtool::EngineOptions engine;
  ponderix::simtool::AddEngineOptions(app, engine);
  app.set_version_flag("--version", std::string("ponderix-sim ") + PONDERIX_VERSION);
  std::string footer = kHelpFooter;
  footer.replace(footer.find("%ENGINE%"), 8, ponderix::simtool::kEngineHelp);
  app.footer(footer);
  try {
    std::vector<char*> pointers;
    pointers.reserve(args.size());
    for (std::string& arg : args) pointers.push_back(arg.data());
    app.parse(static_cast<int>(pointers.size()), pointers.data());
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "ponderix-sim: " << ParserMessage(e.what(), args) << OptionNearMiss(app)
              << "\nponderix-sim: --help lists the options\n";
    return kBadInput;
  }
  if (batch) {
    std::cerr << "ponderix-sim: --batch is an option of the batch, not of a run within it\n";
    return kBadInput;
  }
  if (inBatch && (scenePath == "-" || scriptPath.empty() || scriptPath == "-")) {
    std::cerr << "ponderix-sim: in a batch, standard input carries the runs, so give the scene and the "
                 "script as files\n";
    return kBadInput;
  }
  if (scenePath == "-" && (scriptPath.empty() || scriptPath == "-")) {
    std::cerr
        << "ponderix-sim: the scene comes from standard input, so give the actions with --script FILE\n";
    return kBadInput;
  }

  ponderix::simtool::SceneText sceneText(ponderix::sim::kExampleScene);
  const std::string sceneName = scenePath.empty()  ? "bundled example scene"
                                : scenePath == "-" ? "standard input"
                                                   : Shown(scenePath);
  if (!scenePath.empty()) {
    if (const std::string reason = sceneText.Load(scenePath); !reason.empty()) {
      std::cerr << "ponderix-sim: cannot read the scene " << sceneName << ": " << reason << "\n";
      return kBadInput;
    }
  }
  ponderix::sim::Scene scene;
  try {
    scene = ponderix::sim::ParseScene(sceneText.view(), sceneName, sceneText.padded());
  } catch (const ponderix::sim::InputError& e) {
    std::cerr << "ponderix-sim: " << e.what() << "\n";
    return kBadInput;
  }
  sceneText.Release();  // may be hundreds of megabytes, and is read

  // Opened before the run, so that a result that cannot be written costs no run.
  std::ofstream resultFile;
  if (!resultPath.empty() && resultPath != "-") {
    ponderix::simtool::OpenForWriting(resultFile, resultPath);
    if (!resultFile) {
      const int error = errno;
      std::cerr << "ponderix-sim: cannot write the result " << Shown(resultPath) << ": "
                << std::strerror(error) << "\n";
      return kBadInput;
    }
  }

  // Actions: a script file, piped standard input, or a person at the terminal.
  std::string scriptName = Shown(scriptPath);
  std::unique_ptr<ponderix::sim::ScriptSource> script;
  std::unique_ptr<ponderix::sim::ActionSource> actions;
  std::unique_ptr<ponderix::sim::LineReader> lines;
  ponderix::sim::TerminalSource* terminal = nullptr;
  const bool interactive = scriptPath.empty() && ponderix::simtool::InputIsTerminal();
  const bool atScreen = interactive && ponderix::simtool::ShowsRealDialogs();
  try {
    if (atScreen) {
      std::cerr << "ponderix-sim: the add-in's dialogs are on the screen for " << sceneName
                << "; the summary follows when the run ends.\n";
    } else if (interactive) {
      lines = ponderix::simtool::TerminalLines();
      auto source = std::make_unique<ponderix::sim::TerminalSource>(*lines, std::cerr, ListWindow());
      terminal = source.get();
      actions = std::move(source);
      std::cerr << "ponderix-sim: interactive session on " << sceneName
                << ". Type help for the actions, quit to leave.\n";
    } else {
      std::string scriptText;
      if (scriptPath.empty() || scriptPath == "-") scriptName = "standard input";
      if (const std::string reason =
              ponderix::simtool::ReadFile(scriptPath.empty() ? "-" : scriptPath, scriptText);
          !reason.empty()) {
        std::cerr << "ponderix-sim: cannot read the script " << scriptName << ": " << reason << "\n";
        return kBadInput;
      }
      script =
          std::make_unique<ponderix::sim::ScriptSource>(ponderix::sim::ScriptSource::FromText(scriptText));
      if (trace) {
        actions = std::make_unique<ponderix::sim::TraceSource>(*script, std::cerr, ListWindow());
      }
    }
  } catch (const ScriptError& e) {
    std::cerr << "ponderix-sim: " << e.Where(scriptName) << "\n";
    return kBadInput;
  }

  ponderix::sim::SessionResult result;
  try {
    std::function<void(const ponderix::sim::Event&, std::string_view)> onEvent;
    if (terminal || trace || atScreen) {
      onEvent = [](const ponderix::sim::Event& e, std::string_view subject) {
        ponderix::sim::PrintEvent(std::cerr, e, subject);
      };
    }
    ponderix::sim::ActionSource* source = actions ? actions.get() : script.get();
    result = ponderix::simtool::RunEngine(std::move(scene), source, onEvent, engine);
  } catch (const ScriptError& e) {
    if (terminal && terminal->quit()) {
      std::cerr << "ponderix-sim: left before the run ended; no density was written\n";
      return kRunEnded;
    }
    std::cerr << "ponderix-sim: " << e.Where(interactive ? "terminal" : scriptName) << "\n";
    return kBadInput;
  } catch (const ponderix::simtool::EngineError& e) {
    std::cerr << "ponderix-sim: " << ponderix::sim::Printable(e.what()) << "\n";
    return kBadInput;
  } catch (const std::exception& e) {
    std::cerr << "ponderix-sim: " << sceneName << ": " << e.what() << "\n";
    return kBadInput;
  }

  std::ostream& summary = resultPath == "-" ? std::cerr : std::cout;
  if (terminal || trace) std::cerr << "\n";
  ponderix::sim::Summarize(summary, result, verbose);
  if (!resultPath.empty()) {
    // Written as it is made: the result of a large scene is too large to hold twice.
    std::ostream& out = resultPath == "-" ? std::cout : resultFile;
    ponderix::sim::WriteResultJson(out, result);
    if (!out.flush()) {
      const int error = errno;
      std::cerr << "ponderix-sim: cannot write the result "
                << (resultPath == "-" ? std::string("to standard output") : Shown(resultPath)) << ": "
                << std::strerror(error) << "\n";
      return kBadInput;
    }
  }
  if (!std::cout.flush()) {
    const int error = errno;
    std::cerr << "ponderix-sim: cannot write the summary to standard output: " << std::strerror(error)
              << "\n";
    return kBadInput;
  }
  if (result.failure) {
    std::cerr << "ponderix-sim: run failed: " << *result.failure << "\n";
    return kRunFailed;
  }
  return kRunEnded;
}

// Standard output and error redirected into strings while a batch run plays.
class Captured {
 public:
  Captured() : out_(std::cout.rdbuf(&outText_)), err_(std::cerr.rdbuf(&errText_)) {}
  ~Captured() { Restore(); }
  Captured(const Captured&) = delete;
  Captured& operator=(const Captured&) = delete;
  void Restore() {
    if (!out_) return;
    std::cout.flush();
    std::cerr.flush();
    std::cout.rdbuf(out_);
    std::cerr.rdbuf(err_);
    std::cout.clear();
    std::cerr.clear();
    out_ = err_ = nullptr;
  }
  std::string out() const { return outText_.str(); }
  std::string err() const { return errText_.str(); }

 private:
  std::stringbuf outText_;
  std::stringbuf errText_;
  std::streambuf* out_;
  std::streambuf* err_;
};

// Plays runs until standard input ends. Each line is a folder and the run's
// arguments, separated by tabs; the run plays in that folder (relative to
// this process's own), with `common` before its arguments, and its exit
// status, standard output and standard error follow on standard output as
//   "ponderix-sim batch: exit N, NOUT NERR\n" OUT ERR
// with NOUT and NERR the byte counts of OUT and ERR. Each run has its own host
// and its own add-in object, as it would in a process of its own.
int PlayBatch(const std::vector<std::string>& common) {
  const std::string home = ponderix::simtool::CurrentDirectory();
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::vector<std::string> fields;
    for (size_t start = 0;;) {
      const size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    int status = kBadInput;
    std::string out;
    std::string err;
    {
      Captured captured;
      if (const std::string reason = ponderix::simtool::ChangeDirectory(fields[0]); !reason.empty()) {
        std::cerr << "ponderix-sim: cannot play in the folder " << Shown(fields[0]) << ": " << reason << "\n";
      } else {
        std::vector<std::string> args = common;
        args.insert(args.end(), std::make_move_iterator(fields.begin() + 1),
                    std::make_move_iterator(fields.end()));
        try {
          status = RunOnce(std::move(args), true);
        } catch (const std::exception& e) {
          std::cerr << "ponderix-sim: " << ponderix::sim::Printable(e.what()) << "\n";
        }
      }
      captured.Restore();
      out = captured.out();
      err = captured.err();
    }
    if (const std::string reason = ponderix::simtool::ChangeDirectory(home); !reason.empty()) {
      std::cerr << "ponderix-sim: cannot return to " << Shown(home) << ": " << reason << "\n";
      return kBadInput;
    }
    std::cout << "ponderix-sim batch: exit " << status << ", " << out.size() << " " << err.size() << "\n"
              << out << err;
    if (!std::cout.flush()) return kBadInput;
  }
  return kRunEnded;
}

}  // namespace

int main(int argc, char** argv) {
  ponderix::simtool::PrepareProcess();
  std::vector<std::string> args = ponderix::simtool::Arguments(argc, argv);
  // The options given with --batch hold for every run of the batch.
  if (args.size() > 1) {
    if (const auto batch = std::find(args.begin() + 1, args.end(), "--batch"); batch != args.end()) {
      args.erase(batch);
      return PlayBatch(args);
    }
  }
  return RunOnce(std::move(args), false);
}
