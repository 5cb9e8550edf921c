#pragma once

// The picture of timed runs drawn on a cairo context: the figure of each segment over time (one
// line per device, left scale), the hottest temperature (dashed, first right scale) and the
// clock (dotted, second right scale) where they were read, a red mark on each segment whose
// product differed, a vertical line where throttling began, a title and a legend.

#include "app/burn_in_series.h"

#include <cairo.h>
#include <vector>

namespace ventaro::plot {

/// The picture's width, and its height without the legend (pixels for PNG, points for SVG).
inline constexpr double kPictureWidth = 1200.0;
inline constexpr double kPictureHeight = 640.0;

/// The picture's height with the legend of `series`.
double pictureHeight(const std::vector<BurnInSeries>& series);

/// Draws the picture of `series` over the whole of a `width` × `height` target.
void drawPicture(cairo_t* cr, double width, double height, const std::vector<BurnInSeries>& series);

} // namespace ventaro::plot
