#include "platform/notification_center_terminal.h"

#include <gtest/gtest.h>
#include <sstream>

namespace ventaro {
namespace {

TEST(TerminalNotificationCenter, PrintsEachNoticeAsTitleColonBodyOnOneLineAndNothingElse) {
  const std::pair<NotificationContent, std::string> cases[] = {
      {{"Compute Benchmark", "Ventaro will test FP32 performance.", true},
       "Compute Benchmark: Ventaro will test FP32 performance.\n"},
      {{"", "", false}, ": \n"},
      {{"GPU\nName 8 GB", "two\r\nlines\tand\x1b[31m colour\x7f", true},
       "GPU Name 8 GB: two  lines and [31m colour \n"},
      {{"Grüße 8 GB", "Ventaro measured 0 GFLOPS.", true},
       "Grüße 8 GB: Ventaro measured 0 GFLOPS.\n"},
  };
  for (const auto& [content, line] : cases) {
    std::ostringstream out;
    TerminalNotificationCenter center(out);
    center.removeDeliveredNotifications({"Ventaro Start"});
    center.requestAuthorization();
    center.add("Ventaro Start", content);
    center.removeDeliveredNotifications({"Ventaro Start"});
    EXPECT_EQ(out.str(), line);
  }
}

} // namespace
} // namespace ventaro
