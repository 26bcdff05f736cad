#pragma once

#include <QString>
#include <functional>

namespace controls {

// One desktop alert: what DesktopAlertMgr shows in a DesktopAlertWnd.
struct DesktopAlert {
    enum class Icon { Warning, Information };
    using ClickCallback = std::function<void(int id)>;

    int id = 0;
    int displayTimeMs = 4000; // opaque this long after it is shown, then it fades
    int fadeTimeMs = 1500;    // from opaque to gone; at least 10
    QString title;            // an optional title line; the system's alerts have none
    QString text;             // never empty
    Icon icon = Icon::Information;
    ClickCallback onClick; // may be empty; receives the id when the alert is clicked
};

} // namespace controls
