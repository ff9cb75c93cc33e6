// The plug-in helpers against hostile plug-ins the tests build: plug-ins that hang in each entry
// point, exit, abort, hand back handles that point nowhere, ask for a terabyte, try to write a
// file or to connect to a socket. The host stays up, fails only the file at hand with a reason,
// sets a plug-in aside after three failures in a row, goes on with the next file, and stops a
// call at once when told to. The start-up check of plug-ins that hang costs one deadline, once.
#include "ImagingSupport.h"

#include "imaging/SPIControl.h"

#include <QElapsedTimer>
#include <QFile>
#include <cerrno>
#include <dlfcn.h>
#include <future>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace testimg;

namespace {

class SpiSandbox : public ::testing::Test {
protected:
    QDir Dir() const { return QDir(m_dir.path()); }
    // Copies built plug-ins into a folder of the temporary folder (name or "name=copy").
    QString Folder(const QString& sub, const QStringList& plugins) {
        Dir().mkpath(sub);
        const QString folder = Dir().filePath(sub);
        for (const QString& p : plugins) {
            const QString from = p.section('=', 0, 0), to = p.section('=', -1);
            EXPECT_TRUE(QFile::copy(BuiltSpi(from), folder + "/" + to + ".spi")) << p.toStdString();
        }
        return folder;
    }
    QString File(const QString& name, const QByteArray& bytes) {
        return WriteBytes(Dir(), name, bytes);
    }
    static int IndexOf(const CSPIControl& spi, const QString& name) {
        for (int i = 0; i < spi.GetSize(); ++i)
            if (spi.FileNameAt(i) == name)
                return i;
        return -1;
    }
    QTemporaryDir m_dir;
};

// How long the call took, in milliseconds.
template <typename F> qint64 Timed(F&& f) {
    QElapsedTimer t;
    t.start();
    f();
    return t.elapsed();
}

} // namespace

TEST_F(SpiSandbox, APluginThatHangsFailsItsFileByTheDeadline) {
    // Hanging in GetPictureInfo and in GetPicture: the file fails with the reason, within its
    // deadline, and the next file (another plug-in's) is decoded at once by a fresh helper.
    struct Case {
        const char* plugin;
        int deadline;
        bool info;
    } cases[] = {{"hang3", kSpiQuickDeadlineMs, true}, {"hang4", kSpiPictureDeadlineMs, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.plugin);
        CSPIControl spi;
        spi.SetHelperCount(1);
        ASSERT_EQ(spi.LoadFolder(Folder(c.plugin, {"qpic", c.plugin})), 2);
        const QString hang = File("a.hang", FlatTestPicture("HANG", 2, 2));
        const QString good = File("b.qpic", FlatTestPicture("QPIC", 2, 2));
        SpiPicture picture;
        SpiPictureInfo info;
        QString reason;
        int r = -1;
        const qint64 ms =
            Timed([&] { r = spi.DecodeFile(hang, &picture, c.info ? &info : nullptr, &reason); });
        EXPECT_EQ(r, kSpiErrPluginFailed);
        EXPECT_EQ(reason, QStringLiteral("プラグイン %1.spi が応答しません").arg(c.plugin));
        EXPECT_GE(ms, c.deadline - 50);
        EXPECT_LT(ms, c.deadline + 1500);
        EXPECT_TRUE(picture.image.isNull());
        const qint64 next = Timed([&] { r = spi.DecodeFile(good, &picture, nullptr, &reason); });
        EXPECT_EQ(r, 0);
        EXPECT_EQ(picture.image.size(), QSize(2, 2));
        EXPECT_LT(next, 1000);
        EXPECT_EQ(spi.HelpersStarted(), 2); // the hanging one was replaced
    }
}

