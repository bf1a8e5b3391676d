#include "engine/writers/writers.h"

namespace lumeval {

bool WriteSnc(WriterContext&) { return true; }
bool WriteQly(WriterContext&) { return true; }
bool WriteStl(WriterContext&) { return true; }
bool WriteVsf(WriterContext&) { return true; }
bool WriteDks(WriterContext&) { return true; }

}  // namespace lumeval
