#include "framework/Dialog.h"

#include "framework/Application.h"
#include "framework/DataExchange.h"

namespace lumetra {

namespace {
// Marks the top-level windows that are dialogs of ours, for keyboard pre-translation.
constexpr const char* DialogProperty = "LumetraDialog";

bool ReturnsValueDirectly(UINT message) {
    switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
        return true;
    default:
        return false;
    }
}
} // namespace

Dialog::Dialog(UINT templateId, HWND parent) : parent_(parent), templateId_(templateId) {}

Dialog::~Dialog() {
    if (hwnd_) {
        // The window outlives no object: detach first so no message reaches a destroyed object.
        ::SetWindowLongPtrA(hwnd_, DWLP_USER, 0);
        ::RemovePropA(hwnd_, DialogProperty);
        HWND window = hwnd_;
        hwnd_ = nullptr;
        ::DestroyWindow(window);
    }
}

INT_PTR Dialog::DoModal() {
    modal_ = true;
    endRequested_ = false;
    modalResult_ = -1;
    HWND window = ::CreateDialogParamA(ResourceInstance(), MAKEINTRESOURCEA(templateId_), parent_, DialogProc,
                                       reinterpret_cast<LPARAM>(this));
    if (!window) {
        modal_ = false;
        return -1;
    }
    const bool disableParent = parent_ && ::IsWindowEnabled(parent_);
    if (disableParent)
        ::EnableWindow(parent_, FALSE);
    if (!endRequested_ && hwnd_ && !::IsWindowVisible(hwnd_))
        ::ShowWindow(hwnd_, SW_SHOW);

    MSG msg;
    while (!endRequested_ && hwnd_) {
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got == -1)
            break;
        if (!PreTranslate(msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }

    if (disableParent)
        ::EnableWindow(parent_, TRUE);
    if (hwnd_) {
        ::ShowWindow(hwnd_, SW_HIDE);
        DestroyWindow();
    }
    modal_ = false;
    return modalResult_;
}

bool Dialog::Create(HWND owner) {
    modal_ = false;
    HWND window = ::CreateDialogParamA(ResourceInstance(), MAKEINTRESOURCEA(templateId_), owner, DialogProc,
                                       reinterpret_cast<LPARAM>(this));
    return window != nullptr;
}

void Dialog::EndDialog(INT_PTR result) {
    modalResult_ = result;
    if (modal_) {
        endRequested_ = true;
        if (hwnd_)
            ::PostMessageA(hwnd_, WM_NULL, 0, 0); // wake the modal loop
    } else if (hwnd_) {
        ::ShowWindow(hwnd_, SW_HIDE);
    }
}

bool Dialog::DestroyWindow() {
    if (!hwnd_)
        return false;
    return ::DestroyWindow(hwnd_) != FALSE;
}

bool Dialog::UpdateData(bool saveAndValidate) {
    return RunExchange({.saving = saveAndValidate});
}

bool Dialog::UpdateDataKeepingValid(bool showRefusal) {
    return RunExchange({.saving = true, .stopAtFirstRefusal = false, .showRefusal = showRefusal});
}

bool Dialog::RunExchange(const DataExchange::Options& options) {
    const bool wasExchanging = exchanging_;
    exchanging_ = true;
    DataExchange exchange(*this, options);
    DoDataExchange(exchange);
    exchanging_ = wasExchanging;
    return !exchange.Failed();
}

bool Dialog::PreTranslate(MSG& msg) {
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST || !msg.hwnd)
        return false;
    HWND root = ::GetAncestor(msg.hwnd, GA_ROOT);
    if (!root || !::GetPropA(root, DialogProperty))
        return false;
    return ::IsDialogMessageA(root, &msg) != FALSE;
}

BOOL Dialog::OnInitDialog() {
    UpdateData(false);
    return TRUE;
}

void Dialog::OnOK() {
    if (!UpdateData(true))
        return;
    EndDialog(IDOK);
}

void Dialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void Dialog::DoDataExchange(DataExchange&) {}

std::string Dialog::FieldName(int) const {
    return {};
}

bool Dialog::HandleMessage(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

bool Dialog::OnUnhandledCommand(int id, int code) {
    if (code != BN_CLICKED && code != 1)
        return false;
    Application* app = Application::Current();
    return app && app->OnCommand(id);
}

void Dialog::SetNotifications(std::initializer_list<Notification> rows) {
    notifications_.assign(rows);
}

void Dialog::AddNotification(int id, int code, std::function<void()> handler) {
    notifications_.push_back({id, code, std::move(handler)});
}

LRESULT Dialog::CallDefault(UINT message, WPARAM wParam, LPARAM lParam) {
    const bool wasInDefault = inDefault_;
    inDefault_ = true;
    const LRESULT result = ::DefDlgProcA(hwnd_, message, wParam, lParam);
    inDefault_ = wasInDefault;
    return result;
}

void Dialog::Attach(HWND hwnd) {
    hwnd_ = hwnd;
    ::SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(this));
    ::SetPropA(hwnd, DialogProperty, reinterpret_cast<HANDLE>(1));
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        self->Attach(hwnd);
    } else {
        self = reinterpret_cast<Dialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    }
    if (!self)
        return FALSE;
    return self->Dispatch(message, wParam, lParam);
}

bool Dialog::RouteCommand(int id, int code) {
    for (const Notification& row : notifications_) {
        if (row.id == id && row.code == code) {
            const std::function<void()> handler = row.handler;
            handler();
            return true;
        }
    }
    return false;
}

void Dialog::LeaveBusy() {
    if (--busyDepth_ > 0 || !ncDestroyPending_)
        return;
    ncDestroyPending_ = false;
    PostNcDestroy(); // may delete this
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    KeepAlive keepAlive(*this);
    if (message == WM_NCDESTROY) {
        HWND window = hwnd_;
        ::SetWindowLongPtrA(window, DWLP_USER, 0);
        ::RemovePropA(window, DialogProperty);
        hwnd_ = nullptr;
        ncDestroyPending_ = true; // PostNcDestroy runs when the last handler on the stack is done
        return FALSE;
    }
    // Default processing asked for by a handler comes back here: let the system do it.
    if (inDefault_)
        return FALSE;

    LRESULT result = 0;
    if (HandleMessage(message, wParam, lParam, result)) {
        if (ReturnsValueDirectly(message))
            return static_cast<INT_PTR>(result);
        if (hwnd_)
            ::SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, result);
        return TRUE;
    }

    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        const bool fromControl = lParam != 0;
        // A refresh sets control texts; their notifications must not run handlers.
        if (fromControl && exchanging_)
            return TRUE;
        if (RouteCommand(id, fromControl ? code : BN_CLICKED))
            return TRUE;
        if (id == IDOK && (!fromControl || code == BN_CLICKED)) {
            OnOK();
            return TRUE;
        }
        if (id == IDCANCEL && (!fromControl || code == BN_CLICKED)) {
            OnCancel();
            return TRUE;
        }
        return OnUnhandledCommand(id, fromControl ? code : BN_CLICKED) ? TRUE : FALSE;
    }
    default:
        return FALSE;
    }
}

} // namespace lumetra
