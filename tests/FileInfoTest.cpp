// The image information dialogs on real files: type names with the interlace suffix, Exif texts
// with their arithmetic (Exif blocks written byte by byte, so every rational is stored exactly as
// given, and read back by exiftool), and the failure message.
#include "TestPaths.h"
#include "TestSupport.h"

#include "imaging/ImageLibrary.h"
#include "imaging/SusieHost.h"
#include "platform/FileNames.h"
#include "thumbs/FileInfoDlg.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QWidget>
#include <QtEndian>
#include <cstdio>
#include <optional>

namespace {

bool Have(const char* tool) {
    return !QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty();
}

bool RunTool(const QString& program, const QStringList& args, QByteArray* out = nullptr) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    if (out)
        *out = p.readAllStandardOutput();
    return true;
}

// One Exif field: tag, TIFF type and its value bytes (big-endian).
struct ExifTag {
    uint16_t tag;
    uint16_t type; // 2 ASCII, 4 LONG, 5 RATIONAL, 10 SRATIONAL
    uint32_t count;
    QByteArray value;
};

QByteArray Be16(uint16_t v) {
    QByteArray b(2, '\0');
    qToBigEndian(v, b.data());
    return b;
}
QByteArray Be32(uint32_t v) {
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b;
}
ExifTag Rational(uint16_t tag, uint32_t num, uint32_t den, bool isSigned = false) {
    return {tag, uint16_t(isSigned ? 10 : 5), 1, Be32(num) + Be32(den)};
}
ExifTag Ascii(uint16_t tag, const QByteArray& text) {
    return {tag, 2, uint32_t(text.size() + 1), text + '\0'};
}

// An IFD placed at offset `at` of the TIFF data, its long values right after it.
QByteArray Ifd(const std::vector<ExifTag>& tags, uint32_t at) {
    QByteArray dir = Be16(uint16_t(tags.size()));
    QByteArray data;
    const uint32_t dataAt = at + 2 + 12 * uint32_t(tags.size()) + 4;
    for (const ExifTag& t : tags) {
        dir += Be16(t.tag) + Be16(t.type) + Be32(t.count);
        if (t.value.size() <= 4) {
            dir += t.value + QByteArray(4 - t.value.size(), '\0');
        } else {
            dir += Be32(dataAt + uint32_t(data.size()));
            data += t.value;
            if (data.size() % 2)
                data += '\0';
        }
    }
    return dir + Be32(0) + data;
}

// A JPEG picture (written by Qt) with an Exif block holding exactly the given fields.
QByteArray ExifJpeg(const std::vector<ExifTag>& ifd0, const std::vector<ExifTag>& exif) {
    QImage img(64, 48, QImage::Format_RGB32);
    img.fill(Qt::darkCyan);
    QByteArray jpeg;
    {
        QBuffer buf(&jpeg);
        buf.open(QIODevice::WriteOnly);
        img.save(&buf, "JPEG");
    }
    std::vector<ExifTag> first = ifd0;
    first.push_back({0x8769, 4, 1, Be32(0)});
    const uint32_t exifAt = 8 + uint32_t(Ifd(first, 8).size());
    first.back().value = Be32(exifAt);
    const QByteArray tiff = QByteArray("MM\0\x2a", 4) + Be32(8) + Ifd(first, 8) + Ifd(exif, exifAt);
    const QByteArray app1 = QByteArray("\xff\xe1", 2) + Be16(uint16_t(2 + 6 + tiff.size())) +
                            QByteArray("Exif\0\0", 6) + tiff;
    return jpeg.left(2) + app1 + jpeg.mid(2);
}

