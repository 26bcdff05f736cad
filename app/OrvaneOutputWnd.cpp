#include "app/OrvaneOutputWnd.h"

#include "device/OrvaneInterface.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/logging/Log.h"

#include <QEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>

namespace app {

using device::OrvaneNotification;
using device::OrvaneNotificationType;
using device::OrvaneReadingNotification;
using wyr::windows::logging::log;
using wyr::windows::logging::LogVerbosity;

namespace {

constexpr const char* kCallbackContext = "OrvaneOutputWnd::orvaneCallback";

const QColor kGridColour(93, 101, 118);
const QColor kNoiseFloorColour(0, 255, 0);
const std::array<QColor, OrvaneOutputWnd::kLanes> kTraceColours{QColor(245, 246, 248), QColor(198, 17, 137),
                                                                QColor(234, 175, 15)};

float channel(const OrvaneReadingNotification& record, int lane) {
    switch (lane) {
    case 0:
        return record.reading1;
    case 1:
        return record.reading2;
    default:
        return record.reading3;
    }
}

// The lane without its frame; empty for a lane too small to have an inside.
QRectF inside(const QRectF& lane) {
    return lane.adjusted(1.0, 1.0, -1.0, -1.0);
}

bool drawable(const QRectF& lane) {
    return lane.width() > 2.0 && lane.height() > 2.0;
}

} // namespace

OrvaneOutputWnd::OrvaneOutputWnd(QWidget* parent)
    : OrvaneOutputWnd(wyr::windows::config::ConfigMgr::instance(), parent) {}

OrvaneOutputWnd::OrvaneOutputWnd(const wyr::windows::config::ConfigMgr& config, QWidget* parent)
    : QWidget(parent), _settings(config, std::wstring()), _pixelRate(_settings.pixelRate()),
      _noiseFloor(_settings.noiseFloor()) {
    setObjectName(QStringLiteral("outputWnd"));
    setAccessibleName(QStringLiteral("Live output"));
    // Every pixel comes from the cached background, so nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    _sizingEnd.setSingleShot(true);
    _sizingEnd.setInterval(kSizingGapMs);
    connect(&_sizingEnd, &QTimer::timeout, this, [this] {
        _sizing = false;
        update();
    });
    _paintLater.setSingleShot(true);
    _paintLater.setTimerType(Qt::PreciseTimer);
    connect(&_paintLater, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    // The ring is sized by the first resize event, which comes before the window
    // is first shown; the size a widget has before that means nothing.
    describe();
}

OrvaneOutputWnd::~OrvaneOutputWnd() = default;

void OrvaneOutputWnd::subscribe(device::OrvaneInterface& device) {
    _subscription =
        device.subscribe([this](const device::tagNMORVANEHDR* header) { orvaneCallback(header); });
}

void OrvaneOutputWnd::clear() {
    _ring.clear();
    describe();
    update();
}

void OrvaneOutputWnd::orvaneCallback(const device::tagNMORVANEHDR* header) {
    if (header == nullptr || header->type == nullptr) {
        return;
    }
    log(LogVerbosity::DebugLevel4, kCallbackContext, L"OrvaneNotification - Message ID [%llu], type[%d][%ls]",
        static_cast<unsigned long long>(header->id), header->type->value(), header->type->name().c_str());
    if (const auto* reading = OrvaneNotification::as<OrvaneReadingNotification>(header)) {
        _ring.push_back(*reading);
        describe();
        requestPaint();
    } else if (*header->type == OrvaneNotificationType::NotifyDisconnect) {
        // The last picture stays until the view clears it at the next scan.
        _subscription.disconnect();
    }
}

void OrvaneOutputWnd::requestPaint() {
    if (_paintLater.isActive()) {
        return;
    }
    const qint64 since = _lastPaint.isValid() ? _lastPaint.elapsed() : kMinPaintIntervalMs;
    if (since >= kMinPaintIntervalMs) {
        update();
    } else {
        _paintLater.start(static_cast<int>(kMinPaintIntervalMs - since));
    }
}

std::array<QRectF, OrvaneOutputWnd::kLanes> OrvaneOutputWnd::lanes(QSizeF size) {
    const double left = 3.5;
    const double right = size.width() + 0.5 - 3.0;
    const double bottomLimit = size.height() + 0.5 - 2.0;
    double top = 2.5;
    const double h = bottomLimit - top;
    double t = h - 6.0; // room for the two 3-pixel gaps
    if (std::fmod(t, 3.0) >= 2.0) {
        top = 3.5;
        t -= 2.0;
    } else {
        t -= 1.0;
    }
    double laneWidth = std::max(right - left, 0.0);
    double laneHeight = t / 3.0;
    if (laneWidth <= 0.0 || laneHeight <= 0.0) {
        laneHeight = 0.0;
    }
    std::array<QRectF, kLanes> result;
    result[0] = QRectF(left, top, laneWidth, laneHeight);
    for (std::size_t k = 1; k < result.size(); ++k) {
        result[k] = result[k - 1].translated(0.0, laneHeight + 3.0);
    }
    return result;
}

double OrvaneOutputWnd::barHeight(float reading, double laneHeight, bool filtered, float noiseFloor) {
    float value = 0.0F;
    if (filtered) {
        value = reading >= noiseFloor ? (reading - noiseFloor) * 0.25F : 0.0F;
    } else {
        value = reading / kFullScale;
    }
    const double bar = laneHeight * static_cast<double>(value);
    // Written so that NaN keeps the floor as well.
    return bar >= 2.0 ? bar : 2.0;
}

QSize OrvaneOutputWnd::sizeHint() const {
    return {600, 300};
}

QSize OrvaneOutputWnd::minimumSizeHint() const {
    return {60, 40};
}

void OrvaneOutputWnd::growRing() {
    const float needed = std::ceil(static_cast<float>(width()) / static_cast<float>(_pixelRate));
    if (needed > static_cast<float>(_ring.capacity())) {
        _ring.set_capacity(static_cast<std::size_t>(needed));
    }
}

void OrvaneOutputWnd::describe() {
    QString text = QStringLiteral("%1 of %2 records").arg(_ring.size()).arg(_ring.capacity());
    if (!_ring.empty()) {
        const auto& newest = _ring.back();
        text += QStringLiteral("; latest %1 %2 %3")
                    .arg(static_cast<double>(newest.reading1), 0, 'f', 3)
                    .arg(static_cast<double>(newest.reading2), 0, 'f', 3)
                    .arg(static_cast<double>(newest.reading3), 0, 'f', 3);
    }
    setAccessibleDescription(text);
}

void OrvaneOutputWnd::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    growRing();
    describe();
    _backgroundStale = true;
    const bool following = _lastResize.isValid() && _lastResize.elapsed() < kSizingGapMs;
    _lastResize.start();
    if (following) {
        _sizing = true;
        _sizingEnd.start();
    }
    update();
}

void OrvaneOutputWnd::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        _backgroundStale = true;
        update();
    }
}

