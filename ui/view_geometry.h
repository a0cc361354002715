// Where a view draws its picture, and how a view point maps back to a page pixel.
#pragma once

#include <QPoint>
#include <QRect>

namespace pagetrim {

// The rectangle, anchored at the view's top-left, in which a picture of
// pictureWidth x pictureHeight is drawn in a view of viewWidth x viewHeight,
// keeping the picture's proportions. An empty picture fills the whole view.
QRect ViewDrawRect(int pictureWidth, int pictureHeight, int viewWidth, int viewHeight);

// The page pixel under a view point for a page of pageWidth x pageHeight shown
// in a view of viewWidth x viewHeight. Points beside the drawn picture map
// outside the page.
QPoint MapViewToImage(QPoint viewPoint, int pageWidth, int pageHeight, int viewWidth,
                      int viewHeight);

}  // namespace pagetrim
