#include "sim/session.h"

#include <sstream>
#include <stdexcept>

#include "addin/sw_connection.h"
#include "density/number_text.h"
#include "run/ponderix1.h"

namespace ponderix::sim {

namespace {

constexpr std::uintptr_t kModuleHandle = 0x10000000;
constexpr int32_t kCookie = 1;

// The command is offered in the menu of the active document's type; with no
// assembly active, the part menu stands in for it.
int CommandDocType(const SimHost& host, const Scene& scene) {
  if (scene.active) {
    if (const SimDocument* doc = host.FindDocument(*scene.active); doc && doc->type == kDocTypeAssembly) {
      return kDocTypeAssembly;
    }
  }
  return kDocTypePart;
}

std::string Density(double value) { return FormatInvariantNumber(value).substr(value < 0 ? 0 : 1); }

}  // namespace

SessionResult RunSession(const Scene& scene, ActionSource& actions) {
  SimHost host(scene);
  SimShell shell(host);
  HeadlessToolkit toolkit(host, actions, scene.decimalSeparator);
  SessionResult result;
  {
    Ponderix1 module(Platform{host, toolkit, shell});
    SWConnection connection(module, kModuleHandle);
    // A host call failing while connecting or disconnecting fails the session
    // as a failing call inside the run does.
    try {
      connection.SwAddin_ConnectToSW(host.GetApplication(kHostProgId), kCookie);
      result.menu = host.Menu();
      result.commandDocType = CommandDocType(host, scene);
      const CommandOutcome outcome = host.ChooseCommand(result.commandDocType, kRunCallback);
      if (toolkit.scriptError()) throw *toolkit.scriptError();
      if (!outcome.result.ok) result.failure = outcome.result.error;
      result.formsLoadedAfterRun = toolkit.LoadedForms();
      connection.SwAddin_DisconnectFromSW();
    } catch (const HostError& e) {
      result.failure = e.what();
    } catch (const std::invalid_argument& e) {
      result.failure = e.what();
    }
    result.menuAfterDisconnect = host.Menu();
  }
  result.messages = host.messages();
  result.documents.reserve(host.scene().documents.size());
  for (const SimDocument& d : host.scene().documents) {
    result.documents.push_back({d.path, d.open, d.visible, d.density, d.modified});
  }
  result.active = host.scene().active;
  result.heldReferences = host.HeldReferences();
  result.events = host.TakeEvents();
  result.snapshots = toolkit.snapshots();
  return result;
}

std::string Summarize(const Scene& before, const SessionResult& result) {
  std::ostringstream out;
  out << "Command chosen from the menu for document type " << result.commandDocType << ".\n";
  out << "Messages:\n";
  if (result.messages.empty()) out << "  (none)\n";
  for (const Message& m : result.messages) {
    out << "  " << (m.kind == Message::Kind::kHost ? "host" : "box ") << ": \"" << m.text << "\"\n";
  }
  out << "Documents:\n";
  for (size_t i = 0; i < result.documents.size(); ++i) {
    const DocumentState& after = result.documents[i];
    const SimDocument& was = before.documents[i];
    out << "  " << after.path << "\n    density " << Density(was.density) << " -> " << Density(after.density)
        << " kg/m^3" << (after.modified ? " (modified)" : "") << "; " << (after.open ? "open" : "not open")
        << ", " << (after.visible ? "visible" : "invisible")
        << (was.open != after.open ? " (opened by the run)" : "") << "\n";
  }
  out << "Active document: " << result.active.value_or("(none)") << "\n";
  out << "Run: " << (result.failure ? "failed: " + *result.failure : std::string("ended")) << "\n";
  out << "References still held by the add-in: " << result.heldReferences << "\n";
  out << "Menu while connected:\n";
  for (const MenuEntry& e : result.menu) {
    out << "  type " << e.docType << " \"" << e.path << "\"" << (e.callback ? " -> " + *e.callback : "")
        << "\n";
  }
  out << "Menu after disconnect:" << (result.menuAfterDisconnect.empty() ? " (empty)" : "") << "\n";
  for (const MenuEntry& e : result.menuAfterDisconnect) {
    out << "  type " << e.docType << " \"" << e.path << "\"" << (e.callback ? " -> " + *e.callback : "")
        << "\n";
  }
  return out.str();
}

}  // namespace ponderix::sim
