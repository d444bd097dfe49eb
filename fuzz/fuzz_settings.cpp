// Reads fuzz-chosen bytes as Settings.ini the way the window does (SimpleIni and our value
// rules), saves the settings into them, and checks that the saved file reads completely as the
// same settings and that saving it again changes nothing: the file never drifts from save to
// save, whatever an operator's editor or a broken disk left in it.
#include "FuzzSupport.h"

#include "SettingsFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const SettingsRead first = SettingsFile::fromBytes(bytes);

    QByteArray saved;
    const bool savedOk = SettingsFile::toBytes(bytes, first.settings, &saved);
    // Only what was read completely is ever rewritten.
    fuzzCheck(savedOk == (first.status == SettingsRead::Ok));
    if (!savedOk)
        return 0;

    const SettingsRead second = SettingsFile::fromBytes(saved);
    fuzzCheck(second.status == SettingsRead::Ok);
    fuzzCheck(second.settings == first.settings);

    QByteArray again;
    fuzzCheck(SettingsFile::toBytes(saved, second.settings, &again));
    fuzzCheck(again == saved);
    return 0;
}
