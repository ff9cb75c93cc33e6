#include "platform/FileNames.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileNames {

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // byte b (0x80..0xFF) ↔ U+DC00 + b

// Length of the valid UTF-8 sequence starting at p (at most n bytes), 0 when it is not one.
// Overlong forms, surrogates and code points above U+10FFFF are invalid.
int ValidSequence(const uchar* p, qsizetype n) {
    const uchar c = p[0];
    if (c < 0x80)
        return 1;
    int len;
    char32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (n < len)
        return 0;
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = cp << 6 | (p[i] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

bool IsEscape(char16_t c) {
    return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF;
}

std::optional<QByteArray> Convert(iconv_t cd, const QString& text) {
    if (cd == iconv_t(-1))
        return std::nullopt;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    QByteArray in = text.toUtf8();
    QByteArray out(in.size() + 8, Qt::Uninitialized);
    char* src = in.data();
    size_t srcLeft = size_t(in.size());
    char* dst = out.data();
    size_t dstLeft = size_t(out.size());
    // Code page 932 never needs more bytes than UTF-8 for the same text.
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == size_t(-1))
        return std::nullopt;
    out.truncate(out.size() - qsizetype(dstLeft));
    return out;
}

} // namespace

QString FromNative(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const int len = ValidSequence(p + i, n - i);
        if (len == 0)
            break;
        i += len;
    }
    if (i == n)
        return QString::fromUtf8(bytes);
    // Valid runs decode as UTF-8; each byte of an invalid sequence keeps its value as an escape.
    QString out = QString::fromUtf8(bytes.constData(), i);
    while (i < n) {
        const int len = ValidSequence(p + i, n - i);
        if (len == 0) {
            out += QChar(char16_t(kEscapeBase + p[i]));
            ++i;
        } else {
            out += QString::fromUtf8(bytes.constData() + i, len);
            i += len;
        }
    }
    return out;
}

QString FromNative(const char* bytes) {
    // Read in place: a listing's names are not copied on their way.
    return FromNative(QByteArray::fromRawData(bytes, qsizetype(std::strlen(bytes))));
}

QByteArray ToNative(const QString& path) {
    if (!HasRawBytes(path))
        return path.toUtf8();
    QByteArray out;
    out.reserve(path.size() * 3);
    qsizetype start = 0;
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t c = path[i].unicode();
        if (!IsEscape(c))
            continue;
        out += QStringView(path).mid(start, i - start).toUtf8();
        out += char(c - kEscapeBase);
        start = i + 1;
    }
    out += QStringView(path).mid(start).toUtf8();
    return out;
}

bool HasRawBytes(const QString& name) {
    for (QChar c : name)
        if (IsEscape(c.unicode()))
            return true;
    return false;
}

QString Display(const QString& name) {
    if (!HasRawBytes(name))
        return name;
    return Cp932::Decode(ToNative(name));
}

QString FromShown(const QString& path) {
    QStringList parts = path.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString part = parts[i];
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            continue;
        const QString parent = parts.mid(0, i).join(QLatin1Char('/'));
        const QString here = i == 0 ? part : parent + QLatin1Char('/') + part;
        struct stat st {};
        if (::lstat(ToNative(here).constData(), &st) == 0)
            continue;
        const QByteArray folder =
            parent.isEmpty() ? QByteArray(i == 0 ? "." : "/") : ToNative(parent);
        DIR* dir = ::opendir(folder.constData());
        if (!dir)
            break; // nothing below can be found either
        QString match;
        int matches = 0;
        while (const dirent* e = ::readdir(dir)) {
            const QString name = FromNative(e->d_name);
            if (HasRawBytes(name) &&
                (Display(name) == part || QFile::decodeName(e->d_name) == part)) {
                match = name;
                ++matches;
            }
        }
        ::closedir(dir);
        if (matches == 1)
            parts[i] = match;
    }
    return parts.join(QLatin1Char('/'));
}

QString NameProblem(const QString& name) {
    if (name.isEmpty())
        return QStringLiteral("名前を入力してください");
    if (name.contains(QLatin1Char('/')))
        return QStringLiteral("名前に「/」は使えません");
    if (name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QChar(u'\0')))
        return QStringLiteral("この名前は使えません");
    return QString();
}

QString CurrentDir() {
    char buf[8192];
    if (::getcwd(buf, sizeof buf))
        return FromNative(buf);
    return QDir::currentPath();
}

bool SetCurrentDir(const QString& path) {
    if (!HasRawBytes(path))
        return QDir::setCurrent(path);
    return ::chdir(ToNative(path).constData()) == 0;
}

QByteArray ToFileUrl(const QString& path) {
    // Escaped as GLib escapes file names, so that the address is the one other programs compute
    // for the same file (the shared thumbnail cache names entries after it).
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray bytes = ToNative(path);
    QByteArray out("file://");
    out.reserve(out.size() + bytes.size() * 3);
    for (const char ch : bytes) {
        const uchar c = uchar(ch);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || (c && std::strchr("!$&'()*+,-./:=@_~", c));
        if (plain) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

namespace Cp932 {

std::optional<QByteArray> Encode(const QString& text) {
    CCp932Encoder enc;
    return enc.Encode(text);
}

QString Decode(const QByteArray& bytes) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == iconv_t(-1))
        return QString::fromLatin1(bytes);
    QString out;
    QByteArray buf(bytes.size() * 3 + 8, Qt::Uninitialized);
    char* src = const_cast<char*>(bytes.constData());
    size_t srcLeft = size_t(bytes.size());
    while (srcLeft > 0) {
        char* dst = buf.data();
        size_t dstLeft = size_t(buf.size());
        const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out += QString::fromUtf8(buf.constData(), buf.size() - qsizetype(dstLeft));
        if (r == size_t(-1) && (errno == EILSEQ || errno == EINVAL)) {
            // A byte that starts no character of the code page: shown as a replacement.
            out += QChar(QChar::ReplacementCharacter);
            ++src;
            --srcLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

} // namespace Cp932

CCp932Encoder::CCp932Encoder() : m_cd(iconv_open("CP932", "UTF-8")) {}

CCp932Encoder::~CCp932Encoder() {
    if (iconv_t(m_cd) != iconv_t(-1))
        iconv_close(iconv_t(m_cd));
}

std::optional<QByteArray> CCp932Encoder::Encode(const QString& text) {
    // Plain ASCII is the same in code page 932: most names never need the converter.
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii)
        return text.toLatin1();
    return Convert(iconv_t(m_cd), text);
}

} // namespace FileNames
