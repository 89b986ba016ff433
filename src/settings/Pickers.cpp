#include "settings/Pickers.h"

#include <commdlg.h>

#include <cstring>

namespace lumetra {

namespace {
// Room for a path of MAX_PATH characters in the ANSI code page: in UTF-8 a character takes up to 3
// bytes for each of its UTF-16 code units.
constexpr size_t AnsiPathBytes = MAX_PATH * 3;

// Custom colours of every colour dialog of the program, kept for the whole run.
COLORREF customColours[16] = {};

constexpr char WatermarkFilter[] = "JEPG FILES (*.jpg)\0*.jpg\0"
                                   "GIF FILES (*.gif)\0*.gif\0"
                                   "TIFF FILES (*.tiff)\0*.tiff\0"
                                   "BITMAP FILES (*.bmp)\0*.bmp\0"
                                   "Graphics files (*.jpg;*.gif;*.tiff;*.bmp)\0*.jpg;*.gif;*.tiff;*.bmp\0";
} // namespace

std::string DirectoryOfChosenPath(const std::string& chosenPath) {
    const size_t lastBackslash = chosenPath.rfind('\\');
    if (lastBackslash == std::string::npos)
        return chosenPath;
    return chosenPath.substr(0, lastBackslash);
}

std::optional<std::string> ChooseSaveLocation() {
    char fileName[AnsiPathBytes] = {};
    std::strncpy(fileName, SaveLocationInitialName, sizeof fileName - 1);
    OPENFILENAMEA dialog{};
    // The classic structure size selects the layout without a places bar.
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = sizeof fileName;
    dialog.lpstrTitle = SaveLocationTitle;
    dialog.Flags = OFN_NOVALIDATE | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    if (!::GetSaveFileNameA(&dialog))
        return std::nullopt;
    return std::string(fileName);
}

std::optional<std::string> ChooseWatermarkFile() {
    char fileName[AnsiPathBytes] = {};
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.lpstrFilter = WatermarkFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = sizeof fileName;
    dialog.lpstrDefExt = "jpg";
    dialog.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    if (!::GetOpenFileNameA(&dialog))
        return std::nullopt;
    return std::string(fileName);
}

std::optional<COLORREF> ChooseColour() {
    CHOOSECOLORA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.lpCustColors = customColours;
    if (!::ChooseColorA(&dialog))
        return std::nullopt;
    return dialog.rgbResult & 0x00FFFFFF;
}

std::optional<ChosenFont> ChooseTextFont() {
    ChosenFont chosen;
    CHOOSEFONTA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.lpLogFont = &chosen.font;
    dialog.Flags = CF_SCREENFONTS | CF_EFFECTS;
    dialog.rgbColors = RGB(0, 0, 0);
    if (!::ChooseFontA(&dialog))
        return std::nullopt;
    chosen.colour = dialog.rgbColors & 0x00FFFFFF;
    return chosen;
}

} // namespace lumetra
