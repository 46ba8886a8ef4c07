#include "DBGridIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

QIcon rowMarkIcon(RowMark mark)
{
    static const QIcon icons[] = {
        [] {
            QPixmap pixmap(10, 12);
            pixmap.fill(Qt::transparent);
            QPainter p(&pixmap);
            p.setRenderHint(QPainter::Antialiasing);
            QPainterPath arrow;
            arrow.moveTo(2, 2);
            arrow.lineTo(8, 6);
            arrow.lineTo(2, 10);
            arrow.closeSubpath();
            p.fillPath(arrow, Qt::black);
            return QIcon(pixmap);
        }(),
        [] {
            QPixmap pixmap(10, 12);
            pixmap.fill(Qt::transparent);
            QPainter p(&pixmap);
            p.setPen(QPen(Qt::black, 1.4)); // a text cursor: the record is being changed
            p.drawLine(QPointF(5, 1), QPointF(5, 11));
            p.drawLine(QPointF(3, 1), QPointF(7, 1));
            p.drawLine(QPointF(3, 11), QPointF(7, 11));
            return QIcon(pixmap);
        }(),
        [] {
            QPixmap pixmap(10, 12);
            pixmap.fill(Qt::transparent);
            QPainter p(&pixmap);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(Qt::black, 1.4)); // an asterisk: a new record
            p.drawLine(QPointF(5, 2), QPointF(5, 10));
            p.drawLine(QPointF(1.5, 4), QPointF(8.5, 8));
            p.drawLine(QPointF(1.5, 8), QPointF(8.5, 4));
            return QIcon(pixmap);
        }(),
    };
    return icons[static_cast<int>(mark)];
}
