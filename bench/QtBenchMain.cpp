#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdlib>

// Shared main of the benchmarks that need widgets: offscreen unless the caller chose a platform.
int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Thumbnails made while measuring go to a cache of their own, never to the user's.
    QTemporaryDir cacheHome;
    setenv("XDG_CACHE_HOME", qPrintable(cacheHome.path()), 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
