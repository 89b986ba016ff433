#pragma once
// Dialogs from templates, run modally or modelessly, with data exchange and a notification table.

#include "framework/DataExchange.h"

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace lumetra {

class Dialog {
  public:
    Dialog(UINT templateId, HWND parent = nullptr);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Runs the dialog in a message loop of its own until EndDialog; returns its result, -1 on failure.
    INT_PTR DoModal();
    // Creates the window modelessly as a top-level window owned by `owner` (none by default).
    bool Create(HWND owner = nullptr);
    // Ends a modal run with `result`; a modeless dialog is only hidden.
    void EndDialog(INT_PTR result);
    bool DestroyWindow();

    HWND GetSafeHwnd() const { return hwnd_; }
    HWND Item(int id) const { return ::GetDlgItem(hwnd_, id); }
    UINT TemplateId() const { return templateId_; }
    bool IsModal() const { return modal_; }
    bool IsExchanging() const { return exchanging_; }
    // The name of an entry field, for a refusal that the field itself cannot show (the window is
    // closing): "Days to keep". Empty: the message stands alone.
    virtual std::string FieldName(int id) const;

    // Runs DoDataExchange: from the controls into the members with validation (true), or back
    // into the controls (false). Returns false when a validation failed.
    bool UpdateData(bool saveAndValidate = true);
    // Takes every control that passes validation; a refused control keeps its member and the first
    // refusal is shown unless showRefusal is false. Returns false when something was refused.
    bool UpdateDataKeepingValid(bool showRefusal = true);

    // Entry point for messages a caller pre-filters (Tab, Enter, Escape of modeless dialogs).
    static bool PreTranslate(MSG& msg);

    // Keeps the object alive while code of it is on the stack: a window destroyed meanwhile (from
    // a message loop that a picker or message box runs) has its PostNcDestroy, which may delete the
    // object, deferred until the last KeepAlive ends. Every message handled holds one.
    class KeepAlive {
      public:
        explicit KeepAlive(Dialog& dialog) : dialog_(dialog) { ++dialog_.busyDepth_; }
        ~KeepAlive() { dialog_.LeaveBusy(); }
        KeepAlive(const KeepAlive&) = delete;
        KeepAlive& operator=(const KeepAlive&) = delete;

      private:
        Dialog& dialog_;
    };

  protected:
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(DataExchange& exchange);
    // Called after WM_NCDESTROY; modeless heap dialogs delete themselves here.
    virtual void PostNcDestroy() {}
    // First look at every message. Return true with `result` set to stop default handling.
    virtual bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Commands and notifications not found in the table; default routes them to the application.
    virtual bool OnUnhandledCommand(int id, int code);

    // The notification table: rows of {control id, notification code, handler}.
    struct Notification {
        int id;
        int code;
        std::function<void()> handler;
    };
    void SetNotifications(std::initializer_list<Notification> rows);
    void AddNotification(int id, int code, std::function<void()> handler);

    // Default processing while inside HandleMessage (the dialog's own default painting etc.).
    LRESULT CallDefault(UINT message, WPARAM wParam, LPARAM lParam);

    HWND parent_ = nullptr;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    bool RunExchange(const DataExchange::Options& options);
    void LeaveBusy();
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    bool RouteCommand(int id, int code);
    void Attach(HWND hwnd);

    UINT templateId_;
    HWND hwnd_ = nullptr;
    bool modal_ = false;
    bool endRequested_ = false;
    INT_PTR modalResult_ = -1;
    bool exchanging_ = false;
    bool inDefault_ = false;
    int busyDepth_ = 0;
    bool ncDestroyPending_ = false;
    std::vector<Notification> notifications_;
};

} // namespace lumetra
