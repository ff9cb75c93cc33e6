// Files on the real clipboard (the headless platform's) and in drops: the formats written, the
// formats of other file managers read back, awkward names, garbage, paste and drop on real files.
#include "TestSupport.h"

#include "platform/Clipboard.h"
#include "platform/FileNames.h"
#include "platform/Shell.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clipboard::DROPEFFECT_COPY;
using Clipboard::DROPEFFECT_MOVE;

QString NativeName(const QByteArray& native) {
    return FileNames::FromNative(native);
}

// Data as another program puts it on the clipboard.
QMimeData* Offer(std::initializer_list<std::pair<const char*, QByteArray>> formats) {
    auto* data = new QMimeData;
    for (const auto& [type, bytes] : formats)
        data->setData(QString::fromLatin1(type), bytes);
    return data;
}

class ClipboardFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_root = QFile::encodeName(m_dir.path());
        ASSERT_EQ(::mkdir((m_root + "/src").constData(), 0755), 0);
        ASSERT_EQ(::mkdir((m_root + "/dst").constData(), 0755), 0);
        m_old = SetMessageBoxResponder([this](const MsgBoxRequest& r) {
            m_boxes.push_back(r);
            return IDOK;
        });
        QGuiApplication::clipboard()->clear();
    }
    void TearDown() override {
        SetMessageBoxResponder(std::move(m_old));
        QGuiApplication::clipboard()->clear();
        RemoveTreeNative(m_dir.path());
    }
    QByteArray Src(const QByteArray& name = {}) const {
        return name.isEmpty() ? m_root + "/src" : m_root + "/src/" + name;
    }
    QByteArray Dst(const QByteArray& name = {}) const {
        return name.isEmpty() ? m_root + "/dst" : m_root + "/dst/" + name;
    }

    QTemporaryDir m_dir;
    QByteArray m_root;
    std::vector<MsgBoxRequest> m_boxes;

private:
    MsgBoxResponder m_old;
};

// Spaces, quotes, a line break, "%" and "#", Japanese, and code page 932 bytes ("写真.png").
const QByteArray kNames[] = {"a b.jpg",     "it's \"q\".jpg", "new\nline.jpg",
                             "100% #1.jpg", "写真.jpg",       "\x8e\xca\x90\x5e.png"};

} // namespace

TEST(ClipboardFormats, CutAndCopyWriteEveryFileManagersFormat) {
    const QStringList paths{NativeName("/p/a b.jpg"), NativeName("/p/写真.jpg"),
                            NativeName("/p/\x8e\xca\x90\x5e.png")};
    std::unique_ptr<QMimeData> copy(Clipboard::MakeFileData(paths, DROPEFFECT_COPY));
    EXPECT_EQ(copy->data("text/uri-list"),
              "file:///p/a%20b.jpg\r\nfile:///p/%E5%86%99%E7%9C%9F.jpg\r\n"
              "file:///p/%8E%CA%90%5E.png\r\n");
    // The last address has no line end: Nautilus fails on one.
    EXPECT_EQ(copy->data("x-special/gnome-copied-files"),
              "copy\nfile:///p/a%20b.jpg\nfile:///p/%E5%86%99%E7%9C%9F.jpg\n"
              "file:///p/%8E%CA%90%5E.png");
    EXPECT_EQ(copy->data("x-special/mate-copied-files"),
              copy->data("x-special/gnome-copied-files"));
    EXPECT_FALSE(copy->hasFormat("application/x-kde-cutselection"));
    EXPECT_EQ(copy->text(), "/p/a b.jpg\n/p/写真.jpg\n/p/写真.png");

    std::unique_ptr<QMimeData> cut(Clipboard::MakeFileData(paths, DROPEFFECT_MOVE));
    EXPECT_TRUE(cut->data("x-special/gnome-copied-files").startsWith("cut\nfile:///p/a%20b.jpg\n"));
    EXPECT_EQ(cut->data("application/x-kde-cutselection"), "1");
    EXPECT_EQ(cut->data("text/uri-list"), copy->data("text/uri-list"));
}

