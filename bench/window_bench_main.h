// The main of a benchmark program that drives the real window.
#pragma once

#include "bench_main.h"
#include "flash_application.h"

#include <cstdlib>

// The window needs the program's application object; without a display it draws offscreen.
inline int runWindowBenchmarks(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    app::FlashApplication application(argc, argv);
    return runBenchmarks(argc, argv);
}
