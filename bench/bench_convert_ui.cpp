// How quickly the user-interface thread answers while the conversion command converts a large
// file: a probe thread posts an event to the user-interface thread every 5 ms and records how long
// each waits, and halfway through a click on "中止" is posted and timed until the button's own
// handler has run. Run once with the conversion on a worker thread (as the command does) and once
// with the same conversion on the user-interface thread, for comparison.
//   bench_convert_ui SOURCE OUTDIR      prints one line per mode
#include "convert/Convert.h"
#include "convert/ConvertBatch.h"
#include "convert/StatusDlg.h"
#include "convert/TypeChangeDlg.h"
#include "imaging/ImageLibrary.h"
#include "platform/MsgBox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// An event that carries the moment it was posted.
class ProbeEvent : public QEvent {
public:
    static QEvent::Type Kind() {
        static const int type = QEvent::registerEventType();
        return QEvent::Type(type);
    }
    ProbeEvent() : QEvent(Kind()), posted(Clock::now()) {}
    Clock::time_point posted;
};

class Receiver : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() != ProbeEvent::Kind())
            return QObject::event(e);
        const double ms = std::chrono::duration<double, std::milli>(
                              Clock::now() - static_cast<ProbeEvent*>(e)->posted)
                              .count();
        const std::lock_guard<std::mutex> lock(mutex);
        waits.push_back(ms);
        return true;
    }
    std::mutex mutex;
    std::vector<double> waits;
};

struct Outcome {
    double fileMs = 0, clickMs = -1, maxWait = 0, p99Wait = 0;
    size_t probes = 0;
};

Outcome Measure(const QString& source, const QString& outDir, bool worker) {
    Receiver receiver;
    std::atomic<bool> probing{false}, stop{false};
    std::thread probe([&] {
        while (!stop) {
            if (probing)
                QCoreApplication::postEvent(&receiver, new ProbeEvent);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    Outcome out;
    Clock::time_point clickPosted;
    std::atomic<bool> clicked{false};
    QElapsedTimer fileTimer;
    const auto onFile = [&](CStatusDlg& s, int) {
        QObject::connect(s.CancelButton(), &QPushButton::clicked, &s, [&] {
            out.clickMs =
                std::chrono::duration<double, std::milli>(Clock::now() - clickPosted).count();
            clicked = true;
        });
        // Halfway through (the time a file takes, measured beforehand), a click arrives.
        std::thread([&s, &clickPosted, delay = out.fileMs / 2] {
            std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(delay));
            QPushButton* b = s.CancelButton();
            const QPointF at(b->width() / 2.0, b->height() / 2.0);
            clickPosted = Clock::now();
            QCoreApplication::postEvent(b, new QMouseEvent(QEvent::MouseButtonPress, at,
                                                           b->mapToGlobal(at), Qt::LeftButton,
                                                           Qt::LeftButton, Qt::NoModifier));
            QCoreApplication::postEvent(b, new QMouseEvent(QEvent::MouseButtonRelease, at,
                                                           b->mapToGlobal(at), Qt::LeftButton,
                                                           Qt::NoButton, Qt::NoModifier));
        }).detach();
        probing = true;
        fileTimer.start();
    };
    // The time one file takes on its own, to place the click in the middle of the next run.
    {
        QElapsedTimer t;
        t.start();
        Convert::ConvertFile({source, QDir(outDir).filePath("warm.png"), Convert::Png, 0, 0, 0},
                             Convert::Options(), false);
        out.fileMs = double(t.elapsed());
    }
    if (worker) {
        ConvertBatch::s_onFile = onFile;
        CTypeChangeDlg::s_answer = [&](CTypeChangeDlg& d) {
            d.m_nFormat = Convert::Png;
            d.m_strFolder = outDir;
            return int(QDialog::Accepted);
        };
        ConvertBatch::Run(nullptr, QDir::currentPath(), {{source, QFileInfo(source).fileName()}});
    } else {
        // The same file converted on this thread, the progress window shown beside it.
        CStatusDlg status;
        status.m_strMessage = QStringLiteral("変換中です...");
        status.Create(nullptr);
        QCoreApplication::processEvents();
        onFile(status, 0);
        Convert::ConvertFile({source, QDir(outDir).filePath("sync.png"), Convert::Png, 0, 0, 0},
                             Convert::Options(), false);
        QCoreApplication::processEvents();
    }
    probing = false;
    // Let the last probes and the click arrive.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300 || !clicked)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    stop = true;
    probe.join();
    std::vector<double> w = receiver.waits;
    std::sort(w.begin(), w.end());
    out.probes = w.size();
    if (!w.empty()) {
        out.maxWait = w.back();
        out.p99Wait = w[std::min(w.size() - 1, size_t(double(w.size()) * 0.99))];
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SOURCE OUTDIR\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The input device the posted clicks name is made here, on this thread.
    (void)QPointingDevice::primaryPointingDevice();
    LoadImageLibrary();
    SetMessageBoxResponder([](const MsgBoxRequest&) { return int(IDOK); });
    const QString source = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const QString out = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
    QDir().mkpath(out);
    for (bool worker : {true, false}) {
        const Outcome o = Measure(source, out, worker);
        std::printf("%-26s file %6.0f ms | click on 中止 answered after %7.1f ms | "
                    "event waits: max %7.1f ms, 99%% %7.1f ms (%zu probes)\n",
                    worker ? "worker thread (command)" : "user-interface thread", o.fileMs,
                    o.clickMs, o.maxWait, o.p99Wait, o.probes);
    }
    return 0;
}
