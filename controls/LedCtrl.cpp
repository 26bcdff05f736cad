#include "controls/LedCtrl.h"

#include <QPainter>
#include <algorithm>
#include <array>

namespace controls {

namespace {

constexpr std::array<const char*, LedCtrl::kDeviceStates> kDeviceNames{"off", "acknowledgement", "heartbeat",
                                                                       "heartbeats lost", "error"};
constexpr std::array<const char*, LedCtrl::kAntennaStates> kAntennaNames{"off", "connected", "disconnected"};

} // namespace

LedCtrl::LedCtrl(Kind kind, QWidget* parent) : QWidget(parent), _kind(kind) {
    const bool device = kind == Kind::Device;
    const int count = device ? kDeviceStates : kAntennaStates;
    for (int state = 0; state < count; ++state) {
        _images.emplace_back(QStringLiteral(":/controls/leds/%1-%2.png")
                                 .arg(device ? QStringLiteral("device") : QStringLiteral("antenna"))
                                 .arg(state));
    }
    setObjectName(device ? QStringLiteral("deviceLed") : QStringLiteral("antennaLed"));
    setAccessibleName(device ? QStringLiteral("Device LED") : QStringLiteral("Antenna LED"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    describe();
}

LedCtrl::~LedCtrl() = default;

QString LedCtrl::stateName(Kind kind, int state) {
    if (state < 0) {
        return {};
    }
    const auto index = static_cast<std::size_t>(state);
    if (kind == Kind::Device) {
        return index < kDeviceNames.size() ? QString::fromLatin1(kDeviceNames[index]) : QString();
    }
    return index < kAntennaNames.size() ? QString::fromLatin1(kAntennaNames[index]) : QString();
}

bool LedCtrl::setState(int state) {
    if (state < 0 || state >= stateCount()) {
        return false;
    }
    if (state != _state) {
        _state = state;
        describe();
        update();
    }
    return true;
}

void LedCtrl::describe() {
    setAccessibleDescription(QStringLiteral("state %1: %2").arg(_state).arg(stateName(_kind, _state)));
}

QSize LedCtrl::sizeHint() const {
    return {20, 20};
}

void LedCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const int side = std::min(width(), height());
    const QRect square((width() - side) / 2, (height() - side) / 2, side, side);
    painter.drawPixmap(square, _images[static_cast<std::size_t>(_state)]);
}

} // namespace controls
