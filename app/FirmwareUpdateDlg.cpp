#include "app/FirmwareUpdateDlg.h"

#include "app/Contact.h"
#include "app/SerialNumberDlg.h"
#include "bootloader/BootloaderInterface.h"
#include "bootloader/BootloaderNotifyState.h"
#include "bootloader/BootloaderNotifyType.h"
#include "bootloader/FieldRow.h"
#include "bootloader/InfoBlock.h"
#include "bootloader/InfoBlockType.h"
#include "bootloader/InfoColumn.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/ui/NotificationDlg.h"
#include "wyr/windows/ui/ProgressDlg.h"
#include "wyr/windows/ui/TaskDialog.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

namespace app {

using bootloader::BootloaderNotifyState;
using bootloader::BootloaderNotifyType;
using bootloader::BootloaderProgress;
using bootloader::FieldRow;
using bootloader::InfoBlock;
using bootloader::InfoBlockType;
using bootloader::InfoColumn;
using bootloader::tagBLNHDR;
using bootloader::UpdateCheck;
using wyr::windows::ui::NotificationDlg;
using wyr::windows::ui::ProgressDlg;
using wyr::windows::ui::TaskDialog;

namespace {

const QString kQuerying = QStringLiteral("Querying device...");
const QString kCancelText = QStringLiteral("Cancel");
const QString kCloseText = QStringLiteral("Close");
// A marked cell's background, and every other cell's.
const QColor kMarked(255, 0, 0);
const QColor kUnmarked(255, 255, 255);

int clamped(std::uint32_t value) {
    return static_cast<int>(std::min<std::uint32_t>(value, std::numeric_limits<int>::max()));
}

// "[110] The system cannot open the device or file specified."
QString reasonOf(std::uint32_t code) {
    return QStringLiteral("[%1] %2").arg(code).arg(
        QString::fromStdWString(wyr::windows::system::systemMessage(code)));
}

QString supportFooter() {
    return QStringLiteral("For support, contact %1.").arg(QString::fromLatin1(Contact::kSupportEmail));
}

} // namespace

FirmwareUpdateDlg::FirmwareUpdateDlg(bootloader::BootloaderInterface& bootloader, bool administrator,
                                     QWidget* parent)
    : QDialog(parent), _bootloader(bootloader), _administrator(administrator) {
    setWindowTitle(QStringLiteral("Firmware Update"));
    setObjectName(QStringLiteral("FirmwareUpdateDlg"));

    auto* file = new QGroupBox(QStringLiteral("File"), this);
    _pathLabel = new QLabel(file);
    _pathLabel->setObjectName(QStringLiteral("path"));
    _pathLabel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    _pathLabel->setMinimumWidth(1);
    _pathLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    _browse = new QPushButton(QStringLiteral("Browse"), file);
    _browse->setObjectName(QStringLiteral("browse"));
    auto* fileLayout = new QHBoxLayout(file);
    fileLayout->addWidget(_pathLabel, 1);
    fileLayout->addWidget(_browse);

    auto* properties = new QLabel(QStringLiteral("Properties:"), this);

    const auto& rows = FieldRow::registry();
    _list = new QTableWidget(static_cast<int>(rows.size()),
                             1 + static_cast<int>(InfoColumn::registry().size()), this);
    _list->setObjectName(QStringLiteral("properties"));
    _list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    _list->setSelectionMode(QAbstractItemView::NoSelection);
    _list->setFocusPolicy(Qt::NoFocus);
    _list->verticalHeader()->hide();
    _list->setShowGrid(false);
    // Four columns of a quarter of the width each.
    _list->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    auto* fieldHeader = new QTableWidgetItem(QStringLiteral("Field"));
    fieldHeader->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    _list->setHorizontalHeaderItem(0, fieldHeader);
    for (const auto& [value, column] : InfoColumn::registry()) {
        auto* header = new QTableWidgetItem(QString::fromStdWString(column->name()));
        header->setTextAlignment(Qt::AlignCenter);
        _list->setHorizontalHeaderItem(value, header);
    }
    for (const auto& [value, row] : rows) {
        auto* name = new QTableWidgetItem(QString::fromStdWString(row->name()));
        name->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        _list->setItem(value - 1, 0, name);
        for (const auto& [columnValue, column] : InfoColumn::registry()) {
            auto* cell = new QTableWidgetItem;
            cell->setTextAlignment(Qt::AlignCenter);
            _list->setItem(value - 1, columnValue, cell);
        }
    }
    // Every row in sight at once, as a report list shows them: the comparison is
    // read at a glance, without scrolling past the mismatches.
    const int rowHeight = _list->fontMetrics().height() + 6;
    _list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    _list->verticalHeader()->setDefaultSectionSize(rowHeight);
    _list->setMinimumHeight(_list->horizontalHeader()->sizeHint().height() +
                            rowHeight * static_cast<int>(rows.size()) + 2 * _list->frameWidth());
    paintMarks();

    _setSerial = new QPushButton(QStringLiteral("Set Serial"), this);
    _setSerial->setObjectName(QStringLiteral("setSerial"));
    _setSerial->setVisible(_administrator);
    _setSerial->setAutoDefault(false);
    _update = new QPushButton(QStringLiteral("Update"), this);
    _update->setObjectName(QStringLiteral("update"));
    _update->setEnabled(false);
    _update->setAutoDefault(false);
    _cancel = new QPushButton(kCancelText, this);
    _cancel->setObjectName(QStringLiteral("cancel"));
    _cancel->setAutoDefault(false);
    _browse->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(_setSerial);
    buttons->addWidget(_update);
    buttons->addWidget(_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(file);
    layout->addWidget(properties);
    layout->addWidget(_list, 1);
    layout->addLayout(buttons);

    connect(_browse, &QPushButton::clicked, this, &FirmwareUpdateDlg::browse);
    connect(_setSerial, &QPushButton::clicked, this, &FirmwareUpdateDlg::setSerial);
    connect(_update, &QPushButton::clicked, this, &FirmwareUpdateDlg::update);
    connect(_cancel, &QPushButton::clicked, this, &FirmwareUpdateDlg::cancel);

    const QFontMetrics metrics(font());
    resize(kWidthUnits * metrics.averageCharWidth() / 4, kHeightUnits * metrics.height() / 8);

    _subscription = _bootloader.connect([this](const tagBLNHDR* header) { onNotify(header); });
    refreshButtons();
}

FirmwareUpdateDlg::~FirmwareUpdateDlg() = default;

// ---------------------------------------------------------------------------
// Start

void FirmwareUpdateDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!_initialPosted) {
        _initialPosted = true;
        QMetaObject::invokeMethod(this, &FirmwareUpdateDlg::initialUpdate, Qt::QueuedConnection);
    }
}

