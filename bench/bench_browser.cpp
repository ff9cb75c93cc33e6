// The thumbnail browser under load, headless.
//   bench_browser listing DIR    lists DIR (made beforehand) and paints the first screen: prints
//                                the milliseconds to the first painted screen and the memory per
//                                entry the listing holds before any picture is loaded, then
//                                times a refresh with nothing changed and one after four in
//                                five files were moved away (they are moved back afterwards)
//   bench_browser first DIR      only the first screen and the sizes and dates after it (for timing
//                                the whole process against `ls -l DIR`)
//   bench_browser order DIR size|date
//                                DIR ordered by size or date: the names' first screen, the screen
//                                in its final order once the worker's sizes or dates are in, then a
//                                refresh; the user-interface thread's CPU time and the longest
//                                the event loop was kept from running meanwhile
//   bench_browser idle DIR       lists DIR and makes every thumbnail (the grid's workers, the
//                                shared cache as it is): prints thumbnails per second
#include "app/MainFrame.h"
#include "app/QuillaApp.h"
#include "app/QuillaDoc.h"
#include "imaging/SusieHost.h"
#include "platform/FileNames.h"
#include "platform/FolderWatch.h"
#include "platform/HugePages.h"
#include "res/resource.h"
#include "thumbs/ImageTile.h"
#include "thumbs/ThumbnailView.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <malloc.h>

