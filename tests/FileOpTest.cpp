// Copying, moving and deleting on real files: names that keep their bytes, taken names, folders,
// another file system, a stop in the middle, a kill in the middle, another program saving over a
// source meanwhile, a full disk and a read-only destination; and the shell file operation around
// it with its progress window, questions, errors (said in Japanese) and change hook.
#include "TestSupport.h"

#include "platform/FileNames.h"
#include "platform/FileOpProgressDlg.h"
#include "platform/FileTransfer.h"
#include "platform/Files.h"
#include "platform/Shell.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <atomic>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Mode = CFileTransfer::Mode;
using Outcome = CFileTransfer::Outcome;

// Names that must come through every operation unchanged: spaces, quotes, a line break, markup,
// Japanese, and code page 932 bytes that are not UTF-8 ("写真.png").
const QByteArray kAwkwardNames[] = {"a b.jpg",       "it's \"q\".jpg",  "new\nline.jpg",
                                    "写真 2024.jpg", "<b>bold<br>.png", "\x8e\xca\x90\x5e.png"};

QByteArray Random(int size, quint32 seed) {
    QByteArray out(size, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    gen.fillRange(reinterpret_cast<quint32*>(out.data()), size / 4);
    return out;
}

struct stat StatOf(const QByteArray& path) {
    struct stat st {};
    ::lstat(path.constData(), &st);
    return st;
}

void SetMtime(const QByteArray& path, time_t when) {
    const timespec t[2] = {{when, 0}, {when, 0}};
    ::utimensat(AT_FDCWD, path.constData(), t, AT_SYMLINK_NOFOLLOW);
}

// Every name in the folder and below it, relative, sorted.
QList<QByteArray> Tree(const QByteArray& dir, const QByteArray& rel = QByteArray()) {
    QList<QByteArray> out;
    DIR* d = ::opendir((rel.isEmpty() ? dir : dir + '/' + rel).constData());
    if (!d)
        return out;
    while (const dirent* e = ::readdir(d)) {
        const QByteArray n(e->d_name);
        if (n == "." || n == "..")
            continue;
        const QByteArray r = rel.isEmpty() ? n : rel + '/' + n;
        out << r;
        if (S_ISDIR(StatOf(dir + '/' + r).st_mode))
            out << Tree(dir, r);
    }
    ::closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

bool HasTemporaries(const QByteArray& dir) {
    for (const QByteArray& r : Tree(dir))
        if (r.mid(r.lastIndexOf('/') + 1).startsWith(".quilla-"))
            return true;
    return false;
}

QString Q(const QByteArray& native) {
    return FileNames::FromNative(native);
}

// A file system mounted for one test (root only), unmounted at the end.
class ScopedMount {
public:
    // A tmpfs of the given size in kilobytes.
    ScopedMount(const QByteArray& at, int sizeKb) : m_at(at) {
        if (::getuid() != 0) {
            m_why = "mounting needs root";
            return;
        }
        const QByteArray opts = "size=" + QByteArray::number(sizeKb) + "k";
        if (::mount("tmpfs", at.constData(), "tmpfs", 0, opts.constData()) != 0)
            m_why = "cannot mount a tmpfs here: " + QByteArray(std::strerror(errno));
        else
            m_mounted = true;
    }
    // The folder itself, bound read-only onto itself.
    explicit ScopedMount(const QByteArray& at) : m_at(at) {
        if (::getuid() != 0) {
            m_why = "mounting needs root";
            return;
        }
        if (::mount(at.constData(), at.constData(), nullptr, MS_BIND, nullptr) != 0) {
            m_why = "cannot bind-mount here: " + QByteArray(std::strerror(errno));
            return;
        }
        m_mounted = true;
        if (::mount(nullptr, at.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) !=
            0)
            m_why = "cannot make the bind mount read-only: " + QByteArray(std::strerror(errno));
    }
    ~ScopedMount() {
        if (m_mounted)
            ::umount2(m_at.constData(), MNT_DETACH);
    }
    bool Usable() const { return m_mounted && m_why.isEmpty(); }
    const char* Why() const { return m_why.constData(); }

private:
    QByteArray m_at;
    QByteArray m_why;
    bool m_mounted = false;
};

// A writable folder on a file system other than the one of the temporary folders.
QByteArray OtherFileSystem(const QByteArray& here) {
    struct stat a {
    }, b{};
    if (::stat("/dev/shm", &b) != 0 || ::stat(here.constData(), &a) != 0 || a.st_dev == b.st_dev ||
        ::access("/dev/shm", W_OK) != 0)
        return QByteArray();
    return "/dev/shm";
}

class Transfer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_root = QFile::encodeName(m_dir.path());
        ASSERT_EQ(::mkdir(Src().constData(), 0755), 0);
        ASSERT_EQ(::mkdir(Dst().constData(), 0755), 0);
    }
    void TearDown() override {
        CFileTransfer::s_onChunk = nullptr;
        CFileTransfer::s_beforeRemove = nullptr;
        RemoveTreeNative(m_dir.path());
    }
    QByteArray Src() const { return m_root + "/src"; }
    QByteArray Dst() const { return m_root + "/dst"; }
    // Runs a transfer of the named entries of src into the folder, on its worker thread.
    std::vector<CFileTransfer::Result> Run(Mode mode, const QList<QByteArray>& sources,
                                           const QByteArray& dest,
                                           std::vector<CFileTransfer::Change>* changes = nullptr) {
        std::vector<CFileTransfer::Item> items;
        for (const QByteArray& s : sources)
            items.push_back({Q(s), CFileTransfer::Collision::Rename});
        CFileTransfer t(mode, std::move(items), Q(dest));
        t.Start();
        while (!t.Wait(1000)) {
        }
        if (changes)
            *changes = t.TakeChanges();
        return t.Results();
    }

    QTemporaryDir m_dir;
    QByteArray m_root;
};

} // namespace