class FileInfo : public ::testing::Test {
protected:
    void SetUp() override {
        LoadImageLibrary();
        ASSERT_TRUE(m_dir.isValid());
        m_old = SetMessageBoxResponder([this](const MsgBoxRequest& r) {
            m_boxes.push_back(r);
            return IDOK;
        });
        CFileInfoDlg::s_answer = [this](CFileInfoDlg& d) {
            m_plain = Shown{d.m_strFileName, d.m_strFileType, d.m_strComment, d.m_nFileSize,
                            d.m_nWidth,      d.m_nHeight,     d.m_nPanes};
            m_panesField = d.Field(1004) ? d.Field(1004)->text() : QString();
            return int(QDialog::Accepted);
        };
        CExifFileInfoDlg::s_answer = [this](CExifFileInfoDlg& d) {
            m_exif = ExifShown{d.m_strFileType,         d.m_strMaker,        d.m_strModel,
                               d.m_strDateTime,         d.m_strExposure,     d.m_strFocalLength,
                               d.m_strFNumber,          d.m_strShutterSpeed, d.Field(205)->text(),
                               d.Field(1004) != nullptr};
            return int(QDialog::Accepted);
        };
    }
    void TearDown() override {
        CFileInfoDlg::s_answer = nullptr;
        CExifFileInfoDlg::s_answer = nullptr;
        SetMessageBoxResponder(std::move(m_old));
        RemoveTreeNative(m_dir.path());
    }
    QString P(const QString& name) const { return QDir(m_dir.path()).filePath(name); }
    QString Write(const QString& name, const QByteArray& bytes) {
        QFile f(P(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return P(name);
    }
    QString Convert(const QString& name, const QStringList& options) {
        EXPECT_TRUE(RunTool("convert", QStringList{"-size", "40x30", "gradient:red-blue"} +
                                           options + QStringList{P(name)}));
        return P(name);
    }
    void Show(const QString& path) {
        m_plain.reset();
        m_exif.reset();
        m_boxes.clear();
        ShowImageInformation(nullptr, path, path.mid(path.lastIndexOf('/') + 1));
    }

    struct Shown {
        QString name, type, comment;
        uint64_t size;
        unsigned width, height, panes;
    };
    struct ExifShown {
        QString type, maker, model, when, exposure, focal, fnumber, shutter, exposureField;
        bool hasPanes;
    };
    std::optional<Shown> m_plain;
    QString m_panesField;
    std::optional<ExifShown> m_exif;
    std::vector<MsgBoxRequest> m_boxes;
    QTemporaryDir m_dir;

private:
    MsgBoxResponder m_old;
};

} // namespace

TEST(ExifTexts, TheArithmeticOfEveryField) {
    // Exposure: 1/125 stored as 10/1250, 1/60 stored as 1/60 and as 10/600.
    EXPECT_EQ(ExposureText(10, 1250), "1/125");
    EXPECT_EQ(ExposureText(1, 60), "1/60");
    EXPECT_EQ(ExposureText(10, 600), "1/60");
    EXPECT_EQ(ExposureText(1, 3), "1/3");
    // One second and more are shown as seconds ("1/1" for 2 s would be wrong).
    EXPECT_EQ(ExposureText(2, 1), "2");
    EXPECT_EQ(ExposureText(1, 1), "1");
    EXPECT_EQ(ExposureText(25, 10), "2.5");
    EXPECT_EQ(ExposureText(300, 10), "30");
    EXPECT_EQ(ExposureText(1, 0), "");
    EXPECT_EQ(ExposureText(0, 10), "");
    EXPECT_EQ(ExposureText(1, 4294967295u), "1/4294967295");
    // Focal length and F-number.
    EXPECT_EQ(RationalText(58, 10), "5.8");
    EXPECT_EQ(RationalText(35, 1), "35");
    EXPECT_EQ(RationalText(28, 10), "2.8");
    EXPECT_EQ(RationalText(0, 1), "0");
    EXPECT_EQ(RationalText(5, 0), "");
    // Shutter speed from its APEX value.
    EXPECT_EQ(ShutterSpeedText(697, 100), "1/125");
    EXPECT_EQ(ShutterSpeedText(7, 1), "1/128");
    EXPECT_EQ(ShutterSpeedText(-697, -100), "1/125");
    EXPECT_EQ(ShutterSpeedText(-1, 1), "2");
    EXPECT_EQ(ShutterSpeedText(0, 1), "1");
    EXPECT_EQ(ShutterSpeedText(-132, 100), "2.5");
    EXPECT_EQ(ShutterSpeedText(1, 0), "");
    EXPECT_EQ(ShutterSpeedText(2147483647, 1), ""); // no number of that size
}

TEST(ExifTexts, TypeNamesAndTheInterlaceSuffix) {
    EXPECT_EQ(FileTypeName(0, false), "");
    EXPECT_EQ(FileTypeName(1, false), "BMP/DIB");
    EXPECT_EQ(FileTypeName(5, true), "プログレッシブJPEG ｲﾝﾀﾚｰｽ");
    EXPECT_EQ(FileTypeName(7, true), "GIF(89a) ｲﾝﾀﾚｰｽ");
    EXPECT_EQ(FileTypeName(16, false), "Flashpix(非圧縮)");
    EXPECT_EQ(FileTypeName(22, false), "DXF");
    EXPECT_EQ(FileTypeName(23, false), "JPEG(EXIF)");
    EXPECT_EQ(FileTypeName(24, false), "TIFF(その他)");
    EXPECT_EQ(FileTypeName(99, false), "");
}

TEST_F(FileInfo, ExifFilesShowTheirShootingData) {
    const QString a =
        Write("camera.jpg", ExifJpeg({Ascii(0x010F, "Norvo"), Ascii(0x0110, "QX-1 改")},
                                     {Rational(0x829A, 10, 1250), Rational(0x829D, 28, 10),
                                      Ascii(0x9003, "2024:05:06 07:08:09"),
                                      Rational(0x9201, 697, 100, true), Rational(0x920A, 58, 10)}));
    const QString b = Write("b.jpg", ExifJpeg({Ascii(0x010F, "N")}, {Rational(0x829A, 10, 600),
                                                                     Rational(0x9201, 7, 1, true),
                                                                     Rational(0x920A, 35, 1)}));
    const QString c = Write("c.jpg", ExifJpeg({Ascii(0x010F, "N")}, {Rational(0x829A, 2, 1),
                                                                     Rational(0x9201, -1, 1, true),
                                                                     Rational(0x920A, 35, 0)}));
    if (Have("exiftool")) {
        // An independent reader finds exactly what was stored.
        QByteArray out;
        ASSERT_TRUE(RunTool("exiftool",
                            {"-n", "-s3", "-ExposureTime", "-FNumber", "-FocalLength", "-Model", a},
                            &out));
        EXPECT_EQ(out, "0.008\n2.8\n5.8\nQX-1 改\n");
    }

    Show(a);
    ASSERT_TRUE(m_exif.has_value());
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(m_exif->type, "JPEG(EXIF)");
    EXPECT_EQ(m_exif->maker, "Norvo");
    EXPECT_EQ(m_exif->model, "QX-1 改");
    EXPECT_EQ(m_exif->when, "2024:05:06 07:08:09");
    EXPECT_EQ(m_exif->exposure, "1/125");
    EXPECT_EQ(m_exif->exposureField, "1/125"); // the field shows the member
    EXPECT_EQ(m_exif->fnumber, "2.8");
    EXPECT_EQ(m_exif->focal, "5.8");
    EXPECT_EQ(m_exif->shutter, "1/125");
    EXPECT_FALSE(m_exif->hasPanes);

    Show(b);
    ASSERT_TRUE(m_exif.has_value());
    EXPECT_EQ(m_exif->exposure, "1/60");
    EXPECT_EQ(m_exif->shutter, "1/128");
    EXPECT_EQ(m_exif->focal, "35");
    EXPECT_EQ(m_exif->fnumber, ""); // not in the file
    EXPECT_EQ(m_exif->model, "");

    Show(c);
    ASSERT_TRUE(m_exif.has_value());
    EXPECT_EQ(m_exif->exposure, "2");
    EXPECT_EQ(m_exif->shutter, "2");
    EXPECT_EQ(m_exif->focal, ""); // a zero denominator
}

TEST_F(FileInfo, OtherFilesShowTheirTypeNameSizeAndPanes) {
    if (!Have("convert"))
        GTEST_SKIP() << "ImageMagick is not installed";
    struct Case {
        const char* name;
        QStringList options;
        const char* type;
    };
    const Case cases[] = {
        {"i.gif", {"-interlace", "GIF"}, "GIF(89a) ｲﾝﾀﾚｰｽ"},
        {"p.jpg", {"-interlace", "JPEG", "-strip"}, "プログレッシブJPEG ｲﾝﾀﾚｰｽ"},
        {"b.jpg", {"-strip"}, "JPEG"},
        {"i.png", {"-interlace", "PNG"}, "PNG ｲﾝﾀﾚｰｽ"},
        {"x.pcx", {}, "PCX"},
        {"l.tif", {"-compress", "LZW"}, "TIFF(LZW)"},
        {"z.tif", {"-compress", "Zip"}, "TIFF(その他)"},
    };
    for (const Case& c : cases) {
        const QString path = Convert(c.name, c.options);
        Show(path);
        ASSERT_TRUE(m_plain.has_value()) << c.name;
        EXPECT_EQ(m_plain->type, QString::fromUtf8(c.type)) << c.name;
        EXPECT_EQ(m_plain->width, 40u) << c.name;
        EXPECT_EQ(m_plain->height, 30u) << c.name;
        EXPECT_EQ(m_plain->size, uint64_t(QFileInfo(path).size())) << c.name;
        EXPECT_EQ(m_plain->panes, 1u) << c.name;
        EXPECT_EQ(m_panesField, "1") << c.name;
    }
    // Three pages of a TIFF; a comment; a name the library's extensions do not know.
    ASSERT_TRUE(
        RunTool("convert", {"-size", "20x10", "xc:red", "xc:green", "xc:blue", P("pages.tif")}));
    Show(P("pages.tif"));
    ASSERT_TRUE(m_plain.has_value());
    EXPECT_EQ(m_plain->panes, 3u);
    ASSERT_TRUE(RunTool("convert",
                        {"-size", "20x10", "xc:red", "-set", "comment", "夏の写真", P("c.jpg")}));
    ASSERT_TRUE(QFile::rename(P("c.jpg"), P("commented.data")));
    Show(P("commented.data"));
    ASSERT_TRUE(m_plain.has_value());
    EXPECT_EQ(m_plain->type, "JPEG");
    EXPECT_EQ(m_plain->comment, "夏の写真");
    EXPECT_EQ(m_plain->name, "commented.data");
}

TEST_F(FileInfo, WhatCannotBeReadIsSaidAndNoDialogOpens) {
    Write("fake.jpg", "this is text, not a picture");
    Show(P("fake.jpg"));
    EXPECT_FALSE(m_plain.has_value());
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, "ファイル情報が取得できません");
    EXPECT_EQ(m_boxes[0].type, unsigned(MB_OK));

