#include "thumbs/FileInfoDlg.h"

#include "imaging/ImageKit.h"
#include "imaging/SPIControl.h"
#include "imaging/SusieHost.h"
#include "platform/FileNames.h"
#include "platform/Files.h"
#include "platform/MsgBox.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

std::function<int(CFileInfoDlg&)> CFileInfoDlg::s_answer;
std::function<int(CExifFileInfoDlg&)> CExifFileInfoDlg::s_answer;

namespace {

// The controls, by the numbers of the dialog templates.
enum : int {
    IDC_FILENAME = 1000,
    IDC_FILESIZE = 1001,
    IDC_WIDTH = 1002,
    IDC_FILETYPE = 1003,
    IDC_PANES = 1004,
    IDC_COMMENT = 1005,
    IDC_HEIGHT = 1006,
    IDC_MODEL = 110,
    IDC_DATETIME = 111,
    IDC_MAKER = 203,
    IDC_EXPOSURE = 205,
    IDC_FOCAL = 206,
    IDC_FNUMBER = 207,
    IDC_SHUTTER = 208,
};
constexpr int kFontPoints = 9;
constexpr int kNumberFieldWidth = 90;
constexpr int kTextFieldWidth = 260;
constexpr uint64_t kRecordSizeLimit = 0xFFFFFFFFu;

QLineEdit* NewField(QWidget* parent, int id, bool number) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::number(id));
    if (number) {
        e->setAlignment(Qt::AlignRight);
        e->setMaximumWidth(kNumberFieldWidth);
    }
    return e;
}

QLabel* NewLabel(const QString& text) {
    return new QLabel(text);
}

// A length of time from one second on, in seconds to a tenth.
QString Seconds(double s) {
    if (!std::isfinite(s))
        return QString();
    return QString::asprintf("%g", std::round(s * 10) / 10);
}

// The dialog's common part, with the pane row or the shooting data.
void BuildDialog(QDialog* dlg, bool exif) {
    dlg->setWindowTitle(QStringLiteral("プロパティ"));
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPointSize(kFontPoints);
    dlg->setFont(font);

    auto* grid = new QGridLayout;
    int row = 0;
    grid->addWidget(NewLabel(QStringLiteral("ファイル名")), row, 0);
    QLineEdit* name = NewField(dlg, IDC_FILENAME, false);
    name->setMinimumWidth(kTextFieldWidth);
    grid->addWidget(name, row++, 1, 1, 4);
    grid->addWidget(NewLabel(QStringLiteral("画像サイズ　幅")), row, 0);
    grid->addWidget(NewField(dlg, IDC_WIDTH, true), row, 1);
    grid->addWidget(NewLabel(QStringLiteral("高さ")), row, 2, Qt::AlignRight);
    grid->addWidget(NewField(dlg, IDC_HEIGHT, true), row++, 3);
    grid->addWidget(NewLabel(QStringLiteral("ファイルサイズ")), row, 0);
    grid->addWidget(NewField(dlg, IDC_FILESIZE, true), row, 1);
    grid->addWidget(NewLabel(QStringLiteral("バイト")), row++, 2);
    grid->addWidget(NewLabel(QStringLiteral("ファイルタイプ")), row, 0);
    grid->addWidget(NewField(dlg, IDC_FILETYPE, false), row++, 1, 1, 4);
    if (!exif) {
        grid->addWidget(NewLabel(QStringLiteral("ペイン数")), row, 0);
        grid->addWidget(NewField(dlg, IDC_PANES, true), row++, 1);
    }
    grid->addWidget(NewLabel(QStringLiteral("コメント")), row, 0);
    grid->addWidget(NewField(dlg, IDC_COMMENT, false), row++, 1, 1, 4);
    grid->setColumnStretch(4, 1);

    auto* layout = new QVBoxLayout(dlg);
    layout->addLayout(grid);
    if (exif) {
        auto* group = new QGroupBox(QStringLiteral("撮影情報"), dlg);
        auto* g = new QGridLayout(group);
        struct Row {
            const char* label;
            int id;
            const char* unit;
        };
        static const Row rows[] = {
            {"機種名:", IDC_MODEL, nullptr},       {"メーカ名:", IDC_MAKER, nullptr},
            {"撮影日時:", IDC_DATETIME, nullptr},  {"露出時間:", IDC_EXPOSURE, "秒"},
            {"焦点距離:", IDC_FOCAL, "mm"},        {"F値:", IDC_FNUMBER, nullptr},
            {"シャッター速度:", IDC_SHUTTER, "秒"}};
        int r = 0;
        for (const Row& x : rows) {
            g->addWidget(NewLabel(QString::fromUtf8(x.label)), r, 0);
            const bool shortField = x.id != IDC_MODEL && x.id != IDC_MAKER && x.id != IDC_DATETIME;
            QLineEdit* e = NewField(dlg, x.id, false);
            if (shortField)
                e->setMaximumWidth(kNumberFieldWidth);
            g->addWidget(e, r, 1, 1, shortField ? 1 : 2);
            if (x.unit)
                g->addWidget(NewLabel(QString::fromUtf8(x.unit)), r, 2);
            ++r;
        }
        g->setColumnStretch(2, 1);
        layout->addWidget(group);
    }
    auto* buttons = new QDialogButtonBox(dlg);
    QPushButton* close = buttons->addButton(QStringLiteral("閉じる"), QDialogButtonBox::AcceptRole);
    close->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dlg, &QDialog::accept);
    layout->addWidget(buttons);
}

} // namespace

