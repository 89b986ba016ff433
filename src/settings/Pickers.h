#pragma once
// The system pickers the action dialog opens: save directory, watermark file, colours and font.
// Each runs modally without an owner window and reports whether the user confirmed.

#include <windows.h>

#include <optional>
#include <string>

namespace lumetra {

// Captions the pickers are opened with.
constexpr const char* SaveLocationTitle = "Image Save Location";
constexpr const char* SaveLocationInitialName = "((press Save in selected directory))";

// The directory part of a path chosen in the save dialog: everything before the last backslash;
// a path without a backslash is taken whole.
std::string DirectoryOfChosenPath(const std::string& chosenPath);

// The save-type file dialog used as a directory chooser; the full path the user confirmed.
std::optional<std::string> ChooseSaveLocation();
// The open-type file dialog for the watermark picture; the full path of the chosen file.
std::optional<std::string> ChooseWatermarkFile();
// The system colour dialog, sharing one table of custom colours for the whole run.
std::optional<COLORREF> ChooseColour();

struct ChosenFont {
    LOGFONTA font{};
    COLORREF colour = 0;
};
// The system font dialog with effects (colour, underline, strikeout), starting from no font and black.
std::optional<ChosenFont> ChooseTextFont();

} // namespace lumetra
