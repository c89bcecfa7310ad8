// The next-step dialog. It only records the user's choice; the version
// check acts on it and shows the dialog again after the changes were shown.
#include "transfer/gui/FormDownloadSet.h"

#include "transfer/gui/TransferWidgets.h"

#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

QPointer<TFormDownloadSet> FormDownloadSet;

namespace {

// The dialog's texts come from the flow, side by side with the transfer
// window's.
namespace text {
const QString kCaption = QString::fromUtf8(transfer::flow::texts::kNextStepCaption);
const QString kPopis = QString::fromUtf8(transfer::flow::texts::kNextStepPopis);
const QString kSpacer = QString::fromUtf8(transfer::flow::texts::kNextStepSpacer);
const QString kChanges = QString::fromUtf8(transfer::flow::texts::kNextStepChanges);
const QString kLoad = QString::fromUtf8(transfer::flow::texts::kNextStepLoad);
const QString kCancel = QString::fromUtf8(transfer::flow::texts::kNextStepCancel);
const QString kHtml = QString::fromUtf8(transfer::flow::texts::kNextStepHtml);
const QString kPdf = QString::fromUtf8(transfer::flow::texts::kNextStepPdf);
} // namespace text

// The dialog's designed outer size is 562 x 230; the client area is that
// less a single fixed frame and the title bar.
constexpr int kClientWidth = 554;
constexpr int kClientHeight = 196;
constexpr int kDesignedLeft = 423;
constexpr int kDesignedTop = 269;

QLabel* TopLabel(QWidget* parent, const char* name, int top, int height, const QString& caption) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(0, top, kClientWidth, height);
    l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    return l;
}

QPushButton* GlyphButton(QWidget* parent, const char* name, const QString& caption, const QString& glyph, int glyphSide,
    const QRect& place) {
    auto* b = new QPushButton(transfer::gui::BuiltInPngIcon(glyph), caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setIconSize(QSize(glyphSide, glyphSide));
    b->setGeometry(place);
    // No button is the dialog's default, and none may become it: a dialog
    // makes its first auto-default button the default when it is shown,
    // and Enter on a radio button would then show the change notes.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

} // namespace

TFormDownloadSet::TFormDownloadSet(QWidget* parent) : QDialog(parent) {
    using transfer::gui::WindowFont;

    // No title-bar buttons. Kept above the always-on-top transfer window,
    // which it would otherwise open behind.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
    setWindowTitle(text::kCaption);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(WindowFont(11));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setAutoFillBackground(true);
    move(kDesignedLeft, kDesignedTop);

    LabelSetTopDiv = TopLabel(this, "LabelSetTopDiv", 0, 13, QString());
    LabelSetPopis = TopLabel(this, "LabelSetPopis", 13, 20, text::kPopis);
    LabelSetPopis->setFont(WindowFont(16, true));
    transfer::gui::SetLabelColour(LabelSetPopis, palette().color(QPalette::Highlight));
    Label1 = TopLabel(this, "Label1", 33, 13, text::kSpacer);
    LabelSetVers = TopLabel(this, "LabelSetVers", 46, 20, QString());
    LabelSetVers->setFont(WindowFont(16, true));
    transfer::gui::SetLabelColour(LabelSetVers, transfer::gui::ToQColor(transfer::flow::kNextStepVersionColour));
    LabelSetVers->setAutoFillBackground(true);
    {
        QPalette p = LabelSetVers->palette();
        p.setColor(QPalette::Window, palette().color(QPalette::Button));
        LabelSetVers->setPalette(p);
    }
    // Version texts come from the server: never interpret them as markup.
    LabelSetVers->setTextFormat(Qt::PlainText);

    BitBtnChanges = GlyphButton(
        this, "BitBtnChanges", text::kChanges, QStringLiteral(":/glyphs/note.png"), 20, QRect(152, 80, 249, 25));
    BitBtnLoad = GlyphButton(
        this, "BitBtnLoad", text::kLoad, QStringLiteral(":/glyphs/arrow_down.png"), 20, QRect(152, 112, 249, 25));
    BitBtnCancel = GlyphButton(
        this, "BitBtnCancel", text::kCancel, QStringLiteral(":/glyphs/cross.png"), 18, QRect(240, 152, 81, 25));

    RadioButtonHtml = new QRadioButton(text::kHtml, this);
    RadioButtonHtml->setObjectName(QStringLiteral("RadioButtonHtml"));
    RadioButtonHtml->setGeometry(408, 78, 49, 17);
    RadioButtonPdf = new QRadioButton(text::kPdf, this);
    RadioButtonPdf->setObjectName(QStringLiteral("RadioButtonPdf"));
    RadioButtonPdf->setGeometry(408, 90, 49, 17);

    setTabOrder(BitBtnChanges, BitBtnLoad);
    setTabOrder(BitBtnLoad, BitBtnCancel);
    setTabOrder(BitBtnCancel, RadioButtonHtml);
    setTabOrder(RadioButtonHtml, RadioButtonPdf);

    connect(BitBtnChanges, &QPushButton::clicked, this, [this] {
        BitBtnChangesClick();
        accept();
    });
    connect(BitBtnLoad, &QPushButton::clicked, this, [this] {
        BitBtnLoadClick();
        accept();
    });
    connect(BitBtnCancel, &QPushButton::clicked, this, [this] {
        BitBtnCancelClick();
        reject();
    });
    connect(RadioButtonHtml, &QRadioButton::clicked, this, [this] { RadioButtonHtmlClick(); });
    connect(RadioButtonPdf, &QRadioButton::clicked, this, [this] { RadioButtonPdfClick(); });

    FormCreate();
}

void TFormDownloadSet::FormCreate() {
    ChangesChosen = false;
    LoadChosen = false;
    RadioButtonHtml->setChecked(true);
    RadioButtonPdf->setChecked(false);
}

void TFormDownloadSet::SetNewVersionText(const QString& text) { LabelSetVers->setText(text); }

void TFormDownloadSet::GetChoice(bool& showChanges, bool& download, bool& pdf) const {
    showChanges = ChangesChosen;
    download = LoadChosen;
    pdf = RadioButtonPdf->isChecked();
}

void TFormDownloadSet::BitBtnChangesClick() {
    ChangesChosen = true;
    LoadChosen = false;
}

void TFormDownloadSet::BitBtnLoadClick() {
    ChangesChosen = false;
    LoadChosen = true;
}

void TFormDownloadSet::BitBtnCancelClick() {
    ChangesChosen = false;
    LoadChosen = false;
}

void TFormDownloadSet::RadioButtonHtmlClick() {
    RadioButtonHtml->setChecked(true);
    RadioButtonPdf->setChecked(false);
}

void TFormDownloadSet::RadioButtonPdfClick() {
    RadioButtonHtml->setChecked(false);
    RadioButtonPdf->setChecked(true);
}

void TFormDownloadSet::done(int result) {
    // Left by Esc or by the window manager rather than by a button: report
    // no choice, so an earlier showing's flags cannot leak into this one.
    if (result != QDialog::Accepted) {
        ChangesChosen = false;
        LoadChosen = false;
    }
    QDialog::done(result);
}
