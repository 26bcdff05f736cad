#pragma once

#include <QDialog>

namespace app {

// The modal about box: the product's name and icon, its version and build, and
// a link to the maker's web site (object names "product", "version", "webLink",
// "ok").
class AboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit AboutDlg(QWidget* parent = nullptr);
    ~AboutDlg() override;

    // "Version 0.1.0 (Build 0)".
    static QString versionText();
};

} // namespace app
