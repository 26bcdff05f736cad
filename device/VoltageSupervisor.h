#pragma once

#include <boost/circular_buffer.hpp>
#include <cstddef>
#include <string>

namespace device {

// Watches the device's input voltage over its last few samples: a sample far
// from the recent mean is a fluctuation and restarts the averaging; a mean
// outside the acceptable range raises one alarm per excursion.
class VoltageSupervisor {
public:
    // How the voltage display looks. Idle: "-----" in RGB 0, 150, 0. InRange:
    // RGB 100, 255, 100; black; white. Alarm: black; RGB 237, 7, 7; black.
    enum class Look { Idle, InRange, Alarm };

    static constexpr const wchar_t* IdleText = L"-----";
    static constexpr const wchar_t* FluctuationAlert = L"Voltage fluctuation!";
    static constexpr const wchar_t* UnderVoltageAlert = L"Under voltage!";
    static constexpr const wchar_t* OverVoltageAlert = L"Over voltage!";

    // What one sample led to.
    struct Outcome {
        // The sample was at least the variation away from the mean before it; the
        // samples before it were dropped.
        bool fluctuation = false;
        // The mean of the samples now held, and as the display shows it.
        float shown = 0.0F;
        std::wstring text;
        // The look after this sample, and whether it changed.
        Look look = Look::Idle;
        bool lookChanged = false;
        // UnderVoltageAlert or OverVoltageAlert when the mean has just left the
        // range; null otherwise.
        const wchar_t* alarm = nullptr;
    };

    // A capacity below 1 is taken as 1: the mean needs a sample to exist.
    VoltageSupervisor(std::ptrdiff_t samples, float variation);

    // Volts; `minimum` and `maximum` bound the acceptable mean, both included.
    Outcome add(float voltage, float minimum, float maximum);
    // Forgets the samples and returns to the idle look.
    void reset();

    Look look() const noexcept { return _look; }
    std::size_t size() const noexcept { return _samples.size(); }
    std::size_t capacity() const noexcept { return _samples.capacity(); }
    float variation() const noexcept { return _variation; }

    // "%.1f" right-aligned in five characters.
    static std::wstring format(float volts);

private:
    float mean() const noexcept;

    boost::circular_buffer<float> _samples;
    float _variation;
    Look _look = Look::Idle;
};

} // namespace device
