#include "app/UserGuide.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace app {

QStringList UserGuide::searchDirectories() {
    const QString program = QCoreApplication::applicationDirPath();
    return {program, QDir::cleanPath(program + QLatin1Char('/') + QStringLiteral(ORVANE_DOC_DIR_FROM_BIN)),
            QStringLiteral(ORVANE_DOC_DIR)};
}

QString UserGuide::locate(const QStringList& directories) {
    for (const QString& directory : directories) {
        const QFileInfo guide(QDir(directory), QString::fromLatin1(kFileName));
        if (guide.isFile()) {
            return guide.absoluteFilePath();
        }
    }
    return {};
}

void UserGuide::open() {
    const QString guide = locate(searchDirectories());
    if (!guide.isEmpty()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(guide));
    }
}

} // namespace app
