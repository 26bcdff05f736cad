#pragma once

#include "controls/DesktopAlert.h"

#include <QTimer>
#include <QWidget>

class QAbstractButton;

namespace controls {

// One desktop alert window: a frameless, always-on-top tool window that never
// takes the keyboard focus, with an optional title line and separator, a 10 × 10
// close box at the top right, the icon and the wrapped text on the button-face
// colours. DesktopAlertMgr creates, places, moves and destroys it.
//
// Lifecycle: created hidden -> place() shows it opaque and starts its display
// time -> fading (the opacity drops by 255 / (fade time / 10) every 10 ms) ->
// finished (faded out, clicked or closed); the manager destroys a finished alert
// at its next tick. While the mouse is over it a fading alert is opaque again and
// holds; it fades from opaque when the mouse leaves.
//
// The timers call displayTimeElapsed() and fadeTick(); tests call them directly
// instead of waiting. Accessible name: the text; description: the icon's kind.
class DesktopAlertWnd : public QWidget {
    Q_OBJECT

public:
    static constexpr int kFadeTickMs = 10;
    static constexpr int kCloseBoxSize = 10;

    explicit DesktopAlertWnd(DesktopAlert alert);
    ~DesktopAlertWnd() override;

    const DesktopAlert& alert() const noexcept { return _alert; }
    // The height its title, icon and text need at this width (unclamped).
    int heightForWidth(int width) const override;
    bool hasHeightForWidth() const override { return true; }

    // Places and shows it without activating it, and starts its display time.
    void place(const QRect& geometry);
    bool isPlaced() const noexcept { return _placed; }

    void displayTimeElapsed();
    void fadeTick();
    void finish();

    int opacity() const noexcept { return _opacity; }
    int fadeStep() const noexcept { return _fadeStep; }
    bool isFading() const noexcept { return _fadeStarted && !_finished; }
    bool isHovered() const noexcept { return _hovered; }
    bool isFinished() const noexcept { return _finished; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Layout {
        QRect title;
        QRect separator;
        QRect closeBox;
        QRect icon;
        QRect text;
    };
    // Where each part goes in a window of this width; text height as measured.
    Layout layoutFor(int width) const;
    void hover();
    void applyOpacity();

    DesktopAlert _alert;
    QAbstractButton* _close = nullptr;
    QTimer _display;
    QTimer _fade;
    int _opacity = 255;
    int _fadeStep = 1;
    bool _fadeStarted = false;
    bool _hovered = false;
    bool _finished = false;
    bool _placed = false;
};

} // namespace controls