TEST(CollisionName, TheCopyNamesKeepTheExtension) {
    EXPECT_EQ(CollisionName("a.jpg", 0, false), "a.jpg");
    EXPECT_EQ(CollisionName("a.jpg", 1, false), "a - コピー.jpg");
    EXPECT_EQ(CollisionName("a.jpg", 2, false), "a - コピー (2).jpg");
    EXPECT_EQ(CollisionName("a.jpg", 17, false), "a - コピー (17).jpg");
    EXPECT_EQ(CollisionName("photo.tar.gz", 1, false), "photo.tar - コピー.gz");
    EXPECT_EQ(CollisionName("noext", 1, false), "noext - コピー");
    EXPECT_EQ(CollisionName(".hidden", 1, false), ".hidden - コピー");
    EXPECT_EQ(CollisionName("2024.05", 2, true), "2024.05 - コピー (2)");
    // The bytes of a name that is not UTF-8 stay as they were around the added text.
    const QString raw = Q("\x8e\xca\x90\x5e.png");
    EXPECT_EQ(FileNames::ToNative(CollisionName(raw, 1, false)),
              QByteArray("\x8e\xca\x90\x5e - コピー.png"));
}

TEST_F(Transfer, ACopyKeepsEveryByteOfNameAndContentWithTimeAndPermissions) {
    QList<QByteArray> sources;
    quint32 seed = 1;
    for (const QByteArray& name : kAwkwardNames) {
        const QByteArray p = Src() + '/' + name;
        ASSERT_TRUE(WriteNative(p, Random(100000 + int(seed) * 4099, seed), 0640))
            << name.constData();
        SetMtime(p, 1000000000 + seed);
        sources << p;
        ++seed;
    }
    const auto results = Run(Mode::Copy, sources, Dst());
    ASSERT_EQ(results.size(), sources.size());
    for (int i = 0; i < sources.size(); ++i) {
        const QByteArray name = sources[i].mid(Src().size() + 1);
        const QByteArray target = Dst() + '/' + name;
        EXPECT_EQ(results[size_t(i)].outcome, Outcome::Done)
            << results[size_t(i)].reason.toStdString();
        EXPECT_EQ(FileNames::ToNative(results[size_t(i)].target), target);
        EXPECT_EQ(ReadNative(target), ReadNative(sources[i])) << name.constData();
        EXPECT_EQ(StatOf(target).st_mtim.tv_sec, time_t(1000000000 + i + 1));
        EXPECT_EQ(StatOf(target).st_mode & 07777, 0640u);
        EXPECT_TRUE(ExistsNative(sources[i])); // a copy leaves the source
    }
    EXPECT_FALSE(HasTemporaries(Dst()));
}

TEST_F(Transfer, TakenNamesGetCopyNames) {
    const QByteArray a = Src() + "/a.jpg";
    ASSERT_TRUE(WriteNative(a, "first"));
    ASSERT_EQ(::mkdir((Src() + "/pics").constData(), 0755), 0);
    ASSERT_TRUE(WriteNative(Src() + "/pics/in.jpg", "inside"));
    // Copies into the folder the files are in.
    for (int i = 0; i < 3; ++i) {
        const auto r = Run(Mode::Copy, {a}, Src());
        ASSERT_EQ(r[0].outcome, Outcome::Done) << r[0].reason.toStdString();
    }
    const auto r = Run(Mode::Copy, {Src() + "/pics"}, Src());
    ASSERT_EQ(r[0].outcome, Outcome::Done);
    EXPECT_EQ(FileNames::ToNative(r[0].target), Src() + "/pics - コピー");
    EXPECT_EQ(Tree(Src()), (QList<QByteArray>{"a - コピー (2).jpg", "a - コピー (3).jpg",
                                              "a - コピー.jpg", "a.jpg", "pics", "pics - コピー",
                                              "pics - コピー/in.jpg", "pics/in.jpg"}));
    EXPECT_EQ(ReadNative(Src() + "/a - コピー (3).jpg"), "first");
    // Two sources of one name from different folders in one operation.
    ASSERT_EQ(::mkdir((m_root + "/other").constData(), 0755), 0);
    ASSERT_TRUE(WriteNative(m_root + "/other/a.jpg", "second"));
    const auto both = Run(Mode::Copy, {a, m_root + "/other/a.jpg"}, Dst());
    EXPECT_EQ(ReadNative(Dst() + "/a.jpg"), "first");
    EXPECT_EQ(ReadNative(Dst() + "/a - コピー.jpg"), "second");
}

