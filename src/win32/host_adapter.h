// The late-bound host adapter: the host contract (addin/host.h) carried out
// on the running host's automation objects through IDispatch, by member name.
//
// Every contract operation maps to its host member, with the member's kind, in
// the one list of addin/host_operations.h. Each wrapped object holds exactly
// one COM reference, released when the core drops its Ref. DISPIDs are asked
// once per type (the GUID of the object's type information) and member name
// and kept for everything reached from one application (and, through the
// connector, for every run); an object without type information is asked
// itself, and its answers are not shared. A failed call,
// an exception the host raises, a member the host lacks or an answer of the
// wrong type throws HostError(operation, "Member: host text", HRESULT). Where
// only newer hosts have a member, an older host gets the member's documented
// predecessor.
//
// MakeHostConnector and WrapHostApplication (win32/platform.h) are the entry
// points; this header adds what the tests and the documentation read.
#pragma once

#include <span>

#include "addin/host_operations.h"

namespace ponderix::win32 {

// The host's members, one per HostCall: the list of addin/host_operations.h.
std::span<const HostMember> HostMembers();

}  // namespace ponderix::win32