    // An Exif JPEG whose Exif block is garbage: the message, and no dialog at all.
    QImage img(8, 8, QImage::Format_RGB32);
    img.fill(Qt::red);
    QByteArray jpeg;
    QBuffer buf(&jpeg);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "JPEG");
    const QByteArray junk("Exif\0\0garbage, not a TIFF header at all", 39);
    Write("broken.jpg", jpeg.left(2) + QByteArray("\xff\xe1", 2) + Be16(uint16_t(2 + junk.size())) +
                            junk + jpeg.mid(2));
    Show(P("broken.jpg"));
    EXPECT_FALSE(m_exif.has_value());
    EXPECT_FALSE(m_plain.has_value());
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, "ファイル情報が取得できません");

    Show(P("missing.png"));
    ASSERT_EQ(m_boxes.size(), 1u);
}

TEST_F(FileInfo, ANameThatIsNotUtf8IsShownDecoded) {
    const QString path = FileNames::FromNative(QFile::encodeName(m_dir.path()) + "/\x8e\xca.png");
    QImage img(5, 4, QImage::Format_RGB32);
    img.fill(Qt::blue);
    QByteArray png;
    QBuffer buf(&png);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    // Written through the bytes of the name.
    FILE* out = std::fopen(FileNames::ToNative(path).constData(), "wb");
    ASSERT_TRUE(out);
    std::fwrite(png.constData(), 1, size_t(png.size()), out);
    std::fclose(out);
    Show(path);
    ASSERT_TRUE(m_plain.has_value());
    EXPECT_EQ(m_plain->name, "写.png");
    EXPECT_EQ(m_plain->width, 5u);
}

