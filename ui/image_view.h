// ImageView: a page view that draws its own copy of a raster, scaled by
// whole pixels and anchored at the top-left.
#pragma once

#include <QImage>
#include <QWidget>

#include "page_raster.h"
#include "reduced_picture.h"

class QMenu;

namespace pagetrim {

class ImageView : public QWidget {
  Q_OBJECT

 public:
  explicit ImageView(QWidget* parent = nullptr);

  // Drops the old picture and keeps a copy of raster's pixels.
  void SetPicture(const PageRaster& raster);
  // The same for a page drawn from a reduced copy: the view keeps only that.
  void SetPicture(const ReducedPicture& picture);
  // The pixels kept: the page's own, or its reduced copy's.
  const PageRaster& Picture() const { return picture_.Pixels; }
  // Where the page is drawn, from the page's size either way.
  QRect DrawRect() const;
  // While the shown page's file could not be read the view says so, and why.
  void SetUnreadable(bool unreadable, const QString& reason = {});
  bool Unreadable() const { return unreadable_; }
  // The words the view shows in place of the page; empty while it shows one.
  QString UnreadableText() const;

  // The other page view: when both show the very same pixels, as right after
  // a page is shown, one scaled picture serves both.
  void SetTwin(const ImageView* twin) { twin_ = twin; }

  // A context menu is offered only once one has been attached.
  void AttachContextMenu(bool attached) { contextMenuAttached_ = attached; }
  bool HasContextMenu() const { return contextMenuAttached_; }

 signals:
  void MousePressed(QPoint point);
  void DoubleClicked(QPoint point);
  void ContextMenuRequested(QPoint globalPoint);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void UpdateScaledPicture();

  ReducedPicture picture_;
  // Scaling a 300 dpi page takes longer than a repaint should, so the scaled
  // picture is kept until the picture or the view's size changes.
  QImage scaled_;
  bool scaledValid_ = false;
  bool contextMenuAttached_ = false;
  bool unreadable_ = false;
  QString unreadableReason_;
  const ImageView* twin_ = nullptr;
};

// Nearest-pixel scaling of raster into a width x height image, for drawing.
QImage ScaleForView(const PageRaster& raster, int width, int height);
// The same for the part of a page a reduced picture shows, each pixel taken
// from the nearest sample at or before it.
QImage ScaleForView(const ReducedPicture& picture, int width, int height);

}  // namespace pagetrim
