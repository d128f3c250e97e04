// File names for the user: their bytes shown with the invalid ones escaped.
#include "platform/FileNames.h"

#include <algorithm>

namespace platform {
namespace {

// The length of the UTF-8 sequence that a lead byte starts, 0 for a byte that starts none.
int SequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 0;
}

} // namespace

QString EscapedFileName(const QByteArray &bytes)
{
    QString shown;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const int length = SequenceLength(static_cast<unsigned char>(bytes[i]));
        const QByteArrayView sequence(bytes.constData() + i, std::min<qsizetype>(length, bytes.size() - i));
        if (length > 0 && sequence.size() == length && sequence.isValidUtf8()) {
            shown += QString::fromUtf8(sequence);
            i += length;
        } else {
            const unsigned byte = static_cast<unsigned char>(bytes[i]);
            shown += QStringLiteral("\\x") + QString::number(byte, 16).toUpper().rightJustified(2, u'0');
            ++i;
        }
    }
    return shown;
}

} // namespace platform
