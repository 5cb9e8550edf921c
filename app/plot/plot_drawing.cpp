#include "app/plot/plot_drawing.h"

#include "app/burn_in_verdict.h"
#include "app/plot/plot_scale.h"
#include "platform/display_text.h"

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <string>

namespace ventaro::plot {

namespace {

struct Colour {
  double red, green, blue;
};

constexpr std::array<Colour, 6> kPalette = {{{0.12, 0.47, 0.71},
                                             {0.89, 0.42, 0.04},
                                             {0.17, 0.60, 0.17},
                                             {0.58, 0.40, 0.74},
                                             {0.55, 0.34, 0.29},
                                             {0.85, 0.40, 0.70}}};
constexpr Colour kErrorRed{0.84, 0.10, 0.11};
constexpr Colour kInk{0.15, 0.15, 0.15};
constexpr Colour kGrid{0.88, 0.88, 0.88};

// Room around the plot area, and the legend's rows.
constexpr double kLeft = 90.0, kRight = 70.0, kClockAxisRoom = 80.0, kTop = 60.0;
constexpr double kBottom = 70.0, kLegendRow = 22.0;
constexpr double kFontSize = 13.0, kTitleSize = 18.0, kTick = 5.0;

// The plot area, in device units.
struct Frame {
  double left, top, right, bottom;
};

// One value per segment end; none where it was not read, which breaks the line.
using Trace = std::vector<std::pair<double, std::optional<double>>>;

enum class Line { solid, dashed, dotted };

// The scales of a picture, shared by every device in it.
struct Scales {
  Scale time;
  double timeUnit = 1.0; // seconds per unit of the time scale
  const char* timeTitle = "Time (s)";
  Scale gflops;
  std::optional<Scale> temperature;
  std::optional<Scale> clock;
};

void setColour(cairo_t* cr, const Colour& colour) {
  cairo_set_source_rgb(cr, colour.red, colour.green, colour.blue);
}

// Text placed by its anchor: `alignX` 0 left, 0.5 centre, 1 right; centred vertically on `y`.
void showText(cairo_t* cr, const std::string& text, double x, double y, double alignX) {
  cairo_text_extents_t extents{};
  cairo_text_extents(cr, text.c_str(), &extents);
  cairo_move_to(cr, x - extents.x_advance * alignX, y - extents.y_bearing - extents.height / 2);
  cairo_show_text(cr, text.c_str());
}

void showTextTurned(cairo_t* cr, const std::string& text, double x, double y) {
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_rotate(cr, -1.5707963267948966);
  showText(cr, text, 0, 0, 0.5);
  cairo_restore(cr);
}

Trace traceOf(const BurnInSeries& series,
              const std::function<std::optional<double>(const SegmentRecord&)>& value) {
  Trace trace;
  for (const SegmentRecord& segment : series.segments) {
    trace.emplace_back(segment.t, value(segment));
  }
  return trace;
}

std::optional<double> figureOf(const SegmentRecord& segment) {
  return static_cast<double>(segment.gflops);
}
std::optional<double> temperatureOf(const SegmentRecord& segment) {
  const std::optional<telemetry::Reading> hottest = hottestTemperature(segment.sensors);
  return hottest ? std::optional<double>(hottest->value) : std::nullopt;
}
std::optional<double> clockOf(const SegmentRecord& segment) {
  return segmentClock(segment.sensors);
}

// The round scale over every value the traces hold, from `floor` when given.
std::optional<Scale> scaleOver(const std::vector<BurnInSeries>& series,
                               std::optional<double> (*value)(const SegmentRecord&),
                               std::optional<double> floor) {
  std::optional<double> low = floor, high;
  for (const BurnInSeries& one : series) {
    for (const SegmentRecord& segment : one.segments) {
      if (const std::optional<double> v = value(segment)) {
        low = std::min(low.value_or(*v), *v);
        high = std::max(high.value_or(*v), *v);
      }
    }
  }
  if (!high) {
    return std::nullopt;
  }
  return roundScale(*low, *high, 5);
}

Scales scalesFor(const std::vector<BurnInSeries>& series) {
  Scales scales;
  double end = 0.0;
  for (const BurnInSeries& one : series) {
    for (const SegmentRecord& segment : one.segments) {
      end = std::max(end, segment.t);
    }
  }
  constexpr double kMinute = 60.0, kHour = 3600.0;
  if (end > 3 * kHour) {
    scales.timeUnit = kHour;
    scales.timeTitle = "Time (h)";
  } else if (end > 3 * kMinute) {
    scales.timeUnit = kMinute;
    scales.timeTitle = "Time (min)";
  }
  scales.time = roundScale(0.0, end > 0.0 ? end / scales.timeUnit : 1.0, 8);
  scales.gflops = scaleOver(series, figureOf, 0.0).value_or(roundScale(0.0, 1.0));
  scales.temperature = scaleOver(series, temperatureOf, std::nullopt);
  scales.clock = scaleOver(series, clockOf, std::nullopt);
  return scales;
}

double xOf(const Frame& frame, const Scales& scales, double t) {
  return frame.left + scales.time.fraction(t / scales.timeUnit) * (frame.right - frame.left);
}
double yOf(const Frame& frame, const Scale& scale, double value) {
  return frame.bottom - scale.fraction(value) * (frame.bottom - frame.top);
}

void setLine(cairo_t* cr, Line line, double width) {
  static constexpr std::array<double, 2> kDashes = {8.0, 5.0};
  static constexpr std::array<double, 2> kDots = {2.0, 4.0};
  cairo_set_line_width(cr, width);
  switch (line) {
  case Line::solid:
    cairo_set_dash(cr, nullptr, 0, 0);
    break;
  case Line::dashed:
    cairo_set_dash(cr, kDashes.data(), kDashes.size(), 0);
    break;
  case Line::dotted:
    cairo_set_dash(cr, kDots.data(), kDots.size(), 0);
    break;
  }
}

void drawDot(cairo_t* cr, double x, double y, double radius) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x, y, radius, 0, 6.283185307179586);
  cairo_fill(cr);
}

