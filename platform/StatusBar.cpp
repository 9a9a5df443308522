#include "platform/StatusBar.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

TStatusBar::TStatusBar(QWidget *Parent) : QWidget(Parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

int TStatusBar::AddPanel(int Width, bool OwnerDraw)
{
    FPanels.push_back(TStatusPanel{Width, QString(), OwnerDraw});
    update();
    return PanelCount() - 1;
}

void TStatusBar::SetPanelText(int i, const QString &Text)
{
    FPanels.at(static_cast<size_t>(i)).Text = Text;
    update();
}

QRect TStatusBar::PanelRect(int i) const
{
    int left = 0;
    for (int k = 0; k < i; ++k)
        left += FPanels.at(static_cast<size_t>(k)).Width;
    const int own = FPanels.at(static_cast<size_t>(i)).Width;
    const int w = i == PanelCount() - 1 ? qMax(width() - left, own) : own;
    return QRect(left, 0, w, height());
}

QSize TStatusBar::sizeHint() const
{
    return QSize(200, fontMetrics().height() + 6);
}

void TStatusBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    for (int i = 0; i < PanelCount(); ++i) {
        const QRect r = PanelRect(i);
        if (r.left() >= width())
            break;
        // A sunken line between panels, as status bars draw them.
        if (i > 0) {
            painter.setPen(palette().color(QPalette::Mid));
            painter.drawLine(r.left(), r.top() + 2, r.left(), r.bottom() - 2);
        }
        const TStatusPanel &panel = FPanels[static_cast<size_t>(i)];
        if (panel.OwnerDraw) {
            if (OnDrawPanel) {
                painter.save();
                OnDrawPanel(this, i, &painter, r);
                painter.restore();
            }
        } else if (!panel.Text.isEmpty()) {
            painter.setPen(palette().color(QPalette::WindowText));
            painter.drawText(r.adjusted(4, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft, panel.Text);
        }
    }
}
