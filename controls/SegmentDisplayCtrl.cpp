#include "controls/SegmentDisplayCtrl.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>

namespace controls {

namespace {

// Cell geometry in units of a cell 10 wide and 18 high.
constexpr double kCellWidth = 10.0;
constexpr double kCellHeight = 18.0;
constexpr double kThickness = 2.0;
constexpr double kGap = 0.35;        // between neighbouring segments
constexpr double kAdvance = 13.0;    // one cell to the next, the point between them
constexpr double kMargin = 3.0;      // inside the frame
constexpr double kSlant = 0.08;      // a slight italic
constexpr double kUnlitShare = 0.13; // how much an unlit segment shows

QPolygonF horizontal(double y, double x0, double x1) {
    const double h = kThickness / 2;
    x0 += kGap;
    x1 -= kGap;
    return QPolygonF({{x0, y}, {x0 + h, y - h}, {x1 - h, y - h}, {x1, y}, {x1 - h, y + h}, {x0 + h, y + h}});
}

QPolygonF vertical(double x, double y0, double y1) {
    const double h = kThickness / 2;
    y0 += kGap;
    y1 -= kGap;
    return QPolygonF({{x, y0}, {x + h, y0 + h}, {x + h, y1 - h}, {x, y1}, {x - h, y1 - h}, {x - h, y0 + h}});
}

// Segments a to g of one cell.
std::vector<QPolygonF> segmentShapes() {
    const double h = kThickness / 2;
    const double middle = kCellHeight / 2;
    return {
        horizontal(h, h, kCellWidth - h),                  // a
        vertical(kCellWidth - h, h, middle),               // b
        vertical(kCellWidth - h, middle, kCellHeight - h), // c
        horizontal(kCellHeight - h, h, kCellWidth - h),    // d
        vertical(h, middle, kCellHeight - h),              // e
        vertical(h, h, middle),                            // f
        horizontal(middle, h, kCellWidth - h),             // g
    };
}

QColor blend(const QColor& over, const QColor& under, double share) {
    return QColor::fromRgbF(static_cast<float>(over.redF() * share + under.redF() * (1 - share)),
                            static_cast<float>(over.greenF() * share + under.greenF() * (1 - share)),
                            static_cast<float>(over.blueF() * share + under.blueF() * (1 - share)));
}

} // namespace

SegmentDisplayCtrl::SegmentDisplayCtrl(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("segmentDisplay"));
    setAccessibleName(QStringLiteral("Segment display"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setText(QStringLiteral("-----"));
}

SegmentDisplayCtrl::~SegmentDisplayCtrl() = default;

void SegmentDisplayCtrl::setText(const QString& text) {
    _text = text;
    _cells = cellsOf(text);
    describe();
    updateGeometry();
    update();
}

void SegmentDisplayCtrl::setLook(Look look) {
    _look = look;
    describe();
    update();
}

void SegmentDisplayCtrl::describe() {
    setAccessibleDescription(QStringLiteral("'%1', %2").arg(_text, lookName(_look)));
}

SegmentDisplayCtrl::Colours SegmentDisplayCtrl::coloursOf(Look look) {
    switch (look) {
    case Look::Idle:
        return {QColor(0, 150, 0), Qt::black, Qt::white};
    case Look::InRange:
        return {QColor(100, 255, 100), Qt::black, Qt::white};
    case Look::Alarm:
        return {Qt::black, QColor(237, 7, 7), Qt::black};
    }
    return {};
}

QString SegmentDisplayCtrl::lookName(Look look) {
    switch (look) {
    case Look::Idle:
        return QStringLiteral("idle");
    case Look::InRange:
        return QStringLiteral("in range");
    case Look::Alarm:
        return QStringLiteral("alarm");
    }
    return {};
}

std::uint8_t SegmentDisplayCtrl::segmentsOf(QChar character) {
    static const struct {
        char16_t character;
        std::uint8_t segments;
    } kTable[] = {
        {u'0', 0x3F}, {u'1', 0x06}, {u'2', 0x5B}, {u'3', 0x4F}, {u'4', 0x66}, {u'5', 0x6D},
        {u'6', 0x7D}, {u'7', 0x07}, {u'8', 0x7F}, {u'9', 0x6F}, {u'-', 0x40}, {u'_', 0x08},
        {u'A', 0x77}, {u'b', 0x7C}, {u'C', 0x39}, {u'c', 0x58}, {u'd', 0x5E}, {u'E', 0x79},
        {u'F', 0x71}, {u'H', 0x76}, {u'h', 0x74}, {u'L', 0x38}, {u'n', 0x54}, {u'o', 0x5C},
        {u'P', 0x73}, {u'r', 0x50}, {u't', 0x78}, {u'U', 0x3E}, {u'u', 0x1C}, {u'y', 0x6E},
    };
    // Exact case first, then the other case (a 'B' is drawn as 'b').
    for (const QChar wanted : {character, character.toLower(), character.toUpper()}) {
        for (const auto& entry : kTable) {
            if (entry.character == wanted.unicode()) {
                return entry.segments;
            }
        }
    }
    return 0;
}

std::vector<SegmentDisplayCtrl::Cell> SegmentDisplayCtrl::cellsOf(const QString& text) {
    std::vector<Cell> cells;
    for (const QChar character : text) {
        if (character == QLatin1Char('.') && !cells.empty() && !cells.back().point) {
            cells.back().point = true;
        } else if (character == QLatin1Char('.')) {
            cells.push_back(Cell{0, true});
        } else {
            cells.push_back(Cell{segmentsOf(character), false});
        }
    }
    return cells;
}

QSize SegmentDisplayCtrl::sizeHint() const {
    const double scale = 1.6;
    const auto cells = static_cast<double>(std::max<std::size_t>(_cells.size(), 1));
    const double width = 2 * kMargin + kCellWidth + (cells - 1) * kAdvance + 2;
    const double height = 2 * kMargin + kCellHeight;
    return {static_cast<int>(width * scale + 4), static_cast<int>(height * scale + 4)};
}

void SegmentDisplayCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const Colours colours = coloursOf(_look);
    // A 2-pixel frame around the background, square-cornered.
    painter.fillRect(rect(), colours.frame);
    painter.fillRect(rect().adjusted(2, 2, -2, -2), colours.background);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(1, 1, -1, -1);

    // Right-aligned cells scaled to the height, as a meter shows its reading.
    const auto count = static_cast<double>(std::max<std::size_t>(_cells.size(), 1));
    const double unitsWide = kCellWidth + (count - 1) * kAdvance + 2;
    const double scale = std::min((area.height() - 4) / (kCellHeight + 2 * kMargin),
                                  (area.width() - 4) / (unitsWide + 2 * kMargin));
    if (scale <= 0) {
        return;
    }
    painter.translate(area.right() - 2 - (unitsWide + kMargin) * scale, area.top() + 2 + kMargin * scale);
    painter.scale(scale, scale);
    painter.setPen(Qt::NoPen);
    static const std::vector<QPolygonF> shapes = segmentShapes();
    const QColor unlit = blend(colours.segment, colours.background, kUnlitShare);
    QTransform slant;
    slant.shear(-kSlant, 0);
    slant.translate(kSlant * kCellHeight, 0);
    for (std::size_t i = 0; i < _cells.size(); ++i) {
        painter.save();
        painter.translate(static_cast<double>(i) * kAdvance, 0);
        painter.setTransform(slant, true);
        for (std::size_t s = 0; s < shapes.size(); ++s) {
            painter.setBrush((_cells[i].segments >> s) & 1U ? colours.segment : unlit);
            painter.drawPolygon(shapes[s]);
        }
        painter.setBrush(_cells[i].point ? colours.segment : unlit);
        painter.drawEllipse(QPointF(kCellWidth + 1.5, kCellHeight - kThickness / 2), kThickness / 2,
                            kThickness / 2);
        painter.restore();
    }
}

} // namespace controls
