#include "app/gui/preview_pane.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

#include <algorithm>

#include "app/batch/picture_facts.h"
#include "app/format_table/format_table.h"
#include "app/gui/texts.h"
#include "core/vx_image.h"

namespace vellumar::gui {

namespace {

// A picture of at most kThumbSide on its longer side, sampled from the
// decoded one (rows are stored bottom up).
QImage MakeThumbnail(const std::string& path) {
    VxImage img(0);
    img.SetMaxPixels(kVxDefaultMaxPixels);
    if (!img.Load(path.c_str(), FormatFromExtension(path))) return {};
    const int w = int(img.GetWidth()), h = int(img.GetHeight());
    if (w <= 0 || h <= 0) return {};
    const double scale = std::min(1.0, double(PreviewPane::kThumbSide) / std::max(w, h));
    const int tw = std::max(1, int(w * scale)), th = std::max(1, int(h * scale));
    QImage out(tw, th, QImage::Format_RGB32);
    for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x) {
            const RGBQUAD c = img.GetPixelColor(int32_t(x / scale), int32_t(h - 1 - int(y / scale)),
                                                false);
            out.setPixel(x, y, qRgb(c.rgbRed, c.rgbGreen, c.rgbBlue));
        }
    return out;
}

}  // namespace

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("preview"));
    pool_.setMaxThreadCount(1);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 0, 0, 0);
    thumb_ = new QLabel(this);
    thumb_->setObjectName(QStringLiteral("previewImage"));
    thumb_->setAlignment(Qt::AlignCenter);
    thumb_->setMinimumHeight(kThumbSide / 2);
    facts_ = new QLabel(this);
    facts_->setObjectName(QStringLiteral("previewFacts"));
    facts_->setWordWrap(true);
    facts_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    column->addWidget(thumb_, 1);
    column->addWidget(facts_);
}

PreviewPane::~PreviewPane() {
    ++generation_;
    pool_.clear();
    pool_.waitForDone();
}

void PreviewPane::Show(const std::string& path) {
    const int mine = ++generation_;
    thumb_->clear();
    facts_->clear();
    if (path.empty()) return;
    // Only the newest request still matters; older ones stop at their next step.
    pool_.clear();
    pool_.start([this, mine, path] {
        const auto post = [this, mine](auto show) {
            QMetaObject::invokeMethod(this, [this, mine, show] {
                if (generation_ == mine) show();
            }, Qt::QueuedConnection);
        };
        const batch::PictureFacts f = batch::ReadPictureFacts(path, 0, kVxDefaultMaxPixels);
        const QString text =
            f.ok ? text::T(text::kPreviewFacts)
                       .arg(QString::fromStdString(f.format))
                       .arg(f.width)
                       .arg(f.height)
                       .arg(f.bpp)
                       .arg(f.frames)
                 : QString::fromStdString(f.error);
        post([this, text] { facts_->setText(text); });
        if (!f.ok || generation_ != mine) {
            post([this] { emit shown(); });
            return;
        }
        const QImage thumb = MakeThumbnail(path);
        post([this, thumb] {
            thumb_->setPixmap(QPixmap::fromImage(thumb));
            emit shown();
        });
    });
}

}  // namespace vellumar::gui
