// The shell opener: the default action of the file (for an address, the
// user's browser), no verb, no parameters, ANSI text as the shell's A entry
// point takes it. The outcome is not examined.
#include <windows.h>

#include <shellapi.h>

#include <memory>

#include "win32/platform.h"

namespace ponderix::win32 {

namespace {

class ShellOpener final : public Shell {
 public:
  void Open(const std::string& file, const std::string& directory, int showMode) override {
    ShellExecuteA(nullptr, nullptr, file.c_str(), nullptr, directory.empty() ? nullptr : directory.c_str(),
                  showMode);
  }
};

}  // namespace

std::unique_ptr<Shell> MakeShell() { return std::make_unique<ShellOpener>(); }

}  // namespace ponderix::win32
