// A push button's image and title centred together as one group across the button's width, with
// `horizontalImagePadding` px between them. The cell paints the button it is made for: the
// button's style draws its background, the cell the image and the title.
//
//   auto* cell = new SpaceButtonCell(button);   // owned by the button
//   cell->horizontalImagePadding = 6;
#pragma once

#include <QObject>
#include <QRectF>

class QAbstractButton;
class QPainter;

namespace tamberlo {

class SpaceButtonCell : public QObject {
    Q_OBJECT
public:
    // Paints `button` from now on (a free cell without one).
    explicit SpaceButtonCell(QAbstractButton* button);

    // The gap between image and title (0 = touching).
    double horizontalImagePadding = 0;

    // The image's frame: x = (W − t − image width − p) × 0.5, y and size as given; t is the
    // title's width (0 for an empty title). Without a title the frame stays.
    QRectF imageFrame(const QRectF& frame, double width, double titleWidth, bool hasTitle) const;
    // The title's frame: x = (W − title frame width − image width − p) × 0.5 + image width + p,
    // y and size as given; without an image the frame stays.
    QRectF titleFrame(const QRectF& frame, double width, double imageWidth, bool hasImage) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void paint(QAbstractButton& button) const;
};

}  // namespace tamberlo
