// The IAccessible objects of the window. One class serves the list and its items: a node with
// item -1 is the list, whose children are addressed both by number (VT_I4, 1 for the first item)
// and as item nodes of their own; an item node remembers the list it was made for and answers
// CO_E_OBJNOTCONNECTED once another list is shown. Every call first checks that the window the
// node was made for still lives, so a client that keeps an object past the plug-in's end gets
// errors, never freed memory: each live node also holds a reference on this module, so the code
// it calls into stays loaded after the shell let the plug-in go, and the last node's Release
// hands that reference back as its very last step.
//
// COM may call a node on any thread (in a multithreaded apartment, on its own worker threads).
// Reference counts are interlocked, and every other call is carried out on the window's thread,
// which alone reads and changes what the list shows: a call from another thread is sent to a
// message-only window there and waits for its answer.
//
// oleacc (LresultFromObject), oleaut32 (BSTRs) and ole32 (the apartment LresultFromObject
// marshals in) are loaded with LoadLibrary on the first WM_GETOBJECT, so a window no screen
// reader looks at costs nothing and the plug-in imports none of them.
#include "display/accessible_list.h"

#include "display/keyboard_selection.h"

#include <oleacc.h>

#include <cstdlib>
#include <new>

AccessibleListSource accessibleListSource = {};

namespace {

// Spelt out here so that nothing links against oleacc or uuid.
const IID iidUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID iidDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID iidAccessible = {
    0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

bool sameIid(REFIID a, const IID& b) {
    return memcmp(&a, &b, sizeof b) == 0;
}

struct Libraries {
    HMODULE oleacc, oleaut32, ole32;
    LRESULT(WINAPI* lresultFromObject)(REFIID, WPARAM, LPUNKNOWN);
    HRESULT(WINAPI* createStdAccessibleObject)(HWND, LONG, REFIID, void**);
    BSTR(WINAPI* sysAllocStringLen)(const OLECHAR*, UINT);
    HRESULT(WINAPI* coInitializeEx)(void*, DWORD);
    void(WINAPI* coUninitialize)();
    HRESULT(WINAPI* coDisconnectObject)(LPUNKNOWN, DWORD);
    bool apartmentEntered; // CoInitializeEx succeeded here and is balanced at the end
};
Libraries libraries = {};

template <typename Function> void find(HMODULE module, const char* name, Function& function) {
    function =
        module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
               : nullptr;
}

bool loadLibraries() {
    if (libraries.lresultFromObject && libraries.sysAllocStringLen)
        return true;
    if (!libraries.oleacc)
        libraries.oleacc = LoadLibraryA("oleacc.dll");
    if (!libraries.oleaut32)
        libraries.oleaut32 = LoadLibraryA("oleaut32.dll");
    if (!libraries.ole32)
        libraries.ole32 = LoadLibraryA("ole32.dll");
    find(libraries.oleacc, "LresultFromObject", libraries.lresultFromObject);
    find(libraries.oleacc, "CreateStdAccessibleObject", libraries.createStdAccessibleObject);
    find(libraries.oleaut32, "SysAllocStringLen", libraries.sysAllocStringLen);
    find(libraries.ole32, "CoInitializeEx", libraries.coInitializeEx);
    find(libraries.ole32, "CoUninitialize", libraries.coUninitialize);
    find(libraries.ole32, "CoDisconnectObject", libraries.coDisconnectObject);
    if (!libraries.lresultFromObject || !libraries.sysAllocStringLen)
        return false;
    // LresultFromObject marshals the object, which needs an apartment on this thread; a shell that
    // entered one already keeps it (S_FALSE is balanced too, a different model is left alone).
    if (libraries.coInitializeEx && !libraries.apartmentEntered)
        libraries.apartmentEntered =
            SUCCEEDED(libraries.coInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    return true;
}

// The window whose objects answer; null after the end.
HWND liveWindow = nullptr;

// The message-only window on the window's thread that runs calls arriving on other threads, and
// that thread.
HWND callWindow = nullptr;
DWORD windowThread = 0;
const char callWindowClass[] = "FeedMarqueeAccessibleCalls";
const UINT callMessage = WM_APP + 1;

// One call sent to the window's thread: run(work) answers it there.
struct WindowCall {
    HRESULT (*run)(void* work);
    void* work;
    HRESULT result;
};

LRESULT CALLBACK callWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == callMessage && lParam) {
        WindowCall* call = reinterpret_cast<WindowCall*>(lParam);
        call->result = call->run(call->work);
        return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

template <typename Work> HRESULT runWork(void* work) {
    return (*static_cast<Work*>(work))();
}

// Runs work on the window's thread and returns its answer; RPC_E_DISCONNECTED once the window is
// gone (a call still waiting then is answered so too).
template <typename Work> HRESULT onWindowThread(Work work) {
    HWND calls = *static_cast<HWND volatile*>(&callWindow);
    if (!calls)
        return RPC_E_DISCONNECTED;
    if (GetCurrentThreadId() == windowThread)
        return work();
    WindowCall call = {runWork<Work>, &work, RPC_E_DISCONNECTED};
    if (!SendMessageA(calls, callMessage, 0, reinterpret_cast<LPARAM>(&call)))
        return RPC_E_DISCONNECTED;
    return call.result;
}

HMODULE ownModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&callWindowProc), &module);
    return module;
}

