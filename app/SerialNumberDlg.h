#pragma once

#include <QDialog>
#include <cstdint>

class QLineEdit;

namespace app {

// "Set Serial No": asks for the serial number an image is programmed with. The
// field takes digits only; OK refuses an empty field or a number above 65535
// with a message and stays open. Tests find the field as "serialNumber" and the
// buttons as "ok" and "cancel".
class SerialNumberDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kRangeMessage = "Please enter an integer between 0 and 65535.";
    static constexpr const char* kEmptyMessage = "Please enter an integer.";

    explicit SerialNumberDlg(QWidget* parent = nullptr);
    ~SerialNumberDlg() override;

    // The number accepted with OK.
    std::uint16_t value() const noexcept { return _value; }
    void setText(const QString& text);

public Q_SLOTS:
    void accept() override;

private:
    QLineEdit* _entry = nullptr;
    std::uint16_t _value = 0;
};

} // namespace app
