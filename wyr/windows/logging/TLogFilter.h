#pragma once

#include "wyr/windows/logging/ILogFilter.h"
#include "wyr/windows/logging/LogListener.h"

#include <type_traits>

namespace wyr::windows::logging {

// The verbosity filter of listener class T (which derives from LogListener and from
// TLogFilter<T>); a change of mask reaches the logging core at once.
template <typename T> class TLogFilter : public ILogFilter {
public:
    std::uint16_t getFilter() const override { return _mask; }

    void setFilter(std::uint16_t mask) override {
        _mask = mask;
        if constexpr (std::is_base_of_v<LogListener, T>) {
            static_cast<T*>(this)->filterChanged(mask);
        }
    }

    void resetFilter() override { setFilter(0xFFFF); }

protected:
    bool passes(const LogVerbosity& verbosity) const noexcept { return (verbosity.mask() & _mask) != 0; }

private:
    std::uint16_t _mask = 0xFFFF;
};

} // namespace wyr::windows::logging
