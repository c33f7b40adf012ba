// The shell's menu trees: plug-ins build them entry by entry, show them, and delete them whole.
// The shell keeps every live menu in a list so that a handle that was already deleted, or never
// was a menu, is refused instead of followed.
#include <algorithm>
#include <cstdlib>
#include "shell/shell_internal.h"

namespace {

std::vector<Menu*> liveMenus;
unsigned nextSerial = 1;
Menu* lastShown = nullptr;
int openRequests = 0;

MenuItem* addItem(Menu* menu, MenuItemKind kind, const char* label, const char* command) {
    if (!isLiveMenu(menu))
        return nullptr;
    MenuItem* item = new MenuItem();
    item->kind = kind;
    item->label = label ? label : "";
    item->command = command ? command : "";
    item->checked = false;
    item->value = item->minimum = item->maximum = 0;
    item->submenu = nullptr;
    item->owner = menu;
    menu->items.push_back(item);
    return item;
}

void freeMenu(Menu* menu) {
    for (MenuItem* item : menu->items) {
        if (item->submenu)
            freeMenu(item->submenu);
        delete item;
    }
    liveMenus.erase(std::remove(liveMenus.begin(), liveMenus.end(), menu), liveMenus.end());
    if (lastShown == menu)
        lastShown = nullptr;
    delete menu;
}

bool isAncestorOrSelf(const Menu* candidate, const Menu* menu) {
    for (const Menu* m = menu; m; m = m->parentItem ? m->parentItem->owner : nullptr)
        if (m == candidate)
            return true;
    return false;
}

Menu* treeRoot(Menu* menu) {
    while (menu->parentItem)
        menu = menu->parentItem->owner;
    return menu;
}

void dumpInto(std::string& out, const Menu* menu, const std::string& path) {
    std::vector<std::string> fields = {path.empty() ? "-" : path, menu->title, menu->id,
                                       menu->popup ? "popup" : "refresh"};
    out += recordLine(ShellRecordEntry{"menu", fields});
    out += '\n';
    int index = 0;
    for (const MenuItem* item : menu->items) {
        std::string itemPath = (path.empty() ? "" : path + ".") + std::to_string(++index);
        std::vector<std::string> itemFields = {itemPath, menuItemKindName(item->kind), item->label,
                                               item->command};
        switch (item->kind) {
        case ITEM_COMMAND:
            itemFields.push_back(item->checked ? "checked" : "unchecked");
            break;
        case ITEM_INT:
            itemFields.push_back(std::to_string(item->value));
            itemFields.push_back(std::to_string(item->minimum));
            itemFields.push_back(std::to_string(item->maximum));
            break;
        case ITEM_STRING:
            itemFields.push_back(item->text);
            break;
        case ITEM_SUBMENU:
            itemFields.push_back(item->submenu ? item->submenu->id : "");
            break;
        case ITEM_NOP:
            break;
        }
        out += recordLine(ShellRecordEntry{"item", itemFields});
        out += '\n';
        if (item->kind == ITEM_SUBMENU && item->submenu)
            dumpInto(out, item->submenu, itemPath);
    }
}

std::vector<std::string> splitPath(const std::string& path, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t end = path.find(separator, start);
        parts.push_back(path.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

} // namespace

const char* menuItemKindName(MenuItemKind kind) {
    switch (kind) {
    case ITEM_COMMAND:
        return "command";
    case ITEM_INT:
        return "int";
    case ITEM_STRING:
        return "string";
    case ITEM_SUBMENU:
        return "submenu";
    case ITEM_NOP:
        return "separator";
    }
    return "?";
}

bool isLiveMenu(const Menu* menu) {
    return menu && std::find(liveMenus.begin(), liveMenus.end(), menu) != liveMenus.end();
}

std::vector<Menu*> liveRootMenus() {
    std::vector<Menu*> roots;
    for (Menu* menu : liveMenus)
        if (!menu->parentItem)
            roots.push_back(menu);
    return roots;
}

int liveMenuCount() {
    return static_cast<int>(liveMenus.size());
}

Menu* currentMenuTree() {
    if (isLiveMenu(lastShown))
        return lastShown;
    Menu* newest = nullptr;
    for (Menu* menu : liveRootMenus())
        if (!newest || menu->serial > newest->serial)
            newest = menu;
    return newest;
}

int menuOpenRequests() {
    return openRequests;
}

std::string dumpMenuTree(const Menu* root) {
    std::string out;
    if (isLiveMenu(root))
        dumpInto(out, root, "");
    return out;
}

MenuItem* findMenuEntry(Menu* root, const std::string& path, std::string& error) {
    if (!isLiveMenu(root)) {
        error = "no menu";
        return nullptr;
    }
    bool numeric = !path.empty() && path.find_first_not_of("0123456789.") == std::string::npos;
    std::vector<std::string> parts = splitPath(path, numeric ? '.' : '/');
    Menu* menu = root;
    for (size_t i = 0; i < parts.size(); ++i) {
        MenuItem* found = nullptr;
        if (numeric) {
            int index = std::atoi(parts[i].c_str());
            if (index >= 1 && static_cast<size_t>(index) <= menu->items.size())
                found = menu->items[index - 1];
        } else {
            for (MenuItem* item : menu->items)
                if (item->kind != ITEM_NOP && item->label == parts[i]) {
                    found = item;
                    break;
                }
        }
        if (!found) {
            error = "no entry \"" + parts[i] + "\" in menu " + menu->id;
            return nullptr;
        }
        if (i + 1 == parts.size())
            return found;
        if (found->kind != ITEM_SUBMENU || !found->submenu) {
            error = "\"" + parts[i] + "\" is not a submenu";
            return nullptr;
        }
        menu = found->submenu;
    }
    return nullptr;
}

std::string pickCommand(const MenuItem& item, const std::string& value) {
    if (item.kind == ITEM_INT || item.kind == ITEM_STRING)
        return item.command + " " + value;
    return item.command;
}

std::string pickMenuEntry(const std::string& path, const std::string& value) {
    std::string error;
    MenuItem* item = findMenuEntry(currentMenuTree(), path, error);
    if (!item)
        return error;
    if (item->kind == ITEM_SUBMENU || item->kind == ITEM_NOP)
        return std::string("a ") + menuItemKindName(item->kind) + " sends nothing";
    std::string chosen = value;
    if (item->kind == ITEM_INT) {
        int number;
        if (!parseInt(value, number))
            return "an integer entry needs a number";
        if (number < item->minimum || number > item->maximum)
            return "out of range " + std::to_string(item->minimum) + " to " +
                   std::to_string(item->maximum);
        chosen = std::to_string(number);
    }
    deliverCommand(pickCommand(*item, chosen));
    return "";
}

extern "C" {

Menu* MakeNamedMenu(const char* title, const char* id, bool popup) {
    recordEvent("MakeNamedMenu", {textArg(title), textArg(id), boolArg(popup)});
    Menu* menu = new Menu();
    menu->title = title ? title : "";
    menu->id = id ? id : "";
    menu->popup = popup;
    menu->parentItem = nullptr;
    menu->serial = nextSerial++;
    liveMenus.push_back(menu);
    return menu;
}

MenuItem* MakeSubmenu(Menu* parent, Menu* child, const char* title) {
    recordEvent("MakeSubmenu", {isLiveMenu(parent) ? parent->id : "(invalid)",
                                isLiveMenu(child) ? child->id : "(invalid)", textArg(title)});
    // A menu hangs under one parent only, and never under itself or its own descendants: either
    // would make DelMenu free it twice.
    if (!isLiveMenu(parent) || !isLiveMenu(child) || child->parentItem ||
        isAncestorOrSelf(child, parent))
        return nullptr;
    MenuItem* item = addItem(parent, ITEM_SUBMENU, title, nullptr);
    item->submenu = child;
    child->parentItem = item;
    return item;
}

MenuItem* MakeMenuItem(Menu* menu, const char* label, const char* command, bool checked) {
    recordEvent("MakeMenuItem", {isLiveMenu(menu) ? menu->id : "(invalid)", textArg(label),
                                 textArg(command), boolArg(checked)});
    MenuItem* item = addItem(menu, ITEM_COMMAND, label, command);
    if (item)
        item->checked = checked;
    return item;
}

MenuItem* MakeMenuItemInt(Menu* menu, const char* label, const char* command, int value,
                          int minimum, int maximum) {
    recordEvent("MakeMenuItemInt",
                {isLiveMenu(menu) ? menu->id : "(invalid)", textArg(label), textArg(command),
                 intArg(value), intArg(minimum), intArg(maximum)});
    MenuItem* item = addItem(menu, ITEM_INT, label, command);
    if (item) {
        item->value = value;
        item->minimum = minimum;
        item->maximum = maximum;
    }
    return item;
}

MenuItem* MakeMenuItemString(Menu* menu, const char* label, const char* command, const char* text) {
    recordEvent("MakeMenuItemString", {isLiveMenu(menu) ? menu->id : "(invalid)", textArg(label),
                                       textArg(command), textArg(text)});
    MenuItem* item = addItem(menu, ITEM_STRING, label, command);
    if (item)
        item->text = text ? text : "";
    return item;
}

MenuItem* MakeMenuNOP(Menu* menu, const char* label) {
    recordEvent("MakeMenuNOP", {isLiveMenu(menu) ? menu->id : "(invalid)", textArg(label)});
    return addItem(menu, ITEM_NOP, label, nullptr);
}

void ShowMenu(Menu* menu) {
    bool live = isLiveMenu(menu);
    recordEvent("ShowMenu", {live ? menu->id : "(invalid)",
                             live ? boolArg(menu->popup) : std::string("(invalid)")});
    if (!live)
        return;
    Menu* root = treeRoot(menu);
    lastShown = root;
    // A tree made for refreshing is kept for the next opening and never opened itself.
    if (menu->popup) {
        ++openRequests;
        requestMenuPopup(menu);
    }
}

void DelMenu(Menu* menu) {
    recordEvent("DelMenu", {isLiveMenu(menu) ? menu->id : "(invalid)"});
    if (!isLiveMenu(menu))
        return;
    if (menu->parentItem) { // deleting a submenu leaves its entry behind, opening nothing
        menu->parentItem->submenu = nullptr;
        menu->parentItem = nullptr;
    }
    freeMenu(menu);
}

} // extern "C"