CFileInfoDlg::CFileInfoDlg(QWidget* parent) : CFileInfoDlg(parent, false) {}

CFileInfoDlg::CFileInfoDlg(QWidget* parent, bool exif) : QDialog(parent) {
    BuildDialog(this, exif);
}

QLineEdit* CFileInfoDlg::Field(int id) const {
    return findChild<QLineEdit*>(QString::number(id));
}

void CFileInfoDlg::LoadFields() {
    Field(IDC_FILENAME)->setText(m_strFileName);
    Field(IDC_COMMENT)->setText(m_strComment);
    Field(IDC_FILESIZE)->setText(QString::number(m_nFileSize));
    Field(IDC_FILETYPE)->setText(m_strFileType);
    if (QLineEdit* panes = Field(IDC_PANES))
        panes->setText(QString::number(m_nPanes));
    Field(IDC_HEIGHT)->setText(QString::number(m_nHeight));
    Field(IDC_WIDTH)->setText(QString::number(m_nWidth));
    for (QLineEdit* e : findChildren<QLineEdit*>())
        e->setCursorPosition(0);
}

int CFileInfoDlg::exec() {
    LoadFields();
    if (s_answer)
        return s_answer(*this);
    return QDialog::exec();
}

CExifFileInfoDlg::CExifFileInfoDlg(QWidget* parent) : CFileInfoDlg(parent, true) {}

void CExifFileInfoDlg::LoadFields() {
    CFileInfoDlg::LoadFields();
    Field(IDC_MODEL)->setText(m_strModel);
    Field(IDC_MAKER)->setText(m_strMaker);
    Field(IDC_DATETIME)->setText(m_strDateTime);
    Field(IDC_EXPOSURE)->setText(m_strExposure);
    Field(IDC_FOCAL)->setText(m_strFocalLength);
    Field(IDC_FNUMBER)->setText(m_strFNumber);
    Field(IDC_SHUTTER)->setText(m_strShutterSpeed);
    for (QLineEdit* e : findChildren<QLineEdit*>())
        e->setCursorPosition(0);
}

int CExifFileInfoDlg::exec() {
    LoadFields();
    if (s_answer)
        return s_answer(*this);
    return QDialog::exec();
}

QString FileTypeName(int code, bool interlaced) {
    static const char* const names[] = {"",
                                        "BMP/DIB",
                                        "BMP/DIB(RLE4)",
                                        "BMP/DIB(RLE8)",
                                        "JPEG",
                                        "プログレッシブJPEG",
                                        "GIF(87a)",
                                        "GIF(89a)",
                                        "TIFF(非圧縮)",
                                        "TIFF(CCITTRLE)",
                                        "TIFF(GROUP3-1D)",
                                        "TIFF(GROUP3-2D)",
                                        "TIFF(GROUP4)",
                                        "TIFF(PACKBITS)",
                                        "TIFF(LZW)",
                                        "PNG",
                                        "Flashpix(非圧縮)",
                                        "Flashpix(SingleColor)",
                                        "Flashpix(JPEG)",
                                        "PCX",
                                        "WMF",
                                        "EMF",
                                        "DXF",
                                        "JPEG(EXIF)",
                                        "TIFF(その他)"};
    QString name;
    if (code >= 0 && code < int(std::size(names)))
        name = QString::fromUtf8(names[code]);
    if (interlaced)
        name += QStringLiteral(" ｲﾝﾀﾚｰｽ");
    return name;
}

