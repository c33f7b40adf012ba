// The shell's real menus: a tree made for opening is shown as a Win32 popup menu at the cursor,
// with submenus, separators and check marks. A pick sends the entry's command to the plug-ins;
// integer and text entries first ask for the value in a small input box.
//
// The popup is built from a copy of the tree, so a plug-in may delete or rebuild its tree while
// the menu is open; the copy is matched back to a live tree with the same menu id when a pick
// needs the current value.
#include <algorithm>
#include <cstdlib>
#include "shell/shell_internal.h"
#include <commctrl.h>

namespace {

struct PopupNode {
    MenuItemKind kind;
    std::string label, command, text, menuId;
    int value = 0, minimum = 0, maximum = 0;
    int position = 0;             // the entry's index in its menu
    std::vector<PopupNode> items; // a submenu's entries
};

PopupNode openTree;                          // the tree of the popup that is open
std::vector<const PopupNode*> popupCommands; // menu command id - 1 to entry
bool popupIsOpen = false;
Menu* reopenAfterClose = nullptr;
bool popupWanted = false;        // an open request is on its way to the GUI thread
std::vector<WPARAM> pendingKeys; // keys for the popup about to open

// ---- Input box --------------------------------------------------------------------------------

const char inputBoxClass[] = "BlackboxInputBox";
const int ID_EDIT = 100, ID_SPIN = 101, ID_PROMPT = 102;

struct InputBox {
    HWND window = nullptr, edit = nullptr;
    bool isInteger = false;
    int minimum = 0, maximum = 0;
    bool done = false, accepted = false;
    std::string result;
};
InputBox* openBox = nullptr;
bool haveQueuedAnswer = false, queuedCancel = false;
std::string queuedAnswer;

std::string windowText(HWND window) {
    int length = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    GetWindowTextA(window, &text[0], length + 1);
    text.resize(static_cast<size_t>(length));
    return text;
}

// Takes the edit's text as the answer if it is acceptable; an integer must lie in the range.
bool acceptBox(InputBox& box) {
    std::string text = windowText(box.edit);
    if (box.isInteger) {
        int number;
        if (!parseInt(text, number) || number < box.minimum || number > box.maximum)
            return false;
        text = std::to_string(number);
    }
    box.result = text;
    box.accepted = true;
    box.done = true;
    return true;
}

LRESULT CALLBACK inputBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    InputBox* box = reinterpret_cast<InputBox*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_COMMAND:
        if (!box)
            break;
        if (LOWORD(wParam) == IDOK) {
            if (!acceptBox(*box)) {
                MessageBeep(MB_ICONWARNING);
                SetFocus(box->edit);
                SendMessageA(box->edit, EM_SETSEL, 0, -1);
            }
            return 0;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            box->done = true;
            return 0;
        }
        break;
    case WM_CLOSE:
        if (box)
            box->done = true;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Shows a small modal box with a prompt and an edit field; true with the text when accepted.
bool runInputBox(const std::string& title, const std::string& prompt, const std::string& initial,
                 bool isInteger, int minimum, int maximum, std::string& answer) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    if (!GetClassInfoA(instance, inputBoxClass, &windowClass)) {
        windowClass.lpfnWndProc = inputBoxProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = inputBoxClass;
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        RegisterClassA(&windowClass);
    }
    InputBox box;
    box.isInteger = isInteger;
    box.minimum = minimum;
    box.maximum = maximum;
    POINT cursor;
    GetCursorPos(&cursor);
    const int width = 300, height = 130;
    HWND owner = shellMainWindow();
    box.window = CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, inputBoxClass, title.c_str(),
                                 WS_POPUP | WS_CAPTION | WS_SYSMENU, cursor.x, cursor.y, width,
                                 height, owner, nullptr, instance, nullptr);
    if (!box.window)
        return false;
    SetWindowLongPtrA(box.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&box));
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    HWND promptWindow =
        CreateWindowExA(0, "STATIC", prompt.c_str(), WS_CHILD | WS_VISIBLE, 10, 8, 270, 16,
                        box.window, reinterpret_cast<HMENU>(ID_PROMPT), instance, nullptr);
    box.edit = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", initial.c_str(),
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 10, 28,
                               isInteger ? 250 : 270, 22, box.window,
                               reinterpret_cast<HMENU>(ID_EDIT), instance, nullptr);
    HWND okButton = CreateWindowExA(
        0, "BUTTON", "OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 110, 62, 80, 24,
        box.window, reinterpret_cast<HMENU>(IDOK), instance, nullptr);
    HWND cancelButton =
        CreateWindowExA(0, "BUTTON", "Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 200, 62, 80, 24,
                        box.window, reinterpret_cast<HMENU>(IDCANCEL), instance, nullptr);
    for (HWND control : {promptWindow, box.edit, okButton, cancelButton})
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (isInteger) {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_UPDOWN_CLASS};
        InitCommonControlsEx(&controls);
        HWND spin = CreateWindowExA(0, UPDOWN_CLASSA, "",
                                    WS_CHILD | WS_VISIBLE | UDS_SETBUDDYINT | UDS_ALIGNRIGHT |
                                        UDS_ARROWKEYS | UDS_NOTHOUSANDS,
                                    0, 0, 0, 0, box.window, reinterpret_cast<HMENU>(ID_SPIN),
                                    instance, nullptr);
        SendMessageA(spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(box.edit), 0);
        SendMessageA(spin, UDM_SETRANGE32, minimum, maximum);
        SetWindowTextA(box.edit, initial.c_str());
    }
    // Keep the box on the screen even when the cursor stands near the bottom-right corner.
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    int x = std::max<int>(work.left, std::min<int>(cursor.x, work.right - width));
    int y = std::max<int>(work.top, std::min<int>(cursor.y, work.bottom - height));
    SetWindowPos(box.window, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    SetForegroundWindow(box.window);
    SetFocus(box.edit);
    SendMessageA(box.edit, EM_SETSEL, 0, -1);

    openBox = &box;
    recordEvent("inputbox", {title, initial});
    if (haveQueuedAnswer) {
        haveQueuedAnswer = false;
        if (queuedCancel) {
            box.done = true;
        } else {
            SetWindowTextA(box.edit, queuedAnswer.c_str());
            PostMessageA(box.window, WM_COMMAND, IDOK, 0);
        }
    }
    MSG message;
    while (!box.done) {
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got <= 0) {
            // The shell is quitting: give the quit back to the loop that ends the program.
            if (got == 0)
                PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (!IsDialogMessageA(box.window, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    openBox = nullptr;
    DestroyWindow(box.window);
    if (box.accepted)
        answer = box.result;
    return box.accepted;
}

// ---- Popup menu -------------------------------------------------------------------------------

PopupNode copyTree(const Menu* menu) {
    PopupNode node;
    node.kind = ITEM_SUBMENU;
    node.menuId = menu->id;
    node.label = menu->title;
    int position = 0;
    for (const MenuItem* item : menu->items) {
        PopupNode child;
        if (item->kind == ITEM_SUBMENU && item->submenu)
            child = copyTree(item->submenu);
        child.kind = item->kind;
        child.label = item->label;
        child.command = item->command;
        child.text = item->text;
        child.value = item->value;
        child.minimum = item->minimum;
        child.maximum = item->maximum;
        child.position = position++;
        child.menuId = menu->id;
        if (item->kind == ITEM_COMMAND)
            child.value = item->checked ? 1 : 0;
        node.items.push_back(child);
    }
    return node;
}

std::string menuLabel(const std::string& label) {
    std::string out;
    for (char c : label) {
        if (c == '&')
            out += '&'; // a single & would underline the next letter
        out += c;
    }
    return out;
}

std::string shortened(const std::string& text) {
    return text.size() <= 32 ? text : text.substr(0, 29) + "...";
}

HMENU buildPopup(const PopupNode& node) {
    HMENU menu = CreatePopupMenu();
    for (const PopupNode& item : node.items) {
        // An entry without a label is shown with a blank, so that it keeps a line's height.
        std::string label = item.label.empty() ? std::string(" ") : menuLabel(item.label);
        switch (item.kind) {
        case ITEM_NOP:
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            break;
        case ITEM_SUBMENU:
            AppendMenuA(menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(buildPopup(item)),
                        label.c_str());
            break;
        case ITEM_COMMAND:
            popupCommands.push_back(&item);
            AppendMenuA(menu, MF_STRING | (item.value ? MF_CHECKED : MF_UNCHECKED),
                        popupCommands.size(), label.c_str());
            break;
        case ITEM_INT:
            popupCommands.push_back(&item);
            label += "\t" + std::to_string(item.value);
            AppendMenuA(menu, MF_STRING, popupCommands.size(), label.c_str());
            break;
        case ITEM_STRING:
            popupCommands.push_back(&item);
            label += "\t" + menuLabel(shortened(item.text));
            AppendMenuA(menu, MF_STRING, popupCommands.size(), label.c_str());
            break;
        }
    }
    return menu;
}

// The live entry that a copied entry stands for: same menu id, same position, same command.
const MenuItem* liveCounterpart(const Menu* menu, const PopupNode& entry) {
    if (menu->id == entry.menuId && entry.position < static_cast<int>(menu->items.size())) {
        const MenuItem* item = menu->items[entry.position];
        if (item->kind == entry.kind && item->command == entry.command)
            return item;
    }
    for (const MenuItem* item : menu->items)
        if (item->submenu)
            if (const MenuItem* found = liveCounterpart(item->submenu, entry))
                return found;
    return nullptr;
}

void carryOutPick(PopupNode entry) {
    for (Menu* root : liveRootMenus())
        if (const MenuItem* live = liveCounterpart(root, entry)) {
            entry.value = live->value;
            entry.minimum = live->minimum;
            entry.maximum = live->maximum;
            entry.text = live->text;
            break;
        }
    recordEvent("pick", {entry.menuId, entry.label, entry.command});
    if (entry.kind == ITEM_COMMAND) {
        deliverCommand(entry.command);
        return;
    }
    std::string answer;
    if (entry.kind == ITEM_INT) {
        std::string prompt = entry.label + " (" + std::to_string(entry.minimum) + " to " +
                             std::to_string(entry.maximum) + "):";
        if (runInputBox(entry.label, prompt, std::to_string(entry.value), true, entry.minimum,
                        entry.maximum, answer))
            deliverCommand(entry.command + " " + answer);
    } else if (entry.kind == ITEM_STRING) {
        if (runInputBox(entry.label, entry.label + ":", entry.text, false, 0, 0, answer))
            deliverCommand(entry.command + " " + answer);
    }
}

// The keys that select the entry at path in the open popup: Down to walk over the selectable
// entries, Right to open a submenu, Return to pick.
bool keysForPath(const PopupNode& root, const std::string& path, std::vector<WPARAM>& keys,
                 std::string& error) {
    bool numeric = !path.empty() && path.find_first_not_of("0123456789.") == std::string::npos;
    const PopupNode* menu = &root;
    size_t start = 0;
    bool first = true;
    while (true) {
        size_t end = path.find(numeric ? '.' : '/', start);
        std::string part = path.substr(start, end == std::string::npos ? end : end - start);
        int target = -1;
        for (size_t i = 0; i < menu->items.size(); ++i) {
            bool match = numeric
                             ? static_cast<int>(i) + 1 == std::atoi(part.c_str())
                             : (menu->items[i].kind != ITEM_NOP && menu->items[i].label == part);
            if (match) {
                target = static_cast<int>(i);
                break;
            }
        }
        if (target < 0 || menu->items[target].kind == ITEM_NOP) {
            error = "no entry \"" + part + "\" in the open menu";
            return false;
        }
        int steps = 0;
        for (int i = 0; i <= target; ++i)
            if (menu->items[i].kind != ITEM_NOP)
                ++steps;
        // The top menu opens with nothing selected; a submenu opened with Right selects its first
        // entry.
        if (!first)
            --steps;
        keys.insert(keys.end(), steps, VK_DOWN);
        const PopupNode& chosen = menu->items[target];
        if (end == std::string::npos) {
            if (chosen.kind == ITEM_SUBMENU) {
                error = "a submenu sends nothing";
                return false;
            }
            keys.push_back(VK_RETURN);
            return true;
        }
        if (chosen.kind != ITEM_SUBMENU) {
            error = "\"" + part + "\" is not a submenu";
            return false;
        }
        keys.push_back(VK_RIGHT);
        menu = &chosen;
        start = end + 1;
        first = false;
    }
}

void postKeys(const std::vector<WPARAM>& keys) {
    for (WPARAM key : keys) {
        PostMessageA(shellMainWindow(), WM_KEYDOWN, key, 1);
        PostMessageA(shellMainWindow(), WM_KEYUP, key, 0xC0000001);
    }
}

} // namespace

void openPopupMenu(Menu* root) {
    popupWanted = false;
    if (!isLiveMenu(root) || !root->popup) { // deleted or rebuilt for refreshing meanwhile
        pendingKeys.clear();                 // they were meant for this menu, never for a later one
        return;
    }
    if (openBox) {
        // A value is being asked for: a menu on top of the box would leave two answers pending.
        recordEvent("popup-refused", {root->id});
        pendingKeys.clear();
        return;
    }
    if (popupIsOpen) {
        // A second right-click while a menu is open: close it and open the new tree after.
        reopenAfterClose = root;
        EndMenu();
        return;
    }
    HWND owner = shellMainWindow();
    openTree = copyTree(root);
    popupCommands.clear();
    HMENU menu = buildPopup(openTree);
    popupIsOpen = true;
    recordEvent("popup", {root->id});
    POINT cursor;
    GetCursorPos(&cursor);
    SetForegroundWindow(owner);
    if (!pendingKeys.empty()) {
        postKeys(pendingKeys);
        pendingKeys.clear();
    }
    int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, cursor.x,
                                cursor.y, 0, owner, nullptr);
    PostMessageA(owner, WM_NULL, 0, 0); // lets the menu close properly when focus moves away
    DestroyMenu(menu);
    popupIsOpen = false;
    if (chosen > 0 && static_cast<size_t>(chosen) <= popupCommands.size())
        carryOutPick(*popupCommands[chosen - 1]);
    else
        recordEvent("popup-closed", {});
    popupCommands.clear();
    if (reopenAfterClose) {
        Menu* next = reopenAfterClose;
        reopenAfterClose = nullptr;
        openPopupMenu(next);
    }
}

void notePopupRequested() {
    popupWanted = true;
}

bool popupMenuOpen() {
    return popupIsOpen;
}
bool inputBoxOpen() {
    return openBox != nullptr;
}

std::string pickOpenPopup(const std::string& path) {
    if (!popupIsOpen && !popupWanted)
        return "no menu is open";
    std::vector<WPARAM> keys;
    std::string error;
    if (popupIsOpen) {
        if (!keysForPath(openTree, path, keys, error))
            return error;
        postKeys(keys);
        return "";
    }
    // The open request is still queued: check the path against the tree that will open.
    Menu* tree = currentMenuTree();
    if (!tree)
        return "no menu is open";
    PopupNode copy = copyTree(tree);
    if (!keysForPath(copy, path, keys, error))
        return error;
    pendingKeys = keys;
    return "";
}

void closeOpenPopup() {
    if (popupIsOpen)
        EndMenu();
}

std::string answerInputBox(const std::string& text, bool cancel) {
    if (!openBox) {
        haveQueuedAnswer = true;
        queuedCancel = cancel;
        queuedAnswer = text;
        return "";
    }
    if (cancel) {
        openBox->done = true;
        return "";
    }
    SetWindowTextA(openBox->edit, text.c_str());
    if (!acceptBox(*openBox))
        return "not accepted: " + text;
    return "";
}
