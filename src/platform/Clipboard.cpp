#include "platform/Clipboard.h"

#include "platform/FileNames.h"
#include "platform/Shell.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHostInfo>
#include <QMimeData>
#include <QtEndian>
#include <optional>

namespace Clipboard {

namespace {

const QString kUriList = QStringLiteral("text/uri-list");
const QString kGnome = QStringLiteral("x-special/gnome-copied-files");
const QString kMate = QStringLiteral("x-special/mate-copied-files");
const QString kKdeCut = QStringLiteral("application/x-kde-cutselection");
const QString kWindowsEffect =
    QStringLiteral("application/x-qt-windows-mime;value=\"Preferred DropEffect\"");
const QByteArray kNautilusText("x-special/nautilus-clipboard");
// An entry that is not a file is shown with at most this many characters.
constexpr int kMaxShownEntry = 200;

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The bytes of the local path a file: address names, or nothing when it names none.
std::optional<QByteArray> LocalPath(const QByteArray& url) {
    QByteArray rest;
    if (url.startsWith("file://")) {
        rest = url.mid(7);
        if (!rest.startsWith('/')) {
            // file://host/path: only this machine's files are files here.
            const qsizetype slash = rest.indexOf('/');
            const QByteArray host = rest.left(slash < 0 ? rest.size() : slash);
            if (slash < 0 ||
                (host.compare("localhost", Qt::CaseInsensitive) != 0 &&
                 host.compare(QHostInfo::localHostName().toUtf8(), Qt::CaseInsensitive) != 0))
                return std::nullopt;
            rest = rest.mid(slash);
        }
    } else if (url.startsWith("file:/")) {
        rest = url.mid(5); // the short form some programs write
    } else {
        return std::nullopt;
    }
    QByteArray path;
    path.reserve(rest.size());
    for (qsizetype i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path += rest[i];
            continue;
        }
        const int hi = i + 2 < rest.size() ? HexDigit(rest[i + 1]) : -1;
        const int lo = hi >= 0 ? HexDigit(rest[i + 2]) : -1;
        if (lo < 0)
            return std::nullopt;
        const char byte = char(hi << 4 | lo);
        if (byte == '\0')
            return std::nullopt; // no name holds a NUL
        path += byte;
        i += 2;
    }
    if (!path.startsWith('/') || path.contains('\0'))
        return std::nullopt;
    return path;
}

QString Shown(const QByteArray& entry) {
    QString text = QString::fromUtf8(entry.left(kMaxShownEntry * 4)).left(kMaxShownEntry);
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QChar(u'?');
    return text;
}

// The lines of a list, each without its line end; empty lines and comments left out.
QList<QByteArray> Lines(const QByteArray& data) {
    QList<QByteArray> out;
    for (QByteArray line : data.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        line = line.trimmed();
        if (!line.isEmpty() && !line.startsWith('#'))
            out << line;
    }
    return out;
}

void AddEntries(const QList<QByteArray>& entries, FileList& list) {
    for (const QByteArray& e : entries) {
        if (const std::optional<QByteArray> path = LocalPath(e)) {
            const QString p = FileNames::FromNative(*path);
            if (!list.paths.contains(p))
                list.paths << p;
        } else {
            list.rejected << Shown(e);
        }
    }
}

} // namespace

QMimeData* MakeFileData(const QStringList& paths, int effect) {
    const bool cut = effect == DROPEFFECT_MOVE;
    QByteArray uriList;
    QByteArray marked(cut ? "cut" : "copy");
    QStringList text;
    for (const QString& p : paths) {
        const QByteArray url = FileNames::ToFileUrl(p);
        uriList += url + "\r\n";
        // One address a line, the last without a line end (as Nautilus expects it).
        marked += '\n' + url;
        text << FileNames::Display(p);
    }
    auto* data = new QMimeData;
    data->setData(kUriList, uriList);
    data->setData(kGnome, marked);
    data->setData(kMate, marked);
    if (cut)
        data->setData(kKdeCut, "1");
#ifdef Q_OS_WIN
    QByteArray dropEffect(4, '\0');
    qToLittleEndian<quint32>(quint32(effect), dropEffect.data());
    data->setData(kWindowsEffect, dropEffect);
#endif
    data->setText(text.join(QLatin1Char('\n')));
    return data;
}

