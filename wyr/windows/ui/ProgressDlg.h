#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

namespace wyr::windows::ui {

// A modeless window with a text line and a progress bar, shown while a long
// operation runs; its owner updates and closes it. The user cannot close it.
// Tests read it by objectName: the window "ProgressDlg", the label "text" and the
// bar "progress".
class ProgressDlg : public QDialog {
    Q_OBJECT

public:
    explicit ProgressDlg(QWidget* parent = nullptr);
    ~ProgressDlg() override;

    void setText(const QString& text);
    QString text() const;
    // The bar's range; a maximum below the minimum is taken as equal to it.
    void setRange(int minimum, int maximum);
    // The bar's position, kept within the range.
    void setPos(int position);
    int pos() const;

public Q_SLOTS:
    // Escape does not close it: only its owner does.
    void reject() override {}

private:
    QLabel* _text = nullptr;
    QProgressBar* _bar = nullptr;
};

} // namespace wyr::windows::ui