QString ExposureText(uint32_t num, uint32_t den) {
    if (den == 0 || num == 0)
        return QString();
    const double value = double(num) / double(den);
    // From one second on the time itself: "1/n" would round 2 s to "1/1".
    if (value >= 1)
        return Seconds(value);
    return QStringLiteral("1/%1").arg(qint64(std::floor(double(den) / double(num) + 0.5)));
}

QString RationalText(uint32_t num, uint32_t den) {
    if (den == 0)
        return QString();
    return QString::asprintf("%g", double(num) / double(den));
}

QString ShutterSpeedText(int32_t num, int32_t den) {
    if (den == 0)
        return QString();
    const double t = double(num) / double(den);
    // An APEX value of 0 or less is one second or more: 2^-t seconds.
    if (t <= 0)
        return Seconds(std::pow(2.0, -t));
    const double n = std::floor(std::pow(2.0, t) + 0.1);
    if (!std::isfinite(n) || n > double(std::numeric_limits<qint64>::max()))
        return QString();
    return QStringLiteral("1/%1").arg(qint64(n));
}

namespace {

// The shooting data as the dialog shows them.
struct ShootingTexts {
    QString maker, model, dateTime, exposure, focalLength, fNumber, shutterSpeed;
    bool Any() const {
        return !(maker.isEmpty() && model.isEmpty() && dateTime.isEmpty() && exposure.isEmpty() &&
                 focalLength.isEmpty() && fNumber.isEmpty() && shutterSpeed.isEmpty());
    }
};

// The shooting data of a plug-in's information text: lines "Name=value" named like the Exif tags
// (Make, Model, DateTimeOriginal, ExposureTime as "1/250" or seconds, FNumber, FocalLength in mm,
// ShutterSpeedValue as an APEX value). A value is taken as the plug-in wrote it when it is short
// and has no control characters; other lines are not shooting data.
ShootingTexts ShootingOf(const QByteArray& text) {
    constexpr qsizetype kMaxValue = 128;
    ShootingTexts t;
    for (const QByteArray& line : text.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = line.left(eq).trimmed();
        const QString value = FileNames::Display(FileNames::FromNative(line.mid(eq + 1).trimmed()));
        if (value.size() > kMaxValue || std::any_of(value.begin(), value.end(), [](QChar c) {
                return c.category() == QChar::Other_Control;
            }))
            continue;
        if (key == "Make")
            t.maker = value;
        else if (key == "Model")
            t.model = value;
        else if (key == "DateTimeOriginal" || (key == "DateTime" && t.dateTime.isEmpty()))
            t.dateTime = value;
        else if (key == "ExposureTime")
            t.exposure = value;
        else if (key == "FNumber")
            t.fNumber = value;
        else if (key == "FocalLength")
            t.focalLength = value;
        else if (key == "ShutterSpeedValue") {
            // An APEX value as a decimal number, shown as the library's Exif files show it.
            bool ok = false;
            const double apex = value.toDouble(&ok);
            if (ok && std::isfinite(apex) && std::abs(apex) < 64)
                t.shutterSpeed = ShutterSpeedText(int32_t(std::lround(apex * 1000)), 1000);
        }
    }
    return t;
}

// Shows the information the library or a plug-in gave of the file; shooting, when given, are the
// shooting data a plug-in told (the library's Exif files are read here).
void ShowInformation(QWidget* owner, const QString& path, const QString& name,
                     const ImageFileInfo& info, const ShootingTexts& shooting = ShootingTexts()) {
    // The record holds 32 bits of the size; a larger file's size is taken from the file itself.
    uint64_t size = info.fileSize;
    if (const auto st = Files::Stat(path); st && uint64_t(st->size) > kRecordSizeLimit)
        size = uint64_t(st->size);
    const QString shownName = FileNames::Display(
        name.isEmpty() ? path.mid(path.lastIndexOf(QLatin1Char('/')) + 1) : name);
    auto fill = [&](CFileInfoDlg& dlg) {
        dlg.m_strFileName = shownName;
        dlg.m_strComment = info.comment;
        dlg.m_nFileSize = size;
        dlg.m_strFileType = FileTypeName(info.type, info.interlaced);
        dlg.m_nHeight = unsigned(info.height);
        dlg.m_nWidth = unsigned(info.width);
    };
    ShootingTexts data = shooting;
    if (info.type == IK_TYPE_JPEG_EXIF) {
        ExifShootingInfo exif;
        if (!GetExifShootingInfo(path, exif)) {
            QuillaMessageBox(owner, QStringLiteral("ファイル情報が取得できません"), MB_OK);
            return;
        }
        data.maker = exif.maker;
        data.model = exif.model;
        data.dateTime = exif.dateTime;
        data.exposure = ExposureText(exif.exposureNum, exif.exposureDen);
        data.focalLength = RationalText(exif.focalNum, exif.focalDen);
        data.fNumber = RationalText(exif.fNumberNum, exif.fNumberDen);
        data.shutterSpeed = ShutterSpeedText(exif.shutterNum, exif.shutterDen);
    } else if (!data.Any()) {
        CFileInfoDlg dlg(owner);
        fill(dlg);
        dlg.m_nPanes = unsigned(info.panes);
        dlg.exec();
        return;
    }
    CExifFileInfoDlg dlg(owner);
    fill(dlg);
    dlg.m_strMaker = data.maker;
    dlg.m_strModel = data.model;
    dlg.m_strDateTime = data.dateTime;
    dlg.m_strExposure = data.exposure;
    dlg.m_strFocalLength = data.focalLength;
    dlg.m_strFNumber = data.fNumber;
    dlg.m_strShutterSpeed = data.shutterSpeed;
    dlg.exec();
}

} // namespace

