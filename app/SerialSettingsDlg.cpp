#include "app/SerialSettingsDlg.h"

#include "device/OrvaneConfigKey.h"
#include "wyr/windows/communication/BaudRate.h"
#include "wyr/windows/communication/DataBits.h"
#include "wyr/windows/communication/FlowControl.h"
#include "wyr/windows/communication/Parity.h"
#include "wyr/windows/communication/StopBits.h"
#include "wyr/windows/config/ConfigMgr.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>
#include <vector>

namespace app {

using device::OrvaneConfigKey;
namespace comm = wyr::windows::communication;

namespace {

// Every enumerator of a line setting, by name, carrying its value.
template <typename Enum> void fill(QComboBox& box) {
    for (const auto& [value, entry] : Enum::registry()) {
        box.addItem(QString::fromStdWString(entry->name()), value);
    }
}

// The number after the type code of a key's default ("1|9600").
std::optional<int> defaultOf(const OrvaneConfigKey& key) {
    const std::wstring& text = key.defaultValue();
    const auto bar = text.find(L'|');
    if (bar == std::wstring::npos) {
        return std::nullopt;
    }
    bool converted = false;
    const int value = QString::fromStdWString(text.substr(bar + 1)).toInt(&converted);
    return converted ? std::optional<int>(value) : std::nullopt;
}

} // namespace

SerialSettingsDlg::SerialSettingsDlg(wyr::windows::config::ConfigMgr& config,
                                     const std::wstring& interfaceName,
                                     const device::SerialPortEnumerator& ports, QWidget* parent)
    : QDialog(parent), _config(config), _interfaceName(interfaceName) {
    setWindowTitle(QStringLiteral("Serial Settings"));
    setObjectName(QStringLiteral("SerialSettingsDlg"));
    setModal(true);

    _portBox = addBox("port");
    _portBox->addItem(QStringLiteral("DISABLED"), kDisabled);
    std::vector<device::SerialPortEntry> present;
    // A failed enumeration lists nothing; "DISABLED" is still there to leave with.
    ports.enumeratePorts(present);
    for (const auto& entry : present) {
        _portBox->addItem(QStringLiteral("COM%1 <%2>")
                              .arg(entry.portNumber)
                              .arg(QString::fromStdWString(entry.description)),
                          entry.portNumber);
    }
    _baudRate = addBox("baudRate");
    fill<comm::BaudRate>(*_baudRate);
    _dataBits = addBox("dataBits");
    fill<comm::DataBits>(*_dataBits);
    _parity = addBox("parity");
    fill<comm::Parity>(*_parity);
    _stopBits = addBox("stopBits");
    fill<comm::StopBits>(*_stopBits);
    _flowControl = addBox("flowControl");
    fill<comm::FlowControl>(*_flowControl);

    select(*_portBox, OrvaneConfigKey::SerialPortNumber);
    select(*_baudRate, OrvaneConfigKey::SerialBaudRate);
    select(*_dataBits, OrvaneConfigKey::SerialDataBits);
    select(*_parity, OrvaneConfigKey::SerialParity);
    select(*_stopBits, OrvaneConfigKey::SerialStopBits);
    select(*_flowControl, OrvaneConfigKey::SerialFlowControl);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("COM Port:"), _portBox);
    form->addRow(QStringLiteral("Baud Rate:"), _baudRate);
    form->addRow(QStringLiteral("Data Bits:"), _dataBits);
    form->addRow(QStringLiteral("Parity:"), _parity);
    form->addRow(QStringLiteral("Stop Bits:"), _stopBits);
    form->addRow(QStringLiteral("Flow Control:"), _flowControl);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ok"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &SerialSettingsDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

SerialSettingsDlg::~SerialSettingsDlg() = default;

QComboBox* SerialSettingsDlg::addBox(const char* name) {
    auto* box = new QComboBox(this);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

void SerialSettingsDlg::select(QComboBox& box, const OrvaneConfigKey& key) const {
    std::int32_t held = 0;
    int index = -1;
    try {
        if (_config.getInt(key.fullName(_interfaceName), held)) {
            index = box.findData(held);
        }
    } catch (const std::exception&) {
        // Not a number: the default stands in.
    }
    if (index < 0) {
        if (const auto fallback = defaultOf(key)) {
            index = box.findData(*fallback);
        }
    }
    box.setCurrentIndex(index < 0 ? 0 : index);
}

int SerialSettingsDlg::dataOf(const QComboBox& box) {
    return box.currentData().toInt();
}

QString SerialSettingsDlg::devicePath() const {
    return _port ? QStringLiteral("\\\\.\\COM%1").arg(*_port) : QString();
}

void SerialSettingsDlg::accept() {
    const int port = dataOf(*_portBox);
    _port = port == kDisabled ? std::nullopt : std::optional<std::int32_t>(port);
    _settings.baudRate = static_cast<std::uint32_t>(dataOf(*_baudRate));
    _settings.dataBits = static_cast<std::uint8_t>(dataOf(*_dataBits));
    _settings.parity = comm::Parity::fromValue(dataOf(*_parity));
    _settings.stopBits = comm::StopBits::fromValue(dataOf(*_stopBits));
    _settings.flowControl = comm::FlowControl::fromValue(dataOf(*_flowControl));
    QDialog::accept();
}

} // namespace app
