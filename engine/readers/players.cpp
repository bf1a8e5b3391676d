#include "engine/readers/readers.h"

namespace lumeval {

void ReadSncLine(std::string_view, ReaderContext&) {}
void ReadQlyLine(std::string_view, ReaderContext&) {}
void ReadStlLine(std::string_view, ReaderContext&) {}
void ReadVsfLine(std::string_view, ReaderContext&) {}
void ReadDksLine(std::string_view, ReaderContext&) {}

}  // namespace lumeval
