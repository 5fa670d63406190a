#include "qt/QtAlertAnswerer.h"

#include "platform/System.h"
#include "qt/MainThread.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVariant>

namespace tolvarin {

namespace {

QMessageBox::Icon iconFor(const Alert& alert) {
    const QString title = QString::fromStdString(alert.title);
    if (title.startsWith("ERROR") || title.startsWith("WARNING") || alert.number == 5000) {
        return QMessageBox::Critical;
    }
    if (!alert.alternateButton.empty()) {
        return QMessageBox::Question;
    }
    return QMessageBox::Information;
}

} // namespace

QtAlertAnswerer::QtAlertAnswerer(QWidget* parent) : parent_(parent) {}

std::unique_ptr<QMessageBox> QtAlertAnswerer::makeBox(const Alert& alert, QWidget* parent) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(QStringLiteral("Tolvarin"));
    box->setIcon(iconFor(alert));
    box->setTextFormat(Qt::PlainText);
    box->setText(QString::fromStdString(alert.title));
    box->setInformativeText(QString::fromStdString(alert.text));
    // The title as a heading above the text.
    if (auto* heading = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        QFont bold = heading->font();
        bold.setBold(true);
        heading->setFont(bold);
    }
    // One role for all, so the box keeps the order they are added in on
    // every desktop: other, alternate, default from left to right.
    QPushButton* defaultButton = nullptr;
    for (int answer : {MessageCenter::kOtherAnswer, MessageCenter::kAlternateAnswer,
                       MessageCenter::kDefaultAnswer}) {
        std::string label = alert.buttonFor(answer);
        if (label.empty()) {
            continue;
        }
        QPushButton* button =
            box->addButton(QString::fromStdString(label), QMessageBox::ActionRole);
        button->setProperty("answer", answer);
        if (answer == MessageCenter::kDefaultAnswer) {
            defaultButton = button;
        }
    }
    if (defaultButton == nullptr) {
        defaultButton = box->addButton(QStringLiteral("OK"), QMessageBox::ActionRole);
        defaultButton->setProperty("answer", MessageCenter::kDefaultAnswer);
    }
    box->setDefaultButton(defaultButton);
    // Escape takes the answer that destroys and starts nothing.
    QAbstractButton* escape = defaultButton;
    const int safe = MessageCenter::safeAnswerForNumber(alert.number);
    for (QAbstractButton* button : box->buttons()) {
        if (button->property("answer").toInt() == safe && alert.offers(safe)) {
            escape = button;
        }
    }
    box->setEscapeButton(escape);
    return box;
}

int QtAlertAnswerer::show(const Alert& alert) {
    if (quitting_.load()) {
        return MessageCenter::safeAnswerForNumber(alert.number);
    }
    std::unique_ptr<QMessageBox> box = makeBox(alert, parent_.data());
    box->exec();
    QAbstractButton* clicked = box->clickedButton();
    if (clicked == nullptr) {
        clicked = box->escapeButton();
    }
    return clicked != nullptr ? clicked->property("answer").toInt()
                              : MessageCenter::safeAnswerForNumber(alert.number);
}

int QtAlertAnswerer::answer(const Alert& alert) {
    if (quitting_.load()) {
        int safe = MessageCenter::safeAnswerForNumber(alert.number);
        System::consoleLog("Message " + std::to_string(alert.number) +
                           " while quitting: answered " + alert.buttonFor(safe) + ".");
        return safe;
    }
    int chosen = MessageCenter::kDefaultAnswer;
    MainThread::runAndWait([&] { chosen = show(alert); });
    return chosen;
}

} // namespace tolvarin
