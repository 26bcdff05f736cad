#include "app/GainIndicatorCtrl.h"

#include "device/SupervisorSettings.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/logging/Log.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace app {

using wyr::windows::logging::log;
using wyr::windows::logging::LogVerbosity;

namespace {

constexpr double kRadians = 0.017453292519943295;
const QColor kWedgeColour(255, 0, 0);

device::GainList gainsOf(const wyr::windows::config::ConfigMgr& config) {
    return device::GainList(device::SupervisorSettings(config, std::wstring()).gainSettings());
}

} // namespace

GainIndicatorCtrl::GainIndicatorCtrl(QWidget* parent)
    : GainIndicatorCtrl(wyr::windows::config::ConfigMgr::instance(), parent) {}

GainIndicatorCtrl::GainIndicatorCtrl(const wyr::windows::config::ConfigMgr& config, QWidget* parent)
    : GainIndicatorCtrl(gainsOf(config), parent) {}

GainIndicatorCtrl::GainIndicatorCtrl(device::GainList gains, QWidget* parent)
    : QWidget(parent), _gains(std::move(gains)), _overlay(QStringLiteral(":/app/gain-overlay.png")) {
    setObjectName(QStringLiteral("gainIndicator"));
    setAccessibleName(QStringLiteral("Gain indicator"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (_overlay.isNull()) {
        log(LogVerbosity::Error, "GainIndicatorCtrl::GainIndicatorCtrl",
            L"The gain overlay image is missing.");
    }
    drawWedge();
    describe();
}

GainIndicatorCtrl::~GainIndicatorCtrl() = default;

void GainIndicatorCtrl::update(std::int32_t gain) {
    _gain = gain;
    drawWedge();
    describe();
    update();
}

int GainIndicatorCtrl::step(const device::GainList& gains, std::int32_t gain) {
    const auto& values = gains.values();
    const auto found = std::find(values.begin(), values.end(), gain);
    return found == values.end() ? 0 : static_cast<int>(found - values.begin()) + 1;
}

double GainIndicatorCtrl::angle(const device::GainList& gains, std::int32_t gain) {
    if (gains.empty()) {
        return 0.0;
    }
    return static_cast<double>(step(gains, gain)) / static_cast<double>(gains.values().size()) * 90.0;
}

QPolygonF GainIndicatorCtrl::wedge(QSizeF size, double degrees) {
    const double w = size.width() - 8.0;
    const double h = size.height() - 8.0;
    if (w <= 0.0 || h <= 0.0) {
        return {};
    }
    const double a = degrees;
    const double b = 90.0 - a;
    QPolygonF outline;
    outline << QPointF(w, h) << QPointF(0.0, h);
    if (a < 45.0) {
        // w × tan a, but never thinner than 3 pixels at the left.
        const double v = std::max(w * std::sin(a * kRadians) / std::sin(b * kRadians), 3.0);
        outline << QPointF(0.0, h - v);
    } else {
        double l = h * std::sin(b * kRadians) / std::sin(a * kRadians);
        if (l < 1.0) {
            l = 0.0;
        }
        if (a > 45.0) {
            outline << QPointF(0.0, 0.0);
        }
        outline << QPointF(w - l, 0.0);
    }
    return outline;
}

QSize GainIndicatorCtrl::sizeHint() const {
    return {96, 96};
}

void GainIndicatorCtrl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    drawWedge();
}

void GainIndicatorCtrl::drawWedge() {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = size() * ratio;
    if (pixels.isEmpty()) {
        _wedge = QImage();
        return;
    }
    _wedge = QImage(pixels, QImage::Format_RGB32);
    _wedge.setDevicePixelRatio(ratio);
    _wedge.fill(Qt::black);
    const QPolygonF outline = wedge(size(), angle(_gains, _gain));
    if (outline.isEmpty()) {
        return;
    }
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    path.addPolygon(outline);
    path.closeSubpath();
    QPainter painter(&_wedge);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(path, kWedgeColour);
}

void GainIndicatorCtrl::describe() {
    const int n = static_cast<int>(_gains.values().size());
    const int i = step(_gains, _gain);
    setAccessibleDescription(i > 0 ? QStringLiteral("gain %1, step %2 of %3").arg(_gain).arg(i).arg(n)
                                   : QStringLiteral("gain %1, not in the list of %2").arg(_gain).arg(n));
}

void GainIndicatorCtrl::paintEvent(QPaintEvent*) {
    if (_wedge.isNull()) {
        return;
    }
    if (_wedge.devicePixelRatio() != devicePixelRatioF()) {
        drawWedge(); // moved to a screen of another pixel ratio
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), _wedge);
    if (!_overlay.isNull()) {
        painter.drawImage(rect(), _overlay);
    }
}

} // namespace app
