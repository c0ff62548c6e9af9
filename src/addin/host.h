// The host contract: the operations the add-in calls on the running CAD host.
//
// One abstract interface per host object. Every reference the host hands out
// is a `Ref<T>`; the add-in releases it by resetting the holder, and copies of
// one holder count as one reference. A null `Ref` is "no object".
//
// Every operation may fail; a failure throws `HostError`, which carries the
// operation's name and the host's own text. Out-parameters are written before a
// call returns normally and are never examined by the add-in. Each operation's
// line says whether it can give no object; one that says nothing of it always
// gives one.
//
// Strings are UTF-8. Implementations: the simulated host (src/sim) and the
// late-bound COM adapter (src/win32).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ponderix {

template <class T>
using Ref = std::shared_ptr<T>;

// Host codes the add-in passes or compares.
inline constexpr int32_t kDocTypePart = 1;
inline constexpr int32_t kDocTypeAssembly = 2;
inline constexpr int32_t kPrefMaterialDensity = 7;  // double, kg/m^3
inline constexpr int32_t kUnitTypeLength = 0;
inline constexpr int32_t kOpenSilent = 1;
inline constexpr int32_t kToolsMenuId = 4;

// A failed host call: `operation` is the contract operation, `what()` the
// whole text shown to whoever receives the failure.
class HostError : public std::runtime_error {
 public:
  HostError(std::string operation, const std::string& hostText, int32_t code = 0)
      : std::runtime_error(operation + ": " + hostText), operation_(std::move(operation)), code_(code) {}
  const std::string& operation() const { return operation_; }
  // The host's error code (an HRESULT on Windows), 0 when it gave none.
  int32_t code() const { return code_; }

 private:
  std::string operation_;
  int32_t code_;
};

class Document;

class UserUnit {
 public:
  virtual ~UserUnit() = default;
  // The host's code of the unit (for a length unit: 0 mm, 1 cm, 2 m, 3 in, 4 ft, 5 ft-in); throws on failure.
  virtual int32_t UnitCode() = 0;
};

class Component {
 public:
  virtual ~Component() = default;
  // The component's document; null when the host gives none (its file not loaded); throws on failure.
  virtual Ref<Document> ComponentDocument() = 0;
};

class SelectionMgr {
 public:
  virtual ~SelectionMgr() = default;
  // How many objects are selected, all selection marks; throws on failure.
  virtual int32_t SelectedObjectCount() = 0;
  // `index` counts from 1; null when the selected object belongs to no component; throws on failure.
  virtual Ref<Component> SelectedObjectComponent(int32_t index) = 0;
};

class Document {
 public:
  virtual ~Document() = default;
  // The document's full path, possibly ""; throws on failure.
  virtual std::string GetPathName() = 0;
  // The document's type, kDocTypePart, kDocTypeAssembly or another host code; throws on failure.
  virtual int32_t GetType() = 0;
  // Null when the host gives no selection manager; throws on failure.
  virtual Ref<SelectionMgr> SelectionManager() = 0;
  // The unit of type `unitType`; null when the host gives none; throws on failure.
  virtual Ref<UserUnit> GetUserUnit(int32_t unitType) = 0;
  // Any double the host holds, not necessarily finite; throws on failure.
  virtual double GetUserPreferenceDoubleValue(int32_t preference) = 0;
  // Returns the host's answer, which nobody examines; throws on failure.
  virtual bool SetUserPreferenceDoubleValue(int32_t preference, double value) = 0;
  // Whether the document has a visible window; throws on failure.
  virtual bool Visible() = 0;
  // Shows or hides the document's window; throws on failure.
  virtual void SetVisible(bool visible) = 0;
};

class DocumentEnumerator {
 public:
  virtual ~DocumentEnumerator() = default;
  // Starts again at the first open document; throws on failure.
  virtual void Reset() = 0;
  // Asks for `count` documents; gives the first of them and how many were
  // fetched, null with 0 fetched when none is left; throws on failure.
  virtual Ref<Document> Next(int32_t count, int32_t& fetched) = 0;
};

class Frame {
 public:
  virtual ~Frame() = default;
  // Items that the sub-menu `path` holds for `docType`; throws on failure.
  virtual int32_t MenuItemCount(int32_t docType, const std::string& path) = 0;
  // The main window's handle, 0 when the host gives none; throws on failure.
  virtual std::uintptr_t WindowHandle() = 0;
};

// The outcome of a callback the host invoked by name.
struct CallbackResult {
  bool found = true;  // false: the object has no method of that name
  bool ok = true;     // false: the method failed; `error` says why
  int32_t value = 0;  // the method's 32-bit result (0 for one without)
  std::string error;
};

// What the host calls back by name once registered (the add-in object).
class CallbackTarget {
 public:
  virtual ~CallbackTarget() = default;
  // Runs the public method `name`, which takes no arguments. Nothing is thrown:
  // a failure comes back as the result.
  virtual CallbackResult InvokeByName(std::string_view name) noexcept = 0;
};

class Application {
 public:
  virtual ~Application() = default;
  // Null when no document is active; throws on failure.
  virtual Ref<Document> GetActiveDocument() = 0;
  // Shows `text` in the host's message box; the answer is not examined; throws on failure.
  virtual int32_t ShowUserMessage(const std::string& text, int32_t icon, int32_t buttons) = 0;
  // Opens the document silently (or gives it when open); null when the host cannot; throws on failure.
  virtual Ref<Document> OpenDocument(const std::string& path, int32_t docType, int32_t options,
                                     const std::string& configuration, int32_t& errors,
                                     int32_t& warnings) = 0;
  // Makes the open document active; null when the host cannot; throws on failure.
  virtual Ref<Document> ActivateDocument(const std::string& path, bool silent, int32_t& errors) = 0;
  // Empty (no value), or the 0-based pairs whose second elements are the full
  // paths the document depends on; throws on failure.
  virtual std::optional<std::vector<std::string>> ListDependencies(const std::string& path, bool traverse,
                                                                   bool searchable, bool addReadOnlyInfo) = 0;
  // The open documents; null when the host gives no enumerator; throws on failure.
  virtual Ref<DocumentEnumerator> EnumerateDocuments() = 0;
  // Menu callbacks named later reach `target` until the add-in disconnects; the
  // answer is not examined; throws on failure.
  virtual bool RegisterCallbackTarget(std::uintptr_t moduleHandle, CallbackTarget& target,
                                      int32_t cookie) = 0;
  // The host's name of its menu `menuId` in the user's language, possibly ""; throws on failure.
  virtual std::string LocalizedMenuName(int32_t menuId) = 0;
  // Adds the item at `menuPath`; the answer is not examined; throws on failure.
  virtual int32_t AddMenuCommand(int32_t docType, int32_t cookie, const std::string& menuPath,
                                 int32_t position, const std::string& callback,
                                 const std::string& enableMethod, const std::string& hint) = 0;
  // Removes the item named `callback` under `menuPath`, or the sub-menu
  // `menuPath` when `callback` is ""; the answer is not examined; throws on failure.
  virtual bool RemoveMenuEntry(int32_t docType, const std::string& menuPath, const std::string& callback) = 0;
  // The main window's frame; null when the host gives none; throws on failure.
  virtual Ref<Frame> MainFrame() = 0;
};

// How a run reaches the running host: the automation class "SldWorks.Application".
class HostConnector {
 public:
  virtual ~HostConnector() = default;
  // The running application, never null: throws when there is none or it cannot be reached.
  virtual Ref<Application> GetApplication(std::string_view progId) = 0;
};

}  // namespace ponderix
