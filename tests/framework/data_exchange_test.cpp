// Data exchange driven through a real dialog: values typed into controls, buttons clicked,
// validation messages read from the real message boxes.
#include "TestDialog.h"
#include "WindowDriver.h"
#include "framework/Application.h"

#include <gtest/gtest.h>

using namespace lumetra;
using namespace lumetra::test;

namespace {

Application testApplication("Lumetra");

struct Typed {
    std::string name = "cam";
    std::string number = "7";
    std::string byteText = "12";
    std::string sides = "5";
};

// Runs the dialog modally; the driver types `typed`, clicks Apply, answers every validation box,
// then closes with Cancel. Returns the boxes' texts, one a line ("" when none came).
std::string RunApply(TestDialog& dialog, const Typed& typed, bool expectBox) {
    std::string boxText;
    Driver driver([&] {
        HWND window = WaitForWindow("Framework Test");
        ASSERT_NE(window, nullptr);
        SetItemText(window, IDC_NAME, typed.name);
        SetItemText(window, IDC_NUMBER, typed.number);
        SetItemText(window, IDC_BYTE, typed.byteText);
        SetItemText(window, IDC_SIDES, typed.sides);
        Click(window, IDC_APPLY);
        // An expected box may take its time; after it (or when none is expected) a short wait
        // shows whether another one comes.
        DWORD wait = expectBox ? 5000 : 500;
        for (std::string text; !(text = AnswerMessageBox("Lumetra", wait)).empty(); wait = 500)
            boxText += (boxText.empty() ? "" : "\n") + text;
        Answer(window, IDCANCEL);
    });
    dialog.DoModal();
    driver.Join();
    return boxText;
}

} // namespace

TEST(DataExchange, RefreshShowsMembersWithoutRunningChangeHandlers) {
    TestDialog dialog;
    dialog.number = -42;
    dialog.byteValue = 255;
    dialog.flag = 1;
    std::string shownNumber, shownByte, shownSides;
    bool shownFlag = false;
    Driver driver([&] {
        HWND window = WaitForWindow("Framework Test");
        ASSERT_NE(window, nullptr);
        shownNumber = GetItemText(window, IDC_NUMBER);
        shownByte = GetItemText(window, IDC_BYTE);
        shownSides = GetItemText(window, IDC_SIDES);
        shownFlag = IsChecked(window, IDC_FLAG);
        Answer(window, IDCANCEL);
    });
    dialog.DoModal();
    driver.Join();
    EXPECT_EQ(shownNumber, "-42");
    EXPECT_EQ(shownByte, "255");
    EXPECT_EQ(shownSides, "5");
    EXPECT_TRUE(shownFlag);
    EXPECT_EQ(dialog.cancelCount, 1);
}

TEST(DataExchange, ValidValuesReachTheMembers) {
    TestDialog dialog;
    Typed typed;
    typed.name = "door";
    typed.number = "  -15 ";
    typed.byteText = "0";
    typed.sides = "21";
    EXPECT_EQ(RunApply(dialog, typed, false), "");
    EXPECT_TRUE(dialog.lastExchangeOk);
    EXPECT_EQ(dialog.name, "door");
    EXPECT_EQ(dialog.number, -15);
    EXPECT_EQ(dialog.byteValue, 0);
    EXPECT_EQ(dialog.sides, 21);
}

TEST(DataExchange, LettersInAnIntegerEditStopTheExchangeThereButNotTheHandler) {
    TestDialog dialog;
    Typed typed;
    typed.name = "gate";
    typed.number = "12a";
    typed.byteText = "99";
    EXPECT_EQ(RunApply(dialog, typed, true), "Please enter an integer.");
    EXPECT_FALSE(dialog.lastExchangeOk);
    EXPECT_EQ(dialog.name, "gate");  // taken before the failing control
    EXPECT_EQ(dialog.number, 7);     // kept
    EXPECT_EQ(dialog.byteValue, 12); // later rows not taken
    EXPECT_EQ(dialog.applyRunsAfterExchange, 1);
    EXPECT_EQ(dialog.focusIdAfterFailure, IDC_NUMBER);
    EXPECT_EQ(LOWORD(dialog.selectionAfterFailure), 0);
    EXPECT_EQ(HIWORD(dialog.selectionAfterFailure), 3);
}

