// File names as the program holds them. A name on this platform is a string of bytes, usually
// UTF-8, but names written by old archivers, CDs, FAT media or shares mounted without conversion
// hold code page 932 (Shift-JIS) bytes that are not valid UTF-8. Such a name must survive the trip
// through QString unchanged, or the file can be neither loaded nor moved.
//
// FromNative decodes valid UTF-8 as it is and turns every byte of an invalid sequence into one of
// the code points U+DC80..U+DCFF (lone low surrogates, which no valid UTF-8 text produces), so that
// ToNative gives back exactly the bytes it started from. Every call into the file system with a
// path that came from a listing goes through ToNative; Display turns a name into the text shown.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace FileNames {

// Bytes from the file system → the program's form; exact round trip with ToNative.
QString FromNative(const QByteArray& bytes);
QString FromNative(const char* bytes);
// The program's form → the bytes to give the file system.
QByteArray ToNative(const QString& path);
// True when the name holds bytes that were not valid UTF-8.
bool HasRawBytes(const QString& name);
// The text to show: the name itself when it was UTF-8, else its bytes decoded from code page 932
// (bytes that are not code page 932 either are shown as U+FFFD).
QString Display(const QString& name);

// The path a text shows, as the file system spells it: each part of the path that names no entry
// as it stands is matched against the entries of the folder above it by their shown form
// (Display), or by the form Qt's own dialogs give a name that is not UTF-8 (invalid bytes as
// U+FFFD); a part that matches no single entry stays as given (a folder yet to be made).
QString FromShown(const QString& path);

// Why a name typed for a file or folder cannot name one entry of a folder ("" when it can): empty,
// "." or "..", or holding "/" or a NUL character.
QString NameProblem(const QString& name);

// The process's current directory, and changing it (a folder whose name holds raw bytes is
// entered by those bytes). SetCurrentDir returns false when the folder cannot be entered.
QString CurrentDir();
bool SetCurrentDir(const QString& path);

// The path's file:// address with every byte kept (percent-encoded), for the clipboard and the
// desktop's handlers.
QByteArray ToFileUrl(const QString& path);

// Code page 932 (Shift-JIS as Windows extends it).
namespace Cp932 {
// The text's code page 932 bytes; nothing when a character has no code there.
std::optional<QByteArray> Encode(const QString& text);
// Bytes decoded from code page 932 (invalid bytes become U+FFFD).
QString Decode(const QByteArray& bytes);
} // namespace Cp932

// Encodes many names with one converter (a folder's listing).
class CCp932Encoder {
public:
    CCp932Encoder();
    ~CCp932Encoder();
    CCp932Encoder(const CCp932Encoder&) = delete;
    CCp932Encoder& operator=(const CCp932Encoder&) = delete;
    std::optional<QByteArray> Encode(const QString& text);

private:
    void* m_cd; // iconv_t
};

} // namespace FileNames