TEST(ClipboardFormats, OtherFileManagersDataIsRead) {
    struct Case {
        const char* what;
        QMimeData* data;
        QStringList paths;
        int effect;
    };
    const Case cases[] = {
        {"Nautilus, copy (a line end after the last address)",
         Offer({{"x-special/gnome-copied-files", "copy\nfile:///home/u/a.jpg\n"},
                {"text/uri-list", "file:///home/u/a.jpg\r\n"}}),
         {"/home/u/a.jpg"},
         DROPEFFECT_COPY},
        {"Nautilus, cut, with the address list first in another order",
         Offer({{"text/uri-list", "file:///x/2.jpg\r\nfile:///x/1.jpg\r\n"},
                {"x-special/gnome-copied-files", "cut\nfile:///x/1.jpg\nfile:///x/2.jpg"}}),
         {"/x/1.jpg", "/x/2.jpg"},
         DROPEFFECT_MOVE},
        {"Caja",
         Offer({{"x-special/mate-copied-files", "cut\r\nfile:///m/a.jpg"}}),
         {"/m/a.jpg"},
         DROPEFFECT_MOVE},
        {"Dolphin, cut",
         Offer({{"text/uri-list", "file:///k/a%20b.jpg\r\nfile:///k/c.jpg"},
                {"application/x-kde-cutselection", "1"}}),
         {"/k/a b.jpg", "/k/c.jpg"},
         DROPEFFECT_MOVE},
        {"Dolphin, copy",
         Offer({{"text/uri-list", "file:///k/a.jpg\r\n"}, {"application/x-kde-cutselection", "0"}}),
         {"/k/a.jpg"},
         DROPEFFECT_COPY},
        {"an address list without a marker is a copy",
         Offer({{"text/uri-list",
                 "# a comment\r\nfile://localhost/l/a.jpg\r\nfile:/l/b.jpg\r\n"
                 "file:///l/%e5%86%99.jpg\r\nfile:///l/\xe5\x86\x99\xe7\x9c\x9f.jpg\r\n"
                 "file:///l/a.jpg\r\n"}}),
         {"/l/a.jpg", "/l/b.jpg", "/l/写.jpg", "/l/写真.jpg"},
         DROPEFFECT_COPY},
        {"Nautilus's text form",
         Offer({{"text/plain", "x-special/nautilus-clipboard\ncut\nfile:///n/a.jpg\n"}}),
         {"/n/a.jpg"},
         DROPEFFECT_MOVE},
    };
    for (const Case& c : cases) {
        std::unique_ptr<QMimeData> data(c.data);
        const Clipboard::FileList list = Clipboard::FilesFromMime(data.get());
        EXPECT_EQ(list.paths, c.paths) << c.what;
        EXPECT_EQ(list.effect, c.effect) << c.what;
        EXPECT_TRUE(list.rejected.isEmpty()) << c.what;
        EXPECT_TRUE(Clipboard::MimeOffersFiles(data.get())) << c.what;
    }
}

TEST(ClipboardFormats, GarbageOffersNoFilesAndSaysWhatItWas) {
    std::unique_ptr<QMimeData> data(Offer(
        {{"text/uri-list", QByteArray("http://example.org/a.jpg\r\nfile:///nul%00byte.jpg\r\n"
                                      "file://elsewhere.example/x.jpg\r\nrelative/path.jpg\r\n"
                                      "/plain/path.jpg\r\n\x01\x02\xff\xfe junk\r\n")}}));
    const Clipboard::FileList list = Clipboard::FilesFromMime(data.get());
    EXPECT_TRUE(list.paths.isEmpty()) << list.paths.join('|').toStdString();
    ASSERT_EQ(list.rejected.size(), 6) << list.rejected.join('|').toStdString();
    EXPECT_EQ(list.rejected[0], "http://example.org/a.jpg");
    EXPECT_EQ(list.rejected[2], "file://elsewhere.example/x.jpg");
    for (const QChar c : list.rejected[5])
        EXPECT_NE(c.category(), QChar::Other_Control); // control characters are not shown
    EXPECT_FALSE(Clipboard::MimeOffersFiles(data.get()));

    // Plain text that looks like a path is text, not a file; a wrong marker is no file list.
    std::unique_ptr<QMimeData> text(Offer(
        {{"text/plain", "/home/u/a.jpg"}, {"x-special/gnome-copied-files", "move\nfile:///a"}}));
    EXPECT_FALSE(Clipboard::MimeOffersFiles(text.get()));
    EXPECT_TRUE(Clipboard::FilesFromMime(nullptr).paths.isEmpty());

    // A stray "%" never turns into another byte: the address is refused or names the "%" itself.
    std::unique_ptr<QMimeData> stray(
        Offer({{"text/uri-list", "file:///bad%zz.jpg\r\nfile:///end%2\r\n"}}));
    const Clipboard::FileList odd = Clipboard::FilesFromMime(stray.get());
    for (const QString& p : odd.paths)
        EXPECT_TRUE(p == "/bad%zz.jpg" || p == "/end%2") << p.toStdString();
    EXPECT_EQ(odd.paths.size() + odd.rejected.size(), 2);
}

TEST_F(ClipboardFiles, AwkwardNamesSurviveTheRealClipboardBothWays) {
    QStringList paths;
    for (const QByteArray& n : kNames)
        paths << NativeName(Src(n));
    for (const int effect : {DROPEFFECT_COPY, DROPEFFECT_MOVE}) {
        Clipboard::PutFiles(paths, effect);
        EXPECT_TRUE(Clipboard::OffersFiles());
        const Clipboard::FileList list = Clipboard::ReadFiles();
        EXPECT_EQ(list.paths, paths);
        EXPECT_EQ(list.effect, effect);
        for (int i = 0; i < list.paths.size(); ++i)
            EXPECT_EQ(FileNames::ToNative(list.paths[i]), Src(kNames[i]));
    }
    // Text on the clipboard is no file list: paste is disabled.
    Clipboard::PutText(QStringLiteral("just text"));
    EXPECT_FALSE(Clipboard::OffersFiles());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "just text");
    QGuiApplication::clipboard()->clear();
    EXPECT_FALSE(Clipboard::OffersFiles());
    EXPECT_EQ(Clipboard::Paste(NativeName(Dst()), nullptr), 0);
}

