#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <functional>
#include <optional>

namespace cv {

// Why an open panel refuses an item the user typed or chose: a sentence and what to
// do about it. The panel shows both and stays open.
struct OpenPanelRefusal {
    QString description;
    QString recoverySuggestion;
};

// One modal panel for choosing files and folders.
struct OpenPanel {
    bool canChooseDirectories = true;
    bool canChooseFiles = true;
    bool allowsMultipleSelection = true;
    bool canCreateDirectories = false; // offers "New Folder"
    QString prompt;  // the default button's title
    QString message; // a sentence shown with the panel
    std::optional<QUrl> directoryURL; // the folder it starts in
    // Whether an item can be chosen; items it refuses are shown disabled.
    std::function<bool(const QUrl &)> shouldEnable;
    // Checks the chosen item; a refusal keeps the panel open.
    std::function<std::optional<OpenPanelRefusal>(const QUrl &)> validate;
};

// Shows open panels.
class OpenPanels {
public:
    virtual ~OpenPanels() = default;

    // Shows `panel` modally and ends with the chosen items when the user confirms,
    // none otherwise. Returns at once; the event loop goes on while the panel is
    // shown (no nested loop).
    virtual QCoro::Task<std::optional<QList<QUrl>>> run(OpenPanel panel) = 0;

    static OpenPanels &system();
};

} // namespace cv