TEST_F(Transfer, FoldersAreCopiedWholeWithLinksPermissionsAndTimes) {
    const QByteArray f = Src() + "/album";
    ASSERT_EQ(::mkdir(f.constData(), 0755), 0);
    ASSERT_EQ(::mkdir((f + "/empty").constData(), 0700), 0);
    ASSERT_EQ(::mkdir((f + "/deep").constData(), 0755), 0);
    ASSERT_EQ(::mkdir((f + "/deep/er").constData(), 0755), 0);
    ASSERT_TRUE(WriteNative(f + "/deep/er/" + kAwkwardNames[5], Random(5000, 9)));
    ASSERT_TRUE(WriteNative(f + "/top.jpg", Random(70000, 3), 0600));
    ASSERT_EQ(::symlink("top.jpg", (f + "/link.jpg").constData()), 0);
    ASSERT_EQ(::mkdir((f + "/locked").constData(), 0755), 0);
    ASSERT_TRUE(WriteNative(f + "/locked/x.jpg", "x"));
    ASSERT_EQ(::chmod((f + "/locked").constData(), 0555), 0);
    SetMtime(f + "/deep", 1200000000);
    SetMtime(f, 1100000000);

    const auto r = Run(Mode::Copy, {f}, Dst());
    ASSERT_EQ(r[0].outcome, Outcome::Done) << r[0].reason.toStdString();
    const QByteArray c = Dst() + "/album";
    EXPECT_EQ(Tree(c), Tree(f));
    EXPECT_EQ(ReadNative(c + "/deep/er/" + kAwkwardNames[5]), Random(5000, 9));
    EXPECT_EQ(ReadNative(c + "/top.jpg"), ReadNative(f + "/top.jpg"));
    EXPECT_TRUE(S_ISLNK(StatOf(c + "/link.jpg").st_mode));
    char target[64] = {};
    ASSERT_GT(::readlink((c + "/link.jpg").constData(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "top.jpg");
    EXPECT_EQ(StatOf(c + "/empty").st_mode & 07777, 0700u);
    EXPECT_EQ(StatOf(c + "/locked").st_mode & 07777, 0555u);
    EXPECT_EQ(StatOf(c + "/top.jpg").st_mode & 07777, 0600u);
    EXPECT_EQ(StatOf(c + "/deep").st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(StatOf(c).st_mtim.tv_sec, 1100000000);
    EXPECT_FALSE(HasTemporaries(Dst()));
    ::chmod((f + "/locked").constData(), 0755);
    ::chmod((c + "/locked").constData(), 0755);
}

TEST_F(Transfer, AFolderIsNeverCopiedOrMovedIntoItself) {
    const QByteArray f = Src() + "/album";
    ASSERT_EQ(::mkdir(f.constData(), 0755), 0);
    ASSERT_EQ(::mkdir((f + "/sub").constData(), 0755), 0);
    ASSERT_TRUE(WriteNative(f + "/sub/p.jpg", "p"));
    // Reached through a link, too.
    ASSERT_EQ(::symlink((f + "/sub").constData(), (m_root + "/alias").constData()), 0);
    const QList<QByteArray> before = Tree(f);
    for (const Mode mode : {Mode::Copy, Mode::Move}) {
        for (const QByteArray& into : {f, f + "/sub", m_root + "/alias"}) {
            const auto r = Run(mode, {f}, into);
            EXPECT_EQ(r[0].outcome, Outcome::Failed) << into.constData();
            EXPECT_TRUE(r[0].reason.contains("それ自身の中に")) << r[0].reason.toStdString();
        }
    }
    EXPECT_EQ(Tree(f), before);
    EXPECT_TRUE(ExistsNative(f + "/sub/p.jpg"));
}

TEST_F(Transfer, AMoveWithinAFileSystemIsARenameAndReportsEveryFile) {
    const QByteArray file = Src() + '/' + kAwkwardNames[2];
    ASSERT_TRUE(WriteNative(file, "moved"));
    const ino_t inode = StatOf(file).st_ino;
    const QByteArray f = Src() + "/album";
    ASSERT_EQ(::mkdir(f.constData(), 0755), 0);
    ASSERT_EQ(::mkdir((f + "/sub").constData(), 0755), 0);
    ASSERT_TRUE(WriteNative(f + "/1.jpg", "1"));
    ASSERT_TRUE(WriteNative(f + "/sub/2.jpg", "2"));
    std::vector<CFileTransfer::Change> changes;
    const auto r = Run(Mode::Move, {file, f}, Dst(), &changes);
    ASSERT_EQ(r[0].outcome, Outcome::Done);
    ASSERT_EQ(r[1].outcome, Outcome::Done);
    EXPECT_EQ(StatOf(Dst() + '/' + kAwkwardNames[2]).st_ino, inode);
    EXPECT_FALSE(ExistsNative(file));
    EXPECT_FALSE(ExistsNative(f));
    QStringList seen;
    for (const auto& c : changes)
        seen << c.from + " -> " + c.to;
    seen.sort();
    QStringList expected{Q(file) + " -> " + Q(Dst() + '/' + kAwkwardNames[2]),
                         Q(f + "/1.jpg") + " -> " + Q(Dst() + "/album/1.jpg"),
                         Q(f + "/sub/2.jpg") + " -> " + Q(Dst() + "/album/sub/2.jpg")};
    expected.sort();
    EXPECT_EQ(seen, expected);

    // Moving into the folder the file is already in does nothing.
    const QByteArray there = Dst() + '/' + kAwkwardNames[2];
    const auto same = Run(Mode::Move, {there}, Dst(), &changes);
    EXPECT_EQ(same[0].outcome, Outcome::Done);
    EXPECT_EQ(ReadNative(there), "moved");
    EXPECT_TRUE(changes.empty());
}

TEST_F(Transfer, AMoveAcrossFileSystemsCopiesChecksAndThenRemovesTheSource) {
    const QByteArray other = OtherFileSystem(m_root);
    if (other.isEmpty())
        GTEST_SKIP() << "no writable file system apart from the temporary folder (/dev/shm)";
    QTemporaryDir there(Q(other) + "/quilla-move-XXXXXX");
    ASSERT_TRUE(there.isValid());
    const QByteArray dest = QFile::encodeName(there.path());
    const QByteArray file = Src() + '/' + kAwkwardNames[5];
    ASSERT_TRUE(WriteNative(file, Random(3 << 20, 5), 0604));
    SetMtime(file, 1300000000);
    const QByteArray f = Src() + "/album";
    ASSERT_EQ(::mkdir(f.constData(), 0755), 0);
    ASSERT_TRUE(WriteNative(f + "/1.jpg", Random(20000, 6)));
    ASSERT_EQ(::symlink("1.jpg", (f + "/l.jpg").constData()), 0);
    std::vector<CFileTransfer::Change> changes;
    const auto r = Run(Mode::Move, {file, f}, dest, &changes);
    ASSERT_EQ(r[0].outcome, Outcome::Done) << r[0].reason.toStdString();
    ASSERT_EQ(r[1].outcome, Outcome::Done) << r[1].reason.toStdString();
    EXPECT_EQ(ReadNative(dest + '/' + kAwkwardNames[5]), Random(3 << 20, 5));
    EXPECT_EQ(StatOf(dest + '/' + kAwkwardNames[5]).st_mtim.tv_sec, 1300000000);
    EXPECT_EQ(StatOf(dest + '/' + kAwkwardNames[5]).st_mode & 07777, 0604u);
    EXPECT_EQ(ReadNative(dest + "/album/1.jpg"), Random(20000, 6));
    EXPECT_TRUE(S_ISLNK(StatOf(dest + "/album/l.jpg").st_mode));
    EXPECT_FALSE(ExistsNative(file));
    EXPECT_FALSE(ExistsNative(f));
    EXPECT_EQ(changes.size(), 3u);
    EXPECT_FALSE(HasTemporaries(dest));
    RemoveTreeNative(there.path());
}

TEST_F(Transfer, AMoveAcrossFileSystemsKeepsASourceThatWasSavedOverMeanwhile) {
    const QByteArray other = OtherFileSystem(m_root);
    if (other.isEmpty())
        GTEST_SKIP() << "no writable file system apart from the temporary folder (/dev/shm)";
    QTemporaryDir there(Q(other) + "/quilla-move-XXXXXX");
    ASSERT_TRUE(there.isValid());
    const QByteArray dest = QFile::encodeName(there.path());
    const QByteArray photo = Src() + "/photo.jpg", notes = Src() + "/notes.jpg";
    const QByteArray album = Src() + "/album";
    ASSERT_TRUE(WriteNative(photo, Random(300000, 11)));
    ASSERT_TRUE(WriteNative(notes, Random(4000, 12)));
    ASSERT_EQ(::mkdir(album.constData(), 0755), 0);
    ASSERT_TRUE(WriteNative(album + "/1.jpg", Random(50000, 13)));
    ASSERT_TRUE(WriteNative(album + "/2.jpg", Random(50000, 14)));
    // Between the copy and the removal another program saves: photo.jpg and album/1.jpg as
    // editors do (a new file renamed over the old one, of the same size and time), notes.jpg in
    // place (appended to).
    CFileTransfer::s_beforeRemove = [&](CFileTransfer&, const QByteArray& path) {
        if (path == photo || path == album + "/1.jpg") {
            const struct stat old = StatOf(path);
            const QByteArray temp = path + ".saving";
            ASSERT_TRUE(WriteNative(temp, Random(int(old.st_size), 99)));
            SetMtime(temp, old.st_mtim.tv_sec);
            ASSERT_EQ(::rename(temp.constData(), path.constData()), 0);
        } else if (path == notes) {
            const int fd = ::open(path.constData(), O_WRONLY | O_APPEND);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::write(fd, "!", 1), 1);
            ::close(fd);
        }
    };
    std::vector<CFileTransfer::Change> changes;
    const auto r = Run(Mode::Move, {photo, notes, album}, dest, &changes);
    const QString why = "コピーした後に別のプログラムが移動元を書き換えたため、"
                        "移動元とコピーの両方を残しました";
    EXPECT_EQ(r[0].outcome, Outcome::Failed);
    EXPECT_EQ(r[0].reason, why);
    EXPECT_EQ(r[1].outcome, Outcome::Failed);
    EXPECT_EQ(r[1].reason, why);
    EXPECT_EQ(r[2].outcome, Outcome::Failed);
    EXPECT_EQ(r[2].reason, "1.jpg: " + why);
    // The new versions stay where they were; the copies hold what was read.
    EXPECT_EQ(ReadNative(photo), Random(300000, 99));
    EXPECT_EQ(ReadNative(dest + "/photo.jpg"), Random(300000, 11));
    EXPECT_EQ(ReadNative(notes), Random(4000, 12) + "!");
    EXPECT_EQ(ReadNative(dest + "/notes.jpg"), Random(4000, 12));
    EXPECT_EQ(ReadNative(album + "/1.jpg"), Random(50000, 99));
    EXPECT_EQ(ReadNative(dest + "/album/1.jpg"), Random(50000, 13));
    // What nobody touched is moved as usual.
    EXPECT_FALSE(ExistsNative(album + "/2.jpg"));
    EXPECT_EQ(ReadNative(dest + "/album/2.jpg"), Random(50000, 14));
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].from, Q(album + "/2.jpg"));
    EXPECT_FALSE(HasTemporaries(dest));
    RemoveTreeNative(there.path());
}

