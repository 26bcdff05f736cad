#pragma once

#include "bootloader/BootloaderNotification.h"
#include "bootloader/UpdateCheck.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <atomic>
#include <boost/signals2/connection.hpp>

class QLabel;
class QPushButton;
class QTableWidget;

namespace bootloader {
class BootloaderInterface;
class FieldRow;
class InfoBlock;
class InfoColumn;
} // namespace bootloader

namespace wyr::windows::ui {
class NotificationDlg;
class ProgressDlg;
} // namespace wyr::windows::ui

namespace app {

// The "Firmware Update" dialog: what the bootloader, the installed application and
// the chosen image report about themselves side by side, every mismatch in red,
// and the buttons that load, program and restart the instrument. It talks to the
// instrument only through the bootloader interface, whose records it shows; the
// rules of the comparison and of the buttons are UpdateCheck's.
//
// Modeless: the owner initialises the bootloader, creates the dialog and shows
// it; the first show asks the device. The dialog ends itself with done(code):
// kClosed once "Close" restarted the instrument after an update, kCancelled once
// "Cancel" let the device go. finished(int) carries the code (exec() returns it),
// exitCode() keeps it. Closing the window or pressing Escape is pressing Cancel.
//
// Tests find its parts by objectName: "path", "browse", "properties", "setSerial",
// "update", "cancel"; its windows "NotificationDlg" and "ProgressDlg" are its
// children while they are open.
class FirmwareUpdateDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClosed = 0;
    static constexpr int kCancelled = 1223;
    // The size of the dialog, in dialog units (a quarter of the average character
    // width across, an eighth of the line height down).
    static constexpr int kWidthUnits = 316;
    static constexpr int kHeightUnits = 196;

    // `bootloader` is initialised already and outlives the dialog.
    FirmwareUpdateDlg(bootloader::BootloaderInterface& bootloader, bool administrator,
                      QWidget* parent = nullptr);
    ~FirmwareUpdateDlg() override;

    bool administrator() const noexcept { return _administrator; }
    // A request runs that the user waits for; the dialog shows the wait cursor.
    bool busy() const noexcept { return _busy.load(); }
    // The chosen image.
    const QString& path() const noexcept { return _path; }
    // kClosed or kCancelled once the dialog ended; -1 before.
    int exitCode() const noexcept { return _exitCode; }
    // The marks of the last comparison.
    const bootloader::UpdateCheck& check() const noexcept { return _check; }

    // One bootloader record, on the user-interface thread.
    void onNotify(const bootloader::tagBLNHDR* header);

    // Sets Set Serial, Update and the Cancel button's caption from the step reached.
    void refreshButtons();

    // What Browse does once a file is chosen: shows the path and loads the image.
    void loadFile(const QString& path);

public Q_SLOTS:
    // The buttons.
    void browse();
    void setSerial();
    void update();
    // Cancel or Close.
    void cancel();
    // Escape.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void initialUpdate();
    void enterBootloadMode();
    void queryTargetInfo(const QString& text);
    void onEntered(const bootloader::tagBLNHDR& record);
    void onTargetInfo(const bootloader::tagBLNHDR& record);
    void onLoadSource(const bootloader::tagBLNHDR& record);
    void onEraseTarget(const bootloader::tagBLNHDR& record);
    void onWriteTarget(const bootloader::tagBLNHDR& record);
    void onResetTarget(const bootloader::tagBLNHDR& record);
    // A long step failed: the progress window goes, the user is told, the dialog
    // can be used again.
    void stepFailed(const QString& what, std::uint32_t result);
    // Asks Retry or Cancel after the device did not answer; runs outside the
    // notification that reported it.
    void askRetry(const QString& instruction, bool entering);
    void finish();

    void openNotification(const QString& text);
    void closeNotification();
    void showProgress(const QString& text, std::uint32_t total);
    void setProgress(const QString& text, std::uint32_t current);
    void closeProgress();
    void setBusy(bool busy);

    void fillColumn(const bootloader::InfoColumn& column, const bootloader::InfoBlock* block);
    void paintMarks();

    bootloader::BootloaderInterface& _bootloader;
    const bool _administrator;
    QString _path;
    bootloader::UpdateCheck _check;
    boost::signals2::scoped_connection _subscription;

    QLabel* _pathLabel = nullptr;
    QPushButton* _browse = nullptr;
    QTableWidget* _list = nullptr;
    QPushButton* _setSerial = nullptr;
    QPushButton* _update = nullptr;
    QPushButton* _cancel = nullptr;
    QPointer<wyr::windows::ui::NotificationDlg> _notification;
    QPointer<wyr::windows::ui::ProgressDlg> _progress;

    bool _initialPosted = false;
    // One silent repeat of the target-info query, right after the device answered.
    bool _infoRetryAllowed = false;
    std::atomic<bool> _busy{false};
    // A write was asked for and its flash record has not come yet; the next
    // "Write Target" Completed is the flash's, any other the signature's.
    bool _writingFlash = false;
    // Cancel or Close sent its request; the dialog ends when the reset is confirmed.
    bool _leaving = false;
    // The code of that request: what the dialog ends with.
    int _leavingCode = kCancelled;
    int _exitCode = -1;
};

} // namespace app
