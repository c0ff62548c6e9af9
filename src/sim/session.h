// One simulated session, as the host runs it: connect the add-in, choose the
// "Ponderix" command through the installed menu, disconnect. Everything the
// host and the user saw is collected for the caller to print or check.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "sim/headless_toolkit.h"
#include "sim/sim_host.h"

namespace ponderix::sim {

struct DocumentState {
  std::string path;
  bool open = false;
  bool visible = false;
  double density = 0;
  bool modified = false;
  double densityBefore = 0;
  bool openBefore = false;
  bool visibleBefore = false;
};

// What the run came to, as the result's `outcome` names it.
enum class Outcome { kCompleted, kCancelled, kRefused, kNoParts, kFailed };
const char* OutcomeName(Outcome outcome);

struct SessionResult {
  Outcome outcome = Outcome::kCompleted;
  std::string outcomeLine;  // the summary's first line: what happened, in a few words
  std::vector<Message> messages;
  std::vector<DocumentState> documents;
  std::optional<std::string> active;
  std::optional<std::string> failure;  // the host call's failure text, when the run failed
  int heldReferences = 0;
  // Events name a document by its index in `documents`, a text by its index in `eventTexts`.
  std::vector<Event> events;
  std::vector<std::string> eventTexts;
  std::vector<FormSnapshot> snapshots;
  std::vector<MenuEntry> menu;
  std::vector<MenuEntry> menuAfterDisconnect;
  int commandDocType = 0;  // the document type whose menu the command was chosen from
  int formsLoadedAfterRun = 0;
};

// What a run did, as far as its outcome tells it.
struct RunFigures {
  int64_t partsToWrite = 0;
  int64_t partsWritten = 0;
  double partDensity = 0;      // kg/m^3, what the parts were given
  bool partsUnopened = false;  // some ticked parts could not be opened
  std::string lastForm;        // the dialog the user was last asked in
};

// The documents as a run found them, which the result sets beside how the run
// left them. Taken before the host takes the scene.
class DocumentsBefore {
 public:
  explicit DocumentsBefore(const Scene& scene);
  // The result's documents and active document, from the scene as the run left it.
  void Compare(Scene after, SessionResult& result) const;

 private:
  struct Was {
    double density;
    bool open;
    bool visible;
  };
  std::vector<Was> documents_;
};

// Sorts a session into one of the outcomes and says it in a line, from its
// failure, the host's messages and the run's figures.
void SetOutcome(SessionResult& result, const std::vector<Message>& messages, const RunFigures& run);

// The command is offered in the menu of the active document's type; with no
// assembly active, the part menu stands in for it.
int CommandDocType(const SimHost& host);

// Runs one session on `scene`. Throws ScriptError when an action
// cannot be carried out or the actions end while a form is shown.
// `onEvent`, when given, sees every host event as it happens.
SessionResult RunSession(Scene scene, ActionSource& actions,
                         const std::function<void(const Event&, std::string_view)>& onEvent = {});

// Writes the readable summary ponderix-sim prints: the outcome, the documents
// the session changed, the messages. `verbose` adds every document, the
// references held and both menus.
void Summarize(std::ostream& out, const SessionResult& result, bool verbose = false);

}  // namespace ponderix::sim
