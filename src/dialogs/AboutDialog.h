#pragma once
// The About box and the donation box it opens.

#include "framework/Dialog.h"

namespace lumetra {

namespace about_ids {
constexpr int DonationJar = 1054;
}

class AboutDialog : public Dialog {
  public:
    AboutDialog();
};

// The donation box ("Donation information").
class registerdialog : public Dialog {
  public:
    registerdialog();
};

} // namespace lumetra
