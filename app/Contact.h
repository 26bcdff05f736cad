#pragma once

namespace app {

// The maker's addresses, shown in the about box and in the footer of the failure
// dialogs; kept here only, so they change in one place.
class Contact {
public:
    static constexpr const char* kWebAddress = "https://www.tolvek.example/orvane";
    static constexpr const char* kSupportEmail = "support@tolvek.example";
};

} // namespace app
