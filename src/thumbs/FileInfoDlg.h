// The image information command: the properties of one picture file, from the imaging library.
// An Exif JPEG file gets the larger dialog with its shooting data.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>

class QLineEdit;

// "プロパティ": name, comment, size, type, panes and the picture's size.
class CFileInfoDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFileInfoDlg(QWidget* parent = nullptr);
    // Shows the members in the fields, then runs the dialog (what the user types is discarded).
    int exec() override;
    // The field exchanged with the control of that number (1000 file name, 1001 size, …).
    QLineEdit* Field(int id) const;

    QString m_strFileName;
    QString m_strComment;
    uint64_t m_nFileSize = 0;
    QString m_strFileType;
    unsigned m_nPanes = 0;
    unsigned m_nHeight = 0;
    unsigned m_nWidth = 0;
    // Tests: answers instead of a person, after the fields are filled.
    static std::function<int(CFileInfoDlg&)> s_answer;

protected:
    // The common fields with the pane count, or (exif) with the shooting data instead.
    CFileInfoDlg(QWidget* parent, bool exif);
    virtual void LoadFields();
};

// "プロパティ" of an Exif JPEG file: the common fields without panes, and the shooting data.
class CExifFileInfoDlg : public CFileInfoDlg {
    Q_OBJECT
public:
    explicit CExifFileInfoDlg(QWidget* parent = nullptr);
    int exec() override;

    QString m_strModel;
    QString m_strMaker;
    QString m_strDateTime;
    QString m_strExposure;
    QString m_strFocalLength;
    QString m_strFNumber;
    QString m_strShutterSpeed;
    static std::function<int(CExifFileInfoDlg&)> s_answer;

protected:
    void LoadFields() override;
};

// The display name of a library type code, with " ｲﾝﾀﾚｰｽ" when the file is interlaced.
QString FileTypeName(int code, bool interlaced);
// The shooting data as the dialog shows them; "" when the denominator is 0.
// Exposure: "1/n" for less than a second, seconds ("2", "2.5") from one second on.
QString ExposureText(uint32_t num, uint32_t den);
// Focal length and F-number: the quotient in the shortest form ("5.8", "35").
QString RationalText(uint32_t num, uint32_t den);
// Shutter speed from its APEX value t: "1/n" with n = ⌊2^t + 0.1⌋, seconds from one second on.
QString ShutterSpeedText(int32_t num, int32_t den);

// The command: shows the information of the file (full path and the name it is listed under)
// in the dialog that fits it, or says "ファイル情報が取得できません".
void ShowImageInformation(QWidget* owner, const QString& path, const QString& name);
