#include "controls/DesktopAlertMgr.h"

#include "controls/DesktopAlertWnd.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

namespace controls {

namespace {
DesktopAlertMgr* s_instance = nullptr;
}

DesktopAlertMgr& DesktopAlertMgr::instance() {
    if (s_instance == nullptr) {
        s_instance = new DesktopAlertMgr;
    }
    return *s_instance;
}

DesktopAlertMgr* DesktopAlertMgr::existing() noexcept {
    return s_instance;
}

void DesktopAlertMgr::destroyInstance() {
    delete s_instance;
    s_instance = nullptr;
}

DesktopAlertMgr::DesktopAlertMgr(QObject* parent) : QObject(parent) {
    connect(&_timer, &QTimer::timeout, this, &DesktopAlertMgr::onTimer);
}

DesktopAlertMgr::~DesktopAlertMgr() {
    destroy();
    if (s_instance == this) {
        s_instance = nullptr;
    }
}

int DesktopAlertMgr::show(const QString& text, DesktopAlert::Icon icon, DesktopAlert::ClickCallback onClick) {
    DesktopAlert alert;
    alert.text = text;
    alert.icon = icon;
    alert.onClick = std::move(onClick);
    return show(std::move(alert));
}

int DesktopAlertMgr::show(DesktopAlert alert) {
    if (alert.text.isEmpty()) {
        return -1;
    }
    alert.id = ++_lastId;
    alert.displayTimeMs = kDisplayTimeMs;
    alert.fadeTimeMs = _fadeTime;
    auto window = std::make_unique<DesktopAlertWnd>(alert);
    const int height = std::clamp(window->heightForWidth(kWidth), kMinHeight, kMaxHeight);
    if (!_timer.isActive()) {
        _timer.start(kFirstTickMs);
    }
    const int id = alert.id;
    _alerts.emplace(id, Entry{std::move(alert), kWidth, height, std::move(window)});
    return id;
}

void DesktopAlertMgr::destroy() {
    _timer.stop();
    _alerts.clear();
}

bool DesktopAlertMgr::setFadeTime(int fadeTimeMs) {
    if (fadeTimeMs < kMinFadeTimeMs) {
        return false;
    }
    _fadeTime = fadeTimeMs;
    return true;
}

QRect DesktopAlertMgr::workArea() const {
    if (!_workArea.isEmpty()) {
        return _workArea;
    }
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

void DesktopAlertMgr::onTimer() {
    if (_timer.interval() != kTickMs) {
        _timer.setInterval(kTickMs); // after the first tick, every 10 ms
    }
    animate();
}

void DesktopAlertMgr::animate() {
    if (_alerts.empty()) {
        _timer.stop();
        return;
    }
    const QRect area = workArea();
    int y = area.top() + area.height() - kBottomMargin; // the bottom edge, exclusive
    for (auto it = _alerts.begin(); it != _alerts.end();) {
        Entry& entry = it->second;
        DesktopAlertWnd& window = *entry.window;
        if (window.isFinished()) {
            it = _alerts.erase(it);
            continue;
        }
        const int target = y - entry.height;
        if (!window.isPlaced()) {
            if (target < area.top()) {
                break; // no room yet: it and the newer ones wait
            }
            const int x = area.left() + area.width() - kRightMargin - entry.width;
            window.place(QRect(x, target, entry.width, entry.height));
        } else if (target > window.y()) {
            window.move(window.x(), std::min(target, window.y() + kSlideStep));
        }
        y = window.y() - kSpacing;
        ++it;
    }
    if (_alerts.empty()) {
        _timer.stop(); // the last removal ends the animation
    }
}

std::vector<DesktopAlertWnd*> DesktopAlertMgr::alerts() const {
    std::vector<DesktopAlertWnd*> windows;
    for (const auto& [id, entry] : _alerts) {
        windows.push_back(entry.window.get());
    }
    return windows;
}

DesktopAlertWnd* DesktopAlertMgr::alert(int id) const {
    const auto it = _alerts.find(id);
    return it == _alerts.end() ? nullptr : it->second.window.get();
}

} // namespace controls
