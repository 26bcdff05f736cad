#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace test {

// Qt Test classes of one executable, by class name. The executable runs the class
// named by its first argument (every class without one), so that each class is
// its own CTest test.
using UiTestFactory = std::function<std::unique_ptr<QObject>()>;

inline std::map<std::string, UiTestFactory>& uiTests() {
    static std::map<std::string, UiTestFactory> tests;
    return tests;
}

struct UiTestRegistration {
    UiTestRegistration(const char* name, UiTestFactory factory) {
        uiTests().emplace(name, std::move(factory));
    }
};

} // namespace test

// Registers a test class under its own name; put it after the class in its .cpp.
#define ORVANE_UI_TEST(Class)                                                                                \
    namespace {                                                                                              \
    const test::UiTestRegistration registration##Class(#Class, [] { return std::make_unique<Class>(); });    \
    }
