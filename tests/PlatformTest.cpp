// The platform layer on real files: names that keep their bytes, the Trash, the mount table and
// the folder listing.
#include "TestSupport.h"

#include "platform/DirList.h"
#include "platform/FileNames.h"
#include "platform/Trash.h"
#include "platform/Volumes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// "写真.png" as code page 932 bytes, as an old archive or a FAT medium names it.
const QByteArray kSjisName("\x8e\xca\x90\x5e.png");

// Sets an environment variable for the lifetime of the object ("unset" with a null value).
class EnvGuard {
public:
    EnvGuard(const char* name, const QByteArray& value) : m_name(name) {
        m_had = qEnvironmentVariableIsSet(name);
        m_old = qgetenv(name);
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~EnvGuard() {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

} // namespace

TEST(FileNames, BytesThatAreNotUtf8SurviveTheRoundTrip) {
    const QByteArray samples[] = {"plain.jpg",    "日本語.png", kSjisName, "mixed\xff\xfe写真.jpg",
                                  "\xe3\x81",     // a cut UTF-8 sequence
                                  "\xed\xa0\x80", // an encoded surrogate is no valid UTF-8
                                  "\xc0\xaf"};    // nor is an overlong "/"
    for (const QByteArray& raw : samples) {
        const QString name = FileNames::FromNative(raw);
        EXPECT_EQ(FileNames::ToNative(name), raw) << raw.toHex().constData();
        EXPECT_EQ(FileNames::HasRawBytes(name), QString::fromUtf8(raw).toUtf8() != raw)
            << raw.toHex().constData();
    }
    // Valid UTF-8 stays as it is; code page 932 bytes are shown decoded.
    EXPECT_EQ(FileNames::FromNative(QByteArray("日本語.png")), QStringLiteral("日本語.png"));
    EXPECT_EQ(FileNames::Display(FileNames::FromNative(kSjisName)), QStringLiteral("写真.png"));
    // The address keeps every byte.
    EXPECT_EQ(FileNames::ToFileUrl(FileNames::FromNative(QByteArray("/a b/\x8e\xca%.png"))),
              QByteArray("file:///a%20b/%8E%CA%25.png"));
}

TEST(FileNames, CodePage932Encoding) {
    EXPECT_EQ(FileNames::Cp932::Encode(QStringLiteral("阿ｱＡ")),
              QByteArray("\x88\xa2\xb1\x82\x60"));
    // A character the code page cannot hold.
    EXPECT_FALSE(FileNames::Cp932::Encode(QStringLiteral("😀")).has_value());
    EXPECT_EQ(FileNames::Cp932::Decode(QByteArray("\x88\xa2\xb1")), QStringLiteral("阿ｱ"));
}

TEST(DirList, OnlyRegularFilesAndTheirBytes) {
    QTemporaryDir dir;
    const QByteArray d = QFile::encodeName(dir.path());
    ASSERT_TRUE(WriteNative(d + "/real.jpg", "12345"));
    ASSERT_TRUE(WriteNative(d + "/" + kSjisName));
    ASSERT_EQ(::mkfifo((d + "/fifo.jpg").constData(), 0644), 0);
    ASSERT_EQ(::mkdir((d + "/folder.jpg").constData(), 0755), 0);
    ASSERT_EQ(::symlink("real.jpg", (d + "/link.jpg").constData()), 0);
    ASSERT_EQ(::symlink("missing", (d + "/dangling.jpg").constData()), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray sockPath = d + "/sock.jpg";
    ASSERT_LT(size_t(sockPath.size()), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, sockPath.constData(), size_t(sockPath.size()));
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    QStringList offered, listed;
    int64_t size = -1;
    ASSERT_TRUE(DirList::ForEachFile(
        dir.path(),
        [&](const QString& name) {
            offered << name;
            return name != QLatin1String("link.jpg");
        },
        [&](const DirList::Entry& e) {
            listed << e.name;
            if (e.name == QLatin1String("real.jpg"))
                size = int64_t(e.size);
        }));
    ::close(sock);
    RemoveTreeNative(dir.path());
    listed.sort();
    // A FIFO, a socket, a folder and a dangling link are never listed (opening a FIFO would block
    // the program); the name filter sees names before anything else is asked.
    EXPECT_EQ(listed, (QStringList{"real.jpg", FileNames::FromNative(kSjisName)}));
    EXPECT_EQ(size, 5);
    EXPECT_TRUE(offered.contains("link.jpg"));
    EXPECT_FALSE(offered.contains("folder.jpg"));
}

class TrashTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_home.isValid()); }
    void TearDown() override { RemoveTreeNative(m_home.path()); }
    QByteArray Home() const { return QFile::encodeName(m_home.path()); }
    QTemporaryDir m_home;
};

