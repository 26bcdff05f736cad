#pragma once

#include "wyr/windows/system/SystemError.h"

#include <QString>

class QWidget;

namespace app {

// The program's failure dialogs, answered with the id of the link pressed
// (201, 202) or 2 when closed; owned by the active window.
class FailureDialogs {
public:
    static constexpr int kFirstLink = 201;
    static constexpr int kSecondLink = 202;
    static constexpr int kClosed = 2;

    // "Failed to open local log file.": 201 Continue, 202 Cancel.
    static int logFailure(wyr::windows::system::ErrorCode code, QWidget* owner = nullptr);
    // "The application failed to initialize properly.": 201 Retry, 202 Cancel.
    static int initFailure(wyr::windows::system::ErrorCode code, QWidget* owner = nullptr);
    // "Failed to load the application configuration." with the validation
    // result's text: 201 Load default configuration, 202 Cancel, or OK (1).
    static int configFailure(wyr::windows::system::ErrorCode code, QWidget* owner = nullptr);

    // The footer that names the maker's support contact.
    static QString supportFooter();
};

} // namespace app
