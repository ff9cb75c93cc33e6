// Settings: defaults, tolerance of bad values, nothing written at start, immediate writes.
#include "TestSupport.h"

#include "app/MainFrame.h"
#include "app/QuillaApp.h"
#include "imaging/SusieHost.h"
#include "platform/Profile.h"
#include "platform/Settings.h"
#include "res/resource.h"
#include "thumbs/ThumbnailView.h"

#include <QSplitter>

TEST(Profile, MissingAndMalformedValuesYieldTheDefault) {
    TempSettings settings;
    settings.WriteRaw("[View]\n"
                      "ThumbnailSizeX=120\n"
                      "ThumbnailSizeY=abc\n"
                      "SortMode=\n"
                      "PureMode=1.5\n"
                      "SortAscend=0x1\n"
                      "[Font]\n"
                      "Size=-16\n"
                      "FaceName=IPAPGothic\n");
    EXPECT_EQ(Settings::Get(Settings::ThumbnailSizeX), 120);
    EXPECT_EQ(Settings::Get(Settings::ThumbnailSizeY), 80); // not an integer
    EXPECT_EQ(Settings::Get(Settings::SortMode), 0);        // empty
    EXPECT_EQ(Settings::Get(Settings::PureMode), 0);        // not a whole number
    EXPECT_EQ(Settings::Get(Settings::SortAscend), 1);      // not decimal
    EXPECT_EQ(Settings::Get(Settings::FontSize), -16);
    EXPECT_EQ(Settings::Get(Settings::FontFaceName), QStringLiteral("IPAPGothic"));
    EXPECT_EQ(Settings::Get(Settings::Colum), 260);         // missing value
    EXPECT_EQ(Settings::Get(Settings::InitDir), QString()); // missing string
}

TEST(Profile, WritesAreImmediateAndRoundTripJapaneseAndCommas) {
    TempSettings settings;
    const QString dir = QStringLiteral("/home/ユーザー/写真, 2026");
    Settings::Write(Settings::InitDir, dir);
    Settings::Write(Settings::FontWeight, 700);
    Settings::Write(Settings::GifBackColorSheet, 0x00123456);
    // Another reader of the file sees the values at once.
    const QByteArray raw = settings.ReadRaw();
    EXPECT_TRUE(raw.contains("Weight=700")) << raw.constData();
    EXPECT_EQ(Settings::Get(Settings::InitDir), dir);
    EXPECT_EQ(Settings::Get(Settings::FontWeight), 700);
    EXPECT_EQ(Profile::GetInt(QStringLiteral("Gif"), QStringLiteral("BackColor"), -1), 0x123456);
}

TEST(Profile, TransparentColourDefaultsDifferBetweenConverterAndSheet) {
    TempSettings settings;
    EXPECT_EQ(Settings::Get(Settings::GifBackColorConvert), 0);
    EXPECT_EQ(Settings::Get(Settings::GifBackColorSheet), 0xFFFFFF);
    EXPECT_EQ(Settings::Get(Settings::PngBackColorConvert), 0);
    EXPECT_EQ(Settings::Get(Settings::PngBackColorSheet), 0xFFFFFF);
    Settings::Write(Settings::PngBackColorSheet, 0x0000FF);
    EXPECT_EQ(Settings::Get(Settings::PngBackColorConvert), 0x0000FF);
}

class EmptySettingsStart : public AppTest {};

TEST_F(EmptySettingsStart, StartsWithEveryDefaultAndWritesNothing) {
    CThumbnailView* grid = Frame()->ThumbnailView();
    EXPECT_EQ(grid->ThumbnailSize(), QSize(80, 80));
    EXPECT_EQ(grid->SortMode(), 0);
    EXPECT_TRUE(grid->SortAscending());
    EXPECT_FALSE(CThumbnailView::FineMode());
    EXPECT_EQ(Frame()->m_bStacked, 0);
    EXPECT_EQ(Frame()->m_wndSplitter->orientation(), Qt::Horizontal);
    // Running idle work and updating menus reads settings but never writes them.
    Frame()->OnIdleUpdateCmdUI();
    Spin(50);
    EXPECT_FALSE(m_settings.Exists());
}

class SusieOnWithoutFolder : public AppTest {
    void Prepare() override { m_settings.WriteRaw("[System]\nUseSusiePlugin=1\n"); }
};

TEST_F(SusieOnWithoutFolder, StartUpAsksForPluginsFromEmptyFolderAndContinues) {
    ASSERT_NE(Frame(), nullptr);
    EXPECT_TRUE(Frame()->isVisible());
    EXPECT_EQ(SusieHost::PluginFolder(), QString());
}

class SusieOnWithFolder : public AppTest {
    void Prepare() override {
        m_settings.WriteRaw("[System]\nUseSusiePlugin=1\nSusiePlugin=/opt/プラグイン\n");
    }
};

TEST_F(SusieOnWithFolder, PluginFolderIsTakenFromSettings) {
    EXPECT_EQ(SusieHost::PluginFolder(), QStringLiteral("/opt/プラグイン"));
}
