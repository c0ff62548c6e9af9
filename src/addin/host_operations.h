// The host contract's operations as one list, with the host member that
// carries out each of them. The simulated host's failure names, the Windows
// adapter's member table and the Windows tests' fake host all come from it,
// so adding a member means the contract (host.h), a row here and the bodies
// of the two implementations.
//
// Plain data: no OS header. Member names are wide strings, as the host's
// automation interface takes them.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace ponderix {

enum class HostObjectType { kApplication, kDocument, kSelectionMgr, kComponent, kUserUnit, kFrame };

enum class MemberKind { kMethod, kPropertyGet, kPropertyPut };

// X(call, contract operation, host object, member, kind, arguments, predecessor)
//
// `call` names one way of carrying out an operation; `arguments` is how many
// the adapter passes (a property put: the value). `predecessor` is the older
// member to call when the host lacks this one, kCount for none. An operation
// without a member ("") reaches the host otherwise: GetApplication through the
// running object table, EnumerateDocuments as GetFirstDocument and GetNext.
//
// AddMenuItem2 takes seven arguments (the bitmap path arrived only with
// AddMenuItem3); ActivateDoc2 is the one that takes (name, silent, errors) as
// the contract does. Hosts before 2015 lack SetAddinCallbackInfo2 (64-bit
// handle), and older ones GetSelectedObjectsComponent4 and 3
// (GetSelectedObjectsComponent2 takes the index only). GetHWndx64 is the
// frame's handle in 64-bit hosts; GetHWnd, 32 bits wide, in 32-bit ones.
#define PONDERIX_HOST_OPERATIONS(X)                                                                          \
  X(kGetApplication, "GetApplication", kApplication, "", kMethod, 0, kCount)                                 \
  X(kActiveDoc, "GetActiveDocument", kApplication, "ActiveDoc", kPropertyGet, 0, kCount)                     \
  X(kSendMsgToUser2, "ShowUserMessage", kApplication, "SendMsgToUser2", kMethod, 3, kCount)                  \
  X(kOpenDoc6, "OpenDocument", kApplication, "OpenDoc6", kMethod, 6, kCount)                                 \
  X(kActivateDoc2, "ActivateDocument", kApplication, "ActivateDoc2", kMethod, 3, kCount)                     \
  X(kGetDocumentDependencies2, "ListDependencies", kApplication, "GetDocumentDependencies2", kMethod, 4,     \
    kCount)                                                                                                  \
  X(kEnumerateDocuments, "EnumerateDocuments", kApplication, "", kMethod, 0, kCount)                         \
  X(kGetFirstDocument, "Reset", kApplication, "GetFirstDocument", kMethod, 0, kCount)                        \
  X(kGetNext, "Next", kDocument, "GetNext", kMethod, 0, kCount)                                              \
  X(kSetAddinCallbackInfo2, "RegisterCallbackTarget", kApplication, "SetAddinCallbackInfo2", kMethod, 3,     \
    kSetAddinCallbackInfo)                                                                                   \
  X(kSetAddinCallbackInfo, "RegisterCallbackTarget", kApplication, "SetAddinCallbackInfo", kMethod, 3,       \
    kCount)                                                                                                  \
  X(kGetLocalizedMenuName, "LocalizedMenuName", kApplication, "GetLocalizedMenuName", kMethod, 1, kCount)    \
  X(kAddMenuItem2, "AddMenuCommand", kApplication, "AddMenuItem2", kMethod, 7, kCount)                       \
  X(kRemoveMenu, "RemoveMenuEntry", kApplication, "RemoveMenu", kMethod, 3, kCount)                          \
  X(kFrame, "MainFrame", kApplication, "Frame", kMethod, 0, kCount)                                          \
  X(kGetSubMenuCount, "MenuItemCount", kFrame, "GetSubMenuCount", kMethod, 2, kCount)                        \
  X(kGetHWndx64, "WindowHandle", kFrame, "GetHWndx64", kMethod, 0, kGetHWnd)                                 \
  X(kGetHWnd, "WindowHandle", kFrame, "GetHWnd", kMethod, 0, kCount)                                         \
  X(kGetPathName, "GetPathName", kDocument, "GetPathName", kMethod, 0, kCount)                               \
  X(kGetType, "GetType", kDocument, "GetType", kMethod, 0, kCount)                                           \
  X(kSelectionManager, "SelectionManager", kDocument, "SelectionManager", kPropertyGet, 0, kCount)           \
  X(kGetUserUnit, "GetUserUnit", kDocument, "GetUserUnit", kMethod, 1, kCount)                               \
  X(kSpecificUnitType, "UnitCode", kUserUnit, "SpecificUnitType", kPropertyGet, 0, kCount)                   \
  X(kGetUserPreferenceDoubleValue, "GetUserPreferenceDoubleValue", kDocument,                                \
    "GetUserPreferenceDoubleValue", kMethod, 1, kCount)                                                      \
  X(kSetUserPreferenceDoubleValue, "SetUserPreferenceDoubleValue", kDocument,                                \
    "SetUserPreferenceDoubleValue", kMethod, 2, kCount)                                                      \
  X(kVisibleGet, "Visible", kDocument, "Visible", kPropertyGet, 0, kCount)                                   \
  X(kVisiblePut, "SetVisible", kDocument, "Visible", kPropertyPut, 1, kCount)                                \
  X(kGetSelectedObjectCount2, "SelectedObjectCount", kSelectionMgr, "GetSelectedObjectCount2", kMethod, 1,   \
    kCount)                                                                                                  \
  X(kGetSelectedObjectsComponent4, "SelectedObjectComponent", kSelectionMgr, "GetSelectedObjectsComponent4", \
    kMethod, 2, kGetSelectedObjectsComponent3)                                                               \
  X(kGetSelectedObjectsComponent3, "SelectedObjectComponent", kSelectionMgr, "GetSelectedObjectsComponent3", \
    kMethod, 2, kGetSelectedObjectsComponent2)                                                               \
  X(kGetSelectedObjectsComponent2, "SelectedObjectComponent", kSelectionMgr, "GetSelectedObjectsComponent2", \
    kMethod, 1, kCount)                                                                                      \
  X(kGetModelDoc2, "ComponentDocument", kComponent, "GetModelDoc2", kMethod, 0, kCount)

