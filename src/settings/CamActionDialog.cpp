#include "settings/CamActionDialog.h"

#include "capture/CameraSlots.h"
#include "delivery/ImageRecord.h"
#include "delivery/SaveTarget.h"
#include "dialogs/PolygonWatermarkDialog.h"
#include "settings/MailServerDialog.h"
#include "framework/AnsiText.h"
#include "framework/Application.h"
#include "framework/DataExchange.h"
#include "framework/EventLog.h"
#include "resources/resource.h"
#include "settings/MotionLevelBar.h"
#include "settings/Pickers.h"
#include "settings/SavePlaceClaims.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace lumetra {

namespace ids = cam_action_ids;

namespace {
constexpr int DirectoryChars = 255;
constexpr int FileNameChars = 256;
constexpr char PlainFileNameMessage[] =
    "Please enter a file name without a folder: none of \\ / : * ? \" < > |, no .., no dot or space at "
    "the end, and no device name such as con or nul.";
constexpr char FolderMessage[] = "Please enter the folder to save the images in.";

// Seconds between automatic actions: a whole number from 1 s to one day.
constexpr int MinIntervalSeconds = 1;
constexpr int MaxIntervalSeconds = 86400;
bool IsUsableInterval(const std::string& text) {
    long long seconds = 0;
    return DataExchange::ParseInt(text, seconds) && seconds >= MinIntervalSeconds &&
           seconds <= MaxIntervalSeconds;
}

bool IsIntegerWithin(const std::string& text, int minimum, int maximum) {
    long long value = 0;
    return DataExchange::ParseInt(text, value) && value >= minimum && value <= maximum;
}

// The numbers "Save on Motion" needs, in the order they are checked.
struct MotionNumber {
    int id;
    int minimum, maximum;
};
constexpr MotionNumber MotionNumbers[] = {{ids::MotionShare, MinMotionShare, MaxMotionShare},
                                          {ids::PixelChange, MinPixelChange, MaxPixelChange},
                                          {ids::MotionGap, MinMotionGap, MaxMotionGap}};

std::string SharedPlaceMessage(const std::string& otherCamera) {
    return "Camera \"" + otherCamera +
           "\" already saves its images in this folder under this file name. Please choose another folder "
           "or file name, so that the two cameras do not replace each other's images.";
}
std::string SharedPlaceReason(const std::string& otherCamera) {
    return "camera \"" + otherCamera + "\" saves in this folder under this file name";
}

// What a refusal at closing names each entry field by, as its label says it.
struct FieldLabel {
    int id;
    const char* name;
};
constexpr FieldLabel FieldLabels[] = {
    {ids::CameraName, "Cam"},
    {ids::SaveSeconds, "Seconds Between Auto Image Saves"},
    {ids::Directory, "Directory"},
    {ids::FileName, "File Name"},
    {ids::FtpSeconds, "FTP seconds between"},
    {ids::FtpUrl, "FTP URL"},
    {ids::FtpPath, "Path on FTP Server"},
    {ids::FtpUser, "Ftp User"},
    {ids::FtpPassword, "FTP Password"},
    {ids::EmailAddresses, "Email Address(s)"},
    {ids::EmailSeconds, "Email seconds between"},
    {ids::WatermarkX, "Watermark X Offset"},
    {ids::WatermarkY, "Watermark Y Offset"},
    {ids::WatermarkWidth, "Watermark Width"},
    {ids::WatermarkHeight, "Watermark Height"},
    {ids::HighRed, "High Transparent Color (red)"},
    {ids::HighGreen, "High Transparent Color (green)"},
    {ids::HighBlue, "High Transparent Color (blue)"},
    {ids::LowRed, "Low Transparent Color (red)"},
    {ids::LowGreen, "Low Transparent Color (green)"},
    {ids::LowBlue, "Low Transparent Color (blue)"},
    {ids::TextX, "Text X Offset"},
    {ids::TextY, "Text Y Offset"},
    {ids::BoxWidth, "Box Width"},
    {ids::BoxDepth, "Box Depth"},
    {ids::MotionShare, "Motion, x 0.1 % changed"},
    {ids::PixelChange, "Motion, Pixel change"},
    {ids::MotionGap, "Motion, Seconds between"},
    {ids::KeepDays, "Days to keep"},
    {ids::KeepMegabytes, "MB to keep"},
};

std::optional<CamActionDialog::PathRefusal> RefusePathFields(const std::string& directory,
                                                             const std::string& fileName) {
    // Characters, as the exchange counts them for the same fields.
    if (AnsiCharacterCount(directory) > static_cast<size_t>(DirectoryChars))
        return CamActionDialog::PathRefusal{ids::Directory, DataExchange::MaxCharsMessage(DirectoryChars),
                                            "the folder name is too long"};
    if (AnsiCharacterCount(fileName) > static_cast<size_t>(FileNameChars))
        return CamActionDialog::PathRefusal{ids::FileName, DataExchange::MaxCharsMessage(FileNameChars),
                                            "the file name is too long"};
    if (!IsPlainFileName(fileName))
        return CamActionDialog::PathRefusal{ids::FileName, PlainFileNameMessage,
                                            "the file name is not a plain file name"};
    if (directory.empty())
        return CamActionDialog::PathRefusal{ids::Directory, FolderMessage, "no folder is chosen"};
    return std::nullopt;
}
} // namespace

