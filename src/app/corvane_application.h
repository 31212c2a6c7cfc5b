#pragma once

namespace cv {

// The program's entry.
struct CorvaneApplication {
    // Starts the application as a menu-bar application with its one delegate and runs
    // the event loop; returns the process's exit status.
    static int main(int argc, char **argv);
};

} // namespace cv
