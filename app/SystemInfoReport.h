#pragma once

#include "app/ProgramVersion.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/system/OsFacts.h"

#include <string>

namespace app {

// The text of the System Info dialog: the program's version and run modes, the
// operating-system facts and every setting that is saved, one line each, ending
// in CR LF. Numbers are written with a full stop whatever the user's locale.
class SystemInfoReport {
public:
    struct Inputs {
        ProgramVersion version;
        bool admin = false;
        bool debug = false;
        wyr::windows::system::OsFacts::Facts os;
    };

    // Transient settings are left out; the others are listed in name order.
    static std::wstring build(const Inputs& inputs, const wyr::windows::config::ConfigMgr::Entries& settings);

    // "Boolean | true", "Integer | 512", "Double | 1.000000", "String | text".
    static std::wstring valueText(const wyr::windows::config::ConfigValue& value);
};

} // namespace app
