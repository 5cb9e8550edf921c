#include "platform/notification_center_terminal.h"

#include <gtest/gtest.h>
#include <sstream>

namespace ventaro {
namespace {

TEST(TerminalNoticeLine, IsTitleColonBodyOnOneLine) {
  const struct {
    NotificationContent content;
    std::string line;
  } cases[] = {
      {{"Compute Benchmark", "Ventaro will test FP32 performance.", true},
       "Compute Benchmark: Ventaro will test FP32 performance."},
      {{"High Fan Speed Detected", "Ventaro will try to reset the fans.", false},
       "High Fan Speed Detected: Ventaro will try to reset the fans."},
      {{"", "", true}, ": "},
      {{"GPU\nName 8 GB", "two\r\nlines\tand\x1b[31m colour\x7f", true},
       "GPU Name 8 GB: two  lines and [31m colour "},
      {{"Grüße 8 GB", "Ventaro measured 0 GFLOPS.", true},
       "Grüße 8 GB: Ventaro measured 0 GFLOPS."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(terminalNoticeLine(c.content), c.line);
  }
}

TEST(TerminalNotificationCenter, WritesEachNoticeAndNothingElse) {
  std::ostringstream out;
  TerminalNotificationCenter center(out);
  center.removeDeliveredNotifications({"Ventaro Start"});
  center.requestAuthorization();
  center.add("Ventaro Start", {"Compute Benchmark", "Ventaro will test FP32 performance.", true});
  center.removeDeliveredNotifications({"Ventaro Start"});
  center.add("Ventaro Result", {"Test GPU 8 GB", "Ventaro measured 3518 GFLOPS.", true});
  EXPECT_EQ(out.str(), "Compute Benchmark: Ventaro will test FP32 performance.\n"
                       "Test GPU 8 GB: Ventaro measured 3518 GFLOPS.\n");
}

} // namespace
} // namespace ventaro
