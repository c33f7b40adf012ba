#include "display/failure_note.h"

#include <cstring>

#include "content/feed_items.h"
#include "display/entry_text.h"
#include "feed/update_worker.h"
#include "plugin/settings.h"

namespace {

WideText note;

} // namespace

const wchar_t* failureNote() {
    const FeedItem* first = DisplayList.first;
    if (first == nullptr || first->next != nullptr || first->title == nullptr ||
        std::strcmp(first->title, failedText) != 0)
        return nullptr;
    clearText(note);
    if (settings.feedUrl[0] == '\0') {
        appendWide(note, L"Right-click: RSS \x2192 Feed URL");
    } else {
        const char* reason = lastFailureReason();
        if (reason[0] == '\0')
            return nullptr;
        appendAnsi(note, reason);
    }
    return textOf(note);
}

void releaseFailureNote() {
    releaseText(note);
}
