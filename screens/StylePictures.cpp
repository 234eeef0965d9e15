// Parts of the style that the checkout draws again and again, drawn once per
// look and copied from then on.
#include "screens/StylePictures.h"

#include <QApplication>
#include <QEvent>
#include <QHash>
#include <QHeaderView>
#include <QImage>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionFrame>
#include <QStyleOptionHeader>
#include <cstring>
#include <tuple>

namespace StylePictures {

namespace {
// A picture in the format of the surface it is copied to: text is smoothed
// differently on surfaces with and without transparency. dpi sizes its text.
QImage NewPicture(const QSize& size, qreal ratio, const QPaintDevice* dpi, QImage::Format format)
{
    QImage picture(size * ratio, format);
    picture.setDevicePixelRatio(ratio);
    // Text sizes in points become the same pixels as on the screen.
    picture.setDotsPerMeterX(qRound(dpi->logicalDpiX() / 0.0254));
    picture.setDotsPerMeterY(qRound(dpi->logicalDpiY() / 0.0254));
    return picture;
}

// The format of the surface painter draws on.
QImage::Format SurfaceFormat(const QPainter& painter)
{
    const QPaintDevice* surface = painter.paintEngine()->paintDevice();
    return surface && surface->devType() == QInternal::Image
               ? static_cast<const QImage*>(surface)->format()
               : QImage::Format_ARGB32_Premultiplied;
}

// Everything the style is given to draw one part, but the painter's clip and
// position: the part is copied under the clip, where it would be drawn.
struct Look
{
    int part;
    QSize size;
    qreal ratio;
    int format;
    int state, direction;
    qint64 palette;
    QFont font;
    QString text;
    qint64 icon;
    QVector<int> details;

    auto Fields() const
    {
        return std::tie(part, size, ratio, format, state, direction, palette, font, text, icon,
                        details);
    }
    bool operator==(const Look& other) const { return Fields() == other.Fields(); }
};

uint qHash(const Look& look, uint seed = 0)
{
    return ::qHash(look.text, seed) ^ ::qHash(look.details, seed) ^
           ::qHash((look.part * 31 + look.state) * 4099 + look.size.width() * 131 +
                   look.size.height());
}

// The application's kind of style, drawing header sections and line-edit
// frames from pictures.
class PictureStyle : public QProxyStyle
{
public:
    // A style of the application's kind of its own: a proxy takes over the
    // style it is given.
    explicit PictureStyle(QObject* owner, bool keepTexts = false)
        : QProxyStyle(QStyleFactory::create(QApplication::style()->objectName())),
          keepTexts(keepTexts)
    {
        setParent(owner);
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override
    {
        const auto* section = qstyleoption_cast<const QStyleOptionHeader*>(option);
        if (element != CE_Header || !section || !widget) {
            QProxyStyle::drawControl(element, option, painter, widget);
            return;
        }
        Look look = CommonLook(element, *option, painter);
        look.text = section->text;
        look.icon = section->icon.cacheKey();
        look.details = {section->position,           section->selectedPosition,
                        section->sortIndicator,      int(section->textAlignment),
                        int(section->iconAlignment), section->orientation};
        // Under a section is the header's own background, not the window's.
        QStyleOptionHeader placed = *section;
        placed.rect.moveTopLeft(QPoint());
        Draw(look, option->rect.topLeft(), painter, widget->palette().color(QPalette::Button),
             [&](QPainter* picturePainter) {
                 QProxyStyle::drawControl(element, &placed, picturePainter, widget);
             });
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
        if (element != PE_PanelLineEdit || !frame) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        Look look = CommonLook(element + 0x10000, *option, painter);
        look.details = {frame->lineWidth, frame->midLineWidth, int(frame->features),
                        frame->frameShape};
        QStyleOptionFrame placed = *frame;
        placed.rect.moveTopLeft(QPoint());
        Draw(look, option->rect.topLeft(), painter, Qt::transparent, [&](QPainter* picturePainter) {
            QProxyStyle::drawPrimitive(element, &placed, picturePainter, widget);
        });
    }

    // A label's text is drawn as Qt draws it the first time it is drawn
    // over given pixels, and copied from then on: shaping and laying out
    // Chinese text anew on every painting cost as much as the rest of the
    // totals' painting.
    void drawItemText(QPainter* painter, const QRect& rect, int flags, const QPalette& palette,
                      bool enabled, const QString& text,
                      QPalette::ColorRole textRole) const override
    {
        const auto drawText = [&] {
            QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, textRole);
        };
        const QPaintDevice* device = painter->paintEngine()->paintDevice();
        const QTransform& place = painter->deviceTransform();
        const QRect onSurface = place.mapRect(rect);
        // Only text that stays in its rectangle, copied pixel for pixel onto
        // an image whose pixels can be read.
        if (!keepTexts || (flags & Qt::TextDontClip) || !device ||
            device->devType() != QInternal::Image || place.type() > QTransform::TxTranslate ||
            place.dx() != qRound(place.dx()) || place.dy() != qRound(place.dy()) ||
            painter->opacity() != 1.0 ||
            painter->compositionMode() != QPainter::CompositionMode_SourceOver ||
            !static_cast<const QImage*>(device)->rect().contains(onSurface)) {
            drawText();
            return;
        }
        const QImage& surface = *static_cast<const QImage*>(device);
        Look look = CommonLook(-1, QStyleOption(), painter);
        look.size = rect.size();
        look.state = enabled;
        look.palette = palette.cacheKey();
        look.text = text;
        look.details = {flags, textRole, int(painter->pen().color().rgba()),
                        painter->device()->logicalDpiY()};
        const QImage under = surface.copy(onSurface);
        auto kept = texts.constFind(look);
        // Byte for byte: QImage's own comparison goes pixel by pixel.
        if (kept != texts.cend() && kept->under.size() == under.size() &&
            std::memcmp(kept->under.constBits(), under.constBits(), under.sizeInBytes()) == 0) {
            painter->save();
            painter->setCompositionMode(QPainter::CompositionMode_Source);
            painter->drawImage(rect.topLeft(), kept->picture);
            painter->restore();
            return;
        }
        drawText();
        // What was drawn is kept only when all of it was drawn: outside the
        // painting's clip the surface holds older pixels.
        const QRegion systemClip = painter->paintEngine()->systemClip();
        if ((!systemClip.isEmpty() && !(QRegion(onSurface) - systemClip).isEmpty()) ||
            (painter->hasClipping() && !(QRegion(rect) - painter->clipRegion()).isEmpty()))
            return;
        if (texts.size() >= 32)
            texts.clear();
        texts.insert(look, {under, surface.copy(onSurface)});
    }

private:
    struct TextPicture
    {
        QImage under;
        QImage picture;
    };

