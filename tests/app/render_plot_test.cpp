#include "app/plot/plot_drawing.h"
#include "app/plot/plot_scale.h"
#include "app/plot/render_plot.h"
#include "tests/app/burn_in_fixtures.h"

#include <cairo.h>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <set>
#include <sys/resource.h>

namespace ventaro::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// The font caches are released once every test has run, as the program does at exit.
class ReleaseCachesAtExit : public ::testing::Environment {
public:
  void TearDown() override { releasePictureCaches(); }
};
const ::testing::Environment* const kReleaseCaches =
    ::testing::AddGlobalTestEnvironment(new ReleaseCachesAtExit);

class RenderPlot : public ::testing::Test {
protected:
  void SetUp() override {
    std::string pattern = fs::path(::testing::TempDir()) / "ventaro-plot-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    directory = pattern;
  }
  void TearDown() override { fs::remove_all(directory); }

  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
      names.push_back(entry.path().filename());
    }
    return names;
  }

  static std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // Two cards: one that throttles and one that gets a wrong element, sensors on both.
  static std::vector<BurnInSeries> twoDevices() {
    BurnInSeries hot = recordedSeries({{2, 5120, 1650, 62},
                                       {4, 5100, 1650, 74},
                                       {6, 5090, 1640, 83},
                                       {8, 4300, 1350, 88},
                                       {10, 4310, 1360, 87}});
    BurnInSeries flaky = recordedSeries(
        {{2, 3000, 1200, 55}, {4, 2990, 1210, 58, 4}, {6, 3010, 1205, 60}, {8, 3000, 1200, 61}});
    flaky.deviceId = "vulkan:1";
    flaky.deviceName = "Other GPU 4 GB";
    return {hot, flaky};
  }

  fs::path directory;
};

std::uint32_t bigEndian(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
  }
  return value;
}

TEST_F(RenderPlot, WritesAPngWithSomethingDrawnOnIt) {
  const fs::path target = directory / "burn-in.PNG";
  std::string why;
  ASSERT_TRUE(renderPlot(twoDevices(), target, why)) << why;
  EXPECT_THAT(entries(), ::testing::ElementsAre("burn-in.PNG"));

  const std::string png = contents(target);
  ASSERT_GT(png.size(), 33U);
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  EXPECT_EQ(bigEndian(png, 16), plot::kPictureWidth);
  EXPECT_EQ(bigEndian(png, 20), plot::pictureHeight(twoDevices()));

  // Lines in several colours, text and marks: many pixels that are not the white background.
  cairo_surface_t* image = cairo_image_surface_create_from_png(target.c_str());
  ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
  const unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  std::set<std::uint32_t> colours;
  long drawn = 0;
  for (int y = 0; y < cairo_image_surface_get_height(image); ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
    for (int x = 0; x < cairo_image_surface_get_width(image); ++x) {
      const std::uint32_t pixel = row[x] & 0xFFFFFF;
      colours.insert(pixel);
      drawn += pixel != 0xFFFFFF ? 1 : 0;
    }
  }
  cairo_surface_destroy(image);
  EXPECT_GT(drawn, 10000);
  EXPECT_GT(colours.size(), 20U);
}

TEST_F(RenderPlot, WritesAnSvgAndAPictureWithoutSegments) {
  std::string why;
  ASSERT_TRUE(renderPlot(twoDevices(), directory / "burn-in.svg", why)) << why;
  const std::string svg = contents(directory / "burn-in.svg");
  EXPECT_EQ(svg.rfind("<?xml", 0), 0U);
  EXPECT_THAT(svg, HasSubstr("<svg"));
  EXPECT_THAT(svg, HasSubstr("</svg>"));

  // A run stopped before its first segment still gets its (empty) axes.
  ASSERT_TRUE(renderPlot({recordedSeries({})}, directory / "empty.png", why)) << why;
  ASSERT_TRUE(renderPlot({}, directory / "none.svg", why)) << why;
}

TEST_F(RenderPlot, ReplacesALinkAtTheTargetWithoutFollowingIt) {
  const fs::path victim = directory / "victim.txt";
  std::ofstream(victim) << "keep";
  fs::create_symlink(victim, directory / "burn-in.png");
  std::string why;
  ASSERT_TRUE(renderPlot(twoDevices(), directory / "burn-in.png", why)) << why;
  EXPECT_EQ(contents(victim), "keep");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(directory / "burn-in.png")));
  EXPECT_EQ(contents(directory / "burn-in.png").substr(1, 3), "PNG");
}

TEST_F(RenderPlot, FailuresSayWhyAndLeaveNothingBehind) {
  const std::pair<fs::path, const char*> cases[] = {
      {directory / "burn-in.jpg", ".png or .svg"},
      {directory / "burn-in", ".png or .svg"},
      {directory / "missing" / "burn-in.png", "No such file or directory"},
      {directory / "folder.svg", "Is a directory"},
  };
  fs::create_directory(directory / "folder.svg");
  for (const auto& [target, reason] : cases) {
    std::string why;
    EXPECT_FALSE(renderPlot(twoDevices(), target, why)) << target;
    EXPECT_THAT(why, HasSubstr(reason)) << target;
    EXPECT_THAT(entries(), ::testing::ElementsAre("folder.svg")) << target;
  }
}

// A disk that fills up while the picture is written: the partial file is removed. In a child
// process, whose file-size limit stands for the full disk.
TEST_F(RenderPlot, AWriteThatFailsHalfwayLeavesNothing) {
  const auto writeWithFullDisk = [this] {
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_IGN);
    std::string why;
    const bool written = renderPlot(twoDevices(), directory / "burn-in.png", why);
    std::fprintf(stderr, "%s\n", why.c_str());
    std::_Exit(!written && entries().empty() ? 0 : 1);
  };
  EXPECT_EXIT(writeWithFullDisk(), ::testing::ExitedWithCode(0), "File too large");
}

TEST(PlotScale, RoundEndsAndSteps) {
  const std::tuple<double, double, double, double, double> cases[] = {
      // low, high -> low, high, step
      {0, 5120, 0, 6000, 1000},
      {61, 88, 60, 90, 5},
      {1650, 1650, 1400, 1900, 100}, // widened by a tenth each way
      {0, 0, -1, 1, 0.5},
      {std::nan(""), 3, 0, 1, 0.2},
  };
  for (const auto& [low, high, roundLow, roundHigh, step] : cases) {
    const plot::Scale scale = plot::roundScale(low, high, 6);
    EXPECT_DOUBLE_EQ(scale.low, roundLow) << low << ".." << high;
    EXPECT_DOUBLE_EQ(scale.high, roundHigh) << low << ".." << high;
    EXPECT_DOUBLE_EQ(scale.step, step) << low << ".." << high;
  }
  EXPECT_THAT(plot::ticksOf({0, 1, 0.25}), ::testing::ElementsAre(0, 0.25, 0.5, 0.75, 1));
  EXPECT_THAT(plot::ticksOf({0, 1e9, 1}), IsEmpty()); // bounded
  EXPECT_EQ(plot::tickLabel(0.25, 0.05), "0.25");
  EXPECT_EQ(plot::tickLabel(-1e-17, 0.5), "0.0");
  EXPECT_EQ(plot::tickLabel(6000, 1000), "6000");
}

} // namespace
} // namespace ventaro::testing
