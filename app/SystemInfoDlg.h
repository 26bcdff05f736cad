#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace wyr::windows::config {
class ConfigMgr;
}
namespace wyr::windows::system {
class OsFacts;
}

namespace app {

// The modal "System Info" dialog: the report of SystemInfoReport in a read-only
// box (object name "report") in a fixed-pitch font, and OK ("ok"). The report is
// written when the dialog opens, from the facts (probed once per process) and
// the store's entries of that moment.
class SystemInfoDlg : public QDialog {
    Q_OBJECT

public:
    SystemInfoDlg(bool admin, bool debug, QWidget* parent = nullptr);
    // With the facts and the store to report on.
    SystemInfoDlg(bool admin, bool debug, wyr::windows::system::OsFacts& facts,
                  const wyr::windows::config::ConfigMgr& settings, QWidget* parent = nullptr);
    ~SystemInfoDlg() override;

    // The report as written into the box, lines ending in CR LF; empty until the
    // dialog opened.
    const QString& report() const noexcept { return _report; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool _admin;
    bool _debug;
    wyr::windows::system::OsFacts& _facts;
    const wyr::windows::config::ConfigMgr& _settings;
    QPlainTextEdit* _text = nullptr;
    QString _report;
};

} // namespace app
