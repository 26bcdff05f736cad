#pragma once

#include "controls/DesktopAlert.h"

#include <QObject>
#include <QRect>
#include <QTimer>
#include <map>
#include <memory>
#include <vector>

namespace controls {

class DesktopAlertWnd;

// Shows desktop alerts: small windows at the bottom right of the primary
// screen's available area (5 pixels from its right and bottom edges), 225 pixels
// wide and 32 to 225 high as their text needs, stacked upwards 5 pixels apart,
// the oldest lowest. Each stays 4000 ms, then fades for the fade time (1500 ms)
// and goes; a click or its close box ends it at once, hovering holds it.
//
//     controls::DesktopAlertMgr::instance().show("Voltage fluctuation!",
//                                                controls::DesktopAlert::Icon::Warning);
//     ...
//     controls::DesktopAlertMgr::destroyInstance(); // at exit, before the QApplication goes
//
// Everything runs on the user-interface thread. An animation tick (animate(),
// first 100 ms after the first alert, then every 10 ms, and only while alerts
// exist) removes finished alerts, shows new ones where there is room, and slides
// the others down into a freed place by at most 5 pixels a tick. An alert that
// does not fit above the others waits, unshown, until there is room.
//
// Placement needs a window system that lets a program place its own windows: X11
// (the xcb platform), or XWayland on a Wayland desktop (QT_QPA_PLATFORM=xcb); a
// native Wayland session decides window positions itself. The offscreen platform
// places them as asked, which the tests use.
class DesktopAlertMgr : public QObject {
    Q_OBJECT

public:
    static constexpr int kRightMargin = 5;
    static constexpr int kBottomMargin = 5;
    static constexpr int kWidth = 225;
    static constexpr int kMinHeight = 32;
    static constexpr int kMaxHeight = 225;
    static constexpr int kSpacing = 5;
    static constexpr int kSlideStep = 5;
    static constexpr int kFirstTickMs = 100;
    static constexpr int kTickMs = 10;
    static constexpr int kDisplayTimeMs = 4000;
    static constexpr int kDefaultFadeTimeMs = 1500;
    static constexpr int kMinFadeTimeMs = 10;

    // The process's manager, created on first use (after the QApplication).
    static DesktopAlertMgr& instance();
    // The manager if it was created, else null.
    static DesktopAlertMgr* existing() noexcept;
    // Destroys the manager and its alerts, if it exists.
    static void destroyInstance();

    explicit DesktopAlertMgr(QObject* parent = nullptr);
    ~DesktopAlertMgr() override;

    // Shows an alert at the next tick and returns its id (1, 2, ...); -1 for an
    // empty text, which shows nothing. The alert gets the display time 4000 ms
    // and the manager's fade time.
    int show(const QString& text, DesktopAlert::Icon icon, DesktopAlert::ClickCallback onClick = {});
    // The same with a whole record (a title ...); its id and times are set here.
    int show(DesktopAlert alert);

    // Stops the animation and destroys every alert.
    void destroy();

    // False, and no change, below kMinFadeTimeMs.
    bool setFadeTime(int fadeTimeMs);
    int fadeTime() const noexcept { return _fadeTime; }

    // Where alerts go: the primary screen's available area, unless an area was
    // set (an empty one follows the screen again).
    QRect workArea() const;
    void setWorkArea(const QRect& area) { _workArea = area; }

    // One animation tick; the timer calls it, tests may call it directly.
    void animate();
    bool isAnimating() const noexcept { return _timer.isActive(); }

    // The alerts held, oldest first, and one of them by id (null when gone).
    std::vector<DesktopAlertWnd*> alerts() const;
    DesktopAlertWnd* alert(int id) const;

private:
    struct Entry {
        DesktopAlert alert;
        int width;
        int height;
        std::unique_ptr<DesktopAlertWnd> window;
    };

    void onTimer();

    int _lastId = 0;
    std::map<int, Entry> _alerts;
    int _fadeTime = kDefaultFadeTimeMs;
    QRect _workArea;
    QTimer _timer;
};

} // namespace controls
