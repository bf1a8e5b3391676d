#include "engine/writers/writers.h"

namespace lumeval {

bool WriteLrc(WriterContext&) { return true; }
bool WriteKsc(WriterContext&) { return true; }

}  // namespace lumeval
