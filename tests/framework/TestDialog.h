#pragma once
// A dialog with one control of each exchange kind, recording what its handlers saw.

#include "TestDialogIds.h"
#include "framework/Application.h"
#include "framework/DataExchange.h"
#include "framework/Dialog.h"

#include <string>

namespace lumetra::test {

class TestDialog : public Dialog {
  public:
    TestDialog() : Dialog(IDD_TEST_DIALOG) {
        SetNotifications({
            {IDC_APPLY, BN_CLICKED, [this] { OnApply(); }},
            {IDC_WATCHED, EN_CHANGE, [this] { ++watchedChanges; }},
        });
    }

    std::string name = "cam";
    int number = 7;
    BYTE byteValue = 12;
    int sides = 5;
    int flag = 0;

    int applyRuns = 0;
    bool lastExchangeOk = true;
    int applyRunsAfterExchange = 0;
    int focusIdAfterFailure = 0;
    DWORD selectionAfterFailure = 0;
    int watchedChanges = 0;
    int okCount = 0;
    int cancelCount = 0;
    bool keepValid = false;  // Apply takes every valid control
    bool boxInApply = false; // Apply shows a message box first
    static constexpr UINT DestroyRequest = WM_APP + 10;
    bool deleteOnDestroy = false;
    bool* destroyedFlag = nullptr;

    static inline bool destroyedBeforeHandlerEnded = false;

  protected:
    bool HandleMessage(UINT message, WPARAM, LPARAM, LRESULT&) override {
        if (message != DestroyRequest)
            return false;
        DestroyWindow();
        return true;
    }
    void DoDataExchange(DataExchange& exchange) override {
        exchange.Text(IDC_NAME, name, 5);
        exchange.Int(IDC_NUMBER, number);
        exchange.Byte(IDC_BYTE, byteValue);
        exchange.IntRange(IDC_SIDES, sides, 3, 21);
        exchange.Check(IDC_FLAG, flag);
    }
    void OnOK() override {
        ++okCount;
        Dialog::OnOK();
    }
    void OnCancel() override {
        ++cancelCount;
        Dialog::OnCancel();
    }
    void PostNcDestroy() override {
        if (destroyedFlag)
            *destroyedFlag = true;
        if (deleteOnDestroy)
            delete this;
    }

  private:
    void OnApply() {
        if (boxInApply) {
            // The window may be destroyed while the box runs; the object must outlive this handler.
            bool* destroyed = destroyedFlag;
            AppMessageBox(GetSafeHwnd(), "Apply?");
            if (destroyed)
                destroyedBeforeHandlerEnded = *destroyed;
        }
        ++applyRuns;
        lastExchangeOk = keepValid ? UpdateDataKeepingValid() : UpdateData(true);
        if (!lastExchangeOk) {
            HWND focus = ::GetFocus();
            focusIdAfterFailure = ::GetDlgCtrlID(focus);
            selectionAfterFailure = static_cast<DWORD>(::SendMessageA(focus, EM_GETSEL, 0, 0));
        }
        // The handler goes on after a failed exchange.
        ++applyRunsAfterExchange;
    }
};

} // namespace lumetra::test
