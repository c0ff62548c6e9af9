#include "sim/sim_host.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <utility>

#include "sim/path_index.h"

namespace ponderix::sim {

namespace {

constexpr int32_t kFileNotFound = 2;  // the host's error code for an unknown file

}  // namespace

struct SimState {
  Scene scene;
  PathIndex byPath;
  std::vector<Message> messages;
  std::vector<Event> events;
  std::vector<std::string> eventTexts;
  std::function<void(const Event&, std::string_view)> observer;
  std::vector<MenuEntry> menu;
  CallbackTarget* callbackTarget = nullptr;
  int held = 0;

  SimDocument* Find(std::string_view path) {
    const std::optional<size_t> index = byPath.Find(path);
    return index ? &scene.documents[*index] : nullptr;
  }

  // Throws the injected failure of `call`, if any applies to `path`. A call
  // about no path is reached only by a failure without one; a failure for
  // the path "" reaches calls about that path only.
  void Check(std::string_view call, std::optional<std::string_view> path = std::nullopt) const {
    for (const SimFailure& f : scene.failures) {
      if (f.call == call && (!f.path || (path && *f.path == *path))) {
        throw HostError(std::string(call),
                        "simulated failure" + (!path || path->empty() ? "" : " for " + std::string(*path)),
                        -2147467259 /* E_FAIL */);
      }
    }
  }

  void LogText(Event::Kind kind, const std::string& text) {
    events.push_back({kind, false, static_cast<uint32_t>(eventTexts.size()), 0});
    eventTexts.push_back(text);
    if (observer) observer(events.back(), text);
  }

  void LogDocument(Event::Kind kind, const SimDocument& doc, double density, bool visible) {
    events.push_back({kind, visible, static_cast<uint32_t>(&doc - scene.documents.data()), density});
    if (observer) observer(events.back(), doc.path);
  }

  void SetVisible(SimDocument& doc, bool visible) {
    if (doc.visible == visible) return;
    doc.visible = visible;
    LogDocument(Event::Kind::kVisible, doc, 0, visible);
  }

  void AddMenuEntry(MenuEntry entry) {
    if (std::find(menu.begin(), menu.end(), entry) == menu.end()) menu.push_back(std::move(entry));
  }

  // Adds the sub-menus an item at `path` lives in. The outermost level is a
  // menu of the host's own: its localized tools menu, whose name may hold "@"
  // itself, or else the last level.
  void AddSubMenus(int32_t docType, const std::string& path) {
    for (size_t at = path.find('@'); at != std::string::npos; at = path.find('@', at + 1)) {
      const std::string parent = path.substr(at + 1);
      if (parent == scene.menuName || parent.find('@') == std::string::npos) break;
      AddMenuEntry({docType, parent, std::nullopt, std::nullopt, std::nullopt});
    }
  }
};

namespace {

// An object handed to the add-in, counted as one reference while it lives.
// Made by Hand, so that the object and its shared count take one allocation:
// a run may hold references to each of a million documents.
template <class Interface>
class Handed : public Interface {
 public:
  Handed(const Handed&) = delete;
  Handed& operator=(const Handed&) = delete;
  ~Handed() override { --state_->held; }

 protected:
  explicit Handed(std::shared_ptr<SimState> state) : state_(std::move(state)) { ++state_->held; }

  std::shared_ptr<SimState> state_;
};

template <class T, class... Args>
std::shared_ptr<T> Hand(Args&&... args) {
  return std::make_shared<T>(std::forward<Args>(args)...);
}

class SimDocumentRef;
Ref<Document> HandDocument(const std::shared_ptr<SimState>& state, SimDocument& doc);

class SimUserUnit : public Handed<UserUnit> {
 public:
  SimUserUnit(std::shared_ptr<SimState> state, std::string path)
      : Handed(std::move(state)), path_(std::move(path)) {}
  int32_t UnitCode() override {
    state_->Check("UnitCode", path_);
    return state_->Find(path_)->lengthUnit;
  }

 private:
  std::string path_;
};

// Refers to its entry of the scene's selection, which stays put: a run takes
// a component for each of hundreds of thousands of selected parts.
class SimComponent : public Handed<Component> {
 public:
  SimComponent(std::shared_ptr<SimState> state, const std::string& path)
      : Handed(std::move(state)), path_(path) {}
  Ref<Document> ComponentDocument() override {
    state_->Check("ComponentDocument", path_);
    SimDocument* doc = state_->Find(path_);
    // A component whose file is not loaded has no document.
    if (!doc || !doc->open) return nullptr;
    return HandDocument(state_, *doc);
  }

