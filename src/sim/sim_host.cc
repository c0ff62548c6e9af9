#include "sim/sim_host.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <utility>

namespace ponderix::sim {

namespace {

constexpr int32_t kFileNotFound = 2;  // the host's error code for an unknown file

// The documents by path, by open addressing over their indexes: no node to
// allocate per document, and a look-up touches one slot and one path. A scene
// may hold a million documents, and the add-in looks each up several times.
class PathIndex {
 public:
  // Indexes `docs`, whose paths never change once the scene is set. Gives
  // the first document whose path an earlier one has, or nothing.
  const SimDocument* Build(const std::vector<SimDocument>& docs) {
    docs_ = &docs;
    size_t capacity = 16;
    while (capacity < docs.size() * 2) capacity *= 2;
    slots_.assign(capacity, Slot{});
    for (size_t i = 0; i < docs.size(); ++i) {
      const size_t hash = std::hash<std::string_view>{}(docs[i].path);
      Slot& slot = slots_[Probe(docs[i].path, hash)];
      if (slot.index != kEmpty) return &docs[i];
      slot = {hash, static_cast<uint32_t>(i)};
    }
    return nullptr;
  }
  void Clear() {
    docs_ = nullptr;
    std::vector<Slot>().swap(slots_);
  }
  // The index of the document at `path`, or nothing.
  std::optional<size_t> Find(std::string_view path) const {
    if (slots_.empty()) return std::nullopt;
    const Slot& slot = slots_[Probe(path, std::hash<std::string_view>{}(path))];
    if (slot.index == kEmpty) return std::nullopt;
    return slot.index;
  }

 private:
  static constexpr uint32_t kEmpty = UINT32_MAX;
  struct Slot {
    size_t hash = 0;
    uint32_t index = kEmpty;
  };

  // The slot that holds `path`, else the empty one where it would go.
  size_t Probe(std::string_view path, size_t hash) const {
    const size_t mask = slots_.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
      const Slot& slot = slots_[at];
      if (slot.index == kEmpty || (slot.hash == hash && (*docs_)[slot.index].path == path)) return at;
    }
  }

  const std::vector<SimDocument>* docs_ = nullptr;
  std::vector<Slot> slots_;
};

}  // namespace

struct SimState {
  Scene scene;
  PathIndex byPath;
  std::vector<Message> messages;
  std::vector<Event> events;
  std::function<void(const Event&)> observer;
  std::vector<MenuEntry> menu;
  CallbackTarget* callbackTarget = nullptr;
  int held = 0;
  bool byIndex = false;

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

  void Log(Event e) {
    events.push_back(std::move(e));
    if (observer) observer(events.back());
  }

