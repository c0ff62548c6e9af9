// The late-bound host adapter against the fake host: every contract operation
// through the host's member names and conventions, the shapes the host's
// answers take, failures carried with the member and the host's text, older
// hosts' members, the DISPID cache, the connector; then the real DLL's
// refusals on the host that connected it. (Its menu and its runs are the
// end-to-end test's.)
#include <windows.h>

#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "harness.h"
#include "ponderix.h"
#include "run/ponderix1.h"
#include "run/sw_connection.h"
#include "win32/dispatch_target.h"
#include "win32/host_adapter.h"
#include "win32/owners.h"
#include "win32/platform.h"
#include "win32/registration.h"
#include "win32/text.h"
#include "winsim/fake_host.h"
#include "winsim/support.h"

namespace ponderix::wintest {

namespace {

using Microsoft::WRL::ComPtr;
using win32::UniqueVariant;

constexpr char kAssembly[] = "C:\\Werkstatt\\Pumpe\\Pumpe.sldasm";
constexpr char kHousing[] = "C:\\Werkstatt\\Pumpe\\Gehäuse.sldprt";
constexpr char kRotor[] = "C:\\Работа\\ротор.sldprt";
constexpr char kWasher[] = "C:\\Werkstatt\\Pumpe\\Scheibe.sldprt";
constexpr char kDrawing[] = "C:\\Werkstatt\\Pumpe\\Pumpe.slddrw";
constexpr char kCover[] = "C:\\Werkstatt\\Pumpe\\Deckel.sldprt";
constexpr char kMenuName[] = "Extras ✓";

sim::SimDocument Doc(std::string path, int32_t type, bool open, double density, int32_t unit = 0) {
  sim::SimDocument d;
  d.path = std::move(path);
  d.type = type;
  d.open = open;
  d.visible = open;
  d.density = density;
  d.lengthUnit = unit;
  return d;
}

// An assembly with parts (one not open), a drawing, a selection of a part,
// an object without a component and a component whose file is not loaded.
sim::Scene PumpScene() {
  sim::Scene scene;
  sim::SimDocument assembly = Doc(kAssembly, kDocTypeAssembly, true, 1000, 1);
  assembly.dependencies = std::vector<std::string>{"Gehäuse", kHousing, "ротор", kRotor, "Scheibe", kWasher};
  scene.documents = {assembly,
                     Doc(kHousing, kDocTypePart, true, 2700.125, 3),
                     Doc(kRotor, kDocTypePart, true, 7700),
                     Doc(kWasher, kDocTypePart, false, 7800),
                     Doc(kDrawing, 3, true, 1000),
                     Doc(kCover, kDocTypePart, false, 500)};
  scene.documents[2].dependencies = std::vector<std::string>{};
  scene.active = kAssembly;
  scene.selection = {std::string(kHousing), std::nullopt, std::string(kCover)};
  scene.menuName = kMenuName;
  return scene;
}

Ref<Application> Wrap(FakeHost& host) {
  return win32::WrapHostApplication(ComPtr<IDispatch>(host.application()));
}

// No reference of the add-in (or of the adapter under test) is left on the fake host.
void CheckReleased(Check& check, const FakeHost& host, const std::string& when) {
  check.Equal(host.AddinReferences(), 0L, "COM references left " + when);
  check.Equal(host.SimReferences(), 0, "host references left " + when);
  check.Equal(host.LiveObjects(), 1, "automation objects alive " + when);
}

// Runs `body`, which must throw HostError; gives it for inspection.
std::optional<HostError> Thrown(const std::function<void()>& body) {
  try {
    body();
  } catch (const HostError& e) {
    return e;
  }
  return std::nullopt;
}

void CheckHostError(Check& check, const std::optional<HostError>& error, const std::string& operation,
                    const std::string& textStart, const std::string& textPart, HRESULT code,
                    const std::string& what) {
  if (!check.True(error.has_value(), what + ": no HostError")) return;
  check.Equal(error->operation(), operation, what + ": operation");
  const std::string text = error->what();
  check.True(text.rfind(operation + ": " + textStart, 0) == 0, what + ": text starts " + Describe(text));
  check.True(text.find(textPart) != std::string::npos,
             what + ": text lacks " + Describe(textPart) + " in " + Describe(text));
  check.Hr(error->code(), code, what + ": code");
}

// What the runs of the end-to-end test do not show: text beyond ASCII both
// ways, out-parameters the host leaves alone, unknown files, objects that are
// none, and the enumerator's edges. (Densities, visibility, the active
// document and the menu are compared there.)
const Test roundTrips("HostAdapter.OperationsAtTheirEdges", [](Check& check) {
  FakeHost host(PumpScene());
  {
    const Ref<Application> app = Wrap(host);
    const Ref<Document> assembly = app->GetActiveDocument();
    if (!check.True(assembly != nullptr, "no active document")) return;
    check.True(assembly->GetUserUnit(1) == nullptr, "a unit type the host has none of");
    check.Equal(app->ShowUserMessage("Grüße, Пётр", 0, 0), 1, "message answer");
    check.Equal(host.sim().messages().back().text, std::string("Grüße, Пётр"), "message text");
    check.Equal(app->LocalizedMenuName(kToolsMenuId), std::string(kMenuName), "menu name");

    // Out-parameters are written even where the host leaves them 0; the empty
    // configuration goes as an empty BSTR, which the fake host insists on.
    int32_t errors = 99;
    int32_t warnings = 99;
    check.True(app->OpenDocument(kWasher, kDocTypePart, kOpenSilent, "", errors, warnings) != nullptr,
               "OpenDoc6 opened nothing");
    check.True(errors == 0 && warnings == 0, "OpenDoc6 errors and warnings");
    check.True(
        app->OpenDocument("C:\\nowhere.sldprt", kDocTypePart, kOpenSilent, "", errors, warnings) == nullptr &&
            errors == 2,
        "OpenDoc6 of an unknown file");
    errors = 99;
    const Ref<Document> housing = app->ActivateDocument(kHousing, true, errors);
    check.Equal(errors, 0, "ActivateDoc2 errors");
    check.True(app->ActivateDocument("C:\\nowhere.sldprt", true, errors) == nullptr && errors == 2,
               "ActivateDoc2 of an unknown file");
    check.Equal(housing ? housing->GetPathName() : std::string(), std::string(kHousing), "non-ASCII path");

    const Ref<SelectionMgr> selection = assembly->SelectionManager();
    check.Equal(selection->SelectedObjectCount(), 3, "selected objects");
    check.True(selection->SelectedObjectComponent(2) == nullptr, "an object without a component");
    const Ref<Component> unloaded = selection->SelectedObjectComponent(3);
    check.True(unloaded != nullptr && unloaded->ComponentDocument() == nullptr,
               "a component whose document is not loaded");

    // The open documents in the host's order, with and without a Reset first.
    const std::vector<std::string> open = {kAssembly, kHousing, kRotor, kWasher, kDrawing};
    for (const bool reset : {true, false}) {
      const Ref<DocumentEnumerator> documents = app->EnumerateDocuments();
      if (reset) documents->Reset();
      std::vector<std::string> paths;
      int32_t fetched = 0;
      while (const Ref<Document> doc = documents->Next(1, fetched)) {
        check.Equal(fetched, 1, "fetched with a document");
        paths.push_back(doc->GetPathName());
      }
      check.Equal(fetched, 0, "fetched at the end");
      check.True(paths == open, std::string("open documents, Reset ") + (reset ? "first" : "never"));
      documents->Reset();
      check.True(documents->Next(0, fetched) == nullptr && fetched == 0, "Next(0)");
      check.Equal(documents->Next(1, fetched)->GetPathName(), std::string(kAssembly), "first after Reset");
    }
  }
  CheckReleased(check, host, "after every operation");
});

const Test dependencies("HostAdapter.DependencyListsInEveryShape", [](Check& check) {
  struct Shape {
    long lowerBound;
    bool asVariants;
    bool emptyAsEmpty;
  };
  for (const Shape shape :
       {Shape{0, false, false}, Shape{1, false, true}, Shape{1, true, false}, Shape{-3, true, true}}) {
    const std::string what =
        "lower bound " + std::to_string(shape.lowerBound) + (shape.asVariants ? ", VARIANTs" : ", BSTRs");
    FakeHostOptions options;
    options.dependenciesLowerBound = shape.lowerBound;
    options.dependenciesAsVariants = shape.asVariants;
    options.nullObjectsAsEmpty = shape.emptyAsEmpty;
    FakeHost host(PumpScene(), options);
    {
      const Ref<Application> app = Wrap(host);
      const auto list = app->ListDependencies(kAssembly, true, true, false);
      check.True(list == PumpScene().documents[0].dependencies, what + ": the assembly's list");
      const auto empty = app->ListDependencies(kRotor, true, true, false);
      check.True(empty.has_value() && empty->empty(), what + ": an empty list");
      check.True(!app->ListDependencies(kHousing, true, true, false).has_value(), what + ": no list");
      check.True(!app->ListDependencies("C:\\nowhere.sldasm", true, true, false).has_value(),
                 what + ": an unknown file");
    }
    CheckReleased(check, host, what);
  }
});

// A large assembly's open documents, as the add-in walks them: each document's
// GetNext looks on from that document, not from the first one.
const Test longWalk("HostAdapter.OpenDocumentsOfALargeAssemblyWalkedOnce", [](Check& check) {
  sim::Scene scene;
  std::vector<std::string> open;
  for (int i = 0; i < 3000; ++i) {
    const std::string path = "C:\\Werkstatt\\Teil " + std::to_string(i) + ".sldprt";
    scene.documents.push_back(Doc(path, kDocTypePart, i % 3 != 1, 7800));
    if (i % 3 != 1) open.push_back(path);
  }
  FakeHost host(std::move(scene));
  {
    const Ref<DocumentEnumerator> documents = Wrap(host)->EnumerateDocuments();
    std::vector<std::string> paths;
    int32_t fetched = 0;
    while (const Ref<Document> doc = documents->Next(1, fetched)) paths.push_back(doc->GetPathName());
    check.True(paths == open, "the open documents in order");
    // Each document of the scene looked at once over the whole walk.
    check.Equal(host.EnumeratorSteps(), 3000L, "documents looked at by the walk");
  }
  CheckReleased(check, host, "after the walk");
});

const Test failures("HostAdapter.FailuresCarryTheMemberAndTheHostsText", [](Check& check) {
  struct Case {
    const char* injected;   // the simulated host's operation made to fail
    const char* operation;  // the contract operation the failure names
    const char* member;     // the host member the text names
    std::function<void(Application&)> call;
  };
  const std::vector<Case> cases = {
      {"GetActiveDocument", "GetActiveDocument", "ActiveDoc", [](Application& a) { a.GetActiveDocument(); }},
      {"OpenDocument", "OpenDocument", "OpenDoc6",
       [](Application& a) {
         int32_t e = 0;
         int32_t w = 0;
         a.OpenDocument(kWasher, kDocTypePart, kOpenSilent, "", e, w);
       }},
      {"ListDependencies", "ListDependencies", "GetDocumentDependencies2",
       [](Application& a) { a.ListDependencies(kAssembly, true, true, false); }},
      {"GetPathName", "GetPathName", "GetPathName",
       [](Application& a) { a.GetActiveDocument()->GetPathName(); }},
      {"SetVisible", "SetVisible", "Visible",
       [](Application& a) { a.GetActiveDocument()->SetVisible(false); }},
      {"UnitCode", "UnitCode", "SpecificUnitType",
       [](Application& a) { a.GetActiveDocument()->GetUserUnit(0)->UnitCode(); }},
      {"MenuItemCount", "MenuItemCount", "GetSubMenuCount",
       [](Application& a) { a.MainFrame()->MenuItemCount(1, "Tools"); }},
      // The host's chain: GetFirstDocument for the enumerator's Reset, then each document's
      // GetNext for its Next; the first Next hands over what Reset was given.
      {"Reset", "Reset", "GetFirstDocument", [](Application& a) { a.EnumerateDocuments()->Reset(); }},
      {"Next", "Next", "GetNext",
       [](Application& a) {
         int32_t fetched = 0;
         const Ref<DocumentEnumerator> documents = a.EnumerateDocuments();
         while (documents->Next(1, fetched)) {
         }
       }},
  };
  for (const bool deferred : {false, true}) {
    for (const Case& c : cases) {
      sim::Scene scene = PumpScene();
      scene.failures.push_back({c.injected, std::nullopt});
      FakeHostOptions options;
      options.deferredExceptionText = deferred;
      FakeHost host(scene, options);
      const std::string what = std::string(c.member) + (deferred ? " (deferred text)" : "");
      {
        const Ref<Application> app = Wrap(host);
        const std::optional<HostError> error = Thrown([&] { c.call(*app); });
        // The contract names the operation; the text the member, where it is another name, and the
        // host's own words.
        const std::string member =
            std::string_view(c.member) == c.operation ? "" : std::string(c.member) + ": ";
        CheckHostError(check, error, c.operation, member + "simulated failure", "simulated failure", E_FAIL,
                       what);
      }
      CheckReleased(check, host, "after the failure of " + what);
    }
  }
});

// A callback target with an automation face, as the add-in object is.
class TestCallbacks final : public win32::DispatchCallbackTarget {
 public:
  CallbackResult InvokeByName(std::string_view) noexcept override { return {}; }
  IDispatch* CallbackDispatch() noexcept override { return &dispatch; }
  EmptyDispatch dispatch;
};

class PlainCallbacks final : public CallbackTarget {
 public:
  CallbackResult InvokeByName(std::string_view) noexcept override { return {}; }
};

const Test unknownMember("HostAdapter.AMissingMemberIsAClearError", [](Check& check) {
  EmptyDispatch notAHost;
  {
    const Ref<Application> app = win32::WrapHostApplication(ComPtr<IDispatch>(&notAHost));
    CheckHostError(check, Thrown([&] { app->GetActiveDocument(); }), "GetActiveDocument",
                   "ActiveDoc: the host's object has no member of this name", "", DISP_E_UNKNOWNNAME,
                   "ActiveDoc on a non-host");
    CheckHostError(check, Thrown([&] { app->MainFrame(); }), "MainFrame", "Frame: ", "no member",
                   DISP_E_UNKNOWNNAME, "Frame on a non-host");
  }
  check.Equal(notAHost.references.load(), ULONG{1}, "references left on the non-host");
  check.True(win32::WrapHostApplication(nullptr) == nullptr, "a null application wraps to null");
});

// The callback object registered with the newest member the host has, and
// the selection asked by the newest it has; each name asked once per type.
const Test olderHosts("HostAdapter.OlderHostsGetThePredecessorMember", [](Check& check) {
  struct Case {
    std::vector<std::wstring> missing;
    const wchar_t* registeredWith;  // on a 64-bit build; a 32-bit one always uses SetAddinCallbackInfo
    const wchar_t* selectedWith;    // null: the host has none of the selection members
  };
  const Case cases[] = {
      {{}, L"SetAddinCallbackInfo2", L"GetSelectedObjectsComponent4"},
      {{L"SetAddinCallbackInfo2", L"GetSelectedObjectsComponent4"},
       L"SetAddinCallbackInfo",
       L"GetSelectedObjectsComponent3"},
      {{L"GetSelectedObjectsComponent4", L"GetSelectedObjectsComponent3"},
       L"SetAddinCallbackInfo2",
       L"GetSelectedObjectsComponent2"},
      {{L"GetSelectedObjectsComponent4", L"GetSelectedObjectsComponent3", L"GetSelectedObjectsComponent2"},
       L"SetAddinCallbackInfo2",
       nullptr},
  };
  const bool wide = sizeof(void*) == 8;
  const auto handle = static_cast<std::uintptr_t>(wide ? 0x7FF612340000ULL : 0x10000000ULL);
  TestCallbacks target;
  for (const Case& c : cases) {
    const std::string what =
        "answering " + (c.selectedWith ? win32::Narrow(c.selectedWith) : std::string("no selection member"));
    FakeHostOptions options;
    options.missingMembers = c.missing;
    FakeHost host(PumpScene(), options);
    {
      const Ref<Application> app = Wrap(host);
      check.True(app->RegisterCallbackTarget(handle, target, 7), what + ": registered");
      const std::wstring registeredWith = wide ? c.registeredWith : L"SetAddinCallbackInfo";
      const CallbackRegistration& registration = host.callbackRegistration();
      check.Equal(registration.member, registeredWith, what + ": registration member");
      const bool narrow = registeredWith == L"SetAddinCallbackInfo";
      // A 64-bit handle does not fit the older member: it gets none rather than a truncated one.
      const int64_t narrowHandle = wide ? 0 : int64_t{static_cast<int32_t>(handle)};
      check.Equal(registration.moduleHandle, narrow ? narrowHandle : static_cast<int64_t>(handle),
                  what + ": module handle");
      check.Equal(registration.handleType, VARTYPE(narrow ? VT_I4 : VT_I8), what + ": module handle type");
      check.True(registration.cookie == 7 && host.callbacks() == &target.dispatch,
                 what + ": cookie and object");
      if (c.missing.empty()) {
        PlainCallbacks plain;
        CheckHostError(check, Thrown([&] { app->RegisterCallbackTarget(handle, plain, 7); }),
                       "RegisterCallbackTarget", "the callback target is not an automation object", "",
                       E_NOINTERFACE, "a target without IDispatch");
      }

      const Ref<SelectionMgr> selection = app->GetActiveDocument()->SelectionManager();
      for (int round = 0; round < 2; ++round) {
        if (!c.selectedWith) {
          CheckHostError(check, Thrown([&] { selection->SelectedObjectComponent(1); }),
                         "SelectedObjectComponent", "GetSelectedObjectsComponent4: ", "no member",
                         DISP_E_UNKNOWNNAME, what);
          continue;
        }
        const Ref<Component> first = selection->SelectedObjectComponent(1);
        check.Equal(first ? first->ComponentDocument()->GetPathName() : std::string(), std::string(kHousing),
                    what + ": the selected part");
      }
      // Each name is asked once, the missing ones included.
      for (const auto& [name, count] : host.NameLookups())
        check.Equal(count, 1, what + ": lookups of " + name);
      if (c.selectedWith) {
        check.Equal(host.NameLookups().count("SelectionMgr." + win32::Narrow(c.selectedWith)), size_t{1},
                    what + ": selection member");
      }
    }
    CheckReleased(check, host, what);
  }
  check.Equal(target.dispatch.references.load(), ULONG{1}, "references left on the callback object");
});

const Test frameWindow("HostAdapter.FrameGivesItsWindowHandle", [](Check& check) {
  // A 64-bit build asks GetHWndx64, and GetHWnd of a host without it; a 32-bit build GetHWnd.
  const bool wide = sizeof(void*) == 8;
  const struct {
    std::vector<std::wstring> missing;
    const char* asked;
  } cases[] = {{{}, wide ? "Frame.GetHWndx64" : "Frame.GetHWnd"}, {{L"GetHWndx64"}, "Frame.GetHWnd"}};
  for (const auto& c : cases) {
    FakeHostOptions options;
    options.missingMembers = c.missing;
    options.frameWindow = 0x0004012A;
    FakeHost host(PumpScene(), options);
    const std::string what = std::string("asking ") + c.asked;
    {
      const Ref<Application> app = Wrap(host);
      check.Equal(app->MainFrame()->WindowHandle(), std::uintptr_t{0x0004012A}, what);
      check.Equal(host.NameLookups().count(c.asked), size_t{1}, what + ": member");
    }
    CheckReleased(check, host, what);
  }
});

// Part, assembly and opened documents of different classes, whose DISPIDs
// for the same names differ: each object gets its own class's IDs, asked once
// per class where the object describes its type, and of the object itself
// where it does not.
const Test perType("HostAdapter.MemberIdsArePerType", [](Check& check) {
  for (const bool typeInfo : {true, false}) {
    const std::string what = typeInfo ? "with type information" : "without type information";
    FakeHostOptions options;
    options.typeInfo = typeInfo;
    options.distinctDocumentClasses = true;
    FakeHost host(PumpScene(), options);
    {
      const Ref<Application> app = Wrap(host);
      for (int round = 0; round < 2; ++round) {
        const Ref<Document> assembly = app->GetActiveDocument();
        const Ref<Document> housing =
            assembly->SelectionManager()->SelectedObjectComponent(1)->ComponentDocument();
        int32_t errors = 0;
        int32_t warnings = 0;
        const Ref<Document> washer =
            app->OpenDocument(kWasher, kDocTypePart, kOpenSilent, "", errors, warnings);
        struct Seen {
          const Ref<Document>& document;
          const char* path;
          int32_t type;
        };
        for (const Seen& seen :
             {Seen{assembly, kAssembly, kDocTypeAssembly}, Seen{housing, kHousing, kDocTypePart},
              Seen{washer, kWasher, kDocTypePart}}) {
          check.Equal(seen.document->GetPathName(), std::string(seen.path), what + ": path");
          check.Equal(seen.document->GetType(), seen.type, what + ": type of " + seen.path);
        }
        std::vector<std::string> paths;
        int32_t fetched = 0;
        const Ref<DocumentEnumerator> documents = app->EnumerateDocuments();
        while (const Ref<Document> doc = documents->Next(1, fetched)) paths.push_back(doc->GetPathName());
        check.True(paths == std::vector<std::string>{kAssembly, kHousing, kRotor, kWasher, kDrawing},
                   what + ": open documents");
      }
      const std::map<std::string, int> lookups = host.NameLookups();
      // Objects asked for their path in the two rounds: the assembly active and enumerated; the
      // housing from the selection, then housing, rotor and washer enumerated; the washer opened.
      const std::map<std::string, int> objects = {
          {"AssemblyDoc.GetPathName", 4}, {"PartDoc.GetPathName", 8}, {"OpenedDoc.GetPathName", 2}};
      for (const auto& [name, count] : objects) {
        const int asked = lookups.count(name) ? lookups.at(name) : 0;
        check.Equal(asked, typeInfo ? 1 : count, what + ": lookups of " + name);
      }
      for (const auto& [name, count] : lookups) {
        if (typeInfo) check.Equal(count, 1, what + ": lookups of " + name);
      }
    }
    CheckReleased(check, host, what);
  }
});

const Test connectorTest("HostAdapter.ConnectorFindsTheRunningHost", [](Check& check) {
  const std::unique_ptr<HostConnector> connector = win32::MakeHostConnector({});
  {
    FakeHost host(PumpScene());
    host.Register();
    {
      const Ref<Application> app = connector->GetApplication(kHostProgId);
      check.Equal(app ? app->GetActiveDocument()->GetPathName() : std::string(), std::string(kAssembly),
                  "active document through the running host");
    }
    CheckReleased(check, host, "after the connector's application");
  }
  // Unregistered: the class is gone, then the running object.
  CheckHostError(check, Thrown([&] { connector->GetApplication(kHostProgId); }), "GetApplication",
                 "SldWorks.Application: ", "", CO_E_CLASSSTRING, "no host registered");
  CheckHostError(check, Thrown([&] { connector->GetApplication("Ponderix.NoSuchApplication"); }),
                 "GetApplication", "Ponderix.NoSuchApplication: ", "", CO_E_CLASSSTRING, "an unknown class");
});

// --- The real DLL connected to the fake host -------------------------------

ComPtr<SwAddin> CreateAddin(Check& check) {
  CLSID clsid{};
  ComPtr<SwAddin> addin;
  if (!check.Hr(CLSIDFromProgID(win32::kProgId, &clsid), S_OK, "CLSIDFromProgID")) return addin;
  check.Hr(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&addin)), S_OK,
           "CoCreateInstance for SwAddin");
  return addin;
}

