// ponderix-sim on Linux: files mapped or read with POSIX calls, the
// terminal's size and line editor, and the simulated add-in as the engine.
#include <fcntl.h>
#include <histedit.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "platform.h"
#include "sim/sim_json.h"

namespace ponderix::simtool {

namespace {

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

}  // namespace

std::vector<std::string> Arguments(int argc, char** argv) { return {argv, argv + argc}; }

void OpenForWriting(std::ofstream& file, const std::string& path) {
  file.open(path, std::ios::binary | std::ios::trunc);
}

std::string ReadFile(const std::string& path, std::string& text) {
  const int fd = path == "-" ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  std::string reason = ReadAll(fd, text);
  if (fd != STDIN_FILENO) close(fd);
  return reason;
}

// A regular file is mapped instead of read: reading copies it into fresh
// memory, and on a virtual machine faulting that memory in costs as much as
// parsing it. Zeroed pages follow it, which the scene reader may read past
// the end.
std::string SceneText::Load(const std::string& path) {
  text_.clear();
  if (path == "-") return ReadAll(STDIN_FILENO, text_);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  struct stat status {};
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
    const auto size = static_cast<size_t>(status.st_size);
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t mapped = (size + sim::kScenePadding + page - 1) / page * page;
    void* at = mmap(nullptr, mapped, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at != MAP_FAILED && mmap(at, size, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd, 0) == at) {
      close(fd);
      map_ = at;
      size_ = size;
      mapped_ = mapped;
      return {};
    }
    if (at != MAP_FAILED) munmap(at, mapped);
  }
  std::string reason = ReadAll(fd, text_);
  close(fd);
  return reason;
}

void SceneText::Release() {
  if (map_) munmap(map_, mapped_);
  map_ = nullptr;
  std::string().swap(text_);
}

std::string CurrentDirectory() {
  std::string path(4096, '\0');
  while (getcwd(path.data(), path.size()) == nullptr) {
    if (errno != ERANGE) return ".";
    path.resize(path.size() * 2);
  }
  path.resize(std::strlen(path.c_str()));
  return path;
}

std::string ChangeDirectory(const std::string& path) {
  return chdir(path.c_str()) == 0 ? std::string() : std::strerror(errno);
}

void PrepareProcess() {
#ifdef __GLIBC__
  // A large scene allocates and frees hundreds of megabytes in steps: keep
  // freed memory for the next step rather than hand it back and fault it in
  // again, which costs as much as the work itself on a virtual machine.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  mallopt(M_TOP_PAD, 64 << 20);
#endif
}

bool InputIsTerminal() { return isatty(STDIN_FILENO) != 0; }

// What the screen holds beside the rest of the form and the prompt.
size_t ListWindow() {
  winsize size{};
  const int rows = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_row : 0;
  return rows > 30 ? static_cast<size_t>(rows - 16) : 14;
}

namespace {

// libedit (BSD licence): the arrow keys, the usual Emacs bindings and the
// session's earlier actions, with the person's ~/.editrc on top.
class EditedLines final : public sim::LineReader {
 public:
  EditedLines() : editor_(el_init("ponderix-sim", stdin, stderr, stderr)), history_(history_init()) {
    if (!editor_ || !history_) throw std::bad_alloc();
    HistEvent event{};
    history(history_, &event, H_SETSIZE, 1000);
    history(history_, &event, H_SETUNIQUE, 1);
    el_set(editor_, EL_CLIENTDATA, this);
    el_set(editor_, EL_PROMPT, &Prompt);
    el_set(editor_, EL_EDITOR, "emacs");
    el_set(editor_, EL_HIST, history, history_);
    // Ctrl-C and the like leave the terminal as they found it.
    el_set(editor_, EL_SIGNAL, 1);
    el_source(editor_, nullptr);
  }
  EditedLines(const EditedLines&) = delete;
  EditedLines& operator=(const EditedLines&) = delete;
  ~EditedLines() override {
    el_end(editor_);
    history_end(history_);
  }

  bool Read(const std::string& prompt, std::string& line) override {
    prompt_ = prompt;
    std::cerr.flush();
    int count = 0;
    const char* text = el_gets(editor_, &count);
    if (!text || count <= 0) {
      std::cerr << "\n";
      return false;
    }
    line.assign(text, static_cast<size_t>(count));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.find_first_not_of(" \t") != std::string::npos) {
      HistEvent event{};
      history(history_, &event, H_ENTER, line.c_str());
    }
    return true;
  }

 private:
  static char* Prompt(EditLine* editor) {
    void* self = nullptr;
    el_get(editor, EL_CLIENTDATA, &self);
    return static_cast<EditedLines*>(self)->prompt_.data();
  }

  EditLine* editor_;
  History* history_;
  std::string prompt_;
};

}  // namespace

std::unique_ptr<sim::LineReader> TerminalLines() {
  // The editor reads characters in the terminal's encoding, UTF-8 for a
  // file name such as "gehäuse.sldprt", rather than bytes.
  std::setlocale(LC_CTYPE, "");
  return std::make_unique<EditedLines>();
}

void AddEngineOptions(CLI::App& /*app*/, EngineOptions& /*options*/) {}

const char* const kEngineHelp = R"(Without --script, and with standard input a terminal, the session is
interactive: each dialog is shown and you type the actions (help lists them).)";

bool ShowsRealDialogs() { return false; }

sim::SessionResult RunEngine(sim::Scene scene, sim::ActionSource* actions,
                             const std::function<void(const sim::Event&, std::string_view)>& onEvent,
                             const EngineOptions& /*options*/) {
  return sim::RunSession(std::move(scene), *actions, onEvent);
}

}  // namespace ponderix::simtool