// The automatic actions: their boxes, interval edits, flags and the session's switches.
const CamActionDialog::AutomaticAction CamActionDialog::AutomaticActions[] = {
    {ids::SaveAuto, ids::SaveSeconds, &CameraSettings::saveAuto, SessionSwitch::SaveAuto,
     [](CameraSettings& settings, const std::string& typed) { settings.saveSeconds = typed; }},
    {ids::FtpAuto, ids::FtpSeconds, &CameraSettings::ftpAuto, SessionSwitch::FtpAuto,
     [](CameraSettings& settings, const std::string& typed) { settings.ftpSeconds = typed; }},
    {ids::EmailAuto, ids::EmailSeconds, &CameraSettings::emailAuto, SessionSwitch::EmailAuto,
     [](CameraSettings& settings, const std::string& typed) {
         long long seconds = 0;
         if (DataExchange::ParseInt(typed, seconds))
             settings.emailSeconds = static_cast<int>(seconds);
     }},
};

CamActionDialog::CamActionDialog(MirrorSwitch* mirror, SecondsClock clock)
    : Dialog(IDD_CAM_ACTION), mirror_(mirror), imagePaths_(std::move(clock)) {
    SetNotifications({
        {ids::SaveCurrentImage, BN_CLICKED, [this] { this->SaveCurrentImage(); }},
        {ids::FtpLastImage, BN_CLICKED, [this] { OnFtpLastImage(); }},
        {ids::AppendTime, BN_CLICKED, [this] { TakeValuesAndCheck(ids::AppendTime, settings_.appendTime); }},
        {ids::ViewAfterSaving, BN_CLICKED, [this] { OnViewAfterSaving(); }},
        {ids::Browse, BN_CLICKED, [this] { OnBrowse(); }},
        {ids::UseWatermark, BN_CLICKED,
         [this] { OnOverlayCheck(ids::UseWatermark, settings_.useWatermark); }},
        {ids::UseTransparent, BN_CLICKED,
         [this] { OnOverlayCheck(ids::UseTransparent, settings_.useTransparent); }},
        {ids::SelectWatermark, BN_CLICKED, [this] { OnSelectWatermark(); }},
        {ids::HighColour, BN_CLICKED, [this] { OnTransparentColour(true); }},
        {ids::LowColour, BN_CLICKED, [this] { OnTransparentColour(false); }},
        {ids::ChooseFont, BN_CLICKED, [this] { OnChooseFont(); }},
        // The change handlers take the values once, inside PublishOverlay, so a bad entry shows
        // its message once.
        {ids::TextX, EN_CHANGE, [this] { PublishOverlay(); }},
        {ids::WatermarkX, EN_CHANGE, [this] { PublishOverlay(); }},
        {ids::WatermarkY, EN_CHANGE, [this] { PublishOverlay(); }},
        {ids::TextY, EN_CHANGE, [this] { PublishOverlay(); }},
        {ids::Polygon, BN_CLICKED, [this] { OnPolygon(); }},
        {ids::VerticalText, BN_CLICKED,
         [this] { OnOverlayCheck(ids::VerticalText, settings_.verticalText); }},
        {ids::UseBox, BN_CLICKED, [this] { OnOverlayCheck(ids::UseBox, settings_.wrapInBox); }},
        {ids::BoxWidth, EN_CHANGE, [this] { PublishOverlay(); }},
        {ids::BoxDepth, EN_CHANGE, [this] { PublishOverlay(); }},
        {ids::FontColour, BN_CLICKED, [this] { OnFontColour(); }},
        {ids::HighRed, EN_CHANGE, [this] { PublishOverlay(); }},
        {ids::HighGreen, EN_CHANGE, [this] { PublishOverlay(); }},
        {ids::HighBlue, EN_CHANGE, [this] { PublishOverlay(); }},
        {ids::LowRed, EN_CHANGE, [this] { PublishOverlay(); }},
        {ids::LowGreen, EN_CHANGE, [this] { PublishOverlay(); }},
        {ids::LowBlue, EN_CHANGE, [this] { PublishOverlay(); }},
        {ids::EmailLastImage, BN_CLICKED, [this] { OnEmailLastImage(); }},
        {ids::MirrorToHttp, BN_CLICKED, [this] { OnMirrorToHttp(); }},
        {ids::SaveOnMotion, BN_CLICKED, [this] { OnSaveOnMotion(); }},
        {ids::ActiveFtp, BN_CLICKED, [this] { TakeValuesAndCheck(ids::ActiveFtp, settings_.activeFtp); }},
        {ids::MailServer, BN_CLICKED, [this] { OnMailServer(); }},
        {ids::TroubleMail, BN_CLICKED,
         [this] { TakeValuesAndCheck(ids::TroubleMail, settings_.troubleMail); }},
        {ids::PictureSize, CBN_SELCHANGE,
         [this] {
             if (!::SendMessageA(Item(ids::PictureSize), CB_GETDROPPEDSTATE, 0, 0))
                 OnPictureSizeChosen();
         }},
        {ids::PictureSize, CBN_CLOSEUP, [this] { OnPictureSizeChosen(); }},
        {ids::MotionShare, EN_CHANGE,
         [this] {
             OnMotionNumberTyped(ids::MotionShare, settings_.motionShare, MinMotionShare, MaxMotionShare);
         }},
        {ids::PixelChange, EN_CHANGE,
         [this] {
             OnMotionNumberTyped(ids::PixelChange, settings_.pixelChange, MinPixelChange, MaxPixelChange);
         }},
        {ids::MotionGap, EN_CHANGE,
         [this] {
             OnMotionNumberTyped(ids::MotionGap, settings_.motionGapSeconds, MinMotionGap, MaxMotionGap);
         }},
        {ids::KeepDays, EN_KILLFOCUS,
         [this] { OnKeepLimitLeft(ids::KeepDays, settings_.keepDays, MaxKeepDays); }},
        {ids::KeepMegabytes, EN_KILLFOCUS,
         [this] { OnKeepLimitLeft(ids::KeepMegabytes, settings_.keepMegabytes, MaxKeepMegabytes); }},
    });
    for (const AutomaticAction& action : AutomaticActions) {
        AddNotification(action.box, BN_CLICKED, [this, &action] { OnAutomaticBoxClicked(action); });
        // The schedule reads the intervals without taking values: a typed interval counts at once.
        AddNotification(action.interval, EN_CHANGE, [this, &action] { OnIntervalTyped(action); });
    }
    Create(nullptr);
    RECT swatchRect{};
    ::GetClientRect(Item(ids::ColourSwatch), &swatchRect);
    Gdiplus::GpBitmap* swatch = nullptr;
    Gdiplus::DllExports::GdipCreateBitmapFromScan0(std::max<LONG>(swatchRect.right, 1),
                                                   std::max<LONG>(swatchRect.bottom, 1), 0,
                                                   PixelFormat32bppARGB, nullptr, &swatch);
    ColorSwatch.reset(swatch);
    FillSwatch(settings_.fontColour);
}

