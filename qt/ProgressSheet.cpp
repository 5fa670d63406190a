#include "qt/ProgressSheet.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace tolvarin {

ProgressSheet::ProgressSheet(QWidget* parent) : QDialog(parent), label_(new QLabel(this)) {
    setWindowTitle(QStringLiteral("Tolvarin"));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    label_->setWordWrap(true);
    label_->setMinimumWidth(360);
    auto* bar = new QProgressBar(this);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    layout->addWidget(label_);
    layout->addWidget(bar);
}

void ProgressSheet::showMessage(const QString& message) {
    label_->setText(message);
    show();
    raise();
    // Painted now, not after the work that follows; clicks wait.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ProgressSheet::finish() {
    hide();
}

QString ProgressSheet::message() const {
    return label_->text();
}

} // namespace tolvarin
