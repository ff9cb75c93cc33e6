// The lookup of sizes and dates after a listing: every name once, in order, in batches, on a
// worker thread; what was cancelled or replaced never comes.
#include "platform/FileStats.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <unistd.h>
#include <utime.h>

namespace {

template <typename F> bool WaitForStats(F condition) {
    return QTest::qWaitFor(condition, 10000);
}

// What the lookup delivered, by place.
struct StatCollector {
    explicit StatCollector(CFileStats& s) {
        QObject::connect(&s, &CFileStats::Stated,
                         [this](size_t first, const std::vector<CFileStats::Stat>& stats) {
                             batches.push_back({first, stats.size()});
                             if (got.size() < first + stats.size())
                                 got.resize(first + stats.size());
                             for (size_t k = 0; k < stats.size(); ++k) {
                                 got[first + k] = stats[k];
                                 ++times[first + k];
                             }
                         });
        QObject::connect(&s, &CFileStats::Finished, [this] { ++finished; });
    }
    std::vector<std::optional<CFileStats::Stat>> got;
    std::map<size_t, int> times;
    std::vector<std::pair<size_t, size_t>> batches;
    int finished = 0;
};

} // namespace

TEST(FileStats_, LooksAtEveryNameInOrderInBatchesAndDropsWhatWasCancelled) {
    QTemporaryDir d;
    const QByteArray dir = QFile::encodeName(d.path()) + '/';
    CFileStats::Names names;
    constexpr int kFiles = 5000; // more than one batch
    for (int i = 0; i < kFiles; ++i) {
        const QByteArray name = QByteArray("n") + QByteArray::number(i) + ".jpg";
        QFile f(QFile::decodeName(dir + name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(i % 7, 'x'));
        f.close();
        names.Add(name.constData());
    }
    // A link to a file counts as the file; a folder, a link to nothing and a name gone do not.
    ASSERT_EQ(::symlink("n3.jpg", (dir + "link.jpg").constData()), 0);
    ASSERT_EQ(::symlink("nowhere.jpg", (dir + "dangling.jpg").constData()), 0);
    ASSERT_TRUE(QDir(d.path()).mkdir("folder.jpg"));
    const QByteArray raw("\xff\xfe.jpg"); // bytes that are not UTF-8
    const int rawFile = ::open((dir + raw).constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(rawFile, 0);
    ASSERT_EQ(::write(rawFile, "12345678", 8), 8);
    ::close(rawFile);
    for (const char* n : {"link.jpg", "dangling.jpg", "folder.jpg", "gone.jpg", raw.constData()})
        names.Add(n);
    ::utime((dir + "n0.jpg").constData(), nullptr);
    struct utimbuf t {
        1600000000, 1600000000
    };
    ASSERT_EQ(::utime((dir + "n1.jpg").constData(), &t), 0);

    CFileStats stats;
    StatCollector c(stats);
    stats.Start(d.path(), std::move(names));
    EXPECT_TRUE(stats.IsBusy());
    ASSERT_TRUE(WaitForStats([&] { return c.finished == 1; }));
    EXPECT_FALSE(stats.IsBusy());
    ASSERT_EQ(c.got.size(), size_t(kFiles + 5));
    for (size_t i = 0; i < c.got.size(); ++i)
        ASSERT_EQ(c.times[i], 1) << i; // each once
    size_t next = 0;
    for (const auto& [first, n] : c.batches) {
        EXPECT_EQ(first, next); // in order
        EXPECT_LE(n, CFileStats::kBatch);
        next = first + n;
    }
    EXPECT_GE(c.batches.size(), 2u);
    for (int i = 0; i < kFiles; ++i) {
        ASSERT_TRUE(c.got[size_t(i)]->regular) << i;
        ASSERT_EQ(c.got[size_t(i)]->size, uint64_t(i % 7)) << i;
    }
    EXPECT_EQ(c.got[1]->mtime, 1600000000);
    EXPECT_TRUE(c.got[kFiles]->regular); // the link
    EXPECT_EQ(c.got[kFiles]->size, 3u);
    EXPECT_FALSE(c.got[kFiles + 1]->regular);
    EXPECT_FALSE(c.got[kFiles + 2]->regular);
    EXPECT_FALSE(c.got[kFiles + 3]->regular);
    EXPECT_TRUE(c.got[kFiles + 4]->regular);
    EXPECT_EQ(c.got[kFiles + 4]->size, 8u);

    // Cancelled before the worker took it: nothing comes.
    StatCollector none(stats);
    stats.Hold(true);
    CFileStats::Names one;
    one.Add("n1.jpg");
    stats.Start(d.path(), std::move(one));
    stats.Cancel();
    EXPECT_FALSE(stats.IsBusy());
    stats.Hold(false);
    QTest::qWait(200);
    EXPECT_TRUE(none.got.empty());
    EXPECT_EQ(none.finished, 0);

    // A later start replaces an earlier one: only its names come back.
    StatCollector second(stats);
    stats.Hold(true);
    CFileStats::Names a, b;
    for (const char* n : {"n1.jpg", "n2.jpg", "n3.jpg"})
        a.Add(n);
    b.Add("n6.jpg");
    stats.Start(d.path(), std::move(a));
    stats.Start(d.path(), std::move(b));
    stats.Hold(false);
    ASSERT_TRUE(WaitForStats([&] { return second.finished == 1; }));
    QTest::qWait(100);
    ASSERT_EQ(second.got.size(), 1u);
    EXPECT_EQ(second.got[0]->size, 6u);
    EXPECT_EQ(second.finished, 1);

    // A folder that cannot be opened tells nothing, and the lookup ends.
    StatCollector lostOne(stats);
    CFileStats::Names lost;
    lost.Add("x.jpg");
    stats.Start(d.filePath("no-such-folder"), std::move(lost));
    ASSERT_TRUE(WaitForStats([&] { return lostOne.finished == 1; }));
    EXPECT_TRUE(lostOne.got.empty());
    EXPECT_FALSE(stats.IsBusy());
}
