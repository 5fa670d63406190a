#pragma once

#include "base/Media.h"

#include <QListWidget>
#include <QStyledItemDelegate>
#include <vector>

namespace tolvarin {

// Draws one row of the drive table: the record's picture and title, whole
// disks at the left edge and their volumes indented under them; the selected
// row in bold white on blue (grey while the window is inactive).
class DriveRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static constexpr int kRowWidth = 250;
    static constexpr int kRowHeight = 40;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The drive table: one row per media record, in the order discovery gave.
class DriveTable : public QListWidget {
    Q_OBJECT
  public:
    // Where a row keeps what the delegate draws.
    enum Role { kRecordRole = Qt::UserRole, kVolumeRole, kIconRole };

    explicit DriveTable(QWidget* parent = nullptr);

    // Rebuilds the rows; no row is selected afterwards.
    void setMedia(const std::vector<Media>& media);
    const std::vector<Media>& media() const { return media_; }
    // The record of a row; nullptr for no row.
    const Media* recordAt(int row) const;
    // The row of the record with this disk or volume identifier; -1 if none.
    int rowOf(const std::string& identifier) const;

  private:
    std::vector<Media> media_;
};

} // namespace tolvarin
