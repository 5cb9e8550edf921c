#include "app/plot/render_plot.h"

#include "app/plot/plot_drawing.h"
#include "app/plot/replacing_file.h"
#include "platform/display_text.h"

#include <algorithm>
#include <cairo-svg.h>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fontconfig/fontconfig.h>
#include <memory>
#include <unistd.h>

namespace ventaro {

namespace {

enum class Format { png, svg };

// Where cairo's output goes: the temporary file, and the first write error.
struct Sink {
  int fd = -1;
  int error = 0;
};

cairo_status_t writeToSink(void* closure, const unsigned char* data, unsigned int length) {
  Sink& sink = *static_cast<Sink*>(closure);
  while (length > 0) {
    const ssize_t count = ::write(sink.fd, data, length);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      sink.error = count < 0 ? errno : EIO;
      return CAIRO_STATUS_WRITE_ERROR;
    }
    data += count;
    length -= static_cast<unsigned int>(count);
  }
  return CAIRO_STATUS_SUCCESS;
}

std::optional<Format> formatOf(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".png") {
    return Format::png;
  }
  if (extension == ".svg") {
    return Format::svg;
  }
  return std::nullopt;
}

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

// Draws on `surface`, and says what went wrong when anything did.
cairo_status_t draw(cairo_surface_t* surface, double width, double height,
                    const std::vector<BurnInSeries>& series) {
  const Context cr(cairo_create(surface), cairo_destroy);
  plot::drawPicture(cr.get(), width, height, series);
  return cairo_status(cr.get());
}

cairo_status_t writePicture(Format format, const std::vector<BurnInSeries>& series, Sink& sink) {
  const double width = plot::kPictureWidth, height = plot::pictureHeight(series);
  if (format == Format::svg) {
    const Surface surface(cairo_svg_surface_create_for_stream(writeToSink, &sink, width, height),
                          cairo_surface_destroy);
    cairo_status_t status = draw(surface.get(), width, height, series);
    cairo_surface_finish(surface.get());
    return status != CAIRO_STATUS_SUCCESS ? status : cairo_surface_status(surface.get());
  }
  const Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(width),
                                                   static_cast<int>(height)),
                        cairo_surface_destroy);
  const cairo_status_t status = draw(surface.get(), width, height, series);
  return status != CAIRO_STATUS_SUCCESS
             ? status
             : cairo_surface_write_to_png_stream(surface.get(), writeToSink, &sink);
}

} // namespace

bool renderPlot(const std::vector<BurnInSeries>& series, const std::string& path,
                std::string& why) {
  const std::optional<Format> format = formatOf(path);
  if (!format) {
    why = "cannot write " + displayText(path) + ": a picture's name must end in .png or .svg";
    return false;
  }
  plot::ReplacingFile file(path);
  if (!file.open(why)) {
    return false;
  }
  Sink sink{file.fd()};
  const cairo_status_t status = writePicture(*format, series, sink);
  if (status != CAIRO_STATUS_SUCCESS) {
    why = sink.error != 0
              ? file.failure(sink.error)
              : "cannot draw " + displayText(path) + ": " + cairo_status_to_string(status);
    return false;
  }
  return file.commit(why);
}

void releasePictureCaches() {
  cairo_debug_reset_static_data();
  FcFini();
}

} // namespace ventaro