FileList FilesFromMime(const QMimeData* data) {
    FileList list;
    if (!data)
        return list;
    bool cut = false;
    const QString marked = data->hasFormat(kGnome) ? kGnome : data->hasFormat(kMate) ? kMate : "";
    if (!marked.isEmpty()) {
        QList<QByteArray> lines = Lines(data->data(marked));
        if (!lines.isEmpty() && (lines[0] == "cut" || lines[0] == "copy")) {
            cut = lines.takeFirst() == "cut";
            AddEntries(lines, list);
        }
    }
    if (list.paths.isEmpty() && list.rejected.isEmpty() && data->hasFormat(kUriList))
        AddEntries(Lines(data->data(kUriList)), list);
    if (list.paths.isEmpty() && list.rejected.isEmpty() && data->hasFormat("text/plain")) {
        // Nautilus's text form: its name, "copy" or "cut", then one address a line.
        QList<QByteArray> lines = Lines(data->data("text/plain"));
        if (lines.size() >= 2 && lines[0] == kNautilusText &&
            (lines[1] == "cut" || lines[1] == "copy")) {
            cut = lines[1] == "cut";
            AddEntries(lines.mid(2), list);
        }
    }
    if (data->hasFormat(kKdeCut) && data->data(kKdeCut).trimmed() == "1")
        cut = true;
    const QByteArray dropEffect = data->data(kWindowsEffect);
    if (dropEffect.size() >= 4 &&
        qFromLittleEndian<quint32>(dropEffect.constData()) == quint32(DROPEFFECT_MOVE))
        cut = true;
    list.effect = cut ? DROPEFFECT_MOVE : DROPEFFECT_COPY;
    return list;
}

bool MimeOffersFiles(const QMimeData* data) {
    return !FilesFromMime(data).paths.isEmpty();
}

void PutFiles(const QStringList& paths, int effect) {
    QGuiApplication::clipboard()->setMimeData(MakeFileData(paths, effect));
}

FileList ReadFiles() {
    return FilesFromMime(QGuiApplication::clipboard()->mimeData());
}

bool OffersFiles() {
    return MimeOffersFiles(QGuiApplication::clipboard()->mimeData());
}

int Transfer(const QStringList& paths, const QString& destination, int effect, QWidget* owner,
             const QStringList& rejected) {
    Shell::FileOp op;
    op.owner = owner;
    op.func = effect == DROPEFFECT_MOVE ? Shell::FO_MOVE : Shell::FO_COPY;
    op.from = paths;
    op.to = destination.isEmpty() ? FileNames::CurrentDir() : destination;
    op.flags = Shell::FOF_ALLOWUNDO | Shell::FOF_RENAMEONCOLLISION;
    op.rejected = rejected;
    return Shell::SHFileOperation(op);
}

int Paste(const QString& destination, QWidget* owner) {
    const FileList list = ReadFiles();
    if (list.paths.isEmpty())
        return 0;
    const int result = Transfer(list.paths, destination, list.effect, owner, list.rejected);
    // Cut files are pasted once: the list is taken off the clipboard after the move, as the file
    // managers do, so that a second paste does not look for them where they were. A move the
    // user stopped keeps it, for the rest; so does a clipboard another program has filled since.
    if (list.effect == DROPEFFECT_MOVE && result != Shell::kFileOpCancelled) {
        const FileList now = ReadFiles();
        if (now.effect == DROPEFFECT_MOVE && now.paths == list.paths)
            QGuiApplication::clipboard()->clear();
    }
    return result;
}

int Drop(const QMimeData* data, const QString& destination, QWidget* owner) {
    const FileList list = FilesFromMime(data);
    if (list.paths.isEmpty())
        return 0;
    return Transfer(list.paths, destination, DROPEFFECT_COPY, owner, list.rejected);
}

void PutText(const QString& text) {
    QGuiApplication::clipboard()->setText(text);
}

QString JoinLines(const QStringList& items) {
    QString out = items.join(QStringLiteral("\r\n"));
    if (items.size() > 1)
        out += QStringLiteral("\r\n");
    return out;
}

} // namespace Clipboard