 private:
  const std::string& path_;
};

class SimSelectionMgr : public Handed<SelectionMgr> {
 public:
  SimSelectionMgr(std::shared_ptr<SimState> state, std::string path)
      : Handed(std::move(state)), path_(std::move(path)) {}
  int32_t SelectedObjectCount() override {
    state_->Check("SelectedObjectCount", path_);
    return static_cast<int32_t>(state_->scene.selection.size());
  }
  Ref<Component> SelectedObjectComponent(int32_t index) override {
    const auto& selection = state_->scene.selection;
    if (index < 1 || static_cast<size_t>(index) > selection.size()) {
      throw HostError("SelectedObjectComponent", "no selected object " + std::to_string(index));
    }
    const std::optional<std::string>& owner = selection[static_cast<size_t>(index) - 1];
    state_->Check("SelectedObjectComponent",
                  owner ? std::optional<std::string_view>(*owner) : std::optional<std::string_view>());
    if (!owner) return nullptr;
    return Hand<SimComponent>(state_, *owner);
  }

 private:
  std::string path_;
};

// Refers to its document directly: the scene's documents stay put, and a run
// may hold a reference to every one of a million documents.
class SimDocumentRef : public Handed<Document> {
 public:
  SimDocumentRef(std::shared_ptr<SimState> state, SimDocument& doc)
      : Handed(std::move(state)), doc_(doc), path_(doc.path) {}

  std::string GetPathName() override {
    state_->Check("GetPathName", path_);
    return path_;
  }
  int32_t GetType() override {
    state_->Check("GetType", path_);
    return doc().type;
  }
  Ref<SelectionMgr> SelectionManager() override {
    state_->Check("SelectionManager", path_);
    return Hand<SimSelectionMgr>(state_, path_);
  }
  Ref<UserUnit> GetUserUnit(int32_t unitType) override {
    state_->Check("GetUserUnit", path_);
    if (unitType != kUnitTypeLength) return nullptr;
    return Hand<SimUserUnit>(state_, path_);
  }
  double GetUserPreferenceDoubleValue(int32_t preference) override {
    state_->Check("GetUserPreferenceDoubleValue", path_);
    return preference == kPrefMaterialDensity ? doc().density : 0.0;
  }
  bool SetUserPreferenceDoubleValue(int32_t preference, double value) override {
    state_->Check("SetUserPreferenceDoubleValue", path_);
    if (preference != kPrefMaterialDensity) return false;
    SimDocument& d = doc();
    d.density = value;
    d.modified = true;
    state_->LogDocument(Event::Kind::kDensity, d, value, false);
    return true;
  }
  bool Visible() override {
    state_->Check("Visible", path_);
    return doc().visible;
  }
  void SetVisible(bool visible) override {
    state_->Check("SetVisible", path_);
    state_->SetVisible(doc(), visible);
  }

 private:
  SimDocument& doc() { return doc_; }

  SimDocument& doc_;
  const std::string& path_;
};

Ref<Document> HandDocument(const std::shared_ptr<SimState>& state, SimDocument& doc) {
  return Hand<SimDocumentRef>(state, doc);
}

class SimEnumerator : public Handed<DocumentEnumerator> {
 public:
  explicit SimEnumerator(std::shared_ptr<SimState> state) : Handed(std::move(state)) {}
  void Reset() override {
    state_->Check("Reset");
    next_ = 0;
  }
  Ref<Document> Next(int32_t count, int32_t& fetched) override {
    state_->Check("Next");
    fetched = 0;
    if (count < 1) return nullptr;
    auto& docs = state_->scene.documents;
    while (next_ < docs.size() && !docs[next_].open) ++next_;
    if (next_ == docs.size()) return nullptr;
    fetched = 1;
    return HandDocument(state_, docs[next_++]);
  }

 private:
  size_t next_ = 0;
};

class SimFrame : public Handed<Frame> {
 public:
  explicit SimFrame(std::shared_ptr<SimState> state) : Handed(std::move(state)) {}
  // A simulated host has no window.
  std::uintptr_t WindowHandle() override {
    state_->Check("WindowHandle");
    return 0;
  }
  int32_t MenuItemCount(int32_t docType, const std::string& path) override {
    state_->Check("MenuItemCount", path);
    const std::string suffix = "@" + path;
    int32_t count = 0;
    for (const MenuEntry& e : state_->menu) {
      if (e.docType != docType || e.path.size() <= suffix.size()) continue;
      const std::string_view head(e.path.data(), e.path.size() - suffix.size());
      if (e.path.ends_with(suffix) && head.find('@') == std::string_view::npos) ++count;
    }
    return count;
  }

