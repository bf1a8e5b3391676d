#include "engine/writers/writers.h"

namespace lumeval {

bool WriteSsa(WriterContext&) { return true; }

}  // namespace lumeval
