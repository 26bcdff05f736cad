#pragma once

#include <cstdint>

namespace wyr::windows::logging {

// A listener's verbosity filter: a message passes when its verbosity's bit is in the mask.
class ILogFilter {
public:
    virtual ~ILogFilter() = default;
    virtual std::uint16_t getFilter() const = 0;
    virtual void setFilter(std::uint16_t mask) = 0;
    virtual void resetFilter() = 0;

protected:
    ILogFilter() = default;
    ILogFilter(const ILogFilter&) = default;
    ILogFilter& operator=(const ILogFilter&) = default;
};

} // namespace wyr::windows::logging
