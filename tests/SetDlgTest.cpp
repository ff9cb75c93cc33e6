// The settings dialog: what it shows from the settings, its enabling rules, the two browse
// buttons with the refusal of network folders, what OK writes, and the plug-ins loaded at once
// when they are switched on.
#include "TestPaths.h"
#include "TestSupport.h"

#include "app/MainFrame.h"
#include "app/SetDlg.h"
#include "help/HelpWindow.h"
#include "imaging/ImageKit.h"
#include "imaging/SPIControl.h"
#include "imaging/SusieHost.h"
#include "platform/Settings.h"
#include "platform/Volumes.h"
#include "preview/PreviewDlg.h"
#include "res/resource.h"
#include "thumbs/FileInfoDlg.h"
#include "thumbs/ImageTile.h"
#include "thumbs/ThumbnailView.h"
#include "tree/Dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

const QString kNetworkRefusal =
    QStringLiteral("ネットワークを選択することはできません。ドライブ割り当てして選択してください");

class SettingsDialog : public AppTest {
protected:
    void TearDown() override {
        CSetDlg::s_answer = nullptr;
        CSetDlg::s_browseStart = nullptr;
        CFolderPicker::s_answer = nullptr;
        Volumes::SetMountTable({});
        AppTest::TearDown();
    }
    // Runs command 32806 with the dialog answered by `answer`.
    void Run(std::function<int(CSetDlg&)> answer) {
        CSetDlg::s_answer = std::move(answer);
        ASSERT_TRUE(Frame()->Router().Execute(ID_TOOL_SETTINGS));
    }
    // A folder holding copies of test plug-ins.
    QString PluginFolder(const QString& name, const QStringList& plugins) {
        QDir(m_dir.path()).mkpath(name);
        const QString folder = QDir(m_dir.path()).filePath(name);
        for (const QString& p : plugins)
            EXPECT_TRUE(QFile::copy(testpaths::SpiDir() + QStringLiteral("/") + p + ".spi",
                                    folder + "/" + p + ".spi"));
        return folder;
    }
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(SettingsDialog, FreshSettingsAndCancelWritesNothing) {
    bool shown = false;
    Run([&](CSetDlg& dlg) {
        shown = true;
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("設定"));
        EXPECT_EQ(dlg.InitModeList()->currentText(), QStringLiteral("ルート"));
        EXPECT_EQ(dlg.DblClkList()->currentText(), QStringLiteral("内蔵ビューア"));
        EXPECT_EQ(dlg.InitModeList()->count(), 4);
        EXPECT_EQ(dlg.DblClkList()->itemText(1), QStringLiteral("関連づけられたソフト"));
        EXPECT_FALSE(dlg.UsePluginBox()->isChecked());
        EXPECT_FALSE(dlg.m_editFolder->isEnabled());
        EXPECT_FALSE(dlg.m_btnFolder->isEnabled());
        EXPECT_FALSE(dlg.m_editPlugin->isEnabled());
        EXPECT_TRUE(dlg.PluginBrowseButton()->isEnabled());
        dlg.m_editFolder->setText("/changed");
        return int(QDialog::Rejected);
    });
    EXPECT_TRUE(shown);
    EXPECT_FALSE(m_settings.Exists());
}

