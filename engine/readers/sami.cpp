#include "engine/readers/readers.h"

namespace lumeval {

void ReadSamiLine(std::string_view, ReaderContext&) {}

}  // namespace lumeval
