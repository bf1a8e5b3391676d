#include "engine/writers/writers.h"

namespace lumeval {

bool WriteKrc(WriterContext&) { return true; }
bool WriteSami(WriterContext&) { return true; }

}  // namespace lumeval
