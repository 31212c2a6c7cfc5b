#pragma once

#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <optional>

class QMessageBox;

namespace cv {

// One alert: a message, an informative text under it and its buttons, the first
// being the default.
struct Alert {
    enum class Style { informational, warning, critical };

    QString message;
    QString informative;
    QStringList buttons;
    Style style = Style::informational;
    // The button that Escape and closing the alert choose; none: they do nothing.
    std::optional<int> cancelButton;
};

// Shows alerts to the user.
class Alerts {
public:
    virtual ~Alerts() = default;

    // What `run` returns when the alert ended without any button chosen.
    static constexpr int noChoice = -1;

    // Shows `alert` modally and ends with the index of the chosen button, or noChoice
    // when it ended without one: an alert that was never answered must never count
    // as its first (often destructive) button. Returns at once; the event loop goes
    // on while the alert is shown (no nested loop).
    virtual QCoro::Task<int> run(Alert alert) = 0;

    static Alerts &system();
};

// Alerts as QMessageBox dialogs. Texts are shown as plain text, never as markup.
class MessageBoxAlerts final : public Alerts {
public:
    QCoro::Task<int> run(Alert alert) override;
};

// A Qt button title that shows `text` as it is: an ampersand marks no mnemonic.
QString literalButtonTitle(QString text);

// Makes `box` show its text and its informative text as plain text, never as markup.
void showAsPlainText(QMessageBox &box);

} // namespace cv
