// Where the running program's file is. Started straight or through the dynamic loader
// ("ld-linux-x86-64.so.2 bin/coffervale", as the stick's launchers do because FAT32 keeps no
// execute bits), the answer is the program's own file, never the loader's.
#pragma once

#include <string>

namespace xxtool {

// The absolute path of the main program's file; empty when it cannot be found.
std::string executablePath();

// The folder that holds it, without a trailing "/"; empty when unknown.
std::string executableFolder();

}  // namespace xxtool
