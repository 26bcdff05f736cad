#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <vector>

namespace controls {

// A seven-segment style display of a short text ("-----", " 24.1"): digits, a
// few letters, '-', '_' and blanks, each in its own cell; a '.' lights the
// decimal point of the cell before it. Unlit segments show faintly. Anything it
// cannot draw is a blank cell.
//
// Looks, as (segment, background, frame) colours:
//   Idle     RGB 0,150,0     on black,         white frame  (no reading)
//   InRange  RGB 100,255,100 on black,         white frame
//   Alarm    black           on RGB 237,7,7,   black frame
//
// Accessible name: "Segment display" unless the owner sets another (e.g.
// "Input Voltage"); accessible description: the text and the look, as
// "' 24.1', in range".
class SegmentDisplayCtrl : public QWidget {
    Q_OBJECT

public:
    enum class Look { Idle, InRange, Alarm };
    struct Colours {
        QColor segment;
        QColor background;
        QColor frame;
    };

    explicit SegmentDisplayCtrl(QWidget* parent = nullptr);
    ~SegmentDisplayCtrl() override;

    void setText(const QString& text);
    const QString& text() const noexcept { return _text; }
    void setLook(Look look);
    Look look() const noexcept { return _look; }

    static Colours coloursOf(Look look);
    static QString lookName(Look look);
    // The lit segments of a character, a to g as bits 0 to 6; 0 for a blank or
    // a character it cannot draw.
    static std::uint8_t segmentsOf(QChar character);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Cell {
        std::uint8_t segments = 0;
        bool point = false;
    };
    static std::vector<Cell> cellsOf(const QString& text);
    void describe();

    QString _text;
    Look _look = Look::Idle;
    std::vector<Cell> _cells;
};

} // namespace controls
