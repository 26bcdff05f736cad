#include "controls/DesktopAlertWnd.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <algorithm>

namespace controls {

namespace {

constexpr int kSideMargin = 6; // the inner area: the window less 6 left and right
constexpr int kEndMargin = 2;  // and 2 top and bottom
constexpr int kTitleHeight = 16;
constexpr int kSeparatorHeight = 2;
constexpr int kIconSize = 32;
constexpr int kGap = 6;     // between the icon and the text
constexpr int kPadding = 4; // above and below the icon and text

// The close box: a small cross that highlights under the mouse.
class CloseBox : public QAbstractButton {
public:
    explicit CloseBox(QWidget* parent) : QAbstractButton(parent) {
        setObjectName(QStringLiteral("closeButton"));
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_Hover);
        setAccessibleName(QStringLiteral("Close"));
        setFixedSize(DesktopAlertWnd::kCloseBoxSize, DesktopAlertWnd::kCloseBoxSize);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QRect box = rect();
        if (underMouse()) {
            painter.fillRect(box, palette().color(QPalette::Midlight));
        }
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(palette().color(QPalette::ButtonText), 1.5));
        const QRectF cross = QRectF(box).adjusted(2.5, 2.5, -2.5, -2.5);
        painter.drawLine(cross.topLeft(), cross.bottomRight());
        painter.drawLine(cross.topRight(), cross.bottomLeft());
    }
};

QStyle::StandardPixmap standardIcon(DesktopAlert::Icon icon) {
    return icon == DesktopAlert::Icon::Warning ? QStyle::SP_MessageBoxWarning
                                               : QStyle::SP_MessageBoxInformation;
}

} // namespace