bool makeCallWindow(HWND window) {
    if (callWindow)
        return true;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = callWindowProc;
    windowClass.hInstance = ownModule();
    windowClass.lpszClassName = callWindowClass;
    RegisterClassA(&windowClass); // fails harmlessly when a former window left it registered
    callWindow = CreateWindowExA(0, callWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 windowClass.hInstance, nullptr);
    windowThread = GetWindowThreadProcessId(window, nullptr);
    return callWindow != nullptr;
}

void destroyCallWindow() {
    HWND calls = callWindow;
    callWindow = nullptr;
    if (calls) {
        DestroyWindow(calls);
        UnregisterClassA(callWindowClass, ownModule());
    }
}

class AccessibleNode;
AccessibleNode* liveNodes = nullptr; // every node made, for the end's disconnection
volatile LONG nodesLock = 0;         // guards liveNodes: nodes end on whichever thread lets go

void lockNodes() {
    while (InterlockedCompareExchange(&nodesLock, 1, 0) != 0)
        Sleep(0);
}

void unlockNodes() {
    InterlockedExchange(&nodesLock, 0);
}

// A new node with one reference (malloc and placement: no throwing new in the DLL); null when
// memory runs out.
AccessibleNode* makeNode(HWND window, int item, unsigned listNumber);

} // namespace

// The module reference every live node holds, handed back by the Release below after the node is
// gone; C names, since that Release is written in assembly.
extern "C" {
HMODULE accessibleNodeModule = nullptr;
LONG __stdcall dropAccessibleNodeReference(AccessibleNode* node);
}

namespace {

class AccessibleNode final : public IAccessible {
  public:
    AccessibleNode(HWND window, int item, unsigned listNumber)
        : refs(1), window(window), item(item), listNumber(listNumber) {
        lockNodes();
        nextNode = liveNodes;
        liveNodes = this;
        unlockNodes();
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (sameIid(iid, iidUnknown) || sameIid(iid, iidDispatch) || sameIid(iid, iidAccessible)) {
            *object = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&refs));
    }
    // Drops a reference; the last one ends the node and then releases the module reference the
    // node held. That FreeLibrary may unload the code of this very function, so it is reached by
    // a jump that returns straight to the caller (which then sees 1, FreeLibrary's TRUE, where a
    // count of 0 would be: the count is for diagnostics only).
    ULONG STDMETHODCALLTYPE Release() override;