void FirmwareUpdateDlg::initialUpdate() {
    if (_leaving || _exitCode != -1) {
        return;
    }
    enterBootloadMode();
}

void FirmwareUpdateDlg::enterBootloadMode() {
    openNotification(kQuerying);
    setBusy(true);
    _bootloader.enterBootloadMode();
}

void FirmwareUpdateDlg::queryTargetInfo(const QString& text) {
    openNotification(text);
    setBusy(true);
    _bootloader.getTargetInfo();
}

// ---------------------------------------------------------------------------
// Records

void FirmwareUpdateDlg::onNotify(const tagBLNHDR* header) {
    if (header == nullptr || _exitCode != -1) {
        return;
    }
    const BootloaderNotifyType& type = header->type;
    wyr::windows::logging::log(wyr::windows::logging::LogVerbosity::DebugLevel4,
                               "FirmwareUpdateDlg::onNotify",
                               L"Bootloader notification [%ls] [%ls], result [%u].", type.name().c_str(),
                               header->state.name().c_str(), static_cast<unsigned>(header->result));
    if (type == BootloaderNotifyType::EnteredBootloadMode) {
        onEntered(*header);
    } else if (type == BootloaderNotifyType::ReceivedTargetInfo) {
        onTargetInfo(*header);
    } else if (type == BootloaderNotifyType::LoadSource) {
        onLoadSource(*header);
    } else if (type == BootloaderNotifyType::EraseTarget) {
        onEraseTarget(*header);
    } else if (type == BootloaderNotifyType::WriteTarget) {
        onWriteTarget(*header);
    } else if (type == BootloaderNotifyType::ResetTarget) {
        onResetTarget(*header);
    } else {
        refreshButtons();
    }
}

void FirmwareUpdateDlg::onEntered(const tagBLNHDR& record) {
    // Once the user let the device go, its own record ends the dialog.
    if (_leaving) {
        return;
    }
    if (record.result == wyr::windows::system::ERROR_SUCCESS) {
        _infoRetryAllowed = true;
        _bootloader.getTargetInfo();
        return;
    }
    closeNotification();
    setBusy(false);
    askRetry(QStringLiteral("Target device failed to enter boot load mode."), true);
}