void OrvaneOutputWnd::paintEvent(QPaintEvent*) {
    _lastPaint.start();
    if (width() <= 0 || height() <= 0) {
        return;
    }
    if (_backgroundStale || _background.devicePixelRatio() != devicePixelRatioF()) {
        drawBackground();
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, _background);
    if (!_sizing) {
        drawTraces(painter, lanes(size()), _settings.filtering());
    }
}

void OrvaneOutputWnd::drawBackground() {
    _backgroundStale = false;
    const qreal ratio = devicePixelRatioF();
    _background = QPixmap(size() * ratio);
    _background.setDevicePixelRatio(ratio);
    _background.fill(Qt::black);
    QPainter painter(&_background);
    // Half-pixel coordinates put antialiased 1-pixel lines exactly on pixels.
    painter.setRenderHint(QPainter::Antialiasing);
    QPen frame(palette().color(QPalette::Window), 1.0);
    frame.setJoinStyle(Qt::MiterJoin);
    QPen grid(kGridColour, 1.0);
    grid.setCapStyle(Qt::FlatCap);
    grid.setDashPattern({3.0, 3.0});
    for (const QRectF& lane : lanes(size())) {
        if (lane.width() <= 0.0 || lane.height() <= 0.0) {
            continue;
        }
        painter.setPen(frame);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(lane);
        // One eighth of the lane, to the nearest half pixel.
        const double step = std::floor(lane.height() * 0.125 * 2.0 + 0.5) * 0.5;
        if (step <= 0.0) {
            continue;
        }
        const QRectF inner = inside(lane);
        painter.setPen(grid);
        for (double y = inner.top() + step; y < inner.bottom(); y += step) {
            painter.drawLine(QPointF(inner.left(), y), QPointF(inner.right(), y));
        }
    }
}

void OrvaneOutputWnd::drawTraces(QPainter& painter, const std::array<QRectF, kLanes>& geometry,
                                 bool filtered) {
    painter.setRenderHint(QPainter::Antialiasing);
    if (!_ring.empty() && geometry[0].width() > 0.0) {
        std::array<QRectF, kLanes> inner;
        for (std::size_t c = 0; c < geometry.size(); ++c) {
            inner[c] = inside(geometry[c]);
            _paths[c].clear();
            _paths[c].setFillRule(Qt::WindingFill);
            _paths[c].moveTo(geometry[c].bottomRight());
        }
        const double left = geometry[0].left();
        const double right = geometry[0].right();
        const double step = _pixelRate * 0.5;
        double x = right;
        double lastX = 0.0;
        bool anyVertex = false;
        for (auto record = _ring.rbegin(); record != _ring.rend(); ++record) {
            x -= step;
            if (x < left) {
                break;
            }
            for (std::size_t c = 0; c < geometry.size(); ++c) {
                const double bar = barHeight(channel(*record, static_cast<int>(c)), geometry[c].height(),
                                             filtered, _noiseFloor);
                const double y = std::max(inner[c].bottom() - bar, inner[c].top());
                _paths[c].lineTo(x, y);
            }
            lastX = x;
            anyVertex = true;
            x -= step;
        }
        // An empty ring, or a window too narrow for one record, fills nothing.
        if (anyVertex) {
            painter.setPen(Qt::NoPen);
            for (std::size_t c = 0; c < geometry.size(); ++c) {
                if (!drawable(geometry[c])) {
                    continue;
                }
                _paths[c].lineTo(lastX, inner[c].bottom());
                _paths[c].lineTo(right, inner[c].bottom());
                _paths[c].closeSubpath();
                painter.fillPath(_paths[c], kTraceColours[c]);
            }
        }
    }
    if (filtered) {
        return;
    }
    painter.setPen(QPen(kNoiseFloorColour, 1.0, Qt::SolidLine, Qt::FlatCap));
    for (const QRectF& lane : geometry) {
        if (!drawable(lane)) {
            continue;
        }
        const QRectF inner = inside(lane);
        const double y = inner.bottom() - lane.height() * static_cast<double>(_noiseFloor / kFullScale);
        // A noise floor outside the lane's range marks nothing rather than another lane.
        if (!(y >= inner.top() && y <= inner.bottom())) {
            continue;
        }
        painter.drawLine(QPointF(inner.left() + 1.0, y), QPointF(inner.right() - 1.0, y));
        painter.drawLine(QPointF(inner.left() + 1.0, y + 1.0), QPointF(inner.right() - 1.0, y + 1.0));
    }
}

} // namespace app