    // Takes a reference unless the node is already ending on another thread; false then.
    bool addRefIfAlive() {
        for (LONG count = refs; count > 0; count = refs)
            if (InterlockedCompareExchange(&refs, count + 1, count) == count)
                return true;
        return false;
    }
    LONG dropReference() {
        LONG left = InterlockedDecrement(&refs);
        if (left == 0)
            destroy();
        return left;
    }

    // IDispatch: the list is used through its vtable only.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible: each call is answered on the window's thread.
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        return onWindowThread([=] { return parentOf(parent); });
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        return onWindowThread([=] { return childCount(count); });
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
        return onWindowThread([=] { return childObject(child, object); });
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        return onWindowThread([=] {
            return text(child, name, accessibleListSource.listName, accessibleListSource.itemName);
        });
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return onWindowThread(
            [=] { return text(child, value, nullptr, accessibleListSource.itemValue); });
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
        return onWindowThread([=] {
            return text(child, description, accessibleListSource.listDescription,
                        accessibleListSource.itemDescription);
        });
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        return onWindowThread([=] { return roleOf(child, role); });
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        return onWindowThread([=] { return stateOf(child, state); });
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* help) override {
        return nothingToSay(help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
        if (topic)
            *topic = 0;
        return nothingToSay(file);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        return onWindowThread(
            [=] { return text(child, shortcut, accessibleListSource.listShortcut, nullptr); });
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        return onWindowThread([=] { return focusOf(focus); });
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        return onWindowThread([=] { return selectionOf(selection); });
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return onWindowThread([=] { return defaultActionOf(child, action); });
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        return onWindowThread([=] { return select(flags, child); });
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                          VARIANT child) override {
        return onWindowThread([=] { return location(left, top, width, height, child); });
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        return onWindowThread([=] { return navigate(direction, start, end); });
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* hit) override {
        return onWindowThread([=] { return hitTest(x, y, hit); });
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        return onWindowThread([=] { return doDefaultAction(child); });
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

    // Cut off when the window goes: remote clients lose their proxies, local ones get errors.
    void disconnect() {
        if (libraries.coDisconnectObject)
            libraries.coDisconnectObject(static_cast<IAccessible*>(this), 0);
    }
    AccessibleNode* next() const { return nextNode; }

  private:
    volatile LONG refs;
    HWND window;
    int item;            // -1: the list
    unsigned listNumber; // of the list an item node was made for
    AccessibleNode* nextNode;

    ~AccessibleNode() = default;

    void destroy() {
        lockNodes();
        for (AccessibleNode** link = &liveNodes; *link; link = &(*link)->nextNode)
            if (*link == this) {
                *link = nextNode;
                break;
            }
        unlockNodes();
        this->~AccessibleNode();
        std::free(this);
    }

    HRESULT parentOf(IDispatch** parent) const {
        if (!parent)
            return E_POINTER;
        *parent = nullptr;
        HRESULT state = usable();
        if (FAILED(state))
            return state;
        if (item >= 0) {
            *parent = makeNode(window, -1, 0);
            return *parent ? S_OK : E_OUTOFMEMORY;
        }
        if (!libraries.createStdAccessibleObject)
            return S_FALSE;
        return libraries.createStdAccessibleObject(window, OBJID_WINDOW, iidDispatch,
                                                   reinterpret_cast<void**>(parent));
    }
    HRESULT childCount(long* count) const {
        if (!count)
            return E_POINTER;
        *count = 0;
        HRESULT state = usable();
        if (FAILED(state))
            return state;
        if (item < 0)
            *count = accessibleListSource.itemCount();
        return S_OK;
    }
    HRESULT childObject(const VARIANT& child, IDispatch** object) const {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        int index;
        HRESULT found = resolve(child, &index);
        if (FAILED(found))
            return found;
        if (item >= 0 || index < 0)
            return E_INVALIDARG;
        *object = makeNode(window, index, accessibleListSource.listNumber());
        return *object ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT roleOf(const VARIANT& child, VARIANT* role) const {
        if (!role)
            return E_POINTER;
        role->vt = VT_EMPTY;
        int index;
        HRESULT found = resolve(child, &index);
        if (FAILED(found))
            return found;
        role->vt = VT_I4;
        role->lVal = index < 0 ? ROLE_SYSTEM_LIST : ROLE_SYSTEM_LISTITEM;
        return S_OK;
    }
    HRESULT stateOf(const VARIANT& child, VARIANT* state) const {
        if (!state)
            return E_POINTER;
        state->vt = VT_EMPTY;
        int index;
        HRESULT found = resolve(child, &index);
        if (FAILED(found))
            return found;
        bool focused = accessibleListSource.focused();
        int selected = accessibleListSource.selectedItem();
        long bits = STATE_SYSTEM_FOCUSABLE;
        if (index < 0) {
            if (focused && selected < 0)
                bits |= STATE_SYSTEM_FOCUSED;
        } else {
            bits |= STATE_SYSTEM_SELECTABLE;
            if (index == selected)
                bits |= STATE_SYSTEM_SELECTED | (focused ? STATE_SYSTEM_FOCUSED : 0);
            RECT rect;
            if (!accessibleListSource.itemRect(index, &rect))
                bits |= STATE_SYSTEM_OFFSCREEN;
        }
        state->vt = VT_I4;
        state->lVal = bits;
        return S_OK;
    }
    HRESULT focusOf(VARIANT* focus) const {
        if (!focus)
            return E_POINTER;
        focus->vt = VT_EMPTY;
        HRESULT state = usable();
        if (FAILED(state))
            return state;
        if (!accessibleListSource.focused())
            return S_FALSE;
        int selected = accessibleListSource.selectedItem();
        if (item >= 0 && item != selected)
            return S_FALSE;
        focus->vt = VT_I4;
        focus->lVal = item < 0 && selected >= 0 ? selected + 1 : CHILDID_SELF;
        return S_OK;
    }
    HRESULT selectionOf(VARIANT* selection) const {
        if (!selection)
            return E_POINTER;
        selection->vt = VT_EMPTY;
        HRESULT state = usable();
        if (FAILED(state))
            return state;
        int selected = accessibleListSource.selectedItem();
        if (selected < 0 || (item >= 0 && item != selected))
            return S_FALSE;
        selection->vt = VT_I4;
        selection->lVal = item < 0 ? selected + 1 : CHILDID_SELF;
        return S_OK;
    }
    HRESULT defaultActionOf(const VARIANT& child, BSTR* action) const {
        if (!action)
            return E_POINTER;
        *action = nullptr;
        int index;
        HRESULT found = resolve(child, &index);
        if (FAILED(found))
            return found;
        if (index < 0)
            return S_FALSE;
        return makeText(L"Open", 4, action);
    }
    HRESULT select(long flags, const VARIANT& child) const {
        int index;
        HRESULT found = resolve(child, &index);
        if (FAILED(found))
            return found;
        if (index < 0 || !(flags & (SELFLAG_TAKESELECTION | SELFLAG_TAKEFOCUS)))
            return E_INVALIDARG;
        accessibleListSource.selectItem(index);
        return S_OK;
    }
    HRESULT location(long* left, long* top, long* width, long* height, const VARIANT& child) const {
        if (!left || !top || !width || !height)
            return E_POINTER;
        *left = *top = *width = *height = 0;
        int index;
        HRESULT found = resolve(child, &index);
        if (FAILED(found))
            return found;
        RECT rect;
        if (index < 0)
            GetClientRect(window, &rect);
        else if (!accessibleListSource.itemRect(index, &rect))
            return S_FALSE;
        MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
        *left = rect.left;
        *top = rect.top;
        *width = rect.right - rect.left;
        *height = rect.bottom - rect.top;
        return S_OK;
    }
    HRESULT navigate(long direction, const VARIANT& start, VARIANT* end) const {
        if (!end)
            return E_POINTER;
        end->vt = VT_EMPTY;
        int index;
        HRESULT found = resolve(start, &index);
        if (FAILED(found))
            return found;
        int count = accessibleListSource.itemCount();
        int target = -1;
        if (index < 0 && direction == NAVDIR_FIRSTCHILD)
            target = 0;
        else if (index < 0 && direction == NAVDIR_LASTCHILD)
            target = count - 1;
        else if (index >= 0 && (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN))
            target = index + 1;
        else if (index >= 0 && (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP))
            target = index - 1;
        if (target < 0 || target >= count)
            return S_FALSE;
        if (item >= 0) {
            // An item's neighbour is an item object of its own: its number means nothing to the
            // item asked.
            IDispatch* neighbour = makeNode(window, target, listNumber);
            if (!neighbour)
                return E_OUTOFMEMORY;
            end->vt = VT_DISPATCH;
            end->pdispVal = neighbour;
            return S_OK;
        }
        end->vt = VT_I4;
        end->lVal = target + 1;
        return S_OK;
    }
    HRESULT hitTest(long x, long y, VARIANT* hit) const {
        if (!hit)
            return E_POINTER;
        hit->vt = VT_EMPTY;
        HRESULT state = usable();
        if (FAILED(state))
            return state;
        POINT point = {x, y};
        ScreenToClient(window, &point);
        RECT client;
        GetClientRect(window, &client);
        if (!PtInRect(&client, point))
            return S_FALSE;
        if (item >= 0) {
            RECT rect;
            if (!accessibleListSource.itemRect(item, &rect) || !PtInRect(&rect, point))
                return S_FALSE;
            hit->vt = VT_I4;
            hit->lVal = CHILDID_SELF;
            return S_OK;
        }
        hit->vt = VT_I4;
        hit->lVal = CHILDID_SELF;
        // Only painted items can be under the point: they are a run from the first one painted.
        int count = accessibleListSource.itemCount();
        int first = keyboardSelection.firstShown;
        for (int index = first < 0 ? 0 : first; index < count; ++index) {
            RECT rect;
            if (!accessibleListSource.itemRect(index, &rect))
                break;
            if (PtInRect(&rect, point)) {
                hit->lVal = index + 1;
                break;
            }
        }
        return S_OK;
    }
    HRESULT doDefaultAction(const VARIANT& child) const {
        int index;
        HRESULT found = resolve(child, &index);
        if (FAILED(found))
            return found;
        if (index < 0)
            return DISP_E_MEMBERNOTFOUND;
        return accessibleListSource.openItem(index) ? S_OK : E_FAIL;
    }

    HRESULT usable() const {
        if (liveWindow == nullptr || window != liveWindow || !IsWindow(window))
            return RPC_E_DISCONNECTED;
        if (item >= 0 && (listNumber != accessibleListSource.listNumber() ||
                          item >= accessibleListSource.itemCount()))
            return CO_E_OBJNOTCONNECTED;
        return S_OK;
    }

    // The item child names (-1: the list itself), or the error to answer. A child id comes as any
    // integer VARIANT (clients send VT_I4, VT_I2 or VT_INT; VT_EMPTY means the object itself).
    HRESULT resolve(const VARIANT& child, int* index) const {
        *index = -1;
        HRESULT state = usable();
        if (FAILED(state))
            return state;
        long id;
        if (child.vt == VT_EMPTY)
            id = CHILDID_SELF;
        else if (child.vt == VT_I4 || child.vt == VT_INT)
            id = child.lVal;
        else if (child.vt == VT_I2)
            id = child.iVal;
        else if (child.vt == VT_UI2)
            id = child.uiVal;
        else if (child.vt == VT_UI4 || child.vt == VT_UINT)
            id = static_cast<long>(child.ulVal);
        else
            return E_INVALIDARG;
        if (id == CHILDID_SELF) {
            *index = item;
            return S_OK;
        }
        if (item >= 0 || id < 1 || id > accessibleListSource.itemCount())
            return E_INVALIDARG;
        *index = static_cast<int>(id) - 1;
        return S_OK;
    }

    static HRESULT makeText(const wchar_t* text, size_t length, BSTR* out) {
        *out = libraries.sysAllocStringLen(text, static_cast<UINT>(length));
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    static HRESULT nothingToSay(BSTR* out) {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        return S_FALSE;
    }

    HRESULT text(const VARIANT& child, BSTR* out, void (*ofList)(WideText&),
                 void (*ofItem)(int, WideText&)) const {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        int index;
        HRESULT found = resolve(child, &index);
        if (FAILED(found))
            return found;
        WideText said;
        if (index < 0 && ofList)
            ofList(said);
        else if (index >= 0 && ofItem)
            ofItem(index, said);
        HRESULT result = said.length == 0 ? S_FALSE : makeText(said.text, said.length, out);
        releaseText(said);
        return result;
    }
};

AccessibleNode* makeNode(HWND window, int item, unsigned listNumber) {
    // The node's reference on this module, so that the code it runs stays while a client holds it.
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&callWindowProc), &module))
        return nullptr;
    void* memory = std::malloc(sizeof(AccessibleNode));
    if (!memory) {
        FreeLibrary(module);
        return nullptr;
    }
    accessibleNodeModule = module;
    return new (memory) AccessibleNode(window, item, listNumber);
}

} // namespace

