#include "SimEdidData.h"

#include <QList>
#include <QString>

#include <array>

namespace {

// A detailed timing: pixel clock in 10 kHz units, then active, front porch, sync and back
// porch per direction (per field when interlaced).
struct DetailedTiming
{
    int clock10kHz;
    int hActive, hFront, hSync, hBack;
    int vActive, vFront, vSync, vBack;
    bool interlaced = false;
    int widthMm = 600, heightMm = 340;
};

// CTA-861 and CVT reduced-blanking timings.
constexpr DetailedTiming T1080i60{7425, 1920, 88, 44, 148, 540, 2, 5, 15, true};
constexpr DetailedTiming T1080p60{14850, 1920, 88, 44, 148, 1080, 4, 5, 36};
constexpr DetailedTiming T2160p30{29700, 3840, 176, 88, 296, 2160, 8, 10, 72, false, 1210, 680};
constexpr DetailedTiming T2160p60{59400, 3840, 176, 88, 296, 2160, 8, 10, 72, false, 1210, 680};
constexpr DetailedTiming T1440p60{24150, 2560, 48, 32, 80, 1440, 3, 5, 33, false, 700, 390};
constexpr DetailedTiming T1200p60{15400, 1920, 48, 32, 80, 1200, 3, 6, 26, false, 520, 320};
constexpr DetailedTiming T720p60{7425, 1280, 110, 40, 220, 720, 5, 5, 20, false, 410, 230};
constexpr DetailedTiming T768p60{6500, 1024, 24, 136, 160, 768, 3, 6, 29, false, 300, 230};

enum class Audio { None, Stereo, Surround51, Surround71 };

struct Profile
{
    quint16 product;
    const char *name; // at most 13 characters
    DetailedTiming timing;
    QList<quint8> vics; // CTA video codes, the first one native; empty for DVI
    Audio audio;
    bool hdmi3d = false;
    bool hdmi20 = false;
};

void put18(QByteArray &edid, int at, const DetailedTiming &t)
{
    const int hBlank = t.hFront + t.hSync + t.hBack;
    const int vBlank = t.vFront + t.vSync + t.vBack;
    auto b = [&](int i, int v) { edid[at + i] = static_cast<char>(v & 0xFF); };
    b(0, t.clock10kHz);
    b(1, t.clock10kHz >> 8);
    b(2, t.hActive);
    b(3, hBlank);
    b(4, ((t.hActive >> 8) << 4) | (hBlank >> 8));
    b(5, t.vActive);
    b(6, vBlank);
    b(7, ((t.vActive >> 8) << 4) | (vBlank >> 8));
    b(8, t.hFront);
    b(9, t.hSync);
    b(10, ((t.vFront & 0xF) << 4) | (t.vSync & 0xF));
    b(11, ((t.hFront >> 8) << 6) | ((t.hSync >> 8) << 4) | ((t.vFront >> 4) << 2) | (t.vSync >> 4));
    b(12, t.widthMm);
    b(13, t.heightMm);
    b(14, ((t.widthMm >> 8) << 4) | (t.heightMm >> 8));
    b(15, 0);
    b(16, 0);
    b(17, (t.interlaced ? 0x80 : 0) | 0x1E); // digital separate sync, both polarities +
}

void putText(QByteArray &edid, int at, quint8 tag, const char *text)
{
    const QByteArray head("\0\0\0", 3);
    edid.replace(at, 3, head);
    edid[at + 3] = static_cast<char>(tag);
    edid[at + 4] = 0;
    QByteArray body = QByteArray(text).left(13);
    if (body.size() < 13)
        body += '\n';
    body = body.leftJustified(13, ' ');
    edid.replace(at + 5, 13, body);
}

void sealBlock(QByteArray &edid, int block)
{
    int sum = 0;
    for (int i = block * 128; i < block * 128 + 127; ++i)
        sum += static_cast<quint8>(edid[i]);
    edid[block * 128 + 127] = static_cast<char>((256 - sum % 256) % 256);
}

QByteArray baseBlock(const Profile &p, quint32 serial)
{
    QByteArray e(128, '\0');
    const QByteArray header("\x00\xFF\xFF\xFF\xFF\xFF\xFF\x00", 8);
    e.replace(0, 8, header);
    const int id = (('S' - '@') << 10) | (('I' - '@') << 5) | ('M' - '@');
    e[8] = static_cast<char>(id >> 8);
    e[9] = static_cast<char>(id & 0xFF);
    e[10] = static_cast<char>(p.product & 0xFF);
    e[11] = static_cast<char>(p.product >> 8);
    for (int i = 0; i < 4; ++i)
        e[12 + i] = static_cast<char>((serial >> (8 * i)) & 0xFF);
    e[16] = 1; // week 1 of 2024
    e[17] = static_cast<char>(2024 - 1990);
    e[18] = 1;
    e[19] = 3;
    e[20] = static_cast<char>(0x80); // digital input
    e[21] = static_cast<char>((p.timing.widthMm + 5) / 10);
    e[22] = static_cast<char>((p.timing.heightMm + 5) / 10);
    e[23] = 120; // gamma 2.2
    e[24] = 0x0E; // RGB colour, sRGB, preferred timing in the first descriptor
    const QByteArray chroma("\xEE\x91\xA3\x54\x4C\x99\x26\x0F\x50\x54", 10); // sRGB
    e.replace(25, 10, chroma);
    e[35] = 0x21; // 640x480@60, 800x600@60
    e[36] = 0x08; // 1024x768@60
    e[38] = static_cast<char>(1920 / 8 - 31); // 1920x1080@60 (16:9)
    e[39] = static_cast<char>(0xC0);
    for (int i = 40; i < 54; ++i)
        e[i] = 1;
    put18(e, 54, p.timing);
    // Range limits: 23-76 Hz, 15-160 kHz, 600 MHz, default GTF.
    const QByteArray range("\0\0\0\xFD\0\x17\x4C\x0F\xA0\x3C\0\x0A     \x20", 18);
    e.replace(72, 18, range);
    putText(e, 90, 0xFC, p.name);
    e[108 + 3] = 0x10; // dummy descriptor
    e[126] = 1;
    sealBlock(e, 0);
    return e;
}

QByteArray ctaBlock(const Profile &p)
{
    QByteArray blocks;
    auto dataBlock = [&blocks](int tag, const QByteArray &payload) {
        blocks += static_cast<char>((tag << 5) | payload.size());
        blocks += payload;
    };
    if (!p.vics.isEmpty()) {
        QByteArray vics;
        for (qsizetype i = 0; i < p.vics.size(); ++i)
            vics += static_cast<char>(p.vics[i] | (i == 0 && p.vics[i] <= 64 ? 0x80 : 0));
        dataBlock(2, vics);
    }
    // Short audio descriptors: format and channels, sample rates, sizes or bit rate.
    const QByteArray lpcm2("\x09\x07\x07", 3);
    const QByteArray ac3("\x15\x07\x50", 3);
    const QByteArray dts("\x3D\x07\xC0", 3);
    const QByteArray lpcm8("\x0F\x7F\x07", 3);
    const QByteArray trueHd("\x67\x7E\x00", 3);
    switch (p.audio) {
    case Audio::None:
        break;
    case Audio::Stereo:
        dataBlock(1, lpcm2);
        dataBlock(4, QByteArray("\x01\0\0", 3));
        break;
    case Audio::Surround51:
        dataBlock(1, lpcm2 + ac3 + dts);
        dataBlock(4, QByteArray("\x0F\0\0", 3));
        break;
    case Audio::Surround71:
        dataBlock(1, lpcm2 + ac3 + dts + lpcm8 + trueHd);
        dataBlock(4, QByteArray("\x4F\0\0", 3));
        break;
    }
    // Video capabilities: RGB and YCbCr ranges selectable, IT and CE formats underscanned.
    dataBlock(7, QByteArray("\x00\xCA", 2));
    if (p.audio != Audio::None) {
        // HDMI vendor block: IEEE OUI 00-0C-03, physical address 1.0.0.0, max TMDS clock.
        QByteArray vsdb("\x03\x0C\x00\x10\x00\x00", 6);
        vsdb += static_cast<char>(p.hdmi20 ? 340 / 5 : 300 / 5);
        if (p.hdmi3d)
            vsdb += QByteArray("\x20\x80\x00", 3); // HDMI video present, 3D present
        dataBlock(3, vsdb);
    }
    if (p.hdmi20) // HDMI Forum block: OUI C4-5D-D8, 600 MHz, SCDC present
        dataBlock(3, QByteArray("\xD8\x5D\xC4\x01\x78\x80\x00", 7));

    QByteArray e(128, '\0');
    e[0] = 0x02;
    e[1] = 0x03;
    e[2] = static_cast<char>(4 + blocks.size());
    e[3] = static_cast<char>(p.audio == Audio::None ? 0x80 : 0xF0);
    e.replace(4, blocks.size(), blocks);
    sealBlock(e, 0);
    return e;
}

QByteArray build(const Profile &p, quint32 serial)
{
    return baseBlock(p, serial) + ctaBlock(p);
}

const std::array<Profile, 16> &modeProfiles()
{
    // Index 0-14: modes 0xF001-0xF00F; index 15: the default EDID.
    static const std::array<Profile, 16> profiles{{
        {0x0001, "SIM 1080i 2.0", T1080i60, {5, 4, 3}, Audio::Stereo},
        {0x0002, "SIM 1080i 5.1", T1080i60, {5, 4, 3}, Audio::Surround51},
        {0x0003, "SIM 1080i 7.1", T1080i60, {5, 4, 3}, Audio::Surround71},
        {0x0004, "SIM 1080p 2.0", T1080p60, {16, 5, 4, 3}, Audio::Stereo},
        {0x0005, "SIM 1080p 5.1", T1080p60, {16, 5, 4, 3}, Audio::Surround51},
        {0x0006, "SIM 1080p 7.1", T1080p60, {16, 5, 4, 3}, Audio::Surround71},
        {0x0007, "SIM 3D 2.0", T1080p60, {16, 5, 4, 3}, Audio::Stereo, true},
        {0x0008, "SIM 3D 5.1", T1080p60, {16, 5, 4, 3}, Audio::Surround51, true},
        {0x0009, "SIM 3D 7.1", T1080p60, {16, 5, 4, 3}, Audio::Surround71, true},
        {0x000A, "SIM 4K2K 2.0", T2160p30, {95, 16, 4}, Audio::Stereo},
        {0x000B, "SIM 4K2K 5.1", T2160p30, {95, 16, 4}, Audio::Surround51},
        {0x000C, "SIM 4K2K 7.1", T2160p30, {95, 16, 4}, Audio::Surround71},
        {0x000D, "SIM 1024 DVI", T768p60, {}, Audio::None},
        {0x000E, "SIM 1080 DVI", T1080p60, {}, Audio::None},
        {0x000F, "SIM 1200 DVI", T1200p60, {}, Audio::None},
        {0x0012, "SIM Default", T1080p60, {16, 5, 4, 3}, Audio::Stereo},
    }};
    return profiles;
}

} // namespace

