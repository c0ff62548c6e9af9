// The bundled example scene (examples/typical.json), compiled in.
#pragma once

namespace ponderix::sim {

extern const char* const kExampleScene;

}  // namespace ponderix::sim