CamActionDialog::~CamActionDialog() {
    ReleaseSavePlace(this);
    if (session_) {
        ActionSession* session = session_;
        session_ = nullptr;
        session->ActionDialogClosed();
    }
}

void CamActionDialog::DoDataExchange(DataExchange& exchange) {
    CameraSettings& s = settings_;
    const std::string folderBefore = s.directory, fileNameBefore = s.fileName;
    exchange.Text(ids::CameraName, s.cameraName, 256);
    exchange.Check(ids::SaveAuto, s.saveAuto);
    exchange.Check(ids::ViewAfterSaving, s.viewAfterSaving);
    exchange.Text(ids::SaveSeconds, s.saveSeconds);
    exchange.Text(ids::FileName, s.fileName, FileNameChars, IsPlainFileName, PlainFileNameMessage);
    exchange.Check(ids::AppendTime, s.appendTime);
    exchange.Check(ids::FtpAuto, s.ftpAuto);
    exchange.Text(ids::FtpUrl, s.ftpServer, 256);
    exchange.Text(ids::FtpSeconds, s.ftpSeconds);
    exchange.Text(ids::Directory, s.directory, DirectoryChars);
    if (exchange.Saving() && !exchange.Stopped())
        HoldSavePlace(exchange, folderBefore, fileNameBefore);
    exchange.Text(ids::FtpPassword, s.ftpPassword);
    exchange.Text(ids::FtpUser, s.ftpUser);
    exchange.Text(ids::FtpPath, s.ftpPath);
    exchange.Int(ids::WatermarkX, s.watermarkX);
    exchange.Int(ids::WatermarkY, s.watermarkY);
    exchange.Int(ids::WatermarkWidth, s.watermarkWidth);
    exchange.Int(ids::WatermarkHeight, s.watermarkHeight);
    exchange.Text(ids::WatermarkPath, s.watermarkPath);
    exchange.Byte(ids::HighRed, s.highRed);
    exchange.Byte(ids::HighGreen, s.highGreen);
    exchange.Byte(ids::HighBlue, s.highBlue);
    exchange.Byte(ids::LowRed, s.lowRed);
    exchange.Byte(ids::LowGreen, s.lowGreen);
    exchange.Byte(ids::LowBlue, s.lowBlue);
    exchange.Int(ids::TextX, s.textX);
    exchange.Int(ids::TextY, s.textY);
    exchange.Check(ids::UseWatermark, s.useWatermark);
    exchange.Check(ids::UseTransparent, s.useTransparent);
    exchange.Check(ids::Polygon, s.polygonWatermark);
    exchange.Check(ids::VerticalText, s.verticalText);
    exchange.Check(ids::UseBox, s.wrapInBox);
    exchange.Int(ids::BoxWidth, s.boxWidth);
    exchange.Int(ids::BoxDepth, s.boxDepth);
    exchange.Check(ids::EmailAuto, s.emailAuto);
    exchange.Int(ids::EmailSeconds, s.emailSeconds);
    exchange.Text(ids::EmailAddresses, s.emailAddresses);
    exchange.Check(ids::MirrorToHttp, s.mirrorToHttp);
    exchange.Check(ids::SaveOnMotion, s.saveOnMotion);
    exchange.Check(ids::ActiveFtp, s.activeFtp);
    exchange.Check(ids::TroubleMail, s.troubleMail);
    exchange.IntRange(ids::MotionShare, s.motionShare, MinMotionShare, MaxMotionShare);
    exchange.IntRange(ids::PixelChange, s.pixelChange, MinPixelChange, MaxPixelChange);
    exchange.IntRange(ids::MotionGap, s.motionGapSeconds, MinMotionGap, MaxMotionGap);
    // The picture size is no row: the drop-down shows the size the camera runs at, which may not be
    // the stored one, and a choice counts when it is made (OnPictureSizeChosen).
    // The limits delete images: they count once their field is left or the window closes, never
    // while half typed ("1" on the way to "100") when the schedule takes the other values.
    if (!exchange.Saving() || takingKeepLimits_) {
        exchange.IntRange(ids::KeepDays, s.keepDays, 0, MaxKeepDays);
        exchange.IntRange(ids::KeepMegabytes, s.keepMegabytes, 0, MaxKeepMegabytes);
    }
}

