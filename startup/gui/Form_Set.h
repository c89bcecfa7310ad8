// The connection-settings dialog: edits, saves and tests the proxy settings.
#pragma once

#include <QPointer>
#include <QColor>
#include <QDialog>
#include <string>

class QCheckBox;
class QLineEdit;
class QLabel;
class QPushButton;
class QSpinBox;
class QWidget;

class TForm_Set : public QDialog {
    Q_OBJECT
public:
    explicit TForm_Set(QWidget* parent = nullptr); // runs FormCreate

    QWidget* Panel1 = nullptr;
    QCheckBox* CheckBox_Set = nullptr;
    QLineEdit* LabeledEdit_ProxyName = nullptr;
    QLabel* LabeledEdit_ProxyNameLabel = nullptr;
    QSpinBox* SpinEdit_ProxyPort = nullptr;
    QLabel* StaticText_ProxyPort = nullptr;
    QPushButton* Button_Test = nullptr;
    QPushButton* BitBtn_Save = nullptr;
    QPushButton* BitBtn_Storno = nullptr;

    QColor SavedColor;
    bool SavedUseProxy = false;
    std::string SavedProxyName;
    int SavedProxyPort = 0;

    // Opens the dialog modeless; a second call while it is open only brings
    // it to the front (FormShow does not run again).
    void ShowModeless();

    void FormCreate();
    void FormShow();
    bool FormKeyPress(int key);
    void CheckBox_SetClick();
    bool SaveSettings();
    void BitBtn_SaveClick();
    void Button_TestClick();
    void BitBtn_StornoClick();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool frameFitted_ = false;
};

// The single instance while it exists; owned by whoever created it.
extern QPointer<TForm_Set> Form_Set;
