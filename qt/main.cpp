// tolvarin: the desktop face of the hub.
#include "app/GUIController.h"
#include "platform/LaunchingUser.h"
#include "platform/System.h"
#include "qt/MainWindow.h"
#include "qt/RootLaunch.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace tolvarin;

namespace {

void say(const std::string& text) {
    std::fprintf(stderr, "tolvarin: %s\n", text.c_str());
    std::fflush(stderr);
}

void showProblem(const std::string& heading, const std::string& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Tolvarin"),
                    QString::fromStdString(heading));
    box.setInformativeText(QString::fromStdString(text));
    box.exec();
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string programInPath(const std::string& name) {
    return QStandardPaths::findExecutable(QString::fromStdString(name)).toStdString();
}

// xhost SI:localuser:root with + or -; answers whether it worked.
bool xhost(const char* sign) {
    QProcess process;
    process.start(QStringLiteral("xhost"),
                  {QString::fromLatin1(sign) + QStringLiteral("SI:localuser:root")});
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Not root: say so, and with the user's consent restart through pkexec.
int restartAsRoot(int argc, char** argv, const std::vector<std::string>& args) {
    const RootLaunch::Environment env = RootLaunch::currentEnvironment();
    const RootLaunch::Plan plan = RootLaunch::plan(env, false, programInPath, fileExists);
    const std::string needs = RootLaunch::needsRootText(LaunchingUser::current().userName);
    if (plan.decision == RootLaunch::Decision::cannotRestart) {
        say(needs + " " + plan.problem);
        if (plan.display) {
            QApplication app(argc, argv);
            showProblem(needs, plan.problem);
        }
        return 1;
    }

    QApplication app(argc, argv);
    QMessageBox ask(QMessageBox::Question, QStringLiteral("Tolvarin"),
                    QString::fromStdString(needs));
    ask.setInformativeText(QStringLiteral(
        "Restart Tolvarin with administrator rights? You will be asked for a password."));
    QPushButton* quit = ask.addButton(QStringLiteral("Quit"), QMessageBox::RejectRole);
    QPushButton* restart =
        ask.addButton(QStringLiteral("Restart as Administrator"), QMessageBox::AcceptRole);
    ask.setDefaultButton(restart);
    ask.setEscapeButton(quit);
    ask.exec();
    if (ask.clickedButton() != restart) {
        say(needs + " The restart was declined.");
        return 1;
    }

    const std::string program = QCoreApplication::applicationFilePath().toStdString();
    const std::vector<std::string> command =
        RootLaunch::restartCommand(programInPath("pkexec"), program, args, env);
    const bool granted = RootLaunch::isWaylandSession(env) && xhost("+");
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    QStringList childArgs;
    for (size_t i = 1; i < command.size(); ++i) {
        childArgs << QString::fromStdString(command[i]);
    }
    child.start(QString::fromStdString(command[0]), childArgs);
    child.waitForFinished(-1);
    int status = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : 1;
    if (granted) {
        xhost("-");
    }
    if (status == RootLaunch::kPkexecDismissed || status == RootLaunch::kPkexecNotAuthorized ||
        child.error() == QProcess::FailedToStart) {
        const std::string refused = RootLaunch::refusedText(status);
        say(refused);
        showProblem(needs, refused);
        return 1;
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    // Answered in the terminal before anything asks for root rights.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::printf("usage: tolvarin [USE_USB]\n"
                        "Opens the desktop window; it asks for root rights through polkit.\n"
                        "USE_USB keeps the data on the volume labelled TOLVARIN.\n"
                        "The terminal program: tolvarin-cli help\n");
            return 0;
        }
        if (arg == "--version") {
            std::printf("tolvarin %s\n", TOLVARIN_VERSION);
            return 0;
        }
    }
    std::vector<std::string> args =
        RootLaunch::applySetenvArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (::geteuid() != 0 && !System::isPrivileged()) {
        RootLaunch::Plan plan =
            RootLaunch::plan(RootLaunch::currentEnvironment(), false, programInPath, fileExists);
        if (plan.decision != RootLaunch::Decision::runHere) {
            return restartAsRoot(argc, argv, args);
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tolvarin"));
    QApplication::setApplicationVersion(QStringLiteral(TOLVARIN_VERSION));
    MainWindow window;
    QObject::connect(&window, &MainWindow::quitFinished, &app, &QCoreApplication::quit);
    window.show();
    if (!window.start()) {
        return 1;
    }
    return app.exec();
}
