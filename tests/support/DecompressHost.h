#pragma once
// A stand-in of the main window for DecompressReport, with the real wait window: it owns the wait
// windows it makes, sets its failure flag on WM_DECOMPRESS_ERROR, and notes the order in which that
// message and the wait windows' close messages arrive. For programs that link the viewer library.
#include "platform/Messages.h"
#include "report/uExtraFunctions.h"
#include "viewer/ufWaitForm.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <string>
#include <vector>

namespace support {

class DecompressHost : public QWidget, public TDecompressHost
{
public:
    int decompressFailed = 0;
    std::vector<QPointer<TWaitForm>> WaitForms; // made by CreateDecompressWaitForm, in order
    std::vector<QString> WaitTexts;
    std::vector<std::string> Messages; // "error", "close" as they arrived

    QObject *MainHandle() override { return this; }
    int GetDecompressFailed() const override { return decompressFailed; }
    void SetDecompressFailed(int Value) override { decompressFailed = Value; }
    QObject *CreateDecompressWaitForm(const QString &Text) override
    {
        auto *form = new TWaitForm(this, Text);
        form->installEventFilter(&FCloseSpy);
        WaitForms.emplace_back(form);
        WaitTexts.push_back(Text);
        return form;
    }
    void ShowDecompressWaitForm(QObject *WaitForm) override
    {
        qobject_cast<TWaitForm *>(WaitForm)->WMShowModal();
    }

protected:
    bool event(QEvent *e) override
    {
        if (TMessageEvent *msg = TMessageEvent::From(e); msg && msg->Msg == WM_DECOMPRESS_ERROR) {
            decompressFailed = 1;
            Messages.emplace_back("error");
            return true;
        }
        return QWidget::event(e);
    }

private:
    class CloseSpy : public QObject
    {
    public:
        explicit CloseSpy(DecompressHost *Host) : FHost(Host) {}

    protected:
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (TMessageEvent *msg = TMessageEvent::From(e); msg && msg->Msg == WM_WAITFORM_CLOSE)
                FHost->Messages.emplace_back("close");
            return false;
        }

    private:
        DecompressHost *FHost;
    };
    CloseSpy FCloseSpy{this};
};

} // namespace support
