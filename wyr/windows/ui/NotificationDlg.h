#pragma once

#include <QDialog>

class QLabel;

namespace wyr::windows::ui {

// A modeless window with one line of text ("Querying device...", "Scanning
// ports. Please wait..."), shown while the program waits for something; its
// owner changes the text and closes it. The user cannot close it. Tests read it
// by objectName: the window "NotificationDlg" and the label "text".
class NotificationDlg : public QDialog {
    Q_OBJECT

public:
    explicit NotificationDlg(QWidget* parent = nullptr);
    ~NotificationDlg() override;

    void setText(const QString& text);
    QString text() const;

public Q_SLOTS:
    // Escape does not close it: only its owner does.
    void reject() override {}

private:
    QLabel* _text = nullptr;
};

} // namespace wyr::windows::ui