TEST_F(Transfer, LeftoversOfAKilledTransferGoOnceTheirProcessIsGone) {
    const QByteArray big = Src() + "/big.jpg";
    ASSERT_TRUE(WriteNative(big, Random(24 << 20, 21)));
    // A transfer killed in the middle of a file (a process of its own, as Quilla would be).
    const pid_t killed = ::fork();
    ASSERT_GE(killed, 0);
    if (killed == 0) {
        CFileTransfer::s_onChunk = [](CFileTransfer&) { ::raise(SIGKILL); };
        CFileTransfer t(Mode::Copy, {{Q(big), CFileTransfer::Collision::Rename}}, Q(Dst()));
        t.Run();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(killed, &status, 0), killed);
    ASSERT_TRUE(WIFSIGNALED(status));
    const QByteArray deadPid = QByteArray::number(killed);
    const QList<QByteArray> left = Tree(Dst());
    ASSERT_EQ(left.size(), 1);
    EXPECT_TRUE(left[0].startsWith(".quilla-" + deadPid + "-")) << left[0].constData();

    // A running program's temporary entries stay, whatever their age.
    QProcess running;
    running.start("sleep", {"60"});
    ASSERT_TRUE(running.waitForStarted());
    const QByteArray livePid = QByteArray::number(running.processId());
    ASSERT_EQ(::mkdir((Dst() + "/.quilla-" + livePid + "-aB3dE9").constData(), 0700), 0);
    ASSERT_EQ(::symlink("x.jpg", (Dst() + "/.quilla-link-" + livePid + "-0").constData()), 0);
    // More of the dead one's: a folder with a read-only folder inside, and a link.
    const QByteArray deadFolder = Dst() + "/.quilla-" + deadPid + "-Zz0000";
    ASSERT_EQ(::mkdir(deadFolder.constData(), 0700), 0);
    ASSERT_EQ(::mkdir((deadFolder + "/album").constData(), 0700), 0);
    ASSERT_TRUE(WriteNative(deadFolder + "/album/1.jpg", "1"));
    ASSERT_EQ(::chmod((deadFolder + "/album").constData(), 0500), 0);
    ASSERT_EQ(::symlink("x.jpg", (Dst() + "/.quilla-link-" + deadPid + "-3").constData()), 0);
    // Names that only look like ours are the user's.
    ASSERT_TRUE(WriteNative(Dst() + "/.quilla-notes.txt", "mine"));
    ASSERT_TRUE(WriteNative(Dst() + "/.quilla-" + deadPid + "-longer name", "mine"));

    // The next transfer into the folder clears what the dead process left, and only that.
    ASSERT_TRUE(WriteNative(Src() + "/small.jpg", "small"));
    const auto r = Run(Mode::Copy, {Src() + "/small.jpg"}, Dst());
    EXPECT_EQ(r[0].outcome, Outcome::Done);
    QList<QByteArray> expected{".quilla-" + deadPid + "-longer name",
                               ".quilla-" + livePid + "-aB3dE9", ".quilla-link-" + livePid + "-0",
                               ".quilla-notes.txt", "small.jpg"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Tree(Dst()), expected);
    running.kill();
    running.waitForFinished();
}

