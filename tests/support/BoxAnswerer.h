#pragma once
// For widget tests: answers the message boxes (TMessageForm) that come up, keeping their texts, and
// ends modal loops that hang. For programs that link the common library and Qt Widgets.
#include "common/ssDlgExtW.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <gtest/gtest.h>

namespace support {

// Presses the button named Press (OK unless set; a box without it is closed as cancelled) of every
// message box that shows up and keeps its text; fails the test for a box when Expected is false.
class BoxAnswerer
{
public:
    explicit BoxAnswerer(bool Expected = true) : FExpected(Expected)
    {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            auto *form = qobject_cast<TMessageForm *>(QApplication::activeModalWidget());
            if (!form || !form->isVisible())
                return;
            if (!FExpected)
                ADD_FAILURE() << "unexpected message box";
            auto *label = form->findChild<QLabel *>(QStringLiteral("Message"));
            Texts.append(label ? label->text() : QString());
            if (auto *button = form->findChild<QPushButton *>(Press))
                button->click();
            else
                form->done(mrCancel);
        });
        FTimer.start(5);
    }
    QStringList Texts;
    QString Press = QStringLiteral("mbOK");

private:
    bool FExpected;
    QTimer FTimer;
};

// Ends a modal show that nothing else ended within Ms milliseconds of its start, as a failure instead
// of a hang. It times each show, not the test: a test that is slow as a whole (a loaded machine) still
// passes as long as every one of its modal shows ends.
class ModalGuard : public QObject
{
public:
    explicit ModalGuard(int Ms = 30000) : FMs(Ms)
    {
        QObject::connect(&FTimer, &QTimer::timeout, this, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (modal != FModal) {
                // A new show. The same dialog shown again in between has ended its show before.
                FModal = modal;
                Restart();
                if (auto *d = qobject_cast<QDialog *>(modal))
                    QObject::connect(d, &QDialog::finished, this, &ModalGuard::Restart, Qt::UniqueConnection);
            } else if (modal && FSince.elapsed() >= FMs) {
                ADD_FAILURE() << "a modal show did not end: " << modal->metaObject()->className();
                if (auto *d = qobject_cast<QDialog *>(modal))
                    d->done(QDialog::Rejected);
            }
        });
        FTimer.start(100);
    }

private:
    void Restart() { FSince.start(); }

    int FMs;
    QPointer<QWidget> FModal;
    QElapsedTimer FSince;
    QTimer FTimer;
};

} // namespace support