void FirmwareUpdateDlg::onTargetInfo(const tagBLNHDR& record) {
    if (_leaving) {
        return;
    }
    const bool failed = record.result != wyr::windows::system::ERROR_SUCCESS;
    if (failed && _infoRetryAllowed) {
        _infoRetryAllowed = false;
        queryTargetInfo(QStringLiteral("Querying device(2)..."));
        return;
    }
    _infoRetryAllowed = false;
    closeNotification();
    setBusy(false);
    if (failed) {
        askRetry(QStringLiteral("Target device failed to respond."), false);
        return;
    }
    InfoBlock device;
    _bootloader.getInfoBlock(InfoBlockType::BootloaderInfoBlock, device);
    fillColumn(InfoColumn::Bootloader, &device);
    InfoBlock target;
    const bool hasTarget = _bootloader.getInfoBlock(InfoBlockType::TargetInfoBlock, target) &&
                           UpdateCheck::hasApplication(target);
    fillColumn(InfoColumn::Target, hasTarget ? &target : nullptr);
    refreshButtons();
}

void FirmwareUpdateDlg::onLoadSource(const tagBLNHDR& record) {
    const auto* progress = BootloaderProgress::of(&record);
    const std::uint32_t current = progress != nullptr ? progress->current : 0;
    const std::uint32_t total = progress != nullptr ? progress->total : 0;
    const bool failed = record.result != wyr::windows::system::ERROR_SUCCESS;
    if (record.state == BootloaderNotifyState::Initiated) {
        if (failed) {
            // Nothing follows a file that cannot be opened; the image it replaced is gone.
            fillColumn(InfoColumn::Source, nullptr);
            stepFailed(QStringLiteral("Failed to open file %1.").arg(QDir::toNativeSeparators(_path)),
                       record.result);
            refreshButtons();
            return;
        }
        showProgress(QStringLiteral("Reading file"), total);
    } else if (record.state == BootloaderNotifyState::Running) {
        setProgress(QStringLiteral("Processing line %1 of %2").arg(current).arg(total), current);
    } else if (record.state == BootloaderNotifyState::Completed) {
        InfoBlock source;
        const bool loaded = !failed && _bootloader.getInfoBlock(InfoBlockType::SourceInfoBlock, source);
        fillColumn(InfoColumn::Source, loaded ? &source : nullptr);
        if (failed) {
            stepFailed(QStringLiteral("Failed to read file %1.").arg(QDir::toNativeSeparators(_path)),
                       record.result);
        } else {
            closeProgress();
            setBusy(false);
        }
        refreshButtons();
    }
}

void FirmwareUpdateDlg::onEraseTarget(const tagBLNHDR& record) {
    const auto* progress = BootloaderProgress::of(&record);
    const std::uint32_t current = progress != nullptr ? progress->current : 0;
    const std::uint32_t total = progress != nullptr ? progress->total : 0;
    const bool failed = record.result != wyr::windows::system::ERROR_SUCCESS;
    if (record.state == BootloaderNotifyState::Initiated) {
        // A signature page that cannot be erased ends the request here.
        if (failed) {
            stepFailed(QStringLiteral("Failed to erase target."), record.result);
        } else {
            showProgress(QStringLiteral("Erasing Target"), total);
        }
    } else if (record.state == BootloaderNotifyState::Running) {
        setProgress(QStringLiteral("Erasing page %1 of %2").arg(current).arg(total), current);
    } else if (record.state == BootloaderNotifyState::Completed) {
        if (failed) {
            stepFailed(QStringLiteral("Failed to erase target."), record.result);
        } else if (_leaving) {
            // Cancelled meanwhile: nothing is written, the reset follows.
            closeProgress();
        } else {
            _writingFlash = true;
            _bootloader.writeTarget();
        }
    }
    refreshButtons();
}

void FirmwareUpdateDlg::onWriteTarget(const tagBLNHDR& record) {
    const auto* progress = BootloaderProgress::of(&record);
    const std::uint32_t current = progress != nullptr ? progress->current : 0;
    const std::uint32_t total = progress != nullptr ? progress->total : 0;
    const bool failed = record.result != wyr::windows::system::ERROR_SUCCESS;
    if (record.state == BootloaderNotifyState::Initiated) {
        _writingFlash = true;
        showProgress(QStringLiteral("Writing Target"), total);
    } else if (record.state == BootloaderNotifyState::Running) {
        setProgress(QStringLiteral("Writing flash block %1 of %2").arg(current).arg(total), current);
    } else if (record.state == BootloaderNotifyState::Completed) {
        const bool flash = _writingFlash;
        _writingFlash = false;
        if (failed) {
            if (!flash && _leaving) {
                // The cancel restores the signature first and sends no reset when
                // that fails: the dialog stays, and Cancel tries again.
                _leaving = false;
            }
            stepFailed(flash ? QStringLiteral("Failed to write target.")
                             : QStringLiteral("Failed to write the application signature."),
                       record.result);
        } else {
            closeProgress();
            // After the flash comes its signature; the request ends with that.
            if (!flash && !_leaving) {
                setBusy(false);
            }
        }
    }
    refreshButtons();
}

