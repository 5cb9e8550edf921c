// The Vulkan backend's tests and one full start of the real binary on the first Vulkan device
// (lavapipe where there is no GPU), run once more under the Khronos validation layer with
// synchronization validation and the best-practice checks on. A software device runs
// dispatches in order and so hides a missing barrier that a GPU would turn into wrong
// results; the layer does not. It writes what it finds to a file: any error fails the test,
// and its warnings are printed.

#include "tests/app/ventaro_process.h"

#include <fstream>
#include <gmock/gmock.h>
#include <sstream>

namespace ventaro::testing {
namespace {

using ::testing::HasSubstr;

class UnderValidation : public VentaroHome {
protected:
  void SetUp() override {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the runs under the validation layer are made in the plain build only";
#endif
    VentaroHome::SetUp();
    std::ofstream(settingsFile())
        << "khronos_validation.debug_action = VK_DBG_LAYER_ACTION_LOG_MSG\n"
        << "khronos_validation.log_filename = " << logFile() << "\n"
        << "khronos_validation.report_flags = error,warn,perf\n"
        << "khronos_validation.enable_message_limit = false\n"
        << "khronos_validation.enables = "
           "VK_VALIDATION_FEATURE_ENABLE_SYNCHRONIZATION_VALIDATION_EXT,"
           "VK_VALIDATION_FEATURE_ENABLE_BEST_PRACTICES_EXT\n";
    std::vector<std::string> loaderDebug = environment();
    loaderDebug.emplace_back("VK_LOADER_DEBUG=layer");
    const Outcome listed = run({"--list-devices"}, std::nullopt, {}, loaderDebug);
    if (listed.out.find("vulkan:0\t") == std::string::npos) {
      GTEST_SKIP() << "no Vulkan device listed here:\n" << listed.out << listed.err;
    }
    if (listed.err.find("Insert instance layer \"VK_LAYER_KHRONOS_validation\"") ==
        std::string::npos) {
      GTEST_SKIP() << "the Khronos validation layer is not installed (vulkan-validationlayers)";
    }
    std::filesystem::remove(logFile());
  }

  std::filesystem::path settingsFile() const {
    return home.path() / "vk_layer_settings.txt";
  }
  std::filesystem::path logFile() const {
    return home.path() / "validation.log";
  }
  std::vector<std::string> environment() const {
    return {"VK_INSTANCE_LAYERS=VK_LAYER_KHRONOS_validation",
            "VK_LAYER_SETTINGS_PATH=" + settingsFile().string()};
  }

  // The layer's messages of `severity` ("ERROR", "WARN"): the first line of each.
  std::vector<std::string> messages(const std::string& severity) const {
    std::ifstream log(logFile());
    std::vector<std::string> found;
    for (std::string line; std::getline(log, line);) {
      if (line.find("(" + severity + " /") != std::string::npos) {
        found.push_back(line);
      }
    }
    return found;
  }

  // Fails on every error the layer reported; prints its warnings.
  void expectNoError() const {
    for (const std::string& warning : messages("WARN")) {
      std::cout << "validation warning: " << warning << "\n";
    }
    EXPECT_THAT(messages("ERROR"), ::testing::IsEmpty());
  }
};

TEST_F(UnderValidation, TheBackendTestsReportNoError) {
  binary = VENTARO_VULKAN_BACKEND_TESTS;
  const Outcome outcome = run({}, std::nullopt, {}, environment(), 240);
  EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
  EXPECT_THAT(outcome.out, HasSubstr("[  PASSED  ]"));
  expectNoError();
}

// At StressLevel 1 (the home's): the fill, the first product and one timed multiplication of
// 4096 × 4096, the comparison and the accuracy check.
TEST_F(UnderValidation, AFullStartReportsNoError) {
  const Outcome outcome =
      run({"--json", "--device", "vulkan:0"}, std::nullopt, {}, environment(), 840);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_THAT(outcome.out, HasSubstr("\"result_check\":\"passed\""));
  EXPECT_THAT(outcome.out, HasSubstr("\"accuracy_check\":\"passed\""));
  expectNoError();
}

} // namespace
} // namespace ventaro::testing
