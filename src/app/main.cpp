#include "app/corvane_application.h"

int main(int argc, char **argv)
{
    return cv::CorvaneApplication::main(argc, argv);
}
