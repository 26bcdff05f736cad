#include "app/AboutDlg.h"

#include "app/Contact.h"
#include "app/ProgramVersion.h"
#include "app/UserGuide.h"
#include "tests/ui/support/UiTest.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

using app::AboutDlg;
using app::UserGuide;

class AboutDlgTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void namesTheProductItsVersionAndTheMakersSite() {
        AboutDlg dialog;
        QVERIFY(dialog.isModal());
        const auto text = [&dialog](const char* name) {
            auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(name));
            return label != nullptr ? label->text() : QStringLiteral("<missing>");
        };
        QCOMPARE(text("product"), QStringLiteral("Orvane"));
        // The project's version, as the build knows it, and the default build number.
        QCOMPARE(text("version"),
                 QStringLiteral("Version %1 (Build 0)").arg(QStringLiteral(ORVANE_PROJECT_VERSION)));
        QVERIFY(text("webLink").contains(
            QStringLiteral("href=\"%1\"").arg(QString::fromLatin1(app::Contact::kWebAddress))));
        auto* icon = dialog.findChild<QLabel*>(QStringLiteral("icon"));
        QVERIFY(icon != nullptr && !icon->pixmap().isNull());
        QCOMPARE(icon->pixmap().width(), 64);
    }

    void theGuideIsTakenFromTheFirstDirectoryThatHoldsIt() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString empty = root.filePath(QStringLiteral("empty"));
        const QString program = root.filePath(QStringLiteral("bin"));
        const QString docs = root.filePath(QStringLiteral("doc"));
        const QString decoy = root.filePath(QStringLiteral("decoy"));
        for (const QString& dir : {empty, program, docs, decoy}) {
            QVERIFY(QDir().mkpath(dir));
        }
        // A directory of that name is not the guide.
        QVERIFY(QDir(decoy).mkdir(QString::fromLatin1(UserGuide::kFileName)));
        QFile guide(QDir(docs).filePath(QString::fromLatin1(UserGuide::kFileName)));
        QVERIFY(guide.open(QIODevice::WriteOnly));
        guide.close();

        QCOMPARE(UserGuide::locate({empty, decoy, docs}), guide.fileName());
        QCOMPARE(UserGuide::locate({empty, decoy, root.filePath(QStringLiteral("absent"))}), QString());

        QFile beside(QDir(program).filePath(QString::fromLatin1(UserGuide::kFileName)));
        QVERIFY(beside.open(QIODevice::WriteOnly));
        beside.close();
        QCOMPARE(UserGuide::locate({program, docs}), beside.fileName());
    }

    void theSearchStartsBesideTheProgram() {
        const QStringList dirs = UserGuide::searchDirectories();
        QCOMPARE(dirs.size(), 3);
        QCOMPARE(dirs.first(), QCoreApplication::applicationDirPath());
        QVERIFY(dirs.last().endsWith(QStringLiteral("/doc/orvane")));
    }
};

ORVANE_UI_TEST(AboutDlgTest)
#include "AboutDlgTest.moc"