// The trace as lines through its points; a point with no read neighbour, which a line would not
// show, as a dot.
void drawTrace(cairo_t* cr, const Frame& frame, const Scales& scales, const Scale& scale,
               const Trace& trace, const Colour& colour, Line line) {
  setColour(cr, colour);
  setLine(cr, line, line == Line::solid ? 2.0 : 1.5);
  std::vector<std::pair<double, double>> run;
  const auto endRun = [&] {
    if (run.size() == 1) {
      drawDot(cr, run.front().first, run.front().second, 3.0);
    } else if (run.size() > 1) {
      cairo_move_to(cr, run.front().first, run.front().second);
      for (const auto& [x, y] : run) {
        cairo_line_to(cr, x, y);
      }
      cairo_stroke(cr);
    }
    run.clear();
  };
  for (const auto& [t, value] : trace) {
    if (value) {
      run.emplace_back(xOf(frame, scales, t), yOf(frame, scale, *value));
    } else {
      endRun();
    }
  }
  endRun();
}

// A vertical scale at `x`: ticks, labels on the side away from the plot, and its title.
void drawValueAxis(cairo_t* cr, const Frame& frame, const Scale& scale, double x, bool onLeft,
                   const std::string& title) {
  const double side = onLeft ? -1.0 : 1.0;
  setColour(cr, kInk);
  setLine(cr, Line::solid, 1.0);
  cairo_move_to(cr, x, frame.top);
  cairo_line_to(cr, x, frame.bottom);
  double widest = 0.0;
  for (const double value : ticksOf(scale)) {
    const double y = yOf(frame, scale, value);
    cairo_move_to(cr, x, y);
    cairo_line_to(cr, x + side * kTick, y);
    const std::string label = tickLabel(value, scale.step);
    cairo_text_extents_t extents{};
    cairo_text_extents(cr, label.c_str(), &extents);
    widest = std::max(widest, extents.x_advance);
    showText(cr, label, x + side * (kTick + 3), y, onLeft ? 1.0 : 0.0);
  }
  cairo_stroke(cr);
  showTextTurned(cr, title, x + side * (kTick + 12 + widest), (frame.top + frame.bottom) / 2);
}

void drawGridAndTimeAxis(cairo_t* cr, const Frame& frame, const Scales& scales) {
  setLine(cr, Line::solid, 1.0);
  setColour(cr, kGrid);
  for (const double v : ticksOf(scales.gflops)) {
    cairo_move_to(cr, frame.left, yOf(frame, scales.gflops, v));
    cairo_line_to(cr, frame.right, yOf(frame, scales.gflops, v));
  }
  cairo_stroke(cr);

  setColour(cr, kInk);
  cairo_rectangle(cr, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top);
  const Scale& time = scales.time;
  for (const double v : ticksOf(time)) {
    const double x = xOf(frame, scales, v * scales.timeUnit);
    cairo_move_to(cr, x, frame.bottom);
    cairo_line_to(cr, x, frame.bottom + kTick);
    showText(cr, tickLabel(v, time.step), x, frame.bottom + kTick + 10, 0.5);
  }
  cairo_stroke(cr);
  showText(cr, scales.timeTitle, (frame.left + frame.right) / 2, frame.bottom + 42, 0.5);
}

void drawErrorMark(cairo_t* cr, double x, double y) {
  setColour(cr, kErrorRed);
  drawDot(cr, x, y, 5.0);
}

void drawDevice(cairo_t* cr, const Frame& frame, const Scales& scales, const BurnInSeries& one,
                const Colour& colour) {
  if (scales.temperature) {
    drawTrace(cr, frame, scales, *scales.temperature, traceOf(one, temperatureOf), colour,
              Line::dashed);
  }
  if (scales.clock) {
    drawTrace(cr, frame, scales, *scales.clock, traceOf(one, clockOf), colour, Line::dotted);
  }
  drawTrace(cr, frame, scales, scales.gflops, traceOf(one, figureOf), colour, Line::solid);
  for (const SegmentRecord& segment : one.segments) {
    if (segment.differingElements > 0) {
      drawErrorMark(cr, xOf(frame, scales, segment.t),
                    yOf(frame, scales.gflops, static_cast<double>(segment.gflops)));
    }
  }
  if (const std::optional<Throttling> throttling = judgeBurnIn(one).throttling) {
    const double x = xOf(frame, scales, throttling->t);
    setColour(cr, colour);
    setLine(cr, Line::dashed, 1.0);
    cairo_move_to(cr, x, frame.top);
    cairo_line_to(cr, x, frame.bottom);
    cairo_stroke(cr);
    showText(cr, "throttled", x + 4, frame.top + 10, 0.0);
  }
}