TEST_F(SpiSandbox, APluginThatHangsInIsSupportedIsSetAsideAfterThreeFiles) {
    // It hangs for every file it is offered: three files fail, each by the deadline, then it is
    // set aside and the other plug-in decodes without waiting.
    CSPIControl spi;
    ASSERT_EQ(spi.LoadFolder(Folder("aside", {"hang2", "qpic"})), 2);
    const int hang = IndexOf(spi, "hang2.spi");
    EXPECT_EQ(spi.GetFormatCount(), 2);
    EXPECT_TRUE(spi.IsSupportedExtension(".hang"));
    const QString good = File("b.qpic", FlatTestPicture("QPIC", 3, 1));
    SpiPicture picture;
    for (int i = 0; i < kSpiFailuresToSetAside; ++i) {
        // Whether qpic is asked first depends on the folder's order: a qpic file is only decoded
        // before the hanging plug-in is asked when qpic comes first.
        QString reason;
        const int r =
            spi.DecodeFile(File(QStringLiteral("a%1.hang").arg(i), FlatTestPicture("HANG", 1, 1)),
                           &picture, nullptr, &reason);
        EXPECT_EQ(r, kSpiErrPluginFailed) << i;
        EXPECT_EQ(reason, QStringLiteral("プラグイン hang2.spi が応答しません"));
        EXPECT_EQ(spi.IsSetAsideAt(hang), i + 1 == kSpiFailuresToSetAside) << i;
    }
    EXPECT_EQ(spi.GetFormatCount(), 1);
    EXPECT_FALSE(spi.IsSupportedExtension(".hang"));
    int r = -1;
    const qint64 ms = Timed([&] { r = spi.DecodeFile(good, &picture); });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(picture.image.size(), QSize(3, 1));
    EXPECT_LT(ms, 1000);
    // A file only it read is now read by none, at once.
    EXPECT_EQ(spi.DecodeFile(File("z.hang", FlatTestPicture("HANG", 1, 1)), &picture),
              kSpiErrNoDecoder);
}

TEST_F(SpiSandbox, ExitsAbortsHugeAllocationsAndGarbageFailOnlyTheirFile) {
    CSPIControl spi;
    spi.SetHelperCount(1);
    ASSERT_EQ(spi.LoadFolder(
                  Folder("hostile", {"exits", "aborts", "huge", "garbage", "garbageinfo", "qpic"})),
              6);
    const QString good = File("good.qpic", FlatTestPicture("QPIC", 2, 3));
    const struct {
        const char* file;
        const char* magic;
        const char* plugin;
    } crashing[] = {
        {"a.exit", "EXIT", "exits"}, {"a.abt", "ABTS", "aborts"}, {"a.huge", "HUGE", "huge"}};
    SpiPicture picture;
    for (const auto& c : crashing) {
        SCOPED_TRACE(c.file);
        QString reason;
        EXPECT_EQ(spi.DecodeFile(File(c.file, FlatTestPicture(c.magic, 2, 2)), &picture, nullptr,
                                 &reason),
                  kSpiErrPluginFailed);
        EXPECT_EQ(reason, QStringLiteral("プラグイン %1.spi が異常終了しました").arg(c.plugin));
        // The next file goes on.
        ASSERT_EQ(spi.DecodeFile(good, &picture), 0);
        EXPECT_EQ(picture.image.size(), QSize(2, 3));
    }
    EXPECT_EQ(spi.HelpersStarted(), 4);
    // Handles that point nowhere are never touched by the program: the picture is no picture,
    // and the helper that looked at them survives.
    EXPECT_EQ(spi.DecodeFile(File("a.junk", FlatTestPicture("JUNK", 2, 2)), &picture),
              kSpiErrNoDecoder);
    // A text handle that points nowhere: the picture comes, its text does not.
    SpiPictureInfo info;
    ASSERT_EQ(spi.DecodeFile(File("a.gi", FlatTestPicture("GINF", 4, 1)), &picture, &info), 0);
    EXPECT_EQ(picture.image.size(), QSize(4, 1));
    EXPECT_EQ(info.width, 1);
    EXPECT_TRUE(info.text.isEmpty());
    EXPECT_EQ(spi.HelpersStarted(), 4);
}

