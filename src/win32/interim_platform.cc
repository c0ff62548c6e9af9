// Stand-ins for the late-bound host adapter and the native dialog toolkit,
// which are not built yet. Each fails loudly at the first call, so a run or a
// connect reports the gap instead of doing something half-way. Replaced by
// host_adapter.cc and win32_toolkit.cc.
#include <memory>
#include <stdexcept>

#include "win32/platform.h"

namespace ponderix::win32 {

namespace {

constexpr char kNotYet[] = "not available in this build of the add-in yet";

class PendingHostConnector final : public HostConnector {
 public:
  Ref<Application> GetApplication(std::string_view /*progId*/) override {
    throw HostError("GetApplication", std::string("the host adapter is ") + kNotYet);
  }
};

class PendingToolkit final : public Toolkit {
 public:
  std::unique_ptr<Form> LoadForm(const FormLayout& layout, FormEvents& /*events*/) override {
    throw std::logic_error("dialog " + layout.name + " is " + kNotYet);
  }
  void ShowMessageBox(const std::string& /*text*/) override {
    throw std::logic_error(std::string("the message box is ") + kNotYet);
  }
  double Seconds() override { throw std::logic_error(std::string("the toolkit clock is ") + kNotYet); }
  void ProcessPendingEvents() override {
    throw std::logic_error(std::string("the toolkit event pump is ") + kNotYet);
  }
  std::string DecimalSeparator() override {
    throw std::logic_error(std::string("the locale's decimal separator is ") + kNotYet);
  }
};

}  // namespace

std::unique_ptr<HostConnector> MakeHostConnector() { return std::make_unique<PendingHostConnector>(); }

Ref<Application> WrapHostApplication(Microsoft::WRL::ComPtr<IDispatch> application) {
  if (!application) return nullptr;
  throw HostError("ConnectToSW", std::string("the host adapter is ") + kNotYet);
}

std::unique_ptr<Toolkit> MakeToolkit() { return std::make_unique<PendingToolkit>(); }

}  // namespace ponderix::win32