// clang-format off
// One per row of the list, in its order.
enum class HostCall : size_t {
#define PONDERIX_HOST_CALL(call, operation, type, member, kind, arguments, predecessor) call,
  PONDERIX_HOST_OPERATIONS(PONDERIX_HOST_CALL)
#undef PONDERIX_HOST_CALL
  kCount
};
// clang-format on

struct HostMember {
  HostCall call;
  std::string_view operation;  // the contract operation a failure names
  HostObjectType type;         // the host object that has the member
  std::wstring_view name;      // the host's member name; empty for none
  MemberKind kind;
  int arguments;
  HostCall predecessor;
};

// clang-format off
// The list as a table indexed by HostCall.
inline constexpr std::array<HostMember, static_cast<size_t>(HostCall::kCount)> kHostMembers = {{
#define PONDERIX_HOST_MEMBER(call, operation, type, member, kind, arguments, predecessor) \
  {HostCall::call, operation, HostObjectType::type, L"" member, MemberKind::kind, arguments, \
   HostCall::predecessor},
  PONDERIX_HOST_OPERATIONS(PONDERIX_HOST_MEMBER)
#undef PONDERIX_HOST_MEMBER
}};
// clang-format on

// How many contract operations the list names (an operation may have several rows).
constexpr size_t HostOperationCount() {
  size_t count = 0;
  for (size_t i = 0; i < kHostMembers.size(); ++i) {
    bool seen = false;
    for (size_t j = 0; j < i; ++j) seen = seen || kHostMembers[j].operation == kHostMembers[i].operation;
    if (!seen) ++count;
  }
  return count;
}

// Every contract operation once, in the list's order: the names a failure
// carries and a scene's fault injection takes.
inline constexpr auto kContractOperations = [] {
  std::array<std::string_view, HostOperationCount()> names{};
  size_t next = 0;
  for (const HostMember& m : kHostMembers) {
    bool seen = false;
    for (size_t j = 0; j < next; ++j) seen = seen || names[j] == m.operation;
    if (!seen) names[next++] = m.operation;
  }
  return names;
}();

}  // namespace ponderix
