#include "qt/icons.h"

#include <algorithm>

#include <QFont>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "window/icons.h"

namespace kestrane::qt {

namespace {

QPixmap Draw(const window::IconPicture& st, int size) {
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

bool IsKnownImageKey(const QString& key) { return window::FindIcon(key.toStdString()) != nullptr; }

QIcon IconForKey(const QString& key) {
    static QHash<QString, QIcon> cache;
    auto it = cache.find(key);
    if (it != cache.end()) return *it;
    const window::IconPicture* st = window::FindIcon(key.toStdString());
    QIcon icon;
    if (st) {
        if (st->theme) icon = QIcon::fromTheme(QString::fromLatin1(st->theme));
        // A theme that has the picture only in poster sizes (Adwaita's
        // devices at 512 pixels) costs a large decode at every start for a
        // 20-pixel button, and scales poorly: draw it instead.
        const QList<QSize> sizes = icon.availableSizes();
        if (!sizes.isEmpty() && std::all_of(sizes.begin(), sizes.end(), [](QSize s) { return s.width() > 64; }))
            icon = QIcon();
        if (icon.isNull()) {
            for (int size : {16, 24, 32, 48}) icon.addPixmap(Draw(*st, size));
        }
    }
    cache.insert(key, icon);
    return icon;
}

}  // namespace kestrane::qt
