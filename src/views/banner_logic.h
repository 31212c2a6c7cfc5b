#pragma once

// The strip at the foot of a computer window without widgets: which of its states
// holds, and every text and button of that state.

#include <QList>
#include <QString>

namespace cv {

class AppModel;

enum class BannerState { noService, notConnected, receiving, sharing, ejected, problem, opening, waiting };

enum class BannerAction {
    sendFiles,           // the send panel
    eject,               // "eject"
    getFiles,            // the copy panel
    open,                // open the mounted share
    showAgain,           // "mount"
    openPrivacySettings, // the privacy settings
    tryAgain,            // "mount"
};

struct BannerButton {
    BannerAction action = BannerAction::open;
    QString title;  // empty for the eject button, which shows its symbol alone
    QString symbol; // shown before the title, or alone
    QString tooltip;
    QString accessibilityLabel;
    bool prominent = false; // the bordered prominent style
    bool enabled = true;

    bool operator==(const BannerButton &) const = default;
};

// One state's content, laid out in one row: the optional symbol or spinner, the text
// column, a flexible space when there are buttons to push to the trailing edge, then
// the buttons.
struct Banner {
    BannerState state = BannerState::waiting;
    QString symbol;       // a label's symbol before the title
    bool spinner = false; // a small spinner before the title
    QString title;
    bool titleHeadline = false; // the title in the headline font, with `detail` under it
    bool titleCallout = false;  // the title in the callout font
    bool titleSecondary = false; // the title in the secondary style
    bool titleSelectable = false; // the service's message, selectable
    QString detail;             // callout, secondary; empty when there is none
    bool flexibleSpace = false;
    QList<BannerButton> buttons;

    bool operator==(const Banner &) const = default;
};

// The banner of the window of computer `id` as the model stands now.
Banner bannerFor(const AppModel &model, const QString &id, const QString &initialName);

// What a button does.
void performBannerAction(AppModel &model, const QString &id, BannerAction action);

} // namespace cv
