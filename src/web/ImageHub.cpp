#include "web/ImageHub.h"

namespace lumetra::web {

const char* StateName(PublicationState state) {
    switch (state) {
    case PublicationState::Waiting:
        return "waiting";
    case PublicationState::Pending:
        return "pending";
    case PublicationState::Ready:
        return "ready";
    case PublicationState::Refused:
        return "refused";
    case PublicationState::Missing:
        return "missing";
    case PublicationState::Unusable:
        return "unusable";
    }
    return "unknown";
}

const CameraStatus* ServiceStatus::FindCamera(std::string_view name) const {
    for (const CameraStatus& camera : cameras)
        if (camera.name == name)
            return &camera;
    return nullptr;
}

ImageHub::ImageHub() {
    auto initial = std::make_shared<ServiceStatus>();
    initial->sequence = 1;
    current_ = std::move(initial);
}

std::shared_ptr<const ServiceStatus> ImageHub::Current() const {
    std::lock_guard lock(mutex_);
    return current_;
}

void ImageHub::Update(ServiceStatus status) {
    {
        std::lock_guard lock(mutex_);
        const ServiceStatus& now = *current_;
        if (static_cast<const ImageStatus&>(status) == now && status.cameras == now.cameras)
            return;
        status.sequence = now.sequence + 1;
        current_ = std::make_shared<const ServiceStatus>(std::move(status));
    }
    changed_.notify_all();
}

std::shared_ptr<const ServiceStatus>
ImageHub::WaitForChange(std::uint64_t seen, std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return stopped_ || current_->sequence != seen; });
    return current_;
}

void ImageHub::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

bool ImageHub::Stopped() const {
    std::lock_guard lock(mutex_);
    return stopped_;
}

} // namespace lumetra::web
