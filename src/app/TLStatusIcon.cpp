#include "TLStatusIcon.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

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

QIcon TLStatusIcon::icon(Panel panel) {
    QIcon result;
    for (int size : kSizes) {
        const QImage image = draw(size, panel);
        if (image.isNull()) {
            return {};
        }
        result.addPixmap(QPixmap::fromImage(image));
    }
    return result;
}

QIcon TLStatusIcon::fallbackIcon(Panel panel) {
    QIcon result;
    for (int size : kSizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        QFont font = painter.font();
        font.setPixelSize(size);
        painter.setFont(font);
        painter.setPen(inkColor(panel));
        painter.drawText(pixmap.rect(), Qt::AlignCenter, QString::fromUtf16(kFallbackTitle));
        painter.end();
        result.addPixmap(pixmap);
    }
    return result;
}

QIcon TLStatusIcon::trayIcon(Panel panel) {
    QIcon symbol = icon(panel);
    return symbol.isNull() ? fallbackIcon(panel) : symbol;
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
    QIcon result;
    for (int size : kSizes) {
        const QImage image = drawApplicationIcon(size);
        if (!image.isNull()) {
            result.addPixmap(QPixmap::fromImage(image));
        }
    }
    return result;
}
