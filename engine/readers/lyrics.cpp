#include "engine/readers/readers.h"

namespace lumeval {

void ReadLrcLine(std::string_view, ReaderContext&) {}
void ReadKscLine(std::string_view, ReaderContext&) {}
void ReadKrcLine(std::string_view, ReaderContext&) {}

}  // namespace lumeval
