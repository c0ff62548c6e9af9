// ponderix-sim on Windows: files read with the C runtime, the console, and the
// real add-in DLL, served the scene's host, as the engine.
#include <windows.h>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include <iostream>

#include "platform.h"
#include "win32/text.h"
#include "winsim/engine.h"

namespace ponderix::simtool {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

std::string ReadAll(std::FILE* file, std::string& text) {
  char buffer[65536];
  for (;;) {
    const size_t n = std::fread(buffer, 1, sizeof buffer, file);
    text.append(buffer, n);
    if (n < sizeof buffer) return std::ferror(file) ? std::strerror(errno) : std::string();
  }
}

}  // namespace

// From the wide command line: the narrow one is in the code page, which
// cannot hold every file name.
std::vector<std::string> Arguments(int argc, char** argv) {
  int count = 0;
  const std::unique_ptr<LPWSTR, decltype(&LocalFree)> wide(CommandLineToArgvW(GetCommandLineW(), &count),
                                                           &LocalFree);
  if (!wide) return {argv, argv + argc};
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(win32::Narrow(wide.get()[i]));
  return args;
}

void OpenForWriting(std::ofstream& file, const std::string& path) {
  file.open(std::filesystem::path(win32::Widen(path)), std::ios::binary | std::ios::trunc);
}

std::string ReadFile(const std::string& path, std::string& text) {
  if (path == "-") return ReadAll(stdin, text);
  const std::unique_ptr<std::FILE, FileCloser> file(_wfopen(win32::Widen(path).c_str(), L"rb"));
  if (!file) return std::strerror(errno);
  return ReadAll(file.get(), text);
}

std::string SceneText::Load(const std::string& path) {
  text_.clear();
  return ReadFile(path, text_);
}

void SceneText::Release() { std::string().swap(text_); }

std::string CurrentDirectory() {
  std::wstring path(GetCurrentDirectoryW(0, nullptr), L'\0');
  path.resize(GetCurrentDirectoryW(static_cast<DWORD>(path.size()), path.data()));
  return win32::Narrow(path);
}

std::string ChangeDirectory(const std::string& path) {
  return _wchdir(win32::Widen(path).c_str()) == 0 ? std::string() : std::strerror(errno);
}

void PrepareProcess() {
  // The same bytes as on Linux: no carriage returns added, none taken away.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

bool InputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != FALSE;
}

// Never asked for: the real dialogs are on the screen instead.
std::unique_ptr<sim::LineReader> TerminalLines() {
  return std::make_unique<sim::StreamLines>(std::cin, std::cerr);
}

size_t ListWindow() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  const int rows = GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)
                       ? info.srWindow.Bottom - info.srWindow.Top + 1
                       : 0;
  return rows > 30 ? static_cast<size_t>(rows - 16) : 14;
}

void AddEngineOptions(CLI::App& app, EngineOptions& options) {
  app.add_option("--dll", options.dll,
                 "The add-in DLL to load, unregistered; the registered add-in when absent")
      ->type_name("PATH");
}

const char* const kEngineHelp = R"(The add-in is the real PonderixKorvanis.dll: the registered one, or the one
--dll names. Its dialogs are shown on the screen; with --script they are
driven by the actions, without it (and with standard input a console) they
are left to you, and the summary is printed when the run ends.)";

bool ShowsRealDialogs() { return true; }

sim::SessionResult RunEngine(sim::Scene scene, sim::ActionSource* actions,
                             const std::function<void(const sim::Event&, std::string_view)>& onEvent,
                             const EngineOptions& options) {
  try {
    return winsim::RunDllSession(std::move(scene), actions, onEvent, win32::Widen(options.dll));
  } catch (const winsim::EngineError& e) {
    throw EngineError(e.what());
  }
}

}  // namespace ponderix::simtool
