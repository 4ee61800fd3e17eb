#pragma once
// The system's 8-bit ("ANSI") code page, fixed to Windows-1252.
//
// The five bytes that Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the
// C1 controls of the same value and back, so that bytes -> text -> bytes is lossless for all
// 256 byte values. Characters without a byte become '?'.

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <string_view>

namespace calvoro {

QString AnsiToUnicode(std::string_view bytes);
inline QString AnsiToUnicode(const QByteArray& bytes) {
    return AnsiToUnicode(std::string_view(bytes.constData(), size_t(bytes.size())));
}
QByteArray UnicodeToAnsi(QStringView text);

// The byte for one UTF-16 code unit, or -1 when the code page has none.
int AnsiByteOf(char16_t ch);
// The character for one byte.
char16_t AnsiCharOf(unsigned char byte);

}  // namespace calvoro
