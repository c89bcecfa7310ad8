// Small pieces shared by the transfer window and the next-step dialog: the
// progress gauge, the window font, and name lookups that ignore case.
#pragma once

#include "transfer/flow/TransferTexts.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QProgressBar>
#include <QString>

class QLabel;

namespace transfer::gui {

inline QColor ToQColor(transfer::flow::Rgb c) { return QColor(c.Red, c.Green, c.Blue); }

// The colours of the transfer window's lines and the next-step dialog, as
// the flow names them.
inline const QColor kGreen = ToQColor(transfer::flow::kGreen);
inline const QColor kBlue = ToQColor(transfer::flow::kBlue);
inline const QColor kRed = ToQColor(transfer::flow::kRed);
inline const QColor kBlack = ToQColor(transfer::flow::kBlack);

// A horizontal gauge that draws its own bar and prints the whole percentage
// done, rounded down, in the bar. An empty range (maximum equal to minimum)
// shows 0 % instead of the busy animation a plain progress bar would run.
class TGauge : public QProgressBar {
    Q_OBJECT
public:
    explicit TGauge(QWidget* parent = nullptr);

    QColor ForeColor = Qt::black;
    QColor BackColor = Qt::white;

    // Percentage of the range done, 0..100, rounded down.
    int PercentDone() const;
    QString text() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The windows' font: the classic 8-point dialog face where it exists, a
// similar sans face elsewhere, at the given pixel height.
QFont WindowFont(int pixelSize, bool bold = false);

// One of the program's built-in PNG pictures as an icon, read by Qt's own
// PNG reader when it is first drawn or measured. A plain QIcon(file) reads
// it at once and loads every image plugin to guess its format: a cost felt
// in a short run's start, which may end before anything is drawn.
QIcon BuiltInPngIcon(const QString& resource);

// Sets the label's text colour.
void SetLabelColour(QLabel* label, const QColor& colour);

// The path of the entry in the Qt resource folder `folder` (":/gif") whose
// base name equals `name` ignoring case; empty when there is none.
QString FindResourceIgnoringCase(const QString& folder, const QString& name);

// The path of the file `fileName` in directory `dir`, preferring the exact
// name and falling back to a name that differs only in the case of ASCII
// letters, as Windows finds it (platform::files::FindFileIgnoringCase);
// empty when there is no such file.
QString FindFileIgnoringCase(const QString& dir, const QString& fileName);

} // namespace transfer::gui
