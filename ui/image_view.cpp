// Drawing a page view and reporting the mouse on it.
#include "image_view.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>
#include <vector>

#include "view_geometry.h"

namespace pagetrim {

ImageView::ImageView(QWidget* parent) : QWidget(parent) {
  // The panel behind shows through everywhere the picture does not cover.
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void ImageView::SetPicture(const PageRaster& raster) {
  picture_.Pixels.AssignFrom(raster);
  picture_.Step = 1;
  picture_.Region = {0, 0, raster.Width(), raster.Height()};
  scaledValid_ = false;
  update();
}

void ImageView::SetPicture(const ReducedPicture& picture) {
  picture_ = picture;
  scaledValid_ = false;
  update();
}

void ImageView::SetUnreadable(bool unreadable, const QString& reason) {
  if (unreadable_ == unreadable && unreadableReason_ == reason)
    return;
  unreadable_ = unreadable;
  unreadableReason_ = reason;
  update();
}

QString ImageView::UnreadableText() const {
  if (!unreadable_)
    return QString();
  const QString text = QStringLiteral("この画像は読み込めません");
  return unreadableReason_.isEmpty() ? text : text + u'\n' + unreadableReason_;
}

QRect ImageView::DrawRect() const {
  return ViewDrawRect(picture_.Region.Width(), picture_.Region.Height(), width(), height());
}

QImage ScaleForView(const PageRaster& raster, int width, int height) {
  return ScaleForView(ReducedPicture{raster, 1, {0, 0, raster.Width(), raster.Height()}}, width,
                      height);
}

QImage ScaleForView(const ReducedPicture& picture, int width, int height) {
  const PageRaster& raster = picture.Pixels;
  if (picture.IsEmpty() || width <= 0 || height <= 0)
    return {};
  const Rect& region = picture.Region;
  // The page pixel each view pixel shows, then the sample at or before it.
  const auto sample = [&](int i, int length, int start, int span, int samples) {
    const std::int64_t pagePixel = start + std::int64_t(i) * span / length;
    return int(std::min<std::int64_t>(pagePixel / picture.Step, samples - 1));
  };
  const bool gray = raster.Format() == PixelFormat::Gray8;
  QImage image(width, height, gray ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
  std::vector<int> offsets(static_cast<std::size_t>(width));
  for (int x = 0; x < width; ++x) {
    offsets[std::size_t(x)] =
        sample(x, width, region.Left, region.Width(), raster.Width()) * raster.BytesPerPixel();
  }
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* src =
        raster.Row(sample(y, height, region.Top, region.Height(), raster.Height()));
    if (gray) {
      std::uint8_t* dest = image.scanLine(y);
      for (int x = 0; x < width; ++x)
        dest[x] = src[offsets[std::size_t(x)]];
      continue;
    }
    auto* dest = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = src + offsets[std::size_t(x)];
      dest[x] = qRgb(p[2], p[1], p[0]);
    }
  }
  return image;
}

void ImageView::UpdateScaledPicture() {
  const QRect r = DrawRect();
  if (scaledValid_ && scaled_.size() == r.size())
    return;
  // Scaling a large page means reading pixels all over it; when the other
  // view has just done so for the same pixels, its picture is taken.
  const PageRaster& pixels = picture_.Pixels;
  const ReducedPicture& twin = twin_ != nullptr ? twin_->picture_ : picture_;
  const bool twinShowsTheSame =
      twin_ != nullptr && twin_->scaledValid_ && twin_->scaled_.size() == r.size() &&
      twin.Pixels.SharesPixelsWith(pixels) && twin.Pixels.Width() == pixels.Width() &&
      twin.Pixels.Height() == pixels.Height() && twin.Step == picture_.Step &&
      twin.Region == picture_.Region;
  scaled_ = twinShowsTheSame ? twin_->scaled_ : ScaleForView(picture_, r.width(), r.height());
  scaledValid_ = true;
}

void ImageView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (unreadable_) {
    // Two blank views would look like an empty page; this one says why.
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, UnreadableText());
    return;
  }
  if (picture_.IsEmpty())
    return;
  UpdateScaledPicture();
  if (!scaled_.isNull())
    painter.drawImage(0, 0, scaled_);
}

void ImageView::mousePressEvent(QMouseEvent* event) {
  const Qt::MouseButton b = event->button();
  if (b == Qt::LeftButton || b == Qt::RightButton || b == Qt::MiddleButton) {
    emit MousePressed(event->position().toPoint());
  }
}

void ImageView::mouseDoubleClickEvent(QMouseEvent* event) {
  // The double-click comes first and aims at the pair's first press; the
  // second press then counts as a press of its own.
  if (event->button() == Qt::LeftButton)
    emit DoubleClicked(event->position().toPoint());
  mousePressEvent(event);
}

void ImageView::contextMenuEvent(QContextMenuEvent* event) {
  if (!contextMenuAttached_ || event->reason() != QContextMenuEvent::Mouse)
    return;
  emit ContextMenuRequested(event->globalPos());
}

}  // namespace pagetrim
