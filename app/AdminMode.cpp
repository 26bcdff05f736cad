#include "app/AdminMode.h"

#include <algorithm>
#include <array>
#include <netdb.h>
#include <unistd.h>

namespace app {

namespace {

std::optional<std::string> nisDomainName() {
    std::array<char, 256> name{};
    if (::getdomainname(name.data(), name.size() - 1) != 0) {
        return std::nullopt;
    }
    return std::string(name.data());
}

std::optional<std::string> canonicalName() {
    std::array<char, 256> host{};
    if (::gethostname(host.data(), host.size() - 1) != 0) {
        return std::nullopt;
    }
    const std::string name(host.data());
    // A host name that already carries its domain needs no resolver.
    if (name.find('.') != std::string::npos) {
        return name;
    }
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_family = AF_UNSPEC;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return name;
    }
    std::string canonical = found->ai_canonname != nullptr ? found->ai_canonname : name;
    ::freeaddrinfo(found);
    return canonical;
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return text;
}

} // namespace

AdminMode::Sources AdminMode::systemSources() {
    return {nisDomainName, canonicalName};
}

std::string AdminMode::dnsDomain(std::string_view hostName) {
    if (hostName.ends_with('.')) {
        hostName.remove_suffix(1);
    }
    const auto dot = hostName.find('.');
    return dot == std::string_view::npos ? std::string{} : upper(std::string(hostName.substr(dot + 1)));
}

std::string AdminMode::lanGroup(const Sources& sources) {
    if (sources.nisDomain) {
        if (const auto nis = sources.nisDomain(); nis && !nis->empty() && *nis != "(none)") {
            return *nis;
        }
    }
    if (sources.canonicalHostName) {
        if (const auto host = sources.canonicalHostName()) {
            return dnsDomain(*host);
        }
    }
    return {};
}

bool AdminMode::decide(const std::vector<std::string>& arguments, const Sources& sources) {
    const auto given = [&arguments](const char* name) {
        return std::find(arguments.begin(), arguments.end(), name) != arguments.end();
    };
    if (given(kAdminSwitch)) {
        return true;
    }
    if (given(kNoAdminSwitch)) {
        return false;
    }
    return lanGroup(sources) == kAdministratorGroup;
}

} // namespace app
