// The preview: a modeless, resizable window that shows one image file at its own size, shrunk
// only when it is larger than the screen, and sizes itself to the picture.
#pragma once

#include "imaging/ImageKit.h"
#include "platform/CmdTarget.h"

#include <QDialog>
#include <QMargins>
#include <memory>
#include <optional>

class QMenuBar;

// How far the picture keeps from the screen area's edges, in pixels, on each axis together (room
// for the window's frame, title bar and menu).
inline constexpr int kPreviewMargin = 100;

// The size a picture of this size is shown at in a screen area of this size: unchanged when it
// fits within both sides of the area less kPreviewMargin; otherwise shrunk to fit within both,
// keeping its aspect through an integer percent ratio taken from the side that overflows more
// (that side becomes the box's side, the other follows, kept within 1 and the box).
// At a device pixel ratio above 1 the picture's pixels are device pixels: the box is the area
// less the margin in device pixels, and the window shows the result at DevicePixels::Logical.
QSize PreviewFitSize(QSize picture, QSize area, double ratio = 1.0);

class CPreviewDlg : public QDialog, public CCmdTarget {
    Q_OBJECT
public:
    CPreviewDlg();
    ~CPreviewDlg() override;

    // Shows the file: opens the window the first time, else loads the new picture into it.
    void Open(const QString& path);
    bool HasWindow() const { return m_bOpen; }
    // Loads the file, then sizes and places the window for it. A file only the import plug-ins
    // read is decoded on a worker; the window shows it when it arrives.
    void ShowImage(const QString& path);
    // True while a plug-in's picture is on its way (tests).
    bool IsWaitingForPicture() const { return m_pending != nullptr; }

    CImageKit m_image;
    QString m_strPath;

    // The screen area the window keeps to (the available area of its screen); tests set it.
    void SetScreenArea(const QRect& area) { m_screen = area; }
    QRect ScreenArea() const;
    // The window manager's frame around the window; tests set it (the offscreen platform draws
    // none).
    void SetFrameMargins(const QMargins& frame) { m_frame = frame; }
    QMargins FrameMargins() const;

    // Escape, Enter and the close command all close the window; the object keeps its image.
    void reject() override;
    void accept() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    struct Pending;
    void OnInitDialog();
    void Close();
    // Gives up the picture on its way, if any.
    void CancelPending();
    void TakePicture(const std::shared_ptr<Pending>& pending);
    // Sizes and places the window for the picture held.
    void FitToImage();
    std::shared_ptr<Pending> m_pending;
    QMenuBar* m_menu = nullptr;
    bool m_bOpen = false;
    QRect m_screen;
    std::optional<QMargins> m_frame;
    double m_ratio = 1; // the device pixel ratio the picture was fitted for
};
