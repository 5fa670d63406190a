#include "qt/Icons.h"

#include "base/Media.h"

#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

// The pictures are compiled into the library; a static library needs them
// registered by name.
static void registerIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace tolvarin {

namespace Icons {

Kind kindFor(const std::string& interfaceType) {
    if (interfaceType.starts_with("Fire")) {
        return Kind::firewire;
    }
    if (interfaceType.starts_with("USB")) {
        return Kind::usb;
    }
    return Kind::hardDrive;
}

Kind kindFor(const Media& media) {
    return kindFor(media.interfaceType());
}

QString resourcePath(Kind kind) {
    switch (kind) {
    case Kind::usb:
        return QStringLiteral(":/icons/drive-usb.svg");
    case Kind::firewire:
        return QStringLiteral(":/icons/drive-firewire.svg");
    case Kind::application:
        return QStringLiteral(":/icons/tolvarin.svg");
    case Kind::hardDrive:
        break;
    }
    return QStringLiteral(":/icons/drive-hd.svg");
}

QPixmap pixmap(Kind kind, int size, qreal devicePixelRatio) {
    static bool registered = false;
    if (!registered) {
        registerIconResources();
        registered = true;
    }
    const int pixels = qRound(size * devicePixelRatio);
    const QString key = resourcePath(kind) + QString::number(pixels);
    static QHash<QString, QPixmap> cache;
    auto found = cache.constFind(key);
    if (found != cache.constEnd()) {
        return *found;
    }
    QPixmap out(pixels, pixels);
    out.fill(Qt::transparent);
    QSvgRenderer renderer(resourcePath(kind));
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    painter.end();
    out.setDevicePixelRatio(devicePixelRatio);
    cache.insert(key, out);
    return out;
}

QIcon icon(Kind kind) {
    QIcon result;
    for (int size : {16, 32, 48, 64, 128}) {
        result.addPixmap(pixmap(kind, size));
    }
    return result;
}

} // namespace Icons

} // namespace tolvarin
