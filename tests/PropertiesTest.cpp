// The properties window Quilla shows where no file manager offers one: real files with awkward
// names, folders, links and files that are gone.
#include "TestSupport.h"

#include "platform/FileNames.h"
#include "platform/Shell.h"

#include <QDBusConnection>
#include <QDateTime>
#include <QDialog>
#include <QLabel>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Field(QDialog* dlg, const char* id) {
    const QLabel* l = dlg->findChild<QLabel*>(QLatin1String(id));
    return l ? l->text() : QStringLiteral("(none)");
}

bool Write(const QByteArray& path, const QByteArray& bytes, mode_t mode) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    ::close(fd);
    return ok && ::chmod(path.constData(), mode) == 0;
}

class Properties : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_root = QFile::encodeName(m_dir.path());
    }
    void TearDown() override { RemoveTreeNative(m_dir.path()); }
    QTemporaryDir m_dir;
    QByteArray m_root;
};

} // namespace

TEST_F(Properties, AFileWhoseNameIsNotUtf8ShowsItsSizeDatesTypeAndPermissions) {
    // "写真.png" in code page 932 bytes, with a PNG signature so its type is known by content.
    const QByteArray path = m_root + "/\x8e\xca\x90\x5e.png";
    QByteArray bytes("\x89PNG\r\n\x1a\n", 8);
    bytes += QByteArray(12345 - bytes.size(), '\0');
    ASSERT_TRUE(Write(path, bytes, 0640));
    const timespec t[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.constData(), t, 0), 0);

    std::unique_ptr<QDialog> dlg(Shell::MakePropertiesWindow(FileNames::FromNative(path), nullptr));
    EXPECT_EQ(dlg->windowTitle(), "写真.png のプロパティ");
    EXPECT_EQ(Field(dlg.get(), "name"), "写真.png");
    EXPECT_EQ(Field(dlg.get(), "folder"), m_dir.path());
    EXPECT_TRUE(Field(dlg.get(), "size").endsWith("(12,345 バイト)"))
        << Field(dlg.get(), "size").toStdString();
    EXPECT_TRUE(Field(dlg.get(), "type").endsWith("(image/png)"))
        << Field(dlg.get(), "type").toStdString();
    EXPECT_EQ(Field(dlg.get(), "modified"),
              QDateTime::fromSecsSinceEpoch(1000000000).toString("yyyy/MM/dd HH:mm:ss"));
    EXPECT_EQ(Field(dlg.get(), "permissions"), "rw-r----- (0640)");
    EXPECT_FALSE(Field(dlg.get(), "owner").isEmpty());
}

TEST_F(Properties, NamesAreNeverReadAsMarkup) {
    const QByteArray path = m_root + "/<b>bold<br>&amp;.jpg";
    ASSERT_TRUE(Write(path, "x", 0644));
    std::unique_ptr<QDialog> dlg(Shell::MakePropertiesWindow(FileNames::FromNative(path), nullptr));
    const QLabel* name = dlg->findChild<QLabel*>("name");
    ASSERT_TRUE(name);
    EXPECT_EQ(name->text(), "<b>bold<br>&amp;.jpg");
    EXPECT_EQ(name->textFormat(), Qt::PlainText);
}

TEST_F(Properties, FoldersLinksAndMissingFiles) {
    ASSERT_EQ(::mkdir((m_root + "/アルバム").constData(), 0750), 0);
    ASSERT_TRUE(Write(m_root + "/アルバム/1.jpg", "1", 0644));
    ASSERT_TRUE(Write(m_root + "/アルバム/2.jpg", "2", 0644));
    std::unique_ptr<QDialog> folder(
        Shell::MakePropertiesWindow(FileNames::FromNative(m_root + "/アルバム/"), nullptr));
    EXPECT_EQ(Field(folder.get(), "name"), "アルバム");
    EXPECT_EQ(Field(folder.get(), "type"), "フォルダ");
    EXPECT_EQ(Field(folder.get(), "size"), "2 個の項目");
    EXPECT_EQ(Field(folder.get(), "permissions"), "rwxr-x--- (0750)");

    ASSERT_EQ(::symlink("アルバム/1.jpg", (m_root + "/link.jpg").constData()), 0);
    std::unique_ptr<QDialog> link(
        Shell::MakePropertiesWindow(FileNames::FromNative(m_root + "/link.jpg"), nullptr));
    EXPECT_EQ(Field(link.get(), "type"), "シンボリックリンク");
    EXPECT_EQ(Field(link.get(), "target"), "アルバム/1.jpg");

    std::unique_ptr<QDialog> gone(
        Shell::MakePropertiesWindow(FileNames::FromNative(m_root + "/gone.jpg"), nullptr));
    EXPECT_EQ(Field(gone.get(), "name"), "gone.jpg");
    EXPECT_EQ(Field(gone.get(), "error"), "ファイルが見つかりません");
}

TEST_F(Properties, WithoutAFileManagerTheCommandShowsQuillasWindow) {
    if (QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "a session bus is running here: its file manager would answer";
    ASSERT_TRUE(Write(m_root + "/a.jpg", "abc", 0644));
    QDialog* shown = nullptr;
    QString name;
    auto old = Shell::SetPropertiesWindowHook([&](QDialog& dlg) {
        shown = &dlg;
        name = Field(&dlg, "name");
    });
    QWidget owner;
    Shell::ShowProperties(FileNames::FromNative(m_root + "/a.jpg"), &owner);
    Shell::SetPropertiesWindowHook(std::move(old));
    ASSERT_TRUE(shown);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_EQ(shown->parentWidget(), &owner);
    EXPECT_EQ(name, "a.jpg");
    shown->close(); // deletes itself
}