// A legend entry: a short line or mark, then its text; returns where the next one starts.
double legendEntry(cairo_t* cr, double x, double y, const Colour& colour, std::optional<Line> line,
                   const std::string& text) {
  constexpr double kSwatch = 30.0, kGap = 8.0, kAfter = 24.0;
  if (line) {
    setColour(cr, colour);
    setLine(cr, *line, 2.0);
    cairo_move_to(cr, x, y);
    cairo_line_to(cr, x + kSwatch, y);
    cairo_stroke(cr);
  } else {
    drawErrorMark(cr, x + kSwatch / 2, y);
  }
  setColour(cr, kInk);
  showText(cr, text, x + kSwatch + kGap, y, 0.0);
  cairo_text_extents_t extents{};
  cairo_text_extents(cr, text.c_str(), &extents);
  return x + kSwatch + kGap + extents.x_advance + kAfter;
}

template <typename Predicate> bool anySegment(const BurnInSeries& one, Predicate predicate) {
  return std::any_of(one.segments.begin(), one.segments.end(), predicate);
}

void drawLegend(cairo_t* cr, const Frame& frame, const std::vector<BurnInSeries>& series) {
  double y = frame.bottom + kBottom + kLegendRow / 2;
  bool anyErrors = false;
  for (std::size_t index = 0; index < series.size(); ++index) {
    const BurnInSeries& one = series[index];
    const Colour& colour = kPalette[index % kPalette.size()];
    const std::string name = displayText(one.deviceName) + " (" + displayText(one.deviceId) + ")";
    double x = legendEntry(cr, frame.left, y, colour, Line::solid, name + " GFLOPS");
    if (anySegment(one, [](const SegmentRecord& s) { return temperatureOf(s).has_value(); })) {
      x = legendEntry(cr, x, y, colour, Line::dashed, "hottest °C");
    }
    if (anySegment(one, [](const SegmentRecord& s) { return clockOf(s).has_value(); })) {
      legendEntry(cr, x, y, colour, Line::dotted, "clock MHz");
    }
    anyErrors = anyErrors ||
                anySegment(one, [](const SegmentRecord& s) { return s.differingElements > 0; });
    y += kLegendRow;
  }
  if (anyErrors) {
    legendEntry(cr, frame.left, y, kErrorRed, std::nullopt,
                "segment whose product differed from the first");
  }
}

std::string titleOf(const std::vector<BurnInSeries>& series) {
  if (series.size() == 1) {
    return "Ventaro burn-in: " + displayText(series.front().deviceName);
  }
  return "Ventaro burn-in: " + std::to_string(series.size()) + " devices";
}

} // namespace

double pictureHeight(const std::vector<BurnInSeries>& series) {
  return kPictureHeight + kLegendRow * static_cast<double>(series.size() + 1);
}

void drawPicture(cairo_t* cr, double width, double height,
                 const std::vector<BurnInSeries>& series) {
  const Scales scales = scalesFor(series);
  const double legend = kLegendRow * static_cast<double>(series.size() + 1);
  const Frame frame{kLeft, kTop, width - kRight - (scales.clock ? kClockAxisRoom : 0.0),
                    height - kBottom - legend};

  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, kTitleSize);
  setColour(cr, kInk);
  showText(cr, titleOf(series), width / 2, kTop / 2, 0.5);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, kFontSize);

  drawGridAndTimeAxis(cr, frame, scales);
  drawValueAxis(cr, frame, scales.gflops, frame.left, true, "GFLOPS");
  if (scales.temperature) {
    drawValueAxis(cr, frame, *scales.temperature, frame.right, false, "Hottest temperature (°C)");
  }
  if (scales.clock) {
    drawValueAxis(cr, frame, *scales.clock, frame.right + kClockAxisRoom, false, "Clock (MHz)");
  }
  cairo_save(cr);
  cairo_rectangle(cr, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top);
  cairo_clip(cr);
  for (std::size_t index = 0; index < series.size(); ++index) {
    drawDevice(cr, frame, scales, series[index], kPalette[index % kPalette.size()]);
  }
  cairo_restore(cr);
  if (std::all_of(series.begin(), series.end(),
                  [](const BurnInSeries& one) { return one.segments.empty(); })) {
    setColour(cr, kInk);
    showText(cr, "No segment was measured.", (frame.left + frame.right) / 2,
             (frame.top + frame.bottom) / 2, 0.5);
  }
  drawLegend(cr, frame, series);
}

} // namespace ventaro::plot