TEST_F(SpiSandbox, TheHelperMayNeitherWriteFilesNorConnect) {
    CSPIControl spi;
    spi.SetHelperCount(1);
    ASSERT_EQ(spi.LoadFolder(Folder("confined", {"writer", "connector"})), 2);
    // Writing: refused, the plug-in saw EACCES and went on to decode.
    const QString wrt = File("a.wrt", FlatTestPicture("WRIT", 2, 2));
    SpiPicture picture;
    ASSERT_EQ(spi.DecodeFile(wrt, &picture), 0);
    EXPECT_EQ(picture.image.size(), QSize(2, 2));
    EXPECT_FALSE(QFile::exists(wrt + ".written"));
    EXPECT_TRUE(spi.AskText(IndexOf(spi, "writer.spi"), 1000).contains("write:13;"))
        << spi.AskText(IndexOf(spi, "writer.spi"), 1000).toStdString();

    // Connecting: a socket listens where the plug-in tries to connect, and nobody comes.
    const QString con = File("a.con", FlatTestPicture("CONN", 2, 2));
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray where = QFile::encodeName(con + ".sock");
    ASSERT_LT(size_t(where.size()), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, where.constData(), size_t(where.size()));
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(spi.DecodeFile(con, &picture), 0);
    EXPECT_TRUE(spi.AskText(IndexOf(spi, "connector.spi"), 1000).contains("connect:13;"))
        << spi.AskText(IndexOf(spi, "connector.spi"), 1000).toStdString();
    EXPECT_LT(accept(listener, nullptr, nullptr), 0);
    EXPECT_EQ(errno, EAGAIN);
    close(listener);

    // The same plug-in loaded into this process, unconfined, does write: the refusal above is
    // the helper's.
    void* module = dlopen(QFile::encodeName(BuiltSpi("writer")).constData(), RTLD_NOW);
    ASSERT_NE(module, nullptr);
    auto getPicture = reinterpret_cast<SPI_GetPicture>(dlsym(module, "GetPicture"));
    HLOCAL hi = nullptr, hb = nullptr;
    EXPECT_EQ(
        getPicture(QFile::encodeName(wrt).constData(), 0, SPI_INPUT_FILE, &hi, &hb, nullptr, 0),
        SPI_ALL_RIGHT);
    LocalFree(hi);
    LocalFree(hb);
    dlclose(module);
    EXPECT_TRUE(QFile::exists(wrt + ".written"));
}

TEST_F(SpiSandbox, EightHangingPluginsCostOneDeadlineOnce) {
    QStringList plugins{"qpic"};
    for (int i = 1; i <= 8; ++i)
        plugins << QStringLiteral("hang1=h%1").arg(i);
    plugins << "foreign";
    const QString folder = Folder("start", plugins);
    const QString cache = Dir().filePath("cache/plugins.json");
    {
        CSPIControl spi;
        spi.SetCacheFile(cache);
        int added = -1;
        const qint64 ms = Timed([&] { added = spi.LoadFolder(folder); });
        EXPECT_EQ(added, 1);
        EXPECT_LT(ms, kSpiCheckDeadlineMs + 1500);
        const QStringList refused = spi.Refused();
        EXPECT_EQ(refused.size(), 9);
        EXPECT_EQ(refused.filter(QStringLiteral("（使用できません: 応答がありません）")).size(), 8);
        EXPECT_TRUE(refused.contains(QStringLiteral(
            "foreign.spi（使用できません: このシステム用のプラグインではありません）")))
            << refused.join('\n').toStdString();
    }
    ASSERT_TRUE(QFile::exists(cache));
    {
        // The next start knows them all from the cache: no wait, and the same answers.
        CSPIControl spi;
        spi.SetCacheFile(cache);
        int added = -1;
        const qint64 ms = Timed([&] { added = spi.LoadFolderInBackground(folder); });
        EXPECT_EQ(added, 1);
        EXPECT_LT(ms, 1000);
        EXPECT_EQ(spi.Refused().size(), 9);
        EXPECT_EQ(spi.HelpersStarted(), 0);
    }
    {
        // Without the cache, in the background: nothing waits, and the plug-in comes on line
        // when it has answered.
        CSPIControl spi;
        int added = -1;
        const qint64 ms = Timed([&] { added = spi.LoadFolderInBackground(folder); });
        EXPECT_EQ(added, 0);
        EXPECT_LT(ms, 1000);
        spi.WaitForBackground();
        EXPECT_EQ(spi.GetSize(), 1);
        EXPECT_TRUE(spi.IsSupportedExtension(".qpic"));
    }
}

