#include "views/banner_logic.h"

#include "localization/localization.h"
#include "model/app_model.h"
#include "views/sharing_logic.h"

namespace cv {

namespace {

const QString warningSymbol = QStringLiteral("exclamationmark.triangle");
const QString boltSymbol = QStringLiteral("bolt.fill");

} // namespace

Banner bannerFor(const AppModel &model, const QString &id, const QString &initialName)
{
    const bool idle = !model.busy();
    const LValues named{{QStringLiteral("name"), shownName(model, id, initialName)}};
    Banner banner;

    if (!model.connected()) {
        banner.state = BannerState::noService;
        banner.symbol = warningSymbol;
        banner.title = L(QStringLiteral("Waiting for Corvane's background service"));
        return banner;
    }

    const std::optional<Peer> peer = model.peer(id);
    if (!peer) {
        banner.state = BannerState::notConnected;
        banner.titleSecondary = true;
        banner.title = model.disconnected().contains(id) ? L(QStringLiteral("You disconnected {name}."), named)
                                                         : L(QStringLiteral("{name} isn't connected."), named);
        return banner;
    }

    if (peer->remote_receive) {
        banner.state = BannerState::receiving;
        banner.titleHeadline = true;
        banner.title = L(QStringLiteral("{name} is in receive mode"), named);
        banner.detail = L(QStringLiteral("Drop files here, or choose Send Files."));
        banner.flexibleSpace = true;
        banner.buttons = {{BannerAction::sendFiles, L(QStringLiteral("Send Files…")), boltSymbol, {}, {}, true,
                           idle && model.canSend(id)}};
        return banner;
    }

    if (peer->remote_share && peer->mount) {
        banner.state = BannerState::sharing;
        banner.titleHeadline = true;
        LValues values = named;
        values.insert(QStringLiteral("what"), peer->remote_share->label);
        banner.title = L(QStringLiteral("{name} is sharing {what}"), values);
        banner.detail = peer->remote_share->read_only ? L(QStringLiteral("Read-only: you can open and copy files."))
                                                      : L(QStringLiteral("You can add, change and delete files."));
        banner.flexibleSpace = true;
        const QString eject = L(QStringLiteral("Eject"));
        banner.buttons.append({BannerAction::eject, {}, QStringLiteral("eject"), eject, eject, false, idle});
        if (model.canCopy(id)) {
            banner.buttons.append(
                {BannerAction::getFiles, L(QStringLiteral("Get Files…")), boltSymbol,
                 L(QStringLiteral("Copy files from {name} to Downloads at full speed. You can also drop files here."),
                   named),
                 {}, false, idle});
        }
        // Opening files is this computer's own business: never held back.
        banner.buttons.append({BannerAction::open, L(QStringLiteral("Open")), {}, {}, {}, true, true});
        return banner;
    }

    if (peer->ejected) {
        banner.state = BannerState::ejected;
        banner.title = L(QStringLiteral("{name}’s shared files are ejected"), named);
        banner.flexibleSpace = true;
        banner.buttons = {{BannerAction::showAgain, L(QStringLiteral("Show Again")), {}, {}, {}, false, idle}};
        return banner;
    }

    if (peer->error && !savedLocationMissing(model, id)) {
        banner.state = BannerState::problem;
        banner.symbol = warningSymbol;
        banner.title = Localization::service(*peer->error);
        banner.titleCallout = true;
        banner.titleSelectable = true;
        banner.flexibleSpace = true;
        if (AppModel::isPrivacyRefusal(peer->error) && model.canOpenPrivacySettings()) {
            banner.buttons.append(
                {BannerAction::openPrivacySettings, L(QStringLiteral("Open Privacy Settings")), {}, {}, {}, false, true});
        }
        if (peer->remote_share)
            banner.buttons.append({BannerAction::tryAgain, L(QStringLiteral("Try Again")), {}, {}, {}, false, idle});
        return banner;
    }

    if (peer->remote_share) {
        banner.state = BannerState::opening;
        banner.spinner = true;
        banner.title = L(QStringLiteral("Opening {name}’s shared files…"), named);
        return banner;
    }

    banner.state = BannerState::waiting;
    banner.titleSecondary = true;
    banner.title = peer->choice_required && !model.remembered(id)
        ? L(QStringLiteral("Neither computer is sharing yet. Click a choice above once the codes match."))
        : L(QStringLiteral("Waiting for {name} to choose what to share…"), named);
    return banner;
}

void performBannerAction(AppModel &model, const QString &id, BannerAction action)
{
    switch (action) {
    case BannerAction::sendFiles:
        model.pickFiles(id);
        break;
    case BannerAction::eject:
        model.run(Command{.op = QStringLiteral("eject"), .peer = id});
        break;
    case BannerAction::getFiles:
        model.getFiles(id);
        break;
    case BannerAction::open:
        model.openFiles(id);
        break;
    case BannerAction::showAgain:
    case BannerAction::tryAgain:
        model.run(Command{.op = QStringLiteral("mount"), .peer = id});
        break;
    case BannerAction::openPrivacySettings:
        model.openPrivacySettings();
        break;
    }
}

} // namespace cv
