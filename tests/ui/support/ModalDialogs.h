#pragma once

#include "wyr/windows/ui/TaskDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <QtGlobal>
#include <functional>

namespace test {

// Answers the next modal dialog of type T once it is the active modal widget:
// call it before the code that runs the dialog's exec(). It looks every 10 ms for
// at most `timeoutMs`, then gives up with a warning, so a dialog that never
// appears fails the test's own checks instead of hanging it.
template <typename T> void whenModal(std::function<void(T&)> answer, int timeoutMs = 10000) {
    auto* timer = new QTimer(qApp);
    const QDeadlineTimer deadline(timeoutMs);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, deadline, answer = std::move(answer)] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            answer(*dialog);
        } else if (deadline.hasExpired()) {
            timer->stop();
            timer->deleteLater();
            qWarning("No modal %s appeared", T::staticMetaObject.className());
        }
    });
    timer->start(10);
}

// Presses the command link or plain button `id` of the next modal task dialog,
// found by its objectName ("link<id>" before "button<id>"), after letting
// `inspect` look at the dialog.
inline void pressTaskDialog(int id, std::function<void(wyr::windows::ui::TaskDialog&)> inspect = {}) {
    using wyr::windows::ui::TaskDialog;
    whenModal<TaskDialog>([id, inspect = std::move(inspect)](TaskDialog& dialog) {
        if (inspect) {
            inspect(dialog);
        }
        auto* button = dialog.findChild<QAbstractButton*>(TaskDialog::linkName(id));
        if (button == nullptr) {
            button = dialog.findChild<QAbstractButton*>(TaskDialog::buttonName(id));
        }
        if (button == nullptr) {
            qWarning("The task dialog has no link or button %d", id);
            dialog.reject();
            return;
        }
        button->click();
    });
}

} // namespace test
