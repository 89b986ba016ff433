#pragma once
// The camera's action dialog "CAM ACTION" and, at the same time, the camera's settings.

#include "capture/PictureSize.h"
#include "delivery/ImagePath.h"
#include "delivery/Retention.h"
#include "framework/Dialog.h"
#include "settings/CamActionIds.h"
#include "framework/Handles.h"
#include "imaging/GdiplusObjects.h"
#include "delivery/SmtpMailer.h"
#include "settings/ActionLinks.h"
#include "settings/CameraSettings.h"

#include <gdiplus.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumetra {

struct OverlaySettings;

class CamActionDialog : public Dialog {
  public:
    // Creates the window at once, hidden, top-level without an owner window. `mirror` (may be null)
    // takes the mirror box's state; `clock` names the images when the time is appended.
    explicit CamActionDialog(MirrorSwitch* mirror, SecondsClock clock = SecondsSince1970);
    ~CamActionDialog() override;

    void SetSession(ActionSession* session);
    void ClearSession();
    void SetCameraIndex(int cameraIndex);
    // Loads the camera's stored settings, shows them and publishes the overlay.
    void SetCameraName(const std::string& name);
    // The Cancel command (Escape, close box): saves the settings and destroys the window.
    void Cancel() {
        KeepAlive keepAlive(*this);
        OnCancel();
    }

    void LoadSettings();
    void SaveSettings();
    // Takes the controls' values and the text edit's text, and hands the watermark and text part of
    // the settings to the camera's slot.
    void PublishOverlay();
    // The button "Save Current Image".
    void SaveCurrentImage();

    // Schedule accessors: the members as of the last exchange.
    int SaveSeconds() const;
    int FtpSeconds() const;
    int EmailSeconds() const;
    // The path and name of the next image, built from what the folder and file name fields hold now;
    // none when they make none (no folder, a name too long or not a plain file name, another open
    // camera's place). Both take the controls' values first.
    // The user's save: a refusal is shown at its field.
    std::optional<ImagePath> PathForUsersSave();
    // The schedule's and motion's: values are taken without a message and the reason is given.
    std::optional<ImagePath> PathForAutomaticSave(std::string& refusal);

    // Why the folder and file name, as typed, make no image path: the field, its message, and a
    // few words for the Live View.
    struct PathRefusal {
        int field;
        std::string message;
        std::string reason;
    };
    // Tells the user that the image of their save was not written, and why.
    void TellSaveFailed(const std::string& path, const std::string& reason);
    // The upload of localPath as remoteName to the camera's FTP server, as the fields stand.
    UploadRequest FtpRequest(const std::string& localPath, const std::string& remoteName) const;
    // "Mail me when this camera is in trouble".
    bool TroubleMailOn() const { return settings_.troubleMail != 0; }
    // The camera's SMTP server; none when it mails through the mail program.
    std::optional<SmtpSettings> MailServer() const;
    // The user trusts the mail server's certificate of this fingerprint from now on.
    void TrustMailCertificate(const std::string& fingerprint);
    const std::string& EmailAddresses() const { return settings_.emailAddresses; }
    // Motion saving: the share of the picture that must change (tenths of a percent), the change
    // that makes a pixel count, the seconds between saves; kept within their ranges.
    int MotionShare() const;
    int PixelChange() const;
    int MotionGapSeconds() const;
    // The live bar: the share (0 to 1) changed at the session's last look; none while not watching.
    void ShowMotionLevel(std::optional<double> changedShare);
    // The limits of the camera's images as last left (a stored limit out of range counts as its
    // nearest); where they apply is where the camera last saved.
    RetentionRules Retention() const;
    // The picture size the camera is asked for; none: its default.
    std::optional<PictureSize> PictureSizeWanted() const { return ParsePictureSize(settings_.pictureSize); }
    // The drop-down: "Camera default", then the sizes the camera offers, showing the one it runs at
    // (none: its default). A stored size it does not offer stays stored for when it does.
    void ShowPictureSizes(std::vector<OfferedPictureSize> offered, std::optional<PictureSize> running);
    const std::string& LastImagePath() const { return imagePaths_.LastImagePath(); }
    const std::string& LastImageName() const { return imagePaths_.LastImageName(); }

    // The entry fields by the names of their labels.
    std::string FieldName(int id) const override;

