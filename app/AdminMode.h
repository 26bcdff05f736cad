#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// Whether this run is in administrator mode. "-admin" turns it on and "-noadmin"
// off ("-admin" wins when both are given); without either it is on exactly when
// the computer's LAN group is the maker's service group "TLV".
//
// The LAN group of a Linux computer is its NIS domain name when one is set
// (getdomainname(), "(none)" meaning unset), compared exactly as NIS names are
// case-sensitive; else its DNS domain: the part of the canonical host name after
// the first dot, upper-cased as DNS names are not, so "bench4.tlv" counts and
// "bench4.tlv.example.com" does not.
class AdminMode {
public:
    static constexpr const char* kAdministratorGroup = "TLV";
    static constexpr const char* kAdminSwitch = "-admin";
    static constexpr const char* kNoAdminSwitch = "-noadmin";

    // Where the names come from; a test passes its own. nullopt when unavailable.
    struct Sources {
        std::function<std::optional<std::string>()> nisDomain;
        std::function<std::optional<std::string>()> canonicalHostName;
    };

    // getdomainname(); the host name, or the resolver's canonical name for it
    // when it has no domain part.
    static Sources systemSources();

    // The switches are compared exactly, anywhere among the arguments.
    static bool decide(const std::vector<std::string>& arguments, const Sources& sources = systemSources());

    // Empty when the computer is in no group.
    static std::string lanGroup(const Sources& sources);
    // The part after the first dot, upper-cased, without a trailing dot.
    static std::string dnsDomain(std::string_view hostName);
};

} // namespace app
