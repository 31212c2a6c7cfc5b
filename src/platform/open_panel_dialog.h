#pragma once

#include "platform/open_panels.h"

#include <QFileDialog>
#include <QList>
#include <QUrl>

class QLabel;

namespace cv {

// An open panel as a Qt file dialog. The dialog is never the desktop's native one:
// only Qt's own dialog lets the user choose files and folders together, shows items
// the panel refuses as disabled, and checks what was chosen before it closes.
//
// Pressing the default button with items selected chooses them, folders included
// (a double click still opens a folder). A single folder typed into the name field
// is entered instead, as the dialog usually does. Every item chosen or typed goes
// through the panel's check first; a refusal is shown over the dialog, which stays
// open.
class OpenPanelDialog final : public QFileDialog {
    Q_OBJECT
public:
    explicit OpenPanelDialog(OpenPanel panel, QWidget *parent = nullptr);

    // What the user chose, once the dialog was accepted.
    const QList<QUrl> &chosen() const { return chosen_; }

    // The label showing the panel's message.
    QLabel *messageLabel() const { return message_; }

    void accept() override;

private:
    void showPrompt();
    void refuse(const OpenPanelRefusal &refusal);
    // Whether the name field names `path` (relative to the folder shown, or absolute).
    bool typedName(const QString &path) const;

    OpenPanel panel_;
    QLabel *message_ = nullptr;
    QList<QUrl> chosen_;
};

// Open panels as OpenPanelDialog, modal to the whole application.
class FileDialogOpenPanels final : public OpenPanels {
public:
    QCoro::Task<std::optional<QList<QUrl>>> run(OpenPanel panel) override;
};

} // namespace cv
