// Scenes and results of the simulator as JSON (formats in docs/simulator.md).
#pragma once

#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>

#include "sim/session.h"
#include "sim/sim_host.h"

namespace ponderix::sim {

// Bad input, with the file and line it was found at.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses and checks a scene. Throws InputError naming `fileName` and the line.
Scene ParseScene(std::string_view text, const std::string& fileName);

// The result document, indented.
std::string ResultJson(const SessionResult& result);
// The same, written to `out` as it is made, for results too large to hold twice.
void WriteResultJson(std::ostream& out, const SessionResult& result);

}  // namespace ponderix::sim
