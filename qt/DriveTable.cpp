#include "qt/DriveTable.h"

#include "app/GUIController.h"
#include "app/UnitSelection.h"
#include "qt/Icons.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>

namespace tolvarin {

namespace {
constexpr int kIconSize = 32;
constexpr int kDiskIconX = 4;
constexpr int kVolumeIconX = 19;
constexpr int kDiskTitleX = 50;
constexpr int kVolumeTitleX = 65;
} // namespace

void DriveRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    painter->save();
    const QRect cell = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    const bool active = option.state & QStyle::State_Active;
    if (selected) {
        QLinearGradient fill(cell.topLeft(), cell.bottomLeft());
        if (active) {
            fill.setColorAt(0, QColor(0x5f, 0x95, 0xe0));
            fill.setColorAt(1, QColor(0x1f, 0x5c, 0xbf));
        } else {
            fill.setColorAt(0, QColor(0xb4, 0xba, 0xc4));
            fill.setColorAt(1, QColor(0x8c, 0x93, 0x9f));
        }
        painter->fillRect(cell, fill);
    } else {
        painter->fillRect(cell, Qt::white);
    }

    const bool volume = index.data(DriveTable::kVolumeRole).toBool();
    const auto kind = static_cast<Icons::Kind>(index.data(DriveTable::kIconRole).toInt());
    const int iconX = cell.left() + (volume ? kVolumeIconX : kDiskIconX);
    const int top = cell.top() + (cell.height() - kIconSize) / 2;
    painter->drawPixmap(iconX, top,
                        Icons::pixmap(kind, kIconSize, painter->device()->devicePixelRatioF()));

    QFont font = option.font;
    font.setPixelSize(13);
    font.setBold(selected);
    painter->setFont(font);
    painter->setPen(selected ? QColor(Qt::white) : QColor(Qt::black));
    const int textX = cell.left() + (volume ? kVolumeTitleX : kDiskTitleX);
    QRect textRect(textX, cell.top(), cell.right() - textX - 4, cell.height());
    const QString title = painter->fontMetrics().elidedText(index.data(Qt::DisplayRole).toString(),
                                                            Qt::ElideRight, textRect.width());
    painter->drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, title);
    painter->restore();
}

QSize DriveRowDelegate::sizeHint(const QStyleOptionViewItem& /*option*/,
                                 const QModelIndex& /*index*/) const {
    return {kRowWidth, kRowHeight};
}

DriveTable::DriveTable(QWidget* parent) : QListWidget(parent) {
    setObjectName(QStringLiteral("diskListView"));
    setItemDelegate(new DriveRowDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSpacing(0);
    setUniformItemSizes(true);
    setMinimumWidth(DriveRowDelegate::kRowWidth + 24);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void DriveTable::setMedia(const std::vector<Media>& media) {
    media_ = media;
    clear();
    int row = 0;
    for (const Media& m : media_) {
        auto* item = new QListWidgetItem(QString::fromStdString(UnitSelection::rowTitleFor(m)));
        item->setData(kRecordRole, row++);
        item->setData(kVolumeRole, !m.isPrimaryDisk());
        item->setData(kIconRole, static_cast<int>(Icons::kindFor(m)));
        item->setToolTip(
            QString::fromStdString(m.isPrimaryDisk() ? m.primaryDiskID() : m.volumeDiskID()));
        addItem(item);
    }
    setCurrentRow(-1);
    clearSelection();
}

const Media* DriveTable::recordAt(int row) const {
    if (row < 0 || row >= static_cast<int>(media_.size())) {
        return nullptr;
    }
    return &media_[static_cast<size_t>(row)];
}

int DriveTable::rowOf(const std::string& identifier) const {
    for (size_t i = 0; i < media_.size(); ++i) {
        const Media& m = media_[i];
        if ((m.isPrimaryDisk() ? m.primaryDiskID() : m.volumeDiskID()) == identifier) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace tolvarin