TEST_F(Transfer, AStoppedCopyLeavesTheSourcesAndNoPartialFile) {
    // Three files of three pieces each; the stop comes in the middle of the second.
    QList<QByteArray> sources;
    for (int i = 0; i < 3; ++i) {
        sources << Src() + "/big" + QByteArray::number(i) + ".jpg";
        ASSERT_TRUE(WriteNative(sources.back(), Random(20 << 20, quint32(i + 1))));
    }
    int chunks = 0;
    CFileTransfer::s_onChunk = [&](CFileTransfer& t) {
        if (++chunks == 5)
            t.Stop();
    };
    const auto r = Run(Mode::Copy, sources, Dst());
    EXPECT_EQ(r[0].outcome, Outcome::Done);
    EXPECT_EQ(r[1].outcome, Outcome::Stopped);
    EXPECT_EQ(r[2].outcome, Outcome::NotStarted);
    EXPECT_EQ(Tree(Dst()), QList<QByteArray>{"big0.jpg"});
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ReadNative(sources[i]), Random(20 << 20, quint32(i + 1)));
}

TEST_F(Transfer, AStoppedMoveAcrossFileSystemsLeavesTheFolderWhereItWas) {
    const QByteArray other = OtherFileSystem(m_root);
    if (other.isEmpty())
        GTEST_SKIP() << "no writable file system apart from the temporary folder (/dev/shm)";
    QTemporaryDir there(Q(other) + "/quilla-move-XXXXXX");
    const QByteArray dest = QFile::encodeName(there.path());
    const QByteArray f = Src() + "/album";
    ASSERT_EQ(::mkdir(f.constData(), 0755), 0);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(
            WriteNative(f + "/" + QByteArray::number(i) + ".jpg", Random(10 << 20, quint32(i))));
    const QList<QByteArray> before = Tree(f);
    int chunks = 0;
    CFileTransfer::s_onChunk = [&](CFileTransfer& t) {
        if (++chunks == 4)
            t.Stop();
    };
    const auto r = Run(Mode::Move, {f}, dest);
    EXPECT_EQ(r[0].outcome, Outcome::Stopped);
    EXPECT_EQ(Tree(f), before);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ReadNative(f + "/" + QByteArray::number(i) + ".jpg"),
                  Random(10 << 20, quint32(i)));
    EXPECT_TRUE(Tree(dest).isEmpty());
    RemoveTreeNative(there.path());
}

TEST_F(Transfer, FailuresNameTheFileAndLeaveNothingBehind) {
    // A folder holding a FIFO (whose reading would never end), a missing file, a dangling link.
    const QByteArray f = Src() + "/album";
    ASSERT_EQ(::mkdir(f.constData(), 0755), 0);
    ASSERT_TRUE(WriteNative(f + "/ok.jpg", "ok"));
    ASSERT_EQ(::mkfifo((f + "/pipe.jpg").constData(), 0644), 0);
    ASSERT_EQ(::symlink("nowhere", (Src() + "/dangling.jpg").constData()), 0);
    const auto r = Run(Mode::Copy, {f, Src() + "/missing.jpg", Src() + "/dangling.jpg"}, Dst());
    EXPECT_EQ(r[0].outcome, Outcome::Failed);
    EXPECT_TRUE(r[0].reason.startsWith("pipe.jpg: ")) << r[0].reason.toStdString();
    EXPECT_EQ(r[1].outcome, Outcome::Failed);
    EXPECT_EQ(r[1].reason, "ファイルが見つかりません");
    EXPECT_EQ(r[2].outcome, Outcome::Failed);
    EXPECT_TRUE(Tree(Dst()).isEmpty());
}

TEST_F(Transfer, AReplacementReportsTheFileItReplaced) {
    ASSERT_TRUE(WriteNative(Src() + "/a.jpg", "new"));
    ASSERT_TRUE(WriteNative(Dst() + "/a.jpg", "old"));
    ASSERT_EQ(::mkdir((Dst() + "/f.jpg").constData(), 0755), 0);
    ASSERT_TRUE(WriteNative(Src() + "/f.jpg", "file over a folder"));
    CFileTransfer t(Mode::Copy,
                    {{Q(Src() + "/a.jpg"), CFileTransfer::Collision::Replace},
                     {Q(Src() + "/f.jpg"), CFileTransfer::Collision::Replace}},
                    Q(Dst()));
    t.Run();
    EXPECT_EQ(t.Results()[0].outcome, Outcome::Done);
    EXPECT_EQ(ReadNative(Dst() + "/a.jpg"), "new");
    // A folder is never replaced by a file.
    EXPECT_EQ(t.Results()[1].outcome, Outcome::Failed);
    EXPECT_TRUE(S_ISDIR(StatOf(Dst() + "/f.jpg").st_mode));
    const auto changes = t.TakeChanges();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].from, Q(Dst() + "/a.jpg"));
    EXPECT_TRUE(changes[0].to.isEmpty());
    EXPECT_FALSE(HasTemporaries(Dst()));
}

