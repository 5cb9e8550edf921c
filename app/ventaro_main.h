#pragma once

namespace ventaro {

/// The whole process: reads the command line, prints help, version or a usage error
/// (status 0, 0, 2), or runs the application on the real system and returns its status.
int ventaroMain(int argc, char** argv);

} // namespace ventaro
