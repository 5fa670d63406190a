#include "qt/SystemInfoWindow.h"

#include "app/SystemInfo.h"
#include "qt/Icons.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace tolvarin {

SystemInfoWindow::SystemInfoWindow(const SystemInfo& info, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("System Information"));
    setObjectName(QStringLiteral("systemInfo"));

    auto* picture = new QLabel(this);
    picture->setPixmap(Icons::pixmap(Icons::Kind::application, 64, devicePixelRatioF()));
    picture->setAlignment(Qt::AlignTop);

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight);
    int row = 0;
    for (const auto& [caption, value] : info.rows()) {
        auto* field = new QLabel(QString::fromStdString(value), this);
        field->setTextInteractionFlags(Qt::TextSelectableByMouse);
        field->setObjectName(QStringLiteral("systemInfoValue%1").arg(row++));
        form->addRow(QString::fromStdString(caption), field);
    }

    auto* top = new QHBoxLayout;
    top->addWidget(picture);
    top->addSpacing(12);
    top->addLayout(form, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
}

} // namespace tolvarin
