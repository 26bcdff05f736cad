#pragma once

#include <QLocale>
#include <QtGlobal>
#include <clocale>
#include <string>

namespace test {

// Puts the process under a comma-decimal locale (de_DE.UTF-8) for a test's
// duration, C library and Qt alike, as a German desktop session would. When the
// locale is not installed the test runs under the present one and says so.
class CommaLocale {
public:
    CommaLocale() : _previous(std::setlocale(LC_ALL, nullptr)), _qtPrevious(QLocale()) {
        _active = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr ||
                  std::setlocale(LC_ALL, "de_DE.utf8") != nullptr;
        if (!_active) {
            qInfo("de_DE.UTF-8 is not installed: numbers are checked under the present locale only");
        }
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }
    ~CommaLocale() {
        std::setlocale(LC_ALL, _previous.c_str());
        QLocale::setDefault(_qtPrevious);
    }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    bool active() const noexcept { return _active; }

private:
    std::string _previous;
    QLocale _qtPrevious;
    bool _active = false;
};

} // namespace test
