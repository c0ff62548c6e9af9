// The simulated host: a complete in-memory implementation of the host
// contract over a scene of documents, with menus, messages, an ordered log of
// every host-visible side effect, fault injection and a count of the
// references the add-in still holds.
//
// Every reference handed out counts once until its last holder lets go, as a
// COM reference does. The state lives in a shared block, so references that
// outlive the SimHost stay safe to release.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "addin/host.h"
#include "addin/host_operations.h"
#include "addin/toolkit.h"

namespace ponderix::sim {

struct SimDocument {
  std::string path;
  int32_t type = kDocTypePart;
  bool open = true;
  bool visible = true;
  int32_t lengthUnit = 0;
  double density = 1000;
  std::optional<std::vector<std::string>> dependencies;
  bool modified = false;
};

// Makes `call` (one of kContractOperations) fail, for every document or for one path.
struct SimFailure {
  std::string call;
  std::optional<std::string> path;
};

// A menu entry: an item with its callback, or a sub-menu (no callback).
struct MenuEntry {
  int32_t docType = 0;
  std::string path;
  std::optional<std::string> callback;
  std::optional<std::string> enable;
  std::optional<std::string> hint;
  bool operator==(const MenuEntry&) const = default;
};

struct Scene {
  std::vector<SimDocument> documents;
  std::optional<std::string> active;
  // Each selected object: the path of its component's document, or none.
  std::vector<std::optional<std::string>> selection;
  std::string menuName = "Tools";
  std::string decimalSeparator = ".";
  std::vector<SimFailure> failures;
  // Items of other add-ins already installed.
  std::vector<MenuEntry> menu;
};

struct Message {
  enum class Kind { kHost, kBox };
  Kind kind;
  std::string text;
};

// One host-visible side effect, a record of fixed size: a large run logs
// millions. It names its subject by its place: a document's in the scene, a
// message's text or a web address in the host's texts (SimHost::Subject).
struct Event {
  enum class Kind : uint8_t { kMessage, kBox, kOpen, kActivate, kVisible, kDensity, kWebPage };
  Kind kind;
  bool visible = false;
  uint32_t subject = 0;
  double density = 0;
  // Whether the subject is a text (a message, a web address) rather than a document.
  bool AboutText() const { return kind == Kind::kMessage || kind == Kind::kBox || kind == Kind::kWebPage; }
};

std::string_view EventKindName(Event::Kind kind);

// The outcome of choosing a menu command.
struct CommandOutcome {
  bool enabled = false;  // the enable method answered non-zero
  CallbackResult result;
};

struct SimState;

class SimHost : public HostConnector {
 public:
  explicit SimHost(Scene scene);
  ~SimHost() override;
  SimHost(const SimHost&) = delete;
  SimHost& operator=(const SimHost&) = delete;

  // "SldWorks.Application": a counted reference to the application.
  Ref<Application> GetApplication(std::string_view progId) override;

  // Chooses the command `callback` of the menu for `docType` as the host
  // does: by name on the registered callback object, asking its enable
  // method first. Throws std::invalid_argument when no such item is installed.
  CommandOutcome ChooseCommand(int32_t docType, std::string_view callback);

  // Calls `observer` with every event as it is logged and its subject (a
  // document's path, a message's text, a web address), for a person watching.
  void Observe(std::function<void(const Event&, std::string_view subject)> observer);

  // Records what the toolkit and the shell show, in the same ordered log.
  void RecordBox(const std::string& text);
  void RecordWebPage(const std::string& address);

  // The open document `path`, or null for none, handed as the simulated
  // operation `operation` hands a document, its injected failure included:
  // for a stand-in whose host member carries out that operation alone.
  Ref<Document> HandDocument(std::string_view operation, std::optional<std::string_view> path);

  const Scene& scene() const;
  const SimDocument* FindDocument(std::string_view path) const;
  const std::vector<Message>& messages() const;
  const std::vector<Event>& events() const;
  // The path of the event's document, or its text.
  std::string_view Subject(const Event& event) const;
  // Hands the log and its texts over and leaves them empty, for a caller done
  // with the host; a document's path it reads from the scene (TakeScene).
  std::vector<Event> TakeEvents();
  std::vector<std::string> TakeEventTexts();
  // Hands the scene over, for a caller done with the host.
  Scene TakeScene();
  // Menu items and sub-menus, in the order they were installed.
  std::vector<MenuEntry> Menu() const;
  // References handed to the add-in and not yet released.
  int HeldReferences() const;

 private:
  std::shared_ptr<SimState> state_;
};

// The shell: records the page instead of opening a browser.
class SimShell : public Shell {
 public:
  explicit SimShell(SimHost& host) : host_(host) {}
  void Open(const std::string& file, const std::string& directory, int showMode) override;
  int lastShowMode() const { return lastShowMode_; }

 private:
  SimHost& host_;
  int lastShowMode_ = -1;
};

}  // namespace ponderix::sim