TEST_F(SettingsDialog, TheFolderEntryEnablesItsFieldsAtOnceWithoutClearingThem) {
    m_settings.WriteRaw("[System]\nInitDir=/srv/photos\nDblClkMode=1\n");
    Run([](CSetDlg& dlg) {
        EXPECT_EQ(dlg.m_editFolder->text(), QStringLiteral("/srv/photos"));
        EXPECT_EQ(dlg.DblClkList()->currentIndex(), 1);
        // From "ルート" two up to "指定したフォルダ", chosen with the keyboard.
        QTest::keyClick(dlg.InitModeList(), Qt::Key_Up);
        QTest::keyClick(dlg.InitModeList(), Qt::Key_Up);
        EXPECT_EQ(dlg.InitModeList()->currentText(), QStringLiteral("指定したフォルダ"));
        EXPECT_TRUE(dlg.m_editFolder->isEnabled());
        EXPECT_TRUE(dlg.m_btnFolder->isEnabled());
        QTest::keyClick(dlg.InitModeList(), Qt::Key_Up);
        EXPECT_FALSE(dlg.m_editFolder->isEnabled());
        EXPECT_FALSE(dlg.m_btnFolder->isEnabled());
        EXPECT_EQ(dlg.m_editFolder->text(), QStringLiteral("/srv/photos"));
        QTest::keyClick(dlg.InitModeList(), Qt::Key_Down);
        dlg.m_editFolder->setText("/home/me/写真");
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(Settings::Get(Settings::InitMode), 1);
    EXPECT_EQ(Settings::Get(Settings::InitDir), QStringLiteral("/home/me/写真"));
    EXPECT_EQ(Settings::Get(Settings::DblClkMode), 1);
    EXPECT_EQ(Settings::Get(Settings::UseSusiePlugin), 0);
}

TEST_F(SettingsDialog, MountedNetworkFoldersAreTakenSharesWithoutAMountAreNot) {
    // A machine with a CIFS share, an NFS export and an sshfs folder mounted.
    const QString table = QDir(m_dir.path()).filePath("mounts");
    QFile f(table);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("/dev/sda1 / ext4 rw 0 0\n//server/photos /mnt/share cifs rw 0 0\n"
            "nas:/export /mnt/nas nfs4 rw 0 0\nme@host:/pics /home/me/remote fuse.sshfs rw 0 0\n");
    f.close();
    Volumes::SetMountTable(table.toLocal8Bit());
    m_settings.WriteRaw("[System]\nInitMode=1\nInitDir=/home/me\n");
    QStringList offered{"/mnt/share/2024",     "//server/photos", "/mnt/nas/写真",
                        "smb://server/photos", "/home/me/remote", "\\\\server\\photos"};
    CSetDlg::s_browseStart = [&](CSetDlg&) { return offered.takeFirst(); };
    Run([&](CSetDlg& dlg) {
        EXPECT_TRUE(dlg.m_btnFolder->isEnabled());
        for (const char* expected : {"/mnt/share/2024", "/mnt/share/2024", "/mnt/nas/写真",
                                     "/mnt/nas/写真", "/home/me/remote", "/home/me/remote"}) {
            QTest::mouseClick(dlg.m_btnFolder, Qt::LeftButton);
            EXPECT_EQ(dlg.m_editFolder->text(), QString::fromUtf8(expected));
        }
        return int(QDialog::Accepted);
    });
    // Only the shares that no mount maps are refused.
    ASSERT_EQ(m_boxes.size(), 3u);
    for (const MsgBoxRequest& box : m_boxes)
        EXPECT_EQ(box.text, kNetworkRefusal);
    EXPECT_EQ(Settings::Get(Settings::InitDir), QStringLiteral("/home/me/remote"));
}

TEST_F(SettingsDialog, PluginFolderBrowseStartsAtTheCurrentFolder) {
    m_settings.WriteRaw("[System]\nSusiePlugin=/opt/spi\n");
    int asked = 0;
    CFolderPicker::s_answer = [&](CFolderPicker& p) {
        ++asked;
        EXPECT_EQ(p.m_strPath, QStringLiteral("/opt/spi"));
        EXPECT_EQ(p.m_strTitle, QStringLiteral("プラグインフォルダ"));
        if (asked == 2)
            return 2; // cancelled: the text stays
        p.m_strPath = QStringLiteral("/usr/lib/quilla/plugins");
        return 1;
    };
    Run([&](CSetDlg& dlg) {
        EXPECT_FALSE(dlg.m_editPlugin->isEnabled()); // plug-ins are off
        QTest::mouseClick(dlg.PluginBrowseButton(), Qt::LeftButton);
        EXPECT_EQ(dlg.m_editPlugin->text(), QStringLiteral("/usr/lib/quilla/plugins"));
        dlg.m_editPlugin->setText("/opt/spi");
        QTest::mouseClick(dlg.PluginBrowseButton(), Qt::LeftButton);
        EXPECT_EQ(dlg.m_editPlugin->text(), QStringLiteral("/opt/spi"));
        return int(QDialog::Rejected);
    });
    EXPECT_EQ(asked, 2);
}

TEST_F(SettingsDialog, SwitchingPluginsOnLoadsThemOnceAtOnce) {
    const QString first = PluginFolder("first", {"qpic"});
    const QString second = PluginFolder("second", {"combined"});
    ASSERT_EQ(SusieHost::GetFormatCount(), 0);
    Run([&](CSetDlg& dlg) {
        QTest::keyClick(dlg.UsePluginBox(), Qt::Key_Space);
        EXPECT_TRUE(dlg.m_editPlugin->isEnabled());
        dlg.m_editPlugin->setText(first);
        return int(QDialog::Accepted);
    });
    // The plug-ins are checked in the background and come on line when they have answered.
    SusieHost::Control().WaitForBackground();
    EXPECT_EQ(SusieHost::GetFormatCount(), 1);
    EXPECT_EQ(SusieHost::PluginFolder(), first);
    EXPECT_EQ(Settings::Get(Settings::UseSusiePlugin), 1);
    EXPECT_EQ(Settings::Get(Settings::SusiePlugin), first);
    // Confirmed again with the box still ticked and another folder: only the setting changes.
    Run([&](CSetDlg& dlg) {
        EXPECT_TRUE(dlg.UsePluginBox()->isChecked());
        EXPECT_TRUE(dlg.m_editPlugin->isEnabled());
        EXPECT_EQ(dlg.m_editPlugin->text(), first);
        dlg.m_editPlugin->setText(second);
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(SusieHost::GetFormatCount(), 1);
    EXPECT_EQ(SusieHost::PluginFolder(), first);
    EXPECT_EQ(Settings::Get(Settings::SusiePlugin), second);
    // Switched off: loaded plug-ins stay in use until the next start.
    Run([&](CSetDlg& dlg) {
        QTest::keyClick(dlg.UsePluginBox(), Qt::Key_Space);
        EXPECT_FALSE(dlg.m_editPlugin->isEnabled());
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(Settings::Get(Settings::UseSusiePlugin), 0);
    EXPECT_EQ(SusieHost::GetFormatCount(), 1);
}

TEST_F(SettingsDialog, HelpOpensTheSettingsTopic) {
    Run([&](CSetDlg& dlg) {
        QTest::mouseClick(dlg.HelpButton(), Qt::LeftButton);
        return int(QDialog::Rejected);
    });
    ASSERT_NE(Frame()->HelpWindow(), nullptr);
    EXPECT_TRUE(Frame()->HelpWindow()->CurrentUrl().path().endsWith("/settings.html"));
    EXPECT_TRUE(m_boxes.empty());
}

class PluginsAtStart : public AppTest {
protected:
    void Prepare() override {
        QDir(m_dir.path()).mkpath("spi");
        ASSERT_TRUE(QFile::copy(testpaths::SpiDir() + QStringLiteral("/qpic.spi"),
                                m_dir.filePath("spi/qpic.spi")));
        // A picture of the plug-in's made-up format in the start folder.
        QByteArray pic("QPIC\x02\x00\x01\x00", 8);
        pic.append(QByteArray(6, char(200)));
        QFile f(m_dir.filePath("pictures/a.qpic"));
        QDir(m_dir.path()).mkpath("pictures");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(pic);
        f.close();
        m_settings.WriteRaw(QStringLiteral("[System]\nUseSusiePlugin=1\nSusiePlugin=%1\n"
                                           "InitMode=1\nInitDir=%2\n")
                                .arg(m_dir.filePath("spi"), m_dir.filePath("pictures"))
                                .toUtf8());
    }
    QTemporaryDir m_dir;
};

TEST_F(PluginsAtStart, PluginFormatsAreListedAndThumbnailed) {
    // The window came at once; the plug-in, checked in the background, comes on line and the
    // listing shows its file.
    SusieHost::Control().WaitForBackground();
    EXPECT_EQ(SusieHost::GetFormatCount(), 1);
    EXPECT_TRUE(IsImageFile("x.qpic"));
    CThumbnailView* grid = Frame()->ThumbnailView();
    QTRY_COMPARE(grid->Tiles().size(), size_t(1));
    EXPECT_EQ(grid->Tiles()[0]->m_strName, QStringLiteral("a.qpic"));
    // The workers decode it through the plug-in once its tile is painted.
    QTRY_VERIFY_WITH_TIMEOUT(!grid->Tiles()[0]->m_wndImage.m_image.IsEmpty(), 10000);
    // The information dialog shows what the plug-in's picture tells.
    unsigned width = 0, height = 0;
    QString type;
    CFileInfoDlg::s_answer = [&](CFileInfoDlg& d) {
        width = d.m_nWidth;
        height = d.m_nHeight;
        type = d.m_strFileType;
        return int(QDialog::Accepted);
    };
    grid->SelectAt(0, false, false);
    ASSERT_TRUE(grid->SendCommand(ID_IMAGE_INFO));
    // The plug-in decodes on a worker; the dialog comes when it has answered.
    QTRY_COMPARE(width, 2u);
    CFileInfoDlg::s_answer = nullptr;
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(height, 1u);
    EXPECT_EQ(type, QString());
}

// A plug-in that never returns from GetPicture, with its file and another plug-in's in the start
// folder: the window answers, the preview of the other file comes, and closing ends the program.
class HangingPluginAtStart : public AppTest {
protected:
    void Prepare() override {
        QDir(m_dir.path()).mkpath("spi");
        QDir(m_dir.path()).mkpath("pictures");
        for (const char* p : {"qpic", "hang4"})
            ASSERT_TRUE(QFile::copy((testpaths::SpiDir() + QStringLiteral("/%1.spi")).arg(p),
                                    m_dir.filePath(QStringLiteral("spi/%1.spi").arg(p))));
        auto write = [this](const char* name, const char* magic) {
            QByteArray pic(magic, 4);
            pic.append("\x02\x00\x01\x00", 4).append(QByteArray(6, char(200)));
            QFile f(m_dir.filePath(QStringLiteral("pictures/") + name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(pic);
        };
        write("a.hang", "HANG");
        write("b.qpic", "QPIC");
        m_settings.WriteRaw(QStringLiteral("[System]\nUseSusiePlugin=1\nSusiePlugin=%1\n"
                                           "InitMode=1\nInitDir=%2\n")
                                .arg(m_dir.filePath("spi"), m_dir.filePath("pictures"))
                                .toUtf8());
    }
    QTemporaryDir m_dir;
};

TEST_F(HangingPluginAtStart, TheWindowAnswersThePreviewComesAndClosingEndsTheProgram) {
    SusieHost::Control().WaitForBackground();
    CThumbnailView* grid = Frame()->ThumbnailView();
    QTRY_COMPARE(grid->Tiles().size(), size_t(2));
    // The workers meanwhile wait for the hanging plug-in. The preview of its file does not
    // block the window; closing the preview first gives the picture up.
    CPreviewDlg& pv = grid->Preview();
    QElapsedTimer t;
    t.start();
    pv.Open(m_dir.filePath("pictures/a.hang"));
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_TRUE(pv.IsWaitingForPicture());
    pv.close();
    EXPECT_FALSE(pv.IsWaitingForPicture());
    // The other plug-in's file comes through the helper kept for the preview.
    pv.Open(m_dir.filePath("pictures/b.qpic"));
    QTRY_VERIFY(!pv.m_image.IsEmpty());
    EXPECT_EQ(pv.m_image.GetSize(), QSize(2, 1));
    // Closing the main window ends the program at once, whatever the plug-in is doing.
    grid->Preview().Open(m_dir.filePath("pictures/a.hang"));
    bool stopped = false;
    QTimer::singleShot(0, [this] { Frame()->close(); });
    QTimer::singleShot(10000, [&] {
        stopped = true;
        QCoreApplication::exit(1);
    });
    t.restart();
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_FALSE(stopped);
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_EQ(Frame(), nullptr);
}