void FirmwareUpdateDlg::onResetTarget(const tagBLNHDR& record) {
    if (record.result == wyr::windows::system::ERROR_SUCCESS) {
        finish();
        return;
    }
    _leaving = false;
    setBusy(false);
    refreshButtons();
    QTimer::singleShot(0, this, [this] {
        QMessageBox::critical(this, QStringLiteral("Orvane"), QStringLiteral("Failed to reset target."));
    });
}

void FirmwareUpdateDlg::stepFailed(const QString& what, std::uint32_t result) {
    closeProgress();
    setBusy(_leaving);
    // Leaving anyway: the reset that follows ends the dialog.
    if (_leaving) {
        return;
    }
    const QString reason = reasonOf(result);
    QTimer::singleShot(0, this, [this, what, reason] {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Orvane"), what, QMessageBox::Ok, this);
        box.setInformativeText(reason);
        box.exec();
    });
}

void FirmwareUpdateDlg::askRetry(const QString& instruction, bool entering) {
    QTimer::singleShot(0, this, [this, instruction, entering] {
        TaskDialog dialog(this);
        dialog.setWindowTitle(QStringLiteral("Bootloader"));
        dialog.setIcon(TaskDialog::Icon::Warning);
        dialog.setMainInstruction(instruction);
        dialog.addButton(TaskDialog::IdRetry);
        dialog.addButton(TaskDialog::IdCancel);
        dialog.setDefaultId(TaskDialog::IdRetry);
        dialog.setFooter(supportFooter());
        const QPointer<FirmwareUpdateDlg> self(this);
        const int answer = dialog.exec();
        if (self.isNull() || _leaving || _exitCode != -1) {
            return;
        }
        if (answer != TaskDialog::IdRetry) {
            cancel();
        } else if (entering) {
            enterBootloadMode();
        } else {
            queryTargetInfo(kQuerying);
        }
    });
}

// ---------------------------------------------------------------------------
// Buttons

void FirmwareUpdateDlg::refreshButtons() {
    const BootloaderNotifyType step = _bootloader.getState();
    InfoBlock device;
    _bootloader.getInfoBlock(InfoBlockType::BootloaderInfoBlock, device);
    InfoBlock source;
    const bool loaded = _bootloader.getInfoBlock(InfoBlockType::SourceInfoBlock, source);
    const UpdateCheck::Buttons offered = _check.refresh(step, device, loaded ? &source : nullptr);
    paintMarks();

    // While a request runs nothing else is started: a second request would queue
    // behind it and act on what it leaves (a new image under a running write, a
    // serial number written while the image loads).
    const bool idle = !busy() && !_leaving && _exitCode == -1;
    _setSerial->setEnabled(idle && offered.setSerial);
    _update->setEnabled(idle && offered.update);
    _browse->setEnabled(idle && step < BootloaderNotifyType::WriteTarget);
    if (!_leaving) {
        _cancel->setText(offered.close ? kCloseText : kCancelText);
    }
}