 private:
};

class SimApplication : public Handed<Application> {
 public:
  explicit SimApplication(std::shared_ptr<SimState> state) : Handed(std::move(state)) {}

  Ref<Document> GetActiveDocument() override {
    state_->Check("GetActiveDocument");
    const auto& active = state_->scene.active;
    if (!active) return nullptr;
    SimDocument* doc = state_->Find(*active);
    if (!doc || !doc->open) return nullptr;
    return HandDocument(state_, *doc);
  }

  int32_t ShowUserMessage(const std::string& text, int32_t /*icon*/, int32_t /*buttons*/) override {
    state_->Check("ShowUserMessage");
    state_->messages.push_back({Message::Kind::kHost, text});
    state_->LogText(Event::Kind::kMessage, text);
    return 1;
  }

  Ref<Document> OpenDocument(const std::string& path, int32_t docType, int32_t /*options*/,
                             const std::string& /*configuration*/, int32_t& errors,
                             int32_t& warnings) override {
    state_->Check("OpenDocument", path);
    errors = 0;
    warnings = 0;
    SimDocument* doc = state_->Find(path);
    if (!doc || doc->type != docType) {
      errors = kFileNotFound;
      return nullptr;
    }
    if (!doc->open) {
      // A newly opened document gets a window of its own.
      doc->open = true;
      doc->visible = true;
      state_->LogDocument(Event::Kind::kOpen, *doc, 0, true);
    }
    return HandDocument(state_, *doc);
  }

  Ref<Document> ActivateDocument(const std::string& path, bool /*silent*/, int32_t& errors) override {
    state_->Check("ActivateDocument", path);
    errors = 0;
    SimDocument* doc = state_->Find(path);
    if (!doc || !doc->open) {
      errors = kFileNotFound;
      return nullptr;
    }
    state_->scene.active = path;
    state_->LogDocument(Event::Kind::kActivate, *doc, 0, false);
    // Activation shows the document's window.
    state_->SetVisible(*doc, true);
    return HandDocument(state_, *doc);
  }

  std::optional<std::vector<std::string>> ListDependencies(const std::string& path, bool /*traverse*/,
                                                           bool /*searchable*/,
                                                           bool /*addReadOnlyInfo*/) override {
    state_->Check("ListDependencies", path);
    const SimDocument* doc = state_->Find(path);
    if (!doc) return std::nullopt;
    return doc->dependencies;
  }

  Ref<DocumentEnumerator> EnumerateDocuments() override {
    state_->Check("EnumerateDocuments");
    return Hand<SimEnumerator>(state_);
  }

  bool RegisterCallbackTarget(std::uintptr_t /*moduleHandle*/, CallbackTarget& target,
                              int32_t /*cookie*/) override {
    state_->Check("RegisterCallbackTarget");
    state_->callbackTarget = &target;
    return true;
  }

  std::string LocalizedMenuName(int32_t menuId) override {
    state_->Check("LocalizedMenuName");
    return menuId == kToolsMenuId ? state_->scene.menuName : std::string();
  }

  int32_t AddMenuCommand(int32_t docType, int32_t /*cookie*/, const std::string& menuPath,
                         int32_t /*position*/, const std::string& callback, const std::string& enableMethod,
                         const std::string& hint) override {
    state_->Check("AddMenuCommand", menuPath);
    state_->AddSubMenus(docType, menuPath);
    state_->AddMenuEntry({docType, menuPath, callback, enableMethod, hint});
    return 1;
  }

  bool RemoveMenuEntry(int32_t docType, const std::string& menuPath, const std::string& callback) override {
    state_->Check("RemoveMenuEntry", menuPath);
    auto& menu = state_->menu;
    const auto before = menu.size();
    if (callback.empty()) {
      // A sub-menu goes with everything inside it.
      const std::string inside = "@" + menuPath;
      std::erase_if(menu, [&](const MenuEntry& e) {
        return e.docType == docType && (e.path == menuPath || e.path.ends_with(inside));
      });
    } else {
      std::erase_if(menu, [&](const MenuEntry& e) {
        return e.docType == docType && e.path == menuPath && e.callback == callback;
      });
    }
    return menu.size() != before;
  }

  Ref<Frame> MainFrame() override {
    state_->Check("MainFrame");
    return Hand<SimFrame>(state_);
  }