TEST(DataExchange, EmptyIntegerEditIsRefused) {
    TestDialog dialog;
    Typed typed;
    typed.number = "";
    EXPECT_EQ(RunApply(dialog, typed, true), "Please enter an integer.");
    EXPECT_EQ(dialog.number, 7);
}

TEST(DataExchange, ByteAbove255IsRefusedAndKeepsTheOldByte) {
    TestDialog dialog;
    Typed typed;
    typed.byteText = "256";
    EXPECT_EQ(RunApply(dialog, typed, true), "Please enter an integer between 0 and 255.");
    EXPECT_EQ(dialog.byteValue, 12);
    EXPECT_EQ(dialog.focusIdAfterFailure, IDC_BYTE);
}

TEST(DataExchange, NegativeByteIsRefused) {
    TestDialog dialog;
    Typed typed;
    typed.byteText = "-1";
    EXPECT_EQ(RunApply(dialog, typed, true), "Please enter an integer between 0 and 255.");
    EXPECT_EQ(dialog.byteValue, 12);
}

TEST(DataExchange, TooLongTextNamesItsLimit) {
    TestDialog dialog;
    Typed typed;
    typed.name = "abcdef"; // WM_SETTEXT passes the typing limit
    EXPECT_EQ(RunApply(dialog, typed, true), "Please enter no more than 5 characters.");
    EXPECT_EQ(dialog.name, "cam");
    EXPECT_EQ(dialog.number, 7);
}

TEST(DataExchange, RangeMessageFillsInTheBounds) {
    TestDialog low;
    Typed typed;
    typed.sides = "2";
    EXPECT_EQ(RunApply(low, typed, true), "Please enter an integer between 3 and 21.");
    EXPECT_EQ(low.sides, 5);
    TestDialog high;
    typed.sides = "22";
    EXPECT_EQ(RunApply(high, typed, true), "Please enter an integer between 3 and 21.");
    TestDialog lowest;
    typed.sides = "3";
    EXPECT_EQ(RunApply(lowest, typed, false), "");
    EXPECT_EQ(lowest.sides, 3);
}

TEST(DataExchange, KeepingValidTakesEveryPassingControlAndShowsOneMessage) {
    TestDialog dialog;
    dialog.keepValid = true;
    Typed typed;
    typed.name = "yard";
    typed.number = "x1";
    typed.byteText = "300";
    typed.sides = "9";
    EXPECT_EQ(RunApply(dialog, typed, true), "Please enter an integer.");
    EXPECT_TRUE(FindWindows("Lumetra").empty()); // no second box for the refused byte
    EXPECT_FALSE(dialog.lastExchangeOk);
    EXPECT_EQ(dialog.name, "yard");
    EXPECT_EQ(dialog.number, 7);
    EXPECT_EQ(dialog.byteValue, 12);
    EXPECT_EQ(dialog.sides, 9); // taken although an earlier control was refused
    EXPECT_EQ(dialog.focusIdAfterFailure, IDC_NUMBER);
}

TEST(DataExchange, ParsingFollowsTheStandardRules) {
    long long value = 0;
    EXPECT_TRUE(DataExchange::ParseInt(" +8\t", value));
    EXPECT_EQ(value, 8);
    EXPECT_TRUE(DataExchange::ParseInt("-2147483648", value));
    EXPECT_EQ(value, -2147483648LL);
    EXPECT_FALSE(DataExchange::ParseInt("2147483648", value));
    EXPECT_FALSE(DataExchange::ParseInt("99999999999999999999", value));
    EXPECT_FALSE(DataExchange::ParseInt("1 2", value));
    EXPECT_FALSE(DataExchange::ParseInt("-", value));
    EXPECT_FALSE(DataExchange::ParseInt("0x10", value));
}
