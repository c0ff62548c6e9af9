// The Windows platform of a density run, as factories so that each piece
// keeps its classes to itself: the late-bound host connector and application
// wrapper (host_adapter.cc), the native dialog toolkit (win32_toolkit.cc) and
// the shell opener (shell.cc).
#pragma once

#include <windows.h>

#include <oaidl.h>
#include <wrl/client.h>

#include <functional>
#include <memory>

#include "addin/host.h"
#include "addin/toolkit.h"

namespace ponderix::win32 {

// Answers the application `connectedApplication` gives (the host that connected
// the add-in); only when that is null, the running host of the automation
// class (GetActiveObject).
std::unique_ptr<HostConnector> MakeHostConnector(std::function<Ref<Application>()> connectedApplication);
// The host application behind `application`, late bound by member name; null
// for a null pointer. The wrapper holds one reference to it.
Ref<Application> WrapHostApplication(Microsoft::WRL::ComPtr<IDispatch> application);
std::unique_ptr<Toolkit> MakeToolkit();
std::unique_ptr<Shell> MakeShell();

}  // namespace ponderix::win32
