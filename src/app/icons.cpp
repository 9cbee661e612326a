#include "app/icons.h"

#include <QFont>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "catalogue/catalogue.h"

namespace kestrane::app {

namespace {

struct IconStyle {
    const char* theme;  // freedesktop icon name, or nullptr
    const char* glyph;  // what the drawn icon shows
    unsigned rgb;
};

// Drawn icons are grouped by colour so that related keys look related.
const QHash<QString, IconStyle>& Styles() {
    static const QHash<QString, IconStyle> s = {
        {"Crest", {"computer", "K", 0x1f5f99}},
        {"CDDrive", {"drive-optical", "CD", 0x6d6d6d}},
        {"BlueChip", {nullptr, "IRQ", 0x2b6cb0}},
        {"Info2", {"dialog-information", "i", 0x2f855a}},
        {"Info1", {"dialog-information", "i", 0x38a169}},
        {"Slot", {nullptr, "SL", 0x805ad5}},
        {"Computer", {"computer", "PC", 0x1f5f99}},
        {"MotherBoard", {nullptr, "MB", 0x276749}},
        {"Startup", {"system-run", "SU", 0xb7791f}},
        {"PCMCIA", {"media-flash", "PC", 0x805ad5}},
        {"Driver", {nullptr, "DR", 0x4a5568}},
        {"Info", {nullptr, "\xE2\x80\xA2", 0x3182ce}},
        {"Registry", {nullptr, "RG", 0x9b2c2c}},
        {"NoInfo", {"dialog-warning", "!", 0xc05621}},
        {"Zone", {"preferences-system-time", "TZ", 0x2c7a7b}},
        {"Processor", {nullptr, "CPU", 0x2b6cb0}},
        {"FloppyDrive", {"media-floppy", "FD", 0x6d6d6d}},
        {"ParallelPort", {nullptr, "LPT", 0x805ad5}},
        {"Group", {"folder", "G", 0xb7791f}},
        {"OpenGroup", {"folder-open", "G", 0xd69e2e}},
        {"Fan", {nullptr, "FN", 0x2c7a7b}},
        {"Files", {nullptr, "PF", 0x4a5568}},
        {"EventLog", {"text-x-generic", "EV", 0x9c4221}},
        {"Input", {"input-keyboard", "IN", 0x553c9a}},
        {"Refrigeration", {nullptr, "RF", 0x2c7a7b}},
        {"Keyboard", {"input-keyboard", "KB", 0x553c9a}},
        {"PointingDevice", {"input-mouse", "PT", 0x553c9a}},
        {"Chip", {nullptr, "IC", 0x276749}},
        {"COM", {nullptr, "COM", 0x975a16}},
        {"DCOM", {nullptr, "DC", 0x975a16}},
        {"Printer", {"printer", "PR", 0x4a5568}},
        {"Windows", {nullptr, "OS", 0x1f5f99}},
        {"BlueTooth", {"bluetooth", "BT", 0x2b6cb0}},
        {"Service", {"system-run", "SV", 0x4a5568}},
        {"Mouse", {"input-mouse", "MS", 0x553c9a}},
        {"Modem", {"modem", "MD", 0x4a5568}},
        {"Partition", {nullptr, "PT", 0x6b46c1}},
        {"Partiton", {nullptr, "PT", 0x6b46c1}},
        {"HDD", {"drive-harddisk", "HD", 0x4a5568}},
        {"Battery", {"battery", "BA", 0x2f855a}},
        {"Desktop", {"user-desktop", "DT", 0x2b6cb0}},
        {"Telephone", {"phone", "TL", 0x4a5568}},
        {"DisplayAdapter", {"video-display", "VC", 0x2c5282}},
        {"Security", {"security-high", "SC", 0x9b2c2c}},
        {"Dependencies", {nullptr, "DP", 0x718096}},
        {"Device", {"computer", "DV", 0x4a5568}},
        {"Font", {"font-x-generic", "Aa", 0x4a5568}},
        {"Device1", {nullptr, "DV", 0x2d3748}},
        {"Infrared", {nullptr, "IR", 0x9b2c2c}},
        {"SCSI", {nullptr, "SCS", 0x4a5568}},
        {"USB", {"media-removable", "USB", 0x2b6cb0}},
        {"Adapter", {"network-wired", "NA", 0x2c7a7b}},
        {"Power", {"battery", "PW", 0xb7791f}},
        {"Memory", {nullptr, "RAM", 0x276749}},
        {"Sound", {"audio-card", "SD", 0x805ad5}},
        {"Port", {nullptr, "PO", 0x805ad5}},
        {"Scheduler", {"x-office-calendar", "SJ", 0x2c7a7b}},
        {"MSI", {"package-x-generic", "MSI", 0x975a16}},
        {"Setup", {"system-software-install", "AP", 0x975a16}},
        {"ODBC", {nullptr, "DB", 0x975a16}},
        {"MassStorage", {"drive-harddisk", "MS", 0x4a5568}},
        {"File", {"text-x-generic", "F", 0x718096}},
        {"NetworkConnection", {"network-wired", "NC", 0x2c7a7b}},
        {"Codec", {"audio-x-generic", "CO", 0x805ad5}},
        {"Share", {"folder-remote", "SH", 0xb7791f}},
        {"Network", {"network-workgroup", "NW", 0x2c7a7b}},
        {"StartMenu", {nullptr, "SM", 0x2b6cb0}},
        {"Users", {"system-users", "US", 0x2f855a}},
        {"PNP", {nullptr, "PnP", 0x4a5568}},
        {"Settings", {"preferences-system", "ST", 0x718096}},
        {"Process", {"system-run", "PS", 0x2b6cb0}},
        {"Display", {"video-display", "DS", 0x2c5282}},
        {"Connect", {"network-server", "\xE2\x86\x92", 0x2f855a}},
        {"Refresh1", {"view-refresh", "\xE2\x86\xBB", 0x2b6cb0}},
        {"Exit", {"application-exit", "\xC3\x97", 0x9b2c2c}},
        {"About", {"help-about", "?", 0x2b6cb0}},
        {"Exit1", {"application-exit", "\xC3\x97", 0xc53030}},
        {"Refresh", {"view-refresh", "\xE2\x86\xBB", 0x2b6cb0}},
        {"Password", {"dialog-password", "PW", 0x9b2c2c}},
    };
    return s;
}

QPixmap Draw(const IconStyle& st, int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QColor c = QColor::fromRgb(st.rgb);
    QPainterPath path;
    qreal m = size * 0.06;
    path.addRoundedRect(QRectF(m, m, size - 2 * m, size - 2 * m), size * 0.2, size * 0.2);
    p.fillPath(path, c);
    p.setPen(c.darker(140));
    p.drawPath(path);
    QString glyph = QString::fromUtf8(st.glyph);
    QFont f;
    f.setBold(true);
    const double scale = glyph.size() >= 3 ? 0.36 : glyph.size() == 2 ? 0.46 : 0.62;
    f.setPixelSize(static_cast<int>(size * scale));
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, size, size), Qt::AlignCenter, glyph);
    return pm;
}

}  // namespace

bool IsKnownImageKey(const QString& key) { return Styles().contains(key); }

QIcon IconForKey(const QString& key) {
    static QHash<QString, QIcon> cache;
    auto it = cache.find(key);
    if (it != cache.end()) return *it;
    auto st = Styles().find(key);
    QIcon icon;
    if (st != Styles().end()) {
        if (st->theme) icon = QIcon::fromTheme(QString::fromLatin1(st->theme));
        if (icon.isNull()) {
            for (int size : {16, 24, 32, 48}) icon.addPixmap(Draw(*st, size));
        }
    }
    cache.insert(key, icon);
    return icon;
}

}  // namespace kestrane::app
