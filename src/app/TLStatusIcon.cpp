#include "TLStatusIcon.h"

#include <QFont>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

constexpr int kSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// Draws each size when it is asked for, and keeps what it drew.
class TLDrawnIconEngine final : public QIconEngine {
public:
    using Draw = QImage (*)(int size, TLStatusIcon::Panel panel);

    TLDrawnIconEngine(Draw draw, TLStatusIcon::Panel panel) : draw_(draw), panel_(panel) {}

    QIconEngine* clone() const override { return new TLDrawnIconEngine(*this); }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        QList<QSize> sizes;
        for (int size : kSizes) {
            sizes.append(QSize(size, size));
        }
        return sizes;
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min(size.width(), size.height());
        return {side, side};
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min(size.width(), size.height());
        if (side <= 0) {
            return {};
        }
        QPixmap& cached = drawn_[side];
        if (cached.isNull()) {
            cached = QPixmap::fromImage(draw_(side, panel_));
        }
        return cached;
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const QPixmap drawn = pixmap(rect.size() * ratio, mode, state);
        const QSize shown = drawn.size() / ratio;
        painter->drawPixmap(QRect(rect.center() - QPoint(shown.width() / 2, shown.height() / 2), shown),
                            drawn);
    }

private:
    Draw draw_;
    TLStatusIcon::Panel panel_;
    std::map<int, QPixmap> drawn_;
};

QImage symbolOrGlyph(int size, TLStatusIcon::Panel panel) {
    QImage image = TLStatusIcon::draw(size, panel);
    if (!image.isNull() || size <= 0) {
        return image;
    }
    // The title glyph stands in for a symbol that cannot be drawn.
    image = QImage(size, size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        return image;
    }
    image.fill(Qt::transparent);
    QPainter painter(&image);
    QFont font = painter.font();
    font.setPixelSize(size);
    painter.setFont(font);
    painter.setPen(TLStatusIcon::inkColor(panel));
    painter.drawText(image.rect(), Qt::AlignCenter, QString::fromUtf16(TLStatusIcon::kFallbackTitle));
    return image;
}

QImage applicationIconImage(int size, TLStatusIcon::Panel) {
    return TLStatusIcon::drawApplicationIcon(size);
}

} // namespace

QColor TLStatusIcon::inkColor(Panel panel) {
    return panel == Panel::Dark ? QColor(0xf2, 0xf2, 0xf2) : QColor(0x1e, 0x1e, 0x1e);
}

QImage TLStatusIcon::draw(int size, Panel panel) {
    if (size < 8) {
        return {};
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        return {};
    }
    image.fill(Qt::transparent);

    // An outer frame in the proportions of a wide window, split into three equal columns; the
    // middle column is filled so the symbol still reads as "thirds" at 16 pixels.
    const int stroke = std::max(1, static_cast<int>(std::lround(size / 11.0)));
    const int gap = std::max(1, static_cast<int>(std::lround(size / 16.0)));
    const int width = size - 2 * gap;
    const int height = static_cast<int>(std::lround(width * 0.7));
    const int left = gap;
    const int top = (size - height) / 2;
    const int column = (width - 2 * gap) / 3;

    auto shape = [&](QPainter& painter, const QColor& color, int dx, int dy) {
        for (int i = 0; i < 3; ++i) {
            const QRect cell(left + i * (column + gap) + dx, top + dy, column, height);
            if (i == 1) {
                painter.fillRect(cell, color);
                continue;
            }
            painter.fillRect(QRect(cell.left(), cell.top(), cell.width(), stroke), color);
            painter.fillRect(QRect(cell.left(), cell.bottom() - stroke + 1, cell.width(), stroke), color);
            painter.fillRect(QRect(cell.left(), cell.top(), stroke, cell.height()), color);
            painter.fillRect(QRect(cell.right() - stroke + 1, cell.top(), stroke, cell.height()), color);
        }
    };

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    // A faint halo in the opposite shade keeps the symbol visible when the guess about the
    // panel's shade is wrong.
    const QColor halo = inkColor(panel == Panel::Dark ? Panel::Light : Panel::Dark);
    QColor haloColor = halo;
    haloColor.setAlpha(110);
    for (int dx = -1; dx <= 1; ++dx) {
        for (int dy = -1; dy <= 1; ++dy) {
            if (dx != 0 || dy != 0) {
                shape(painter, haloColor, dx, dy);
            }
        }
    }
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    shape(painter, inkColor(panel), 0, 0);
    painter.end();
    return image;
}

QIcon TLStatusIcon::trayIcon(Panel panel) {
    return QIcon(new TLDrawnIconEngine(&symbolOrGlyph, panel));
}

QImage TLStatusIcon::drawApplicationIcon(int size) {
    if (size < 16) {
        return {};
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2b, 0x5c, 0xa8));
    const qreal radius = size * 0.18;
    painter.drawRoundedRect(QRectF(0, 0, size, size), radius, radius);
    const int inner = size * 3 / 4;
    const int offset = (size - inner) / 2;
    painter.drawImage(QPoint(offset, offset), draw(inner, Panel::Dark));
    painter.end();
    return image;
}

QIcon TLStatusIcon::applicationIcon() {
    return QIcon(new TLDrawnIconEngine(&applicationIconImage, Panel::Dark));
}