  void LogDocument(Event::Kind kind, const SimDocument& doc, double density, bool visible) {
    if (!byIndex) {
      Log({kind, doc.path, "", density, visible});
      return;
    }
    const auto index = static_cast<uint32_t>(&doc - scene.documents.data());
    events.push_back({kind, "", "", density, visible, index});
    if (observer) observer({kind, doc.path, "", density, visible, index});
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

// Hands `object` to the add-in as one counted reference.
template <class T>
Ref<T> Hand(const std::shared_ptr<SimState>& state, std::unique_ptr<T> object) {
  ++state->held;
  return Ref<T>(object.release(), [state](T* p) {
    --state->held;
    delete p;
  });
}

class SimDocumentRef;
Ref<Document> HandDocument(const std::shared_ptr<SimState>& state, SimDocument& doc);

class SimUserUnit : public UserUnit {
 public:
  SimUserUnit(std::shared_ptr<SimState> state, std::string path)
      : state_(std::move(state)), path_(std::move(path)) {}
  int32_t UnitCode() override {
    state_->Check("UnitCode", path_);
    return state_->Find(path_)->lengthUnit;
  }

 private:
  std::shared_ptr<SimState> state_;
  std::string path_;
};

class SimComponent : public Component {
 public:
  SimComponent(std::shared_ptr<SimState> state, std::string path)
      : state_(std::move(state)), path_(std::move(path)) {}
  Ref<Document> ComponentDocument() override {
    state_->Check("ComponentDocument", path_);
    SimDocument* doc = state_->Find(path_);
    // A component whose file is not loaded has no document.
    if (!doc || !doc->open) return nullptr;
    return HandDocument(state_, *doc);
  }

 private:
  std::shared_ptr<SimState> state_;
  std::string path_;
};

class SimSelectionMgr : public SelectionMgr {
 public:
  SimSelectionMgr(std::shared_ptr<SimState> state, std::string path)
      : state_(std::move(state)), path_(std::move(path)) {}
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
    return Hand<Component>(state_, std::make_unique<SimComponent>(state_, *owner));
  }

 private:
  std::shared_ptr<SimState> state_;
  std::string path_;
};

// Refers to its document directly: the scene's documents stay put, and a run
// may hold a reference to every one of a million documents.
class SimDocumentRef : public Document {
 public:
  SimDocumentRef(std::shared_ptr<SimState> state, SimDocument& doc)
      : state_(std::move(state)), doc_(doc), path_(doc.path) {}

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
    return Hand<SelectionMgr>(state_, std::make_unique<SimSelectionMgr>(state_, path_));
  }
  Ref<UserUnit> GetUserUnit(int32_t unitType) override {
    state_->Check("GetUserUnit", path_);
    if (unitType != kUnitTypeLength) return nullptr;
    return Hand<UserUnit>(state_, std::make_unique<SimUserUnit>(state_, path_));
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

  std::shared_ptr<SimState> state_;
  SimDocument& doc_;
  const std::string& path_;
};

Ref<Document> HandDocument(const std::shared_ptr<SimState>& state, SimDocument& doc) {
  return Hand<Document>(state, std::make_unique<SimDocumentRef>(state, doc));
}

class SimEnumerator : public DocumentEnumerator {
 public:
  explicit SimEnumerator(std::shared_ptr<SimState> state) : state_(std::move(state)) {}
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
  std::shared_ptr<SimState> state_;
  size_t next_ = 0;
};

class SimFrame : public Frame {
 public:
  explicit SimFrame(std::shared_ptr<SimState> state) : state_(std::move(state)) {}
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
  std::shared_ptr<SimState> state_;
};

class SimApplication : public Application {
 public:
  explicit SimApplication(std::shared_ptr<SimState> state) : state_(std::move(state)) {}

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
    state_->Log({Event::Kind::kMessage, "", text, 0, false});
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
    return Hand<DocumentEnumerator>(state_, std::make_unique<SimEnumerator>(state_));
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
    return Hand<Frame>(state_, std::make_unique<SimFrame>(state_));
  }

 private:
  std::shared_ptr<SimState> state_;
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
  if (const SimDocument* twice = state_->byPath.Build(state_->scene.documents)) {
    throw std::invalid_argument("the scene lists the document " + twice->path + " twice");
  }
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
  return Hand<Application>(state_, std::make_unique<SimApplication>(state_));
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

void SimHost::Observe(std::function<void(const Event&)> observer) { state_->observer = std::move(observer); }

void SimHost::RecordBox(const std::string& text) {
  state_->messages.push_back({Message::Kind::kBox, text});
  state_->Log({Event::Kind::kBox, "", text, 0, false});
}

void SimHost::RecordWebPage(const std::string& address) {
  state_->Log({Event::Kind::kWebPage, address, "", 0, false});
}

const Scene& SimHost::scene() const { return state_->scene; }

const SimDocument* SimHost::FindDocument(std::string_view path) const { return state_->Find(path); }

const std::vector<Message>& SimHost::messages() const { return state_->messages; }

const std::vector<Event>& SimHost::events() const { return state_->events; }

std::vector<Event> SimHost::TakeEvents() { return std::exchange(state_->events, {}); }

void SimHost::LogDocumentIndexes() {
  state_->byIndex = true;
  // Room for a run that activates, shows, writes and hides every document,
  // so that a long log is not moved as it grows; untouched room costs no memory.
  state_->events.reserve(state_->events.size() + 4 * state_->scene.documents.size() + 64);
}

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
