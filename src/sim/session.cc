#include "sim/session.h"

#include <cmath>
#include <sstream>
#include <stdexcept>

#include "density/number_text.h"
#include "partselect/frm_part_select.h"
#include "run/ponderix1.h"
#include "run/sw_connection.h"

namespace ponderix::sim {

namespace {

constexpr std::uintptr_t kModuleHandle = 0x10000000;
constexpr int32_t kCookie = 1;

std::string Density(double value) {
  // A whole number as the invariant format writes it, without its detour
  // through text: the summary gives two densities for each changed document.
  if (std::trunc(value) == value && std::abs(value) < 1e15)
    return std::to_string(static_cast<int64_t>(value));
  return FormatInvariantNumber(value).substr(value < 0 ? 0 : 1);
}

// Passes the actions on and remembers the form they were last asked for, the
// dialog a run that wrote nothing ended in.
class WatchedSource : public ActionSource {
 public:
  explicit WatchedSource(ActionSource& inner) : inner_(inner) {}
  std::optional<Action> Next(const FormSnapshot& shown) override {
    lastForm = shown.form;
    return inner_.Next(shown);
  }
  void Rejected(const ScriptError& error) override { inner_.Rejected(error); }
  void Unchanged(const std::string& why) override { inner_.Unchanged(why); }

  std::string lastForm;

 private:
  ActionSource& inner_;
};

bool HostSaid(const std::vector<Message>& messages, std::string_view text) {
  for (const Message& m : messages) {
    if (m.kind == Message::Kind::kHost && m.text == text) return true;
  }
  return false;
}

std::string Parts(int64_t count) { return std::to_string(count) + (count == 1 ? " part" : " parts"); }

}  // namespace

int CommandDocType(const SimHost& host) {
  if (const std::optional<std::string>& active = host.scene().active) {
    if (const SimDocument* doc = host.FindDocument(*active); doc && doc->type == kDocTypeAssembly) {
      return kDocTypeAssembly;
    }
  }
  return kDocTypePart;
}

void SetOutcome(SessionResult& result, const std::vector<Message>& messages, const RunFigures& run) {
  auto set = [&](Outcome outcome, std::string line) {
    result.outcome = outcome;
    result.outcomeLine = std::move(line);
  };
  if (result.failure) {
    set(Outcome::kFailed, "Failed: " + *result.failure + "; " +
                              (run.partsToWrite > 0 ? std::to_string(run.partsWritten) + " of " +
                                                          Parts(run.partsToWrite) + " written"
                                                    : std::string("no part written")));
  } else if (HostSaid(messages, kNoActiveDocMessage)) {
    set(Outcome::kRefused, "Refused: " + std::string(kNoActiveDocMessage));
  } else if (HostSaid(messages, kWrongDocTypeMessage)) {
    set(Outcome::kRefused, "Refused: " + std::string(kWrongDocTypeMessage));
  } else if (HostSaid(messages, kNoPartFilesMessage)) {
    set(Outcome::kNoParts, "No part files");
  } else if (run.partsToWrite > 0) {
    set(Outcome::kCompleted,
        "Densities set: " + Parts(run.partsWritten) + " -> " + Density(run.partDensity) + " kg/m^3");
  } else if (HostSaid(messages, kNoPartsSelectedMessage)) {
    set(Outcome::kCancelled, "No parts selected; nothing changed");
  } else if (run.lastForm == "frmPonderix") {
    set(Outcome::kCancelled, "Cancelled in the density dialog; nothing changed");
  } else if (run.partsUnopened) {
    set(Outcome::kNoParts, "None of the ticked parts could be opened; nothing changed");
  } else {
    set(Outcome::kCancelled, "Cancelled in the part selection dialog; nothing changed");
  }
}

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kCompleted:
      return "completed";
    case Outcome::kCancelled:
      return "cancelled";
    case Outcome::kRefused:
      return "refused";
    case Outcome::kNoParts:
      return "no-parts";
    case Outcome::kFailed:
      return "failed";
  }
  return "failed";
}

DocumentsBefore::DocumentsBefore(const Scene& scene) {
  documents_.reserve(scene.documents.size());
  for (const SimDocument& d : scene.documents) documents_.push_back({d.density, d.open, d.visible});
}

void DocumentsBefore::Compare(Scene after, SessionResult& result) const {
  result.active = std::move(after.active);
  result.documents.reserve(after.documents.size());
  for (size_t i = 0; i < after.documents.size(); ++i) {
    SimDocument& d = after.documents[i];
    const Was& was = documents_.at(i);
    result.documents.push_back(
        {std::move(d.path), d.open, d.visible, d.density, d.modified, was.density, was.open, was.visible});
  }
}

