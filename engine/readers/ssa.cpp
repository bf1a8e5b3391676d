#include "engine/readers/readers.h"

namespace lumeval {

void ReadSsaLine(std::string_view, ReaderContext&) {}

}  // namespace lumeval
