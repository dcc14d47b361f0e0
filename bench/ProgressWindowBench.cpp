// The progress window's list of deletions at scale: a clean that deletes 1,000,000 items spread over
// 40,000 folders hands the real window one line per deletion from its run thread. Prints the memory
// the list takes (the heap in use and the resident size, each as a total and per line, text
// included and without it), the time until every line shows, and the steps in which the table got
// its rows. Asserts nothing.
//   ProgressWindowBench [LINES] [FOLDERS]
#include <QApplication>
#include <QElapsedTimer>
#include <QProgressBar>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <string>
#include <thread>

#include "BenchHome.h"
#include "DeletionsLog.h"
#include "MainThread.h"
#include "PreferencesSupport.h"
#include "UserDefaults.h"
#include "XEngineParent.h"
#include "XProgressWindow.h"

namespace
{
class IdleEngine : public XEngineParent
{
public:
    void progressWindowClosed() override {}
};

// Lets everything posted to the main thread so far run, and what that posts in turn.
void settle()
{
    for (int round = 0; round < 3; ++round) {
        bool done = false;
        MainThread::post([&done] { done = true; });
        runEventLoopUntil([&done] { return done; });
    }
}

// Bytes handed out by malloc, large blocks (mapped on their own) included.
double heapInUse()
{
    malloc_trim(0);
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd);
}

double residentBytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6) * 1024.0;
    }
    return 0;
}

// The line the engine writes for a deleted AppleDouble file.
std::string deletionLine(long item, long folders)
{
    return "Deleted ._IMG_" + std::to_string(100000 + item) + ".JPG in Photos " + std::to_string(item % folders);
}

constexpr double megabyte = 1024.0 * 1024.0;
}

int main(int argc, char **argv)
{
    const BenchHome home;
    if (home.path().empty())
        return 2;
    QApplication app(argc, argv);
    // Only the window takes the lines; the daily log is another matter.
    PreferencesSupport::standardUserDefaults().setObject(Value(false), "logDeletions");
    const long lines = argc > 1 ? std::max(1L, std::atol(argv[1])) : 1000000;
    const long folders = argc > 2 ? std::max(1L, std::atol(argv[2])) : 40000;

    const auto engine = std::make_shared<IdleEngine>();
    const std::shared_ptr<XProgressWindow> window =
        XProgressWindow::makeWithParent(engine, URL::fileURLWithPath(home.path()));
    auto *list = window->window()->findChild<DeletionsLog *>(QStringLiteral("manualCleanDeletions"));
    int insertions = 0;
    QObject::connect(list, &QAbstractItemModel::rowsInserted, [&insertions] { ++insertions; });
    settle();
    const double heapBefore = heapInUse();
    const double residentBefore = residentBytes();

    double textBytes = 0;
    for (long item = 0; item < lines; ++item)
        textBytes += double(deletionLine(item, folders).size());
    QElapsedTimer clock;
    clock.start();
    std::thread run([&window, lines, folders] {
        for (long item = 0; item < lines; ++item)
            window->logMsg(deletionLine(item, folders));
        window->flush();
    });
    runEventLoopUntil([list, lines] { return list->rowCount() >= lines; });
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    run.join();
    settle();

    const double heap = heapInUse() - heapBefore;
    const double resident = residentBytes() - residentBefore;
    std::printf("progress window: %ld deletion lines over %ld folders (%.1f MB of text, %.1f bytes a line)\n", lines,
                folders, textBytes / megabyte, textBytes / double(lines));
    std::printf("  list memory (heap in use): %.1f MB total, %.1f bytes per line, %.1f bytes per line above the text\n",
                heap / megabyte, heap / double(lines), (heap - textBytes) / double(lines));
    std::printf("  list memory (resident): %.1f MB total, %.6f MB per line\n", resident / megabyte,
                resident / megabyte / double(lines));
    std::printf("  every line shown after %.2f s, in %d table steps (%.1f steps a second)\n", seconds, insertions,
                insertions / std::max(seconds, 1e-9));

    window->finishedCleaning();
    window->window()->close();
    settle();
    return 0;
}