SessionResult RunSession(Scene scene, ActionSource& actions,
                         const std::function<void(const Event&, std::string_view)>& onEvent) {
  const DocumentsBefore before(scene);
  std::string decimalSeparator = scene.decimalSeparator;
  SimHost host(std::move(scene));
  if (onEvent) host.Observe(onEvent);
  SimShell shell(host);
  WatchedSource watched(actions);
  HeadlessToolkit toolkit(host, watched, std::move(decimalSeparator));
  SessionResult result;
  {
    Ponderix1 module(Platform{host, toolkit, shell});
    SWConnection connection(module, kModuleHandle);
    // A host call failing while connecting or disconnecting fails the session
    // as a failing call inside the run does.
    try {
      connection.SwAddin_ConnectToSW(host.GetApplication(kHostProgId), kCookie);
      result.menu = host.Menu();
      result.commandDocType = CommandDocType(host);
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
    // Counted while the add-in is still loaded: a reference it keeps past the
    // run is a leak even if unloading it would let go.
    result.heldReferences = host.HeldReferences();
    const RunState& run = module.state;
    SetOutcome(
        result, host.messages(),
        {run.partsToWrite, run.partsWritten, run.partDensity, !run.unopenedParts.empty(), watched.lastForm});
  }
  result.messages = host.messages();
  result.events = host.TakeEvents();
  result.eventTexts = host.TakeEventTexts();
  result.snapshots = toolkit.snapshots();
  before.Compare(host.TakeScene(), result);
  return result;
}

namespace {

// Appended to a string rather than a stream: a large run lists two lines for
// each of hundreds of thousands of documents.
void PrintDocument(std::string& out, const DocumentState& d) {
  out += "  ";
  AppendPrintable(out, d.path);
  out += "\n    density ";
  out += Density(d.densityBefore);
  out += " -> ";
  out += Density(d.density);
  out += " kg/m^3";
  out += d.modified ? " (modified)" : "";
  out += "; ";
  out += d.open ? "open" : "not open";
  out += ", ";
  out += d.visible ? "visible" : "hidden";
  out += d.openBefore != d.open ? " (opened by the run)" : "";
  out += "\n";
}

void PrintMenu(std::ostream& out, const std::vector<MenuEntry>& menu) {
  for (const MenuEntry& e : menu) {
    out << "  type " << e.docType << " \"" << Printable(e.path) << "\""
        << (e.callback ? " -> " + *e.callback : "") << "\n";
  }
}

}  // namespace

void Summarize(std::ostream& to, const SessionResult& result, bool verbose) {
  // The documents go into a text handed on a megabyte at a time: a large
  // run lists hundreds of megabytes. The rest goes through a stream.
  std::string text = Printable(result.outcomeLine) + "\n";
  const auto print = [&](const DocumentState& d) {
    PrintDocument(text, d);
    if (text.size() >= (size_t{1} << 20)) {
      to << text;
      text.clear();
    }
  };
  std::vector<const DocumentState*> changed;
  for (const DocumentState& d : result.documents) {
    const bool sameDensity =
        d.density == d.densityBefore || (std::isnan(d.density) && std::isnan(d.densityBefore));
    if (d.modified || !sameDensity || d.open != d.openBefore || d.visible != d.visibleBefore)
      changed.push_back(&d);
  }
  const size_t unchanged = result.documents.size() - changed.size();
  std::ostringstream out;
  if (verbose) {
    text += "Documents:\n";
    for (const DocumentState& d : result.documents) print(d);
  } else {
    if (!changed.empty()) text += "Changed:\n";
    for (const DocumentState* d : changed) print(*d);
    if (unchanged > 0) {
      out << (unchanged == 1 ? "1 document" : std::to_string(unchanged) + " documents")
          << (changed.empty() ? "" : " more") << " unchanged (--verbose lists "
          << (unchanged == 1 ? "it" : "them") << ")\n";
    }
  }
  out << "Messages:\n";
  if (result.messages.empty()) out << "  (none)\n";
  for (const Message& m : result.messages) {
    out << "  " << (m.kind == Message::Kind::kHost ? "host" : "box ") << ": \"" << Printable(m.text)
        << "\"\n";
  }
  out << "Active document: " << Printable(result.active.value_or("(none)")) << "\n";
  // A reference kept is a fault worth seeing even without --verbose.
  if (verbose || result.heldReferences != 0)
    out << "References still held by the add-in: " << result.heldReferences << "\n";
  if (verbose) {
    out << "Command chosen from the menu for document type " << result.commandDocType << ".\n";
    out << "Menu while connected:\n";
    PrintMenu(out, result.menu);
    out << "Menu after disconnect:" << (result.menuAfterDisconnect.empty() ? " (empty)" : "") << "\n";
    PrintMenu(out, result.menuAfterDisconnect);
  }
  to << text << out.str();
}

}  // namespace ponderix::sim