// A folder and file name changed to those of another open camera are refused at their field and
// keep their values; unchanged ones (stored settings that meet another camera's) are left as they
// are, and the saves refuse them instead.
void CamActionDialog::HoldSavePlace(DataExchange& exchange, const std::string& folderBefore,
                                    const std::string& fileNameBefore) {
    // Most exchanges leave both as they were: nothing to compare (each save claims its place).
    if (settings_.directory == folderBefore && settings_.fileName == fileNameBefore)
        return;
    const std::wstring place = SavePlaceKey(settings_.directory, settings_.fileName);
    const std::optional<std::string> holder = ClaimSavePlace(this, cameraName_, place);
    if (!holder || place == SavePlaceKey(folderBefore, fileNameBefore))
        return;
    const bool folderChanged = settings_.directory != folderBefore;
    settings_.directory = folderBefore;
    settings_.fileName = fileNameBefore;
    exchange.Refuse(folderChanged ? ids::Directory : ids::FileName, SharedPlaceMessage(*holder));
}

std::string CamActionDialog::FieldName(int id) const {
    for (const FieldLabel& label : FieldLabels)
        if (label.id == id)
            return label.name;
    return {};
}

BOOL CamActionDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    ShowPictureSizes({}, std::nullopt);
    return TRUE;
}

// Enter closes nothing: a modeless settings window is left with Escape or the close box, which save.
void CamActionDialog::OnOK() {}

void CamActionDialog::OnCancel() {
    closing_ = true;
    SaveSettings();
    DestroyWindow();
}

bool CamActionDialog::TakeValues() {
    // A validation box of a running exchange is open (a timer tick can arrive inside it): taking
    // values again would only stack another box on the same control.
    if (IsExchanging())
        return false;
    return UpdateData(true);
}

// A refused entry stops the exchange before later rows; the clicked box's flag follows it all the
// same, so the switch and what the box shows never part.
void CamActionDialog::TakeValuesAndCheck(int id, int& flag) {
    TakeValues();
    flag = CheckState(id);
}

int CamActionDialog::CheckState(int id) const {
    return static_cast<int>(::SendMessageA(Item(id), BM_GETCHECK, 0, 0));
}

void CamActionDialog::RefuseAt(int id, const std::string& message) {
    KeepAlive keepAlive(*this);
    AppMessageBox(GetSafeHwnd(), message, MB_OK | MB_ICONEXCLAMATION);
    if (HWND field = GetSafeHwnd() ? Item(id) : nullptr) {
        ::SetFocus(field);
        ::SendMessageA(field, EM_SETSEL, 0, -1);
    }
}

std::string CamActionDialog::TextOfEdit() const {
    return ItemText(ids::Text);
}

