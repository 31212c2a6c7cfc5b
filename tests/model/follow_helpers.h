#pragma once

#include "model_fixture.h"
#include "test_files.h"

namespace cv::test {
using InstalledBundle = InstalledApp;
}
