#include "smc/applesmc/applesmc_driver.h"
#include "smc/applesmc/real_file_access.h"
#include "smc/smc_driver.h"

namespace ventaro {

std::shared_ptr<SMCDriver> makeSystemSMCDriver() {
  return std::make_shared<applesmc::ApplesmcDriver>(std::make_shared<applesmc::RealFileAccess>(),
                                                    "/sys");
}

} // namespace ventaro