std::string CamActionDialog::ItemText(int id) const {
    HWND edit = Item(id);
    const int length = ::GetWindowTextLengthA(edit);
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    const int copied = ::GetWindowTextA(edit, buffer.data(), length + 1);
    return std::string(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

// --- Session, camera and the settings' life ---

void CamActionDialog::SetSession(ActionSession* session) {
    session_ = session;
    Refresh();
}

void CamActionDialog::ClearSession() {
    session_ = nullptr;
}

void CamActionDialog::SetSessionSwitch(SessionSwitch which, bool on) {
    if (session_)
        session_->SetSwitch(which, on);
}

void CamActionDialog::PublishMirrorSwitch() {
    if (mirror_)
        mirror_->SetMirrorEnabled(settings_.mirrorToHttp == 1);
}

void CamActionDialog::SetCameraIndex(int cameraIndex) {
    cameraIndex_ = cameraIndex;
}

void CamActionDialog::SetCameraName(const std::string& name) {
    cameraName_ = name;
    settings_.cameraName = name;
    LoadSettings();
    settings_.cameraName = name; // a stored CAM never renames the camera
    Refresh();
    PublishOverlay();
}

void CamActionDialog::LoadSettings() {
    const LoadOutcome outcome = LoadSettingsFromRegistry(settings_);
    if (outcome.viewAfterSaving)
        SetSessionSwitch(SessionSwitch::ViewAfterSaving, true);
    if (outcome.text)
        ::SetWindowTextA(Item(ids::Text), outcome.text->c_str());
    if (outcome.fontRestored)
        RestoreFont();
    if (outcome.fontRestored || settings_.fontColour != 0)
        FillSwatch(settings_.fontColour);
    Refresh();
    // Unlike the timed boxes, a stored "Save on Motion" is in force again: the box shows what runs.
    SwitchMotion();
    // The stored folder and file name are this camera's unless an open one saves there already.
    ClaimSavePlace(this, cameraName_, SavePlaceKey(settings_.directory, settings_.fileName));
}

void CamActionDialog::SaveSettings() {
    // A refused entry keeps its stored value; everything else typed is still saved. When the pair
    // is closed from inside the validation box of a running exchange, that box already tells the
    // user: the valid values are taken without another one.
    takingKeepLimits_ = true;
    UpdateDataKeepingValid(!IsExchanging());
    takingKeepLimits_ = false;
    // Gone when a close inside this save's own box saved and destroyed the dialog meanwhile; the
    // text taken then stands.
    if (GetSafeHwnd())
        settings_.storedText = TextOfEdit();
    // A close from inside this save's own question (the Live View closed meanwhile) leaves the save
    // to the one that asked.
    if (askingWhereToSave_)
        return;
    CameraSettings stored = settings_;
    stored.cameraName = KeyToSaveUnder();
    SaveSettingsToRegistry(stored);
    // The images the camera saved go with its settings, so their limits still apply under the new
    // name.
    if (!IsSameCameraKey(stored.cameraName, cameraName_))
        MoveImageRecord(cameraName_, stored.cameraName);
}

// The camera name edit names the key the settings go to. A name that cannot name a key, or another
// camera's stored settings the user does not want replaced, leaves that key untouched: the settings
// then stay under the name the camera was opened with, so nothing typed in this window is lost.
std::string CamActionDialog::KeyToSaveUnder() {
    const std::string& typed = settings_.cameraName;
    if (IsSameCameraKey(typed, cameraName_) || !IsCameraKeyName(cameraName_))
        return typed;
    HWND owner = GetSafeHwnd();
    if (!IsCameraKeyName(typed)) {
        AppMessageBox(owner, CameraNameRefusal(typed) + "\r\n\r\nThe settings are saved under \"" +
                                 cameraName_ + "\".");
        return cameraName_;
    }
    if (!HasStoredSettings(typed))
        return typed;
    askingWhereToSave_ = true;
    const int answer = AppMessageBox(
        owner,
        "Camera \"" + typed + "\" already has stored settings. Replace them with the settings of \"" +
            cameraName_ + "\"?\r\n\r\nNo keeps the settings of \"" + typed +
            "\" as they are and saves these under \"" + cameraName_ + "\".",
        MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    askingWhereToSave_ = false;
    return answer == IDYES ? typed : cameraName_;
}

void CamActionDialog::PublishOverlay() {
    // After a picker returns the window may be gone (the pair was closed meanwhile) and the slot
    // may belong to another camera already.
    if (!GetSafeHwnd())
        return;
    TakeValues();
    // The composer gets the text cut to what its overlay holds; UTX keeps it whole for the save.
    const std::string text = AnsiPrefix(TextOfEdit(), OverlayTextMaxChars, OverlayTextCapacity - 1);
    std::memcpy(settings_.text, text.data(), text.size());
    settings_.text[text.size()] = '\0';
    if (IsValidCameraIndex(cameraIndex_))
        CameraSlotAt(cameraIndex_).callback.overlay = static_cast<const OverlaySettings&>(settings_);
}

// --- Accessors for the schedule and delivery ---

int CamActionDialog::SaveSeconds() const {
    return settings_.saveSeconds.empty() ? 0 : LeadingInteger(settings_.saveSeconds);
}
int CamActionDialog::FtpSeconds() const {
    return settings_.ftpSeconds.empty() ? 0 : LeadingInteger(settings_.ftpSeconds);
}
int CamActionDialog::EmailSeconds() const {
    return settings_.emailSeconds;
}
int CamActionDialog::MotionShare() const {
    return std::clamp(settings_.motionShare, MinMotionShare, MaxMotionShare);
}
int CamActionDialog::PixelChange() const {
    return std::clamp(settings_.pixelChange, MinPixelChange, MaxPixelChange);
}
int CamActionDialog::MotionGapSeconds() const {
    return std::clamp(settings_.motionGapSeconds, MinMotionGap, MaxMotionGap);
}

std::optional<ImagePath> CamActionDialog::PathForUsersSave() {
    KeepAlive keepAlive(*this); // a validation box may let the pair be closed
    const bool refusalShown = !TakeValues();
    if (!GetSafeHwnd())
        return std::nullopt;
    const PathOrRefusal next = NextImagePath();
    if (next.refusal && !refusalShown)
        RefuseAt(next.refusal->field, next.refusal->message);
    return next.path;
}

std::optional<ImagePath> CamActionDialog::PathForAutomaticSave(std::string& refusal) {
    // No box per tick: what passes is taken, and the Live View is told the rest.
    if (!IsExchanging())
        UpdateDataKeepingValid(false);
    const PathOrRefusal next = NextImagePath();
    if (next.refusal)
        refusal = next.refusal->reason;
    return next.path;
}

CamActionDialog::PathOrRefusal CamActionDialog::NextImagePath() {
    // What the fields hold now, even when a refused entry kept its member: never an older path.
    const std::string directory = ItemText(ids::Directory);
    const std::string fileName = ItemText(ids::FileName);
    PathOrRefusal next;
    next.refusal = RefusePathFields(directory, fileName);
    if (!next.refusal)
        if (const auto holder = ClaimSavePlace(this, cameraName_, SavePlaceKey(directory, fileName)))
            next.refusal = CamActionDialog::PathRefusal{ids::Directory, SharedPlaceMessage(*holder),
                                                        SharedPlaceReason(*holder)};
    if (next.refusal)
        return next;
    ImagePath path;
    path.fullPath =
        imagePaths_.BuildImagePath(directory, fileName, CheckState(ids::AppendTime), path.bareName);
    next.path = path;
    return next;
}

UploadRequest CamActionDialog::FtpRequest(const std::string& localPath, const std::string& remoteName) const {
    return UploadRequest{localPath,
                         remoteName,
                         settings_.ftpServer,
                         settings_.ftpPath,
                         settings_.ftpUser,
                         settings_.ftpPassword,
                         settings_.activeFtp != 0};
}

// --- Manual actions and switches ---

void CamActionDialog::SaveCurrentImage() {
    KeepAlive keepAlive(*this);
    const std::optional<ImagePath> next = PathForUsersSave();
    if (!GetSafeHwnd())
        return;
    PublishMirrorSwitch();
    if (!next || !session_)
        return;
    const std::string& path = next->fullPath;
    // A folder that cannot take the image is told now; a write that fails is told by the session.
    const std::string problem = FolderProblem(FolderOf(path));
    if (!problem.empty()) {
        LogEvent(cameraName_, "could not save " + path + ": " + problem);
        TellSaveFailed(path, problem);
        return;
    }
    if (!session_->SaveCurrentImage(path))
        TellSaveFailed(path, PathTooLongReason);
}

void CamActionDialog::TellSaveFailed(const std::string& path, const std::string& reason) {
    KeepAlive keepAlive(*this);
    AppMessageBox(GetSafeHwnd(), "Could not save the image to " + path + ": " + reason + ".",
                  MB_OK | MB_ICONEXCLAMATION);
}

void CamActionDialog::OnFtpLastImage() {
    TakeValues();
    if (!session_)
        return;
    ActionSession* session = session_;
    const UploadRequest request = FtpRequest(LastImagePath(), LastImageName());
    // The file of the last request may not be written yet.
    session->WaitForRequestedImage();
    session->UploadByFtp(request);
}

std::optional<SmtpSettings> CamActionDialog::MailServer() const {
    return SmtpSettingsOf(settings_);
}

void CamActionDialog::TrustMailCertificate(const std::string& fingerprint) {
    settings_.smtpTrustedCertificate = fingerprint;
    SaveSettings();
}

void CamActionDialog::OnMailServer() {
    KeepAlive keepAlive(*this);
    TakeValues();
    MailServerDialog dialog(settings_, settings_.emailAddresses, GetSafeHwnd());
    if (dialog.DoModal() != IDOK || !GetSafeHwnd())
        return;
    // Only the mail server's part: the schedule may have changed nothing else meanwhile, but the
    // rest of the window is the user's as it stands.
    CopyMailServer(dialog.Settings(), settings_);
    SaveSettings();
}

void CamActionDialog::OnEmailLastImage() {
    TakeValues();
    if (session_)
        session_->MailLastSavedImage();
}

bool CamActionDialog::KeepAutoBoxTicked(int boxId, int intervalId, int& flag, SessionSwitch sessionSwitch) {
    if (CheckState(boxId) != BST_CHECKED || IsUsableInterval(ItemText(intervalId)))
        return true;
    // Off before the message: ticks run inside its box.
    ::CheckDlgButton(GetSafeHwnd(), boxId, BST_UNCHECKED);
    flag = 0;
    SetSessionSwitch(sessionSwitch, false);
    RefuseAt(intervalId, DataExchange::RangeMessage(MinIntervalSeconds, MaxIntervalSeconds));
    return false;
}

void CamActionDialog::OnAutomaticBoxClicked(const AutomaticAction& action) {
    int& flag = settings_.*action.flag;
    if (!KeepAutoBoxTicked(action.box, action.interval, flag, action.sessionSwitch))
        return;
    TakeValuesAndCheck(action.box, flag);
    if (action.box == ids::SaveAuto)
        PublishMirrorSwitch();
    SetSessionSwitch(action.sessionSwitch, flag != 0);
}

void CamActionDialog::OnViewAfterSaving() {
    TakeValuesAndCheck(ids::ViewAfterSaving, settings_.viewAfterSaving);
    SetSessionSwitch(SessionSwitch::ViewAfterSaving, settings_.viewAfterSaving != 0);
}

// A typed interval counts at once. With its box unticked it is taken without a message (a refused
// entry is reported by the next exchange); with the box ticked, an unusable one stops that action.
void CamActionDialog::OnIntervalTyped(const AutomaticAction& action) {
    action.takeTyped(settings_, ItemText(action.interval));
    KeepAutoBoxTicked(action.box, action.interval, settings_.*action.flag, action.sessionSwitch);
}

bool CamActionDialog::KeepMotionBoxTicked() {
    if (CheckState(ids::SaveOnMotion) != BST_CHECKED)
        return true;
    for (const MotionNumber& number : MotionNumbers) {
        if (IsIntegerWithin(ItemText(number.id), number.minimum, number.maximum))
            continue;
        // Off before the message: frames are looked at inside its box.
        ::CheckDlgButton(GetSafeHwnd(), ids::SaveOnMotion, BST_UNCHECKED);
        settings_.saveOnMotion = 0;
        SwitchMotion();
        RefuseAt(number.id, DataExchange::RangeMessage(number.minimum, number.maximum));
        return false;
    }
    return true;
}

void CamActionDialog::OnSaveOnMotion() {
    if (!KeepMotionBoxTicked())
        return;
    TakeValuesAndCheck(ids::SaveOnMotion, settings_.saveOnMotion);
    SwitchMotion();
}

// A typed number counts at once, as the intervals do.
void CamActionDialog::OnMotionNumberTyped(int id, int& value, int minimum, int maximum) {
    const std::string text = ItemText(id);
    if (IsIntegerWithin(text, minimum, maximum))
        value = LeadingInteger(text);
    KeepMotionBoxTicked();
}

void CamActionDialog::OnKeepLimitLeft(int id, int& value, int maximum) {
    // The closing exchange has refused the field already; it loses the focus as the window goes.
    if (IsExchanging() || refusingKeepLimit_ || closing_)
        return;
    const std::string text = ItemText(id);
    if (IsIntegerWithin(text, 0, maximum)) {
        value = LeadingInteger(text);
        return;
    }
    refusingKeepLimit_ = true;
    RefuseAt(id, DataExchange::RangeMessage(0, maximum));
    refusingKeepLimit_ = false;
}

RetentionRules CamActionDialog::Retention() const {
    return {std::clamp(settings_.keepDays, 0, MaxKeepDays),
            std::clamp(settings_.keepMegabytes, 0, MaxKeepMegabytes)};
}

void CamActionDialog::SwitchMotion() {
    SetSessionSwitch(SessionSwitch::SaveOnMotion, settings_.saveOnMotion != 0);
    if (settings_.saveOnMotion == 0)
        ShowMotionLevel(std::nullopt);
}

void CamActionDialog::ShowMotionLevel(std::optional<double> changedShare) {
    HWND bar = GetSafeHwnd() ? Item(ids::MotionLevel) : nullptr;
    if (!bar)
        return;
    // In tenths of a percent, as the text says it: a still picture repaints nothing.
    if (changedShare)
        changedShare = std::round(*changedShare * 1000) / 1000;
    const std::string text = MotionLevelText(changedShare, MotionShare() / 1000.0);
    if (changedShare == motionLevel_ && text == ItemText(ids::MotionLevel))
        return;
    motionLevel_ = changedShare;
    ::SetWindowTextA(bar, text.c_str());
    ::InvalidateRect(bar, nullptr, FALSE);
}

void CamActionDialog::ShowPictureSizes(std::vector<OfferedPictureSize> offered,
                                       std::optional<PictureSize> running) {
    HWND list = GetSafeHwnd() ? Item(ids::PictureSize) : nullptr;
    if (!list)
        return;
    offeredSizes_ = std::move(offered);
    ::SendMessageA(list, CB_RESETCONTENT, 0, 0);
    ::SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Camera default"));
    WPARAM shown = 0;
    for (const OfferedPictureSize& size : offeredSizes_) {
        const LRESULT index =
            ::SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(OfferedSizeLabel(size).c_str()));
        if (running && size.size == *running)
            shown = static_cast<WPARAM>(index);
    }
    ::SendMessageA(list, CB_SETCURSEL, shown, 0);
    shownPictureSize_ = static_cast<LRESULT>(shown);
}

void CamActionDialog::OnPictureSizeChosen() {
    KeepAlive keepAlive(*this); // the camera's restart may show a box
    const LRESULT chosen = ::SendMessageA(Item(ids::PictureSize), CB_GETCURSEL, 0, 0);
    // A list opened and closed again leaves a stored size the camera does not offer as it is.
    if (chosen == CB_ERR || chosen == shownPictureSize_ || static_cast<size_t>(chosen) > offeredSizes_.size())
        return;
    shownPictureSize_ = chosen;
    const std::optional<PictureSize> size =
        chosen == 0 ? std::nullopt : std::optional<PictureSize>(offeredSizes_[chosen - 1].size);
    settings_.pictureSize = PictureSizeText(size);
    if (session_)
        session_->ChangePictureSize(size);
}

void CamActionDialog::OnMirrorToHttp() {
    TakeValuesAndCheck(ids::MirrorToHttp, settings_.mirrorToHttp);
    PublishMirrorSwitch();
}

// --- Pickers ---

void CamActionDialog::OnBrowse() {
    const std::optional<std::string> chosen = ChooseSaveLocation();
    if (!chosen)
        return;
    TakeValues(); // what was typed elsewhere survives the refresh
    settings_.directory = DirectoryOfChosenPath(*chosen);
    Refresh();
}

void CamActionDialog::OnSelectWatermark() {
    const std::optional<std::string> chosen = ChooseWatermarkFile();
    if (!chosen)
        return;
    settings_.watermarkPath = *chosen;
    SetReadOnlyText(ids::WatermarkPath, settings_.watermarkPath);
    PublishOverlay();
}

void CamActionDialog::OnTransparentColour(bool high) {
    TakeValues();
    if (const std::optional<COLORREF> colour = ChooseColour()) {
        (high ? settings_.highRed : settings_.lowRed) = GetRValue(*colour);
        (high ? settings_.highGreen : settings_.lowGreen) = GetGValue(*colour);
        (high ? settings_.highBlue : settings_.lowBlue) = GetBValue(*colour);
    }
    Refresh();
    PublishOverlay();
}

void CamActionDialog::OnFontColour() {
    TakeValues();
    if (const std::optional<COLORREF> colour = ChooseColour()) {
        settings_.fontColour = *colour;
        FillSwatch(settings_.fontColour);
        DrawSwatch();
    }
    Refresh();
    PublishOverlay();
}

void CamActionDialog::OnChooseFont() {
    const std::optional<ChosenFont> chosen = ChooseTextFont();
    if (!chosen)
        return; // the previous font stays
    settings_.textFont = chosen->font;
    settings_.fontColour = chosen->colour;
    FillSwatch(settings_.fontColour);
    RestoreFont();
    PublishOverlay();
}

void CamActionDialog::OnPolygon() {
    // The box's new state decides, not the exchange: a refused entry before it would leave UPO stale
    // and a later exchange would switch polygon mode on without the sides ever being confirmed.
    if (CheckState(ids::Polygon) == BST_UNCHECKED) {
        settings_.polygonWatermark = 0;
        PublishOverlay();
        return;
    }
    PolygonWatermarkDialog polygon(MinPolygonSides, MaxPolygonSides);
    polygon.check = 1;
    polygon.sides = settings_.polygonSides;
    if (polygon.DoModal() == IDOK) {
        settings_.polygonSides = polygon.sides;
        settings_.polygonWatermark = polygon.check;
    } else {
        settings_.polygonWatermark = 0;
    }
    // Only the box is set: a full refresh would put back the members of entries typed since.
    ::CheckDlgButton(GetSafeHwnd(), ids::Polygon,
                     settings_.polygonWatermark != 0 ? BST_CHECKED : BST_UNCHECKED);
    PublishOverlay();
}

// The flag follows its box at once; the publish takes the other values (and shows a refusal once).
void CamActionDialog::OnOverlayCheck(int id, int& flag) {
    flag = CheckState(id);
    PublishOverlay();
}

// --- Text font and colour swatch ---

void CamActionDialog::RestoreFont() {
    UniqueFont font(::CreateFontIndirectA(&settings_.textFont));
    ::SendMessageA(Item(ids::Text), WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    textFont_ = std::move(font); // the old font goes only after the edit has let go of it
    FontFace = settings_.textFont.lfFaceName;
    SetReadOnlyText(ids::FontFace, FontFace);
}

void CamActionDialog::SetReadOnlyText(int id, const std::string& text) {
    HWND edit = Item(id);
    ::SendMessageA(edit, EM_SETREADONLY, FALSE, 0);
    ::SetWindowTextA(edit, text.c_str());
    ::SendMessageA(edit, EM_SETREADONLY, TRUE, 0);
}

void CamActionDialog::FillSwatch(COLORREF colour) {
    if (!ColorSwatch)
        return;
    const Gdiplus::ARGB argb = 0xFF000000u | (static_cast<Gdiplus::ARGB>(GetRValue(colour)) << 16) |
                               (static_cast<Gdiplus::ARGB>(GetGValue(colour)) << 8) | GetBValue(colour);
    Gdiplus::GpGraphics* graphics = nullptr;
    if (Gdiplus::DllExports::GdipGetImageGraphicsContext(ColorSwatch.get(), &graphics) != Gdiplus::Ok)
        return;
    const GpGraphicsOwner owner(graphics);
    Gdiplus::DllExports::GdipGraphicsClear(graphics, argb);
}

void CamActionDialog::DrawSwatch() {
    HWND control = Item(ids::ColourSwatch);
    if (!control || !ColorSwatch)
        return;
    ::UpdateWindow(control); // the control's own painting first, then the swatch over it
    UINT width = 0, height = 0;
    Gdiplus::DllExports::GdipGetImageWidth(ColorSwatch.get(), &width);
    Gdiplus::DllExports::GdipGetImageHeight(ColorSwatch.get(), &height);
    WindowDC dc(control);
    Gdiplus::GpGraphics* graphics = nullptr;
    if (!dc.get() || Gdiplus::DllExports::GdipCreateFromHDC(dc.get(), &graphics) != Gdiplus::Ok)
        return;
    const GpGraphicsOwner owner(graphics);
    Gdiplus::DllExports::GdipDrawImageRectI(graphics, ColorSwatch.get(), 0, 0, static_cast<INT>(width),
                                            static_cast<INT>(height));
}

bool CamActionDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_DRAWITEM && wParam == static_cast<WPARAM>(ids::MotionLevel)) {
        DrawMotionLevel(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), motionLevel_,
                        MotionShare() / 1000.0);
        result = TRUE;
        return true;
    }
    if (message != WM_PAINT)
        return false;
    result = CallDefault(message, wParam, lParam);
    DrawSwatch();
    return true;
}

} // namespace lumetra
