#include "localization/localization.h"
#include "platform/app_bundle.h"

#include <cstdio>

// Until the windows exist, the application reports its version and the interface
// language it chose, then exits.
int main()
{
    const auto &bundle = cv::AppBundle::main();
    std::printf("Corvane %s\n", qPrintable(bundle.version()));
    std::printf("Interface language: %s\n", qPrintable(cv::Localization::language()));
    return 0;
}
