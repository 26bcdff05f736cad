#pragma once

#include <QString>
#include <QStringList>

namespace app {

// The user guide, "UserGuide.pdf": beside the program in the build tree, in the
// documentation folder once installed.
class UserGuide {
public:
    static constexpr const char* kFileName = "UserGuide.pdf";

    // The program's own directory, the documentation folder relative to it (an
    // installation moved elsewhere, or a package installed under another prefix),
    // then the documentation folder the build was configured for.
    static QStringList searchDirectories();
    // The first directory of `directories` that holds the guide; empty when none does.
    static QString locate(const QStringList& directories);

    // Opens the guide with the desktop's viewer. A failure is not reported: there
    // is nothing the user could do about it from here.
    static void open();
};

} // namespace app