 private:
};

}  // namespace

std::string_view EventKindName(Event::Kind kind) {
  switch (kind) {
    case Event::Kind::kMessage:
      return "message";
    case Event::Kind::kBox:
      return "box";
    case Event::Kind::kOpen:
      return "open";
    case Event::Kind::kActivate:
      return "activate";
    case Event::Kind::kVisible:
      return "visible";
    case Event::Kind::kDensity:
      return "density";
    case Event::Kind::kWebPage:
      return "webpage";
  }
  return "unknown";
}

SimHost::SimHost(Scene scene) : state_(std::make_shared<SimState>()) {
  state_->scene = std::move(scene);
  const std::vector<SimDocument>& docs = state_->scene.documents;
  state_->byPath.Reset(docs, docs.size());
  for (size_t i = 0; i < docs.size(); ++i) {
    if (!state_->byPath.Add(i))
      throw std::invalid_argument("the scene lists the document " + docs[i].path + " twice");
  }
  // Room for a run that activates, shows, writes and hides every document, so
  // that a long log is not moved as it grows; untouched room costs no memory.
  state_->events.reserve(4 * docs.size() + 64);
  for (const MenuEntry& e : state_->scene.menu) {
    state_->AddSubMenus(e.docType, e.path);
    state_->AddMenuEntry(e);
  }
}

SimHost::~SimHost() = default;

Ref<Application> SimHost::GetApplication(std::string_view progId) {
  state_->Check("GetApplication");
  if (progId != "SldWorks.Application") {
    throw HostError("GetApplication", "no running application registered as " + std::string(progId));
  }
  return Hand<SimApplication>(state_);
}

CommandOutcome SimHost::ChooseCommand(int32_t docType, std::string_view callback) {
  const auto& menu = state_->menu;
  const auto item = std::find_if(menu.begin(), menu.end(), [&](const MenuEntry& e) {
    return e.docType == docType && e.callback == callback;
  });
  if (item == menu.end() || !state_->callbackTarget) {
    throw std::invalid_argument("no menu command " + std::string(callback) + " for document type " +
                                std::to_string(docType));
  }
  CommandOutcome outcome;
  // The host asks the enable method before it offers the command.
  const std::string enable = item->enable.value_or("");
  const std::string name(callback);
  if (!enable.empty()) {
    outcome.result = state_->callbackTarget->InvokeByName(enable);
    if (!outcome.result.ok || outcome.result.value == 0) return outcome;
  }
  outcome.enabled = true;
  outcome.result = state_->callbackTarget->InvokeByName(name);
  return outcome;
}

void SimHost::Observe(std::function<void(const Event&, std::string_view)> observer) {
  state_->observer = std::move(observer);
}

void SimHost::RecordBox(const std::string& text) {
  state_->messages.push_back({Message::Kind::kBox, text});
  state_->LogText(Event::Kind::kBox, text);
}

void SimHost::RecordWebPage(const std::string& address) { state_->LogText(Event::Kind::kWebPage, address); }

const Scene& SimHost::scene() const { return state_->scene; }

Ref<Document> SimHost::HandDocument(std::string_view operation, std::optional<std::string_view> path) {
  state_->Check(operation);
  SimDocument* doc = path ? state_->Find(*path) : nullptr;
  return doc && doc->open ? sim::HandDocument(state_, *doc) : nullptr;
}

const SimDocument* SimHost::FindDocument(std::string_view path) const { return state_->Find(path); }

const std::vector<Message>& SimHost::messages() const { return state_->messages; }

const std::vector<Event>& SimHost::events() const { return state_->events; }

std::string_view SimHost::Subject(const Event& event) const {
  return event.AboutText() ? state_->eventTexts.at(event.subject)
                           : state_->scene.documents.at(event.subject).path;
}

std::vector<Event> SimHost::TakeEvents() { return std::exchange(state_->events, {}); }

std::vector<std::string> SimHost::TakeEventTexts() { return std::exchange(state_->eventTexts, {}); }

Scene SimHost::TakeScene() {
  state_->byPath.Clear();  // it reads the paths of the documents handed over
  return std::exchange(state_->scene, {});
}

std::vector<MenuEntry> SimHost::Menu() const { return state_->menu; }

int SimHost::HeldReferences() const { return state_->held; }

void SimShell::Open(const std::string& file, const std::string& /*directory*/, int showMode) {
  lastShowMode_ = showMode;
  host_.RecordWebPage(file);
}

}  // namespace ponderix::sim
