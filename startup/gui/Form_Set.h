// The connection-settings dialog: a view of the start-up flow's settings
// rules (startup/flow/SettingsFlow.h), which edit, save and test the proxy
// settings.
#pragma once

#include "startup/flow/SettingsFlow.h"
#include "startup/flow/SettingsView.h"

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

class TForm_Set : public QDialog, public startup::flow::SettingsView {
    Q_OBJECT
public:
    explicit TForm_Set(QWidget* parent = nullptr);

    // The rules this dialog forwards its events to; set once both exist.
    void SetFlow(startup::flow::SettingsFlow* flow) { flow_ = flow; }
    startup::flow::SettingsFlow& Flow() const { return *flow_; }

    QWidget* Panel1 = nullptr;
    QCheckBox* CheckBox_Set = nullptr;
    QLineEdit* LabeledEdit_ProxyName = nullptr;
    QLabel* LabeledEdit_ProxyNameLabel = nullptr;
    QSpinBox* SpinEdit_ProxyPort = nullptr;
    QLabel* StaticText_ProxyPort = nullptr;
    QPushButton* Button_Test = nullptr;
    QPushButton* BitBtn_Save = nullptr;
    QPushButton* BitBtn_Storno = nullptr;

    // The fields' own background, which an enabled field gets back.
    QColor SavedColor;

    // SettingsView
    bool IsOpen() const override;
    void Open() override;
    void BringToFront() override;
    void Close() override;
    void SetTestButtonVisible(bool visible) override;
    void Fill(const startup::flow::ProxyFields& fields) override;
    void SetProxyFieldsEnabled(bool enabled) override;
    startup::flow::ProxyFields Read() const override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    startup::flow::SettingsFlow* flow_ = nullptr;
    bool frameFitted_ = false;
};

// The single instance while it exists; owned by whoever created it.
extern QPointer<TForm_Set> Form_Set;