void ShowImageInformation(QWidget* owner, const QString& path, const QString& name) {
    // A file whose extension a plug-in lists and the library's do not (camera RAW files, which
    // the library would read as the TIFF picture in front of the raw data) is the plug-in's;
    // any other file is first the library's, read by its content whatever the extension.
    const bool plugins = SusieHost::GetFormatCount() > 0;
    const bool pluginFirst = plugins && !IsLibraryFileName(path) && IsImageFile(path);
    ImageFileInfo info;
    if (!pluginFirst && GetImageFileInfo(path, info)) {
        ShowInformation(owner, path, name, info);
        return;
    }
    if (!plugins) {
        QuillaMessageBox(owner, QStringLiteral("ファイル情報が取得できません"), MB_OK);
        return;
    }
    // What the plug-in tells of the picture (GetPictureInfo; its picture decoded when it tells
    // nothing), without a type name of the library's own. The plug-in runs on a worker; the
    // dialog comes when it has answered.
    QPointer<QWidget> parent(owner);
    QThreadPool::globalInstance()->start([parent, path, name, pluginFirst] {
        ImageFileInfo got;
        ShootingTexts shooting;
        SpiPictureInfo told;
        bool ok = SusieHost::FileInformation(path, &told, true) == 0;
        if (ok) {
            got.width = told.width;
            got.height = told.height;
            shooting = ShootingOf(told.text);
        } else {
            CImageKit picture;
            ok = picture.LoadByPlugin(path, true) && !picture.IsEmpty();
            got.width = picture.GetSize().width();
            got.height = picture.GetSize().height();
        }
        if (ok) {
            got.type = IK_TYPE_UNKNOWN;
            got.panes = 1;
            if (const auto st = Files::Stat(path))
                got.fileSize = uint32_t(st->size);
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [parent, path, name, ok, got, shooting, pluginFirst] {
                // The window it was asked from has gone: nobody waits for the answer.
                if (!parent)
                    return;
                ImageFileInfo library;
                if (ok)
                    ShowInformation(parent, path, name, got, shooting);
                else if (pluginFirst && GetImageFileInfo(path, library))
                    ShowInformation(parent, path, name, library);
                else
                    QuillaMessageBox(parent, QStringLiteral("ファイル情報が取得できません"), MB_OK);
            },
            Qt::QueuedConnection);
    });
}
