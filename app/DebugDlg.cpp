#include "app/DebugDlg.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace app {

namespace {

struct FieldRow {
    const char* label;
    const char* name;
};

// Top to bottom, in the order of DebugPanel::Fields.
constexpr std::array<FieldRow, 12> kFieldRows{{{"Model :", "model"},
                                               {"Serial Number :", "serialNumber"},
                                               {"Firmware Revision :", "firmwareRevision"},
                                               {"Input Voltage :", "inputVoltage"},
                                               {"Antenna State :", "antennaState"},
                                               {"Streaming State :", "streamingState"},
                                               {"Frame Rate :", "frameRate"},
                                               {"Calculated Rate :", "calculatedRate"},
                                               {"Gain :", "gain"},
                                               {"ADC 1 :", "adc1"},
                                               {"ADC 2 :", "adc2"},
                                               {"ADC 3 :", "adc3"}}};

std::array<const std::wstring*, 12> fieldTexts(const DebugPanel::Fields& f) {
    return {&f.model,          &f.serialNumber, &f.firmwareRevision, &f.inputVoltage, &f.antennaState,
            &f.streamingState, &f.frameRate,    &f.calculatedRate,   &f.gain,         &f.adc1,
            &f.adc2,           &f.adc3};
}

QPushButton* pushButton(const QString& text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    // Enter in the gain entry must press "Set", never "Start".
    button->setAutoDefault(false);
    return button;
}

QToolButton* stepButton(Qt::ArrowType arrow, const char* name, const QString& tip, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setArrowType(arrow);
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    return button;
}

} // namespace

DebugDlg::DebugDlg(device::OrvaneInterface& device, QWidget* parent) : QDialog(parent), _panel(device) {
    setWindowTitle(QStringLiteral("Debug"));
    setObjectName(QStringLiteral("DebugDlg"));
    setModal(false);
    setAttribute(Qt::WA_ShowWithoutActivating);

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight);
    for (std::size_t i = 0; i < kFieldRows.size(); ++i) {
        auto* field = new QLineEdit(this);
        field->setObjectName(QString::fromLatin1(kFieldRows[i].name));
        field->setReadOnly(true);
        field->setFocusPolicy(Qt::NoFocus);
        // The window's colour behind the text tells the user these are not entries.
        QPalette palette = field->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Window));
        field->setPalette(palette);
        field->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 18);
        auto* label = new QLabel(QString::fromLatin1(kFieldRows[i].label), this);
        label->setBuddy(field);
        form->addRow(label, field);
        _fields[i] = field;
    }

    _start = pushButton(QStringLiteral("Start"), "start", this);
    _stop = pushButton(QStringLiteral("Stop"), "stop", this);
    _down = stepButton(Qt::DownArrow, "frameRateDown", QStringLiteral("Frame rate down"), this);
    _up = stepButton(Qt::UpArrow, "frameRateUp", QStringLiteral("Frame rate up"), this);
    _gainEntry = new QLineEdit(this);
    _gainEntry->setObjectName(QStringLiteral("gainEntry"));
    _gainEntry->setMaxLength(11);
    _gainEntry->setMaximumWidth(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 8);
    _set = pushButton(QStringLiteral("Set"), "set", this);
    _set->setDefault(true);

    auto* controls = new QGridLayout;
    auto* streaming = new QHBoxLayout;
    streaming->addWidget(_start);
    streaming->addWidget(_stop);
    streaming->addStretch();
    controls->addLayout(streaming, 0, 0, 1, 4);
    controls->addWidget(new QLabel(QStringLiteral("Frame Rate:"), this), 1, 0);
    auto* steps = new QHBoxLayout;
    steps->addWidget(_down);
    steps->addWidget(_up);
    steps->addStretch();
    controls->addLayout(steps, 1, 1, 1, 3);
    auto* gainLabel = new QLabel(QStringLiteral("Gain Adjustment:"), this);
    gainLabel->setBuddy(_gainEntry);
    controls->addWidget(gainLabel, 2, 0);
    controls->addWidget(_gainEntry, 2, 1);
    controls->addWidget(_set, 2, 2);
    controls->setColumnStretch(3, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addSpacing(6);
    layout->addLayout(controls);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(_start, &QPushButton::clicked, this, [this] { _panel.pressStart(); });
    connect(_stop, &QPushButton::clicked, this, [this] { _panel.pressStop(); });
    connect(_down, &QToolButton::clicked, this, [this] { _panel.pressFrameRateDown(); });
    connect(_up, &QToolButton::clicked, this, [this] { _panel.pressFrameRateUp(); });
    connect(_gainEntry, &QLineEdit::textChanged, this,
            [this](const QString& text) { _panel.gainEntryChanged(text.toStdWString()); });
    connect(_set, &QPushButton::clicked, this, &DebugDlg::pressSet);

    _panel.setChangedHandler([this] { showPanel(); });
    showPanel();
}

DebugDlg::~DebugDlg() {
    _panel.setChangedHandler({});
    _panel.close();
}

void DebugDlg::showEvent(QShowEvent* event) {
    if (!_panel.isOpen()) {
        _panel.open();
    }
    QDialog::showEvent(event);
}

// Not QDialog's own handler: that one rejects, and rejecting closes here.
void DebugDlg::closeEvent(QCloseEvent* event) {
    _panel.close();
    event->accept();
    Q_EMIT closed();
}

// Escape closes the window like its close box, so it stops following the device.
void DebugDlg::reject() {
    close();
}

void DebugDlg::showPanel() {
    const auto texts = fieldTexts(_panel.fields());
    for (std::size_t i = 0; i < _fields.size(); ++i) {
        const QString text = QString::fromStdWString(*texts[i]);
        if (_fields[i]->text() != text) {
            _fields[i]->setText(text);
        }
    }
    _start->setEnabled(_panel.startEnabled());
    _stop->setEnabled(_panel.stopEnabled());
    _down->setEnabled(_panel.frameRateStepsEnabled());
    _up->setEnabled(_panel.frameRateStepsEnabled());
    _set->setEnabled(_panel.setEnabled());
    const QString entry = QString::fromStdWString(_panel.gainEntry());
    if (_gainEntry->text() != entry) {
        _gainEntry->setText(entry);
    }
}

void DebugDlg::pressSet() {
    if (_panel.pressSet() == DebugPanel::GainResult::OutOfRange) {
        QMessageBox::warning(this, QStringLiteral("Orvane"), QString::fromLatin1(kRangeMessage));
        _gainEntry->setFocus();
    }
}

} // namespace app
