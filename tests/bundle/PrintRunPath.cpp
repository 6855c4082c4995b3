// Prints where the program believes it runs from, one line each: the disk monitor's run
// path, the tool's executable path, and the resources folder chosen.
#include <cstdio>

#include "XXDiskTool.h"
#include "XXExecutablePath.h"
#include "XXResources.h"

int main()
{
    std::printf("%s\n%s\n%s\n", XXDiskTool::getAppRunPath().c_str(), xxtool::executablePath().c_str(),
                xxtool::resourcesDirectory().c_str());
    return 0;
}