LONG __stdcall dropAccessibleNodeReference(AccessibleNode* node) {
    return node->dropReference();
}

// Release(this): drops the reference; when it was the last, the node is gone and the module
// reference it held is handed to FreeLibrary in place of this call, so nothing of the module runs
// after it (this stdcall frame and FreeLibrary's take one argument each).
__attribute__((naked)) ULONG STDMETHODCALLTYPE AccessibleNode::Release() {
    asm volatile("pushl 4(%esp)\n\t"
                 "call _dropAccessibleNodeReference@4\n\t"
                 "testl %eax, %eax\n\t"
                 "jnz 1f\n\t"
                 "movl _accessibleNodeModule, %eax\n\t"
                 "movl %eax, 4(%esp)\n\t"
                 "jmp *__imp__FreeLibrary@4\n"
                 "1:\n\t"
                 "ret $4\n\t");
}

LRESULT answerAccessibleObject(HWND window, WPARAM wParam, LPARAM lParam) {
    if (static_cast<LONG>(lParam) != OBJID_CLIENT || !accessibleListSource.itemCount)
        return 0;
    if (!loadLibraries() || !makeCallWindow(window))
        return 0;
    liveWindow = window;
    AccessibleNode* list = makeNode(window, -1, 0);
    if (!list)
        return 0;
    LRESULT answer =
        libraries.lresultFromObject(iidAccessible, wParam, static_cast<IAccessible*>(list));
    list->Release();
    return answer > 0 ? answer : 0;
}

void disconnectAccessibleObjects() {
    liveWindow = nullptr;
    // Calls still waiting for the window's thread are answered RPC_E_DISCONNECTED.
    destroyCallWindow();
    // Every node still alive is held while they are cut off (a disconnection releases references
    // and could end a node half-way through); a node already ending on another thread is left to
    // end.
    lockNodes();
    size_t count = 0;
    for (AccessibleNode* node = liveNodes; node; node = node->next())
        ++count;
    AccessibleNode** held =
        count ? static_cast<AccessibleNode**>(std::malloc(count * sizeof *held)) : nullptr;
    size_t holding = 0;
    for (AccessibleNode* node = liveNodes; node && held; node = node->next())
        if (node->addRefIfAlive())
            held[holding++] = node;
    unlockNodes();
    for (size_t i = 0; i < holding; ++i)
        held[i]->disconnect();
    for (size_t i = 0; i < holding; ++i)
        held[i]->Release();
    std::free(held);
    if (libraries.apartmentEntered && libraries.coUninitialize)
        libraries.coUninitialize();
    // The libraries stay loaded while a client may still hold a node whose BSTRs came from
    // oleaut32; the nodes themselves answer errors from now on.
    libraries.apartmentEntered = false;
}
