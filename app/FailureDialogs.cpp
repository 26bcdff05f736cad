#include "app/FailureDialogs.h"

#include "app/Contact.h"
#include "wyr/windows/ui/TaskDialog.h"

#include <QApplication>
#include <QString>

namespace app {

using wyr::windows::ui::TaskDialog;

namespace {

QString systemText(wyr::windows::system::ErrorCode code) {
    return QString::fromStdWString(wyr::windows::system::systemMessage(code));
}

QWidget* ownerOr(QWidget* owner) {
    return owner != nullptr ? owner : QApplication::activeWindow();
}

int run(TaskDialog& dialog) {
    dialog.setWindowTitle(QStringLiteral("Orvane"));
    dialog.setIcon(TaskDialog::Icon::Error);
    return dialog.exec();
}

} // namespace

QString FailureDialogs::supportFooter() {
    return QStringLiteral("For help, contact Tolvek support: %1").arg(QLatin1String(Contact::kSupportEmail));
}

int FailureDialogs::logFailure(wyr::windows::system::ErrorCode code, QWidget* owner) {
    TaskDialog dialog(ownerOr(owner));
    dialog.setMainInstruction(QStringLiteral("Failed to open local log file."));
    dialog.setContent(QStringLiteral("Click cancel to exit the program."));
    dialog.setExpandedInformation(systemText(code), QStringLiteral("Show Details"),
                                  QStringLiteral("Hide Details"));
    dialog.addCommandLink(kFirstLink, QStringLiteral("Continue\nNo log file will be created."));
    dialog.addCommandLink(kSecondLink, QStringLiteral("Cancel\nOrvane will exit."));
    dialog.setFooter(supportFooter());
    return run(dialog);
}

int FailureDialogs::initFailure(wyr::windows::system::ErrorCode code, QWidget* owner) {
    TaskDialog dialog(ownerOr(owner));
    dialog.setMainInstruction(QStringLiteral("The application failed to initialize properly."));
    dialog.setContent(QStringLiteral("Click cancel to exit the program."));
    dialog.setExpandedInformation(systemText(code), QStringLiteral("Show Details"),
                                  QStringLiteral("Hide Details"));
    dialog.addCommandLink(kFirstLink, QStringLiteral("Retry\nAttempt to initialize application."));
    dialog.addCommandLink(kSecondLink, QStringLiteral("Cancel\nOrvane will exit."));
    dialog.setFooter(supportFooter());
    return run(dialog);
}

int FailureDialogs::configFailure(wyr::windows::system::ErrorCode code, QWidget* owner) {
    TaskDialog dialog(ownerOr(owner));
    dialog.setMainInstruction(QStringLiteral("Failed to load the application configuration."));
    // The codes are the failing key's group, for which the system may know no
    // text; the user still learns what is wrong.
    QString content = systemText(code);
    if (content.isEmpty()) {
        content =
            QStringLiteral("A device setting is missing or outside its valid values (group %1).").arg(code);
    }
    dialog.setContent(content);
    dialog.addCommandLink(
        kFirstLink, QStringLiteral("Load default configuration\nSets default values for the application."));
    dialog.addCommandLink(kSecondLink, QStringLiteral("Cancel\nOrvane will exit."));
    dialog.addButton(TaskDialog::IdOk);
    return run(dialog);
}

} // namespace app