namespace {
// The user-interface thread's own CPU time in milliseconds: what the listing costs, apart from
// what other processes take of the core meanwhile.
double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}
double Ms(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}
// The general heap in use, and the tiles' own pool.
size_t HeapInUse() {
    const struct mallinfo2 mi = mallinfo2();
    return mi.uordblks + mi.hblkhd + CImageTile::PoolBytes() + HugePages::BytesHeld();
}
// Runs the event loop until done() holds, ticking every millisecond: the longest gap between two
// ticks is the longest the user-interface thread was busy with one thing.
template <typename F> double RunUntil(F done, double& longestMs) {
    QEventLoop loop;
    QTimer tick;
    auto last = std::chrono::steady_clock::now();
    longestMs = 0;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        longestMs = std::max(longestMs, Ms(last));
        last = std::chrono::steady_clock::now();
        if (done())
            loop.quit();
    });
    tick.start(1);
    const double cpu = ThreadCpuMs();
    if (!done())
        loop.exec();
    return ThreadCpuMs() - cpu;
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s listing|first|idle DIR | order DIR size|date\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    const QString mode = QString::fromLatin1(argv[1]);
    const QString dir = QString::fromLocal8Bit(argv[2]);
    CQuillaApp app(argc, argv);
    // Start in an empty folder, then go to the one measured.
    QTemporaryDir empty;
    QDir::setCurrent(empty.path());
    if (!app.InitInstance())
        return 1;
    if (!qEnvironmentVariableIsEmpty("QUILLA_PLUGINS") &&
        SusieHost::LoadFolder(qEnvironmentVariable("QUILLA_PLUGINS")) < 1) {
        std::fprintf(stderr, "no plug-in loaded from %s\n", qgetenv("QUILLA_PLUGINS").constData());
        return 1;
    }
    CThumbnailView* view = app.MainFrame()->ThumbnailView();
    QCoreApplication::processEvents();
    app.MainFrame()->GetActiveDocument()->SetFolder(dir);

    if (mode == QLatin1String("order")) {
        const bool bySize = argc < 4 || QLatin1String(argv[3]) != QLatin1String("date");
        view->SendCommand(bySize ? ID_SORT_SIZE : ID_SORT_DATE);
        const auto start = std::chrono::steady_clock::now();
        const double cpu = ThreadCpuMs();
        view->FillList();
        const double listedMs = Ms(start), listedCpu = ThreadCpuMs() - cpu;
        const size_t n = view->Tiles().size();
        // The names' screen, painted once its moment of waiting is over (unless the order came
        // first).
        double stall = 0;
        double firstCpu = listedCpu;
        if (view->PaintHeld())
            firstCpu += RunUntil([&] { return !view->PaintHeld(); }, stall);
        const double paint = ThreadCpuMs();
        view->viewport()->repaint();
        firstCpu += ThreadCpuMs() - paint;
        const bool named = view->OrderPending();
        std::printf("%zu entries by %s: names listed in %.0f ms (%.0f ms of the user-interface "
                    "thread's CPU); first screen painted at %.0f ms (%.0f ms CPU)%s\n",
                    n, bySize ? "size" : "date", listedMs, listedCpu, Ms(start), firstCpu,
                    named ? " in name order" : " in its final order");
        double longest = 0;
        const double orderCpu = RunUntil([&] { return !view->SizesPending(); }, longest);
        const double paint2 = ThreadCpuMs();
        view->viewport()->repaint();
        std::printf("final order painted at %.0f ms (%.0f ms of the user-interface thread's CPU "
                    "since the first screen; the event loop never waited more than %.0f ms)\n",
                    Ms(start), orderCpu + ThreadCpuMs() - paint2, std::max(longest, stall));
        // A refresh after a file command: the names at once, the sizes compared by the worker.
        const auto refresh = std::chrono::steady_clock::now();
        const double refreshCpu = ThreadCpuMs();
        view->RefreshList();
        const double shownMs = Ms(refresh), shownCpu = ThreadCpuMs() - refreshCpu;
        const double comparedCpu = RunUntil([&] { return !view->SizesPending(); }, longest);
        std::printf("refresh: shown in %.0f ms (%.0f ms CPU), sizes and dates compared in %.0f ms "
                    "(%.0f ms CPU meanwhile, longest wait of the event loop %.0f ms)\n",
                    shownMs, shownCpu, Ms(refresh), comparedCpu, longest);
        return 0;
    }
    if (mode == QLatin1String("listing") || mode == QLatin1String("first")) {
        const size_t before = HeapInUse();
        const auto start = std::chrono::steady_clock::now();
        const double cpu = ThreadCpuMs();
        view->FillList();
        const size_t after = HeapInUse();
        view->viewport()->repaint();
        const double ms = Ms(start);
        const size_t n = view->Tiles().size();
        std::printf("%zu entries: first screen painted in %.0f ms (%.0f ms of the user-interface "
                    "thread's CPU), %.0f bytes per entry\n",
                    n, ms, ThreadCpuMs() - cpu, n ? double(after - before) / double(n) : 0.0);
        {
            // The sizes and dates, looked up by a worker after the first screen.
            const double statCpu = ThreadCpuMs();
            QEventLoop loop;
            QTimer check;
            QObject::connect(&check, &QTimer::timeout, &loop, [&] {
                if (!view->SizesPending())
                    loop.quit();
            });
            check.start(2);
            if (view->SizesPending())
                loop.exec();
            const size_t stated = HeapInUse();
            std::printf("sizes and dates in %.0f ms after the start (%.0f ms of the user-interface "
                        "thread's CPU meanwhile), then %.0f bytes per entry\n",
                        Ms(start), ThreadCpuMs() - statCpu,
                        n ? double(stated - before) / double(n) : 0.0);
        }
        if (mode == QLatin1String("first"))
            return 0;
        // Scrolling: a page down at a time, each page painted (pictures loaded on the spot).
        QScrollBar* bar = view->verticalScrollBar();
        const auto scroll = std::chrono::steady_clock::now();
        int pages = 0;
        for (; pages < 200 && bar->value() < bar->maximum(); ++pages) {
            bar->setValue(bar->value() + bar->pageStep());
            view->viewport()->repaint();
        }
        std::printf("scrolling: %.1f ms per page painted (%d pages)\n", Ms(scroll) / pages, pages);
        // One file added by another program, and removed again, as the folder watch reports them.
        {
            const QString name = QStringLiteral("zz-added-by-another-program.jpg");
            QFile file(dir + QLatin1Char('/') + name);
            if (file.open(QIODevice::WriteOnly)) {
                file.close();
                CFolderWatch::Changes change;
                change.folder = FileNames::CurrentDir();
                change.touched << name;
                const double added = ThreadCpuMs();
                view->ApplyFolderChanges(change);
                const double addedMs = ThreadCpuMs() - added;
                file.remove();
                const double removed = ThreadCpuMs();
                view->ApplyFolderChanges(change);
                std::printf("one file added by another program: %.1f ms of CPU, removed: %.1f ms "
                            "(%zu entries)\n",
                            addedMs, ThreadCpuMs() - removed, view->Tiles().size());
            }
        }
        // A refresh after a file command: the names read again at once, every entry's size and
        // date compared by the worker after it, pictures kept.
        const auto refresh = std::chrono::steady_clock::now();
        const double refreshCpu = ThreadCpuMs();
        view->RefreshList();
        const double shownMs = Ms(refresh), shownCpu = ThreadCpuMs() - refreshCpu;
        double longest = 0;
        const double comparedCpu = RunUntil([&] { return !view->SizesPending(); }, longest);
        std::printf(
            "refresh of the listing: %.0f ms (%.0f ms of CPU), sizes and dates compared "
            "after it in %.0f ms (%.0f ms of CPU, longest wait of the event loop %.0f ms)\n",
            shownMs, shownCpu, Ms(refresh), comparedCpu, longest);
        // A refresh after a command removed most of the files: four in five entries go.
        QTemporaryDir aside(dir + QStringLiteral("/../aside-XXXXXX"));
        QStringList moved;
        for (const auto& t : view->Tiles())
            if (moved.size() < int(view->Tiles().size() * 4 / 5))
                moved << t->m_strName;
        for (const QString& name : moved)
            QDir().rename(dir + QLatin1Char('/') + name, aside.filePath(name));
        const auto removal = std::chrono::steady_clock::now();
        view->RefreshList();
        const double removalMs = Ms(removal);
        RunUntil([&] { return !view->SizesPending(); }, longest);
        std::printf("refresh after %lld of the files went: %.0f ms (%zu entries left)\n",
                    qlonglong(moved.size()), removalMs, view->Tiles().size());
        for (const QString& name : moved)
            QDir().rename(aside.filePath(name), dir + QLatin1Char('/') + name);
        return 0;
    }
    const auto start = std::chrono::steady_clock::now();
    view->FillList();
    {
        // The event loop sleeps between events, as the program's own does.
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (!view->IsLoading())
                loop.quit();
        });
        check.start(2);
        if (view->IsLoading())
            loop.exec();
    }
    const double ms = Ms(start);
    const int loaded = int(view->Tiles().size());
    int failed = 0;
    for (const auto& t : view->Tiles())
        failed += t->m_bFailed ? 1 : 0;
    std::printf("%d thumbnails (%d failed) in %.0f ms: %.1f thumbnails per second, %.1f ms each\n",
                loaded, failed, ms, loaded * 1000.0 / ms, ms / loaded);
    return 0;
}