    static Look CommonLook(int part, const QStyleOption& option, const QPainter* painter)
    {
        return {part,
                option.rect.size(),
                painter->device()->devicePixelRatioF(),
                SurfaceFormat(*painter),
                int(option.state),
                option.direction,
                option.palette.cacheKey(),
                painter->font(),
                QString(),
                0,
                {}};
    }

    // draw paints the part at the picture's origin; under is what the part
    // is drawn over where it leaves anything uncovered.
    template <typename Drawing>
    void Draw(const Look& look, const QPoint& at, QPainter* painter, const QColor& under,
              const Drawing& draw) const
    {
        auto found = pictures.constFind(look);
        if (found == pictures.cend()) {
            // Pictures of rows long gone are not worth keeping.
            if (pictures.size() >= 512)
                pictures.clear();
            found = pictures.insert(look, Picture(look, painter, under, draw));
        }
        painter->drawImage(at, *found);
    }

    template <typename Drawing>
    static QImage Picture(const Look& look, const QPainter* painter, const QColor& under,
                          const Drawing& draw)
    {
        // A part with something showing through it keeps its transparency.
        const QImage::Format format = under.alpha() == 255 ? QImage::Format(look.format)
                                                           : QImage::Format_ARGB32_Premultiplied;
        QImage picture = NewPicture(look.size, look.ratio, painter->device(), format);
        picture.fill(under);
        QPainter picturePainter(&picture);
        picturePainter.setFont(painter->font());
        picturePainter.setPen(painter->pen());
        picturePainter.setBrush(painter->brush());
        picturePainter.setRenderHints(painter->renderHints());
        picturePainter.setLayoutDirection(painter->layoutDirection());
        draw(&picturePainter);
        return picture;
    }

    const bool keepTexts;
    mutable QHash<Look, QImage> pictures;
    // Each text with the pixels it was last drawn over.
    mutable QHash<Look, TextPicture> texts;
};

// The box and what lies behind it, painted from one picture.
class PaintedFromPicture : public QObject
{
public:
    explicit PaintedFromPicture(QWidget* box) : QObject(box), box(box)
    {
        box->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Resize:
        case QEvent::Move:
        case QEvent::PaletteChange:
        case QEvent::FontChange:
        case QEvent::StyleChange:
        case QEvent::EnabledChange:
        case QEvent::ActivationChange:
            Forget();
            return false;
        case QEvent::Paint:
            return !making && PaintFromPicture(static_cast<QPaintEvent*>(event)->region());
        default:
            return false;
        }
    }

private:
    QPoint PlaceInWindow() const { return box->mapTo(box->window(), QPoint()); }

    void Forget()
    {
        behind = picture = QImage();
        box->setAttribute(Qt::WA_OpaquePaintEvent, false);
    }