TEST_F(Transfer, AFullDiskFailsWithItsReasonAndLosesNothing) {
    ScopedMount small(Dst(), 1024);
    if (!small.Usable())
        GTEST_SKIP() << small.Why();
    ASSERT_TRUE(WriteNative(Src() + "/small.jpg", Random(100000, 1)));
    ASSERT_TRUE(WriteNative(Src() + "/big.jpg", Random(3 << 20, 2)));
    ASSERT_TRUE(WriteNative(Src() + "/later.jpg", Random(1000, 3)));
    for (const Mode mode : {Mode::Copy, Mode::Move}) {
        const auto r =
            Run(mode, {Src() + "/small.jpg", Src() + "/big.jpg", Src() + "/later.jpg"}, Dst());
        EXPECT_EQ(r[0].outcome, Outcome::Done);
        EXPECT_EQ(r[1].outcome, Outcome::Failed);
        EXPECT_EQ(r[1].reason, "ディスクの空き領域が足りません");
        // The rest is not tried: it would only meet the same full disk.
        EXPECT_EQ(r[2].outcome, Outcome::NotStarted);
        EXPECT_FALSE(r[2].reason.isEmpty());
        EXPECT_EQ(Tree(Dst()), QList<QByteArray>{"small.jpg"});
        EXPECT_EQ(ReadNative(Src() + "/big.jpg"), Random(3 << 20, 2));
        EXPECT_EQ(ReadNative(Src() + "/later.jpg"), Random(1000, 3));
        ::unlink((Dst() + "/small.jpg").constData());
        if (mode == Mode::Move) {
            EXPECT_FALSE(ExistsNative(Src() + "/small.jpg"));
        }
    }
}

TEST_F(Transfer, AReadOnlyDestinationFailsAndLosesNothing) {
    ScopedMount ro(Dst());
    if (!ro.Usable())
        GTEST_SKIP() << ro.Why();
    ASSERT_TRUE(WriteNative(Src() + "/a.jpg", "a"));
    ASSERT_TRUE(WriteNative(Src() + "/b.jpg", "b"));
    for (const Mode mode : {Mode::Copy, Mode::Move}) {
        const auto r = Run(mode, {Src() + "/a.jpg", Src() + "/b.jpg"}, Dst());
        EXPECT_EQ(r[0].outcome, Outcome::Failed);
        EXPECT_EQ(r[0].reason, "書き込みできないボリュームです");
        EXPECT_EQ(r[1].outcome, Outcome::NotStarted);
        EXPECT_EQ(ReadNative(Src() + "/a.jpg"), "a");
        EXPECT_EQ(ReadNative(Src() + "/b.jpg"), "b");
        EXPECT_TRUE(Tree(Dst()).isEmpty());
    }
}

// ---- The shell file operation ----

namespace {

class ShellOp : public Transfer {
protected:
    void SetUp() override {
        Transfer::SetUp();
        m_oldResponder = SetMessageBoxResponder([this](const MsgBoxRequest& r) {
            m_boxes.push_back(r);
            return m_answer;
        });
        m_oldHook = Shell::SetChangeHook([this](const QString& from, const QString& to) {
            m_changes << from + " -> " + (to.isEmpty() ? QStringLiteral("(removed)") : to);
        });
    }
    void TearDown() override {
        CFileOpProgressDlg::s_nDelayMs = 500;
        CFileOpProgressDlg::s_onShow = nullptr;
        Shell::SetChangeHook(std::move(m_oldHook));
        SetMessageBoxResponder(std::move(m_oldResponder));
        Transfer::TearDown();
    }
    int Op(unsigned func, const QList<QByteArray>& from, const QByteArray& to,
           unsigned flags = Shell::FOF_ALLOWUNDO | Shell::FOF_RENAMEONCOLLISION) {
        Shell::FileOp op;
        op.func = func;
        for (const QByteArray& f : from)
            op.from << Q(f);
        op.to = Q(to);
        op.flags = flags;
        op.rejected = m_rejected;
        return Shell::SHFileOperation(op);
    }

    std::vector<MsgBoxRequest> m_boxes;
    int m_answer = IDOK;
    QStringList m_changes;
    QStringList m_rejected;

private:
    MsgBoxResponder m_oldResponder;
    Shell::ChangeHook m_oldHook;
};

} // namespace

