#include "windows/WindowPlacement.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace WindowPlacement {

QRectF initialFrame(const QVariantMap& record, QSizeF size, const QList<QRectF>& visibleFrames,
                    std::optional<QRectF> mainVisibleFrame, std::optional<QRectF> anchor) {
    if (record.value(u"pinned"_s).toBool() && record.contains(u"x"_s) && record.contains(u"y"_s)) {
        const QPointF origin(record.value(u"x"_s).toDouble(), record.value(u"y"_s).toDouble());
        const QPointF probe = origin + QPointF(20, 20);
        if (std::any_of(visibleFrames.cbegin(), visibleFrames.cend(),
                        [&](const QRectF& frame) { return frame.contains(probe); }))
            return {origin, size};
    }
    if (anchor) return {anchor->topLeft(), size};
    if (!mainVisibleFrame) return {QPointF(0, 0), size};
    return {QPointF(mainVisibleFrame->right() - size.width() - 12, mainVisibleFrame->top() + 6), size};
}

QRectF resized(QRectF frame, QSizeF size, QRectF visible) {
    const QSizeF fitted(std::min(size.width(), visible.width()), std::min(size.height(), visible.height()));
    double top = frame.top();
    if (top + fitted.height() > visible.bottom()) top = visible.bottom() - fitted.height();
    top = std::max(top, visible.top());
    double left = frame.left();
    if (left + fitted.width() > visible.right()) left = visible.right() - fitted.width();
    left = std::max(left, visible.left());
    return {QPointF(left, top), fitted};
}

std::optional<QSize> displaySize(QSizeF videoArea, double scale) {
    const int width = int(videoArea.width() * scale) & ~7;
    const int height = int(videoArea.height() * scale) & ~7;
    if (width < 101 || height < 101) return std::nullopt;
    return QSize(width, height);
}

} // namespace WindowPlacement