TEST_F(FileInfo, CameraFilesShowWhatTheirPluginTells) {
    // A file laid out as camera RAW files are: a picture the library reads in front (here a BMP
    // where those have a TIFF one) and the plug-in's picture behind it. By the plug-in's extension
    // it is the plug-in's, with the shooting data its information text gives; by a library
    // extension it stays the library's.
    QImage small(1, 1, QImage::Format_RGB32);
    small.fill(Qt::red);
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    ASSERT_TRUE(small.save(&buf, "BMP"));
    ASSERT_LE(bytes.size(), 128);
    bytes.append(QByteArray(128 - bytes.size(), '\0'));
    bytes.append("QRAW", 4);
    bytes.append(QByteArray("\x40\x00\x30\x00", 4)); // 64 x 48
    bytes.append(QByteArray(64 * 48 * 3, '\x50'));
    const QString camera = Write("shot.qraw", bytes);
    const QString asBmp = Write("shot.bmp", bytes);
    ASSERT_TRUE(QDir(m_dir.path()).mkpath("spi"));
    ASSERT_TRUE(
        QFile::copy(testpaths::SpiDir() + QStringLiteral("/camera.spi"), P("spi/camera.spi")));
    ASSERT_EQ(SusieHost::LoadFolder(P("spi")), 1);
    QWidget owner; // the answer comes from a worker, for a window that still exists
    auto showAndWait = [&](const QString& path) {
        m_plain.reset();
        m_exif.reset();
        m_boxes.clear();
        ShowImageInformation(&owner, path, path.mid(path.lastIndexOf('/') + 1));
        QDeadlineTimer deadline(20000);
        while (!m_plain && !m_exif && m_boxes.empty() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    };
    showAndWait(camera);
    ASSERT_TRUE(m_exif.has_value());
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(m_exif->maker, "Norvo");
    EXPECT_EQ(m_exif->model, "QX-9 RAW");
    EXPECT_EQ(m_exif->when, "2024:05:01 12:34:56");
    EXPECT_EQ(m_exif->exposure, "1/250");
    EXPECT_EQ(m_exif->exposureField, "1/250");
    EXPECT_EQ(m_exif->fnumber, "5.6");
    EXPECT_EQ(m_exif->focal, "35");
    EXPECT_EQ(m_exif->shutter, ""); // not told
    EXPECT_EQ(m_exif->type, "");

    showAndWait(asBmp);
    ASSERT_TRUE(m_plain.has_value());
    EXPECT_EQ(m_plain->type, "BMP/DIB");
    EXPECT_EQ(m_plain->width, 1u);

    // A file the plug-in does not take under its extension: what the library reads of it.
    const QString png = Write("not-raw.qraw", QByteArray());
    ASSERT_TRUE(small.save(png, "PNG"));
    showAndWait(png);
    ASSERT_TRUE(m_plain.has_value());
    EXPECT_EQ(m_plain->type, "PNG");
    // Neither reads it: the message.
    showAndWait(Write("junk.qraw", "junk"));
    EXPECT_FALSE(m_plain.has_value());
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, "ファイル情報が取得できません");
}
