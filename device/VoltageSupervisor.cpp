#include "device/VoltageSupervisor.h"

#include "wyr/windows/system/TextFormat.h"

#include <algorithm>
#include <cmath>

namespace device {

VoltageSupervisor::VoltageSupervisor(std::ptrdiff_t samples, float variation)
    : _samples(static_cast<std::size_t>(std::max<std::ptrdiff_t>(samples, 1))), _variation(variation) {}

VoltageSupervisor::Outcome VoltageSupervisor::add(float voltage, float minimum, float maximum) {
    Outcome outcome;
    if (!_samples.empty() && std::fabs(mean() - voltage) >= _variation) {
        outcome.fluctuation = true;
        _samples.clear();
    }
    _samples.push_back(voltage);
    outcome.shown = mean();
    outcome.text = format(outcome.shown);

    if (outcome.shown >= minimum && outcome.shown <= maximum) {
        outcome.lookChanged = _look != Look::InRange;
        _look = Look::InRange;
    } else if (outcome.shown < minimum || outcome.shown > maximum) {
        if (_look != Look::Alarm) {
            outcome.alarm = outcome.shown < minimum ? UnderVoltageAlert : OverVoltageAlert;
            outcome.lookChanged = true;
            _look = Look::Alarm;
        }
    }
    outcome.look = _look;
    return outcome;
}

void VoltageSupervisor::reset() {
    _samples.clear();
    _look = Look::Idle;
}

float VoltageSupervisor::mean() const noexcept {
    float sum = 0.0F;
    for (const float sample : _samples) {
        sum += sample;
    }
    return sum / static_cast<float>(_samples.size());
}

std::wstring VoltageSupervisor::format(float volts) {
    return wyr::windows::system::formatText(L"%5.1f", static_cast<double>(volts));
}

} // namespace device
