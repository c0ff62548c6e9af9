// The Windows engine of ponderix-sim: one session of the real add-in DLL,
// served the scene's host as automation objects and its real dialogs driven by
// the same actions the simulator plays, collected into the simulator's result.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include "sim/headless_toolkit.h"
#include "sim/session.h"
#include "sim/sim_host.h"

namespace ponderix::winsim {

// The session could not be run: the DLL could not be loaded or created, the
// dialogs stopped answering, or the add-in did something no host expects.
class EngineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Runs one session of the add-in: `dllPath` is loaded and its class object
// taken through DllGetClassObject, or, when empty, the registered class is
// created by its ProgID as the host creates it. The add-in is connected to
// the scene's application, its command chosen through IDispatch by its
// callback name, and disconnected. Each shown form asks `actions` for the
// next action and the UI driver carries it out on the real dialog; a message
// box is acknowledged with OK. Without actions the dialogs are left to the
// person at the screen. Throws sim::ScriptError when an action cannot be
// carried out or the actions end while a form is shown, EngineError when the
// session cannot be run.
sim::SessionResult RunDllSession(sim::Scene scene, sim::ActionSource* actions,
                                 const std::function<void(const sim::Event&, std::string_view)>& onEvent,
                                 const std::wstring& dllPath);

}  // namespace ponderix::winsim
