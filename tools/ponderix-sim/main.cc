// ponderix-sim: runs one density run of the add-in against a simulated host.
//
// It loads a scene (or the bundled example), connects the add-in, chooses the
// "Ponderix" command through the installed menu, plays the user's actions
// from a script, standard input or a person at the terminal, disconnects, and
// prints what happened. Exit status: 0 when the run ended (refused, cancelled
// or completed) or the person quit, 1 when a host call failed, 2 for bad usage,
// bad input, or a result that could not be written.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "example_scene.h"
#include "sim/session.h"
#include "sim/sim_json.h"
#include "sim/terminal.h"

namespace {

using ponderix::sim::ScriptError;

constexpr int kRunEnded = 0;
constexpr int kRunFailed = 1;
constexpr int kBadInput = 2;

constexpr const char* kHelpFooter = R"(Exit status:
  0  the run ended: refused, cancelled, or the densities were set; or you quit
  1  a host call failed (the result is still written)
  2  bad usage or bad input, or the result could not be written

Without --script, and with standard input a terminal, the session is
interactive: each dialog is shown and you type the actions (help lists them).

Example:
  ponderix-sim --script examples/typical.script --result result.json

Scenes, scripts and results are described in docs/simulator.md.)";

// Reads what is left of `fd` into `text`. Empty when it was read, else the
// system's reason.
std::string ReadAll(int fd, std::string& text) {
  // One allocation for a regular file: a scene may run to hundreds of megabytes.
  struct stat status {};
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) text.reserve(static_cast<size_t>(status.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      return {};
    } else if (errno != EINTR) {
      return std::strerror(errno);
    }
  }
}

// Reads a whole file, "-" meaning standard input. Empty when it was read,
// else the system's reason.
std::string ReadFile(const std::string& path, std::string& text) {
  const int fd = path == "-" ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  std::string reason = ReadAll(fd, text);
  if (fd != STDIN_FILENO) close(fd);
  return reason;
}

// The scene's text. A regular file is mapped instead of read: a scene may run
// to hundreds of megabytes, which reading copies into fresh memory, and on a
// virtual machine faulting that memory in costs as much as parsing it.
class SceneText {
 public:
  explicit SceneText(std::string text) : text_(std::move(text)) {}
  SceneText(const SceneText&) = delete;
  SceneText& operator=(const SceneText&) = delete;
  ~SceneText() { Release(); }

  // Empty when it was read, else the system's reason.
  std::string Load(const std::string& path) {
    text_.clear();
    if (path == "-") return ReadAll(STDIN_FILENO, text_);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    struct stat status {};
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
      const auto size = static_cast<size_t>(status.st_size);
      void* at = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
      if (at != MAP_FAILED) {
        close(fd);
        map_ = at;
        size_ = size;
        return {};
      }
    }
    std::string reason = ReadAll(fd, text_);
    close(fd);
    return reason;
  }

  std::string_view view() const {
    return map_ ? std::string_view(static_cast<const char*>(map_), size_) : std::string_view(text_);
  }

  // Frees the text once it is parsed.
  void Release() {
    if (map_) munmap(map_, size_);
    map_ = nullptr;
    std::string().swap(text_);
  }

 private:
  std::string text_;
  void* map_ = nullptr;
  size_t size_ = 0;
};

// Rows of a long list shown at the terminal: what the screen holds beside
// the rest of the form and the prompt.
size_t ListWindow() {
  winsize size{};
  const int rows = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_row : 0;
  return rows > 30 ? static_cast<size_t>(rows - 16) : 14;
}

// A file name or an argument as a message gives it: cut after 80 characters,
// control characters written as \xNN.
std::string Shown(std::string_view text) {
  const std::string quoted = ponderix::sim::QuoteInput(text);
  return quoted.substr(1, quoted.size() - 2);
}

// The argument parser's message, with each long argument it quotes cut short.
std::string ParserMessage(std::string message, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.empty()) continue;
    const std::string shown = Shown(arg);
    for (size_t at = message.find(arg); at != std::string::npos; at = message.find(arg, at + shown.size())) {
      message.replace(at, arg.size(), shown);
    }
  }
  return ponderix::sim::Printable(message);
}

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
  app.set_version_flag("--version", std::string("ponderix-sim ") + PONDERIX_VERSION);
  app.footer(kHelpFooter);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "ponderix-sim: " << ParserMessage(e.what(), argc, argv)
              << "\nponderix-sim: --help lists the options\n";
    return kBadInput;
  }
  if (scenePath == "-" && (scriptPath.empty() || scriptPath == "-")) {
    std::cerr
        << "ponderix-sim: the scene comes from standard input, so give the actions with --script FILE\n";
    return kBadInput;
  }

  SceneText sceneText(ponderix::sim::kExampleScene);
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
    scene = ponderix::sim::ParseScene(sceneText.view(), sceneName);
  } catch (const ponderix::sim::InputError& e) {
    std::cerr << "ponderix-sim: " << e.what() << "\n";
    return kBadInput;
  }
  sceneText.Release();  // may be hundreds of megabytes, and is read

  // Opened before the run, so that a result that cannot be written costs no run.
  std::ofstream resultFile;
  if (!resultPath.empty() && resultPath != "-") {
    resultFile.open(resultPath, std::ios::binary | std::ios::trunc);
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
  ponderix::sim::TerminalSource* terminal = nullptr;
  const bool interactive = scriptPath.empty() && isatty(STDIN_FILENO) != 0;
  try {
    if (interactive) {
      auto source = std::make_unique<ponderix::sim::TerminalSource>(std::cin, std::cerr, ListWindow());
      terminal = source.get();
      actions = std::move(source);
      std::cerr << "ponderix-sim: interactive session on " << sceneName
                << ". Type help for the actions, quit to leave.\n";
    } else {
      std::string scriptText;
      if (scriptPath.empty() || scriptPath == "-") scriptName = "standard input";
      if (const std::string reason = ReadFile(scriptPath.empty() ? "-" : scriptPath, scriptText);
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
    if (terminal || trace) {
      onEvent = [](const ponderix::sim::Event& e, std::string_view subject) {
        ponderix::sim::PrintEvent(std::cerr, e, subject);
      };
    }
    result = ponderix::sim::RunSession(std::move(scene), actions ? *actions : *script, onEvent);
  } catch (const ScriptError& e) {
    if (terminal && terminal->quit()) {
      std::cerr << "ponderix-sim: left before the run ended; no density was written\n";
      return kRunEnded;
    }
    std::cerr << "ponderix-sim: " << e.Where(interactive ? "terminal" : scriptName) << "\n";
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
