// The next-step dialog: show the changes (html or pdf), download, or cancel.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

class QLabel;
class QPushButton;
class QRadioButton;

class TFormDownloadSet : public QDialog {
    Q_OBJECT
public:
    explicit TFormDownloadSet(QWidget* parent = nullptr); // runs FormCreate

    QLabel* LabelSetTopDiv = nullptr;
    QLabel* LabelSetPopis = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* LabelSetVers = nullptr;
    QPushButton* BitBtnChanges = nullptr;
    QPushButton* BitBtnLoad = nullptr;
    QPushButton* BitBtnCancel = nullptr;
    QRadioButton* RadioButtonHtml = nullptr;
    QRadioButton* RadioButtonPdf = nullptr;

    bool ChangesChosen = false;
    bool LoadChosen = false;

    void SetNewVersionText(const QString& text);
    // Modal show: QDialog::exec(); Accepted is the OK result.
    void GetChoice(bool& showChanges, bool& download, bool& pdf) const;

    void FormCreate();
    void BitBtnChangesClick();
    void BitBtnLoadClick();
    void BitBtnCancelClick();
    void RadioButtonHtmlClick();
    void RadioButtonPdfClick();

    // Any way out other than the two action buttons reports no choice.
    void done(int result) override;
};

// The single instance while it exists; owned by whoever created it.
extern QPointer<TFormDownloadSet> FormDownloadSet;
