#pragma once

#include "device/GainList.h"

#include <QImage>
#include <QPolygonF>
#include <QWidget>
#include <cstdint>

namespace wyr::windows::config {
class ConfigMgr;
}

namespace app {

// How far up the permitted gain range the device's gain is: a red wedge swept
// about the bottom-right corner, from the bottom edge (the first, largest
// register value of the gain list) to the right edge (the last), seen through
// the quarter ring of a fixed overlay that carries "GAIN" and "dB".
//
// The wedge is drawn into an image of the widget's size on every update() and
// resize; a paint only puts the wedge and the overlay on screen. The overlay
// (res/gain-overlay.svg, rendered at build time) is 256 × 256 and scaled to the
// widget; its ring is transparent between kRingInner and kRingOuter about
// (kRingCentre, kRingCentre), where a 256 × 256 indicator's wedge has its corner.
//
// Accessible name "Gain indicator"; accessible description "gain 256, step 9 of
// 32", or "gain 500, not in the list of 32".
class GainIndicatorCtrl : public QWidget {
    Q_OBJECT

public:
    static constexpr int kOverlaySize = 256;
    static constexpr double kRingCentre = 248.0;
    static constexpr double kRingInner = 112.0;
    static constexpr double kRingOuter = 232.0;

    // Reads UI.GainSettings from the process's settings or from `config`.
    explicit GainIndicatorCtrl(QWidget* parent = nullptr);
    explicit GainIndicatorCtrl(const wyr::windows::config::ConfigMgr& config, QWidget* parent = nullptr);
    explicit GainIndicatorCtrl(device::GainList gains, QWidget* parent = nullptr);
    ~GainIndicatorCtrl() override;

    // Shows `gain` (the view's shown gain register value) and repaints.
    void update(std::int32_t gain);
    using QWidget::update;

    std::int32_t gain() const noexcept { return _gain; }
    const device::GainList& gains() const noexcept { return _gains; }
    // The wedge as drawn last, without the overlay.
    const QImage& wedgeImage() const noexcept { return _wedge; }

    // 1 + the position of `gain` in the list, 0 when it is not there.
    static int step(const device::GainList& gains, std::int32_t gain);
    // step ÷ entries × 90, in degrees; 0 for an empty list.
    static double angle(const device::GainList& gains, std::int32_t gain);
    // The wedge's outline in a W × H indicator, for an angle in degrees; empty
    // when the indicator is too small to hold one.
    static QPolygonF wedge(QSizeF size, double degrees);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void drawWedge();
    void describe();

    device::GainList _gains;
    std::int32_t _gain = 0;
    QImage _wedge;
    QImage _overlay;
};

} // namespace app