const Test dllRefusals("AddinDll.RefusesWithoutAPartOrAssemblyOnItsOwnHost", [](Check& check) {
  const ScopedRegistration registration;
  struct Case {
    const char* what;
    std::optional<std::string> active;
    std::string_view message;
  };
  const Case cases[] = {
      {"no active document", std::nullopt, kNoActiveDocMessage},
      {"a drawing", std::string(kDrawing), kWrongDocTypeMessage},
  };
  for (const Case& c : cases) {
    sim::Scene scene = PumpScene();
    scene.active = c.active;
    // A second host instance, the one the running object table knows: the
    // run must act on the host that connected the add-in, never on it. (It
    // has no active document, so a run that strays there ends at once.)
    sim::Scene otherScene = PumpScene();
    otherScene.active = std::nullopt;
    FakeHost other(otherScene);
    other.Register();
    FakeHost host(scene);
    {
      const ComPtr<SwAddin> addin = CreateAddin(check);
      if (!addin) return;
      VARIANT_BOOL result = VARIANT_FALSE;
      check.Hr(addin->ConnectToSW(host.application(), 17, &result), S_OK,
               std::string("ConnectToSW, ") + c.what);
      check.True(result == VARIANT_TRUE && host.callbackRegistration().cookie == 17,
                 std::string("connected with the host's cookie, ") + c.what);
      const sim::CommandOutcome outcome = host.ChooseCommand(kDocTypePart, kRunCallback);
      check.True(outcome.enabled, std::string("command not enabled, ") + c.what);
      check.True(outcome.result.ok, std::string("RunAddin failed, ") + c.what + ": " + outcome.result.error);
      const auto& messages = host.sim().messages();
      check.True(messages.size() == 1 && messages[0].kind == sim::Message::Kind::kHost &&
                     messages[0].text == c.message,
                 std::string("host message, ") + c.what);
      check.Hr(addin->DisconnectFromSW(&result), S_OK, std::string("DisconnectFromSW, ") + c.what);
      check.True(host.sim().Menu().empty(), std::string("menu left, ") + c.what);
      check.True(other.NameLookups().empty() && other.sim().messages().empty(),
                 std::string("the other host was touched, ") + c.what);
    }
    CheckReleased(check, host, std::string("after the run, ") + c.what);
  }
});

}  // namespace

}  // namespace ponderix::wintest