    bool PaintFromPicture(const QRegion& region)
    {
        if (picture.isNull() || picture.devicePixelRatio() != box->devicePixelRatioF() ||
            placedAt != PlaceInWindow()) {
            Forget();
            format = SurfaceFormat(QPainter(box));
            // Made after this painting: the box cannot paint itself into a
            // picture while it paints.
            if (!pictureDue)
                QMetaObject::invokeMethod(this, &PaintedFromPicture::MakePicture,
                                          Qt::QueuedConnection);
            pictureDue = true;
            return false;
        }
        QRegion fields;
        for (QWidget* field : box->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (field->isVisible())
                fields += field->geometry();
        }
        // The box's title is drawn by the box itself: text drawn into a
        // picture first comes out a shade different.
        const bool underFields = (region - fields).isEmpty();
        QPainter painter(box);
        painter.setClipRegion(region);
        painter.drawImage(0, 0, underFields ? picture : behind);
        return underFields;
    }

    void MakePicture()
    {
        pictureDue = false;
        behind = NewPicture(box->size(), box->devicePixelRatioF(), box, format);
        // The window and each widget between it and the box paint their part
        // behind the box, each without its children, then the box itself.
        QVector<QWidget*> layers;
        for (QWidget* layer = box->parentWidget(); layer;
             layer = layer->isWindow() ? nullptr : layer->parentWidget())
            layers.prepend(layer);
        QPainter painter(&behind);
        for (QWidget* layer : layers) {
            layer->render(&painter, QPoint(), QRect(box->mapTo(layer, QPoint()), box->size()),
                          layer->isWindow() ? QWidget::DrawWindowBackground
                                            : QWidget::RenderFlags());
        }
        painter.end();
        picture = behind.copy();
        painter.begin(&picture);
        making = true;
        box->render(&painter, QPoint(), QRegion(), QWidget::RenderFlags());
        making = false;
        placedAt = PlaceInWindow();
        box->setAttribute(Qt::WA_OpaquePaintEvent, true);
    }

    QWidget* const box;
    // What the window shows behind the box, and that with the box on it.
    QImage behind;
    QImage picture;
    QImage::Format format = QImage::Format_ARGB32_Premultiplied;
    QPoint placedAt;
    bool pictureDue = false;
    bool making = false;
};

class PicturedRowHeader : public QHeaderView
{
public:
    explicit PicturedRowHeader(QWidget* parent) : QHeaderView(Qt::Vertical, parent)
    {
        // As the header a table makes for itself.
        setSectionsClickable(true);
        setHighlightSections(true);
        // The header is as wide as its widest number, so no number is ever
        // cut; measuring each one for cutting on every painting cost as much
        // as drawing it.
        setTextElideMode(Qt::ElideNone);
        setStyle(new PictureStyle(this));
    }

protected:
    QSize sectionSizeFromContents(int logicalIndex) const override
    {
        const auto data = [this, logicalIndex](int role) {
            return model()->headerData(logicalIndex, orientation(), role);
        };
        // A section with a size, font or icon of its own is measured as Qt does.
        if (data(Qt::SizeHintRole).isValid() || data(Qt::FontRole).isValid() ||
            data(Qt::DecorationRole).isValid())
            return QHeaderView::sectionSizeFromContents(logicalIndex);
        const QPair<QString, bool> title(data(Qt::DisplayRole).toString(), isSortIndicatorShown());
        auto found = sizes.constFind(title);
        if (found == sizes.cend())
            found = sizes.insert(title, QHeaderView::sectionSizeFromContents(logicalIndex));
        return *found;
    }

    // Never narrower than it was: emptied after each sale, the header went
    // to nothing, and the sale's first and tenth lines widened it again,
    // moved the whole table and had all of it painted again.
    QSize sizeHint() const override
    {
        const QSize hint = QHeaderView::sizeHint();
        widest = qMax(widest, hint.width());
        return QSize(widest, hint.height());
    }

    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
            sizes.clear();
            widest = 0;
        }
        QHeaderView::changeEvent(event);
    }

private:
    mutable QHash<QPair<QString, bool>, QSize> sizes;
    mutable int widest = 0;
};
} // namespace

void KeepBoxPicture(QWidget* box)
{
    new PaintedFromPicture(box);
}

void KeepTextPictures(QLabel* label)
{
    label->setStyle(new PictureStyle(label, true));
}

void KeepFramePictures(QLineEdit* field)
{
    field->setStyle(new PictureStyle(field));
}

void KeepHeaderPictures(QTableView* view)
{
    view->setVerticalHeader(new PicturedRowHeader(view));
    QHeaderView* columns = view->horizontalHeader();
    columns->setStyle(new PictureStyle(columns));
}

} // namespace StylePictures
