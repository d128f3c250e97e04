// libFuzzer target: the settings-file parser takes any bytes, and what it writes reads back the same.
#include "settings/RegFileFormat.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QSettings::SettingsMap first;
    RegFile::Parse(QByteArrayView(data, qsizetype(size)), first);
    for (const QVariant &value : std::as_const(first)) {
        (void)RegFile::IntValue(value);
        (void)RegFile::StringValue(value);
    }

    // Writing keeps every value and every unparsed line: the written file parses to the same
    // map, and writing that again gives the same bytes.
    const QByteArray written = RegFile::Serialize(first);
    QSettings::SettingsMap second;
    RegFile::Parse(written, second);
    if (second != first)
        std::abort();
    if (RegFile::Serialize(second) != written)
        std::abort();
    return 0;
}
