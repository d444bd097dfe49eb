// Feeds arbitrary bytes to the EDID content checks, the summary decoder and the hex view's
// model, and arbitrary cell texts to the view's conversion back to bytes.
#include "FuzzSupport.h"

#include "EdidContent.h"
#include "EdidGridModel.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

namespace {

// The three checks, judged here from their definition.
bool accepted(const QByteArray &bytes)
{
    if (bytes.size() != 256 && bytes.size() != 257)
        return false;
    unsigned sum = 0;
    for (int i = 0; i < 256; ++i)
        sum += static_cast<quint8>(bytes[i]);
    return sum % 256 == 0 && bytes.startsWith(QByteArray::fromHex("00ffffffffffff00"));
}

void content(const QByteArray &bytes)
{
    const bool ok = accepted(bytes);
    fuzzCheck((checkEdidContent(bytes) == EdidCheck::Ok) == ok);

    // The summary is one line of printable ASCII, whatever the bytes say.
    const QString line = edidSummaryLine(decodeEdidSummary(bytes));
    fuzzCheck(!line.isEmpty());
    for (const QChar c : line)
        fuzzCheck(c.unicode() >= 0x20 && c.unicode() < 0x7F);

    EdidGridModel grid;
    fuzzCheck(grid.ShowEDIDContent(bytes) == ok);
    QByteArray back;
    fuzzCheck(grid.EDIDContentToBuffer(back) == ok);
    fuzzCheck(back == (ok ? bytes.left(256) : QByteArray()));
}

// Cells of up to three characters, many of them empty: the conversion yields 256 bytes
// exactly when every cell holds two hex digits.
void cells(FuzzedDataProvider &in)
{
    EdidGridModel grid;
    bool allBytes = true;
    QByteArray expected;
    for (int k = 0; k < EdidGridModel::DataCells; ++k) {
        const QString text = QString::fromLatin1(QByteArray::fromStdString(
            in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 3))));
        grid.setCell(EdidGridModel::columnOf(k), EdidGridModel::rowOf(k), text);
        if (text.isEmpty()) {
            allBytes = false;
            continue;
        }
        bool hex = text.size() == 2;
        for (const QChar c : text)
            hex = hex && QByteArray("0123456789abcdefABCDEF").contains(char(c.unicode()));
        if (!hex) {
            allBytes = false;
            continue;
        }
        expected += static_cast<char>(text.toUInt(nullptr, 16));
    }
    QByteArray back;
    fuzzCheck(grid.EDIDContentToBuffer(back) == allBytes);
    fuzzCheck(back == (allBytes ? expected : QByteArray()));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzSetUpApplication("fuzz_edid_content");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool()) {
        cells(in);
    } else {
        const std::string rest = in.ConsumeRemainingBytesAsString();
        content(QByteArray(rest.data(), static_cast<qsizetype>(rest.size())));
    }
    return 0;
}
