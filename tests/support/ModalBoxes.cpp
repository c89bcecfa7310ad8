#include "tests/support/ModalBoxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>

namespace tests::support {

ModalBoxAnswerer::ModalBoxAnswerer() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
}

ModalBoxAnswerer::~ModalBoxAnswerer() { timer_.stop(); }

std::vector<QString> ModalBoxAnswerer::Texts() const {
    std::vector<QString> out;
    for (const SeenBox& b : boxes_)
        out.push_back(b.text);
    return out;
}

void ModalBoxAnswerer::Poll() {
    if (answering_)
        return;
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible())
        return;
    if (BeforeAnswer) {
        answering_ = true;
        BeforeAnswer(modal);
        answering_ = false;
    }
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        boxes_.push_back({box->windowTitle(), box->text()});
        const auto buttons = box->buttons();
        if (!buttons.isEmpty())
            buttons.first()->click();
        else
            box->done(0);
        return;
    }
    if (OnOtherModal) {
        OnOtherModal(modal);
        return;
    }
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        QString text;
        for (QLabel* l : dialog->findChildren<QLabel*>())
            text += l->text() + QLatin1Char('\n');
        boxes_.push_back({dialog->windowTitle(), text});
        dialog->reject();
    }
}

} // namespace tests::support
