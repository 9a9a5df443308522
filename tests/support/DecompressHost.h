#pragma once
// A stand-in of the main window for DecompressReport: its wait windows are plain objects whose modal
// show is an event loop that their close message ends. It sets its failure flag on
// WM_DECOMPRESS_ERROR and notes the order in which that message and the close messages arrive.
#include "platform/Messages.h"
#include "report/uExtraFunctions.h"

#include <QEventLoop>
#include <QObject>
#include <QString>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace support {

class DecompressHost : public QObject, public TDecompressHost
{
public:
    int decompressFailed = 0;
    std::vector<std::string> Messages; // "error", "close" as they arrived
    int WaitForms = 0;
    // Runs once the worker has been started, before the modal show (another unpacking, say).
    std::function<void()> BeforeShow;

    QObject *MainHandle() override { return this; }
    int GetDecompressFailed() const override { return decompressFailed; }
    void SetDecompressFailed(int Value) override { decompressFailed = Value; }
    QObject *CreateDecompressWaitForm(const QString &) override
    {
        ++WaitForms;
        return new Wait(this);
    }
    void ShowDecompressWaitForm(QObject *WaitForm) override
    {
        if (auto before = std::exchange(BeforeShow, nullptr))
            before();
        auto *wait = static_cast<Wait *>(WaitForm);
        if (!wait->Closed)
            wait->Loop.exec();
        delete wait;
    }

protected:
    bool event(QEvent *e) override
    {
        if (TMessageEvent *msg = TMessageEvent::From(e); msg && msg->Msg == WM_DECOMPRESS_ERROR) {
            decompressFailed = 1;
            Messages.emplace_back("error");
            return true;
        }
        return QObject::event(e);
    }

private:
    struct Wait : QObject
    {
        explicit Wait(DecompressHost *Host) : FHost(Host) {}
        bool event(QEvent *e) override
        {
            if (TMessageEvent *msg = TMessageEvent::From(e); msg && msg->Msg == WM_WAITFORM_CLOSE) {
                FHost->Messages.emplace_back("close");
                Closed = true;
                Loop.quit();
                return true;
            }
            return QObject::event(e);
        }
        DecompressHost *FHost;
        bool Closed = false;
        QEventLoop Loop;
    };
};

} // namespace support
