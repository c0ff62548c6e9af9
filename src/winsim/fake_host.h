// A stand-in host: the simulated host (sim::SimHost) served
// as automation objects (application, document, selection manager, component,
// user unit, frame), answering GetIDsOfNames and Invoke by the host's member
// names with the host's argument conventions: by-reference out-parameters,
// property get and put, a SAFEARRAY of BSTR for the dependencies, VT_EMPTY
// for none, and strings as VB and .NET clients send them (a null BSTR is
// refused with DISP_E_TYPEMISMATCH). A failure the simulated host raises comes back as
// DISP_E_EXCEPTION with its text in the EXCEPINFO.
//
// Every automation object wraps exactly one reference of the simulated host,
// so the references the add-in holds are counted twice over: COM references
// on the fake's objects, and the simulated host's own count.
#pragma once

#include <windows.h>

#include <oaidl.h>
#include <wrl/client.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_host.h"

namespace ponderix::winsim {

struct FakeState;

struct FakeHostOptions {
  // The lower bound of the dependency SAFEARRAY, and whether its elements are
  // VARIANTs holding BSTRs rather than BSTRs.
  long dependenciesLowerBound = 0;
  bool dependenciesAsVariants = false;
  // "No object" as VT_EMPTY rather than a null VT_DISPATCH.
  bool nullObjectsAsEmpty = false;
  // Exception text supplied through EXCEPINFO's deferred fill-in.
  bool deferredExceptionText = false;
  // Member names GetIDsOfNames reports unknown, as an older host does.
  std::vector<std::wstring> missingMembers;
  // The handle the frame gives for its window (GetHWndx64, GetHWnd).
  int64_t frameWindow = 0;
  // Each object describes its class through IDispatch::GetTypeInfo (a
  // TYPEATTR with the class's GUID), as the host's objects do.
  bool typeInfo = true;
  // Part, assembly and opened (OpenDoc6, ActivateDoc2) documents are objects
  // of different classes, with different DISPIDs for the same names.
  bool distinctDocumentClasses = false;
};

// What SetAddinCallbackInfo(2) received.
struct CallbackRegistration {
  std::wstring member;     // which of the two was called
  VARTYPE handleType = 0;  // VT_I8 or VT_I4
  int64_t moduleHandle = 0;
  long cookie = 0;
};

class FakeHost {
 public:
  explicit FakeHost(sim::Scene scene, FakeHostOptions options = {});
  // Revokes the registration and lets go of the add-in's callback object.
  ~FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  // Registers the application as the running "SldWorks.Application": the
  // ProgID under HKCU\Software\Classes names the stand-in's class (under Wine, also
  // the machine's classes), and the running object table holds the
  // application under it. Undone by the destructor.
  void Register();

  // The application object; not AddRef'ed, alive as long as this host.
  IDispatch* application() const { return application_.Get(); }
  sim::SimHost& sim();
  FakeHostOptions& options();

  // COM references on the fake's objects beyond the host's own hold on its
  // application (its pointer and the running object table's).
  long AddinReferences() const;
  // Automation objects alive, the application included.
  int LiveObjects() const;
  // References of the simulated host held through automation objects, beyond
  // the application's own.
  int SimReferences() const;
  // Documents of the scene the stand-in looked at to find the next open one,
  // for GetFirstDocument and GetNext.
  long EnumeratorSteps() const;
  // GetIDsOfNames calls by "Class.Member" (for example "Document.GetPathName";
  // with distinct document classes "PartDoc", "AssemblyDoc", "OpenedDoc").
  std::map<std::string, int> NameLookups() const;

  const CallbackRegistration& callbackRegistration() const;
  // The add-in's callback object, as SetAddinCallbackInfo(2) gave it.
  IDispatch* callbacks() const;
  // Chooses the command `callback` of the menu for `docType` as the host does:
  // the enable method, then the command, each by GetIDsOfNames and Invoke.
  sim::CommandOutcome ChooseCommand(int32_t docType, std::string_view callback);

 private:
  std::shared_ptr<FakeState> state_;
  Microsoft::WRL::ComPtr<IDispatch> application_;
  long hostReferences_ = 0;
  void Unregister();

  DWORD runningCookie_ = 0;
  bool registered_ = false;
  bool machineKey_ = false;
};

}  // namespace ponderix::winsim
