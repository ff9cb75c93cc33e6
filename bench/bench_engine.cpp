// The thumbnail engine under load, headless (the offscreen platform paints like a screen).
//   bench_engine rate DIR     every thumbnail of DIR made (the shared cache off): thumbnails per
//                             second with the workers the machine's cores allow
//   bench_engine stall DIR    the same with the window shown and painted: the longest time the
//                             user-interface thread went without handling its event loop
//   bench_engine memory DIR   320 × 320 thumbnails, scrolled from the top to the bottom a page at a
//                             time, each page's pictures made: the peak resident memory against
//                             the budget
//   bench_engine visit DIR    the first visit (an empty cache) and the second (the cache written by
//                             the first): seconds each and their ratio
#include "app/MainFrame.h"
#include "app/QuillaApp.h"
#include "app/QuillaDoc.h"
#include "res/resource.h"
#include "thumbs/ThumbnailCache.h"
#include "thumbs/ThumbnailView.h"
#include "tree/DirView.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

// Runs the event loop until the grid has made every picture it wants, sleeping between events
// as the program's own loop does (a loop that polls would take the workers' core).
void Wait(CThumbnailView* view) {
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

long PeakResidentKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s rate|stall|memory|visit DIR\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config, cache;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    const QString mode = QString::fromLatin1(argv[1]);
    const QString dir = QString::fromLocal8Bit(argv[2]);
    ThumbnailCache::SetBaseDir(cache.path());
    ThumbnailCache::SetEnabled(mode == QLatin1String("visit"));
    CQuillaApp app(argc, argv);
    QTemporaryDir empty;
    QDir::setCurrent(empty.path());
    if (!app.InitInstance())
        return 1;
    CMainFrame* frame = app.MainFrame();
    CThumbnailView* view = frame->ThumbnailView();
    const auto list = [&] {
        frame->SetFolder(dir);
        frame->UpdateAllViews(frame->DirView());
    };

    if (mode == QLatin1String("rate") || mode == QLatin1String("stall")) {
        const bool shown = mode == QLatin1String("stall");
        if (shown) {
            frame->resize(1280, 1000);
            frame->show();
            QCoreApplication::processEvents();
        }
        // A timer that should fire every millisecond: the longest wait between two firings is
        // the longest the event loop was kept from turning.
        QElapsedTimer clock;
        qint64 last = 0, worst = 0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            worst = std::max(worst, now - last);
            last = now;
        });
        clock.start();
        if (shown)
            tick.start();
        list();
        Wait(view);
        const double s = double(clock.nsecsElapsed()) / 1e9;
        int failed = 0;
        for (const auto& t : view->Tiles())
            failed += t->m_bFailed ? 1 : 0;
        const size_t n = view->Tiles().size();
        std::printf("%zu thumbnails (%d failed) in %.2f s with %d workers: %.1f per second\n", n,
                    failed, s, view->Loader().ThreadCount(), double(n) / s);
        if (shown)
            std::printf("longest wait of the event loop: %.1f ms\n", double(worst) / 1e6);
        return failed ? 1 : 0;
    }

    if (mode == QLatin1String("memory")) {
        frame->resize(1280, 1000);
        frame->show();
        QCoreApplication::processEvents();
        view->SendCommand(ID_SIZE_LAST); // 320 × 320
        list();
        const long before = PeakResidentKb();
        QScrollBar* bar = view->verticalScrollBar();
        int pages = 0;
        for (;; ++pages) {
            view->viewport()->repaint();
            Wait(view);
            if (bar->value() >= bar->maximum())
                break;
            bar->setValue(bar->value() + bar->pageStep());
        }
        const long peak = PeakResidentKb();
        std::printf("%zu entries, %d pages: peak resident %ld MB (%ld MB after the listing), "
                    "budget %lld MB, pictures held at the end %lld MB\n",
                    view->Tiles().size(), pages + 1, peak / 1024, before / 1024,
                    qlonglong(view->MemoryBudget() / (1024 * 1024)),
                    qlonglong(view->PictureBytes() / (1024 * 1024)));
        return 0;
    }

    if (mode == QLatin1String("visit")) {
        QElapsedTimer clock;
        clock.start();
        list();
        Wait(view);
        const double first = double(clock.nsecsElapsed()) / 1e9;
        clock.restart();
        view->SendCommand(ID_VIEW_REFRESH); // a new listing: every picture made again
        Wait(view);
        const double second = double(clock.nsecsElapsed()) / 1e9;
        std::printf("%zu thumbnails: first visit %.2f s, second visit %.3f s: %.1f times faster\n",
                    view->Tiles().size(), first, second, first / second);
        return 0;
    }
    std::fprintf(stderr, "unknown mode\n");
    return 2;
}