DesktopAlertWnd::DesktopAlertWnd(DesktopAlert alert)
    : QWidget(nullptr,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus),
      _alert(std::move(alert)) {
    setObjectName(QStringLiteral("DesktopAlertWnd"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_QuitOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setBackgroundRole(QPalette::Button);
    setForegroundRole(QPalette::ButtonText);
    setAutoFillBackground(true);
    setAccessibleName(_alert.text);
    setAccessibleDescription(_alert.icon == DesktopAlert::Icon::Warning ? QStringLiteral("Warning")
                                                                        : QStringLiteral("Information"));
    setToolTip({});

    _close = new CloseBox(this);
    connect(_close, &QAbstractButton::clicked, this, &DesktopAlertWnd::finish);

    _display.setSingleShot(true);
    connect(&_display, &QTimer::timeout, this, &DesktopAlertWnd::displayTimeElapsed);
    _fade.setInterval(kFadeTickMs);
    connect(&_fade, &QTimer::timeout, this, &DesktopAlertWnd::fadeTick);
}

DesktopAlertWnd::~DesktopAlertWnd() = default;

DesktopAlertWnd::Layout DesktopAlertWnd::layoutFor(int width) const {
    Layout layout;
    const int left = kSideMargin;
    const int right = width - kSideMargin; // exclusive
    int top = kEndMargin;
    layout.closeBox =
        QRect(right - kCloseBoxSize, top + (_alert.title.isEmpty() ? 1 : 3), kCloseBoxSize, kCloseBoxSize);
    if (!_alert.title.isEmpty()) {
        layout.title = QRect(left, top, right - left - kCloseBoxSize - kGap, kTitleHeight);
        layout.separator = QRect(left, top + kTitleHeight, right - left, kSeparatorHeight);
        top += kTitleHeight + kSeparatorHeight;
    }
    top += kPadding;
    layout.icon = QRect(left, top, kIconSize, kIconSize);
    const int textLeft = left + kIconSize + kGap;
    // Without a title the close box sits beside the text.
    const int textRight = _alert.title.isEmpty() ? layout.closeBox.left() - kGap / 2 : right;
    const int textWidth = std::max(1, textRight - textLeft);
    const QRect measured =
        fontMetrics().boundingRect(QRect(0, 0, textWidth, 100000), Qt::TextWordWrap, _alert.text);
    layout.text = QRect(textLeft, top, textWidth, measured.height());
    // A short text sits level with the middle of the icon.
    if (measured.height() < kIconSize) {
        layout.text.moveTop(top + (kIconSize - measured.height()) / 2);
    }
    return layout;
}

int DesktopAlertWnd::heightForWidth(int width) const {
    const Layout layout = layoutFor(width);
    const int content = std::max(layout.icon.bottom(), layout.text.bottom()) + 1;
    return content + kPadding + kEndMargin;
}

void DesktopAlertWnd::place(const QRect& geometry) {
    setGeometry(geometry);
    applyOpacity();
    show();
    _placed = true;
    // The display time counts from when it can be seen: an alert that waited for
    // room is not spent before it appears.
    _display.start(_alert.displayTimeMs);
}

void DesktopAlertWnd::displayTimeElapsed() {
    _display.stop();
    if (_finished || _fadeStarted) {
        return;
    }
    _fadeStep = std::max(1, 255 / std::max(1, _alert.fadeTimeMs / kFadeTickMs));
    _fadeStarted = true;
    _fade.start();
}

void DesktopAlertWnd::fadeTick() {
    if (!_fadeStarted || _finished || _hovered) {
        return;
    }
    _opacity = std::max(0, _opacity - _fadeStep);
    applyOpacity();
    if (_opacity == 0) {
        _fade.stop();
        _finished = true;
    }
}

void DesktopAlertWnd::finish() {
    _display.stop();
    _fade.stop();
    _finished = true;
}

void DesktopAlertWnd::applyOpacity() {
    setWindowOpacity(_opacity / 255.0);
}

void DesktopAlertWnd::hover() {
    if (isFading() && _opacity != 255) {
        _opacity = 255;
        applyOpacity();
    }
    _hovered = true;
}

void DesktopAlertWnd::enterEvent(QEnterEvent* event) {
    hover();
    QWidget::enterEvent(event);
}

void DesktopAlertWnd::mouseMoveEvent(QMouseEvent* event) {
    hover();
    QWidget::mouseMoveEvent(event);
}

void DesktopAlertWnd::leaveEvent(QEvent* event) {
    _hovered = false;
    QWidget::leaveEvent(event);
}

void DesktopAlertWnd::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    if (_finished) {
        return;
    }
    finish();
    // A copy: the callback may destroy the alerts, this one included.
    const auto onClick = _alert.onClick;
    if (onClick) {
        onClick(_alert.id);
    }
}

void DesktopAlertWnd::resizeEvent(QResizeEvent* event) {
    _close->move(layoutFor(width()).closeBox.topLeft());
    QWidget::resizeEvent(event);
}

void DesktopAlertWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const Layout layout = layoutFor(width());
    const QPalette& colours = palette();
    painter.setPen(colours.color(QPalette::Dark));
    painter.drawRect(rect().adjusted(0, 0, -1, -1)); // the thin border

    painter.setPen(colours.color(QPalette::ButtonText));
    if (!_alert.title.isEmpty()) {
        QFont bold = font();
        bold.setBold(true);
        painter.setFont(bold);
        painter.drawText(
            layout.title, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
            painter.fontMetrics().elidedText(_alert.title, Qt::ElideRight, layout.title.width()));
        painter.setFont(font());
        painter.fillRect(layout.separator.adjusted(0, 0, 0, -1), colours.color(QPalette::Mid));
        painter.fillRect(layout.separator.adjusted(0, 1, 0, 0), colours.color(QPalette::Light));
    }
    const QIcon icon = QApplication::style()->standardIcon(standardIcon(_alert.icon));
    icon.paint(&painter, layout.icon);
    // Text beyond the tallest alert is cut at the bottom edge of the inner area.
    const QRect textArea = layout.text.intersected(rect().adjusted(0, 0, 0, -(kPadding + kEndMargin)));
    painter.setClipRect(textArea);
    painter.drawText(layout.text, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, _alert.text);
}

} // namespace controls
