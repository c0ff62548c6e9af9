// What ponderix-sim needs of its operating system, one file for each: reading
// files, the terminal, and the engine that runs the session (the simulated
// add-in on Linux, the real DLL on Windows).
#pragma once

#include <CLI/CLI.hpp>
#include <cstddef>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sim/headless_toolkit.h"
#include "sim/session.h"
#include "sim/sim_host.h"
#include "sim/terminal.h"

namespace ponderix::simtool {

// The program's arguments in UTF-8, whatever the system's code page.
std::vector<std::string> Arguments(int argc, char** argv);
// Opens `path` (UTF-8) for writing, from scratch.
void OpenForWriting(std::ofstream& file, const std::string& path);

// Reads a whole file, "-" meaning standard input. Empty when it was read,
// else the system's reason.
std::string ReadFile(const std::string& path, std::string& text);

// The scene's text, which may run to hundreds of megabytes: mapped where the
// system allows, else read.
class SceneText {
 public:
  explicit SceneText(std::string text) : text_(std::move(text)) {}
  SceneText(const SceneText&) = delete;
  SceneText& operator=(const SceneText&) = delete;
  ~SceneText() { Release(); }

  // Empty when it was read, else the system's reason.
  std::string Load(const std::string& path);
  std::string_view view() const {
    return map_ ? std::string_view(static_cast<const char*>(map_), size_) : std::string_view(text_);
  }
  // sim::kScenePadding bytes after view() may be read.
  bool padded() const { return map_ != nullptr; }
  // Frees the text once it is parsed.
  void Release();

 private:
  std::string text_;
  void* map_ = nullptr;
  size_t size_ = 0;
  size_t mapped_ = 0;
};

// The working folder (UTF-8), and changing it. ChangeDirectory gives empty
// when it changed, else the system's reason.
std::string CurrentDirectory();
std::string ChangeDirectory(const std::string& path);

// Settles the process's memory and console before the run.
void PrepareProcess();
// Standard input is a terminal (a console) a person types at.
bool InputIsTerminal();
// Rows of a long list shown at the terminal.
size_t ListWindow();
// The lines a person types at the terminal (when InputIsTerminal): with line
// editing and a history of the session where the system offers them.
std::unique_ptr<sim::LineReader> TerminalLines();

// The session could not be run at all (not the scene's fault, nor the script's).
class EngineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The engine's own options.
struct EngineOptions {
  std::string dll;
};
void AddEngineOptions(CLI::App& app, EngineOptions& options);
// What the help says of the engine and of an interactive session.
extern const char* const kEngineHelp;
// True where an interactive session shows the add-in's own dialogs to the
// person at the screen; false where the forms are printed at the terminal.
bool ShowsRealDialogs();

// Runs one session. `actions` null: the person at the screen acts on the
// dialogs (only where ShowsRealDialogs). Throws sim::ScriptError for an action
// that cannot be carried out, EngineError when the session cannot be run.
sim::SessionResult RunEngine(sim::Scene scene, sim::ActionSource* actions,
                             const std::function<void(const sim::Event&, std::string_view)>& onEvent,
                             const EngineOptions& options);

}  // namespace ponderix::simtool
