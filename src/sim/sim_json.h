// Scenes and results of the simulator as JSON (formats in docs/simulator.md).
#pragma once

#include <cstddef>
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
// Where `padded`, kScenePadding bytes after `text` may be read (their values
// do not matter), and a large scene is read in place instead of copied first.
Scene ParseScene(std::string_view text, const std::string& fileName, bool padded = false);
inline constexpr size_t kScenePadding = 64;

// The result document, indented.
std::string ResultJson(const SessionResult& result);
// The same, written to `out` as it is made, for results too large to hold twice.
void WriteResultJson(std::ostream& out, const SessionResult& result);

}  // namespace ponderix::sim