    // What the dialog holds (tests and the session read it).
    const CameraSettings& Settings() const { return settings_; }
    const std::string& CameraName() const { return cameraName_; }
    int CameraIndex() const { return cameraIndex_; }

  protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void DoDataExchange(DataExchange& exchange) override;
    void PostNcDestroy() override { delete this; }
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  private:
    struct PathOrRefusal {
        std::optional<ImagePath> path;
        std::optional<PathRefusal> refusal;
    };
    PathOrRefusal NextImagePath();
    // Takes the controls' values unless an exchange is already running (its message box is open).
    bool TakeValues();
    // Takes values, then sets `flag` to the state of check box `id` whatever the exchange reached.
    void TakeValuesAndCheck(int id, int& flag);
    int CheckState(int id) const;
    // Holds the folder and file name just taken for this camera, or refuses them at their field
    // when the user changed them to another open camera's.
    void HoldSavePlace(DataExchange& exchange, const std::string& folderBefore,
                       const std::string& fileNameBefore);
    // Shows a refusal as the data exchange does: the message, then the field with its text selected.
    void RefuseAt(int id, const std::string& message);
    // A ticked automatic box needs a usable interval in its edit; without one the box is unticked,
    // its switch turned off and the interval refused. Returns whether the box may stay as it is.
    bool KeepAutoBoxTicked(int boxId, int intervalId, int& flag, SessionSwitch sessionSwitch);
    void SetSessionSwitch(SessionSwitch which, bool on);
    void PublishMirrorSwitch();
    // The same for "Save on Motion" and its three numbers.
    bool KeepMotionBoxTicked();
    void Refresh() { UpdateData(false); }
    std::string TextOfEdit() const;
    std::string ItemText(int id) const;

    void OnFtpLastImage();
    void OnMailServer();
    void OnEmailLastImage();
    // Save Auto, FTP Auto and Email Auto: a box, the edit of its interval, the setting it sets and
    // the session's switch it drives; `takeTyped` stores a typed interval in the settings.
    struct AutomaticAction {
        int box;
        int interval;
        int CameraSettings::*flag;
        SessionSwitch sessionSwitch;
        void (*takeTyped)(CameraSettings& settings, const std::string& typed);
    };
    static const AutomaticAction AutomaticActions[3];
    void OnAutomaticBoxClicked(const AutomaticAction& action);
    void OnIntervalTyped(const AutomaticAction& action);
    void OnViewAfterSaving();
    void OnMirrorToHttp();
    void OnSaveOnMotion();
    // A size counts once chosen: at once from the closed list, when it closes from the open one.
    void OnPictureSizeChosen();
    void OnMotionNumberTyped(int id, int& value, int minimum, int maximum);
    // A retention limit counts once its field is left; an unusable one is refused there.
    void OnKeepLimitLeft(int id, int& value, int maximum);
    // The session's motion switch follows MOT.
    void SwitchMotion();
    void OnBrowse();
    void OnSelectWatermark();
    void OnTransparentColour(bool high);
    void OnFontColour();
    void OnChooseFont();
    void OnPolygon();
    void OnOverlayCheck(int id, int& flag);

    // The camera name the settings are saved under; may ask the user (see the definition).
    std::string KeyToSaveUnder();

    void RestoreFont();
    void SetReadOnlyText(int id, const std::string& text);
    void FillSwatch(COLORREF colour);
    void DrawSwatch();

    MirrorSwitch* mirror_;
    ActionSession* session_ = nullptr;
    int cameraIndex_ = -1;
    std::string cameraName_;
    CameraSettings settings_;
    bool askingWhereToSave_ = false; // the question of KeyToSaveUnder is open
    ImagePathBuilder imagePaths_;
    std::string FontFace;
    UniqueFont textFont_;
    GpBitmapOwner ColorSwatch;          // the text colour, shown beside its button
    std::optional<double> motionLevel_; // what the live bar shows
    bool takingKeepLimits_ = false;     // the closing exchange takes the retention limits too
    bool refusingKeepLimit_ = false;
    bool closing_ = false;
    std::vector<OfferedPictureSize> offeredSizes_; // the drop-down's entries after "Camera default"
    LRESULT shownPictureSize_ = 0;                 // the entry the drop-down showed before a choice
};

} // namespace lumetra
