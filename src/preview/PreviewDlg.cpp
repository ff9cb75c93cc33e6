#include "preview/PreviewDlg.h"

#include "imaging/DevicePixels.h"
#include "imaging/SusieHost.h"
#include "platform/FileNames.h"
#include "platform/Settings.h"
#include "platform/Shell.h"
#include "platform/WaitCursor.h"
#include "platform/WindowPlacement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <mutex>

namespace {
enum : unsigned {
    ID_PREVIEW_CLOSE = 32820,
    ID_PREVIEW_PROPERTIES = 32821,
    ID_PREVIEW_COPY = 32822
};

// The window manager's frame around a top-level window (zero before it has been drawn).
QMargins FrameOf(const QWidget* w) {
    const QRect f = w->frameGeometry(), g = w->geometry();
    return QMargins(g.left() - f.left(), g.top() - f.top(), f.right() - g.right(),
                    f.bottom() - g.bottom());
}
} // namespace

QSize PreviewFitSize(QSize picture, QSize area, double deviceRatio) {
    const qint64 w = picture.width(), h = picture.height();
    const qint64 bw = DevicePixels::Length(std::max(1, area.width() - kPreviewMargin), deviceRatio);
    const qint64 bh =
        DevicePixels::Length(std::max(1, area.height() - kPreviewMargin), deviceRatio);
    if (w <= bw && h <= bh)
        return picture;
    // The width decides when it overflows at least as much as the height (w / bw >= h / bh).
    if (w * bh >= h * bw) {
        const qint64 ratio = w * 100 / bw;
        const qint64 nh = std::clamp<qint64>(h * 100 / ratio, 1, std::min(h, bh));
        return QSize(int(bw), int(nh));
    }
    const qint64 ratio = h * 100 / bh;
    const qint64 nw = std::clamp<qint64>(w * 100 / ratio, 1, std::min(w, bw));
    return QSize(int(nw), int(bh));
}

// A picture a plug-in decodes for the window on a worker. The worker leaves it here; the window
// takes it on its own thread, or gives it up by setting cancel (which also stops the helper).
struct CPreviewDlg::Pending {
    QString path;
    std::atomic<bool> cancel{false};
    std::mutex mutex;
    IKHANDLE image = 0;
};

CPreviewDlg::~CPreviewDlg() {
    CancelPending();
}

void CPreviewDlg::CancelPending() {
    if (m_pending)
        m_pending->cancel = true;
    m_pending.reset();
}

void CPreviewDlg::TakePicture(const std::shared_ptr<Pending>& pending) {
    IKHANDLE image = 0;
    {
        std::lock_guard lock(pending->mutex);
        image = std::exchange(pending->image, 0);
    }
    if (pending != m_pending) {
        CImageKit::Release(image);
        return;
    }
    m_pending.reset();
    // A file no plug-in read leaves the window as it is.
    if (!image)
        return;
    m_image.Attach(image);
    FitToImage();
    update();
}

CPreviewDlg::CPreviewDlg() : QDialog(nullptr) {
    setWindowTitle(QStringLiteral("プレビュー"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setModal(false);
    m_menu = new QMenuBar(this);
    QMenu* file = m_menu->addMenu(QStringLiteral("ファイル(&F)"));
    QAction* props = file->addAction(QStringLiteral("プロパティ"));
    file->addSeparator();
    QAction* close = file->addAction(QStringLiteral("閉じる"));
    QMenu* edit = m_menu->addMenu(QStringLiteral("編集(&E)"));
    QAction* copy = edit->addAction(QStringLiteral("コピー(&C)"));
    SetCommandId(props, ID_PREVIEW_PROPERTIES);
    SetCommandId(close, ID_PREVIEW_CLOSE);
    SetCommandId(copy, ID_PREVIEW_COPY);
    for (QAction* a : {props, close, copy})
        connect(a, &QAction::triggered, this, [this, a] { SendCommand(CommandIdOf(a)); });
    MapCommand(ID_PREVIEW_CLOSE, [this] { accept(); });
    MapCommand(ID_PREVIEW_PROPERTIES, [this] { Shell::ShowProperties(m_strPath, this); });
    MapCommand(ID_PREVIEW_COPY, [this] {
        if (!m_image.IsEmpty())
            m_image.CopyToClipboard(this);
    });
    // Escape and Enter close the window wherever the keyboard focus is, also after the menu was
    // used from the keyboard (the menu bar then holds the focus and would swallow them).
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::Key_Return),
                                    QKeySequence(Qt::Key_Enter)}) {
        auto* sc = new QShortcut(key, this);
        sc->setContext(Qt::WindowShortcut);
        connect(sc, &QShortcut::activated, this, [this] { accept(); });
    }
    setFocusPolicy(Qt::StrongFocus);
    // 152 × 124 dialog units in a 9-point font: the window's size before a picture sizes it.
    resize(228, 202);
}

QMargins CPreviewDlg::FrameMargins() const {
    if (m_frame)
        return *m_frame;
    QMargins m = FrameOf(this);
    if (!m.isNull())
        return m;
    // Not drawn yet: the same window manager draws the same frame around the program's other
    // windows.
    for (const QWidget* w : QApplication::topLevelWidgets()) {
        if (w == this || !w->isVisible() || w->windowType() != Qt::Window)
            continue;
        m = FrameOf(w);
        if (!m.isNull())
            return m;
    }
    return m;
}

QRect CPreviewDlg::ScreenArea() const {
    if (m_screen.isValid())
        return m_screen;
    QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    return s ? s->availableGeometry() : QRect(0, 0, 1280, 994);
}

