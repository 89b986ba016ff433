#include "dialogs/AboutDialog.h"

#include "resources/resource.h"

namespace lumetra {

AboutDialog::AboutDialog() : Dialog(IDD_ABOUTBOX) {
    SetNotifications({
        {about_ids::DonationJar, BN_CLICKED,
         [] {
             DonationDialog donation;
             donation.DoModal();
         }},
    });
}

DonationDialog::DonationDialog() : Dialog(IDD_DONATION) {}

} // namespace lumetra
