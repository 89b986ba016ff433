#pragma once
// The About box and the donation box it opens.

#include "resources/ControlIds.h"

#include "framework/Dialog.h"

namespace lumetra {

namespace about_ids {
constexpr int DonationJar = IDC_ABOUT_DONATION_JAR;
}

class AboutDialog : public Dialog {
  public:
    AboutDialog();
};

// The donation box ("Donation information").
class DonationDialog : public Dialog {
  public:
    DonationDialog();
};

} // namespace lumetra
