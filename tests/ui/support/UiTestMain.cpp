#include "tests/ui/support/UiTest.h"

#include <QApplication>
#include <QStringList>
#include <QTest>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QStringList arguments = QApplication::arguments();
    const QString program = arguments.takeFirst();

    std::map<std::string, test::UiTestFactory> chosen;
    if (!arguments.isEmpty() && !arguments.first().startsWith(QLatin1Char('-'))) {
        const std::string name = arguments.takeFirst().toStdString();
        const auto it = test::uiTests().find(name);
        if (it == test::uiTests().end()) {
            std::fprintf(stderr, "No test class %s\n", name.c_str());
            return 2;
        }
        chosen.insert(*it);
    } else {
        chosen = test::uiTests();
    }
    arguments.prepend(program);

    int failures = 0;
    for (const auto& [name, factory] : chosen) {
        const auto testObject = factory();
        failures += QTest::qExec(testObject.get(), arguments);
    }
    return failures == 0 ? 0 : 1;
}
