#pragma once

#include <QPixmap>
#include <QWidget>
#include <vector>

namespace controls {

// An LED drawn from one image per state (our own images, rendered from
// res/leds/*.svg at build time).
//
// Device LED, states 0 to 4: 0 off, 1 acknowledgement (dim green), 2 heartbeat
// (bright green; heartbeats alternate 2 and 1, so it blinks), 3 heartbeats lost
// (amber), 4 error (red). Antenna LED, states 0 to 2: 0 off, 1 connected
// (green), 2 disconnected (red).
//
// Accessible name: "Device LED" or "Antenna LED" unless the owner sets another;
// accessible description: the state as "state <n>: <meaning>" ("state 2:
// heartbeat").
class LedCtrl : public QWidget {
    Q_OBJECT

public:
    enum class Kind { Device, Antenna };
    static constexpr int kDeviceStates = 5;
    static constexpr int kAntennaStates = 3;

    explicit LedCtrl(Kind kind, QWidget* parent = nullptr);
    ~LedCtrl() override;

    Kind kind() const noexcept { return _kind; }
    int state() const noexcept { return _state; }
    int stateCount() const noexcept { return static_cast<int>(_images.size()); }
    // False, with the state unchanged, outside 0 … stateCount() - 1.
    bool setState(int state);

    // "off", "acknowledgement", "heartbeat" ...; empty outside the range.
    static QString stateName(Kind kind, int state);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void describe();

    Kind _kind;
    int _state = 0;
    std::vector<QPixmap> _images;
};

} // namespace controls
