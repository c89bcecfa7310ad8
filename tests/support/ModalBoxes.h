// Answers the modal boxes a widget test meets: runs on a timer, so it works
// inside the boxes' own event loops.
#pragma once

#include <QString>
#include <QTimer>

#include <functional>
#include <ostream>
#include <vector>

class QWidget;

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace tests::support {

// One box as the user saw it.
struct SeenBox {
    QString title;
    QString text;
};

// While it lives, presses the first button of every message box that comes
// up and remembers its caption and text. Another modal dialog goes to
// OnOtherModal when set (which must close it); else its labels are kept as
// the text and it is cancelled. BeforeAnswer, when set, sees every modal
// window first; it may wait for the window to reach the screen.
class ModalBoxAnswerer {
public:
    ModalBoxAnswerer();
    ~ModalBoxAnswerer();
    ModalBoxAnswerer(const ModalBoxAnswerer&) = delete;
    ModalBoxAnswerer& operator=(const ModalBoxAnswerer&) = delete;

    const std::vector<SeenBox>& Boxes() const { return boxes_; }
    // Texts only, for compact assertions.
    std::vector<QString> Texts() const;
    void Clear() { boxes_.clear(); }

    std::function<void(QWidget*)> OnOtherModal;
    std::function<void(QWidget*)> BeforeAnswer;

private:
    void Poll();
    QTimer timer_;
    std::vector<SeenBox> boxes_;
    // Set while BeforeAnswer runs: it may run the event loop, and with it
    // this timer, which must not answer the same window a second time.
    bool answering_ = false;
};

} // namespace tests::support
