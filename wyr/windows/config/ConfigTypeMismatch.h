#pragma once

#include "wyr/windows/config/ConfigType.h"

#include <boost/variant/get.hpp>
#include <string>

namespace wyr::windows::config {

// Raised by a getter asked for another type than the one its entry holds. It is a
// boost::bad_get, the failure of reading the wrong alternative of a value, with a
// message naming the entry and both types.
class ConfigTypeMismatch : public boost::bad_get {
public:
    ConfigTypeMismatch(const std::wstring& name, const ConfigType& held, const ConfigType& asked);

    const char* what() const noexcept override { return _message.c_str(); }
    const std::wstring& name() const noexcept { return _name; }
    const ConfigType& held() const noexcept { return *_held; }
    const ConfigType& asked() const noexcept { return *_asked; }

private:
    std::wstring _name;
    const ConfigType* _held;
    const ConfigType* _asked;
    std::string _message;
};

} // namespace wyr::windows::config
