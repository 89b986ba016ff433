#pragma once
// Data exchange between a dialog's members and its controls, with the standard validation messages.
//
// One object per exchange; the dialog's DoDataExchange lists its controls in order:
//     exchange.Text(1025, cameraName, 256);
//     exchange.Int(1028, watermarkX);
//     exchange.Byte(1035, highRed);
//     exchange.Check(1017, saveAuto);
// When taking values fails, the message is shown, the control gets the focus with its text selected,
// and every later row of the same exchange is skipped.

#include <windows.h>

#include <string>

namespace lumetra {

class Dialog;

class DataExchange {
  public:
    // How one exchange runs.
    struct Options {
        bool saving = false; // controls to members, with validation; false: members to controls
        // false: every control that passes is taken, a refused one keeps its member, and only the
        // first refusal is shown (for saving on close, where nothing typed may be lost).
        bool stopAtFirstRefusal = true;
        bool showRefusal = true; // false: a refusal is only counted, with no message and no focus change
    };
    DataExchange(Dialog& dialog, const Options& options);

    bool Saving() const { return saving_; }
    bool Failed() const { return failed_; }

    // Text; a maxChars of 0 or less means no limit. The limit counts characters (UTF-16 code units, as
    // the edit counts them), not bytes, and also sets EM_LIMITTEXT when refreshing.
    void Text(int id, std::string& value, int maxChars = 0);
    // Text that must also pass `accept` (after the length check); refused with `message` otherwise.
    void Text(int id, std::string& value, int maxChars, bool (*accept)(const std::string&),
              const std::string& message);
    // Signed decimal ("%d").
    void Int(int id, int& value);
    // Signed decimal within [minimum, maximum].
    void IntRange(int id, int& value, int minimum, int maximum);
    // Unsigned decimal below 256.
    void Byte(int id, BYTE& value);
    // Check box state 0/1 (2 for indeterminate).
    void Check(int id, int& value);
    // The control's window itself.
    void Control(int id, HWND& control);
    // Refuses control `id` with `message`, as a row that fails a check of its own (a check that
    // needs more than the text of one control).
    void Refuse(int id, const std::string& message);
    // An earlier refusal ended the exchange: later rows and checks are skipped.
    bool Stopped() const { return failed_ && stopAtFirstFailure_; }

    // Standard messages (exact texts).
    static std::string IntegerMessage();
    static std::string ByteMessage();
    static std::string MaxCharsMessage(int maxChars);
    static std::string RangeMessage(int minimum, int maximum);

    // Parses like the standard exchange: optional blanks, the number, optional blanks, nothing else.
    static bool ParseInt(const std::string& text, long long& value);

  private:
    HWND Control(int id) const;
    // The control of one row; null when it is missing or an earlier refusal stopped the exchange.
    HWND RowControl(int id) const;
    std::string ReadText(HWND control) const;
    void Fail(HWND control, const std::string& message);

    Dialog& dialog_;
    bool saving_;
    bool stopAtFirstFailure_;
    bool showRefusal_;
    bool failed_ = false;
};

} // namespace lumetra
