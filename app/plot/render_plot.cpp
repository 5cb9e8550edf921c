#include "app/plot/render_plot.h"

#include "app/plot/plot_drawing.h"
#include "platform/display_text.h"

#include <algorithm>
#include <cairo-svg.h>
#include <cctype>
#include <filesystem>
#include <fontconfig/fontconfig.h>
#include <glib.h>
#include <memory>
#include <string>

namespace ventaro {

namespace {

enum class Format { png, svg };

// Where cairo's output goes: the picture's bytes, written to the file once it is whole.
cairo_status_t writeToSink(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
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

cairo_status_t writePicture(Format format, const std::vector<BurnInSeries>& series,
                            std::string& sink) {
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
  std::string picture;
  const cairo_status_t status = writePicture(*format, series, picture);
  if (status != CAIRO_STATUS_SUCCESS) {
    why = "cannot draw " + displayText(path) + ": " + cairo_status_to_string(status);
    return false;
  }
  // GLib writes a new file beside the target, syncs it and renames it over the target: the
  // picture appears whole or not at all, a link at the target is replaced, never followed,
  // and a failed write leaves nothing behind.
  GError* error = nullptr;
  if (g_file_set_contents_full(path.c_str(), picture.data(), static_cast<gssize>(picture.size()),
                               static_cast<GFileSetContentsFlags>(G_FILE_SET_CONTENTS_CONSISTENT |
                                                                  G_FILE_SET_CONTENTS_DURABLE),
                               0666, &error) == FALSE) {
    why = error->message;
    g_error_free(error);
    return false;
  }
  return true;
}

void releasePictureCaches() {
  cairo_debug_reset_static_data();
  FcFini();
}

} // namespace ventaro