TEST_F(ShellOp, TheProgressWindowShowsTheFileAndItsStopButtonAnswersAtOnce) {
    QList<QByteArray> sources;
    for (int i = 0; i < 3; ++i) {
        sources << Src() + "/写真 " + QByteArray::number(i) + ".jpg";
        ASSERT_TRUE(WriteNative(sources.back(), Random(24 << 20, quint32(i + 7))));
    }
    // A disk that stalls after the first piece until the stop button has been pressed: the copy
    // must stop at the next piece, however slowly this machine runs the window.
    std::atomic<bool> pressed{false};
    std::atomic<int> pieces{0};
    CFileTransfer::s_onChunk = [&](CFileTransfer&) {
        ++pieces;
        const QDeadlineTimer stall(10000);
        while (!pressed && !stall.hasExpired())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    CFileOpProgressDlg::s_nDelayMs = 0;
    QString shownFile, title, button;
    bool modal = false;
    CFileOpProgressDlg::s_onShow = [&](CFileOpProgressDlg& dlg) {
        const QDeadlineTimer deadline(5000);
        while (dlg.CurrentText().isEmpty() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        shownFile = dlg.CurrentText();
        title = dlg.windowTitle();
        button = dlg.StopButton()->text();
        modal = dlg.isModal() && dlg.isVisible();
        QTest::mouseClick(dlg.StopButton(), Qt::LeftButton);
        pressed = true;
    };
    EXPECT_EQ(Op(Shell::FO_COPY, sources, Dst()), Shell::kFileOpCancelled);
    // The piece that waited for the button, and at most the one under way when it was pressed:
    // far from the whole copy's nine.
    EXPECT_LE(pieces.load(), 2);
    EXPECT_EQ(shownFile, "写真 0.jpg");
    EXPECT_EQ(title, "コピー中");
    EXPECT_EQ(button, "中止");
    EXPECT_TRUE(modal);
    // Being stopped is no error to report; nothing partial is left and every source is whole.
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_TRUE(Tree(Dst()).isEmpty());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ReadNative(sources[i]), Random(24 << 20, quint32(i + 7)));
}

TEST_F(ShellOp, QuickWorkShowsNoWindow) {
    ASSERT_TRUE(WriteNative(Src() + "/a.jpg", "a"));
    bool shown = false;
    CFileOpProgressDlg::s_onShow = [&](CFileOpProgressDlg&) { shown = true; };
    EXPECT_EQ(Op(Shell::FO_COPY, {Src() + "/a.jpg"}, Dst()), Shell::kFileOpOk);
    EXPECT_FALSE(shown);
    EXPECT_EQ(ReadNative(Dst() + "/a.jpg"), "a");
}

TEST_F(ShellOp, EveryFailureIsListedInOneBoxWithItsReason) {
    ASSERT_TRUE(WriteNative(Src() + "/good.jpg", "good"));
    ASSERT_EQ(::mkfifo((Src() + "/pipe.jpg").constData(), 0644), 0);
    m_rejected << "http://example.org/x.jpg";
    EXPECT_EQ(Op(Shell::FO_COPY,
                 {Src() + "/good.jpg", Src() + "/gone " + kAwkwardNames[5], Src() + "/pipe.jpg"},
                 Dst()),
              Shell::kFileOpFailed);
    ASSERT_EQ(m_boxes.size(), 1u);
    const QString text = m_boxes[0].text;
    EXPECT_TRUE(text.startsWith("次の項目をコピーできませんでした。")) << text.toStdString();
    EXPECT_TRUE(text.contains("http://example.org/x.jpg: ローカルのファイルではありません"));
    // The name that is not UTF-8 is shown decoded.
    EXPECT_TRUE(text.contains(Q(Src()) + "/gone 写真.png: ファイルが見つかりません"))
        << text.toStdString();
    EXPECT_TRUE(text.contains(Q(Src()) + "/pipe.jpg: 通常のファイルではありません"));
    EXPECT_EQ(m_boxes[0].caption, "コピーエラー");
    EXPECT_EQ(ReadNative(Dst() + "/good.jpg"), "good");
}

TEST_F(ShellOp, AnUnusableDestinationIsSaidBeforeAnythingIsTouched) {
    ASSERT_TRUE(WriteNative(Src() + "/a.jpg", "a"));
    EXPECT_EQ(Op(Shell::FO_MOVE, {Src() + "/a.jpg"}, m_root + "/no such folder"),
              Shell::kFileOpFailed);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_TRUE(m_boxes[0].text.contains("移動先のフォルダ")) << m_boxes[0].text.toStdString();
    EXPECT_TRUE(ExistsNative(Src() + "/a.jpg"));

    ScopedMount ro(Dst());
    if (!ro.Usable())
        GTEST_SKIP() << ro.Why();
    m_boxes.clear();
    EXPECT_EQ(Op(Shell::FO_MOVE, {Src() + "/a.jpg"}, Dst()), Shell::kFileOpFailed);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_TRUE(m_boxes[0].text.contains("書き込みできないボリュームです"));
    EXPECT_TRUE(ExistsNative(Src() + "/a.jpg"));
}

TEST_F(ShellOp, AFullDiskIsReportedByNameAndTheSourceStays) {
    ScopedMount small(Dst(), 512);
    if (!small.Usable())
        GTEST_SKIP() << small.Why();
    ASSERT_TRUE(WriteNative(Src() + "/" + kAwkwardNames[3], Random(2 << 20, 4)));
    EXPECT_EQ(Op(Shell::FO_MOVE, {Src() + "/" + kAwkwardNames[3]}, Dst()), Shell::kFileOpFailed);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_TRUE(m_boxes[0].text.contains("写真 2024.jpg: ディスクの空き領域が足りません"))
        << m_boxes[0].text.toStdString();
    EXPECT_EQ(ReadNative(Src() + "/" + kAwkwardNames[3]), Random(2 << 20, 4));
    EXPECT_TRUE(Tree(Dst()).isEmpty());
    EXPECT_TRUE(m_changes.isEmpty());
}

TEST_F(ShellOp, WithoutRenamingTheUserDecidesWhetherAFileIsReplaced) {
    ASSERT_TRUE(WriteNative(Src() + "/a.jpg", "new"));
    ASSERT_TRUE(WriteNative(Dst() + "/a.jpg", "old"));
    m_answer = IDNO;
    EXPECT_EQ(Op(Shell::FO_COPY, {Src() + "/a.jpg"}, Dst(), Shell::FOF_ALLOWUNDO),
              Shell::kFileOpCancelled);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].type, MB_YESNO | MB_ICONQUESTION);
    EXPECT_TRUE(m_boxes[0].text.contains("置き換えますか？"));
    EXPECT_EQ(ReadNative(Dst() + "/a.jpg"), "old");

    m_answer = IDYES;
    EXPECT_EQ(Op(Shell::FO_COPY, {Src() + "/a.jpg"}, Dst(), Shell::FOF_ALLOWUNDO),
              Shell::kFileOpOk);
    EXPECT_EQ(ReadNative(Dst() + "/a.jpg"), "new");
    // The replaced file's thumbnail is stale.
    EXPECT_EQ(m_changes, QStringList{Q(Dst() + "/a.jpg") + " -> (removed)"});

    // With renaming nobody is asked.
    m_boxes.clear();
    EXPECT_EQ(Op(Shell::FO_COPY, {Src() + "/a.jpg"}, Dst()), Shell::kFileOpOk);
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(ReadNative(Dst() + "/a - コピー.jpg"), "new");
}

