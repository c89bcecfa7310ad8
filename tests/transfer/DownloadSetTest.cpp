// The next-step dialog shown modally, answered the way a user answers it.
#include "transfer/gui/FormDownloadSet.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// Runs `action` on the dialog once it is the active modal window, then
// shows it modally and returns the modal result.
int ExecAnd(TFormDownloadSet& dialog, std::function<void()> action) {
    bool acted = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!acted && dialog.isVisible()) {
            acted = true;
            action();
        }
    });
    poll.start();
    const int result = dialog.exec();
    EXPECT_TRUE(acted);
    return result;
}

struct Choice {
    bool show = false, download = false, pdf = false;
};

Choice ChoiceOf(const TFormDownloadSet& d) {
    Choice c;
    d.GetChoice(c.show, c.download, c.pdf);
    return c;
}

TEST(DownloadSet, LayoutAndTexts) {
    TFormDownloadSet d;
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Nastavení dalšího postupu"));
    EXPECT_EQ(d.LabelSetPopis->text(), QStringLiteral("Na internetu je dostupná nová verze programu"));
    EXPECT_EQ(d.Label1->text(), QStringLiteral(" "));
    EXPECT_TRUE(d.LabelSetTopDiv->text().isEmpty());
    EXPECT_EQ(d.BitBtnChanges->text(), QStringLiteral("          1. Zobrazit změny ve verzích"));
    EXPECT_EQ(d.BitBtnLoad->text(), QStringLiteral("          2. Stahnout novou verzi       ."));
    EXPECT_EQ(d.BitBtnCancel->text(), QStringLiteral("Storno"));
    EXPECT_EQ(d.RadioButtonHtml->text(), QStringLiteral("html"));
    EXPECT_EQ(d.RadioButtonPdf->text(), QStringLiteral("pdf"));
    EXPECT_EQ(d.BitBtnChanges->geometry(), QRect(152, 80, 249, 25));
    EXPECT_EQ(d.BitBtnLoad->geometry(), QRect(152, 112, 249, 25));
    EXPECT_EQ(d.BitBtnCancel->geometry(), QRect(240, 152, 81, 25));
    EXPECT_EQ(d.RadioButtonHtml->geometry(), QRect(408, 78, 49, 17));
    EXPECT_EQ(d.RadioButtonPdf->geometry(), QRect(408, 90, 49, 17));
    EXPECT_EQ(d.BitBtnChanges->iconSize(), QSize(20, 20));
    EXPECT_EQ(d.BitBtnLoad->iconSize(), QSize(20, 20));
    EXPECT_EQ(d.BitBtnCancel->iconSize(), QSize(18, 18));
    for (QPushButton* b : {d.BitBtnChanges, d.BitBtnLoad, d.BitBtnCancel}) {
        EXPECT_FALSE(b->icon().isNull());
        EXPECT_FALSE(b->isDefault());
    }
    EXPECT_TRUE(d.LabelSetPopis->font().bold());
    EXPECT_EQ(d.LabelSetPopis->font().pixelSize(), 16);
    EXPECT_EQ(d.LabelSetVers->font().pixelSize(), 16);
    EXPECT_EQ(d.LabelSetVers->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    const Qt::WindowFlags f = d.windowFlags();
    EXPECT_FALSE(f.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(f.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_EQ(d.minimumSize(), d.maximumSize());
}

TEST(DownloadSet, VersionLabelShowsTheTextUnchanged) {
    TFormDownloadSet d;
    for (const QString& t : {QStringLiteral("5.23"), QStringLiteral(" 6.0 beta "), QStringLiteral("<b>7</b>")}) {
        d.SetNewVersionText(t);
        EXPECT_EQ(d.LabelSetVers->text(), t);
    }
    EXPECT_EQ(d.LabelSetVers->textFormat(), Qt::PlainText);
}

TEST(DownloadSet, HtmlSelectedAtFirstShowing) {
    TFormDownloadSet d;
    EXPECT_TRUE(d.RadioButtonHtml->isChecked());
    EXPECT_FALSE(d.RadioButtonPdf->isChecked());
    EXPECT_FALSE(d.ChangesChosen);
    EXPECT_FALSE(d.LoadChosen);
}

struct ButtonCase {
    const char* name;
    bool pickPdf;
    int result;
    bool show, download, pdf;
};

class DownloadSetButtons : public ::testing::TestWithParam<ButtonCase> {};

TEST_P(DownloadSetButtons, EachButtonReportsItsChoice) {
    const ButtonCase& c = GetParam();
    TFormDownloadSet d;
    d.SetNewVersionText(QStringLiteral("5.23"));
    // Start from the opposite flags so every one of them must be written.
    d.ChangesChosen = !c.show;
    d.LoadChosen = !c.download;
    const int result = ExecAnd(d, [&] {
        if (c.pickPdf)
            QTest::mouseClick(d.RadioButtonPdf, Qt::LeftButton);
        QTest::mouseClick(d.findChild<QPushButton*>(QString::fromLatin1(c.name)), Qt::LeftButton);
    });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(d.ChangesChosen, c.show);
    EXPECT_EQ(d.LoadChosen, c.download);
    if (result == QDialog::Accepted) {
        const Choice got = ChoiceOf(d);
        EXPECT_EQ(got.show, c.show);
        EXPECT_EQ(got.download, c.download);
        EXPECT_EQ(got.pdf, c.pdf);
    }
    EXPECT_FALSE(d.isVisible());
}

INSTANTIATE_TEST_SUITE_P(Choices, DownloadSetButtons,
    ::testing::Values(ButtonCase{"BitBtnChanges", false, QDialog::Accepted, true, false, false},
        ButtonCase{"BitBtnChanges", true, QDialog::Accepted, true, false, true},
        ButtonCase{"BitBtnLoad", false, QDialog::Accepted, false, true, false},
        ButtonCase{"BitBtnLoad", true, QDialog::Accepted, false, true, true},
        ButtonCase{"BitBtnCancel", false, QDialog::Rejected, false, false, false},
        ButtonCase{"BitBtnCancel", true, QDialog::Rejected, false, false, false}),
    [](const ::testing::TestParamInfo<ButtonCase>& testInfo) {
        return std::string(testInfo.param.name) + (testInfo.param.pickPdf ? "_pdf" : "_html");
    });

TEST(DownloadSet, PdfChoiceIsRememberedBetweenShowings) {
    TFormDownloadSet d;
    int r = ExecAnd(d, [&] {
        QTest::mouseClick(d.RadioButtonPdf, Qt::LeftButton);
        QTest::mouseClick(d.BitBtnChanges, Qt::LeftButton);
    });
    ASSERT_EQ(r, QDialog::Accepted);
    EXPECT_TRUE(ChoiceOf(d).pdf);
    bool pdfAtSecondShowing = false;
    r = ExecAnd(d, [&] {
        pdfAtSecondShowing = d.RadioButtonPdf->isChecked() && !d.RadioButtonHtml->isChecked();
        QTest::mouseClick(d.BitBtnLoad, Qt::LeftButton);
    });
    ASSERT_EQ(r, QDialog::Accepted);
    EXPECT_TRUE(pdfAtSecondShowing);
    const Choice c = ChoiceOf(d);
    EXPECT_FALSE(c.show);
    EXPECT_TRUE(c.download);
    EXPECT_TRUE(c.pdf);
    // And back to html.
    r = ExecAnd(d, [&] {
        QTest::mouseClick(d.RadioButtonHtml, Qt::LeftButton);
        QTest::mouseClick(d.BitBtnChanges, Qt::LeftButton);
    });
    EXPECT_FALSE(ChoiceOf(d).pdf);
}

TEST(DownloadSet, RadioHandlersKeepExactlyOneSelected) {
    TFormDownloadSet d;
    d.RadioButtonPdfClick();
    EXPECT_TRUE(d.RadioButtonPdf->isChecked());
    EXPECT_FALSE(d.RadioButtonHtml->isChecked());
    d.RadioButtonHtmlClick();
    EXPECT_TRUE(d.RadioButtonHtml->isChecked());
    EXPECT_FALSE(d.RadioButtonPdf->isChecked());
}

TEST(DownloadSet, EscapeLeavesWithoutAChoice) {
    TFormDownloadSet d;
    int r = ExecAnd(d, [&] { QTest::mouseClick(d.BitBtnLoad, Qt::LeftButton); });
    ASSERT_EQ(r, QDialog::Accepted);
    ASSERT_TRUE(d.LoadChosen);
    r = ExecAnd(d, [&] { QTest::keyClick(d.focusWidget() ? d.focusWidget() : &d, Qt::Key_Escape); });
    EXPECT_NE(r, QDialog::Accepted);
    EXPECT_FALSE(d.LoadChosen);
    EXPECT_FALSE(d.ChangesChosen);
}

} // namespace

// No button is the default: once the dialog is up (Qt picks a default among
// auto-default buttons only when it shows), Enter acts on nothing, wherever
// the focus is; the dialog stays open with no choice made.
TEST(DownloadSet, EnterActsOnNoButtonOnceShown) {
    TFormDownloadSet d;
    d.SetNewVersionText(QStringLiteral("5.23"));
    std::vector<std::string> defaults;
    std::vector<std::string> actedOn;
    const int result = ExecAnd(d, [&] {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
        QWidget* focusTargets[] = {
            d.RadioButtonHtml, d.RadioButtonPdf, d.BitBtnChanges, d.BitBtnLoad, d.BitBtnCancel, &d};
        for (QWidget* target : focusTargets) {
            target->setFocus();
            for (QPushButton* b : {d.BitBtnChanges, d.BitBtnLoad, d.BitBtnCancel})
                if (b->isDefault())
                    defaults.push_back(
                        b->objectName().toStdString() + " with the focus on " + target->objectName().toStdString());
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
                QTest::keyClick(target, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
                if (!d.isVisible() || d.ChangesChosen || d.LoadChosen) {
                    actedOn.push_back(target->objectName().toStdString());
                    return; // the dialog has been left
                }
            }
        }
        d.BitBtnCancel->click();
    });
    EXPECT_TRUE(defaults.empty()) << defaults.front();
    EXPECT_TRUE(actedOn.empty()) << "Enter on " << actedOn.front() << " left the dialog";
    EXPECT_EQ(result, QDialog::Rejected) << "left only by Storno";
}
