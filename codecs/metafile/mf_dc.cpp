#include "codecs/metafile/mf_dc.h"

#include <cmath>

namespace vx::mf {

namespace {

// Deep enough for real drawings; a hostile file cannot grow the stack further.
constexpr size_t kMaxSaveDepth = 1024;
constexpr size_t kMaxClipSteps = 64;
constexpr uint32_t kMaxObjects = 65536;

// A zero extent would divide by zero; GDI refuses it too.
bool UsableExtent(double x, double y) {
    return x != 0 && y != 0 && std::isfinite(x) && std::isfinite(y);
}

}  // namespace

void DeviceContext::Reset(const Affine& base, double pixelsPerMmX, double pixelsPerMmY) {
    state_ = DcState{};
    saved_.clear();
    objects_.clear();
    base_ = base;
    ppmX_ = pixelsPerMmX > 0 && std::isfinite(pixelsPerMmX) ? pixelsPerMmX : 96 / 25.4;
    ppmY_ = pixelsPerMmY > 0 && std::isfinite(pixelsPerMmY) ? pixelsPerMmY : 96 / 25.4;
    fullValid_ = false;
}

const Affine& DeviceContext::Full() const {
    if (fullValid_) return full_;
    const DcState& s = state_;
    double sx = 1, sy = 1;
    switch (s.mapMode) {
        case kMmLoMetric: sx = ppmX_ / 10; sy = -ppmY_ / 10; break;
        case kMmHiMetric: sx = ppmX_ / 100; sy = -ppmY_ / 100; break;
        case kMmLoEnglish: sx = ppmX_ * 0.254; sy = -ppmY_ * 0.254; break;
        case kMmHiEnglish: sx = ppmX_ * 0.0254; sy = -ppmY_ * 0.0254; break;
        case kMmTwips: sx = ppmX_ * 25.4 / 1440; sy = -ppmY_ * 25.4 / 1440; break;
        case kMmIsotropic:
        case kMmAnisotropic:
            sx = s.vpExtX / s.winExtX;
            sy = s.vpExtY / s.winExtY;
            if (s.mapMode == kMmIsotropic) {
                const double m = std::min(std::fabs(sx), std::fabs(sy));
                sx = std::copysign(m, sx);
                sy = std::copysign(m, sy);
            }
            break;
        default: break;
    }
    Affine page;
    page.a = sx;
    page.d = sy;
    page.e = s.vpOrgX - s.winOrgX * sx;
    page.f = s.vpOrgY - s.winOrgY * sy;
    full_ = s.world.Then(page).Then(base_);
    if (!full_.Finite()) full_ = base_;
    fullValid_ = true;
    return full_;
}

void DeviceContext::Save() {
    if (saved_.size() < kMaxSaveDepth) saved_.push_back(state_);
}

void DeviceContext::Restore(int32_t level) {
    size_t keep;
    if (level < 0) {
        const uint64_t back = uint64_t(-int64_t(level));
        if (back > saved_.size()) return;
        keep = saved_.size() - size_t(back);
    } else if (level > 0) {
        if (uint64_t(level) > saved_.size()) return;
        keep = size_t(level) - 1;
    } else {
        return;
    }
    state_ = saved_[keep];
    saved_.resize(keep);
    fullValid_ = false;
}

void DeviceContext::SetMapMode(int mode) {
    if (mode < kMmText || mode > kMmAnisotropic) return;
    state_.mapMode = mode;
    fullValid_ = false;
}

void DeviceContext::SetWindowOrg(double x, double y) {
    state_.winOrgX = x;
    state_.winOrgY = y;
    fullValid_ = false;
}

void DeviceContext::SetWindowExt(double x, double y) {
    if (!UsableExtent(x, y)) return;
    state_.winExtX = x;
    state_.winExtY = y;
    fullValid_ = false;
}

void DeviceContext::SetViewportOrg(double x, double y) {
    state_.vpOrgX = x;
    state_.vpOrgY = y;
    fullValid_ = false;
}

void DeviceContext::SetViewportExt(double x, double y) {
    if (!UsableExtent(x, y)) return;
    state_.vpExtX = x;
    state_.vpExtY = y;
    fullValid_ = false;
}

void DeviceContext::AddClip(ClipStep step) {
    auto next = std::make_shared<std::vector<ClipStep>>();
    if (state_.clip) *next = *state_.clip;
    if (next->size() >= kMaxClipSteps) return;
    next->push_back(std::move(step));
    state_.clip = std::move(next);
}

void DeviceContext::ResetClip() { state_.clip.reset(); }

void DeviceContext::InitObjects(uint32_t count) {
    objects_.clear();
    objects_.resize(count < kMaxObjects ? count : kMaxObjects);
    firstFree_ = 0;
}

int32_t DeviceContext::AddObject(GdiObject obj) {
    // The hint keeps a file of many creations from scanning the table each time.
    for (size_t i = firstFree_; i < objects_.size(); ++i) {
        if (objects_[i].kind == GdiObject::kEmpty) {
            objects_[i] = std::move(obj);
            firstFree_ = i + 1;
            return int32_t(i);
        }
    }
    firstFree_ = objects_.size();
    return -1;
}

bool DeviceContext::SetObject(uint32_t index, GdiObject obj) {
    if (index >= objects_.size()) return false;
    objects_[index] = std::move(obj);
    if (objects_[index].kind == GdiObject::kEmpty && index < firstFree_) firstFree_ = index;
    return true;
}

const GdiObject* DeviceContext::Object(uint32_t index) const {
    if (index >= objects_.size() || objects_[index].kind == GdiObject::kEmpty) return nullptr;
    return &objects_[index];
}

void DeviceContext::DeleteObject(uint32_t index) {
    if (index >= objects_.size()) return;
    objects_[index] = GdiObject{};
    if (index < firstFree_) firstFree_ = index;
}

void DeviceContext::SelectObject(const GdiObject& obj) {
    switch (obj.kind) {
        case GdiObject::kPen: state_.pen = obj.pen; break;
        case GdiObject::kBrush: state_.brush = obj.brush; break;
        case GdiObject::kFont: state_.font = obj.font; break;
        default: break;
    }
}

}  // namespace vx::mf
