// Shows one of the file commands' dialogs on sample files made on the spot, for screenshots:
//   dialog_shots rename|properties|info|exif|progress
// The window stays until the program is ended.
#include "imaging/ImageLibrary.h"
#include "platform/FileOpProgressDlg.h"
#include "platform/FileTransfer.h"
#include "platform/Fonts.h"
#include "platform/MsgBox.h"
#include "platform/Shell.h"
#include "thumbs/FileInfoDlg.h"
#include "tree/Dialogs.h"

#include <QApplication>
#include <QBuffer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstdio>
#include <thread>

namespace {

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

struct Tag {
    uint16_t tag, type;
    uint32_t count;
    QByteArray value;
};

QByteArray Ifd(const std::vector<Tag>& tags, uint32_t at) {
    QByteArray dir = Be16(uint16_t(tags.size())), data;
    const uint32_t dataAt = at + 2 + 12 * uint32_t(tags.size()) + 4;
    for (const Tag& t : tags) {
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

Tag Ascii(uint16_t tag, const QByteArray& s) {
    return {tag, 2, uint32_t(s.size() + 1), s + '\0'};
}
Tag Rational(uint16_t tag, uint32_t n, uint32_t d, uint16_t type = 5) {
    return {tag, type, 1, Be32(n) + Be32(d)};
}

QImage Sample(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient g(0, 0, w, h);
    g.setColorAt(0, QColor(30, 90, 160));
    g.setColorAt(1, QColor(240, 200, 120));
    p.fillRect(img.rect(), g);
    return img;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Fonts::InstallSubstitutions();
    LoadImageLibrary();
    const QByteArray what = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    QTemporaryDir dir;
    const QDir d(dir.path());

    if (what == "rename") {
        CRenameDlg dlg;
        dlg.m_strBefore = QStringLiteral("夏の写真 2024-05-06.jpg");
        dlg.m_strName = QStringLiteral("夏の写真 2024-05-06");
        dlg.m_strExt = QStringLiteral(".jpg");
        dlg.exec();
    } else if (what == "properties") {
        const QString path = d.filePath(QStringLiteral("夏の写真 2024-05-06.jpg"));
        Sample(1600, 1200).save(path, "JPEG", 92);
        QDialog* dlg = Shell::MakePropertiesWindow(path, nullptr);
        dlg->exec();
    } else if (what == "info") {
        QImage img = Sample(640, 480);
        img.setText(QStringLiteral("Comment"), QStringLiteral("夕方の海辺"));
        const QString path = d.filePath(QStringLiteral("海辺.png"));
        img.save(path, "PNG");
        ShowImageInformation(nullptr, path, QStringLiteral("海辺.png"));
    } else if (what == "exif") {
        QByteArray jpeg;
        QBuffer buf(&jpeg);
        buf.open(QIODevice::WriteOnly);
        Sample(800, 600).save(&buf, "JPEG", 90);
        std::vector<Tag> first{
            Ascii(0x010F, "Norvo"), Ascii(0x0110, "Pictoquill QX-1"), {0x8769, 4, 1, Be32(0)}};
        const uint32_t exifAt = 8 + uint32_t(Ifd(first, 8).size());
        first.back().value = Be32(exifAt);
        const std::vector<Tag> exif{Rational(0x829A, 10, 1250), Rational(0x829D, 28, 10),
                                    Ascii(0x9003, "2024:05:06 18:42:07"),
                                    Rational(0x9201, 697, 100, 10), Rational(0x920A, 58, 10)};
        const QByteArray tiff =
            QByteArray("MM\0\x2a", 4) + Be32(8) + Ifd(first, 8) + Ifd(exif, exifAt);
        const QByteArray app1 = QByteArray("\xff\xe1", 2) + Be16(uint16_t(8 + tiff.size())) +
                                QByteArray("Exif\0\0", 6) + tiff;
        const QString path = d.filePath(QStringLiteral("IMG_0042.JPG"));
        WriteFile(path, jpeg.left(2) + app1 + jpeg.mid(2));
        ShowImageInformation(nullptr, path, QStringLiteral("IMG_0042.JPG"));
    } else if (what == "progress") {
        d.mkdir(QStringLiteral("src"));
        d.mkdir(QStringLiteral("dst"));
        QStringList sources;
        for (int i = 1; i <= 3; ++i) {
            sources << d.filePath(QStringLiteral("src/夏の写真 %1.jpg").arg(i));
            WriteFile(sources.back(), QByteArray(64 << 20, char(i)));
        }
        // A slow disk, so the window stays up long enough to be seen.
        CFileTransfer::s_onChunk = [](CFileTransfer&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        };
        SetMessageBoxResponder([](const MsgBoxRequest&) { return IDOK; });
        Shell::FileOp op;
        op.func = Shell::FO_COPY;
        op.from = sources;
        op.to = d.filePath(QStringLiteral("dst"));
        op.flags = Shell::FOF_ALLOWUNDO | Shell::FOF_RENAMEONCOLLISION;
        Shell::SHFileOperation(op);
    } else {
        std::fprintf(stderr, "usage: dialog_shots rename|properties|info|exif|progress\n");
        return 2;
    }
    return 0;
}
