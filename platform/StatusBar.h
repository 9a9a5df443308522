#pragma once
// A status bar of fixed-width panels, each showing a text or, when owner-drawn, whatever its drawing
// event paints. The last panel also takes what is left of the bar's width.
#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

class QPainter;

struct TStatusPanel
{
    int Width = 50;
    QString Text;
    bool OwnerDraw = false; // drawn by OnDrawPanel only
};

class TStatusBar : public QWidget
{
public:
    explicit TStatusBar(QWidget *Parent = nullptr);

    // Appends a panel and returns its index.
    int AddPanel(int Width, bool OwnerDraw = false);
    int PanelCount() const { return static_cast<int>(FPanels.size()); }
    // Panel i; i must be 0..PanelCount()-1.
    const TStatusPanel &Panel(int i) const { return FPanels.at(static_cast<size_t>(i)); }
    void SetPanelText(int i, const QString &Text);
    // Where panel i lies in the bar (the last one reaches to the bar's right edge).
    QRect PanelRect(int i) const;

    // Paints an owner-drawn panel, after the bar has drawn its background; Rect is the panel's area.
    std::function<void(TStatusBar *Sender, int Panel, QPainter *Canvas, const QRect &Rect)> OnDrawPanel;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *e) override;

private:
    std::vector<TStatusPanel> FPanels;
};
