#pragma once

#include "device/OrvaneNotification.h"
#include "device/SupervisorSettings.h"

#include <QElapsedTimer>
#include <QPainterPath>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <array>
#include <boost/circular_buffer.hpp>
#include <boost/signals2/connection.hpp>
#include <cstdint>

namespace device {
class OrvaneInterface;
}

namespace wyr::windows::config {
class ConfigMgr;
}

namespace app {

// The live plot of the three ADC channels: three stacked lanes, each a filled
// trace scrolling from right to left, newest reading at the right.
//
// Every NotifySentenceReceived record is copied whole into a ring of
// ceil(width / UI.PixelRate) records (computed in single precision) that only
// grows, so streaming never allocates; a narrower window keeps the larger ring.
// Readings are painted at most every kMinPaintIntervalMs: a reading that comes
// sooner after the last paint is painted when the interval is up, together with
// any that follow it. Qt paints a widget as soon as the thread is idle, so
// without this a stream of 1000 readings a second would cost 1000 paints.
// Frames and grid are cached in a pixmap, redrawn only when the size, the
// palette or the screen's pixel ratio changes; each paint builds one path per
// lane straight from the ring.
//
// Resizing: Qt tells nothing about the start and end of an interactive resize,
// so a resize event that follows the previous one within kSizingGapMs counts as
// a resize in progress. From then until kSizingGapMs pass without another one,
// only frames and grid are drawn (as while the user drags the window's edge);
// a single resize, such as the layout's on maximise, keeps the traces.
//
// Accessible name "Live output"; the accessible description tells the records
// held and the newest reading: "3 of 300 records; latest 0.125 2.000 4.500".
class OrvaneOutputWnd : public QWidget {
    Q_OBJECT

public:
    using Ring = boost::circular_buffer<device::OrvaneReadingNotification>;

    static constexpr int kLanes = 3;
    static constexpr int kSizingGapMs = 150;
    // A reading of this many volts fills a lane when unfiltered; filtered, the
    // noise floor plus 4.0 does.
    static constexpr float kFullScale = 4.5F;
    // Faster than a display's frame, so that a reading shows within one frame.
    static constexpr int kMinPaintIntervalMs = 10;

    // Reads UI.PixelRate and UI.NoiseFloor now and UI.Filtering at every paint,
    // from the process's settings or from `config`, which must outlive the window.
    explicit OrvaneOutputWnd(QWidget* parent = nullptr);
    explicit OrvaneOutputWnd(const wyr::windows::config::ConfigMgr& config, QWidget* parent = nullptr);
    ~OrvaneOutputWnd() override;

    // Connects orvaneCallback to the device's notifications, replacing an earlier
    // subscription; the window disconnects it on NotifyDisconnect and when it is
    // destroyed.
    void subscribe(device::OrvaneInterface& device);
    bool subscribed() const { return _subscription.connected(); }
    // Forgets every reading, so the lanes show no trace.
    void clear();

    void orvaneCallback(const device::tagNMORVANEHDR* header);

    const Ring& readings() const noexcept { return _ring; }
    std::int32_t pixelRate() const noexcept { return _pixelRate; }
    float noiseFloor() const noexcept { return _noiseFloor; }
    // True while a resize is in progress (see above).
    bool resizing() const noexcept { return _sizing; }

    // The lanes of a W × H window, top to bottom, on half-pixel coordinates. A
    // lane of a window too small to hold it has a height of 0.
    static std::array<QRectF, kLanes> lanes(QSizeF size);
    // The bar height of one reading in a lane of `laneHeight`, before the
    // clipping at the lane's inner top: never below 2.0, also for NaN.
    static double barHeight(float reading, double laneHeight, bool filtered, float noiseFloor);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // update(), or a timer for it when the last paint was less than the interval ago.
    void requestPaint();
    void growRing();
    void drawBackground();
    void drawTraces(QPainter& painter, const std::array<QRectF, kLanes>& lanes, bool filtered);
    void describe();

    device::SupervisorSettings _settings;
    std::int32_t _pixelRate;
    float _noiseFloor;
    Ring _ring;
    boost::signals2::scoped_connection _subscription;

    QPixmap _background;
    bool _backgroundStale = true;
    std::array<QPainterPath, kLanes> _paths;

    bool _sizing = false;
    QElapsedTimer _lastResize;
    QTimer _sizingEnd;

    QElapsedTimer _lastPaint;
    QTimer _paintLater;
};

} // namespace app