TEST_F(ShellOp, TheChangeHookFollowsMovesRenamesAndDeletions) {
    const QByteArray f = Src() + "/album";
    ASSERT_EQ(::mkdir(f.constData(), 0755), 0);
    ASSERT_TRUE(WriteNative(f + "/1.jpg", "1"));
    ASSERT_TRUE(WriteNative(Src() + "/" + kAwkwardNames[5], "raw"));

    EXPECT_EQ(Op(Shell::FO_MOVE, {f, Src() + "/" + kAwkwardNames[5]}, Dst()), Shell::kFileOpOk);
    EXPECT_EQ(m_changes, (QStringList{Q(f + "/1.jpg") + " -> " + Q(Dst() + "/album/1.jpg"),
                                      Q(Src() + "/" + kAwkwardNames[5]) + " -> " +
                                          Q(Dst() + "/" + kAwkwardNames[5])}));

    m_changes.clear();
    ASSERT_TRUE(Shell::Rename(Q(Dst() + "/album"), Q(Dst() + "/アルバム")));
    ASSERT_TRUE(Shell::Rename(Q(Dst() + "/" + kAwkwardNames[5]), Q(Dst() + "/b.png")));
    EXPECT_EQ(m_changes,
              (QStringList{Q(Dst() + "/album/1.jpg") + " -> " + Q(Dst() + "/アルバム/1.jpg"),
                           Q(Dst() + "/" + kAwkwardNames[5]) + " -> " + Q(Dst() + "/b.png")}));

    // A rename never replaces, and a failed one reports nothing.
    m_changes.clear();
    ASSERT_TRUE(WriteNative(Dst() + "/c.png", "c"));
    QString reason;
    EXPECT_FALSE(Shell::Rename(Q(Dst() + "/b.png"), Q(Dst() + "/c.png"), &reason));
    EXPECT_EQ(reason, "同じ名前の項目が既にあります");
    EXPECT_EQ(ReadNative(Dst() + "/c.png"), "c");
    EXPECT_TRUE(m_changes.isEmpty());

    // Deletion goes to the Trash (the tests' own data folder) after the question.
    m_answer = IDYES;
    EXPECT_EQ(Op(Shell::FO_DELETE, {Dst() + "/アルバム", Dst() + "/b.png"}, QByteArray()),
              Shell::kFileOpOk);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, "これらの 2 個の項目をごみ箱に移しますか？");
    EXPECT_EQ(m_changes, (QStringList{Q(Dst() + "/アルバム/1.jpg") + " -> (removed)",
                                      Q(Dst() + "/b.png") + " -> (removed)"}));
    EXPECT_FALSE(ExistsNative(Dst() + "/b.png"));
    EXPECT_FALSE(ExistsNative(Dst() + "/アルバム"));

    // Declining deletes nothing.
    m_answer = IDNO;
    m_changes.clear();
    EXPECT_EQ(Op(Shell::FO_DELETE, {Dst() + "/c.png"}, QByteArray()), Shell::kFileOpCancelled);
    EXPECT_TRUE(ExistsNative(Dst() + "/c.png"));
    EXPECT_TRUE(m_changes.isEmpty());
}

TEST(ErrorText, EveryReasonIsJapaneseAndTheCommonOnesAreNamed) {
    const QRegularExpression latin("[A-Za-z]");
    for (int err = 1; err < 134; ++err) {
        const QString text = Files::ErrorText(err);
        EXPECT_FALSE(text.isEmpty()) << err;
        EXPECT_FALSE(text.contains(latin)) << err << " " << text.toStdString();
    }
    // What a file operation meets has a reason of its own, not the general one.
    const QString general = Files::ErrorText(EHWPOISON);
    EXPECT_TRUE(general.startsWith("システムエラーが起きました")) << general.toStdString();
    for (const int err :
         {ENOENT, EACCES,  EPERM,   EEXIST,    ENOSPC, EDQUOT, EROFS,    ELOOP, ENAMETOOLONG,
          EXDEV,  EISDIR,  ENOTDIR, ENOTEMPTY, EBUSY,  EIO,    EMLINK,   EFBIG, ETXTBSY,
          EINVAL, ENOTSUP, EMFILE,  ENOMEM,    ESTALE, ENODEV, ETIMEDOUT})
        EXPECT_FALSE(Files::ErrorText(err).startsWith("システムエラー")) << err;
    EXPECT_NE(Files::ErrorText(EACCES), Files::ErrorText(EPERM));
}

TEST_F(ShellOp, TheSystemsReasonsAreShownInJapanese) {
    // A link that leads to itself: following it never ends.
    ASSERT_EQ(::symlink("loop.jpg", (Src() + "/loop.jpg").constData()), 0);
    EXPECT_EQ(Op(Shell::FO_COPY, {Src() + "/loop.jpg"}, Dst()), Shell::kFileOpFailed);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_TRUE(m_boxes[0].text.contains(
        Q(Src()) + "/loop.jpg: シンボリックリンクが循環しているか、深すぎます"))
        << m_boxes[0].text.toStdString();
    // A destination path through a file.
    m_boxes.clear();
    ASSERT_TRUE(WriteNative(Src() + "/a.jpg", "a"));
    EXPECT_EQ(Op(Shell::FO_COPY, {Src() + "/a.jpg"}, Src() + "/a.jpg/inside"),
              Shell::kFileOpFailed);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_TRUE(m_boxes[0].text.contains("フォルダではありません"))
        << m_boxes[0].text.toStdString();
    // A name longer than the file system takes.
    QString reason;
    EXPECT_FALSE(
        Shell::Rename(Q(Src() + "/a.jpg"), Q(Src() + "/" + QByteArray(300, 'n')), &reason));
    EXPECT_EQ(reason, "名前が長すぎます");
    // Nothing shown anywhere is the system's English.
    for (const MsgBoxRequest& box : m_boxes)
        EXPECT_FALSE(box.text.contains("Too many levels")) << box.text.toStdString();
}
