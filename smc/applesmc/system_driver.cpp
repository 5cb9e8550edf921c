#include "smc/applesmc/applesmc_driver.h"
#include "smc/applesmc/real_file_access.h"

namespace ventaro::applesmc {

std::shared_ptr<SMCDriver> makeSystemDriver() {
  return std::make_shared<ApplesmcDriver>(std::make_shared<RealFileAccess>(), "/sys");
}

} // namespace ventaro::applesmc
