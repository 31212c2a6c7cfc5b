#pragma once

#include <QCoreApplication>
#include <QDialog>
#include <QMetaObject>
#include <QPointer>

#include <coroutine>
#include <memory>
#include <optional>

namespace cv {

// A dialog owned by the coroutine that shows it. The dialog is deleted later, never
// while one of its own signals is being delivered.
template<class Dialog>
class LaterOwned {
public:
    explicit LaterOwned(Dialog *dialog) : dialog_(dialog) {}
    ~LaterOwned()
    {
        if (dialog_)
            dialog_->deleteLater();
    }
    LaterOwned(const LaterOwned &) = delete;
    LaterOwned &operator=(const LaterOwned &) = delete;

    Dialog *operator->() const { return dialog_.data(); }
    Dialog &operator*() const { return *dialog_; }
    Dialog *get() const { return dialog_.data(); }

private:
    QPointer<Dialog> dialog_;
};

// Awaits the end of a dialog that is shown (open() or show(), never exec()): its
// result code, or none when the dialog was destroyed before it finished. The awaiting
// coroutine goes on in a later turn of the event loop, once the dialog has finished
// its own handling (a message box notes the button that closing chose only after it
// finished).
class DialogFinished {
public:
    explicit DialogFinished(QDialog *dialog) : dialog_(dialog) {}

    bool await_ready() const noexcept { return !dialog_; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        auto connections = std::make_shared<std::pair<QMetaObject::Connection, QMetaObject::Connection>>();
        auto resume = [this, handle, connections](std::optional<int> result) {
            QObject::disconnect(connections->first);
            QObject::disconnect(connections->second);
            result_ = result;
            QMetaObject::invokeMethod(QCoreApplication::instance(), [handle] { handle.resume(); }, Qt::QueuedConnection);
        };
        connections->first = QObject::connect(dialog_, &QDialog::finished, [resume](int code) { resume(code); });
        connections->second = QObject::connect(dialog_, &QObject::destroyed, [resume] { resume(std::nullopt); });
    }
    std::optional<int> await_resume() const noexcept { return result_; }

private:
    QPointer<QDialog> dialog_;
    std::optional<int> result_;
};

inline DialogFinished finished(QDialog *dialog)
{
    return DialogFinished(dialog);
}

} // namespace cv
