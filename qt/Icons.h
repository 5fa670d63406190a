#pragma once

#include <QIcon>
#include <QPixmap>
#include <string>

namespace tolvarin {

class Media;

// The program's own pictures, drawn from their SVG sources at the size asked.
namespace Icons {

enum class Kind { hardDrive, usb, firewire, application };

// The drive table's picture of a record: FireWire when its interface type
// begins with "Fire", USB when it begins with "USB", a hard drive otherwise.
Kind kindFor(const std::string& interfaceType);
Kind kindFor(const Media& media);
// The resource path of a picture.
QString resourcePath(Kind kind);
QPixmap pixmap(Kind kind, int size, qreal devicePixelRatio = 1.0);
QIcon icon(Kind kind);

} // namespace Icons

} // namespace tolvarin