namespace SimEdidData {

QByteArray modeEdid(quint16 modeWord)
{
    if (modeWord >= 0xF001 && modeWord <= 0xF00F)
        return build(modeProfiles()[modeWord - 0xF001], modeWord);
    if (modeWord == 0xF012)
        return defaultEdid();
    return {};
}

QByteArray defaultEdid()
{
    return build(modeProfiles()[15], 0xF012);
}

QByteArray userEdid(int memory)
{
    Profile p = modeProfiles()[15];
    p.product = static_cast<quint16>(0x0100 * memory);
    p.name = memory == 1 ? "SIM User1" : "SIM User2";
    return build(p, static_cast<quint32>(memory));
}

QByteArray displayEdid(int output)
{
    static const std::array<Profile, 6> displays{{
        {0x0101, "SIM Display 1", T1080p60, {16, 4, 3}, Audio::Stereo},
        {0x0102, "SIM Display 2", T2160p60, {97, 95, 16, 4}, Audio::Surround51, false, true},
        {0x0103, "SIM Display 3", T1440p60, {16, 4}, Audio::Stereo},
        {0x0104, "SIM Display 4", T1200p60, {}, Audio::None},
        {0x0105, "SIM Display 5", T720p60, {4, 3, 2}, Audio::Stereo},
        {0x0106, "SIM Display 6", T2160p30, {95, 16, 4}, Audio::Surround71},
    }};
    if (output < 1 || output > 6)
        return {};
    return build(displays[static_cast<std::size_t>(output - 1)], 0x1000u + quint32(output));
}

} // namespace SimEdidData
