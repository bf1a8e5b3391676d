// The frame rate of frame-counted formats (MicroDVD).
#pragma once

#include <cmath>

namespace lumeval {

/// The rate of a frame-counted file that names none and was given none:
/// NTSC film, the rate most such files were made for.
inline constexpr double kDefaultFrameRate = 23.976;

/// `rate` when it is a rate a file can have (above 0, at most 1000 frames a
/// second), else 0 ("none given").
inline double UsableFrameRate(double rate) {
    return std::isfinite(rate) && rate > 0 && rate <= 1000 ? rate : 0;
}

}  // namespace lumeval
