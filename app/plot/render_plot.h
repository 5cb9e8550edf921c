#pragma once

// The picture of timed runs written to a file: PNG or SVG, chosen by the file's extension.

#include "app/burn_in_series.h"

#include <string>
#include <vector>

namespace ventaro {

/// Draws `series` (one line per device; see plot_drawing.h for what the picture shows) and
/// writes it to `path`, a PNG for ".png" and an SVG for ".svg" (any case). The file appears
/// whole or not at all: it is written beside the target and renamed over it, and a link at
/// `path` is replaced, not followed. False, with the reason in `why` and no file left behind,
/// for any other extension or when the picture cannot be drawn or written.
bool renderPlot(const std::vector<BurnInSeries>& series, const std::string& path, std::string& why);

/// Frees what cairo and the font library keep for the rest of the process once text has been
/// drawn (font caches, which a leak check at exit would report). Call it once, at exit, when no
/// picture is being drawn on any thread.
void releasePictureCaches();

} // namespace ventaro