void FirmwareUpdateDlg::browse() {
    if (busy() || _leaving) {
        return;
    }
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("browseDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QStringLiteral("HEX Files (*.hex)"), QStringLiteral("ALL (*.*)")});
    dialog.setDefaultSuffix(QStringLiteral("hex"));
    if (!_path.isEmpty()) {
        dialog.setDirectory(QFileInfo(_path).absolutePath());
    }
    const QPointer<FirmwareUpdateDlg> self(this);
    const int answer = dialog.exec();
    if (self.isNull() || answer != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    loadFile(dialog.selectedFiles().constFirst());
}

void FirmwareUpdateDlg::loadFile(const QString& path) {
    if (busy() || _leaving || _exitCode != -1) {
        return;
    }
    _path = path;
    _pathLabel->setText(QDir::toNativeSeparators(path));
    _pathLabel->setToolTip(_pathLabel->text());
    setBusy(true);
    refreshButtons();
    _bootloader.loadFile(path.toStdWString());
}

void FirmwareUpdateDlg::setSerial() {
    if (busy() || _leaving || !_setSerial->isEnabled()) {
        return;
    }
    SerialNumberDlg dialog(this);
    const QPointer<FirmwareUpdateDlg> self(this);
    const int answer = dialog.exec();
    if (self.isNull() || answer != QDialog::Accepted || busy() || _leaving) {
        return;
    }
    if (const auto result = _bootloader.setSerialNumber(dialog.value())) {
        const QString reason = reasonOf(result);
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Orvane"),
                        QStringLiteral("Failed to set the serial number."), QMessageBox::Ok, this);
        box.setInformativeText(reason);
        box.exec();
        if (self.isNull()) {
            return;
        }
    } else {
        // The image now carries the number; the column shows it.
        InfoBlock source;
        if (_bootloader.getInfoBlock(InfoBlockType::SourceInfoBlock, source)) {
            fillColumn(InfoColumn::Source, &source);
        }
    }
    refreshButtons();
}

void FirmwareUpdateDlg::update() {
    if (busy() || _leaving || _exitCode != -1) {
        return;
    }
    const BootloaderNotifyType step = _bootloader.getState();
    if (step < BootloaderNotifyType::EraseTarget) {
        setBusy(true);
        _bootloader.eraseTarget();
    } else if (step < BootloaderNotifyType::WriteTarget) {
        setBusy(true);
        _writingFlash = true;
        _bootloader.writeTarget();
    }
    refreshButtons();
}

void FirmwareUpdateDlg::cancel() {
    if (_leaving || _exitCode != -1) {
        return;
    }
    const bool close = _cancel->text() == kCloseText;
    _leavingCode = close ? kClosed : kCancelled;
    if (!(_bootloader.getState() < BootloaderNotifyType::ResetTarget)) {
        _leaving = true;
        finish();
        return;
    }
    _leaving = true;
    setBusy(true);
    refreshButtons();
    if (close) {
        _bootloader.resetTarget();
    } else {
        _bootloader.cancelBootloadMode();
    }
}

void FirmwareUpdateDlg::reject() {
    cancel();
}

void FirmwareUpdateDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    cancel();
}

void FirmwareUpdateDlg::finish() {
    const int code = _leaving ? _leavingCode : (_cancel->text() == kCloseText ? kClosed : kCancelled);
    setBusy(false);
    closeNotification();
    closeProgress();
    _subscription.disconnect();
    _exitCode = code;
    refreshButtons();
    done(code);
}

// ---------------------------------------------------------------------------
// Windows

void FirmwareUpdateDlg::openNotification(const QString& text) {
    if (_notification.isNull()) {
        _notification = new NotificationDlg(this);
        _notification->setWindowTitle(windowTitle());
    }
    _notification->setText(text);
    _notification->show();
}

void FirmwareUpdateDlg::closeNotification() {
    delete _notification.data();
}

void FirmwareUpdateDlg::showProgress(const QString& text, std::uint32_t total) {
    if (_progress.isNull()) {
        _progress = new ProgressDlg(this);
        _progress->setWindowTitle(windowTitle());
    }
    _progress->setText(text);
    _progress->setRange(0, clamped(total));
    _progress->setPos(0);
    _progress->show();
}

void FirmwareUpdateDlg::setProgress(const QString& text, std::uint32_t current) {
    if (_progress.isNull()) {
        return;
    }
    _progress->setText(text);
    _progress->setPos(clamped(current));
}

void FirmwareUpdateDlg::closeProgress() {
    delete _progress.data();
}

void FirmwareUpdateDlg::setBusy(bool busy) {
    if (_busy.exchange(busy) == busy) {
        return;
    }
    if (busy) {
        setCursor(Qt::WaitCursor);
    } else {
        unsetCursor();
    }
}

// ---------------------------------------------------------------------------
// The list

void FirmwareUpdateDlg::fillColumn(const InfoColumn& column, const InfoBlock* block) {
    for (const auto& [value, row] : FieldRow::registry()) {
        QTableWidgetItem* cell = _list->item(value - 1, column.value());
        cell->setText(block != nullptr ? QString::fromStdWString(UpdateCheck::cellText(column, *row, *block))
                                       : QString());
    }
}

void FirmwareUpdateDlg::paintMarks() {
    for (const auto& [value, row] : FieldRow::registry()) {
        for (const auto& [columnValue, column] : InfoColumn::registry()) {
            QTableWidgetItem* cell = _list->item(value - 1, columnValue);
            cell->setBackground(_check.isMarked(*column, *row) ? kMarked : kUnmarked);
            cell->setForeground(Qt::black);
        }
        QTableWidgetItem* name = _list->item(value - 1, 0);
        name->setBackground(kUnmarked);
        name->setForeground(Qt::black);
    }
}

} // namespace app