TEST_F(SpiSandbox, AChangedPluginFileIsCheckedAgain) {
    const QString folder = Folder("changed", {"qpic=p"});
    const QString cache = Dir().filePath("cache/plugins.json");
    {
        CSPIControl spi;
        spi.SetCacheFile(cache);
        ASSERT_EQ(spi.LoadFolder(folder), 1);
        EXPECT_EQ(spi.PatternsAt(0), QStringList({"*.qpic"}));
    }
    // Another plug-in saved under the same name (another program replaced it meanwhile).
    ASSERT_TRUE(QFile::remove(folder + "/p.spi"));
    ASSERT_TRUE(QFile::copy(BuiltSpi("twoformat"), folder + "/p.spi"));
    CSPIControl spi;
    spi.SetCacheFile(cache);
    ASSERT_EQ(spi.LoadFolder(folder), 1);
    EXPECT_EQ(spi.PatternsAt(0), QStringList({"*.qa", "*.qb"}));
}

TEST_F(SpiSandbox, AGarbledCacheIsIgnored) {
    const QString folder = Folder("garbled", {"qpic"});
    const QString cache = File("plugins.json", "{\"version\": 1, \"plugins\": [{\"path\": 7}]}");
    CSPIControl spi;
    spi.SetCacheFile(cache);
    ASSERT_EQ(spi.LoadFolder(folder), 1);
    EXPECT_TRUE(spi.IsSupportedExtension(".qpic"));
}

// Threads and the pool (also run under ThreadSanitizer).
TEST_F(SpiSandbox, HelperPoolCancelAndShutdownEndAHangingCallAtOnce) {
    CSPIControl spi;
    spi.SetHelperCount(2);
    ASSERT_EQ(spi.LoadFolder(Folder("stop", {"hang4", "qpic"})), 2);
    const QString hang = File("a.hang", FlatTestPicture("HANG", 2, 2));
    const QString good = File("b.qpic", FlatTestPicture("QPIC", 2, 2));
    // Cancelled by its caller (the preview closed first).
    std::atomic<bool> cancel{false};
    auto cancelled = std::async(std::launch::async, [&] {
        SpiPicture picture;
        QString reason;
        return spi.DecodeFile(hang, &picture, nullptr, &reason, true, &cancel);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const qint64 ms = Timed([&] {
        cancel = true;
        EXPECT_EQ(cancelled.get(), kSpiErrCancelled);
    });
    EXPECT_LT(ms, 500);
    // The plug-in is not blamed for a call its caller gave up.
    EXPECT_FALSE(spi.IsSetAsideAt(IndexOf(spi, "hang4.spi")));

    // Two workers stuck in the plug-in, another decoding: the end of the program stops them all.
    std::vector<std::future<int>> calls;
    for (int i = 0; i < 2; ++i)
        calls.push_back(std::async(std::launch::async, [&] {
            SpiPicture picture;
            return spi.DecodeFile(hang, &picture);
        }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    calls.push_back(std::async(std::launch::async, [&] {
        SpiPicture picture;
        return spi.DecodeFile(good, &picture); // waits for a helper: none is free
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const qint64 stop = Timed([&] {
        spi.Shutdown();
        for (auto& c : calls)
            EXPECT_EQ(c.get(), kSpiErrCancelled);
    });
    EXPECT_LT(stop, 500);
    SpiPicture picture;
    EXPECT_EQ(spi.DecodeFile(good, &picture), kSpiErrCancelled);
    // Taken up again (a new main window): fresh helpers.
    spi.Resume();
    EXPECT_EQ(spi.DecodeFile(good, &picture), 0);
    EXPECT_EQ(picture.image.size(), QSize(2, 2));
}
