// The late-bound host adapter: the host contract (addin/host.h) carried out
// on the running host's automation objects through IDispatch, by member name.
//
// Every contract operation maps to one host member in one table (HostMembers),
// with the member's kind. Each wrapped object holds exactly one COM reference,
// released when the core drops its Ref. DISPIDs are asked once per object type
// and member name and kept for everything reached from one application (and,
// through the connector, for every run). A failed call, an exception the host
// raises, a member the host lacks or an answer of the wrong type throws
// HostError(operation, "Member: host text", HRESULT). Where only newer hosts
// have a member, an older host gets the member's documented predecessor.
//
// MakeHostConnector and WrapHostApplication (win32/platform.h) are the entry
// points; this header adds what the tests and the documentation read.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace ponderix::win32 {

enum class HostObjectType { kApplication, kDocument, kSelectionMgr, kComponent, kUserUnit, kFrame };

enum class MemberKind { kMethod, kPropertyGet, kPropertyPut };

// The host calls, one per row of HostMembers(), in the same order.
enum class HostCall : size_t {
  kActiveDoc,
  kSendMsgToUser2,
  kOpenDoc6,
  kActivateDoc2,
  kGetDocumentDependencies2,
  kGetFirstDocument,
  kGetNext,
  kSetAddinCallbackInfo2,
  kSetAddinCallbackInfo,
  kGetLocalizedMenuName,
  kAddMenuItem2,
  kRemoveMenu,
  kFrame,
  kGetSubMenuCount,
  kGetPathName,
  kGetType,
  kSelectionManager,
  kGetUserUnit,
  kSpecificUnitType,
  kGetUserPreferenceDoubleValue,
  kSetUserPreferenceDoubleValue,
  kVisibleGet,
  kVisiblePut,
  kGetSelectedObjectCount2,
  kGetSelectedObjectsComponent4,
  kGetSelectedObjectsComponent3,
  kGetSelectedObjectsComponent2,
  kGetModelDoc2,
  kCount
};

struct HostMember {
  HostCall call;
  std::string_view operation;  // the contract operation a failure names
  HostObjectType type;         // the host object that has the member
  std::wstring_view name;      // the host's member name
  MemberKind kind;
  int arguments;  // how many the adapter passes (a property put: the value)
  // The older member to call when the host reports it lacks this one
  // (DISP_E_UNKNOWNNAME); kCount for none.
  HostCall predecessor = HostCall::kCount;
};

// The table, indexed by HostCall.
std::span<const HostMember> HostMembers();

}  // namespace ponderix::win32
