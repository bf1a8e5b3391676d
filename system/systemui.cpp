#include "system/systemui.h"

namespace lumeval {

SystemUi::~SystemUi() = default;

std::optional<FindBoxAnswer> SystemUi::findBox(const InputBoxRequest& request, const FindBoxOptions& options) {
    std::optional<QString> text = inputBox(request);
    if (!text) return std::nullopt;
    return FindBoxAnswer{*text, options};
}

std::vector<MsgResult> ButtonsOf(MsgButtons Buttons) {
    using R = MsgResult;
    switch (Buttons) {
        case MsgButtons::OkOnly:
            return {R::Ok};
        case MsgButtons::OkCancel:
            return {R::Ok, R::Cancel};
        case MsgButtons::AbortRetryIgnore:
            return {R::Abort, R::Retry, R::Ignore};
        case MsgButtons::YesNoCancel:
            return {R::Yes, R::No, R::Cancel};
        case MsgButtons::YesNo:
            return {R::Yes, R::No};
        case MsgButtons::RetryCancel:
            return {R::Retry, R::Cancel};
    }
    return {R::Ok};
}

MsgResult DismissAnswer(MsgButtons Buttons) {
    const std::vector<MsgResult> set = ButtonsOf(Buttons);
    for (MsgResult wanted : {MsgResult::Cancel, MsgResult::No}) {
        for (MsgResult b : set) {
            if (b == wanted) return b;
        }
    }
    return set.front();
}

bool IsMenuSeparator(const QString& item) {
    return item.isEmpty() || item == QLatin1String("-");
}

}  // namespace lumeval
