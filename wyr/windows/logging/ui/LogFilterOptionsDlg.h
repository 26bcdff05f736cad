#pragma once

#include <QDialog>
#include <cstdint>

class QListWidget;
class QPushButton;
class QShowEvent;

namespace wyr::windows::logging {

class ILogFilter;

// "Log Filter Options": every LogVerbosity by name in value order in the check
// list "Log Verbosity:", ticked when the mask holds it; the mask to apply is the
// OR of the ticked values.
//
// With a filter (a listener's), OK is hidden and "Update Verbosity" applies the
// mask to the filter at once, leaving the dialog open; the filter must outlive
// the dialog (the main frame destroys the dialog with the console). Without one,
// "Update Verbosity" is hidden and OK keeps the mask as the dialog's own, for the
// caller to read with mask(), and closes the dialog (accept()).
//
// The ticks are read from the mask whenever the dialog is shown. Tests find the
// list by objectName "verbosityList" (each item's Qt::UserRole holds its value)
// and the buttons "okButton", "updateButton" and "cancelButton".
class LogFilterOptionsDlg : public QDialog {
    Q_OBJECT

public:
    explicit LogFilterOptionsDlg(ILogFilter* filter, QWidget* parent = nullptr);
    ~LogFilterOptionsDlg() override;

    ILogFilter* filter() const noexcept { return _filter; }
    // The dialog's own mask: the one it starts from without a filter (0xFFFF
    // unless set), and the one OK kept.
    std::uint16_t mask() const noexcept { return _mask; }
    void setMask(std::uint16_t mask);
    // The OR of the ticked items.
    std::uint16_t tickedMask() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void tick(std::uint16_t mask);
    void updateVerbosity();
    void keepAndClose();

    ILogFilter* _filter;
    std::uint16_t _mask = 0xFFFF;
    QListWidget* _list = nullptr;
    QPushButton* _ok = nullptr;
    QPushButton* _update = nullptr;
};

} // namespace wyr::windows::logging
