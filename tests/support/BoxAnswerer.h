#pragma once
// For widget tests: answers the message boxes (TMessageForm) that come up, keeping their texts, and
// ends modal loops that hang. For programs that link the common library and Qt Widgets.
#include "common/ssDlgExtW.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
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

// Ends a modal loop that nothing else ended within Ms milliseconds, as a failure instead of a hang.
class ModalGuard
{
public:
    explicit ModalGuard(int Ms = 30000)
    {
        FTimer.setSingleShot(true);
        QObject::connect(&FTimer, &QTimer::timeout, [] {
            QWidget *modal = QApplication::activeModalWidget();
            ADD_FAILURE() << "a modal show did not end: "
                          << (modal ? modal->metaObject()->className() : "none");
            if (auto *d = qobject_cast<QDialog *>(modal))
                d->done(QDialog::Rejected);
        });
        FTimer.start(Ms);
    }

private:
    QTimer FTimer;
};

} // namespace support