TEST_F(TrashTest, AFreshAccountGetsAPrivateHomeTrashAndNothingBesideTheFile) {
    EnvGuard home("HOME", Home());
    EnvGuard data("XDG_DATA_HOME", QByteArray());
    ASSERT_EQ(::mkdir((Home() + "/pictures").constData(), 0755), 0);
    const QByteArray file = Home() + "/pictures/" + kSjisName;
    ASSERT_TRUE(WriteNative(file, "picture"));

    QString reason;
    ASSERT_TRUE(Trash::MoveToTrash(FileNames::FromNative(file), &reason)) << reason.toStdString();
    const QByteArray trash = Home() + "/.local/share/Trash";
    EXPECT_EQ(FileNames::ToNative(Trash::HomeTrash()), trash);
    struct stat st {};
    ASSERT_EQ(::stat(trash.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_FALSE(ExistsNative(file));
    EXPECT_TRUE(ExistsNative(trash + "/files/" + kSjisName));
    const QByteArray text = ReadNative(trash + "/info/" + kSjisName + ".trashinfo");
    EXPECT_TRUE(text.startsWith("[Trash Info]\nPath=")) << text.constData();
    EXPECT_TRUE(text.contains("/pictures/%8E%CA%90%5E.png\n")) << text.constData();
    EXPECT_TRUE(text.contains("DeletionDate=")) << text.constData();
    // Nothing was made in the user's own folder or beside the file.
    EXPECT_FALSE(ExistsNative(Home() + "/files"));
    EXPECT_FALSE(ExistsNative(Home() + "/info"));
    EXPECT_FALSE(ExistsNative(Home() + "/pictures/files"));

    // A second file of the same name gets a name of its own in the Trash.
    ASSERT_TRUE(WriteNative(file, "again"));
    ASSERT_TRUE(Trash::MoveToTrash(FileNames::FromNative(file), &reason));
    EXPECT_TRUE(ExistsNative(trash + "/files/" + kSjisName + ".2"));
}

TEST_F(TrashTest, WhenNoTrashCanTakeTheFileItStaysWithAReason) {
    EnvGuard home("HOME", Home());
    EnvGuard data("XDG_DATA_HOME", Home() + "/data");
    ASSERT_EQ(::mkdir((Home() + "/data").constData(), 0700), 0);
    ASSERT_TRUE(WriteNative(Home() + "/data/Trash", "a file where the Trash should be"));
    const QByteArray file = Home() + "/keep.png";
    ASSERT_TRUE(WriteNative(file, "picture"));
    QString reason;
    EXPECT_FALSE(Trash::MoveToTrash(FileNames::FromNative(file), &reason));
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_TRUE(ExistsNative(file));
    EXPECT_FALSE(ExistsNative(Home() + "/files"));
}

TEST_F(TrashTest, FilesOnAnotherVolumeGoToThatVolumesTrash) {
    // /dev/shm is a file system of its own on Linux machines.
    struct stat shm {
    }, home{};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(Home().constData(), &home) != 0 ||
        shm.st_dev == home.st_dev || ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no writable file system apart from the home folder here";
    EnvGuard env("HOME", Home());
    EnvGuard data("XDG_DATA_HOME", QByteArray());
    QTemporaryDir other(QStringLiteral("/dev/shm/quilla-trash-XXXXXX"));
    ASSERT_TRUE(other.isValid());
    const QByteArray file = QFile::encodeName(other.path()) + "/photo.png";
    ASSERT_TRUE(WriteNative(file));
    QString reason;
    ASSERT_TRUE(Trash::MoveToTrash(FileNames::FromNative(file), &reason)) << reason.toStdString();
    const QByteArray own = "/dev/shm/.Trash-" + QByteArray::number(uint(::getuid()));
    const QByteArray name = file.mid(file.lastIndexOf('/', file.lastIndexOf('/') - 1) + 1);
    EXPECT_FALSE(ExistsNative(file));
    EXPECT_TRUE(ExistsNative(own + "/files/photo.png"));
    // The home trash was not used (and not even made).
    EXPECT_FALSE(ExistsNative(Home() + "/.local/share/Trash/files/photo.png"));
    QFile info(QFile::decodeName(own + "/info/photo.png.trashinfo"));
    ASSERT_TRUE(info.open(QIODevice::ReadOnly));
    // The path is written relative to the volume's top folder.
    EXPECT_TRUE(info.readAll().contains("Path=" + name.left(name.indexOf('/'))));
    ::unlink((own + "/files/photo.png").constData());
    ::unlink((own + "/info/photo.png.trashinfo").constData());
}

TEST(Volumes, TheMountTableAloneNamesTheDrives) {
    QTemporaryDir dir;
    const QString table = dir.filePath("mounts");
    QFile f(table);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    // Shares that do not answer (or do not even exist here) are listed without being asked.
    f.write("/dev/root / ext4 rw 0 0\n"
            "proc /proc proc rw 0 0\n"
            "server:/export /nonexistent/dead\\040share nfs4 rw 0 0\n"
            "//host/pics /nonexistent/smb cifs rw 0 0\n"
            "user@host: /nonexistent/ssh fuse.sshfs rw 0 0\n"
            "/dev/sr0 /nonexistent/cdrom iso9660 ro 0 0\n"
            "tmpfs /run/user/0 tmpfs rw 0 0\n"
            "/dev/sdz9 /nonexistent/fixed ext4 rw 0 0\n");
    f.close();
    Volumes::SetMountTable(QFile::encodeName(table));
    const std::vector<Volumes::Volume> v = Volumes::List();
    Volumes::SetMountTable(QByteArray());
    QStringList roots;
    for (const auto& vol : v) {
        roots << vol.root;
        if (vol.root != QLatin1String("/")) {
            EXPECT_TRUE(vol.lazy) << vol.root.toStdString();
        }
    }
    // A fixed disk whose mount point is not there is no drive; the system's places are none.
    EXPECT_EQ(roots, (QStringList{"/", "/nonexistent/cdrom", "/nonexistent/dead share",
                                  "/nonexistent/smb", "/nonexistent/ssh"}));
}
