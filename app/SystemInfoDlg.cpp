#include "app/SystemInfoDlg.h"

#include "app/ProgramVersion.h"
#include "app/SystemInfoReport.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/system/OsFacts.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace app {

namespace {

// A tab stop every 16 characters lines up the colons of each block: the
// application lines at column 48, the operating-system lines at column 32.
constexpr int kTabStopCharacters = 16;

} // namespace

SystemInfoDlg::SystemInfoDlg(bool admin, bool debug, QWidget* parent)
    : SystemInfoDlg(admin, debug, wyr::windows::system::OsFacts::instance(),
                    wyr::windows::config::ConfigMgr::instance(), parent) {}

SystemInfoDlg::SystemInfoDlg(bool admin, bool debug, wyr::windows::system::OsFacts& facts,
                             const wyr::windows::config::ConfigMgr& settings, QWidget* parent)
    : QDialog(parent), _admin(admin), _debug(debug), _facts(facts), _settings(settings) {
    setWindowTitle(QStringLiteral("System Info"));
    setObjectName(QStringLiteral("SystemInfoDlg"));
    setModal(true);

    _text = new QPlainTextEdit(this);
    _text->setObjectName(QStringLiteral("report"));
    _text->setReadOnly(true);
    _text->setLineWrapMode(QPlainTextEdit::NoWrap);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    _text->setFont(fixed);
    _text->setTabStopDistance(QFontMetricsF(fixed).horizontalAdvance(QLatin1Char(' ')) * kTabStopCharacters);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ok"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(_text);
    layout->addWidget(buttons);

    const QFontMetrics metrics(fixed);
    resize(metrics.horizontalAdvance(QLatin1Char('0')) * 88, metrics.lineSpacing() * 30);
}

SystemInfoDlg::~SystemInfoDlg() = default;

void SystemInfoDlg::showEvent(QShowEvent* event) {
    if (_report.isEmpty()) {
        const SystemInfoReport::Inputs inputs{ProgramVersion::current(), _admin, _debug, _facts.facts()};
        _report = QString::fromStdWString(SystemInfoReport::build(inputs, _settings.entries()));
        // The box keeps lines by line feed alone.
        QString shown = _report;
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        _text->setPlainText(shown);
    }
    QDialog::showEvent(event);
}

} // namespace app