void CPreviewDlg::Open(const QString& path) {
    m_strPath = path;
    if (!m_bOpen) {
        OnInitDialog();
        return;
    }
    ShowImage(m_strPath);
    update();
}

void CPreviewDlg::OnInitDialog() {
    m_bOpen = true;
    // The window comes back where it was closed last time, on a screen that still exists; the
    // first time its frame, title bar included, starts at the top-left corner of the screen area.
    const QRect saved(Settings::Get(Settings::PreviewLeft), Settings::Get(Settings::PreviewTop),
                      Settings::Get(Settings::PreviewWidth),
                      Settings::Get(Settings::PreviewHeight));
    const QMargins frame = FrameMargins();
    if (saved.width() > 0 && saved.height() > 0) {
        // The whole frame, title bar included, is kept on the screen.
        const QList<QRect> areas =
            m_screen.isValid() ? QList<QRect>{m_screen} : WindowPlacement::ScreenAreas();
        setGeometry(
            WindowPlacement::KeepOnScreens(saved.marginsAdded(frame), areas).marginsRemoved(frame));
    } else {
        setGeometry(QRect(ScreenArea().topLeft() + QPoint(frame.left(), frame.top()), size()));
    }
    show();
    ShowImage(m_strPath);
    // The caption names the file; showing another file later leaves it as it is.
    setWindowTitle(QStringLiteral("プレビュー"));
    const qsizetype slash = m_strPath.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0)
        setWindowTitle(QStringLiteral("プレビュー - ") +
                       FileNames::Display(m_strPath.mid(slash + 1)));
    activateWindow();
    setFocus(Qt::ActiveWindowFocusReason);
}

void CPreviewDlg::ShowImage(const QString& path) {
    CancelPending();
    {
        CWaitCursor wait;
        // What the library reads is loaded here; the import plug-ins are never called on this
        // thread.
        CImageKit::NoPlugins noPlugins;
        m_image.LoadUpright(path, false);
    }
    if (m_image.IsEmpty() && SusieHost::GetFormatCount() > 0) {
        auto pending = std::make_shared<Pending>();
        pending->path = path;
        m_pending = pending;
        QPointer<CPreviewDlg> self(this);
        QThreadPool::globalInstance()->start([pending, self] {
            CImageKit kit;
            IKHANDLE image = 0;
            if (kit.LoadByPlugin(pending->path, true, &pending->cancel) && !kit.IsEmpty())
                image = kit.Detach();
            {
                std::lock_guard lock(pending->mutex);
                pending->image = image;
            }
            QMetaObject::invokeMethod(
                qApp,
                [pending, self] {
                    if (self)
                        self->TakePicture(pending);
                    else
                        CImageKit::Release(std::exchange(pending->image, 0));
                },
                Qt::QueuedConnection);
        });
        return;
    }
    // A file that cannot be loaded leaves the window as it is.
    if (m_image.IsEmpty())
        return;
    FitToImage();
}

void CPreviewDlg::FitToImage() {
    QSize size = m_image.GetSize();
    const QRect area = ScreenArea();
    // The picture's own size is its size in the screen's device pixels.
    const double ratio = devicePixelRatioF();
    const QSize fitted = PreviewFitSize(size, area.size(), ratio);
    if (fitted != size) {
        m_image.Resize(fitted.width(), fitted.height(), false);
        size = m_image.GetSize();
    }
    // Shown in the screen's colours, converted straight from the file's profile.
    m_image.ConvertToDisplay();
    m_ratio = ratio;
    const QSize shown = DevicePixels::Logical(size, ratio);
    const int w = shown.width(), h = shown.height();
    // The client area below the menu is exactly the picture; the frame adds its own size.
    const int menu = m_menu->sizeHint().height();
    const QMargins frame = FrameMargins();
    const int W = w + frame.left() + frame.right(), H = h + menu + frame.top() + frame.bottom();
    const int cx = area.right() + 1, cy = area.bottom() + 1;
    int x = geometry().left() - frame.left(), y = geometry().top() - frame.top();
    if (x + W < cx && y + H < cy) {
        resize(w, h + menu);
        return;
    }
    if (x + W > cx)
        x = std::max(area.left(), cx - W);
    if (y + H > cy)
        y = std::max(area.top(), cy - H);
    setGeometry(QRect(x + frame.left(), y + frame.top(), w, h + menu));
}

void CPreviewDlg::paintEvent(QPaintEvent*) {
    if (m_image.IsEmpty())
        return;
    QPainter p(this);
    // Each of the picture's pixels on one device pixel; a picture fitted for another ratio (the
    // window moved to another screen) is scaled to the size it was given.
    DevicePixels::Draw(&p, m_image, QPoint(0, m_menu->sizeHint().height()),
                       DevicePixels::Logical(m_image.GetSize(), m_ratio), IK_OUT_PREVIEW);
}

void CPreviewDlg::Close() {
    if (m_bOpen) {
        const QRect place = geometry();
        Settings::WriteInts({{Settings::PreviewLeft, place.x()},
                             {Settings::PreviewTop, place.y()},
                             {Settings::PreviewWidth, place.width()},
                             {Settings::PreviewHeight, place.height()}});
    }
    CancelPending();
    m_bOpen = false;
    hide();
}

void CPreviewDlg::closeEvent(QCloseEvent* event) {
    Close();
    event->accept();
}

void CPreviewDlg::reject() {
    Close();
}

void CPreviewDlg::accept() {
    Close();
}