TEST_F(ClipboardFiles, NamesAndPathsAsTextFollowTheLineRule) {
    EXPECT_EQ(Clipboard::JoinLines({}), "");
    EXPECT_EQ(Clipboard::JoinLines({"/p/a.jpg"}), "/p/a.jpg");
    EXPECT_EQ(Clipboard::JoinLines({"/p/a.jpg", "/p/写真.jpg"}), "/p/a.jpg\r\n/p/写真.jpg\r\n");
    Clipboard::PutText(Clipboard::JoinLines({"a.jpg", "b.jpg", "c.jpg"}));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "a.jpg\r\nb.jpg\r\nc.jpg\r\n");
}

TEST_F(ClipboardFiles, PasteCopiesOrMovesAndACutListIsPastedOnce) {
    for (const QByteArray& n : kNames)
        ASSERT_TRUE(WriteNative(Src(n), n));
    QStringList paths;
    for (const QByteArray& n : kNames)
        paths << NativeName(Src(n));

    Clipboard::PutFiles(paths, DROPEFFECT_COPY);
    EXPECT_EQ(Clipboard::Paste(NativeName(Dst()), nullptr), Shell::kFileOpOk);
    for (const QByteArray& n : kNames) {
        EXPECT_EQ(ReadNative(Dst(n)), n);
        EXPECT_TRUE(ExistsNative(Src(n)));
    }
    // Into the folder the files came from: copies under new names.
    EXPECT_EQ(Clipboard::Paste(NativeName(Src()), nullptr), Shell::kFileOpOk);
    EXPECT_EQ(ReadNative(Src("a b - コピー.jpg")), "a b.jpg");
    EXPECT_EQ(ReadNative(Src("\x8e\xca\x90\x5e - コピー.png")), kNames[5]);

    // Cut: the files move.
    RemoveTreeNative(NativeName(Dst()));
    ASSERT_EQ(::mkdir(Dst().constData(), 0755), 0);
    Clipboard::PutFiles(paths, DROPEFFECT_MOVE);
    EXPECT_EQ(Clipboard::Paste(NativeName(Dst()), nullptr), Shell::kFileOpOk);
    for (const QByteArray& n : kNames) {
        EXPECT_EQ(ReadNative(Dst(n)), n);
        EXPECT_FALSE(ExistsNative(Src(n)));
    }
    // Moved once, the list is taken off the clipboard: a second paste finds nothing to do.
    EXPECT_FALSE(Clipboard::OffersFiles());
    EXPECT_EQ(Clipboard::Paste(NativeName(Src()), nullptr), 0);
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(ClipboardFiles, MissingFilesAndGarbageArePastedAsNothingAndNamed) {
    ASSERT_TRUE(WriteNative(Src("here.jpg"), "here"));
    QGuiApplication::clipboard()->setMimeData(Offer(
        {{"text/uri-list", "file://" + Src("here.jpg") + "\r\nfile://" + Src("gone%20away.jpg") +
                               "\r\nhttps://example.org/p.jpg\r\nfile:///dev/zero\r\n"}}));
    EXPECT_TRUE(Clipboard::OffersFiles());
    EXPECT_EQ(Clipboard::Paste(NativeName(Dst()), nullptr), Shell::kFileOpFailed);
    EXPECT_EQ(ReadNative(Dst("here.jpg")), "here");
    EXPECT_FALSE(ExistsNative(Dst("zero")));
    ASSERT_EQ(m_boxes.size(), 1u);
    const QString text = m_boxes[0].text;
    EXPECT_TRUE(text.contains(NativeName(Src("gone away.jpg")) + ": ファイルが見つかりません"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("https://example.org/p.jpg: ローカルのファイルではありません"));
    EXPECT_TRUE(text.contains("/dev/zero: 通常のファイルではありません"));
}

TEST_F(ClipboardFiles, ADropAlwaysCopies) {
    ASSERT_TRUE(WriteNative(Src("写真.jpg"), "photo"));
    // The source offers a move (a cut list); the drop copies anyway.
    std::unique_ptr<QMimeData> data(
        Clipboard::MakeFileData({NativeName(Src("写真.jpg"))}, DROPEFFECT_MOVE));
    EXPECT_TRUE(Clipboard::MimeOffersFiles(data.get()));
    EXPECT_EQ(Clipboard::Drop(data.get(), NativeName(Dst()), nullptr), Shell::kFileOpOk);
    EXPECT_EQ(ReadNative(Dst("写真.jpg")), "photo");
    EXPECT_TRUE(ExistsNative(Src("写真.jpg")));
    // Data that offers no files drops nothing.
    std::unique_ptr<QMimeData> text(Offer({{"text/plain", "hello"}}));
    EXPECT_FALSE(Clipboard::MimeOffersFiles(text.get()));
    EXPECT_EQ(Clipboard::Drop(text.get(), NativeName(Dst()), nullptr), 0);
    EXPECT_TRUE(m_boxes.empty());
}
